#pragma once
#include "controller/mainstate.h"
#include "frame/globals.h"

#include <QList>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class BoardLinkBox;
class CameraViewState;
class CammerWidget;
class ColorButton;
class CustomIONameWidget;
class DrawROIWidget;
class DataExport;
class ExportCatalogue;
class FloatSlider;
class HardwareConfigurationWidget;
class HelpWidget;
class IOStatusWidget;
class IOWidget;
class IndexButton;
class MachineCycle;
class ModbusServer;
class QLabel;
class RecordsPage;
class WidgetChangeCamera;
class WindowCycleHooks;
class WizardParaWidget;

// The main window and inspection controller. One instance, reached through
// gpWin from the start of its constructor; gpWizard() gives the window
// itself to screen code.
class ReDoWizard : public QWidget, public MainState
{
    Q_OBJECT
public:
    explicit ReDoWizard(QWidget* parent = nullptr);
    ~ReDoWizard() override;

    int CheckPassword() override;
    bool CheckRoot() override;
    QObject* windowObject() override { return this; }
    void refresh() override { update(); }

    bool eventFilter(QObject* watched, QEvent* e) override;
    // Tells the views which part of their top right the side bar covers.
    void updateCoveredViews();

    // False when PARAM.db could not be opened at construction.
    bool paraDbOpen() const { return m_paraDbOpen; }

    // --- main screen ---
    // The camera views in use, by camera number (null past numCamera).
    CammerWidget* views[8] = {};
    IOStatusWidget* statusStrip = nullptr;
    IndexButton* sideBar = nullptr;
    DrawROIWidget* roiPanel = nullptr;
    WizardParaWidget* settingsWindow = nullptr;
    HelpWidget* helpPage = nullptr;
    WidgetChangeCamera* cameraNumbering = nullptr;
    IOWidget* ioPage = nullptr;
    CustomIONameWidget* customNames = nullptr;
    HardwareConfigurationWidget* hardwarePage = nullptr;
    RecordsPage* recordsPage = nullptr;
    DataExport* dataExport = nullptr;
    FloatSlider* zoomSlider = nullptr;
    ColorButton* helpButton = nullptr;
    QLabel* versionLabel = nullptr;
    QLabel* modeLabel = nullptr;
    QLabel* exportLabel = nullptr;
    ExportCatalogue* exportCatalogue = nullptr;
    // Over the views while the I/O board cannot be reached.
    BoardLinkBox* boardLinkBox = nullptr;
    QTimer* fpsTimer = nullptr;
    // Kept alive for the whole run, as the network side expects.
    std::shared_ptr<ModbusServer> modbus;
    // Opens the ROI editor on an image source (0 live, 4 alarm images).
    void openRoiEditor(int source);
    // The editor's calls into the window.
    void sideBarTouched() override;
    void showStatusStrip(bool show) override;
    void editorClosed() override;

    // True while a full-screen page (settings, editor, help, renumbering,
    // names) covers the views: the main window's slots then do nothing.
    bool pageShown() const;
    void ChangeCammer() override;
    void MScale(float z);
    void MScaleSetToMin() override;
    void updateMScale(int x, int y) override;
    void showhideMscale();
    void showhideMscale(bool show);
    void showhideHelp(bool show);
    void showhideVersion(bool show);
    bool settingsWindowVisible() const override;
    // The ordered end of the run (exit action, closed window, SIGTERM).
    void endStation(int kind);

public slots:
    void SlotReturn();
    void SlotSystemPara();
    void SlotAdjustArea();
    void SlotShowAlarmImgae();
    void CheckArea(bool fromSettings);
    void CheckArea();
    void SlotHelp();
    void SlotShowStatistics();
    void TimerLogout();
    void TimerLCD();
    void SlotFPS();
    void SlotDrawHint();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void buildCameraViews();
    void buildPages();
    void makeResultFolders();
    void wireCycle();
    void wireNeighbours();

    bool m_paraDbOpen = false;
    QPointF m_pointer; // the last pointer position: the pan's start and the zoom's centre

    // --- machine cycle ---
    // The cycle itself lives in MachineCycle (core); these are the window's
    // slots and methods, gathering what only the window knows.
public:
    // Creates the cycle, reads count.ini and arms the first poll (5 ms).
    void initMachineCycle();
    MachineCycle* machineCycle();
    // The camera views and their engines: grab and inspect per camera (the
    // views' UpdateImage, and HomoTransShape, ShapeMatch and Run(d) of
    // their engines); the optional calls default to nothing.
    struct CycleCameraCalls {
        std::function<bool(int camera)> grab;
        std::function<void(int camera, int d)> inspect;
        std::function<void(int camera, int d, int slot)> saveFailImage;
        std::function<void(int camera, int d, int slot)> updateFailImage;
        std::function<void(int camera, int d)> saveReTrainImage;
        std::function<void(int camera, int d)> retrain;
        std::function<void(int camera)> softTrigger;
        std::function<void(int camera)> startBlink;
        std::function<void(int camera)> setSpeed;
        std::function<void(const std::vector<int>& cameras)> showFrames;
    };
    void setCycleCameras(const std::vector<CameraViewState*>& views, const CycleCameraCalls& calls);

    int CheckInput(int n);
    void TimerUp(int d);
    void RunAlgorithm(int camera, int d);
    bool CameraCheck();

public slots:
    void Run();
    void TimerCheckInput0();
    void TimerCheckInput1();
    void TimerCheckInput2();
    void TimerCheckInput3();
    void TimerCheckInput4();
    void TimerCheckInput5();
    void TimerCheckInput6();
    void TimerCheckInput7();
    void TimerUp0();
    void TimerUp1();
    void TimerUp2();
    void TimerUp3();
    void TimerUp4();
    void TimerUp5();
    void TimerUp6();
    void TimerUp7();
    void ReCheck();
    void SlotManualTrig(int d);
    void SlotManualTrig0();
    void SlotManualTrig1();
    void SlotMuliManualTrig();
    void CheckNG(bool isClearNG = false);
    void BackTrain();
    void SlotClearNGAlarm();
    void StartDetect();
    void StopDetect();
    void SetStopDetect();
    void SlotStartStop();
    void ResetRun();
    void mulitOutputInit();
    void TimerShow();
    void OutTimerOutNG();
    void OutTimerNotAllowClose();
    void OutTimerNotAllowThimble();
    void OutTimerSysFunc4Output();
    void CountWrite();
    void CountRead();
    void AddStatistics();
    void LostCamera();
    void CameraSetSpeed();
    void SlotReTrain();
    void CameraRestart();

signals:
    void sendRecord(int d, int hour, QList<bool> ok, bool last);

private:
    std::unique_ptr<WindowCycleHooks> m_cycleHooks;
    std::unique_ptr<MachineCycle> m_cycle;
};

// The main window, for screen code (gpWin is its core state).
inline ReDoWizard* gpWizard() { return static_cast<ReDoWizard*>(gpWin); }

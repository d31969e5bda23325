#pragma once
#include "inspection/camerainfo.h"
#include "inspection/cameraviewstate.h"
#include "inspection/circle.h"
#include "inspection/clustomrect.h"
#include "inspection/roitouchedit.h"
#include "widgets/shapedtext.h"

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>

#include <memory>
#include <utility>
#include <vector>

class QLabel;
class QTimer;
class QPainter;
class ColorButton;
class ComboBox;
class Slider;

// The view and controller of one camera: it opens and drives the camera,
// shows the frame with the regions and the verdict, and carries the panel
// on which the selected region of the current detection is tuned. One per
// camera, built by the main window and kept for the whole run.
// RoiTouchEdit comes before the large CameraViewState so that its subobject
// sits near the start of the object.
class CammerWidget : public QWidget, public RoiTouchEdit, public CameraViewState
{
    Q_OBJECT
public:
    // parent is the main window (tests: any widget).
    CammerWidget(QWidget* parent, int cameraIndex, _cameraInfo info);
    ~CammerWidget() override;

    // Width in widget pixels that a window overlay (the side bar) covers at
    // the view's top right; the counters line keeps clear of it.
    void setCoveredRight(int px);
    int coveredRight() const { return m_coveredRight; }

    // Camera control.
    bool CameraOpen();
    void initSetting();
    void SetExposeTime();
    void SetAdjustPlus();
    void SetSharp();
    void SetContrast();
    void SetGamma();
    void SetSaturation();
    void Set3DNoise();
    void Set2DNoise();
    void SetWDR();
    void SetHMirror();
    void SetVMirror();
    void SetWB();
    void SetSpeed();
    void RestoreDefaultSettings();
    bool CameraStart();
    void CameraStop();
    void CameraClose();
    bool UpdateImage();
    // Makes the view-sized picture of the frame it shows, unless it holds
    // it already; the paint then only blits it. May run on a worker while
    // the GUI thread waits.
    bool prepareShownFrame();
    void ManualUpdateImage();
    void CameraChangeTrig(bool on);
    void HotCameraUpdateROI();
    int HotCameraGetTemperature(int detect, int funcNO);
    static CameraInterface* CreateCamera(_cameraInfo info);

    // Panel.
    static int GetFuncInitParam(int type, int& a, int& b, int& c);
    void ShowHideROIPara() override;
    // Places the parameter controls and the bottom row again, clear of the
    // editor panel (after the panel moved).
    void placeControls();
    void updateSyncROIText(int d);
    void setWinSW();
    void setWinSH();
    void setShowSW();
    void setShowSH();
    QPoint getPointsCenter() const;
    void MUpdateXYV(int x, int y);
    void DeleteAllFailImage() {}

    // Texts the painting shows, also for tests.
    QString detectionName(int d) const;
    QString roiCaption(const CammerSingleton* store, int d, int r, bool editView) const;
    QString statusText(int d, int* color) const;
    QString countdownText() const;

    // A text the edit view lays over the frame: pixel size, pen and the
    // start of its baseline, in screen coordinates (the view fills the
    // screen while the editor is open; a smaller view scales them).
    struct OverlayText {
        QString text;
        int px = 35;
        QColor pen;
        QPoint at;
    };
    // What the edit view writes over the frame: the top lines (status and
    // countdown, templates with the selected region's caption, template
    // time, colour under the touch), the legend and, with no region
    // selected, each region's caption. Each lies whole on the screen left of
    // the editor panel, clear of the others.
    QVector<OverlayText> editorTexts() const;
    // Where the top lines end: the region's sliders and buttons stay below.
    static int editorHeaderBottom();
    // The live view's top lines (status, countdown, counters) in the view's
    // logical units (the screen's, scaled by winScaleX and winScaleY).
    QVector<OverlayText> liveHeader() const;
    // What a notice laid over the view must leave free, in the view's pixels:
    // the controls shown on it, the selected region's handles with their
    // grab margin, and the place of the big OK/NG.
    QVector<QRect> keepClear() const;

    // Screen-side state.
    QTimer* alarmTimer = nullptr;
    QTimer* fpsTimer = nullptr;

    bool paramToggle = false;

    Slider* sliderC = nullptr;
    Slider* sliderA = nullptr;
    Slider* sliderB = nullptr;
    QLabel* funcLabel = nullptr;
    ColorButton* funcButton = nullptr;
    ColorButton* paramSwitchButton = nullptr;
    ComboBox* outCombo = nullptr;
    ColorButton* roiSwitchButton = nullptr;
    ColorButton* objectButton = nullptr;
    ColorButton* sizeButtons[4] = {};
    ColorButton* genButton = nullptr;
    ColorButton* syncRoiButton = nullptr;
    ColorButton* syncParamButton = nullptr;
    ColorButton* moveToggle = nullptr;
    ColorButton* moveButtons[4] = {};
    ColorButton* moveAllButton = nullptr;

    void refreshView() override { update(); }
    bool showsInspectedFrame() const override;

    // Ignore masks of every detection in use, from and to their files.
    void LoadIgnorePoint();
    bool SaveIgnorePoint(int d);

signals:
    void clicked(QPoint point);

public slots:
    void SaveReTrainImage(int d);
    void SaveFailImage(int d, int kind);
    void UpdateFailImage(int d, int kind);
    void SavePolygon();
    void SlotCopyArea(QPoint p);
    void CopyPara();
    void TimerShowAlarm();
    void TimerFPS();
    void SlotMinWH(int v);
    void SlotSensitivity(int v);
    void SlotArea(int v);
    void SlotOutN(int n);
    void SlotChangeFunc();
    void SlotChangeParaShow();
    void SlotChangeObject();
    void SlotAdd10();
    void SlotAdd1();
    void SlotSub1();
    void SlotSub10();
    void SlotSize(int step);
    void SlotNextROI();
    void SlotSyncParam();
    void SlotSyncROI();
    void SlotGenROI();
    void SlotMove(int dx, int dy);
    void SlotMoveT();
    void SlotMoveB();
    void SlotMoveL();
    void SlotMoveR();
    void SlotMoveAll();
    void SlotLoss();
    void SlotCheckDoubleClicked(QPoint point);

protected:
    // Touch editing's screen side.
    void setTouchCursor(Qt::CursorShape c) override { setCursor(c); }
    void panTo(QPoint p) override;
    void polygonStarted() override;
    void endDrawingByDoubleClick(int tool, bool hand) override;
    void saveIgnoreMask(int d) override { SaveIgnorePoint(d); }

    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void allocateBuffers();
    void buildControls();
    void prepareDetections();
    void loadTemplate(int d, int slot);
    void runLiveTest();
    int detect() const;
    bool curRoiValid() const;
    QRect frameBox(const CammerSingleton* store, int i) const;
    // Where a region's caption hangs (its first point, or the top-left of
    // its rectangle), and the pen of its outline and caption.
    QPoint roiAnchor(const CammerSingleton* store, int i) const;
    QColor roiPen(const CammerSingleton* store, int d, int r) const;
    // The bottom line of the edit view's legend, above the bottom row of
    // buttons when that row had to be moved over it.
    int legendBottom() const;
    // Where the edit view's texts may run, in screen coordinates: between
    // the screen's edges, and beside the editor panel.
    std::pair<int, int> textSpan() const;
    void placePanel(int t);
    void placeBottomRow();
    // The x range (inclusive) of the view the controls may take.
    std::pair<int, int> controlSpan() const;
    void fitCaptions();

    // Painting.
    void paintRecordView(QPainter& p);
    void paintRecentNgView(QPainter& p);
    void paintLiveView(QPainter& p, bool editView);
    // What the live view lays over the frame of detection d: with none of
    // it, the frame is the view-sized picture as it is.
    struct LiveOverlays {
        int d = 0;
        bool red = false, cyan = false, test = false, blink = false, zoomed = false;
        bool any() const { return red || cyan || test || blink || zoomed; }
    };
    LiveOverlays liveOverlays(bool editView) const;
    void prepareFrame();
    void drawFrame(QPainter& p, bool zoom);
    // False when there is no frame to show (nothing drawn).
    bool drawShownFrame(QPainter& p);
    // The grey view-sized picture straight into the painter's image; false
    // (nothing done) when the painter must draw it itself.
    bool putGreyOnDevice(QPainter& p) const;
    // Lays what the window shows where the view's paint leaves it open; the
    // view is opaque, so the window lays nothing under it itself.
    void paintUnderlay(QPainter& p) const;
    // The frame in displayBuffer scaled into out (its size; grey bytes for a
    // grey frame, opaque RGB32 for a colour one).
    bool makeViewSized(QImage& out);
    void applyZoom(QPainter& p) const;
    void paintDrawing(QPainter& p);
    void overlayBoxes(const CammerSingleton* store, int d, const uchar* mask, quint32 colour, bool ngOnly);
    void overlayBox(const QRect& box, const uchar* mask, quint32 colour);

    bool m_reconnecting = false;
    int m_coveredRight = 0;
    // The frame shown without overlays, made at the view's size once per
    // frame: which pixels of displayBuffer it holds, at which size.
    struct ShownKey {
        const uchar* pixels = nullptr;
        quint64 version = 0;
        QSize size;
        bool operator==(const ShownKey& o) const { return pixels == o.pixels && version == o.version && size == o.size; }
    };
    QImage m_shown;
    ShownKey m_shownKey;
    // The status lines repeat every frame: shaped once (a few show at a
    // time; the counters and the countdown change).
    ShapedText m_text{8};
    // The live header as last laid out, and the texts and room it was laid
    // out for: measuring its texts again for every frame costs more than
    // drawing them.
    mutable QString m_headerFor;
    mutable QVector<OverlayText> m_header;
    // Scratch of makeViewSized, kept: the same sizes every frame.
    std::vector<uchar> m_halvedRows[2];
    std::vector<uchar> m_blendRow;
};

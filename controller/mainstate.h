#pragma once
#include <QImage>
#include <QPointF>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVector>

class CameraViewState;
class Edit;
class MachineCycle;
class QObject;
class QTimer;

// The main window's state that the other subsystems read and write, and the
// few of its actions they call. The main window (ReDoWizard) derives from it;
// core code reaches it through gpWin without knowing about screens. Tests can
// make a plain MainState and set gpWin to it.
class MainState
{
public:
    MainState();
    virtual ~MainState();

    // The window as a QObject, for queued calls and connections; nullptr when
    // there is no window (a test's plain state).
    virtual QObject* windowObject() { return nullptr; }

    // Login: 1 when passwords are off, else the login level, asking when
    // nobody is logged in. Without a window: the current level.
    virtual int CheckPassword() { return loginLevel; }
    // True when the factory level is (or becomes) logged in.
    virtual bool CheckRoot() { return loginLevel >= 2; }
    // Closes the window's SQLite connections before a power-off.
    virtual void FLushAll();
    // Writes an operation record (type "info", "operate", "set", "run" or
    // "API") into the journal, from any thread; an entry that cannot be
    // stored goes to the log whole.
    virtual bool InsertRecord(const QString& text, const QString& type);
    bool InsertRecord(const QString& text) { return InsertRecord(text, QString()); }
    // Repaints the window (after a keypad entry and the like).
    virtual void refresh() {}

    // --- board link (floor) ---
    // The machine cycle's poll, called on the GUI thread (queued) when the
    // board's input word changed. The main window's Run() overrides it; this
    // one only reports that nobody handles input changes and counts the calls,
    // so a test sees the gap as an error.
    virtual void Run();
    int unhandledRuns = 0;

    // --- fields read and written on the GUI thread by the other subsystems ---
    Edit* currentEdit = nullptr; // the editor that last received focus
    int loginLevel = 0;          // 0 nobody, 1 operator, 2 factory
    int curMould = 1;            // current-mould flag: 1 left mould, 0 right mould
    int curCamera = 0;           // numCamera means all views shown
    int curDetect = 0;           // detection whose ROIs the views show and edit
    int runState = 3;            // 1 detecting, 2 training templates, 3 stopped
    int detectState = 0;         // 0 idle, 1 last cycle OK, 2 NG, 3 setting regions
    int screenOff = 0;           // 1 while the screen is off
    QTimer* screenOffTimer = nullptr; // its timeout switches the screen off
    int productCount = 0;        // production cycles counted towards okMoldNum
    int productAlarm = 0;        // 1 while the production limit waits for confirmation

    QSqlDatabase paraDb;         // connection "dbIn" on PARAM.db
    QSqlQuery paraQuery;         // every parameter and ROI statement runs on it
    QSqlDatabase recordDb;       // connection "dbRecord" on RECORD.db
    QSqlDatabase spareDb;        // never opened; closed with the others

    QVector<unsigned int>* grayTable = nullptr; // colour table of 8-bit images

    // --- camera view ---
    // Switches output 0 on unless detection is stopped (a lost camera must
    // hold the mould) and warns the operator; returns at once. The window
    // adds the warning box.
    virtual void LostCamera();
    // (Re)starts the drawing-hint timer: after ms the hint disappears.
    virtual void startHintTimer(int ms);
    // True while the settings window is shown: camera settings then come
    // from the edit copy gpWParaBak.
    virtual bool settingsWindowVisible() const { return settingsVisible; }

    bool settingsVisible = false;
    int lastDetect = 0;          // detection last inspected (the live views show it)
    int editDetect = 0;          // detection chosen in the ROI editor
    int editCamera = 0;          // camera chosen in the ROI editor
    int progressState = 0;       // 1 detecting, 2 detected, 3 waiting
    int reCheckFlag = 0;         // re-inspection running
    int reCheckCount[8] = {};    // re-checks left per detection (the cycle counts them down)
    bool ngAlarmActive = false;  // NG alarm timer running: the red overlay shows
    bool delayActive[8] = {};    // per detection, its delay timer runs
    float delaySeconds[8] = {};  // remaining delay seconds
    QPointF zoomOffset;          // pan offset of the zoomed view
    double zoomFactor = 1.0;
    int readoutX = 0;            // pixel readout (image pixels) and its value
    int readoutY = 0;
    unsigned int readoutValue = 0;
    unsigned int touchColor = 0; // 0xRRGGBB under the last touch
    int drawTool = 0;            // ROI editor: 0 select, 1 rectangle, 2 polygon, 4 ring
    bool freeHand = false;
    int viewFlags[8][8] = {};    // per camera view, per detection; cleared when a view is built
    QImage recordImage;          // result-record browser
    QString recordFile;
    int recordCamera = 0;
    int recordIndex = 0;
    int recordCount = 0;
    int hintGeneration = 0;      // bumped by each hint start; an older timeout does nothing
    // --- engine ---
    // How the operator cleared the alarm of [camera][detection]: 4 don't
    // detect, 5 add as template, 6 re-detect switched to mould detection,
    // 7 re-detect, 8 re-detected OK image, 9 and 10 labelled; others none.
    int alarmClearState[8][8] = {};
    // The inspection was started by the safety-door input.
    bool safetyDoorInspection = false;
    // --- main window ---
    CameraViewState* cameraViews[8] = {}; // the camera views in use, by camera number
    QTimer* logoutTimer = nullptr; // its timeout logs the operator out
    // --- machine cycle ---
    // The cycle (poll, decision, outputs, counters) the window forwards to;
    // the editor and the network services reach it here.
    MachineCycle* cycle = nullptr;
    // Safety door open: the level of input 1 as the last cycle poll read it.
    bool gisSafeDoorOpen = false;
    // --- ROI editor ---
    // Actions of the window the editor and the touch editing call; the
    // defaults suit a window-less state (tests, tools).
    // Shows the camera curCamera (numCamera: all cameras).
    virtual void ChangeCammer() {}
    // Zooms the main view out to its minimum: no zoom, no pan.
    virtual void MScaleSetToMin() { zoomFactor = 1.0; zoomOffset = QPointF(); }
    // Pans the zoomed view after a drag to (x, y) widget pixels.
    virtual void updateMScale(int, int) {}
    // A touch on a camera view: the side bar restarts its timer.
    virtual void sideBarTouched() {}
    // Hides or shows the status strip (hidden while editing the template).
    virtual void showStatusStrip(bool) {}
    // Shows the main panel and the help button again after editing.
    virtual void editorClosed() {}
    // The cycle: decide after a re-check or a cleared alarm; stop; inspect
    // one camera's detection again.
    virtual void CheckNG(bool) {}
    virtual void ResetRun() {}
    virtual void RunAlgorithm(int, int) {}
    QObject* roiEditor = nullptr; // the editor panel (DrawROIWidget), for the views
    bool copyArea = false;        // the next touch copies the selected ROI
    bool reCheckRequest = false;  // the next decision (CheckNG) is a re-check
    bool lastFailed = false;      // the last decision found a camera NG
    int pendingCameras[8] = {};   // per detection, bit c: camera c has still to inspect it
    bool alarmTaught[8][8] = {};  // [camera][detection]: a re-check leaves it alone
    int pageNumber = 0;           // page of the main window (2: settings)
};

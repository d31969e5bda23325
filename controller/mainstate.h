#pragma once
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVector>

class Edit;
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
    // Writes an operation record (type "info", "operate", "set" or "run").
    // Without a window the entry goes to the log.
    virtual bool InsertRecord(const QString& text, const QString& type);
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
};

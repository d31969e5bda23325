#pragma once
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVector>
#include <QWidget>

class Edit;
class QTimer;

// The main window and inspection controller. One instance, reached through
// gpWin from the start of its constructor.
class ReDoWizard : public QWidget
{
    Q_OBJECT
public:
    explicit ReDoWizard(QWidget* parent = nullptr);
    ~ReDoWizard() override;

    // Login: 1 when passwords are off, else the login level, asking when nobody is logged in.
    int CheckPassword();
    // True when the factory level is (or becomes) logged in.
    bool CheckRoot();

    // Closes the window's SQLite connections, then waits 500 ms; before every power-off.
    void FLushAll();

    bool eventFilter(QObject* watched, QEvent* e) override;

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

    // False when PARAM.db could not be opened at construction.
    bool paraDbOpen() const { return m_paraDbOpen; }

private:
    // PARAM.db missing at start: tell the operator, put the default group's
    // copy in place and reboot.
    void restoreParamDb();

    bool m_paraDbOpen = false;
};

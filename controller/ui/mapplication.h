#pragma once
#include <QApplication>

// The application object: sees every press and release before any widget.
// A press restarts the logout and screen-off timers and, while the screen is
// dark, only wakes it (the touch operates nothing). On a panel with only
// simulated cameras a 5 s hold arms the touch calibration: the operator is
// asked to lift the finger, and the release runs "./tsc" and reboots.
class MApplication : public QApplication
{
public:
    MApplication(int& argc, char** argv);
    ~MApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // Stops a running hold, so a press that opens a dialog cannot arm it.
    void manualStopTscTimeup();

    bool holdRunning() const { return m_holdRunning; }
    bool calibrationArmed() const { return m_armed; }

    static MApplication* _instance;

private:
    void startHold();
    void holdTimeout();
    bool onPress(QObject* receiver, QEvent* event);
    void onRelease();

    bool m_holdRunning = false;
    unsigned m_holdGeneration = 0; // a stopped hold's pending timeout is void
    bool m_armed = false;
    qint64 m_lastPressMs = 0;
    bool m_firstPressTaken = false;
};

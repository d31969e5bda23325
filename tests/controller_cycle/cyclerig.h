#pragma once
// The machine cycle on real parts: the board simulator with its moulding
// machine on a pseudo-terminal, the station's board link, cameras of the
// simulated-camera plug-in in trigger mode, and the station's engine judging
// one ROI per cavity (a part left there is NG) behind the cycle's hooks.
// Time is a TestClock; the board runs in real time, so every step of the
// test clock waits until the board and the station agree again.
#include "boardsim.h"
#include "mouldingmachine.h"
#include "controller/cyclehooks.h"
#include "controller/machinecycle.h"
#include "controller/mainstate.h"
#include "frame/clock.h"
#include "frame/operatorprompt.h"
#include "inspection/cameraviewstate.h"
#include "testsupport/recordingprompt.h"
#include "testsupport/testenv.h"

#include <QPoint>
#include <QStringList>
#include <memory>
#include <vector>

class CameraInterface;
class CammerRecong;
class CammerSingleton;

// The operator; a box may run an event loop that delivers more (onPrompt).
struct NestingPrompt : RecordingPrompt {
    std::function<void(int)> onPrompt;
    bool prompt(Kind kind, int msg, const QString& text) override
    {
        const bool yes = RecordingPrompt::prompt(kind, msg, text);
        if (onPrompt)
            onPrompt(msg);
        return yes;
    }
};

// A main window without screens that keeps its records.
struct RecordingState : MainState {
    QStringList records;
    bool InsertRecord(const QString& text, const QString& type) override
    {
        records << type + ": " + text;
        return true;
    }
};

class CycleRig : public CycleHooks
{
public:
    static constexpr int kCavities = 4; // ROIs 0..3 of every detection: the scene's 2 x 2 cavities

    explicit CycleRig(int cameras = 2);
    ~CycleRig() override;
    bool ok() const { return m_ok; }

    // --- hooks ---
    bool grab(int camera) override;
    void inspect(int camera, int d) override;
    void softTrigger(int camera) override;
    void editorReCheck() override { ++editorReChecks; cycle->reDetectAlarm(); }
    void editorNotCheckCur() override { ++notChecks; }
    void saveReTrainImage(int, int) override { ++reTrainSaves; }
    void retrain(int, int d) override { retrained << d; }
    void notice(int msg) override { notices << msg; OperatorPrompt::installed()->prompt(OperatorPrompt::Message, msg, {}); }
    void startPeriodRecord() override { ++periodStarts; }
    void finishPeriodRecord() override { ++periodEnds; }
    void sendRecord(int d, int hour, const QList<bool>& ok, bool last) override
    {
        statistics << QString("%1 %2 %3%4 %5").arg(d).arg(hour).arg(ok.value(0)).arg(ok.value(1)).arg(last);
    }
    void showProductAlarmBox(bool show) override { productBox = show; }
    int cameraShownAlone() override { return shownAlone; }
    void showLostCameraBox(bool show) override { lostBox = show; }
    void deleteAllTemplates() override { ++templateWipes; }
    void saveIgnorePoint(int, int) override { ++ignoreSaves; }
    void resetCameraOrder() override { ++orderResets; }

    // --- the test's side ---
    // Cameras take a frame now; with leftBehind, those listed show a part
    // left in a cavity.
    void shoot(const std::vector<int>& leftBehind = {});
    // Advances the test clock in 10 ms steps, ticking the machine and
    // waiting for the board link after each change.
    void run(int ms);
    // Waits until the station's input word and the board's outputs match.
    void settle();
    void setInput(int n, bool level);
    // Sets the inputs to level, then runs the clock ms.
    void set(std::initializer_list<int> inputs, bool level, int ms = 0);
    // Detecting, polled, with the machine still and frames only on shoot().
    void byHand();
    // Runs the poll when the board's inputs changed (the station's wake-up).
    void wake();
    // Runs until pred holds (at most maxMs); the time it took.
    int runUntil(const std::function<bool()>& pred, int maxMs);
    uint32_t wire() const { return sim->outputs(); }
    void loseCamera(int c);
    void recoverCamera(int c);

    std::unique_ptr<TestEnv> env;
    TestClock clock;
    NestingPrompt prompt;
    RecordingState* state = nullptr;
    std::unique_ptr<BoardSim> sim;
    std::unique_ptr<MouldingMachine> machine;
    std::unique_ptr<MachineCycle> cycle;
    std::vector<std::unique_ptr<CameraViewState>> views;
    std::vector<std::unique_ptr<CammerSingleton>> stores; // the live ROIs of each view
    std::vector<std::unique_ptr<CammerRecong>> engines;
    std::vector<CameraInterface*> cams;
    bool autoShoot = true;              // frames when the mould opens
    std::vector<int> leftBehindNext;    // cameras whose next opening shows a part
    QStringList statistics;
    QList<int> notices;
    int periodStarts = 0, periodEnds = 0, editorReChecks = 0;
    bool productBox = false, lostBox = false;
    int templateWipes = 0, ignoreSaves = 0;
    int shownAlone = -1, orderResets = 0;
    int notChecks = 0, reTrainSaves = 0;
    QList<int> retrained; // detections rebuilt
    QList<QPoint> inspected; // (camera, detection) of every inspection, in order

private:
    bool m_ok = false;
    bool m_prevOpen = false;
    uint32_t m_seenInputs = 0;
    bool m_unsettled = false;
};

#pragma once
#include "controller/cycletimer.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <memory>
#include <vector>

class CameraViewState;
class CycleHooks;

// One pending output change of the pulse list: the output and the level it
// takes when the pulse ends (values, no pointers).
struct stru_outputInfo {
    int no = 0;
    int value = 0;
    qint64 dueMs = 0; // on the cycle's clock
};

// The machine cycle of the main window, without a screen: the cycle poll
// (Run), trigger debounce, delays, inspections, the decision (CheckNG) with
// its outputs, alarms, pulses, LEDs and counting, start and stop of
// detection, and the camera supervision. The main window forwards its slots
// here; tests drive it directly with a real board link and camera frames.
//
// The definitions are split by concern: machinecycle.cpp the inspection
// cycle (poll, triggers, delays, inspections, re-detects),
// machinecycle_decision.cpp the decision with its outputs, alarms, pulses and
// counting, machinecycle_supervision.cpp the cameras and re-sampling.
//
// Everything runs on the GUI thread. Time comes from Clock::instance().
// Reads and writes gpWin (curDetect, runState, detectState, curMould,
// productAlarm), gpWPara, gpControlIO and the counters.
class MachineCycle : public QObject
{
    Q_OBJECT
public:
    explicit MachineCycle(CycleHooks* hooks, QObject* parent = nullptr);
    ~MachineCycle() override;

    // At most eight: the tables the cycle shares with the window are eight wide.
    void setCameras(const std::vector<CameraViewState*>& cams)
    {
        m_cams.assign(cams.begin(), cams.begin() + std::min<std::ptrdiff_t>(cams.size(), 8));
    }

    // Arms the first poll (5 ms).
    void startPolling(int firstMs = 5);

    // --- the cycle ---
    void Run();
    int CheckInput(int n);
    void TimerCheckInput(int n);
    void TimerUp(int d);
    void RunAlgorithm(int camera, int d);
    void ReCheck();
    void SlotManualTrig(int d);
    void SlotMuliManualTrig();
    void reDetect();          // the re-detect timer's reaction
    // The alarm panel's re-detect ("Re-detected", the inputs that clear an
    // alarm): the NG cameras of the alarm's detection not taught in this
    // alarm inspect again and the decision runs uncounted.
    void reDetectAlarm();
    // The board reported a changed word: poll again in 1 ms, and look for
    // triggered frames closely for a while (the machine is moving).
    void outputsChanged();

    // --- decision, outputs, alarms ---
    void CheckNG(bool isClearNG = false);
    void BackTrain();
    // The end of the run: the NG images an alarm still holds (saved when the
    // alarm is cleared) go to the result-image writer as they are.
    void handOverHeldImages();
    void SlotClearNGAlarm();
    void StartDetect();
    void StopDetect();
    void SetStopDetect();
    // The start/stop button; false when the operator declined.
    bool SlotStartStop();
    void ResetRun();
    void mulitOutputInit();
    void TimerShow();
    void OutTimerOutNG();
    void OutTimerNotAllowClose();
    void OutTimerNotAllowThimble();
    void OutTimerSysFunc4Output();
    void outputs12Off();
    void pulseListDue();

    // --- counters ---
    void AddStatistics();

    // --- cameras ---
    bool CameraCheck() const;
    void LostCamera();
    void CameraSetSpeed();
    void CameraRestart();
    // Template re-sampling; false when refused or declined.
    bool SlotReTrain();

    // --- state, readable by the views, the status strip and tests ---
    int triggerSource() const { return m_trigSource; }
    qint64 cycleTime() const { return m_cycleTime; }     // 0.1 s
    qint64 lastTriggerTime() const { return m_lastTrigTime; }
    int input2Count() const { return m_input2Count; }
    int sequenceStep() const { return m_step; }
    int heldDetection() const { return m_heldDetect; }
    int pollInterval() const { return m_poll.interval(); }
    bool pollActive() const { return m_poll.isActive(); }
    int nestedRuns() const { return m_nestedRuns; }

    bool gisReTrain = false;  // an NG was accepted as good
    bool gisReShape = false;  // template auto-update pending
    int ngGroup[4] = {};      // NG output groups seen in this decision
    int manualRequest = -1;   // detection asked for by hand, -1 none
    int pseudoTrigger = -1;
    int sequenceTrigger = -1;
    bool autoReDetect = false;
    bool forceMouldStart = false;

private:
    int mode() const;
    int lastDetection() const;
    int pairDetection(int d) const; // bit 0 in modes 1 and 2
    int inspectedDetection(int d) const; // the detection RunAlgorithm inspects for d
    bool pulseMode() const;
    bool detecting() const;
    void setOut(int no, int level);
    void flush();
    void updateCycleTime();
    void startCycle(int input);
    void startDelays(int input, int onlyStep, int fromStep = 0);
    bool inputStartsCycle(int n) const;
    bool inputStartsMould(int n) const;
    void endPoll(int nextMs = 100);
    void enterAlarm(int d);
    void leaveAlarm(int d);
    void countDecision(int d, bool ng);
    void images(int d);
    void addPulse(int no, int value, int ms);
    int nextStepWithGroup(int from) const;
    void heldDetectionRuns();

    // Takes every camera's new frame, if any; with the cameras on the
    // machine's trigger the new frames are judged at once. True when a
    // frame came.
    bool takeFrames();
    // Cameras on the machine's trigger, detecting, no alarm, re-check or
    // held detection: a frame that arrives belongs to the coming decision.
    bool judgesOnArrival() const;
    // The detection the coming decision on newly arrived frames inspects:
    // the first enabled one still pending in the cycle, else the first
    // enabled one; -1 when none.
    int arrivalDetection() const;
    void watchFrames();

protected:
    // An operator's touch or key may change what a frame is judged
    // against: a frame judged ahead is judged again at the decision.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CycleHooks* m_hooks;
    std::vector<CameraViewState*> m_cams;

    CycleTimer m_poll;
    // Looks for triggered frames between polls, so that each is judged
    // as it arrives rather than at the next input edge.
    CycleTimer m_frameWatch;
    qint64 m_watchUntilMs = 0; // on the cycle's clock
    std::unique_ptr<CycleTimer> m_debounce[8];
    std::unique_ptr<CycleTimer> m_delay[8];
    CycleTimer m_reCheck;
    CycleTimer m_reDetect;
    CycleTimer m_okShow;
    CycleTimer m_outNG;
    CycleTimer m_notAllowClose;
    CycleTimer m_notAllowThimble;
    CycleTimer m_sysFunc4;
    CycleTimer m_out12Off;
    CycleTimer m_pulseList;
    CycleTimer m_clearNG;

    bool m_trig[8] = {};
    // The result code per camera and detection is the window's table
    // (MainState::alarmClearState): the editor's alarm actions and the result
    // images move the same codes the decision reads. So are the remaining
    // delays and pending cameras the editor's re-detect resets, and the
    // progress, re-check flag, re-checks left and running delays the views
    // paint.
    static int (&codes())[8][8];
    static float (&remain())[8];
    static int (&pending())[8];
    static int (&reCheckLeft())[8];
    bool m_camCycleNG[8] = {};
    bool m_counted[8] = {};
    int m_reCheckDelay = 0;
    int m_step = 0;
    int m_trigSource = 0;
    qint64 m_cycleTime = 0;
    qint64 m_lastTrigTime = 0;
    int m_input2Count = 0;
    bool m_cameraState = true;
    int m_shownDetect = 0;
    int m_prevStartedDelay = 0;
    unsigned m_newImageMask = 0;
    unsigned m_rememberedStepOuts = 0; // step outputs due back on (bit per output)
    QList<stru_outputInfo> m_pulses;
    quint64 m_frames[8] = {};
    // A countdown that ran out while a camera was lost: its detection and
    // the frame counts at recovery (it runs on frames taken after).
    int m_heldDetect = -1;
    quint64 m_framesAtRecovery[8] = {};
    bool m_inRun = false;
    int m_nestedRuns = 0;
};

#include "controller/machinecycle.h"
#include "controller/machinecycle_p.h"
#include "controller/controlport.h"
#include "controller/cyclehooks.h"
#include "controller/lcdonoff.h"
#include "controller/mainstate.h"
#include "controller/productioncounters.h"
#include "controller/stationexit.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammerrecong.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMutexLocker>
#include <QTimer>

#include <glog/logging.h>

#include <cstring>
#include <numeric>
#include <utility>

using namespace cyclerules;

namespace {
// Between polls the cameras are asked this often for a triggered frame (a
// grab without one costs a lock and nothing else).
constexpr int kFrameWatchMs = 2;
// Triggered frames follow the machine's movement: the close watch runs for
// this long after the board's word last changed; the poll still takes a
// frame that comes later.
constexpr qint64 kFrameWatchAfterEdgeMs = 1000;
} // namespace

MachineCycle::MachineCycle(CycleHooks* hooks, QObject* parent)
    : QObject(parent)
    , m_hooks(hooks)
    , m_poll(this, [this] { Run(); })
    , m_frameWatch(this, [this] { watchFrames(); }, true)
    , m_reCheck(this, [this] { ReCheck(); })
    , m_reDetect(this, [this] { reDetect(); })
    , m_okShow(this, [this] { TimerShow(); })
    , m_outNG(this, [this] { OutTimerOutNG(); })
    , m_notAllowClose(this, [this] { OutTimerNotAllowClose(); })
    , m_notAllowThimble(this, [this] { OutTimerNotAllowThimble(); })
    , m_sysFunc4(this, [this] { OutTimerSysFunc4Output(); })
    , m_out12Off(this, [this] { outputs12Off(); })
    , m_pulseList(this, [this] { pulseListDue(); })
    , m_clearNG(this, [this] { SlotClearNGAlarm(); })
{
    for (int i = 0; i < 8; ++i) {
        m_debounce[i] = std::make_unique<CycleTimer>(this, [this, i] { TimerCheckInput(i); });
        m_delay[i] = std::make_unique<CycleTimer>(this, [this, i] { TimerUp(i); }, true);
    }
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

MachineCycle::~MachineCycle() = default;

void MachineCycle::startPolling(int firstMs) { m_poll.start(firstMs); }

// ---------------------------------------------------------------------------
// small helpers

int MachineCycle::mode() const { return P().systemMode; }
int MachineCycle::lastDetection() const { return mode() == 3 ? gDNum - 1 : 1; }
int MachineCycle::pairDetection(int d) const { return (mode() == 1 || mode() == 2) ? (d & 1) : d; }
bool MachineCycle::pulseMode() const { return P().okNgPulses != 0; }
int (&MachineCycle::codes())[8][8] { return gpWin->alarmClearState; }
float (&MachineCycle::remain())[8] { return gpWin->delaySeconds; }
int (&MachineCycle::pending())[8] { return gpWin->pendingCameras; }
int (&MachineCycle::reCheckLeft())[8] { return gpWin->reCheckCount; }

bool MachineCycle::detecting() const { return gpWin->runState != 3; }

void MachineCycle::setOut(int no, int level)
{
    if (gpControlIO)
        gpControlIO->IOSetOut(no, level);
}

void MachineCycle::flush()
{
    if (gpControlIO)
        gpControlIO->IOFlashOut();
}

void MachineCycle::updateCycleTime()
{
    // Tenths of epoch seconds do not fit an int: 64 bits for the stamps.
    const QDateTime now = clockNow();
    const qint64 t = now.toMSecsSinceEpoch() / 100;
    if (m_lastTrigTime > 0)
        m_cycleTime = t - m_lastTrigTime;
    m_lastTrigTime = t;
}

void MachineCycle::endPoll(int nextMs)
{
    flush();
    std::memset(m_trig, 0, sizeof(m_trig));
    m_poll.start(nextMs);
    if (gpControlIO)
        gpControlIO->updateThreadProtectTiming();
    if (judgesOnArrival() && Clock::instance()->monotonicMs() < m_watchUntilMs) {
        if (!m_frameWatch.isActive())
            m_frameWatch.start(kFrameWatchMs);
    } else {
        m_frameWatch.stop();
    }
}

void MachineCycle::outputsChanged()
{
    m_watchUntilMs = Clock::instance()->monotonicMs() + kFrameWatchAfterEdgeMs;
    m_poll.start(1);
}

bool MachineCycle::judgesOnArrival() const
{
    const MainState& w = *gpWin;
    return P().extTrigger && detecting() && w.detectState != 2 && !w.reCheckFlag && !w.productAlarm
        && m_heldDetect < 0 && !m_cams.empty() && CameraCheck();
}

int MachineCycle::arrivalDetection() const
{
    const WizardPara& p = P();
    const int m = mode();
    const bool pairs = m == 1 || m == 2;
    const int count = pairs ? 2 : gDNum;
    int first = -1;
    for (int i = 0; i < count && i < 8; ++i) {
        const int d = (pairs && gpWin->curMould == 0) ? i + 2 : i;
        if (!p.detectEnabled[d])
            continue;
        const int inspected = inspectedDetection(d);
        if (first < 0)
            first = inspected;
        if (pending()[pairDetection(inspected)])
            return inspected;
    }
    return first;
}

bool MachineCycle::takeFrames()
{
    const WizardPara& p = P();
    std::vector<CameraViewState*> arrived;
    for (size_t c = 0; c < m_cams.size(); ++c) {
        if (m_hooks->grab(int(c))) {
            ++m_frames[c];
            if (p.extTrigger && gpWin->detectState != 2)
                m_newImageMask |= 1u << c;
            arrived.push_back(m_cams[c]);
        }
    }
    // The views go on showing the decided frames and verdicts until the
    // decision takes these up.
    if (!arrived.empty() && judgesOnArrival()) {
        const int d = arrivalDetection();
        if (d >= 0)
            CammerRecong::InspectAll(arrived, d);
    }
    return !arrived.empty();
}

void MachineCycle::watchFrames()
{
    // Inside a poll (a box's nested loop) the poll takes the frames.
    if (m_inRun)
        return;
    if (!judgesOnArrival() || Clock::instance()->monotonicMs() >= m_watchUntilMs) {
        m_frameWatch.stop();
        return;
    }
    // The poll counts what came: all cameras new may start a cycle.
    if (takeFrames())
        m_poll.start(1);
}

bool MachineCycle::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchEnd:
    case QEvent::KeyPress:
        for (CameraViewState* v : m_cams)
            if (v && v->recong)
                v->recong->DropPrepared();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// the cycle poll

int MachineCycle::CheckInput(int n)
{
    const int level = gpControlIO ? gpControlIO->IOState(0, n) : 0;
    m_trig[n] = level != 0;
    return level;
}

void MachineCycle::TimerCheckInput(int n)
{
    m_debounce[n]->stop();
    CheckInput(n);
}

void MachineCycle::Run()
{
    // Cameras and board are closed by the end; the panel goes in a moment.
    if (StationExit::ending())
        return;
    // A modal box inside the poll runs a nested event loop; a poll arriving
    // there must not run inside the first one.
    if (m_inRun) {
        ++m_nestedRuns;
        m_poll.start(1);
        return;
    }
    m_inRun = true;
    struct Leave {
        bool& f;
        ~Leave() { f = false; }
    } leave{m_inRun};

    const WizardPara& p = P();
    const int m = mode();
    MainState& w = *gpWin;

    // 1. countdown
    bool countdown = false;
    for (int d = 0; d < gDNum && d < 8; ++d)
        countdown = countdown || m_delay[d]->isActive();
    if (countdown)
        pseudoTrigger = -1;

    // 2. trigger scan (every input is read so that its edge state follows)
    for (int n = 0; n < 8; ++n) {
        const int e = gpControlIO ? gpControlIO->IOInTrigger(n) : 0;
        if (!e || countdown)
            continue;
        // At the production limit a trigger starts nothing; the poll goes on
        // (step 5 holds the cycle) so the watchdog and the box stay alive.
        if (w.productAlarm)
            continue;
        if (n == 2 && p.shieldPin) {
            const int old = m_input2Count++;
            if (old < p.shieldPin)
                continue;
        }
        if (p.shakeEraseTime > 0)
            m_debounce[n]->start(p.shakeEraseTime * 100);
        else
            m_trig[n] = true;
    }

    if (gpControlIO)
        w.gisSafeDoorOpen = gpControlIO->IOState(0, 1) != 0;

    // 3. frames
    takeFrames();

    // 4. cameras
    if (!CameraCheck()) {
        setOut(0, 1);
        flush();
        // The poll warns with 39 every second. Where the lost-camera box is
        // chosen, that box says it for as long as the loss lasts: the notice
        // comes over it once, not again each time the operator has closed it.
        if (p.camDisconnect)
            m_hooks->showLostCameraBox(true);
        if (!p.camDisconnect || m_cameraState)
            m_hooks->notice(39);
        m_poll.start(1000);
        m_cameraState = false;
        return; // no stamp: a loss of 11 s also stops the board polling
    }
    if (!m_cameraState) {
        m_cameraState = true;
        if (p.camDisconnect)
            m_hooks->showLostCameraBox(false);
        m_hooks->notice(656);
        w.InsertRecord(messageText(656), QStringLiteral("info"));
        for (size_t c = 0; c < m_cams.size(); ++c)
            m_framesAtRecovery[c] = m_frames[c];
        if (m_heldDetect >= 0)
            for (size_t c = 0; c < m_cams.size(); ++c)
                m_hooks->softTrigger(int(c));
    }
    // A countdown that ran out during the loss is inspected on frames taken
    // after the recovery, never on the one from before.
    if (m_heldDetect >= 0) {
        bool fresh = true;
        for (size_t c = 0; c < m_cams.size(); ++c)
            fresh = fresh && m_frames[c] > m_framesAtRecovery[c];
        if (fresh)
            heldDetectionRuns();
        endPoll();
        return;
    }

    // 5. count reached
    if (w.productAlarm) {
        m_hooks->showProductAlarmBox(true);
        endPoll();
        return;
    }

    // 6. NG alarm
    if (w.detectState == 2) {
        const bool f0 = m_trig[0], f1 = m_trig[1], f2 = m_trig[2], f3 = m_trig[3];
        const int l0 = gpControlIO ? gpControlIO->IOState(0, 0) : 0;
        const int l3 = gpControlIO ? gpControlIO->IOState(0, 3) : 0;
        const int cur = w.curDetect;
        auto clearResults = [this](int from, int to) {
            for (CameraViewState* v : m_cams)
                for (int d = from; d <= to; ++d)
                    std::fill(std::begin(v->roiResult[d]), std::end(v->roiResult[d]), uchar(1));
        };
        if (f1) {
            m_trig[1] = false;
            if (p.prodNGOption && cur == 0) {
                m_hooks->editorNotCheckCur();
                pseudoTrigger = 2;
            } else {
                clearResults(0, CameraViewState::kDetections - 1);
                if (m == 2) {
                    if (l0 && !l3)
                        w.curMould = 1;
                    else if (l3 && !l0)
                        w.curMould = 0;
                }
                if (p.reInspectDelay)
                    m_reDetect.start(p.reInspectDelay * 100);
                else
                    m_hooks->editorReCheck();
            }
        } else if (m == 0 && p.inputResetRecheck) {
            if ((f0 && cur == 0) || (f2 && cur == 1)) {
                clearResults(cur, cur);
                m_hooks->editorReCheck();
            }
        }
        if (f2 && cur == 0)
            pseudoTrigger = 2;
        if (f3 && p.noDetectModeSignal)
            m_hooks->editorNotCheckCur();
        endPoll();
        return;
    }

    // 7. re-check
    if (gpWin->reCheckFlag) {
        const int d = pairDetection(w.curDetect);
        if (reCheckLeft()[d] > 0 && !m_reCheck.isActive()) {
            --reCheckLeft()[d];
            if (m_reCheckDelay == 0)
                ReCheck();
            else
                m_reCheck.start(m_reCheckDelay * 100);
        }
        endPoll();
        return;
    }

    // 8. immediate mould re-run
    if (p.doorTrigDetect && detecting() && (m_trig[1] || pseudoTrigger == 1)) {
        m_trig[1] = false;
        pseudoTrigger = -1;
        for (size_t c = 0; c < m_cams.size(); ++c) {
            codes()[c][1] = 1;
            if (m == 1 || m == 2)
                codes()[c][3] = 1;
        }
        if (p.reInspectDelay)
            m_reDetect.start(p.reInspectDelay * 100);
        else
            reDetect();
    }

    // 9. stopped
    if (!detecting()) {
        if (m == 1) {
            if (m_trig[2] && p.moldSelect != 1)
                w.curMould = 1;
            if (m_trig[3] && p.moldSelect != 0)
                w.curMould = 0;
        }
        endPoll();
        return;
    }

    // 10. manual request
    // "None" is -1, not the detection count: a count that grows later (a
    // change of machine mode) would turn the old count into a request.
    if (manualRequest >= 0 && manualRequest < gDNum) {
        const int d = manualRequest;
        manualRequest = -1;
        const bool enabled = (d >= 0 && d < 8 && p.detectEnabled[d])
            || ((m == 1 || m == 2) && d + 2 < 8 && p.detectEnabled[d + 2]);
        if (enabled) {
            m_trigSource = 2;
            updateCycleTime();
            if (d == 0)
                std::memset(ngGroup, 0, sizeof(ngGroup));
            reCheckLeft()[0] = reCheckLeft()[1] = 0;
            for (size_t c = 0; c < m_cams.size(); ++c)
                codes()[c][d] = 1;
            if (m == 3) {
                m_step = d;
                setOut(stepOutput(d), 1);
            }
            TimerUp(d);
            if (w.detectState == 2 && !pulseMode() && m != 3) {
                if (d == 1 && !p.moldNGClampPulse)
                    setOut(0, 1);
                if (d == 0 && !p.noEjectorCtrlProd && !p.ejectorPulseProdNG)
                    setOut(1, 1);
                endPoll();
                return;
            }
        }
    }

    if (p.extTrigger) {
        const unsigned all = m_cams.empty() ? 0u : ((1u << m_cams.size()) - 1u);
        if ((m_newImageMask & all) == all) {
            m_newImageMask = 0;
            pseudoTrigger = 0;
        }
    }

    if (countdown) {
        endPoll();
        return;
    }

    int n = 0;
    for (; n < 8; ++n) {
        const bool fromFlag = m_trig[n];
        if (!fromFlag && n != pseudoTrigger && n != sequenceTrigger)
            continue;
        const bool viaSequence = !fromFlag && n != pseudoTrigger;
        m_trig[n] = false;
        pseudoTrigger = -1;

        // Without step-wise triggering one rise runs every step on its input:
        // the sequence trigger left by a step's decision runs the steps after
        // it within the same cycle. Taking it for a new cycle would restart
        // at the first step forever.
        if (m == 3 && !p.sequentialDetect && viaSequence) {
            startDelays(n, -1, w.curDetect + 1);
            break;
        }

        if (m == 3 && p.sequentialDetect) {
            int step = -1;
            if (n == 0 && !pending()[gDNum - 1]) {
                startCycle(n);
                step = nextStepWithGroup(0);
            } else {
                step = nextStepWithGroup(m_step + 1);
            }
            if (step < 0 || p.trigInput[step] != n)
                break; // another input than the next step's: look no further
            const int gOld = p.multiOutDetect[m_step];
            const int gNew = p.multiOutDetect[step];
            if (gNew != gOld || (n == 0 && m_step == gDNum - 1)) {
                const int cut = validGroup(gNew) ? p.multiCutMode[gNew] : 2;
                for (int t = step; t < gDNum; ++t) {
                    const int gt = p.multiOutDetect[t];
                    if (!validGroup(gt))
                        continue;
                    if (cut == 0 || cut == 4 || ((cut == 1 || cut == 3) && gt == gNew))
                        setOut(stepOutput(t), 1);
                }
                flush();
            }
            m_step = step;
            startDelays(n, step);
            break;
        }

        if (inputStartsCycle(n)) {
            startCycle(n);
            startDelays(n, -1);
            break;
        }
        if (inputStartsMould(n)) {
            const int md = ((m == 1 || m == 2) && w.curMould == 0) ? 3 : 1;
            pending()[1] = 0;
            if (p.detectEnabled[md])
                for (size_t c = 0; c < m_cams.size(); ++c)
                    pending()[1] |= 1 << c;
            if (!pulseMode() && !(p.preCut || p.cutClampOnMoldDetect || p.moldNGClampPulse
                                  || (p.resampleNoCut && m_trigSource == 1)))
                setOut(0, 1);
            flush();
            startDelays(n, -1);
            break;
        }
        if (!fromFlag && (pending()[1] || forceMouldStart)) {
            startDelays(n, -1);
            break;
        }
    }

    // 11. end
    // The loop ends at the first input that ran its detections. An edge it
    // did not reach is kept for a poll 1 ms on: two edges in one poll (the
    // ejector close behind the opening, or beside the camera-image trigger)
    // would otherwise lose the later one, and with it the opening's decision.
    bool carried[8] = {};
    bool carry = false;
    for (int k = n + 1; k < 8; ++k)
        carry = (carried[k] = m_trig[k]) || carry;
    endPoll(carry ? 1 : 100);
    for (int k = 0; k < 8; ++k)
        m_trig[k] = m_trig[k] || carried[k];
}

int MachineCycle::nextStepWithGroup(int from) const
{
    for (int i = 0; i < gDNum; ++i) {
        const int s = (from + i) % gDNum;
        if (validGroup(P().multiOutDetect[s]) && P().detectEnabled[s])
            return s;
    }
    return -1;
}

bool MachineCycle::inputStartsCycle(int n) const
{
    const WizardPara& p = P();
    switch (mode()) {
    case 0:
        return (n == 0 && (!pending()[1] || p.separateDetectSignal == 1)) || (n == 2 && p.separateDetectSignal == 1);
    case 1:
        return n == 0;
    case 2:
        return (n == 0 && p.moldSelect != 1) || (n == 3 && p.moldSelect != 0);
    default:
        return !p.sequentialDetect;
    }
}

bool MachineCycle::inputStartsMould(int n) const
{
    const WizardPara& p = P();
    switch (mode()) {
    case 0:
        return n == 2 && p.semiAuto;
    case 1:
        if (n == 2 && p.moldSelect != 1) {
            gpWin->curMould = 1;
            return true;
        }
        if (n == 3 && p.moldSelect != 0) {
            gpWin->curMould = 0;
            return true;
        }
        return false;
    case 2:
        return n == 2;
    default:
        return false;
    }
}

void MachineCycle::startCycle(int input)
{
    const WizardPara& p = P();
    const int m = mode();
    m_hooks->startPeriodRecord();
    std::memset(m_camCycleNG, 0, sizeof(m_camCycleNG));
    std::memset(m_counted, 0, sizeof(m_counted));
    updateCycleTime();
    std::memset(pending(), 0, sizeof(pending()));
    std::memset(ngGroup, 0, sizeof(ngGroup));
    m_reCheckDelay = p.reCheckDelay;
    std::memset(reCheckLeft(), 0, sizeof(reCheckLeft()));
    if (m != 3)
        reCheckLeft()[1] = (pulseMode() || p.moldNGClampPulse) ? 0 : p.reCheckTimes;
    for (size_t c = 0; c < m_cams.size(); ++c) {
        for (int d = 0; d < gDNum && d < 8; ++d) {
            if (!p.detectEnabled[d])
                continue;
            pending()[m == 3 ? d : (d & 1)] |= 1 << c;
            codes()[c][d] = 1;
        }
    }
    if (!pulseMode() && m != 3) {
        // With the mould detection alone on its input the clamp preset
        // belongs to its trigger and the ejector preset to the product's.
        const bool split = p.detectEnabled[1] && !p.detectEnabled[2];
        const bool out0Here = !split || input == 2;
        const bool out1Here = !split || input == 0;
        if (out0Here && !(p.preCut || p.cutClampOnMoldDetect || p.moldNGClampPulse
                          || (p.resampleNoCut && m_trigSource == 1)))
            setOut(0, 1);
        if (pending()[0] && out1Here) {
            if (p.ejectorPulseProdNG || p.cutEjectorOnProdDetect) {
                for (int o : {1, 4, 5, 6, 7})
                    setOut(o, 0);
            } else if (!p.noEjectorCtrlProd && !p.prodDetectOption) {
                setOut(1, 1);
            }
        }
    }
    flush();
    if (m == 2)
        gpWin->curMould = input == 0 ? 1 : 0;
}

void MachineCycle::startDelays(int input, int onlyStep, int fromStep)
{
    const WizardPara& p = P();
    const int m = mode();
    const bool pairs = m == 1 || m == 2;
    const int count = pairs ? 2 : gDNum;
    for (int i = 0; i < count && i < 8; ++i) {
        const int d = (pairs && gpWin->curMould == 0) ? i + 2 : i;
        if ((onlyStep >= 0 && d != onlyStep) || d < fromStep)
            continue;
        if (!p.detectEnabled[d] || m_delay[d]->isActive())
            continue;
        // Carrying a sequence on: a step already decided in this cycle (its
        // delay ended before an earlier step's) does not run twice.
        if (fromStep > 0 && !m_cams.empty() && !pending()[d])
            continue;
        // The trigger inputs are derived for the pair positions only; the
        // right mould's detections take those of their left partners (theirs
        // are never set and would never match).
        const int ti = p.trigInput[pairs ? i : d];
        const bool either = ti == 255 && ((m == 1 && (input == 2 || input == 3)) || (m == 2 && (input == 0 || input == 3)));
        const bool forced = m == 0 && d == 1 && forceMouldStart;
        if (ti != input && !either && !forced && onlyStep < 0)
            continue;
        int delay = p.trigInDelay[d];
        if (forced)
            forceMouldStart = false;
        else if (m == 0 && d == 1 && !p.semiAuto && p.enableProdDetect)
            delay += m_prevStartedDelay;
        m_prevStartedDelay = p.trigInDelay[d];
        if (delay > 0) {
            remain()[d] = delay / 10.0f;
            m_delay[d]->start(100);
            gpWin->delayActive[d] = true;
            gpWin->progressState = 1;
        } else {
            remain()[d] = 0;
            TimerUp(d);
            // The poll ends here; the sequence trigger the decision left
            // carries the cycle on to the next step.
            if (!detecting() || m == 3)
                return;
        }
    }
    sequenceTrigger = -1;
    m_hooks->repaint();
}

void MachineCycle::TimerUp(int d)
{
    const WizardPara& p = P();
    const int last = lastDetection();
    if (d == last && p.preCut >= 1 && p.preCut <= 99 && !pulseMode() && p.preCut + 0.01 >= 10.0 * remain()[d]) {
        setOut(0, 1);
        flush();
    }
    if (remain()[d] > 0.11f) {
        remain()[d] -= 0.1f;
        m_hooks->repaint();
        return;
    }
    m_delay[d]->stop();
    gpWin->delayActive[d] = false;
    if (!CameraCheck()) {
        // No camera is judged on a frame it did not deliver: hold the mould
        // and inspect once every camera is back with a new frame.
        m_heldDetect = d;
        setOut(0, 1);
        flush();
        return;
    }
    // The cameras judge side by side; RunAlgorithm takes each result in camera order.
    CammerRecong::InspectAll(m_cams, inspectedDetection(d));
    for (size_t c = 0; c < m_cams.size(); ++c)
        RunAlgorithm(int(c), d);
    bool allOK = true;
    for (const CameraViewState* v : m_cams)
        allOK = allOK && v->isOK;
    CheckNG(false);
    gpWin->progressState = 2;
    // The outputs are on their way: the views make their pictures of the
    // frames just decided.
    std::vector<int> cameras(m_cams.size());
    std::iota(cameras.begin(), cameras.end(), 0);
    m_hooks->showJudgedFrames(cameras);
    if (gpWin->detectState != 2 && d == last && allOK && !gpWin->reCheckFlag && p.tempAutoUpdate) {
        gisReShape = true;
        for (size_t c = 0; c < m_cams.size(); ++c)
            m_hooks->saveReTrainImage(int(c), 1);
    }
}

void MachineCycle::heldDetectionRuns()
{
    const int d = m_heldDetect;
    m_heldDetect = -1;
    remain()[d] = 0;
    TimerUp(d);
}

int MachineCycle::inspectedDetection(int d) const
{
    if ((mode() == 1 || mode() == 2) && m_trigSource != 2) {
        if (d > 1)
            d -= 2;
        if (gpWin->curMould == 0)
            d += 2;
    }
    return d;
}

void MachineCycle::RunAlgorithm(int camera, int d)
{
    const WizardPara& p = P();
    const int m = mode();
    d = inspectedDetection(d);
    const int pi = pairDetection(d);
    // The decision and the alarm panel act on the detection inspected.
    gpWin->curDetect = gpWin->lastDetect = d;
    pending()[pi] &= ~(1 << camera);

    CameraViewState* v = m_cams[size_t(camera)];
    // A re-sampling is taken up by the next inspection: its frame becomes
    // the first template and is learnt before it is judged.
    if (v->resamplePending[d]) {
        m_hooks->saveReTrainImage(camera, d);
        m_hooks->retrain(camera, d);
        v->resamplePending[d] = false;
    }
    m_hooks->inspect(camera, d);

    if (!v->isOK) {
        if (!pulseMode()) {
            const bool left = reCheckLeft()[pi] > 0;
            if (m == 3) {
                if (!(pi == 0 && p.ejectorPulseProdNG))
                    setOut(2, 1);
            } else if (pi == 0) {
                if (!p.ejectorPulseProdNG && !p.noEjectorCtrlProd && !p.prodDetectOption) {
                    setOut(1, 1);
                    if (m_trigSource != 2 && !p.preCut && !p.cutClampOnMoldDetect && !p.separateDetectSignal
                        && !p.moldNGClampPulse)
                        setOut(0, 1);
                }
                if (!p.ejectorPulseProdNG && !left)
                    setOut(2, 1);
            } else if (!p.moldNGClampPulse && !left) {
                setOut(0, 1);
                setOut(2, 1);
            }
        }
        if (p.ejectorPulseProdNG && pi == 0) {
            const int n = v->liveStore ? v->liveStore->roiCount[d] : 0;
            for (int r = 0; r < n && r < CameraViewState::kRois; ++r) {
                const int g = v->liveStore->outN[r];
                if (v->roiResult[d][r] != 1 && g >= 0 && g < 4)
                    ngGroup[g] = 1;
            }
        }
        if (codes()[camera][d] == 1 && reCheckLeft()[pi] == 0 && v->frameBytes > 0 && !v->workFrame.isNull()) {
            auto& ring = v->recentNgImages[d];
            if (ring.size() < size_t(CameraViewState::kRecentNg))
                ring.resize(CameraViewState::kRecentNg);
            const int slot = v->recentNgCount[d] % CameraViewState::kRecentNg;
            PixelBuffer& b = ring[size_t(slot)];
            if (b.size() != size_t(v->frameBytes))
                b.allocate(size_t(v->frameBytes));
            std::memcpy(b.data(), std::as_const(v->workFrame).data(), std::min(b.size(), v->workFrame.size()));
            v->recentNgTimes[d][slot] = clockNow().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss"));
            v->recentNgIndex[d] = slot;
            ++v->recentNgCount[d];
        }
    }
    flush();
    m_hooks->repaint();
}

void MachineCycle::ReCheck()
{
    m_reCheck.stop();
    const WizardPara& p = P();
    const int d = pairDetection(gpWin->curDetect);
    const int last = lastDetection();
    pending()[d] = 0;
    if (d == last && (!p.preCut || reCheckLeft()[d] == 0))
        setOut(0, 1);
    else if (d == 0 && !p.noEjectorCtrlProd && !p.ejectorPulseProdNG)
        setOut(1, 1);
    flush();
    if (!m_cams.empty()) {
        const int cur = gpWin->curDetect;
        if (p.detectEnabled[cur])
            for (size_t c = 0; c < m_cams.size(); ++c)
                pending()[d] |= 1 << c;
        for (size_t c = 0; c < m_cams.size(); ++c)
            RunAlgorithm(int(c), cur);
    }
    CheckNG(false);
}

void MachineCycle::reDetect()
{
    m_reDetect.stop();
    if (gpWin->detectState == 2) {
        m_hooks->editorReCheck();
        return;
    }
    autoReDetect = true;
    if (mode() == 3) {
        m_step = gDNum - 1; // the sequence goes on after the re-run step
        setOut(OutputNo[7] - 1, 1);
        TimerUp(gDNum - 1);
    } else {
        TimerUp(1);
    }
    autoReDetect = false;
}

void MachineCycle::reDetectAlarm()
{
    const WizardPara& p = P();
    MainState& w = *gpWin;
    // The alarm's detection: the one last inspected, whatever the editor shows.
    const int d = std::clamp(w.lastDetect, 0, 7);
    const int pi = pairDetection(d);
    remain()[d] = 0;
    for (CameraViewState* v : m_cams) {
        if (!v->isOK) {
            std::fill(std::begin(v->roiResult[d]), std::end(v->roiResult[d]), uchar(1));
            std::fill(std::begin(v->roiValue[d]), std::end(v->roiValue[d]), 0);
        }
    }
    pending()[pi] = 0;
    if (pi == lastDetection() && !p.cutClampOnMoldDetect && !p.moldNGClampPulse)
        setOut(0, 1);
    else if (pi == 0 && !p.noEjectorCtrlProd && !p.ejectorPulseProdNG && !p.cutEjectorOnProdDetect)
        setOut(1, 1);
    flush();
    const bool inUse = p.detectEnabled[d];
    for (size_t c = 0; c < m_cams.size(); ++c) {
        if (m_cams[c]->isOK || !inUse)
            continue;
        pending()[pi] |= 1 << c;
        if (codes()[c][d] == 3)
            codes()[c][d] = 7;
    }
    // A camera taught in this alarm keeps the operator's verdict.
    for (size_t c = 0; c < m_cams.size(); ++c)
        if (inUse && !m_cams[c]->isOK && !w.alarmTaught[c][d])
            RunAlgorithm(int(c), d);
    w.reCheckRequest = true;
    CheckNG(true);
}

void MachineCycle::SlotManualTrig(int d)
{
    if (m_hooks->windowsShown() || d < 0 || d >= 8)
        return;
    const WizardPara& p = P();
    if (!p.detectEnabled[d]) {
        tellOperator(728);
        return;
    }
    if (mode() == 1 || mode() == 2) {
        const int l0 = gpControlIO ? gpControlIO->IOState(0, 0) : 0;
        const int l3 = gpControlIO ? gpControlIO->IOState(0, 3) : 0;
        const bool refuse = (l3 && !l0 && d < 2) || (l0 && !l3 && d >= 2);
        if (refuse) {
            const QString active = messageText(l0 ? 729 : 730);
            const QString other = messageText(l0 ? 730 : 729);
            tellOperator(731, messageText(731).arg(active, other));
            return;
        }
    }
    manualRequest = d;
    for (size_t c = 0; c < m_cams.size(); ++c)
        m_hooks->softTrigger(int(c));
}

void MachineCycle::SlotMuliManualTrig()
{
    const int d = m_hooks->chosenTrigger();
    if (d >= 0)
        SlotManualTrig(d);
}

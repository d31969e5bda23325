// The machine cycle end to end: board simulator and moulding machine on a
// pseudo-terminal, simulated cameras, the cycle's decision, outputs, alarms,
// counters and camera supervision, on a test clock.
#include "cyclerig.h"
#include "controller/controlport.h"
#include "controller/iothread.h"
#include "controller/lcdonoff.h"
#include "controller/productioncounters.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryFile>
#include <QtTest>

#include <csignal>
#include <limits>
#include <numeric>
#include <random>

namespace {

// Camera c's four counters and the two station-wide ones.
QList<int> counters(int c)
{
    return {gAllNum[c], gFailNum[c], gAllCycleNum[c], gFailCycleNum[c], gSyncNGNum, gSyncNGCycleNum};
}

// Mode 3 step-wise: `steps` steps on input 0, the first `inFirst` in step
// group 0, the others in group 1, both groups with the cut mode `cut`.
void sequentialSteps(WizardPara& p, int steps, int inFirst, int cut)
{
    p.systemMode = 3;
    p.multiDetectNum = steps;
    for (int s = 0; s < steps; ++s) {
        p.multiOutDetect[s] = s < inFirst ? 0 : 1;
        p.trigInDelay[s] = 0;
    }
    p.multiTrigIn[0] = p.multiTrigIn[1] = 0;
    p.multiCutMode[0] = p.multiCutMode[1] = cut;
    p.sequentialDetect = 1;
}

} // namespace

class TstCycle : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void okAndNgCyclesOnTheMachine();
    void triggeredFramesAreJudgedAsTheyArrive();
    void edgesSeenInOnePollAreAllTaken();
    void timedRules();
    void limitsModesAndPulses();
    void sidesOfModes1And2();
    void mode3CutModes_data();
    void mode3CutModes();
    void lostCameraHoldsTheCycle();
    void alarmInputsAndReRuns();
    void reDetectJudgesTheAlarmsDetection();
    void resamplingAndNesting();
    void countFile();
    void countFileSurvivesKills();
};

void TstCycle::initTestCase()
{
    // Small frames keep the test's own judgement cheap.
    static QTemporaryFile cfg;
    QVERIFY(cfg.open());
    cfg.write(R"({"count": 2, "width": 320, "height": 256})");
    cfg.flush();
    qputenv("STATION_SIMCAMERA_CONFIG", cfg.fileName().toLocal8Bit());
}

// An OK cycle, then a cycle with a part left behind on both cameras while
// the board falls silent across the decision (garbage on the line starts
// nothing; the clamp reaches the wire within a pass of its return; nothing is
// counted twice), and the re-detect after the part is gone. Last, a decision
// after the mould began to close is reported as a late clamp, counted once,
// and holds the next opening.
void TstCycle::okAndNgCyclesOnTheMachine()
{
    CycleRig rig;
    QVERIFY(rig.ok());
    gpWPara->trigInDelay[1] = 3;
    gpWPara->reCheckTimes = 0;
    rig.cycle->StartDetect();
    rig.cycle->startPolling();
    rig.settle();
    QCOMPARE(rig.wire() & 0xFu, 0u);

    // First opening: OK.
    rig.run(2000 + 760);          // mould open at 2000, ejector back at 2750
    QCOMPARE(rig.wire() & 1u, 1u); // the clamp preset of the mould detection
    QCOMPARE(gpWin->progressState, 1);
    rig.run(400);                  // inspection 300 ms after input 2
    QCOMPARE(gpWin->detectState, 1);
    QCOMPARE(rig.wire() & 1u, 0u);
    QCOMPARE(ledMask() & 0xC0, 0x40);
    QCOMPARE(counters(1), (QList<int>{1, 0, 1, 0, 0, 0}));
    QCOMPARE(rig.periodStarts, 1);
    QCOMPARE(rig.periodEnds, 1);
    QVERIFY(gisSaveFail[0][1][1] && gisSaveFail[1][1][1] && !gisSaveFail[0][1][0]);
    QSettings ini(ProductionCounters::filePath(), QSettings::IniFormat);
    QCOMPARE(ini.value("list_allcyclenum").toStringList().mid(0, 3), (QStringList{"1", "1", "0"}));
    rig.run(2000);
    QCOMPARE(gpWin->detectState, 0);
    QCOMPARE(ledMask() & 0xC0, 0xC0);
    QCOMPARE(rig.machine->cycles(), 1);
    QCOMPARE(rig.machine->heldMs(), 0);

    // Second opening: a part left behind on both cameras; the board silent
    // from just before the ejector input until after the decision.
    rig.leftBehindNext = {0, 1};
    rig.runUntil([&] { return (rig.sim->inputs() & 4u) != 0; }, 8000);
    rig.sim->setSilent(true);
    rig.sim->injectFault(BoardSim::Fault::Garbage, 3);
    QThread::msleep(30); // an answer already on the line is taken first
    rig.run(500);
    QCOMPARE(gpWin->detectState, 2);
    QCOMPARE(rig.wire() & 4u, 0u); // not on the wire yet
    rig.sim->setSilent(false);
    QVERIFY(rig.sim->waitForOutputs(0x5u, 0x5u, 50)); // within a few passes
    rig.run(400);
    QCOMPARE(rig.periodStarts, 2);
    QCOMPARE(rig.machine->phase(), MouldingMachine::Phase::Held);
    QCOMPARE(gpWin->runState, 3);
    QCOMPARE(rig.state->records.last(), QString("run: Camera 1 Camera 2Alarm"));
    QCOMPARE(ledMask() & 0xC0, 0x80);
    QCOMPARE(counters(0), (QList<int>{2, 1, 2, 1, 1, 1}));
    QCOMPARE(counters(1), counters(0));
    // The NG images wait for the alarm's end, to go with its OK images.
    QVERIFY(!gisSaveFail[0][1][0] && !gisSaveFail[1][1][0]);
    QCOMPARE(rig.views[0]->recentNgCount[1], 1);
    QVERIFY(!rig.views[0]->recentNgTimes[1][0].isEmpty());

    // The operator removes the part and closes the safety door: re-detect.
    rig.run(500);
    QCOMPARE(rig.machine->phase(), MouldingMachine::Phase::Held);
    rig.shoot();
    rig.run(100);
    rig.set({1}, true, 200);
    QCOMPARE(rig.editorReChecks, 1);
    QCOMPARE(gpWin->detectState, 0);
    QCOMPARE(gpWin->runState, 1);
    QCOMPARE(rig.wire() & 0x5u, 0u);
    QVERIFY(gisSaveFail[0][1][0] && gisSaveFail[0][1][1] && gisSaveFail[1][1][0] && gisSaveFail[1][1][1]);
    rig.run(50);
    QCOMPARE(rig.machine->cycles(), 2);
    QCOMPARE(gAllNum[0], 2); // the re-detect counts nothing
    QCOMPARE(gSyncNGCycleNum, 1);
    QCOMPARE(rig.machine->lateClamps(), 0);
    rig.set({1}, false, 100);

    // No clamp preset (pre-cut) and a decision 1.2 s after input 2: the
    // mould closes 0.75 s after it.
    gpWPara->trigInDelay[1] = 12;
    gpWPara->preCut = 1;
    rig.leftBehindNext = {1};
    rig.runUntil([&] { return rig.machine->lateClamps() > 0; }, 8000);
    QCOMPARE(rig.machine->lateClamps(), 1);
    QCOMPARE(gpWin->detectState, 2);
    QCOMPARE(gAllCycleNum[0], 3);
    rig.runUntil([&] { return rig.machine->phase() == MouldingMachine::Phase::Held; }, 8000);
    QCOMPARE(rig.machine->phase(), MouldingMachine::Phase::Held);
    QCOMPARE(gAllCycleNum[0], 3); // the held opening counts nothing
}

// Cameras on the machine's trigger: each frame is judged when it arrives,
// the decision at the ejector input only takes the verdicts up, and an
// operator's key or touch or a later frame in between has the decision
// judge again.
void TstCycle::triggeredFramesAreJudgedAsTheyArrive()
{
    CycleRig rig;
    QVERIFY(rig.ok());
    gpWPara->extTrigger = 1;
    gpWPara->trigInDelay[1] = 3;
    gpWPara->reCheckTimes = 0;
    rig.byHand();
    // The cameras render on their own threads: wait in real time.
    const auto until = [&](const std::function<bool()>& pred) {
        QElapsedTimer t;
        t.start();
        while (!pred() && t.elapsed() < 5000) {
            rig.run(10);
            QThread::msleep(1);
        }
        return pred();
    };

    // A part left behind before camera 2: NG the moment its frame is in,
    // nothing on the wire or in the alarm state until the decision.
    rig.set({0}, true, 20);
    rig.shoot({1});
    QVERIFY(until([&] { return !rig.views[1]->isOK; }));
    QVERIFY(rig.views[0]->isOK);
    QCOMPARE(gpWin->detectState, 0);
    QCOMPARE(rig.wire() & 4u, 0u);
    rig.set({2}, true, 400);
    QCOMPARE(gpWin->detectState, 2);
    QCOMPARE(rig.inspected.mid(rig.inspected.size() - 2), (QList<QPoint>{{0, 1}, {1, 1}}));
    QCOMPARE(rig.state->records.last(), QString("run: Camera 2Alarm"));
    QCOMPARE(rig.wire() & 5u, 5u);
    rig.set({0, 2}, false, 100);
    rig.shoot();
    rig.set({1}, true, 200);
    rig.set({1}, false, 100);
    QCOMPARE(gpWin->detectState, 0);

    // Judged NG ahead; then a key press, and the limit the operator set
    // lets the part pass: the decision judges the frame again.
    rig.set({0}, true, 20);
    rig.shoot({0});
    QVERIFY(until([&] { return !rig.views[0]->isOK; }));
    QObject target;
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &key);
    for (int r = 0; r < rig.stores[0]->roiCount[1]; ++r)
        rig.stores[0]->paramB[100 + r] = 1 << 30;
    rig.set({2}, true, 400);
    QCOMPARE(gpWin->detectState, 1);
    QVERIFY(rig.views[0]->isOK);
    QCOMPARE(rig.wire() & 5u, 0u);

    // Two frames before one decision, the later one with a part: it is
    // judged for itself, not given the earlier frame's verdict.
    rig.set({0, 2}, false, 100);
    rig.set({0}, true, 20);
    for (const std::vector<int>& part : {std::vector<int>{}, std::vector<int>{1}}) {
        const auto was = rig.views[1]->frameBuffer.version();
        rig.shoot(part);
        QVERIFY(until([&] { return rig.views[1]->frameBuffer.version() != was; }));
    }
    rig.set({2}, true, 400);
    QCOMPARE(gpWin->detectState, 2);
    QCOMPARE(rig.wire() & 5u, 5u);
}

// The opening and the ejector input read in the same poll (a fast machine,
// a slow board answer): the cycle starts and the mould is still judged.
void TstCycle::edgesSeenInOnePollAreAllTaken()
{
    CycleRig rig;
    QVERIFY(rig.ok());
    gpWPara->trigInDelay[1] = 0;
    gpWPara->reCheckTimes = 0;
    rig.byHand();
    rig.run(50);
    const int decided = gAllCycleNum[0];
    rig.shoot();
    rig.sim->setInput(0, true);
    rig.sim->setInput(2, true);
    rig.settle();
    rig.wake();
    rig.run(50);
    QCOMPARE(rig.periodStarts, 1);
    QCOMPARE(gAllCycleNum[0], decided + 1);
    QCOMPARE(gpWin->detectState, 1);
    QCOMPARE(rig.wire() & 1u, 0u);
}

// Debounce, input-2 ignore count, shared input with delays 10 and 5, delay 0,
// pre-cut, re-checks before the alarm.
void TstCycle::timedRules()
{
    CycleRig rig;
    QVERIFY(rig.ok());
    rig.byHand();

    // Shared input 0, product detection on: 1.0 s and 1.5 s after the trigger.
    gpWPara->semiAuto = 0;
    gpWPara->enableProdDetect = 1;
    gpWPara->deriveByMode(&gpWin->curMould);
    gpWPara->trigInDelay[0] = 10;
    gpWPara->trigInDelay[1] = 5;
    gpWPara->shakeEraseTime = 3;
    // A blip shorter than the debounce starts nothing.
    rig.set({0}, true, 100);
    rig.set({0}, false, 400);
    QCOMPARE(rig.periodStarts, 0);
    rig.set({0}, true, 290);
    QCOMPARE(rig.periodStarts, 0);
    rig.shoot();
    rig.runUntil([&] { return rig.periodStarts == 1; }, 110); // the next poll
    QCOMPARE(rig.periodStarts, 1);
    QVERIFY(gpWin->delayActive[0] && gpWin->delayActive[1]);
    QCOMPARE(rig.runUntil([] { return gAllNum[0] == 1; }, 2000), 1000); // the product at 1.0 s
    QCOMPARE(gAllCycleNum[0], 0);
    QCOMPARE(rig.runUntil([] { return gAllCycleNum[0] == 1; }, 2000), 500); // the mould at 1.5 s
    rig.set({0}, false, 2100);

    // Own input 2 with three ignored rises; delay 0 and pre-cut 5 on 2.0 s.
    gpWPara->semiAuto = 1;
    gpWPara->enableProdDetect = 0;
    gpWPara->deriveByMode(&gpWin->curMould);
    gpWPara->shakeEraseTime = 0;
    gpWPara->shieldPin = 2;
    gpWPara->trigInDelay[1] = 0;
    rig.set({0}, true, 100);
    for (int i = 0; i < 2; ++i) {
        rig.set({2}, true, 100);
        rig.set({2}, false, 100);
    }
    QCOMPARE(gAllCycleNum[0], 1);
    rig.setInput(2, true);
    rig.run(10); // delay 0: inspected in the poll that sees the rise
    QCOMPARE(gAllCycleNum[0], 2);
    QCOMPARE(rig.cycle->input2Count(), 0); // an OK mould resets the count
    rig.set({2, 0}, false, 2100);

    gpWPara->shieldPin = 0;
    gpWPara->trigInDelay[1] = 20;
    gpWPara->preCut = 5;
    rig.set({0}, true, 100);
    rig.shoot();
    rig.set({2}, true, 10); // pre-cut: no clamp preset, the clamp 1.6 s after the trigger
    QCOMPARE(rig.runUntil([&] { return rig.wire() & 1u; }, 2000), 1590);
    QCOMPARE(rig.runUntil([] { return gAllCycleNum[0] == 3; }, 1000), 400); // inspected at 2.0 s
    QCOMPARE(rig.wire() & 1u, 0u);
    rig.set({2, 0}, false, 2100);

    // Two re-checks 300 ms apart before the alarm; a part that stays.
    gpWPara->preCut = 0;
    gpWPara->trigInDelay[1] = 0;
    gpWPara->reCheckTimes = 2;
    gpWPara->reCheckDelay = 3;
    rig.set({0}, true, 100);
    rig.shoot({0});
    rig.run(100);
    rig.set({2}, true, 10);
    QVERIFY(gpWin->reCheckFlag);
    QCOMPARE(gpWin->detectState, 0);
    QCOMPARE(rig.wire() & 0x4u, 0u); // no alarm while re-checks are left
    rig.run(700);
    QCOMPARE(gpWin->reCheckCount[1], 0);
    QCOMPARE(gpWin->detectState, 2);
    QCOMPARE(rig.wire() & 0x5u, 0x5u);
    QCOMPARE(gAllCycleNum[0], 4); // the mould is counted once, by its last re-check
    QCOMPARE(gFailCycleNum[0], 1);

    // Camera-image trigger: a cycle starts once every camera delivered a
    // new frame.
    rig.set({2, 0}, false);
    rig.cycle->StartDetect();
    gpWPara->reCheckTimes = 0;
    gpWPara->extTrigger = 1;
    gpWPara->semiAuto = 0;
    gpWPara->deriveByMode(&gpWin->curMould);
    rig.run(200);
    const int starts = rig.periodStarts;
    rig.cams[0]->setValue(QString("trigger"), 100);
    rig.run(200);
    QCOMPARE(rig.periodStarts, starts);
    rig.cams[1]->setValue(QString("trigger"), 100);
    rig.run(200);
    QCOMPARE(rig.periodStarts, starts + 1);
    QCOMPARE(gAllCycleNum[0], 5);
}

// Production limit (box, trigger held, the poll alive, a lowered limit),
// pulse-mode NG, NG output groups, a manual trigger.
void TstCycle::limitsModesAndPulses()
{
    CycleRig rig;
    QVERIFY(rig.ok());
    rig.byHand();
    gpWPara->trigInDelay[1] = 0;

    // Limit 2 reached by the second OK mould exactly; a lowered limit still
    // holds.
    gpWPara->okMoldNum = 2;
    for (int k = 1; k <= 3; ++k) {
        if (k == 3) {
            gpWin->productAlarm = 0;
            gpWPara->okMoldNum = 1;
        }
        rig.set({0}, true, 100);
        rig.set({2}, true, 100);
        QCOMPARE(gpWin->productAlarm, k == 1 ? 0 : 1);
        QCOMPARE(rig.wire() & 0x5u, k == 1 ? 0u : 0x5u);
        rig.set({2, 0}, false, 200);
    }
    rig.set({0}, true, 300);
    QCOMPARE(rig.periodStarts, 3); // the trigger is held
    QVERIFY(rig.productBox);
    QCOMPARE(rig.cycle->pollInterval(), 100); // the poll lives on
    QVERIFY(rig.cycle->pollActive());
    gpWin->productAlarm = 0;
    gpWin->productCount = 0;
    gpWPara->okMoldNum = 0;
    rig.set({0}, false, 100);

    // Pulse mode NG: 0 on, 1 off, 2 on, no alarm, then the clamp pulse ends.
    gpWPara->okNgPulses = 1;
    gpWPara->clampPulse = 5;
    rig.shoot({1});
    rig.set({0}, true, 100);
    rig.set({2}, true, 20);
    QCOMPARE(rig.wire() & 0x7u, 0x5u);
    QCOMPARE(gpWin->detectState, 1);
    QCOMPARE(ledMask() & 0xC0, 0x80);
    QVERIFY(gisSaveFail[1][1][0]);
    rig.run(500);
    QCOMPARE(rig.wire() & 0x7u, 0u);
    gpWPara->okNgPulses = 0;
    rig.set({2, 0}, false, 2100);

    // Product detection driving NG groups: the ROI's group output pulses.
    gpWPara->enableProdDetect = 1;
    gpWPara->ejectorPulseProdNG = 1; // outputs 4 to 7 not inverted then
    gpWPara->deriveByMode(&gpWin->curMould);
    gpWPara->ejectorPulse = 4;
    gpWPara->trigInDelay[0] = 0;
    for (int r = 0; r < CycleRig::kCavities; ++r)
        rig.stores[1]->outN[r] = 2;
    rig.shoot({1});
    rig.run(100);
    rig.set({0}, true, 20);
    QCOMPARE(rig.wire() & 0x40u, 0x40u); // output 6 = group 2
    QCOMPARE(gpWin->detectState, 0);
    rig.run(400);
    QCOMPARE(rig.wire() & 0xF0u, 0u);
    std::fill(rig.stores[1]->outN, rig.stores[1]->outN + CycleRig::kCavities, 0);
    gpWPara->ejectorPulseProdNG = 0;
    rig.set({0}, false, 2100);

    // A manual trigger inspects at the next poll and counts nothing.
    const int counted = gAllNum[0];
    rig.cycle->SlotManualTrig(1);
    rig.run(110);
    QCOMPARE(gpWin->detectState, 1);
    QCOMPARE(gpWin->curDetect, 1);
    QCOMPARE(gAllNum[0], counted);
    QCOMPARE(rig.cycle->triggerSource(), 0);
}

// Modes 1 and 2: input 0 opens, inputs 2 and 3 pick the side, each side's
// mould detection drives the clamp on the wire; an NG on the right side;
// manual triggers of the inactive side refused; the re-detect after the
// table turned; the NG accepted as good; the selector while stopped.
void TstCycle::sidesOfModes1And2()
{
    CycleRig rig;
    QVERIFY(rig.ok());
    rig.byHand();
    gpWPara->moldSelect = 2;
    gpWPara->trigInDelay[1] = gpWPara->trigInDelay[3] = 3;
    gpWPara->useStatistics = 1;
    struct Side {
        int mode, open, input, mould, detect;
    };
    // Mode 1: input 2 left, input 3 right; mode 2 (turntable): input 0 opens
    // the left, input 3 the right, input 2 triggers the mould detection.
    for (const Side s : {Side{1, 0, 2, 1, 1}, Side{1, 0, 3, 0, 3}, Side{2, 0, 2, 1, 1}, Side{2, 3, 2, 0, 3}}) {
        gpWPara->systemMode = s.mode;
        gpWPara->deriveByMode(&gpWin->curMould);
        rig.shoot();
        rig.set({s.open}, true, 100);
        QCOMPARE(rig.wire() & 1u, 0u);
        rig.set({s.input}, true, 20);
        QCOMPARE(gpWin->curMould, s.mould);
        QCOMPARE(rig.wire() & 1u, 1u); // the clamp preset of the side's mould detection
        rig.run(300);
        QCOMPARE(gpWin->curDetect, s.detect);
        QCOMPARE(rig.statistics.last(), QString("%1 9 11 1").arg(s.detect)); // each side ends its cycle
        QCOMPARE(gpWin->detectState, 1);
        QCOMPARE(rig.wire() & 5u, 0u);
        rig.set({s.open, s.input}, false, 2100);
    }
    QCOMPARE(gAllCycleNum[1], 4);
    QCOMPARE(rig.periodEnds, 4);
    QVERIFY(rig.cycle->lastTriggerTime() > std::numeric_limits<int>::max()); // tenths of epoch seconds
    QCOMPARE(rig.cycle->cycleTime(), 25); // 2.52 s from opening to opening

    rig.shoot({1});
    rig.set({3}, true, 100);
    rig.set({2}, true, 400);
    QCOMPARE(gpWin->curDetect, 3);
    QCOMPARE(gpWin->detectState, 2);
    QCOMPARE(rig.wire() & 5u, 5u);
    QCOMPARE(rig.state->records.last(), QString("run: Camera 2Alarm"));
    QCOMPARE(gFailCycleNum[1], 1);
    QCOMPARE(gFailCycleNum[0], 0);

    rig.cycle->SlotManualTrig(1); // the right side is active
    QCOMPARE(rig.prompt.numbers(), QList<int>{731});
    QCOMPARE(rig.prompt.asked().last().text, messageText(731).arg(messageText(730), messageText(729)));
    rig.cycle->SlotManualTrig(0); // the product detection is off
    QCOMPARE(rig.prompt.numbers().last(), 728);

    // The table turned (input 0 alone): closing the safety door re-detects
    // on the left side; the part is still there.
    rig.set({3}, false);
    rig.set({0}, true, 100);
    rig.set({1}, true, 100);
    QCOMPARE(gpWin->curMould, 1);
    QCOMPARE(gpWin->curDetect, 1);
    QCOMPARE(gpWin->detectState, 2);

    // The NG accepted as good: nothing counted, the mould released.
    rig.cycle->BackTrain();
    QCOMPARE(counters(1), (QList<int>{5, 1, 5, 1, 1, 1}));
    QCOMPARE(gpWin->detectState, 0);
    QVERIFY(rig.cycle->gisReTrain);
    rig.run(100);
    QCOMPARE(rig.wire() & 5u, 0u);

    // Stopped in mode 1: inputs 2 and 3 only move the selector.
    rig.cycle->StopDetect();
    rig.set({0, 1, 2}, false, 100);
    gpWPara->systemMode = 1;
    gpWPara->deriveByMode(&gpWin->curMould);
    const int starts = rig.periodStarts;
    rig.set({2}, true, 100);
    QCOMPARE(gpWin->curMould, 1);
    rig.set({3}, true, 100);
    QCOMPARE(gpWin->curMould, 0);
    QCOMPARE(rig.periodStarts, starts);
}

// Mode 3 with five steps in two step groups, each cut mode: the outputs at
// the start, after the first step, and once the cycle and its pulses are
// over; first step-wise (one rise per step), then one rise for all steps.
void TstCycle::mode3CutModes_data()
{
    QTest::addColumn<int>("cut");
    QTest::addColumn<int>("atStart");
    QTest::addColumn<int>("afterFirst");
    QTest::addColumn<int>("atEnd");
    // Steps 0..4 drive outputs 1, 3, 4, 5 and, the last step, 0.
    QTest::newRow("0: every later step") << 0 << 0x00 << 0x39 << 0x00;
    QTest::newRow("1: own group") << 1 << 0x00 << 0x08 << 0x00;
    QTest::newRow("2: none") << 2 << 0x00 << 0x00 << 0x00;
    QTest::newRow("3: own group, held") << 3 << 0x3B << 0x39 << 0x3B;
    QTest::newRow("4: every later step, held") << 4 << 0x3B << 0x39 << 0x3B;
    QTest::newRow("5: on at NG") << 5 << 0x00 << 0x06 << -1;
}

void TstCycle::mode3CutModes()
{
    QFETCH(int, cut);
    QFETCH(int, atStart);
    QFETCH(int, afterFirst);
    QFETCH(int, atEnd);
    CycleRig rig;
    QVERIFY(rig.ok());
    WizardPara& p = *gpWPara;
    sequentialSteps(p, 5, 2, cut);
    p.clampPulse = 2;
    p.deriveByMode(&gpWin->curMould);
    for (int& v : p.outInitState) // no inverted outputs: the wire shows the levels
        v = 0;
    rig.byHand(); // the first rise after the start enters the first step's group
    rig.settle();
    QCOMPARE(int(rig.wire()), atStart);
    for (int s = 0; s < 5; ++s) {
        rig.shoot(s == 0 && atEnd < 0 ? std::vector<int>{0} : std::vector<int>{});
        rig.set({0}, true, 20);
        QCOMPARE(gpWin->curDetect, s);
        if (s == 0) {
            QCOMPARE(int(rig.wire()), afterFirst);
            if (atEnd < 0) {
                QCOMPARE(gpWin->detectState, 2);
                return;
            }
        }
        rig.set({0}, false, 80);
    }
    rig.run(300);
    QCOMPARE(int(rig.wire()), atEnd);
    QCOMPARE(gAllCycleNum[0], 1);
    QCOMPARE(rig.periodStarts, 1);

    // Without step-wise triggering one rise runs the five steps in turn, each
    // once, the last two on delays that end out of order.
    p.sequentialDetect = 0;
    p.trigInDelay[3] = 3;
    p.trigInDelay[4] = 1;
    rig.shoot();
    rig.set({0}, true, 900);
    QCOMPARE(gpWin->curDetect, 3);
    QCOMPARE(gAllNum[0], 10);
    QCOMPARE(gAllCycleNum[0], 2);
    QCOMPARE(rig.periodStarts, 2);
    QCOMPARE(int(rig.wire()), atEnd);

    // Step-wise again: the safety door's re-run of the last step ends the
    // sequence, so the next rise starts a new cycle at the first step.
    p.sequentialDetect = 1;
    p.doorTrigDetect = 1;
    rig.set({0}, false, 100);
    rig.shoot();
    rig.set({0}, true, 20);
    QCOMPARE(rig.cycle->sequenceStep(), 0);
    rig.set({1}, true, 20);
    QCOMPARE(rig.cycle->sequenceStep(), 4);
    rig.set({0, 1}, false, 100);
    rig.set({0}, true, 20);
    QCOMPARE(rig.cycle->sequenceStep(), 0);
    QCOMPARE(rig.periodStarts, 4);
}

// A camera lost during the delay: clamp at once, message 39, a poll a
// second, no decision on the old frame; on recovery message 656, the info
// record, and the held detection runs on a new frame.
void TstCycle::lostCameraHoldsTheCycle()
{
    CycleRig rig;
    QVERIFY(rig.ok());
    rig.byHand();
    gpWPara->trigInDelay[1] = 5;
    gpWPara->preCut = 1; // no clamp preset: the loss alone must set it
    rig.shoot();
    rig.set({0}, true, 100);
    rig.set({2}, true, 100);
    QCOMPARE(rig.wire() & 1u, 0u);
    rig.loseCamera(1);
    rig.settle();
    QCOMPARE(rig.wire() & 1u, 1u);
    QVERIFY(rig.prompt.numbers().contains(39));
    // The watchdog runs on the station clock: a loss of 11 s stops the
    // board polling.
    gpControlIO->updateThreadProtectTiming();
    rig.run(2000);
    QCOMPARE(rig.cycle->pollInterval(), 1000);
    QCOMPARE(rig.cycle->heldDetection(), 1);
    rig.run(12000);
    QTRY_VERIFY(gpControlIO->ioThread()->isStale());
    QCOMPARE(gAllCycleNum[0], 0); // nothing judged on the frame from before
    QVERIFY(rig.notices.count(39) >= 2);

    // The camera returns; a part is now in its view: the new frame decides.
    rig.cams[1]->setValue(QString("leftBehind"), 100);
    rig.recoverCamera(1);
    rig.run(1000);
    QVERIFY(rig.notices.contains(656));
    QTRY_VERIFY(!gpControlIO->ioThread()->isStale());
    QVERIFY(rig.state->records.contains("info: " + messageText(656)));
    QCOMPARE(rig.cycle->heldDetection(), -1);
    QCOMPARE(gAllCycleNum[0], 1);
    QCOMPARE(gFailCycleNum[1], 1);
    QCOMPARE(gpWin->detectState, 2);

    // Stopped: LostCamera leaves the clamp alone, the poll sets it; the
    // lost-camera box when chosen, hidden on recovery.
    gpWPara->camDisconnect = 1;
    rig.cycle->StopDetect();
    gpWin->detectState = 0;
    rig.run(100);
    QCOMPARE(rig.wire() & 1u, 0u);
    rig.views[0]->isConnected = false;
    rig.cycle->LostCamera();
    rig.settle();
    QCOMPARE(rig.wire() & 1u, 0u);
    rig.notices.clear();
    rig.run(3000);
    QCOMPARE(rig.wire() & 1u, 1u);
    QVERIFY(rig.lostBox);
    // The poll warns with 39 whichever box is chosen; over the lost-camera
    // box once, not each second.
    QCOMPARE(rig.notices.count(39), 1);
    rig.views[0]->isConnected = true;
    rig.run(1000);
    QVERIFY(!rig.lostBox);

    // No camera at all passes the check.
    rig.cycle->setCameras({});
    QVERIFY(rig.cycle->CameraCheck());
}

// The NG alarm left by the machine's inputs (safety door with the re-detect
// delay, input 2, input 3), the automatic clearing (which still saves the
// alarm's NG image); the immediate mould
// re-run; stop and start by hand; the OK display's end after a template
// auto-update.
void TstCycle::alarmInputsAndReRuns()
{
    CycleRig rig;
    QVERIFY(rig.ok());
    rig.byHand();
    WizardPara& p = *gpWPara;
    p.trigInDelay[1] = 0;
    auto alarm = [&] {
        rig.set({0, 1, 2, 3}, false, 100);
        rig.shoot({0});
        rig.set({0}, true, 100);
        rig.set({2}, true, 20);
        return gpWin->detectState == 2 && (rig.wire() & 5u) == 5u;
    };
    auto released = [&] { return gpWin->detectState == 0 && (rig.wire() & 5u) == 0; };

    // The safety door re-detects after the delay, on the clean frame.
    QVERIFY(alarm());
    p.reInspectDelay = 5;
    rig.shoot();
    rig.set({1}, true, 400);
    QCOMPARE(rig.editorReChecks, 0);
    const uchar* results = rig.views[0]->roiResult[1];
    QCOMPARE(int(*std::min_element(results, results + CycleRig::kCavities)), 1); // the door cleared the NG marks
    rig.run(200);
    QCOMPARE(rig.editorReChecks, 1);
    QVERIFY(released());
    // Input 2 again re-detects at once; input 3 skips this mould.
    p.reInspectDelay = 0;
    p.inputResetRecheck = 1;
    p.noDetectModeSignal = 1;
    QVERIFY(alarm());
    rig.set({3}, true, 20);
    QCOMPARE(rig.notChecks, 1);
    rig.shoot();
    rig.set({2}, false, 100);
    rig.set({2}, true, 20);
    QCOMPARE(rig.editorReChecks, 2);
    QVERIFY(released());
    // Automatic clearing: output 3 on, the alarm cleared 300 ms later; the
    // mould is counted and sent to the statistics once.
    p.outOnMoldCavity = 1;
    p.out4Pulse = 3;
    p.useStatistics = 1;
    const QList<int> before = counters(0);
    const int sent = rig.statistics.size();
    gisSaveFail[0][1][0] = false;
    QVERIFY(alarm());
    QCOMPARE(rig.wire() & 8u, 8u);
    rig.run(200);
    QCOMPARE(gpWin->detectState, 2);
    QVERIFY(!gisSaveFail[0][1][0]); // held for the label of how it ended
    rig.run(200);
    QVERIFY(released());
    QVERIFY(gisSaveFail[0][1][0]); // and then handed to the writer
    QCOMPARE(rig.state->records.last(), "run: " + messageText(103));
    QCOMPARE(counters(0), (QList<int>{before[0] + 1, before[1] + 1, before[2] + 1, before[3] + 1, before[4] + 1,
                                      before[5] + 1}));
    QCOMPARE(rig.statistics.size(), sent + 1);
    p.outOnMoldCavity = 0;
    p.useStatistics = 0;

    // The safety door while detecting re-runs the mould detection at once.
    p.doorTrigDetect = 1;
    rig.set({0, 1, 2, 3}, false, 2100);
    rig.shoot({1});
    rig.set({1}, true, 20);
    QCOMPARE(gpWin->detectState, 2);
    QCOMPARE(rig.wire() & 5u, 5u);
    p.doorTrigDetect = 0;
    rig.shoot();
    rig.set({1}, false, 100);
    rig.set({1}, true, 20);
    QVERIFY(released());

    // Stop (asked, declined then accepted) and start by hand; output 3
    // marks the stop.
    p.stopDetectCutOff = 1;
    rig.prompt.answer(false);
    QVERIFY(!rig.cycle->SlotStartStop());
    QCOMPARE(gpWin->runState, 1);
    rig.prompt.answer(true);
    QVERIFY(rig.cycle->SlotStartStop());
    rig.settle();
    QCOMPARE(gpWin->runState, 3);
    QCOMPARE(rig.wire() & 8u, 8u);
    QCOMPARE(rig.state->records.last(), "operate: " + messageText(141));
    QVERIFY(rig.cycle->SlotStartStop());
    rig.settle();
    QCOMPARE(gpWin->runState, 1);
    QCOMPARE(rig.wire() & 8u, 0u);
    QCOMPARE(rig.state->records.last(), "operate: " + messageText(142));

    // Template auto-update: the OK mould's frames are kept; the end of the
    // OK display rebuilds detection 1 and shows the next detection.
    p.tempAutoUpdate = 1;
    p.enableProdDetect = 1;
    rig.retrained.clear();
    rig.set({0, 1, 2, 3}, false, 2100);
    rig.shoot();
    rig.set({0}, true, 100);
    rig.set({2}, true, 20);
    QCOMPARE(gpWin->detectState, 1);
    QCOMPARE(rig.reTrainSaves, 2);
    rig.run(1900);
    QVERIFY(rig.retrained.isEmpty());
    rig.run(200);
    QCOMPARE(rig.retrained, (QList<int>{1, 1}));
    QCOMPARE(gpWin->detectState, 0);
    QCOMPARE(gpWin->curDetect, 0);
    QCOMPARE(ledMask() & 0xC0, 0xC0);

    // Mode 0, both detections on input 0: a product NG cleared by the
    // re-detect lets the mould detection follow without a trigger. An OK
    // product with the ejector pulse option pulses output 1.
    p.tempAutoUpdate = 0;
    p.semiAuto = 0;
    p.deriveByMode(&gpWin->curMould);
    p.trigInDelay[0] = 0;
    p.trigInDelay[1] = 2;
    rig.set({0, 1, 2, 3}, false, 2100);
    rig.shoot({0});
    rig.set({0}, true, 20);
    QCOMPARE(gpWin->detectState, 2);
    QCOMPARE(gpWin->curDetect, 0);
    const int cycles = gAllCycleNum[0];
    rig.shoot();
    rig.set({1}, true, 100);
    QCOMPARE(gAllCycleNum[0], cycles);
    rig.run(200);
    QCOMPARE(gAllCycleNum[0], cycles + 1);
    p.prodDetectOption = 1;
    p.ejectorPulse = 3;
    rig.set({0, 1}, false, 2100);
    rig.set({0}, true, 20);
    QCOMPARE(rig.wire() & 2u, 2u);
    rig.run(300);
    QCOMPARE(rig.wire() & 2u, 0u);
}

// The re-detect inspects the detection the alarm is about, even when the
// cycle's current detection moved on (a stop in mode 3), and leaves a
// camera taught during the alarm alone while another is judged again.
void TstCycle::reDetectJudgesTheAlarmsDetection()
{
    CycleRig rig;
    QVERIFY(rig.ok());
    WizardPara& p = *gpWPara;
    sequentialSteps(p, 3, 3, 2);
    p.deriveByMode(&gpWin->curMould);
    rig.byHand();
    rig.shoot({0});
    rig.set({0}, true, 20);
    QCOMPARE(gpWin->detectState, 2);
    QCOMPARE(gpWin->lastDetect, 0);
    rig.cycle->StopDetect();
    QCOMPARE(gpWin->curDetect, 2);
    rig.shoot();
    rig.run(100);
    rig.inspected.clear();
    rig.cycle->reDetectAlarm();
    QCOMPARE(rig.inspected, (QList<QPoint>{QPoint(0, 0)}));
    QCOMPARE(gpWin->detectState, 0);
    QVERIFY(gisSaveFail[0][0][0] && gisSaveFail[0][0][1]); // the alarm's images, labelled and saved together

    // Mode 0: both cameras NG on the mould; camera 1 taught by the operator
    // keeps its verdict, camera 2 is judged again.
    p.systemMode = 0;
    p.trigInDelay[1] = 0;
    p.deriveByMode(&gpWin->curMould);
    rig.cycle->StartDetect();
    rig.set({0, 1, 2, 3}, false, 100);
    rig.shoot({0, 1});
    rig.set({0}, true, 100);
    rig.set({2}, true, 20);
    QCOMPARE(gpWin->detectState, 2);
    QCOMPARE(gpWin->lastDetect, 1);
    gpWin->alarmTaught[0][1] = true;
    rig.shoot();
    rig.run(100);
    rig.inspected.clear();
    rig.cycle->reDetectAlarm();
    QCOMPARE(rig.inspected, (QList<QPoint>{QPoint(1, 1)}));
}

// Re-sampling: login, question both ways, masks cleared, records, taken up
// by the next inspection, later decisions not counted; a poll arriving
// inside a box's nested loop re-arms at 1 ms instead of running.
void TstCycle::resamplingAndNesting()
{
    CycleRig rig;
    QVERIFY(rig.ok());
    rig.machine->setEnabled(false);
    rig.autoShoot = false;
    gpWPara->trigInDelay[1] = 0;
    gpWPara->isPswUsed = 1;
    gpWin->loginLevel = 0;
    QVERIFY(!rig.cycle->SlotReTrain()); // nobody logged in
    gpWin->loginLevel = 1;
    QVERIFY(!rig.cycle->SlotReTrain()); // NO
    QCOMPARE(rig.prompt.numbers().last(), 137);
    QCOMPARE(gpWin->runState, 3);
    rig.prompt.answer(true);
    rig.prompt.answer(true);
    rig.views[0]->ignoreMasks[1].allocate(16);
    rig.views[0]->ignoreMasks[1].data()[3] = 255;
    QVERIFY(rig.cycle->SlotReTrain());
    QCOMPARE(gpWin->runState, 1);
    QCOMPARE(rig.views[0]->ignoreMasks[1].data()[3], uchar(0));
    QVERIFY(rig.views[1]->resamplePending[1]);
    QCOMPARE(rig.state->records.last(), "operate: " + messageText(585) + messageText(139));
    QCOMPARE(rig.cycle->triggerSource(), 1);
    QCOMPARE(rig.orderResets, 1);
    QCOMPARE(rig.templateWipes, 1);
    QCOMPARE(rig.ignoreSaves, 2 * 2); // both cameras, both detections
    // One camera shown alone: only that camera re-samples.
    gpWPara->camSampleSeparately = 1;
    rig.shownAlone = 1;
    rig.views[0]->resamplePending[1] = false;
    QVERIFY(rig.cycle->SlotReTrain());
    QVERIFY(!rig.views[0]->resamplePending[1]);
    QCOMPARE(rig.state->records.last(), "operate: " + messageText(586).arg(2) + messageText(139));
    gpWPara->camSampleSeparately = 0;
    rig.views[0]->resamplePending[1] = true;

    // The first decision after re-sampling takes the re-sampling up and is
    // not counted.
    rig.cycle->startPolling();
    gpWPara->okMoldNum = 5;
    gpWin->productCount = 3;
    rig.shoot();
    rig.set({0}, true, 100);
    rig.set({2}, true, 20);
    QCOMPARE(gpWin->detectState, 1);
    QCOMPARE(gpWin->productCount, 0); // the production count starts again
    QVERIFY(!rig.views[0]->resamplePending[1]);
    QCOMPARE(gAllNum[0], 0);
    QCOMPARE(rig.periodEnds, 0);

    // Nested poll: a notice whose box runs an event loop that delivers a poll.
    rig.set({2, 0}, false, 2100);
    rig.notices.clear();
    rig.prompt.onPrompt = [&](int) { rig.cycle->Run(); };
    rig.views[1]->isConnected = false;
    rig.cycle->Run();
    QCOMPARE(rig.cycle->nestedRuns(), 1);
    QCOMPARE(rig.cycle->pollInterval(), 1000); // the outer poll's own re-arm
    rig.prompt.onPrompt = nullptr;
    rig.views[1]->isConnected = true;
}

// count.ini: short lists, values out of range, damaged text, sync.
void TstCycle::countFile()
{
    TestEnv env(false);
    QDir().mkpath("ruv_net/workspace");
    QFile f(ProductionCounters::filePath());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[General]\nlist_allnum=5, 6, 7\nlist_failnum=100000001, 100000000, -1, x\n"
            "gSyncNGNum=12\ngSyncNGcycleNum=oops\n");
    f.close();
    gAllNum[5] = 99;
    ProductionCounters::CountRead();
    QCOMPARE((QList<int>{gAllNum[0], gAllNum[2], gAllNum[5], gFailNum[0], gFailNum[1], gFailNum[2], gFailNum[3]}),
             (QList<int>{5, 7, 0, 0, 100000000, 0, 0}));
    QCOMPARE(counters(0).mid(4), (QList<int>{12, 0}));
    gSyncNGCycleNum = 34;
    ProductionCounters::CountWrite();
    gSyncNGNum = gSyncNGCycleNum = 0;
    ProductionCounters::CountRead();
    QCOMPARE(counters(0).mid(4), (QList<int>{12, 34}));
    QFile back(ProductionCounters::filePath());
    QVERIFY(back.open(QIODevice::ReadOnly));
    const QByteArray text = back.readAll();
    QVERIFY(text.indexOf("list_allnum") < text.indexOf("list_failnum"));
    ProductionCounters::clearAll();
    ProductionCounters::CountRead();
    QCOMPARE(std::accumulate(gAllNum, gAllNum + 8, 0) + std::accumulate(gAllCycleNum, gAllCycleNum + 8, 0), 0);
}

// A writer killed at random moments: the file always reads back the last or
// the previous counts, never zeros.
void TstCycle::countFileSurvivesKills()
{
    if (qEnvironmentVariableIsSet("CYCLE_COUNT_WRITER")) {
        for (int n = 1;; ++n) {
            for (int c = 0; c < 8; ++c)
                gAllNum[c] = gAllCycleNum[c] = n;
            gSyncNGNum = n;
            ProductionCounters::CountWrite();
            printf("%d\n", n);
            fflush(stdout);
        }
    }
    TestEnv env(false);
    std::mt19937 rnd(7);
    qputenv("CYCLE_COUNT_WRITER", "1"); // for the children
    for (int round = 0; round < 12; ++round) {
        QProcess child;
        child.setWorkingDirectory(env.workDir());
        // Killed, a child removes nothing it made: its temporary files go
        // where this test's folder is removed.
        QProcessEnvironment childEnv = QProcessEnvironment::systemEnvironment();
        childEnv.insert("TMPDIR", env.workDir());
        child.setProcessEnvironment(childEnv);
        child.start(QCoreApplication::applicationFilePath(), {"countFileSurvivesKills"});
        QVERIFY(child.waitForStarted());
        QByteArray out;
        while (!out.contains("\n1\n") && child.waitForReadyRead(20000))
            out += child.readAllStandardOutput();
        QVERIFY(out.contains("\n1\n"));
        QThread::msleep(rnd() % 40);
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();
        out += child.readAllStandardOutput();
        const int last = out.left(out.lastIndexOf('\n')).split('\n').last().toInt(); // the last whole line
        QVERIFY(last > 0);
        ProductionCounters::CountRead();
        QVERIFY2(gAllNum[7] == last || gAllNum[7] == last + 1,
                 qPrintable(QString("%1 after %2").arg(gAllNum[7]).arg(last)));
        QCOMPARE(gAllCycleNum[3], gAllNum[7]);
        QCOMPARE(gSyncNGNum, gAllNum[7]);
    }
    qunsetenv("CYCLE_COUNT_WRITER");
}

QTEST_GUILESS_MAIN(TstCycle)
#include "tst_cycle.moc"

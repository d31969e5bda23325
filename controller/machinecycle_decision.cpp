#include "controller/machinecycle.h"
#include "controller/machinecycle_p.h"
#include "controller/controlport.h"
#include "controller/cyclehooks.h"
#include "controller/lcdonoff.h"
#include "controller/mainstate.h"
#include "controller/productioncounters.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"

#include <QMutexLocker>
#include <QTimer>

#include <glog/logging.h>

#include <cstring>

using namespace cyclerules;

// ---------------------------------------------------------------------------
// the decision

void MachineCycle::CheckNG(bool isClearNG)
{
    if (gFromTrain)
        return;
    const WizardPara& p = P();
    const int m = mode();
    MainState& w = *gpWin;
    const int d = pairDetection(w.curDetect);

    bool ng = false;
    for (size_t c = 0; c < m_cams.size(); ++c) {
        if (!m_cams[c]->isOK) {
            m_hooks->startBlink(int(c));
            ng = true;
        }
    }
    // The alarm panel refuses to skip a camera that is OK while another is NG.
    w.lastFailed = ng;
    if (d == 1 && p.shieldPin && !ng)
        m_input2Count = 0;

    // Outputs first: the machine waits for them, images and records do not.
    bool alarm = false;
    if (pulseMode()) {
        setOut(0, ng ? 1 : 0);
        setOut(1, ng ? 0 : 1);
        setOut(2, ng ? 1 : 0);
        flush();
        if (p.clampPulse > 0)
            m_notAllowClose.start(p.clampPulse * 100);
    } else if (m == 3) {
        const int g = p.multiOutDetect[d];
        const int cut = validGroup(g) ? p.multiCutMode[g] : 0;
        const int out = stepOutput(d);
        if (!ng) {
            setOut(out, 0);
            if ((cut == 3 || cut == 4) && p.clampPulse) {
                // Steps closer together than the pulse each keep their
                // output: one remembered output would lose the earlier one.
                m_rememberedStepOuts |= 1u << out;
                m_sysFunc4.start(p.clampPulse * 100);
            }
        } else {
            if (cut == 5)
                setOut(out, 1);
            alarm = true;
        }
        int next = -1;
        for (int s = d + 1; s < gDNum; ++s)
            if (p.detectEnabled[s] && p.trigInput[s] >= 0) {
                next = s;
                break;
            }
        // Step-wise, every step waits for its own trigger.
        if (p.sequentialDetect) {
            sequenceTrigger = -1;
        } else if (next >= 0 && p.trigInput[next] == p.trigInput[d]) {
            sequenceTrigger = p.trigInput[d];
        } else {
            sequenceTrigger = pseudoTrigger;
            pseudoTrigger = -1;
        }
        flush();
    } else if (!ng) {
        if (d == 0 && !p.noEjectorCtrlProd && !p.ejectorPulseProdNG) {
            if (p.prodDetectOption) {
                setOut(1, 1);
                m_out12Off.start(p.ejectorPulse * 100);
            } else {
                setOut(1, 0);
            }
        } else if (d == 1 && !gisReTrain && !p.moldNGClampPulse) {
            setOut(0, 0);
        }
        gpWin->reCheckFlag = false;
        flush();
    } else if (d == 0) {
        if (p.prodDetectOption)
            m_out12Off.start(p.ejectorPulse * 100);
        if (p.ejectorPulseProdNG) {
            for (int g = 0; g < 4; ++g)
                if (ngGroup[g])
                    setOut(4 + g, 1);
            if (!p.noEjectorCtrlProd)
                setOut(1, 1);
            flush();
            m_outNG.start(p.ejectorPulse * 100);
        } else if (!p.prodDetectOption) {
            if (p.prodInspectOption) {
                setOut(4, 1);
                if (p.ejectorPulse > 0)
                    addPulse(4, 0, p.ejectorPulse * 100);
            }
            alarm = true;
        }
    } else {
        if (p.moldNGClampPulse) {
            if (reCheckLeft()[d] == 0) {
                setOut(0, 1);
                setOut(2, 1);
                flush();
                if (p.clampPulse > 0)
                    m_notAllowClose.start(p.clampPulse * 100);
            }
        } else {
            if (p.moldInspectOption) {
                setOut(3, 1);
                if (p.clampPulse > 0)
                    addPulse(3, 0, p.clampPulse * 100);
            }
            alarm = true;
        }
    }

    // OK display
    if ((!ng || pulseMode()) && w.detectState != 2 && w.detectState != 3 && !m_hooks->settingsShown()) {
        w.detectState = 1;
        m_okShow.start(2000);
        m_shownDetect = w.curDetect;
        m_hooks->repaint();
        LEDOnOff(6, ng ? 0 : 1);
        LEDOnOff(7, ng ? 1 : 0);
    }

    const bool wasAlarm = w.detectState == 2;
    if (alarm && !wasAlarm)
        enterAlarm(d);
    if (wasAlarm && !ng)
        leaveAlarm(d);

    if (!pulseMode() && m != 3 && !ng) {
        if (d == 1 && p.cutClampFixedTime && p.clampPulse > 0)
            m_notAllowClose.start(p.clampPulse * 100);
        if (d == 0 && p.cutEjectorFixedTime && p.ejectorPulse > 0)
            m_notAllowThimble.start(p.ejectorPulse * 100);
    }

    // Production limit; ">=": a limit lowered below the count still holds.
    if (p.okMoldNum && !ng && d == 1) {
        if (m_trigSource == 0) {
            ++w.productCount;
            if (w.productCount >= p.okMoldNum) {
                setOut(0, 1);
                setOut(2, 1);
                flush();
                w.productAlarm = 1;
            }
        } else if (m_trigSource == 1) {
            w.productCount = 0;
        }
    }

    // Counting writes the count file: after every output of the decision.
    // An NG that goes on to re-checks is counted by the re-check that ends it.
    if (!isClearNG && m_trigSource == 0 && !(ng && gpWin->reCheckFlag))
        countDecision(d, ng);

    images(w.curDetect);

    if (m_trigSource == 2)
        m_trigSource = 0;
    m_hooks->alarmFinishTiming();
}

void MachineCycle::enterAlarm(int d)
{
    const WizardPara& p = P();
    MainState& w = *gpWin;
    if (reCheckLeft()[d] > 0 && mode() != 3) {
        gpWin->reCheckFlag = true;
        return;
    }
    // Outputs before the screen, the shell and the records.
    if (autoReDetect && mode() != 3) {
        setOut(0, 1);
        flush();
    }
    if (p.outOnMoldCavity && d == 1) {
        setOut(3, 1);
        flush();
        m_clearNG.start(p.out4Pulse * 100);
    }
    m_hooks->alarmStartTiming(w.curDetect);
    if (w.screenOff) {
        LCDOnOff(1);
        if (p.scrOffTime > 0 && w.screenOffTimer)
            w.screenOffTimer->start(p.scrOffTime * 1000);
    }
    SetStopDetect();
    w.detectState = 2;
    m_hooks->editorOpenAlarm();
    gpWin->reCheckFlag = false;
    LEDOnOff(6, 0);
    LEDOnOff(7, 1);
    QString text;
    for (size_t c = 0; c < m_cams.size(); ++c)
        if (!m_cams[c]->isOK)
            text += messageText(151).arg(c + 1);
    text.chop(1);
    w.InsertRecord(text + messageText(152), QStringLiteral("run"));
}

void MachineCycle::leaveAlarm(int d)
{
    const WizardPara& p = P();
    MainState& w = *gpWin;
    if (mode() == 3) {
        setOut(2, 0);
    } else if (d == 0) {
        setOut(1, 0);
        setOut(2, 0);
    } else {
        setOut(0, 0);
        setOut(2, 0);
    }
    if (p.prodInspectOption && d == 0 && p.ejectorPulse == 0)
        setOut(4, 0);
    if (p.moldInspectOption && d == 1 && p.clampPulse == 0)
        setOut(3, 0);
    flush();
    // A camera taught ("Add As Temp", "Don't Detect") is left alone by the
    // re-detects of its own alarm only: the next alarm inspects it again.
    std::memset(w.alarmTaught, 0, sizeof(w.alarmTaught));
    m_hooks->markAlarmCleared();
    m_hooks->editorRestart();
    w.detectState = 0;
    ResetRun();
    w.runState = 1;
    if (mode() == 0 && d == 0 && !p.semiAuto) {
        pseudoTrigger = 1;
        forceMouldStart = true;
    }
}

void MachineCycle::countDecision(int d, bool ng)
{
    // A mould is counted once per cycle: a re-check or an alarm cleared
    // later decides the same mould again.
    if (m_counted[d])
        return;
    if (P().useStatistics)
        AddStatistics();
    m_counted[d] = true;
    for (size_t c = 0; c < m_cams.size(); ++c) {
        if (!m_cams[c]->isOK) {
            m_camCycleNG[c] = true;
            ProductionCounters::add(gFailNum[c]);
        }
        ProductionCounters::add(gAllNum[c]);
    }
    if (ng)
        ProductionCounters::add(gSyncNGNum);
    if (d == lastDetection()) {
        bool any = false;
        for (size_t c = 0; c < m_cams.size(); ++c) {
            if (m_camCycleNG[c]) {
                ProductionCounters::add(gFailCycleNum[c]);
                any = true;
            }
            ProductionCounters::add(gAllCycleNum[c]);
        }
        if (any)
            ProductionCounters::add(gSyncNGCycleNum);
        m_hooks->finishPeriodRecord();
        ProductionCounters::CountWrite();
    }
}

void MachineCycle::images(int d)
{
    const WizardPara& p = P();
    const int pi = pairDetection(d);
    const bool ngNoAlarm = pulseMode() || (pi == 0 && p.ejectorPulseProdNG) || (pi == 1 && p.moldNGClampPulse);
    bool flags[8][2] = {};
    for (size_t c = 0; c < m_cams.size(); ++c) {
        int& code = codes()[c][d];
        const bool ok = m_cams[c]->isOK;
        const int ci = int(c);
        switch (code) {
        case 1:
            if (!ok && gPicNumNG > 0 && reCheckLeft()[pi] == 0) {
                // The NG image of an alarm waits in its slot until the alarm
                // is cleared and labelled with how (below): a re-detection's
                // OK image then goes with it into the NG folder.
                code = ngNoAlarm ? 9 : 3;
                m_hooks->saveFailImage(ci, d, 0);
            } else if (ok && gPicNumOK > 0) {
                code = 2;
                m_hooks->saveFailImage(ci, d, 1);
            } else if (ok || reCheckLeft()[pi] == 0) {
                code = 0;
            }
            break;
        case 3:
            // Accepted as good: the held NG image is saved as it is.
            if (ok) {
                flags[c][0] = true;
                code = 0;
            }
            break;
        case 4:
        case 5:
        case 6:
            m_hooks->addClearMethod(ci, code);
            m_hooks->updateFailImage(ci, d, 0);
            flags[c][0] = true;
            break;
        case 7:
            if (!ok) {
                code = 3;
            } else {
                m_hooks->updateFailImage(ci, d, 0);
                flags[c][0] = true;
                if (gPicNumOK > 0) {
                    m_hooks->saveFailImage(ci, d, 1);
                    flags[c][1] = true;
                }
                m_hooks->updateFailImage(ci, d, 1);
                code = 0;
            }
            break;
        default:
            break;
        }
    }
    // Result images are handed to the writer in every mode; otherwise a
    // station in the ordinary mode would never save one.
    QMutexLocker lock(pMutexSaveFail);
    for (size_t c = 0; c < m_cams.size(); ++c) {
        for (int k = 0; k < gDNum && k < 8; ++k) {
            int& code = codes()[c][k];
            if (code == 2 || code == 10)
                gisSaveFail[c][k][1] = true;
            if (code == 9 || code == 10)
                gisSaveFail[c][k][0] = true;
            if (code == 2 || code == 9 || code == 10)
                code = 0;
        }
        if (flags[c][0])
            gisSaveFail[c][d][0] = true;
        if (flags[c][1])
            gisSaveFail[c][d][1] = true;
    }
}

void MachineCycle::handOverHeldImages()
{
    // 3 NG shown; 4 to 7 cleared or re-checked, not yet decided again.
    QMutexLocker lock(pMutexSaveFail);
    for (size_t c = 0; c < m_cams.size(); ++c) {
        for (int d = 0; d < gDNum && d < 8; ++d) {
            int& code = codes()[c][d];
            if (code >= 3 && code <= 7) {
                gisSaveFail[c][d][0] = true;
                code = 0;
            }
        }
    }
}

void MachineCycle::BackTrain()
{
    const WizardPara& p = P();
    if (!pulseMode()) {
        setOut(0, 0);
        if (p.cutEjectorOnClamp && mode() == 0 && p.detectEnabled[0] && !p.noEjectorCtrlProd && !p.ejectorPulseProdNG)
            setOut(1, 1);
        flush();
    }
    gpWin->runState = 1;
    m_trigSource = 0;
    // The NG is accepted as good: the decision sees every camera OK.
    for (CameraViewState* v : m_cams)
        v->isOK = true;
    CheckNG(true);
    gisReTrain = true;
}

void MachineCycle::SlotClearNGAlarm()
{
    m_clearNG.stop();
    m_hooks->editorSaveData();
    gSource = -1;
    ResetRun();
    const int cur = gpWin->curDetect;
    for (size_t c = 0; c < m_cams.size(); ++c)
        if (codes()[c][cur] == 3)
            codes()[c][cur] = 4;
    CheckNG(false);
    gpWin->InsertRecord(messageText(103), QStringLiteral("run"));
}

void MachineCycle::StartDetect()
{
    const WizardPara& p = P();
    if (gpControlIO)
        gpControlIO->IOResetAllOut();
    if (p.cutEjectorOnClamp)
        setOut(1, 1);
    if (p.cutClampFixedTime && p.clampPulse > 0)
        setOut(0, 1);
    if (p.cutEjectorFixedTime && p.ejectorPulse > 0)
        setOut(1, 1);
    mulitOutputInit();
    flush();
    // Mode 3 starts as after the last step, so the first rise enters the
    // first step's group with its outputs (a stop does the same).
    if (mode() == 3)
        m_step = gDNum - 1;
    gpWin->detectState = 0;
    gpWin->reCheckFlag = false;
    std::memset(gpWin->alarmTaught, 0, sizeof(gpWin->alarmTaught));
    std::memset(reCheckLeft(), 0, sizeof(reCheckLeft()));
    ResetRun();
    gpWin->runState = 1;
    m_input2Count = 0;
    m_hooks->startStopCaption(127);
}

void MachineCycle::mulitOutputInit()
{
    const WizardPara& p = P();
    if (mode() != 3)
        return;
    for (int s = 0; s < gDNum && s < 8; ++s) {
        const int g = p.multiOutDetect[s];
        if (!validGroup(g) || p.multiCutMode[g] == 2)
            continue;
        const int cut = p.multiCutMode[g];
        for (int t = s; t < gDNum && t < 8; ++t) {
            const int gt = p.multiOutDetect[t];
            if ((cut == 3 && gt == g) || (cut == 4 && validGroup(gt)))
                setOut(stepOutput(t), 1);
        }
    }
}

void MachineCycle::StopDetect()
{
    const WizardPara& p = P();
    m_hooks->clearLastDetections();
    if (gpControlIO)
        gpControlIO->IOResetAllOut();
    if (p.stopClampOnStop == 1)
        setOut(0, 1);
    if (p.noEjectorPin == 1)
        setOut(1, 1);
    flush();
    std::memset(m_trig, 0, sizeof(m_trig));
    for (auto& t : m_debounce)
        t->stop();
    if (mode() == 3) {
        std::memset(pending(), 0, sizeof(pending()));
        gpWin->curDetect = m_step = gDNum - 1;
    }
    SetStopDetect();
    m_hooks->startStopCaption(136);
}

void MachineCycle::SetStopDetect()
{
    const int m = mode();
    const int cur = gpWin->curDetect;
    const int pi = m == 0 ? (cur != 0 ? 1 : 0) : pairDetection(cur);
    if (pi >= 0 && pi < 8)
        pending()[pi] = 0;
    for (int d = 0; d < 8; ++d) {
        if (m_delay[d]->isActive()) {
            m_delay[d]->stop();
            gpWin->delayActive[d] = false;
            remain()[d] = 0;
        }
    }
    gpWin->runState = 3;
}

bool MachineCycle::SlotStartStop()
{
    const WizardPara& p = P();
    if (m_hooks->windowsShown())
        return false;
    if (gpWin->runState == 3) {
        StartDetect();
        gpWin->InsertRecord(messageText(142), QStringLiteral("operate"));
        LEDOnOff(4, 1);
        if (p.stopDetectCutOff)
            setOut(3, 0);
    } else {
        if (p.stopDetectPswUsed && gpWin->CheckPassword() == 0)
            return false;
        if (!m_hooks->windowsShown() && !askOperator(140))
            return false;
        if (m_hooks->windowsShown()) {
            // An NG alarm came while the operator answered: stopping now
            // would release the mould it holds with the part in it. The
            // alarm is handled on its panel; the operator is told why the
            // stop did not happen.
            gpWin->InsertRecord(messageText(911), QStringLiteral("operate"));
            tellOperator(910);
            return false;
        }
        StopDetect();
        gpWin->InsertRecord(messageText(141), QStringLiteral("operate"));
        LEDOnOff(4, 0);
        if (p.stopDetectCutOff)
            setOut(3, 1);
    }
    flush();
    m_hooks->repaint();
    return true;
}

void MachineCycle::ResetRun()
{
    for (CameraViewState* v : m_cams) {
        v->isOK = true;
        for (int d = 0; d < CameraViewState::kDetections; ++d) {
            std::fill(std::begin(v->roiResult[d]), std::end(v->roiResult[d]), uchar(1));
            std::fill(std::begin(v->roiValue[d]), std::end(v->roiValue[d]), 0);
        }
        v->releaseShownVerdict(); // what the views show as well
    }
    std::fill(std::begin(remain()), std::end(remain()), 0.0f);
}

void MachineCycle::TimerShow()
{
    m_okShow.stop();
    const WizardPara& p = P();
    MainState& w = *gpWin;
    if (w.detectState != 2) {
        LEDOnOff(6, 1);
        LEDOnOff(7, 1);
        if (!gpWin->reCheckFlag && m_shownDetect == w.curDetect && gDNum > 0) {
            int n = (w.curDetect + 1) % gDNum;
            if (mode() == 3) {
                for (int i = 0; i < gDNum && !p.detectEnabled[n]; ++i)
                    n = (n + 1) % gDNum;
            } else {
                if (n % 2 == 0 && !p.enableProdDetect)
                    n = (n + 1) % gDNum;
                if (mode() == 1 || mode() == 2) {
                    if (p.moldSelect == 0)
                        n &= 1;
                    else if (p.moldSelect == 1)
                        n = (n & 1) + 2;
                }
            }
            w.curDetect = n;
        }
        gpWin->progressState = 3;
        if (w.detectState == 1) {
            w.detectState = 0;
            m_hooks->repaint();
        }
    }
    if (gisReTrain) {
        gisReTrain = false;
        for (size_t c = 0; c < m_cams.size(); ++c)
            for (int d = 0; d < gDNum && d < 8; ++d)
                if (p.detectEnabled[d])
                    m_hooks->retrain(int(c), d);
    } else if (gisReShape) {
        gisReShape = false;
        for (size_t c = 0; c < m_cams.size(); ++c)
            m_hooks->retrain(int(c), 1);
    }
}

// ---------------------------------------------------------------------------
// pulse ends

void MachineCycle::OutTimerOutNG()
{
    m_outNG.stop();
    if (!P().noEjectorCtrlProd)
        setOut(1, 0);
    for (int o = 4; o <= 7; ++o)
        setOut(o, 0);
    flush();
}

void MachineCycle::OutTimerNotAllowClose()
{
    m_notAllowClose.stop();
    if (pulseMode()) {
        setOut(0, 0);
        setOut(1, 0);
        setOut(2, 0);
    } else if (P().moldNGClampPulse) {
        setOut(0, 0);
        setOut(2, 0);
    } else if (detecting()) {
        setOut(0, 1);
    }
    flush();
}

void MachineCycle::OutTimerNotAllowThimble()
{
    m_notAllowThimble.stop();
    if (pulseMode()) {
        setOut(0, 0);
        setOut(1, 0);
    } else if (detecting()) {
        setOut(1, 1);
    }
    flush();
}

void MachineCycle::OutTimerSysFunc4Output()
{
    m_sysFunc4.stop();
    if (mode() == 3 && m_rememberedStepOuts) {
        for (int o = 0; o < 16; ++o)
            if (m_rememberedStepOuts & (1u << o))
                setOut(o, 1);
        flush();
    }
    m_rememberedStepOuts = 0;
}

void MachineCycle::outputs12Off()
{
    setOut(1, 0);
    setOut(2, 0);
    flush();
}

void MachineCycle::addPulse(int no, int value, int ms)
{
    const qint64 due = clockMs() + ms;
    m_pulses.append(stru_outputInfo{no, value, due});
    qint64 first = due;
    for (const stru_outputInfo& o : m_pulses)
        first = std::min(first, o.dueMs);
    m_pulseList.start(int(std::max<qint64>(0, first - clockMs())));
}

void MachineCycle::pulseListDue()
{
    const qint64 now = clockMs();
    bool any = false;
    for (int i = 0; i < m_pulses.size();) {
        if (m_pulses[i].dueMs <= now) {
            setOut(m_pulses[i].no, m_pulses[i].value);
            m_pulses.removeAt(i);
            any = true;
        } else {
            ++i;
        }
    }
    if (any)
        flush();
    if (!m_pulses.isEmpty()) {
        qint64 first = m_pulses.first().dueMs;
        for (const stru_outputInfo& o : m_pulses)
            first = std::min(first, o.dueMs);
        m_pulseList.start(int(std::max<qint64>(0, first - now)));
    }
}

// ---------------------------------------------------------------------------
// counters and statistics

void MachineCycle::AddStatistics()
{
    QList<bool> ok;
    for (const CameraViewState* v : m_cams)
        ok << v->isOK;
    // "Last" closes the cycle in the statistics: the cycle's last detection,
    // which for the left mould of modes 1 and 2 (detection 1) is not gDNum - 1.
    const int cur = gpWin->curDetect;
    m_hooks->sendRecord(cur, clockNow().time().hour(), ok, pairDetection(cur) == lastDetection());
}

#include "controller/redowizard.h"
#include "controller/controlport.h"
#include "controller/operationrecords.h"
#include "controller/cyclehooks.h"
#include "controller/machinecycle.h"
#include "controller/productioncounters.h"
#include "controller/windowcyclehooks.h"
#include "frame/globals.h"
#include "frame/parameterstartup.h"
#include "frame/operatorprompt.h"
#include "inspection/cameramanager.h"
#include "frame/wizardpara.h"
#include "platform/commandrunner.h"
#include "widgets/choosebox.h"
#include "widgets/lostcamerawarnbox.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/passwordbox.h"
#include "widgets/productalarmwarnbox.h"
#include "widgets/warnbox.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QScreen>
#include <QSqlError>
#include <QThread>

#include <glog/logging.h>

ReDoWizard::ReDoWizard(QWidget* parent)
    : QWidget(parent)
{
    currentEdit = nullptr;
    gpWin = this;
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        gShowW = s->geometry().width();
        gShowH = s->geometry().height();
    }

    // Made before the parameter files are looked at: a damaged file is told
    // through it, and it has no parent yet, so it shows on its own.
    delete gpWarnBox;
    gpWarnBox = new WarnBox(nullptr);

    // The parameters (PARAM.db checked, opened and loaded into gpWPara).
    m_paraDbOpen = ParameterStartup::run(this);
    // The journal: today's file (restored when missing), its connection.
    OperationRecords* journal = OperationRecords::instance();
    journal->checkRecordFileAtStart();
    journal->openAtStart();

    // The cameras, in the stored order. This comes before the shared boxes
    // are re-parented to this (not yet shown) window: a damaged SN.db is told
    // through a box that must be on screen.
    CameraManager* cams = CameraManager::getInstance();
    if (cams->plugins.isEmpty())
        cams->loadPlugins();
    cams->loadCameraSN();
    cams->findCameras();
    cams->sortCamera();

    delete gpChooseBox;
    gpChooseBox = new ChooseBox(nullptr, 750, 370);
    // The pads replace themselves when destroyed (see createShared); a pad
    // left from an earlier window is reused.
    if (!gpNumPad)
        NumberInput::createShared();
    if (!gpNumCharPad)
        NumCharInput::createShared();
    delete gpPasswordBox;
    gpPasswordBox = new PasswordBox(nullptr);
    // The board link needs the loaded parameters (port number, inversions).
    delete gpControlIO;
    gpControlIO = new ControlPort();
    // The shared boxes and pads are drawn over the main window as its children.
    gpWarnBox->setParent(this);
    gpChooseBox->setParent(this);
    gpNumPad->setParent(this);
    gpNumCharPad->setParent(this);
    gpPasswordBox->setParent(this);
    gpChooseBox->setWindowFlags(gpChooseBox->windowFlags() | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
    gpWarnBox->hide();
    gpChooseBox->hide();
    gpNumPad->hide();
    gpNumCharPad->hide();
    gpPasswordBox->hide();
    delete gpLostCameraWarnBox;
    gpLostCameraWarnBox = new LostCameraWarnBox(nullptr);
    delete gpProductAlarmWarnBox;
    gpProductAlarmWarnBox = new ProductAlarmWarnBox(this);
    gpProductAlarmWarnBox->hide();

    // The journal's archive folder and day, then its 60 s day check and
    // the start-up entry.
    journal->makeArchiveDir();
    journal->loadDayAndCheck();
    installEventFilter(this);
    journal->startDayTimerAndRecordReady(numCamera);
}

ReDoWizard::~ReDoWizard()
{
    delete gpControlIO; // stops its polling thread first
    gpControlIO = nullptr;
}

int ReDoWizard::CheckPassword()
{
    if (gpWPara && gpWPara->isPswUsed == 0)
        return 1;
    if (loginLevel != 0)
        return loginLevel;
    if (gpPasswordBox)
        gpPasswordBox->exec();
    return loginLevel;
}

bool ReDoWizard::CheckRoot()
{
    if (loginLevel == 2)
        return true;
    if (gpPasswordBox)
        gpPasswordBox->exec();
    return loginLevel == 2;
}

bool ReDoWizard::eventFilter(QObject* watched, QEvent* e)
{
    // A press anywhere else ends a pad entry; a press on the pad (or one of
    // its keys) is its own.
    if (e->type() == QEvent::MouseButtonPress) {
        QWidget* w = watched->isWidgetType() ? static_cast<QWidget*>(watched) : nullptr;
        const auto hideUnlessOwn = [watched, w](QWidget* pad) {
            if (pad && pad->isVisible() && watched != pad && !(w && pad->isAncestorOf(w)))
                pad->hide();
        };
        hideUnlessOwn(gpNumPad);
        hideUnlessOwn(gpNumCharPad);
    }
    return QWidget::eventFilter(watched, e);
}

// --- machine cycle -----------------------------------------------------------

MachineCycle* ReDoWizard::machineCycle()
{
    if (!m_cycle) {
        m_cycleHooks = std::make_unique<WindowCycleHooks>(this);
        m_cycle = std::make_unique<MachineCycle>(m_cycleHooks.get());
        cycle = m_cycle.get();
        // A changed output word wakes the poll in 1 ms.
        if (gpControlIO)
            connect(gpControlIO, &ControlPort::sigIOChange, this, [this] { m_cycle->outputsChanged(); });
    }
    return m_cycle.get();
}

void ReDoWizard::initMachineCycle()
{
    machineCycle();
    CountRead();
    m_cycle->startPolling(5);
}

void ReDoWizard::setCycleCameras(const std::vector<CameraViewState*>& views, const CycleCameraCalls& calls)
{
    machineCycle()->setCameras(views);
    m_cycleHooks->calls = calls;
}

int ReDoWizard::CheckInput(int n) { return machineCycle()->CheckInput(n); }
void ReDoWizard::TimerUp(int d) { machineCycle()->TimerUp(d); }
void ReDoWizard::RunAlgorithm(int camera, int d) { machineCycle()->RunAlgorithm(camera, d); }
bool ReDoWizard::CameraCheck() { return machineCycle()->CameraCheck(); }
void ReDoWizard::Run() { machineCycle()->Run(); }
void ReDoWizard::TimerCheckInput0() { machineCycle()->TimerCheckInput(0); }
void ReDoWizard::TimerCheckInput1() { machineCycle()->TimerCheckInput(1); }
void ReDoWizard::TimerCheckInput2() { machineCycle()->TimerCheckInput(2); }
void ReDoWizard::TimerCheckInput3() { machineCycle()->TimerCheckInput(3); }
void ReDoWizard::TimerCheckInput4() { machineCycle()->TimerCheckInput(4); }
void ReDoWizard::TimerCheckInput5() { machineCycle()->TimerCheckInput(5); }
void ReDoWizard::TimerCheckInput6() { machineCycle()->TimerCheckInput(6); }
void ReDoWizard::TimerCheckInput7() { machineCycle()->TimerCheckInput(7); }
void ReDoWizard::TimerUp0() { TimerUp(0); }
void ReDoWizard::TimerUp1() { TimerUp(1); }
void ReDoWizard::TimerUp2() { TimerUp(2); }
void ReDoWizard::TimerUp3() { TimerUp(3); }
void ReDoWizard::TimerUp4() { TimerUp(4); }
void ReDoWizard::TimerUp5() { TimerUp(5); }
void ReDoWizard::TimerUp6() { TimerUp(6); }
void ReDoWizard::TimerUp7() { TimerUp(7); }
void ReDoWizard::ReCheck() { machineCycle()->ReCheck(); }
void ReDoWizard::SlotManualTrig(int d) { machineCycle()->SlotManualTrig(d); }
void ReDoWizard::SlotManualTrig0() { SlotManualTrig(0); }
void ReDoWizard::SlotManualTrig1() { SlotManualTrig(1); }
void ReDoWizard::SlotMuliManualTrig() { machineCycle()->SlotMuliManualTrig(); }
void ReDoWizard::CheckNG(bool isClearNG) { machineCycle()->CheckNG(isClearNG); }
void ReDoWizard::BackTrain() { machineCycle()->BackTrain(); }
void ReDoWizard::SlotClearNGAlarm() { machineCycle()->SlotClearNGAlarm(); }
void ReDoWizard::StartDetect() { machineCycle()->StartDetect(); }
void ReDoWizard::StopDetect() { machineCycle()->StopDetect(); }
void ReDoWizard::SetStopDetect() { machineCycle()->SetStopDetect(); }
void ReDoWizard::SlotStartStop() { machineCycle()->SlotStartStop(); }
void ReDoWizard::ResetRun() { machineCycle()->ResetRun(); }
void ReDoWizard::mulitOutputInit() { machineCycle()->mulitOutputInit(); }
void ReDoWizard::TimerShow() { machineCycle()->TimerShow(); }
void ReDoWizard::OutTimerOutNG() { machineCycle()->OutTimerOutNG(); }
void ReDoWizard::OutTimerNotAllowClose() { machineCycle()->OutTimerNotAllowClose(); }
void ReDoWizard::OutTimerNotAllowThimble() { machineCycle()->OutTimerNotAllowThimble(); }
void ReDoWizard::OutTimerSysFunc4Output() { machineCycle()->OutTimerSysFunc4Output(); }
void ReDoWizard::CountWrite() { ProductionCounters::CountWrite(); }
void ReDoWizard::CountRead() { ProductionCounters::CountRead(); }
void ReDoWizard::AddStatistics() { machineCycle()->AddStatistics(); }
void ReDoWizard::LostCamera() { machineCycle()->LostCamera(); }
void ReDoWizard::CameraSetSpeed() { machineCycle()->CameraSetSpeed(); }
void ReDoWizard::SlotReTrain() { machineCycle()->SlotReTrain(); }
void ReDoWizard::CameraRestart() { machineCycle()->CameraRestart(); }

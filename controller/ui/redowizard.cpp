#include "controller/ui/redowizard.h"
#include "controller/ui/boardlinkbox.h"
#include "controller/controlport.h"
#include "controller/operationrecords.h"
#include "controller/machinecycle.h"
#include "controller/productioncounters.h"
#include "controller/ui/windowcyclehooks.h"
#include "controller/ui/customionamewidget.h"
#include "controller/exportcatalogue.h"
#include "controller/ui/indexbutton.h"
#include "controller/cyclehooks.h"
#include "controller/ui/iostatuswidget.h"
#include "controller/ui/iowidget.h"
#include "controller/lcdonoff.h"
#include "controller/stationexit.h"
#include "frame/ui/startup.h"
#include "inspection/cammerrecong.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "inspection/roicommit.h"
#include "inspection/viewimages.h"
#include "netservices/modbusserver.h"
#include "netservices/zev_netmn.h"
#include "records/copy2movedisk.h"
#include "records/diskmanager.h"
#include "records/resstatisticsparam.h"
#include "records/savefialimagethread.h"
#include "records/ui/statisticswidget.h"
#include "settings/ui/dataexport.h"
#include "settings/ui/hardwareconfigurationwidget.h"
#include "settings/ui/helpwidget.h"
#include "settings/ui/recordspage.h"
#include "settings/ui/widgetchangecamera.h"
#include "settings/ui/wizardparawidget.h"
#include "widgets/colorbutton.h"
#include "widgets/floatslider.h"
#include "widgets/shapedtext.h"
#include "widgets/splashframe.h"
#include "frame/globals.h"
#include "frame/parameterstartup.h"
#include "frame/operatorprompt.h"
#include "inspection/cameramanager.h"
#include "frame/wizardpara.h"
#include "widgets/choosebox.h"
#include "widgets/lostcamerawarnbox.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/passwordbox.h"
#include "widgets/productalarmwarnbox.h"
#include "widgets/warnbox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QtConcurrent/QtConcurrentMap>
#include <QEvent>
#include <QScreen>
#include <QThread>

namespace {
void splash(int step, const QString& text)
{
    if (g_splashframe)
        g_splashframe->flushstep(step, text);
}

// Positioning, alignment and masks of detection d, from the view's templates.
void retrainEngine(CammerWidget* v, int d)
{
    if (!v || !v->recong)
        return;
    v->recong->CreateShape(d);
    v->recong->CreateHomoShape(d);
    v->recong->VarTrain(d);
}

QLabel* cornerLabel(QWidget* parent, int bottomOffset, const QString& colour)
{
    auto* l = new ShapedLabel(parent); // over the live views: repainted with every frame
    l->setGeometry(gShowW - 240, gShowH - bottomOffset, 240, 30);
    l->setAlignment(Qt::AlignCenter);
    l->setStyleSheet(QStringLiteral("QLabel{outline:0px;border:none;font-size:25px;color:%1;}").arg(colour));
    return l;
}
} // namespace

ReDoWizard::ReDoWizard(QWidget* parent)
    : QWidget(parent)
{
    // 1-4. The window, the screen and the back-light.
    splash(71, QStringLiteral("加载界面中..."));
    gpWin = this;
    LCDOnOff(1);
    setWindowFlags(Qt::CustomizeWindowHint);
    if (QScreen* sc = QGuiApplication::primaryScreen()) {
        gShowW = sc->geometry().width();
        gShowH = sc->geometry().height();
    }
    setFixedSize(gShowW, gShowH);

    // 5. The network services' workspace (the counters live there too).
    QDir().mkpath(QDir::currentPath() + QStringLiteral("/ruv_net/workspace/"));

    // 8. Timers of the window itself; the cycle's own run on the station clock.
    logoutTimer = new QTimer(this);
    connect(logoutTimer, &QTimer::timeout, this, &ReDoWizard::TimerLogout);
    screenOffTimer = new QTimer(this);
    connect(screenOffTimer, &QTimer::timeout, this, &ReDoWizard::TimerLCD);
    splash(75, QStringLiteral("加载数据..."));

    // 10. Made before the parameter files are looked at: a damaged file is
    // told through it, and it has no parent yet, so it shows on its own.
    delete gpWarnBox;
    gpWarnBox = new WarnBox(nullptr);

    // 11-17. The parameters (PARAM.db checked, opened and loaded into
    // gpWPara), then the journal (RECORD.db checked and opened).
    m_paraDbOpen = ParameterStartup::run(this);
    OperationRecords* journal = OperationRecords::instance();
    journal->checkRecordFileAtStart();
    journal->openAtStart();
    if (gpWPara->systemMode == 3)
        curDetect = 0;
    else
        curDetect = (gpWPara->enableProdDetect != 1 ? 1 : 0) + ((gpWPara->systemMode == 1 || gpWPara->systemMode == 2) && gpWPara->moldSelect == 1 ? 2 : 0);

    // 18. The cameras, in the stored order. This comes before the shared
    // boxes are re-parented to this (not yet shown) window: a damaged SN.db is
    // told through a box that must be on screen.
    CameraManager* cams = CameraManager::getInstance();
    if (cams->plugins.isEmpty())
        cams->loadPlugins();
    cams->loadCameraSN();
    cams->findCameras();
    cams->sortCamera();

    // 19-21. Shared question box and keypads.
    delete gpChooseBox;
    gpChooseBox = new ChooseBox(nullptr, 750, 370);
    if (!gpNumPad)
        NumberInput::createShared();
    if (!gpNumCharPad)
        NumCharInput::createShared();

    // 22. The board link, the clamp on until the first decision.
    delete gpControlIO;
    gpControlIO = new ControlPort();
    gpControlIO->IOSetOut(0, 1);
    gpControlIO->IOFlashOut();
    splash(80, messageText(649));

    // 25-27. Camera views; the manager may ask about a changed count.
    buildCameraViews();
    cams->checkCameraCount();
    curCamera = numCamera == 1 ? 0 : numCamera;
    splash(85, messageText(650));
    modbus = std::make_shared<ModbusServer>();
    splash(90, messageText(650));

    // 29. Controls and pages of the main screen.
    buildPages();

    // 30. Result folders, result-image slots and their writer.
    makeResultFolders();
    for (int c = 0; c < numCamera; ++c)
        if (views[c])
            ViewImages::AllocFailImageSlots(c, views[c]->pixelCount);
    if (!gpSaveFialImageThread) {
        gpSaveFialImageThread = new SaveFialImageThread;
        gpSaveFialImageThread->setCameraSize([](int c) {
            ReDoWizard* w = gpWizard();
            return (w && c >= 0 && c < 8 && w->views[c]) ? QSize(w->views[c]->imageWidth, w->views[c]->imageHeight)
                                                        : QSize();
        });
        gpSaveFialImageThread->setPictureSink(
            [](int c, int d, bool ok, const QString& path) { ZEV_NETMN::getInstance()->add_PeriodRecord_Picture(c, d, ok, path); });
        gpSaveFialImageThread->start(QThread::InheritPriority);
    }

    // 31-32. The journal's archive folder and day.
    journal->makeArchiveDir();
    journal->loadDayAndCheck();

    // 33. Statistics: the model, its page and their connections.
    ResStatisticsParam* stats = ResStatisticsParam::getInstance();
    stats->init(gpWPara->getCurGroupName(), gDNum);
    stats->setTimer(gpWPara->useStatistics != 0);
    QStringList names{messageText(584)};
    for (int d = 0; d < gDNum; ++d)
        names << RoiCommit::detectionName(d);
    StatisticsWidget* page = StatisticsWidget::getInstance();
    page->createWidget(names);
    page->connectModel(stats);
    connect(this, &ReDoWizard::sendRecord, stats, &ResStatisticsParam::addRecord);

    // 34-38. The cycle: detection on, the optional output, the first poll,
    // the counters; the day check and the ready record.
    wireCycle();
    StartDetect();
    if (gpWPara->stopDetectCutOff)
        gpControlIO->IOSetOut(3, 0);
    gpControlIO->IOFlashOut();
    installEventFilter(this);
    gpWarnBox->hide();
    initMachineCycle();
    journal->startDayTimerAndRecordReady(numCamera);
    fpsTimer = new QTimer(this);
    connect(fpsTimer, &QTimer::timeout, this, &ReDoWizard::SlotFPS);
    fpsTimer->start(1000);
    if (gpWPara->scrOffTime > 0)
        screenOffTimer->start(gpWPara->scrOffTime * 1000);

    // 39. The shared boxes join the window; drives and export label.
    // The boxes stay windows of their own, owned by this one: a box that
    // became a child would show under whatever page was raised since (the
    // full-screen settings window) and would block nothing while it waits.
    // The keypads are children: each opens inside the page of its field.
    for (QDialog* box : {static_cast<QDialog*>(gpWarnBox), static_cast<QDialog*>(gpChooseBox),
                         static_cast<QDialog*>(gpPasswordBox)})
        box->setParent(this, box->windowFlags() | Qt::Dialog);
    gpNumPad->setParent(this);
    gpNumCharPad->setParent(this);
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
    wireNeighbours();
    // Right over the camera views, under every control and page.
    boardLinkBox = new BoardLinkBox(this, gpControlIO);
    boardLinkBox->stackUnder(helpButton);
    boardLinkBox->setKeepClear([this] {
        QVector<QRect> clear;
        for (CammerWidget* v : views)
            if (v && v->isVisible())
                for (const QRect& r : v->keepClear())
                    clear << (r & v->rect()).translated(v->pos());
        for (QWidget* w : {static_cast<QWidget*>(helpButton), static_cast<QWidget*>(zoomSlider),
                           static_cast<QWidget*>(statusStrip), static_cast<QWidget*>(roiPanel),
                           static_cast<QWidget*>(sideBar)})
            if (w && w->isVisible())
                clear << w->geometry();
        return clear;
    });

    // 40. The export catalogue.
    exportCatalogue = new ExportCatalogue;
}

void ReDoWizard::buildCameraViews()
{
    CameraManager* cams = CameraManager::getInstance();
    const auto build = [this](const QVector<_cameraInfo>& list, QVector<_cameraInfo>* kept) {
        for (int k = 0; k < list.size() && k < 8; ++k) {
            auto* v = new CammerWidget(this, numCamera, list[k]);
            if (v->isOpen) {
                views[numCamera] = v;
                cameraViews[numCamera] = v;
                if (kept)
                    kept->append(list[k]);
                ++numCamera;
            } else {
                delete v; // the next camera takes its number
            }
        }
    };
    numCamera = 0;
    QVector<_cameraInfo> kept;
    build(cams->cameras, &kept);
    if (numCamera > 0) {
        cams->cameras = kept;
        return;
    }
    // No camera opened: the plug-ins' simulated cameras stand in.
    cams->findSumulateCameras();
    build(cams->cameras, nullptr);
}

void ReDoWizard::buildPages()
{
    helpButton = new ColorButton(QString(), this, 3);
    helpButton->setGeometry(5, 300, 70, 70);
    helpButton->setIcon(QIcon(QStringLiteral("./images/help.png")));
    helpButton->setIconSize(QSize(70, 70));
    connect(helpButton, &QPushButton::clicked, this, &ReDoWizard::SlotHelp);
    versionLabel = cornerLabel(this, 50, QStringLiteral("#00FF00"));
    versionLabel->setText(QStringLiteral("Ver:") + QString::fromLatin1(kSoftwareVersion));
    modeLabel = cornerLabel(this, 85, QStringLiteral("#00FF00"));
    const int modeMsg[] = {384, 385, 386, 472};
    modeLabel->setText(messageText(722) + messageText(modeMsg[qBound(0, gpWPara->systemMode, 3)]));
    exportLabel = cornerLabel(this, 120, QStringLiteral("#ff9900"));

    statusStrip = new IOStatusWidget(this);
    IOStatusWidget::setDrivePathSource([] { return Copy2MoveDisk::getInstance()->prepath(); });
    sideBar = new IndexButton(this);
    sideBar->installEventFilter(this);
    connect(sideBar->multiScreen, &QPushButton::clicked, this, &ReDoWizard::SlotReturn);
    connect(sideBar->startStop, &QPushButton::clicked, this, &ReDoWizard::SlotStartStop);
    connect(sideBar->systemPara, &QPushButton::clicked, this, &ReDoWizard::SlotSystemPara);
    connect(sideBar->resample, &QPushButton::clicked, this, &ReDoWizard::SlotReTrain);
    connect(sideBar->regionSettings, &QPushButton::clicked, this, &ReDoWizard::SlotAdjustArea);
    connect(sideBar->statistics, &QPushButton::clicked, this, &ReDoWizard::SlotShowStatistics);
    connect(sideBar->mouldSnap, &QPushButton::clicked, this, &ReDoWizard::SlotManualTrig1);
    connect(sideBar->productSnap, &QPushButton::clicked, this, &ReDoWizard::SlotManualTrig0);
    connect(sideBar->snap, &QPushButton::clicked, this, &ReDoWizard::SlotMuliManualTrig);

    roiPanel = new DrawROIWidget(this);
    roiPanel->hide();
    roiPanel->installEventFilter(this);
    settingsWindow = new WizardParaWidget(this);
    ioPage = new IOWidget(settingsWindow);
    ioPage->hide();
    recordsPage = new RecordsPage(settingsWindow);
    recordsPage->hide();
    dataExport = new DataExport(settingsWindow, this);
    // The page and the names dialog load the live set once, at construction:
    // what the operator confirmed there stays until the settings commit.
    settingsWindow->showIOPage = [this] {
        ioPage->setGeometry(settingsWindow->rect());
        ioPage->show();
        ioPage->raise();
    };
    settingsWindow->showRecords = [this] {
        recordsPage->setGeometry(settingsWindow->rect());
        recordsPage->reload();
        recordsPage->show();
        recordsPage->raise();
    };
    settingsWindow->exportData = [this] { dataExport->SlotExportData(); };
    settingsWindow->endStation = [this](int kind) { endStation(kind); };
    settingsWindow->imageSettingsCommitted = [](int useBefore) {
        Copy2MoveDisk::getInstance()->applyCommittedSettings(gpWPara->days, useBefore, gpWPara->useDiskSaveImage);
    };
    settingsWindow->applyCameras = [this] {
        for (CammerWidget* v : views)
            if (v) {
                v->CameraChangeTrig(gpWPara->extTrigger != 0);
                v->initSetting();
                v->SetSpeed();
            }
    };
    settingsWindow->retrain = [this] {
        for (CammerWidget* v : views)
            for (int d = 0; d < gDNum && d < 8; ++d)
                retrainEngine(v, d);
    };
    connect(ioPage, &IOWidget::reCheckCaptionChanged, settingsWindow, &WizardParaWidget::ResetReCheck1Text);
    connect(ioPage, &IOWidget::pageLayoutRequested, settingsWindow, &WizardParaWidget::DoChangePage);
    connect(dataExport, &DataExport::sigExportDataStart, settingsWindow, &WizardParaWidget::sigExportDataStart);
    connect(dataExport, &DataExport::sigExportDataFinish, settingsWindow, &WizardParaWidget::sigExportDataFinish);

    helpPage = new HelpWidget(this);
    cameraNumbering = new WidgetChangeCamera(this);
    customNames = new CustomIONameWidget(this, ioPage);
    settingsWindow->showCustomNames = [this] {
        customNames->show();
        customNames->raise();
    };
    // Confirming the names goes back to the settings window, which opened the
    // dialog by hiding itself: the names wait there in the edit copy.
    connect(customNames, &CustomIONameWidget::settingsWindowRequested, settingsWindow, [this] {
        settingsWindow->show();
        settingsWindow->raise();
    });
    zoomSlider = new FloatSlider(this);
    zoomSlider->setGeometry((gShowW - 1000) / 2, gShowH - 125, 1000, 35);
    zoomSlider->setFactor(100.0f);
    zoomSlider->setRange(100, 500);
    connect(zoomSlider, &FloatSlider::updateValue, this, [this](float v) { MScale(v); });
    customNames->init();
    customNames->hide();
    hardwarePage = new HardwareConfigurationWidget(this);
    hardwarePage->hide();
    delete gpPasswordBox;
    gpPasswordBox = new PasswordBox(nullptr);
    helpPage->hide();
    settingsWindow->hide();
    cameraNumbering->hide();
    ChangeCammer();
    statusStrip->raise();
    sideBar->raise();
}

void ReDoWizard::makeResultFolders()
{
    for (int c = 1; c <= numCamera; ++c)
        for (int d = 1; d <= 8; ++d) {
            QDir().mkpath(QStringLiteral("./alarmimage//camera%1//detect%2//NG").arg(c).arg(d));
            QDir().mkpath(QStringLiteral("./alarmimage//camera%1//detect%2//OK").arg(c).arg(d));
            QDir().mkpath(QStringLiteral("./cammer%1%2").arg(c).arg(d));
            QDir().mkpath(QStringLiteral("./originalimage//cammer%1%2").arg(c).arg(d));
        }
}

void ReDoWizard::wireCycle()
{
    std::vector<CameraViewState*> list;
    for (int c = 0; c < numCamera; ++c)
        list.push_back(views[c]);
    const auto view = [this](int c) { return (c >= 0 && c < 8) ? views[c] : nullptr; };
    CycleCameraCalls calls;
    calls.grab = [view](int c) { CammerWidget* v = view(c); return v && v->UpdateImage(); };
    calls.inspect = [view](int c, int d) {
        CammerWidget* v = view(c);
        if (!v || !v->recong)
            return;
        inspectOnEngine(*v->recong, d);
        v->update();
    };
    calls.saveFailImage = [view](int c, int d, int slot) {
        if (CammerWidget* v = view(c))
            v->SaveFailImage(d, slot);
    };
    calls.updateFailImage = [view](int c, int d, int slot) {
        if (CammerWidget* v = view(c))
            v->UpdateFailImage(d, slot);
    };
    calls.saveReTrainImage = [view](int c, int d) {
        if (CammerWidget* v = view(c))
            v->SaveReTrainImage(d);
    };
    calls.retrain = [view](int c, int d) { retrainEngine(view(c), d); };
    calls.softTrigger = [view](int c) {
        if (CammerWidget* v = view(c))
            v->ManualUpdateImage();
    };
    calls.startBlink = [view](int c) {
        if (CammerWidget* v = view(c); v && v->alarmTimer)
            v->alarmTimer->start(1000);
    };
    calls.setSpeed = [view](int c) {
        if (CammerWidget* v = view(c))
            v->SetSpeed();
    };
    calls.showFrames = [view](const std::vector<int>& cameras) {
        // Scaling a large frame to its view costs milliseconds: the views
        // make theirs at once, each on a worker, rather than one after the
        // other when the screen is painted.
        std::vector<CammerWidget*> shown;
        for (int c : cameras)
            if (CammerWidget* v = view(c); v && v->isVisible())
                shown.push_back(v);
        if (shown.size() > 1)
            QtConcurrent::blockingMap(shown, [](CammerWidget* v) { v->prepareShownFrame(); });
    };
    setCycleCameras(list, calls);
}

void ReDoWizard::wireNeighbours()
{
    // Drives: the list to the image writer, its state to the journal.
    Copy2MoveDisk* writer = Copy2MoveDisk::getInstance();
    connect(DiskManager::getInstance(), &DiskManager::diskInfoChange, this,
            [](QVector<UPanInfo> drives) { Copy2MoveDisk::getInstance()->diskInfoChange(drives); });
    connect(writer, &Copy2MoveDisk::diskStateChange, this, [](bool inUse) {
        if (inUse) {
            gpWin->InsertRecord(messageText(724), QStringLiteral("info"));
            return;
        }
        if (gpWPara && gpWPara->lostUpanAlarm && gpWarnBox) {
            gpWarnBox->setText(messageText(725));
            gpWarnBox->show();
        }
        gpWin->InsertRecord(messageText(726), QStringLiteral("info"));
    });
    // The export label follows both exports.
    connect(settingsWindow, &WizardParaWidget::sigExportDataStart, this,
            [this] { exportLabel->setText(messageText(727)); });
    connect(settingsWindow, &WizardParaWidget::sigExportDataFinish, this, [this] { exportLabel->clear(); });
    StatisticsWidget* page = StatisticsWidget::getInstance();
    connect(page, &StatisticsWidget::sigExportDataFinish, this, [this] { exportLabel->clear(); });
    connect(page, &StatisticsWidget::sigExportProgress, this, [this](int total, int done) {
        // No day file in the range: nothing to count, no percentage.
        if (total <= 0) {
            exportLabel->clear();
            return;
        }
        exportLabel->setText(messageText(723).arg(done * 100 / total));
    });
}

namespace {
// Lets the result-image writer finish its pass and stop.
void stopImageWriter()
{
    if (gpSaveFialImageThread) {
        gpSaveFialImageThread->requestStop();
        gpSaveFialImageThread->wait();
    }
}
} // namespace

ReDoWizard::~ReDoWizard()
{
    stopImageWriter();
    delete gpSaveFialImageThread;
    gpSaveFialImageThread = nullptr;
    delete exportCatalogue;
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
    if (watched && (watched == sideBar || watched == roiPanel)) {
        switch (e->type()) {
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
        case QEvent::Move:
        case QEvent::Resize:
            updateCoveredViews();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, e);
}

void ReDoWizard::updateCoveredViews()
{
    // The side bar and the editor's panel (also the alarm's) stand at the
    // right over the views; the counters at the right end of a view's top
    // lines keep left of whichever of them reaches furthest left there.
    QVector<QRect> overlays;
    for (QWidget* w : {static_cast<QWidget*>(sideBar), static_cast<QWidget*>(roiPanel)})
        if (w && !w->isHidden())
            overlays << w->geometry();
    for (CammerWidget* v : views) {
        if (!v)
            continue;
        // Only the counters line (the top 100 px) matters.
        const QRect head(v->geometry().topLeft(), QSize(v->width(), std::min(v->height(), 100)));
        int covered = 0;
        if (!v->isHidden())
            for (const QRect& o : overlays)
                if (o.intersects(head) && o.left() > head.left())
                    covered = std::max(covered, head.right() - o.left() + 1);
        v->setCoveredRight(covered);
    }
}

// --- main window slots -------------------------------------------------------

bool ReDoWizard::pageShown() const
{
    return (settingsWindow && settingsWindow->isVisible()) || (helpPage && helpPage->isVisible())
           || (cameraNumbering && cameraNumbering->isVisible()) || (customNames && customNames->isVisible())
           || (roiPanel && roiPanel->isVisible());
}

bool ReDoWizard::settingsWindowVisible() const { return settingsWindow && settingsWindow->isVisible(); }

void ReDoWizard::SlotDrawHint()
{
    ++hintGeneration; // a pending hint timeout has nothing left to do
    gDrawHint = 0;
    update();
    for (CammerWidget* v : views)
        if (v)
            v->update();
}

void ReDoWizard::TimerLogout()
{
    logoutTimer->stop();
    loginLevel = 0;
    if (statusStrip)
        statusStrip->update();
}

void ReDoWizard::TimerLCD()
{
    screenOffTimer->stop();
    LCDOnOff(0);
}

void ReDoWizard::SlotFPS()
{
    // The heartbeat LED blinks while detecting and stays lit when stopped;
    // the bit itself says which half of the blink comes next.
    const bool lit = runState == 3 || !(ledMask() & (1 << 5));
    LEDOnOff(5, lit ? 1 : 0);
    if (statusStrip)
        statusStrip->update();
}

void ReDoWizard::SlotSystemPara()
{
    if (pageShown() || detectState == 2)
        return;
    if (loginLevel == 2)
        loginLevel = gpWPara->isPswUsed ? 1 : 0;
    if (!CheckPassword())
        return;
    *gpWParaBak = *gpWPara;
    sideBar->SlotShowHideTimeout();
    settingsWindow->ParaGroupUpdateList();
    settingsWindow->show();
    settingsWindow->raise();
    showhideMscale(false);
}

void ReDoWizard::SlotAdjustArea()
{
    if (pageShown() || detectState == 2 || !CheckPassword())
        return;
    detectState = 3;
    sideBar->ShowHide(0);
    statusStrip->hide();
    openRoiEditor(0);
}

void ReDoWizard::SlotShowAlarmImgae()
{
    if (pageShown() || detectState == 2)
        return;
    detectState = 3;
    sideBar->ShowHide(0);
    statusStrip->hide();
    openRoiEditor(4);
}

void ReDoWizard::CheckArea(bool)
{
    if (settingsWindow->isVisible())
        settingsWindow->hide();
    if (!CheckPassword()) {
        runState = 1;
        return;
    }
    detectState = 3;
    sideBar->ShowHide(0);
    gFromTrain = 1;
    openRoiEditor(0);
}

void ReDoWizard::openRoiEditor(int source)
{
    roiPanel->Reset(false);
    if (source != 0)
        roiPanel->setSource(source);
    roiPanel->show();
    roiPanel->raise();
}

void ReDoWizard::sideBarTouched()
{
    if (!sideBar)
        return;
    // A bar hidden by a page (the editor, the settings) keeps its shown flag:
    // only showing it again brings it back.
    if (sideBar->isVisible()) {
        sideBar->checkShowHide();
    } else {
        sideBar->show();
        if (gpNumPad)
            gpNumPad->HideUpdate();
    }
}

void ReDoWizard::showStatusStrip(bool show)
{
    if (statusStrip)
        statusStrip->setVisible(show);
}

void ReDoWizard::editorClosed()
{
    if (statusStrip)
        statusStrip->show();
    showhideHelp(true);
    showhideVersion(true);
    ChangeCammer();
}

void ReDoWizard::CheckArea() { CheckArea(false); }

void ReDoWizard::SlotReturn()
{
    if (pageShown() || detectState == 2)
        return;
    if (numCamera > 1) {
        curCamera = numCamera;
        ChangeCammer();
    } else {
        MScale(1.0f);
    }
}

void ReDoWizard::SlotHelp()
{
    if (pageShown())
        return;
    gHelpC = 6;
    helpPage->show();
    helpPage->raise();
}

void ReDoWizard::SlotShowStatistics()
{
    if (pageShown())
        return;
    StatisticsWidget* page = StatisticsWidget::getInstance();
    page->setGeometry(0, 0, gShowW, gShowH);
    page->showFullScreen();
    page->raise();
}

void ReDoWizard::ChangeCammer()
{
    zoomOffset = QPointF();
    zoomFactor = 1.0;
    const int w = gShowW, h = gShowH;
    const auto place = [](CammerWidget* v, int x, int y, int cw, int ch) {
        v->setGeometry(x, y, cw, ch);
        v->setWinSW();
        v->setWinSH();
        v->setShowSW();
        v->setShowSH();
        v->show();
    };
    if (numCamera == 1 && views[0]) {
        place(views[0], 0, 0, w, h);
    } else if (curCamera >= numCamera) {
        const int cols = numCamera <= 2 ? numCamera : numCamera <= 4 ? 2 : numCamera <= 6 ? 3 : 4;
        const int rows = numCamera <= 2 ? 1 : 2;
        for (int c = 0; c < numCamera; ++c)
            if (views[c])
                place(views[c], (c % cols) * (w / cols), (c / cols) * (h / rows), w / cols, h / rows);
    } else {
        for (int c = 0; c < numCamera; ++c)
            if (views[c]) {
                if (c == curCamera)
                    place(views[c], 0, 0, w, h);
                else
                    views[c]->hide();
            }
    }
    showhideMscale();
    MScaleSetToMin();
    if (statusStrip)
        statusStrip->raise();
    // An open editor keeps its panel over the strip (the strip shows with
    // the live and the recorded images).
    if (roiPanel && roiPanel->isVisible())
        roiPanel->raise();
    if (sideBar)
        sideBar->raise();
    updateCoveredViews();
}

void ReDoWizard::MScale(float z)
{
    if (z <= 1.0f) {
        zoomOffset = QPointF();
        zoomFactor = 1.0;
    } else {
        const double old = zoomFactor > 0 ? zoomFactor : 1.0;
        // The image point under the last pointer position stays under it.
        zoomOffset = m_pointer - (m_pointer - zoomOffset) / old * z;
        zoomFactor = z;
    }
    for (CammerWidget* v : views)
        if (v)
            v->update();
}

void ReDoWizard::MScaleSetToMin()
{
    if (zoomSlider)
        zoomSlider->setToMinValue();
}

void ReDoWizard::updateMScale(int x, int y)
{
    if (zoomFactor > 1.0) {
        zoomOffset += QPointF(x, y) - m_pointer;
        for (CammerWidget* v : views)
            if (v)
                v->update();
        if (zoomSlider)
            zoomSlider->startTimer();
    }
    m_pointer = QPointF(x, y);
}

void ReDoWizard::showhideMscale()
{
    const bool single = numCamera == 1 || (curCamera < numCamera);
    showhideMscale(gpWPara && gpWPara->imageZoom && single);
}

void ReDoWizard::showhideMscale(bool show)
{
    if (zoomSlider)
        zoomSlider->setVisible(show);
}

void ReDoWizard::showhideHelp(bool show)
{
    if (helpButton)
        helpButton->setVisible(show);
}

void ReDoWizard::showhideVersion(bool show)
{
    if (versionLabel)
        versionLabel->setVisible(show);
    if (modeLabel)
        modeLabel->setVisible(show);
}

void ReDoWizard::mouseReleaseEvent(QMouseEvent* e)
{
    setFocus();
    QWidget::mouseReleaseEvent(e);
}

void ReDoWizard::endStation(int kind)
{
    // The statistics store the minute not stored yet on every orderly end,
    // not only when the application quits.
    StationExit::Hooks hooks{[] {
                                 ProductionCounters::CountWrite();
                                 ResStatisticsParam::getInstance()->shutdown();
                             },
                             [] { StopWTD(); },
                             settingsWindow ? settingsWindow->afterClose : std::function<void()>(),
                             settingsWindow ? settingsWindow->beforeSave : std::function<void()>(),
                             [this] {
                                 if (modbus)
                                     modbus->stop();
                             }};
    StationExit::run(StationExit::Kind(kind), hooks);
}

void ReDoWizard::closeEvent(QCloseEvent* e)
{
    // Closing the window on a desktop ends the run like the exit action.
    endStation(StationExit::Exit);
    QWidget::closeEvent(e);
}

// --- machine cycle -----------------------------------------------------------

MachineCycle* ReDoWizard::machineCycle()
{
    if (!m_cycle) {
        m_cycleHooks = std::make_unique<WindowCycleHooks>(this);
        m_cycle = std::make_unique<MachineCycle>(m_cycleHooks.get());
        cycle = m_cycle.get();
        // A changed output word wakes the poll in 1 ms, and its lamps light
        // now.
        if (gpControlIO)
            connect(gpControlIO, &ControlPort::sigIOChange, this, [this] {
                m_cycle->outputsChanged();
                if (statusStrip)
                    statusStrip->update();
            });
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
void ReDoWizard::Run()
{
    machineCycle()->Run();
    // The board reported a change of its inputs: the strip's lamps follow at
    // once, not with the next frame or the once-a-second heartbeat (a poll
    // that ends early, stopped or in an alarm, repaints nothing).
    if (statusStrip)
        statusStrip->update();
}
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

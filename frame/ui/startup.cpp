#include "frame/ui/startup.h"

#include "controller/controlport.h"
#include "controller/operationrecords.h"
#include "controller/ui/mapplication.h"
#include "controller/ui/redowizard.h"
#include "controller/stationexit.h"
#include "frame/signalwatch.h"
#include "netservices/httpapiserver.h"
#include "netservices/modbusserver.h"
#include "netservices/netcards.h"
#include "netservices/zev_netmn.h"
#include "records/copy2movedisk.h"
#include "records/countgroup.h"
#include "records/diskmanager.h"
#include "records/resstatisticsparam.h"
#include "records/savefialimagethread.h"
#include "records/ui/statisticswidget.h"
#include "records/upaninfo.h"
#include "frame/clock.h"
#include "frame/deviceid.h"
#include "inspection/camerainterface.h"
#include "inspection/cameramanager.h"
#include "inspection/cameraviewstate.h"
#include "frame/globals.h"
#include "frame/logmanager.h"
#include "frame/messagetable.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "platform/commandrunner.h"
#include "platform/leddevice.h"
#include "platform/platformpath.h"
#include "widgets/boxprompt.h"
#include "widgets/envprobe.h"
#include "widgets/sharedpixmaps.h"
#include "widgets/splashframe.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaType>
#include <QMutex>
#include <QPair>
#include <QTextCodec>
#include <QThread>
#include <QTimer>

#include <sys/io.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The HTTP API, from the network services' start to the end of the run.
std::unique_ptr<HttpApiServer> g_httpApi;

} // namespace

void waitForHardware(const std::function<void(int, const QString&)>& show)
{
    const auto sleepOneSecond = [] { Clock::instance()->sleepMs(1000); };
    CommandRunner::system("python3 ./ruv_net/zivod20_upnetcard.py &");
    for (int step = 6; step <= 10; ++step) {
        sleepOneSecond();
        show(step, QStringLiteral("配置网卡中..."));
    }
    show(15, QStringLiteral("等待相机开启..."));
    int step = 15;
    for (int k = 1; k <= 10; ++k) {
        sleepOneSecond();
        step += (k % 3 == 0) ? 2 : 3;
        show(step, QStringLiteral("等待相机开启..."));
    }
}

namespace {

void printSummary(const ModbusServer* modbus)
{
    std::printf("station %s started in %s\n", kSoftwareVersion, qPrintable(QDir::currentPath()));
    if (gpWPara) {
        std::printf("  parameter group: %s, language: %s, detections per camera: %d\n",
                    qPrintable(gpWPara->getCurGroupName()), qPrintable(MessageTable::languageName(gLan & 3)), gDNum);
    }
    // The cameras the main window opened, in view order.
    CameraManager* cams = CameraManager::getInstance();
    std::printf("  cameras in use: %d%s\n", numCamera, cams->noCamera ? " (simulated)" : "");
    for (int i = 0; i < cams->cameras.size(); ++i)
        std::printf("    camera %d: %s %s\n", i + 1, qPrintable(cams->cameras[i].typeName),
                    qPrintable(cams->cameras[i].serial()));
    std::printf("  device identity: %s\n",
                qPrintable(gDeviceID.isEmpty() ? QString("(none: no processor serial, no system disk found)") : gDeviceID));
    // Said either way: a client pointed at the usual port while another
    // program holds it would otherwise be answered by that program.
    if (g_httpApi && g_httpApi->isListening())
        std::printf("  HTTP API: http://%s:%u/v18/http/\n", qPrintable(g_httpApi->address()), g_httpApi->port());
    else if (g_httpApi)
        std::printf("  HTTP API: not listening (%s); the station runs without it\n",
                    qPrintable(g_httpApi->whyNotListening()));
    if (modbus && modbus->isListening())
        std::printf("  Modbus TCP slave: %s:%u\n", qPrintable(modbus->address()), modbus->port());
    else if (modbus)
        std::printf("  Modbus TCP slave: not listening (%s); the station runs without it\n",
                    qPrintable(modbus->whyNotListening()));
    std::printf("  logs: %s\n", qPrintable(QDir::cleanPath(QDir::current().absoluteFilePath(LogManager::logDir()))));
    std::printf("station running: stop it with Ctrl-C or SIGTERM (the exit action runs in order)\n");
    std::fflush(stdout);
}

// Said on the console once the run is over, so whoever stopped it knows
// where to look at what it did.
void printEnd()
{
    const QDir here = QDir::current();
    std::printf("station ended; operation records: %s (one archived file a day in %s/), logs: %s\n",
                qPrintable(here.absoluteFilePath(QString::fromLatin1(OperationRecords::kDbFile))),
                qPrintable(here.absoluteFilePath(QString::fromLatin1(OperationRecords::kArchiveDir))),
                qPrintable(QDir::cleanPath(here.absoluteFilePath(LogManager::logDir()))));
    std::fflush(stdout);
}

// Every thread the run started ends before the process does: one still
// polling while the process tears down its globals crashes it, leaving a
// false crash trace and marking the next start's log as an error log. The
// ordered end stops and closes the cameras itself; a way down that ran its
// own command (a reboot asked at start-up, the lost-camera power-off) left
// them open.
void joinStationThreads()
{
    // First: its requests reach into what the others own.
    g_httpApi.reset();
    StationExit::closeCameras();
    if (gpSaveFialImageThread) {
        gpSaveFialImageThread->requestStop();
        gpSaveFialImageThread->wait();
    }
    Copy2MoveDisk::getInstance()->stop();
    if (DiskManager::_instance)
        DiskManager::_instance->stop();
    if (gpControlIO)
        gpControlIO->stopIOThread();
    // Stores the day's counts once more and ends the database thread.
    ResStatisticsParam::destroyInstance();
    // Ends the export worker's thread (an export in progress runs to its end).
    delete StatisticsWidget::instance;
}

} // namespace

void StopWTD()
{
    Clock::instance()->sleepMs(1000);
}

void Exit(int status)
{
    StopWTD();
    std::exit(status);
}

QString funcNumberToQString(int a, int b)
{
    return QStringLiteral("D%1_T%2").arg(a).arg(b);
}

namespace {
struct IntervalStats {
    timeval start{}, finish{};
    int total = 0, count = 0, maximum = 0, minimum = 0x7fffffff, next = 0, last = 0;
} gInterval;
} // namespace

int CaclTime()
{
    gettimeofday(&gInterval.finish, nullptr);
    const int elapsed = int((gInterval.finish.tv_sec - gInterval.start.tv_sec) * 1000
                            + (gInterval.finish.tv_usec - gInterval.start.tv_usec) / 1000);
    gInterval.total += elapsed;
    ++gInterval.count;
    if (elapsed > gInterval.maximum) gInterval.maximum = elapsed;
    if (elapsed < gInterval.minimum) gInterval.minimum = elapsed;
    gInterval.last = gInterval.next;
    gInterval.next = elapsed;
    return std::printf("%f\n", double(elapsed));
}

void writeVersionToJson()
{
    // The network settings' own merge: the other keys stay, a damaged file
    // is kept aside, and a link or a FIFO at the name is neither written
    // through nor waited on. Without the ruv_net folder nothing is written.
    NetCards::mergeConfig(QJsonObject{{"version", QString::fromLatin1(kSoftwareVersion)}, {"camcount", numCamera}},
                          false);
}

void registerMetaTypes()
{
    qRegisterMetaType<UPanInfo>("UPanInfo");
    qRegisterMetaType<QVector<UPanInfo>>("QVector<UPanInfo>");
    qRegisterMetaType<CountGroup>("CountGroup");
    qRegisterMetaType<QPair<QString, QString>>("QPair<QString, QString>");
}

int stationMain(int argc, char** argv)
{
    // A SIGTERM during the start-up is noted and answered once the window
    // stands, by the same ordered end as later.
    SignalWatch::catchSignals();
    // On the console, not in the log, which does not exist yet.
    std::printf("station %s starting in %s\n", kSoftwareVersion, qPrintable(QDir::currentPath()));
    std::fflush(stdout);
    registerMetaTypes();

    // The I/O privilege is only for the panel's own ports.
    if (!platform::isSimulated())
        (void)iopl(3);
    gfLED = LedDevice::open();

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    MApplication* app = MApplication::_instance ? MApplication::_instance : new MApplication(argc, argv);
    QFont::insertSubstitution("wqy-microhei", "WenQuanYi Micro Hei");
    QFont::insertSubstitution("wenquanyi", "WenQuanYi Micro Hei");
    BoxPrompt::installShared();
    ReDoWizard* win = nullptr;
    bool running = false, endRequested = false, ended = false;
    // Every end of the run leaves through the event loop, so the threads are
    // joined below; one that ran before the loop is seen there.
    StationExit::setProcessEnd(
        [&ended] {
            ended = true;
            QCoreApplication::exit(0);
        },
        arguments);
    // Ctrl-C or the service manager's SIGTERM end the run like the exit action.
    // During the start-up nobody is left to answer its boxes: the one waiting
    // and every later one are answered as if no screen were there (a message
    // taken as read, a question as NO), so the start-up runs through to the
    // ordered end.
    const auto answerOpenBoxes = [] {
        for (int i = 0; i < 16; ++i) {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!box)
                break;
            box->reject();
        }
    };
    QTimer answerBoxes;
    answerBoxes.setInterval(50);
    QObject::connect(&answerBoxes, &QTimer::timeout, answerOpenBoxes);
    SignalWatch::install([&win, &running, &endRequested, &answerBoxes, answerOpenBoxes](int) {
        if (running && win) {
            win->endStation(StationExit::Exit);
        } else if (!endRequested) {
            endRequested = true;
            OperatorPrompt::install(nullptr);
            answerBoxes.start();
            answerOpenBoxes();
        }
    });

    auto* splash = new SplashFrame;
    g_splashframe = splash;
    splash->flushstep(0, QStringLiteral("启动..."));

    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    if (!LogManager::__instance)
        new LogManager;
    SignalWatch::catchSignals(); // the logging library's crash handler took SIGTERM

    // Desktop runs (the variable set to the development Qt path) skip the
    // fixed waits for the network cards and the cameras.
    if (!isOpen_Env())
        waitForHardware([splash](int step, const QString& text) { splash->flushstep(step, text); });
    splash->flushstep(50, QStringLiteral("相机等待完毕..."));

    qInfo().noquote() << "*********************** application" << kSoftwareVersion
                      << "***********************";
    // Said once here, so that what a development machine lacks is not taken
    // for a fault further down the log.
    if (platform::isSimulated())
        qInfo().noquote() << platform::simulationNote();

    pMutexIO = new QMutex;
    pMutexSaveFail = new QMutex;

    if (MessageTable::load() < 0)
        qCritical() << "message table incomplete: some texts will be empty";

    SharedPixmaps::load(QStringLiteral("./images/"));
    splash->flushstep(60, QStringLiteral("加载应用程序..."));

    // What the run's callbacks hold goes with it.
    const auto leave = [] {
        joinStationThreads();
        printEnd();
        StationExit::setProcessEnd({});
        SignalWatch::install({});
    };
    win = new ReDoWizard(nullptr);
    if (ended) {
        // A reboot asked while the window was built (a changed camera count,
        // a damaged database file replaced) ended the run on the simulated
        // panel: nothing more is started.
        g_splashframe = nullptr;
        splash->close();
        splash->deleteLater();
        leave();
        return 0;
    }
    splash->flushstep(90, gaLanStr[4 * 651 + gLan]);

    gDeviceID = getlocal_deviceid();
    writeVersionToJson();
    ZEV_NETMN::instance()->initStart();
    g_httpApi = std::make_unique<HttpApiServer>();
    g_httpApi->start();
    Copy2MoveDisk* writer = Copy2MoveDisk::getInstance();
    writer->setDays(gpWPara->days);
    if (gpWPara->useDiskSaveImage)
        writer->start();
    DiskManager::getInstance()->start();
    gpControlIO->InitIOThread();
    win->showFullScreen();

    splash->flushstep(100, gaLanStr[4 * 652 + gLan]);
    splash->finish(win);
    splash->deleteLater();
    g_splashframe = nullptr;
    CommandRunner::system(QStringLiteral("notify-send \"监视器已开启\""));

    // A signal noted during the start-up ends the run now; one still on its
    // way is taken by the event loop.
    QCoreApplication::processEvents();
    answerBoxes.stop();
    if (endRequested || ended) {
        win->endStation(StationExit::Exit);
        leave();
        return 0;
    }
    running = true;
    printSummary(win->modbus.get());
    const int status = app->exec();
    leave();
    return status;
}

// The network services on the whole station: the main window over the
// simulated-camera plug-in and the board simulator's moulding machine on a
// pseudo-terminal, the viewer bridge a local HTTP listener. A part left in
// the mould raises the alarm, the operator takes it as a template from the
// editor, and the alarm's start and finish reach the bridge with one uuid;
// with the link off the same journey sends nothing. Real time throughout;
// every wait is bounded.
#include "boardsim.h"
#include "mouldingmachine.h"
#include "simscene.h"
#include "controller/controlport.h"
#include "controller/machinecycle.h"
#include "controller/mainstate.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/parameterstartup.h"
#include "frame/ui/startup.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammersingleton.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "netservices/httpsink.h"
#include "netservices/modbusserver.h"
#include "netservices/viewwatch2zel.h"
#include "netservices/zev_netmn.h"
#include "platform/platformpath.h"
#include "widgets/boxprompt.h"
#include "widgets/choosebox.h"
#include "widgets/colorbutton.h"
#include "widgets/warnbox.h"
#include "testsupport/testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QScreen>
#include <QSqlQuery>
#include <QTimer>
#include <QtTest>
#include <opencv2/imgcodecs.hpp>

class TstNetServicesChain : public QObject
{
    Q_OBJECT
private slots:
    void alarmReachesTheBridgeOnlyWhileTheLinkIsUp();
};

namespace {
// Part of the moulded cap's flat body (grey 200) in the 640 x 480 frame, and
// a guide pin as texture for a grey-template ROI.
const QRect kOnPart(220, 140, 40, 50);
const QRect kPin(10, 420, 50, 50);

void put(CammerSingleton& s, float sx, float sy, int d, int r, int type, QRect img, int a, int b, int c)
{
    const int i = d * 100 + r;
    s.roiCount[d] = std::max(s.roiCount[d], r + 1);
    s.funcType[i] = type;
    s.shapeKind[i] = 1;
    s.paramA[i] = a;
    s.paramB[i] = b;
    s.paramC[i] = c;
    s.rects[i].rect =
        QRect(qRound(img.x() * sx), qRound(img.y() * sy), qRound(img.width() * sx), qRound(img.height() * sy));
}
} // namespace

void TstNetServicesChain::alarmReachesTheBridgeOnlyWhileTheLinkIsUp()
{
    TestEnv env;
    QVERIFY(env.isValid());
    const QJsonObject cam{{"sn", "NET-1"}, {"width", 640}, {"height", 480}, {"cavitiesX", 1}, {"cavitiesY", 1}};
    QVERIFY(env.writeWorkFile("simcamera.json",
                              QJsonDocument(QJsonObject{{"kind", 1}, {"cameras", QJsonArray{cam}}}).toJson()));
    qputenv("STATION_SIMCAMERA_CONFIG", QDir::current().absoluteFilePath("simcamera.json").toLocal8Bit());
    qputenv("STATION_MODBUS_PORT", "15020");

    BoardSim sim;
    std::string err;
    QVERIFY2(sim.open(&err), err.c_str());
    QVERIFY2(sim.linkAt(platform::path("/dev/ttyS0").toStdString(), &err), err.c_str());
    sim.start();

    // The mould detection: bright pixels (a part) on the cavity floor are
    // NG; the pin ROI compares with the empty mould's template.
    const int d = 1;
    {
        SimScene scene;
        scene.configure(cam, 640, 480);
        QVERIFY(QDir().mkpath("cammer12"));
        QVERIFY(cv::imwrite("cammer12/template0.bmp", scene.frame(0)));
        auto owner = std::make_unique<CameraViewState>();
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const float sx = float(screen.width()) / 640, sy = float(screen.height()) / 480;
        auto store = std::make_unique<CammerSingleton>(0, owner.get());
        put(*store, sx, sy, d, 0, 1, kOnPart, 0, 50, 170 | (255 << 8));
        put(*store, sx, sy, d, 1, 0, kPin, 25, 100, 3);
        QVERIFY(ParameterStartup::openParamDb(gpWin));
        QVERIFY(store->SaveDatatoFile());
        gpWin->paraQuery = QSqlQuery();
        gpWin->paraDb.close();
    }

    HttpSink bridge;
    qputenv("STATION_VIEWER_URL", bridge.url().toString().toLatin1());
    auto win = std::make_unique<ReDoWizard>();
    // As the start-up does after the window.
    writeVersionToJson();
    ZEV_NETMN* net = ZEV_NETMN::getInstance();
    net->initStart();
    qunsetenv("STATION_VIEWER_URL");
    win->show();
    CammerWidget* view = win->views[0];
    QVERIFY(view && view->recong && view->camera && gpControlIO);
    QVERIFY(win->modbus && win->modbus->isListening());

    gpWPara->systemMode = 0;
    gpWPara->semiAuto = 1;
    gpWPara->enableProdDetect = 0;
    gpWPara->reCheckTimes = 0;
    gpWPara->trigInDelay[1] = 3;
    gpWPara->isPswUsed = gpWPara->addTempPswUsed = gpWPara->nocheckPswUsed = 0;
    gpWPara->doorLiftAlarm = gpWPara->noAlarmSound = gpWPara->outInitState[0] = gpWPara->outInitState[2] = 0;
    gTempNum = std::max(gTempNum, 3);
    gPicNumNG = 10;
    gpWPara->deriveByMode(&win->curMould);
    view->camera->setTrigger(true);
    gpControlIO->InitIOThread();
    win->cycle->StartDetect();

    // The operator answers every house box with YES (or OK).
    BoxPrompt::installShared();
    QTimer operatorHand;
    connect(&operatorHand, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::allWidgets()) {
            if (!w->isVisible())
                continue;
            QWidget* button = nullptr;
            if (auto* c = dynamic_cast<ChooseBox*>(w))
                button = c->yesButton();
            else if (auto* b = dynamic_cast<WarnBox*>(w))
                button = b->okButton();
            if (button)
                return QTest::mouseClick(button, Qt::LeftButton);
        }
    });
    operatorHand.start(20);

    MouldingMachine::Timing timing;
    timing.closedMs = 500;
    timing.openMs = 1500;
    MouldingMachine machine(sim, timing);
    QElapsedTimer t;
    t.start();
    bool wasOpen = false, leaveNext = false;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] {
        machine.tick(t.elapsed());
        const bool open = sim.inputs() & 1u;
        if (open && !wasOpen) {
            if (leaveNext)
                view->camera->setValue(QString("leftBehind"), 100);
            leaveNext = false;
            view->camera->setValue(QString("trigger"), 100);
        }
        wasOpen = open;
    });
    tick.start(5);

    // A part left behind, cleared by taking the live image as a template.
    auto alarmAndClear = [&] {
        leaveNext = true;
        QTRY_COMPARE_WITH_TIMEOUT(gpWin->detectState, 2, 8000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.outputs() & 5u, 5u, 3000);
        QVERIFY(win->roiPanel && win->roiPanel->isVisible());
        QTest::mouseClick(win->roiPanel->addTempButton, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(sim.outputs() & 5u, 0u, 3000);
    };
    auto alarmPosts = [&] {
        QList<QPair<QString, QByteArray>> out;
        for (const auto& r : bridge.requests)
            if (r.first.startsWith("/inline/bymain/alarm_"))
                out << r;
        return out;
    };

    QTRY_VERIFY_WITH_TIMEOUT(sim.outputs() & 1u, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!(sim.outputs() & 1u), 5000); // one OK cycle
    alarmAndClear();
    if (QTest::currentTestFailed())
        return;
    // The alarm's cycle record: the ROIs of the NG decision and its picture.
    const ZEV_NETMN::PeriodRecord rec = net->lastRecord();
    QCOMPARE(rec.projectName, gpWPara->getCurGroupName());
    param_roi part;
    QVERIFY(rec.rois.contains("0;1;0") && rec.rois.contains("0;1;1"));
    part = rec.rois.value("0;1;0");
    QVERIFY(part.camera == 0 && part.detect == 1 && part.funcType == 1 && part.upper == 50 && part.ok == 0);
    QVERIFY(part.value > 50);
    QTRY_VERIFY_WITH_TIMEOUT(!net->lastRecord().pictures.isEmpty(), 5000);
    const ZEV_NETMN::Picture pic = net->lastRecord().pictures.first();
    QVERIFY(pic.camera == 0 && pic.detection == 1 && !pic.ok);
    QVERIFY2(QFileInfo(pic.path).isAbsolute() && QFileInfo::exists(pic.path), qPrintable(pic.path));

    // Start and finish of the alarm, in order, with its uuid and how it was
    // cleared; the journal's copies went the same way.
    const QString uuid = net->viewWatch()->alarmUuid();
    QTRY_COMPARE_WITH_TIMEOUT(alarmPosts().size(), 2, 5000);
    const auto posts = alarmPosts();
    QCOMPARE(posts[0].first, QString("/inline/bymain/alarm_starttiming"));
    QCOMPARE(posts[0].second, "{\"detect\":1,\"uuid\":\"" + uuid.toLatin1() + "\"}");
    QCOMPARE(posts[1].first, QString("/inline/bymain/alarm_finishtiming"));
    // In the station's language: "Camera 1 Add As Temp".
    const QByteArray method = (messageText(151).arg(1) + messageText(48)).toUtf8();
    QCOMPARE(posts[1].second, "{\"clear_method\":\"" + method + "\",\"uuid\":\"" + uuid.toLatin1() + "\"}");
    QVERIFY(bridge.paths().contains("/inline/bymain/recordoperate"));

    // Detection stops: the cached last detections go.
    QVERIFY(!net->lastDetections().isEmpty());
    win->StopDetect();
    QVERIFY(net->lastDetections().isEmpty() && net->lastPictures().isEmpty());
    win->cycle->StartDetect();

    // The link off: the same journey sends nothing at all.
    net->viewWatch()->setBridge(QUrl());
    const int before = bridge.requests.size();
    alarmAndClear();
    QVERIFY(net->viewWatch()->alarmUuid() != uuid);
    QTest::qWait(300);
    QCOMPARE(bridge.requests.size(), before);

    tick.stop();
    operatorHand.stop();
    win.reset();
    sim.stop();
    qunsetenv("STATION_MODBUS_PORT");
}

QTEST_MAIN(TstNetServicesChain)
#include "tst_netservices_chain.moc"

// The network services on the whole station: the main window over the
// simulated-camera plug-in and the board simulator's moulding machine on a
// pseudo-terminal, the viewer bridge a local HTTP listener. A part left in
// the mould raises the alarm, the operator takes it as a template from the
// editor, and the alarm's start and finish reach the bridge with one uuid;
// with the link off the same journey sends nothing. Real time throughout;
// every wait is bounded.
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/ui/startup.h"
#include "inspection/ui/drawroiwidget.h"
#include "netservices/httpsink.h"
#include "netservices/modbusserver.h"
#include "netservices/netcards.h"
#include "netservices/viewwatch2zel.h"
#include "netservices/zev_netmn.h"
#include "testsupport/stationrig.h"

#include <QJsonDocument>
#include <QPushButton>
#include <QSqlQuery>
#include <QTcpServer>
#include <QtTest>

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
} // namespace

void TstNetServicesChain::alarmReachesTheBridgeOnlyWhileTheLinkIsUp()
{
    TestEnv env;
    QVERIFY(env.isValid());
    const QJsonObject cam = stationrig::oneCamera(env, "NET-1");
    QVERIFY(!cam.isEmpty());
    {
        // A free port: other tests' stations may hold a fixed one.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        qputenv("STATION_MODBUS_PORT", QByteArray::number(probe.serverPort()));
    }

    BoardSim sim;
    std::string err;
    QVERIFY2(stationrig::startBoard(sim, &err), err.c_str());

    // The mould detection: bright pixels (a part) on the cavity floor are
    // NG; the pin ROI compares with the empty mould's template.
    QVERIFY(stationrig::teachMould(cam, {{1, kOnPart, 0, 50, 170 | (255 << 8)}, {0, kPin, 25, 100, 3}}));

    HttpSink bridge;
    qputenv("STATION_VIEWER_URL", bridge.url().toString().toLatin1());
    QVERIFY(NetCards::mergeConfig(QJsonObject{{ZEV_NETMN::viewerLinkKey(), true}}));
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

    stationrig::MouldRun run(sim, *win, *view);

    // A part left behind, cleared by taking the live image as a template.
    auto alarmAndClear = [&] {
        run.leaveNext = true;
        QTRY_COMPARE_WITH_TIMEOUT(gpWin->detectState, 2, 8000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.outputs() & 5u, 5u, 3000);
        QVERIFY(win->roiPanel && win->roiPanel->isVisible());
        QVERIFY(finger::tap(win->roiPanel->addTempButton));
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

    run.stop();
    win.reset();
    sim.stop();
    qunsetenv("STATION_MODBUS_PORT");
}

QTEST_MAIN(TstNetServicesChain)
#include "tst_netservices_chain.moc"

// The network services manager and the viewer link against a local HTTP
// listener: what is posted, byte for byte, when the link allows it, and that
// nothing leaves the process when it does not.
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "netservices/httpsink.h"
#include "netservices/viewwatch2zel.h"
#include "netservices/zev_netmn.h"
#include "testsupport/glogcapture.h"
#include "testsupport/fiforelease.h"
#include "testsupport/testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <QtTest>

#include <atomic>

#include <sys/stat.h>

namespace {
// A link on the test clock to a local bridge.
struct ClockedLink
{
    TestEnv env;
    TestClock clock;
    HttpSink sink;
    ViewWatch2ZEL link;
    ClockedLink()
    {
        Clock::install(&clock);
        link.setBridge(sink.url());
    }
    ~ClockedLink()
    {
        link.setBridge(QUrl());
        Clock::install(nullptr);
    }
};

// Lets queued work and sockets run for ms of real time (the negative checks).
void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}
} // namespace

class TstNetServices : public QObject
{
    Q_OBJECT
private slots:
    void init() { gLan = 1; }
    // Whatever a failed check left behind: the manager outlives every test.
    void cleanup()
    {
        Clock::install(nullptr);
        qunsetenv("STATION_VIEWER_URL");
        ZEV_NETMN::getInstance()->viewWatch()->setBridge(QUrl());
    }

    void alarmTimingIsPostedInOrderWithItsUuid()
    {
        TestEnv env;
        HttpSink sink;
        ViewWatch2ZEL link;
        link.setBridge(sink.url());
        QTRY_COMPARE_WITH_TIMEOUT(link.isAllowSnd_2_VW(), 0, 5000); // its first heartbeat answered

        link.sndAlarmStartTiming(1);
        const QString uuid = link.alarmUuid();
        link.addClearMethod(0, 3); // not a clear method
        link.addClearMethod(0, 5);
        link.addClearMethod(1, 7);
        // Not marked cleared yet: the finish waits.
        link.sndAlarmFinishTiming();
        link.markAlarmCleared();
        link.sndAlarmFinishTiming();
        QCOMPARE(link.clearState(), 0);
        link.sndAlarmFinishTiming(); // once only
        link.sndRecordOperate(QJsonObject{{"remarks", "x"}, {"recordtype", "run"}});
        link.syncTempList(QJsonObject{{"camera", QJsonArray{1}}, {"detect", QJsonArray{2}}});

        QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 4, 5000);
        QCOMPARE(sink.paths(), (QStringList{"/inline/bymain/alarm_starttiming", "/inline/bymain/alarm_finishtiming",
                                            "/inline/bymain/recordoperate", "/inline/bymain/synctemplist"}));
        QCOMPARE(sink.requests[0].second, QByteArray("{\"detect\":1,\"uuid\":\"") + uuid.toLatin1() + "\"}");
        QCOMPARE(sink.requests[1].second, QByteArray("{\"clear_method\":\"Camera 1 Add As Temp;Camera 2 Re-detected\","
                                                     "\"uuid\":\"") + uuid.toLatin1() + "\"}");
        QCOMPARE(sink.requests[2].second, QByteArray("{\"recordtype\":\"run\",\"remarks\":\"x\"}"));
        QCOMPARE(sink.requests[3].second, QByteArray("{\"camera\":[1],\"detect\":[2]}"));

        // A new alarm: a new uuid, the clear method starts empty.
        link.sndAlarmStartTiming(0);
        QVERIFY(link.alarmUuid() != uuid && link.clearMethod().isEmpty());
        // A copy sent from another thread goes out from the link's own.
        QThread* t = QThread::create([&link] { link.sndRecordOperate(QJsonObject{{"remarks", "worker"}}); });
        t->start();
        QVERIFY(t->wait(5000));
        delete t;
        QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 6, 5000);
        QCOMPARE(sink.requests[5].second, QByteArray("{\"remarks\":\"worker\"}"));
    }

    void nothingLeavesWhileTheLinkIsOff()
    {
        TestEnv env;
        HttpSink sink;
        ViewWatch2ZEL link;
        QCOMPARE(link.isAllowSnd_2_VW(), -1);
        link.sndAlarmStartTiming(1);
        link.addClearMethod(0, 4);
        link.markAlarmCleared();
        link.sndAlarmFinishTiming();
        link.sndRecordOperate(QJsonObject{{"remarks", "x"}});
        link.syncTempList(QJsonObject{});
        // Not sent, so the cleared alarm stays pending for a later link.
        QCOMPARE(link.clearState(), 2);
        QCOMPARE(link.clearMethod(), QString("Camera 1 Don't Detect"));
        settle(300);
        QVERIFY(sink.requests.isEmpty());
    }

    // The session lives while the bridge answers: an answered request no
    // longer counts as waiting; 8000 ms of silence turn the link off, the
    // next answered heartbeat turns it on again; the heartbeat's send flags
    // hold it back while one is cleared; a bridge that refuses never opens it.
    void theLinkFollowsTheBridgesAnswers()
    {
        ClockedLink c;
        TestClock& clock = c.clock;
        HttpSink& sink = c.sink;
        ViewWatch2ZEL& link = c.link;
        QTRY_COMPARE_WITH_TIMEOUT(link.isAllowSnd_2_VW(), 0, 5000);
        link.sndRecordOperate(QJsonObject{{"n", 1}});
        QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 1, 5000);
        clock.advance(5000);
        link.sndRecordOperate(QJsonObject{{"n", 2}});
        // One at a time: the second on the wire means the first was answered.
        QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 2, 5000);
        clock.advance(3001);
        QCOMPARE(link.isAllowSnd_2_VW(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(sink.heartbeats >= 3, 5000);
        settle(200); // and their answers read

        sink.answer = false;
        link.sndRecordOperate(QJsonObject{{"n", 3}});
        QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 3, 5000);
        clock.advance(ViewWatch2ZEL::kAnswerWithinMs - 1);
        QCOMPARE(link.isAllowSnd_2_VW(), 0);
        clock.advance(1);
        QCOMPARE(link.isAllowSnd_2_VW(), -2);
        link.sndRecordOperate(QJsonObject{{"n", 4}});
        clock.advance(2 * ViewWatch2ZEL::kHeartbeatMs); // heartbeats go on, unanswered
        settle(300);
        QCOMPARE(sink.requests.size(), 3);
        QCOMPARE(link.isAllowSnd_2_VW(), -2);

        sink.answer = true;
        const int beats = sink.heartbeats;
        clock.advance(ViewWatch2ZEL::kHeartbeatMs);
        QTRY_COMPARE_WITH_TIMEOUT(link.isAllowSnd_2_VW(), 0, 5000);
        QCOMPARE(sink.heartbeats, beats + 1);
        link.sndRecordOperate(QJsonObject{{"n", 5}});
        QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 4, 5000);
        QCOMPARE(sink.requests.last().second, QByteArray("{\"n\":5}"));

        sink.heartbeatBody = R"({"sendenable": true, "viewerconnect": 0})";
        clock.advance(ViewWatch2ZEL::kHeartbeatMs);
        QTRY_COMPARE_WITH_TIMEOUT(link.isAllowSnd_2_VW(), -3, 5000);
        link.sndRecordOperate(QJsonObject{{"n", 6}});
        sink.heartbeatBody = R"({"sendenable": "true", "other": false})";
        clock.advance(ViewWatch2ZEL::kHeartbeatMs);
        QTRY_COMPARE_WITH_TIMEOUT(link.isAllowSnd_2_VW(), 0, 5000);
        link.sndRecordOperate(QJsonObject{{"n", 7}});
        QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 5, 5000);
        QCOMPARE(sink.requests.last().second, QByteArray("{\"n\":7}"));

        QTcpServer closed; // a port nobody listens on any more
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close();
        link.setBridge(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
        clock.advance(ViewWatch2ZEL::kHeartbeatMs);
        settle(300);
        QCOMPARE(link.isAllowSnd_2_VW(), -2);
    }

    // A bridge slower than the station: the waiting copies are bounded, the
    // oldest go and are counted. A long answer is read and dropped, not kept;
    // a redirect is not a delivery.
    void answersAndQueueAreBounded()
    {
        GlogCapture log;
        ClockedLink c;
        HttpSink& sink = c.sink;
        ViewWatch2ZEL& link = c.link;
        QTRY_COMPARE_WITH_TIMEOUT(link.isAllowSnd_2_VW(), 0, 5000);

        sink.answer = false;
        const int extra = 16, total = 1 + ViewWatch2ZEL::kMaxQueued + extra;
        for (int n = 0; n < total; ++n)
            link.sndRecordOperate(QJsonObject{{"n", n}});
        QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 1, 5000);
        sink.answer = true;
        sink.answerHeld();
        QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 1 + ViewWatch2ZEL::kMaxQueued, 10000);
        QCOMPARE(sink.requests[1].second, "{\"n\":" + QByteArray::number(extra + 1) + "}");
        QCOMPARE(sink.requests.last().second, "{\"n\":" + QByteArray::number(total - 1) + "}");
        QTRY_COMPARE_WITH_TIMEOUT(log.count(QString("%1 requests dropped").arg(extra)), 1, 5000);

        const qint64 big = 192ll << 20;
        sink.bodyBytes = big;
        const long before = residentKb();
        long peak = before;
        link.sndRecordOperate(QJsonObject{{"big", 1}});
        link.sndRecordOperate(QJsonObject{{"after", 1}});
        QElapsedTimer t;
        t.start();
        while (sink.requests.size() < 3 + ViewWatch2ZEL::kMaxQueued && t.elapsed() < 60000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            peak = qMax(peak, residentKb());
        }
        QCOMPARE(sink.requests.last().second, QByteArray("{\"after\":1}"));
        QVERIFY2(peak - before < 48 * 1024, qPrintable(QString("grew by %1 kB").arg(peak - before)));
        QCOMPARE(link.isAllowSnd_2_VW(), 0);

        sink.bodyBytes = 0;
        sink.head = "HTTP/1.1 301 Moved Permanently\r\nLocation: http://127.0.0.1:9/elsewhere\r\n";
        link.sndRecordOperate(QJsonObject{{"moved", 1}});
        QTRY_COMPARE_WITH_TIMEOUT(link.isAllowSnd_2_VW(), -2, 5000);
        QVERIFY(log.has("not delivered (HTTP 301)"));
    }

    // initStart reads the file writeVersionToJson wrote and takes the
    // bridge's address from the environment; the cycle record keeps its
    // pictures, also those the writer saves after the cycle closed, and the
    // cached last detections go when the detection stops.
    void managerKeepsConfigRecordsAndLastDetections()
    {
        TestEnv env;
        QVERIFY(env.writeWorkFile("ruv_net/config.json", R"({"devicename": "Press 7", "version": "V1"})"));
        HttpSink sink;
        qputenv("STATION_VIEWER_URL", sink.url().toString().toLatin1());
        ZEV_NETMN* net = ZEV_NETMN::getInstance();
        net->initStart();
        QCOMPARE(net->deviceName(), QString("Press 7"));
        QCOMPARE(net->viewWatch()->isAllowSnd_2_VW(), -1); // not switched on
        QVERIFY(env.writeWorkFile("ruv_net/config.json", R"({"devicename": "Press 7", "device_worknetfunc": 1})"));
        net->initStart();
        qunsetenv("STATION_VIEWER_URL");
        QTRY_COMPARE_WITH_TIMEOUT(net->viewWatch()->isAllowSnd_2_VW(), 0, 5000);
        net->viewWatch()->sndRecordOperate(QJsonObject{{"a", 1}});
        QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 1, 5000);

        net->clearLastDetections();
        // The environment's parameter set (freed with it, even after a failed check).
        gpWPara = new WizardPara;
        gpWPara->curGroupName = "mould B";
        for (int cycle = 0; cycle < ZEV_NETMN::kLastRecords + 2; ++cycle) {
            net->start_PeriodRecord();
            QCOMPARE(net->roiCount(), 0);
            param_roi r;
            r.camera = 1, r.detect = 0, r.roi = cycle, r.value = 40 + cycle, r.ok = 1;
            net->setRoi(r);
            net->add_PeriodRecord_Picture(1, 0, false, QString("/a/%1-0.jpg").arg(cycle));
            net->finish_PeriodRecord();
            net->add_PeriodRecord_Picture(1, 1, true, QString("/a/%1-1.jpg").arg(cycle));
        }
        const ZEV_NETMN::PeriodRecord rec = net->lastRecord();
        QCOMPARE(rec.projectName, QString("mould B"));
        QCOMPARE(rec.rois.keys(), QStringList{"1;0;17"});
        QCOMPARE(rec.rois.first().value, 57);
        QCOMPARE(rec.pictures.size(), 2);
        QCOMPARE(rec.pictures[1].path, QString("/a/17-1.jpg"));
        QVERIFY(rec.pictures[1].ok && rec.pictures[1].detection == 1 && rec.pictures[1].camera == 1);
        const auto last = net->lastDetections();
        QCOMPARE(last.size(), ZEV_NETMN::kLastRecords);
        QCOMPARE(last.last().pictures.size(), 2);
        QCOMPARE(net->lastPictures().keys(), (QStringList{"1;0", "1;1"}));
        net->clearLastDetections();
        QVERIFY(net->lastDetections().isEmpty() && net->lastPictures().isEmpty());
    }

    // A FIFO laid at the settings file's name: read as no settings, at once.
    void aFifoForTheSettingsHoldsNothingUp()
    {
        TestEnv env;
        QVERIFY(QDir().mkpath("ruv_net") && ::mkfifo("ruv_net/config.json", 0644) == 0);
        FifoRelease release({"ruv_net/config.json"});
        QElapsedTimer t;
        t.start();
        ZEV_NETMN::getInstance()->initStart();
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(ZEV_NETMN::getInstance()->deviceName(), QString());
    }

    // The image writer's thread and the GUI thread may reach the manager
    // first at the same time; pictures and cycles from both stay whole.
    void picturesFromTheWriterThreadAreKept()
    {
        TestEnv env;
        ZEV_NETMN* net = ZEV_NETMN::getInstance();
        net->start_PeriodRecord();
        std::atomic<bool> go{false};
        QList<QThread*> writers;
        for (int w = 0; w < 4; ++w)
            writers << QThread::create([&go, w] {
                while (!go)
                    QThread::yieldCurrentThread();
                for (int i = 0; i < 500; ++i)
                    ZEV_NETMN::getInstance()->add_PeriodRecord_Picture(w, i % 8, true, "p.jpg");
            });
        for (QThread* t : writers)
            t->start();
        go = true;
        for (QThread* t : writers) {
            QVERIFY(t->wait(10000));
            delete t;
        }
        QCOMPARE(net->currentRecord().pictures.size(), 2000);
        QCOMPARE(net->lastPictures().size(), 32);
    }
};

QTEST_GUILESS_MAIN(TstNetServices)
#include "tst_netservices.moc"

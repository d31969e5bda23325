// The viewer link against a hostile bridge on the loopback address: what the
// station holds stays bounded whatever the bridge answers, every request is
// over within 8000 ms of its sending, a journal copy reaches a bridge that
// drops connections once, answers framed any lawful way are read, and nothing
// stays open once the link is off.
#include "frame/clock.h"
#include "frame/globals.h"
#include "netservices/hostilebridge.h"
#include "netservices/viewwatch2zel.h"
#include "testsupport/testenv.h"

#include <QJsonObject>
#include <QtTest>

namespace {
// A link on the test clock to a bridge of its own.
struct Rig
{
    TestEnv env;
    TestClock clock;
    HostileBridge bridge;
    ViewWatch2ZEL link;
    Rig()
    {
        Clock::install(&clock);
        link.setBridge(bridge.url());
    }
    ~Rig()
    {
        link.setBridge(QUrl());
        Clock::install(nullptr);
    }
};

// Runs the event loop until done() or ms of real time; the peak resident
// memory on the way, in kB.
template <class Done>
long runWatching(int ms, Done done)
{
    long peak = residentKb();
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        peak = qMax(peak, residentKb());
    }
    return peak;
}
} // namespace

class TstViewerBridge : public QObject
{
    Q_OBJECT
private slots:
    void init() { gLan = 1; }
    void cleanup() { Clock::install(nullptr); }

    void attacksAreBoundedInMemoryAndTime_data()
    {
        QTest::addColumn<int>("beat");
        QTest::addColumn<int>("post");
        QTest::newRow("chunked heartbeat") << int(HostileBridge::Chunked) << int(HostileBridge::Ok);
        QTest::newRow("chunked journal copy") << int(HostileBridge::Ok) << int(HostileBridge::Chunked);
        QTest::newRow("10^12 bytes to a journal copy") << int(HostileBridge::Ok) << int(HostileBridge::HugeLength);
        QTest::newRow("trickled journal copy") << int(HostileBridge::Ok) << int(HostileBridge::Trickle);
        QTest::newRow("a slow long body to a journal copy") << int(HostileBridge::Ok) << int(HostileBridge::Slow);
        QTest::newRow("trickled heartbeats") << int(HostileBridge::Trickle) << int(HostileBridge::Ok);
        QTest::newRow("copy read and dropped") << int(HostileBridge::Ok) << int(HostileBridge::Drop);
    }
    // Whatever the bridge answers, memory neither climbs nor stays up. An
    // answer past its limit is let go of at once (no clock moves for those,
    // and the answer counts by its status); a trickle is over 8000 ms after
    // its sending, not after its last byte (the heartbeats sent meanwhile go
    // with the first one's session); a copy the bridge read and dropped is
    // not sent again behind the journal's back.
    void attacksAreBoundedInMemoryAndTime()
    {
        QFETCH(int, beat);
        QFETCH(int, post);
        Rig rig;
        QTRY_COMPARE_WITH_TIMEOUT(rig.link.isAllowSnd_2_VW(), 0, 5000);
        settle();
        const long before = residentKb();
        rig.bridge.beat = HostileBridge::Answer(beat);
        rig.bridge.post = HostileBridge::Answer(post);
        if (beat != HostileBridge::Ok)
            rig.clock.advance(ViewWatch2ZEL::kHeartbeatMs);
        else
            rig.link.sndRecordOperate(QJsonObject{{"remarks", "x"}});
        const bool trickle = beat == HostileBridge::Trickle || post == HostileBridge::Trickle;
        long peak = before;
        if (trickle) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.bridge.attacking(), 1, 5000);
            rig.clock.advance(ViewWatch2ZEL::kAnswerWithinMs - 1);
            peak = runWatching(300, [] { return false; });
            QVERIFY(rig.bridge.attacking() >= 1);
            rig.clock.advance(1);
        }
        peak = qMax(peak, runWatching(3000, [&] {
                        return rig.bridge.attacksEnded() > 0 || rig.link.isAllowSnd_2_VW() == -2;
                    }));
        settle();
        const long after = residentKb();
        qInfo("resident %ld kB, peak +%ld kB, after +%ld kB", before, peak - before, after - before);
        QVERIFY2(peak - before <= 32 * 1024, qPrintable(QString("grew by %1 kB").arg(peak - before)));
        QVERIFY2(after - before <= 8 * 1024, qPrintable(QString("kept %1 kB").arg(after - before)));
        QCOMPARE(rig.bridge.attacking(), 0);
        QCOMPARE(rig.link.isAllowSnd_2_VW(), trickle || post == HostileBridge::Drop ? -2 : 0);
        if (beat == HostileBridge::Ok)
            QCOMPARE(rig.bridge.bodies().count("{\"remarks\":\"x\"}"), 1);
        if (post == HostileBridge::Slow) {
            const int taken = rig.bridge.slowBodyTaken();
            qInfo("body bytes taken before the station hung up: %d", taken);
            // 4 KiB of body, as documented, and at most the socket's read-ahead beyond.
            QVERIFY2(taken >= 4096 && taken <= 4096 + ViewWatch2ZEL::kMaxHeadBytes, qPrintable(QString::number(taken)));
        }
    }

    void answersAreReadInEveryFraming_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("chunked") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                               "d\r\n{\"sendenable\"\r\n8;x=1\r\n: false}\r\n0\r\n\r\n");
        QTest::newRow("to the close") << QByteArray("HTTP/1.0 200 OK\r\n\r\n{\"viewerconnect\": 0}");
        QTest::newRow("after a 100") << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n"
                                                   "content-length: 21\r\n\r\n{\"sendenable\": false}");
    }
    // A bridge that frames its heartbeat answer another way is still heard.
    void answersAreReadInEveryFraming()
    {
        QFETCH(QByteArray, answer);
        Rig rig;
        QTRY_COMPARE_WITH_TIMEOUT(rig.link.isAllowSnd_2_VW(), 0, 5000);
        rig.bridge.raw = answer;
        rig.bridge.beat = HostileBridge::Raw;
        rig.clock.advance(ViewWatch2ZEL::kHeartbeatMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.link.isAllowSnd_2_VW(), -3, 5000);
    }

    // Switching the link off, or to another bridge, leaves nothing open to
    // the old one, whatever it was streaming.
    void nothingStaysOpenOnceTheLinkIsOff()
    {
        Rig rig;
        QTRY_COMPARE_WITH_TIMEOUT(rig.link.isAllowSnd_2_VW(), 0, 5000);
        rig.bridge.post = HostileBridge::Trickle;
        rig.link.sndRecordOperate(QJsonObject{{"remarks", "a"}});
        QTRY_COMPARE_WITH_TIMEOUT(rig.bridge.attacking(), 1, 5000);
        // A heartbeat answered beside it: a connection a client could keep.
        rig.clock.advance(ViewWatch2ZEL::kHeartbeatMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.bridge.heartbeats(), 2, 5000);
        settle();
        HostileBridge other;
        rig.link.setBridge(other.url());
        QTRY_COMPARE_WITH_TIMEOUT(rig.bridge.open(), 0, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.link.isAllowSnd_2_VW(), 0, 5000);
        other.beat = HostileBridge::Trickle;
        rig.clock.advance(ViewWatch2ZEL::kHeartbeatMs);
        QTRY_COMPARE_WITH_TIMEOUT(other.attacking(), 1, 5000);
        rig.link.setBridge(QUrl());
        QTRY_COMPARE_WITH_TIMEOUT(other.open(), 0, 2000);
    }

private:
    // Lets sockets and queued work run a while (the negative checks).
    static void settle()
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
};

QTEST_GUILESS_MAIN(TstViewerBridge)
#include "tst_viewerbridge.moc"

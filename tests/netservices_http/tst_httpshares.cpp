// What the HTTP API's peers share, each rule at its edge with the bounds as the numbers a
// client is promised: the connection given up when the table is full, the pool's places,
// turn and answer bytes, the writes' pace (on a clock of the test's).
#include "netservices/httpapiserver.h"
#include "netservices/httpshares.h"

#include <QtTest>

#include <condition_variable>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A script's ask: "a+" taken, "a-" refused, "a~" taken and its job holding
// its thread 200 ms; "a+24" 24 times; "q*8+" once from each of q0 to q7;
// "q0@750+" at 750 ms (else *ms stays). False when `step` is no ask.
bool parse(const QString& step, QStringList* peers, int* ms, QChar* how)
{
    static const QRegularExpression re("^([a-z][a-z0-9]*?)(?:\\*(\\d+))?(?:@(\\d+))?([-+~])(\\d*)$");
    const QRegularExpressionMatch m = re.match(step);
    for (int i = 0; m.hasMatch() && i < std::max({1, m.captured(2).toInt(), m.captured(5).toInt()}); ++i)
        *peers << m.captured(1) + (m.captured(2).isEmpty() ? QString() : QString::number(i));
    *ms = m.captured(3).isEmpty() ? *ms : m.captured(3).toInt();
    *how = m.captured(4).isEmpty() ? QChar() : m.captured(4)[0];
    return m.hasMatch();
}

// Bytes as a script writes them: "1M-1".
size_t bytes(const QString& s)
{
    const QString n = s.section('-', 0, 0);
    return (n.endsWith('M') ? n.chopped(1).toULongLong() << 20 : n.toULongLong()) - s.section('-', 1).toULongLong();
}

// The pool's jobs as they ran and as they were pushed out of their places,
// named by their peer and, after its first, their number: a, a1, a2.
struct Ran
{
    std::mutex m;
    std::condition_variable cv;
    QStringList ran, pushedOut;

    PeerPool::Job job(const QString& name, bool heavy)
    {
        PeerPool::Job j;
        j.run = [this, name, heavy] {
            if (heavy)
                QThread::msleep(200);
            std::lock_guard<std::mutex> lock(m);
            ran << name;
            cv.notify_all();
        };
        j.refuse = [this, name] { pushedOut << name; }; // on the submitting thread
        return j;
    }
    // What `list` holds once it holds n (or after 5 s).
    QString seen(const QStringList& list, int n)
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait_for(lock, std::chrono::seconds(5), [&] { return list.size() >= n; });
        return list.join(',');
    }
};

} // namespace

class TstHttpShares : public QObject
{
    Q_OBJECT
private slots:
    void aFullTableGivesUpTheMostWilling_data();
    void aFullTableGivesUpTheMostWilling();
    void peersShareThePoolAndThePace_data();
    void peersShareThePoolAndThePace();
};

void TstHttpShares::aFullTableGivesUpTheMostWilling_data()
{
    QTest::addColumn<QStringList>("held"); // peer rank age-in-ms, oldest first
    QTest::addColumn<QString>("newcomer");
    QTest::addColumn<int>("given");

    // The table's edge, one peer each: 127 leave room; at 128 a moving
    // answer of the peer that sorts first outlasts a half-read request.
    QStringList one;
    for (int i = 0; i < 127; ++i)
        one << QString("127.0.0.%1 %2 %3").arg(i + 2).arg(i == 60 ? 2 : 3).arg(i == 60 ? 400 : 500);
    QTest::newRow("127 held") << one << "127.0.0.200" << -1;
    QTest::newRow("128 held") << (QStringList("127.0.0.1 4 900") + one) << "127.0.0.200" << 61;
    // Of the peers holding the most, their most willing by rank, then age,
    // whatever their names; one holding fewer is spared.
    QStringList most = one.mid(0, 124);
    most << "127.0.0.240 2 900" << "127.0.0.240 0 100" << "127.0.0.230 1 50" << "127.0.0.230 1 80";
    QTest::newRow("most: rank") << most << "127.0.0.200" << 125;
    most[125] = "127.0.0.240 1 40";
    QTest::newRow("most: age") << most << "127.0.0.200" << 127;
    most[125] = "127.0.0.240 1 95";
    QTest::newRow("most: age across peers") << most << "127.0.0.200" << 125;
    // A request under way is not given up while a connection that asked for
    // nothing (rank 2 or less) is held, though its peer holds the most.
    QStringList asking{"127.0.0.1 4 900", "127.0.0.1 5 900"};
    for (int i = 0; i < 126; ++i)
        asking << QString("127.0.0.%1 %2 500").arg(i + 2).arg(i == 70 ? 2 : 3);
    QTest::newRow("a silent one first") << asking << "127.0.0.200" << 72;
    asking[72] = "127.0.0.72 3 500";
    QTest::newRow("every one asking") << asking << "127.0.0.200" << 0;
    // A peer's share: at 31 there is room, at 32 its own most willing goes.
    QStringList own;
    for (int i = 0; i < 31; ++i)
        own << QString("127.0.0.7 %1 %2").arg(i == 9 ? 1 : 2).arg(100 + i);
    own << "127.0.0.8 0 999";
    QTest::newRow("31 of one peer") << own << "127.0.0.7" << -1;
    QTest::newRow("32 of one peer") << (own + QStringList("127.0.0.7 2 10")) << "127.0.0.7" << 9;
}

void TstHttpShares::aFullTableGivesUpTheMostWilling()
{
    QFETCH(QStringList, held);
    QFETCH(QString, newcomer);
    QFETCH(int, given);
    std::vector<std::string> peers(size_t(held.size()));
    std::vector<HeldConnection> table;
    for (int i = 0; i < held.size(); ++i) {
        peers[size_t(i)] = held[i].section(' ', 0, 0).toStdString();
        table.push_back({&peers[size_t(i)], held[i].section(' ', 1, 1).toInt(),
                         Clock::now() - milliseconds(held[i].section(' ', 2, 2).toInt())});
    }
    const int chosen = connectionToGiveUp(table, newcomer.toStdString(), HttpApiServer::kMaxConnections,
                                          HttpApiServer::kMaxPeerConnections);
    QVERIFY2(chosen == given, qPrintable(QString("gave up %1 (%2), not %3 (%4)")
                                             .arg(chosen).arg(chosen < 0 ? "none" : held.value(chosen))
                                             .arg(given).arg(given < 0 ? "none" : held.value(given))));
}

void TstHttpShares::peersShareThePoolAndThePace_data()
{
    // Besides the asks: "start" the pool's one thread, "hold:a:1M" and
    // "free:a:1" answer bytes (8 MiB held stops every peer), "=a,b" the jobs
    // run so far (waited for), "?a" those pushed out of their places so far.
    // An ask at a time goes to the writes' pace, else to the pool.
    QTest::addColumn<QString>("script");
    QTest::newRow("24 places a peer, 32 in all; who holds two more gives up its newest")
        << "a+24 a- b+8 b+ ?a23 b+7 b- ?a23,a22,a21,a20,a19,a18,a17,a16";
    QTest::newRow("of two holding the most, the one whose newest came last") << "x+15 y+15 x+ y+ z+ ?y15";
    QTest::newRow("one more: who used the pool least lately keeps it, a refusal a turn")
        << "p*32+ new- new- p5- other+ ?p5 p5- new- ?p5";
    QTest::newRow("one more: who held a thread longer gives way")
        << "start heavy~ =heavy light+ =heavy,light hold:z:8M heavy+ q*31+ light+ heavy- ?heavy1";
    QTest::newRow("the turn goes on after the peer served last") << "a+3 b+2 c+ start =a,b,c,a1,b1,a2";
    QTest::newRow("1 MiB of answers a peer, 4 MiB in all, up to 8 MiB for a peer holding none")
        << "start hold:a:1M a+ b+ =b free:a:1 =b,a free:a:1M-1 hold:c:1M hold:d:1M hold:e:1M hold:f:1M hold:g:1 "
           "g+ h+ =b,a,h hold:c:4M-2 i+ =b,a,h,i free:g:1 =b,a,h,i,g";
    QTest::newRow("writes: a peer's burst of 3, then one a second") << "p@0+3 p@0- p@500- p@1000+";
    // A quarter second brings one: a peer that asked within the second
    // leaves it to one quiet longer, then to one served less lately.
    QTest::newRow("writes: a burst of 8 in all, four a second, the quiet first, then in turn")
        << "q*8@0+ q8@0- q0@250- new@250+ q0@750- q8@750+ q0@1250- q1@1250+";
}

void TstHttpShares::peersShareThePoolAndThePace()
{
    QFETCH(QString, script);
    Ran jobs;
    PeerPool pool({1, 1, HttpApiServer::kMaxWaiting, HttpApiServer::kPeerWaiting, HttpApiServer::kAnswerMemoryBytes,
                   HttpApiServer::kPeerAnswerMemoryBytes});
    WriteRate rate(HttpApiServer::kPeerWritesPerSecond, HttpApiServer::kPeerWriteBurst, HttpApiServer::kWritesPerSecond,
                   HttpApiServer::kWriteBurst, milliseconds(HttpApiServer::kWriteQuietMs),
                   milliseconds(HttpApiServer::kWriteMemoryMs));
    const Clock::time_point t0 = Clock::now() + std::chrono::hours(1);
    std::map<QString, int> asked;
    for (const QString& step : script.split(' ')) {
        QStringList peers;
        int ms = -1;
        QChar how;
        if (step == "start")
            pool.start();
        else if (step[0] == '=' || step[0] == '?')
            QCOMPARE(jobs.seen(step[0] == '=' ? jobs.ran : jobs.pushedOut, step.count(',') + 1), step.mid(1));
        else if (step.startsWith("hold:"))
            pool.hold(step.section(':', 1, 1).toStdString(), bytes(step.section(':', 2)));
        else if (step.startsWith("free:"))
            pool.release(step.section(':', 1, 1).toStdString(), bytes(step.section(':', 2)));
        else
            QVERIFY2(parse(step, &peers, &ms, &how), qPrintable(step));
        for (const QString& peer : peers) {
            const int n = asked[peer]++;
            const QString name = n ? peer + QString::number(n) : peer;
            const bool taken = ms >= 0 ? rate.take(peer.toStdString(), t0 + milliseconds(ms))
                                       : pool.submit(peer.toStdString(), jobs.job(name, how == '~'));
            QVERIFY2(taken == (how != '-'),
                     qPrintable(QString("%1: %2 %3").arg(step, ms >= 0 ? peer : name, taken ? "taken" : "refused")));
        }
    }
}

QTEST_APPLESS_MAIN(TstHttpShares)
#include "tst_httpshares.moc"

// What the HTTP API's peers share, at each edge and in each order: the
// connection given up when the table is full, the waiting places and the
// pool's turn, the answer bytes, and the pace of the writes. The writes' pace
// runs on a clock of the test's; the pool on its own threads, watched by the
// order its jobs run in.
#include "netservices/httpapiserver.h"
#include "netservices/httpshares.h"

#include <QtTest>

#include <condition_variable>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The peers' jobs in the order they ran; a job may be held until let go.
class Ran
{
public:
    PeerPool::Job job(const std::string& name, bool held = false)
    {
        PeerPool::Job j;
        j.run = [this, name, held] {
            std::unique_lock<std::mutex> lock(m_m);
            m_order.push_back(name);
            m_cv.notify_all();
            m_cv.wait(lock, [&] { return !held || m_go; });
        };
        j.refuse = [this, name] {
            std::lock_guard<std::mutex> lock(m_m);
            m_refused.push_back(name);
        };
        return j;
    }
    void go()
    {
        std::lock_guard<std::mutex> lock(m_m);
        m_go = true;
        m_cv.notify_all();
    }
    // The order once n have run (or what ran within 5 s), blank-separated.
    QString order(size_t n)
    {
        std::unique_lock<std::mutex> lock(m_m);
        m_cv.wait_for(lock, std::chrono::seconds(5), [&] { return m_order.size() >= n; });
        return joined(m_order);
    }
    // Those whose refuse() was called, blank-separated.
    QString refused()
    {
        std::lock_guard<std::mutex> lock(m_m);
        return joined(m_refused);
    }

private:
    static QString joined(const std::vector<std::string>& names)
    {
        QStringList out;
        for (const auto& s : names)
            out << QString::fromStdString(s);
        return out.join(' ');
    }

    std::mutex m_m;
    std::condition_variable m_cv;
    std::vector<std::string> m_order, m_refused;
    bool m_go = false;
};

// Lets a Ran's held jobs go when the test leaves, failed or not, before the
// pool (declared before it) joins its threads.
struct LetGo
{
    Ran& ran;
    ~LetGo() { ran.go(); }
};

PeerPool::Limits limits(int threads)
{
    return {threads, threads, HttpApiServer::kMaxWaiting, HttpApiServer::kPeerWaiting,
            HttpApiServer::kAnswerMemoryBytes, HttpApiServer::kPeerAnswerMemoryBytes};
}

// The station's pace of writes.
std::unique_ptr<WriteRate> pace()
{
    return std::make_unique<WriteRate>(HttpApiServer::kPeerWritesPerSecond, HttpApiServer::kPeerWriteBurst,
                                       HttpApiServer::kWritesPerSecond, HttpApiServer::kWriteBurst,
                                       milliseconds(HttpApiServer::kWriteQuietMs),
                                       milliseconds(HttpApiServer::kWriteMemoryMs));
}

std::string peer(int i)
{
    return "10.0.0." + std::to_string(i);
}

} // namespace

class TstHttpShares : public QObject
{
    Q_OBJECT
private slots:
    void aFullTableGivesUpTheMostWilling_data();
    void aFullTableGivesUpTheMostWilling();
    void placesAreSharedAtTheirEdges();
    void tiedPlacesGoToWhoUsedThePoolLeast();
    void thePoolServesPeersInTurn();
    void answerBytesHoldAPeerBack();
    void writesGoToWhoWaitedLongest();
    void writesAreSharedUnderAFlood();
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
    const Clock::time_point now = Clock::now();
    std::vector<std::string> peers;
    for (const QString& h : held)
        peers.push_back(h.section(' ', 0, 0).toStdString());
    std::vector<HeldConnection> table;
    for (int i = 0; i < held.size(); ++i)
        table.push_back({&peers[size_t(i)], held[i].section(' ', 1, 1).toInt(),
                         now - milliseconds(held[i].section(' ', 2, 2).toInt())});
    const int chosen = connectionToGiveUp(table, newcomer.toStdString(), HttpApiServer::kMaxConnections,
                                          HttpApiServer::kMaxPeerConnections);
    QVERIFY2(chosen == given, qPrintable(QString("gave up %1 (%2), not %3 (%4)")
                                             .arg(chosen).arg(chosen < 0 ? "none" : held.value(chosen))
                                             .arg(given).arg(given < 0 ? "none" : held.value(given))));
}

void TstHttpShares::placesAreSharedAtTheirEdges()
{
    // No thread: everything waits. One peer's 24 places, then the 25th.
    Ran ran;
    PeerPool pool(limits(1));
    for (int i = 0; i < HttpApiServer::kPeerWaiting; ++i)
        QVERIFY2(pool.submit("a", ran.job("a" + std::to_string(i))), qPrintable(QString("a's %1th").arg(i + 1)));
    QVERIFY(!pool.submit("a", ran.job("a over")));
    // All 32 places: another peer's 8, then its 9th takes the newest of the
    // peer holding two more than it.
    for (int i = 0; i < HttpApiServer::kMaxWaiting - HttpApiServer::kPeerWaiting; ++i)
        QVERIFY(pool.submit("b", ran.job("b" + std::to_string(i))));
    QVERIFY(pool.submit("b", ran.job("b pushing")));
    QCOMPARE(ran.refused(), QString("a23"));
    // b takes a's newest while a holds two more: until both hold 16.
    int more = 0;
    while (more < 32 && pool.submit("b", ran.job("b more")))
        ++more;
    QCOMPARE(more, 7);
    QCOMPARE(ran.refused(), QString("a23 a22 a21 a20 a19 a18 a17 a16"));
    // Of two peers holding the most, neither ever served, the one whose
    // newest request came last gives it up.
    Ran r2;
    PeerPool two(limits(1));
    for (int i = 0; i < 16; ++i) {
        QVERIFY(two.submit("x", r2.job("x" + std::to_string(i))));
        QVERIFY(two.submit("y", r2.job("y" + std::to_string(i))));
    }
    QVERIFY(two.submit("z", r2.job("z")));
    QCOMPARE(r2.refused(), QString("y15"));
}

void TstHttpShares::tiedPlacesGoToWhoUsedThePoolLeast()
{
    // 32 peers wait with one request each, none served yet.
    Ran ran;
    PeerPool pool(limits(1));
    for (int i = 0; i < HttpApiServer::kMaxWaiting; ++i)
        QVERIFY(pool.submit(peer(i), ran.job(peer(i))));
    // A newcomer finds no one who used more than it: refused, which counts
    // as its turn; it cannot push anyone out for a while.
    QVERIFY(!pool.submit("new", ran.job("new")));
    QVERIFY(!pool.submit("new", ran.job("new again")));
    // One of the 32 asks for a second place: refused, its turn.
    QVERIFY(!pool.submit(peer(5), ran.job("second")));
    // Another newcomer pushes out the one refused last, not the one that
    // sorts first or came last...
    QVERIFY(pool.submit("other", ran.job("other")));
    QCOMPARE(ran.refused(), QString::fromStdString(peer(5)));
    // ...which, just refused, cannot push anyone out in turn; nor can the
    // first newcomer, refused before.
    QVERIFY(!pool.submit(peer(5), ran.job("back")));
    QVERIFY(!pool.submit("new", ran.job("new a third time")));
    QCOMPARE(ran.refused(), QString::fromStdString(peer(5)));

    // Served once each, a peer whose request held a thread 200 ms gives its
    // place to one served after it whose request took none of that.
    Ran served;
    PeerPool busy(limits(1));
    const LetGo atEnd{served};
    busy.start();
    PeerPool::Job heavy = served.job("heavy");
    heavy.run = [run = heavy.run] {
        QThread::msleep(200); // its work
        run();
    };
    QVERIFY(busy.submit("heavy", std::move(heavy)));
    QCOMPARE(served.order(1), QString("heavy"));
    QVERIFY(busy.submit("light", served.job("light")));
    QCOMPARE(served.order(2), QString("heavy light"));
    QVERIFY(busy.submit("z", served.job("z", true)));
    QCOMPARE(served.order(3), QString("heavy light z"));
    QVERIFY(busy.submit("heavy", served.job("heavy waits")));
    for (int i = 1; i < HttpApiServer::kMaxWaiting; ++i)
        QVERIFY(busy.submit(peer(i), served.job(peer(i))));
    QVERIFY(busy.submit("light", served.job("light again")));
    QVERIFY(!busy.submit("heavy", served.job("heavy again")));
    QCOMPARE(served.refused(), QString("heavy waits"));
}

void TstHttpShares::thePoolServesPeersInTurn()
{
    // One thread, held by a's first job while the others queue: the turn
    // goes on after the peer served last, not from the lowest.
    Ran ran;
    PeerPool pool(limits(1));
    const LetGo atEnd{ran};
    pool.start();
    QVERIFY(pool.submit("a", ran.job("a1", true)));
    QCOMPARE(ran.order(1), QString("a1"));
    for (const char* j : {"a2", "a3", "b1", "b2", "c1"})
        QVERIFY(pool.submit(std::string(1, j[0]), ran.job(j)));
    ran.go();
    QCOMPARE(ran.order(6), QString("a1 b1 c1 a2 b2 a3"));
}

void TstHttpShares::answerBytesHoldAPeerBack()
{
    const size_t peerShare = HttpApiServer::kPeerAnswerMemoryBytes, all = HttpApiServer::kAnswerMemoryBytes;
    Ran ran;
    PeerPool pool(limits(1));
    pool.start();
    // A peer holding its 1 MiB waits; another goes first, then it, once a
    // byte of its answers has gone.
    pool.hold("a", peerShare);
    QVERIFY(pool.submit("a", ran.job("a")));
    QVERIFY(pool.submit("b", ran.job("b")));
    QCOMPARE(ran.order(1), QString("b"));
    pool.release("a", 1);
    QCOMPARE(ran.order(2), QString("b a"));
    // Four peers hold 4 MiB, all there is: a peer holding none still starts
    // (up to twice that), one holding a byte does not.
    pool.release("a", peerShare - 1);
    for (const char* p : {"c", "d", "e", "f"})
        pool.hold(p, peerShare);
    pool.hold("g", 1);
    QVERIFY(pool.submit("g", ran.job("g")));
    QVERIFY(pool.submit("h", ran.job("h")));
    QCOMPARE(ran.order(3), QString("b a h"));
    // Just under twice it, one holding none still starts.
    pool.hold("c", all - 2);
    QVERIFY(pool.submit("i", ran.job("i")));
    QCOMPARE(ran.order(4), QString("b a h i"));
    pool.release("g", 1);
    QCOMPARE(ran.order(5), QString("b a h i g"));
}

void TstHttpShares::writesGoToWhoWaitedLongest()
{
    const Clock::time_point t0 = Clock::now() + std::chrono::hours(1);
    const auto at = [&](int ms) { return t0 + milliseconds(ms); };
    // One peer's burst of 3, then one a second.
    auto rate = pace();
    QString seen;
    for (int ms : {0, 0, 0, 0, 500, 1000})
        seen += rate->take("p", at(ms)) ? '+' : '-';
    QCOMPARE(seen, QString("+++--+"));
    // All peers' burst of 8: the ninth peer finds none.
    rate = pace();
    for (int i = 0; i < 8; ++i)
        QVERIFY(rate->take(peer(i), t0));
    QVERIFY(!rate->take(peer(8), t0));
    // A quarter second brings one: a peer that asked within the second
    // leaves it to one never seen.
    QVERIFY(!rate->take(peer(0), at(250)));
    QVERIFY(rate->take("new", at(250)));
    // Of those that keep asking, the one served least lately goes first:
    // peer 8 (never served) as soon as two are in, before peer 0.
    QVERIFY(!rate->take(peer(0), at(750)));
    QVERIFY(rate->take(peer(8), at(750)));
    // Three are in: peer 0, asking again within the second, leaves them to
    // the quiet ones (peers 1 to 7, "new"); peer 1 takes one.
    QVERIFY(!rate->take(peer(0), at(1250)));
    QVERIFY(rate->take(peer(1), at(1250)));
}

void TstHttpShares::writesAreSharedUnderAFlood()
{
    const auto rate = pace();
    const Clock::time_point t0 = Clock::now() + std::chrono::hours(1);
    // Eight peers ask every 8 ms, each 1 ms after the one before, for 20 s;
    // "polite" every 2 s, and once more at once the first time (refused:
    // it has just been served) and again a second later (served: honouring
    // Retry-After: 1).
    constexpr int kMs = 20000;
    std::map<std::string, int> served;
    QString politeSeen;
    for (int ms = 0; ms < kMs; ++ms) {
        const Clock::time_point now = t0 + milliseconds(ms);
        if (rate->take(peer(ms % 8), now))
            ++served[peer(ms % 8)];
        for (int again = 0; again < (ms == 1000 ? 2 : ms % 2000 == 1000 || ms == 2000 ? 1 : 0); ++again) {
            const bool ok = rate->take("polite", now);
            served["polite"] += ok;
            politeSeen += ok ? '+' : '-';
        }
    }
    int all = 0, least = kMs, most = 0;
    QStringList each;
    for (const auto& s : served) {
        all += s.second;
        each << QString("%1: %2").arg(QString::fromStdString(s.first)).arg(s.second);
        if (s.first != "polite") {
            least = std::min(least, s.second);
            most = std::max(most, s.second);
        }
    }
    qInfo().noquote() << "served in 20 s:" << all << "in all;" << each.join(", ") << "; polite's asks" << politeSeen;
    // All of them together no more than the shared pace allows, polite
    // each time but the second, and no flooder more than one over another.
    QVERIFY2(all <= HttpApiServer::kWriteBurst + HttpApiServer::kWritesPerSecond * kMs / 1000
                 && politeSeen == "+-" + QString(10, '+') && most - least <= 1,
             qPrintable(QString("served in 20 s: %1 in all; %2; polite's asks %3")
                            .arg(all).arg(each.join(", "), politeSeen)));
}

QTEST_APPLESS_MAIN(TstHttpShares)
#include "tst_httpshares.moc"

// The Modbus TCP slave against libmodbus clients and a fuzzer: exception
// answers for every coil and register, a taken port, slow, surplus and
// malformed clients, places shared per peer address, and the GUI thread's
// timers running on meanwhile.
#include "netservices/modbusfuzz.h"
#include "netservices/modbusserver.h"
#include "testsupport/glogcapture.h"
#include "frame/clock.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

#include <modbus/modbus.h>

#include <memory>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

using Client = std::unique_ptr<modbus_t, void (*)(modbus_t*)>;

Client connectTo(quint16 port)
{
    Client c(modbus_new_tcp("127.0.0.1", port), [](modbus_t* m) {
        modbus_close(m);
        modbus_free(m);
    });
    modbus_set_response_timeout(c.get(), 2, 0);
    if (modbus_connect(c.get()) < 0)
        c.reset();
    return c;
}

// Every coil and register access gets "illegal data address", anything
// else "illegal function"; errno carries the exception.
bool answersWithExceptions(modbus_t* c)
{
    uint16_t regs[4];
    uint8_t bits[8];
    uint8_t id[64];
    const struct {
        int rc, err;
    } got[] = {
        {modbus_read_registers(c, 0, 2, regs), errno},
        {modbus_read_input_registers(c, 100, 1, regs), errno},
        {modbus_read_bits(c, 0, 8, bits), errno},
        {modbus_read_input_bits(c, 7, 1, bits), errno},
        {modbus_write_register(c, 4, 1), errno},
        {modbus_write_bit(c, 0, 1), errno},
        {modbus_write_registers(c, 0, 2, regs), errno},
        {modbus_report_slave_id(c, sizeof id, id), errno},
    };
    for (size_t i = 0; i < std::size(got); ++i) {
        const int want = i + 1 < std::size(got) ? EMBXILADD : EMBXILFUN;
        if (got[i].rc != -1 || got[i].err != want) {
            qWarning("request %zu: rc %d, %s", i, got[i].rc, modbus_strerror(got[i].err));
            return false;
        }
    }
    return true;
}

// True when the slave has closed s within ms milliseconds (bytes it had
// not read yet turn the close into a reset).
bool closedBySlave(int s, int ms)
{
    pollfd p{s, POLLIN, 0};
    char b;
    if (::poll(&p, 1, ms) <= 0)
        return false;
    const ssize_t n = ::recv(s, &b, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

// A read of holding register 0 on s gets its (exception) answer.
bool polled(int s)
{
    const uint8_t frame[] = {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
    uint8_t a[16];
    pollfd p{s, POLLIN, 0};
    return ::send(s, frame, sizeof frame, MSG_NOSIGNAL) == ssize_t(sizeof frame) && ::poll(&p, 1, 2000) == 1
           && ::recv(s, a, sizeof a, 0) == 9;
}

} // namespace

class TstModbus : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_port = freePort();
        qputenv("STATION_MODBUS_PORT", QByteArray::number(m_port));
        qputenv("STATION_SIMROOT", "/nonexistent-sim"); // loopback only
    }
    void cleanup()
    {
        qunsetenv("STATION_MODBUS_PORT");
        qunsetenv("STATION_SIMROOT");
    }

    void everyAccessGetsAnException()
    {
        ModbusServer server;
        QVERIFY(server.isListening());
        QCOMPARE(server.port(), m_port);
        Client a = connectTo(m_port), b = connectTo(m_port);
        QVERIFY(a && b);
        QVERIFY(answersWithExceptions(a.get()));
        QVERIFY(answersWithExceptions(b.get()));
    }

    void aTakenPortIsLoggedAndLeftAlone()
    {
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, m_port));
        GlogCapture log;
        ModbusServer server;
        QVERIFY(!server.isListening());
        QVERIFY(log.has(QString("port %1 not opened").arg(m_port)));
    }

    // A client that stops half-way through a frame, one that never reads,
    // and more clients than the slave keeps: the next client is served.
    void slowAndSurplusClientsDoNotBlockOthers()
    {
        ModbusServer server;
        Client half = connectTo(m_port);
        QVERIFY(half);
        const uint8_t part[] = {0, 1, 0, 0, 0, 6};
        QCOMPARE(::send(modbus_get_socket(half.get()), part, sizeof part, MSG_NOSIGNAL), ssize_t(sizeof part));
        std::vector<Client> crowd;
        for (int i = 0; i < ModbusServer::kMaxClients + 8; ++i)
            crowd.push_back(connectTo(m_port));
        QTest::qWait(300); // the crowd has pushed out the quietest clients
        crowd.clear();
        QElapsedTimer t;
        t.start();
        Client c = connectTo(m_port);
        QVERIFY(c);
        QVERIFY(answersWithExceptions(c.get()));
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    }

    // A client that sends its frame a byte every 150 ms neither holds up
    // another client nor outlives the frame deadline; the idle and half-open
    // connections filling the table neither lock out a new client nor
    // stay for ever.
    void oneClientsPaceNeverSetsAnothers()
    {
        TestClock clock;
        Clock::install(&clock);
        const std::shared_ptr<void> realClockAfter(nullptr, [](void*) { Clock::install(nullptr); });
        ModbusServer server;
        const int slow = ModbusFuzz::dial(m_port);
        QVERIFY(slow >= 0);
        std::atomic<bool> stop{false};
        std::thread trickle([&] {
            const uint8_t frame[] = {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
            for (uint8_t b : frame) {
                if (stop || ::send(slow, &b, 1, MSG_NOSIGNAL) != 1)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QElapsedTimer t;
        t.start();
        {
            Client c = connectTo(m_port);
            QVERIFY(c);
            QVERIFY(answersWithExceptions(c.get()));
        }
        const qint64 waited = t.elapsed();
        qInfo("another client served in %lld ms beside the trickling one", waited);
        clock.advance(ModbusServer::kFrameDeadlineMs + 1);
        const bool slowDropped = closedBySlave(slow, 2000);
        stop = true;
        trickle.join();
        ::close(slow);
        QVERIFY2(waited < 500, qPrintable(QString("served after %1 ms").arg(waited)));
        QVERIFY(slowDropped);

        std::vector<int> idle;
        for (int i = 0; i < ModbusServer::kMaxClients; ++i)
            idle.push_back(ModbusFuzz::dial(m_port));
        QTest::qWait(200);
        Client c = connectTo(m_port);
        QVERIFY(c);
        QVERIFY(answersWithExceptions(c.get()));
        clock.advance(ModbusServer::kIdleMs + 1);
        int dropped = 0;
        for (int s : idle) {
            dropped += closedBySlave(s, 1000);
            ::close(s);
        }
        QVERIFY2(dropped >= ModbusServer::kMaxClients - 1, qPrintable(QString::number(dropped)));
    }

    // A master polling less often than once a second keeps its one
    // connection (libmodbus does not dial again), and 40 clients that connect
    // and say nothing push out their own kind, not the master.
    void aPollingMasterKeepsItsConnection()
    {
        TestClock clock;
        Clock::install(&clock);
        const std::shared_ptr<void> realClockAfter(nullptr, [](void*) { Clock::install(nullptr); });
        ModbusServer server;
        Client master = connectTo(m_port);
        QVERIFY(master);
        const auto poll = [&] {
            uint16_t reg;
            return modbus_read_registers(master.get(), 0, 1, &reg) == -1 && errno == EMBXILADD;
        };
        QVERIFY(poll());
        for (int i = 0; i < 3; ++i) {
            clock.advance(1200);
            QTest::qWait(250); // the slave's loop has seen the time
            QVERIFY2(poll(), qPrintable(QString("poll %1: %2").arg(i + 1).arg(modbus_strerror(errno))));
        }
        std::vector<int> idle;
        for (int i = 0; i < 40; ++i)
            idle.push_back(ModbusFuzz::dial(m_port));
        QTest::qWait(300);
        const bool kept = poll();
        for (int s : idle)
            ::close(s);
        QVERIFY2(kept, modbus_strerror(errno));
    }

    // A master polling once a second keeps its connection and has every
    // poll answered while 40 clients from another address poll every 100 ms
    // and hang up and dial again.
    void aMasterKeepsItsShareBesideACrowd()
    {
        ModbusServer server;
        Client master = connectTo(m_port);
        QVERIFY(master);
        ModbusCrowd crowd(m_port, 40, INADDR_LOOPBACK + 1, 100);
        QTRY_VERIFY(crowd.answered() > 0);
        const int polls = 6;
        int answered = 0;
        for (int i = 0; i < polls; ++i) {
            std::this_thread::sleep_for(std::chrono::seconds(1)); // the master's own pace
            uint16_t reg;
            if (modbus_read_registers(master.get(), 0, 1, &reg) == -1 && errno == EMBXILADD) {
                ++answered;
            } else { // as a master would: dial again
                modbus_close(master.get());
                modbus_connect(master.get());
            }
        }
        qInfo("master: %d of %d polls answered; crowd: %ld answers on %ld connections", answered, polls,
              crowd.answered(), crowd.connections());
        QCOMPARE(answered, polls);
    }

    void placesAreSharedPerAddress_data()
    {
        QTest::addColumn<int>("each");
        QTest::addColumn<int>("others");
        QTest::addColumn<int>("silentMs");
        QTest::addColumn<int>("gone"); // the one let go; -1 none, -2 the newcomer
        // What a master is promised: 64 places, 8 an address, 30 s of silence.
        const int cap = 8, table = 64, yield = 30000;
        QTest::newRow("an address past its cap") << cap << cap << 0 << 0;
        QTest::newRow("the table's last place") << 1 << table - 1 << 0 << -1;
        QTest::newRow("a full table") << cap - 1 << table << 0 << 0;
        QTest::newRow("a full table, one place each") << 1 << table << yield << -2;
        QTest::newRow("a full table, one place each, one silent longer") << 1 << table << yield + 1 << 0;
    }
    // `others` connections, `each` per address from the highest down to
    // 127.0.0.2, poll at one instant; `silentMs` later one more comes from the
    // last address when that is at its cap, else from a new one. Equals in
    // quiet go in the order they came (never by address): the first may go.
    void placesAreSharedPerAddress()
    {
        QFETCH(int, each);
        QFETCH(int, others);
        QFETCH(int, silentMs);
        QFETCH(int, gone);
        TestClock clock;
        Clock::install(&clock);
        const std::shared_ptr<void> realClockAfter(nullptr, [](void*) { Clock::install(nullptr); });
        ModbusServer server;
        const auto answered = polled;
        std::vector<int> held;
        const std::shared_ptr<void> closeAfter(nullptr, [&](void*) {
            for (int s : held)
                ::close(s);
        });
        const uint32_t last = INADDR_LOOPBACK + 1, first = last + uint32_t((others - 1) / each);
        for (int i = 0; i < others; ++i) {
            held.push_back(ModbusFuzz::dial(m_port, first - uint32_t(i / each)));
            QVERIFY2(answered(held.back()), qPrintable(QString::number(i)));
        }
        clock.advance(silentMs);
        const bool lastAtCap = others % each == 0 && each == 8;
        held.push_back(ModbusFuzz::dial(m_port, lastAtCap ? last : first + 1));
        QCOMPARE(answered(held.back()), gone != -2);
        QList<int> lost;
        for (int i = 0; i < others; ++i)
            if (!answered(held[size_t(i)]))
                lost << i;
        QCOMPARE(lost, gone >= 0 ? QList<int>{gone} : QList<int>{});
    }

    // A master that dials again for each poll (a PLC restarted, a network
    // blip) gets in every time beside 32 addresses each holding a place.
    void aMasterDialsAgainBesideQuietAddresses()
    {
        ModbusServer server;
        std::vector<int> quiet;
        const std::shared_ptr<void> closeAfter(nullptr, [&](void*) {
            for (int s : quiet)
                ::close(s);
        });
        for (uint32_t a = 0; a < 32; ++a) {
            quiet.push_back(ModbusFuzz::dial(m_port, INADDR_LOOPBACK + 2 + a));
            QVERIFY(polled(quiet.back()));
        }
        int in = 0;
        for (int i = 0; i < 10; ++i) {
            const int master = ModbusFuzz::dial(m_port, INADDR_LOOPBACK + 100);
            in += polled(master);
            ::close(master);
        }
        QCOMPARE(in, 10);
    }

    // A pause inside a frame is no reason to drop a client; a frame not whole
    // 1 s after its first byte is.
    void aPauseInsideAFrameIsAnswered()
    {
        TestClock clock;
        Clock::install(&clock);
        const std::shared_ptr<void> realClockAfter(nullptr, [](void*) { Clock::install(nullptr); });
        ModbusServer server;
        const int s = ModbusFuzz::dial(m_port);
        QVERIFY(s >= 0);
        const std::shared_ptr<void> closeAfter(nullptr, [s](void*) { ::close(s); });
        const uint8_t frame[] = {0, 7, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
        QCOMPARE(::send(s, frame, 5, MSG_NOSIGNAL), ssize_t(5));
        QTest::qWait(150);
        clock.advance(400);
        QTest::qWait(150);
        QCOMPARE(::send(s, frame + 5, sizeof frame - 5, MSG_NOSIGNAL), ssize_t(sizeof frame - 5));
        pollfd p{s, POLLIN, 0};
        uint8_t answer[16] = {};
        QVERIFY(::poll(&p, 1, 2000) == 1);
        QCOMPARE(::recv(s, answer, sizeof answer, 0), ssize_t(9));
        QCOMPARE(int(answer[1]), 7);
        QCOMPARE(int(answer[7]), 0x83);
        QCOMPARE(::send(s, frame, 5, MSG_NOSIGNAL), ssize_t(5));
        QTest::qWait(150);
        clock.advance(ModbusServer::kFrameDeadlineMs + 1);
        QVERIFY(closedBySlave(s, 2000));
    }

    // 10^5 malformed frames from eight clients, bounded in time: the slave
    // stays up and right, and a 5 ms timer on this (GUI) thread keeps its
    // pace.
    void survivesAFuzzerWithoutStallingTheStation()
    {
        ModbusServer server;
        QElapsedTimer t;
        t.start();
        qint64 last = 0, worstGap = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&] {
            worstGap = std::max(worstGap, t.elapsed() - last);
            last = t.elapsed();
        });
        tick.start(5);
        ModbusFuzz fuzz(m_port, 8, 100000);
        std::atomic<bool> done{false};
        std::thread waiter([&] {
            fuzz.wait();
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 120000);
        waiter.join();
        tick.stop();
        qInfo("fuzz: %ld frames, %ld connections in %lld ms; worst timer gap %lld ms", fuzz.sent(),
              fuzz.reconnects(), t.elapsed(), worstGap);
        QCOMPARE(fuzz.sent(), 100000L);
        QVERIFY2(worstGap < 250, qPrintable(QString::number(worstGap)));
        Client c = connectTo(m_port);
        QVERIFY(c);
        QVERIFY(answersWithExceptions(c.get()));
    }

private:
    quint16 m_port = 0;
};

QTEST_GUILESS_MAIN(TstModbus)
#include "tst_modbus.moc"

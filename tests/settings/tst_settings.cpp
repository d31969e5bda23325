// Committing the settings window's copy, and the ordered end of a run.
#include "controller/mainstate.h"
#include "controller/productioncounters.h"
#include "controller/stationexit.h"
#include "frame/databasefile.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/parameterstartup.h"
#include "frame/signalwatch.h"
#include "frame/wizardpara.h"
#include "platform/commandrunner.h"
#include "netservices/httpapiserver.h"
#include "settings/parametercommit.h"
#include "testsupport/httpattacks.h"
#include "testsupport/recordingprompt.h"
#include "testsupport/testenv.h"

#include <QDir>
#include <QSqlQuery>
#include <QTest>
#include <csignal>
#include <future>

namespace {
// The main window's state with a journal the test can read.
struct Journal : MainState {
    QStringList entries;
    bool InsertRecord(const QString& text, const QString& type) override
    {
        entries << type + ":" + text;
        return true;
    }
    void FLushAll() override
    {
        entries << QStringLiteral("flush after %1 commands").arg(CommandRunner::loggedCommands().size());
        MainState::FLushAll();
    }
};

} // namespace

class TstSettings : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void commitAsksRecordsAndSaves();
    void endRunsOnceInOrder_data();
    void endRunsOnceInOrder();
    void wayDownLeavesTheStationEnding();
    void terminationSignalArrivesOnTheEventLoop();

private:
    int storedTempNum();
    TestEnv* m_env = nullptr;
    Journal* m_state = nullptr;
    RecordingPrompt m_answer;
    TestClock m_clock;
};

void TstSettings::init()
{
    m_env = new TestEnv;
    Clock::install(&m_clock);
    OperatorPrompt::install(&m_answer);
    m_answer.clear();
    m_state = new Journal;
    gpWin = m_state;
    QVERIFY(ParameterStartup::openParamDb(m_state));
    gpWPara = new WizardPara;
    gpWPara->LoadDatafromFile();
    gpWParaBak = new WizardPara(*gpWPara);
    StationExit::resetForTest();
}

void TstSettings::cleanup()
{
    delete m_state;
    QSqlDatabase::removeDatabase("dbIn");
    OperatorPrompt::install(nullptr);
    delete m_env;
}

int TstSettings::storedTempNum()
{
    WizardPara fresh;
    fresh.LoadDatafromFile();
    return fresh.tempNum;
}

void TstSettings::commitAsksRecordsAndSaves()
{
    // Nothing changed: no question, nothing written.
    QCOMPARE(ParameterCommit::accept({}), 0);
    QVERIFY(m_answer.asked().isEmpty());

    // NO throws the copy away.
    const int before = gpWPara->tempNum;
    gpWParaBak->tempNum = before + 2;
    gpWParaBak->isPswUsed = !gpWPara->isPswUsed;
    QCOMPARE(ParameterCommit::accept({}), -1); // no answer queued: NO
    QCOMPARE(gpWParaBak->tempNum, before);
    QVERIFY(m_state->entries.isEmpty());

    gpWParaBak->tempNum = before + 2;
    gpWParaBak->isPswUsed = !gpWPara->isPswUsed;
    m_answer.answer(true);
    QStringList order;
    QCOMPARE(ParameterCommit::accept({[&] { order << "cameras"; }, [&] { order << "retrain"; }}), 1);
    QCOMPARE(m_answer.numbers(), (QList<int>{234, 234}));
    QCOMPARE(order, (QStringList{"cameras", "retrain"}));
    // One "set" entry per changed row, old and new value in it.
    QCOMPARE(m_state->entries.size(), 2);
    QCOMPARE(m_state->entries.filter(QRegularExpression("^set:system2: .* -> ")).size(), 1);
    QCOMPARE(m_state->entries.filter("set:isPswUsed").size(), 1);
}

void TstSettings::endRunsOnceInOrder_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("command");
    QTest::newRow("power off") << int(StationExit::PowerOff) << "init 0";
    QTest::newRow("reboot") << int(StationExit::Reboot) << "reboot";
}

void TstSettings::endRunsOnceInOrder()
{
    QFETCH(int, kind);
    QFETCH(QString, command);
    const int expected = gpWPara->tempNum + 1;
    QStringList order;
    // What runs once the databases are closed sees them closed and no command
    // run yet; the change the end is for is saved with the set.
    StationExit::Hooks hooks{[&] { order << "counters"; }, [&] { order << "watchdog"; },
                             [&] {
                                 order << QStringLiteral("closed %1 %2")
                                              .arg(m_state->paraDb.isOpen())
                                              .arg(CommandRunner::loggedCommands().size());
                             },
                             [&] {
                                 order << "change";
                                 gpWPara->tempNum += 1;
                             },
                             [&] { order << "serving"; }};
    QVERIFY(StationExit::run(StationExit::Kind(kind), hooks));
    QVERIFY(!StationExit::run(StationExit::Kind(kind), hooks)); // once only
    QCOMPARE(order, (QStringList{"serving", "change", "counters", "watchdog", "closed 0 0"}));
    // A power-off says so; a reboot's row is written by what it is for.
    if (kind == StationExit::PowerOff)
        QCOMPARE(m_state->entries.takeFirst(), "operate:" + messageText(292).trimmed());
    QCOMPARE(m_state->entries.size(), 1);
    // The databases close before anything reaches the shell; the disk is
    // synced before the command.
    QCOMPARE(m_state->entries.last(), QStringLiteral("flush after 0 commands"));
    QVERIFY(!m_state->paraDb.isOpen());
    QCOMPARE(CommandRunner::loggedCommands(), (QStringList{"sync", command}));
    QSqlDatabase::database("dbIn").open();
    m_state->paraQuery = QSqlQuery(m_state->paraDb);
    QCOMPARE(storedTempNum(), expected);
}

// A way down that ran its own command (the restart after a damaged SN.db was
// replaced) leaves the run ending: a later request gets 503 and clears nothing.
void TstSettings::wayDownLeavesTheStationEnding()
{
    bool ended = false;
    StationExit::setProcessEnd([&ended] { ended = true; });
    HttpApiServer api;
    QVERIFY(api.start());
    ProductionCounters::store(gAllCycleNum[0], 9);
    DatabaseFile::restoreFactoryCopy(QStringLiteral("SN.db"), QStringLiteral("sysparam"));
    StationExit::setProcessEnd({});
    QVERIFY(ended);
    const std::atomic<bool> stop{false};
    const httpattack::Client clear = httpattack::sending(httpattack::request("POST", "/v18/http/clear_count", "{}"));
    auto late = std::async(std::launch::async, [&] { return httpattack::runOne(api.port(), clear, stop); });
    QTRY_VERIFY(late.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    QCOMPARE(late.get().status, 503);
    QCOMPARE(ProductionCounters::load(gAllCycleNum[0]), 9);
}

void TstSettings::terminationSignalArrivesOnTheEventLoop()
{
    QList<int> got;
    QVERIFY(SignalWatch::install([&](int s) { got << s; }));
    ::raise(SIGTERM);
    QVERIFY(got.isEmpty()); // never inside the handler
    QTRY_COMPARE(got, QList<int>{SIGTERM});
}

QTEST_GUILESS_MAIN(TstSettings)
#include "tst_settings.moc"

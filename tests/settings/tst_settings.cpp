// Committing the settings window's copy, and the ordered end of a run.
#include "controller/mainstate.h"
#include "controller/stationexit.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/signalwatch.h"
#include "frame/wizardpara.h"
#include "platform/commandrunner.h"
#include "settings/parametercommit.h"
#include "testsupport/testenv.h"

#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <csignal>

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
        entries << QStringLiteral("flush");
        MainState::FLushAll();
    }
};

struct Answer : OperatorPrompt {
    bool yes = true;
    QList<int> asked;
    bool prompt(Kind, int msg, const QString&) override
    {
        asked << msg;
        return yes;
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
    void declinedCommitRevertsTheCopy();
    void endRunsOnceInOrder();
    void terminationSignalArrivesOnTheEventLoop();

private:
    int storedTempNum();
    TestEnv* m_env = nullptr;
    Journal* m_state = nullptr;
    Answer m_answer;
    TestClock m_clock;
};

void TstSettings::init()
{
    m_env = new TestEnv;
    Clock::install(&m_clock);
    OperatorPrompt::install(&m_answer);
    m_answer.asked.clear();
    m_answer.yes = true;
    m_state = new Journal;
    gpWin = m_state;
    m_state->paraDb = QSqlDatabase::addDatabase("QSQLITE", "dbIn");
    m_state->paraDb.setDatabaseName("PARAM.db");
    QVERIFY(m_state->paraDb.open());
    m_state->paraQuery = QSqlQuery(m_state->paraDb);
    gpWPara = new WizardPara;
    gpWPara->LoadDatafromFile();
    gpWParaBak = new WizardPara(*gpWPara);
    StationExit::resetForTest();
}

void TstSettings::cleanup()
{
    delete gpWPara;
    delete gpWParaBak;
    gpWPara = gpWParaBak = nullptr;
    delete m_state;
    QSqlDatabase::removeDatabase("dbIn");
    OperatorPrompt::install(nullptr);
    Clock::install(nullptr);
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
    QVERIFY(m_answer.asked.isEmpty());

    const int before = gpWPara->tempNum;
    gpWParaBak->tempNum = before + 2;
    gpWParaBak->isPswUsed = !gpWPara->isPswUsed;
    QStringList order;
    const int r = ParameterCommit::accept({[&] { order << "cameras"; }, [&] { order << "retrain"; }});
    QCOMPARE(r, 1);
    QCOMPARE(m_answer.asked, QList<int>{234});
    QCOMPARE(order, (QStringList{"cameras", "retrain"}));
    QCOMPARE(gpWPara->tempNum, before + 2);
    QCOMPARE(storedTempNum(), before + 2);
    // One "set" entry per changed row, old and new value in it.
    QCOMPARE(m_state->entries.size(), 2);
    QVERIFY(m_state->entries.filter(QRegularExpression("^set:system2: .* -> ")).size() == 1);
    QVERIFY(m_state->entries.filter("set:isPswUsed").size() == 1);
}

void TstSettings::declinedCommitRevertsTheCopy()
{
    const int before = gpWPara->tempNum;
    gpWParaBak->tempNum = before + 3;
    m_answer.yes = false;
    QCOMPARE(ParameterCommit::accept({}), -1);
    QCOMPARE(gpWParaBak->tempNum, before);
    QCOMPARE(storedTempNum(), before);
    QVERIFY(m_state->entries.isEmpty());
}

void TstSettings::endRunsOnceInOrder()
{
    gpWPara->tempNum += 1; // an unsaved change must reach the file
    const int expected = gpWPara->tempNum;
    QStringList order;
    StationExit::Hooks hooks{[&] { order << "counters"; }, [&] { order << "watchdog"; }};
    QVERIFY(StationExit::run(StationExit::PowerOff, hooks));
    QVERIFY(!StationExit::run(StationExit::PowerOff, hooks)); // once only
    QCOMPARE(order, (QStringList{"counters", "watchdog"}));
    QCOMPARE(m_state->entries.first(), "operate:" + messageText(292).trimmed());
    QCOMPARE(m_state->entries.last(), QStringLiteral("flush"));
    QVERIFY(!m_state->paraDb.isOpen());
    QCOMPARE(CommandRunner::loggedCommands().filter("init 0").size(), 1);
    QSqlDatabase::database("dbIn").open();
    m_state->paraQuery = QSqlQuery(m_state->paraDb);
    QCOMPARE(storedTempNum(), expected);
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

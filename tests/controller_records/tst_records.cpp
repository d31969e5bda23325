// The journal on real SQLite files in a fresh working directory: rows,
// the viewer copy, the day rotation on the test clock, bad files, entries from
// another thread, and a writer killed at random moments.
#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "frame/clock.h"
#include "inspection/cameramanager.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "testsupport/glogcapture.h"
#include "netservices/viewwatch2zel.h"
#include "platform/commandrunner.h"
#include "records_statspages/statspagestestutil.h"
#include "testsupport/recordingprompt.h"
#include "testsupport/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <unistd.h>
#include <cstdio>

namespace {

bool sql(const QString& file, const QString& statement)
{
    QFile(file).open(QIODevice::Append); // made when missing
    return withStatsDb(file, [&](QSqlQuery& q) { return q.exec(statement); });
}

// Rows of a journal file; ok false when it is damaged or has no table.
QList<QStringList> rowsOf(const QString& file, bool* ok = nullptr)
{
    QList<QStringList> rows;
    // Never opened when missing (that would make an empty file); opened for
    // writing, as the station reopens it, so a killed writer's journal is rolled back.
    const bool good = QFile::exists(file) && withStatsDb(file, [&](QSqlQuery& q) {
        if (!q.exec("PRAGMA integrity_check") || !q.next() || q.value(0).toString() != "ok"
            || !q.exec("SELECT * FROM RECORD ORDER BY rowid"))
            return false;
        while (q.next()) {
            QStringList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i).toString();
            rows << row;
        }
        return true;
    });
    if (ok)
        *ok = good;
    return rows;
}

// Remembers each viewer copy and how many rows RECORD.db held when it came.
struct Viewer : ViewWatch2ZEL {
    QList<QJsonObject> sent;
    QList<int> rowsAtSend;
    void sndRecordOperate(const QJsonObject& r) override
    {
        sent << r;
        rowsAtSend << rowsOf(QStringLiteral("RECORD.db")).size();
        ViewWatch2ZEL::sndRecordOperate(r);
    }
};

// The kill test's writer: starts the journal as the station does, then writes
// numbered entries, printing each number once InsertRecord returned, and
// moves to the next day every 40 entries.
int writerMain(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MessageTable::load();
    const int first = QString(argv[2]).toInt();
    TestClock clock(QDateTime(QDate::fromString(argv[3], "yyyy-MM-dd"), QTime(23, 0)));
    Clock::install(&clock);
    MainState state;
    gpWin = &state;
    OperationRecords* j = OperationRecords::instance();
    j->runStartup(1);
    for (int n = first;; ++n) {
        if (!j->InsertRecord(QStringLiteral("entry %1").arg(n), "run"))
            return 3;
        std::printf("%d\n", n);
        std::fflush(stdout);
        if (n % 40 == 39) {
            QElapsedTimer t;
            t.start();
            clock.setNow(clock.now().addDays(1));
            j->SlotCheckDate();
            std::printf("day %s %lld\n", qPrintable(clock.now().date().toString("yyyy-MM-dd")),
                        qlonglong(t.nsecsElapsed() / 1000));
            std::fflush(stdout);
        }
    }
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT
    TestEnv* env = nullptr;
    TestClock* clock = nullptr;
    RecordingPrompt prompts;
    Viewer viewer;
    MainState* state = nullptr;
    OperationRecords* j = OperationRecords::instance();

private slots:
    void init()
    {
        j->close();
        env = new TestEnv;
        clock = new TestClock(QDateTime(QDate(2026, 3, 9), QTime(10, 20, 30)));
        Clock::install(clock);
        OperatorPrompt::install(&prompts);
        prompts.clear();
        viewer.sent.clear();
        viewer.rowsAtSend.clear();
        j->setViewerLink(&viewer);
        state = gpWin; // the environment's plain main window state
        gLan = 1;
    }
    void cleanup()
    {
        j->close();
        j->setViewerLink(nullptr);
        OperatorPrompt::install(nullptr);
        delete clock;
        delete env;
    }

    void entriesAreStoredWholeAndCopiedFirst()
    {
        // The factory tool's template: a readable, empty table RECORD.
        bool templateOk = false;
        QCOMPARE(rowsOf("RECORDNULL.db", &templateOk).size(), 0);
        QVERIFY(templateOk);
        // The factory file has no kind column yet: added, older rows keep an empty kind.
        QVERIFY(sql("RECORD.db", "INSERT INTO RECORD VALUES ('01.02.03', 'Advanced', 'old')"));
        j->runStartup(3);
        QCOMPARE(prompts.asked().size(), 0);
        state->loginLevel = 2;
        const QString tricky = QString::fromUtf8("it's \"x\"; DROP TABLE RECORD;--\r\n中文 ") + QString(10000, 'z');
        QVERIFY(state->InsertRecord(tricky, "set"));
        gLan = 0;
        state->loginLevel = 1;
        QVERIFY(gpWin->InsertRecord("one argument"));
        gLan = 1;
        QCOMPARE(rowsOf("RECORD.db"), (QList<QStringList>{{"01.02.03", "Advanced", "old", ""},
                                                          {"10.20.30", "Unlogged", "The system is ready, there is 3 cameras", "info"},
                                                          {"10.20.30", "Advanced", tricky, "set"},
                                                          {"10.20.30", QString::fromUtf8("初级"), "one argument", ""}}));

        // Exactly four keys, the row's texts, sent while the row was not yet there.
        QCOMPARE(viewer.sent[1].keys(), QStringList({"recordpassword", "recordtime", "recordtype", "remarks"}));
        QCOMPARE(viewer.sent[1]["remarks"].toString(), tricky);
        QCOMPARE(viewer.rowsAtSend, QList<int>({1, 2, 3}));

        // Closed behind the journal's back (shut-down path): reopened lazily.
        state->recordDb.close();
        QVERIFY(state->InsertRecord("after close", "info"));
        QCOMPARE(rowsOf("RECORD.db").size(), 5);
        // A row that cannot be stored: the viewer still has its copy.
        QVERIFY(QSqlQuery(j->database()).exec("DROP TABLE RECORD"));
        QVERIFY(!state->InsertRecord("lost?", "run"));
        QCOMPARE(viewer.sent.last()["remarks"].toString(), QString("lost?"));
    }

    void rotationAtStartAndAtTheTick()
    {
        // Left from an earlier day, with an archive of that day already there.
        env->writeWorkFile("time.txt", "2026-03-07");
        QDir().mkpath("RECORD");
        QVERIFY(QFile::copy("RECORDNULL.db", "RECORD/2026-03-07.db"));
        j->checkRecordFileAtStart();
        j->openAtStart();
        QVERIFY(state->InsertRecord("from the 7th", "info"));
        j->makeArchiveDir();
        j->loadDayAndCheck();
        QCOMPARE(rowsOf("RECORD/2026-03-07.db").size(), 0);
        QCOMPARE(rowsOf("RECORD/2026-03-07_1.db").value(0).value(2), QString("from the 7th"));
        QCOMPARE(fileBytes("time.txt"), QByteArray("2026-03-09"));
        j->startDayTimerAndRecordReady(2);
        QCOMPARE(rowsOf("RECORD.db").size(), 1);

        // Midnight passes; the move comes with the next 60 s tick, not before.
        clock->setNow(QDateTime(QDate(2026, 3, 9), QTime(23, 59, 50)));
        clock->advance(30000);
        QVERIFY(state->InsertRecord("just after midnight", "info"));
        QCOMPARE(rowsOf("RECORD.db").size(), 2);
        clock->advance(30000);
        QCOMPARE(rowsOf("RECORD/2026-03-09.db").size(), 2);
        QCOMPARE(rowsOf("RECORD.db").size(), 0);
        QCOMPARE(fileBytes("time.txt"), QByteArray("2026-03-10"));
        QVERIFY(state->InsertRecord("new day", "info"));
        QCOMPARE(rowsOf("RECORD.db").size(), 1);
        // Clearing empties today's file only.
        QVERIFY(j->ClearRecord());
        QCOMPARE(rowsOf("RECORD.db").size(), 0);
        QCOMPARE(rowsOf("RECORD/2026-03-09.db").size(), 2);
    }

    void failedMoveKeepsTodaysRows()
    {
        j->runStartup(1);
        QVERIFY(state->InsertRecord("keep me", "info"));
        j->close();
        QVERIFY(QDir("RECORD").removeRecursively());
        env->writeWorkFile("RECORD", "a file where the folder should be");
        clock->setNow(clock->now().addDays(1));
        QVERIFY(!j->SlotCheckDate());
        QCOMPARE(rowsOf("RECORD.db").size(), 2);
        QCOMPARE(fileBytes("time.txt"), QByteArray("2026-03-09"));
        QVERIFY(state->InsertRecord("still stored", "info"));
        QCOMPARE(rowsOf("RECORD.db").size(), 3);
    }

    void badDayFileNeverReachesAPath_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("dots") << QByteArray("../../x");
        QTest::newRow("no such date") << QByteArray("2026-13-45");
    }
    void badDayFileNeverReachesAPath()
    {
        QFETCH(QByteArray, content);
        env->writeWorkFile("time.txt", content);
        j->runStartup(1);
        // Taken as today: nothing is moved, and no name is made from the text.
        QCOMPARE(QDir("RECORD").entryList(QDir::Files), QStringList());
        QCOMPARE(rowsOf("RECORD.db").size(), 1);
        QVERIFY(!QFile::exists(QDir(env->workDir()).filePath("../x.db")));
        QCOMPARE(fileBytes("time.txt"), QByteArray("2026-03-09"));
    }

    void badFilesAreReplacedAndKept()
    {
        // Not SQLite at all.
        QFile::remove("RECORD.db");
        env->writeWorkFile("RECORD.db", QByteArray(4096, 'j'));
        j->runStartup(1);
        QCOMPARE(fileBytes("RECORD.db.damaged"), QByteArray(4096, 'j'));
        QCOMPARE(rowsOf("RECORD.db").size(), 1);
        j->close();

        // SQLite without the table, and no template: the table is made.
        QFile::remove("RECORD.db");
        QFile::remove("RECORDNULL.db");
        QVERIFY(sql("RECORD.db", "CREATE TABLE other (a)"));
        j->openAtStart();
        QVERIFY(QFile::exists("RECORD.db.damaged_1"));
        QVERIFY(state->InsertRecord("made anew", "info"));
        QCOMPARE(rowsOf("RECORD.db").value(0).size(), 4);

        // Missing at start: the English notice, the template copy, sync, reboot.
        j->close();
        QFile::remove("RECORD.db");
        QVERIFY(OperationRecords::writeTemplate("RECORDNULL.db"));
        gLan = 0;
        QVERIFY(!j->checkRecordFileAtStart());
        QCOMPARE(prompts.numbers(), QList<int>({135}));
        QCOMPARE(prompts.asked().value(0).text, QString("Database failed to open, please restart!"));
        QCOMPARE(CommandRunner::loggedCommands(),
                 QStringList({"cp -f RECORDNULL.db RECORD.db", "sync", "reboot"}));
        QVERIFY(QFile::exists("RECORD.db"));
    }

    void badTemplateAndLockedJournal()
    {
        // A damaged template is not copied in: the journal is made as the
        // factory tool makes it, at start and at the day's rotation.
        env->writeWorkFile("RECORDNULL.db", QByteArray(3000, 't'));
        QFile::remove("RECORD.db");
        j->openAtStart();
        j->makeArchiveDir();
        j->loadDayAndCheck();
        QVERIFY(state->InsertRecord("stored", "info"));
        clock->setNow(clock->now().addDays(1));
        QVERIFY(j->SlotCheckDate());
        QVERIFY(state->InsertRecord("next day", "info"));
        QCOMPARE(rowsOf("RECORD/2026-03-09.db").value(0).value(2), QString("stored"));
        QCOMPARE(rowsOf("RECORD.db").value(0).value(2), QString("next day"));
        j->close();

        // Locked by another program at start: waited for, reported, kept.
        QSqlDatabase locker = QSqlDatabase::addDatabase("QSQLITE", "locker");
        locker.setDatabaseName("RECORD.db");
        QVERIFY(locker.open() && QSqlQuery(locker).exec("begin exclusive"));
        QVERIFY(QSqlQuery(locker).exec("insert into RECORD (remarks) values ('other program')"));
        j->openAtStart();
        QCOMPARE(prompts.numbers(), QList<int>({764}));
        QVERIFY(QDir().entryList({"RECORD.db.damaged*"}).isEmpty());
        QVERIFY(QSqlQuery(locker).exec("commit"));
        locker.close();
        locker = QSqlDatabase();
        QSqlDatabase::removeDatabase("locker");
        QVERIFY(state->InsertRecord("after the lock", "info"));
        QCOMPARE(rowsOf("RECORD.db").size(), 3);
    }

    // The day's rotation is a link, then the fresh file renamed over
    // RECORD.db, then time.txt: a kill after either of the first two steps
    // is finished at the next start, never archived a second time.
    void interruptedRotationIsFinishedNotRepeated()
    {
        j->runStartup(1);
        QVERIFY(state->InsertRecord("day nine", "info"));
        j->close();
        QCOMPARE(::link("RECORD.db", "RECORD/2026-03-09.db"), 0);
        clock->setNow(clock->now().addDays(1));
        j->runStartup(1);
        QCOMPARE(QDir("RECORD").entryList(QDir::Files), QStringList({"2026-03-09.db"}));
        QCOMPARE(rowsOf("RECORD/2026-03-09.db").size(), 2);
        QCOMPARE(rowsOf("RECORD.db").size(), 1);
        j->close();

        QVERIFY(QFile::remove("RECORD.db") && QFile::copy("RECORDNULL.db", "RECORD.db"));
        env->writeWorkFile("time.txt", "2026-03-09");
        j->runStartup(1);
        QCOMPARE(QDir("RECORD").entryList(QDir::Files), QStringList({"2026-03-09.db"}));
        QCOMPARE(rowsOf("RECORD/2026-03-09.db").size(), 2);
        QCOMPARE(fileBytes("time.txt"), QByteArray("2026-03-10"));
    }

    void callersWriteTheirRows()
    {
        j->runStartup(0);
        CameraManager m;
        m.loadCameraSN();
        m.snList = {"SN-A", "SN-B"};
        m.saveCameraSN();
        const QList<QStringList> rows = rowsOf("RECORD.db");
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[1].mid(2), QStringList({"Save SN 1: SN-A", "info"}));
        QCOMPARE(rows[2].mid(2), QStringList({"Save SN 2: SN-B", "info"}));
    }

    void readOnlyJournalLogsTheWholeEntry()
    {
        j->runStartup(1);
        j->close();
        // Root writes through file modes; an immutable file stops it too.
        if (QProcess::execute("chattr", {"+i", "RECORD.db"}) != 0)
            QSKIP("immutable files are not available here");
        const QString text = QString::fromUtf8("不能丢 it's\r\n") + QString(3000, 'q');
        bool stored = true, logged = false;
        {
            GlogCapture log;
            stored = state->InsertRecord(text, "set");
            logged = log.has(text);
        }
        j->close();
        QProcess::execute("chattr", {"-i", "RECORD.db"});
        QVERIFY(!stored);
        QVERIFY(logged);
        QCOMPARE(viewer.sent.last()["remarks"].toString(), text);
    }

    void entriesFromAnotherThreadLandOnce()
    {
        j->runStartup(1);
        QThread* t = QThread::create([this] {
            for (int i = 0; i < 1000; ++i)
                state->InsertRecord(QStringLiteral("worker %1").arg(i), "API");
        });
        t->start();
        QVERIFY(t->wait(20000));
        delete t;
        QCoreApplication::processEvents();
        const QList<QStringList> rows = rowsOf("RECORD.db");
        QCOMPARE(rows.size(), 1001);
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(rows[i + 1][2], QStringLiteral("worker %1").arg(i));
    }

    // A writer killed at random moments, rotations included: every reopen
    // finds RECORD.db and the archives whole, holding every entry whose
    // InsertRecord returned.
    void killedWriterLosesNothing()
    {
        QSet<int> returned;
        int next = 0;
        QString day = "2026-03-09";
        int kills = 0, corrupt = 0, lost = 0, duplicates = 0;
        int rotationUs = 1500; // measured by the writer as it goes
        while (kills < 40) {
            QProcess p;
            p.setStandardErrorFile(QProcess::nullDevice());
            p.start(QCoreApplication::applicationFilePath(),
                    {"--writer", QString::number(next), day});
            QVERIFY(p.waitForStarted());
            // Every other kill aims at a day rotation, which follows entry
            // 40k + 39; the others at a random entry.
            auto* rnd = QRandomGenerator::global();
            const bool atRotation = kills % 2 == 0;
            int killAfter = rnd->bounded(1, 120);
            if (atRotation)
                killAfter = 40 - next % 40 + rnd->bounded(3) * 40;
            int seen = 0;
            QByteArray buf;
            while (seen < killAfter && p.state() == QProcess::Running) {
                p.waitForReadyRead(5000);
                buf += p.readAllStandardOutput();
                seen = buf.count('\n');
            }
            // A random moment inside the next operation.
            QThread::usleep(rnd->bounded(atRotation ? rotationUs : 3000));
            ::kill(pid_t(p.processId()), SIGKILL);
            p.waitForFinished();
            buf += p.readAllStandardOutput();
            for (const QByteArray& line : buf.split('\n')) {
                if (line.startsWith("day ")) {
                    const QList<QByteArray> f = line.split(' ');
                    rotationUs = qMax(200, f.value(2).toInt() + 100);
                }
                else if (!line.isEmpty()) {
                    returned << line.toInt();
                    next = qMax(next, line.toInt() + 1);
                    // The writer's clock moves on right after this entry: the
                    // next start is on that day, as a panel's would be.
                    if (line.toInt() % 40 == 39)
                        day = QDate::fromString(day, "yyyy-MM-dd").addDays(1).toString("yyyy-MM-dd");
                }
            }
            ++kills;

            QSet<int> stored;
            QStringList files = {"RECORD.db"};
            for (const QString& f : QDir("RECORD").entryList(QDir::Files))
                files << "RECORD/" + f;
            for (const QString& f : files) {
                bool ok = false;
                for (const QStringList& r : rowsOf(f, &ok))
                    if (r.value(2).startsWith("entry "))
                        stored << r.value(2).mid(6).toInt();
                if (!ok)
                    qWarning("%s unreadable after kill %d", qPrintable(f), kills);
                corrupt += ok ? 0 : 1;
            }
            for (int n : returned)
                lost += stored.contains(n) ? 0 : 1;
            // One archive per day: "<day>_1.db" only comes from a rotation
            // done twice.
            duplicates = QDir("RECORD").entryList({"*_*.db"}, QDir::Files).size();
            if (corrupt || lost || duplicates)
                break;
        }
        qInfo("kill test: %d kills, %d corrupt files, %d lost rows, %d duplicate archives (%d entries returned, %lld "
              "archives)",
              kills, corrupt, lost, duplicates, int(returned.size()),
              qlonglong(QDir("RECORD").entryList(QDir::Files).size()));
        QCOMPARE(corrupt + lost + duplicates, 0);
        QVERIFY(QDir("RECORD").entryList(QDir::Files).size() >= 2);
    }
};

int main(int argc, char** argv)
{
    if (argc >= 4 && qstrcmp(argv[1], "--writer") == 0)
        return writerMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestRecords t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_records.moc"

// The statistics worker on real SQLite files: first start, saves, archives,
// legacy files, damaged files and the states a kill can leave behind.
#include "statstestutil.h"

#include "platform/commandrunner.h"
#include "testsupport/recordingprompt.h"

#include <QDir>
#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

#include <unistd.h>

class TstStatsFiles : public StatsTestCase
{
    Q_OBJECT
    RecordingPrompt prompts;

    QStringList archives() { return QDir("ResStatistics").entryList({"*.db"}, QDir::Files, QDir::Name); }

private slots:
    void init()
    {
        startEnv(at(2026, 1, 5, 9));
        OperatorPrompt::install(&prompts);
        prompts.clear();
        writeStatsConfig(at(2026, 1, 5, 8));
    }
    void cleanup()
    {
        OperatorPrompt::install(nullptr);
        stopEnv();
    }

    void firstStartSavesAndArchive()
    {
        QVERIFY(QFile::exists(ResStatisticsDatabase::templateFile()));
        QFile::resize(ResStatisticsDatabase::templateFile(), 0); // a template without the table
        auto m = startModel();
        QVERIFY(QFile::exists("ResStatistics.db"));
        QVERIFY(CommandRunner::loggedCommands().contains("sync"));

        m->addRecord(0, 0, {true, false}, true);
        m->checkDate();
        m->addRecord(0, 0, {true, true}, true);
        checkDateAndWait(m.get());
        QCOMPARE(docRows("ResStatistics.db").size(), 1);
        QCOMPARE(docSum(docOf("ResStatistics.db"), "default", -1, -1, "OK"), 1);

        // (The page lists the new archive: the statistics page's test.)
        clock->setNow(at(2026, 1, 6, 8, 0, 30));
        checkDateAndWait(m.get());
        QCOMPARE(archives(), QStringList({"2026-01-05.db"}));
        const QJsonObject archived = docOf("ResStatistics/2026-01-05.db");
        QCOMPARE(archived["date"].toString(), QString("2026-01-05"));
        QCOMPARE(docSum(archived, "default", -1, -1, "NG"), 1);
        QVERIFY(ResStatisticsDatabase::isFreshFile("ResStatistics.db"));

        // An orderly shut-down keeps the counts of the last minute.
        m->addRecord(1, 0, {false, false}, true);
        m->shutdown();
        QCOMPARE(docSum(docOf("ResStatistics.db"), "default", -1, -1, "NG"), 1);
        QCOMPARE(docOf("ResStatistics.db")["date"].toString(), QString("2026-01-06"));
    }

    void archivesAreNeverLostOrOverwritten()
    {
        // Spaces and quotes in the working directory.
        const QString odd = QDir::current().filePath("work dir 'a\" b");
        QVERIFY(QDir().mkpath(odd));
        for (const char* f : {"ResStatisticsNULL.db", "resstatistics.json"})
            QVERIFY(QFile::copy(f, odd + "/" + QLatin1String(f)));
        QVERIFY(QDir::setCurrent(odd));

        QDir().mkpath("ResStatistics");
        QVERIFY(putStatsFile("ResStatistics/2026-01-05.db", QJsonObject{{"date", "2026-01-05"}, {"groups", QJsonArray()}}));
        auto m = startModel();
        m->addRecord(0, 0, {false, true}, true);
        clock->setNow(at(2026, 1, 6, 8, 1));
        checkDateAndWait(m.get());
        QCOMPARE(archives(), QStringList({"2026-01-05.1.db", "2026-01-05.db"}));
        QCOMPARE(docOf("ResStatistics/2026-01-05.db")["groups"].toArray().size(), 0);
        QCOMPARE(docSum(docOf("ResStatistics/2026-01-05.1.db"), "default", -1, -1, "NG"), 1);

        // The move fails (the folder cannot be made): the day stays in the
        // live file, and the next day's saves do not overwrite it.
        m->addRecord(0, 0, {false, false}, true);
        QVERIFY(QDir("ResStatistics").removeRecursively());
        QFile blocker("ResStatistics");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        clock->setNow(at(2026, 1, 7, 8, 1));
        m->checkDate();
        m->addRecord(0, 0, {true, true}, true);
        checkDateAndWait(m.get());
        QCOMPARE(docOf("ResStatistics.db")["date"].toString(), QString("2026-01-06"));
        QCOMPARE(docSum(docOf("ResStatistics.db"), "default", -1, -1, "NG"), 1);
        QVERIFY(QFile::remove("ResStatistics"));
        checkDateAndWait(m.get());
        QCOMPARE(docSum(docOf("ResStatistics/2026-01-06.db"), "default", -1, -1, "NG"), 1);
        QCOMPARE(docOf("ResStatistics.db")["date"].toString(), QString("2026-01-07"));
        QCOMPARE(docSum(docOf("ResStatistics.db"), "default", -1, -1, "OK"), 1);
    }

    void legacyFilesConvertOnce()
    {
        QDir().mkpath("ResStatistics");
        QString many;
        for (int i = 1; i <= 30; ++i)
            many += QString::number(i) + " ";
        QVERIFY(putStatsFile("ResStatistics/2024-05-01.db", QJsonObject(),
                             {{"C0_D0", {"1 2 3", "0 1"}}, {"C8_D8", {many, ""}}, {"C1_D8", {"5", "6"}}}));
        auto m = startModel();
        QSignalSpy done(m.get(), &ResStatisticsParam::sigLoadFinish);
        m->slotUpdateRecord(1, "ResStatistics/2024-05-01.db");
        flushWorker(m.get());
        QCOMPARE(done.size(), 1);
        QCOMPARE(done[0][0].toBool(), true);
        QCOMPARE(m->showCount.date, QString("2024-05-01"));
        const CountGroup g = m->showCount.groups.first();
        QCOMPARE(g.groupName, QString("default"));
        QCOMPARE(g.datas[0].data[0].OK.mid(0, 4) + QList<int>({g.datas[0].data[0].NG[1], g.datas[1].total.NG[0]}),
                 QList<int>({1, 2, 3, 0, 1, 6}));
        QCOMPARE(g.total.total.OK.mid(22), QList<int>({23, 24})); // 30 slots given, 24 kept
        QCOMPARE(docRows("ResStatistics/2024-05-01.db").size(), 1);

        // A file that does not open: an empty "default" day, and row 0 is
        // today without asking the worker.
        m->slotUpdateRecord(2, "ResStatistics/none.db");
        flushWorker(m.get());
        QCOMPARE(done.last()[0].toBool(), false);
        QCOMPARE(m->showCount.groups.first().groupName, QString("default"));
        QCOMPARE(m->showCount.groups.first().total.total.whole.ok, 0);
        m->addRecord(0, 0, {true, true}, true);
        m->slotUpdateRecord(0, QString());
        QCOMPARE(done.size(), 3);
        QCOMPARE(m->showCount.groups.first().total.total.whole.ok, 1);
        m->shutdown();

        // A legacy live file takes the current group and day.
        QVERIFY(putStatsFile("ResStatistics.db", QJsonObject(), {{"C8_D8", {"0 4", "0 0 2"}}}));
        auto live = startModel("mould-7");
        QCOMPARE(live->liveCount.date, QString("2026-01-05"));
        QCOMPARE(live->liveCount.groups.first().groupName, QString("mould-7"));
        QCOMPARE(live->liveCount.groups.first().total.total.OK[1], 4);
    }

    void damagedLiveFileIsSetAside()
    {
        for (int kind = 0; kind < 3; ++kind) {
            prompts.clear();
            QFile::remove("ResStatistics.db");
            for (const QString& f : QDir().entryList({"ResStatistics.db.bad-*"}, QDir::AllEntries))
                QDir(f).exists() ? QDir(f).removeRecursively() : QFile::remove(f);
            if (kind == 0) {
                env->writeWorkFile("ResStatistics.db", QByteArray(5000, 'x'));
            } else if (kind == 1) {
                QJsonObject big{{"date", "2026-01-05"}, {"pad", QString(20000, 'p')}};
                QVERIFY(putStatsFile("ResStatistics.db", big));
                QFile::resize("ResStatistics.db", 6000);
            } else {
                QVERIFY(QDir().mkdir("ResStatistics.db"));
            }
            auto m = startModel();
            QCOMPARE(prompts.numbers(), QList<int>({544}));
            QCOMPARE(QDir().entryList({"ResStatistics.db.bad-*"}, QDir::AllEntries).size(), 1);
            QVERIFY(QFileInfo("ResStatistics.db").isFile());
            m->addRecord(0, 0, {true, true}, true);
            checkDateAndWait(m.get());
            QCOMPARE(docSum(docOf("ResStatistics.db"), "default", -1, -1, "OK"), 1);
            m->shutdown();
        }
        QVERIFY(CommandRunner::loggedCommands().contains("reboot"));
    }

    void badTemplateNeverLoopsTheStart()
    {
        // Damaged template, no live file: the empty day is made as the
        // factory tool makes it, start after start, and at the rotation.
        env->writeWorkFile("ResStatisticsNULL.db", QByteArray(3000, 't'));
        QFile::remove("ResStatistics.db");
        for (int start = 1; start <= 2; ++start) {
            auto m = startModel();
            m->addRecord(0, 0, {true, true}, true);
            checkDateAndWait(m.get());
            QCOMPARE(docSum(docOf("ResStatistics.db"), "default", -1, -1, "OK"), start);
        }
        QCOMPARE(prompts.numbers(), QList<int>());
        auto m = startModel();
        clock->setNow(at(2026, 1, 6, 8, 1));
        checkDateAndWait(m.get());
        QCOMPARE(docSum(docOf("ResStatistics/2026-01-05.db"), "default", -1, -1, "OK"), 2);
        m->addRecord(0, 0, {false, true}, true);
        checkDateAndWait(m.get());
        QCOMPARE(docSum(docOf("ResStatistics.db"), "default", -1, -1, "NG"), 1);
        m->shutdown();
        // A damaged live file beside it: said once, then quiet.
        env->writeWorkFile("ResStatistics.db", QByteArray(3000, 'x'));
        startModel();
        startModel();
        QCOMPARE(prompts.numbers(), QList<int>({544}));
        QVERIFY(!CommandRunner::loggedCommands().contains("cp"));
    }

    void lockedLiveFileIsKept()
    {
        auto m = startModel();
        m->addRecord(0, 0, {true, true}, true);
        m->addRecord(0, 0, {false, true}, true);
        m->addRecord(0, 0, {false, false}, true);
        m->shutdown();
        // Another program holds the file through the whole start.
        QSqlDatabase locker = QSqlDatabase::addDatabase("QSQLITE", "locker");
        locker.setDatabaseName("ResStatistics.db");
        QVERIFY(locker.open() && QSqlQuery(locker).exec("begin exclusive"));
        QVERIFY(QSqlQuery(locker).exec("insert into resstatistics values ('other', '', '')"));
        {
            auto again = startModel();
            QCOMPARE(prompts.numbers(), QList<int>({764}));
            // Counted while the file is held: added to what it holds, column
            // by column, once it is free.
            again->addRecord(0, 0, {false, true}, true);
            QVERIFY(QDir().entryList({"ResStatistics.db.bad-*"}, QDir::AllEntries).isEmpty());
            QVERIFY(!CommandRunner::loggedCommands().contains("reboot"));
            QVERIFY(QSqlQuery(locker).exec("rollback"));
        }
        locker.close();
        locker = QSqlDatabase();
        QSqlDatabase::removeDatabase("locker");
        QCOMPARE(docSum(docOf("ResStatistics.db"), "default", -1, -1, "OK"), 1);
        QCOMPARE(docSum(docOf("ResStatistics.db"), "default", -1, -1, "NG"), 3);
        QCOMPARE(docSum(docOf("ResStatistics.db"), "default", 0, 0, "NG"), 3);
        QCOMPARE(docSum(docOf("ResStatistics.db"), "default", 1, 0, "OK"), 3);
    }

    void foreignDayInTheLiveFile_data()
    {
        QTest::addColumn<QString>("date");
        QTest::newRow("path") << "../esc_stat"; // the archive folder's parent
        QTest::newRow("far future") << "2099-12-31";
        QTest::newRow("no such day") << "2026-02-30";
    }
    void foreignDayInTheLiveFile()
    {
        QFETCH(QString, date);
        QVERIFY(putStatsFile("ResStatistics.db", dayJson(date, [](CountGroup& g) { g.total.total.OK[0] = 5; })));
        {
            auto m = startModel();
            QCOMPARE(m->getCurDBDate(), QString("2026-01-05"));
            m->addRecord(0, 0, {true, true}, true);
            checkDateAndWait(m.get());
        }
        QCOMPARE(docOf("ResStatistics.db")["date"].toString(), QString("2026-01-05"));
        QCOMPARE(docSum(docOf("ResStatistics.db"), "default", -1, -1, "OK"), 1);
        const QStringList aside = QDir().entryList({"ResStatistics.db.bad-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(docOf(aside[0])["date"].toString(), date);
        QCOMPARE(archives(), QStringList());
        QVERIFY(!QFileInfo::exists("esc_stat.db"));

        // Planted while the station runs: set aside at the next save too.
        auto m = startModel();
        QVERIFY(putStatsFile("ResStatistics.db", dayJson(date, [](CountGroup&) {})));
        m->addRecord(0, 0, {true, true}, true);
        checkDateAndWait(m.get());
        QCOMPARE(docOf("ResStatistics.db")["date"].toString(), QString("2026-01-05"));
        QCOMPARE(archives(), QStringList());
        QVERIFY(!QFileInfo::exists("esc_stat.db"));
    }

    void restartAfterKillInTheRotation()
    {
        // The new start time was written, the archive not made: the old day
        // is archived under its own date, not merged into the new one.
        const QJsonObject old = dayJson("2026-01-04", [](CountGroup& g) { g.total.total.OK[3] = 9; });
        QVERIFY(putStatsFile("ResStatistics.db", old));
        {
            auto m = startModel();
            QCOMPARE(m->liveCount.groups.size(), 0);
            QCOMPARE(docSum(docOf("ResStatistics/2026-01-04.db"), "default", -1, -1, "OK"), 9);
            QVERIFY(ResStatisticsDatabase::isFreshFile("ResStatistics.db"));
        }
        // The archive was made, the new start time not written: no empty
        // day is archived beside the real one. The first start saved its
        // day on the way out, so the live file is newer than the settings;
        // then the same with the fresh file the kill leaves.
        for (bool fresh : {false, true}) {
            if (fresh)
                QVERIFY(QFile::remove("ResStatistics.db") && ResStatisticsDatabase::writeTemplate("ResStatistics.db"));
            writeStatsConfig(at(2026, 1, 4, 8));
            {
                auto m = startModel();
                QCOMPARE(m->getCurDBDate(), QString("2026-01-05"));
                checkDateAndWait(m.get());
            }
            QCOMPARE(archives(), QStringList({"2026-01-04.db"}));
        }
        // Killed between the link and the unlink: one file under two names.
        QVERIFY(putStatsFile("ResStatistics.db", old));
        QFile::remove("ResStatistics/2026-01-04.db");
        QCOMPARE(::link("ResStatistics.db", "ResStatistics/2026-01-04.db"), 0);
        writeStatsConfig(at(2026, 1, 5, 8));
        {
            auto m = startModel();
            QCOMPARE(m->liveCount.groups.size(), 0);
        }
        QCOMPARE(archives(), QStringList({"2026-01-04.db"}));
        QCOMPARE(docOf("ResStatistics.db")["date"].toString(), QString("2026-01-05"));
        QCOMPARE(docSum(docOf("ResStatistics.db"), "default", -1, -1, "OK"), 0);
    }
};

QTEST_GUILESS_MAIN(TstStatsFiles)
#include "tst_stats_files.moc"

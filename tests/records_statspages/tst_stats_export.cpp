// The statistics export with the real converter, a simulated drive and real
// day files; faults with scripted converters.
#include "frame/findau.h"
#include "records/copy2movedisk.h"
#include "records/diskmanager.h"
#include "records/exportresultworker.h"
#include "records_statspages/statspagestestutil.h"
#include "records_usb/simdrive.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

class TestStatsExport : public StatsTestCase
{
    Q_OBJECT
    const QString stamp = "2024-05-03_10.20.30";

    QString plainMnt() const { return env->simRoot() + "/mnt"; }
    QString onDrive(const QString& rel) const { return env->simRoot() + "/drives/sdb1/" + stamp + "/" + rel; }

    // Runs one export on a thread of its own (as the page does), moving the
    // test clock while it waits. Returns the reason when it failed.
    QString exportRange(ExportResultWorker& w, const QString& from, const QString& to, qint64 stepMs = 0)
    {
        QThread t;
        w.moveToThread(&t);
        QSignalSpy finished(&w, &ExportResultWorker::finish);
        QSignalSpy failed(&w, &ExportResultWorker::failed);
        t.start();
        QMetaObject::invokeMethod(&w, [&w, from, to] { w.work({from, to}); }, Qt::QueuedConnection);
        for (int i = 0; i < 1500 && finished.isEmpty(); ++i) {
            if (stepMs)
                clock->advance(stepMs);
            finished.wait(20);
        }
        QMetaObject::invokeMethod(&w, [&w] { w.moveToThread(QCoreApplication::instance()->thread()); },
                                  Qt::BlockingQueuedConnection);
        t.quit();
        t.wait();
        if (finished.size() != 1)
            return "did not finish";
        return failed.isEmpty() ? QString() : failed.first().first().toString();
    }

private slots:
    void init()
    {
        startEnv(at(2024, 5, 3, 10, 20, 30));
        QDir().mkpath("ResStatistics");
    }
    void cleanup() { stopEnv(); }

    void choosesDayFilesByCalendarDate()
    {
        for (const char* name : {"2024-05-01.db", "2024-05-03.db", "2024-05-03.1.db", "junk.db", "2024-13-01.db",
                                 "05-02-2024.db", "2024-05-02.txt"})
            QVERIFY(putStatsFile(QString("ResStatistics/") + name, {}));
        const QDate today(2024, 5, 3);
        QCOMPARE(ExportResultWorker::selectFiles(QDate(2024, 5, 1), today, today),
                 QStringList({"./ResStatistics/2024-05-01.db", "./ResStatistics/2024-05-03.1.db",
                              "./ResStatistics/2024-05-03.db", "./ResStatistics.db"}));
        // Ending yesterday leaves the live day out, whatever day it holds.
        QCOMPARE(ExportResultWorker::selectFiles(QDate(2024, 5, 1), QDate(2024, 5, 2), today),
                 QStringList({"./ResStatistics/2024-05-01.db"}));
        QCOMPARE(ExportResultWorker::selectFiles(today, today, today),
                 QStringList({"./ResStatistics/2024-05-03.1.db", "./ResStatistics/2024-05-03.db", "./ResStatistics.db"}));
        QCOMPARE(ExportResultWorker::selectFiles(QDate(2024, 5, 3), QDate(2024, 5, 1), today), QStringList());
        QCOMPARE(ExportResultWorker::selectFiles(QDate(), today, today), QStringList());
    }

    void exportsEveryNumberToTheDrive()
    {
        const QString drive = addDrive(*env, true);
        const QString group = QString::fromUtf8("模具A, \"新\"");
        QVERIFY(putStatsFile("ResStatistics/2024-05-01.db", dayDoc("2024-05-01", group, 3)));
        // Legacy layout: one row per camera and detection, space-separated slots.
        QVERIFY(putStatsFile("ResStatistics/2024-05-02.db", {},
                             {{"C0_D0", {"1 2 3", "4 5 6"}}, {"C8_D8", {"7", "8"}}}));
        QVERIFY(putStatsFile("ResStatistics.db", dayDoc("2024-05-03", "default", 5)));
        const QByteArray before = fileBytes("ResStatistics/2024-05-01.db") + fileBytes("ResStatistics.db");

        ExportResultWorker w;
        QSignalSpy progress(&w, &ExportResultWorker::exportProgress);
        QCOMPARE(exportRange(w, "2024-05-01", "2024-05-03"), QString());
        QList<QList<QVariant>> expected = {{3, 0}, {3, 1}, {3, 2}, {3, 3}};
        QCOMPARE(QList<QList<QVariant>>(progress.begin(), progress.end()), expected);

        // Every figure of the document is in the table, the sums too.
        const QStringList files = QDir(onDrive("2024-05-01")).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        const QList<QStringList> rows = parseCsv(QString::fromUtf8(fileBytes(onDrive("2024-05-01/" + files[0]))));
        QCOMPARE(rows.size(), 4 + 24 + 3);
        QCOMPARE(rows[1], QStringList({"group", group}));
        QCOMPARE(rows[3].size(), 1 + 2 * 9);
        int col = 1;
        for (int c : {0, 1, -1})
            for (int d : {0, 1, -1}) {
                int dayOk = 0, wholeNg = 0;
                for (int i = 0; i < 24; ++i) {
                    const int ok = (3 + i * 3 + (c + 2) * 5 + (d + 2)) % 17, ng = (3 + i + c * 2 + d) % 5;
                    QCOMPARE(rows[4 + i][0].toInt(), (8 + i) % 24);
                    QCOMPARE(rows[4 + i][col].toInt(), ok);
                    QCOMPARE(rows[4 + i][col + 1].toInt(), ng);
                    dayOk += i < 12 ? ok : 0;
                    wholeNg += ng;
                }
                QCOMPARE(rows[28][col].toInt(), dayOk);
                QCOMPARE(rows[30][col + 1].toInt(), wholeNg);
                col += 2;
            }
        const QList<QStringList> legacy =
            parseCsv(QString::fromUtf8(fileBytes(onDrive("2024-05-02/default.csv"))));
        QCOMPARE(legacy[4].mid(1, 2), QStringList({"1", "4"}));
        QCOMPARE(legacy[6].mid(1, 2), QStringList({"3", "6"}));
        QCOMPARE(legacy[4].mid(legacy[4].size() - 2), QStringList({"7", "8"}));
        QVERIFY(QFileInfo::exists(onDrive("2024-05-03/default.csv")));

        // Moved, not copied: nothing left to export twice; day files untouched.
        QCOMPARE(QDir("ResStatistics").entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(fileBytes("ResStatistics/2024-05-01.db") + fileBytes("ResStatistics.db"), before);
        QVERIFY(QFileInfo(drive).isDir());
    }

    void countsOnlyCompleteDoneLines()
    {
        addDrive(*env, true);
        QVERIFY(putStatsFile("ResStatistics.db", dayDoc("2024-05-03", "default", 1)));
        QVERIFY(putStatsFile("ResStatistics/2024-05-02.db", dayDoc("2024-05-02", "default", 1)));
        fakeConverter("mkdir -p ResStatistics/x\necho \"$#:$1\" > ResStatistics/x/arg.txt\n"
                      "printf 'Done 1\\nworking\\nDone 2\\nDone 3\\nxDone\\nDone'\n");
        ExportResultWorker w;
        QSignalSpy progress(&w, &ExportResultWorker::exportProgress);
        QCOMPARE(exportRange(w, "2024-05-02", "2024-05-03"), QString());
        // More lines than files is accepted; a last line without a line feed is not counted.
        QCOMPARE(progress.last(), QList<QVariant>({2, 3}));
        QCOMPARE(progress.size(), 4);
        QCOMPARE(fileBytes(onDrive("x/arg.txt")), QByteArray("1:./ResStatistics/2024-05-02.db,./ResStatistics.db\n"));

        // No day in range: total 0, nothing to convert, and it says so.
        fakeConverter("echo \"[$1]\" > ResStatistics/arg.txt; mkdir -p ResStatistics/y\n");
        QSignalSpy nothing(&w, &ExportResultWorker::nothingToExport);
        QCOMPARE(exportRange(w, "2024-05-03", "2024-05-01"), QString());
        QCOMPARE(progress.last(), QList<QVariant>({0, 0}));
        QCOMPARE(nothing.size(), 1);
        QVERIFY(!QFileInfo::exists("ResStatistics/arg.txt"));
    }

    void faultsKeepTheDataAndReportFailure_data()
    {
        QTest::addColumn<QByteArray>("converter");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("reason");
        const QByteArray good = "mkdir -p ResStatistics/2024-05-03 && echo 1 > ResStatistics/2024-05-03/t.csv\necho Done\n";
        QTest::newRow("missing converter") << QByteArray() << 0 << "converter failed";
        QTest::newRow("crashing converter") << QByteArray("mkdir -p ResStatistics/d\nkill -SEGV $$\n") << 0 << "converter failed";
        QTest::newRow("failing converter") << QByteArray("mkdir -p ResStatistics/d\nexit 1\n") << 0 << "converter failed";
        QTest::newRow("garbage, no folder") << QByteArray("head -c 3000 /dev/urandom\n") << 0 << "no day folder";
        QTest::newRow("hanging converter") << QByteArray("mkdir -p ResStatistics/d\nexec sleep 600\n") << 0 << "converter failed";
        QTest::newRow("no drive") << good << 1 << "no drive";
        QTest::newRow("drive pulled in the move") << good << 2 << "went away";
        QTest::newRow("drive refuses writes") << good << 3 << "cannot create";
        QTest::newRow("a link where the stamp folder must go") << good << 4 << "cannot create";
        QTest::newRow("drive hands back other bytes") << good << 5 << "did not arrive whole";
    }
    void faultsKeepTheDataAndReportFailure()
    {
        QFETCH(QByteArray, converter);
        QFETCH(int, fault);
        QFETCH(QString, reason);
        addDrive(*env, fault != 1);
        QVERIFY(putStatsFile("ResStatistics.db", dayDoc("2024-05-03", "default", 1)));
        QVERIFY(putStatsFile("ResStatistics/2024-05-02.db", dayDoc("2024-05-02", "default", 2)));
        const QByteArray before = fileBytes("ResStatistics.db");
        if (converter.isEmpty())
            QFile::remove("ruv_net/export_result_statistics/export_result_statistics");
        else
            fakeConverter(converter);
        if (fault == 3) // a file where the stamp folder must go
            QVERIFY(env->writeSimFile("/drives/sdb1/" + stamp, "x"));
        const QString outside = env->simRoot() + "/outside";
        if (fault == 4) // a link laid on the drive to lead the copy elsewhere
            QVERIFY(QDir().mkpath(outside) && QFile::link(outside, env->simRoot() + "/drives/sdb1/" + stamp));
        ExportResultWorker w;
        w.setCopyObserver([this, fault](const QString&) {
            if (fault == 2)
                CommandRunner::bash("umount /mnt");
            if (fault == 5) { // a failing stick: the name is there, the bytes are not
                QFile f(onDrive("2024-05-03/t.csv"));
                QVERIFY(f.open(QIODevice::ReadWrite) && f.write("2") == 1);
            }
        });
        const bool hangs = converter.contains("sleep");
        const QString got = exportRange(w, "2024-05-01", "2024-05-03", hangs ? 5000 : 0);
        QVERIFY2(got.contains(reason), qPrintable(got));
        QCOMPARE(fileBytes("ResStatistics.db"), before);
        QVERIFY(QFileInfo::exists("ResStatistics/2024-05-02.db"));
        // Nothing on the system disk's plain mount point.
        if (!QFileInfo(plainMnt()).isSymLink())
            QCOMPARE(QDir(plainMnt()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        // Nothing converted stays behind to ride along with the next export,
        // and no half stamp folder on a drive that is still there.
        QCOMPARE(QDir("ResStatistics").entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
        if (fault < 2 || fault == 5) // (a pulled drive keeps what reached it)
            QVERIFY(!QFileInfo::exists(onDrive("")));
        QCOMPARE(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        if (fault == 4)
            QVERIFY(QFileInfo(env->simRoot() + "/drives/sdb1/" + stamp).isSymLink());
    }

    // One day file that cannot be read: the others are exported, that day is
    // named, nothing stays behind; a legacy day is converted without being
    // written to.
    void unreadableDayIsNamedTheRestExported()
    {
        addDrive(*env, true);
        QVERIFY(putStatsFile("ResStatistics/2024-05-01.db", dayDoc("2024-05-01", "default", 3)));
        QVERIFY(env->writeWorkFile("ResStatistics/2024-05-02.db", QByteArray(4000, 'x')));
        QVERIFY(putStatsFile("ResStatistics/2024-04-30.db", {}, {{"C8_D8", {"7", "8"}}}));
        QFile::setPermissions("ResStatistics/2024-04-30.db", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QByteArray legacy = fileBytes("ResStatistics/2024-04-30.db");
        // Left by an export killed half way: not taken for this one's days.
        QVERIFY(env->writeWorkFile("ResStatistics/2024-04-29/old.csv", "stale"));
        ExportResultWorker w;
        QSignalSpy unread(&w, &ExportResultWorker::unreadable);
        QCOMPARE(exportRange(w, "2024-04-29", "2024-05-02"), QString());
        QCOMPARE(unread.size(), 1);
        QCOMPARE(unread[0][0].toStringList(), QStringList({"2024-05-02"}));
        QVERIFY(QFileInfo::exists(onDrive("2024-05-01/default.csv")));
        const QStringList hour8 = parseCsv(QString::fromUtf8(fileBytes(onDrive("2024-04-30/default.csv")))).value(4);
        QCOMPARE(hour8.mid(hour8.size() - 2), QStringList({"7", "8"}));
        QCOMPARE(QDir(onDrive("")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({"2024-04-30", "2024-05-01"}));
        QCOMPARE(QDir("ResStatistics").entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(fileBytes("ResStatistics/2024-04-30.db"), legacy);
    }

    // The image writer's stick came first and holds "/mnt"; the export takes
    // "/mnt" for the other stick. The writer must never spill onto the
    // export's stick, and must copy to its own again without a replug.
    void twoDrivesKeepTheImageWriterOffTheExportDrive()
    {
        QVERIFY(env->writeSimFile("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n"));
        const SimDrive own{env->simRoot(), 33, "sdc1", "CCCC"};
        const SimDrive other{env->simRoot(), 17, "sdb1", "BBBB"};
        DiskManager m;
        Copy2MoveDisk* c2m = Copy2MoveDisk::getInstance();
        connect(&m, &DiskManager::diskInfoChange, c2m, &Copy2MoveDisk::diskInfoChange, Qt::DirectConnection);
        QVERIFY(own.plug() && m.pollOnce());
        QVERIFY(other.plug() && m.pollOnce());
        QCOMPARE(c2m->prepath(), QString("/mnt"));
        QCOMPARE(c2m->deviceId(), QString("CCCC"));
        c2m->start(false);
        QImage img(32, 24, QImage::Format_RGB32);
        img.fill(Qt::red);
        int copied = 0, tried = 0;
        auto copyOne = [&] {
            c2m->add_map_actqueue("./alarmimage/camera0/detect0/NG", QString::number(tried++), img);
            copied += c2m->writeOnce();
        };
        copyOne();
        QCOMPARE(copied, 1);

        QVERIFY(env->writeSimFile("/cmd/blkid.out", "/dev/sda2: UUID=\"a\" TYPE=\"ext4\"\n"
                                                    "/dev/sdb1: UUID=\"BBBB\" TYPE=\"vfat\"\n"
                                                    "/dev/sdc1: UUID=\"CCCC\" TYPE=\"vfat\"\n"));
        QCOMPARE(FindAU(), QString("/mnt"));
        QVERIFY(isMountedAt("/dev/sdb1", "/mnt"));
        QVERIFY(putStatsFile("ResStatistics.db", dayDoc("2024-05-03", "default", 1)));
        ExportResultWorker w;
        // The drive poll and the image writer go on while the export copies.
        w.setCopyObserver([&](const QString&) {
            for (int i = 0; i < 3; ++i) {
                m.pollOnce();
                copyOne();
            }
        });
        QCOMPARE(exportRange(w, "2024-05-03", "2024-05-03"), QString());
        m.pollOnce();
        const int before = copied;
        copyOne();
        QCOMPARE(copied, before + 1);
        QCOMPARE(c2m->deviceId(), QString("CCCC"));

        // Each stick holds only its own: the export's folder, the writer's images.
        QCOMPARE(QDir(other.medium()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{stamp});
        QVERIFY(QFileInfo::exists(onDrive("2024-05-03/default.csv")));
        QCOMPARE(QDir(own.medium()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"monitor_CCCC"});
        QCOMPARE(QDir(own.medium() + "/monitor_CCCC/20240503/camera0/detect0/NG").entryList(QDir::Files).size(),
                 copied);
        c2m->stop();
        c2m->diskInfoChange({});
        c2m->writeOnce();
    }
};

QTEST_GUILESS_MAIN(TestStatsExport)
#include "tst_stats_export.moc"

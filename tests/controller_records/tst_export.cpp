// The export categories and the export job against a simulated USB drive:
// each category copies exactly its files, no drive asks again, a drive
// pulled or full mid-export stops the job.
#include "controller/dataexportjob.h"
#include "controller/exportcatalogue.h"
#include "frame/clock.h"
#include "platform/commandrunner.h"
#include "records_statspages/statspagestestutil.h"
#include "testsupport/recordingprompt.h"
#include "testsupport/testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QtTest>

namespace {

const char* const kBlkid = "/dev/sda1: UUID=\"0f1e\" TYPE=\"ext4\"\n/dev/sdb1: UUID=\"AB-12\" TYPE=\"vfat\"\n";

// The operator, who may plug a drive in while a question is up.
struct Answers : RecordingPrompt {
    std::function<void()> onAsk;
    bool prompt(Kind kind, int msg, const QString& text) override
    {
        if (onAsk)
            onAsk();
        return RecordingPrompt::prompt(kind, msg, text);
    }
};

QStringList filesUnder(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(dir).relativeFilePath(it.next());
    out.sort();
    return out;
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT
    TestEnv* env = nullptr;
    TestClock clock{QDateTime(QDate(2026, 3, 9), QTime(8, 7, 6))};
    Answers answers;
    const QString dest = "export_20260309_080706";

    void plugDrive()
    {
        env->writeSimFile("/cmd/blkid.out", kBlkid);
        QDir().mkpath(env->simRoot() + "/drives/sdb1");
    }

private slots:
    void init()
    {
        env = new TestEnv(false);
        env->writeSimFile("/proc/mounts", "/dev/sda1 / ext4 rw 0 0\n");
        Clock::install(&clock);
        answers.clear();
        answers.onAsk = nullptr;
        OperatorPrompt::install(&answers);
        for (const char* f : {"originalimage/cammer11/a.bmp", "cammer11/t1.bmp", "cammer28/t2.bmp", "cammerx/no.bmp",
                              "alarmimage/camera1/detect1/OK/ok.jpg", "alarmimage/camera1/detect2/NG/ng.jpg",
                              "RECORD/2026-03-08.db", "ruv_net/workspace/log/station.log", "PARAM.db"})
            QVERIFY(env->writeWorkFile(f, QByteArray(f).repeated(50)));
    }
    void cleanup()
    {
        OperatorPrompt::install(nullptr);
        delete env;
    }

    void catalogueChoices()
    {
        // Each category alone: the copy test below.
        ExportCatalogue c;
        QCOMPARE(c.getExportPathByContext({}), QStringList());
        QCOMPARE(c.getExportPathByContext({"日志", "全部文件", "测试图"}), QStringList({"./*"}));
        QCOMPARE(c.getExportPathByContext({"NG警报图", "nothing", "测试图"}),
                 QStringList({"./alarmimage_NG", "./originalimage"}));
    }

    void eachCategoryCopiesExactlyItsFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("training") << "测试图" << QStringList({"originalimage/cammer11/a.bmp"});
        QTest::newRow("templates") << "模板图" << QStringList({"cammer11/t1.bmp", "cammer28/t2.bmp"});
        QTest::newRow("OK") << "OK警报图" << QStringList({"alarmimage/camera1/detect1/OK/ok.jpg"});
        QTest::newRow("NG") << "NG警报图" << QStringList({"alarmimage/camera1/detect2/NG/ng.jpg"});
        QTest::newRow("records") << "操作记录" << QStringList({"RECORD/2026-03-08.db"});
        QTest::newRow("logs") << "日志" << QStringList({"ruv_net/workspace/log/station.log"});
    }
    void eachCategoryCopiesExactlyItsFiles()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, files);
        plugDrive();
        const QString mount = DataExportJob::findDrive();
        QCOMPARE(mount, QString("/mnt"));
        DataExportJob job(ExportCatalogue().getExportPathByContext({name}), mount);
        QCOMPARE(job.run(), DataExportJob::Done);
        const QString out = env->simRoot() + "/drives/sdb1/" + dest;
        QCOMPARE(filesUnder(out), files);
        for (const QString& f : files)
            QCOMPARE(fileBytes(out + "/" + f), fileBytes(f));
        QVERIFY(CommandRunner::loggedCommands().contains("sync"));
    }

    void noDriveAsksAgain()
    {
        answers.answer(true);
        answers.answer(true);
        QCOMPARE(DataExportJob::findDrive(), QString());
        QCOMPARE(answers.numbers(), QList<int>({320, 320, 320}));
        // Plugged in while the question is up: found on the retry.
        answers.clear();
        answers.answer(true);
        answers.onAsk = [this] { plugDrive(); };
        QCOMPARE(DataExportJob::findDrive(), QString("/mnt"));
        QCOMPARE(answers.numbers(), QList<int>({320}));
    }

    void pulledOrFullDriveStopsTheJob()
    {
        plugDrive();
        QCOMPARE(DataExportJob::findDrive(), QString("/mnt"));
        DataExportJob job({"./*"}, "/mnt");
        const int total = job.sourceFiles().size();
        QVERIFY(total >= 9);
        const DataExportJob::Result r = job.run([](int done, int) {
            if (done == 2)
                CommandRunner::system("umount /mnt");
        });
        QCOMPARE(r, DataExportJob::DriveGone);
        QCOMPARE(DataExportJob::messageFor(r), 762);
        QCOMPARE(QList<int>({job.copiedCount(), int(filesUnder(env->simRoot() + "/drives/sdb1").size())}), QList<int>({2, 2}));
        // The bare mount point is left as it was: nothing written below it.
        QVERIFY(!QFileInfo(env->simRoot() + "/mnt").isSymLink());
        QCOMPARE(filesUnder(env->simRoot() + "/mnt"), QStringList());

        // A write that fails (the drive is full) stops the job as well.
        QCOMPARE(DataExportJob::findDrive(), QString("/mnt"));
        clock.advance(1000);
        const QString out = env->simRoot() + "/drives/sdb1/export_20260309_080707";
        QVERIFY(QDir().mkpath(out + "/RECORD"));
        QVERIFY(QFile::link("/dev/full", out + "/RECORD/2026-03-08.db"));
        DataExportJob full({"./ruv_net/workspace/log", "./RECORD", "./originalimage"}, "/mnt");
        QCOMPARE(full.run(), DataExportJob::WriteFailed);
        QCOMPARE(full.copiedCount(), 1);
        QCOMPARE(DataExportJob::messageFor(DataExportJob::WriteFailed), 763);
    }
};

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"

// Putting a factory file in place must survive a kill at any moment: the
// target is always the old file or the whole copy, never a short one.
#include "frame/clock.h"
#include "frame/databasefile.h"
#include "inspection/cameramanager.h"
#include "platform/commandrunner.h"
#include "testsupport/recordingprompt.h"
#include "testsupport/testenv.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <utility>

namespace {

// A valid (name, value) file of about `bytes` bytes, with `rows` more rows of
// 200 bytes each; `tag` makes it unique.
bool makeDb(const QString& file, const QString& tag, int bytes, int rows = 0)
{
    const QString name = "make-" + file;
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(file);
        ok = db.open();
        QSqlQuery q(db);
        ok = ok && q.exec("begin") && q.exec("create table sysparam(name text, value text)");
        ok = ok && q.exec("create table pad(b blob)");
        ok = ok && q.exec(QString("insert into sysparam values('tag', '%1')").arg(tag));
        q.prepare("insert into pad values(?)");
        q.addBindValue(QByteArray(bytes, tag.at(0).toLatin1()));
        ok = ok && q.exec();
        for (int i = 0; ok && i < rows; ++i)
            ok = q.exec(QString("insert into sysparam values('row%1', '%2')").arg(i).arg(QString(200, 'v')));
        ok = ok && q.exec("commit");
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

QByteArray digest(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1)
                                       : QByteArray("missing");
}

} // namespace

class TstRestore : public QObject
{
    Q_OBJECT
private slots:
    void killedRestoreLeavesOldOrWholeCopy()
    {
        TestEnv env(false);
        QVERIFY(makeDb("PARAM.old", "old", 6 << 20) && makeDb("PARAM.factory", "factory", 6 << 20));
        QVERIFY(makeDb("SN.old", "old", 64 << 10) && makeDb("SN.factory", "factory", 64 << 10));
        const QSet<QByteArray> param = {digest("PARAM.old"), digest("PARAM.factory")};
        const QSet<QByteArray> sn = {digest("SN.old"), digest("SN.factory")};
        QVERIFY(QFile::copy("PARAM.old", "PARAM.db") && QFile::copy("SN.old", "SN.db"));

        // The kill moments are spread over one round of the child's four
        // restores as this machine runs them, measured here first, so a loaded
        // machine still has its kills land inside the copies.
        QElapsedTimer round;
        round.start();
        for (const QString base : {"PARAM", "SN"})
            for (const char* from : {".factory", ".old"})
                QVERIFY(DatabaseFile::replaceWith(base + from, base + ".db", "sysparam"));
        const int roundUs = int(qMax<qint64>(2000, round.nsecsElapsed() / 1000));

        int kills = 0, midCopy = 0;
        QElapsedTimer t;
        t.start();
        while (kills < 200 && t.elapsed() < 240000) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {"--restore-loop"});
            QVERIFY(child.waitForStarted());
            QVERIFY(child.waitForReadyRead(10000)); // "ready": about to restore
            QThread::usleep(QRandomGenerator::global()->bounded(0, 2 * roundUs));
            ::kill(pid_t(child.processId()), SIGKILL);
            QVERIFY(child.waitForFinished(10000));
            ++kills;
            midCopy += (QFile::exists("PARAM.db.restoring") || QFile::exists("SN.db.restoring")) ? 1 : 0;
            QVERIFY2(param.contains(digest("PARAM.db")), qPrintable(QString("PARAM.db short after kill %1").arg(kills)));
            QVERIFY2(sn.contains(digest("SN.db")), qPrintable(QString("SN.db short after kill %1").arg(kills)));
        }
        QCOMPARE(kills, 200);
        QVERIFY2(midCopy > 20, qPrintable(QString::number(midCopy))); // the kills did land inside copies
        // A restore after all that finishes normally.
        QVERIFY(DatabaseFile::replaceWith("PARAM.factory", "PARAM.db", "sysparam"));
        QCOMPARE(digest("PARAM.db"), digest("PARAM.factory"));
    }

    void unusableCopyIsNotPutInPlace()
    {
        TestEnv env(false);
        QVERIFY(makeDb("PARAM.db", "old", 1000));
        QVERIFY(env.writeWorkFile("bad.db", QByteArray(8192, '\x11')));
        const QByteArray before = digest("PARAM.db");
        QString why;
        QVERIFY(!DatabaseFile::replaceWith("bad.db", "PARAM.db", "sysparam", &why));
        QVERIFY2(why.contains("not usable"), qPrintable(why));
        QVERIFY(!DatabaseFile::replaceWith("absent.db", "PARAM.db", "sysparam"));
        QCOMPARE(digest("PARAM.db"), before);
        QVERIFY(!QFile::exists("PARAM.db.restoring"));
        QCOMPARE(DatabaseFile::check("PARAM.db", "other"), DatabaseFile::Empty);
    }

    void shortLockOnSnDbIsWaitedOut()
    {
        TestEnv env;
        RecordingPrompt operatorAnswers;
        // Another program holds SN.db and lets go while the station waits.
        auto locker = std::make_unique<QSqlDatabase>(QSqlDatabase::addDatabase("QSQLITE", "locker"));
        locker->setDatabaseName("SN.db");
        QVERIFY(locker->open());
        QVERIFY(QSqlQuery(*locker).exec("update sysparam set value='CAMERA-0001' where name='serialNB0'"));
        QVERIFY(QSqlQuery(*locker).exec("begin exclusive"));
        QVERIFY(QSqlQuery(*locker).exec("update sysparam set value=value where 0"));
        struct ReleasingClock : TestClock {
            std::function<void()> onSleep;
            void sleepMs(int ms) override
            {
                if (onSleep)
                    std::exchange(onSleep, nullptr)();
                TestClock::sleepMs(ms);
            }
        } clock;
        clock.onSleep = [&] {
            QSqlQuery(*locker).exec("rollback");
            locker->close();
        };
        Clock::install(&clock);
        {
            CameraManager m;
            m.loadCameraSN();
            QCOMPARE(m.snList, QVector<QString>({"CAMERA-0001"}));
        }
        Clock::install(nullptr);
        locker.reset();
        QSqlDatabase::removeDatabase("locker");
        QVERIFY(!clock.onSleep); // it did wait
        QVERIFY(!QFile::exists("SN.db.damaged"));
        QVERIFY(!CommandRunner::loggedCommands().contains("reboot"));
        QCOMPARE(operatorAnswers.numbers(), QList<int>());
    }

    void saveCutByACrashIsNotDamage()
    {
        // A save killed half-way leaves a hot journal: the next start must roll
        // it back and keep the file, not take it for a damaged one.
        TestEnv env(false);
        QVERIFY(makeDb("PARAM.db", "old", 1000, 3000));
        const QByteArray before = digest("PARAM.db");
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--crash-in-save"});
        QVERIFY(child.waitForFinished(20000));
        QVERIFY(QFileInfo("PARAM.db-journal").size() > 0);
        QString why;
        QCOMPARE(DatabaseFile::check("PARAM.db", "sysparam", &why), DatabaseFile::Usable);
        QVERIFY(!QFileInfo::exists("PARAM.db-journal") || QFileInfo("PARAM.db-journal").size() == 0);
        QCOMPARE(digest("PARAM.db"), before);
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && QByteArray(argv[1]) == "--restore-loop") {
        // The child: restores back and forth until it is killed.
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
        for (;;) {
            DatabaseFile::replaceWith("PARAM.factory", "PARAM.db", "sysparam");
            DatabaseFile::replaceWith("SN.factory", "SN.db", "sysparam");
            DatabaseFile::replaceWith("PARAM.old", "PARAM.db", "sysparam");
            DatabaseFile::replaceWith("SN.old", "SN.db", "sysparam");
        }
    }
    if (argc == 2 && QByteArray(argv[1]) == "--crash-in-save") {
        // The child: changes every row in one transaction and dies inside it.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "crash");
        db.setDatabaseName("PARAM.db");
        db.open();
        QSqlQuery q(db);
        q.exec("pragma cache_size=1");
        q.exec("begin");
        q.exec("update sysparam set value = value || 'new'");
        ::raise(SIGKILL);
    }
    TstRestore tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_restore.moc"

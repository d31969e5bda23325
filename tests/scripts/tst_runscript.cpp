// scripts/run.sh as a user starts it, from a copy of the scripts whose build/ is
// this build: the station, its board simulator and its X server are the real ones.
#include "testsupport/testenv.h"

#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include <csignal>

namespace {
QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The processes (pid and name) working in `dir`, this one aside, each sent `signal`.
QStringList workingIn(const QString& dir, int signal = 0)
{
    QStringList out;
    for (const QString& pid : QDir("/proc").entryList({"[1-9]*"}, QDir::Dirs))
        if (pid.toLongLong() != QCoreApplication::applicationPid()
            && (QFileInfo("/proc/" + pid + "/cwd").canonicalFilePath() + "/").startsWith(dir + "/")) {
            out << pid + " " + fileBytes("/proc/" + pid + "/comm").trimmed();
            if (signal)
                ::kill(pid_t(pid.toInt()), signal);
        }
    return out;
}
} // namespace

class TstRunScript : public QObject
{
    Q_OBJECT
private slots:
    // SIGTERM or Ctrl-C, on the user's display or the script's X server, ends the station
    // and its helpers; a damaged run/PARAM.db is announced in its replacement's language.
    void signalEndsTheRun_data()
    {
        QTest::addColumn<bool>("ownDisplay");
        QTest::addColumn<bool>("ctrlC");
        QTest::addColumn<bool>("damaged");
        QTest::newRow("DISPLAY set, SIGTERM") << false << false << false;
        QTest::newRow("DISPLAY set, Ctrl-C") << false << true << false;
        QTest::newRow("own X server, SIGTERM") << true << false << false;
        QTest::newRow("own X server, Ctrl-C") << true << true << false;
        QTest::newRow("damaged PARAM.db, SIGTERM") << false << false << true;
    }

    void signalEndsTheRun()
    {
        QFETCH(bool, ownDisplay);
        QFETCH(bool, ctrlC);
        QFETCH(bool, damaged);
        TestEnv env(false);
        const QString top = QDir(env.workDir()).canonicalPath();
        for (const char* name : {"deps.sh", "build.sh"}) // the packages and the build are this test's
            QVERIFY(env.writeWorkFile(QString("scripts/") + name, "true\n"));
        for (const char* name : {"run.sh", "simnetcards.sh"})
            QVERIFY(QFile::copy(TestEnv::sourceDir() + "/scripts/" + name, top + "/scripts/" + name));
        QVERIFY(QFile::link(TestEnv::buildDir(), top + "/build"));
        if (damaged) {
            const QString factory = top + "/run/paraGroup/default/PARAM.db";
            QVERIFY(copyTree(TestEnv::buildDir() + "/workdir", top + "/run"));
            QCOMPARE(QProcess::execute("build/tools/paramgen/paramgen", {top + "/jp", "--lan", "3"}), 0);
            QVERIFY(QFile::remove(factory) && QFile::copy(top + "/jp/PARAM.db", factory));
            QVERIFY(env.writeWorkFile("run/PARAM.db", QByteArray(4096, '\x5a')));
        }
        // From a user's shell (no test platform), in a session as a terminal's job.
        const QStringList unset = ownDisplay ? QStringList{"-u", "DISPLAY"} : QStringList();
        QProcess run;
        run.setWorkingDirectory(top);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start("env", unset + QStringList{"-u", "QT_QPA_PLATFORM", "setsid", "bash", top + "/scripts/run.sh"});
        QVERIFY(run.waitForStarted());
        const pid_t pid = pid_t(run.processId());
        const auto cleanup = qScopeGuard([&] { workingIn(top, SIGKILL); run.waitForFinished(10000); });
        QString out;
        const auto said = [&](const QString& t) { return (out += QString::fromUtf8(run.readAll())).contains(t); };
        QTRY_VERIFY2_WITH_TIMEOUT(said(damaged ? "PARAM.db unusable" : "station running"), qPrintable(out.right(900)),
                                  120000);
        const QString running = workingIn(top).join(", ");
        QVERIFY2(running.contains(" station") && running.contains(" boardsim")
                     && running.contains(" Xvfb") == ownDisplay,
                 qPrintable(running));
        // Two writers: the first one's close must not end the simulator's input.
        for (const char* cmd : {"silent on\n", "status\n"})
            QVERIFY(env.writeWorkFile("run/boardsim.in", cmd));
        QTRY_VERIFY2_WITH_TIMEOUT(fileBytes(top + "/run/boardsim.log").contains("answers "),
                                  fileBytes(top + "/run/boardsim.log").constData(), 10000);
        QCOMPARE(::getsid(pid), pid);
        ::kill(ctrlC ? -pid : pid, ctrlC ? SIGINT : SIGTERM);
        QVERIFY2(run.waitForFinished(120000), qPrintable("still running: " + out.right(900)));
        said({}); // the rest of its words; the helpers' signal comes as it leaves
        QTRY_VERIFY2_WITH_TIMEOUT(workingIn(top).isEmpty(), qPrintable(workingIn(top).join(", ")), 10000);
        QVERIFY2(damaged || out.contains("station ended; operation records:"), qPrintable(out.right(900)));
        if (!damaged)
            return;
        // SIGTERM answered the box: the file is replaced, the restart only logged.
        QVERIFY2(out.contains("run/PARAM.db cannot be used: the station says so in a box in English")
                     && out.contains("Started again, the screen is in Japanese") && !out.contains("The screen is in")
                     && out.contains("\"reboot\" was only logged"),
                 qPrintable(out.right(900)));
        QCOMPARE(fileBytes(top + "/run/PARAM.db.damaged"), QByteArray(4096, '\x5a'));
        QProcess language; // what the next start reads
        language.start("build/tools/paramgen/paramgen", {"--language", top + "/run"});
        QVERIFY(language.waitForFinished(30000));
        QCOMPARE(language.readAllStandardOutput().trimmed(), QByteArray("Japanese"));
    }
};

QTEST_GUILESS_MAIN(TstRunScript)
#include "tst_runscript.moc"

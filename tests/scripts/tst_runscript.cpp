// scripts/run.sh as a user starts it, from a copy of the scripts whose build/
// is this build and whose package and build steps do nothing: the station,
// its board simulator and its X server are the real ones, in the copy's run/.
#include "testsupport/testenv.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QtTest>

#include <csignal>

namespace {
QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Present and not a zombie whose parent is gone.
bool running(const QString& pid)
{
    const QByteArray stat = fileBytes("/proc/" + pid + "/stat");
    return !stat.isEmpty() && stat.at(stat.lastIndexOf(')') + 2) != 'Z';
}
} // namespace

class TstRunScript : public QObject
{
    Q_OBJECT
private slots:
    // SIGTERM to the script or Ctrl-C in its terminal (a SIGINT to its
    // process group), on the user's display or the X server it starts: the
    // station ends in order, then the board simulator and the X server;
    // nothing stays and the ports are free for the next start. The
    // simulator's commands come through the pipe the script holds open. A
    // damaged run/PARAM.db is announced with the language of the factory
    // copy that replaces it (Japanese here, not the damaged file's reading).
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
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "no X display (the test runs under with-xvfb.sh)");
        TestEnv env(false);
        const QString top = env.workDir(), paramgen = TestEnv::buildDir() + "/tools/paramgen/paramgen";
        // The run's scripts beside this build; its package and build steps are this test's.
        for (const char* name : {"deps.sh", "build.sh"})
            QVERIFY(env.writeWorkFile(QString("scripts/") + name, "true\n"));
        for (const char* name : {"run.sh", "simnetcards.sh"})
            QVERIFY(QFile::copy(TestEnv::sourceDir() + "/scripts/" + name, top + "/scripts/" + name));
        QVERIFY(QFile::link(TestEnv::buildDir(), top + "/build"));
        if (damaged) {
            const QString factory = top + "/run/paraGroup/default/PARAM.db";
            QVERIFY(copyTree(TestEnv::buildDir() + "/workdir", top + "/run"));
            QCOMPARE(QProcess::execute(paramgen, {top + "/jp", "--lan", "3"}), 0);
            QVERIFY(QFile::remove(factory) && QFile::copy(top + "/jp/PARAM.db", factory));
            QVERIFY(env.writeWorkFile("run/PARAM.db", QByteArray(4096, '\x5a')));
        }
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.remove("QT_QPA_PLATFORM"); // as from a user's shell
        if (ownDisplay)
            e.remove("DISPLAY");
        QProcess run;
        run.setProcessEnvironment(e);
        run.setWorkingDirectory(top);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start("setsid", {"bash", top + "/scripts/run.sh"}); // a terminal's job
        QVERIFY(run.waitForStarted());
        const pid_t pid = pid_t(run.processId());
        QMap<QString, QString> helpers; // the script's children by pid, noted as they come
        const auto cleanup = qScopeGuard([&] {
            for (const QString& h : helpers.keys())
                if (running(h))
                    ::kill(pid_t(h.toInt()), SIGKILL);
            run.kill();
            run.waitForFinished(10000);
        });
        QString out;
        QElapsedTimer t;
        t.start();
        const QString ready = damaged ? "PARAM.db unusable" : "station running";
        while (!out.contains(ready) && t.elapsed() < 120000 && run.state() == QProcess::Running) {
            run.waitForReadyRead(200);
            out += QString::fromUtf8(run.readAll());
            for (const QByteArray& c : fileBytes(QString("/proc/%1/task/%1/children").arg(pid)).split(' '))
                if (const QString name = fileBytes("/proc/" + c + "/comm").trimmed();
                    QStringList({"station", "boardsim", "Xvfb"}).contains(name))
                    helpers[c] = name;
        }
        QVERIFY2(out.contains(ready), qPrintable(out.right(900)));
        QVERIFY2(helpers.values().contains("station") && helpers.values().contains("boardsim")
                     && helpers.values().contains("Xvfb") == ownDisplay,
                 qPrintable(helpers.values().join(", ")));
        // Two writers: the first one's close must not end the simulator's input.
        for (const char* cmd : {"silent on\n", "status\n"})
            QVERIFY(env.writeWorkFile("run/boardsim.in", cmd));
        QTRY_VERIFY2_WITH_TIMEOUT(fileBytes(top + "/run/boardsim.log").contains("answers "),
                                  fileBytes(top + "/run/boardsim.log").constData(), 10000);

        QCOMPARE(::getsid(pid), pid);
        ::kill(ctrlC ? -pid : pid, ctrlC ? SIGINT : SIGTERM);
        QVERIFY2(run.waitForFinished(120000), qPrintable("still running two minutes on: " + out.right(900)));
        out += QString::fromUtf8(run.readAll());
        QStringList left;
        const auto noneLeft = [&] {
            left.clear();
            for (auto it = helpers.cbegin(); it != helpers.cend(); ++it)
                if (running(it.key()))
                    left << it.value() + " " + it.key();
            return left.isEmpty();
        };
        // The helpers get their signal as the script leaves and take a moment.
        QTRY_VERIFY2_WITH_TIMEOUT(noneLeft(), qPrintable("left running: " + left.join(", ")), 10000);
        const QString http = QRegularExpression("HTTP API: http://127.0.0.1:(\\d+)/").match(out).captured(1);
        QVERIFY2(damaged || !http.isEmpty(), qPrintable(out.right(900)));
        for (const int port : {http.toInt(), qEnvironmentVariableIntValue("STATION_MODBUS_PORT")}) {
            QTcpServer next;
            QVERIFY2(!port || next.listen(QHostAddress::LocalHost, quint16(port)), qPrintable(next.errorString()));
        }
        if (!damaged) {
            QVERIFY2(out.contains("station ended; operation records:"), qPrintable(out.right(900)));
            return;
        }
        // SIGTERM answered the box: the file is replaced, the restart only logged.
        QVERIFY2(out.contains("run/PARAM.db cannot be used: the station says so in a box in English")
                     && out.contains("Started again, the screen is in Japanese") && !out.contains("The screen is in")
                     && out.contains("\"reboot\" was only logged"),
                 qPrintable(out.right(900)));
        QVERIFY(QFileInfo::exists(top + "/run/PARAM.db.damaged"));
        QProcess language;
        language.start(paramgen, {"--language", top + "/run"});
        QVERIFY(language.waitForFinished(30000));
        QCOMPARE(language.readAllStandardOutput().trimmed(), QByteArray("Japanese"));
    }
};

QTEST_GUILESS_MAIN(TstRunScript)
#include "tst_runscript.moc"

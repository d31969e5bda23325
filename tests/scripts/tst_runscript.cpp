// scripts/run.sh as a user starts it: a copy of the scripts in a folder of
// its own, whose build/ is this build and whose package and build steps do
// nothing (the packages and the build are this test's), so the run works in
// that folder's run/ and the station, its board simulator and its X server
// are the real ones.
#include "testsupport/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QtTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The processes whose parent is `parent`, by pid, each with its name.
QMap<pid_t, QString> childrenOf(pid_t parent)
{
    QMap<pid_t, QString> out;
    for (const QString& id : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f("/proc/" + id + "/stat");
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        const int open = stat.indexOf('('), close = stat.lastIndexOf(')');
        const QList<QByteArray> rest = stat.mid(close + 2).split(' ');
        if (open > 0 && close > open && rest.size() > 1 && rest.at(1).toInt() == parent)
            out.insert(pid_t(id.toInt()), QString::fromUtf8(stat.mid(open + 1, close - open - 1)));
    }
    return out;
}

// Running: present and not a zombie waiting for a parent that is gone.
bool running(pid_t pid)
{
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray stat = f.readAll();
    return stat.mid(stat.lastIndexOf(')') + 2, 1) != "Z";
}

// True when the loopback port can be taken (as the next station would).
bool portFree(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    const bool free = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0)
        ::close(fd);
    return free;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

QString readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString paramgen(const QStringList& args)
{
    QProcess p;
    p.start(TestEnv::buildDir() + "/tools/paramgen/paramgen", args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// One run of the copied run.sh, in a session of its own as a terminal's
// job is: a Ctrl-C is a SIGINT to its whole process group.
class ScriptRun
{
public:
    ScriptRun(const QString& top, bool ownDisplay)
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        // As from a user's shell: no test platform for the station.
        e.remove("QT_QPA_PLATFORM");
        if (ownDisplay)
            e.remove("DISPLAY");
        m_p.setProcessEnvironment(e);
        m_p.setWorkingDirectory(top);
        m_p.setProcessChannelMode(QProcess::MergedChannels);
        m_p.start("setsid", {"bash", top + "/scripts/run.sh"});
        m_p.waitForStarted();
    }
    // Whatever the test saw, nothing it started outlives it.
    ~ScriptRun()
    {
        for (pid_t pid : m_helpers.keys())
            if (running(pid))
                ::kill(pid, SIGKILL);
        m_p.kill();
        m_p.waitForFinished(10000);
    }

    pid_t pid() const { return pid_t(m_p.processId()); }
    QString out() const { return m_out; }
    QMap<pid_t, QString> helpers() const { return m_helpers; }

    // Waits (at most two minutes) until the console holds `text`; the
    // script's children are noted meanwhile.
    bool waitFor(const QString& text)
    {
        QElapsedTimer t;
        t.start();
        while (!m_out.contains(text) && t.elapsed() < 120000 && m_p.state() == QProcess::Running) {
            m_p.waitForReadyRead(200);
            m_out += QString::fromUtf8(m_p.readAll());
            const QMap<pid_t, QString> now = childrenOf(pid());
            for (auto it = now.cbegin(); it != now.cend(); ++it)
                if (it.value() == "station" || it.value() == "boardsim" || it.value() == "Xvfb")
                    m_helpers.insert(it.key(), it.value());
        }
        m_out += QString::fromUtf8(m_p.readAll());
        return m_out.contains(text);
    }

    // Waits (at most two minutes) for the script's end.
    bool finished()
    {
        const bool done = m_p.waitForFinished(120000);
        m_out += QString::fromUtf8(m_p.readAll());
        return done;
    }

private:
    QProcess m_p;
    QString m_out;
    QMap<pid_t, QString> m_helpers;
};
} // namespace

class TstRunScript : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!TestEnv::buildDir().isEmpty(), "STATION_BUILD_DIR not set");
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "no X display (the test runs under with-xvfb.sh)");
    }

    // SIGTERM to the script, or Ctrl-C in its terminal, on a display of the
    // user's or on the X server the script starts: the station ends in
    // order, then the board simulator and the X server; nothing is left
    // running and the ports are free for the next start.
    void signalEndsTheStationAndItsHelpers_data()
    {
        QTest::addColumn<bool>("ownDisplay");
        QTest::addColumn<bool>("ctrlC");
        QTest::newRow("DISPLAY set, SIGTERM") << false << false;
        QTest::newRow("DISPLAY set, Ctrl-C") << false << true;
        QTest::newRow("own X server, SIGTERM") << true << false;
        QTest::newRow("own X server, Ctrl-C") << true << true;
    }

    void signalEndsTheStationAndItsHelpers()
    {
        QFETCH(bool, ownDisplay);
        QFETCH(bool, ctrlC);
        TestEnv env(false);
        QVERIFY(copyScripts(env.workDir()));
        const int modbus = qEnvironmentVariableIntValue("STATION_MODBUS_PORT");
        ScriptRun run(env.workDir(), ownDisplay);
        QVERIFY2(run.waitFor("station running"), qPrintable(run.out().right(900)));
        const QRegularExpressionMatch api = QRegularExpression("HTTP API: http://127.0.0.1:(\\d+)/").match(run.out());
        QVERIFY2(api.hasMatch(), qPrintable(run.out().right(900)));
        const QStringList names = run.helpers().values();
        QVERIFY2(names.contains("station") && names.contains("boardsim") && names.contains("Xvfb") == ownDisplay,
                 qPrintable(names.join(", ")));

        // The simulator's commands go through the pipe the script keeps
        // open; two writes, so a writer's close does not end its input.
        const QString board = env.workDir() + "/run/boardsim.";
        for (const char* cmd : {"silent on\n", "status\n"})
            QVERIFY(writeFile(board + "in", cmd));
        QTRY_VERIFY2_WITH_TIMEOUT(readFile(board + "log").contains("answers "), qPrintable(readFile(board + "log")), 10000);

        QCOMPARE(::getsid(run.pid()), run.pid());
        ::kill(ctrlC ? -run.pid() : run.pid(), ctrlC ? SIGINT : SIGTERM);
        QVERIFY2(run.finished(), qPrintable("still running two minutes on: " + run.out().right(900)));
        QStringList left;
        const auto noneLeft = [&] {
            left.clear();
            const QMap<pid_t, QString> helpers = run.helpers();
            for (auto it = helpers.cbegin(); it != helpers.cend(); ++it)
                if (running(it.key()))
                    left << QString("%1 (%2)").arg(it.value()).arg(it.key());
            return left.isEmpty();
        };
        // The script waits for the station; the helpers get their signal
        // as it leaves and take a moment.
        QTRY_VERIFY2_WITH_TIMEOUT(noneLeft(), qPrintable("left running: " + left.join(", ")), 10000);
        const int http = api.captured(1).toInt();
        QVERIFY2(portFree(http) && portFree(modbus), qPrintable(QString("ports %1, %2").arg(http).arg(modbus)));
        QVERIFY2(run.out().contains("station ended; operation records:"), qPrintable(run.out().right(900)));
    }

    // A damaged PARAM.db: the script says what the station does with it and
    // names the language of the factory copy that replaces it, which the
    // next start uses (here Japanese, so it differs from the damaged file's
    // reading, the built-in Simplified Chinese).
    void damagedParamDbIsSaidAsTheStationTreatsIt()
    {
        TestEnv env(false);
        const QString top = env.workDir();
        QVERIFY(copyScripts(top));
        QVERIFY(copyTree(TestEnv::buildDir() + "/workdir", top + "/run"));
        QCOMPARE(QProcess::execute(TestEnv::buildDir() + "/tools/paramgen/paramgen", {top + "/jp", "--lan", "3"}), 0);
        QVERIFY(QFile::remove(top + "/run/paraGroup/default/PARAM.db"));
        QVERIFY(QFile::copy(top + "/jp/PARAM.db", top + "/run/paraGroup/default/PARAM.db"));
        QVERIFY(writeFile(top + "/run/PARAM.db", QByteArray(4096, '\x5a')));

        ScriptRun run(top, false);
        QVERIFY2(run.waitFor(" starting in "), qPrintable(run.out().right(900)));
        QVERIFY2(run.out().contains("run/PARAM.db cannot be used: the station says so in a box in English")
                     && run.out().contains("Started again, the screen is in Japanese")
                     && !run.out().contains("The screen is in"),
                 qPrintable(run.out().right(900)));
        // The box answered as SIGTERM answers it: the station replaces the
        // file, and its restart, only logged here, ends the run.
        ::kill(run.pid(), SIGTERM);
        QVERIFY2(run.finished() && run.out().contains("\"reboot\" was only logged"),
                 qPrintable(run.out().right(900)));
        QVERIFY(QFileInfo::exists(top + "/run/PARAM.db.damaged"));
        QCOMPARE(paramgen({"--language", top + "/run"}), QString("Japanese"));
    }

private:
    // The scripts the run uses, beside this build; the package and build
    // steps are this test build's own.
    static bool copyScripts(const QString& top)
    {
        const QString src = TestEnv::sourceDir() + "/scripts/";
        bool ok = QDir().mkpath(top + "/scripts");
        for (const char* name : {"run.sh", "simnetcards.sh"})
            ok = ok && QFile::copy(src + name, top + "/scripts/" + name);
        for (const char* name : {"deps.sh", "build.sh"})
            ok = ok && writeFile(top + "/scripts/" + name, "# the packages and the build are the test's own\n");
        return ok && QFile::link(TestEnv::buildDir(), top + "/build");
    }
};

QTEST_GUILESS_MAIN(TstRunScript)
#include "tst_runscript.moc"

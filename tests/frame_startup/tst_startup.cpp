#include "controller/controlport.h"
#include "controller/iothread.h"
#include "controller/ui/mapplication.h"
#include "controller/operationrecords.h"
#include "controller/ui/indexbutton.h"
#include "controller/ui/redowizard.h"
#include "controller/stationexit.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/ui/startup.h"
#include "records/countgroup.h"
#include "records_statspages/statspagestestutil.h"
#include "records/upaninfo.h"
#include "frame/parameterstartup.h"
#include "frame/operatorprompt.h"
#include "inspection/camerainterface.h"
#include "frame/wizardpara.h"
#include "inspection/cameramanager.h"
#include "inspection/ui/cammerwidget.h"
#include "settings/ui/wizardparawidget.h"
#include "platform/commandrunner.h"
#include "testsupport/fiforelease.h"
#include "testsupport/modalanswer.h"
#include "testsupport/finger.h"
#include "testsupport/logcapture.h"
#include "testsupport/testenv.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/warnbox.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSemaphore>

namespace {
// What a process writes on its read channel until it says `said`, ends, or a minute passed.
QString readUntil(QProcess& p, const QString& said)
{
    QString out;
    (void)QTest::qWaitFor([&] { return (out += p.readAll()).contains(said) || !p.processId(); }, 60000);
    return out + p.readAll();
}

// The rows a query gives, each row's columns joined by "=".
QStringList rows(const QString& file, const QString& sql)
{
    QStringList out;
    withStatsDb(file, [&](QSqlQuery& q) {
        for (bool ok = q.exec(sql); ok && q.next();)
            out << (q.record().count() > 1 ? q.value(0).toString() + "=" + q.value(1).toString()
                                           : q.value(0).toString());
        return true;
    });
    return out;
}
} // namespace

class Receiver : public QObject
{
    Q_OBJECT
public:
    QStringList got; // what arrived, on the receiver's thread only
public slots:
    void takeDrives(QVector<UPanInfo> d) { take(d.value(0).uuid); }
    void takeGroup(CountGroup g) { take(g.groupName); }
    void takeNames(QPair<QString, QString> n) { take(n.first + "/" + n.second); }

private:
    void take(const QString& v) { got << (QThread::currentThread() == thread() ? v : "wrong thread"); }
};

class TstStartup : public QObject
{
    Q_OBJECT
private slots:
    void metaTypesCrossThreads();
    void panelWaitsShowEveryStep();
    void versionJson();
    void stationStartsInFactoryWorkDir();
    void apiPortTakenIsSaidOnTheConsole();
    void badDatabaseFileAtStart_data();
    void badDatabaseFileAtStart();
    void inputChangeReachesTheWindowsRun();
    void fifoDayFileDoesNotHoldTheStart();
    void sigtermEndsInOrderEveryTime();
    void sigtermEndsAStartWaitingOnABox();
    void fifoNetworkSettingsDoNotHoldTheStart();
    void simulatedRestartEndsTheRun();
    void everyEndOnThePanelEndsTheRun_data();
    void everyEndOnThePanelEndsTheRun();
    void startAgainLineStartsTheSameRun();
    void orderedEndJoinsEveryThread(); // last: the run's window stays
};

// The types the station queues between threads arrive intact on the
// receiver's thread by the names their connections spell.
void TstStartup::metaTypesCrossThreads()
{
    registerMetaTypes();
    Receiver r;
    UPanInfo drive;
    drive.uuid = "0A1B-2C3D";
    CountGroup group;
    group.groupName = "cups";
    const QPair<QString, QString> names("camera1", "cup");
    QThread* worker = QThread::create([&] {
        QMetaObject::invokeMethod(&r, "takeDrives", Qt::QueuedConnection, Q_ARG(QVector<UPanInfo>, {drive}));
        QMetaObject::invokeMethod(&r, "takeGroup", Qt::QueuedConnection, Q_ARG(CountGroup, group));
        QMetaObject::invokeMethod(&r, "takeNames", Qt::QueuedConnection,
                                  QGenericArgument("QPair<QString,QString>", &names));
    });
    worker->start();
    QVERIFY(worker->wait(5000));
    delete worker;
    QTRY_COMPARE(r.got.size(), 3);
    QCOMPARE(r.got, (QStringList{"0A1B-2C3D", "cups", "camera1/cup"}));
}

void TstStartup::panelWaitsShowEveryStep()
{
    TestEnv env;
    TestClock clock;
    Clock::install(&clock);
    QList<int> steps;
    QStringList texts;
    QList<qint64> at;
    waitForHardware([&](int s, const QString& t) { steps << s; texts << t; at << clock.monotonicMs(); });
    QCOMPARE(steps, QList<int>({6, 7, 8, 9, 10, 15, 18, 21, 23, 26, 29, 31, 34, 37, 39, 42}));
    QCOMPARE(at.last() - at.first(), 14000); // one second before each step but the camera banner
    QCOMPARE(texts.first(), QString("配置网卡中..."));
    QCOMPARE(texts.last(), QString("等待相机开启..."));
    // The network-card script is started in the background, never waited for.
    QCOMPARE(CommandRunner::loggedCommands(), QStringList({"python3 ./ruv_net/zivod20_upnetcard.py &"}));
}

// config.json keeps every other key; a damaged one is kept aside; a
// missing one is written anew, but only into an existing folder.
void TstStartup::versionJson()
{
    TestEnv env;
    QVERIFY(env.writeWorkFile("ruv_net/config.json",
                              R"({"devicename": "press 7", "version": "1.0", "serverport": 10100})"));
    numCamera = 3;
    writeVersionToJson();
    const auto read = [] { return QJsonDocument::fromJson(fileBytes("ruv_net/config.json")).object(); };
    QCOMPARE(read(), (QJsonObject{{"devicename", "press 7"}, {"version", "18.22.1.83"}, {"camcount", 3}, {"serverport", 10100}}));

    const QByteArray damaged = R"({"devicename": "press 7", "serveraddr": "10.0.0.5")"; // cut off
    QVERIFY(env.writeWorkFile("ruv_net/config.json", damaged));
    writeVersionToJson();
    QCOMPARE(fileBytes("ruv_net/config.json.damaged"), damaged);
    QCOMPARE(read().keys(), QStringList({"camcount", "version"}));
    // Valid JSON of the wrong kind says so.
    QVERIFY(env.writeWorkFile("ruv_net/config.json", "[1, 2]"));
    {
        LogCapture log;
        writeVersionToJson();
        QCOMPARE(log.matching({"config.json", "array"}).size(), 1);
    }
    // A link laid at its name: neither it nor the file it points to is
    // written. A FIFO there holds nothing up.
    QVERIFY(env.writeWorkFile("elsewhere.json", R"({"keep": 1})"));
    QVERIFY(QFile::remove("ruv_net/config.json") && QFile::link("../elsewhere.json", "ruv_net/config.json"));
    writeVersionToJson();
    QCOMPARE(fileBytes("elsewhere.json"), QByteArray(R"({"keep": 1})"));
    QVERIFY(QFileInfo("ruv_net/config.json").isSymLink());
    QVERIFY(QFile::remove("ruv_net/config.json") && ::mkfifo("ruv_net/config.json", 0644) == 0);
    {
        FifoRelease release({"ruv_net/config.json"});
        QElapsedTimer t;
        t.start();
        writeVersionToJson();
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    }
    // Without its folder nothing is written and nothing breaks.
    QVERIFY(QDir("ruv_net").removeRecursively());
    writeVersionToJson();
    QVERIFY(!QFile::exists("ruv_net/config.json"));
}

void TstStartup::stationStartsInFactoryWorkDir()
{
    TestEnv env;
    QVERIFY2(QFile::exists("PARAM.db"), "factory template missing");
    // A quick moulding machine on the port the parameters name, and a call
    // log of the simulated cameras.
    QProcess port;
    port.start(TestEnv::buildDir() + "/tools/paramgen/paramgen", {"--board-port", env.workDir()});
    QVERIFY(port.waitForFinished(10000));
    QProcess board;
    board.start(TestEnv::buildDir() + "/boardsim",
                {"--port", QString::fromLatin1(port.readAllStandardOutput()).trimmed(), "--closed-ms", "200",
                 "--open-ms", "200"});
    QVERIFY(board.waitForReadyRead(10000));
    const QString calls = env.simRoot() + "/camera-calls.log";
    QProcess p;
    QProcessEnvironment pe = QProcessEnvironment::systemEnvironment();
    pe.insert("STATION_SIMCAMERA_LOG", calls);
    QString modbusPort;
    {
        // A free port: others' tests may hold the Modbus port.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        modbusPort = QString::number(probe.serverPort());
        pe.insert("STATION_MODBUS_PORT", modbusPort);
    }
    p.setProcessEnvironment(pe);
    p.setWorkingDirectory(env.workDir());
    p.start(QStringLiteral(STATION_EXE), QStringList());
    QVERIFY(p.waitForStarted());
    // It runs until stopped: SIGTERM once it says it is running and the
    // machine has made two cycles with it.
    QString out = readUntil(p, "station running");
    QElapsedTimer t;
    t.start();
    QVERIFY2(out.startsWith("station 18.22.1.83 starting in " + QDir::currentPath() + "\n"), qPrintable(out));
    QVERIFY2(out.contains("station running"), qPrintable(out));
    QVERIFY2(out.contains("parameter group: default"), qPrintable(out));
    // The simulated camera plug-in beside the program offers its two cameras.
    QVERIFY2(out.contains("cameras in use: 2"), qPrintable(out));
    // Its API, on the port it says (any free one here), answers as the API.
    const QRegularExpressionMatch api = QRegularExpression("\n  HTTP API: http://127\\.0\\.0\\.1:(\\d+)/v18/http/\n").match(out);
    QVERIFY2(api.hasMatch(), qPrintable(out));
    QVERIFY2(out.contains("\n  Modbus TCP slave: 127.0.0.1:" + modbusPort + "\n"), qPrintable(out));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(api.captured(1).toUInt()));
    QVERIFY(client.waitForConnected(5000));
    client.write("GET /v18/http/none HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (client.waitForReadyRead(5000))
        answer += client.readAll();
    QVERIFY2(answer.startsWith("HTTP/1.1 404") && answer.contains("{\"error\""), answer.constData());
    QString cycles;
    const QRegularExpression talked("done.*frames [1-9]");
    while (cycles.count(talked) < 2 && t.elapsed() < 60000 && board.waitForReadyRead(2000))
        cycles += QString::fromUtf8(board.readAll());
    QVERIFY2(cycles.count(talked) >= 2, qPrintable(cycles));
    p.terminate();
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    // It says that it ended and where its journal and logs are.
    out += QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY2(out.contains("station ended; operation records: " + QDir::current().absoluteFilePath("RECORD.db")),
             qPrintable(out));
    QVERIFY2(out.contains("logs: " + QDir::current().absoluteFilePath("ruv_net/workspace/log")), qPrintable(out));
    board.terminate();
    board.waitForFinished(5000);
    // Every camera stopped, then closed, and nothing asked of it afterwards.
    const QStringList log = QString::fromUtf8(fileBytes(calls)).split('\n', Qt::SkipEmptyParts);
    for (const QString sn : {"SIMCAM-0001", "SIMCAM-0002"}) {
        const QStringList own = log.filter(QRegularExpression("^" + sn + " "));
        QVERIFY2(own.size() >= 2 && own.mid(own.size() - 2) == QStringList({sn + " stop", sn + " close"}),
                 qPrintable(own.join(" | ")));
    }
    // Start-up logged its banner through glog and recorded the version.
    QDir logDir("ruv_net/workspace/log");
    bool banner = false;
    // Nothing is logged before the log files are set up: the first splash
    // step is shown, not logged, and nothing reaches the console in its place.
    QVERIFY(!p.readAllStandardError().contains("splash step"));
    QString steps;
    for (const QString& name : logDir.entryList({"LOG_*"}, QDir::Files)) {
        const QByteArray text = fileBytes(logDir.filePath(name));
        banner = banner || text.contains("application 18.22.1.83");
        steps += QString::fromUtf8(text);
    }
    QVERIFY(banner);
    // A factory start on the simulated platform: what it lacks is said once,
    // and nothing reads as a fault (a new set-up has no template yet).
    QCOMPARE(steps.count("simulated platform under " + env.simRoot()), 1);
    QStringList faults;
    for (const QString& line : steps.split('\n'))
        if (line.contains("---warning---") || line.startsWith('W') || line.startsWith('E'))
            faults << line;
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    // A desktop start skips the hardware waits (6 to 42); 90 comes from the
    // window's last step and again once it is built.
    QList<int> shown;
    QRegularExpressionMatchIterator it = QRegularExpression("splash step (\\d+)").globalMatch(steps);
    while (it.hasNext())
        shown << it.next().captured(1).toInt();
    QCOMPARE(shown, QList<int>({50, 60, 71, 75, 80, 85, 90, 90, 100}));
    QCOMPARE(QJsonDocument::fromJson(fileBytes("ruv_net/config.json")).object().value("camcount").toInt(), 2);
    QVERIFY(CommandRunner::loggedCommands().contains("notify-send \"监视器已开启\""));
    // The ordered end: the exit record after the ready record, the counters written.
    const QStringList texts = rows("RECORD.db", "select remarks from RECORD");
    QVERIFY2(texts.size() >= 2, qPrintable(texts.join(" | ")));
    QVERIFY2(texts.last().contains(QString::fromUtf8("手动退出监视系统")), qPrintable(texts.join(" | ")));
    QVERIFY(QFile::exists("ruv_net/workspace/count.ini"));
}

// Damaged files of every kind are the parameter store's tests; here the
// start itself: what the operator is told and what is run.
void TstStartup::badDatabaseFileAtStart_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("damage");
    QTest::newRow("PARAM.db missing") << "PARAM.db" << "missing";
    QTest::newRow("PARAM.db random bytes") << "PARAM.db" << "random bytes";
    QTest::newRow("PARAM.db locked") << "PARAM.db" << "locked";
    QTest::newRow("SN.db random bytes") << "SN.db" << "random bytes";
    QTest::newRow("SN.db locked") << "SN.db" << "locked";
}

void TstStartup::badDatabaseFileAtStart()
{
    QFETCH(QString, file);
    QFETCH(QString, damage);
    TestEnv env;
    TestClock clock; // the waits for a locked file pass at once
    Clock::install(&clock);
    QVERIFY(MessageTable::load() > 0);
    gLan = 0;
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QByteArray before = f.readAll();
    if (damage == "missing") {
        QVERIFY(f.remove());
        before.clear();
    } else if (damage == "random bytes") {
        quint32 x = 7;
        for (char& c : before)
            c = char((x = x * 1103515245u + 12345u) >> 24);
        QVERIFY(f.resize(0) && f.write(before) == before.size());
    }
    f.close();
    std::unique_ptr<QSqlDatabase> locker;
    if (damage == "locked") {
        locker = std::make_unique<QSqlDatabase>(QSqlDatabase::addDatabase("QSQLITE", "locker"));
        locker->setDatabaseName(file);
        QVERIFY(locker->open());
        QSqlQuery q(*locker);
        QVERIFY(q.exec("begin exclusive") && q.exec("update sysparam set value=value where 0"));
    }

    QStringList shown;
    bool hidden = false;
    finger::answerBox([&](QWidget* box) -> QAbstractButton* {
        hidden = hidden || !box->isVisible() || !box->window()->isVisible();
        if (auto* warn = dynamic_cast<WarnBox*>(box))
            shown << warn->text();
        for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
            if (b->isVisible())
                return b;
        return nullptr;
    });
    auto win = std::make_unique<ReDoWizard>();
    QVERIFY(!hidden);
    QCOMPARE(shown.size(), 1);

    const QStringList cmds = CommandRunner::loggedCommands();
    if (damage == "locked") {
        // Waited, told, and left alone: the file may be good.
        QVERIFY2(shown[0].startsWith(file + " ") && shown[0].endsWith(gaLanStr[4 * 764 + gLan].mid(3)),
                 qPrintable(shown[0]));
        QVERIFY(!QFile::exists(file + ".damaged"));
        QVERIFY(!cmds.contains("reboot"));
        QSqlQuery(*locker).exec("rollback");
        locker->close();
        // The set in force is the defaults: saving it would overwrite the
        // operator's set, so it is refused even now that the file is free.
        if (file == "PARAM.db")
            QVERIFY(!gpWPara->SaveDatatoFile());
        win.reset();
        locker.reset();
        QSqlDatabase::removeDatabase("locker");
        QCOMPARE(fileBytes(file), before);
    } else {
        // PARAM.db's box is in English: the language it stores is not known.
        QVERIFY2(shown[0] == gaLanStr[4 * 160 + (file == "PARAM.db" ? 1 : gLan)], qPrintable(shown[0]));
        // The restore ends with "sync" and "reboot" (later parts of the start
        // may sync again).
        const int sync = cmds.indexOf("sync");
        QVERIFY2(sync >= 0 && cmds.value(sync + 1) == "reboot", qPrintable(cmds.join(" | ")));
        // The user's file is kept aside; the factory copy took its place whole.
        QFile aside(file + ".damaged");
        QCOMPARE(aside.open(QIODevice::ReadOnly), damage != "missing");
        QCOMPARE(aside.readAll(), before);
        // (The running station may add rows of its own, e.g. a camera's
        // detection rows: the factory's parameter rows must all be there.)
        const QString all = "select name, value from sysparam order by name";
        QCOMPARE(rows(file, all), rows("paraGroup/default/" + file, all));
        QCOMPARE(CameraManager::getInstance()->snDb.isOpen(), true);
    }
    win.reset();
}

void TstStartup::inputChangeReachesTheWindowsRun()
{
    TestEnv env;
    ReDoWizard win;
    gpControlIO->InitIOThread(); // no board device here: the thread idles
    unsigned char on[8];
    BoardFrameParser::makeStatus(on, 0x001, 0);
    gpControlIO->ioThread()->receive(on, 8, 0);
    QTRY_VERIFY(!gpControlIO->ioThread()->wakePending());
    // Every input change reaches the window's Run(); none is counted as
    // unhandled.
    QCOMPARE(win.unhandledRuns, 0);
}

// A FIFO in place of the journal's day file: the start goes on at once, with
// today's day written as a regular file in its place. (A reader that waits is
// let go after 3 s by a writer that comes and goes.)
void TstStartup::fifoDayFileDoesNotHoldTheStart()
{
    TestEnv env;
    TestClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
    Clock::install(&clock);
    QVERIFY(::mkfifo("time.txt", 0644) == 0);
    qint64 took = 0;
    {
        FifoRelease release({"time.txt"});
        QElapsedTimer t;
        t.start();
        OperationRecords::instance()->loadDayAndCheck();
        took = t.elapsed();
    }
    Clock::install(nullptr);
    QVERIFY2(took < 2000, qPrintable(QString::number(took)));
    QVERIFY(QFileInfo("time.txt").isFile());
    QCOMPARE(fileBytes("time.txt"), QByteArray("2026-12-07"));
}

// SIGTERM at any moment, from the first instant of the start-up to the
// running station with a drive in: an orderly end with status 0 every time,
// no crash report and no stack from the logging library.
void TstStartup::sigtermEndsInOrderEveryTime()
{
    TestEnv env;
    // A panel's udev folder with one stick in it, the stick's medium beside.
    QVERIFY(env.writeSimFile("/run/udev/data/b8:17", "S:disk/by-uuid/AB12-CD34\nE:ID_BUS=usb\nE:ID_FS_TYPE=vfat\n"));
    QVERIFY(QDir().mkpath(env.simRoot() + "/dev/disk/by-uuid") && QDir().mkpath(env.simRoot() + "/drives/sdb1"));
    QVERIFY(QFile::link("../../sdb1", env.simRoot() + "/dev/disk/by-uuid/AB12-CD34"));
    QVERIFY(env.writeSimFile("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n"));
    // Signalled these many ms after its first word (the line saying it
    // starts, the moment the program is in charge); -1: once it says it is
    // running.
    const QList<int> delays{0, 20, 60, 150, 400, 800, -1, -1, -1};
    QStringList bad;
    for (int delay : delays) {
        QProcess p;
        p.setWorkingDirectory(env.workDir());
        p.start(QStringLiteral(STATION_EXE), QStringList());
        QVERIFY(p.waitForStarted());
        QElapsedTimer t;
        t.start();
        QString out;
        p.setReadChannel(QProcess::StandardOutput);
        while (p.bytesAvailable() == 0 && p.state() == QProcess::Running && t.elapsed() < 60000)
            p.waitForReadyRead(5);
        t.restart();
        if (delay >= 0) {
            while (t.elapsed() < delay && p.state() == QProcess::Running)
                p.waitForReadyRead(5);
        } else {
            while (!out.contains("station running") && t.elapsed() < 60000 && p.state() == QProcess::Running) {
                p.waitForReadyRead(1000);
                out += QString::fromUtf8(p.readAllStandardOutput());
            }
        }
        ::kill(pid_t(p.processId()), SIGTERM);
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished(5000);
            bad << QString("%1 ms: still running a minute after SIGTERM").arg(delay);
            continue;
        }
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || err.contains("*** SIG"))
            bad << QString("%1 ms: status %2 code %3 %4").arg(delay).arg(int(p.exitStatus())).arg(p.exitCode())
                       .arg(err.mid(err.indexOf("*** SIG"), 200));
    }
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join("\n")));
}

namespace {
// Runs the station in dir until its output holds `said` (a minute at most),
// waits settleMs and sends SIGTERM. Empty when the station then ended in
// order (status 0, no crash report) within 30 s; otherwise what went wrong.
QString signalStationOnceItSays(const QString& dir, const QString& said, int settleMs, QString* output = nullptr,
                                const QStringList& arguments = {})
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(STATION_EXE), arguments);
    if (!p.waitForStarted())
        return "not started";
    QString out = readUntil(p, said);
    QTest::qWait(settleMs);
    if (p.processId() > 0) // an ended station has none: 0 would signal this process's group
        ::kill(pid_t(p.processId()), SIGTERM);
    const bool ended = p.waitForFinished(30000);
    if (!ended) {
        p.kill();
        p.waitForFinished(5000);
    }
    out += QString::fromUtf8(p.readAll());
    if (output)
        *output = out;
    if (!out.contains(said))
        return QString("never said \"%1\" in a minute%2: %3")
            .arg(said, ended ? "" : ", and still running 30 s after SIGTERM", out.right(1500));
    if (!ended)
        return "still running 30 s after SIGTERM";
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || out.contains("*** SIG"))
        return QString("status %1 code %2: %3").arg(int(p.exitStatus())).arg(p.exitCode()).arg(out.right(1500));
    return QString();
}
} // namespace

// The day's statistics file held by another program: the start-up shows its
// box and waits. SIGTERM then still ends the run in order.
void TstStartup::sigtermEndsAStartWaitingOnABox()
{
    TestEnv env;
    QVERIFY(putStatsFile("ResStatistics.db", {}));
    QSqlDatabase locker = QSqlDatabase::addDatabase("QSQLITE", "locker");
    locker.setDatabaseName("ResStatistics.db");
    QVERIFY(locker.open() && QSqlQuery(locker).exec("begin exclusive"));
    QVERIFY(QSqlQuery(locker).exec("insert into resstatistics values ('other', '', '')"));
    const QString bad = signalStationOnceItSays(env.workDir(), "stays locked", 500); // the box is up by then
    QVERIFY(QSqlQuery(locker).exec("rollback"));
    locker.close();
    locker = QSqlDatabase();
    QSqlDatabase::removeDatabase("locker");
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
}

// A FIFO at the network settings' name: the station starts all the same and
// ends in order; the FIFO stays as it was.
void TstStartup::fifoNetworkSettingsDoNotHoldTheStart()
{
    TestEnv env;
    QVERIFY(::mkfifo("ruv_net/config.json", 0644) == 0);
    const QString bad = signalStationOnceItSays(env.workDir(), "station running", 0);
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    struct stat st {};
    QVERIFY(::lstat("ruv_net/config.json", &st) == 0 && S_ISFIFO(st.st_mode));
}

// Other programs on the API's and the Modbus slave's ports: the station says
// on its console that neither listens there, and why, and runs all the same.
void TstStartup::apiPortTakenIsSaidOnTheConsole()
{
    TestEnv env;
    QTcpServer other, otherModbus;
    QVERIFY(other.listen(QHostAddress::LocalHost, 0) && otherModbus.listen(QHostAddress::LocalHost, 0));
    qputenv("STATION_HTTP_PORT", QByteArray::number(other.serverPort()));
    qputenv("STATION_MODBUS_PORT", QByteArray::number(otherModbus.serverPort()));
    QString out;
    const QString bad = signalStationOnceItSays(env.workDir(), "station running", 0, &out);
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    const QString said = QString("\n  HTTP API: not listening (127.0.0.1:%1: Address already in use); the station runs "
                                 "without it\n").arg(other.serverPort());
    QVERIFY2(out.contains(said) && !out.contains("http://"), qPrintable(out));
    QVERIFY2(out.contains(QString("\n  Modbus TCP slave: not listening (127.0.0.1:%1: Address already in use); the "
                                  "station runs without it\n").arg(otherModbus.serverPort())),
             qPrintable(out));
}

namespace {
const char* const kRestartChild = "STARTUP_RESTART_CHILD";

// The child: the whole station, where a finger switches the language once
// the window shows.
class RestartChild : public QObject
{
    Q_OBJECT
private slots:
    void languageSwitchOnThePanel()
    {
        QTimer poll;
        poll.setInterval(100);
        connect(&poll, &QTimer::timeout, [&poll] {
            auto* win = static_cast<ReDoWizard*>(gpWin);
            if (!win || !win->isVisible() || !win->views[0])
                return;
            poll.stop();
            QVERIFY(finger::tap(win->views[0]));
            QTRY_VERIFY(win->sideBar->systemPara->isVisible());
            QVERIFY(finger::tap(win->sideBar->systemPara));
            WizardParaWidget* s = win->settingsWindow;
            QTRY_VERIFY(s->isVisible());
            QVERIFY(finger::tap(s->tabs[WizardParaWidget::SystemPage]));
            QVERIFY(finger::choose(s->languageChooser, 1));
            finger::answerYes();
            QVERIFY(finger::tap(s->languageButton));
        });
        poll.start();
        char name[] = "station";
        char* argv[] = {name, nullptr};
        int argc = 1;
        QCOMPARE(stationMain(argc, argv), 0);
    }
};
} // namespace

// On the simulated platform a restart touched on the panel is only logged:
// the station then ends by itself and says on the console what the panel
// would do and how to start again.
void TstStartup::simulatedRestartEndsTheRun()
{
    TestEnv env;
    QProcessEnvironment pe = QProcessEnvironment::systemEnvironment();
    pe.insert(kRestartChild, "1");
    // scripts/run.sh hands its own command line down: the station names it.
    const QString runSh = "STATION_HTTP_PORT=0 bash scripts/run.sh";
    pe.insert("STATION_START_COMMAND", runSh);
    QProcess child;
    child.setProcessEnvironment(pe);
    child.setWorkingDirectory(env.workDir());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    const bool ended = child.waitForFinished(60000);
    if (!ended) {
        child.kill();
        child.waitForFinished(5000);
    }
    const QString out = QString::fromUtf8(child.readAll());
    QVERIFY2(ended && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable("still running a minute on, or failed: " + out.right(3000)));
    QVERIFY2(out.contains("\"reboot\" was only logged") && out.contains("the panel would restart now")
                 && out.contains("Start it again with: " + runSh + "\n"),
             qPrintable(out.right(3000)));
}

namespace {
const char* const kEndChild = "STARTUP_END_CHILD";

// The child: the whole station, taken down from the panel the way the
// variable names: YES to the changed camera count while the window is
// built, or the shut-down of the box a lost camera brings up.
class EndChild : public QObject
{
    Q_OBJECT
    bool eventFilter(QObject* o, QEvent* e) override
    {
        shown = shown || (e->type() == QEvent::Show && qobject_cast<ReDoWizard*>(o));
        return false;
    }
    bool shown = false; // the main window
private slots:
    void endOnThePanel()
    {
        const QString how = qEnvironmentVariable(kEndChild);
        qApp->installEventFilter(this);
        QString asked;
        if (how != "lost camera")
            finger::answerYes(60000, &asked);
        bool lost = false;
        QTimer poll;
        poll.setInterval(100);
        connect(&poll, &QTimer::timeout, [&] {
            auto* win = static_cast<ReDoWizard*>(gpWin);
            if (how != "lost camera" || !win || !win->isVisible() || !gpLostCameraWarnBox)
                return;
            if (!lost) {
                win->cameraViews[0]->camera->setValue(QString("lose"), 100);
                lost = true;
            } else if (gpWarnBox->isVisible() && gpLostCameraWarnBox->okButton()->isEnabled()) {
                // The poll's notice of the loss in front: two quick touches on its
                // Confirm power nothing off (Shut Down waits for a quiet moment).
                const QPoint confirm = gpWarnBox->okButton()->mapToGlobal(gpWarnBox->okButton()->rect().center());
                finger::touchAt(confirm);
                finger::touchAt(confirm);
                QVERIFY2(!CommandRunner::loggedCommands().contains("init 0"), "powered off by a touch on the notice");
            } else if (gpLostCameraWarnBox->isVisible() && gpLostCameraWarnBox->okButton()->isEnabled()) {
                poll.stop();
                QVERIFY(finger::tap(gpLostCameraWarnBox->okButton()));
            }
        });
        poll.start();
        char name[] = "station";
        char* argv[] = {name, nullptr};
        int argc = 1;
        QCOMPARE(stationMain(argc, argv), 0);
        if (how != "lost camera") { // ended while the window was built: it never showed
            QCOMPARE(asked, how == "camera count" ? messageText(360) : gaLanStr[4 * 160 + 1]);
            QVERIFY2(!shown, "the main window showed after the run had ended");
        }
    }
};
} // namespace

// The ways down that close the databases and run their command themselves
// end the run on the simulated panel too, with the console line that says
// how to start it again as it was started.
void TstStartup::everyEndOnThePanelEndsTheRun_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("command");
    QTest::newRow("camera count changed, YES") << "camera count" << "reboot";
    QTest::newRow("lost camera, shut down") << "lost camera" << "init 0";
    QTest::newRow("damaged PARAM.db replaced") << "damaged PARAM.db" << "reboot";
}

void TstStartup::everyEndOnThePanelEndsTheRun()
{
    QFETCH(QString, how);
    QFETCH(QString, command);
    TestEnv env;
    QJsonObject cams{{"count", 2}};
    if (how == "camera count") {
        // Two cameras stored, one found.
        cams["count"] = 1;
        QVERIFY(withStatsDb("SN.db", [](QSqlQuery& q) {
            return q.exec("update sysparam set value = 'SIMCAM-0001' where name = 'serialNB0'")
                && q.exec("update sysparam set value = 'SIMCAM-0002' where name = 'serialNB1'");
        }));
    } else if (how == "damaged PARAM.db") {
        QVERIFY(env.writeWorkFile("PARAM.db", QByteArray(4096, '\x5a')));
    } else {
        // A camera that never comes back, and the box that offers the power-off.
        cams["reconnectsToRecover"] = 1000000;
        MainState state;
        QVERIFY(ParameterStartup::openParamDb(&state));
        gpWin = &state;
        WizardPara stored;
        stored.LoadDatafromFile();
        stored.camDisconnect = 1;
        QVERIFY(stored.SaveDatatoFile());
        state.paraQuery = QSqlQuery();
        state.paraDb.close();
        gpWin = nullptr;
    }
    const QString config = env.workDir() + "/cams.json";
    QVERIFY(env.writeWorkFile("cams.json", QJsonDocument(cams).toJson()));
    QProcessEnvironment pe = QProcessEnvironment::systemEnvironment();
    pe.insert(kEndChild, how);
    pe.insert("STATION_SIMCAMERA_CONFIG", config);
    const QString calls = env.workDir() + "/camera-calls.log";
    pe.insert("STATION_SIMCAMERA_LOG", calls);
    QProcess child;
    child.setProcessEnvironment(pe);
    child.setWorkingDirectory(env.workDir());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    const bool ended = child.waitForFinished(60000);
    if (!ended) {
        child.kill();
        child.waitForFinished(5000);
    }
    const QString out = QString::fromUtf8(child.readAll());
    QVERIFY2(ended && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable("still running a minute on, or failed: " + out.right(800)));
    // An end while the window was built starts no API.
    QString log;
    for (const QFileInfo& f : QDir("ruv_net/workspace/log").entryInfoList({"LOG_*"}, QDir::Files))
        log += QString::fromUtf8(fileBytes(f.filePath()));
    QVERIFY2(log.contains("application 18.22.1.83") && (how == "lost camera") == log.contains("HTTP API on "),
             qPrintable(log.right(3000)));
    // Every camera opened is closed last (the lost one, given up, too).
    QMap<QString, QString> last;
    for (const QString& line : QString::fromUtf8(fileBytes(calls)).split('\n', Qt::SkipEmptyParts))
        last[line.section(' ', 0, 0)] = line.section(' ', 1);
    QVERIFY2(!last.isEmpty() && last.values().count("close") == last.size(), qPrintable(fileBytes(calls).right(900)));
    // Started without scripts/run.sh: this program in its folder with its variables.
    const QRegularExpressionMatch said =
        QRegularExpression(QString("simulated platform: \"%1\" was only logged.*Start it again with: "
                                   "(cd .* && .*STATION_SIMCAMERA_CONFIG=.*) %2\n")
                               .arg(command, QRegularExpression::escape(QCoreApplication::applicationFilePath())))
            .match(out);
    QVERIFY2(said.hasMatch(), qPrintable(out.right(3000)));
    // The command as said gives the station the same cameras (and runs
    // nothing that the folder's name holds).
    QProcess shell;
    shell.setWorkingDirectory(QDir::tempPath());
    shell.start("bash", {"-c", said.captured(1) + " printenv STATION_SIMCAMERA_CONFIG"});
    QVERIFY(shell.waitForFinished(10000));
    QCOMPARE(QString::fromLocal8Bit(shell.readAllStandardOutput()), config + "\n");
    // Nothing but the end's own commands reached the machine after it.
    const QStringList cmds = CommandRunner::loggedCommands();
    const int at = cmds.lastIndexOf(command);
    QVERIFY2(at >= 0 && cmds.mid(at + 1).filter(QRegularExpression("^(?!sync$)")).isEmpty(),
             qPrintable(cmds.join(" | ")));
}

// The start-again line of a station not started by scripts/run.sh, pasted into a
// bare shell elsewhere, starts that run again: its folder, sim root, ports and
// arguments.
void TstStartup::startAgainLineStartsTheSameRun()
{
    TestEnv env;
    QVERIFY(env.writeWorkFile("PARAM.db", QByteArray(4096, '\x5a')));
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(probe.serverPort());
    probe.close();
    qputenv("STATION_HTTP_PORT", port.toLatin1());
    const QString modbusPort = qEnvironmentVariable("STATION_MODBUS_PORT"); // a free one of TestEnv's
    const QStringList arguments{"--shift", "night 2"}; // not Qt's: the station leaves them be
    QString out; // its damaged PARAM.db replaced, it restarts: SIGTERM answers the notice
    const QString bad = signalStationOnceItSays(env.workDir(), "PARAM.db unusable", 0, &out, arguments);
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    const QString line =
        QRegularExpression("\"reboot\" was only logged.*Start it again with: (.*)\n").match(out).captured(1);
    QVERIFY2(!line.isEmpty(), qPrintable(out.right(3000)));

    QProcess shell;
    shell.setWorkingDirectory(QDir::tempPath()); // where TestEnv looks for a path run as a command
    shell.start("env", {"-i", "PATH=" + qEnvironmentVariable("PATH"), "HOME=" + QDir::homePath(), "bash", "-c", line});
    QVERIFY(shell.waitForStarted());
    QString again = readUntil(shell, "station running");
    // The station is the shell itself or its child.
    const QByteArray child = fileBytes(QString("/proc/%1/task/%1/children").arg(shell.processId())).trimmed();
    const qint64 station = child.isEmpty() ? shell.processId() : child.toLongLong();
    const QList<QByteArray> given = fileBytes(QString("/proc/%1/cmdline").arg(station)).split('\0').mid(1);
    if (shell.processId() > 0)
        ::kill(pid_t(station), SIGTERM);
    if (!shell.waitForFinished(30000))
        shell.kill();
    again += QString::fromUtf8(shell.readAll());
    QVERIFY2(again.startsWith("station 18.22.1.83 starting in " + env.workDir() + "\n")
                 && again.contains("\n  HTTP API: http://127.0.0.1:" + port + "/v18/http/\n")
                 && again.contains("\n  Modbus TCP slave: 127.0.0.1:" + modbusPort + "\n")
                 && again.contains("station ended"),
             qPrintable(line + "\n" + again.right(3000)));
    QCOMPARE(given, (QList<QByteArray>{"--shift", "night 2", ""}));
    QCOMPARE(CommandRunner::loggedCommands().count(QString("notify-send \"监视器已开启\"")), 1);
}

namespace {
// The threads of this process by id, each with its name.
QMap<QString, QString> threads()
{
    QMap<QString, QString> out;
    for (const QString& id : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + id + "/comm");
        if (comm.open(QIODevice::ReadOnly))
            out.insert(id, QString::fromUtf8(comm.readAll()).trimmed());
    }
    return out;
}
} // namespace

// The whole start-up in this process, ended by SIGTERM: when it returns,
// every thread it started (drive watcher, USB writer, image writer, board
// poll, statistics workers, cameras) has ended.
void TstStartup::orderedEndJoinsEveryThread()
{
    TestEnv env;
    QVERIFY(env.writeSimFile("/run/udev/data/b8:17", "S:disk/by-uuid/AB12-CD34\nE:ID_BUS=usb\nE:ID_FS_TYPE=vfat\n"));
    QVERIFY(QDir().mkpath(env.simRoot() + "/dev/disk/by-uuid") && QDir().mkpath(env.simRoot() + "/drives/sdb1"));
    QVERIFY(QFile::link("../../sdb1", env.simRoot() + "/dev/disk/by-uuid/AB12-CD34"));
    QVERIFY(env.writeSimFile("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n"));
    const QMap<QString, QString> before = threads();
    QStringList during;
    // SIGTERM once the drive watcher and the board poll run (at most a minute),
    // after an end by reboot.
    QElapsedTimer since;
    since.start();
    QTimer poll;
    poll.setInterval(100);
    connect(&poll, &QTimer::timeout, [&] {
        during = threads().values();
        if ((during.contains("DiskManager") && during.contains("IOThread")) || since.elapsed() > 60000) {
            poll.stop();
            // The language change's end first: on the simulated platform it
            // ends the run itself, and a Ctrl-C after it changes nothing.
            static_cast<ReDoWizard*>(gpWin)->endStation(StationExit::Reboot);
            ::raise(SIGTERM);
        }
    });
    poll.start();
    char name[] = "station";
    char* argv[] = {name, nullptr};
    int argc = 1;
    QCOMPARE(stationMain(argc, argv), 0);
    QVERIFY2(during.contains("DiskManager") && during.contains("IOThread"), qPrintable(during.join(", ")));
    // Unnamed helpers of libraries (OpenCV's pool) carry the program's name;
    // Qt's pool threads end by themselves.
    const QString own = threads().value(QString::number(::getpid()));
    QStringList left;
    const auto noneLeft = [&] {
        left.clear();
        const QMap<QString, QString> after = threads();
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            if (!before.contains(it.key()) && it.value() != "Thread (pooled)" && it.value() != own)
                left << it.value();
        return left.isEmpty();
    };
    // A joined thread has run to its end, but the system may list it a
    // little longer, until it is scheduled to leave (QThread::wait returns
    // before that; under load, for milliseconds). One still running stays.
    QTRY_VERIFY2_WITH_TIMEOUT(noneLeft(), qPrintable(left.join(", ")), 10000);
}

int main(int argc, char** argv)
{
    // The station's own application object: the whole start-up runs here too.
    MApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kRestartChild)) {
        RestartChild child;
        return QTest::qExec(&child, argc, argv);
    }
    if (qEnvironmentVariableIsSet(kEndChild)) {
        EndChild child;
        return QTest::qExec(&child, argc, argv);
    }
    TstStartup t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_startup.moc"

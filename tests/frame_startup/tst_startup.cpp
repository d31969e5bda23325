#include "frame/globals.h"
#include "frame/startup.h"
#include "platform/commandrunner.h"
#include "testsupport/testenv.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

class TstStartup : public QObject
{
    Q_OBJECT
private slots:
    void panelWaitsShowEveryStep();
    void versionJsonKeepsOtherKeys();
    void versionJsonWrittenAnewWhenMissing();
    void damagedVersionJsonIsKeptAside();
    void stationStartsInFactoryWorkDir();
};

void TstStartup::panelWaitsShowEveryStep()
{
    TestEnv env;
    QList<int> steps;
    QStringList texts;
    int sleeps = 0;
    waitForHardware([&](int s, const QString& t) { steps << s; texts << t; }, [&] { ++sleeps; });
    QCOMPARE(steps, QList<int>({6, 7, 8, 9, 10, 15, 18, 21, 23, 26, 29, 31, 34, 37, 39, 42}));
    QCOMPARE(sleeps, 15);
    QCOMPARE(texts.first(), QString("配置网卡中..."));
    QCOMPARE(texts.last(), QString("等待相机开启..."));
    // The network-card script is started in the background, never waited for.
    QCOMPARE(CommandRunner::loggedCommands(), QStringList({"python3 ./ruv_net/zivod20_upnetcard.py &"}));
}

void TstStartup::versionJsonKeepsOtherKeys()
{
    TestEnv env;
    QVERIFY(env.writeWorkFile("ruv_net/config.json",
                              R"({"devicename": "press 7", "version": "1.0", "serverport": 10100})"));
    numCamera = 3;
    writeVersionToJson();
    QFile f("ruv_net/config.json");
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    QVERIFY(data.contains("\n    \"")); // indented
    const QJsonObject o = QJsonDocument::fromJson(data).object();
    QCOMPARE(o.value("devicename").toString(), QString("press 7"));
    QCOMPARE(o.value("version").toString(), QString("18.22.1.83"));
    QCOMPARE(o.value("camcount").toInt(), 3);
    QCOMPARE(o.value("serverport").toInt(), 10100);
    numCamera = 0;
}

void TstStartup::versionJsonWrittenAnewWhenMissing()
{
    TestEnv env(false);
    QVERIFY(QDir().mkpath("ruv_net"));
    writeVersionToJson();
    QFile f("ruv_net/config.json");
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    QCOMPARE(o.keys(), QStringList({"camcount", "version"}));
    QCOMPARE(o.value("camcount").toInt(), 0);
    // Without its folder nothing is written and nothing breaks.
    TestEnv bare(false);
    writeVersionToJson();
    QVERIFY(!QFile::exists("ruv_net/config.json"));
}

void TstStartup::damagedVersionJsonIsKeptAside()
{
    TestEnv env;
    const QByteArray damaged = R"({"devicename": "press 7", "serveraddr": "10.0.0.5")"; // cut off
    QVERIFY(env.writeWorkFile("ruv_net/config.json", damaged));
    writeVersionToJson();
    QFile kept("ruv_net/config.json.damaged");
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), damaged);
    QFile f("ruv_net/config.json");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(f.readAll()).object().value("version").toString(), QString("18.22.1.83"));
}

void TstStartup::stationStartsInFactoryWorkDir()
{
    TestEnv env;
    QVERIFY2(QFile::exists("PARAM.db"), "factory template missing");
    QProcess p;
    p.setWorkingDirectory(env.workDir());
    p.start(QStringLiteral(STATION_EXE), QStringList());
    QVERIFY(p.waitForFinished(60000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(out.contains("parameter group: default"), qPrintable(out));
    QVERIFY(out.contains("not part of this build"));
    // The simulated camera plug-in beside the program offers its two cameras.
    QVERIFY2(out.contains("cameras found by the plug-ins: 2"), qPrintable(out));
    QVERIFY(out.contains("SIMCAM-0001"));
    // Start-up logged its banner through glog and recorded the version.
    QDir logDir("ruv_net/workspace/log");
    bool banner = false;
    for (const QString& name : logDir.entryList({"LOG_*"}, QDir::Files)) {
        QFile f(logDir.filePath(name));
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains("application 18.22.1.83"))
            banner = true;
    }
    QVERIFY(banner);
    QFile cfg("ruv_net/config.json");
    QVERIFY(cfg.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(cfg.readAll()).object().value("version").toString(), QString("18.22.1.83"));
    QVERIFY(CommandRunner::loggedCommands().contains("notify-send \"监视器已开启\""));
}

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"

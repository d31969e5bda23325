#include "frame/findau.h"
#include "platform/commandrunner.h"
#include "platform/platformpath.h"
#include "testsupport/testenv.h"

#include <QFile>
#include <QFileInfo>
#include <QtTest>

class TstPlatform : public QObject
{
    Q_OBJECT
private slots:
    void pathsResolveBelowSimRoot()
    {
        TestEnv env;
        QCOMPARE(platform::path("/dev/ttyS1"), env.simRoot() + "/dev/ttyS1");
        QCOMPARE(platform::path("PARAM.db"), QString("PARAM.db"));
        QCOMPARE(platform::path(env.simRoot() + "/x"), env.simRoot() + "/x");
        qunsetenv("STATION_SIMROOT");
        QCOMPARE(platform::path("/dev/ttyS1"), QString("/dev/ttyS1"));
        QVERIFY(!platform::isSimulated());
        QVERIFY(CommandRunner::logPath().isEmpty());
    }

    void commandsRunWithPlatformPathsMoved()
    {
        TestEnv env;
        QVERIFY(env.writeSimFile("/mnt/a.txt", "drive data"));
        QCOMPARE(CommandRunner::system("cp /mnt/a.txt ./copied.txt"), 0);
        QFile f(env.workDir() + "/copied.txt");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("drive data"));
        QCOMPARE(CommandRunner::loggedCommands().last(), QString("cp /mnt/a.txt ./copied.txt"));
        // Output of a real command comes back, errors merged in; /dev/null stays the real one.
        QCOMPARE(CommandRunner::bash("echo hello 2>/dev/null").output, QByteArray("hello\n"));
        QCOMPARE(CommandRunner::bash("echo out; echo err >&2").output, QByteArray("out\nerr\n"));
        // Queries the simulated machine cannot answer come from fixture files.
        QVERIFY(env.writeSimFile("/cmd/blkid.out", "/dev/sdb1: UUID=\"1234-ABCD\" TYPE=\"vfat\"\n"));
        QVERIFY(env.writeSimFile("/cmd/ping.out", ""));
        QVERIFY(env.writeSimFile("/cmd/ping.rc", "1\n"));
        const auto r = CommandRunner::bash("blkid");
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.output.contains("1234-ABCD"));
        QCOMPARE(CommandRunner::bash("ping -c 1 192.0.2.1").exitCode, 1);
        // The time limit holds.
        QElapsedTimer t;
        t.start();
        QCOMPARE(CommandRunner::bash("sleep 20", 300).exitCode, -1);
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    }

    // blkid lists the simulated panel's disks, never this machine's: the
    // system disk and a stick plugged in as the README shows, which the
    // one-off drive finder then takes.
    void blkidListsTheSimulatedDisks()
    {
        TestEnv env;
        const auto blkid = [] { return QString::fromUtf8(CommandRunner::bash("blkid").output); };
        QCOMPARE(blkid(), QString("/dev/sda1: TYPE=\"ext4\"\n"));
        QVERIFY(env.writeSimFile("/run/udev/data/b8:17",
                                 "S:disk/by-uuid/1234-ABCD\nS:disk/by-label/MY\"KEY\nE:ID_BUS=usb\nE:ID_FS_TYPE=vfat\n"));
        QVERIFY(QDir().mkpath(env.simRoot() + "/dev/disk/by-uuid"));
        QVERIFY(QFile::link("../../sdb1", env.simRoot() + "/dev/disk/by-uuid/1234-ABCD"));
        // The whole disk of a partitioned stick has no UUID; a link that names
        // no device node adds no line of its own.
        QVERIFY(env.writeSimFile("/run/udev/data/b8:16", "E:ID_BUS=usb\n"));
        QVERIFY(env.writeSimFile("/run/udev/data/b8:33", "S:disk/by-uuid/9-9\nE:ID_FS_TYPE=ntfs\n"));
        QVERIFY(QFile::link("../../sdc1\n/dev/sdd1: TYPE=\"vfat\"", env.simRoot() + "/dev/disk/by-uuid/9-9"));
        QVERIFY(env.writeSimFile("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n"));
        const QString listed = blkid();
        QCOMPARE(listed, QString("/dev/sda2: TYPE=\"ext4\"\n"
                                 "/dev/sdb1: LABEL=\"MY\\\"KEY\" UUID=\"1234-ABCD\" TYPE=\"vfat\"\n"));
        QCOMPARE(findAUPickDevice(listed), QString("/dev/sdb1"));
        QVERIFY(QFile::remove(env.simRoot() + "/run/udev/data/b8:17"));
        QCOMPARE(blkid(), QString("/dev/sda2: TYPE=\"ext4\"\n"));
    }

    void machineCommandsNeverRunInsideOtherLines()
    {
        TestEnv env;
        // Stand-ins first on PATH: each leaves a mark beside itself if it runs.
        const QString bin = env.workDir() + "/bin";
        for (const char* prog : {"reboot", "date", "hwclock", "mount"}) {
            QVERIFY(env.writeWorkFile(QString("bin/") + prog, "#!/bin/sh\ntouch \"$0.ran\"\n"));
            QFile::setPermissions(bin + "/" + prog, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", bin.toLocal8Bit() + ":" + oldPath);
        const QStringList compound = {"sync; reboot", "true && date -s 2020-01-01", "(reboot)", "echo $(reboot)",
                                      "echo `hwclock -w`", "sh -c 'reboot'", "bash -c \"true; reboot\"",
                                      "eval reboot", "true | env LANG=C reboot", "find . -maxdepth 0 -exec reboot \\;",
                                      "true\nmount /dev/sdb1 /mnt"};
        for (const QString& line : compound) {
            QCOMPARE(CommandRunner::system(line), 126);
            QCOMPARE(CommandRunner::bash(line).exitCode, 126);
        }
        // A single command, also behind a wrapper, is that command: logged, not run.
        const QStringList single = {"reboot", "date -s \"2026-01-01 10:00:00\"", "env reboot", "nohup reboot &",
                                    "LANG=C timeout 5 /sbin/reboot", "\\reboot"};
        for (const QString& line : single)
            QCOMPARE(CommandRunner::system(line), 0);
        QCOMPARE(CommandRunner::bash("hwclock -w").exitCode, 0);
        const QStringList logged = CommandRunner::loggedCommands();
        QCOMPARE(logged.mid(logged.size() - single.size() - 1), single + QStringList({"hwclock -w"}));
        // Lines without such a command still run.
        QCOMPARE(CommandRunner::bash("true && echo $(echo ok)").output, QByteArray("ok\n"));
        qputenv("PATH", oldPath);
        const QStringList ran = QDir(bin).entryList({"*.ran"});
        QVERIFY2(ran.isEmpty(), qPrintable(ran.join(' ')));
        QCOMPARE(CommandRunner::programOf("LANG=C nice -n 5 /sbin/hwclock -w"), QString("hwclock"));
    }

    void simRootStaysOneQuotedWord()
    {
        // TestEnv's folders hold a space, both quotes and "$(touch ...)"; its
        // destructor fails the test if that ever ran.
        TestEnv env;
        QVERIFY(env.simRoot().contains(' ') && env.simRoot().contains("$("));
        QVERIFY(QDir().mkpath(env.simRoot() + "/sys/class/backlight/intel_backlight"));
        QCOMPARE(CommandRunner::system("echo 1 > /sys/class/backlight/intel_backlight/bl_power"), 0);
        QFile bl(env.simRoot() + "/sys/class/backlight/intel_backlight/bl_power");
        QVERIFY(bl.open(QIODevice::ReadOnly));
        QCOMPARE(bl.readAll(), QByteArray("1\n"));
        QVERIFY(env.writeSimFile("/mnt/a b.txt", "spaced"));
        QCOMPARE(CommandRunner::bash("cat \"/mnt/a b.txt\"").output, QByteArray("spaced"));
        QCOMPARE(CommandRunner::bash("cat '/mnt/a b.txt'").output, QByteArray("spaced"));
        QCOMPARE(CommandRunner::bash("cat /mnt/a\\ b.txt;echo").output, QByteArray("spaced\n"));
        QCOMPARE(CommandRunner::bash("echo /dev/null").output, QByteArray("/dev/null\n"));
        // Nothing landed beside the sim root.
        QDir parent(QFileInfo(env.simRoot()).absolutePath());
        QVERIFY(parent.entryList({"sys*", "mnt*"}).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstPlatform)
#include "tst_platform.moc"

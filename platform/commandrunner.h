#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

// Every shell command of the station goes through here. On a panel the
// command runs as written. Under STATION_SIMROOT each command line is appended
// to <simroot>/commands.log; commands that would change the machine (reboot,
// mount, date, ifconfig...) are only logged, except mount and umount, which
// update the simulated mounts file and link the simulated drive's folder so
// the drive code runs for real. A program whose output the station reads can
// be answered from the fixture <simroot>/cmd/<program>.out (exit code from
// <program>.rc, default 0). Without one, a plain "blkid" lists the simulated
// panel's disks: the system disk and every drive laid out in its udev data,
// never this machine's own. File work (cp, mv, rm, tar, sync...) runs for real
// with platform paths (/mnt, /proc, /dev...) moved below the sim root, quoted.
// A compound line (";", "&&", "|", "$(...)", "sh -c"...) that would run a
// machine-changing program anywhere in it is refused as a whole (exit 126).
class CommandRunner
{
public:
    struct Result {
        int exitCode = -1;      // -1: could not start or timed out
        QByteArray output;      // standard output and standard error, merged
    };

    // Blocking, like system(3): returns the exit status, 0 for success.
    // A command line ending in '&' is started in the background.
    static int system(const QString& commandLine);

    // "bash -c commandLine", waiting at most timeoutMs in all; past it the
    // command is killed and the exit code is -1.
    static Result bash(const QString& commandLine, int timeoutMs = 30000);

    // The command log of the simulated platform; empty on a panel.
    static QString logPath();
    // The commands logged so far (simulated platform only).
    static QStringList loggedCommands();

    // The program word of a command line ("mount" for "mount /dev/sdb1 /mnt").
    static QString programOf(const QString& commandLine);

    // Text quoted as one shell word, whatever it holds.
    static QString quote(const QString& text);

    // Once the end of a run has closed the databases, only its own commands
    // run ("sync", "reboot", "init 0"): any other is refused with 126 and
    // logged, and stays out of the simulated platform's command log.
    static void setEndOnly(bool on);

private:
    static bool refusedAtEnd(const QString& commandLine);
    static bool simulate(const QString& commandLine, Result* result);
    static QString remapPaths(const QString& commandLine);
    static int simMount(const QStringList& args);
    static int simUmount(const QStringList& args);
};

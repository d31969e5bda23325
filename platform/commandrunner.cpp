#include "platform/commandrunner.h"
#include "platform/platformpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

#include <cstdlib>

namespace {

QMutex gLogMutex;

void appendLog(const QString& line)
{
    QMutexLocker lock(&gLogMutex);
    QFile f(CommandRunner::logPath());
    if (f.open(QIODevice::Append | QIODevice::Text)) {
        f.write(line.toUtf8());
        f.write("\n");
    }
}

// Programs that would change the machine: logged, never run, under the sim root.
const QStringList& machinePrograms()
{
    static const QStringList list = {
        "reboot", "init", "shutdown", "poweroff", "halt", "date", "hwclock",
        "ifconfig", "route", "ip", "iwconfig", "nmcli", "netplan", "tsc", "./tsc",
        "python3", "notify-send", "killall", "pkill", "kill", "systemctl",
        "./ruv_net/pynet_monitor/pynet_monitor",
        "hls_avmn", "insmod", "rmmod", "modprobe", "mkfs", "mkfs.vfat", "fsck"};
    return list;
}

// Split a simple command line into words, honouring single and double quotes.
QStringList splitWords(const QString& line)
{
    QStringList words;
    QString cur;
    QChar quote;
    bool inWord = false;
    for (QChar c : line) {
        if (!quote.isNull()) {
            if (c == quote) quote = QChar();
            else cur += c;
            continue;
        }
        if (c == '\'' || c == '"') { quote = c; inWord = true; continue; }
        if (c.isSpace()) {
            if (inWord) { words << cur; cur.clear(); inWord = false; }
            continue;
        }
        cur += c;
        inWord = true;
    }
    if (inWord) words << cur;
    return words;
}

} // namespace

QString CommandRunner::logPath()
{
    const QString root = platform::simRoot();
    return root.isEmpty() ? QString() : root + "/commands.log";
}

QStringList CommandRunner::loggedCommands()
{
    QFile f(logPath());
    if (logPath().isEmpty() || !f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString CommandRunner::programOf(const QString& commandLine)
{
    const QStringList words = splitWords(commandLine.trimmed());
    for (const QString& w : words) {
        // Skip leading environment assignments such as "LANG=C".
        if (w.contains('=') && !w.startsWith('/') && !w.startsWith('.'))
            continue;
        return w;
    }
    return QString();
}

QString CommandRunner::remapPaths(const QString& commandLine)
{
    static const QRegularExpression re(
        QStringLiteral("(^|[\\s'\"=])(/(?:mnt|media|proc|sys|dev|run|etc|root|opt|boot)(?:/[^\\s'\"]*)?)"));
    const QString root = platform::simRoot();
    QString out;
    int last = 0;
    auto it = re.globalMatch(commandLine);
    while (it.hasNext()) {
        const auto m = it.next();
        const QString p = m.captured(2);
        out += commandLine.mid(last, m.capturedStart(2) - last);
        out += (p == "/dev/null" || p.startsWith(root + '/')) ? p : platform::path(p);
        last = m.capturedEnd(2);
    }
    out += commandLine.mid(last);
    return out;
}

int CommandRunner::simMount(const QStringList& args)
{
    QStringList pos;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "-t" || args[i] == "-o") { ++i; continue; }
        if (args[i].startsWith('-')) continue;
        pos << args[i];
    }
    if (pos.size() < 2)
        return 1;
    const QString dev = pos[0], dir = pos[1];
    const QString root = platform::simRoot();
    const QString name = QFileInfo(dev).fileName();
    const QString driveDir = root + "/drives/" + name;
    if (!QFileInfo(driveDir).isDir())
        return 32;
    QString fstype = "vfat";
    QFile ft(driveDir + ".fstype");
    if (ft.open(QIODevice::ReadOnly))
        fstype = QString::fromUtf8(ft.readAll()).trimmed();
    const QString target = platform::path(dir);
    QFileInfo ti(target);
    if (ti.isSymLink()) {
        QFile::remove(target);
    } else if (ti.isDir()) {
        if (!QDir(target).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            return 32;
        QDir().rmdir(target);
    }
    QDir().mkpath(QFileInfo(target).absolutePath());
    if (!QFile::link(driveDir, target))
        return 32;
    const QString mounts = platform::path("/proc/mounts");
    QDir().mkpath(QFileInfo(mounts).absolutePath());
    QFile mf(mounts);
    if (!mf.open(QIODevice::Append | QIODevice::Text))
        return 32;
    QTextStream(&mf) << dev << ' ' << dir << ' ' << fstype << " rw,relatime 0 0\n";
    return 0;
}

int CommandRunner::simUmount(const QStringList& args)
{
    QString what;
    for (int i = 1; i < args.size(); ++i)
        if (!args[i].startsWith('-')) what = args[i];
    if (what.isEmpty())
        return 1;
    QFile mf(platform::path("/proc/mounts"));
    if (!mf.open(QIODevice::ReadOnly | QIODevice::Text))
        return 32;
    const QStringList lines = QString::fromUtf8(mf.readAll()).split('\n');
    mf.close();
    QStringList kept;
    QString mountDir;
    for (const QString& l : lines) {
        if (l.isEmpty()) continue;
        const QStringList f = l.split(' ');
        if (mountDir.isEmpty() && f.size() >= 2 && (f[0] == what || f[1] == what)) {
            mountDir = f[1];
            continue;
        }
        kept << l;
    }
    if (mountDir.isEmpty())
        return 32;
    if (!mf.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return 32;
    for (const QString& l : kept)
        mf.write((l + '\n').toUtf8());
    mf.close();
    const QString target = platform::path(mountDir);
    if (QFileInfo(target).isSymLink()) {
        QFile::remove(target);
        QDir().mkpath(target);
    }
    return 0;
}

bool CommandRunner::simulate(const QString& commandLine, Result* result)
{
    if (!platform::isSimulated())
        return false;
    appendLog(commandLine);
    QString line = commandLine.trimmed();
    if (line.endsWith('&'))
        line.chop(1);
    const QString prog = programOf(line);
    const QString base = QFileInfo(prog).fileName();
    const QString fixture = platform::simRoot() + "/cmd/" + base;
    if (QFileInfo::exists(fixture + ".out")) {
        QFile f(fixture + ".out");
        f.open(QIODevice::ReadOnly);
        result->output = f.readAll();
        result->exitCode = 0;
        QFile rc(fixture + ".rc");
        if (rc.open(QIODevice::ReadOnly))
            result->exitCode = QString::fromUtf8(rc.readAll()).trimmed().toInt();
        return true;
    }
    const QStringList words = splitWords(line);
    if (base == "mount") {
        result->exitCode = simMount(words);
        return true;
    }
    if (base == "umount") {
        result->exitCode = simUmount(words);
        return true;
    }
    if (machinePrograms().contains(prog) || machinePrograms().contains(base)) {
        result->exitCode = 0;
        return true;
    }
    return false; // runs for real, with platform paths moved below the sim root
}

int CommandRunner::system(const QString& commandLine)
{
    Result r;
    if (simulate(commandLine, &r))
        return r.exitCode;
    const QString line = platform::isSimulated() ? remapPaths(commandLine) : commandLine;
    const int status = ::system(line.toLocal8Bit().constData());
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

CommandRunner::Result CommandRunner::bash(const QString& commandLine, int timeoutMs)
{
    Result r;
    if (simulate(commandLine, &r))
        return r;
    const QString line = platform::isSimulated() ? remapPaths(commandLine) : commandLine;
    QProcess p;
    p.start("bash", {"-c", line});
    if (!p.waitForStarted(timeoutMs)) {
        r.exitCode = -1;
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        r.exitCode = -1;
        r.output = p.readAllStandardOutput();
        return r;
    }
    r.output = p.readAllStandardOutput();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

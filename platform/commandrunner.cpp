#include "platform/commandrunner.h"
#include "platform/platformpath.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace {

QMutex gLogMutex;
std::atomic<bool> gEndOnly{false};

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

// What a shell would run for a command line: the words of every simple
// command, including those in $(...), `...`, subshells and "sh -c" strings.
// Only unquoted text separates commands; quotes and backslashes are removed
// from the words as the shell removes them.
struct ShellScan {
    QList<QStringList> commands;
    bool compound = false; // more than one command, or a substitution
};

void scanShell(const QString& line, ShellScan* out, int depth);

// The text of a $(...) starting after "$(" at i; i ends after the ")".
QString takeSubstitution(const QString& line, int* i)
{
    int level = 1;
    QChar quote;
    const int from = *i;
    for (; *i < line.size(); ++*i) {
        const QChar c = line[*i];
        if (!quote.isNull()) {
            if (c == quote) quote = QChar();
            else if (c == '\\' && quote == '"') ++*i;
            continue;
        }
        if (c == '\\') { ++*i; continue; }
        if (c == '\'' || c == '"') { quote = c; continue; }
        if (c == '(') ++level;
        if (c == ')' && --level == 0) {
            const QString inner = line.mid(from, *i - from);
            ++*i;
            return inner;
        }
    }
    return line.mid(from);
}

void scanShell(const QString& line, ShellScan* out, int depth)
{
    if (depth > 8) { // deeper nesting than any station command: treat as compound
        out->compound = true;
        return;
    }
    QStringList words;
    QString cur;
    bool inWord = false;
    bool redirectTarget = false;
    QChar quote;
    auto endWord = [&] {
        if (inWord) {
            if (redirectTarget) redirectTarget = false;
            else words << cur;
        }
        cur.clear();
        inWord = false;
    };
    auto endCommand = [&] {
        endWord();
        if (!words.isEmpty()) {
            if (!out->commands.isEmpty()) out->compound = true;
            out->commands << words;
        }
        words.clear();
    };
    auto substitute = [&](const QString& inner) {
        out->compound = true;
        scanShell(inner, out, depth + 1);
        inWord = true; // the substitution's output becomes (part of) a word
        cur += QStringLiteral("$(...)");
    };
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quote == '\'') {
            if (c == '\'') quote = QChar();
            else cur += c;
            continue;
        }
        if (c == '\\' && i + 1 < line.size()) {
            if (line[i + 1] != '\n')
                cur += line[i + 1];
            ++i;
            inWord = true;
            continue;
        }
        if (c == '$' && i + 1 < line.size() && line[i + 1] == '(') {
            i += 2;
            substitute(takeSubstitution(line, &i));
            --i;
            continue;
        }
        if (c == '`') {
            const int close = line.indexOf('`', i + 1);
            const int end = close < 0 ? line.size() : close;
            substitute(line.mid(i + 1, end - i - 1));
            i = end;
            continue;
        }
        if (quote == '"') {
            if (c == '"') quote = QChar();
            else cur += c;
            continue;
        }
        if (c == '\'' || c == '"') { quote = c; inWord = true; continue; }
        if (c.isSpace() && c != '\n') { endWord(); continue; }
        if (c == ';' || c == '&' || c == '|' || c == '(' || c == ')' || c == '\n') {
            endCommand();
            if (c == '(' || c == ')') out->compound = true;
            continue;
        }
        if (c == '>' || c == '<') {
            // "2>&1", ">>": the target is a file, not a word of the command.
            const bool digitsOnly = inWord && !cur.isEmpty()
                && std::all_of(cur.begin(), cur.end(), [](QChar d) { return d.isDigit(); });
            if (digitsOnly) { cur.clear(); inWord = false; } else endWord();
            while (i + 1 < line.size() && (line[i + 1] == '>' || line[i + 1] == '&' || line[i + 1] == '<'))
                ++i;
            redirectTarget = true;
            continue;
        }
        cur += c;
        inWord = true;
    }
    endCommand();
}

ShellScan scanShell(const QString& line)
{
    ShellScan s;
    scanShell(line, &s, 0);
    return s;
}

bool isAssignment(const QString& w)
{
    const int eq = w.indexOf('=');
    if (eq <= 0)
        return false;
    for (int i = 0; i < eq; ++i)
        if (!(w[i].isLetterOrNumber() || w[i] == '_'))
            return false;
    return !w[0].isDigit();
}

// The programs one simple command runs: its command word after assignments
// and wrappers (env, nohup, sudo, timeout...), and what "sh -c", "eval" and
// "find -exec" run. Strings given to a shell are scanned in turn.
void programsOf(const QStringList& words, QStringList* programs, bool* compound, int depth)
{
    static const QStringList plainWrappers = {"exec", "command", "builtin", "nohup", "sudo", "doas",
                                              "setsid", "time", "busybox", "chrt", "ionice", "nice",
                                              "stdbuf", "xargs", "env", "timeout", "chroot", "watch", "flock"};
    int i = 0;
    while (i < words.size()) {
        const QString w = words[i];
        const QString base = QFileInfo(w).fileName();
        if (isAssignment(w) || w.startsWith('-')) { ++i; continue; }
        if (plainWrappers.contains(base)) {
            // Options of the wrapper, with the argument of those that take one
            // (nice -n 5, sudo -u root, timeout -s KILL...).
            static const QStringList withArgument = {"-n", "-u", "-g", "-c", "-p", "-s", "-k", "-C", "-D", "-t"};
            ++i;
            while (i < words.size() && words[i].startsWith('-'))
                i += withArgument.contains(words[i]) ? 2 : 1;
            // timeout DURATION, chroot DIR, flock FILE.
            if (base == "timeout" || base == "chroot" || base == "flock")
                ++i;
            continue;
        }
        programs->append(base);
        if ((base == "sh" || base == "bash" || base == "dash" || base == "ash" || base == "zsh" || base == "ksh")) {
            const int c = words.indexOf(QStringLiteral("-c"), i + 1);
            if (c > 0 && c + 1 < words.size()) {
                *compound = true;
                ShellScan inner;
                scanShell(words[c + 1], &inner, depth + 1);
                for (const QStringList& cmd : inner.commands)
                    programsOf(cmd, programs, compound, depth + 1);
            }
        } else if (base == "eval" || base == "source" || base == ".") {
            *compound = true;
            ShellScan inner;
            scanShell(words.mid(i + 1).join(' '), &inner, depth + 1);
            for (const QStringList& cmd : inner.commands)
                programsOf(cmd, programs, compound, depth + 1);
        }
        for (int k = i + 1; k + 1 < words.size(); ++k) {
            if (words[k] == "-exec" || words[k] == "-execdir" || words[k] == "-ok") {
                *compound = true;
                programsOf(words.mid(k + 1), programs, compound, depth + 1);
                break;
            }
        }
        return;
    }
}

// Every program a scanned line would run, in order.
QStringList programsOfLine(const ShellScan& s, bool* compound)
{
    *compound = s.compound;
    QStringList programs;
    for (const QStringList& cmd : s.commands)
        programsOf(cmd, &programs, compound, 0);
    return programs;
}

// Single-quotes text for the shell: 'it'\''s'.
QString singleQuoted(const QString& text)
{
    QString q = text;
    q.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

// A udev attribute value ("S:disk/by-uuid/1234-ABCD" gives "1234-ABCD").
QString afterLast(const QString& line, QChar c)
{
    return line.mid(line.lastIndexOf(c) + 1);
}

// blkid's quoting of a tag value; control characters, which would break
// the listing's lines, are left out.
QString blkidValue(QString v)
{
    v.remove(QRegularExpression(QStringLiteral("[\\x00-\\x1f\\x7f]")));
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    v.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + v + QLatin1Char('"');
}

// One word, as a device node is named: the listing's lines stay lines.
bool isDeviceNode(const QString& name)
{
    static const QRegularExpression node(QStringLiteral("^/dev/[A-Za-z0-9_.:+/-]+$"));
    return node.match(name).hasMatch();
}

// The device a /dev/disk/by-uuid link of the simulated panel leads to, as
// the panel names it ("/dev/sdb1"); empty when there is none.
QString simDeviceOfUuid(const QString& root, const QString& uuid)
{
    if (uuid.isEmpty() || uuid.contains(QLatin1Char('/')) || uuid == QLatin1String("..") || uuid == QLatin1String("."))
        return QString();
    const QString link = root + QStringLiteral("/dev/disk/by-uuid/") + uuid;
    QString target = QFileInfo(link).symLinkTarget(); // absolute, resolved against the link's folder
    if (target.isEmpty())
        return QString();
    if (target.startsWith(root + QLatin1Char('/')))
        target = target.mid(root.size());
    return isDeviceNode(target) ? target : QString();
}

// What blkid prints on the simulated panel: one line for each partition
// whose udev data ("b8:*" in /run/udev/data) names a file-system UUID that
// /dev/disk/by-uuid leads to a device with (a stick plugged in as the
// README shows), and the system disk: the device mounted at "/" in the
// simulated mounts file, or else /dev/sda1, the panel's, listed ext4 without
// a UUID since nothing describes it. Sorted by device, as blkid follows the
// kernel's order of partitions. A drive's folder may hold <name>.fstype, as
// for its mount; vfat otherwise.
QByteArray simBlkid()
{
    const QString root = platform::simRoot();
    QMap<QString, QString> lines; // device -> line
    const QDir udev(root + QStringLiteral("/run/udev/data"));
    // A folder filled from outside: read a bounded number of small files.
    const QStringList files =
        udev.entryList({QStringLiteral("b8:*")}, QDir::Files | QDir::System, QDir::Name).mid(0, 256);
    for (const QString& file : files) {
        QFile f(udev.filePath(file));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        QString uuid, label, type;
        for (const QString& line : QString::fromUtf8(f.read(64 * 1024)).split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("S:disk/by-uuid/")))
                uuid = afterLast(line, QLatin1Char('/'));
            else if (line.startsWith(QLatin1String("S:disk/by-label/")))
                label = afterLast(line, QLatin1Char('/'));
            else if (line.startsWith(QLatin1String("E:ID_FS_TYPE=")))
                type = afterLast(line, QLatin1Char('='));
        }
        const QString device = simDeviceOfUuid(root, uuid);
        if (device.isEmpty())
            continue;
        if (type.isEmpty()) {
            QFile ft(root + QStringLiteral("/drives/") + QFileInfo(device).fileName() + QStringLiteral(".fstype"));
            type = ft.open(QIODevice::ReadOnly) ? QString::fromUtf8(ft.read(64)).trimmed() : QStringLiteral("vfat");
        }
        QString out = device + QLatin1Char(':');
        if (!label.isEmpty())
            out += QStringLiteral(" LABEL=") + blkidValue(label);
        out += QStringLiteral(" UUID=") + blkidValue(uuid);
        if (!type.isEmpty())
            out += QStringLiteral(" TYPE=") + blkidValue(type);
        lines.insert(device, out);
    }
    QString systemDevice = QStringLiteral("/dev/sda1"), systemType = QStringLiteral("ext4");
    QFile mounts(root + QStringLiteral("/proc/mounts"));
    if (mounts.open(QIODevice::ReadOnly)) {
        for (const QString& line : QString::fromUtf8(mounts.read(1024 * 1024)).split(QLatin1Char('\n'))) {
            const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (f.size() >= 3 && f[1] == QLatin1String("/") && isDeviceNode(f[0])) {
                systemDevice = f[0];
                systemType = f[2];
            }
        }
    }
    if (!lines.contains(systemDevice))
        lines.insert(systemDevice, systemDevice + QStringLiteral(": TYPE=") + blkidValue(systemType));
    QByteArray out;
    for (const QString& l : lines)
        out += l.toUtf8() + '\n';
    return out;
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
    bool compound = false;
    const QStringList programs = programsOfLine(scanShell(commandLine), &compound);
    return programs.isEmpty() ? QString() : programs.first();
}

QString CommandRunner::quote(const QString& text)
{
    return singleQuoted(text);
}

QString CommandRunner::remapPaths(const QString& commandLine)
{
    // The sim root may hold spaces, quotes or "$(...)": it goes into the line
    // quoted for the quoting state at that point, so the shell takes it as
    // part of one word and expands nothing in it.
    static const QRegularExpression re(
        QStringLiteral("^/(?:mnt|media|proc|sys|dev|run|etc|root|opt|boot)(?=$|[/\\s'\";|&()<>`$])"));
    static const QString stop = QStringLiteral("'\";|&()<>`$");
    const QString root = platform::simRoot();
    QString out;
    QChar quote;
    bool atWordStart = true;
    for (int i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine[i];
        if (c == '\\' && quote != '\'' && i + 1 < commandLine.size()) {
            out += c;
            out += commandLine[++i];
            atWordStart = false;
            continue;
        }
        if (c == '/' && atWordStart) {
            const QString rest = commandLine.mid(i);
            if (re.match(rest).hasMatch()) {
                int end = i;
                while (end < commandLine.size() && !commandLine[end].isSpace() && !stop.contains(commandLine[end]))
                    ++end;
                const QString p = commandLine.mid(i, end - i);
                if (p != QLatin1String("/dev/null")) {
                    QString r = root;
                    if (quote == '\'') {
                        r.replace(QLatin1Char('\''), QLatin1String("'\\''"));
                    } else if (quote == '"') {
                        for (const char* ch : {"\\", "\"", "$", "`"})
                            r.replace(QLatin1String(ch), QLatin1String("\\") + QLatin1String(ch));
                    } else {
                        r = singleQuoted(r);
                    }
                    out += r;
                }
                out += p;
                i = end - 1;
                atWordStart = false;
                continue;
            }
        }
        out += c;
        if (!quote.isNull()) {
            if (c == quote) quote = QChar();
            atWordStart = false;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            atWordStart = true;
            continue;
        }
        atWordStart = c.isSpace() || c == '=' || stop.contains(c);
    }
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
    if (line.endsWith('&') && !line.endsWith(QLatin1String("&&")))
        line.chop(1);
    const ShellScan scan = scanShell(line);
    bool compound = false;
    const QStringList programs = programsOfLine(scan, &compound);
    const auto changesMachine = [](const QString& prog) {
        return machinePrograms().contains(prog) || prog == QLatin1String("mount") || prog == QLatin1String("umount");
    };
    if (compound) {
        // Whatever else the line does, a machine-changing command in it must
        // not run here, and half a line is not what the caller asked for.
        for (const QString& prog : programs) {
            if (changesMachine(prog)) {
                qWarning().noquote() << "simulated platform: refused, the line runs" << prog << ":" << commandLine;
                result->exitCode = 126;
                return true;
            }
        }
        return false;
    }
    const QString base = programs.isEmpty() ? QString() : programs.first();
    const QString fixture = platform::simRoot() + "/cmd/" + base;
    if (!base.isEmpty() && QFileInfo::exists(fixture + ".out")) {
        QFile f(fixture + ".out");
        if (f.open(QIODevice::ReadOnly))
            result->output = f.readAll();
        result->exitCode = 0;
        QFile rc(fixture + ".rc");
        if (rc.open(QIODevice::ReadOnly))
            result->exitCode = QString::fromUtf8(rc.readAll()).trimmed().toInt();
        return true;
    }
    const QStringList words = scan.commands.isEmpty() ? QStringList() : scan.commands.first();
    // The panel's block devices are the simulated ones; this machine's own
    // disks are none of the station's business.
    if (base == "blkid" && words.size() == 1) {
        result->output = simBlkid();
        result->exitCode = 0;
        return true;
    }
    if (base == "mount") {
        result->exitCode = simMount(words.mid(words.indexOf(QRegularExpression("(.*/)?mount"))));
        return true;
    }
    if (base == "umount") {
        result->exitCode = simUmount(words.mid(words.indexOf(QRegularExpression("(.*/)?umount"))));
        return true;
    }
    if (changesMachine(base)) {
        result->exitCode = 0;
        return true;
    }
    return false; // runs for real, with platform paths moved below the sim root
}

void CommandRunner::setEndOnly(bool on)
{
    gEndOnly = on;
}

bool CommandRunner::refusedAtEnd(const QString& commandLine)
{
    if (!gEndOnly)
        return false;
    static const QStringList endCommands = {QStringLiteral("sync"), QStringLiteral("reboot"), QStringLiteral("init 0")};
    if (endCommands.contains(commandLine.trimmed()))
        return false;
    qWarning().noquote() << "station ended: command refused:" << commandLine;
    return true;
}

int CommandRunner::system(const QString& commandLine)
{
    if (refusedAtEnd(commandLine))
        return 126;
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
    if (refusedAtEnd(commandLine)) {
        r.exitCode = 126;
        return r;
    }
    if (simulate(commandLine, &r))
        return r;
    const QString line = platform::isSimulated() ? remapPaths(commandLine) : commandLine;
    QElapsedTimer clock;
    clock.start();
    const auto left = [&] { return int(qMax<qint64>(0, timeoutMs - clock.elapsed())); };
    QProcess p;
    // What the caller reads is what a terminal would show: errors included.
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("bash", {"-c", line});
    if (!p.waitForStarted(left())) {
        p.kill();
        p.waitForFinished(100);
        r.exitCode = -1;
        return r;
    }
    if (!p.waitForFinished(left())) {
        p.kill();
        p.waitForFinished(100);
        r.exitCode = -1;
        r.output = p.readAllStandardOutput();
        return r;
    }
    r.output = p.readAllStandardOutput();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

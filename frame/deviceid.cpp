#include "frame/deviceid.h"
#include "frame/findau.h"
#include "platform/commandrunner.h"
#include "platform/platformpath.h"

#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace {

QString readText(const QString& absPath, bool* ok)
{
    QFile f(platform::path(absPath));
    *ok = f.open(QIODevice::ReadOnly);
    if (!*ok)
        return QString();
    return QString::fromUtf8(f.readAll());
}

} // namespace

QString found_diskuuid_by_blkid()
{
    qInfo() << "found_diskuuid_by_blkid";
    const CommandRunner::Result r = CommandRunner::bash(QStringLiteral("blkid"), 1000);
    const QString text = QString::fromUtf8(r.output);
    static const QRegularExpression uuidRe(QStringLiteral("^.*\\s+UUID=\"(\\S+)\".*"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QStringList parts = line.split(QStringLiteral("TYPE="));
        if (parts.size() != 2 || !parts[1].contains(QLatin1String("ext4")))
            continue;
        const QRegularExpressionMatch m = uuidRe.match(line);
        if (!m.hasMatch())
            continue;
        const QString dev = diskOfPartition(line.section(QLatin1Char(':'), 0, 0));
        if (dev == QLatin1String("/dev/sda"))
            return m.captured(1);
    }
    return QString();
}

QString found_diskuuid_by_etc_fstab()
{
    bool ok = false;
    const QString assigned = readText(QStringLiteral("/etc/assign_uuid"), &ok).trimmed();
    if (ok && !assigned.isEmpty())
        return assigned;
    const QString fstab = readText(QStringLiteral("/etc/fstab"), &ok);
    if (!ok) {
        qWarning() << "found_diskuuid_by_etc_fstab: cannot read /etc/fstab";
        return QString();
    }
    static const QRegularExpression re(QStringLiteral("^UUID=(\\S+)\\s+.*"));
    for (const QString& line : fstab.split(QLatin1Char('\n'))) {
        if (!line.contains(QLatin1String("ext4")))
            continue;
        const QRegularExpressionMatch m = re.match(line);
        if (m.hasMatch())
            return m.captured(1);
    }
    return QString();
}

QString getlocal_deviceid()
{
    QString id;
    bool ok = false;
    const QString cpuinfo = readText(QStringLiteral("/proc/cpuinfo"), &ok);
    if (ok) {
        static const QRegularExpression re(QStringLiteral("^Serial\\s+:\\s+(\\S+)"));
        for (const QString& line : cpuinfo.split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch m = re.match(line);
            if (m.hasMatch()) {
                id = m.captured(1);
                break;
            }
        }
    }
    if (id.isEmpty())
        id = found_diskuuid_by_blkid();
    id.remove(QLatin1Char(';'));
    const QStringList parts = id.split(QLatin1Char('-'));
    if (!parts.isEmpty())
        id = parts.last();
    // A development machine seldom has either: the simulated platform's
    // start-up line says so, and this is only a note there.
    if (id.isEmpty() && platform::isSimulated())
        qInfo() << "getlocal_deviceid: no CPU serial and no system disk found";
    else if (id.isEmpty())
        qWarning() << "getlocal_deviceid: no CPU serial and no system disk found";
    return id;
}

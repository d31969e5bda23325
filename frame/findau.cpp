#include "frame/findau.h"
#include "platform/commandrunner.h"
#include "platform/platformpath.h"

#include <QDebug>
#include <QFile>
#include <QStringList>

namespace {

const int kCommandWaitMs = 1000;
const char* const kMountPoint = "/mnt";

// Text up to the first NUL byte, as the outside tools may pad with it.
QString textUpToNul(const QByteArray& bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul >= 0 ? bytes.left(nul) : bytes);
}

bool readMounts(QString* text)
{
    QFile f(platform::path(QStringLiteral("/proc/mounts")));
    if (!f.open(QIODevice::ReadOnly)) {
        qWarning() << "FindAU: cannot read /proc/mounts";
        return false;
    }
    *text = textUpToNul(f.readAll());
    return true;
}

QString deviceOf(const QString& line)
{
    const QStringList parts = line.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return parts.isEmpty() ? QString() : parts.first();
}

} // namespace

QString diskOfPartition(QString device)
{
    while (!device.isEmpty() && device.back() >= QLatin1Char('0') && device.back() <= QLatin1Char('9'))
        device.chop(1);
    return device;
}

QString findAUPickDevice(const QString& blkidText)
{
    QString systemDisk;
    QStringList candidates;
    const QStringList lines = blkidText.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        if (line.contains(QLatin1String("TYPE=\"ext4\""))) {
            const QString dev = diskOfPartition(deviceOf(line));
            if (!dev.isEmpty())
                systemDisk = dev;
        } else if (line.contains(QLatin1String("TYPE=\"vfat\"")) || line.contains(QLatin1String("TYPE=\"ntfs\""))
                   || line.contains(QLatin1String("TYPE=\"exfat\""))) {
            const QString dev = deviceOf(line);
            if (!systemDisk.isEmpty() && !dev.isEmpty() && !dev.contains(systemDisk))
                candidates << dev;
        }
    }
    return candidates.isEmpty() ? QString() : candidates.first();
}

bool findAUIsMountedAtMnt(const QString& mountsText, const QString& device)
{
    // Whole fields: "/dev/sdb1 /mnt1 ..." is not a mount at /mnt.
    const QStringList lines = mountsText.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.size() >= 2 && f[0] == device && f[1] == QLatin1String(kMountPoint))
            return true;
    }
    return false;
}

QString FindAU()
{
    qInfo() << "findAU";
    const CommandRunner::Result listing = CommandRunner::bash(QStringLiteral("blkid"), kCommandWaitMs);
    const QString text = textUpToNul(listing.output);
    if (text.isEmpty())
        return QString();
    const QString device = findAUPickDevice(text);
    if (device.isEmpty())
        return QString();
    qInfo() << "FindAU" << "pickdev" << device;

    QString mounts;
    if (!readMounts(&mounts))
        return QString();
    // Already there (mounted by the drive manager, maybe with a writer busy
    // on it): unmounting it would cut off that writer.
    if (findAUIsMountedAtMnt(mounts, device))
        return QString::fromLatin1(kMountPoint);

    int mntLines = 0;
    for (const QString& line : mounts.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.contains(QLatin1String(kMountPoint)))
            ++mntLines;
    for (int i = 0; i < mntLines; ++i)
        CommandRunner::bash(QStringLiteral("umount %1").arg(QLatin1String(kMountPoint)), kCommandWaitMs);
    // The device text comes from blkid's output: one word, whatever it holds.
    CommandRunner::bash(QStringLiteral("mount %1 %2").arg(CommandRunner::quote(device), QLatin1String(kMountPoint)),
                        kCommandWaitMs);

    if (!readMounts(&mounts))
        return QString();
    if (findAUIsMountedAtMnt(mounts, device))
        return QString::fromLatin1(kMountPoint);
    return QString();
}

int FindU_ByManual()
{
    CommandRunner::system(QStringLiteral("umount %1").arg(QLatin1String(kMountPoint)));
    if (CommandRunner::system(QStringLiteral("mount /dev/sdb1 %1").arg(QLatin1String(kMountPoint))) == 0)
        return 1;
    if (CommandRunner::system(QStringLiteral("mount /dev/sdc1 %1").arg(QLatin1String(kMountPoint))) == 0)
        return 1;
    return 0;
}

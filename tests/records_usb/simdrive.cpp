#include "simdrive.h"

#include <QDir>
#include <QFile>

QString SimDrive::udevFile() const
{
    return simRoot + QStringLiteral("/run/udev/data/b8:%1").arg(minor);
}

bool SimDrive::plug(bool withMedium) const
{
    QDir().mkpath(simRoot + QStringLiteral("/run/udev/data"));
    QDir().mkpath(simRoot + QStringLiteral("/dev/disk/by-uuid"));
    QFile f(udevFile());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray text = "S:disk/by-id/usb-Stick_" + uuid.toUtf8() + "-0:0-part1\n";
    text += "S:disk/by-path/pci-0000:00:14.0-usb-0:1:1.0-scsi-0:0:0:0-part1\n";
    text += "S:disk/by-uuid/" + uuid.toUtf8() + "\n";
    if (!label.isEmpty())
        text += "S:disk/by-label/" + label.toUtf8() + "\n";
    text += "E:ID_BUS=usb\nE:ID_FS_TYPE=" + fsType.toUtf8() + "\nE:ID_FS_UUID=" + uuid.toUtf8() + "\n";
    f.write(text);
    f.close();
    const QString link = simRoot + QStringLiteral("/dev/disk/by-uuid/") + uuid;
    QFile::remove(link);
    if (!QFile::link(QStringLiteral("../../") + dev, link))
        return false;
    return !withMedium || QDir().mkpath(medium());
}

void SimDrive::pull(bool keepMedium) const
{
    QFile::remove(udevFile());
    QFile::remove(simRoot + QStringLiteral("/dev/disk/by-uuid/") + uuid);
    if (!keepMedium)
        QDir(medium()).removeRecursively();
}

bool SimDrive::plugWholeDisk(const QString& simRoot, int minor)
{
    QDir().mkpath(simRoot + QStringLiteral("/run/udev/data"));
    QFile f(simRoot + QStringLiteral("/run/udev/data/b8:%1").arg(minor));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write("S:disk/by-path/pci-0000:00:14.0-usb-0:1:1.0-scsi-0:0:0:0\nE:ID_BUS=usb\nE:ID_PART_TABLE_TYPE=dos\n");
    return true;
}

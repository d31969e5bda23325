#pragma once
#include <QString>

// A USB stick on the simulated platform, plugged and pulled the way udev and
// the kernel show it: the udev data file "b8:<minor>", the link
// /dev/disk/by-uuid/<uuid> -> ../../<dev>, and the medium itself, the folder
// <simroot>/drives/<dev> that mount binds.
struct SimDrive
{
    SimDrive() = default;
    SimDrive(const QString& root, int minor, const QString& dev, const QString& uuid)
        : simRoot(root), minor(minor), dev(dev), uuid(uuid)
    {
    }

    QString simRoot;
    int minor = 17;
    QString dev = QStringLiteral("sdb1");
    QString uuid;
    QString label;
    QString fsType = QStringLiteral("vfat");

    QString udevFile() const;
    QString medium() const { return simRoot + QStringLiteral("/drives/") + dev; }
    QString node() const { return QStringLiteral("/dev/") + dev; }

    // Plugs the stick in; withMedium false leaves out the folder, so its
    // mount fails.
    bool plug(bool withMedium = true) const;
    // Pulls it: udev file and link go; the medium goes too unless kept.
    void pull(bool keepMedium = false) const;

    // The whole-disk entry of a partitioned stick: a udev file with no UUID.
    static bool plugWholeDisk(const QString& simRoot, int minor);
};

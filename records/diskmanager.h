#pragma once
#include "records/upaninfo.h"

#include <QDir>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QVector>

#include <atomic>

class QThread;

enum DiskInfoType { ByUuid = 0, ByPath = 1 };

// Resolves a link of /dev/disk/by-uuid (or by-path) named `name` into the
// device node as the panel names it (/dev/sdb1). `device` is left unchanged
// when there is no such link.
void get_device(const QString& name, QString& device, DiskInfoType type);

// The mounts table as (device, mount point) pairs, octal escapes decoded.
// Returns false when it cannot be read.
bool readMountTable(QVector<QPair<QString, QString>>* entries);
// The device whose mount is in force at `path` (the last one there), or empty.
QString deviceMountedAt(const QString& path);
// True when `device` is the mount in force at `path`.
bool isMountedAt(const QString& device, const QString& path);

// Finds removable drives through the udev data files of major 8, mounts each
// new one at the first free mount point, unmounts and forgets pulled ones,
// and publishes the list with diskInfoChange after every change. The poll
// runs on a thread of its own, so it never holds one of Qt's pool threads.
class DiskManager : public QObject
{
    Q_OBJECT
public:
    explicit DiskManager(QObject* parent = nullptr);
    ~DiskManager() override;

    static DiskManager* _instance;
    static DiskManager* getInstance();

    // Starts the poll loop (one pass every 50 ms of the clock in force).
    void start();
    // Ends the poll loop and waits for it.
    void stop();
    // One pass of the poll; true when the list changed (and was published).
    bool pollOnce();

    // The mount paths of the mounted drives, in list order.
    QStringList getMountPath() const;
    // The mount point for the next drive: one no listed drive holds and the
    // mounts table shows free; empty when there is none.
    QString get_efficientMountPath() const;
    UPanInfo get_mountDisk(const QString& uuid) const;
    void updateUPanInfo(const UPanInfo& info);
    void removeUPanInfo(int index);
    void removeUPanInfo(const QString& uuid);
    QVector<UPanInfo> drivesCopy() const;
    QStringList ignored() const { return ignoredEntries; }
    // The disk the system runs from (e.g. /dev/sda); empty when unknown.
    QStringList systemDisks() const { return m_systemDisks; }

    // Unmounts every mount whose device or mount point is `text`.
    void clear_mount(const QString& text);
    // Mounts device at path and checks the mounts table.
    bool mountCommand(const QString& device, const QString& path);

    static QStringList mountPoints();

    QDir udevDir;
    QStringList ignoredEntries;
    QVector<UPanInfo> drives;
    mutable QMutex drivesMutex;

signals:
    void diskInfoChange(QVector<UPanInfo> drives);

private:
    QStringList listUdevFiles() const;
    bool isSystemDevice(const QString& device) const;

    QThread* pollTask = nullptr;
    std::atomic<bool> stopRequested{false};
    QStringList m_systemDisks;
};

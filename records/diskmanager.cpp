#include "records/diskmanager.h"

#include "frame/clock.h"
#include "frame/findau.h"
#include "platform/commandrunner.h"
#include "platform/platformpath.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QThread>

#include <climits>
#include <unistd.h>

DiskManager* DiskManager::_instance = nullptr;

namespace {

const int kMountWaitMs = 2000;
const int kUmountWaitMs = 200;
const int kMountSettleMs = 300;
const int kPollMs = 50;

struct UdevRecord {
    QString uuid, byPath, label, bus, fsType;
};

QString afterLast(const QString& line, QChar c)
{
    return line.mid(line.lastIndexOf(c) + 1);
}

// Reads one udev data file; false when it cannot be opened.
bool readUdevFile(const QString& path, UdevRecord* rec)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = f.readAll();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("S:disk/by-uuid/")))
            rec->uuid = afterLast(line, '/');
        else if (line.startsWith(QLatin1String("S:disk/by-path/")))
            rec->byPath = afterLast(line, '/');
        else if (line.startsWith(QLatin1String("E:ID_BUS")))
            rec->bus = afterLast(line, '=');
        else if (line.startsWith(QLatin1String("E:ID_FS_TYPE")))
            rec->fsType = afterLast(line, '=');
        else if (line.startsWith(QLatin1String("S:disk/by-label")))
            rec->label = afterLast(line, '/');
    }
    return true;
}

// Undoes the octal escapes the kernel writes for blanks and the like.
QString decodeMountField(const QString& field)
{
    if (!field.contains(QLatin1Char('\\')))
        return field;
    QByteArray out;
    const QByteArray in = field.toUtf8();
    for (int i = 0; i < in.size(); ++i) {
        if (in[i] == '\\' && i + 3 < in.size()) {
            bool ok = false;
            const int v = in.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(v));
                i += 3;
                continue;
            }
        }
        out.append(in[i]);
    }
    return QString::fromUtf8(out);
}

// A device node we are willing to put on a command line.
bool isPlainDeviceName(const QString& device)
{
    static const QRegularExpression re(QStringLiteral("^/dev/[A-Za-z0-9_.:+-]+(/[A-Za-z0-9_.:+-]+)*$"));
    return re.match(device).hasMatch() && !device.contains(QLatin1String(".."));
}

} // namespace

void get_device(const QString& name, QString& device, DiskInfoType type)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String("..")
        || name == QLatin1String("."))
        return;
    const QString folder = type == ByUuid ? QStringLiteral("/dev/disk/by-uuid/") : QStringLiteral("/dev/disk/by-path/");
    const QString linkPath = platform::path(folder + name);
    const QFileInfo fi(linkPath);
    if (!fi.exists() && !fi.isSymLink())
        return;
    if (!fi.isSymLink()) {
        qDebug() << "The provided path is not a symbolic link.";
        return;
    }
    char buf[PATH_MAX];
    const QByteArray local = QFile::encodeName(linkPath);
    const ssize_t n = ::readlink(local.constData(), buf, sizeof buf - 1);
    if (n <= 0)
        return;
    QString target = QFile::decodeName(QByteArray(buf, int(n)));
    // udev writes relative links ("../../sdb1"); name the node as the panel does.
    if (!target.startsWith(QLatin1Char('/')))
        target = QDir::cleanPath(folder + target);
    const QString root = platform::simRoot();
    if (!root.isEmpty() && target.startsWith(root + QLatin1Char('/')))
        target = target.mid(root.size());
    device = target;
}

bool readMountTable(QVector<QPair<QString, QString>>* entries)
{
    QFile f(platform::path(QStringLiteral("/proc/mounts")));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    entries->clear();
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() >= 2)
            entries->append({decodeMountField(fields[0]), decodeMountField(fields[1])});
    }
    return true;
}

namespace {

// The device whose mount is in force at path: a later mount on the same
// point hides the earlier ones.
QString deviceInForceAt(const QVector<QPair<QString, QString>>& table, const QString& path)
{
    QString device;
    for (const auto& e : table)
        if (e.second == path)
            device = e.first;
    return device;
}

} // namespace

QString deviceMountedAt(const QString& path)
{
    QVector<QPair<QString, QString>> table;
    return readMountTable(&table) ? deviceInForceAt(table, path) : QString();
}

bool isMountedAt(const QString& device, const QString& path)
{
    return !device.isEmpty() && !path.isEmpty() && deviceMountedAt(path) == device;
}

QStringList DiskManager::mountPoints()
{
    return {QStringLiteral("/mnt"), QStringLiteral("/mnt0"), QStringLiteral("/mnt1"), QStringLiteral("/mnt2"),
            QStringLiteral("/mnt3")};
}

DiskManager* DiskManager::getInstance()
{
    static QMutex creation;
    QMutexLocker lock(&creation);
    if (!_instance) {
        _instance = new DiskManager;
        if (QCoreApplication::instance())
            _instance->moveToThread(QCoreApplication::instance()->thread());
    }
    return _instance;
}

DiskManager::DiskManager(QObject* parent)
    : QObject(parent)
{
    // The list travels queued from the poll thread.
    qRegisterMetaType<UPanInfo>();
    qRegisterMetaType<QVector<UPanInfo>>();
    udevDir = QDir(platform::path(QStringLiteral("/run/udev/data/")));

    // The system disk: the disk of the ext4 partition (the last one listed
    // decides), and the disk mounted at "/". Knowing either, sticks that are
    // already in at start-up are used; knowing neither, every entry present
    // now is treated as the system's own.
    QString ext4Disk;
    QMap<QString, QString> uuidOfFile;
    for (const QString& file : listUdevFiles()) {
        UdevRecord rec;
        readUdevFile(udevDir.filePath(file), &rec);
        if (rec.fsType == QLatin1String("ext4")) {
            QString dev;
            get_device(rec.uuid, dev, ByUuid);
            if (!dev.isEmpty())
                ext4Disk = diskOfPartition(dev);
        }
        uuidOfFile.insert(file, rec.uuid);
    }
    if (!ext4Disk.isEmpty())
        m_systemDisks << ext4Disk;
    QVector<QPair<QString, QString>> table;
    if (readMountTable(&table)) {
        for (const auto& e : table)
            if (e.second == QLatin1String("/") && e.first.startsWith(QLatin1String("/dev/"))) {
                const QString disk = diskOfPartition(e.first);
                if (!disk.isEmpty() && !m_systemDisks.contains(disk))
                    m_systemDisks << disk;
            }
    }
    for (auto it = uuidOfFile.cbegin(); it != uuidOfFile.cend(); ++it) {
        QString dev;
        get_device(it.value(), dev, ByUuid);
        if (m_systemDisks.isEmpty() || isSystemDevice(dev))
            ignoredEntries << it.key();
    }
    for (const QString& p : mountPoints())
        clear_mount(p);
}

DiskManager::~DiskManager()
{
    stop();
    if (_instance == this)
        _instance = nullptr;
}

bool DiskManager::isSystemDevice(const QString& device) const
{
    if (device.isEmpty())
        return false;
    for (const QString& disk : m_systemDisks)
        if (device.contains(disk))
            return true;
    return false;
}

QStringList DiskManager::listUdevFiles() const
{
    QDir dir(udevDir);
    dir.refresh();
    return dir.entryList({QStringLiteral("b8:*")}, QDir::Files | QDir::System | QDir::Hidden, QDir::Time);
}

void DiskManager::start()
{
    if (pollTask)
        return;
    stopRequested = false;
    pollTask = QThread::create([this] {
        do {
            Clock::instance()->sleepMs(kPollMs);
            pollOnce();
        } while (!stopRequested);
    });
    pollTask->setObjectName(QStringLiteral("DiskManager"));
    pollTask->start();
}

void DiskManager::stop()
{
    stopRequested = true;
    if (pollTask) {
        pollTask->wait();
        delete pollTask;
        pollTask = nullptr;
    }
}

bool DiskManager::pollOnce()
{
    QMap<QString, UdevRecord> found;
    for (const QString& file : listUdevFiles()) {
        if (ignoredEntries.contains(file))
            continue;
        UdevRecord rec;
        if (!readUdevFile(udevDir.filePath(file), &rec))
            continue;
        if (rec.uuid.isEmpty()) {
            ignoredEntries << file;
            continue;
        }
        found.insert(rec.uuid, rec);
    }

    bool changed = false;
    // Known drives, last to first so removals keep the positions still to
    // visit. This task is the list's only writer, so a copy stays true.
    const QVector<UPanInfo> known = drivesCopy();
    // Read only for known drives: with none, a pass reads the drive list
    // and nothing else.
    QVector<QPair<QString, QString>> table;
    const bool haveTable = !known.isEmpty() && readMountTable(&table);
    for (int i = known.size() - 1; i >= 0; --i) {
        UPanInfo d = known.at(i);
        QString dev;
        if (found.contains(d.uuid)) {
            found.remove(d.uuid);
            get_device(d.uuid, dev, ByUuid);
            if (dev == d.device) {
                // Unmounted or covered by someone else (the statistics export
                // takes "/mnt" for its own stick): mount it again below, so
                // its images neither stop nor land on the other stick.
                if (haveTable && !d.mountPath.isEmpty() && deviceInForceAt(table, d.mountPath) != d.device) {
                    d.mountPath.clear();
                    updateUPanInfo(d);
                }
                continue;
            }
            if (!dev.isEmpty()) {
                d.device = dev;
                d.mountPath.clear();
                updateUPanInfo(d);
                continue;
            }
        }
        clear_mount(d.device);
        removeUPanInfo(i);
        changed = true;
    }

    // New drives, in ascending UUID order (QMap order).
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        if (!get_mountDisk(it.key()).uuid.isEmpty())
            continue;
        QString dev;
        get_device(it.key(), dev, ByUuid);
        if (dev.isEmpty())
            continue;
        UPanInfo info;
        info.uuid = it.key();
        info.label = it->label;
        info.device = dev;
        info.bus = it->bus;
        updateUPanInfo(info);
    }

    // Mounting, last to first: of two new drives the greater UUID gets the
    // first free mount point.
    const QVector<UPanInfo> listed = drivesCopy();
    for (int i = listed.size() - 1; i >= 0; --i) {
        UPanInfo d = listed.at(i);
        if (!d.mountPath.isEmpty())
            continue;
        const QString p = get_efficientMountPath();
        if (p.isEmpty()) {
            // All five mount points taken: mounting over one would hide the
            // drive there while the list still names it.
            continue;
        }
        if (!isPlainDeviceName(d.device)) {
            qWarning() << "DiskManager: refusing to mount device" << d.device;
            removeUPanInfo(d.uuid);
            continue;
        }
        QDir().mkpath(platform::path(p));
        clear_mount(d.device);
        if (mountCommand(d.device, p)) {
            d.mountPath = p;
            updateUPanInfo(d);
            changed = true;
        } else {
            removeUPanInfo(d.uuid); // found again as new and retried next pass
        }
    }

    if (changed)
        emit diskInfoChange(drivesCopy());
    return changed;
}

QVector<UPanInfo> DiskManager::drivesCopy() const
{
    QMutexLocker lock(&drivesMutex);
    return drives;
}

QStringList DiskManager::getMountPath() const
{
    QMutexLocker lock(&drivesMutex);
    QStringList out;
    for (const UPanInfo& d : drives)
        if (!d.mountPath.isEmpty())
            out << d.mountPath;
    return out;
}

QString DiskManager::get_efficientMountPath() const
{
    const QStringList held = getMountPath();
    QVector<QPair<QString, QString>> table;
    readMountTable(&table);
    for (const QString& p : mountPoints())
        if (!held.contains(p) && deviceInForceAt(table, p).isEmpty()) // not taken by someone else either
            return p;
    return QString();
}

UPanInfo DiskManager::get_mountDisk(const QString& uuid) const
{
    QMutexLocker lock(&drivesMutex);
    for (int i = drives.size() - 1; i >= 0; --i)
        if (drives.at(i).uuid == uuid)
            return drives.at(i);
    return UPanInfo();
}

void DiskManager::updateUPanInfo(const UPanInfo& info)
{
    QMutexLocker lock(&drivesMutex);
    bool matched = false;
    for (UPanInfo& d : drives) {
        if (d.uuid == info.uuid) {
            d.device = info.device;
            d.bus = info.bus;
            d.mountPath = info.mountPath;
            matched = true;
        }
    }
    if (!matched)
        drives.append(info);
}

void DiskManager::removeUPanInfo(int index)
{
    QMutexLocker lock(&drivesMutex);
    if (index >= 0 && index < drives.size())
        drives.remove(index);
}

void DiskManager::removeUPanInfo(const QString& uuid)
{
    QMutexLocker lock(&drivesMutex);
    for (int i = drives.size() - 1; i >= 0; --i)
        if (drives.at(i).uuid == uuid)
            drives.remove(i);
}

void DiskManager::clear_mount(const QString& text)
{
    qInfo() << "clear_mount";
    QVector<QPair<QString, QString>> table;
    if (text.isEmpty() || !readMountTable(&table))
        return;
    // Whole fields only: "/mnt" must not match the line of "/mnt0".
    int lines = 0;
    for (const auto& e : table)
        if (e.first == text || e.second == text)
            ++lines;
    if (lines > 0 && !isPlainDeviceName(text) && !mountPoints().contains(text)) {
        qWarning() << "clear_mount: refusing to unmount" << text;
        return;
    }
    for (int i = 0; i < lines; ++i) {
        const QString cmd = QStringLiteral("umount ") + text;
        const CommandRunner::Result r = CommandRunner::bash(cmd, kUmountWaitMs);
        qDebug() << "clear_mount:" << cmd << i << (r.exitCode != -1 ? "true" : "false");
    }
    qInfo() << "end" << "clear_mount";
}

bool DiskManager::mountCommand(const QString& device, const QString& path)
{
    const QString cmd = QStringLiteral("mount %1 %2").arg(device, path);
    const CommandRunner::Result r = CommandRunner::bash(cmd, kMountWaitMs);
    const bool finished = r.exitCode != -1;
    qInfo() << cmd << device << (finished ? "true" : "false");
    if (!finished)
        return false;
    Clock::instance()->sleepMs(kMountSettleMs);
    const bool ok = isMountedAt(device, path);
    qInfo() << "/proc/mounts" << (ok ? "true" : "false");
    return ok;
}

#include "records/copy2movedisk.h"

#include "frame/clock.h"
#include "frame/safefile.h"
#include "records/diskmanager.h"
#include "platform/platformpath.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace atdir;

namespace {

const int kPassMs = 50;
const int kQueueLimit = 10; // more than this many waiting: drop
const qint64 kWarnEveryMs = 10000;

// At most one warning per kind every ten seconds, so a pulled or full drive
// does not flood the log at 20 passes a second.
bool warnNow(std::atomic<qint64>& last)
{
    const qint64 now = clockMs();
    qint64 prev = last.load();
    if (prev != LLONG_MIN && now - prev < kWarnEveryMs && now >= prev)
        return false;
    return last.compare_exchange_strong(prev, now);
}
std::atomic<qint64> gWarnMount{LLONG_MIN};
std::atomic<qint64> gWarnWrite{LLONG_MIN};
std::atomic<qint64> gWarnFolder{LLONG_MIN};

bool isNoSpace(int err)
{
    return err == ENOSPC || err == EFBIG || err == EDQUOT;
}

// Removes the oldest day folder of the drive's folder rootFd (name order)
// when more than keep are there, or with force whenever there is one to
// remove; never one named in protect. True when one went.
bool pruneDaysAt(int rootFd, int keep, const QStringList& protect, bool force)
{
    QList<QByteArray> days;
    for (const QByteArray& n : namesIn(rootFd)) {
        bool link = false;
        if (isDirAt(rootFd, n, &link) || link)
            days << n;
    }
    std::sort(days.begin(), days.end());
    if (!force && days.size() <= std::max(1, keep))
        return false;
    for (const QByteArray& n : days) {
        if (protect.contains(QFile::decodeName(n)))
            continue;
        // In process, never through a shell: the names come from the drive.
        const bool ok = removeTreeAt(rootFd, n, 0);
        if (!ok)
            qWarning() << "Copy2MoveDisk: could not remove day folder" << QFile::decodeName(n);
        return ok;
    }
    return false;
}

// Removes the hidden temporary files ".<name>.jpg.tmp" a killed write left
// anywhere below dirFd; links are neither followed nor kept.
int removeLeftoversAt(int dirFd, int depth)
{
    int removed = 0;
    for (const QByteArray& n : namesIn(dirFd)) {
        bool link = false;
        if (isDirAt(dirFd, n, &link)) {
            if (depth < kMaxDepth) {
                const Fd sub(openSubdir(dirFd, n));
                if (sub.ok())
                    removed += removeLeftoversAt(sub.get(), depth + 1);
            }
        } else if (n.startsWith('.') && n.endsWith(".jpg.tmp") && ::unlinkat(dirFd, n.constData(), 0) == 0) {
            ++removed;
        }
    }
    return removed;
}

} // namespace

Copy2MoveDisk* Copy2MoveDisk::getInstance()
{
    static Copy2MoveDisk* instance = [] {
        auto* c = new Copy2MoveDisk;
        // Whichever thread asks first, the object belongs to the GUI thread,
        // where its slot and signal are connected.
        if (QCoreApplication::instance())
            c->moveToThread(QCoreApplication::instance()->thread());
        return c;
    }();
    return instance;
}

Copy2MoveDisk::Copy2MoveDisk() = default;

Copy2MoveDisk::~Copy2MoveDisk()
{
    stop();
}

void Copy2MoveDisk::start(bool runTask)
{
    if (_future)
        return;
    stopped = false;
    m_sweptDrive.clear();
    if (!runTask)
        return;
    _future = QThread::create([this] {
        while (!stopped) {
            Clock::instance()->sleepMs(kPassMs);
            writeOnce();
        }
        qDebug() << "_future" << "exit";
    });
    _future->setObjectName(QStringLiteral("Copy2MoveDisk"));
    _future->start();
}

void Copy2MoveDisk::stop()
{
    stopped = true;
    if (_future) {
        _future->wait();
        delete _future;
        _future = nullptr;
    }
}

void Copy2MoveDisk::finish()
{
    // Not started: nothing was queued.
    if (stopped)
        return;
    stop();
    for (int i = 0; i <= kQueueLimit && queuedCount() > 0; ++i)
        writeOnce();
}

Copy2MoveDisk::Drive Copy2MoveDisk::drive() const
{
    QMutexLocker lock(&driveMutex);
    return m_drive;
}

QString Copy2MoveDisk::prepath() const
{
    return drive().prepath;
}

QString Copy2MoveDisk::deviceId() const
{
    return drive().uuid;
}

int Copy2MoveDisk::queuedCount() const
{
    QMutexLocker lock(&queueMutex);
    return actqueue.size();
}

QStringList Copy2MoveDisk::queuedPaths() const
{
    QMutexLocker lock(&queueMutex);
    return actqueue.keys();
}

void Copy2MoveDisk::diskInfoChange(QVector<UPanInfo> infos)
{
    bool wasInUse, inUse;
    Drive now;
    {
        QMutexLocker lock(&driveMutex);
        wasInUse = !m_drive.uuid.isEmpty();
        // Only mounted drives can take images.
        QVector<UPanInfo> mounted;
        for (const UPanInfo& i : infos)
            if (!i.mountPath.isEmpty() && !i.uuid.isEmpty())
                mounted << i;
        auto same = std::find_if(mounted.cbegin(), mounted.cend(),
                                 [&](const UPanInfo& i) { return i.uuid == m_drive.uuid; });
        if (mounted.isEmpty()) {
            m_drive = Drive();
        } else if (wasInUse && same != mounted.cend()) {
            // The same drive, perhaps remounted elsewhere: follow it.
            m_drive.prepath = same->mountPath;
            m_drive.device = same->device;
        } else {
            m_drive = Drive{mounted.first().mountPath, mounted.first().uuid, mounted.first().device};
        }
        inUse = !m_drive.uuid.isEmpty();
        now = m_drive;
    }
    if (inUse != wasInUse && !stopped)
        emit diskStateChange(inUse);
    qDebug() << "prepath" << now.prepath << "device_id" << now.uuid;
}

void Copy2MoveDisk::add_map_actqueue(const QString& srcDir, const QString& baseName, const QImage& image)
{
    enqueue(srcDir, baseName, Item{image, QByteArray()});
}

void Copy2MoveDisk::add_map_actqueue(const QString& srcDir, const QString& baseName, const QByteArray& jpeg)
{
    enqueue(srcDir, baseName, Item{QImage(), jpeg});
}

void Copy2MoveDisk::enqueue(const QString& srcDir, const QString& baseName, Item item)
{
    if (stopped)
        return;
    const Drive drv = drive();
    if (drv.prepath.isEmpty())
        return;
    const int at = srcDir.indexOf(QLatin1String("alarmimage"));
    const QString sub = at < 0 ? QString() : QDir::cleanPath(srcDir.mid(at + 11));
    if (at < 0 || sub.startsWith(QLatin1String("..")) || sub.startsWith(QLatin1Char('/'))
        || baseName.isEmpty() || baseName.contains(QLatin1Char('/'))) {
        qWarning() << "Copy2MoveDisk: not a result-image folder" << srcDir << baseName;
        return;
    }
    const QString date = clockNow().toString(QStringLiteral("yyyyMMdd"));
    QString key = QStringLiteral("monitor_%1/%2/").arg(drv.uuid, date);
    if (!sub.isEmpty() && sub != QLatin1String("."))
        key += sub + QLatin1Char('/');
    key += baseName + QStringLiteral(".jpg");
    QMutexLocker lock(&queueMutex);
    if (actqueue.size() > kQueueLimit)
        return;
    actqueue.insert(key, std::move(item));
}

bool Copy2MoveDisk::writeOnce()
{
    const Drive drv = drive();
    if (drv.prepath.isEmpty()) {
        m_sweptDrive.clear(); // a drive plugged in again is looked over again
        QMutexLocker lock(&queueMutex);
        actqueue.clear();
        return false;
    }
    if (m_sweptDrive != drv.uuid + QLatin1Char('@') + drv.prepath && isMountedAt(drv.device, drv.prepath)) {
        // Writes killed on this drive earlier left their temporary files:
        // removed as soon as the writer has the drive, image or not.
        const Fd mount(::open(QFile::encodeName(platform::path(drv.prepath)).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        int err = 0;
        const QStringList own{QStringLiteral("monitor_") + drv.uuid};
        const Fd folder = mount.ok() ? openChain(mount.get(), own, false, nullptr, &err) : Fd();
        const int removed = folder.ok() ? removeLeftoversAt(folder.get(), 0) : 0;
        if (removed)
            qInfo() << "Copy2MoveDisk: removed" << removed << "unfinished image file(s) from" << drv.prepath;
        m_sweptDrive = drv.uuid + QLatin1Char('@') + drv.prepath;
    }
    QString key;
    Item item;
    {
        QMutexLocker lock(&queueMutex);
        if (actqueue.isEmpty())
            return false;
        auto first = actqueue.begin();
        key = first.key();
        item = first.value();
        actqueue.erase(first);
    }
    // Queued for a drive that is no longer the one in use.
    if (!key.startsWith(QStringLiteral("monitor_%1/").arg(drv.uuid)))
        return false;
    return writeToDrive(drv, key, item);
}

bool Copy2MoveDisk::writeToDrive(const Drive& drv, const QString& key, const Item& item)
{
    // Only onto the drive itself: after a pull or a remount by someone else
    // the mount point is a folder of the system disk.
    if (!isMountedAt(drv.device, drv.prepath)) {
        if (warnNow(gWarnMount))
            qWarning() << "Copy2MoveDisk:" << drv.device << "is not mounted at" << drv.prepath << "- image not copied";
        return false;
    }
    const QString mountDir = platform::path(drv.prepath);
    // The mount point is the one place trusted as it stands; below it every
    // folder is opened by itself without following links, so no name or link
    // on the drive can lead a write, a new folder or a prune off the drive.
    const Fd mount(::open(QFile::encodeName(mountDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!mount.ok())
        return false;
    const QStringList parts = key.split(QLatin1Char('/'));
    const QStringList folders = parts.mid(0, parts.size() - 1);
    const QString today = clockNow().toString(QStringLiteral("yyyyMMdd"));
    const QStringList protect{today, parts.value(1)};
    bool made = false;
    int err = 0;
    const Fd dir = openChain(mount.get(), folders, true, &made, &err);
    if (!dir.ok()) {
        if (warnNow(gWarnFolder))
            qWarning().noquote() << "Copy2MoveDisk: cannot make" << mountDir + QLatin1Char('/') + folders.join('/')
                                 << ":" << strerror(err)
                                 << (err == ELOOP || err == ENOTDIR
                                         ? "(a link or a file stands in its way; nothing is written through it)"
                                         : "");
        return false;
    }
    auto pruneRoot = [&](int keep, bool force) {
        int e = 0;
        const Fd root = openChain(mount.get(), {folders.first()}, false, nullptr, &e);
        return root.ok() && pruneDaysAt(root.get(), keep, protect, force);
    };
    if (made) {
        pruneRoot(std::max(1, int(days)), false);
        // A prune on a slow stick takes a while; it may be gone by now.
        if (!isMountedAt(drv.device, drv.prepath))
            return false;
    }
    const QByteArray bytes = item.jpeg.isEmpty() ? encodeJpeg(item.image) : item.jpeg;
    if (bytes.isEmpty())
        return false;
    const QString path = mountDir + QLatin1Char('/') + key;
    auto write = [&] {
        err = 0;
        return m_writer ? m_writer(path, bytes, &err)
                        : writeAt(dir.get(), QFile::encodeName(parts.last()), bytes, true, &err);
    };
    bool ok = write();
    // A full drive gives up its oldest day (never today's) for the new image.
    if (!ok && isNoSpace(err) && pruneRoot(1, true))
        ok = write();
    if (!ok && warnNow(gWarnWrite))
        qWarning() << "Copy2MoveDisk: cannot write" << path << ":" << strerror(err);
    return ok;
}

int Copy2MoveDisk::removeUnfinished(const QString& root)
{
    const Fd dir(::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.ok() ? removeLeftoversAt(dir.get(), 0) : 0;
}

bool Copy2MoveDisk::writeFileAtomic(const QString& path, const QByteArray& bytes, bool replace, int* errnoOut)
{
    const QFileInfo fi(path);
    const Fd dir(::open(QFile::encodeName(fi.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.ok()) {
        if (errnoOut)
            *errnoOut = errno;
        return false;
    }
    return writeAt(dir.get(), QFile::encodeName(fi.fileName()), bytes, replace, errnoOut);
}

QByteArray Copy2MoveDisk::encodeJpeg(const QImage& image)
{
    if (image.isNull())
        return QByteArray();
    // What QImage::save writes for a ".jpg" name: the encoder's default
    // quality. A higher one fills the disk and the drive several times sooner
    // for no visible gain in a result picture.
    QByteArray out;
    QBuffer buffer(&out);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "JPG"))
        return QByteArray();
    return out;
}

void Copy2MoveDisk::applyCommittedSettings(int newDays, int useBefore, int useAfter)
{
    days = newDays;
    if (!useBefore && useAfter)
        start();
    else if (useBefore && !useAfter)
        stop();
}

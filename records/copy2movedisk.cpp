#include "records/copy2movedisk.h"

#include "frame/clock.h"
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

// A descriptor closed when it goes out of scope.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(Fd&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
    Fd& operator=(Fd&& o) noexcept
    {
        std::swap(m_fd, o.m_fd);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }

private:
    int m_fd;
};

const int kMaxDepth = 32; // far deeper than monitor_<uuid>/<day>/cameraN/detectN/KIND

// The folder `name` inside dirFd, never through a link: a link, a file or a
// device standing under that name is refused (ELOOP or ENOTDIR).
int openSubdir(int dirFd, const QByteArray& name)
{
    return ::openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool plainName(const QByteArray& n)
{
    return !n.isEmpty() && n != "." && n != ".." && !n.contains('/');
}

// Walks the folders `parts` below dirFd one component at a time, making the
// missing ones when create is set; *made tells whether one was made. Every
// step is relative to the folder just opened, so nothing on the drive can
// lead the walk anywhere else.
Fd openChain(int dirFd, const QStringList& parts, bool create, bool* made, int* err)
{
    Fd cur(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (!cur.ok()) {
        *err = errno;
        return Fd();
    }
    for (const QString& p : parts) {
        const QByteArray name = QFile::encodeName(p);
        if (!plainName(name)) {
            *err = EINVAL;
            return Fd();
        }
        int next = openSubdir(cur.get(), name);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(cur.get(), name.constData(), 0755) == 0) {
                if (made)
                    *made = true;
            } else if (errno != EEXIST) {
                *err = errno;
                return Fd();
            }
            next = openSubdir(cur.get(), name);
        }
        if (next < 0) {
            *err = errno;
            return Fd();
        }
        cur = Fd(next);
    }
    return cur;
}

// The names in a folder, "." and ".." left out.
QList<QByteArray> namesIn(int dirFd)
{
    QList<QByteArray> out;
    const int fd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return out;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return out;
    }
    ::rewinddir(d);
    while (const dirent* e = ::readdir(d)) {
        const QByteArray n(e->d_name);
        if (n != "." && n != "..")
            out << n;
    }
    ::closedir(d);
    return out;
}

bool isDirAt(int dirFd, const QByteArray& name, bool* isLink = nullptr)
{
    struct stat st {};
    if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (isLink)
        *isLink = S_ISLNK(st.st_mode);
    return S_ISDIR(st.st_mode);
}

// Removes the entry `name` of dirFd and, for a real folder, all it holds.
// A link is removed as a link: what it points to is never touched.
bool removeTreeAt(int dirFd, const QByteArray& name, int depth)
{
    if (!isDirAt(dirFd, name))
        return ::unlinkat(dirFd, name.constData(), 0) == 0 || errno == ENOENT;
    if (depth > kMaxDepth)
        return false;
    const Fd sub(openSubdir(dirFd, name));
    if (!sub.ok())
        return false;
    bool ok = true;
    for (const QByteArray& n : namesIn(sub.get()))
        ok = removeTreeAt(sub.get(), n, depth + 1) && ok;
    return ::unlinkat(dirFd, name.constData(), AT_REMOVEDIR) == 0 && ok;
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

// Writes bytes to `name` in dirFd under the temporary name ".<name>.tmp" and
// renames it into place; replace false refuses an existing name (EEXIST).
bool writeAt(int dirFd, const QByteArray& name, const QByteArray& bytes, bool replace, int* errOut)
{
    const QByteArray tmp = "." + name + ".tmp";
    // A leftover of a killed write, or whatever else stands there, goes first;
    // O_EXCL with O_NOFOLLOW then never writes through a link.
    ::unlinkat(dirFd, tmp.constData(), 0);
    int err = 0;
    const int fd = ::openat(dirFd, tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        err = errno;
    } else {
        const char* p = bytes.constData();
        qint64 left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, size_t(left));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                err = errno;
                break;
            }
            p += n;
            left -= n;
        }
        // The data reaches the medium before the name does: after a power
        // cut or a pulled stick a final name never stands for a short file.
        if (!err && ::fdatasync(fd) != 0)
            err = errno;
        if (::close(fd) != 0 && !err)
            err = errno;
    }
    if (!err) {
        // The rename replaces a link of that name, never its target.
        if (replace) {
            if (::renameat(dirFd, tmp.constData(), dirFd, name.constData()) != 0)
                err = errno;
        } else if (::renameat2(dirFd, tmp.constData(), dirFd, name.constData(), RENAME_NOREPLACE) != 0) {
            err = errno;
            if (err == EINVAL) { // a file system without the flag
                struct stat st {};
                if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                    err = EEXIST;
                else
                    err = ::renameat(dirFd, tmp.constData(), dirFd, name.constData()) == 0 ? 0 : errno;
            }
        }
    }
    if (err) {
        ::unlinkat(dirFd, tmp.constData(), 0);
        if (errOut)
            *errOut = err;
        return false;
    }
    return true;
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

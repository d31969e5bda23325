#include "records/copy2movedisk.h"

#include "frame/clock.h"
#include "records/diskmanager.h"
#include "platform/platformpath.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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
        QMutexLocker lock(&queueMutex);
        actqueue.clear();
        return false;
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
    const QString path = mountDir + QLatin1Char('/') + key;
    const QString dir = QFileInfo(path).absolutePath();
    const QString dayRoot = mountDir + QStringLiteral("/monitor_") + drv.uuid;
    const QString today = clockNow().toString(QStringLiteral("yyyyMMdd"));
    const QString keyDay = key.section(QLatin1Char('/'), 1, 1);
    const QStringList protect{today, keyDay};
    if (!QFileInfo(dir).isDir()) {
        if (!QDir().mkpath(dir)) {
            if (warnNow(gWarnFolder))
                qWarning() << "Copy2MoveDisk: cannot make" << dir;
            return false;
        }
        pruneDays(dayRoot, std::max(1, int(days)), protect, false);
        // A prune on a slow stick takes a while; it may be gone by now.
        if (!isMountedAt(drv.device, drv.prepath))
            return false;
    }
    const QByteArray bytes = item.jpeg.isEmpty() ? encodeJpeg(item.image) : item.jpeg;
    if (bytes.isEmpty())
        return false;
    int err = 0;
    auto write = [&] {
        err = 0;
        return m_writer ? m_writer(path, bytes, &err) : writeFileAtomic(path, bytes, true, &err);
    };
    bool ok = write();
    // A full drive gives up its oldest day (never today's) for the new image.
    if (!ok && isNoSpace(err) && pruneDays(dayRoot, 1, protect, true))
        ok = write();
    if (!ok && warnNow(gWarnWrite))
        qWarning() << "Copy2MoveDisk: cannot write" << path << ":" << strerror(err);
    return ok;
}

bool Copy2MoveDisk::pruneDays(const QString& root, int keep, const QStringList& protect, bool force)
{
    QDir dir(root);
    QFileInfoList entries =
        dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::NoSort);
    std::sort(entries.begin(), entries.end(),
              [](const QFileInfo& a, const QFileInfo& b) { return a.fileName() < b.fileName(); });
    if (!force && entries.size() <= std::max(1, keep))
        return false;
    for (const QFileInfo& e : entries) {
        if (protect.contains(e.fileName()))
            continue;
        // In process, never through a shell: the names come from the drive.
        const bool ok = e.isSymLink() ? QFile::remove(e.filePath()) : QDir(e.filePath()).removeRecursively();
        if (!ok)
            qWarning() << "Copy2MoveDisk: could not remove day folder" << e.filePath();
        return ok;
    }
    return false;
}

bool Copy2MoveDisk::writeFileAtomic(const QString& path, const QByteArray& bytes, bool replace, int* errnoOut)
{
    const QFileInfo fi(path);
    const QString tmp = fi.absolutePath() + QStringLiteral("/.") + fi.fileName() + QStringLiteral(".tmp");
    const QByteArray tmpName = QFile::encodeName(tmp);
    int err = 0;
    const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
        if (replace) {
            if (::rename(tmpName.constData(), QFile::encodeName(path).constData()) != 0)
                err = errno;
        } else if (!QFile::rename(tmp, path)) { // refuses an existing name
            err = EEXIST;
        }
    }
    if (err) {
        ::unlink(tmpName.constData());
        if (errnoOut)
            *errnoOut = err;
        return false;
    }
    return true;
}

QByteArray Copy2MoveDisk::encodeJpeg(const QImage& image)
{
    if (image.isNull())
        return QByteArray();
    const QImage src = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
        ? image
        : image.convertToFormat(QImage::Format_RGB32);
    // RGB32 lies in memory as B, G, R, A on the little-endian panel.
    const cv::Mat bgra(src.height(), src.width(), CV_8UC4, const_cast<uchar*>(src.constBits()),
                       size_t(src.bytesPerLine()));
    cv::Mat bgr;
    cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
    std::vector<uchar> buf;
    if (!cv::imencode(".jpg", bgr, buf))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(buf.data()), int(buf.size()));
}

void Copy2MoveDisk::applyCommittedSettings(int newDays, int useBefore, int useAfter)
{
    days = newDays;
    if (!useBefore && useAfter)
        start();
    else if (useBefore && !useAfter)
        stop();
}

#include "frame/safefile.h"

#include <QDebug>
#include <QFileInfo>
#include <QImageReader>

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool imageSizeAllowed(const QSize& size)
{
    return frameSizeAllowed(size.width(), size.height());
}

bool openRegularFile(QFile& file, const QString& path, QString* why)
{
    // Opened without blocking first, so a FIFO cannot hold the caller; the
    // type is then checked on what was opened, not on the name.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (why)
            *why = errno == ENOENT ? QStringLiteral("missing") : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (why)
            *why = QStringLiteral("not a regular file");
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (why)
            *why = file.errorString();
        return false;
    }
    return true;
}

QImage readImageFile(const QString& path, QString* why)
{
    QFile file;
    if (!openRegularFile(file, path, why))
        return QImage();
    QImageReader reader(&file);
    const QSize size = reader.size(); // from the header, before any pixel
    if (size.isValid() && !imageSizeAllowed(size)) {
        if (why)
            *why = QStringLiteral("%1x%2 pixels, beyond the bound of %3 a side and %4 million")
                       .arg(size.width())
                       .arg(size.height())
                       .arg(kMaxImageSide)
                       .arg(kMaxImagePixels / (1024 * 1024));
        return QImage();
    }
    const QImage img = reader.read();
    if (img.isNull()) {
        if (why)
            *why = QStringLiteral("unreadable: ") + reader.errorString();
    }
    return img;
}

bool sameFile(const QString& a, const QString& b)
{
    struct stat sa, sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool readRegularFile(const QString& path, QByteArray* out, QString* why, qint64 maxBytes)
{
    QFile file;
    if (!openRegularFile(file, path, why))
        return false;
    if (file.size() > maxBytes) {
        if (why)
            *why = QStringLiteral("%1 bytes, more than the %2 such a file can hold").arg(file.size()).arg(maxBytes);
        return false;
    }
    *out = file.read(maxBytes + 1);
    if (out->size() > maxBytes) { // grew while read
        if (why)
            *why = QStringLiteral("more than %1 bytes").arg(maxBytes);
        return false;
    }
    return true;
}

bool replaceRegularFile(const QString& path, const QByteArray& bytes, QString* why)
{
    const QFileInfo fi(path);
    const atdir::Fd dir = atdir::openDir(fi.absolutePath());
    if (!dir.ok()) {
        if (why)
            *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const QByteArray name = QFile::encodeName(fi.fileName());
    struct stat st {};
    if (::fstatat(dir.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
        if (why)
            *why = S_ISLNK(st.st_mode) ? QStringLiteral("a link stands there; neither it nor what it points to is written")
                                       : QStringLiteral("not a regular file; left as it is");
        return false;
    }
    int err = 0;
    if (!atdir::writeAt(dir.get(), name, bytes, true, &err)) {
        if (why)
            *why = QString::fromLocal8Bit(std::strerror(err));
        return false;
    }
    return true;
}

namespace atdir {

Fd::~Fd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Fd openDir(const QString& path)
{
    return Fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

namespace {
bool plainName(const QByteArray& n)
{
    return !n.isEmpty() && n != "." && n != ".." && !n.contains('/');
}
} // namespace

// The folder `name` inside dirFd, never through a link: a link, a file or a
// device standing under that name is refused (ELOOP or ENOTDIR).
int openSubdir(int dirFd, const QByteArray& name)
{
    return ::openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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

bool isDirAt(int dirFd, const QByteArray& name, bool* isLink)
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


bool copyTreeAt(int fromFd, int toFd, QString* failed, int depth)
{
    if (depth > kMaxDepth)
        return false;
    for (const QByteArray& n : namesIn(fromFd)) {
        struct stat st {};
        if (::fstatat(fromFd, n.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            const Fd from(openSubdir(fromFd, n));
            int err = 0;
            if (from.ok() && ::mkdirat(toFd, n.constData(), 0755) != 0)
                err = errno;
            const Fd to(err ? -1 : openSubdir(toFd, n));
            if (!from.ok() || !to.ok() || !copyTreeAt(from.get(), to.get(), failed, depth + 1)) {
                if (failed && failed->isEmpty())
                    *failed = QFile::decodeName(n) + QStringLiteral(": ")
                              + QString::fromLocal8Bit(std::strerror(err ? err : errno));
                return false;
            }
        } else if (S_ISREG(st.st_mode)) {
            QFile in;
            const int fd = ::openat(fromFd, n.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            int err = 0;
            if (fd < 0 || !in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
                if (fd >= 0)
                    ::close(fd);
                err = EIO;
            } else {
                writeAt(toFd, n, in.readAll(), false, &err);
            }
            if (err) {
                if (failed)
                    *failed = QFile::decodeName(n) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
                return false;
            }
        }
    }
    return true;
}

bool sameTreeAt(int fromFd, int toFd, int depth)
{
    if (depth > kMaxDepth)
        return false;
    const auto readAt = [](int dirFd, const QByteArray& n, QByteArray* out) {
        const int fd = ::openat(dirFd, n.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        QFile f;
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)
            || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        *out = f.readAll();
        return true;
    };
    for (const QByteArray& n : namesIn(fromFd)) {
        struct stat st {};
        if (::fstatat(fromFd, n.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        if (S_ISDIR(st.st_mode)) {
            const Fd a(openSubdir(fromFd, n)), b(openSubdir(toFd, n));
            if (!a.ok() || !b.ok() || !sameTreeAt(a.get(), b.get(), depth + 1))
                return false;
        } else if (S_ISREG(st.st_mode)) {
            QByteArray x, y;
            if (!readAt(fromFd, n, &x) || !readAt(toFd, n, &y) || x != y)
                return false;
        }
    }
    return true;
}

} // namespace atdir

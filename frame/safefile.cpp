#include "frame/safefile.h"

#include <QImageReader>

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

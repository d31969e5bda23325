#include "settings/softwarepackage.h"

#include "frame/globals.h"
#include "frame/safefile.h"
#include "platform/platformpath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <glog/logging.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

QString SoftwarePackage::driveFolder()
{
    return platform::path(QStringLiteral("/mnt"));
}

QString SoftwarePackage::suffixOf(const QString& archiveName)
{
    const QString suffix = QFileInfo(archiveName).suffix();
    for (const QString& p : package)
        if (suffix.compare(p, Qt::CaseInsensitive) == 0)
            return p;
    return QString();
}

QString SoftwarePackage::packagePath(const QString& suffix)
{
    return platform::path(QStringLiteral("/root/bin-AOI/newupdate%1").arg(suffix));
}

namespace {
QString systemError()
{
    return QString::fromLocal8Bit(strerror(errno));
}

// The file system the drive is mounted with; stat follows /mnt itself, which
// is the drive's root (a link to the drive's folder on the simulated
// platform).
bool driveDevice(dev_t* dev)
{
    struct stat st {};
    if (::stat(QFile::encodeName(SoftwarePackage::driveFolder()).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    *dev = st.st_dev;
    return true;
}

// Size and SHA-256 of what a file holds now.
bool digest(const QString& path, qint64* size, QByteArray* sha)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QCryptographicHash h(QCryptographicHash::Sha256);
    if (!h.addData(&f))
        return false;
    *size = f.size();
    *sha = h.result();
    return f.error() == QFile::NoError;
}
} // namespace

QStringList SoftwarePackage::archivesOnDrive()
{
    QStringList out;
    dev_t drive = 0;
    if (!driveDevice(&drive))
        return out;
    const QString folder = driveFolder();
    // System: FIFOs and devices are listed by QDir only with it; lstat below
    // keeps them out along with the links.
    const QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        struct stat st {};
        if (!suffixOf(name).isEmpty()
            && ::lstat(QFile::encodeName(folder + QLatin1Char('/') + name).constData(), &st) == 0
            && S_ISREG(st.st_mode) && st.st_dev == drive)
            out << name;
    }
    return out;
}

SoftwarePackage::Outcome SoftwarePackage::install(const QString& archive)
{
    Outcome out;
    const auto fail = [&](Outcome::Kind kind, const QString& why) {
        LOG(ERROR) << "software update from " << archive.toStdString() << " not installed: " << why.toStdString();
        out.kind = kind;
        out.why = why;
        return out;
    };
    const QString suffix = suffixOf(archive);
    if (suffix.isEmpty())
        return fail(Outcome::Failed, QStringLiteral("not an archive"));
    dev_t drive = 0;
    if (!driveDevice(&drive))
        return fail(Outcome::Failed, QStringLiteral("no drive at ") + driveFolder());
    const QByteArray name = QFile::encodeName(archive);
    // A device is not even opened (opening some has effects of its own); the
    // checks on the descriptor below hold if the entry changes meanwhile.
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return fail(Outcome::Failed, QStringLiteral("cannot read it: ") + systemError());
    if (!S_ISREG(st.st_mode))
        return fail(Outcome::NotAFileOfTheDrive, QStringLiteral("not a regular file (mode %1)").arg(st.st_mode, 0, 8));
    // O_NONBLOCK: a FIFO put there since opens at once instead of holding the
    // wait box, and with it the whole panel, until something writes to it.
    const atdir::Fd in(::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!in.ok()) {
        const bool link = errno == ELOOP;
        return fail(link ? Outcome::NotAFileOfTheDrive : Outcome::Failed,
                    QStringLiteral("cannot read it: ") + systemError());
    }
    if (::fstat(in.get(), &st) != 0)
        return fail(Outcome::Failed, QStringLiteral("cannot read it: ") + systemError());
    if (!S_ISREG(st.st_mode))
        return fail(Outcome::NotAFileOfTheDrive, QStringLiteral("not a regular file (mode %1)").arg(st.st_mode, 0, 8));
    // A hard link on a drive that holds other file systems, or a folder
    // mounted into it, leads off the drive.
    if (st.st_dev != drive)
        return fail(Outcome::NotAFileOfTheDrive, QStringLiteral("not on the drive's file system"));
    const qint64 size = st.st_size;
    out.size = size;

    const QString target = packagePath(suffix);
    const QString dir = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(dir))
        return fail(Outcome::Failed, QStringLiteral("cannot make ") + dir);
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(dir).constData(), &vfs) != 0)
        return fail(Outcome::Failed, QStringLiteral("cannot measure the free space in ") + dir + QStringLiteral(": ")
                                         + systemError());
    out.free = qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
    if (size > out.free - kFreeMargin)
        return fail(Outcome::NoRoom, QStringLiteral("%1 bytes, %2 bytes free in %3 of which %4 stay free")
                                         .arg(size)
                                         .arg(out.free)
                                         .arg(dir)
                                         .arg(kFreeMargin));

    // Written beside the package and renamed over it only when whole: a pulled
    // drive or a full disk leaves the temporary file, which goes with it.
    QTemporaryFile part(dir + QStringLiteral("/.newupdate-XXXXXX"));
    if (!part.open())
        return fail(Outcome::Failed,
                    QStringLiteral("cannot write in ") + dir + QStringLiteral(": ") + part.errorString());
    QCryptographicHash read(QCryptographicHash::Sha256);
    QByteArray buf(1 << 20, Qt::Uninitialized);
    qint64 copied = 0;
    for (;;) {
        // One byte past the size asked for shows a file that grows on the
        // drive without reading what it grows by.
        const ssize_t n = ::read(in.get(), buf.data(), size_t(std::min<qint64>(buf.size(), size - copied + 1)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(Outcome::Failed,
                        QStringLiteral("reading stopped after %1 bytes: ").arg(copied) + systemError());
        if (n == 0)
            break;
        if (copied + n > size)
            return fail(Outcome::Failed, QStringLiteral("the archive grew past its %1 bytes while copied").arg(size));
        read.addData(buf.constData(), int(n));
        if (part.write(buf.constData(), n) != n)
            return fail(Outcome::Failed,
                        QStringLiteral("writing stopped after %1 bytes: ").arg(copied) + part.errorString());
        copied += n;
    }
    if (copied != size)
        return fail(Outcome::Failed, QStringLiteral("read %1 of %2 bytes").arg(copied).arg(size));
    if (!part.flush() || ::fsync(part.handle()) != 0)
        return fail(Outcome::Failed, QStringLiteral("the copy did not reach the disk: ") + part.errorString());
    qint64 backSize = -1;
    QByteArray backSha;
    if (!digest(part.fileName(), &backSize, &backSha) || backSize != size || backSha != read.result())
        return fail(Outcome::Failed, QStringLiteral("the copy differs from the archive"));
    // rename(2) replaces an older package in one step.
    const QString partName = part.fileName();
    part.close();
    if (::rename(QFile::encodeName(partName).constData(), QFile::encodeName(target).constData()) != 0)
        return fail(Outcome::Failed, QStringLiteral("cannot rename the copy to ") + target + QStringLiteral(": ")
                                         + systemError());
    part.setAutoRemove(false);
    LOG(INFO) << "software update: " << archive.toStdString() << " (" << size << " bytes, sha256 "
              << read.result().toHex().constData() << ") copied to " << target.toStdString();
    out.kind = Outcome::Installed;
    return out;
}

#include "settings/softwarepackage.h"

#include "frame/globals.h"
#include "platform/platformpath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <glog/logging.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

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

bool SoftwarePackage::install(const QString& archive, QString* error)
{
    const auto fail = [&](const QString& why) {
        LOG(ERROR) << "software update from " << archive.toStdString() << " not installed: " << why.toStdString();
        if (error)
            *error = why;
        return false;
    };
    const QString suffix = suffixOf(archive);
    if (suffix.isEmpty())
        return fail(QStringLiteral("not an archive"));
    const QString target = packagePath(suffix);
    QFile in(archive);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read it: ") + in.errorString());
    const qint64 size = in.size();
    const QString dir = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(dir))
        return fail(QStringLiteral("cannot make ") + dir);
    // Written beside the package and renamed over it only when whole: a pulled
    // drive or a full disk leaves the temporary file, which goes with it.
    QTemporaryFile part(dir + QStringLiteral("/.newupdate-XXXXXX"));
    if (!part.open())
        return fail(QStringLiteral("cannot write in ") + dir + QStringLiteral(": ") + part.errorString());
    QCryptographicHash read(QCryptographicHash::Sha256);
    QByteArray buf(1 << 20, Qt::Uninitialized);
    qint64 copied = 0;
    for (;;) {
        const qint64 n = in.read(buf.data(), buf.size());
        if (n < 0)
            return fail(QStringLiteral("reading stopped after %1 bytes: ").arg(copied) + in.errorString());
        if (n == 0)
            break;
        read.addData(buf.constData(), int(n));
        if (part.write(buf.constData(), n) != n)
            return fail(QStringLiteral("writing stopped after %1 bytes: ").arg(copied) + part.errorString());
        copied += n;
    }
    if (copied != size)
        return fail(QStringLiteral("read %1 of %2 bytes").arg(copied).arg(size));
    if (!part.flush() || ::fsync(part.handle()) != 0)
        return fail(QStringLiteral("the copy did not reach the disk: ") + part.errorString());
    qint64 backSize = -1;
    QByteArray backSha;
    if (!digest(part.fileName(), &backSize, &backSha) || backSize != size || backSha != read.result())
        return fail(QStringLiteral("the copy differs from the archive"));
    // rename(2) replaces an older package in one step.
    const QString partName = part.fileName();
    part.close();
    if (::rename(QFile::encodeName(partName).constData(), QFile::encodeName(target).constData()) != 0)
        return fail(QStringLiteral("cannot rename the copy to ") + target + QStringLiteral(": ")
                    + QString::fromLocal8Bit(strerror(errno)));
    part.setAutoRemove(false);
    LOG(INFO) << "software update: " << archive.toStdString() << " (" << size << " bytes, sha256 "
              << read.result().toHex().constData() << ") copied to " << target.toStdString();
    return true;
}

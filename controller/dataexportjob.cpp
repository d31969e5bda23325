#include "controller/dataexportjob.h"
#include "controller/exportcatalogue.h"
#include "frame/clock.h"
#include "frame/findau.h"
#include "frame/operatorprompt.h"
#include "platform/commandrunner.h"
#include "platform/platformpath.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <glog/logging.h>

namespace {

// Every file below dir (relative to the working directory), symbolic links
// neither followed nor copied.
void filesBelow(const QString& dir, QStringList* out, const QString& onlyInFolder = QString())
{
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    QStringList found;
    while (it.hasNext()) {
        const QString f = QDir::cleanPath(it.next());
        if (onlyInFolder.isEmpty() || QFileInfo(f).dir().dirName() == onlyInFolder)
            found << f;
    }
    found.sort();
    *out << found;
}

} // namespace

DataExportJob::DataExportJob(const QStringList& patterns, const QString& mountPoint)
    : m_patterns(patterns)
    , m_mount(mountPoint)
{
    m_dest = platform::path(mountPoint) + QStringLiteral("/export_")
             + clockNow().toString(QStringLiteral("yyyyMMdd_hhmmss"));
}

QStringList DataExportJob::sourceFiles() const
{
    QStringList files;
    for (const QString& pattern : m_patterns) {
        const QPair<QString, QString> pk = ExportCatalogue::splitPattern(pattern);
        QString path = pk.first;
        const QString kind = pk.second;
        if (path == QLatin1String("./*")) {
            filesBelow(QStringLiteral("."), &files);
        } else if (kind == QLatin1String("template")) {
            // "./cammer" names the template folders ./cammer<camera><detection>.
            const QFileInfo base(path);
            const QRegularExpression re(QStringLiteral("^%1\\d+$").arg(QRegularExpression::escape(base.fileName())));
            const QStringList dirs = base.dir().entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
            for (const QString& d : dirs)
                if (re.match(d).hasMatch())
                    filesBelow(base.dir().filePath(d), &files);
        } else if (!kind.isEmpty()) {
            filesBelow(path, &files, kind);
        } else if (QFileInfo(path).isDir()) {
            filesBelow(path, &files);
        } else if (QFileInfo(path).isFile()) {
            files << QDir::cleanPath(path);
        }
    }
    // A file reached by two categories is copied once.
    QStringList unique;
    QSet<QString> seen;
    for (const QString& f : files)
        if (!seen.contains(f)) {
            seen.insert(f);
            unique << f;
        }
    return unique;
}

bool DataExportJob::driveThere() const
{
    QFile f(platform::path(QStringLiteral("/proc/mounts")));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    bool mounted = false;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 2 && QString::fromUtf8(fields[1]) == m_mount)
            mounted = true;
    }
    return mounted && QFileInfo(platform::path(m_mount)).isDir();
}

bool DataExportJob::copyOne(const QString& rel)
{
    const QString target = m_dest + QLatin1Char('/') + rel;
    // Folders are made only below a mount point that is there.
    if (!QDir().mkpath(QFileInfo(target).path()))
        return false;
    QFile in(rel);
    QFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
            return false;
        if (out.write(chunk) != chunk.size())
            return false;
    }
    if (!out.flush())
        return false;
    out.close();
    return out.error() == QFileDevice::NoError;
}

DataExportJob::Result DataExportJob::run(const std::function<void(int, int)>& progress)
{
    const QStringList files = sourceFiles();
    m_copied = 0;
    if (files.isEmpty()) {
        LOG(INFO) << "export: nothing to export in the chosen categories, nothing written to the drive";
        return Nothing;
    }
    for (const QString& rel : files) {
        if (!driveThere()) {
            LOG(ERROR) << "export: the drive at " << m_mount.toStdString() << " is gone after " << m_copied << " of "
                       << files.size() << " files";
            return DriveGone;
        }
        if (!copyOne(rel)) {
            LOG(ERROR) << "export: " << rel.toStdString() << " not written to the drive, the export stops";
            return driveThere() ? WriteFailed : DriveGone;
        }
        ++m_copied;
        if (progress)
            progress(m_copied, files.size());
    }
    CommandRunner::system(QStringLiteral("sync"));
    LOG(INFO) << "export: " << m_copied << " files to " << m_dest.toStdString();
    return Done;
}

QString DataExportJob::findDrive()
{
    for (;;) {
        const QString mount = FindAU();
        if (!mount.isEmpty())
            return mount;
        if (!askOperator(320))
            return QString();
    }
}

int DataExportJob::messageFor(Result r)
{
    switch (r) {
    case Done:
        return 147;
    case DriveGone:
        return 762;
    case Nothing:
        return 890;
    case WriteFailed:
        break;
    }
    return 763;
}

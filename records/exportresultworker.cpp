#include "records/exportresultworker.h"
#include "frame/clock.h"
#include "frame/safefile.h"
#include "platform/commandrunner.h"
#include "platform/platformpath.h"
#include "records/diskmanager.h"
#include "records/resstatisticsdatabase.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

using namespace atdir;

namespace {

const char* const kMountPoint = "/mnt";
const char* const kDateFormat = "yyyy-MM-dd";

// Runs program; every complete output line goes to onLine, a last line
// without a line feed only to the log. Waits in short steps so the bound
// is read on the station clock.
int runProcess(const QString& program, const QStringList& args, qint64 timeoutMs,
               const std::function<void(const QByteArray&)>& onLine)
{
    QProcess p;
    QObject::connect(&p, &QProcess::readyReadStandardOutput, [&p, &onLine] {
        while (p.canReadLine()) {
            const QByteArray line = p.readLine();
            qDebug().noquote() << QString::fromLocal8Bit(line).trimmed();
            if (onLine)
                onLine(line);
        }
    });
    QObject::connect(&p, &QProcess::readyReadStandardError,
                     [&p] { qDebug().noquote() << QString::fromLocal8Bit(p.readAllStandardError()).trimmed(); });
    p.start(program, args, QIODevice::ReadWrite);
    if (!p.waitForStarted(10000)) {
        qWarning() << "cannot start" << program << p.errorString();
        return -1;
    }
    const qint64 begin = clockMs();
    bool stopped = false;
    while (!p.waitForFinished(50)) {
        if (p.state() == QProcess::NotRunning)
            break;
        if (timeoutMs >= 0 && clockMs() - begin > timeoutMs) {
            qWarning() << program << "still running after" << timeoutMs << "ms: stopped";
            p.kill();
            p.waitForFinished(5000);
            stopped = true;
            break;
        }
    }
    const QByteArray rest = p.readAllStandardOutput();
    if (!rest.isEmpty())
        qDebug().noquote() << QString::fromLocal8Bit(rest).trimmed();
    if (stopped)
        return -1;
    if (p.exitStatus() == QProcess::CrashExit) {
        qInfo() << "Process crashed!";
        return -1;
    }
    qInfo() << "Process finished with exit code:" << p.exitCode();
    return p.exitCode();
}

} // namespace

ExportResultWorker::ExportResultWorker(QObject* parent)
    : QObject(parent)
{
}

QString ExportResultWorker::converterProgram()
{
    return QStringLiteral("./ruv_net/export_result_statistics/export_result_statistics");
}

QStringList ExportResultWorker::selectFiles(const QDate& start, const QDate& end, const QDate& today)
{
    QStringList files;
    if (!start.isValid() || !end.isValid())
        return files;
    const QString dir = ResStatisticsDatabase::archiveDir();
    const QStringList names = QDir(dir).entryList({QStringLiteral("*.db")}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                                  QDir::Name);
    for (const QString& name : names) {
        const QDate day = QDate::fromString(name.section(QLatin1Char('.'), 0, 0), QLatin1String(kDateFormat));
        if (day.isValid() && start <= day && day <= end && QFileInfo(dir + QLatin1Char('/') + name).isFile())
            files << QStringLiteral("./%1/%2").arg(dir, name);
    }
    if (start <= today && today <= end)
        files << QStringLiteral("./") + ResStatisticsDatabase::liveFile();
    return files;
}

int ExportResultWorker::exportToHistogram(const QString& program, const QStringList& args, qint64 timeoutMs)
{
    qInfo() << "start export to histogram";
    unreadFiles.clear();
    return runProcess(program, args, timeoutMs, [this](const QByteArray& line) {
        if (line.startsWith("Unreadable "))
            unreadFiles << QString::fromLocal8Bit(line.mid(11)).trimmed();
        if (line.startsWith("Done")) {
            ++done;
            emit exportProgress(total, done);
        }
    });
}

bool ExportResultWorker::moveToDrive(const QString& device, const QString& stamp, QString* reason)
{
    const QString mnt = platform::path(QLatin1String(kMountPoint));
    if (deviceMountedAt(QLatin1String(kMountPoint)) != device) {
        *reason = QStringLiteral("the drive %1 is no longer mounted at /mnt").arg(device);
        return false;
    }
    // The mount point is trusted as it stands; the stamp folder is made new
    // inside it and everything below is reached from that folder's own
    // descriptor, so no link or name on the drive can lead the copy off it.
    const Fd drive = openDir(mnt);
    const QByteArray stampName = QFile::encodeName(stamp);
    if (!drive.ok() || ::mkdirat(drive.get(), stampName.constData(), 0755) != 0) {
        *reason = QStringLiteral("cannot create %1 on the drive: %2")
                      .arg(stamp, errno == EEXIST ? QStringLiteral("a file, folder or link of that name is there")
                                                  : QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const Fd dest(openSubdir(drive.get(), stampName));
    // A drive that is still there but took the copy only in part (full,
    // failing) gets back the folder this export made. A pulled one keeps
    // what reached it: the descriptors stay on its file system.
    auto takeBack = [&] {
        if (deviceMountedAt(QLatin1String(kMountPoint)) == device)
            removeTreeAt(drive.get(), stampName);
        return false;
    };
    if (!dest.ok()) {
        *reason = QStringLiteral("cannot open %1 on the drive").arg(stamp);
        return takeBack();
    }
    const QString src = ResStatisticsDatabase::archiveDir();
    const Fd srcDir = openDir(src);
    const QStringList folders = QDir(src).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    if (folders.isEmpty() && total > 0) {
        *reason = QStringLiteral("the converter left no day folder");
        return takeBack();
    }
    auto driveGone = [&] {
        if (deviceMountedAt(QLatin1String(kMountPoint)) == device)
            return false;
        *reason = QStringLiteral("the drive %1 went away during the copy").arg(device);
        return true;
    };
    for (const QString& folder : folders) {
        if (driveGone())
            return false;
        const QByteArray name = QFile::encodeName(folder);
        const Fd from(srcDir.ok() ? openSubdir(srcDir.get(), name) : -1);
        QString failed;
        if (!from.ok() || ::mkdirat(dest.get(), name.constData(), 0755) != 0) {
            *reason = QStringLiteral("cannot create %1 on the drive").arg(folder);
            return takeBack();
        }
        const Fd to(openSubdir(dest.get(), name));
        if (!to.ok() || !copyTreeAt(from.get(), to.get(), &failed)) {
            *reason = QStringLiteral("cannot write %1/%2 on the drive").arg(folder, failed);
            return takeBack();
        }
        if (m_copyObserver)
            m_copyObserver(folder);
    }
    CommandRunner::system(QStringLiteral("sync"));
    qInfo() << "sync finish";
    if (driveGone())
        return false;
    for (const QString& folder : folders) {
        const QByteArray name = QFile::encodeName(folder);
        const Fd from(openSubdir(srcDir.get(), name)), to(openSubdir(dest.get(), name));
        if (!from.ok() || !to.ok() || !sameTreeAt(from.get(), to.get())) {
            *reason = QStringLiteral("%1 did not arrive whole on the drive").arg(folder);
            return takeBack();
        }
    }
    for (const QString& folder : folders)
        QDir(src + QLatin1Char('/') + folder).removeRecursively();
    return true;
}

void ExportResultWorker::removeConverted()
{
    const QString src = ResStatisticsDatabase::archiveDir();
    for (const QString& folder : QDir(src).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks))
        QDir(src + QLatin1Char('/') + folder).removeRecursively();
}

void ExportResultWorker::work(QPair<QString, QString> dates)
{
    qInfo() << "start export Statistics result work";
    const QDateTime now = clockNow();
    const QString stamp = now.toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss"));
    const QDate start = QDate::fromString(dates.first, QLatin1String(kDateFormat));
    const QDate end = QDate::fromString(dates.second, QLatin1String(kDateFormat));
    const QStringList files = selectFiles(start, end, now.date());
    total = files.size();
    done = 0;
    emit exportProgress(total, done);

    // Folders a killed export left would be taken for this export's days.
    removeConverted();
    if (files.isEmpty()) {
        qInfo() << "statistics export: no day with statistics from" << dates.first << "to" << dates.second
                << "; nothing written";
        emit nothingToExport();
        emit finish();
        return;
    }
    QString reason;
    bool ok = false;
    QStringList unread;
    const QString device = deviceMountedAt(QLatin1String(kMountPoint));
    if (device.isEmpty()) {
        reason = QStringLiteral("no drive is mounted at /mnt");
    } else {
        const int rc = exportToHistogram(converterProgram(), {files.join(QLatin1Char(','))}, converterBoundMs(total));
        for (const QString& path : unreadFiles)
            unread << (QFileInfo(path).fileName() == ResStatisticsDatabase::liveFile()
                           ? now.date().toString(QLatin1String(kDateFormat))
                           : QFileInfo(path).completeBaseName());
        // Exit code 1 with the days named: the others were converted.
        if (rc != 0 && !(rc == 1 && !unread.isEmpty()))
            reason = QStringLiteral("the converter failed (%1)").arg(rc);
        else if (unread.size() == total)
            ok = true; // nothing readable: nothing to take to the drive
        else
            ok = moveToDrive(device, stamp, &reason);
    }
    removeConverted();
    if (!ok) {
        qWarning() << "statistics export failed:" << reason;
        emit failed(reason);
    } else if (!unread.isEmpty()) {
        qWarning() << "statistics export: days not readable, not exported:" << unread;
        emit unreadable(unread);
    }
    emit finish();
}

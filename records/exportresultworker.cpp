#include "records/exportresultworker.h"
#include "frame/clock.h"
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

bool copyTree(const QString& from, const QString& to, QString* reason)
{
    if (!QDir().mkpath(to)) {
        *reason = QStringLiteral("cannot create %1").arg(to);
        return false;
    }
    const QFileInfoList entries =
        QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& e : entries) {
        const QString target = to + QLatin1Char('/') + e.fileName();
        if (e.isDir()) {
            if (!copyTree(e.filePath(), target, reason))
                return false;
            continue;
        }
        QFile::remove(target);
        QFile in(e.filePath());
        QFile out(target);
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
            *reason = QStringLiteral("cannot copy %1").arg(e.filePath());
            return false;
        }
        const QByteArray bytes = in.readAll();
        if (out.write(bytes) != bytes.size() || !out.flush()) {
            *reason = QStringLiteral("cannot write %1 (%2)").arg(target, out.errorString());
            return false;
        }
    }
    return true;
}

// True when every file below from is at to with the same bytes.
bool sameTree(const QString& from, const QString& to)
{
    const QFileInfoList entries =
        QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& e : entries) {
        const QString target = to + QLatin1Char('/') + e.fileName();
        if (e.isDir()) {
            if (!sameTree(e.filePath(), target))
                return false;
            continue;
        }
        QFile a(e.filePath()), b(target);
        if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.readAll() != b.readAll())
            return false;
    }
    return true;
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
    const QString dest = mnt + QLatin1Char('/') + stamp;
    const bool made = !QFileInfo(dest).isDir();
    if (made && !QDir(mnt).mkdir(stamp)) {
        *reason = QStringLiteral("cannot create %1 on the drive").arg(stamp);
        return false;
    }
    // A drive that is still there but took the copy only in part (full,
    // failing) gets back the folder this export made.
    auto takeBack = [&] {
        if (made && deviceMountedAt(QLatin1String(kMountPoint)) == device)
            QDir(dest).removeRecursively();
        return false;
    };
    const QString src = ResStatisticsDatabase::archiveDir();
    const QStringList folders = QDir(src).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    if (folders.isEmpty() && total > 0) {
        *reason = QStringLiteral("the converter left no day folder");
        return takeBack();
    }
    // A drive pulled while we copy leaves its mount point a plain folder of
    // the system disk: check before each folder, and after the sync take
    // back whatever landed there.
    auto driveGone = [&] {
        if (deviceMountedAt(QLatin1String(kMountPoint)) == device)
            return false;
        *reason = QStringLiteral("the drive %1 went away during the copy").arg(device);
        if (QFileInfo(dest).exists() && !QFileInfo(mnt).isSymLink() && deviceMountedAt(QLatin1String(kMountPoint)).isEmpty())
            QDir(dest).removeRecursively();
        return true;
    };
    for (const QString& folder : folders) {
        if (driveGone())
            return false;
        if (!copyTree(src + QLatin1Char('/') + folder, dest + QLatin1Char('/') + folder, reason))
            return takeBack();
        if (m_copyObserver)
            m_copyObserver(folder);
    }
    CommandRunner::system(QStringLiteral("sync"));
    qInfo() << "sync finish";
    if (driveGone())
        return false;
    for (const QString& folder : folders) {
        if (!sameTree(src + QLatin1Char('/') + folder, dest + QLatin1Char('/') + folder)) {
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

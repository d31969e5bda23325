#include "frame/logmanager.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <glog/logging.h>
#include <string>

LogManager* LogManager::__instance = nullptr;

namespace {

const char* const kLogDir = "./ruv_net/workspace/log/";
const char* const kConsoleDir = "./ruv_net/workspace/log_stdout/";

// glog keeps the pointer given to InitGoogleLogging: the text must live as
// long as the process.
QByteArray& programName()
{
    static QByteArray name;
    return name;
}

bool isNonNegativeInt(const QString& s)
{
    bool ok = false;
    const int v = s.toInt(&ok, 10);
    return ok && v >= 0 && !s.startsWith('+') && !s.startsWith('-');
}

} // namespace

QString LogManager::logDir()
{
    return QString::fromLatin1(kLogDir);
}

QString LogManager::consoleDir()
{
    return QString::fromLatin1(kConsoleDir);
}

LogManager::LogManager(QObject* parent)
    : QObject(parent)
{
    __instance = this;

    // glog does not create its folder: without it every entry is lost.
    QDir().mkpath(logDir());
    QDir().mkpath(consoleDir());

    clearup_cachelogfile();
    pruneConsoleCaptures();

    if (!google::IsGoogleLoggingInitialized()) {
        QString app = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
        if (app.isEmpty())
            app = QStringLiteral("station");
        programName() = app.toLatin1();
        google::InitGoogleLogging(programName().constData());
    }
    FLAGS_log_dir = kLogDir;
    FLAGS_logbufsecs = 0;
    FLAGS_max_log_size = 200;
    FLAGS_stop_logging_if_full_disk = true;
    FLAGS_logtostderr = false;
    google::SetLogFilenameExtension(".log");
    google::SetLogDestination(google::GLOG_INFO, (logDir() + "LOG_").toLatin1().constData());
    google::SetLogDestination(google::GLOG_WARNING, (logDir() + "WARNING_").toLatin1().constData());
    google::SetLogDestination(google::GLOG_ERROR, (logDir() + "ERROR_").toLatin1().constData());
    google::SetLogDestination(google::GLOG_FATAL, (logDir() + "FATAL_").toLatin1().constData());

    google::InstallFailureSignalHandler();
    google::InstallFailureWriter(&SignalHandle);
    qInstallMessageHandler(&LogManager::outputMessage);
}

LogManager::~LogManager()
{
    if (__instance == this)
        __instance = nullptr;
}

void LogManager::outputMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QByteArray source("unknow");
    if (context.file && *context.file) {
        source = QByteArray(context.file);
        const int slash = source.lastIndexOf('/');
        if (slash >= 0)
            source = source.mid(slash + 1);
    }
    switch (type) {
    case QtDebugMsg:
        return;
    case QtInfoMsg:
        google::LogMessage(source.constData(), context.line, google::GLOG_INFO).stream()
            << message.toUtf8().constData();
        return;
    case QtWarningMsg:
        google::LogMessage(source.constData(), context.line, google::GLOG_INFO).stream()
            << "---warning--- " << message.toUtf8().constData();
        return;
    case QtCriticalMsg:
        LOG(ERROR) << "\t" << message.toUtf8().constData();
        return;
    case QtFatalMsg:
        LOG(FATAL) << "\t" << message.toUtf8().constData();
        return;
    }
}

void SignalHandle(const char* data, std::size_t size)
{
    if (!data || size == 0)
        return;
    std::string text(data, size);
    // glog ends every entry with its own line break.
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    LOG(ERROR) << text;
    google::FlushLogFiles(google::GLOG_ERROR);
}

void LogManager::pruneConsoleCaptures()
{
    QDir dir(consoleDir());
    if (!dir.exists())
        return;
    QFileInfoList files = dir.entryInfoList(QStringList() << "*", QDir::Files, QDir::Time);
    while (files.size() > kMaxConsoleCaptures) {
        QFile::remove(files.last().absoluteFilePath());
        files.removeLast();
    }
}

void LogManager::clearup_cachelogfile()
{
    QDir dir(logDir());
    if (!dir.exists())
        return;

    // 1. Links of the previous run: its WARNING/ERROR/FATAL files go, its INFO
    //    file (which holds every entry) stays for the archive.
    bool hadError = false;
    const QString ownDir = QFileInfo(dir.absolutePath()).canonicalFilePath();
    const QFileInfoList links = dir.entryInfoList(QStringList() << "*", QDir::Files | QDir::System, QDir::Time);
    for (const QFileInfo& fi : links) {
        if (!fi.exists() || !fi.isSymLink())
            continue;
        const QString path = fi.filePath();
        if (path.contains(".ERROR"))
            hadError = true;
        if (path.contains(".INFO")) {
            QFile::remove(path);
        } else {
            const QString target = fi.symLinkTarget();
            QFile::remove(path);
            // glog's links point at its own files here; a link that points
            // anywhere else never makes the tidy delete a file outside the
            // log folder.
            if (!target.isEmpty() && QFileInfo(target).canonicalPath() == ownDir)
                QFile::remove(target);
        }
    }

    // 2. Names: archives first (ascending by their number), then the glog
    //    files become archives, anything else with a dot goes.
    QStringList names = dir.entryList(QStringList() << "*.*", QDir::Files | QDir::System, QDir::Name);
    QStringList archives;
    for (;;) {
        int best = -1;
        int bestNumber = -1;
        for (int i = 0; i < names.size(); ++i) {
            const QStringList parts = names[i].split('_');
            if (parts.size() != 4 || !isNonNegativeInt(parts[0]))
                continue;
            const int number = parts[0].toInt();
            if (number > bestNumber) {
                bestNumber = number;
                best = i;
            }
        }
        if (best < 0)
            break;
        archives.prepend(names.takeAt(best));
    }
    for (const QString& name : names) {
        const QStringList parts = name.split('_');
        if (parts.size() == 2) {
            const QString stampText = parts[1].section('.', 0, 0);
            const QDateTime stamp = QDateTime::fromString(stampText, QStringLiteral("yyyyMMdd-hhmmss"));
            const QString formatted = stamp.isValid() ? stamp.toString(QStringLiteral("yyyyMMdd_hhmmss")) : QString();
            const QString newName = (hadError ? QStringLiteral("X_ERROR_") : QStringLiteral("X_LOG_"))
                + formatted + QStringLiteral(".txt");
            QFile::remove(dir.filePath(newName));
            QFile::rename(dir.filePath(name), dir.filePath(newName));
            archives.append(newName);
        } else {
            QFile::remove(dir.filePath(name));
        }
    }

    // 3. Keep the newest 20 and number them 1..n.
    while (archives.size() > kMaxArchives) {
        QFile::remove(dir.filePath(archives.first()));
        archives.removeFirst();
    }
    for (int i = 0; i < archives.size(); ++i) {
        QStringList parts = archives[i].split('_');
        if (parts.size() != 4) {
            QFile::remove(dir.filePath(archives[i]));
            continue;
        }
        parts[0] = QString::number(i + 1);
        const QString newName = parts.join('_');
        if (newName != archives[i])
            QFile::rename(dir.filePath(archives[i]), dir.filePath(newName));
    }
}

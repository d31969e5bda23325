#pragma once
#include <QObject>
#include <QString>
#include <cstddef>

// Routes every Qt log message into glog files under "./ruv_net/workspace/log/"
// (LOG_, WARNING_, ERROR_, FATAL_ prefixes), installs glog's crash handler
// with our own failure writer, and tidies the log folder at start: the
// previous run's log becomes a numbered archive, at most 20 are kept.
// Created once by main before anything logs; never deleted.
class LogManager : public QObject
{
    Q_OBJECT
public:
    explicit LogManager(QObject* parent = nullptr);
    ~LogManager() override;

    static LogManager* __instance;

    // The Qt message handler.
    static void outputMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);

    // Start-up tidy of the log folder (links, archives, numbering).
    static void clearup_cachelogfile();
    // Keeps the 50 newest console captures.
    static void pruneConsoleCaptures();

    static QString logDir();        // "./ruv_net/workspace/log/"
    static QString consoleDir();    // "./ruv_net/workspace/log_stdout/"
    static constexpr int kMaxArchives = 20;
    static constexpr int kMaxConsoleCaptures = 50;
};

// glog's failure writer: one piece of the crash report, written as an ERROR
// entry and flushed at once.
void SignalHandle(const char* data, std::size_t size);

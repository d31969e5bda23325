#include "frame/logmanager.h"
#include "testsupport/testenv.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <cstring>

namespace {

// Child process modes: the real set-up in a process of its own, as main does it.
int runChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString mode = QString::fromLatin1(argv[2]);
    new LogManager(nullptr);
    if (mode == "quiet") {
        qInfo("quiet run");
        return 0;
    }
    qDebug("debug text never stored");
    qInfo("info text %d", 42);
    qWarning("hello warn");
    {
        QMessageLogContext ctx("../../src/camera.ext", 7, "void f()", "default");
        LogManager::outputMessage(QtWarningMsg, ctx, QStringLiteral("x"));
        QMessageLogContext none(nullptr, 0, nullptr, "default");
        LogManager::outputMessage(QtInfoMsg, none, QStringLiteral("no file"));
    }
    qInfo("%s", QString::fromUtf8("模具 OK").toUtf8().constData());
    if (mode == "messages") {
        qCritical("disk lost");
        return 0;
    }
    if (mode == "crash") {
        qCritical("before crash");
        std::raise(SIGSEGV);
        return 0;
    }
    if (mode == "fatal")
        qFatal("fatal stop");
    return 3;
}

QString readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

QStringList logFiles(const QString& prefix)
{
    return QDir("ruv_net/workspace/log").entryList(QStringList() << prefix + "*", QDir::Files, QDir::Name);
}

QString logText(const QString& prefix)
{
    const QStringList files = logFiles(prefix);
    if (files.size() != 1)
        return QString();
    return readAll("ruv_net/workspace/log/" + files.first());
}

int runChildProcess(const QString& mode, QProcess::ExitStatus* status = nullptr)
{
    QProcess p;
    p.setWorkingDirectory(QDir::currentPath());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QCoreApplication::applicationFilePath(), {"--log-child", mode});
    if (!p.waitForFinished(30000))
        return -100;
    if (status)
        *status = p.exitStatus();
    return p.exitCode();
}

// A whole line of the log matches.
bool hasLine(const QString& text, const QString& pattern)
{
    return text.contains(QRegularExpression(pattern, QRegularExpression::MultilineOption));
}

void touchFile(const QString& path, const QDateTime& when = QDateTime())
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("x\n");
    f.flush();
    if (when.isValid())
        f.setFileTime(when, QFileDevice::FileModificationTime);
    f.close();
}

} // namespace

class TstLog : public QObject
{
    Q_OBJECT

private slots:
    void messagesLandInTheirFiles()
    {
        TestEnv env(false);
        QCOMPARE(runChildProcess("messages"), 0);
        const QStringList infoFiles = logFiles("LOG_");
        QCOMPARE(infoFiles.size(), 1);
        QVERIFY2(QRegularExpression("^LOG_\\d{8}-\\d{6}\\.\\d+\\.log$").match(infoFiles.first()).hasMatch(),
                 qPrintable(infoFiles.first()));
        QVERIFY(QDir("ruv_net/workspace/log_stdout").exists());

        const QString info = logText("LOG_");
        QVERIFY(!info.contains("debug text never stored"));
        for (const char* line : {"^I\\d{8} [^\\n]* tst_log\\.cpp:\\d+\\] info text 42$",
                                 "^I[^\\n]* tst_log\\.cpp:\\d+\\] ---warning--- hello warn$",
                                 "^I[^\\n]* camera\\.ext:7\\] ---warning--- x$", "^I[^\\n]* unknow:0\\] no file$"})
            QVERIFY2(hasLine(info, line), line);
        QVERIFY(info.contains(QString::fromUtf8("模具 OK")));
        // Critical: an ERROR entry of the logging unit, text after a tab; it
        // is also in the lower-severity files, and only it is in the higher.
        for (const QString& file : {info, logText("ERROR_"), logText("WARNING_")})
            QVERIFY(hasLine(file, "^E[^\\n]* logmanager\\.cpp:\\d+\\] \\tdisk lost$"));
        QVERIFY(!logText("ERROR_").contains("hello warn"));
        QVERIFY(!logText("WARNING_").contains("hello warn"));
        QVERIFY(logFiles("FATAL_").isEmpty());

        // The next two starts turn each previous run into an archive.
        QCOMPARE(runChildProcess("quiet"), 0);
        QStringList archives = QDir("ruv_net/workspace/log").entryList(QStringList() << "*.txt", QDir::Files);
        QCOMPARE(archives.size(), 1);
        QVERIFY2(QRegularExpression("^1_ERROR_\\d{8}_\\d{6}\\.txt$").match(archives.first()).hasMatch(),
                 qPrintable(archives.join(',')));
        QVERIFY(readAll("ruv_net/workspace/log/" + archives.first()).contains("hello warn"));
        QCOMPARE(runChildProcess("quiet"), 0);
        archives = QDir("ruv_net/workspace/log").entryList(QStringList() << "*.txt", QDir::Files, QDir::Name);
        QCOMPARE(archives.size(), 2);
        QVERIFY(archives[0].startsWith("1_ERROR_"));
        QVERIFY(archives[1].startsWith("2_LOG_"));
        QVERIFY(readAll("ruv_net/workspace/log/" + archives[1]).contains("quiet run"));
    }

    void crashAndFatalEndTheProcessAfterTheirEntry()
    {
        for (const QString mode : {"crash", "fatal"}) {
            TestEnv env(false);
            QProcess::ExitStatus status = QProcess::NormalExit;
            runChildProcess(mode, &status);
            QCOMPARE(status, QProcess::CrashExit);
            const QString error = logText("ERROR_");
            if (mode == "crash") {
                QVERIFY(error.contains("\tbefore crash"));
                QVERIFY2(hasLine(error, "^E[^\\n]* logmanager\\.cpp:\\d+\\] \\*\\*\\* SIGSEGV"), qPrintable(error));
            } else {
                QVERIFY(hasLine(logText("FATAL_"), "^F[^\\n]* logmanager\\.cpp:\\d+\\] \\tfatal stop$"));
                QVERIFY(error.contains("fatal stop"));
            }
        }
    }

    void tidyArchivesPreviousRun()
    {
        TestEnv env(false);
        QDir().mkpath("ruv_net/workspace/log");
        QDir::setCurrent("ruv_net/workspace/log");
        for (int i = 1; i <= 20; ++i)
            touchFile(QString("%1_LOG_202401%2_080000.txt").arg(i).arg(i, 2, 10, QChar('0')));
        for (const auto& [file, link] : {std::pair<QString, QString>("LOG", "INFO"), {"ERROR", "ERROR"}, {"WARNING", "WARNING"}}) {
            touchFile(file + "_20240121-080000.55.log");
            QFile::link(file + "_20240121-080000.55.log", "station." + link);
        }
        QFile::link("gone.log", "station.FATAL"); // dangling: left to the name pass
        touchFile("notes.txt");
        touchFile("README");
        QDir::setCurrent(env.workDir());
        // A link to a file outside the folder: the link goes, the file stays.
        touchFile("keep.dat");
        QFile::link(env.workDir() + "/keep.dat", "ruv_net/workspace/log/other.WARNING");

        LogManager::clearup_cachelogfile();
        QVERIFY(QFile::exists("keep.dat"));

        QDir dir("ruv_net/workspace/log");
        QStringList expected;
        for (int i = 2; i <= 20; ++i)
            expected << QString("%1_LOG_202401%2_080000.txt").arg(i - 1).arg(i, 2, 10, QChar('0'));
        expected << "20_ERROR_20240121_080000.txt" << "README";
        expected.sort();
        QStringList actual = dir.entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
        actual.sort();
        QCOMPARE(actual, expected);
    }

    void tidyKeepsTwentyNewestInOrder()
    {
        TestEnv env(false);
        QDir().mkpath("ruv_net/workspace/log");
        QDir dir("ruv_net/workspace/log");
        // 24 archives with gaps and a number above 20, one glog file without a
        // readable stamp and one in a form that is no archive.
        for (int i = 3; i <= 26; ++i)
            touchFile(dir.filePath(QString("%1_LOG_20230101_%2.txt").arg(i * 2).arg(i, 6, 10, QChar('0'))));
        touchFile(dir.filePath("LOG_garbage.1.log"));
        touchFile(dir.filePath("-1_LOG_20230101_000000.txt"));
        touchFile(dir.filePath("LOG_20231231-235959.7.log"));

        LogManager::clearup_cachelogfile();

        // 26 archive candidates: the 6 oldest go; the one whose stamp did not
        // read keeps its slot until it is deleted, so 19 remain.
        const QStringList names = dir.entryList(QDir::Files, QDir::Name);
        QCOMPARE(names.size(), 19);
        QSet<int> numbers;
        for (const QString& n : names) {
            const QStringList parts = n.split('_');
            QCOMPARE(parts.size(), 4);
            numbers.insert(parts[0].toInt());
        }
        QCOMPARE(numbers.size(), 19);
        QVERIFY(numbers.contains(1) && numbers.contains(19));
        // The order of the old numbers is kept; the last run comes last.
        for (const char* kept : {"1_LOG_20230101_000009.txt", "18_LOG_20230101_000026.txt", "19_LOG_20231231_235959.txt"})
            QVERIFY2(dir.exists(kept), kept);
        QVERIFY(!dir.exists("-1_LOG_20230101_000000.txt") && !dir.exists("LOG_garbage.1.log"));
    }

    void consoleCapturesCutToFifty()
    {
        TestEnv env(false);
        QDir().mkpath("ruv_net/workspace/log_stdout");
        const QDateTime base = QDateTime::currentDateTime().addDays(-1);
        for (int i = 0; i < 60; ++i)
            touchFile(QString("ruv_net/workspace/log_stdout/cap%1").arg(i, 2, 10, QChar('0')), base.addSecs(i * 60));
        LogManager::pruneConsoleCaptures();
        const QStringList left = QDir("ruv_net/workspace/log_stdout").entryList(QDir::Files, QDir::Name);
        QCOMPARE(left.size(), 50);
        QCOMPARE(left.first(), QString("cap10"));
        QCOMPARE(left.last(), QString("cap59"));
    }
};

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--log-child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    TstLog t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_log.moc"

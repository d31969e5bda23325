#include "controller/stationexit.h"
#include "controller/controlport.h"
#include "controller/machinecycle.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"
#include "platform/commandrunner.h"
#include "platform/platformpath.h"
#include "records/copy2movedisk.h"
#include "records/savefialimagethread.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>

#include <atomic>
#include <cstdio>
#include <glog/logging.h>

namespace {
// 0 running, 1 ending, 2 the databases closed by the end.
std::atomic<int> g_stage{0};
std::function<void()> g_processEnd;

QStringList g_arguments;

// The variables the station and its camera plug-in read, and Qt's that
// decide where and how it shows (the plug-in path also skips the panel's
// start-up waits): a run started again needs those that were set.
constexpr const char* kRunVariables[] = {
    "STATION_SIMROOT",    "STATION_SIMCAMERA_CONFIG", "STATION_SIMCAMERA_LOG", "STATION_CAMERA_PLUGIN_DIR",
    "STATION_HTTP_PORT",  "STATION_MODBUS_PORT",      "STATION_VIEWER_URL",    "QT_QPA_PLATFORM",
    "QT_QPA_PLATFORM_PLUGIN_PATH", "DISPLAY",         "TZ"};

QString shellWord(const QString& text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    return plain.match(text).hasMatch() ? text : CommandRunner::quote(text);
}

// How to start the station again as it was started: scripts/run.sh hands
// down its own command line; a station started otherwise is told its
// working directory, the variables it ran with and its program with its
// arguments, as one line for a shell.
QString startCommand()
{
    const QString given = qEnvironmentVariable("STATION_START_COMMAND");
    if (!given.trimmed().isEmpty())
        return given;
    QStringList words{QStringLiteral("cd"), shellWord(QDir::currentPath()), QStringLiteral("&&")};
    for (const char* name : kRunVariables)
        if (qEnvironmentVariableIsSet(name))
            words << QString::fromLatin1(name) + QLatin1Char('=') + shellWord(qEnvironmentVariable(name));
    words << shellWord(QCoreApplication::applicationFilePath());
    for (const QString& argument : g_arguments)
        words << shellWord(argument);
    return words.join(QLatin1Char(' '));
}

void endProcess(StationExit::Kind kind)
{
    if (!g_processEnd)
        return;
    if (kind != StationExit::Exit) {
        // Nothing takes the process down as the panel's own restart would:
        // it ends here, and whoever started it learns what became of it.
        const bool off = kind == StationExit::PowerOff;
        std::printf("simulated platform: \"%s\" was only logged in %s; the panel would %s now, so the station "
                    "has ended. Start it again with: %s\n",
                    off ? "init 0" : "reboot", qPrintable(CommandRunner::logPath()),
                    off ? "power off" : "restart", qPrintable(startCommand()));
        std::fflush(stdout);
    }
    g_processEnd();
}
} // namespace

void StationExit::closeCameras()
{
    if (!gpWin)
        return;
    for (CameraViewState* v : gpWin->cameraViews) {
        if (!v || !v->isOpen || !v->camera)
            continue;
        v->camera->stop();
        v->camera->close();
        v->isOpen = false;
    }
}

bool StationExit::ending() { return g_stage.load() >= 1; }
bool StationExit::closed() { return g_stage.load() >= 2; }
void StationExit::markClosed()
{
    // A late request or timer must not reopen what was just closed, nor
    // reach the machine between the end and its command.
    g_stage.store(2);
    CommandRunner::setEndOnly(true);
}

void StationExit::wentDown(Kind kind)
{
    // On a panel the command takes the process with it; a window built
    // without the program's main leaves its process to whoever made it.
    if (kind == Exit || !platform::isSimulated() || !g_processEnd)
        return;
    // What is still on its way (the rest of a start-up, a late poll) finds
    // the station ending and the machine out of reach, as after run().
    int running = 0;
    g_stage.compare_exchange_strong(running, 1);
    CommandRunner::setEndOnly(true);
    endProcess(kind);
}

void StationExit::setProcessEnd(std::function<void()> end, QStringList arguments)
{
    g_processEnd = std::move(end);
    g_arguments = std::move(arguments);
}

void StationExit::resetForTest()
{
    g_stage.store(0);
    CommandRunner::setEndOnly(false);
}

bool StationExit::run(Kind kind, const Hooks& hooks)
{
    int before = 0;
    if (!g_stage.compare_exchange_strong(before, 1)) {
        // A reboot the panel takes its time over, or one the simulated
        // platform only logged in a window without a main: an exit then
        // still ends the process.
        if (kind == Exit && before == 2)
            endProcess(Exit);
        return false;
    }
    LOG(INFO) << "station ending (" << (kind == Exit ? "exit" : kind == PowerOff ? "power off" : "reboot") << ")";
    if (hooks.stopServing)
        hooks.stopServing();
    // What happens, not the question that was asked before it. A reboot is
    // recorded by what it is for (language, clock, group, update), and only
    // there.
    if (gpWin && kind != Reboot)
        gpWin->InsertRecord(messageText(kind == Exit ? 295 : 292).trimmed(), QStringLiteral("operate"));
    if (hooks.beforeSave)
        hooks.beforeSave();
    if (gpWPara)
        gpWPara->SaveDatatoFile();
    closeCameras();
    // No poll may reach the board once the cameras are gone.
    if (gpControlIO)
        gpControlIO->stopIOThread();
    // An alarm's NG image waits in its slot until the alarm is cleared; the
    // end is its last chance. Every image taken goes to the disk and to the
    // drive before the files close.
    if (gpWin && gpWin->cycle)
        gpWin->cycle->handOverHeldImages();
    if (gpSaveFialImageThread)
        gpSaveFialImageThread->finish();
    Copy2MoveDisk::getInstance()->finish();
    if (hooks.writeCounters)
        hooks.writeCounters();
    if (hooks.stopWatchdog)
        hooks.stopWatchdog();
    if (gpWin)
        gpWin->FLushAll();
    if (hooks.afterClose)
        hooks.afterClose();
    // The files just closed must be on the disk before the power goes.
    if (kind != Exit)
        CommandRunner::system(QStringLiteral("sync"));
    if (kind == PowerOff)
        CommandRunner::system(QStringLiteral("init 0"));
    else if (kind == Reboot)
        CommandRunner::system(QStringLiteral("reboot"));
    if (kind == Exit || platform::isSimulated())
        endProcess(kind);
    return true;
}

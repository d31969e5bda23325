#include "controller/stationexit.h"
#include "controller/controlport.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"
#include "platform/commandrunner.h"

#include <atomic>
#include <glog/logging.h>

namespace {
std::atomic<bool> g_ending{false};
} // namespace

bool StationExit::ending() { return g_ending.load(); }
void StationExit::resetForTest() { g_ending.store(false); }

bool StationExit::run(Kind kind, const Hooks& hooks)
{
    if (g_ending.exchange(true))
        return false;
    // What happens, not the question that was asked before it.
    static const int kRecordMsg[] = {295, 292, 800};
    LOG(INFO) << "station ending (" << (kind == Exit ? "exit" : kind == PowerOff ? "power off" : "reboot") << ")";
    if (gpWin)
        gpWin->InsertRecord(messageText(kRecordMsg[kind]).trimmed(), QStringLiteral("operate"));
    if (hooks.beforeSave)
        hooks.beforeSave();
    if (gpWPara)
        gpWPara->SaveDatatoFile();
    if (gpWin) {
        for (CameraViewState* v : gpWin->cameraViews) {
            if (!v || !v->isOpen || !v->camera)
                continue;
            v->camera->stop();
            v->camera->close();
            v->isOpen = false;
        }
    }
    // No poll may reach the board once the cameras are gone.
    if (gpControlIO)
        gpControlIO->stopIOThread();
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
    return true;
}

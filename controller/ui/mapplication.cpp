#include "controller/ui/mapplication.h"
#include "controller/lcdonoff.h"
#include "controller/mainstate.h"
#include "controller/stationexit.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/cameramanager.h"
#include "platform/commandrunner.h"
#include "widgets/warnbox.h"

#include <QEvent>
#include <QTimer>

#include <glog/logging.h>

MApplication* MApplication::_instance = nullptr;

namespace {
QString stamp() { return clockNow().toString(QStringLiteral("yyyyMMdd_hhmmss.zzz")); }
} // namespace

MApplication::MApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    _instance = this;
    ts_create = stamp();
}

MApplication::~MApplication()
{
    if (_instance == this)
        _instance = nullptr;
}

void MApplication::manualStopTscTimeup()
{
    m_holdRunning = false;
    ++m_holdGeneration;
}

void MApplication::startHold()
{
    m_holdRunning = true;
    const unsigned gen = ++m_holdGeneration;
    Clock::instance()->singleShot(5000, this, [this, gen] {
        if (m_holdRunning && gen == m_holdGeneration)
            holdTimeout();
    });
}

void MApplication::holdTimeout()
{
    manualStopTscTimeup();
    if (gpWin && CameraManager::getInstance()->noCamera) {
        m_armed = true;
        // A new box each time, shown without waiting: the finger is still down.
        auto* box = new WarnBox(nullptr);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setText(messageText(370));
        box->show();
    }
}

bool MApplication::onPress(QObject* receiver, QEvent* event)
{
    const qint64 now = clockNow().toMSecsSinceEpoch();
    // Touch panels report one touch as several presses within a few ms.
    if (now - m_lastPressMs <= 10)
        return QApplication::notify(receiver, event);
    m_lastPressMs = now;

    CameraManager* cm = CameraManager::getInstance();
    if (cm->noCamera && !m_holdRunning && !m_armed) {
        ++ts_calibrate_times;
        if (!m_firstPressTaken) {
            // The press that started the panel never arms the calibration.
            ts_firstpress = stamp();
            m_firstPressTaken = true;
            return QApplication::notify(receiver, event);
        }
        startHold();
    }

    if (gpWPara && gpWin) {
        if (gpWin->logoutTimer && gpWPara->autoLogout > 0)
            gpWin->logoutTimer->start(gpWPara->autoLogout * 1000);
        if (gpWin->screenOffTimer && gpWPara->scrOffTime > 0)
            gpWin->screenOffTimer->start(gpWPara->scrOffTime * 1000);
    }

    if (gpWin && gpWin->screenOff) {
        // Waking the screen must not also press whatever lies under the finger.
        LCDOnOff(1);
        return true;
    }
    return QApplication::notify(receiver, event);
}

void MApplication::onRelease()
{
    if (!m_armed) {
        if (m_holdRunning)
            manualStopTscTimeup();
        return;
    }
    ts_calibrate = stamp();
    LOG(INFO) << "ts_calibrate: create/press/release,times " << ts_create.toStdString() << ' '
              << ts_firstpress.toStdString() << ' ' << ts_calibrate.toStdString() << ' ' << ts_calibrate_times;
    CommandRunner::system(QStringLiteral("./tsc"));
    LOG(INFO) << "isTs Timeout ./tsc running";
    if (gpWin) {
        Clock::instance()->sleepMs(500);
        gpWin->FLushAll();
        CommandRunner::system(QStringLiteral("reboot"));
        m_armed = false;
        StationExit::wentDown(StationExit::Reboot);
    }
}

bool MApplication::notify(QObject* receiver, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        return onPress(receiver, event);
    case QEvent::MouseButtonRelease:
        onRelease();
        return QApplication::notify(receiver, event);
    default:
        return QApplication::notify(receiver, event);
    }
}

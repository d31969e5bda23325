#include "controller/machinecycle.h"
#include "controller/machinecycle_p.h"
#include "controller/controlport.h"
#include "controller/cyclehooks.h"
#include "controller/lcdonoff.h"
#include "controller/mainstate.h"
#include "controller/productioncounters.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"

#include <QMutexLocker>
#include <QTimer>

#include <glog/logging.h>

#include <cstring>

using namespace cyclerules;

// ---------------------------------------------------------------------------
// cameras

bool MachineCycle::CameraCheck() const
{
    for (const CameraViewState* v : m_cams)
        if (!v->isConnected)
            return false;
    return true;
}

void MachineCycle::LostCamera()
{
    LOG(INFO) << "lsotCamera";
    if (gpWin->runState != 3) {
        setOut(0, 1);
        flush();
    }
    if (P().camDisconnect)
        m_hooks->showLostCameraBox(true);
    else
        m_hooks->notice(39);
    m_hooks->repaint();
}

void MachineCycle::CameraSetSpeed()
{
    for (size_t c = 0; c < m_cams.size(); ++c)
        m_hooks->setSpeed(int(c));
}

void MachineCycle::CameraRestart()
{
    // The view's own loss handling retries on the same thread and skips a
    // camera this brought back.
    for (CameraViewState* v : m_cams)
        if (!v->isConnected && v->camera)
            v->isConnected = v->camera->reconnect();
}

bool MachineCycle::SlotReTrain()
{
    const WizardPara& p = P();
    MainState& w = *gpWin;
    if (m_hooks->windowsShown())
        return false;
    if (w.CheckPassword() == 0)
        return false;
    if (!askOperator(137))
        return false;
    if (m_hooks->windowsShown() || w.detectState == 2)
        return false;
    w.detectState = 0;
    if (w.runState == 3) {
        StartDetect();
        LEDOnOff(4, 1);
        if (p.stopDetectCutOff)
            setOut(3, 0);
        flush();
    }
    m_hooks->deleteAllTemplates();
    const int alone = p.camSampleSeparately ? m_hooks->cameraShownAlone() : -1;
    for (size_t c = 0; c < m_cams.size(); ++c) {
        if (alone >= 0 && int(c) != alone)
            continue;
        CameraViewState* v = m_cams[c];
        v->isOK = true;
        for (int d = 0; d < gDNum && d < 8; ++d) {
            if (p.detectEnabled[d])
                v->resamplePending[d] = true;
            PixelBuffer& mask = v->ignoreMasks[d];
            if (!mask.isNull())
                std::memset(mask.data(), 0, mask.size());
            m_hooks->saveIgnorePoint(int(c), d);
            std::fill(std::begin(v->roiResult[d]), std::end(v->roiResult[d]), uchar(1));
        }
        v->releaseShownVerdict(); // what the view shows as well
    }
    const QString who = alone >= 0 ? messageText(586).arg(alone + 1) : messageText(585);
    w.InsertRecord(who + messageText(139), QStringLiteral("operate"));
    m_trigSource = 1;
    m_hooks->resetCameraOrder();
    m_hooks->repaint();
    return true;
}

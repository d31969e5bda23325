// Camera control of the camera view: open, settings, grab, loss.
#include "controller/mainstate.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/ui/cammerwidget.h"

#include <QEventLoop>
#include <QJsonObject>
#include <QMetaType>
#include <QPointer>

#include <glog/logging.h>

Q_DECLARE_METATYPE(CammerSingleton*)

namespace {

// While the settings window is shown the operator tunes the edit copy and
// sees the effect before confirming.
const WizardPara* settingsSource()
{
    if (gpWin && gpWin->settingsWindowVisible() && gpWParaBak)
        return gpWParaBak;
    return gpWPara;
}

// Frames above this are a plug-in's error, not a camera.
constexpr qint64 kMaxPixels = qint64(1) << 28;

} // namespace

bool CammerWidget::CameraOpen()
{
    camera->setColor(isColor);
    isOpen = camera->open();
    if (!isOpen) {
        LOG(INFO) << "camera open fail" << " camera NO " << cameraIndex << " camera SN " << serialNumber;
        return false;
    }
    isColor = camera->isColor();
    int w = 0, h = 0;
    camera->size(&w, &h);
    if (w <= 0 || h <= 0 || qint64(w) * h > kMaxPixels) {
        // Without a usable size there is no frame to hold: treat it as a
        // camera that did not open, so the main window drops the view.
        LOG(INFO) << "camera open fail: size " << w << " x " << h << " camera NO " << cameraIndex << " camera SN "
                  << serialNumber;
        camera->close();
        isOpen = false;
        return false;
    }
    imageWidth = w;
    imageHeight = h;
    pixelCount = w * h;
    showScaleX = roiScaleX = float(gShowW) / float(w);
    showScaleY = roiScaleY = float(gShowH) / float(h);
    frameBytes = isColor ? pixelCount * 4 : pixelCount;
    initSetting();
    return true;
}

void CammerWidget::initSetting()
{
    if (!camera || !gpWPara)
        return;
    const WizardPara& p = *gpWPara;
    const int c = cameraIndex & 7;
    QJsonObject o;
    o["exposetime"] = p.exposeTime[c];
    o["gain"] = p.adjustPlus[c];
    o["contrast"] = p.contrast[c];
    o["sharp"] = p.sharp[c];
    o["gammma"] = p.gamma[c];
    o["saturation"] = p.saturation[c];
    o["ThreeDNoise"] = p.noise3D[c];
    o["TwoDNoise"] = p.noise2D[c];
    o["WDR"] = p.autoShading != 0;
    o["VMirror"] = p.vMirror[c] != 0;
    o["HMirror"] = p.hMirror[c] != 0;
    o["sysUsage"] = p.extTrigger != 0;
    o["speed"] = p.camSpeed;
    camera->setParams(o);
}

void CammerWidget::SetExposeTime()
{
    if (isOpen && settingsSource())
        camera->setExposure(settingsSource()->exposeTime[cameraIndex & 7]);
}

void CammerWidget::SetAdjustPlus()
{
    if (isOpen && settingsSource())
        camera->setGain(settingsSource()->adjustPlus[cameraIndex & 7]);
}

void CammerWidget::SetSharp()
{
    if (isOpen && settingsSource())
        camera->setSharp(settingsSource()->sharp[cameraIndex & 7]);
}

void CammerWidget::SetContrast()
{
    if (isOpen && settingsSource())
        camera->setContrast(settingsSource()->contrast[cameraIndex & 7]);
}

void CammerWidget::SetGamma()
{
    if (isOpen && settingsSource())
        camera->setGamma(settingsSource()->gamma[cameraIndex & 7]);
}

void CammerWidget::SetSaturation()
{
    if (isOpen && settingsSource())
        camera->setValue(double(settingsSource()->saturation[cameraIndex & 7]), 10);
}

void CammerWidget::Set3DNoise()
{
    if (isOpen && settingsSource())
        camera->setValue(double(settingsSource()->noise3D[cameraIndex & 7]), 8);
}

void CammerWidget::Set2DNoise()
{
    if (isOpen && settingsSource())
        camera->setValue(double(settingsSource()->noise2D[cameraIndex & 7]), 9);
}

void CammerWidget::SetWDR()
{
    if (!isOpen || !settingsSource())
        return;
    camera->stop();
    camera->setWDR(settingsSource()->autoShading != 0);
    camera->start();
}

void CammerWidget::SetHMirror()
{
    if (!isOpen || !settingsSource())
        return;
    CameraStop();
    camera->setHMirror(settingsSource()->hMirror[cameraIndex & 7] != 0);
    CameraStart();
}

void CammerWidget::SetVMirror()
{
    if (!isOpen || !settingsSource())
        return;
    CameraStop();
    camera->setVMirror(settingsSource()->vMirror[cameraIndex & 7] != 0);
    CameraStart();
}

void CammerWidget::SetWB()
{
    if (isOpen && isColor)
        camera->onceWB();
}

void CammerWidget::SetSpeed()
{
    if (!isOpen || !gpWPara)
        return;
    CameraStop();
    camera->setSpeed(gpWPara->camSpeed);
    CameraStart();
}

void CammerWidget::RestoreDefaultSettings()
{
    if (!camera || !gpWParaBak)
        return;
    WizardPara& p = *gpWParaBak;
    const int c = cameraIndex & 7;
    QJsonObject o;
    o["exposeTime"] = p.exposeTime[c];
    o["adjustPlus"] = p.adjustPlus[c];
    o["sharp"] = p.sharp[c];
    o["contrast"] = p.contrast[c];
    o["gamma"] = p.gamma[c];
    o["isHMirror"] = p.hMirror[c];
    o["isVMirror"] = p.vMirror[c];
    o["speed"] = p.camSpeed;
    o["sysUsage"] = p.extTrigger;
    o["isWDR"] = p.autoShading;
    camera->defaults(o, cameraIndex);
    // A key left out or not a number reads as 0.
    auto num = [&o](const char* key) { return o.value(key).isDouble() ? o.value(key).toInt() : 0; };
    p.exposeTime[c] = num("exposeTime");
    p.adjustPlus[c] = num("adjustPlus");
    p.sharp[c] = num("sharp");
    p.contrast[c] = num("contrast");
    p.gamma[c] = num("gamma");
    p.camSpeed = num("speed");
}

bool CammerWidget::CameraStart()
{
    if (!isOpen)
        return false;
    camera->start();
    return true;
}

void CammerWidget::CameraStop()
{
    if (isOpen)
        camera->stop();
}

void CammerWidget::CameraClose()
{
    if (!isOpen)
        return;
    camera->close();
    isOpen = false;
}

bool CammerWidget::UpdateImage()
{
    if (!camera || frameBuffer.size() < size_t(frameBytes) || frameBytes <= 0)
        return false;
    // The frame last judged or shown may hold the grab buffer's pixels: the
    // new frame goes into pixels of its own, and the old ones stay where
    // they are when no frame came.
    const bool ok = camera->grab(frameBuffer.overwrite());
    if (!ok)
        frameBuffer.keepPrevious();
    // Without a new frame the screen has nothing new to show.
    if (!ok || (gSource != -1 && gSource != 1) || (gpWPara && gpWPara->extTrigger))
        return ok;
    if (gpWPara && gpWPara->noRefreshAfterAlarm && gpWin && gpWin->detectState == 2)
        return ok; // the fault stays on screen
    // The screen holds the grabbed pixels themselves; the next grab writes
    // pixels of its own (overwrite() above), so what is shown stays.
    if (displayBuffer.size() == frameBuffer.size())
        displayBuffer.share(frameBuffer);
    // The view-sized picture is made while the grab's pixels are still in
    // the cache, when the paint that follows will show it as it is.
    if (isVisible() && liveStore && !imageBits.isNull() && !liveOverlays(false).any())
        prepareShownFrame();
    update();
    return ok;
}

bool CammerWidget::showsInspectedFrame() const
{
    // A hidden view keeps the judged frame too (it takes no copy, and no
    // picture is made until it shows): an alarm shows it again.
    return gSource == -1 || gSource == 1;
}

void CammerWidget::ManualUpdateImage()
{
    if (isOpen && isSimCamera)
        camera->softTrigger();
}

void CammerWidget::CameraChangeTrig(bool on)
{
    if (isOpen)
        camera->setTrigger(on);
}

void CammerWidget::HotCameraUpdateROI()
{
    static const int type = qRegisterMetaType<CammerSingleton*>("CammerSingleton *");
    Q_UNUSED(type);
    if (camera)
        camera->setValue(QVariant::fromValue(liveStore), 0);
}

int CammerWidget::HotCameraGetTemperature(int detect, int funcNO)
{
    if (!camera)
        return 0;
    QJsonObject in{{"detect", detect}, {"funcNO", funcNO}};
    QVariant out(0);
    camera->query(QVariant(in), out, 0);
    return out.toInt();
}

CameraInterface* CammerWidget::CreateCamera(_cameraInfo info)
{
    auto it = cameraInterfaceMap.constFind(info.typeName);
    return (it != cameraInterfaceMap.constEnd() && it.value()) ? it.value()->create(info) : nullptr;
}

void CammerWidget::SlotLoss()
{
    // One loss at a time: a second report while reconnecting is the same
    // outage and must neither nest a second loop nor count twice.
    if (m_reconnecting || !camera)
        return;
    m_reconnecting = true;
    isConnected = false;
    if (gpWin)
        gpWin->LostCamera();
    camera->onLost();
    update();

    ++lossCount;
    if (gpWin)
        gpWin->InsertRecord(MessageTable::text(655).arg(cameraIndex + 1).arg(lossCount), "info");

    QEventLoop loop;
    QPointer<CammerWidget> self(this);
    std::function<void()> attempt;
    attempt = [&]() {
        // The main window's own restart may have brought it back meanwhile.
        if (!isConnected)
            isConnected = camera->reconnect();
        if (isConnected) {
            initSetting();
            loop.quit();
        } else {
            Clock::instance()->singleShot(1000, &loop, attempt);
        }
    };
    Clock::instance()->singleShot(1000, &loop, attempt);
    loop.exec();
    if (self)
        m_reconnecting = false;
}

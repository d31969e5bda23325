#include "controller/ui/windowcyclehooks.h"
#include "controller/ui/indexbutton.h"
#include "frame/globals.h"
#include "inspection/cameramanager.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "netservices/viewwatch2zel.h"
#include "netservices/zev_netmn.h"
#include "settings/ui/helpwidget.h"
#include "settings/ui/widgetchangecamera.h"
#include "settings/ui/wizardparawidget.h"
#include "widgets/colorbutton.h"
#include "frame/operatorprompt.h"
#include "widgets/warnbox.h"

void WindowCycleHooks::notice(int msg)
{
    if (!gpWarnBox)
        return CycleHooks::notice(msg);
    gpWarnBox->setText(messageText(msg));
    gpWarnBox->show();
}

void WindowCycleHooks::showLostCameraBox(bool show)
{
    if (!gpLostCameraWarnBox)
        return;
    if (show)
        gpLostCameraWarnBox->show();
    else
        gpLostCameraWarnBox->setVisible(false);
}

void WindowCycleHooks::showProductAlarmBox(bool show)
{
    if (!gpProductAlarmWarnBox || show == gpProductAlarmWarnBox->isVisible())
        return;
    if (show)
        gpProductAlarmWarnBox->show();
    else
        gpProductAlarmWarnBox->setVisible(false);
}

void WindowCycleHooks::repaint() { m_w->update(); }

void WindowCycleHooks::sendRecord(int d, int hour, const QList<bool>& ok, bool last)
{
    emit m_w->sendRecord(d, hour, ok, last);
}

void WindowCycleHooks::editorNotCheckCur()
{
    if (m_w->roiPanel)
        m_w->roiPanel->notCheckcur();
}

void WindowCycleHooks::editorReCheck()
{
    if (m_w->roiPanel && m_w->roiPanel->reCheckButton)
        m_w->roiPanel->reCheckButton->click();
}

void WindowCycleHooks::editorOpenAlarm()
{
    m_w->curCamera = numCamera;
    m_w->ChangeCammer();
    for (QWidget* page : {static_cast<QWidget*>(m_w->settingsWindow), static_cast<QWidget*>(m_w->helpPage),
                          static_cast<QWidget*>(m_w->cameraNumbering)})
        if (page)
            page->hide();
    // The bar's buttons would sit over the alarm's panel; as every other way
    // into the editor, this one hides it until a touch after the editor.
    if (m_w->sideBar)
        m_w->sideBar->ShowHide(0);
    if (m_w->roiPanel) {
        m_w->roiPanel->Reset(false);
        m_w->roiPanel->show();
        m_w->roiPanel->raise();
    }
}

void WindowCycleHooks::editorRestart()
{
    if (m_w->roiPanel)
        m_w->roiPanel->Restart();
}

void WindowCycleHooks::editorSaveData()
{
    if (m_w->roiPanel)
        m_w->roiPanel->SlotSaveData();
}

void WindowCycleHooks::deleteAllTemplates()
{
    if (m_w->roiPanel)
        m_w->roiPanel->SlotTempDeleteAll();
}

void WindowCycleHooks::saveIgnorePoint(int camera, int d)
{
    if (camera >= 0 && camera < 8 && m_w->views[camera])
        m_w->views[camera]->SaveIgnorePoint(d);
}

int WindowCycleHooks::chosenTrigger() { return m_w->sideBar ? m_w->sideBar->CurChooseTrig() : -1; }

void WindowCycleHooks::startStopCaption(int msg)
{
    if (m_w->sideBar)
        m_w->sideBar->startStop->setText(messageText(msg));
}

void WindowCycleHooks::startPeriodRecord() { ZEV_NETMN::getInstance()->start_PeriodRecord(); }
void WindowCycleHooks::finishPeriodRecord() { ZEV_NETMN::getInstance()->finish_PeriodRecord(); }
void WindowCycleHooks::alarmStartTiming(int d) { ZEV_NETMN::getInstance()->viewWatch()->sndAlarmStartTiming(d); }
void WindowCycleHooks::alarmFinishTiming() { ZEV_NETMN::getInstance()->viewWatch()->sndAlarmFinishTiming(); }
void WindowCycleHooks::markAlarmCleared() { ZEV_NETMN::getInstance()->viewWatch()->markAlarmCleared(); }
void WindowCycleHooks::addClearMethod(int camera, int method)
{
    ZEV_NETMN::getInstance()->viewWatch()->addClearMethod(camera, method);
}
void WindowCycleHooks::clearLastDetections() { ZEV_NETMN::getInstance()->clearLastDetections(); }

void WindowCycleHooks::resetCameraOrder()
{
    CameraManager* m = CameraManager::getInstance();
    m->resetCameraSN();
    m->saveCameraSN();
}

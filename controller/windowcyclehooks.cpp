#include "controller/windowcyclehooks.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "widgets/lostcamerawarnbox.h"
#include "widgets/productalarmwarnbox.h"
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

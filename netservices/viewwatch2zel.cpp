#include "netservices/viewwatch2zel.h"

#include <QUuid>

#include <glog/logging.h>

ViewWatch2ZEL::ViewWatch2ZEL(QObject* parent)
    : QObject(parent)
{
}

bool ViewWatch2ZEL::post(const QString& urlPath, const QJsonObject&)
{
    if (m_linkUp)
        return true;
    if (!m_toldOff) {
        m_toldOff = true;
        LOG(INFO) << "viewer bridge: not connected, " << urlPath.toStdString() << " and later requests are not sent";
    }
    return false;
}

void ViewWatch2ZEL::sndAlarmStartTiming(int d)
{
    m_uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_alarmDetect = d;
    m_clearState = 0;
    m_clearMethod.clear();
    if (isAllowSnd_2_VW() < 0)
        return;
    post(QStringLiteral("/inline/bymain/alarm_starttiming"),
         QJsonObject{{"uuid", m_uuid}, {"detect", d}});
}

void ViewWatch2ZEL::sndAlarmFinishTiming()
{
    if (isAllowSnd_2_VW() < 0 || m_clearState != 2)
        return;
    m_clearState = 0;
    post(QStringLiteral("/inline/bymain/alarm_finishtiming"),
         QJsonObject{{"clear_method", m_clearMethod}, {"uuid", m_uuid}});
    m_clearMethod.clear();
}

void ViewWatch2ZEL::addClearMethod(int camera, int method)
{
    if (method < 4 || method > 8)
        return;
    if (!m_clearMethod.isEmpty())
        m_clearMethod += QLatin1Char(';');
    m_clearMethod += QStringLiteral("%1:%2").arg(camera).arg(method);
    m_clearState = 2;
}

void ViewWatch2ZEL::sndRecordOperate(const QJsonObject& record)
{
    post(QStringLiteral("/inline/bymain/recordoperate"), record);
}

void ViewWatch2ZEL::syncTempList(const QJsonObject& change)
{
    post(QStringLiteral("/inline/bymain/synctemplist"), change);
}

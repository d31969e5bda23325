#include "netservices/zev_netmn.h"

#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"

#include <QMutexLocker>
#include <QtGlobal>

ZEV_NETMN* ZEV_NETMN::instance()
{
    static ZEV_NETMN* const one = new ZEV_NETMN; // lives as long as the process
    return one;
}

void ZEV_NETMN::initStart()
{
    QMutexLocker lock(&m_mutex);
    if (m_toldNoNetwork)
        return;
    m_toldNoNetwork = true;
    qInfo("network services: not part of this build; judged ROIs and cycle records are kept in memory only");
}

QString ZEV_NETMN::roiKey(int camera, int detect, int roi)
{
    return QString("%1;%2;%3").arg(camera).arg(detect).arg(roi);
}

void ZEV_NETMN::setRoi(const param_roi& r)
{
    const QString key = roiKey(r.camera, r.detect, r.roi);
    QMutexLocker lock(&m_mutex);
    m_rois.insert(key, r);
}

bool ZEV_NETMN::roi(int camera, int detect, int roi, param_roi* out) const
{
    const QString key = roiKey(camera, detect, roi);
    QMutexLocker lock(&m_mutex);
    auto it = m_rois.constFind(key);
    if (it == m_rois.constEnd())
        return false;
    if (out)
        *out = *it;
    return true;
}

QMap<QString, param_roi> ZEV_NETMN::roiCache() const
{
    QMutexLocker lock(&m_mutex);
    return m_rois;
}

int ZEV_NETMN::roiCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_rois.size();
}

void ZEV_NETMN::start_PeriodRecord()
{
    const QDateTime now = Clock::instance()->now();
    QMutexLocker lock(&m_mutex);
    m_rois.clear();
    m_current = PeriodRecord();
    m_current.start = now;
    m_current.open = true;
}

void ZEV_NETMN::attach_PeriodPicture(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    m_current.pictures.append(path);
}

void ZEV_NETMN::finish_PeriodRecord()
{
    const QString group = gpWPara ? gpWPara->getCurGroupName() : QString();
    const QDateTime now = Clock::instance()->now();
    QMutexLocker lock(&m_mutex);
    m_current.finish = now;
    m_current.projectName = group;
    m_current.rois = m_rois;
    m_current.open = false;
    m_last = m_current;
}

ZEV_NETMN::PeriodRecord ZEV_NETMN::lastRecord() const
{
    QMutexLocker lock(&m_mutex);
    return m_last;
}

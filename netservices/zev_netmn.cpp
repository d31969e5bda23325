#include "netservices/zev_netmn.h"

#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/safefile.h"
#include "frame/wizardpara.h"
#include "netservices/viewwatch2zel.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QMutexLocker>
#include <QUrl>

#include <glog/logging.h>

std::atomic<ZEV_NETMN*> ZEV_NETMN::__instance{nullptr};

namespace {
// The bridge program runs beside the station; tests point the link at their
// own listener.
constexpr const char* kBridgeEnv = "STATION_VIEWER_URL";
constexpr const char* kBridgeAddress = "http://127.0.0.1:10431";
constexpr const char* kLinkSwitch = "device_worknetfunc";
} // namespace

ZEV_NETMN::ZEV_NETMN()
    : m_view(new ViewWatch2ZEL)
{
}

ZEV_NETMN* ZEV_NETMN::getInstance()
{
    // The GUI thread and the result-image writer may both come first.
    ZEV_NETMN* one = __instance.load(std::memory_order_acquire);
    if (one)
        return one;
    static QMutex making;
    QMutexLocker lock(&making);
    one = __instance.load(std::memory_order_relaxed);
    if (!one) {
        one = new ZEV_NETMN; // lives as long as the process
        __instance.store(one, std::memory_order_release);
    }
    return one;
}

void ZEV_NETMN::initStart()
{
    QJsonObject cfg;
    // Only a regular file, opened without waiting: a FIFO there must not
    // hold the start-up.
    QByteArray data;
    QString why;
    if (readRegularFile(QStringLiteral("./ruv_net/config.json"), &data, &why)) {
        const QJsonDocument doc = QJsonDocument::fromJson(data);
        if (doc.isObject())
            cfg = doc.object();
        else
            LOG(WARNING) << "network services: ruv_net/config.json is not a JSON object, read as empty";
    } else {
        LOG(WARNING) << "network services: ruv_net/config.json not readable (" << why.toStdString() << ")";
    }
    {
        QMutexLocker lock(&m_mutex);
        m_config = cfg;
    }
    LOG(INFO) << "network services: device \"" << cfg.value("devicename").toString().toStdString() << "\", version "
              << cfg.value("version").toString().toStdString();
    startViewerLink(cfg);
}

bool ZEV_NETMN::viewerLinkOn(const QJsonObject& cfg)
{
    // Written as true/false by the network settings; a 1/0 from elsewhere
    // means the same.
    const QJsonValue v = cfg.value(QLatin1String(kLinkSwitch));
    return v.isBool() ? v.toBool() : v.isDouble() ? v.toDouble() != 0 : v.toString().trimmed() == QLatin1String("1");
}

QString ZEV_NETMN::viewerLinkKey() { return QString::fromLatin1(kLinkSwitch); }

void ZEV_NETMN::startViewerLink(const QJsonObject& cfg)
{
    const QString address = qEnvironmentVariable(kBridgeEnv, QString::fromLatin1(kBridgeAddress));
    m_view->setBridge(viewerLinkOn(cfg) ? QUrl(address) : QUrl());
}

QJsonObject ZEV_NETMN::config() const
{
    QMutexLocker lock(&m_mutex);
    return m_config;
}

QString ZEV_NETMN::deviceName() const
{
    QMutexLocker lock(&m_mutex);
    return m_config.value("devicename").toString();
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

void ZEV_NETMN::add_PeriodRecord_Picture(int camera, int detection, bool ok, const QString& path)
{
    const Picture pic{camera, detection, ok, path};
    {
        QMutexLocker lock(&m_mutex);
        // The writer saves after the decision, so the last detection's
        // pictures come after the cycle closed: they still belong to it, not
        // to the next one.
        m_current.pictures.append(pic);
        if (!m_current.open && !m_current.finish.isNull()) {
            m_last.pictures.append(pic);
            QMutexLocker list(&m_listMutex);
            if (!m_lastRecords.isEmpty())
                m_lastRecords.last().pictures.append(pic);
        }
    }
    QMutexLocker map(&m_mapMutex);
    m_lastPictures.insert(QStringLiteral("%1;%2").arg(camera).arg(detection), pic);
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
    // Still under the record's lock (in the writer's order): a picture the
    // writer hands over now must find this record last in the list, not the
    // one before it.
    QMutexLocker list(&m_listMutex);
    m_lastRecords.append(m_last);
    while (m_lastRecords.size() > kLastRecords)
        m_lastRecords.removeFirst();
}

ZEV_NETMN::PeriodRecord ZEV_NETMN::currentRecord() const
{
    QMutexLocker lock(&m_mutex);
    return m_current;
}

ZEV_NETMN::PeriodRecord ZEV_NETMN::lastRecord() const
{
    QMutexLocker lock(&m_mutex);
    return m_last;
}

QList<ZEV_NETMN::PeriodRecord> ZEV_NETMN::lastDetections() const
{
    QMutexLocker list(&m_listMutex);
    return m_lastRecords;
}

QMap<QString, ZEV_NETMN::Picture> ZEV_NETMN::lastPictures() const
{
    QMutexLocker map(&m_mapMutex);
    return m_lastPictures;
}

void ZEV_NETMN::clearLastDetections()
{
    {
        QMutexLocker list(&m_listMutex);
        m_lastRecords.clear();
    }
    QMutexLocker map(&m_mapMutex);
    m_lastPictures.clear();
}

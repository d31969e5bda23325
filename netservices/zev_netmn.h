#pragma once
#include "netservices/param_roi.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QVector>

#include <atomic>

class ViewWatch2ZEL;

// The network services manager: the cache of judged ROIs that the engine
// fills every cycle, the cycle record (start, pictures, finish) with the
// cached last detections, the device settings of "ruv_net/config.json" and
// the link to the remote viewer.
//
// Made once on first use, from whichever thread comes first (the result-image
// writer's thread may be the one), so the making is locked. The cache and the
// record are guarded by one mutex, the cached last detections by two more:
// the writer thread adds pictures while the GUI thread opens and closes
// cycles.
class ZEV_NETMN
{
public:
    // One saved result image of the cycle.
    struct Picture
    {
        int camera = 0;    // 0-based
        int detection = 0; // 0-based
        bool ok = false;
        QString path;      // full path of the JPEG
    };

    // The cycle being recorded.
    struct PeriodRecord
    {
        QDateTime start;
        QDateTime finish;
        QString projectName;           // the current parameter group at finish
        QVector<Picture> pictures;     // result images attached during the cycle
        QMap<QString, param_roi> rois; // the judged ROIs at finish
        bool open = false;
    };

    static ZEV_NETMN* getInstance();
    // The engine's and the tests' short name for getInstance().
    static ZEV_NETMN* instance() { return getInstance(); }

    // Reads "ruv_net/config.json" (written by writeVersionToJson just before)
    // and starts the viewer link when the network settings switched it on.
    // Safe to call again: the file is read afresh.
    void initStart();
    // The viewer link's switch in the settings ("device_worknetfunc"), and
    // the link started (at 127.0.0.1:10431, or at STATION_VIEWER_URL when
    // set) or stopped by it.
    static QString viewerLinkKey();
    static bool viewerLinkOn(const QJsonObject& cfg);
    void startViewerLink(const QJsonObject& cfg);
    // What initStart read; empty before.
    QJsonObject config() const;
    QString deviceName() const;

    ViewWatch2ZEL* viewWatch() const { return m_view; }

    static QString roiKey(int camera, int detect, int roi);
    // Inserts or replaces the entry of (camera, detect, roi).
    void setRoi(const param_roi& r);
    bool roi(int camera, int detect, int roi, param_roi* out) const;
    QMap<QString, param_roi> roiCache() const;
    int roiCount() const;

    // A new cycle: clears the ROI cache and opens a fresh record.
    void start_PeriodRecord();
    // One saved result image: attached to the open cycle record (to the last
    // one when it came after the cycle closed) and kept as the camera's and
    // detection's last picture.
    void add_PeriodRecord_Picture(int camera, int detection, bool ok, const QString& path);
    // Closes the record with the current group name and the judged ROIs and
    // keeps it among the last detections.
    void finish_PeriodRecord();
    PeriodRecord currentRecord() const;
    PeriodRecord lastRecord() const;

    // The cached last detections: the finished cycle records (newest last,
    // at most kLastRecords) and the last picture of every "camera;detection".
    static constexpr int kLastRecords = 16;
    QList<PeriodRecord> lastDetections() const;
    QMap<QString, Picture> lastPictures() const;
    // Empties both (the cycle stops).
    void clearLastDetections();

private:
    ZEV_NETMN();
    static std::atomic<ZEV_NETMN*> __instance;

    mutable QMutex m_mutex; // ROI cache, record, config
    QMap<QString, param_roi> m_rois;
    PeriodRecord m_current;
    PeriodRecord m_last;
    QJsonObject m_config;

    mutable QMutex m_listMutex; // m_lastRecords
    QList<PeriodRecord> m_lastRecords;
    mutable QMutex m_mapMutex; // m_lastPictures
    QMap<QString, Picture> m_lastPictures;

    ViewWatch2ZEL* m_view = nullptr;
};

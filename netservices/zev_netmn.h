#pragma once
#include "netservices/param_roi.h"

#include <QDateTime>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

// The network services manager as far as this station builds it: the cache of
// judged ROIs that the engine fills every cycle, and the cycle record (start,
// pictures, finish) that network reporting would send. No network connection
// is made here; initStart() says so once in the log.
//
// Made once on first use and safe to reach from any thread: the cache and the
// record are guarded by one mutex, because a reporting thread may read them
// while the GUI thread writes.
class ZEV_NETMN
{
public:
    // The cycle being recorded.
    struct PeriodRecord
    {
        QDateTime start;
        QDateTime finish;
        QString projectName;   // the current parameter group at finish
        QStringList pictures;  // result images attached during the cycle
        QMap<QString, param_roi> rois; // the judged ROIs at finish
        bool open = false;
    };

    static ZEV_NETMN* instance();

    // Reads nothing and connects nothing: only logs (once) that network
    // reporting is not part of this build.
    void initStart();

    static QString roiKey(int camera, int detect, int roi);
    // Inserts or replaces the entry of (camera, detect, roi).
    void setRoi(const param_roi& r);
    bool roi(int camera, int detect, int roi, param_roi* out) const;
    QMap<QString, param_roi> roiCache() const;
    int roiCount() const;

    // A new cycle: clears the ROI cache and opens a fresh record.
    void start_PeriodRecord();
    void attach_PeriodPicture(const QString& path);
    // Closes the record with the current group name and the judged ROIs.
    void finish_PeriodRecord();
    PeriodRecord lastRecord() const;

private:
    ZEV_NETMN() = default;
    mutable QMutex m_mutex;
    QMap<QString, param_roi> m_rois;
    PeriodRecord m_current;
    PeriodRecord m_last;
    bool m_toldNoNetwork = false;
};

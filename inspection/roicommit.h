#pragma once
#include <QString>
#include <QStringList>
#include <QVector>

class CameraViewState;
class CammerSingleton;

// Moves the editor's edit copies into production: finds the cameras whose
// edit copy differs from the live store, asks once, writes one "set" record
// per changed ROI, copies, restores the masks, saves to PARAM.db, rebuilds the
// positioning models when a positioning ROI changed, and retrains every
// camera flagged since the last commit. No screen: the editor panel and the
// tests drive it.
class RoiCommit
{
public:
    RoiCommit() = default;
    virtual ~RoiCommit() = default;

    // Cameras 0 .. numCamera - 1; entries may be null.
    void setViews(const QVector<CameraViewState*>& views) { m_views = views; }
    const QVector<CameraViewState*>& views() const { return m_views; }

    // The whole commit. Returns the number of cameras saved.
    int SlotSaveData();

    // The stores hold different ROIs. Editing state (selected mark, handle
    // code, last resize step) does not count.
    static bool storesDiffer(const CammerSingleton& live, const CammerSingleton& edit);
    // The record texts of detection d of camera c, each region of edit
    // compared with its origin in live; *positioning is set when a
    // positioning ROI (type 3 or 10) is involved.
    static QStringList changeRecords(int c, int d, const CammerSingleton& live, const CammerSingleton& edit,
                                     bool* positioning);
    static QString detectionName(int d);
    // to takes from's ROIs, each its own origin now; to keeps its own
    // selection snapshot (the block's tail), so copy and comparison cover the
    // same bytes.
    static void copyStore(CammerSingleton& to, const CammerSingleton& from);

    bool retrainPending[8] = {};

protected:
    // Engine work; the defaults use the view's CammerRecong.
    virtual void retrain(CameraViewState& v, int d);
    virtual void rebuildPositioning(CameraViewState& v, int d);

private:
    QVector<CameraViewState*> m_views;
};

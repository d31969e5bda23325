#pragma once
#include "inspection/camerainfo.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVector>

class CameraInterface;
class QPluginLoader;

// Owner of the camera plug-ins and of the list of cameras in use, one for the
// whole run (created on first use). Cameras keep their numbers across restarts
// through the serial numbers stored in SN.db (table sysparam, rows
// serialNB0..serialNB7). The main window reads and replaces the fields
// directly; everything runs on the GUI thread.
class CameraManager
{
public:
    static CameraManager* _instance;
    static CameraManager* getInstance();

    CameraManager();
    ~CameraManager();

    // Start-up, in this order.
    void loadPlugins();
    void loadCameraSN();
    void findCameras();
    void sortCamera();

    void findSumulateCameras();
    void checkCameraCount();
    void resetCameraSN();
    void saveCameraSN();
    // Entry i of order is the new number of the camera that has number i now;
    // takes effect at the next start.
    void resortCameraSN(QVector<int> order);
    CameraInterface* createCamera(_cameraInfo info);

    // The folder the plug-ins are loaded from: <application dir>/Plugins/Cameras,
    // or STATION_CAMERA_PLUGIN_DIR, or what setPluginDir was given (tests).
    QString pluginDir() const;
    void setPluginDir(const QString& dir) { m_pluginDir = dir; }

    QVector<QPluginLoader*> loaders;   // never unloaded
    QVector<CameraInterface*> plugins; // factories, in load order
    QVector<_cameraInfo> cameras;      // camera 0 first
    QSqlDatabase snDb;                 // connection "dbT" on SN.db
    QSqlQuery snQuery;
    QVector<QString> snList;           // stored order, camera 0 first
    bool noCamera = false;             // cameras holds simulated cameras

    static constexpr int kMaxCameras = 8;
    static constexpr int kMinSerialLength = 8;
    static constexpr int kMaxSerialLength = 256;

private:
    bool openSnDb(bool checkUsable = true);
    bool snDbUsable();
    void restoreDefaultSnDb(const QString& why);

    QString m_pluginDir;
};

#include "simplugindir.h"
#include "inspection/cameramanager.h"
#include "testsupport/testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

QString makeSimPluginDir(const QList<QPair<QString, QJsonObject>>& libs, const QString& folder)
{
    const QString dir = QDir::current().absoluteFilePath(folder);
    QDir().mkpath(dir);
    const QString built = TestEnv::buildDir() + "/Plugins/Cameras/libsimcamera.so";
    for (const auto& l : libs) {
        const QString so = dir + "/" + l.first + ".so";
        QFile::remove(so);
        if (!QFile::copy(built, so))
            return QString();
        if (l.second.isEmpty())
            continue;
        QFile cfg(dir + "/" + l.first + ".json");
        if (!cfg.open(QIODevice::WriteOnly))
            return QString();
        cfg.write(QJsonDocument(l.second).toJson());
    }
    return dir;
}

void loadCameras(CameraManager& m, const QString& dir)
{
    if (dir.isEmpty())
        return;
    m.setPluginDir(dir);
    m.loadPlugins();
    m.findCameras();
}

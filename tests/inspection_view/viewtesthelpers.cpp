#include "simplugindir.h"
#include "testsupport/testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

QString makeSimPluginDir(const QList<QPair<QString, QJsonObject>>& libs)
{
    const QString dir = QDir::current().absoluteFilePath("plugs");
    QDir().mkpath(dir);
    const QString built = TestEnv::buildDir() + "/Plugins/Cameras/libsimcamera.so";
    for (const auto& l : libs) {
        const QString so = dir + "/" + l.first + ".so";
        QFile::remove(so);
        if (!QFile::copy(built, so))
            return QString();
        QFile cfg(dir + "/" + l.first + ".json");
        if (!cfg.open(QIODevice::WriteOnly))
            return QString();
        cfg.write(QJsonDocument(l.second).toJson());
    }
    return dir;
}

#include "viewtesthelpers.h"
#include "inspection/cammerwidget.h"
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

void layoutGrid(const QList<CammerWidget*>& views, int width, int height)
{
    const int n = views.size();
    int cols = 1, rows = 1;
    if (n == 2)
        cols = 2;
    else if (n >= 3 && n <= 4)
        cols = rows = 2;
    else if (n >= 5 && n <= 6)
        cols = 3, rows = 2;
    else if (n >= 7)
        cols = 4, rows = 2;
    const int w = width / cols, h = height / rows;
    for (int i = 0; i < n; ++i) {
        views[i]->setGeometry((i % cols) * w, (i / cols) * h, w, h);
        views[i]->show();
    }
}

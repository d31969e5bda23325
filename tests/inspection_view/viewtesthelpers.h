#pragma once
#include "inspection/camerainterface.h"

#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

class CammerWidget;
class QWidget;

// Copies of the simulated camera plug-in in ./plugs, each configured by the
// JSON file beside it. Returns the folder, empty on failure.
QString makeSimPluginDir(const QList<QPair<QString, QJsonObject>>& libs);

// Lays views out as the main window does for all cameras shown: 2 side by
// side, 3-4 in 2 x 2, 5-6 in 3 x 2, 7-8 in 4 x 2, top row first.
void layoutGrid(const QList<CammerWidget*>& views, int width, int height);

// A camera plug-in whose camera opens but reports no frame size.
class ZeroSizeCamera : public CameraInterface
{
    Q_OBJECT
public:
    static constexpr const char* kName = "ZeroSize";
    bool open() override { return true; }
    void close() override {}
    void start() override {}
    void stop() override {}
    void onLost() override {}
    bool reconnect() override { return true; }
    void setParams(QJsonObject) override {}
    void setExposure(int) override {}
    void setGain(int) override {}
    void setSharp(int) override {}
    void setContrast(int) override {}
    void setGamma(int) override {}
    void setWDR(bool) override {}
    void exposureRange(int*, int*) override {}
    void gainRange(int*, int*) override {}
    void sharpRange(int*, int*) override {}
    void contrastRange(int*, int*) override {}
    void gammaRange(int*, int*) override {}
    void setHMirror(bool) override {}
    void setVMirror(bool) override {}
    void onceWB() override {}
    void setColor(bool) override {}
    bool isColor() override { return false; }
    void setSpeed(int) override {}
    void setValue(QVariant, int) override {}
    void query(QVariant, QVariant&, int) override {}
    void fps(int* out) override { *out = 0; }
    void setTrigger(bool) override {}
    void softTrigger() override {}
    void size(int* w, int* h) override { *w = 0, *h = 0; }
    QString name() override { return kName; }
    bool grab(uchar*) override { return false; }
    void defaults(QJsonObject&, int) override {}
    QVector<_cameraInfo> enumerate() override { return {}; }
    CameraInterface* create(_cameraInfo) override { return new ZeroSizeCamera; }
    int kind() override { return 1; }
};

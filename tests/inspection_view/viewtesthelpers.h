#pragma once
#include "inspection/camerainterface.h"
#include "simplugindir.h"

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

#pragma once
#include "inspection/camerainfo.h"

#include <QJsonObject>
#include <QObject>
#include <QVariant>
#include <QVector>
#include <QtPlugin>

// The one interface of every camera plug-in. The plug-in's root object is the
// factory (name, enumerate, create, kind); the objects it creates are the
// cameras. Plug-ins built for the station are bound to the order of the
// virtual operations below: never reorder, insert or remove one. The five
// reserved entries are operations the station never calls; they keep their
// places in the table.
//
// setValue keys: 0 the live ROI store (a QVariant of the meta type
// "CammerSingleton *"), 8 3D noise reduction, 9 2D noise reduction,
// 10 saturation (doubles). query key 0 takes a JSON object.
class CameraInterface : public QObject
{
    Q_OBJECT
public:
    explicit CameraInterface(QObject* parent = nullptr) : QObject(parent) {}
    ~CameraInterface() override = default;

    /*  1 */ virtual bool open() = 0;
    /*  2 */ virtual void close() = 0;
    /*  3 */ virtual void start() = 0;
    /*  4 */ virtual void stop() = 0;
    /*  5 */ virtual void onLost() = 0;
    /*  6 */ virtual bool reconnect() = 0;
    /*  7 */ virtual void reserved7() {}
    /*  8 */ virtual void setParams(QJsonObject params) = 0;
    /*  9 */ virtual void setExposure(int value) = 0;
    /* 10 */ virtual void setGain(int value) = 0;
    /* 11 */ virtual void setSharp(int value) = 0;
    /* 12 */ virtual void setContrast(int value) = 0;
    /* 13 */ virtual void setGamma(int value) = 0;
    /* 14 */ virtual void reserved14() {}
    /* 15 */ virtual void setWDR(bool on) = 0;
    /* 16 */ virtual void exposureRange(int* min, int* max) = 0;
    /* 17 */ virtual void gainRange(int* min, int* max) = 0;
    /* 18 */ virtual void sharpRange(int* min, int* max) = 0;
    /* 19 */ virtual void contrastRange(int* min, int* max) = 0;
    /* 20 */ virtual void gammaRange(int* min, int* max) = 0;
    /* 21 */ virtual void setHMirror(bool on) = 0;
    /* 22 */ virtual void setVMirror(bool on) = 0;
    /* 23 */ virtual void onceWB() = 0;
    /* 24 */ virtual void reserved24() {}
    /* 25 */ virtual void setColor(bool color) = 0;
    /* 26 */ virtual bool isColor() = 0;
    /* 27 */ virtual void setSpeed(int speed) = 0;
    /* 28 */ virtual void setValue(QVariant value, int key) = 0;
    /* 29 */ virtual void query(QVariant in, QVariant& out, int key) = 0;
    /* 30 */ virtual void fps(int* out) = 0;
    /* 31 */ virtual void setTrigger(bool triggered) = 0;
    /* 32 */ virtual void softTrigger() = 0;
    /* 33 */ virtual void size(int* width, int* height) = 0;
    /* 34 */ virtual QString name() = 0;
    /* 35 */ virtual void reserved35() {}
    /* 36 */ virtual bool grab(uchar* buffer) = 0;
    /* 37 */ virtual void defaults(QJsonObject& params, int camera) = 0;
    /* 38 */ virtual QVector<_cameraInfo> enumerate() = 0;
    /* 39 */ virtual void reserved39() {}
    /* 40 */ virtual CameraInterface* create(_cameraInfo info) = 0;
    /* 41 */ virtual int kind() = 0;

signals:
    // Emitted by a camera object when its device is lost; may come from the
    // plug-in's own thread.
    void sigCameraLost();
};

#define CameraInterface_iid "com.vqk.duvazoz.camerainterface"
Q_DECLARE_INTERFACE(CameraInterface, CameraInterface_iid)

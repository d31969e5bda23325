#pragma once
#include "inspection/camerainterface.h"
#include "simscene.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QStringList>

#include <opencv2/core.hpp>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// The simulated camera plug-in: the factory (root object) and the camera
// objects it creates are this one class, as the interface wants.
//
// Configuration, first found wins: "<library base name>.json" beside the
// library, the file named by STATION_SIMCAMERA_CONFIG, "simcamera.json"
// beside the library, else two mono cameras of 1280 x 1024 ("SIMCAM-0001",
// "SIMCAM-0002"). Top-level keys:
// "typeName" (default "SimCamera"), "kind" (default 1, a real camera's
// stand-in; 0 for the fall-back simulated kind), "count", "callLog"
// (a file every camera appends its calls to, also a grab on a closed
// camera; STATION_SIMCAMERA_LOG when absent), and defaults for the cameras;
// "cameras": one object per camera with "sn", "width", "height", "color"
// (true/false forces it; absent follows setColor), "fps", "openFails",
// "reconnectsToRecover", "loseAfterFrames", "defaultsOmitSpeed" and the
// scene keys of SimScene.
//
// Own keys beyond the station's: setValue(QString command, 100) with
// "lose", "leftBehind", "defect", "trigger"; query(.., out, 100) gives the
// recorded calls (QStringList), query(.., out, 101) the state (QJsonObject).
class SimCamera : public CameraInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.vqk.duvazoz.camerainterface")
    Q_INTERFACES(CameraInterface)
public:
    SimCamera(); // the factory, made by the plug-in loader
    SimCamera(const QJsonObject& cfg, const QString& typeName, int kind, const QString& callLog);
    ~SimCamera() override;

    bool open() override;
    void close() override;
    void start() override;
    void stop() override;
    void onLost() override;
    bool reconnect() override;
    void setParams(QJsonObject params) override;
    void setExposure(int value) override;
    void setGain(int value) override;
    void setSharp(int value) override;
    void setContrast(int value) override;
    void setGamma(int value) override;
    void setWDR(bool on) override;
    void exposureRange(int* min, int* max) override;
    void gainRange(int* min, int* max) override;
    void sharpRange(int* min, int* max) override;
    void contrastRange(int* min, int* max) override;
    void gammaRange(int* min, int* max) override;
    void setHMirror(bool on) override;
    void setVMirror(bool on) override;
    void onceWB() override;
    void setColor(bool color) override;
    bool isColor() override;
    void setSpeed(int speed) override;
    void setValue(QVariant value, int key) override;
    void query(QVariant in, QVariant& out, int key) override;
    void fps(int* out) override;
    void setTrigger(bool triggered) override;
    void softTrigger() override;
    void size(int* width, int* height) override;
    QString name() override;
    bool grab(uchar* buffer) override;
    void defaults(QJsonObject& params, int camera) override;
    QVector<_cameraInfo> enumerate() override;
    CameraInterface* create(_cameraInfo info) override;
    int kind() override;

private:
    static QJsonObject loadConfig(QString* source);
    static QJsonArray cameraList(const QJsonObject& cfg);

    void record(const QString& call);
    void appendToCallLog(const QString& call);
    void startWorker();
    void stopWorker();
    void workerLoop();
    // Renders and publishes one frame; call without m_mx held.
    void produceFrame();
    double brightnessLocked() const;

    // factory and camera
    QJsonObject m_config; // factory: the whole file; camera: its own entry
    QString m_typeName;
    int m_kind = 0;
    QString m_callLog;

    // camera
    QString m_sn;
    int m_width = 1280;
    int m_height = 1024;
    int m_fps = 10;
    bool m_openFails = false;
    int m_reconnectsToRecover = 3;
    int m_loseAfterFrames = 0;
    bool m_omitSpeedDefault = false;
    SimScene m_scene;
    QByteArray m_sceneKey; // everything of the configuration that makes the pixels

    std::mutex m_renderMx; // one frame rendered at a time (the scene caches)
    mutable std::mutex m_mx;
    std::condition_variable m_cv;
    std::thread m_worker;
    bool m_quit = false;
    bool m_open = false;
    bool m_everOpened = false; // a grab before the first open is no fault
    bool m_running = false;
    bool m_trigger = false;
    bool m_lost = false;
    bool m_loseRequested = false;
    bool m_scheduledLossDone = false;
    bool m_askColor = false;
    bool m_color = false;
    int m_reconnectTries = 0;
    int m_exposure = 30;
    int m_gain = 32;
    bool m_hMirror = false;
    bool m_vMirror = false;
    SimScene::Faults m_oneShot;
    cv::Mat m_frame;
    quint64 m_seq = 0;     // frames produced
    quint64 m_grabbed = 0; // sequence number of the last frame grabbed
    quint64 m_grabs = 0;
    int m_lostCount = 0;
    int m_reconnectCalls = 0;
    void* m_liveStore = nullptr;
    std::deque<qint64> m_frameTimes;
    QElapsedTimer m_clock;
    QStringList m_calls;
};

#include "simcamera.h"
#include "frame/imagebound.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>

#include <pthread.h>

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cmath>
#include <cstring>

namespace {

std::mutex g_logMx; // several cameras may append to one call log

// The frames the plug-in's cameras rendered last. Frames are a pure function
// of the scene and the shot, so cameras configured alike (the same scene at
// the same size) show the same frame n: the first to need it renders it, the
// others wait for it and take it. Frames are never written once published.
struct Rendered {
    QByteArray key;
    cv::Mat frame;
    bool ready = false;
};
std::mutex g_renderedMx;
std::condition_variable g_renderedCv;
std::deque<std::shared_ptr<Rendered>> g_rendered; // newest last
constexpr size_t kRenderedKept = 2;

QString libraryPath()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&libraryPath), &info) && info.dli_fname)
        return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteFilePath();
    return QString();
}

QJsonObject readJson(const QString& file, bool* ok)
{
    *ok = false;
    QFile f(file);
    if (!f.exists() || !f.open(QIODevice::ReadOnly))
        return {};
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning() << "simcamera: configuration" << file << "is not a JSON object:" << err.errorString();
        return {};
    }
    *ok = true;
    return doc.object();
}

} // namespace

QJsonObject SimCamera::loadConfig(QString* source)
{
    const QFileInfo lib(libraryPath());
    QStringList candidates;
    if (!lib.filePath().isEmpty())
        candidates << lib.absolutePath() + "/" + lib.completeBaseName() + ".json";
    const QString env = qEnvironmentVariable("STATION_SIMCAMERA_CONFIG");
    if (!env.isEmpty())
        candidates << env;
    if (!lib.filePath().isEmpty())
        candidates << lib.absolutePath() + "/simcamera.json";
    for (const QString& c : candidates) {
        bool ok = false;
        const QJsonObject o = readJson(c, &ok);
        if (ok) {
            *source = c;
            return o;
        }
    }
    *source = QString();
    return {};
}

QJsonArray SimCamera::cameraList(const QJsonObject& cfg)
{
    // Top-level values are the defaults of every camera.
    QJsonObject common = cfg;
    common.remove("cameras");
    common.remove("count");
    common.remove("typeName");
    common.remove("kind");
    common.remove("callLog");
    if (!common.contains("width"))
        common["width"] = 1280;
    if (!common.contains("height"))
        common["height"] = 1024;

    QJsonArray given = cfg.value("cameras").toArray();
    const int count = cfg.contains("cameras") ? given.size() : std::clamp(cfg.value("count").toInt(2), 0, 16);
    QJsonArray out;
    for (int i = 0; i < count; ++i) {
        QJsonObject cam = common;
        const QJsonObject own = i < given.size() ? given.at(i).toObject() : QJsonObject();
        for (auto it = own.begin(); it != own.end(); ++it)
            cam[it.key()] = it.value();
        if (!cam.contains("sn"))
            cam["sn"] = QString("SIMCAM-%1").arg(i + 1, 4, 10, QChar('0'));
        if (!cam.contains("seed"))
            cam["seed"] = i + 1;
        out.append(cam);
    }
    return out;
}

SimCamera::SimCamera()
{
    QString source;
    m_config = loadConfig(&source);
    if (source.isEmpty())
        m_config["color"] = false; // the built-in cameras are mono
    m_typeName = m_config.value("typeName").toString("SimCamera");
    // Unless configured otherwise the simulated cameras stand in for real
    // ones (kind 1): the station starts unattended, keeps their order and
    // never asks about a missing real camera. Kind 0 makes them the
    // station's own fall-back cameras.
    m_kind = m_config.value("kind").toInt(1);
    m_callLog = m_config.value("callLog").toString(qEnvironmentVariable("STATION_SIMCAMERA_LOG"));
    m_clock.start();
    qInfo() << "simcamera:" << m_typeName << "kind" << m_kind << "configured from"
            << (source.isEmpty() ? QString("built-in defaults") : source);
}

SimCamera::SimCamera(const QJsonObject& cfg, const QString& typeName, int kind, const QString& callLog)
    : m_config(cfg), m_typeName(typeName), m_kind(kind), m_callLog(callLog)
{
    m_sn = cfg.value("sn").toString();
    m_width = std::max(16, cfg.value("width").toInt(1280));
    m_height = std::max(16, cfg.value("height").toInt(1024));
    if (!frameSizeAllowed(m_width, m_height)) {
        // Every buffer of the station is this size several times over.
        qWarning().noquote() << "simcamera:" << m_sn << QString("%1x%2").arg(m_width).arg(m_height)
                             << "is beyond the frame bound of" << kMaxImageSide << "a side and"
                             << kMaxImagePixels / (1024 * 1024) << "million pixels; 1280x1024 used";
        m_width = 1280;
        m_height = 1024;
    }
    m_fps = std::clamp(cfg.value("fps").toInt(10), 1, 200);
    m_openFails = cfg.value("openFails").toBool(false);
    m_reconnectsToRecover = std::max(1, cfg.value("reconnectsToRecover").toInt(3));
    m_loseAfterFrames = std::max(0, cfg.value("loseAfterFrames").toInt(0));
    m_omitSpeedDefault = cfg.value("defaultsOmitSpeed").toBool(false);
    m_scene.configure(cfg, m_width, m_height);
    // Keys that only concern the device, not what it sees, are left out.
    QJsonObject scene = cfg;
    for (const char* own : {"sn", "fps", "openFails", "reconnectsToRecover", "loseAfterFrames", "defaultsOmitSpeed"})
        scene.remove(own);
    m_sceneKey = QJsonDocument(scene).toJson(QJsonDocument::Compact) + QByteArray::number(m_width) + 'x' +
                 QByteArray::number(m_height);
    m_clock.start();
}

SimCamera::~SimCamera()
{
    stopWorker();
}

void SimCamera::record(const QString& call)
{
    {
        std::lock_guard<std::mutex> lk(m_mx);
        m_calls << call;
    }
    appendToCallLog(call);
}

void SimCamera::appendToCallLog(const QString& call)
{
    if (!m_callLog.isEmpty()) {
        std::lock_guard<std::mutex> lk(g_logMx);
        QFile f(m_callLog);
        if (f.open(QIODevice::Append | QIODevice::Text))
            f.write((m_sn + " " + call + "\n").toUtf8());
    }
}

// ---- lifecycle ---------------------------------------------------------

bool SimCamera::open()
{
    record("open");
    if (m_openFails) {
        qWarning().noquote() << "simcamera:" << m_sn << "does not open (configured to fail)";
        return false;
    }
    {
        std::lock_guard<std::mutex> lk(m_mx);
        const QJsonValue c = m_config.value("color");
        m_color = c.isBool() ? c.toBool() : m_askColor;
        m_open = true;
        m_everOpened = true;
        m_lost = false;
    }
    startWorker();
    return true;
}

void SimCamera::close()
{
    record("close");
    stopWorker();
    std::lock_guard<std::mutex> lk(m_mx);
    m_open = false;
    m_running = false;
}

void SimCamera::start()
{
    record("start");
    std::lock_guard<std::mutex> lk(m_mx);
    m_running = true;
    m_cv.notify_all();
}

void SimCamera::stop()
{
    record("stop");
    std::lock_guard<std::mutex> lk(m_mx);
    m_running = false;
    m_cv.notify_all();
}

void SimCamera::onLost()
{
    record("onLost");
}

bool SimCamera::reconnect()
{
    bool back = true;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        ++m_reconnectCalls;
        if (m_lost) {
            ++m_reconnectTries;
            if (m_reconnectTries >= m_reconnectsToRecover) {
                m_lost = false;
                m_reconnectTries = 0;
                m_cv.notify_all();
            } else {
                back = false;
            }
        }
    }
    record(QString("reconnect %1").arg(back ? 1 : 0));
    return back;
}

void SimCamera::startWorker()
{
    std::lock_guard<std::mutex> lk(m_mx);
    if (m_worker.joinable())
        return;
    m_quit = false;
    m_worker = std::thread([this] {
        // Named, so that a profile tells the camera's rendering from the station.
        pthread_setname_np(pthread_self(), "simcamera");
        workerLoop();
    });
}

void SimCamera::stopWorker()
{
    {
        std::lock_guard<std::mutex> lk(m_mx);
        m_quit = true;
        m_cv.notify_all();
    }
    if (m_worker.joinable())
        m_worker.join();
}

void SimCamera::workerLoop()
{
    using namespace std::chrono;
    auto last = steady_clock::now() - seconds(1);
    std::unique_lock<std::mutex> lk(m_mx);
    while (!m_quit) {
        if (m_loseRequested) {
            // A lost device is noticed on the camera's own thread, as with a
            // real driver; the station's connection brings it to the GUI.
            m_loseRequested = false;
            m_lost = true;
            ++m_lostCount;
            lk.unlock();
            emit sigCameraLost();
            lk.lock();
            continue;
        }
        if (!m_running || m_trigger || m_lost) {
            m_cv.wait(lk);
            continue;
        }
        const auto next = last + microseconds(1000000 / m_fps);
        if (steady_clock::now() < next) {
            m_cv.wait_until(lk, next);
            continue;
        }
        last = steady_clock::now();
        lk.unlock();
        produceFrame();
        lk.lock();
    }
}

double SimCamera::brightnessLocked() const
{
    const double b = (std::max(1, m_exposure) / 30.0) * std::pow(2.0, (m_gain - 32) / 64.0);
    return std::clamp(b, 0.05, 8.0);
}

void SimCamera::produceFrame()
{
    std::lock_guard<std::mutex> render(m_renderMx);
    quint64 n;
    bool color, hm, vm;
    double bright;
    SimScene::Faults faults;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        if (!m_open || m_lost)
            return;
        n = m_seq;
        color = m_color;
        hm = m_hMirror;
        vm = m_vMirror;
        bright = brightnessLocked();
        faults = m_oneShot;
        m_oneShot = SimScene::Faults();
    }
    QByteArray key = m_sceneKey;
    key += ' ' + QByteArray::number(n) + ' ' + QByteArray::number(bright, 'g', 17) + ' ' +
           QByteArray::number(int(color) | int(hm) << 1 | int(vm) << 2 | int(faults.leftBehind) << 3 |
                              int(faults.defect) << 4);
    cv::Mat frame;
    std::shared_ptr<Rendered> mine;
    {
        std::unique_lock<std::mutex> lk(g_renderedMx);
        const auto it = std::find_if(g_rendered.begin(), g_rendered.end(),
                                     [&key](const std::shared_ptr<Rendered>& r) { return r->key == key; });
        if (it != g_rendered.end()) {
            const std::shared_ptr<Rendered> theirs = *it;
            g_renderedCv.wait(lk, [&theirs] { return theirs->ready; });
            frame = theirs->frame;
        } else {
            mine = std::make_shared<Rendered>();
            mine->key = key;
            g_rendered.push_back(mine);
            if (g_rendered.size() > kRenderedKept)
                g_rendered.pop_front();
        }
    }
    if (frame.empty()) {
        try {
            m_scene.render(n, color, bright, hm, vm, faults, frame);
        } catch (...) {
            frame.release();
        }
        if (mine) {
            std::lock_guard<std::mutex> lk(g_renderedMx);
            mine->frame = frame;
            mine->ready = true;
            g_renderedCv.notify_all();
        }
    }
    std::lock_guard<std::mutex> lk(m_mx);
    if (!m_open || m_lost)
        return;
    m_frame = frame;
    m_seq = n + 1;
    const qint64 now = m_clock.elapsed();
    m_frameTimes.push_back(now);
    while (!m_frameTimes.empty() && m_frameTimes.front() < now - 1000)
        m_frameTimes.pop_front();
    if (m_loseAfterFrames > 0 && !m_scheduledLossDone && m_seq >= quint64(m_loseAfterFrames)) {
        m_scheduledLossDone = true;
        m_loseRequested = true;
        m_cv.notify_all();
    }
}

// ---- settings ------------------------------------------------------------

void SimCamera::setParams(QJsonObject params)
{
    record("setParams " + QString::fromUtf8(QJsonDocument(params).toJson(QJsonDocument::Compact)));
    std::lock_guard<std::mutex> lk(m_mx);
    if (params.contains("exposetime"))
        m_exposure = params.value("exposetime").toInt(m_exposure);
    if (params.contains("gain"))
        m_gain = params.value("gain").toInt(m_gain);
    if (params.contains("HMirror"))
        m_hMirror = params.value("HMirror").toBool();
    if (params.contains("VMirror"))
        m_vMirror = params.value("VMirror").toBool();
    if (params.contains("sysUsage"))
        m_trigger = params.value("sysUsage").toBool();
    m_cv.notify_all();
}

void SimCamera::setExposure(int value)
{
    record(QString("setExposure %1").arg(value));
    std::lock_guard<std::mutex> lk(m_mx);
    m_exposure = value;
}

void SimCamera::setGain(int value)
{
    record(QString("setGain %1").arg(value));
    std::lock_guard<std::mutex> lk(m_mx);
    m_gain = value;
}

void SimCamera::setSharp(int value) { record(QString("setSharp %1").arg(value)); }
void SimCamera::setContrast(int value) { record(QString("setContrast %1").arg(value)); }
void SimCamera::setGamma(int value) { record(QString("setGamma %1").arg(value)); }
void SimCamera::setWDR(bool on) { record(QString("setWDR %1").arg(on ? 1 : 0)); }

void SimCamera::exposureRange(int* min, int* max) { if (min) *min = 1; if (max) *max = 10000; }
void SimCamera::gainRange(int* min, int* max) { if (min) *min = 0; if (max) *max = 10000; }
void SimCamera::sharpRange(int* min, int* max) { if (min) *min = 0; if (max) *max = 100; }
void SimCamera::contrastRange(int* min, int* max) { if (min) *min = 0; if (max) *max = 100; }
void SimCamera::gammaRange(int* min, int* max) { if (min) *min = 0; if (max) *max = 100; }

void SimCamera::setHMirror(bool on)
{
    record(QString("setHMirror %1").arg(on ? 1 : 0));
    std::lock_guard<std::mutex> lk(m_mx);
    m_hMirror = on;
}

void SimCamera::setVMirror(bool on)
{
    record(QString("setVMirror %1").arg(on ? 1 : 0));
    std::lock_guard<std::mutex> lk(m_mx);
    m_vMirror = on;
}

void SimCamera::onceWB() { record("onceWB"); }

void SimCamera::setColor(bool color)
{
    record(QString("setColor %1").arg(color ? 1 : 0));
    std::lock_guard<std::mutex> lk(m_mx);
    m_askColor = color;
}

bool SimCamera::isColor()
{
    std::lock_guard<std::mutex> lk(m_mx);
    return m_color;
}

void SimCamera::setSpeed(int speed) { record(QString("setSpeed %1").arg(speed)); }

void SimCamera::setValue(QVariant value, int key)
{
    if (key == 100) { // our own control channel, not a setting
        const QString cmd = value.toString();
        bool trigger = false;
        {
            std::lock_guard<std::mutex> lk(m_mx);
            if (cmd == "lose" && m_open && !m_lost)
                m_loseRequested = true;
            else if (cmd == "leftBehind")
                m_oneShot.leftBehind = true;
            else if (cmd == "defect")
                m_oneShot.defect = true;
            else if (cmd == "trigger")
                trigger = true;
            m_cv.notify_all();
        }
        if (trigger)
            produceFrame();
        return;
    }
    if (key == 0) {
        std::lock_guard<std::mutex> lk(m_mx);
        // Only kept; the store belongs to the GUI thread.
        const bool isPointer = value.isValid() && QByteArray(value.typeName()).endsWith('*');
        m_liveStore = isPointer ? *static_cast<void* const*>(value.constData()) : nullptr;
    }
    record(QString("setValue %1 %2").arg(key).arg(key == 0 ? QString(value.typeName()) : value.toString()));
}

void SimCamera::query(QVariant in, QVariant& out, int key)
{
    if (key == 100) {
        std::lock_guard<std::mutex> lk(m_mx);
        out = m_calls;
        return;
    }
    if (key == 101) {
        std::lock_guard<std::mutex> lk(m_mx);
        QJsonObject s;
        s["frames"] = double(m_seq);
        s["grabs"] = double(m_grabs);
        s["open"] = m_open;
        s["running"] = m_running;
        s["trigger"] = m_trigger;
        s["lost"] = m_lost;
        s["lostCount"] = m_lostCount;
        s["reconnectCalls"] = m_reconnectCalls;
        s["exposure"] = m_exposure;
        s["gain"] = m_gain;
        s["hMirror"] = m_hMirror;
        s["vMirror"] = m_vMirror;
        s["color"] = m_color;
        s["hasLiveStore"] = m_liveStore != nullptr;
        out = s;
        return;
    }
    record(QString("query %1 %2").arg(key).arg(
        QString::fromUtf8(QJsonDocument(in.toJsonObject()).toJson(QJsonDocument::Compact))));
    out = 0; // a simulated camera has no temperature to tell
}

void SimCamera::fps(int* out)
{
    if (!out)
        return;
    std::lock_guard<std::mutex> lk(m_mx);
    const qint64 now = m_clock.elapsed();
    int n = 0;
    for (qint64 t : m_frameTimes)
        if (t >= now - 1000)
            ++n;
    *out = n;
}

void SimCamera::setTrigger(bool triggered)
{
    record(QString("setTrigger %1").arg(triggered ? 1 : 0));
    std::lock_guard<std::mutex> lk(m_mx);
    m_trigger = triggered;
    m_cv.notify_all();
}

void SimCamera::softTrigger()
{
    record("softTrigger");
    produceFrame();
}

void SimCamera::size(int* width, int* height)
{
    if (width)
        *width = m_width;
    if (height)
        *height = m_height;
}

QString SimCamera::name()
{
    return m_typeName;
}

bool SimCamera::grab(uchar* buffer)
{
    std::unique_lock<std::mutex> lk(m_mx);
    if (!m_open && m_everOpened) {
        // Grabbing a closed camera is the caller's fault: the call log shows it.
        lk.unlock();
        appendToCallLog("grab on a closed camera");
        return false;
    }
    if (!buffer || !m_open || m_lost || m_frame.empty() || m_seq == m_grabbed)
        return false;
    const size_t bytes = size_t(m_width) * size_t(m_height) * (m_color ? 4 : 1);
    if (!m_frame.isContinuous() || m_frame.total() * m_frame.elemSize() != bytes)
        return false; // a frame of an earlier colour setting
    std::memcpy(buffer, m_frame.data, bytes);
    m_grabbed = m_seq;
    ++m_grabs;
    return true;
}

void SimCamera::defaults(QJsonObject& params, int camera)
{
    record(QString("defaults %1").arg(camera));
    params["exposeTime"] = 30;
    params["adjustPlus"] = 32;
    params["sharp"] = 50;
    params["contrast"] = 50;
    params["gamma"] = 50;
    params["isHMirror"] = 0;
    params["isVMirror"] = 0;
    params["sysUsage"] = 0;
    params["isWDR"] = 0;
    if (m_omitSpeedDefault)
        params.remove("speed");
    else
        params["speed"] = 12;
}

// ---- factory -------------------------------------------------------------

QVector<_cameraInfo> SimCamera::enumerate()
{
    QVector<_cameraInfo> list;
    const QJsonArray cams = cameraList(m_sn.isEmpty() ? m_config : QJsonObject{{"cameras", QJsonArray{m_config}}});
    for (int i = 0; i < cams.size(); ++i) {
        const QJsonObject c = cams.at(i).toObject();
        _cameraInfo info;
        info.index = i;
        info.typeName = m_typeName;
        info.setSerial(c.value("sn").toString());
        info.params = c;
        list.append(info);
    }
    return list;
}

CameraInterface* SimCamera::create(_cameraInfo info)
{
    if (info.typeName != m_typeName)
        return nullptr;
    QJsonObject cfg = info.params;
    if (cfg.isEmpty()) {
        for (const _cameraInfo& known : enumerate())
            if (known.serial() == info.serial())
                cfg = known.params;
    }
    if (cfg.isEmpty())
        return nullptr;
    return new SimCamera(cfg, m_typeName, m_kind, m_callLog);
}

int SimCamera::kind()
{
    return m_kind;
}

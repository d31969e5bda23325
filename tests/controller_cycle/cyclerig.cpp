#include "cyclerig.h"
#include "controller/controlport.h"
#include "controller/iothread.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cammerrecong.h"
#include "inspection/cammersingleton.h"
#include "simscene.h"
#include "platform/platformpath.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QMutex>
#include <QPluginLoader>
#include <QThread>
#include <QtTest>

namespace {

CameraInterface* cameraFactory()
{
    static CameraInterface* factory = nullptr;
    if (!factory) {
        QPluginLoader loader(TestEnv::buildDir() + "/Plugins/Cameras/libsimcamera.so");
        factory = qobject_cast<CameraInterface*>(loader.instance());
        if (!factory)
            qWarning("simcamera: %s", qPrintable(loader.errorString()));
    }
    return factory;
}

bool waitFor(const std::function<bool()>& pred, int ms = 2000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QThread::usleep(200);
    }
    return true;
}

} // namespace

CycleRig::CycleRig(int cameras)
{
    // A fresh process: counters, flags, board words, LEDs and the message
    // table as after a start.
    env = std::make_unique<TestEnv>(false);
    gLan = 1;
    Clock::install(&clock);
    OperatorPrompt::install(&prompt);
    state = new RecordingState;
    state->runState = 3;
    gpWin = state;
    gpWPara = new WizardPara;
    for (int& v : gpWPara->outInitState)
        v = 0;
    gpWPara->systemMode = 0;
    gpWPara->semiAuto = 1; // the mould detection on its own input 2
    gpWPara->enableProdDetect = 0;
    gpWPara->deriveByMode(&state->curMould);
    gPicNumNG = gPicNumOK = 10;
    numCamera = cameras;

    sim = std::make_unique<BoardSim>();
    std::string err;
    if (!sim->open(&err) || !sim->linkAt(platform::path("/dev/ttyS1").toStdString(), &err)) {
        qWarning("%s", err.c_str());
        return;
    }
    sim->start();
    gpControlIO = new ControlPort();
    if (!gpCom)
        return;
    gpControlIO->InitIOThread();
    // The main window's reaction to a changed output word: poll in 1 ms.
    QObject::connect(gpControlIO, &ControlPort::sigIOChange, [this] {
        if (cycle)
            cycle->outputsChanged();
    });
    machine = std::make_unique<MouldingMachine>(*sim, MouldingMachine::Timing()); // closed 2 s, open 1.5 s

    CameraInterface* f = cameraFactory();
    if (!f)
        return;
    const auto infos = f->enumerate();
    for (int c = 0; c < cameras && c < infos.size(); ++c) {
        CameraInterface* cam = f->create(infos[c]);
        if (!cam || !cam->open())
            return;
        cam->setTrigger(true);
        cam->start();
        auto v = std::make_unique<CameraViewState>();
        v->cameraIndex = c;
        v->camera = cam;
        cam->size(&v->imageWidth, &v->imageHeight);
        v->pixelCount = v->frameBytes = v->imageWidth * v->imageHeight;
        for (PixelBuffer* b : {&v->frameBuffer, &v->alignedFrame, &v->workFrame, &v->displayBuffer})
            b->allocate(size_t(v->frameBytes));
        v->grayBuffer.allocate(size_t(v->pixelCount));
        v->defectMask.allocate(size_t(v->pixelCount));
        // Every detection: one ROI on the flat body a part left in each
        // cavity shows (grey 200 against a floor below 120).
        SimScene scene;
        scene.configure(QJsonObject(), v->imageWidth, v->imageHeight);
        auto store = std::make_unique<CammerSingleton>(c, v.get());
        for (int d = 0; d < 4; ++d) {
            for (int r = 0; r < kCavities; ++r) {
                const cv::Rect part = scene.partRect(r);
                const QRect box(part.x + part.width / 10, part.y + part.height / 4, part.width / 5, part.height / 2);
                const int i = d * 100 + r;
                store->funcType[i] = 1;
                store->shapeKind[i] = 1;
                store->paramA[i] = 0;
                store->paramB[i] = 50;
                store->paramC[i] = 185 | (215 << 8);
                store->rects[i].imageRect = store->rects[i].rect = box;
                v->liveMasks[d][r] = cv::Mat(box.height(), box.width(), CV_8UC1, cv::Scalar(255));
            }
            store->roiCount[d] = kCavities;
        }
        v->liveStore = v->editStore = store.get();
        auto engine = std::make_unique<CammerRecong>(store.get(), v.get());
        for (int d = 0; d < 4; ++d)
            engine->VarTrain(d);
        v->recong = engine.get(); // as each view holds its camera's engine
        cams.push_back(cam);
        views.push_back(std::move(v));
        stores.push_back(std::move(store));
        engines.push_back(std::move(engine));
    }
    cycle = std::make_unique<MachineCycle>(this);
    state->cycle = cycle.get();
    std::vector<CameraViewState*> raw;
    for (auto& v : views)
        raw.push_back(v.get());
    cycle->setCameras(raw);
    machine->tick(clock.monotonicMs());
    m_seenInputs = sim->inputs();
    m_ok = cams.size() == size_t(cameras);
}

CycleRig::~CycleRig()
{
    cycle.reset();
    engines.clear();
    stores.clear();
    for (CameraInterface* c : cams) {
        c->close();
        delete c;
    }
    OperatorPrompt::install(nullptr);
    env.reset(); // the board link first, the parameters, the clock, the globals
    sim.reset();
    delete state;
}

bool CycleRig::grab(int camera)
{
    CameraViewState& v = *views[size_t(camera)];
    // As the view grabs: a poll without a new frame leaves the frame as it was.
    if (!cams[size_t(camera)]->grab(v.frameBuffer.overwrite())) {
        v.frameBuffer.keepPrevious();
        return false;
    }
    std::memcpy(v.displayBuffer.data(), v.frameBuffer.data(), v.frameBuffer.size());
    return true;
}

void CycleRig::inspect(int camera, int d)
{
    inspected << QPoint(camera, d);
    inspectOnEngine(*engines[size_t(camera)], d);
}

void CycleRig::softTrigger(int camera) { cams[size_t(camera)]->softTrigger(); }

void CycleRig::shoot(const std::vector<int>& leftBehind)
{
    for (int c : leftBehind)
        cams[size_t(c)]->setValue(QString("leftBehind"), 100);
    for (CameraInterface* c : cams)
        c->setValue(QString("trigger"), 100);
}

void CycleRig::setInput(int n, bool level)
{
    sim->setInput(n, level);
    settle();
    wake();
}

void CycleRig::set(std::initializer_list<int> inputs, bool level, int ms)
{
    for (int n : inputs)
        setInput(n, level);
    run(ms);
}

void CycleRig::byHand()
{
    machine->setEnabled(false);
    autoShoot = false;
    cycle->StartDetect();
    cycle->startPolling();
}

void CycleRig::wake()
{
    // The I/O thread's input-change signal calls the poll at once.
    const uint32_t in = sim->inputs();
    if (in != m_seenInputs && cycle) {
        m_seenInputs = in;
        cycle->Run();
        settle();
    }
}

void CycleRig::settle()
{
    // Once the link failed to settle the test has failed: later steps do not
    // wait again, so it ends in seconds instead of at the test time-out.
    if (m_unsettled)
        return;
    const bool ok = waitFor([this] {
        uint32_t in, out;
        {
            QMutexLocker l(pMutexIO);
            in = gDataIn;
            out = gDataOut;
        }
        const bool stale = gpControlIO->ioThread() && gpControlIO->ioThread()->isStale();
        return (in == (sim->inputs() & 0x3FF) || stale) && ((out & 0x3FF) == sim->outputs() || stale || sim->silent());
    });
    if (!ok) {
        m_unsettled = true;
        QTest::qFail(qPrintable(QString::asprintf("board link did not settle: in %x/%x out %x/%x", gDataIn,
                                                  sim->inputs(), gDataOut, sim->outputs())),
                     __FILE__, __LINE__);
    }
}

void CycleRig::run(int ms)
{
    for (int t = 0; t < ms; t += 10) {
        machine->tick(clock.monotonicMs());
        const bool open = sim->inputs() & 1u;
        if (open && !m_prevOpen && autoShoot) {
            shoot(leftBehindNext);
            leftBehindNext.clear();
        }
        m_prevOpen = open;
        settle();
        wake();
        clock.advance(10);
        settle();
    }
}

void CycleRig::loseCamera(int c)
{
    cams[size_t(c)]->setValue(QString("lose"), 100);
    waitFor([&] {
        QVariant out;
        cams[size_t(c)]->query(QVariant(), out, 101);
        return out.toJsonObject().value("lost").toBool();
    });
    // What the camera view does on its plug-in's lost signal.
    views[size_t(c)]->isConnected = false;
    cycle->LostCamera();
}

void CycleRig::recoverCamera(int c)
{
    for (int i = 0; i < 10 && !cams[size_t(c)]->reconnect(); ++i) {
    }
    views[size_t(c)]->isConnected = true;
}

int CycleRig::runUntil(const std::function<bool()>& pred, int maxMs)
{
    int t = 0;
    while (!pred() && t < maxMs) {
        run(10);
        t += 10;
    }
    return t;
}

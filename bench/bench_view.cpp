// Painting of the camera views per poll: eight 1280 x 1024 views in the
// all-cameras grid with a 17-region detection and the NG overlay, one view
// full screen, and colour frames, each against a plain QPainter::drawImage of
// the same frames into the same cells with the same scaling. Also the
// grab-to-screen latency at a 100 ms poll and the resident memory of eight
// views with 10 template slots per detection.
//
// Runs over the simulated camera plug-in of the build tree (offscreen).
#include "testsupport/testenv.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/wizardpara.h"
#include "inspection/cameramanager.h"
#include "inspection/camerainterface.h"
#include "inspection/ui/cammerwidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int kScreenW = 1280;
constexpr int kScreenH = 800;

struct Station
{
    QTemporaryDir dir;
    std::unique_ptr<QWidget> host;
    QList<CammerWidget*> views;
    long rssBeforeKb = 0;
    long rssAfterKb = 0;

    // Views over `count` simulated cameras (colour or mono) laid out as the
    // main window shows all cameras (count 1: full screen).
    Station(int count, bool colour)
    {
        gShowW = kScreenW;
        gShowH = kScreenH;
        QJsonArray cams;
        for (int i = 0; i < count; ++i)
            cams.append(QJsonObject{{"sn", QString("BENCH-CAM-%1").arg(i, 4, 10, QChar('0'))}, {"color", colour}});
        const QString plugs = dir.path() + "/plugs";
        QDir().mkpath(plugs);
        const QString built = qEnvironmentVariable("STATION_BUILD_DIR", QCoreApplication::applicationDirPath() + "/..");
        QFile::copy(built + "/Plugins/Cameras/libsimcamera.so", plugs + "/bench.so");
        QFile cfg(plugs + "/bench.json");
        cfg.open(QIODevice::WriteOnly);
        cfg.write(QJsonDocument(QJsonObject{{"typeName", colour ? "BenchColour" : "BenchMono"},
                                            {"kind", 1},
                                            {"fps", 10},
                                            {"cameras", cams}})
                      .toJson());
        cfg.close();
        QDir::setCurrent(dir.path());

        delete CameraManager::_instance;
        CameraManager::_instance = new CameraManager;
        CameraManager* m = CameraManager::_instance;
        m->setPluginDir(plugs);
        m->loadPlugins();
        m->findCameras();

        host = std::make_unique<QWidget>();
        host->resize(kScreenW, kScreenH);
        rssBeforeKb = residentKb();
        for (int i = 0; i < m->cameras.size() && i < count; ++i)
            views << new CammerWidget(host.get(), i, m->cameras[i]);
        rssAfterKb = residentKb();
        numCamera = views.size();

        const int cols = count == 1 ? 1 : count == 2 ? 2 : count <= 4 ? 2 : count <= 6 ? 3 : 4;
        const int rows = count <= 2 ? 1 : 2;
        const int w = kScreenW / cols, h = kScreenH / rows;
        for (int i = 0; i < views.size(); ++i) {
            CammerWidget* v = views[i];
            v->setGeometry((i % cols) * w, (i / cols) * h, w, h);
            v->show();
            v->CameraChangeTrig(true);
            v->camera->setValue(QString("trigger"), 100);
            v->UpdateImage();
            addRois(v);
        }
    }

    ~Station()
    {
        qDeleteAll(views);
        host.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    // 17 regions in detection 0, the second one NG with a defect blob.
    static void addRois(CammerWidget* v)
    {
        CammerSingleton* s = v->liveStore;
        s->roiCount[0] = 17;
        for (int r = 0; r < 17; ++r) {
            s->shapeKind[r] = 1;
            s->funcType[r] = r % 5 == 4 ? 2 : r % 3;
            s->paramA[r] = 45;
            s->paramB[r] = 100;
            s->paramC[r] = 3;
            const int x = 40 + (r % 6) * 200, y = 60 + (r / 6) * 240;
            s->rects[r].rect = QRect(QPoint(x, y), QPoint(x + 170, y + 200));
            s->rects[r].setShowA(v->roiScaleX, v->roiScaleY);
            s->rects[r].setImageRect();
            v->roiResult[0][r] = r == 1 ? 0 : 1;
            v->roiValue[0][r] = 10 + r;
        }
        const QRect fb = s->rects[1].imageRect;
        for (int y = fb.top() + 20; y < fb.top() + 80; ++y)
            std::memset(v->defectMask.data() + size_t(y) * size_t(v->imageWidth) + size_t(fb.left() + 20), 1, 60);
        v->isOK = false;
    }
};

void setUpState()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    MessageTable::load();
    gLan = 1;
    gDNum = 2;
    gTempNum = 10;
    gSource = 1;
    gpWPara = new WizardPara;
    gpWParaBak = new WizardPara;
    for (int c = 0; c < 8; ++c) {
        gpWPara->exposeTime[c] = 30;
        gpWPara->adjustPlus[c] = 32;
    }
    gpWPara->alarmArea = 100;
    gpWPara->filterSize = 3;
    MainState* st = new MainState;
    gpWin = st;
    st->paraDb = QSqlDatabase::addDatabase("QSQLITE", "dbIn");
    st->paraDb.setDatabaseName(":memory:");
    st->paraDb.open();
    st->paraQuery = QSqlQuery(st->paraDb);
    st->runState = 1;
    st->detectState = 2; // NG: overlay, regions and verdict
    st->ngAlarmActive = true;
    st->progressState = 2;
}

// The yardstick: the same frames as QImages straight from the frame buffers,
// drawn into the same cells with the same scaling.
void plainDraw(const Station& st, QImage& target)
{
    QPainter p(&target);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    for (CammerWidget* v : st.views) {
        const QImage frame = v->isColor ? QImage(v->displayBuffer.data(), v->imageWidth, v->imageHeight,
                                                 v->imageWidth * 4, QImage::Format_RGB32)
                                        : QImage(v->displayBuffer.data(), v->imageWidth, v->imageHeight,
                                                 v->imageWidth, QImage::Format_Grayscale8);
        p.drawImage(v->geometry(), frame);
    }
}

void paintViews(benchmark::State& state, int count, bool colour, bool yardstick)
{
    setUpState();
    Station st(count, colour);
    QImage target(kScreenW, kScreenH, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        if (yardstick)
            plainDraw(st, target);
        else
            st.host->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    state.counters["views"] = st.views.size();
}

void BM_PaintEightMono(benchmark::State& s) { paintViews(s, 8, false, false); }
void BM_PlainEightMono(benchmark::State& s) { paintViews(s, 8, false, true); }
void BM_PaintOneMono(benchmark::State& s) { paintViews(s, 1, false, false); }
void BM_PlainOneMono(benchmark::State& s) { paintViews(s, 1, false, true); }
void BM_PaintEightColour(benchmark::State& s) { paintViews(s, 8, true, false); }
void BM_PlainEightColour(benchmark::State& s) { paintViews(s, 8, true, true); }
BENCHMARK(BM_PaintEightMono)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainEightMono)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PaintOneMono)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainOneMono)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PaintEightColour)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainEightColour)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The idle screen: two grey 1280 x 1024 cameras side by side on 1280 x 800,
// no region, the OK verdict, status line and counters over the frame, the
// window painted as the screen is. Per iteration a new frame for each view
// (its grab counted), or the frames shown already painted again.
void liveViews(benchmark::State& state, bool fresh)
{
    setUpState();
    MainState* w = gpWin;
    const int ds = w->detectState;
    const bool alarm = w->ngAlarmActive;
    w->detectState = 1;
    w->ngAlarmActive = false;
    Station st(2, false);
    for (CammerWidget* v : st.views) {
        v->liveStore->roiCount[0] = 0;
        v->isOK = true;
    }
    QImage target(kScreenW, kScreenH, QImage::Format_RGB32);
    st.host->render(&target);
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            for (CammerWidget* v : st.views)
                v->camera->setValue(QString("trigger"), 100);
            state.ResumeTiming();
            for (CammerWidget* v : st.views)
                v->UpdateImage();
        }
        st.host->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    w->detectState = ds;
    w->ngAlarmActive = alarm;
}

void BM_LiveTwoMonoNewFrame(benchmark::State& s) { liveViews(s, true); }
void BM_LiveTwoMonoSameFrame(benchmark::State& s) { liveViews(s, false); }
BENCHMARK(BM_LiveTwoMonoNewFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LiveTwoMonoSameFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Plug-in frame to the end of the paint that shows it. A camera thread
// delivers frames every 100 ms at a phase that drifts against the 100 ms
// poll; each poll grabs and repaints at once, as the cycle poll does.
void latency(benchmark::State& state, int count)
{
    setUpState();
    Station st(count, false);
    st.host->show();
    using Clock = std::chrono::steady_clock;
    const int frames = int(state.range(0));
    std::vector<double> ms;
    for (auto _ : state) {
        ms.clear();
        std::atomic<bool> quit{false};
        std::atomic<long long> produced{0}; // ns of the last frame of camera 0
        std::thread camera([&] {
            auto next = Clock::now();
            while (!quit) {
                next += std::chrono::microseconds(100700); // drifts against the poll
                std::this_thread::sleep_until(next);
                for (CammerWidget* v : st.views)
                    v->camera->setValue(QString("trigger"), 100);
                produced = Clock::now().time_since_epoch().count();
            }
        });
        QEventLoop loop;
        QTimer poll;
        long long lastShown = 0;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            bool fresh = false;
            for (CammerWidget* v : st.views)
                fresh = v->UpdateImage() || fresh;
            const long long made = produced.load();
            for (CammerWidget* v : st.views)
                v->repaint();
            if (fresh && made != lastShown) {
                lastShown = made;
                ms.push_back((Clock::now().time_since_epoch().count() - made) / 1e6);
            }
            if (int(ms.size()) >= frames)
                loop.quit();
        });
        poll.start(100);
        loop.exec();
        quit = true;
        camera.join();
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms.empty() ? 0 : ms[ms.size() / 2];
    state.counters["worst_ms"] = ms.empty() ? 0 : ms.back();
    state.counters["frames"] = double(ms.size());
}

void BM_LatencyOne(benchmark::State& s) { latency(s, 1); }
void BM_LatencyEight(benchmark::State& s) { latency(s, 8); }
BENCHMARK(BM_LatencyOne)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LatencyEight)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond);

// Resident memory that eight views add (templates and recent NG frames stay
// unbacked until written).
void BM_MemoryEightViews(benchmark::State& state)
{
    setUpState();
    for (auto _ : state) {
        Station st(8, false);
        state.counters["rss_added_MiB"] = double(st.rssAfterKb - st.rssBeforeKb) / 1024.0;
        state.counters["rss_total_MiB"] = double(st.rssAfterKb) / 1024.0;
        // The simulated cameras' own share (scene, noise, frames): the same
        // eight cameras opened, started and triggered without views.
        CameraManager* m = CameraManager::_instance;
        const long before = residentKb();
        std::vector<CameraInterface*> cams;
        for (int i = 0; i < m->cameras.size() && i < 8; ++i) {
            CameraInterface* c = m->createCamera(m->cameras[i]);
            c->setColor(false);
            c->open();
            c->start();
            c->setTrigger(true);
            c->setValue(QString("trigger"), 100);
            cams.push_back(c);
        }
        state.counters["rss_cameras_MiB"] = double(residentKb() - before) / 1024.0;
        // One live store loaded for a view, as each view holds (plus an
        // unloaded edit copy).
        const long beforeStore = residentKb();
        std::unique_ptr<CammerSingleton> store(new CammerSingleton(0, st.views.first()));
        store->LoadDatafromFile(st.views.first());
        state.counters["rss_one_store_MiB"] = double(residentKb() - beforeStore) / 1024.0;
        for (CameraInterface* c : cams) {
            c->stop();
            c->close();
            delete c;
        }
    }
}
BENCHMARK(BM_MemoryEightViews)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

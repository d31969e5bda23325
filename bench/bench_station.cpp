// The whole station as it runs: the real main window over the simulated
// camera plug-in, each camera's engine judging the typical ROI set taught
// into PARAM.db, the board simulator's moulding machine on a pseudo-terminal
// at a fixed pace. Reported in one run:
//  - eight colour 2448 x 2048 cameras at 600 cycles a minute: openings the
//    station missed (machine cycles without a decision, clamps too late),
//    the time it held the mould, and the trigger-to-decision time on the wire
//    (ejector input rising to the cycle's decision, read as it is counted);
//  - one camera's inspection (alignment, positioning, judging) of such a frame;
//  - the hue and grey conversion of one 2448 x 2048 colour frame against a
//    plain OpenCV pass (BGRA to grey) over the same frame;
//  - an idle station with two mono 1280 x 1024 cameras running free at
//    10 frames a second: CPU of the process and of the GUI thread, in per
//    cent of one core (the simulated cameras render on their own threads);
//  - alignment on (angleCorrect) per 1280 x 1024 camera;
//  - a sweep of machine paces (30 to 600 openings a minute) with two mono
//    1280 x 1024 and eight colour 2448 x 2048 cameras on the machine's
//    trigger: openings decided, the trigger-to-decision median and 95th
//    percentile, CPU and resident memory at each pace; CPU and resident
//    memory of the same station idle (cameras running free, no machine);
//    and the side-by-side inspection of all cameras (InspectAll) of one
//    frame.
// Run it with `taskset -c 0,1` for the two-core figures.
#include "cyclebench.h"
#include "mouldingmachine.h"
#include "simscene.h"
#include "controller/controlport.h"
#include "controller/machinecycle.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/imagetools.h"
#include "frame/parameterstartup.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cammerrecong.h"
#include "inspection/cammersingleton.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection_engine/enginerig.h"
#include "testsupport/testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QSqlQuery>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <pthread.h>
#include <unistd.h>
#include <thread>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now().time_since_epoch()).count();
}

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double residentMb()
{
    return double(residentKb()) / 1024.0;
}

// CPU of the threads that stand in for the hardware (the simulated cameras'
// rendering, the board simulator): the station's own share is the process
// less these (and less the bench's machine and trigger lines).
double simulatorCpuMs()
{
    static const double tick = double(sysconf(_SC_CLK_TCK));
    double ms = 0;
    for (const QString& tid : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + tid + "/comm"), stat("/proc/self/task/" + tid + "/stat");
        if (!comm.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray name = comm.readAll().trimmed();
        if (name != "simcamera" && name != "boardsim")
            continue;
        // utime and stime: fields 14 and 15, counted after the name's ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 12)
            ms += (f[11].toDouble() + f[12].toDouble()) * 1000.0 / tick;
    }
    return ms;
}

double processCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Per cent of one core since it was made: the whole process, and the
// station's own threads (the process less the simulators and less `lent`
// ms of the bench's own threads).
struct CpuWatch {
    double process0 = processCpuMs(), sims0 = simulatorCpuMs();
    SteadyClock::time_point t0 = SteadyClock::now();
    double wallMs() const { return std::max(1.0, Ms(SteadyClock::now() - t0).count()); }
    double processPct(double lent = 0) const { return 100.0 * (processCpuMs() - process0 - lent) / wallMs(); }
    double stationPct(double lent = 0) const
    {
        return 100.0 * (processCpuMs() - process0 - lent - (simulatorCpuMs() - sims0)) / wallMs();
    }
};

void appOnce()
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The start-up skips its network-card and camera waits for this path.
    qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", "/opt/Qt5.15.7/plugins/platforms");
    static int argc = 1;
    static char name[] = "bench_station";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    const QString build = QDir(QCoreApplication::applicationDirPath() + "/..").absolutePath();
    if (qEnvironmentVariableIsEmpty("STATION_BUILD_DIR"))
        qputenv("STATION_BUILD_DIR", build.toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("STATION_CAMERA_PLUGIN_DIR"))
        qputenv("STATION_CAMERA_PLUGIN_DIR", (build + "/Plugins/Cameras").toLocal8Bit());
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One station: n cameras of w x h, the mould detection (1) taught with the
// typical ROI set scaled to the frame, triggered from input 0 without delay.
struct Station {
    TestEnv env;
    BoardSim sim;
    std::unique_ptr<ReDoWizard> win;
    std::vector<SimScene> scenes;

    ~Station()
    {
        win.reset();
    }

    bool up(int n, int w, int h, bool colour, bool triggered, double shift, double angle)
    {
        if (!env.isValid())
            return false;
        QJsonArray cams;
        for (int c = 0; c < n; ++c)
            cams.append(QJsonObject{{"sn", QString("STATION-%1").arg(c + 1)}, {"width", w}, {"height", h},
                                    {"color", colour}, {"seed", 3}, {"fps", 10}, {"shift", shift}, {"angle", angle}});
        // A copy of the plug-in of its own with the JSON beside it: a plug-in
        // keeps the configuration it first read for the whole process.
        static int copies = 0;
        const QString name = QString("simcamera%1").arg(++copies);
        const QString plugs = QDir::current().absoluteFilePath("plugs");
        if (!QDir().mkpath(plugs) || !QFile::copy(TestEnv::buildDir() + "/Plugins/Cameras/libsimcamera.so", plugs + "/" + name + ".so")
            || !env.writeWorkFile("plugs/" + name + ".json", QJsonDocument(QJsonObject{{"kind", 1}, {"cameras", cams}}).toJson()))
            return false;
        qputenv("STATION_CAMERA_PLUGIN_DIR", plugs.toLocal8Bit());
        qunsetenv("STATION_SIMCAMERA_CONFIG");
        if (!sim.open() || !sim.linkAt(platform::path("/dev/ttyS0").toStdString()))
            return false;
        sim.start();

        // Regions in screen units of a window that fills the screen.
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const float sx = float(screen.width()) / float(w), sy = float(screen.height()) / float(h);
        const double fx = w / 1280.0, fy = h / 1024.0;
        if (!ParameterStartup::openParamDb(gpWin))
            return false;
        scenes.resize(size_t(n));
        for (int c = 0; c < n; ++c) {
            SimScene& scene = scenes[size_t(c)];
            scene.configure(QJsonObject{{"seed", 3}}, 1280, 1024);
            std::vector<Roi> rois = typicalDetection(scene.cavities(), colour);
            scene.configure(QJsonObject{{"seed", 3}}, w, h);
            const QString dir = QString("cammer%1%2").arg(c + 1).arg(2);
            SimScene::Shot shot;
            shot.color = colour;
            shot.pose = SimScene::Pose{};
            cv::Mat t = scene.frame(0, shot);
            if (colour)
                cv::cvtColor(t, t, cv::COLOR_BGRA2BGR);
            if (!QDir().mkpath(dir) || !cv::imwrite((dir + "/template0.bmp").toStdString(), t))
                return false;
            auto owner = std::make_unique<CameraViewState>();
            auto store = std::make_unique<CammerSingleton>(c, owner.get());
            const int d = 1;
            for (size_t r = 0; r < rois.size(); ++r) {
                const Roi& roi = rois[r];
                const int i = d * 100 + int(r);
                store->roiCount[d] = int(r) + 1;
                store->funcType[i] = roi.type;
                store->shapeKind[i] = 1;
                store->paramA[i] = roi.A;
                store->paramB[i] = roi.B;
                store->paramC[i] = roi.C;
                const QRect img(int(roi.box.x * fx), int(roi.box.y * fy), int(roi.box.width * fx), int(roi.box.height * fy));
                store->rects[i].rect = QRect(qRound(img.x() * sx), qRound(img.y() * sy), qRound(img.width() * sx),
                                             qRound(img.height() * sy));
            }
            if (!store->SaveDatatoFile())
                return false;
        }
        gpWin->paraQuery = QSqlQuery();
        gpWin->paraDb.close();

        win = std::make_unique<ReDoWizard>();
        win->show();
        if (numCamera != n || !gpControlIO)
            return false;
        WizardPara& p = *gpWPara;
        p.systemMode = 0;
        p.semiAuto = 1;        // the mould detection on input 2 (ejector back)
        p.enableProdDetect = 0;
        p.reCheckTimes = 0;
        p.trigInDelay[1] = 0;  // inspected in the poll that sees the opening
        p.shakeEraseTime = 0;
        p.isPswUsed = p.addTempPswUsed = p.nocheckPswUsed = 0;
        p.doorLiftAlarm = p.noAlarmSound = 0;
        for (int& v : p.outInitState)
            v = 0;
        // Colour cameras judge the grey image here (the typical set's
        // similarity ROIs need texture, which the hue of a steel mould lacks)
        // and the colour-spot ROI takes any amount.
        gisGrayHue = 1;
        p.colorAreaMin = 0;
        p.colorAreaMax = 1 << 30;
        p.deriveByMode(&win->curMould);
        for (int c = 0; c < n; ++c) {
            CammerWidget* v = win->views[c];
            if (!v || !v->camera || !v->recong)
                return false;
            v->recong->VarTrain(1);
        }
        setTriggered(triggered);
        gpControlIO->InitIOThread();
        win->cycle->StartDetect();
        return true;
    }

    // The cameras on the machine's trigger, as the station sets them with
    // the camera-trigger setting, or running free.
    void setTriggered(bool on)
    {
        gpWPara->extTrigger = on ? 1 : 0;
        for (int c = 0; c < numCamera; ++c) {
            CammerWidget* v = win->views[c];
            v->camera->setTrigger(on);
            if (!on)
                v->CameraStart();
        }
    }

    // Every camera's first frame, judged: a good frame must pass, or the
    // first cycle holds the machine for good.
    std::vector<CameraViewState*> firstFrames()
    {
        std::vector<CameraViewState*> views;
        for (int c = 0; c < numCamera; ++c) {
            CammerWidget* v = win->views[c];
            v->camera->softTrigger();
            v->UpdateImage();
            v->recong->HomoTransShape(1);
            v->recong->ShapeMatch();
            v->recong->Run(1);
            for (int r = 0; r < v->liveStore->roiCount[1]; ++r)
                if (!v->roiResult[1][r])
                    fprintf(stderr, "camera %d ROI %d (type %d) NG on a good frame: %d\n", c, r,
                            v->liveStore->funcType[100 + r], v->roiValue[1][r]);
            views.push_back(v);
        }
        return views;
    }
};

struct RateFigures {
    int machineCycles = 0, decided = 0, late = 0, samples = 0;
    int64_t heldMs = 0;
    double cpuPct = 0, stationCpuPct = 0, rssMb = 0; // while the machine ran
    double toDecisionMedian = 0, toDecisionP95 = 0, toDecisionMax = 0;
};

double percentile95(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(0.95 * double(v.size())))];
}

// The machine runs `cycles` cycles of periodMs on its own thread. The cameras
// are shot as the mould opens (input 0), as their hardware trigger would;
// the detection starts when the ejector is back (input 2, half-way through
// the open time); the time to the decision runs from that input's rise to
// the cycle's count.
RateFigures runMachine(Station& s, int periodMs, int cycles)
{
    MouldingMachine::Timing t;
    t.closedMs = periodMs / 2;
    t.openMs = periodMs - t.closedMs;
    MouldingMachine m(s.sim, t, cycles);
    const int decided0 = gAllCycleNum[0];
    std::vector<CameraInterface*> cams;
    for (int c = 0; c < numCamera; ++c)
        cams.push_back(s.win->views[c]->camera);
    std::vector<double> toDecision;
    std::atomic<bool> done{false};
    // The machine's polling is not the station's: its CPU is taken off. A
    // triggered simulated camera renders on its trigger line's thread: that
    // is the camera's, taken off the station's own share.
    std::atomic<double> machineCpu{0}, renderCpu{0};
    // Each camera's trigger line: the frames are taken side by side.
    std::vector<std::thread> shooters;
    std::mutex shotMx;
    std::condition_variable shot;
    int shots = 0;
    for (CameraInterface* cam : cams)
        shooters.emplace_back([&, cam] {
            pthread_setname_np(pthread_self(), "shooter");
            const double own0 = threadCpuMs();
            int seen = 0;
            std::unique_lock<std::mutex> lk(shotMx);
            while (!done) {
                shot.wait_for(lk, std::chrono::milliseconds(50), [&] { return shots > seen || done; });
                if (shots > seen) {
                    seen = shots;
                    lk.unlock();
                    cam->softTrigger();
                    lk.lock();
                }
            }
            lk.unlock();
            const double used = threadCpuMs() - own0;
            double was = renderCpu.load();
            while (!renderCpu.compare_exchange_weak(was, was + used)) {
            }
        });
    const CpuWatch cpu;
    std::thread machine([&] {
        pthread_setname_np(pthread_self(), "machine");
        const double own0 = threadCpuMs();
        const int64_t t0 = steadyMs();
        int64_t rise = -1, riseNs = 0;
        int lastCounted = __atomic_load_n(&gAllCycleNum[0], __ATOMIC_RELAXED);
        bool open = false, ejector = false;
        while (!m.done() && steadyMs() - t0 < int64_t(cycles) * periodMs * 4 + 10000) {
            const int64_t now = steadyMs();
            m.tick(now);
            const unsigned in = s.sim.inputs();
            if ((in & 1u) && !open) {
                std::lock_guard<std::mutex> lk(shotMx);
                ++shots;
                shot.notify_all();
            }
            open = in & 1u;
            if ((in & 4u) && !ejector) {
                rise = now;
                riseNs = SteadyClock::now().time_since_epoch().count();
            }
            ejector = in & 4u;
            // The decision: the cycle counted. A decision made before the
            // ejector input shows on the wire as no clamp preset at all.
            const int counted = __atomic_load_n(&gAllCycleNum[0], __ATOMIC_RELAXED);
            if (counted != lastCounted && rise >= 0) {
                toDecision.push_back(double(SteadyClock::now().time_since_epoch().count() - riseNs) / 1e6);
                rise = -1;
            }
            lastCounted = counted;
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
        machineCpu = threadCpuMs() - own0;
        done = true;
        std::lock_guard<std::mutex> lk(shotMx);
        shot.notify_all();
    });
    runEventsUntil(done);
    machine.join();
    for (std::thread& t : shooters)
        t.join();
    const double cpuPct = cpu.processPct(machineCpu), stationCpuPct = cpu.stationPct(machineCpu + renderCpu);
    spin(300); // the last decision reaches the counters
    RateFigures r;
    r.cpuPct = cpuPct;
    r.stationCpuPct = stationCpuPct;
    r.rssMb = residentMb();
    r.machineCycles = m.cycles();
    r.decided = gAllCycleNum[0] - decided0;
    r.late = m.lateClamps();
    r.heldMs = m.heldMs();
    r.samples = int(toDecision.size());
    r.toDecisionMedian = median(toDecision);
    r.toDecisionP95 = percentile95(toDecision);
    r.toDecisionMax = toDecision.empty() ? 0 : *std::max_element(toDecision.begin(), toDecision.end());
    return r;
}

void BM_EightColourCamerasAt600PerMinute(benchmark::State& st)
{
    appOnce();
    Station s;
    if (!s.up(8, 2448, 2048, true, true, 0, 0)) {
        st.SkipWithError("station did not come up");
        return;
    }
    spin(500);
    s.firstFrames();
    RateFigures r;
    std::vector<double> inspect, paint, grab;
    for (auto _ : st) {
        r = runMachine(s, 100, 60);
        // One camera's inspection of its last frame, as the cycle runs it.
        CammerRecong* e = s.win->views[0]->recong;
        for (int i = 0; i < 10; ++i) {
            const auto t0 = SteadyClock::now();
            e->HomoTransShape(1);
            e->ShapeMatch();
            e->Run(1);
            inspect.push_back(Ms(SteadyClock::now() - t0).count());
        }
        // One view's paint of a new frame, and one camera's grab of it.
        CammerWidget* v = s.win->views[0];
        for (int i = 0; i < 10; ++i) {
            v->camera->softTrigger();
            auto t0 = SteadyClock::now();
            v->UpdateImage();
            grab.push_back(Ms(SteadyClock::now() - t0).count());
            t0 = SteadyClock::now();
            v->repaint();
            paint.push_back(Ms(SteadyClock::now() - t0).count());
        }
    }
    fprintf(stderr, "600/min, 8 colour 2448x2048: machine %d, decided %d, late %d, held %lld ms, %d samples\n",
            r.machineCycles, r.decided, r.late, static_cast<long long>(r.heldMs), r.samples);
    st.counters["machine_cycles"] = r.machineCycles;
    st.counters["ng_images_kept"] = gPicNumNG;
    st.counters["ok_images_kept"] = gPicNumOK;
    st.counters["missed_openings"] = std::max(0, r.machineCycles - r.decided) + r.late;
    st.counters["held_ms_per_cycle"] = r.machineCycles ? double(r.heldMs) / r.machineCycles : 0;
    st.counters["trigger_to_decision_median_ms"] = r.toDecisionMedian;
    st.counters["trigger_to_decision_max_ms"] = r.toDecisionMax;
    st.counters["inspection_per_camera_median_ms"] = median(inspect);
    st.counters["grab_per_camera_median_ms"] = median(grab);
    st.counters["paint_per_view_median_ms"] = median(paint);
}
BENCHMARK(BM_EightColourCamerasAt600PerMinute)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ColourFrameConversion(benchmark::State& st)
{
    SimScene scene;
    scene.configure(QJsonObject{{"seed", 3}}, 2448, 2048);
    SimScene::Shot shot;
    shot.color = true;
    cv::Mat frame = scene.frame(0, shot);
    cv::Mat grey(frame.rows, frame.cols, CV_8UC1), plain;
    std::vector<double> hue, gray, yard;
    for (auto _ : st) {
        for (int i = 0; i < 20; ++i) {
            auto t0 = SteadyClock::now();
            RGBA2Hue(grey.data, reinterpret_cast<int*>(frame.data), frame.cols, frame.rows);
            hue.push_back(Ms(SteadyClock::now() - t0).count());
            t0 = SteadyClock::now();
            RGBA2Gray(grey.data, reinterpret_cast<int*>(frame.data), frame.cols, frame.rows);
            gray.push_back(Ms(SteadyClock::now() - t0).count());
            t0 = SteadyClock::now();
            cv::cvtColor(frame, plain, cv::COLOR_BGRA2GRAY);
            yard.push_back(Ms(SteadyClock::now() - t0).count());
        }
    }
    st.counters["hue_frame_median_ms"] = median(hue);
    st.counters["grey_frame_median_ms"] = median(gray);
    st.counters["opencv_bgra2gray_median_ms"] = median(yard);
    st.counters["ratio_hue_to_opencv"] = median(hue) / std::max(1e-9, median(yard));
    st.counters["ratio_grey_to_opencv"] = median(gray) / std::max(1e-9, median(yard));
}
BENCHMARK(BM_ColourFrameConversion)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_IdleTwoMonoCamerasAndAlignment(benchmark::State& st)
{
    appOnce();
    Station s;
    if (!s.up(2, 1280, 1024, false, false, 3, 0.5)) {
        st.SkipWithError("station did not come up");
        return;
    }
    spin(1000);
    double gui = 0, all = 0, own = 0, seconds = 5;
    std::vector<double> align;
    for (auto _ : st) {
        const double g0 = threadCpuMs();
        const CpuWatch cpu;
        spin(int(seconds * 1000));
        gui = 100.0 * (threadCpuMs() - g0) / cpu.wallMs();
        all = cpu.processPct();
        own = cpu.stationPct();

        gpWPara->angleCorrect = 1;
        for (int c = 0; c < 2; ++c) {
            CammerRecong* e = s.win->views[c]->recong;
            e->CreateHomoShape(1);
            for (int i = 0; i < 10; ++i) {
                spin(110); // a new frame
                const auto a0 = SteadyClock::now();
                e->HomoTransShape(1);
                align.push_back(Ms(SteadyClock::now() - a0).count());
            }
        }
        gpWPara->angleCorrect = 0;
    }
    st.counters["idle_gui_thread_pct_of_core"] = gui;
    st.counters["idle_process_pct_of_core"] = all;
    st.counters["idle_station_threads_pct_of_core"] = own;
    st.counters["align_1280x1024_median_ms"] = median(align);
}
BENCHMARK(BM_IdleTwoMonoCamerasAndAlignment)->Iterations(1)->Unit(benchmark::kMillisecond);

// Arguments: cameras, colour (1) or mono (0).
void BM_PaceSweep(benchmark::State& st)
{
    appOnce();
    const int n = int(st.range(0));
    const bool colour = st.range(1) != 0;
    const int w = colour ? 2448 : 1280, h = colour ? 2048 : 1024;
    Station s;
    if (!s.up(n, w, h, colour, false, 0, 0)) {
        st.SkipWithError("station did not come up");
        return;
    }
    // Idle: the cameras running free at 10 frames a second, no machine.
    spin(1000);
    const CpuWatch idle;
    spin(4000);
    const double idleCpu = idle.processPct(), idleStation = idle.stationPct();
    const double idleRss = residentMb();
    fprintf(stderr, "%d %s cameras idle: CPU %.1f %% of a core (station's own threads %.1f %%), RSS %.0f MB\n", n,
            colour ? "colour" : "mono", idleCpu, idleStation, idleRss);
    st.counters["idle_cpu_pct"] = idleCpu;
    st.counters["idle_station_cpu_pct"] = idleStation;
    st.counters["idle_rss_mb"] = idleRss;
    s.setTriggered(true);
    spin(500);
    // Idle on the machine's trigger: detecting, no opening, no frame.
    const CpuWatch waiting;
    spin(3000);
    const double waitCpu = waiting.processPct();
    fprintf(stderr, "%d %s cameras on the trigger, no opening: CPU %.1f %% of a core\n", n, colour ? "colour" : "mono",
            waitCpu);
    st.counters["waiting_on_trigger_cpu_pct"] = waitCpu;
    const std::vector<CameraViewState*> views = s.firstFrames();
    std::vector<double> inspectAll;
    for (auto _ : st) {
        for (const int perMinute : {30, 60, 120, 300, 600}) {
            const int period = 60000 / perMinute;
            const int cycles = std::clamp(12000 / period, 8, 60);
            const RateFigures r = runMachine(s, period, cycles);
            fprintf(stderr, "%d %s cameras, %3d/min: machine %d, decided %d, late %d, trigger to decision median %.0f ms, "
                            "p95 %.0f ms, max %.0f ms; CPU %.0f %% of a core (station's own %.0f %%), RSS %.0f MB\n",
                    n, colour ? "colour" : "mono", perMinute, r.machineCycles, r.decided, r.late, r.toDecisionMedian,
                    r.toDecisionP95, r.toDecisionMax, r.cpuPct, r.stationCpuPct, r.rssMb);
            const QString at = QString::number(perMinute);
            st.counters[("decided_" + at).toStdString()] = r.decided;
            st.counters[("missed_" + at).toStdString()] = std::max(0, r.machineCycles - r.decided) + r.late;
            st.counters[("median_ms_" + at).toStdString()] = r.toDecisionMedian;
            st.counters[("p95_ms_" + at).toStdString()] = r.toDecisionP95;
            st.counters[("cpu_pct_" + at).toStdString()] = r.cpuPct;
            st.counters[("station_cpu_pct_" + at).toStdString()] = r.stationCpuPct;
            st.counters[("rss_mb_" + at).toStdString()] = r.rssMb;
        }
        // Every camera's inspection of its last frame side by side, then
        // taken up in camera order as the cycle does.
        for (int i = 0; i < 10; ++i) {
            const auto t0 = SteadyClock::now();
            CammerRecong::InspectAll(views, 1);
            for (CameraViewState* v : views) {
                v->recong->HomoTransShape(1);
                v->recong->ShapeMatch();
                v->recong->Run(1);
            }
            inspectAll.push_back(Ms(SteadyClock::now() - t0).count());
        }
    }
    st.counters["inspect_all_median_ms"] = median(inspectAll);
}
BENCHMARK(BM_PaceSweep)->Args({2, 0})->Args({8, 1})->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

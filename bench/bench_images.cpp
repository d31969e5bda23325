// Result images: one writer pass without its pacing sleeps (take the slot,
// encode, save, prune a full folder) and the drive task's write, each against
// a plain cv::imwrite of the same frames; the paced rate the writer keeps;
// and the GUI thread's hand-off copy under pMutexSaveFail while the writer
// idles or copies out.
#include "frame/clock.h"
#include "frame/globals.h"
#include "records/copy2movedisk.h"
#include "records/savefialimagethread.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <random>
#include <vector>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kFolderLimit = 50;

// The drive code logs every drive change at debug level; keep the table clean.
const bool kQuiet = qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false");

// A mould-like frame: steel gradient, cavities, ejector pins, sensor noise.
cv::Mat mouldFrame(int w, int h, unsigned seed)
{
    cv::Mat m(h, w, CV_8UC3);
    for (int y = 0; y < h; ++y)
        m.row(y).setTo(cv::Scalar(90 + 60 * y / h, 95 + 60 * y / h, 100 + 50 * y / h));
    std::mt19937 rng(seed);
    for (int i = 0; i < 12; ++i) {
        const int x = int(rng() % unsigned(w - w / 6)), y = int(rng() % unsigned(h - h / 6));
        cv::rectangle(m, cv::Rect(x, y, w / 8, h / 8), cv::Scalar(40, 45, 50), -1);
        cv::circle(m, cv::Point(x + w / 16, y + h / 16), h / 40, cv::Scalar(200, 200, 205), -1);
    }
    cv::Mat noise(h, w, CV_8UC3);
    cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(6));
    m += noise;
    return m;
}

QImage toRgb32(const cv::Mat& bgr)
{
    cv::Mat bgra;
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    return QImage(bgra.data, bgra.cols, bgra.rows, int(bgra.step), QImage::Format_RGB32).copy();
}

void fillSlot(int c, int d, int s, const QImage& img)
{
    QMutexLocker lock(pMutexSaveFail);
    PixelBuffer& buf = gpFailImage[c][d][s];
    if (buf.size() != std::size_t(img.sizeInBytes()))
        buf.allocate(std::size_t(img.sizeInBytes()));
    std::memcpy(buf.data(), img.constBits(), buf.size());
    gisSaveFail[c][d][s] = true;
}

// A working directory of its own and a clock whose sleeps cost nothing.
struct Bench {
    QTemporaryDir work;
    QString oldCwd = QDir::currentPath();
    TestClock clock;
    Bench()
    {
        if (!pMutexSaveFail)
            pMutexSaveFail = new QMutex;
        QDir::setCurrent(work.path());
        Clock::install(&clock);
        numCamera = 1;
        gDNum = 1;
        gPicNumNG = gPicNumOK = kFolderLimit;
    }
    ~Bench()
    {
        Clock::install(nullptr);
        QDir::setCurrent(oldCwd);
    }
};

void fullFolder(const QString& folder, const QByteArray& jpeg)
{
    QDir().mkpath(folder);
    for (int i = 0; i < kFolderLimit; ++i) {
        QFile f(folder + QString("/old%1.jpg").arg(i, 3, 10, QChar('0')));
        f.open(QIODevice::WriteOnly);
        f.write(jpeg);
    }
}

void sizeArgs(benchmark::internal::Benchmark* b)
{
    b->Args({1280, 1024})->Args({2448, 2048})->Unit(benchmark::kMillisecond)->UseRealTime();
}

// The yardstick: OpenCV writing the same frames into a folder of the same size.
void BM_PlainImwrite(benchmark::State& state)
{
    Bench env;
    const cv::Mat frame = mouldFrame(int(state.range(0)), int(state.range(1)), 1);
    int i = 0;
    for (auto _ : state) {
        const std::string path = QString("%1/f%2.jpg").arg(env.work.path()).arg(i++ % kFolderLimit).toStdString();
        benchmark::DoNotOptimize(cv::imwrite(path, frame));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_WriterPass(benchmark::State& state)
{
    Bench env;
    const QImage img = toRgb32(mouldFrame(int(state.range(0)), int(state.range(1)), 1));
    SaveFialImageThread writer;
    writer.setCameraSize([&](int) { return img.size(); });
    fullFolder(writer.resultFolder(0, 0, 0), Copy2MoveDisk::encodeJpeg(img));
    for (auto _ : state) {
        state.PauseTiming();
        fillSlot(0, 0, 0, img); // the cycle's part, not the writer's
        state.ResumeTiming();
        if (writer.passOnce() != 1)
            state.SkipWithError("image not saved");
    }
    state.SetItemsProcessed(state.iterations());
}

// The drive task: one queued image to its file on the drive (the day
// folder made; the writer hands over the JPEG it saved).
void BM_DriveTask(benchmark::State& state)
{
    Bench env;
    QTemporaryDir sim;
    qputenv("STATION_SIMROOT", sim.path().toLocal8Bit());
    QDir().mkpath(sim.path() + "/proc");
    QDir().mkpath(sim.path() + "/mnt");
    QFile mounts(sim.path() + "/proc/mounts");
    mounts.open(QIODevice::WriteOnly);
    mounts.write("/dev/sdb1 /mnt vfat rw 0 0\n");
    mounts.close();
    Copy2MoveDisk* c2m = Copy2MoveDisk::getInstance();
    c2m->diskInfoChange({UPanInfo{"B3NCH", {}, {}, "/dev/sdb1", {}, "usb", "/mnt"}});
    c2m->start(false);
    const QByteArray jpeg = Copy2MoveDisk::encodeJpeg(toRgb32(mouldFrame(int(state.range(0)), int(state.range(1)), 1)));
    const QString src = env.work.path() + "/alarmimage/camera1/detect1/NG";
    int i = 0;
    for (auto _ : state) {
        c2m->add_map_actqueue(src, QString("f%1").arg(i++ % kFolderLimit), jpeg);
        if (!c2m->writeOnce())
            state.SkipWithError("not written");
    }
    c2m->stop();
    c2m->diskInfoChange({});
    qunsetenv("STATION_SIMROOT");
    state.SetItemsProcessed(state.iterations());
}

// The rate with the pacing sleeps: eight detections pending at once, the
// sleeps added from the clock to the measured work.
void BM_PacedRate(benchmark::State& state)
{
    Bench env;
    numCamera = 2;
    gDNum = 4;
    const QImage img = toRgb32(mouldFrame(1280, 1024, 2));
    SaveFialImageThread writer;
    writer.setCameraSize([&](int) { return img.size(); });
    double workS = 0, sleptS = 0;
    int saved = 0;
    for (auto _ : state) {
        for (int c = 0; c < 2; ++c)
            for (int d = 0; d < 4; ++d)
                fillSlot(c, d, 0, img);
        const qint64 m0 = env.clock.monotonicMs();
        const auto t0 = std::chrono::steady_clock::now();
        saved += writer.passOnce();
        workS += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        sleptS += (env.clock.monotonicMs() - m0) / 1000.0;
    }
    const double perS = saved / (workS + sleptS);
    state.counters["paced_images_per_s"] = perS;
    state.counters["images_per_10s_cycle"] = perS * 10;
}

// The GUI thread's copy of one composed frame into its slot, with the writer
// idle or copying the other slot out all the time.
void BM_HandOff(benchmark::State& state)
{
    Bench env;
    const int w = int(state.range(0)), h = int(state.range(1));
    const bool busy = state.range(2) != 0;
    const QImage img = toRgb32(mouldFrame(w, h, 3));
    // The writer itself, without its sleeps: it copies out whenever the
    // flag is up, then encodes and saves while the lock is free.
    SaveFialImageThread writer;
    writer.setCameraSize([&](int) { return img.size(); });
    if (busy)
        writer.start();
    std::vector<double> us;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        {
            QMutexLocker lock(pMutexSaveFail);
            PixelBuffer& buf = gpFailImage[0][0][0];
            if (buf.size() != std::size_t(img.sizeInBytes()))
                buf.allocate(std::size_t(img.sizeInBytes()));
            std::memcpy(buf.data(), img.constBits(), buf.size());
            gisSaveFail[0][0][0] = busy;
        }
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    writer.requestStop();
    writer.wait();
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["worst_us"] = us.back();
}

} // namespace

BENCHMARK(BM_PlainImwrite)->Apply(sizeArgs);
BENCHMARK(BM_WriterPass)->Apply(sizeArgs);
BENCHMARK(BM_DriveTask)->Apply(sizeArgs);
BENCHMARK(BM_PacedRate)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_HandOff)
    ->Args({1280, 1024, 0})
    ->Args({1280, 1024, 1})
    ->Args({2448, 2048, 0})
    ->Args({2448, 2048, 1})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// Detection engine per camera and cycle: positioning plus judgement of the
// typical detection and its heavier variants, result-image composition for
// eight cameras, training, and the similarity matcher, each beside a plain
// OpenCV yardstick measured in the same run.
#include "inspection/viewimages.h"
#include "inspection_engine/enginerig.h"
#include "plugins/simcamera/simscene.h"
#include "vision/surf.h"

#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include <QGuiApplication>
#include <QJsonObject>

#include <memory>

namespace {

void guiOnce()
{
    static int argc = 1;
    static char name[] = "bench_engine";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // fonts without a screen
    static QGuiApplication* app = QGuiApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
    (void)app;
}

cv::Mat sceneFrame(int w, int h, quint64 n, bool colour, double shift = 3, double angle = 0.5)
{
    SimScene s;
    s.configure(QJsonObject{{"seed", 3}, {"shift", shift}, {"angle", angle}}, w, h);
    cv::Mat f;
    s.render(n, colour, 1.0, false, false, SimScene::Faults(), f);
    return f.clone();
}

std::vector<cv::Rect> cavities(int w, int h)
{
    SimScene s;
    s.configure(QJsonObject{{"seed", 3}}, w, h);
    return s.cavities();
}

struct Setup
{
    int w = 1280, h = 1024;
    bool colour = false;
    int margin = 20;
    int angle = 0;
    bool align = false;
    int extraRois = 0;       // further defect and spot ROIs on a grid (36 and 100 ROIs)
    int bigKernel = 0;       // 4 dark-spot ROIs of 500 x 500 with this kernel
};

// A taught camera view: template 0 and nine more positioned frames, then trained.
std::unique_ptr<EngineRig> taught(const Setup& s)
{
    auto rig = std::make_unique<EngineRig>(s.w, s.h, s.colour);
    rig->para.motionCorrect = 0;
    rig->para.offsetValue = s.margin;
    rig->para.rotateAngle = s.angle;
    rig->para.angleCorrect = s.align ? 1 : 0;
    std::vector<Roi> rois;
    if (s.bigKernel) {
        for (int i = 0; i < 4; ++i)
            rois.push_back({8, cv::Rect(60 + (i % 2) * 600, 20 + (i / 2) * 500, 500, 480), 60, 0 | (100 << 16), (s.bigKernel - 1) / 2, -1});
        rig->para.showAllParam = 1;
    } else {
        rois = typicalDetection(cavities(s.w, s.h), s.colour);
        for (int i = 0; int(rois.size()) < 19 + s.extraRois && i < 200; ++i) {
            const cv::Rect b(40 + (i % 12) * 100, 60 + (i / 12) * 110, 80, 80);
            rois.push_back({i % 2 ? 1 : 0, b, 45, i % 2 ? 20 : 10, i % 2 ? 60 << 8 : 3, -1});
        }
    }
    rig->addRois(0, rois);
    rig->setFrame(sceneFrame(s.w, s.h, 0, s.colour));
    rig->setTemplate(0, 0, rig->mat(rig->view.frameBuffer.data()).clone());
    CammerRecong& e = rig->engine();
    e.CreateHomoShape(0);
    e.CreateShape(0);
    for (int k = 1; k < gTempNum; ++k) {
        rig->setFrame(sceneFrame(s.w, s.h, quint64(k), s.colour));
        e.HomoTransShape(0);
        e.ShapeMatch();
        rig->setTemplate(0, k, rig->work().clone());
    }
    e.VarTrain(0);
    rig->setFrame(sceneFrame(s.w, s.h, 77, s.colour));
    return rig;
}

void inspect(benchmark::State& st, const Setup& s)
{
    auto rig = taught(s);
    CammerRecong& e = rig->engine();
    for (auto _ : st) {
        e.HomoTransShape(0);
        e.ShapeMatch();
        e.Run(0);
        benchmark::DoNotOptimize(rig->view.isOK);
    }
    st.counters["rois"] = rig->store->roiCount[0];
    st.counters["ok"] = rig->view.isOK;
}

// One TM_CCOEFF_NORMED per judged ROI of its box over the box grown by 4 px,
// plus one of the positioning box over its search rectangle.
void yardstick(benchmark::State& st, const Setup& s)
{
    auto rig = taught(s);
    const cv::Mat frame = rig->mat(rig->view.frameBuffer.data());
    cv::Mat grey = frame;
    if (s.colour)
        cv::cvtColor(frame, grey, cv::COLOR_BGRA2GRAY);
    const cv::Mat tmpl = rig->mat(rig->view.templateImages[0][0].data());
    cv::Mat tgrey = tmpl;
    if (s.colour)
        cv::cvtColor(tmpl, tgrey, cv::COLOR_BGRA2GRAY);
    const cv::Rect all(0, 0, s.w, s.h);
    std::vector<std::pair<cv::Rect, cv::Rect>> jobs;
    for (int r = 0; r < rig->store->roiCount[0]; ++r) {
        const int type = rig->store->funcType[r];
        const cv::Rect b = CammerRecong::rawBox(rig->store, 0, r) & all;
        if (type == 2 || type == 10)
            continue;
        const cv::Rect search = type == 3 ? rig->engine().searchRects[0]
                                          : (cv::Rect(b.x - 4, b.y - 4, b.width + 8, b.height + 8) & all);
        jobs.emplace_back(b, search);
    }
    cv::Mat out;
    for (auto _ : st) {
        for (const auto& j : jobs)
            cv::matchTemplate(grey(j.second), tgrey(j.first), out, cv::TM_CCOEFF_NORMED);
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_Typical(benchmark::State& st) { inspect(st, Setup()); }
void BM_Typical_Yardstick(benchmark::State& st) { yardstick(st, Setup()); }
void BM_Rois36(benchmark::State& st) { Setup s; s.extraRois = 17; inspect(st, s); }
void BM_Rois36_Yardstick(benchmark::State& st) { Setup s; s.extraRois = 17; yardstick(st, s); }
void BM_Rois100(benchmark::State& st) { Setup s; s.extraRois = 81; inspect(st, s); }
void BM_Rois100_Yardstick(benchmark::State& st) { Setup s; s.extraRois = 81; yardstick(st, s); }
void BM_Kernel(benchmark::State& st) { Setup s; s.bigKernel = int(st.range(0)); inspect(st, s); }
void BM_Kernel_Yardstick(benchmark::State& st) { Setup s; s.bigKernel = int(st.range(0)); yardstick(st, s); }
void BM_Margin8000(benchmark::State& st) { Setup s; s.margin = 8000; inspect(st, s); }
void BM_Angle10(benchmark::State& st) { Setup s; s.angle = 10; inspect(st, s); }
void BM_AlignmentOn(benchmark::State& st) { Setup s; s.align = true; inspect(st, s); }
void BM_Colour(benchmark::State& st)
{
    gisGrayHue = int(st.range(0));
    Setup s;
    s.colour = true;
    inspect(st, s);
    gisGrayHue = 1;
}
void BM_Colour_Yardstick(benchmark::State& st) { Setup s; s.colour = true; yardstick(st, s); }
void BM_Large2448(benchmark::State& st) { Setup s; s.w = 2448; s.h = 2048; inspect(st, s); }
void BM_Large2448_Yardstick(benchmark::State& st) { Setup s; s.w = 2448; s.h = 2048; yardstick(st, s); }

void BM_VarTrain100(benchmark::State& st)
{
    Setup s;
    s.extraRois = 81;
    auto rig = taught(s);
    for (auto _ : st)
        rig->engine().VarTrain(0);
}

// Eight cameras one after the other, as on the GUI thread: inspection and the result image.
void BM_EightCameras(benchmark::State& st)
{
    guiOnce();
    std::vector<std::unique_ptr<EngineRig>> rigs;
    for (int c = 0; c < 8; ++c) {
        rigs.push_back(taught(Setup()));
        rigs.back()->view.cameraIndex = c;
        ViewImages::AllocFailImageSlots(c, rigs.back()->view.pixelCount);
    }
    for (auto _ : st) {
        for (auto& r : rigs) {
            r->engine().HomoTransShape(0);
            r->engine().ShapeMatch();
            r->engine().Run(0);
            ViewImages(r->view).SaveFailImage(0, r->view.isOK ? 1 : 0);
        }
    }
    // Last made, first gone: each rig points the shared parameters at its
    // own, and the first rig's test environment frees whatever they point at.
    while (!rigs.empty())
        rigs.pop_back();
}

// ---- the similarity matcher on a 150 x 150 box (matching) and 300 x 300 (training)

struct SurfCase
{
    cv::Rect box;
    std::vector<cv::Mat> templates;
    cv::Mat roi;
};

SurfCase surfCase(int side, int templates)
{
    const std::vector<cv::Rect> cav = cavities(1280, 1024);
    SurfCase c;
    c.box = cv::Rect(cav[1].br().x - side + 20, cav[1].y + 40, side, side); // cavity edge and plate
    for (int k = 0; k < templates; ++k)
        c.templates.push_back(sceneFrame(1280, 1024, quint64(k), false, 1, 0)(c.box).clone());
    c.roi = sceneFrame(1280, 1024, 50, false, 3, 0.5)(c.box).clone();
    return c;
}

SURF trainedSurf(const SurfCase& c)
{
    SURF sf;
    sf.Create(c.box.width, c.box.height, cv::Mat());
    for (const cv::Mat& t : c.templates)
        sf.AddTemp(t, 1, 50, 80);
    sf.Train(0, 0, 0, 0);
    return sf;
}

void BM_SurfMatch(benchmark::State& st)
{
    const SurfCase c = surfCase(150, int(st.range(0)));
    SURF sf = trainedSurf(c);
    cv::Mat out;
    float score = 0;
    for (auto _ : st) {
        cv::Mat copy = c.roi.clone();
        score = sf.Match(copy, out);
    }
    st.counters["score"] = score;
    st.counters["keypointTemplates"] = sf.FeatureTemplates();
}

void BM_SurfMatch_Yardstick(benchmark::State& st)
{
    const SurfCase c = surfCase(150, 1);
    const cv::Mat frame = sceneFrame(1280, 1024, 50, false, 3, 0.5);
    const cv::Rect grown(c.box.x - 4, c.box.y - 4, c.box.width + 8, c.box.height + 8);
    cv::Mat out;
    for (auto _ : st)
        cv::matchTemplate(frame(grown), c.templates[0], out, cv::TM_CCOEFF_NORMED);
}

void BM_SurfTrain(benchmark::State& st)
{
    const SurfCase c = surfCase(300, int(st.range(0)));
    for (auto _ : st) {
        SURF sf = trainedSurf(c);
        benchmark::DoNotOptimize(sf.IsValid());
    }
}

} // namespace

BENCHMARK(BM_Typical)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Typical_Yardstick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EightCameras)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rois36)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rois36_Yardstick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rois100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rois100_Yardstick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Kernel)->Arg(101)->Arg(201)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Kernel_Yardstick)->Arg(101)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Margin8000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Angle10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlignmentOn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Colour)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Colour_Yardstick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large2448)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large2448_Yardstick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VarTrain100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SurfMatch)->Arg(1)->Arg(10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SurfMatch_Yardstick)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SurfTrain)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

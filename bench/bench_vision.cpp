// Training and matching cost of the vision layer (GrayMatch, SURF, FindShape)
// on synthetic mono mould frames, with a plain cv::matchTemplate over the same
// area as the yardstick. Run: build-*/bench/bench_vision (RelWithDebInfo).
#include "vision/findshape.h"
#include "vision/graymatch.h"
#include "vision/surf.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <map>

namespace {

// A shaded steel surface with cavities, pins, ribs and engraved text, scaled to the frame.
cv::Mat mouldFrame(cv::Size size, unsigned noiseSeed, cv::Point2d shift = {0, 0}, double angle = 0.0)
{
    cv::Mat f(size, CV_32F);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            f.at<float>(y, x) = float(95.0 + 35.0 * x / size.width + 20.0 * y / size.height);
    cv::RNG rng(7);
    cv::Mat tex(size.height / 8 + 1, size.width / 8 + 1, CV_32F);
    rng.fill(tex, cv::RNG::NORMAL, 0, 6);
    cv::resize(tex, tex, size, 0, 0, cv::INTER_CUBIC);
    f += tex;
    const double s = size.width / 640.0;
    const int w = size.width, h = size.height;
    for (int i = 0; i < 40; ++i) {
        const int cx = rng.uniform(30, w - 30), cy = rng.uniform(30, h - 30);
        const int rw = int(rng.uniform(12, 40) * s), rh = int(rng.uniform(8, 30) * s);
        const double g = rng.uniform(0, 2) ? rng.uniform(150, 220) : rng.uniform(25, 70);
        cv::rectangle(f, cv::Rect(cx - rw, cy - rh, 2 * rw, 2 * rh), cv::Scalar(g), cv::FILLED);
    }
    for (int i = 0; i < 80; ++i) {
        const cv::Point c(rng.uniform(20, w - 20), rng.uniform(20, h - 20));
        const int r = int(rng.uniform(4, 12) * s);
        cv::circle(f, c, r, cv::Scalar(rng.uniform(170, 235)), cv::FILLED, cv::LINE_AA);
        cv::circle(f, c, std::max(1, r / 3), cv::Scalar(rng.uniform(30, 80)), cv::FILLED, cv::LINE_AA);
    }
    for (int i = 0; i < 20; ++i)
        cv::putText(f, cv::format("K%d-%03d", i, int(rng.uniform(0, 999))),
                    cv::Point(rng.uniform(10, w - 200), rng.uniform(30, h - 10)), cv::FONT_HERSHEY_SIMPLEX, 0.8 * s,
                    cv::Scalar(rng.uniform(20, 60)), std::max(1, int(2 * s)), cv::LINE_AA);
    if (shift != cv::Point2d(0, 0) || angle != 0.0) {
        cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(w / 2.f, h / 2.f), angle, 1.0);
        m.at<double>(0, 2) += shift.x;
        m.at<double>(1, 2) += shift.y;
        cv::Mat moved;
        cv::warpAffine(f, moved, m, size, cv::INTER_LINEAR, cv::BORDER_REFLECT);
        f = moved;
    }
    cv::Mat n(size, CV_32F);
    cv::RNG nr(noiseSeed);
    nr.fill(n, cv::RNG::NORMAL, 0, 3.0);
    f += n;
    cv::Mat out;
    f.convertTo(out, CV_8U);
    return out;
}

cv::Size frameSize(int which) { return which == 0 ? cv::Size(1280, 1024) : cv::Size(2448, 2048); }

struct Frames
{
    std::vector<cv::Mat> templates; // three good frames
    cv::Mat shifted;                // the part moved by (7, -5)
    cv::Mat turned;                 // moved and turned by 3 degrees
};

const Frames& frames(int which)
{
    static std::map<int, Frames> cache;
    auto it = cache.find(which);
    if (it != cache.end())
        return it->second;
    Frames f;
    for (unsigned n = 1; n <= 3; ++n)
        f.templates.push_back(mouldFrame(frameSize(which), n));
    f.shifted = mouldFrame(frameSize(which), 9, {7, -5});
    f.turned = mouldFrame(frameSize(which), 9, {7, -5}, 3.0);
    return cache.emplace(which, std::move(f)).first->second;
}

cv::Rect roiBox(int which, int side)
{
    const cv::Size s = frameSize(which);
    return cv::Rect(s.width / 2 - side / 2, s.height / 2 - side / 2, side, side);
}

// ---- GrayMatch ------------------------------------------------------------

void BM_GrayMatchTrain(benchmark::State& st)
{
    const Frames& f = frames(int(st.range(0)));
    const cv::Rect box = roiBox(int(st.range(0)), int(st.range(1)));
    for (auto _ : st) {
        GrayMatch gm;
        gm.Create(box.width, box.height, cv::Mat(box.size(), CV_8UC1, cv::Scalar(255)), 0);
        for (const cv::Mat& t : f.templates)
            gm.AddTemp(t(box));
        gm.Train(45, 0, 100, 150);
        benchmark::DoNotOptimize(gm.IsValid());
    }
}

void BM_GrayMatchMatch(benchmark::State& st)
{
    const Frames& f = frames(int(st.range(0)));
    const cv::Rect box = roiBox(int(st.range(0)), int(st.range(1)));
    GrayMatch gm;
    gm.Create(box.width, box.height, cv::Mat(box.size(), CV_8UC1, cv::Scalar(255)), 0);
    for (const cv::Mat& t : f.templates)
        gm.AddTemp(t(box));
    gm.Train(45, 0, 100, 150);
    const cv::Mat img = mouldFrame(frameSize(int(st.range(0))), 11)(box);
    cv::Mat diff;
    for (auto _ : st) {
        gm.Match(img, diff);
        benchmark::DoNotOptimize(diff.data);
    }
}

// ---- SURF -----------------------------------------------------------------

void BM_SurfTrain(benchmark::State& st)
{
    const Frames& f = frames(int(st.range(0)));
    const cv::Rect box = roiBox(int(st.range(0)), int(st.range(1)));
    for (auto _ : st) {
        SURF sf;
        sf.Create(box.width, box.height, cv::Mat(box.size(), CV_8UC1, cv::Scalar(255)));
        for (const cv::Mat& t : f.templates)
            sf.AddTemp(t(box).clone(), 1, 50, 80);
        sf.Train(0, 0, 0, 0);
        benchmark::DoNotOptimize(sf.IsValid());
    }
}

void BM_SurfMatch(benchmark::State& st)
{
    const Frames& f = frames(int(st.range(0)));
    const cv::Rect box = roiBox(int(st.range(0)), int(st.range(1)));
    SURF sf;
    sf.Create(box.width, box.height, cv::Mat(box.size(), CV_8UC1, cv::Scalar(255)));
    for (const cv::Mat& t : f.templates)
        sf.AddTemp(t(box).clone(), 1, 50, 80);
    sf.Train(0, 0, 0, 0);
    cv::Mat img = mouldFrame(frameSize(int(st.range(0))), 11)(box).clone();
    cv::Mat out;
    float score = 0;
    for (auto _ : st) {
        score = sf.Match(img, out);
        benchmark::DoNotOptimize(score);
    }
    st.counters["score"] = score;
}

// The yardstick for the ROI matchers: one normalised correlation of the ROI
// template over the ROI with a 4-pixel margin.
void BM_PlainMatchTemplateRoi(benchmark::State& st)
{
    const Frames& f = frames(int(st.range(0)));
    const cv::Rect box = roiBox(int(st.range(0)), int(st.range(1)));
    const cv::Mat tmpl = f.templates[0](box);
    const cv::Mat img = f.shifted(box + cv::Point(-4, -4) + cv::Size(8, 8));
    cv::Mat res;
    for (auto _ : st) {
        cv::matchTemplate(img, tmpl, res, cv::TM_CCOEFF_NORMED);
        benchmark::DoNotOptimize(res.data);
    }
}

// ---- FindShape ------------------------------------------------------------
// Arguments: frame (0 = 1280x1024, 1 = 2448x2048), model side (0 = the default
// positioning box, half the frame), margin (-1 = whole frame), angle range.

cv::Rect modelBox(int which, int side)
{
    const cv::Size s = frameSize(which);
    if (side == 0)
        return cv::Rect(s.width / 4, s.height / 4, s.width / 2, s.height / 2);
    return roiBox(which, side);
}

cv::Rect searchRect(int which, const cv::Rect& box, int margin)
{
    const cv::Size s = frameSize(which);
    if (margin < 0)
        return cv::Rect(cv::Point(0, 0), s);
    return cv::Rect(box.x - margin, box.y - margin, box.width + 2 * margin, box.height + 2 * margin) &
           cv::Rect(cv::Point(0, 0), s);
}

void BM_FindShapeCreate(benchmark::State& st)
{
    const int which = int(st.range(0));
    const Frames& f = frames(which);
    const cv::Rect box = modelBox(which, int(st.range(1)));
    const int range = int(st.range(3));
    for (auto _ : st) {
        FindShape fs;
        fs.CreateShape(f.templates[0](box).clone(), 0.0, 0, range, box.x + box.width / 2, box.y + box.height / 2,
                       false, 255, cv::Mat(box.size(), CV_8UC1, cv::Scalar(255)), 5, 10);
        benchmark::DoNotOptimize(fs.IsValid());
    }
}

void BM_FindShapeFind(benchmark::State& st)
{
    const int which = int(st.range(0));
    const Frames& f = frames(which);
    const cv::Rect box = modelBox(which, int(st.range(1)));
    const int margin = int(st.range(2));
    const int range = int(st.range(3));
    FindShape fs;
    fs.CreateShape(f.templates[0](box).clone(), 0.0, 0, range, box.x + box.width / 2, box.y + box.height / 2, false,
                   255, cv::Mat(box.size(), CV_8UC1, cv::Scalar(255)), 5, 10);
    const cv::Rect sr = searchRect(which, box, margin);
    cv::Mat search = (range > 0 ? f.turned : f.shifted)(sr).clone();
    int x = 0, y = 0;
    double score = 0, angle = 0;
    bool ok = false;
    for (auto _ : st) {
        ok = fs.Find(search, 0, &x, &y, &score, &angle);
        benchmark::DoNotOptimize(ok);
    }
    st.counters["found"] = ok;
    st.counters["dx"] = x - sr.x;
    st.counters["dy"] = y - sr.y;
    st.counters["angle"] = angle;
    st.counters["score"] = score;
}

// ROI generation: up to 100 copies of a 100x100 pattern over the whole frame.
void BM_FindShapeFindAll(benchmark::State& st)
{
    const int which = int(st.range(0));
    const Frames& f = frames(which);
    const cv::Rect box = roiBox(which, 100);
    FindShape fs;
    fs.CreateShape(f.templates[0](box).clone(), 60.0, 0, int(st.range(1)), box.x + 50, box.y + 50, false, 255,
                   cv::Mat(box.size(), CV_8UC1, cv::Scalar(255)), 5, 10);
    cv::Mat search = f.templates[1].clone();
    int x[100], y[100];
    double a[100], count = 0;
    for (auto _ : st) {
        fs.Find(search, 100, x, y, &count, a);
        benchmark::DoNotOptimize(count);
    }
    st.counters["targets"] = count;
}

// The yardstick: one plain full-resolution normalised correlation of the model
// over the same search area, no rotation, no pyramid.
void BM_PlainMatchTemplate(benchmark::State& st)
{
    const int which = int(st.range(0));
    const Frames& f = frames(which);
    const cv::Rect box = modelBox(which, int(st.range(1)));
    const cv::Mat tmpl = f.templates[0](box).clone();
    const cv::Mat search = f.shifted(searchRect(which, box, int(st.range(2)))).clone();
    cv::Mat res;
    for (auto _ : st) {
        cv::matchTemplate(search, tmpl, res, cv::TM_CCOEFF_NORMED);
        benchmark::DoNotOptimize(res.data);
    }
}

void roiArgs(benchmark::internal::Benchmark* b)
{
    for (int which : {0, 1})
        for (int side : {100, 300})
            b->Args({which, side});
    b->ArgNames({"frame", "roi"})->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
}

void findArgs(benchmark::internal::Benchmark* b)
{
    for (int which : {0, 1})
        for (int side : {300, 0})
            for (int margin : {20, 100, -1})
                for (int range : {0, 10})
                    b->Args({which, side, margin, range});
    b->ArgNames({"frame", "model", "margin", "angle"})
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
}

void plainArgs(benchmark::internal::Benchmark* b)
{
    for (int which : {0, 1})
        for (int side : {300, 0})
            for (int margin : {20, 100, -1})
                b->Args({which, side, margin, 0});
    b->ArgNames({"frame", "model", "margin", "angle"})
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
}

void createArgs(benchmark::internal::Benchmark* b)
{
    for (int which : {0, 1})
        for (int side : {300, 0})
            for (int range : {0, 10})
                b->Args({which, side, 0, range});
    b->ArgNames({"frame", "model", "-", "angle"})
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
}

} // namespace

BENCHMARK(BM_GrayMatchTrain)->Apply(roiArgs);
BENCHMARK(BM_GrayMatchMatch)->Apply(roiArgs);
BENCHMARK(BM_SurfTrain)->Apply(roiArgs);
BENCHMARK(BM_SurfMatch)->Apply(roiArgs);
BENCHMARK(BM_PlainMatchTemplateRoi)->Apply(roiArgs);
BENCHMARK(BM_FindShapeCreate)->Apply(createArgs);
BENCHMARK(BM_FindShapeFind)->Apply(findArgs);
BENCHMARK(BM_PlainMatchTemplate)->Apply(plainArgs);
BENCHMARK(BM_FindShapeFindAll)
    ->Args({0, 0})
    ->Args({0, 10})
    ->Args({1, 0})
    ->Args({1, 10})
    ->ArgNames({"frame", "angle"})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Training and matching cost of the vision layer (GrayMatch, SURF, FindShape)
// on mono frames of the shared mould scene, with a plain cv::matchTemplate over the same
// area as the yardstick; and the steps of one frame's alignment onto its template. Run: build-*/bench/bench_vision (RelWithDebInfo).
#include "inspection/imghomotrans.h"
#include "inspection/parallelblur.h"
#include "vision/findshape.h"
#include "vision/graymatch.h"
#include "vision/surf.h"
#include "plugins/simcamera/partcases.h"
#include "plugins/simcamera/simscene.h"

#include <benchmark/benchmark.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <thread>

namespace {

// The engraved mould with its parts in, scaled to the frame. Mono noise
// repeats every 4 frames: templates are frames 0..2, test frames are frame 3.
cv::Mat mouldFrame(cv::Size size, quint64 n, cv::Point2d shift = {0, 0}, double angle = 0.0)
{
    static std::map<std::pair<int, int>, SimScene> scenes;
    SimScene& scene = scenes[{size.width, size.height}];
    if (scene.width() != size.width || scene.height() != size.height || !scene.options().engraved) {
        SimScene::Options o;
        o.seed = 7;
        o.cavitiesX = 3;
        o.parts = true;
        o.engraved = true;
        scene.configure(o, size.width, size.height);
    }
    SimScene::Shot shot;
    shot.pose = SimScene::Pose{shift, angle};
    return scene.frame(n, shot);
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
    for (quint64 n = 0; n < 3; ++n)
        f.templates.push_back(mouldFrame(frameSize(which), n));
    f.shifted = mouldFrame(frameSize(which), 3, {7, -5});
    f.turned = mouldFrame(frameSize(which), 3, {7, -5}, 3.0);
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
    const cv::Mat img = mouldFrame(frameSize(int(st.range(0))), 3)(box);
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
    cv::Mat img = mouldFrame(frameSize(int(st.range(0))), 3)(box).clone();
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

// ---- SURF on one part: the similarity ROI around a part, ten templates -----
// Argument: the case kind (PartCases::Kind). Each iteration matches the next
// of 32 cases of that kind; the counters give the kind's score distribution.

struct PartStudy
{
    PartCases cases;
    std::vector<SURF> matchers;
    std::vector<std::vector<cv::Mat>> templates;
};

PartStudy& partStudy()
{
    static PartStudy p = [] {
        PartStudy s;
        for (int c = 0; c < s.cases.cavities(); ++c) {
            const cv::Rect box = s.cases.box(c);
            s.templates.push_back(s.cases.templates(c));
            SURF sf;
            sf.Create(box.width, box.height, cv::Mat());
            for (const cv::Mat& t : s.templates.back())
                sf.AddTemp(t, 1, 50, 80);
            sf.Train(0, 0, 0, 0);
            s.matchers.push_back(std::move(sf));
        }
        return s;
    }();
    return p;
}

void BM_SurfPartMatch(benchmark::State& st)
{
    PartStudy& p = partStudy();
    std::vector<PartCases::Case> cases;
    std::vector<float> scores;
    cv::Mat out;
    for (int i = 0; i < 32; ++i) {
        cases.push_back(p.cases.make(PartCases::Kind(st.range(0)), i));
        cv::Mat roi = cases.back().roi();
        scores.push_back(p.matchers[size_t(cases.back().cavity)].Match(roi, out));
    }
    size_t i = 0;
    for (auto _ : st) {
        const PartCases::Case& c = cases[i++ % cases.size()];
        cv::Mat roi = c.frame(c.box).clone(); // the engine's copy
        benchmark::DoNotOptimize(p.matchers[size_t(c.cavity)].Match(roi, out));
    }
    std::sort(scores.begin(), scores.end());
    st.SetLabel(PartCases::name(PartCases::Kind(st.range(0))));
    st.counters["min"] = scores.front();
    st.counters["median"] = scores[scores.size() / 2];
    st.counters["max"] = scores.back();
}

// The yardstick: one TM_CCOEFF_NORMED of the box's template over the box grown by 4 px.
void BM_SurfPartMatch_Yardstick(benchmark::State& st)
{
    PartStudy& p = partStudy();
    const PartCases::Case c = p.cases.make(PartCases::Good, 0);
    const cv::Rect grown(c.box.x - 4, c.box.y - 4, c.box.width + 8, c.box.height + 8);
    const cv::Mat tmpl = p.templates[size_t(c.cavity)][0];
    cv::Mat res;
    for (auto _ : st) {
        cv::matchTemplate(c.frame(grown), tmpl, res, cv::TM_CCOEFF_NORMED);
        benchmark::DoNotOptimize(res.data);
    }
}

void BM_SurfPartTrain(benchmark::State& st)
{
    PartStudy& p = partStudy();
    const cv::Rect box = p.cases.box(0);
    for (auto _ : st) {
        SURF sf;
        sf.Create(box.width, box.height, cv::Mat());
        for (const cv::Mat& t : p.templates[0])
            sf.AddTemp(t, 1, 50, 80);
        benchmark::DoNotOptimize(sf.Train(0, 0, 0, 0));
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

// ---- Alignment -----------------------------------------------------------

using Clock = std::chrono::steady_clock;

double ms(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// A 1280x1024 template and the same scene moved by (3, -2) px and turned
// by 1 degree, with the alignment's default mask (the rectangle from a
// quarter in, three quarters wide and high: the lower right three quarters).
struct AlignScene {
    cv::Mat tmpl, frame, mask;
    AlignScene()
    {
        SimScene scene;
        SimScene::Options o;
        o.seed = 3;
        scene.configure(o, 1280, 1024);
        SimScene::Shot still, moved;
        still.pose = SimScene::Pose{};
        moved.pose = SimScene::Pose{{3, -2}, 1.0};
        tmpl = scene.frame(0, still);
        frame = scene.frame(1, moved);
        mask = cv::Mat(tmpl.size(), CV_8UC1, cv::Scalar(0));
        mask(cv::Rect(tmpl.cols / 4, tmpl.rows / 4, 3 * tmpl.cols / 4, 3 * tmpl.rows / 4) & cv::Rect(0, 0, tmpl.cols, tmpl.rows))
            .setTo(255);
    }
};

// One 1280 x 1024 frame of the station benchmark's mould (seed 3), moved by
// (3, -2) and turned by 1 degree, aligned onto the unmoved frame with the
// station's default region (the lower right three quarters): the whole step
// and each of its parts, medians of 20. Yardsticks: the stitching module's
// best-of-two-nearest matcher over the same features and a plain
// cv::phaseCorrelate of the frame, and one blurred layer of the detector's
// first octave (it takes as long with one thread as with all: the detector's
// pyramid is built on one). Argument: OpenCV's threads (0: its default).
void BM_AlignmentSteps(benchmark::State& st)
{
    const int threadsBefore = cv::getNumThreads();
    cv::setNumThreads(st.range(0) > 0 ? int(st.range(0)) : -1);
    const AlignScene scene;
    const cv::Mat &tmpl = scene.tmpl, &frame = scene.frame;
    ImgHomoTrans h;
    h.setTemplate(tmpl, scene.mask, 300);
    cv::Mat dst, a, b;
    frame.convertTo(a, CV_32F);
    tmpl.convertTo(b, CV_32F);
    std::vector<double> whole, features, pairs, homography, warp, stitching, phase, layer, layerStrips;
    // One layer of the detector's first octave: the work-size frame doubled,
    // as float, blurred at the octave's largest step (1.6 * 2^(4/3) over
    // 1.6 * 2^1, about 3.09). The detector blurs six such layers one after
    // another: by the library's own blur (the yardstick, reached past the
    // station's) and by the station's strips.
    cv::Mat doubled, blurred;
    {
        cv::Mat small;
        cv::resize(frame, small, cv::Size(), h.scale(), h.scale(), cv::INTER_LINEAR_EXACT);
        cv::resize(small, doubled, cv::Size(), 2, 2, cv::INTER_LINEAR);
        doubled.convertTo(doubled, CV_32F);
    }
    const LibraryBlurFn libraryBlur = libraryGaussianBlur();
    if (!libraryBlur) {
        st.SkipWithError("the library's blur is not found");
        return;
    }
    const double layerSigma = std::sqrt(std::pow(1.6 * std::pow(2.0, 4.0 / 3), 2) - std::pow(1.6 * 2.0, 2));
    std::vector<cv::DMatch> m;
    cv::Mat H;
    for (auto _ : st) {
        for (int i = 0; i < 20; ++i) {
            auto t0 = Clock::now();
            h.transImageHomo(frame, dst, 0.4f);
            whole.push_back(ms(t0));
            t0 = Clock::now();
            h.findFeature(frame, h.features[0], 0);
            features.push_back(ms(t0));
            t0 = Clock::now();
            m = h.matchTemplate(0.4f);
            pairs.push_back(ms(t0));
            std::vector<cv::Point2f> from, to;
            for (const cv::DMatch& d : m) {
                from.push_back(h.features[0].keypoints[size_t(d.queryIdx)].pt / h.scale());
                to.push_back(h.features[1].keypoints[size_t(d.trainIdx)].pt / h.scale());
            }
            t0 = Clock::now();
            H = from.size() > 3 ? cv::findHomography(from, to, cv::RANSAC, 3.0, cv::noArray(), 2000, 0.995) : cv::Mat();
            homography.push_back(ms(t0));
            t0 = Clock::now();
            if (!H.empty())
                cv::warpPerspective(frame, dst, H, frame.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
            warp.push_back(ms(t0));
            t0 = Clock::now();
            {
                std::vector<cv::detail::MatchesInfo> pairwise;
                cv::detail::BestOf2NearestMatcher matcher(false, 0.4f, 6, 6);
                matcher(h.features, pairwise);
            }
            stitching.push_back(ms(t0));
            t0 = Clock::now();
            benchmark::DoNotOptimize(cv::phaseCorrelate(a, b));
            phase.push_back(ms(t0));
            t0 = Clock::now();
            libraryBlur(doubled, blurred, cv::Size(), layerSigma, layerSigma, cv::BORDER_DEFAULT);
            layer.push_back(ms(t0));
            t0 = Clock::now();
            cv::GaussianBlur(doubled, blurred, cv::Size(), layerSigma, layerSigma);
            layerStrips.push_back(ms(t0));
        }
    }
    st.counters["align_ms"] = median(whole);
    st.counters["frame_features_ms"] = median(features);
    st.counters["pairs_ms"] = median(pairs);
    st.counters["homography_ms"] = median(homography);
    st.counters["warp_ms"] = median(warp);
    st.counters["stitching_matcher_ms"] = median(stitching);
    st.counters["phase_correlate_ms"] = median(phase);
    st.counters["first_octave_layer_blur_ms"] = median(layer);
    st.counters["first_octave_layer_blur_strips_ms"] = median(layerStrips);
    st.counters["frame_keypoints"] = double(h.features[0].keypoints.size());
    st.counters["template_keypoints"] = double(h.templateKeypoints());
    st.counters["pairs"] = double(m.size());
    st.counters["opencv_threads"] = cv::getNumThreads();
    cv::setNumThreads(threadsBefore);
}

// The alignment as a camera's frames come, one every pause (100 ms: ten
// frames a second), against back to back (pause 0), medians of 20. The
// detector runs on all of OpenCV's threads: where idle cores are slow to
// wake, a frame after a pause costs more than one right after another. The
// yardstick: a plain cv::phaseCorrelate of the same frame, paced the same.
void BM_AlignmentPaced(benchmark::State& st)
{
    const auto pause = std::chrono::milliseconds(st.range(0));
    const AlignScene scene;
    ImgHomoTrans h;
    h.setTemplate(scene.tmpl, scene.mask, 300);
    cv::Mat dst, a, b;
    scene.frame.convertTo(a, CV_32F);
    scene.tmpl.convertTo(b, CV_32F);
    std::vector<double> align, phase;
    for (auto _ : st) {
        // Each in a run of its own: between two alignments nothing else runs.
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(pause);
            const auto t0 = Clock::now();
            h.transImageHomo(scene.frame, dst, 0.4f);
            align.push_back(ms(t0));
        }
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(pause);
            const auto t0 = Clock::now();
            benchmark::DoNotOptimize(cv::phaseCorrelate(a, b));
            phase.push_back(ms(t0));
        }
    }
    st.counters["align_ms"] = median(align);
    st.counters["phase_correlate_ms"] = median(phase);
    st.counters["align_over_phase_correlate"] = median(phase) > 0 ? median(align) / median(phase) : 0;
}

// The method the alignment stands for, as the stitching module runs it:
// SIFT over the whole frame at work size with the mask, then its
// best-of-two-nearest matcher. The yardstick of the agreement below.
void wholeFrameFeatures(const cv::Mat& image, const cv::Mat& fullMask, float scale, cv::detail::ImageFeatures& out, int index)
{
    cv::Mat small, mask;
    cv::resize(image, small, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
    cv::resize(fullMask, mask, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
    cv::detail::computeImageFeatures(cv::SIFT::create(0, 3, 0.04, 10, 1.6), small, out, mask);
    out.img_idx = index;
}

// How far the alignment's transform is from the one of the whole-frame
// method (above) on three moulds (seed 3 is the station benchmark's), plain
// and engraved, each moved by a few pixels and turned by up to 2 degrees: the
// largest distance between the two transforms' images of the frame's corners
// and of a 64-pixel grid, against the closest and the farthest of six
// whole-frame runs, and how far those runs are from each other (the
// stitching matcher's kd-trees are randomised). Also the time of each, and
// how far each puts the default region from where the scene's move took it
// (largest, mean, and the share of alignments more than 2 px off).
void BM_AlignmentAgreement(benchmark::State& st)
{
    auto transform = [](const cv::detail::ImageFeatures& frame, const cv::detail::ImageFeatures& tmpl,
                        const std::vector<cv::DMatch>& pairs, float scale) {
        std::vector<cv::Point2f> from, to;
        for (const cv::DMatch& d : pairs) {
            from.push_back(frame.keypoints[size_t(d.queryIdx)].pt / scale);
            to.push_back(tmpl.keypoints[size_t(d.trainIdx)].pt / scale);
        }
        return from.size() > 3 ? cv::findHomography(from, to, cv::RANSAC, 3.0, cv::noArray(), 2000, 0.995) : cv::Mat();
    };
    auto apart = [](const cv::Mat& a, const cv::Mat& b, cv::Size size) {
        if (a.empty() || b.empty())
            return a.empty() == b.empty() ? 0.0 : 1e9;
        std::vector<cv::Point2f> grid, pa, pb;
        for (int y = 0; y <= size.height; y += 64)
            for (int x = 0; x <= size.width; x += 64)
                grid.emplace_back(float(std::min(x, size.width - 1)), float(std::min(y, size.height - 1)));
        cv::perspectiveTransform(grid, pa, a);
        cv::perspectiveTransform(grid, pb, b);
        double most = 0;
        for (size_t i = 0; i < grid.size(); ++i)
            most = std::max(most, double(cv::norm(pa[i] - pb[i])));
        return most;
    };
    const cv::Size size(1280, 1024);
    const SimScene::Pose poses[] = {{{0, 0}, 0},    {{3, -2}, 0},   {{-5, 4}, 0.5}, {{2, 6}, 1},
                                    {{-4, -3}, -1.5}, {{6, 2}, 2}, {{1, 1}, -2},  {{-2, 5}, 0.3}};
    double closest[2] = {0, 0}, farthest[2] = {0, 0}, spread[2] = {0, 0};
    std::vector<double> oursMs, wholeMs;
    // How far a transform puts the default region's points (a 64-pixel grid
    // over the lower right three quarters) from where the scene's move took
    // them: the error against the truth, per scene.
    double oursOff[2] = {0, 0}, wholeOff[2] = {0, 0};
    double oursOffSum[2] = {0, 0}, wholeOffSum[2] = {0, 0};
    int oursOffN[2] = {0, 0}, wholeOffN[2] = {0, 0};
    int oursBeyond2[2] = {0, 0}, wholeBeyond2[2] = {0, 0}; // alignments more than 2 px from the truth
    auto offTruth = [&](const SimScene& scene, const SimScene::Pose& pose, const cv::Mat& H) {
        if (H.empty())
            return 1e9;
        std::vector<cv::Point2f> moved, back;
        std::vector<cv::Point2d> at;
        for (int y = size.height / 4; y < size.height; y += 64)
            for (int x = size.width / 4; x < size.width; x += 64) {
                at.emplace_back(x, y);
                moved.emplace_back(scene.movePoint(at.back(), pose));
            }
        cv::perspectiveTransform(moved, back, H);
        double most = 0;
        for (size_t i = 0; i < at.size(); ++i)
            most = std::max(most, cv::norm(cv::Point2d(back[i]) - at[i]));
        return most;
    };
    for (auto _ : st) {
        for (const int seed : {3, 8, 13})
        for (bool engraved : {false, true}) {
            SimScene scene;
            SimScene::Options o;
            o.seed = unsigned(seed);
            o.engraved = engraved;
            scene.configure(o, size.width, size.height);
            SimScene::Shot shot;
            shot.pose = SimScene::Pose{};
            const cv::Mat tmpl = scene.frame(0, shot);
            cv::Mat mask(size, CV_8UC1, cv::Scalar(0));
            mask(cv::Rect(size.width / 4, size.height / 4, 3 * size.width / 4, 3 * size.height / 4) & cv::Rect(cv::Point(), size)).setTo(255);
            ImgHomoTrans h;
            h.setTemplate(tmpl, mask, 300);
            std::vector<cv::detail::ImageFeatures> whole(2);
            wholeFrameFeatures(tmpl, mask, h.scale(), whole[1], 1);
            quint64 n = 1;
            for (const SimScene::Pose& pose : poses) {
                shot.pose = pose;
                const cv::Mat frame = scene.frame(n++, shot);
                auto t0 = Clock::now();
                h.findFeature(frame, h.features[0], 0);
                const cv::Mat ours = transform(h.features[0], h.features[1], h.matchTemplate(0.4f), h.scale());
                oursMs.push_back(ms(t0));
                const double oursFromTruth = offTruth(scene, pose, ours);
                oursOff[engraved] = std::max(oursOff[engraved], oursFromTruth);
                oursOffSum[engraved] += oursFromTruth;
                oursBeyond2[engraved] += oursFromTruth > 2.0;
                ++oursOffN[engraved];
                double lo = 1e18, hi = 0;
                cv::Mat first;
                for (int run = 0; run < 6; ++run) {
                    t0 = Clock::now();
                    wholeFrameFeatures(frame, mask, h.scale(), whole[0], 0);
                    std::vector<cv::detail::MatchesInfo> pairwise;
                    cv::detail::BestOf2NearestMatcher matcher(false, 0.4f, 6, 6);
                    matcher(whole, pairwise);
                    const cv::Mat theirs = transform(whole[0], whole[1], pairwise[1].matches, h.scale());
                    wholeMs.push_back(ms(t0));
                    const double theirsFromTruth = offTruth(scene, pose, theirs);
                    wholeOff[engraved] = std::max(wholeOff[engraved], theirsFromTruth);
                    wholeOffSum[engraved] += theirsFromTruth;
                    wholeBeyond2[engraved] += theirsFromTruth > 2.0;
                    ++wholeOffN[engraved];
                    const double d = apart(ours, theirs, size);
                    lo = std::min(lo, d);
                    hi = std::max(hi, d);
                    if (run == 0)
                        first = theirs;
                    else
                        spread[engraved] = std::max(spread[engraved], apart(first, theirs, size));
                }
                closest[engraved] = std::max(closest[engraved], lo);
                farthest[engraved] = std::max(farthest[engraved], hi);
            }
        }
    }
    st.counters["px_to_closest_whole_frame_run_max_plain"] = closest[0];
    st.counters["px_to_closest_whole_frame_run_max_engraved"] = closest[1];
    st.counters["px_to_farthest_whole_frame_run_max_plain"] = farthest[0];
    st.counters["px_to_farthest_whole_frame_run_max_engraved"] = farthest[1];
    st.counters["px_whole_frame_runs_apart_max_plain"] = spread[0];
    st.counters["px_whole_frame_runs_apart_max_engraved"] = spread[1];
    st.counters["ours_px_from_truth_max_plain"] = oursOff[0];
    st.counters["ours_px_from_truth_max_engraved"] = oursOff[1];
    st.counters["whole_frame_px_from_truth_max_plain"] = wholeOff[0];
    st.counters["whole_frame_px_from_truth_max_engraved"] = wholeOff[1];
    st.counters["ours_px_from_truth_mean_plain"] = oursOffSum[0] / std::max(1, oursOffN[0]);
    st.counters["ours_px_from_truth_mean_engraved"] = oursOffSum[1] / std::max(1, oursOffN[1]);
    st.counters["whole_frame_px_from_truth_mean_plain"] = wholeOffSum[0] / std::max(1, wholeOffN[0]);
    st.counters["whole_frame_px_from_truth_mean_engraved"] = wholeOffSum[1] / std::max(1, wholeOffN[1]);
    for (int k = 0; k < 2; ++k) {
        const std::string kind = k ? "engraved" : "plain";
        st.counters["ours_beyond_2px_share_" + kind] = double(oursBeyond2[k]) / std::max(1, oursOffN[k]);
        st.counters["whole_frame_beyond_2px_share_" + kind] = double(wholeBeyond2[k]) / std::max(1, wholeOffN[k]);
    }
    st.counters["ours_ms_median"] = median(oursMs);
    st.counters["whole_frame_ms_median"] = median(wholeMs);
}

} // namespace

BENCHMARK(BM_AlignmentAgreement)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlignmentSteps)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlignmentPaced)->Arg(0)->Arg(100)->ArgName("pause_ms")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrayMatchTrain)->Apply(roiArgs);
BENCHMARK(BM_GrayMatchMatch)->Apply(roiArgs);
BENCHMARK(BM_SurfTrain)->Apply(roiArgs);
BENCHMARK(BM_SurfMatch)->Apply(roiArgs);
BENCHMARK(BM_PlainMatchTemplateRoi)->Apply(roiArgs);
BENCHMARK(BM_SurfPartMatch)->DenseRange(0, PartCases::KindCount - 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SurfPartMatch_Yardstick)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SurfPartTrain)->Unit(benchmark::kMillisecond);
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

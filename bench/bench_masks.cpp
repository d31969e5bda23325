// ROI mask building at the largest frame (2448 x 2048): polygons of the most
// vertices a drawn polygon keeps (8095; a detailed outline and a
// self-crossing one) and a frame-filling ring, each against a plain OpenCV
// fill of the same shape.
#include "inspection/circle.h"
#include "inspection/repolygon.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>
#include <random>
#include <vector>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kW = 2448;
constexpr int kH = 2048;
constexpr float kSx = 1920.0f / kW; // view pixels per image pixel
constexpr float kSy = 1080.0f / kH;

// A wavy closed outline over the whole frame: 8095 vertices, many edges per
// row, as a free-hand area around a moulded part gives.
std::unique_ptr<RePolygon> bigPolygon()
{
    const int n = 8095;
    std::vector<QPoint> pts;
    pts.reserve(n);
    for (int i = 0; i < n; ++i) {
        const double a = 2.0 * M_PI * i / n;
        const double wobble = 1.0 - 0.08 * std::sin(37.0 * a) - 0.04 * ((i % 2) ? 1.0 : -1.0);
        const double x = kW / 2.0 + (kW / 2.0 - 4) / 1.12 * wobble * std::cos(a);
        const double y = kH / 2.0 + (kH / 2.0 - 4) / 1.12 * wobble * std::sin(a);
        pts.emplace_back(int(x * kSx), int(y * kSy));
    }
    auto p = std::make_unique<RePolygon>(n, pts.data());
    p->setShowA(kSx, kSy);
    p->setImageRect();
    return p;
}

// The same number of vertices as a self-crossing random walk over the
// frame: edges cross one another, so the order of the crossings changes
// from row to row (the scan's worst case).
std::unique_ptr<RePolygon> walkPolygon()
{
    const int n = 8095;
    std::mt19937 rng(8095);
    std::uniform_int_distribution<int> step(-40, 40);
    std::vector<QPoint> pts;
    QPoint p(960, 540);
    for (int i = 0; i < n; ++i) {
        p.setX(std::clamp(p.x() + step(rng), 3, 1916));
        p.setY(std::clamp(p.y() + step(rng), 3, 1076));
        pts.push_back(p);
    }
    auto poly = std::make_unique<RePolygon>(n, pts.data());
    poly->setShowA(kSx, kSy);
    poly->setImageRect();
    return poly;
}

std::vector<cv::Point> imagePointsOf(const RePolygon& p, cv::Point offset)
{
    std::vector<cv::Point> v;
    for (int i = 0; i < p.count; ++i)
        v.emplace_back(p.imagePoints[i].x() - offset.x, p.imagePoints[i].y() - offset.y);
    return v;
}

Circle bigRing()
{
    Circle c;
    c.cx = 960;
    c.cy = 540;
    c.radius = 530;
    c.innerRadius = 150;
    c.UpdateRect();
    c.setShowA(kSx, kSy);
    c.setImageRect();
    return c;
}

void runMask(benchmark::State& state, const RePolygon& poly)
{
    for (auto _ : state) {
        cv::Mat m = poly.UpdateMask();
        benchmark::DoNotOptimize(m.data);
    }
    state.counters["rows"] = poly.imageBoundRect.height();
    state.counters["cols"] = poly.imageBoundRect.width();
}

// The plain OpenCV fill of the same image vertices over the same box (it
// also sets the outline pixels, which the exact mask leaves out).
void runFillPoly(benchmark::State& state, const RePolygon& poly)
{
    const QRect box = poly.imageBoundRect;
    const std::vector<std::vector<cv::Point>> contours{imagePointsOf(poly, cv::Point(box.left(), box.top()))};
    for (auto _ : state) {
        cv::Mat m = cv::Mat::zeros(box.height(), box.width(), CV_8UC1);
        cv::fillPoly(m, contours, cv::Scalar(255));
        benchmark::DoNotOptimize(m.data);
    }
}

void BM_PolygonMask(benchmark::State& state) { runMask(state, *bigPolygon()); }
BENCHMARK(BM_PolygonMask)->Unit(benchmark::kMillisecond);
void BM_PolygonFillPoly(benchmark::State& state) { runFillPoly(state, *bigPolygon()); }
BENCHMARK(BM_PolygonFillPoly)->Unit(benchmark::kMillisecond);
void BM_WalkPolygonMask(benchmark::State& state) { runMask(state, *walkPolygon()); }
BENCHMARK(BM_WalkPolygonMask)->Unit(benchmark::kMillisecond);
void BM_WalkPolygonFillPoly(benchmark::State& state) { runFillPoly(state, *walkPolygon()); }
BENCHMARK(BM_WalkPolygonFillPoly)->Unit(benchmark::kMillisecond);

// The per-pixel point test over 16 rows of the same box, to show what the
// plain approach would cost (multiply by rows / 16 for the whole mask).
void BM_PolygonPointTest16Rows(benchmark::State& state)
{
    const auto poly = bigPolygon();
    const QRect box = poly->imageBoundRect;
    const std::vector<cv::Point> contour = imagePointsOf(*poly, cv::Point(0, 0));
    for (auto _ : state) {
        cv::Mat m = cv::Mat::zeros(16, box.width(), CV_8UC1);
        const int y0 = box.top() + box.height() / 2;
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < box.width(); ++c)
                if (cv::pointPolygonTest(contour, cv::Point2f(float(box.left() + c), float(y0 + r)), false) > 0)
                    m.at<uchar>(r, c) = 255;
        benchmark::DoNotOptimize(m.data);
    }
    state.counters["rows_total"] = box.height();
}
BENCHMARK(BM_PolygonPointTest16Rows)->Unit(benchmark::kMillisecond);

void BM_RingMask(benchmark::State& state)
{
    const Circle c = bigRing();
    for (auto _ : state) {
        cv::Mat m = c.UpdateMask();
        benchmark::DoNotOptimize(m.data);
    }
    state.counters["side"] = 2 * c.imageRadius;
}
BENCHMARK(BM_RingMask)->Unit(benchmark::kMillisecond);

void BM_RingOpenCV(benchmark::State& state)
{
    const Circle c = bigRing();
    const int o = c.imageRadius;
    for (auto _ : state) {
        cv::Mat m = cv::Mat::zeros(2 * o, 2 * o, CV_8UC1);
        cv::circle(m, cv::Point(o, o), o, cv::Scalar(255), cv::FILLED);
        cv::circle(m, cv::Point(o, o), c.imageInnerRadius, cv::Scalar(0), cv::FILLED);
        benchmark::DoNotOptimize(m.data);
    }
}
BENCHMARK(BM_RingOpenCV)->Unit(benchmark::kMillisecond);

} // namespace

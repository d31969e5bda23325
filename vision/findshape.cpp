#include "vision/findshape.h"
#include "vision/greyimage.h"

#include "vision/ncctemplate.h"

#include <opencv2/imgproc.hpp>

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <unordered_map>
#include <vector>

using vision::toGrey;

namespace {
// The coarsest level must still show the model's shape.
constexpr int kMinTopSide = 24;
constexpr int kMinTopPixels = 400;
constexpr double kDefaultMinScore = 0.5;
// Coarse candidates are kept this far below the minimum score: blur lowers some true peaks.
constexpr double kCoarseSlack = 0.25;
constexpr size_t kCacheLimitBytes = size_t(128) << 20;
constexpr int kClimbLimit = 24;
// Room around a candidate for the local search at each level.
constexpr int kRegionMargin = 8;
// Local scores of larger models are taken on a regular grid of about this many
// pixels: the same answer at full-resolution precision for a fraction of the cost.
constexpr double kDensePixels = 40000;
constexpr int kMaxLevels = 12;
// Most angles x model pixels tried per placement on the coarsest level of a
// turned model (the default pyramid of a whole-frame model at +-180 degrees
// needs about a twentieth of it).
constexpr double kMaxCoarseWork = 4.0e6;

constexpr double kPi = 3.14159265358979323846;

struct Level
{
    cv::Mat model; // 8-bit
    cv::Mat mask;  // 8-bit 0/255
    cv::Point2d ref;
    double step = 1.0; // degrees per angle index
    int maxIndex = 0;  // |index| <= maxIndex stays within the angle range
    int stride = 1;    // grid of the local scores (1 = every pixel)
    // Coarsest level only: the part of the model that stays inside the model
    // box at every angle searched. All angles then share one mask, and the
    // image statistics under it are computed once instead of once per angle.
    cv::Mat commonMask;
    std::unordered_map<int, NccTemplate> cache;  // full templates, for whole-image score maps
    std::unordered_map<int, NccTemplate> sparse; // grid-sampled templates, for local scores
    size_t bytes = 0;

    void dropCache()
    {
        cache.clear();
        sparse.clear();
        bytes = 0;
    }
};

// Every stride-th pixel of src starting at (px, py).
cv::Mat decimate(const cv::Mat& src, int px, int py, int stride)
{
    const int cols = (src.cols - px + stride - 1) / stride, rows = (src.rows - py + stride - 1) / stride;
    cv::Mat out(std::max(rows, 0), std::max(cols, 0), src.type());
    for (int r = 0; r < out.rows; ++r) {
        const uchar* in = src.ptr<uchar>(py + r * stride);
        uchar* o = out.ptr<uchar>(r);
        for (int c = 0; c < out.cols; ++c)
            o[c] = in[px + c * stride];
    }
    return out;
}

struct Candidate
{
    double score = -1.0;
    int tx = 0, ty = 0; // top-left of the model at the current level
    int k = 0;          // angle index at the current level
    double offX = 0, offY = 0, offK = 0;
};

double parabolaPeak(double left, double centre, double right)
{
    const double den = left - 2.0 * centre + right;
    if (den >= -1e-12)
        return 0.0;
    return std::clamp(0.5 * (left - right) / den, -0.5, 0.5);
}

// Angle step, angle count and score grid of one level. One angle step moves
// the model's rim by one pixel; the finest level is refined by `accuracy`.
void setAngles(Level& L, bool finest, int accuracy, int angleRange)
{
    const cv::Rect box = cv::boundingRect(L.mask);
    double r = 2.0;
    for (const cv::Point2d p : {cv::Point2d(box.x, box.y), cv::Point2d(box.br().x, box.y),
                                cv::Point2d(box.x, box.br().y), cv::Point2d(box.br().x, box.br().y)})
        r = std::max(r, std::hypot(p.x - L.ref.x, p.y - L.ref.y));
    const double pixels = double(cv::countNonZero(L.mask));
    L.stride = std::max(1, int(std::ceil(std::sqrt(pixels / kDensePixels))));
    L.step = std::atan(1.0 / r) * 180.0 / kPi;
    if (finest)
        L.step /= 1.0 + accuracy / 5.0;
    L.maxIndex = angleRange == 0 ? 0 : int(std::floor(angleRange / L.step + 1e-9));
}

// Model pixels scored per placement when every angle of a level is tried.
double coarseWork(const Level& L)
{
    return L.maxIndex == 0 ? 0.0 : double(2 * L.maxIndex + 1) * double(L.model.total());
}
} // namespace

struct FindShape::Impl
{
    std::vector<Level> levels;
    TrainStatus status = TrainStatus::Empty;
    double minScore = kDefaultMinScore;
    int angleRange = 0;
    bool absolute = false;
    int accuracy = 0;
    int centerX = 0, centerY = 0;
    size_t cacheBytes = 0;
    bool warnedSearch = false;
    std::vector<double> lastScores;

    const NccTemplate& rotated(int l, int k);
    const NccTemplate& sampled(int l, int k);
    void turn(int l, int k, cv::Mat& model, cv::Mat& mask) const;
    void makeRoom(int l);
    Candidate climb(int l, const cv::Mat& image, Candidate start);
};

void FindShape::Impl::turn(int l, int k, cv::Mat& model, cv::Mat& mask) const
{
    const Level& L = levels[size_t(l)];
    if (k == 0) {
        model = L.model;
        mask = L.mask;
        return;
    }
    const cv::Mat r = cv::getRotationMatrix2D(cv::Point2f(float(L.ref.x), float(L.ref.y)), k * L.step, 1.0);
    cv::Mat msk;
    cv::warpAffine(L.model, model, r, L.model.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::warpAffine(L.mask, msk, r, L.mask.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    mask = msk >= 250; // only pixels that came wholly from inside the model
}

void FindShape::Impl::makeRoom(int l)
{
    if (cacheBytes <= kCacheLimitBytes)
        return;
    // Fine levels are revisited only near the last angles: start them afresh.
    const int top = int(levels.size()) - 1;
    for (int i = 0; i < top; ++i) {
        if (i == l)
            continue;
        cacheBytes -= levels[size_t(i)].bytes;
        levels[size_t(i)].dropCache();
    }
    if (cacheBytes > kCacheLimitBytes && l != top) {
        cacheBytes -= levels[size_t(l)].bytes;
        levels[size_t(l)].dropCache();
    }
}

const NccTemplate& FindShape::Impl::rotated(int l, int k)
{
    Level& L = levels[size_t(l)];
    auto it = L.cache.find(k);
    if (it != L.cache.end())
        return it->second;
    makeRoom(l);
    cv::Mat m, msk;
    turn(l, k, m, msk);
    NccTemplate t = NccTemplate::build(m, L.commonMask.empty() ? msk : L.commonMask);
    if (!L.commonMask.empty())
        t.sharedMaskId = 1 + l;
    const size_t bytes = size_t(L.model.total()) * 8;
    L.bytes += bytes;
    cacheBytes += bytes;
    return L.cache.emplace(k, std::move(t)).first->second;
}

const NccTemplate& FindShape::Impl::sampled(int l, int k)
{
    Level& L = levels[size_t(l)];
    if (L.stride <= 1)
        return rotated(l, k);
    auto it = L.sparse.find(k);
    if (it != L.sparse.end())
        return it->second;
    makeRoom(l);
    cv::Mat m, msk;
    turn(l, k, m, msk);
    NccTemplate t = NccTemplate::build(decimate(m, 0, 0, L.stride), decimate(msk, 0, 0, L.stride));
    const size_t bytes = t.zeroMean.total() * 8;
    L.bytes += bytes;
    cacheBytes += bytes;
    return L.sparse.emplace(k, std::move(t)).first->second;
}

Candidate FindShape::Impl::climb(int l, const cv::Mat& image, Candidate c)
{
    const Level& L = levels[size_t(l)];
    const int w = L.model.cols, h = L.model.rows;
    c.tx = std::clamp(c.tx, 0, image.cols - w);
    c.ty = std::clamp(c.ty, 0, image.rows - h);
    c.k = std::clamp(c.k, -L.maxIndex, L.maxIndex);

    const cv::Rect region =
        cv::Rect(c.tx - kRegionMargin, c.ty - kRegionMargin, w + 2 * kRegionMargin, h + 2 * kRegionMargin) &
        cv::Rect(0, 0, image.cols, image.rows);
    // One prepared image per grid phase: a placement at (rx, ry) reads phase (rx mod s, ry mod s).
    const int st = L.stride;
    std::vector<NccTemplate::Image> phases;
    for (int py = 0; py < st; ++py)
        for (int px = 0; px < st; ++px)
            phases.push_back(NccTemplate::prepare(st == 1 ? image(region) : decimate(image(region), px, py, st)));

    std::map<std::tuple<int, int, int>, double> memo;
    auto score = [&](int tx, int ty, int k) {
        if (k < -L.maxIndex || k > L.maxIndex)
            return -2.0;
        const auto key = std::make_tuple(tx, ty, k);
        auto it = memo.find(key);
        if (it != memo.end())
            return it->second;
        const int rx = tx - region.x, ry = ty - region.y;
        double s = -1.0;
        if (rx >= 0 && ry >= 0)
            s = sampled(l, k).scoreAt(phases[size_t((ry % st) * st + rx % st)], cv::Point(rx / st, ry / st),
                                      absolute);
        memo.emplace(key, s);
        return s;
    };

    const bool turning = L.maxIndex > 0;
    c.score = score(c.tx, c.ty, c.k);
    for (int iter = 0; iter < kClimbLimit; ++iter) {
        int bx = c.tx, by = c.ty, bk = c.k;
        double bs = c.score;
        // Turning a model whose structure sits off-centre also moves it: step
        // angle and position together, or the search sticks on that ridge.
        // The same angle first, so that ties keep it.
        for (const int dk : {0, -1, 1}) {
            if (dk && !turning)
                continue;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    if (!dk && !dx && !dy)
                        continue;
                    const double s = score(c.tx + dx, c.ty + dy, c.k + dk);
                    if (s > bs) {
                        bs = s;
                        bx = c.tx + dx;
                        by = c.ty + dy;
                        bk = c.k + dk;
                    }
                }
        }
        if (bx == c.tx && by == c.ty && bk == c.k)
            break;
        c.tx = bx;
        c.ty = by;
        c.k = bk;
        c.score = bs;
    }

    c.offX = c.offY = c.offK = 0;
    if (l == 0 && accuracy > 0 && c.score > 0) {
        const double sl = score(c.tx - 1, c.ty, c.k), sr = score(c.tx + 1, c.ty, c.k);
        if (sl > -1 && sr > -1)
            c.offX = parabolaPeak(sl, c.score, sr);
        const double su = score(c.tx, c.ty - 1, c.k), sd = score(c.tx, c.ty + 1, c.k);
        if (su > -1 && sd > -1)
            c.offY = parabolaPeak(su, c.score, sd);
        if (turning) {
            const double ka = score(c.tx, c.ty, c.k - 1), kb = score(c.tx, c.ty, c.k + 1);
            if (ka > -1 && kb > -1)
                c.offK = parabolaPeak(ka, c.score, kb);
        }
    }
    return c;
}

FindShape::FindShape() : d(std::make_unique<Impl>()) {}
FindShape::~FindShape() = default;
FindShape::FindShape(FindShape&&) noexcept = default;
FindShape& FindShape::operator=(FindShape&&) noexcept = default;

bool FindShape::IsValid() const { return d->status == TrainStatus::Trained; }
TrainStatus FindShape::Status() const { return d->status; }
void FindShape::Clear() { *d = Impl(); }
const std::vector<double>& FindShape::LastScores() const { return d->lastScores; }
int FindShape::PyramidLevels() const { return int(d->levels.size()); }
double FindShape::FinestAngleStep() const { return d->levels.empty() ? 0.0 : d->levels.front().step; }
cv::Size FindShape::ModelSize() const { return d->levels.empty() ? cv::Size() : d->levels.front().model.size(); }

bool FindShape::CreateShape(const cv::Mat& model, double minScore, int modelKind, int angleRange, int centerX,
                            int centerY, bool ignorePolarity, int contrast, cv::Mat mask, int accuracy, int levels)
{
    Q_UNUSED(modelKind);
    Clear();
    // A copy: the model may be a view into a frame that the caller reuses.
    const cv::Mat grey = toGrey(model).clone();
    if (grey.empty()) {
        d->status = TrainStatus::BadInput;
        qInfo("FindShape: empty or unsupported model image, positioning model not built");
        return false;
    }
    if (!mask.empty() && (mask.size() != grey.size() || mask.type() != CV_8UC1)) {
        d->status = TrainStatus::BadInput;
        qInfo("FindShape: mask %dx%d does not fit the model %dx%d, positioning model not built", mask.cols,
              mask.rows, grey.cols, grey.rows);
        return false;
    }
    const cv::Mat m = mask.empty() ? cv::Mat(grey.size(), CV_8UC1, cv::Scalar(255)) : cv::Mat(mask > 0);
    if (cv::countNonZero(m) < 16) {
        d->status = TrainStatus::BadInput;
        qInfo("FindShape: the model mask covers almost nothing, positioning model not built");
        return false;
    }
    const double texture = NccTemplate::textureLevel(grey, m);
    if (texture < NccTemplate::kMinTexture) {
        d->status = TrainStatus::Untextured;
        qInfo("FindShape: model without texture (grey deviation %.2f), it would match anywhere; "
              "positioning model not built",
              texture);
        return false;
    }
    if (contrast >= 1 && contrast <= 254) {
        cv::Mat grad, inner;
        cv::morphologyEx(grey, grad, cv::MORPH_GRADIENT, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
        cv::erode(m, inner, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
        double strongest = 0;
        cv::minMaxLoc(grad, nullptr, &strongest, nullptr, nullptr, inner);
        if (strongest < contrast) {
            d->status = TrainStatus::LowContrast;
            qInfo("FindShape: strongest model edge %.0f is below the contrast %d, positioning model not built",
                  strongest, contrast);
            return false;
        }
    }

    d->minScore = minScore <= 0.0 ? kDefaultMinScore : std::clamp(minScore / 100.0, 0.05, 1.0);
    d->angleRange = std::clamp(angleRange, 0, 180);
    d->absolute = ignorePolarity;
    d->accuracy = std::clamp(accuracy, 0, 10);
    d->centerX = centerX;
    d->centerY = centerY;

    Level base;
    base.model = grey;
    base.mask = m;
    base.ref = cv::Point2d(grey.cols / 2, grey.rows / 2);
    setAngles(base, true, d->accuracy, d->angleRange);
    d->levels.push_back(std::move(base));
    // The asked depth is kept, except that a turned model must reach a level
    // where trying every angle stays affordable: a full-resolution angle scan
    // of a large model would hold the inspection for minutes and its cache
    // would eat the memory.
    const int asked = std::clamp(levels, 1, kMaxLevels);
    while (int(d->levels.size()) < kMaxLevels &&
           (int(d->levels.size()) < asked || coarseWork(d->levels.back()) > kMaxCoarseWork)) {
        const Level& prev = d->levels.back();
        Level next;
        cv::pyrDown(prev.model, next.model);
        cv::Mat mk;
        cv::pyrDown(prev.mask, mk);
        next.mask = mk >= 250;
        if (std::min(next.model.cols, next.model.rows) < kMinTopSide || cv::countNonZero(next.mask) < kMinTopPixels)
            break;
        next.ref = prev.ref * 0.5;
        setAngles(next, false, d->accuracy, d->angleRange);
        d->levels.push_back(std::move(next));
    }

    // The coarse level is searched at every angle on every Find: build it now.
    const int top = int(d->levels.size()) - 1;
    Level& T = d->levels.back();
    if (T.maxIndex > 0) {
        cv::Mat common = T.mask.clone();
        for (int k = -T.maxIndex; k <= T.maxIndex; ++k) {
            cv::Mat m, msk;
            d->turn(top, k, m, msk);
            cv::bitwise_and(common, msk, common);
        }
        if (cv::countNonZero(common) >= kMinTopPixels / 2)
            T.commonMask = common;
    }
    if (size_t(2 * T.maxIndex + 1) * T.model.total() * 8 < kCacheLimitBytes / 2)
        for (int k = -T.maxIndex; k <= T.maxIndex; ++k)
            d->rotated(top, k);
    if (!d->rotated(0, 0).usable()) {
        Clear();
        d->status = TrainStatus::Untextured;
        qInfo("FindShape: model without texture, positioning model not built");
        return false;
    }
    d->status = TrainStatus::Trained;
    return true;
}

bool FindShape::Find(cv::Mat& search, int maxTargets, int* x, int* y, double* scoreOrCount, double* angle)
{
    d->lastScores.clear();
    const bool multi = maxTargets > 1;
    if (scoreOrCount)
        *scoreOrCount = 0;
    if (!IsValid())
        return false;
    const cv::Mat g = search.empty() ? cv::Mat() : toGrey(search);
    const Level& L0 = d->levels.front();
    if (g.empty() || g.cols < L0.model.cols || g.rows < L0.model.rows) {
        if (!d->warnedSearch)
            qWarning("FindShape: search image %dx%d is empty or smaller than the model %dx%d", search.cols,
                     search.rows, L0.model.cols, L0.model.rows);
        d->warnedSearch = true;
        return false;
    }

    std::vector<cv::Mat> pyr{g};
    while (pyr.size() < d->levels.size()) {
        cv::Mat next;
        cv::pyrDown(pyr.back(), next);
        const Level& L = d->levels[pyr.size()];
        if (next.cols < L.model.cols || next.rows < L.model.rows)
            break;
        pyr.push_back(next);
    }
    const int top = int(pyr.size()) - 1;
    const Level& T = d->levels[size_t(top)];

    // Coarse: every angle over the whole search image.
    NccTemplate::Image topImg = NccTemplate::prepare(pyr[size_t(top)]);
    cv::Mat best, bestK;
    for (int k = -T.maxIndex; k <= T.maxIndex; ++k) {
        const cv::Mat map = d->rotated(top, k).scoreMap(topImg, d->absolute);
        if (map.empty())
            continue;
        if (best.empty()) {
            best = map.clone();
            bestK = cv::Mat(map.size(), CV_32S, cv::Scalar(k));
        } else {
            const cv::Mat better = map > best;
            map.copyTo(best, better);
            bestK.setTo(cv::Scalar(k), better);
        }
    }
    if (best.empty())
        return false;

    const double coarseMin = std::max(0.15, d->minScore - kCoarseSlack);
    const int rad = std::max(1, std::min(T.model.cols, T.model.rows) / 2 - 1);
    cv::Mat dil;
    cv::dilate(best, dil, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * rad + 1, 2 * rad + 1)));
    std::vector<Candidate> cands;
    for (int r = 0; r < best.rows; ++r) {
        const float* pb = best.ptr<float>(r);
        const float* pd = dil.ptr<float>(r);
        const int* pk = bestK.ptr<int>(r);
        for (int c = 0; c < best.cols; ++c)
            if (pb[c] >= coarseMin && pb[c] >= pd[c]) {
                Candidate cd;
                cd.score = pb[c];
                cd.tx = c;
                cd.ty = r;
                cd.k = pk[c];
                cands.push_back(cd);
            }
    }
    std::sort(cands.begin(), cands.end(), [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    const size_t keep = multi ? size_t(std::min(3 * maxTargets, 400)) : 10;
    if (cands.size() > keep)
        cands.resize(keep);

    // Fine: follow each candidate down the pyramid with a local search.
    for (int l = top; l >= 0; --l) {
        if (l == top && l > 0)
            continue; // already the optimum of its level's full search
        const Level& L = d->levels[size_t(l)];
        for (Candidate& c : cands) {
            if (l < top) {
                const Level& U = d->levels[size_t(l + 1)];
                const double ux = (c.tx + U.ref.x) * 2.0, uy = (c.ty + U.ref.y) * 2.0;
                c.tx = int(std::lround(ux - L.ref.x));
                c.ty = int(std::lround(uy - L.ref.y));
                c.k = int(std::lround(c.k * U.step / L.step));
            }
            c = d->climb(l, pyr[size_t(l)], c);
        }
        std::sort(cands.begin(), cands.end(), [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
        if (!multi) {
            const double cut = cands.empty() ? 0 : cands.front().score - 0.15;
            while (cands.size() > 3 || (!cands.empty() && cands.back().score < cut))
                cands.pop_back();
        } else {
            while (!cands.empty() && cands.back().score < coarseMin)
                cands.pop_back();
        }
    }

    // Keep the best of copies that landed on the same place.
    const double minDist = 0.5 * std::min(L0.model.cols, L0.model.rows);
    std::vector<Candidate> found;
    for (const Candidate& c : cands) {
        if (c.score < d->minScore)
            continue;
        bool near = false;
        for (const Candidate& f : found)
            near = near || std::hypot(double(c.tx - f.tx), double(c.ty - f.ty)) < minDist;
        if (!near)
            found.push_back(c);
    }
    if (found.empty())
        return false;
    const int n = multi ? std::min(int(found.size()), maxTargets) : 1;
    for (int i = 0; i < n; ++i) {
        const Candidate& c = found[size_t(i)];
        const double u = c.tx + L0.ref.x + c.offX, v = c.ty + L0.ref.y + c.offY;
        double a = std::clamp((c.k + c.offK) * L0.step, -double(d->angleRange), double(d->angleRange));
        if (x)
            x[i] = int(std::lround(d->centerX - u));
        if (y)
            y[i] = int(std::lround(d->centerY - v));
        if (angle)
            angle[i] = a == 0.0 ? 0.0 : -a;
        d->lastScores.push_back(100.0 * c.score);
    }
    if (scoreOrCount)
        *scoreOrCount = multi ? double(n) : 100.0 * found.front().score;
    return true;
}

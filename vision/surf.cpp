#include "vision/surf.h"
#include "vision/greyimage.h"
#include "vision/trainingbox.h"

#include "vision/ncctemplate.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <vector>

using vision::toGrey;

namespace {
// Fewer keypoints than this cannot carry a meaningful share: use correlation.
constexpr int kMinKeypoints = 8;
// A box narrower than one descriptor window holds no keypoint worth the name
// (and the keypoint pyramid of a one-pixel-wide box has no level at all).
constexpr int kMinFeatureSide = 16;
// How far a part may sit off its trained place and still be compared in place.
constexpr int kNccMargin = 4;
// Half size of the patch that stands for a keypoint's structure.
constexpr int kPatch = 5;
// Keypoints need their patch, the shift and one pixel of play inside the box.
constexpr int kBorder = kPatch + kNccMargin + 2;
// Correlation at which a patch shows the same structure (smoothed images).
constexpr double kSamePatch = 0.7;
// Correlation of the box with the reference at the found place above which
// the part is in place (a missing feature of a few per cent barely moves it;
// a part turned or moved further, or another part, brings it well below).
constexpr double kInPlace = 0.9;
// Lowe's ratio between best and second-best descriptor distance.
constexpr float kRatio = 0.8f;
constexpr double kRansacPixels = 3.0;
// Mould steel shows fine, low-contrast structure: keep the keypoints it gives
// (the strongest maxFeatures of them) instead of only the few strong corners.
constexpr double kContrast = 0.01;
// Share of the other good templates in which a keypoint must keep its structure to be scored.
constexpr double kStableShare = 0.5;
// The good templates' grey range, widened by this, is what a good part may
// show at a pixel (noise, gain left after its correction, resampling).
constexpr int kGreyPlay = 15;
// Differing areas below this share of the box are noise, not a part's feature.
constexpr double kNoiseShare = 0.0025;
// Share of the box differing (above the noise share) at which the comparison
// scores 50: a missing or added feature of 2 % of the box scores well below
// 80, a quarter of the box covered still scores something.
constexpr double kHalfScoreShare = 0.06;
// The box image may be a view into the frame; the templates are copies. Both
// are filtered as if nothing lay outside the box.
constexpr int kIsolated = cv::BORDER_REFLECT_101 | cv::BORDER_ISOLATED;

cv::Mat smoothed(const cv::Mat& grey)
{
    cv::Mat s;
    cv::GaussianBlur(grey, s, cv::Size(5, 5), 1.0, 1.0, kIsolated);
    return s;
}

// The zero-mean, unit-norm patch around p; empty when the patch is flat or
// does not lie inside the image.
cv::Mat patchAt(const cv::Mat& smooth, cv::Point p)
{
    const cv::Rect r(p.x - kPatch, p.y - kPatch, 2 * kPatch + 1, 2 * kPatch + 1);
    if ((r & cv::Rect(0, 0, smooth.cols, smooth.rows)) != r)
        return cv::Mat();
    cv::Mat f;
    smooth(r).convertTo(f, CV_32F);
    f -= cv::mean(f)[0];
    const double n = cv::norm(f);
    if (n < 1.0 * (2 * kPatch + 1)) // below one grey level of deviation
        return cv::Mat();
    return f / n;
}

// Correlation of a trained patch with the image at p (-1 outside or flat).
double patchScore(const cv::Mat& zm, const cv::Mat& smooth, cv::Point p)
{
    if (zm.empty())
        return -1.0;
    const cv::Rect r(p.x - kPatch, p.y - kPatch, 2 * kPatch + 1, 2 * kPatch + 1);
    if ((r & cv::Rect(0, 0, smooth.cols, smooth.rows)) != r)
        return -1.0;
    double s = 0, s2 = 0, dot = 0;
    for (int y = 0; y < r.height; ++y) {
        const uchar* a = smooth.ptr<uchar>(r.y + y) + r.x;
        const float* t = zm.ptr<float>(y);
        for (int x = 0; x < r.width; ++x) {
            const double v = a[x];
            s += v;
            s2 += v * v;
            dot += t[x] * v;
        }
    }
    const double n = double(r.area());
    const double var = s2 - s * s / n;
    if (var < n) // flat: one grey level of deviation at most
        return 0.0;
    return dot / std::sqrt(var);
}

// The best correlation at p and its eight neighbours (a pixel of play for
// sub-pixel shifts and a slight turn); the neighbour search only when needed.
double bestNear(const cv::Mat& zm, const cv::Mat& smooth, cv::Point p, cv::Point* at = nullptr)
{
    double best = patchScore(zm, smooth, p);
    if (at)
        *at = p;
    if (best >= kSamePatch && !at)
        return best;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            if (!dx && !dy)
                continue;
            const double s = patchScore(zm, smooth, p + cv::Point(dx, dy));
            if (s > best) {
                best = s;
                if (at)
                    *at = p + cv::Point(dx, dy);
            }
        }
    return best;
}

// Where the reference sits in the image, within +-kNccMargin pixels, and how
// well it matches there. coarse: at half resolution, good to a pixel (the
// keypoint search's pixel of play takes the rest) for a quarter of the cost.
cv::Point estimateShift(const cv::Mat& refInner, const cv::Mat& smooth, bool coarse = false, double* peak = nullptr)
{
    if (refInner.empty() || smooth.cols < refInner.cols || smooth.rows < refInner.rows)
        return cv::Point(0, 0);
    cv::Mat map;
    if (coarse && refInner.cols >= 32 && refInner.rows >= 32) {
        cv::Mat a, b;
        cv::pyrDown(smooth, a);
        cv::pyrDown(refInner, b);
        if (a.cols >= b.cols && a.rows >= b.rows) {
            cv::matchTemplate(a, b, map, cv::TM_CCOEFF_NORMED);
            cv::Point loc;
            cv::minMaxLoc(map, nullptr, nullptr, nullptr, &loc);
            const cv::Point half((a.cols - b.cols) / 2, (a.rows - b.rows) / 2);
            return 2 * (loc - half);
        }
    }
    cv::matchTemplate(smooth, refInner, map, cv::TM_CCOEFF_NORMED);
    cv::Point loc;
    cv::minMaxLoc(map, nullptr, peak, nullptr, &loc);
    return loc - cv::Point(kNccMargin, kNccMargin);
}

cv::Point2f apply(const cv::Mat& m, cv::Point2f p)
{
    if (m.empty())
        return p;
    const double* r0 = m.ptr<double>(0);
    const double* r1 = m.ptr<double>(1);
    return cv::Point2f(float(r0[0] * p.x + r0[1] * p.y + r0[2]), float(r1[0] * p.x + r1[1] * p.y + r1[2]));
}

// Score 0..100 of the share of the box that differs from every good template.
double differenceScore(double share)
{
    const double over = std::max(0.0, share - kNoiseShare);
    return 100.0 / (1.0 + std::sqrt(over / kHalfScoreShare));
}

struct Template
{
    cv::Mat image;
    bool upright = false;
    int maxFeatures = 50;
    int minScore = 80;
    // keypoint mode: one patch per keypoint of the shared set, cut from this
    // template where the keypoint's structure lies in it
    std::vector<cv::Mat> patches;
    // correlation mode
    bool correlation = false;
    NccTemplate ncc;
};
} // namespace

struct SURF::Impl
{
    TrainingBox box;
    std::vector<Template> added;
    std::vector<Template> trained;
    // The keypoints all keypoint templates are scored at, in the reference
    // template's coordinates, with their descriptors for the search of a part
    // that moved further than the in-place comparison allows.
    std::vector<cv::KeyPoint> keypoints;
    cv::Mat descriptors;
    cv::Mat refInner; // the reference, smoothed, less kNccMargin on every side
    bool upright = false;
    // The grey range of the good templates per pixel of refInner's place, each
    // template moved onto the reference and the range widened by a pixel of
    // play; and the mask's part of that place.
    cv::Mat low, high, middle, innerMask;

    // Exposure and gain scale the grey levels: the factor that brings the
    // image (on the reference's place) to the templates' middle, as the
    // median over the pixels, so that a part of the box that differs does not
    // move it.
    double gain(const cv::Mat& inner) const
    {
        constexpr int kBins = 300;
        constexpr double kFrom = 0.5, kStep = 0.005;
        int hist[kBins] = {};
        int counted = 0;
        for (int y = 0; y < inner.rows; ++y) {
            const uchar* a = inner.ptr<uchar>(y);
            const uchar* m = middle.ptr<uchar>(y);
            const uchar* k = innerMask.ptr<uchar>(y);
            for (int x = 0; x < inner.cols; ++x)
                if (k[x] && a[x] >= 16 && m[x] >= 16) {
                    const int bin = int((double(m[x]) / a[x] - kFrom) / kStep);
                    ++hist[std::clamp(bin, 0, kBins - 1)];
                    ++counted;
                }
        }
        if (counted < 100)
            return 1.0;
        int seen = 0, bin = 0;
        while (bin < kBins - 1 && (seen += hist[bin]) < counted / 2)
            ++bin;
        return kFrom + (bin + 0.5) * kStep;
    }

    // Where the keypoints of template t lie in the image (shift: where the
    // reference sits): the move of the image onto the reference, good to a
    // fraction of a pixel and a slight turn; a plain shift when too few agree.
    cv::Mat placement(const Template& t, const cv::Mat& smooth, cv::Point shift) const
    {
        std::vector<cv::Point2f> from, to;
        for (size_t i = 0; i < keypoints.size(); ++i) {
            const cv::Point p(cvRound(keypoints[i].pt.x) + shift.x, cvRound(keypoints[i].pt.y) + shift.y);
            cv::Point at;
            if (bestNear(t.patches[i], smooth, p, &at) >= kSamePatch) {
                from.emplace_back(float(at.x), float(at.y));
                to.emplace_back(float(cvRound(keypoints[i].pt.x)), float(cvRound(keypoints[i].pt.y)));
            }
        }
        cv::Mat m;
        if (from.size() >= size_t(kMinKeypoints)) {
            m = cv::estimateAffinePartial2D(from, to, cv::noArray(), cv::RANSAC, 1.5);
            // A slight move only: anything else is a wrong fit of a few points.
            if (!m.empty() && (std::abs(m.at<double>(0, 0) - 1) > 0.02 || std::abs(m.at<double>(1, 0)) > 0.02 ||
                               std::abs(m.at<double>(0, 2) + shift.x) > 4 || std::abs(m.at<double>(1, 2) + shift.y) > 4))
                m.release();
        }
        if (m.empty())
            m = (cv::Mat_<double>(2, 3) << 1, 0, -shift.x, 0, 1, -shift.y);
        return m;
    }

    // Share of the box's inner place that no good template explains, the image
    // moved onto the reference by toRef; marks it in defects (inner size).
    double differingShare(const cv::Mat& smooth, const cv::Mat& toRef, cv::Mat& defects) const
    {
        const int W = box.width, H = box.height;
        cv::Mat onRef;
        cv::warpAffine(smooth, onRef, toRef, cv::Size(W, H), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        cv::Mat inner = onRef(cv::Rect(kNccMargin, kNccMargin, low.cols, low.rows));
        cv::Mat level;
        inner.convertTo(level, CV_16S, gain(inner));
        cv::Mat below, above;
        cv::subtract(low, level, below, cv::noArray(), CV_16S);
        cv::subtract(level, high, above, cv::noArray(), CV_16S);
        defects = (below > kGreyPlay) | (above > kGreyPlay);
        defects &= innerMask;
        cv::morphologyEx(defects, defects, cv::MORPH_OPEN, cv::Mat::ones(3, 3, CV_8U));
        const int inspected = std::max(1, cv::countNonZero(innerMask));
        return double(cv::countNonZero(defects)) / inspected;
    }

    // Share (0..100) of the keypoints of template t found in the smoothed image
    // when the reference sits at shift; marks the missing ones.
    double score(const Template& t, const cv::Mat& smooth, cv::Point shift, std::vector<int>* missing) const
    {
        if (keypoints.empty())
            return 0.0;
        // Scored per quarter of the box and averaged over the quarters that
        // hold keypoints: structure tends to bunch, and a part missing where
        // few keypoints lie must still cost its share of the score.
        int hits[4] = {}, total[4] = {};
        const float cx = box.width / 2.0f, cy = box.height / 2.0f;
        for (size_t i = 0; i < keypoints.size(); ++i) {
            const int q = (keypoints[i].pt.x >= cx ? 1 : 0) + (keypoints[i].pt.y >= cy ? 2 : 0);
            ++total[q];
            const cv::Point p(cvRound(keypoints[i].pt.x) + shift.x, cvRound(keypoints[i].pt.y) + shift.y);
            if (bestNear(t.patches[i], smooth, p) >= kSamePatch)
                ++hits[q];
            else if (missing)
                missing->push_back(int(i));
        }
        double sum = 0;
        int quarters = 0;
        for (int q = 0; q < 4; ++q)
            if (total[q]) {
                sum += 100.0 * hits[q] / total[q];
                ++quarters;
            }
        return quarters ? sum / quarters : 0.0;
    }
};

SURF::SURF() : d(std::make_unique<Impl>()) {}
SURF::~SURF() = default;
SURF::SURF(SURF&&) noexcept = default;
SURF& SURF::operator=(SURF&&) noexcept = default;

bool SURF::IsValid() const { return d->box.status == TrainStatus::Trained; }
TrainStatus SURF::Status() const { return d->box.status; }
int SURF::Width() const { return d->box.width; }
int SURF::Height() const { return d->box.height; }
void SURF::Clear() { *d = Impl(); }

int SURF::FeatureTemplates() const
{
    return int(std::count_if(d->trained.begin(), d->trained.end(), [](const Template& t) { return !t.correlation; }));
}

int SURF::CorrelationTemplates() const
{
    return int(std::count_if(d->trained.begin(), d->trained.end(), [](const Template& t) { return t.correlation; }));
}

bool SURF::Create(int width, int height, const cv::Mat& mask)
{
    Clear();
    return d->box.create("SURF", width, height, mask);
}

bool SURF::AddTemp(const cv::Mat& image, int orientation, int maxFeatures, int minScore)
{
    Template t;
    t.image = d->box.templateCopy("SURF", image);
    if (t.image.empty())
        return false;
    t.upright = orientation == 0;
    t.maxFeatures = maxFeatures;
    t.minScore = minScore;
    d->added.push_back(std::move(t));
    return true;
}

bool SURF::Train(int, int, int, int)
{
    d->trained.clear();
    d->keypoints.clear();
    d->descriptors.release();
    d->refInner.release();
    d->low.release();
    d->high.release();
    d->middle.release();
    d->innerMask.release();
    if (!d->box.readyToTrain("SURF", d->added.size()))
        return false;
    const int W = d->box.width, H = d->box.height;
    int flat = 0;
    std::vector<Template*> textured;
    for (Template& t : d->added) {
        if (NccTemplate::textureLevel(t.image, d->box.mask) < NccTemplate::kMinTexture)
            ++flat;
        else
            textured.push_back(&t);
    }

    // The keypoint set comes from the first textured template, once: describing
    // every template (and every template again in every other) cost seconds.
    std::vector<cv::Mat> smooth;
    bool keypointMode = false;
    if (!textured.empty() && std::min(W, H) >= kMinFeatureSide) {
        const Template& ref = *textured.front();
        d->upright = ref.upright;
        cv::Mat inner = d->box.mask.clone();
        const cv::Rect keep(kBorder, kBorder, W - 2 * kBorder, H - 2 * kBorder);
        if (keep.width > 0 && keep.height > 0) {
            cv::Mat border(H, W, CV_8UC1, cv::Scalar(0));
            border(keep).setTo(255);
            cv::bitwise_and(inner, border, inner);
            cv::Ptr<cv::SIFT> sift = cv::SIFT::create(std::max(0, ref.maxFeatures), 3, kContrast);
            sift->detect(ref.image, d->keypoints, inner);
            if (d->upright)
                for (cv::KeyPoint& k : d->keypoints)
                    k.angle = 0.f;
            if (int(d->keypoints.size()) >= kMinKeypoints)
                sift->compute(ref.image, d->keypoints, d->descriptors);
        }
        keypointMode = int(d->keypoints.size()) >= kMinKeypoints && d->descriptors.rows == int(d->keypoints.size());
    }

    if (keypointMode) {
        for (Template* t : textured)
            smooth.push_back(smoothed(t->image));
        const cv::Mat& refSmooth = smooth.front();
        d->refInner = refSmooth(cv::Rect(kNccMargin, kNccMargin, W - 2 * kNccMargin, H - 2 * kNccMargin)).clone();
        const size_t n = d->keypoints.size();
        std::vector<cv::Mat> refPatches(n);
        for (size_t i = 0; i < n; ++i)
            refPatches[i] = patchAt(refSmooth, cv::Point(cvRound(d->keypoints[i].pt.x), cvRound(d->keypoints[i].pt.y)));

        // Where each keypoint lies in each template (the good images may sit a
        // pixel or two apart) and whether its structure is there at all.
        std::vector<std::vector<cv::Point>> where(textured.size(), std::vector<cv::Point>(n));
        std::vector<int> otherHits(n, 0);
        std::vector<cv::Point> shifts;
        for (size_t k = 0; k < textured.size(); ++k) {
            cv::Point s = k == 0 ? cv::Point(0, 0) : estimateShift(d->refInner, smooth[k], true);
            s.x = std::clamp(s.x, -kNccMargin, kNccMargin);
            s.y = std::clamp(s.y, -kNccMargin, kNccMargin);
            shifts.push_back(s);
            for (size_t i = 0; i < n; ++i) {
                const cv::Point p(cvRound(d->keypoints[i].pt.x) + s.x, cvRound(d->keypoints[i].pt.y) + s.y);
                const double c = bestNear(refPatches[i], smooth[k], p, &where[k][i]);
                if (k > 0 && c >= kSamePatch)
                    ++otherHits[i];
            }
        }
        // Sensor noise and a pixel of play must not lose a keypoint either.
        std::vector<int> probeHits(n, 0);
        cv::RNG rng(0x5eed);
        for (const cv::Point shift : {cv::Point(1, 0), cv::Point(0, 1)}) {
            cv::Mat moved, noise(H, W, CV_16S), probe;
            const cv::Mat m = (cv::Mat_<double>(2, 3) << 1, 0, shift.x, 0, 1, shift.y);
            cv::warpAffine(textured.front()->image, moved, m, moved.size().area() ? moved.size() : cv::Size(W, H),
                           cv::INTER_LINEAR, cv::BORDER_REPLICATE);
            rng.fill(noise, cv::RNG::NORMAL, 0, 3.0);
            cv::add(moved, noise, probe, cv::noArray(), CV_8U);
            const cv::Mat ps = smoothed(probe);
            for (size_t i = 0; i < n; ++i) {
                const cv::Point p(cvRound(d->keypoints[i].pt.x) + shift.x, cvRound(d->keypoints[i].pt.y) + shift.y);
                if (bestNear(refPatches[i], ps, p) >= kSamePatch)
                    ++probeHits[i];
            }
        }
        const int others = int(textured.size()) - 1;
        std::vector<size_t> stable;
        for (size_t i = 0; i < n; ++i)
            if (!refPatches[i].empty() && probeHits[i] == 2 && otherHits[i] >= kStableShare * others)
                stable.push_back(i);
        if (int(stable.size()) < kMinKeypoints) {
            // Keypoints that noise or a pixel of play loses are no evidence:
            // too few are left, so the grey shape is compared instead.
            keypointMode = false;
            d->keypoints.clear();
            d->descriptors.release();
            d->refInner.release();
        } else {
            std::vector<cv::KeyPoint> kps;
            cv::Mat desc;
            for (size_t i : stable) {
                kps.push_back(d->keypoints[i]);
                desc.push_back(d->descriptors.row(int(i)));
            }
            d->keypoints = std::move(kps);
            d->descriptors = desc;
            // What a good part may look like at every pixel: the range of the
            // good templates, each on the reference's place.
            const cv::Rect inner(kNccMargin, kNccMargin, W - 2 * kNccMargin, H - 2 * kNccMargin);
            for (size_t k = 0; k < textured.size(); ++k) {
                const cv::Mat on = smooth[k](inner + shifts[k]);
                if (k == 0) {
                    d->low = on.clone();
                    d->high = on.clone();
                } else {
                    cv::min(d->low, on, d->low);
                    cv::max(d->high, on, d->high);
                }
            }
            cv::addWeighted(d->low, 0.5, d->high, 0.5, 0, d->middle);
            cv::erode(d->low, d->low, cv::Mat::ones(3, 3, CV_8U));
            cv::dilate(d->high, d->high, cv::Mat::ones(3, 3, CV_8U));
            d->innerMask = d->box.mask(inner).clone();
            for (size_t k = 0; k < textured.size(); ++k) {
                Template t = *textured[k];
                for (size_t i : stable)
                    t.patches.push_back(patchAt(smooth[k], where[k][i]));
                d->trained.push_back(std::move(t));
            }
        }
    }
    if (!keypointMode) {
        for (Template* tp : textured) {
            // Texture without corners (gradients, soft edges): compare the grey shape instead.
            Template t = *tp;
            t.correlation = true;
            const int m = (W > 4 * kNccMargin && H > 4 * kNccMargin) ? kNccMargin : 0;
            const cv::Rect inner(m, m, W - 2 * m, H - 2 * m);
            cv::Mat smooth5;
            cv::GaussianBlur(t.image, smooth5, cv::Size(5, 5), 1.5, 1.5, kIsolated);
            t.ncc = NccTemplate::build(smooth5(inner), d->box.mask(inner));
            if (!t.ncc.usable()) {
                ++flat;
                continue;
            }
            d->trained.push_back(std::move(t));
        }
    }
    if (d->trained.empty()) {
        d->box.status = TrainStatus::Untextured;
        qWarning("SURF: %d template(s) without texture, the ROI stays untrained and scores 0", flat);
        return false;
    }
    if (flat > 0)
        qWarning("SURF: %d template(s) without texture skipped", flat);
    d->box.status = TrainStatus::Trained;
    return true;
}

float SURF::Match(cv::Mat& roiImage, cv::Mat& out)
{
    const cv::Mat g = toGrey(roiImage);
    const bool fits = d->box.fits(g);
    out = cv::Mat::zeros(fits || roiImage.empty() ? cv::Size(d->box.width, d->box.height) : roiImage.size(), CV_8UC1);
    if (!IsValid())
        return 0.f;
    if (!fits) {
        qWarning("SURF: image %dx%d does not fit the trained box %dx%d", roiImage.cols, roiImage.rows, d->box.width,
                 d->box.height);
        return 0.f;
    }

    double best = -1.0;
    int bestIndex = 0;
    std::vector<cv::Point2f> bestMissing;
    cv::Mat bestDiff;

    const bool keypointMode = !d->trained.front().correlation;
    if (!keypointMode) {
        cv::Mat smooth5;
        cv::GaussianBlur(g, smooth5, cv::Size(5, 5), 1.5, 1.5, kIsolated);
        NccTemplate::Image roiNcc = NccTemplate::prepare(smooth5);
        // The first template finds the placement; the others are scored there
        // (they show the same part, a pixel apart at most).
        cv::Point at(-1, -1);
        for (int i = 0; i < int(d->trained.size()) && best < 100.0; ++i) {
            const Template& t = d->trained[size_t(i)];
            double mx = 0;
            if (at.x < 0) {
                const cv::Mat map = t.ncc.scoreMap(roiNcc, false);
                if (!map.empty())
                    cv::minMaxLoc(map, nullptr, &mx, nullptr, &at);
            } else {
                mx = t.ncc.scoreAt(roiNcc, at, false);
            }
            const double score = 100.0 * std::max(0.0, mx);
            if (score > best) {
                best = score;
                bestIndex = i;
            }
        }
        const Template& bt = d->trained[size_t(bestIndex)];
        if (best < bt.minScore) {
            cv::absdiff(g, bt.image, bestDiff);
            cv::GaussianBlur(bestDiff, bestDiff, cv::Size(3, 3), 0, 0, kIsolated);
            bestDiff = bestDiff > 40;
        }
    } else {
        const cv::Mat smooth = smoothed(g);
        std::vector<int> missing;
        cv::Mat bestImage, bestTransform;
        cv::Point bestShift;
        // Scores every template with the reference at shift in image (which is
        // the box image moved back by transform, or the box image itself).
        auto scoreAll = [&](const cv::Mat& image, cv::Point shift, const cv::Mat& transform) {
            for (int i = 0; i < int(d->trained.size()) && best < 100.0; ++i) {
                missing.clear();
                const double s = d->score(d->trained[size_t(i)], image, shift, &missing);
                if (s > best) {
                    best = s;
                    bestIndex = i;
                    bestImage = image;
                    bestShift = shift;
                    bestTransform = transform;
                    bestMissing.clear();
                    for (int k : missing)
                        bestMissing.push_back(
                            apply(transform, d->keypoints[size_t(k)].pt + cv::Point2f(float(shift.x), float(shift.y))));
                }
            }
        };
        // One placement for all templates: they show the same part.
        double peak = 0;
        const cv::Point inPlace = estimateShift(d->refInner, smooth, false, &peak);
        scoreAll(smooth, inPlace, cv::Mat());
        // A part that sits where it should and still misses keypoints differs
        // itself: describing the whole box again would find nothing better.
        const bool atEdge = std::max(std::abs(inPlace.x), std::abs(inPlace.y)) >= kNccMargin;
        if (best < d->trained[size_t(bestIndex)].minScore && (atEdge || peak < kInPlace)) {
            // Not in place: find where the part went by its descriptors and compare there.
            std::vector<cv::KeyPoint> roiKps;
            cv::Mat roiDesc;
            cv::Ptr<cv::SIFT> sift = cv::SIFT::create(0, 3, kContrast);
            sift->detect(g, roiKps, d->box.mask);
            if (d->upright)
                for (cv::KeyPoint& k : roiKps)
                    k.angle = 0.f;
            if (roiKps.size() >= 3)
                sift->compute(g, roiKps, roiDesc);
            cv::Mat transform;
            if (roiDesc.rows >= 3) {
                cv::BFMatcher matcher(cv::NORM_L2);
                std::vector<std::vector<cv::DMatch>> knn;
                matcher.knnMatch(d->descriptors, roiDesc, knn, 2);
                // One template keypoint per image keypoint: the closest claim wins.
                std::vector<int> claim(size_t(roiDesc.rows), -1);
                std::vector<float> claimDist(size_t(roiDesc.rows), 0.f);
                for (size_t q = 0; q < knn.size(); ++q) {
                    const auto& m = knn[q];
                    if (m.size() < 2 || m[0].distance >= kRatio * m[1].distance)
                        continue;
                    const size_t t = size_t(m[0].trainIdx);
                    if (claim[t] < 0 || m[0].distance < claimDist[t]) {
                        claim[t] = int(q);
                        claimDist[t] = m[0].distance;
                    }
                }
                std::vector<cv::Point2f> from, to;
                for (size_t t = 0; t < claim.size(); ++t)
                    if (claim[t] >= 0) {
                        from.push_back(d->keypoints[size_t(claim[t])].pt);
                        to.push_back(roiKps[t].pt);
                    }
                auto plausible = [&](const cv::Mat& m) {
                    if (m.empty())
                        return false;
                    const double scale = std::hypot(m.at<double>(0, 0), m.at<double>(1, 0));
                    const double tx = m.at<double>(0, 2), ty = m.at<double>(1, 2);
                    // The box is already positioned: the part may sit a little off, not elsewhere.
                    return scale > 0.8 && scale < 1.25 &&
                           std::hypot(tx, ty) <= 0.5 * std::max(d->box.width, d->box.height) + 1;
                };
                if (from.size() >= 3) {
                    std::vector<uchar> inl;
                    transform = cv::estimateAffinePartial2D(from, to, inl, cv::RANSAC, kRansacPixels);
                    if (!plausible(transform)) {
                        // A degenerate similarity (too few or lined-up points): try a plain shift,
                        // the median displacement, if enough matches agree with it.
                        transform.release();
                        std::vector<float> dx, dy;
                        for (size_t k = 0; k < from.size(); ++k) {
                            dx.push_back(to[k].x - from[k].x);
                            dy.push_back(to[k].y - from[k].y);
                        }
                        std::nth_element(dx.begin(), dx.begin() + long(dx.size() / 2), dx.end());
                        std::nth_element(dy.begin(), dy.begin() + long(dy.size() / 2), dy.end());
                        const cv::Point2f med(dx[dx.size() / 2], dy[dy.size() / 2]);
                        int agree = 0;
                        for (size_t k = 0; k < from.size(); ++k)
                            agree += cv::norm(to[k] - from[k] - med) <= kRansacPixels;
                        const cv::Mat shiftOnly = (cv::Mat_<double>(2, 3) << 1, 0, med.x, 0, 1, med.y);
                        if (agree >= 3 && plausible(shiftOnly))
                            transform = shiftOnly;
                    }
                }
            }
            if (!transform.empty()) {
                cv::Mat back;
                cv::warpAffine(smooth, back, transform, smooth.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                               cv::BORDER_REPLICATE);
                // The estimate is good to a pixel or two; the placement settles the rest.
                scoreAll(back, estimateShift(d->refInner, back), transform);
            }
        }
        // Keypoints lie where the structure is strong; a small feature missing
        // or added elsewhere costs them nothing. So the whole box is compared
        // with what the good templates show there as well, and the score is
        // the lower of the two.
        if (!bestImage.empty()) {
            const cv::Mat toRef = d->placement(d->trained[size_t(bestIndex)], bestImage, bestShift);
            cv::Mat defects;
            best = std::min(best, differenceScore(d->differingShare(bestImage, toRef, defects)));
            // What differs is what the operator is shown; the keypoints not
            // found only when nothing differs over an area.
            if (best < d->trained[size_t(bestIndex)].minScore && cv::countNonZero(defects) > 0) {
                bestMissing.clear();
                bestDiff = cv::Mat::zeros(d->box.height, d->box.width, CV_8UC1);
                defects.copyTo(bestDiff(cv::Rect(kNccMargin, kNccMargin, defects.cols, defects.rows)));
                cv::warpAffine(bestDiff, bestDiff, toRef, bestDiff.size(), cv::INTER_NEAREST | cv::WARP_INVERSE_MAP);
                if (!bestTransform.empty())
                    cv::warpAffine(bestDiff, bestDiff, bestTransform, bestDiff.size(), cv::INTER_NEAREST);
            }
        }
    }

    best = std::clamp(best, 0.0, 100.0);
    const Template& bt = d->trained[size_t(bestIndex)];
    if (best < bt.minScore) {
        if (bt.correlation) {
            bestDiff.copyTo(out);
        } else {
            if (!bestDiff.empty())
                bestDiff.copyTo(out);
            for (const cv::Point2f& p : bestMissing)
                cv::rectangle(out, cv::Point(cvRound(p.x) - 2, cvRound(p.y) - 2),
                              cv::Point(cvRound(p.x) + 2, cvRound(p.y) + 2), cv::Scalar(255), cv::FILLED);
        }
        cv::bitwise_and(out, d->box.mask, out);
    }
    return float(best);
}

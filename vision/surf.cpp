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
// Correlation fall-back searches this far around the trained place.
constexpr int kNccMargin = 4;
// Lowe's ratio between best and second-best descriptor distance.
constexpr float kRatio = 0.8f;
constexpr double kRansacPixels = 3.0;
// Descriptor distance (OpenCV's SIFT scale) below which the same place shows the same structure.
constexpr float kSameStructure = 250.f;
// Share of the other good templates in which a keypoint must keep its structure to be scored.
constexpr double kStableShare = 0.5;
// The box image may be a view into the frame; the templates are copies. Both
// are filtered as if nothing lay outside the box.
constexpr int kIsolated = cv::BORDER_REFLECT_101 | cv::BORDER_ISOLATED;

struct Template
{
    cv::Mat image;
    bool upright = false;
    int maxFeatures = 50;
    int minScore = 80;
    // keypoint mode
    std::vector<cv::KeyPoint> keypoints;
    cv::Mat descriptors;
    // correlation mode
    bool correlation = false;
    NccTemplate ncc;
};

cv::Ptr<cv::SIFT> sift(int maxFeatures)
{
    return cv::SIFT::create(std::max(0, maxFeatures));
}

void detect(const cv::Mat& grey, const cv::Mat& mask, int maxFeatures, bool upright, std::vector<cv::KeyPoint>& kps,
            cv::Mat& desc)
{
    cv::Ptr<cv::SIFT> s = sift(maxFeatures);
    s->detect(grey, kps, mask);
    if (upright)
        for (cv::KeyPoint& k : kps)
            k.angle = 0.f;
    s->compute(grey, kps, desc);
}

cv::Point2f apply(const cv::Mat& m, cv::Point2f p)
{
    if (m.empty())
        return p;
    const double* r0 = m.ptr<double>(0);
    const double* r1 = m.ptr<double>(1);
    return cv::Point2f(float(r0[0] * p.x + r0[1] * p.y + r0[2]), float(r1[0] * p.x + r1[1] * p.y + r1[2]));
}

// Describes `image` at the template's keypoints, moved by `m` (empty: where they
// are), and tells which of them show the template's structure there. This does
// not depend on the keypoint detector firing again on a noisy image.
std::vector<char> sameStructure(const Template& t, const cv::Mat& image, const cv::Mat& m)
{
    std::vector<char> same(t.keypoints.size(), 0);
    double angle = 0, scale = 1;
    if (!m.empty()) {
        angle = std::atan2(m.at<double>(1, 0), m.at<double>(0, 0)) * 180.0 / CV_PI;
        scale = std::hypot(m.at<double>(0, 0), m.at<double>(1, 0));
    }
    std::vector<cv::KeyPoint> at;
    std::vector<int> index;
    for (size_t i = 0; i < t.keypoints.size(); ++i) {
        cv::KeyPoint k = t.keypoints[i];
        k.pt = apply(m, k.pt);
        if (k.pt.x < 0 || k.pt.y < 0 || k.pt.x > image.cols - 1 || k.pt.y > image.rows - 1)
            continue;
        if (!t.upright) {
            // OpenCV keypoint angles run clockwise in image coordinates.
            k.angle = float(std::fmod(k.angle - angle + 360.0, 360.0));
        }
        k.size = float(k.size * scale);
        at.push_back(k);
        index.push_back(int(i));
    }
    if (at.empty())
        return same;
    cv::Ptr<cv::SIFT> s = sift(0);
    cv::Mat d;
    std::vector<cv::KeyPoint> described = at;
    s->compute(image, described, d);
    if (described.size() == at.size() && d.rows == int(at.size())) {
        for (size_t j = 0; j < at.size(); ++j)
            same[size_t(index[j])] =
                cv::norm(d.row(int(j)), t.descriptors.row(index[j]), cv::NORM_L2) < kSameStructure;
        return same;
    }
    // The describer dropped some: take them one by one (slower, never wrong).
    for (size_t j = 0; j < at.size(); ++j) {
        std::vector<cv::KeyPoint> one{at[j]};
        cv::Mat dj;
        s->compute(image, one, dj);
        if (one.size() == 1 && dj.rows == 1)
            same[size_t(index[j])] = cv::norm(dj, t.descriptors.row(index[j]), cv::NORM_L2) < kSameStructure;
    }
    return same;
}

// Good images of the same part differ by sensor noise and a pixel of play.
// Keypoints whose structure does not survive that are no evidence either way,
// so only stable ones are scored: a good part then scores near 100. A keypoint
// is stable when it survives both synthetic probes (the template moved by one
// pixel with noise added) and at least half of the other good templates.
void keepStable(Template& t, const std::vector<cv::Mat>& others)
{
    std::vector<cv::Mat> synthetic;
    cv::RNG rng(0x5eed);
    for (const cv::Point shift : {cv::Point(1, 0), cv::Point(0, 1)}) {
        cv::Mat moved, noise(t.image.size(), CV_16S);
        const cv::Mat m = (cv::Mat_<double>(2, 3) << 1, 0, shift.x, 0, 1, shift.y);
        cv::warpAffine(t.image, moved, m, t.image.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        rng.fill(noise, cv::RNG::NORMAL, 0, 3.0);
        cv::Mat probe;
        cv::add(moved, noise, probe, cv::noArray(), CV_8U);
        synthetic.push_back(probe);
    }
    std::vector<int> synthHits(t.keypoints.size(), 0), otherHits(t.keypoints.size(), 0);
    for (const cv::Mat& p : synthetic) {
        const std::vector<char> hit = sameStructure(t, p, cv::Mat());
        for (size_t i = 0; i < hit.size(); ++i)
            synthHits[i] += hit[i];
    }
    int otherCount = 0;
    for (const cv::Mat& o : others) {
        if (o.data == t.image.data)
            continue;
        ++otherCount;
        const std::vector<char> hit = sameStructure(t, o, cv::Mat());
        for (size_t i = 0; i < hit.size(); ++i)
            otherHits[i] += hit[i];
    }
    std::vector<cv::KeyPoint> kept;
    cv::Mat keptDesc;
    for (size_t i = 0; i < t.keypoints.size(); ++i)
        if (synthHits[i] == int(synthetic.size()) && otherHits[i] >= kStableShare * otherCount) {
            kept.push_back(t.keypoints[i]);
            keptDesc.push_back(t.descriptors.row(int(i)));
        }
    if (int(kept.size()) >= kMinKeypoints) {
        t.keypoints = std::move(kept);
        t.descriptors = keptDesc;
    }
}
} // namespace

struct SURF::Impl
{
    TrainingBox box;
    std::vector<Template> added;
    std::vector<Template> trained;
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
    if (!d->box.readyToTrain("SURF", d->added.size()))
        return false;
    std::vector<cv::Mat> images;
    for (const Template& t : d->added)
        images.push_back(t.image);
    int flat = 0;
    for (Template t : d->added) {
        const double texture = NccTemplate::textureLevel(t.image, d->box.mask);
        if (texture < NccTemplate::kMinTexture) {
            ++flat;
            continue;
        }
        if (std::min(d->box.width, d->box.height) >= kMinFeatureSide)
            detect(t.image, d->box.mask, t.maxFeatures, t.upright, t.keypoints, t.descriptors);
        if (int(t.keypoints.size()) >= kMinKeypoints) {
            keepStable(t, images);
        } else {
            // Texture without corners (gradients, soft edges): compare the grey shape instead.
            t.correlation = true;
            const int m = (d->box.width > 4 * kNccMargin && d->box.height > 4 * kNccMargin) ? kNccMargin : 0;
            const cv::Rect inner(m, m, d->box.width - 2 * m, d->box.height - 2 * m);
            // Smoothed on both sides: the grey shape is compared, not the sensor noise.
            cv::Mat smooth;
            cv::GaussianBlur(t.image, smooth, cv::Size(5, 5), 1.5, 1.5, kIsolated);
            t.ncc = NccTemplate::build(smooth(inner), d->box.mask(inner));
            if (!t.ncc.usable()) {
                ++flat;
                continue;
            }
        }
        d->trained.push_back(std::move(t));
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

    bool haveRoiFeatures = false;
    std::vector<cv::KeyPoint> roiKps;
    cv::Mat roiDesc;
    NccTemplate::Image roiNcc;

    double best = -1.0;
    int bestIndex = 0;
    std::vector<cv::Point2f> bestMissing;
    cv::Mat bestDiff;

    for (int i = 0; i < int(d->trained.size()); ++i) {
        const Template& t = d->trained[size_t(i)];
        double score = 0.0;
        std::vector<cv::Point2f> missing;
        cv::Mat diff;
        if (t.correlation) {
            if (roiNcc.value.empty()) {
                cv::Mat smooth;
                cv::GaussianBlur(g, smooth, cv::Size(5, 5), 1.5, 1.5, kIsolated);
                roiNcc = NccTemplate::prepare(smooth);
            }
            const cv::Mat map = t.ncc.scoreMap(roiNcc, false);
            double mx = 0;
            if (!map.empty())
                cv::minMaxLoc(map, nullptr, &mx);
            score = 100.0 * std::max(0.0, mx);
            cv::absdiff(g, t.image, diff);
            cv::GaussianBlur(diff, diff, cv::Size(3, 3), 0, 0, kIsolated);
            diff = diff > 40;
        } else {
            // A good part sits where it was trained: describing the image at the
            // template's keypoints settles it, without a search.
            const std::vector<char> inPlace = sameStructure(t, g, cv::Mat());
            const int inPlaceHits = int(std::count(inPlace.begin(), inPlace.end(), 1));
            const double inPlaceScore =
                t.keypoints.empty() ? 0.0 : 100.0 * inPlaceHits / double(t.keypoints.size());
            if (inPlaceScore >= t.minScore) {
                score = inPlaceScore;
                if (score > best) {
                    best = score;
                    bestIndex = i;
                }
                continue;
            }
            if (!haveRoiFeatures) {
                detect(g, d->box.mask, 0, t.upright, roiKps, roiDesc);
                haveRoiFeatures = true;
            }
            // Where did the part go? A consensus of distinctive matches says, if
            // there is one; otherwise it is where it was trained.
            cv::Mat transform;
            std::vector<char> inlier(t.keypoints.size(), 0);
            if (roiDesc.rows >= 2) {
                cv::BFMatcher matcher(cv::NORM_L2);
                std::vector<std::vector<cv::DMatch>> knn;
                matcher.knnMatch(t.descriptors, roiDesc, knn, 2);
                std::vector<cv::Point2f> from, to;
                std::vector<int> which;
                for (const auto& m : knn) {
                    if (m.size() < 2 || m[0].distance >= kRatio * m[1].distance)
                        continue;
                    from.push_back(t.keypoints[size_t(m[0].queryIdx)].pt);
                    to.push_back(roiKps[size_t(m[0].trainIdx)].pt);
                    which.push_back(m[0].queryIdx);
                }
                if (from.size() >= 3) {
                    std::vector<uchar> inl;
                    transform = cv::estimateAffinePartial2D(from, to, inl, cv::RANSAC, kRansacPixels);
                    bool plausible = !transform.empty();
                    if (plausible) {
                        const double scale = std::hypot(transform.at<double>(0, 0), transform.at<double>(1, 0));
                        const double tx = transform.at<double>(0, 2), ty = transform.at<double>(1, 2);
                        // The box is already positioned: the part may sit a little off, not elsewhere.
                        plausible = scale > 0.8 && scale < 1.25 &&
                                    std::hypot(tx, ty) <= 0.5 * std::max(d->box.width, d->box.height) + 1;
                    }
                    if (plausible) {
                        for (size_t k = 0; k < inl.size(); ++k)
                            if (inl[k])
                                inlier[size_t(which[k])] = 1;
                    } else {
                        transform.release();
                    }
                }
            }
            const std::vector<char> same = sameStructure(t, g, transform);
            int hits = 0;
            for (size_t k = 0; k < same.size(); ++k) {
                if (same[k] || inlier[k])
                    ++hits;
                else
                    missing.push_back(apply(transform, t.keypoints[k].pt));
            }
            score = std::max(inPlaceScore, t.keypoints.empty() ? 0.0 : 100.0 * hits / double(t.keypoints.size()));
        }
        if (score > best) {
            best = score;
            bestIndex = i;
            bestMissing = std::move(missing);
            bestDiff = diff;
        }
    }

    best = std::clamp(best, 0.0, 100.0);
    const Template& bt = d->trained[size_t(bestIndex)];
    if (best < bt.minScore) {
        if (bt.correlation) {
            bestDiff.copyTo(out);
        } else {
            for (const cv::Point2f& p : bestMissing)
                cv::rectangle(out, cv::Point(cvRound(p.x) - 2, cvRound(p.y) - 2),
                              cv::Point(cvRound(p.x) + 2, cvRound(p.y) + 2), cv::Scalar(255), cv::FILLED);
        }
        cv::bitwise_and(out, d->box.mask, out);
    }
    return float(best);
}

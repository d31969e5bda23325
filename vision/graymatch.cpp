#include "vision/graymatch.h"
#include "vision/greyimage.h"

#include <opencv2/imgproc.hpp>

#include <QtGlobal>

#include <algorithm>
#include <vector>

struct GrayMatch::Impl
{
    int width = 0;
    int height = 0;
    cv::Mat mask;                    // 8-bit, 255 = inspected
    std::vector<cv::Mat> templates;  // 8-bit grey, box-sized copies
    cv::Mat lowLimit, highLimit;     // 8-bit: good pixels lie within [low, high]
    TrainStatus status = TrainStatus::Empty;
    bool created = false;
};

using vision::toGrey;

namespace {
// The same smoothing on templates and inspected images: it takes sensor noise
// off single pixels without hiding a spot of a few pixels.
void smooth(const cv::Mat& src, cv::Mat& dst)
{
    cv::GaussianBlur(src, dst, cv::Size(3, 3), 0, 0, cv::BORDER_REPLICATE);
}
} // namespace

GrayMatch::GrayMatch() : d(std::make_unique<Impl>()) {}
GrayMatch::~GrayMatch() = default;
GrayMatch::GrayMatch(GrayMatch&&) noexcept = default;
GrayMatch& GrayMatch::operator=(GrayMatch&&) noexcept = default;

bool GrayMatch::IsValid() const { return d->status == TrainStatus::Trained; }
TrainStatus GrayMatch::Status() const { return d->status; }
int GrayMatch::Width() const { return d->width; }
int GrayMatch::Height() const { return d->height; }
int GrayMatch::TemplateCount() const { return int(d->templates.size()); }

void GrayMatch::Clear()
{
    *d = Impl();
}

double GrayMatch::ToleranceFor(int sensitivity)
{
    const int s = std::clamp(sensitivity, 0, 100);
    // 100 -> 4 grey levels (just above smoothed sensor noise), 45 -> 37, 0 -> 64.
    return 4.0 + (100 - s) * 0.6;
}

bool GrayMatch::Create(int width, int height, const cv::Mat& mask, int mode)
{
    Q_UNUSED(mode);
    Clear();
    if (width < 1 || height < 1) {
        d->status = TrainStatus::BadInput;
        qWarning("GrayMatch: box %dx%d is empty", width, height);
        return false;
    }
    if (!mask.empty() && (mask.cols != width || mask.rows != height || mask.type() != CV_8UC1)) {
        d->status = TrainStatus::BadInput;
        qWarning("GrayMatch: mask %dx%d (type %d) does not fit the box %dx%d", mask.cols, mask.rows,
                 mask.type(), width, height);
        return false;
    }
    d->width = width;
    d->height = height;
    d->mask = mask.empty() ? cv::Mat(height, width, CV_8UC1, cv::Scalar(255)) : cv::Mat(mask > 0);
    d->created = true;
    return true;
}

bool GrayMatch::AddTemp(const cv::Mat& image)
{
    if (!d->created)
        return false;
    const cv::Mat g = toGrey(image);
    if (g.empty() || g.cols != d->width || g.rows != d->height) {
        qWarning("GrayMatch: template %dx%d does not fit the box %dx%d, ignored", image.cols, image.rows,
                 d->width, d->height);
        return false;
    }
    d->templates.push_back(g.clone());
    return true;
}

bool GrayMatch::Train(int sensitivity, int factor, int toleranceWeight, int spreadWeight)
{
    if (!d->created) {
        if (d->status == TrainStatus::Empty)
            d->status = TrainStatus::BadInput;
        qWarning("GrayMatch: train without a created model (%s)", trainStatusText(d->status));
        return false;
    }
    if (d->templates.empty()) {
        d->status = TrainStatus::NoTemplate;
        qWarning("GrayMatch: no template image, the ROI stays untrained");
        return false;
    }
    if (cv::countNonZero(d->mask) == 0) {
        d->status = TrainStatus::BadInput;
        qWarning("GrayMatch: the mask leaves nothing to inspect, the ROI stays untrained");
        return false;
    }

    cv::Mat lo, hi, s;
    for (const cv::Mat& t : d->templates) {
        smooth(t, s);
        if (lo.empty()) {
            lo = s.clone();
            hi = s.clone();
        } else {
            cv::min(lo, s, lo);
            cv::max(hi, s, hi);
        }
    }
    cv::Mat spread;
    cv::subtract(hi, lo, spread, cv::noArray(), CV_32F);

    // A part one pixel off shows the value of a neighbour: widen the band over 3x3.
    const cv::Mat k = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
    cv::Mat loEnv, hiEnv;
    cv::erode(lo, loEnv, k, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    cv::dilate(hi, hiEnv, k, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);

    const double gain = 1.0 + std::clamp(factor, 0, 4) * 0.5;
    const double base = ToleranceFor(sensitivity) * std::max(0, toleranceWeight) / 100.0;
    cv::Mat tol = spread * (std::max(0, spreadWeight) / 100.0) + base;
    tol /= gain; // the difference is multiplied by gain: same as dividing the tolerance

    cv::Mat loF, hiF;
    loEnv.convertTo(loF, CV_32F);
    hiEnv.convertTo(hiF, CV_32F);
    cv::Mat lowF = loF - tol, highF = hiF + tol;
    // A value strictly below low or above high is a defect (limits rounded to whole grey levels).
    lowF.convertTo(d->lowLimit, CV_8U); // saturates at 0: nothing can be darker than black
    highF.convertTo(d->highLimit, CV_8U);
    d->status = TrainStatus::Trained;
    return true;
}

bool GrayMatch::Match(const cv::Mat& roiImage, cv::Mat& difference) const
{
    const cv::Mat g = toGrey(roiImage);
    const cv::Size size = roiImage.empty() ? cv::Size(d->width, d->height) : roiImage.size();
    if (!IsValid() || g.empty() || g.cols != d->width || g.rows != d->height) {
        if (IsValid())
            qWarning("GrayMatch: image %dx%d does not fit the trained box %dx%d", roiImage.cols, roiImage.rows,
                     d->width, d->height);
        // Nothing to compare with: everything is in doubt.
        difference = cv::Mat(size, CV_8UC1, cv::Scalar(255));
        return false;
    }
    cv::Mat s;
    smooth(g, s);
    cv::Mat below, above;
    cv::compare(s, d->lowLimit, below, cv::CMP_LT);
    cv::compare(s, d->highLimit, above, cv::CMP_GT);
    cv::bitwise_or(below, above, difference);
    cv::bitwise_and(difference, d->mask, difference);
    return true;
}

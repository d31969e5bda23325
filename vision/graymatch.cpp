#include "vision/graymatch.h"
#include "vision/greyimage.h"
#include "vision/trainingbox.h"

#include <opencv2/imgproc.hpp>

#include <QtGlobal>

#include <algorithm>
#include <vector>

struct GrayMatch::Impl
{
    TrainingBox box;
    std::vector<cv::Mat> templates; // 8-bit grey, box-sized copies
    cv::Mat lowLimit, highLimit;    // 8-bit: good pixels lie within [low, high]
};

using vision::toGrey;

namespace {
// The same smoothing on templates and inspected images: it takes sensor noise
// off single pixels without hiding a spot of a few pixels. Isolated: the
// inspected image is a view into the frame, the templates are copies, and
// both must see the same box border, not whatever lies outside the box.
void smooth(const cv::Mat& src, cv::Mat& dst)
{
    cv::GaussianBlur(src, dst, cv::Size(3, 3), 0, 0, cv::BORDER_REPLICATE | cv::BORDER_ISOLATED);
}
} // namespace

GrayMatch::GrayMatch() : d(std::make_unique<Impl>()) {}
GrayMatch::~GrayMatch() = default;
GrayMatch::GrayMatch(GrayMatch&&) noexcept = default;
GrayMatch& GrayMatch::operator=(GrayMatch&&) noexcept = default;

bool GrayMatch::IsValid() const { return d->box.status == TrainStatus::Trained; }
TrainStatus GrayMatch::Status() const { return d->box.status; }
int GrayMatch::Width() const { return d->box.width; }
int GrayMatch::Height() const { return d->box.height; }
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
    return d->box.create("GrayMatch", width, height, mask);
}

bool GrayMatch::AddTemp(const cv::Mat& image)
{
    cv::Mat copy = d->box.templateCopy("GrayMatch", image);
    if (copy.empty())
        return false;
    d->templates.push_back(std::move(copy));
    return true;
}

bool GrayMatch::Train(int sensitivity, int factor, int toleranceWeight, int spreadWeight)
{
    if (!d->box.readyToTrain("GrayMatch", d->templates.size()))
        return false;

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
    d->box.status = TrainStatus::Trained;
    return true;
}

bool GrayMatch::Match(const cv::Mat& roiImage, cv::Mat& difference) const
{
    const cv::Mat g = toGrey(roiImage);
    const cv::Size size = roiImage.empty() ? cv::Size(d->box.width, d->box.height) : roiImage.size();
    if (!IsValid() || !d->box.fits(g)) {
        if (IsValid())
            qWarning("GrayMatch: image %dx%d does not fit the trained box %dx%d", roiImage.cols, roiImage.rows,
                     d->box.width, d->box.height);
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
    cv::bitwise_and(difference, d->box.mask, difference);
    return true;
}

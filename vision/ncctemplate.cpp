#include "vision/ncctemplate.h"

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {
// A patch flatter than one grey level of standard deviation has no structure to correlate.
constexpr double kMinPatchVariance = 1.0;

double scoreFromSums(double num, double s1, double s2, double n, double norm, bool absolute)
{
    const double var = s2 - s1 * s1 / n;
    if (var <= kMinPatchVariance * n || norm <= 0)
        return 0.0;
    double r = num / (std::sqrt(var) * norm);
    if (absolute)
        r = std::fabs(r);
    return std::max(-1.0, std::min(1.0, r));
}
} // namespace

NccTemplate NccTemplate::build(const cv::Mat& grey, const cv::Mat& mask)
{
    NccTemplate t;
    if (grey.empty() || grey.type() != CV_8UC1)
        return t;
    if (!mask.empty() && (mask.size() != grey.size() || mask.type() != CV_8UC1))
        return t;

    if (mask.empty()) {
        t.weight = cv::Mat(grey.size(), CV_32F, cv::Scalar(1.0));
        t.fullMask = true;
    } else {
        cv::Mat bin = mask > 0;
        bin.convertTo(t.weight, CV_32F, 1.0 / 255.0);
        t.fullMask = cv::countNonZero(bin) == bin.rows * bin.cols;
    }
    t.pixels = cv::sum(t.weight)[0];
    if (t.pixels < 1)
        return t;

    cv::Mat g;
    grey.convertTo(g, CV_32F);
    const double mean = g.dot(t.weight) / t.pixels;
    cv::subtract(g, cv::Scalar(mean), t.zeroMean);
    t.zeroMean = t.zeroMean.mul(t.weight);
    t.norm = std::sqrt(t.zeroMean.dot(t.zeroMean));
    return t;
}

NccTemplate::Image NccTemplate::prepare(const cv::Mat& grey8u)
{
    Image img;
    if (grey8u.empty())
        return img;
    const double mean = cv::mean(grey8u)[0];
    grey8u.convertTo(img.value, CV_32F, 1.0, -mean);
    img.square = img.value.mul(img.value);
    return img;
}

cv::Mat NccTemplate::scoreMap(Image& image, bool absolute) const
{
    const cv::Size ts = size();
    if (!usable() || image.value.cols < ts.width || image.value.rows < ts.height)
        return cv::Mat();

    cv::Mat num;
    cv::matchTemplate(image.value, zeroMean, num, cv::TM_CCORR);
    const int rw = num.cols, rh = num.rows;
    cv::Mat s1, s2;
    if (fullMask) {
        if (image.sum.empty())
            cv::integral(image.value, image.sum, image.sqsum, CV_64F, CV_64F);
        s1.create(rh, rw, CV_64F);
        s2.create(rh, rw, CV_64F);
        for (int y = 0; y < rh; ++y) {
            const double* a = image.sum.ptr<double>(y);
            const double* b = image.sum.ptr<double>(y + ts.height);
            const double* qa = image.sqsum.ptr<double>(y);
            const double* qb = image.sqsum.ptr<double>(y + ts.height);
            double* o1 = s1.ptr<double>(y);
            double* o2 = s2.ptr<double>(y);
            for (int x = 0; x < rw; ++x) {
                o1[x] = b[x + ts.width] - b[x] - a[x + ts.width] + a[x];
                o2[x] = qb[x + ts.width] - qb[x] - qa[x + ts.width] + qa[x];
            }
        }
    } else if (sharedMaskId != 0 && image.sharedMaskId == sharedMaskId) {
        s1 = image.maskSum;
        s2 = image.maskSqSum;
    } else {
        cv::Mat f1, f2;
        cv::matchTemplate(image.value, weight, f1, cv::TM_CCORR);
        cv::matchTemplate(image.square, weight, f2, cv::TM_CCORR);
        f1.convertTo(s1, CV_64F);
        f2.convertTo(s2, CV_64F);
        if (sharedMaskId != 0) {
            image.sharedMaskId = sharedMaskId;
            image.maskSum = s1;
            image.maskSqSum = s2;
        }
    }

    cv::Mat out(rh, rw, CV_32F);
    for (int y = 0; y < rh; ++y) {
        const float* pn = num.ptr<float>(y);
        const double* p1 = s1.ptr<double>(y);
        const double* p2 = s2.ptr<double>(y);
        float* po = out.ptr<float>(y);
        for (int x = 0; x < rw; ++x)
            po[x] = static_cast<float>(scoreFromSums(pn[x], p1[x], p2[x], pixels, norm, absolute));
    }
    return out;
}

double NccTemplate::scoreAt(const Image& image, cv::Point topLeft, bool absolute) const
{
    const cv::Rect r(topLeft, size());
    if (!usable() || r.x < 0 || r.y < 0 || r.x + r.width > image.value.cols || r.y + r.height > image.value.rows)
        return -1.0;
    const cv::Mat v = image.value(r);
    const cv::Mat q = image.square(r);
    const double num = zeroMean.dot(v);
    const double s1 = fullMask ? cv::sum(v)[0] : weight.dot(v);
    const double s2 = fullMask ? cv::sum(q)[0] : weight.dot(q);
    return scoreFromSums(num, s1, s2, pixels, norm, absolute);
}

double NccTemplate::textureLevel(const cv::Mat& grey, const cv::Mat& mask)
{
    if (grey.empty())
        return 0.0;
    cv::Mat g;
    if (grey.channels() == 1)
        g = grey;
    else
        cv::cvtColor(grey, g, grey.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    cv::Mat smooth;
    cv::GaussianBlur(g, smooth, cv::Size(5, 5), 1.5, 1.5, cv::BORDER_REFLECT_101 | cv::BORDER_ISOLATED);
    cv::Scalar mean, dev;
    if (!mask.empty() && mask.size() == g.size()) {
        if (cv::countNonZero(mask) == 0)
            return 0.0;
        cv::meanStdDev(smooth, mean, dev, mask);
    } else {
        cv::meanStdDev(smooth, mean, dev);
    }
    return dev[0];
}

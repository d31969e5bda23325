#include "mouldscene.h"

#include <opencv2/imgproc.hpp>

#include <cmath>

cv::Rect MouldScene::partBox() const
{
    return cv::Rect(size.width * 3 / 8, size.height * 3 / 8, size.width / 4, size.height / 4);
}

cv::Mat MouldScene::render(cv::Point2d shift, double angle, cv::Point2d pivot) const
{
    const int w = size.width, h = size.height;
    cv::Mat f(h, w, CV_32F);
    for (int y = 0; y < h; ++y) {
        float* p = f.ptr<float>(y);
        for (int x = 0; x < w; ++x)
            p[x] = float(95.0 + 35.0 * x / w + 20.0 * y / h);
    }
    // Low-frequency steel texture.
    cv::RNG rng(seed);
    cv::Mat tex(h / 8 + 1, w / 8 + 1, CV_32F);
    rng.fill(tex, cv::RNG::NORMAL, 0, 6);
    cv::resize(tex, tex, size, 0, 0, cv::INTER_CUBIC);
    f += tex;

    const double s = w / 640.0; // features scale with the frame
    // Cavities, ribs and pins spread over the whole mould.
    for (int i = 0; i < 14; ++i) {
        const int cx = rng.uniform(30, w - 30), cy = rng.uniform(30, h - 30);
        const int rw = int(rng.uniform(12, 40) * s), rh = int(rng.uniform(8, 30) * s);
        const double g = rng.uniform(0, 2) ? rng.uniform(150, 220) : rng.uniform(25, 70);
        cv::rectangle(f, cv::Rect(cx - rw, cy - rh, 2 * rw, 2 * rh), cv::Scalar(g), cv::FILLED);
        cv::rectangle(f, cv::Rect(cx - rw, cy - rh, 2 * rw, 2 * rh), cv::Scalar(g * 0.6), std::max(1, int(2 * s)));
    }
    for (int i = 0; i < 22; ++i) {
        const cv::Point c(rng.uniform(20, w - 20), rng.uniform(20, h - 20));
        const int r = int(rng.uniform(4, 12) * s);
        cv::circle(f, c, r, cv::Scalar(rng.uniform(170, 235)), cv::FILLED, cv::LINE_AA);
        cv::circle(f, c, std::max(1, r / 3), cv::Scalar(rng.uniform(30, 80)), cv::FILLED, cv::LINE_AA);
    }
    for (int i = 0; i < 6; ++i)
        cv::line(f, cv::Point(rng.uniform(0, w), rng.uniform(0, h)), cv::Point(rng.uniform(0, w), rng.uniform(0, h)),
                 cv::Scalar(rng.uniform(40, 200)), std::max(1, int(3 * s)), cv::LINE_AA);
    for (int i = 0; i < 5; ++i)
        cv::putText(f, cv::format("K%d-%03d", i, int(rng.uniform(0, 999))),
                    cv::Point(rng.uniform(10, w - 150), rng.uniform(30, h - 10)), cv::FONT_HERSHEY_SIMPLEX, 0.8 * s,
                    cv::Scalar(rng.uniform(20, 60)), std::max(1, int(2 * s)), cv::LINE_AA);

    // The central cavity and the part it holds.
    const cv::Rect pb = partBox();
    cv::rectangle(f, pb, cv::Scalar(60), cv::FILLED);
    if (withPart) {
        const cv::Point c(pb.x + pb.width / 2, pb.y + pb.height / 2);
        cv::ellipse(f, c, cv::Size(pb.width * 2 / 5, pb.height * 2 / 5), 0, 0, 360, cv::Scalar(200), cv::FILLED,
                    cv::LINE_AA);
        cv::rectangle(f, cv::Rect(c.x - pb.width / 6, c.y - pb.height / 10, pb.width / 3, pb.height / 5),
                      cv::Scalar(110), cv::FILLED);
        cv::putText(f, "P7", cv::Point(c.x - int(20 * s), c.y + int(30 * s)), cv::FONT_HERSHEY_SIMPLEX, 0.9 * s,
                    cv::Scalar(40), std::max(1, int(2 * s)), cv::LINE_AA);
        cv::circle(f, cv::Point(c.x + pb.width / 4, c.y - pb.height / 4), int(8 * s), cv::Scalar(240), cv::FILLED);
    }

    if (shift != cv::Point2d(0, 0) || angle != 0.0) {
        const cv::Point2d pv = pivot.x < 0 ? cv::Point2d(w / 2.0, h / 2.0) : pivot;
        cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(float(pv.x), float(pv.y)), angle, 1.0);
        m.at<double>(0, 2) += shift.x;
        m.at<double>(1, 2) += shift.y;
        cv::Mat moved;
        cv::warpAffine(f, moved, m, size, cv::INTER_LINEAR, cv::BORDER_REFLECT);
        f = moved;
    }
    if (noiseSigma > 0) {
        cv::Mat n(size, CV_32F);
        cv::RNG nr(noiseSeed * 7919u + 13u);
        nr.fill(n, cv::RNG::NORMAL, 0, noiseSigma);
        f += n;
    }
    cv::Mat out;
    f.convertTo(out, CV_8U);
    return out;
}

cv::Point2d MouldScene::movePoint(cv::Point2d p, cv::Point2d shift, double angle, cv::Point2d pivot)
{
    const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(float(pivot.x), float(pivot.y)), angle, 1.0);
    return cv::Point2d(m.at<double>(0, 0) * p.x + m.at<double>(0, 1) * p.y + m.at<double>(0, 2) + shift.x,
                       m.at<double>(1, 0) * p.x + m.at<double>(1, 1) * p.y + m.at<double>(1, 2) + shift.y);
}

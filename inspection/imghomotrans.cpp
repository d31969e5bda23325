#include "inspection/imghomotrans.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

ImgHomoTrans::ImgHomoTrans() : features(2) {}

bool ImgHomoTrans::setTemplate(const cv::Mat& image, const cv::Mat& newMask, int minFeatures)
{
    features.assign(2, cv::detail::ImageFeatures());
    const double area = double(image.rows) * double(image.cols);
    if (area <= 0)
        return false;
    workScale = float(std::min(1.0, std::sqrt(500000.0 / area)));
    mask.release();
    if (!newMask.empty()) {
        if (newMask.type() != CV_8UC1 || newMask.size() != image.size())
            return false;
        cv::resize(newMask, mask, cv::Size(), workScale, workScale, cv::INTER_LINEAR_EXACT);
    }
    findFeature(image, features[1], 1);
    return int(features[1].keypoints.size()) >= minFeatures;
}

void ImgHomoTrans::findFeature(const cv::Mat& image, cv::detail::ImageFeatures& out, int index)
{
    if (image.empty())
        return;
    cv::Ptr<cv::SIFT> sift = cv::SIFT::create(0, 3, 0.04, 10, 1.6);
    cv::Mat grey = image;
    if (image.channels() == 3)
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    else if (image.channels() == 4)
        cv::cvtColor(image, grey, cv::COLOR_BGRA2GRAY);
    cv::Mat small;
    cv::resize(grey, small, cv::Size(), workScale, workScale, cv::INTER_LINEAR_EXACT);
    if (!mask.empty() && mask.type() == CV_8UC1 && mask.size() == small.size())
        cv::detail::computeImageFeatures(sift, small, out, mask);
    else
        cv::detail::computeImageFeatures(sift, small, out);
    out.img_idx = index;
}

bool ImgHomoTrans::transImageHomo(cv::Mat src, cv::Mat& dst, float matchConf)
{
    if (src.empty() || features.size() != 2 || features[1].keypoints.empty())
        return false;
    findFeature(src, features[0], 0);
    if (features[0].keypoints.empty())
        return false;
    std::vector<cv::detail::MatchesInfo> pairwise;
    {
        // OpenCV 4.6 fixes the pair-confidence threshold at 3.0 inside the matcher.
        cv::detail::BestOf2NearestMatcher matcher(false, matchConf, 6, 6);
        matcher(features, pairwise);
        matcher.collectGarbage();
    }
    std::vector<cv::Point2f> from, to;
    for (size_t p = 0; p < pairwise.size() && p < 2; ++p) {
        const cv::detail::MatchesInfo& mi = pairwise[p];
        if (mi.src_img_idx != 0 || mi.dst_img_idx != 1)
            continue; // only frame -> template pairs carry points
        for (const cv::DMatch& m : mi.matches) {
            if (m.queryIdx < 0 || m.trainIdx < 0 || size_t(m.queryIdx) >= features[0].keypoints.size() ||
                size_t(m.trainIdx) >= features[1].keypoints.size())
                continue;
            from.push_back(features[0].keypoints[size_t(m.queryIdx)].pt / workScale);
            to.push_back(features[1].keypoints[size_t(m.trainIdx)].pt / workScale);
        }
    }
    if (from.size() <= 3)
        return false;
    const cv::Mat h = cv::findHomography(from, to, cv::RANSAC, 3.0, cv::noArray(), 2000, 0.995);
    if (h.empty())
        return false;
    cv::warpPerspective(src, dst, h, src.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    return true;
}

#pragma once
#include <opencv2/core.hpp>
#include <opencv2/stitching/detail/matchers.hpp>

#include <vector>

// Aligns a frame onto a detection's template image: SIFT features at about
// half a megapixel, best-of-two-nearest matching (both ways, as the stitching
// module's matcher pairs two images) and a RANSAC homography.
class ImgHomoTrans
{
public:
    ImgHomoTrans();

    // Learns the template (8-bit grey, or BGR). mask: empty, or 8-bit of the
    // image's size, nonzero where features count. True when the template
    // gives at least minFeatures keypoints.
    bool setTemplate(const cv::Mat& image, const cv::Mat& mask, int minFeatures);
    void findFeature(const cv::Mat& image, cv::detail::ImageFeatures& out, int index);
    // Warps src onto the template into dst; false (dst untouched) when no
    // homography was found.
    bool transImageHomo(cv::Mat src, cv::Mat& dst, float matchConf);

    // The frame's features (features[0]) paired with the template's: each
    // frame descriptor's nearest template descriptor when it is nearer than
    // (1 - matchConf) times the second nearest, then each template
    // descriptor's nearest frame descriptor under the same test unless that
    // pair is already in. queryIdx: frame keypoint, trainIdx: template keypoint.
    std::vector<cv::DMatch> matchTemplate(float matchConf) const;

    int templateKeypoints() const { return int(features[1].keypoints.size()); }
    float scale() const { return workScale; }

    cv::Mat mask;
    std::vector<cv::detail::ImageFeatures> features;
    float workScale = 1.0f;
    // The template's descriptors as rows, kept from setTemplate on so that a
    // frame's matching reads them as they are.
    cv::Mat templateDescriptors;
};

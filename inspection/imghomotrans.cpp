#include "inspection/imghomotrans.h"

#include "inspection/parallelblur.h"
#include "inspection/parallelpool.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <glog/logging.h>

#include <algorithm>
#include <cmath>
#include <limits>

ImgHomoTrans::ImgHomoTrans() : features(2)
{
    // Most of a frame's alignment is SIFT's pyramid of blurs, in many short
    // parallel loops; said once when this program blurs it on one thread or
    // runs the loops on the library's own pool.
    static const bool sideBySide = [] {
        const bool blur = parallelBlurActive(), pool = parallelPoolActive();
        if (!blur)
            LOG(WARNING) << "Alignment: image blurs run on one thread";
        if (!pool)
            LOG(WARNING) << "Alignment: parallel loops do not run on the station's workers";
        return blur && pool;
    }();
    (void)sideBySide;
}

bool ImgHomoTrans::setTemplate(const cv::Mat& image, const cv::Mat& newMask, int minFeatures)
{
    features.assign(2, cv::detail::ImageFeatures());
    templateDescriptors.release();
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
    features[1].descriptors.copyTo(templateDescriptors);
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

std::vector<cv::DMatch> ImgHomoTrans::matchTemplate(float matchConf) const
{
    std::vector<cv::DMatch> out;
    const cv::Mat frame = features.empty() ? cv::Mat() : features[0].descriptors.getMat(cv::ACCESS_READ);
    const cv::Mat& tmpl = templateDescriptors;
    if (frame.empty() || tmpl.empty() || frame.cols != tmpl.cols || frame.type() != tmpl.type())
        return out;
    // Exact nearest neighbours rather than the stitching matcher's randomised
    // kd-trees: the same pairs every time for the same frame, and at the
    // station's feature counts a distance table costs less than building a
    // tree over the frame's descriptors for the way back.
    const float ratio = 1.f - matchConf;
    const float inf = std::numeric_limits<float>::max();
    struct Two {
        float d0, d1;
        int i0;
        void offer(float d, int i)
        {
            if (d < d0) {
                d1 = d0;
                d0 = d;
                i0 = i;
            } else if (d < d1) {
                d1 = d;
            }
        }
    };
    const int n = frame.rows, m = tmpl.rows;
    // Rows in blocks, side by side: a feature-rich frame never holds the
    // whole table, and each block keeps the two nearest rows of every column
    // for the way back, merged in row order below.
    const int block = 256, blocks = (n + block - 1) / block;
    std::vector<int> nearest(size_t(n), -1); // the template keypoint a frame keypoint is paired with one way
    std::vector<float> nearestDist(size_t(n), 0.f);
    std::vector<std::vector<Two>> blockCols(static_cast<size_t>(blocks));
    cv::parallel_for_(cv::Range(0, blocks), [&](const cv::Range& range) {
        cv::Mat dist;
        for (int b = range.start; b < range.end; ++b) {
            const int r0 = b * block, r1 = std::min(n, r0 + block);
            std::vector<Two>& cols = blockCols[size_t(b)];
            cols.assign(size_t(m), Two{inf, inf, -1});
            cv::batchDistance(frame.rowRange(r0, r1), tmpl, dist, CV_32F, cv::noArray(), cv::NORM_L2);
            for (int i = r0; i < r1; ++i) {
                const float* row = dist.ptr<float>(i - r0);
                Two best{inf, inf, -1};
                for (int j = 0; j < m; ++j) {
                    best.offer(row[j], j);
                    cols[size_t(j)].offer(row[j], i);
                }
                if (m >= 2 && best.d0 < ratio * best.d1) {
                    nearest[size_t(i)] = best.i0;
                    nearestDist[size_t(i)] = best.d0;
                }
            }
        }
    });
    for (int i = 0; i < n; ++i)
        if (nearest[size_t(i)] >= 0)
            out.emplace_back(i, nearest[size_t(i)], nearestDist[size_t(i)]);
    std::vector<Two> cols(size_t(m), Two{inf, inf, -1});
    for (const std::vector<Two>& bc : blockCols)
        for (int j = 0; j < m; ++j) {
            cols[size_t(j)].offer(bc[size_t(j)].d0, bc[size_t(j)].i0);
            cols[size_t(j)].offer(bc[size_t(j)].d1, -1);
        }
    if (n >= 2)
        for (int j = 0; j < m; ++j) {
            const Two& c = cols[size_t(j)];
            if (c.d0 < ratio * c.d1 && nearest[size_t(c.i0)] != j)
                out.emplace_back(c.i0, j, c.d0);
        }
    return out;
}

bool ImgHomoTrans::transImageHomo(cv::Mat src, cv::Mat& dst, float matchConf)
{
    if (src.empty() || features.size() != 2 || features[1].keypoints.empty())
        return false;
    // From here to the warp the workers are wanted every few microseconds:
    // woken now, while the frame is made grey and small, and kept awake.
    const ParallelHotSection hot;
    findFeature(src, features[0], 0);
    if (features[0].keypoints.empty())
        return false;
    // Only the pairs go on: the pair homography and confidence a stitching
    // matcher would estimate from them are read by nobody here.
    std::vector<cv::Point2f> from, to;
    for (const cv::DMatch& m : matchTemplate(matchConf)) {
        from.push_back(features[0].keypoints[size_t(m.queryIdx)].pt / workScale);
        to.push_back(features[1].keypoints[size_t(m.trainIdx)].pt / workScale);
    }
    if (from.size() <= 3)
        return false;
    const cv::Mat h = cv::findHomography(from, to, cv::RANSAC, 3.0, cv::noArray(), 2000, 0.995);
    if (h.empty())
        return false;
    cv::warpPerspective(src, dst, h, src.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    return true;
}

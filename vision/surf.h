#pragma once

#include "vision/trainstatus.h"

#include <opencv2/core.hpp>

#include <memory>

// Feature matcher of a similarity ROI (function type 6).
//
// Scores how well the image of a box shows the part of the trained templates,
// on the 0..100 scale of the ROI's minimum score. Textured templates are
// compared by scale-invariant keypoints (SIFT of OpenCV's main modules: the
// descriptor this station's matcher was named after is not in Debian's
// OpenCV) with a ratio test and a RANSAC similarity check. The score is the
// lower of two: the share of the template's keypoints found again in a
// consistent place, and how little of the box, moved onto the templates and
// brought to their brightness, lies outside the grey range the good templates
// show there (keypoints bunch on strong structure; a small feature missing or
// added elsewhere would cost them nothing).
// Templates with texture but too few keypoints are compared by masked
// normalised correlation within +-4 pixels. A template without texture is
// not accepted at all: it would match any empty surface.
class SURF
{
public:
    SURF();
    ~SURF();
    SURF(SURF&&) noexcept;
    SURF& operator=(SURF&&) noexcept;
    SURF(const SURF&) = delete;
    SURF& operator=(const SURF&) = delete;

    bool IsValid() const;
    TrainStatus Status() const;
    void Clear();

    // mask: box-sized 8-bit, nonzero = compared; empty = the whole box.
    bool Create(int width, int height, const cv::Mat& mask);
    // image: one good image of the box (copied). orientation: 1 rotation-
    // invariant keypoints, 0 upright. maxFeatures: most keypoints kept per
    // template (strongest first, <= 0 all). minScore: the ROI's pass score,
    // used to decide when to mark the missing keypoints in Match's output.
    bool AddTemp(const cv::Mat& image, int orientation = 1, int maxFeatures = 50, int minScore = 80);
    // The four arguments are reserved (0).
    bool Train(int reserved1 = 0, int reserved2 = 0, int reserved3 = 0, int reserved4 = 0);

    // Score 0..100 of the box image against the best template; 0 when the
    // matcher is not valid or the image does not fit. out: box-sized 8-bit;
    // when the score is below the minimum, the places that differ from the
    // good templates (or, when no area differs, where the template's
    // structure was not found) are marked 255.
    float Match(cv::Mat& roiImage, cv::Mat& out);

    int Width() const;
    int Height() const;
    // How many trained templates use keypoints and how many the correlation fall-back.
    int FeatureTemplates() const;
    int CorrelationTemplates() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

#pragma once

#include <opencv2/core.hpp>

// A grey template prepared for masked normalised cross-correlation.
//
// The mask is binary: pixels outside it take part neither in the template's
// statistics nor in the image's, so parts of any outline (rings, polygons,
// rotated boxes) are compared only where they are defined. Scores are the
// Pearson correlation in -1..1; a placement whose image patch is flat
// (standard deviation below one grey level) scores 0, so a blank region never
// matches a structured template.
struct NccTemplate
{
    cv::Mat zeroMean;     // CV_32F, template minus its masked mean, 0 outside the mask
    cv::Mat weight;       // CV_32F, 1 inside the mask, 0 outside
    double pixels = 0;    // number of mask pixels
    double norm = 0;      // sqrt(sum of zeroMean^2)
    bool fullMask = false;
    // Templates that share one mask carry the same nonzero id: the image sums
    // under that mask are then computed once per image and reused.
    int sharedMaskId = 0;

    // grey: 8-bit single channel; mask: empty (all pixels) or 8-bit of the same size.
    static NccTemplate build(const cv::Mat& grey, const cv::Mat& mask);

    bool usable() const { return pixels >= 4 && norm > 1e-3; }
    cv::Size size() const { return zeroMean.size(); }

    // Image prepared once for many scores: float, mean-free (for precision), and its square.
    struct Image
    {
        cv::Mat value;  // CV_32F
        cv::Mat square; // CV_32F
        cv::Mat sum, sqsum; // integral images, only made on demand for full-mask templates
        int sharedMaskId = 0;     // whose mask the sums below belong to
        cv::Mat maskSum, maskSqSum;
    };
    static Image prepare(const cv::Mat& grey8u);

    // Scores of every placement of the template inside the image (CV_32F,
    // (W - w + 1) x (H - h + 1)). absolute: |r| instead of r (polarity-free).
    cv::Mat scoreMap(Image& image, bool absolute) const;
    // Score of the placement with the template's top-left corner at topLeft.
    double scoreAt(const Image& image, cv::Point topLeft, bool absolute) const;

    // Grey-level standard deviation of the smoothed image inside the mask:
    // sensor noise is smoothed away, real structure stays. Below kMinTexture a
    // template cannot tell a part from an empty surface.
    static double textureLevel(const cv::Mat& grey, const cv::Mat& mask);
    static constexpr double kMinTexture = 2.0;
};

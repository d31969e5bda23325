#pragma once

#include "vision/trainstatus.h"

#include <opencv2/core.hpp>

#include <memory>

// Grey template matcher of a defect ROI (function type 0).
//
// Trained on several images of a good mould, it learns per pixel the band of
// grey values a good part may show and reports, for a new image of the same
// box, the pixels outside that band. The band is the min/max envelope over
// the templates, widened over a 3x3 neighbourhood (a part that sits one pixel
// off is still good), plus a tolerance set by the sensitivity, the difference
// factor and the spread between the good templates. The matcher honours its
// own mask: pixels outside it never count.
//
// The class is the whole interface the inspection uses; the implementation
// stays private so another library can take its place.
class GrayMatch
{
public:
    GrayMatch();
    ~GrayMatch();
    GrayMatch(GrayMatch&&) noexcept;
    GrayMatch& operator=(GrayMatch&&) noexcept;
    GrayMatch(const GrayMatch&) = delete;
    GrayMatch& operator=(const GrayMatch&) = delete;

    bool IsValid() const;
    TrainStatus Status() const;
    void Clear();

    // Starts a model for a box of width x height. mask: box-sized 8-bit,
    // nonzero = inspected; empty means the whole box. mode: 0 (grey model).
    bool Create(int width, int height, const cv::Mat& mask, int mode = 0);
    // Adds one good image of the box (8-bit grey; colour is converted). The
    // image is copied, so the caller may reuse its buffer.
    bool AddTemp(const cv::Mat& image);
    // sensitivity: 0..100, higher finds fainter defects. factor: difference
    // factor 0..4, multiplies the measured difference by 1 + factor / 2.
    // toleranceWeight: percent of the sensitivity tolerance applied (100 = as is).
    // spreadWeight: percent of the grey spread between good templates added to
    // the tolerance at each pixel (150 = one and a half times the spread).
    bool Train(int sensitivity, int factor, int toleranceWeight = 100, int spreadWeight = 150);

    // difference: box-sized 8-bit, 255 at each defect pixel inside the mask.
    // A matcher that is not valid, or an image of another size, cannot judge:
    // the whole image is marked (never a silent pass) and false is returned.
    bool Match(const cv::Mat& roiImage, cv::Mat& difference) const;

    int Width() const;
    int Height() const;
    int TemplateCount() const;
    // Grey-level tolerance that the sensitivity gives before weighting.
    static double ToleranceFor(int sensitivity);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

#pragma once

#include "vision/trainstatus.h"

#include <opencv2/core.hpp>

#include <memory>

// Finds a taught grey model in a search image: position, rotation and score.
//
// Matching is masked normalised correlation, coarse to fine over an image
// pyramid: every angle of the range is tried on the coarsest level, the best
// places are then followed down level by level with a local search in
// position and angle, and refined to a fraction of a pixel and of the angle
// step at full resolution. Rotated models are cached per level and angle.
//
// Reported position (the convention the station's callers rely on): with
// (u, v) the place in the search image where the model's reference point
// (model width / 2, model height / 2) was found,
//     x = centerX - u,  y = centerY - v,
// where (centerX, centerY) is that reference point in the frame the model was
// cut from. So x - searchOriginX is the shift that moves the found part back
// onto the model, and searchOriginX - x the shift from the model to a found copy.
// Reported angle: degrees, counter-clockwise positive as in
// cv::getRotationMatrix2D, the rotation that turns the found part back to the
// model's orientation (the part itself is turned by minus this angle).
//
// One object is used from one thread at a time (Find fills its model cache).
class FindShape
{
public:
    FindShape();
    ~FindShape();
    FindShape(FindShape&&) noexcept;
    FindShape& operator=(FindShape&&) noexcept;
    FindShape(const FindShape&) = delete;
    FindShape& operator=(const FindShape&) = delete;

    // model: 8-bit grey (colour is converted). minScore: percent, 0 = the
    // default of 50. modelKind: 0 (grey model). angleRange: degrees searched
    // either side, 0..180. centerX, centerY: see the class comment.
    // ignorePolarity: a part brighter where the model is darker matches too.
    // contrast: 255 automatic, else the least grey step the model's strongest
    // edge must reach. mask: model-sized 8-bit, nonzero = part of the model,
    // empty = the whole model. accuracy: 0..10, 0 whole pixels and angle
    // steps, higher finer angle steps with sub-pixel and sub-step fitting.
    // levels: pyramid levels (<= 1 full resolution only); the pyramid stops
    // where the model would get too small to recognise. A turned model gets
    // more levels when trying every angle on the coarsest one would cost
    // seconds (a large model with the pyramid switched off).
    bool CreateShape(const cv::Mat& model, double minScore, int modelKind, int angleRange, int centerX, int centerY,
                     bool ignorePolarity, int contrast, cv::Mat mask, int accuracy, int levels);
    bool IsValid() const;
    TrainStatus Status() const;
    // Back to the unbuilt state (IsValid false).
    void Clear();

    // maxTargets <= 1: the best match; x, y, angle point at one value each and
    // scoreOrCount receives its score (0..100). maxTargets > 1: up to that many
    // matches, best first, into the arrays x, y, angle; scoreOrCount receives
    // their number. False when nothing reaches the minimum score, or when the
    // model is not valid or the search image is empty or smaller than the model.
    bool Find(cv::Mat& search, int maxTargets, int* x, int* y, double* scoreOrCount, double* angle);

    // Scores of the matches of the last Find (0..100), best first.
    const std::vector<double>& LastScores() const;
    int PyramidLevels() const;
    // Angle step of the full-resolution level, degrees.
    double FinestAngleStep() const;
    cv::Size ModelSize() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

#pragma once

#include <opencv2/core.hpp>

// Synthetic grey images of an open mould for the matcher tests and benchmarks:
// a shaded steel surface with cavities, ejector pins, ribs and engraved text.
// The same seed gives the same mould; `noiseSeed` varies only the sensor noise.
struct MouldScene
{
    cv::Size size{640, 480};
    unsigned seed = 7;
    bool withPart = true;      // the moulded part in the central cavity
    double noiseSigma = 3.0;   // sensor noise, grey levels
    unsigned noiseSeed = 1;

    // The scene, optionally moved: rotated by `angle` degrees (cv::getRotationMatrix2D
    // convention) about `pivot`, then shifted by `shift`.
    cv::Mat render(cv::Point2d shift = {0, 0}, double angle = 0.0, cv::Point2d pivot = {-1, -1}) const;

    // Where a point of the unmoved scene lands after the same move.
    static cv::Point2d movePoint(cv::Point2d p, cv::Point2d shift, double angle, cv::Point2d pivot);

    // The central cavity that holds the part (frame pixels).
    cv::Rect partBox() const;
};

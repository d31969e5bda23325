#pragma once

#include "vision/trainstatus.h"

#include <opencv2/core.hpp>

#include <cstddef>

// The box a template matcher is trained for: its size, its mask and how far
// training got. The grey matcher and the feature matcher check their inputs
// against it in the same way, and log in the same words.
struct TrainingBox
{
    int width = 0;
    int height = 0;
    cv::Mat mask; // 8-bit, 255 = inspected, box-sized
    bool created = false;
    TrainStatus status = TrainStatus::Empty;

    // Starts afresh for a box of width x height. mask: empty (the whole box)
    // or 8-bit of the box's size. who: the matcher's name for the log.
    bool create(const char* who, int boxWidth, int boxHeight, const cv::Mat& boxMask);
    // A one-channel copy of a good image of the box (the caller may reuse its
    // buffer); empty when nothing was created or the image does not fit.
    cv::Mat templateCopy(const char* who, const cv::Mat& image) const;
    // Whether training can start with this many templates; when not, the
    // status says why.
    bool readyToTrain(const char* who, std::size_t templates);
    bool fits(const cv::Mat& grey) const { return !grey.empty() && grey.cols == width && grey.rows == height; }
};

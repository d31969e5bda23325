#pragma once

#include <opencv2/core.hpp>

// The station's Gaussian blur takes the library's place for every caller in
// the process, the library's own SIFT included: a float image of many rows is
// blurred in row strips side by side, each strip by the library's blur, so
// every pixel is the one the library computes on the whole image.
//
// True when calls to the library's blur reach the station's. Without it
// (a program linked without the library's symbol taken over) the alignment
// still runs, on one thread.
bool parallelBlurActive();

// The library's own blur, past the station's (null when the library is not
// loaded): what the strips are made of, and what they must equal.
using LibraryBlurFn = void (*)(const cv::_InputArray&, const cv::_OutputArray&, cv::Size, double, double, int);
LibraryBlurFn libraryGaussianBlur();

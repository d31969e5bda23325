#pragma once
#include <opencv2/core.hpp>

namespace vision {

// The one-channel view the matchers work on: grey frames pass through
// unchanged (no copy), 3- and 4-channel frames are converted. Any other
// type gives an empty image, which every matcher treats as bad input.
cv::Mat toGrey(const cv::Mat& image);

} // namespace vision

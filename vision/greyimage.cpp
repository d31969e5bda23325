#include "vision/greyimage.h"

#include <opencv2/imgproc.hpp>

namespace vision {

cv::Mat toGrey(const cv::Mat& image)
{
    if (image.type() == CV_8UC1)
        return image;
    cv::Mat g;
    if (image.type() == CV_8UC3)
        cv::cvtColor(image, g, cv::COLOR_BGR2GRAY);
    else if (image.type() == CV_8UC4)
        cv::cvtColor(image, g, cv::COLOR_BGRA2GRAY);
    return g;
}

} // namespace vision

#include "vision/trainingbox.h"
#include "vision/greyimage.h"

#include <QtGlobal>

bool TrainingBox::create(const char* who, int boxWidth, int boxHeight, const cv::Mat& boxMask)
{
    *this = TrainingBox();
    if (boxWidth < 1 || boxHeight < 1 ||
        (!boxMask.empty() && (boxMask.cols != boxWidth || boxMask.rows != boxHeight || boxMask.type() != CV_8UC1))) {
        status = TrainStatus::BadInput;
        qWarning("%s: box %dx%d with mask %dx%d (type %d) cannot be trained", who, boxWidth, boxHeight, boxMask.cols,
                 boxMask.rows, boxMask.type());
        return false;
    }
    width = boxWidth;
    height = boxHeight;
    mask = boxMask.empty() ? cv::Mat(height, width, CV_8UC1, cv::Scalar(255)) : cv::Mat(boxMask > 0);
    created = true;
    return true;
}

cv::Mat TrainingBox::templateCopy(const char* who, const cv::Mat& image) const
{
    if (!created)
        return cv::Mat();
    const cv::Mat g = vision::toGrey(image);
    if (!fits(g)) {
        qWarning("%s: template %dx%d (type %d) does not fit the box %dx%d, ignored", who, image.cols, image.rows,
                 image.type(), width, height);
        return cv::Mat();
    }
    return g.clone();
}

bool TrainingBox::readyToTrain(const char* who, std::size_t templates)
{
    if (!created) {
        if (status == TrainStatus::Empty)
            status = TrainStatus::BadInput;
        qWarning("%s: train without a created model (%s)", who, trainStatusText(status));
        return false;
    }
    if (templates == 0) {
        status = TrainStatus::NoTemplate;
        qWarning("%s: no template image, the ROI stays untrained", who);
        return false;
    }
    if (cv::countNonZero(mask) == 0) {
        status = TrainStatus::BadInput;
        qWarning("%s: the mask leaves nothing to inspect, the ROI stays untrained", who);
        return false;
    }
    return true;
}

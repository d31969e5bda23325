#pragma once
#include "inspection/circle.h"
#include "inspection/clustomrect.h"
#include "inspection/imghomotrans.h"
#include "inspection/repolygon.h"
#include "netservices/param_roi.h"
#include "vision/findshape.h"
#include "vision/graymatch.h"
#include "vision/surf.h"

#include <opencv2/core.hpp>

class CammerSingleton;
class CameraViewState;

// Record of one ROI made by the automatic ROI generation of the editor.
struct stru_RoiInfo
{
    int header[8] = {}; // the editor's own fields, zero on creation
    cv::Mat mask;
    ClustomRect rect;
    Circle circle;
    RePolygon polygon;
};

// The detection engine of one camera: trains the matchers and the positioning
// and alignment models of each detection, positions and aligns each frame,
// judges every ROI of a detection and publishes the results.
//
// Every ROI box and mask is clipped to the frame before it is used, so a ROI
// reaching past an edge is judged on its part inside the frame.
class CammerRecong
{
public:
    static constexpr int kDetections = 8;
    static constexpr int kRois = 100;

    CammerRecong(CammerSingleton* liveStore, CameraViewState* view);
    ~CammerRecong();
    CammerRecong(const CammerRecong&) = delete;
    CammerRecong& operator=(const CammerRecong&) = delete;

    void Run(int detect);
    static void ThresholdFUNC(cv::Mat src, cv::Mat& dst, int lo, int hi);
    void AreaGen() {}

    void VarTrain(int detect);
    void CreateShape(int detect);
    void ShapeMatch();
    void RunTest(int detect, int roi);

    void CreateHomoShape(int detect);
    bool HomoTransShape(int detect);

    // The frame box of ROI r of detection d in store s, clipped to the frame,
    // and the matching part of its box-sized mask (empty when mask is empty or
    // does not overlap). False when nothing of the box lies in the frame.
    bool roiBox(const CammerSingleton* s, int d, int r, const cv::Mat& mask, cv::Rect* box, cv::Mat* boxMask) const;
    // The unclipped box (x1, y1, x2 - x1 + 1, y2 - y1 + 1) of the ROI's shape.
    static cv::Rect rawBox(const CammerSingleton* s, int d, int r);

    CammerSingleton* roiStore = nullptr;
    CameraViewState* view = nullptr;
    cv::Mat grabMat;
    cv::Mat workMat;
    cv::Mat detectMasks[kDetections];
    GrayMatch grayMatchers[kDetections][kRois];
    SURF surfMatchers[kDetections][kRois];
    ImgHomoTrans homoTrans[kDetections];
    double templateNorms[kDetections] = {};
    FindShape shapeFinders[kDetections];
    int shapeCenterX[kDetections] = {};
    int shapeCenterY[kDetections] = {};
    cv::Rect searchRects[kDetections];

private:
    // The ROI's threshold image and opening kernel, shared by Run and RunTest.
    // Returns false for types that are not measured that way.
    bool rangeThreshold(int type, int A, int B, int C, const cv::Mat& grey, const cv::Mat& colour,
                        const cv::Mat& roiMask, cv::Mat& thresh) const;
    cv::Mat templateGrey(int d, int k, cv::Mat& scratch) const;
    cv::Mat frameMat(unsigned char* data, bool colour) const;
    void reportError(int d, int code);

    cv::Mat m_normalised; // brightness-matched grey frame, reused
};

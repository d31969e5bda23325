#pragma once
#include "inspection/circle.h"
#include "inspection/clustomrect.h"
#include "inspection/imghomotrans.h"
#include "inspection/repolygon.h"
#include "netservices/param_roi.h"
#include "vision/findshape.h"
#include "vision/graymatch.h"
#include "vision/surf.h"

#include <QStringList>
#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

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

    // The decision's inspection of detection d: judges the view's frame (or
    // takes up what InspectAll judged of it) and shows frame and verdict.
    void Run(int detect);
    static void ThresholdFUNC(cv::Mat src, cv::Mat& dst, int lo, int hi);
    void AreaGen() {}

    void VarTrain(int detect);
    void CreateShape(int detect);
    void ShapeMatch();
    void RunTest(int detect, int roi);

    void CreateHomoShape(int detect);
    bool HomoTransShape(int detect);

    // Aligns, positions and judges detection d of every listed camera at once,
    // one camera per worker thread. What only the GUI thread may do (records,
    // the network's ROI results) waits; each camera's next HomoTransShape(d),
    // ShapeMatch() and Run(d), as the cycle calls them in camera order, then
    // do no work again and Run(d) hands on what waited. Any other call drops
    // the prepared result. Cameras without an engine are left alone.
    //
    // A camera whose frame was already judged for d this way (and not
    // grabbed anew since) is left as it is: the cycle judges each frame as
    // it arrives and the decision only takes the verdicts up. Until then
    // the view shows the verdict it showed (CameraViewState::holdShownVerdict).
    static void InspectAll(const std::vector<CameraViewState*>& views, int d);
    // Drops what was judged ahead: the next inspection judges again.
    void DropPrepared() { takePrepared(-1); }

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
    cv::Mat frameMat(const unsigned char* pixels, bool colour) const;
    void reportError(int d, int code);
    // Says which positioning area of detection d was left untrained and why.
    void positioningNotTrained(int d, int area);
    void insertRecord(const QString& text);
    void publish(const param_roi& roi);
    void shapeMatch(int d);
    // The defect mask cleared for a new inspection, and a box of it marked.
    cv::Mat clearDefects();
    void markDefects(cv::Mat& defect, const cv::Rect& box, const cv::Mat& opened);
    void judge(int d);
    // The grey or hue image of a colour camera where detection d measures:
    // the ROI boxes, or the whole frame when brightness matching needs it.
    void colourToGrey(int d, bool whole);
    // Makes sure box of the grey image holds the work frame's conversion.
    void greyCovers(const cv::Rect& box);
    // The prepared inspection of d is taken (true) or dropped.
    bool takePrepared(int d);
    // A prepared inspection of d on the frame the view holds now.
    bool preparedFor(int d) const;

    cv::Mat m_normalised; // brightness-matched grey frame, reused
    // Boxes of the defect mask this engine marked since it last cleared it.
    std::vector<cv::Rect> m_defectBoxes;
    bool m_defectsWhole = true;
    unsigned m_defectWrites = 0;
    // The frame positioning reads: the grabbed frame itself, or the aligned
    // one when alignment moved it (no copy of a frame nothing changed).
    bool m_alignedIsGrab = false;
    // Boxes of grayBuffer that hold the last work frame's conversion.
    std::vector<cv::Rect> m_greyBoxes;
    bool m_greyWhole = false;
    // A prepared inspection (InspectAll) and what waits for the GUI thread.
    int m_prepared = -1;
    std::uint64_t m_preparedFrame = 0; // the grab buffer's version it judged
    bool m_onWorker = false;
    QStringList m_waitingRecords;
    std::vector<param_roi> m_waitingRois;
};

#pragma once
#include "inspection/cammersingleton.h"
#include "inspection/pixelbuffer.h"
#include "vision/trainstatus.h"

#include <QImage>
#include <QString>
#include <opencv2/core.hpp>

#include <cstring>
#include <vector>

class CameraInterface;
class CammerRecong;

// The data of one camera view that the engine, the result images, the cycle
// and the editor share: frame buffers, masks, stores, templates and the last
// inspection's results. The camera view (CammerWidget) derives from it and
// adds the screen; core code and tests work on this part alone.
class CameraViewState : public RoiStoreOwner
{
public:
    static constexpr int kDetections = 8;
    static constexpr int kRois = 100;
    static constexpr int kSpots = 100;     // entry 0 holds the count
    static constexpr int kRecentNg = 10;

    CameraViewState() = default;
    ~CameraViewState() override = default;
    CameraViewState(const CameraViewState&) = delete;
    CameraViewState& operator=(const CameraViewState&) = delete;

    float storeScaleX() const override { return roiScaleX; }
    float storeScaleY() const override { return roiScaleY; }
    RoiMaskRow* storeLiveMasks() override { return liveMasks; }
    RoiMaskRow* storeEditMasks() override { return editMasks; }
    // Asks the screen to show the engine's latest preview; nothing without one.
    virtual void refreshView() {}
    // Whether a frame just inspected goes to the screen: the live image,
    // shown or not (a hidden view is shown again at an alarm, with the frame
    // that was judged). Nothing without a screen.
    virtual bool showsInspectedFrame() const { return false; }

    // The screen shows a verdict with its decision, never before it. A frame
    // judged as it arrives writes isOK, roiResult, roiValue and defectMask
    // ahead of its decision: the verdict shown until then is held here. A
    // second frame before the decision leaves the first hold as it is.
    void holdShownVerdict()
    {
        if (m_verdictHeld)
            return;
        m_held.ok = isOK;
        std::memcpy(m_held.roiResult, roiResult, sizeof roiResult);
        std::memcpy(m_held.roiValue, roiValue, sizeof roiValue);
        // Defects show only on an NG; the engine's next write to the mask
        // gives it pixels of its own.
        if (isOK)
            m_held.defects.release();
        else
            m_held.defects.share(defectMask);
        m_verdictHeld = true;
    }
    // The verdict fields are decided again: a decision took them up, or the
    // cycle set them itself.
    void releaseShownVerdict()
    {
        m_verdictHeld = false;
        m_held.defects.release();
    }
    // The decision took up the verdict of the frame just judged: the screen
    // shows both, the frame where the view shows the inspected one.
    void showJudgedFrame()
    {
        releaseShownVerdict();
        if (showsInspectedFrame() && frameBytes > 0 && displayBuffer.size() == workFrame.size())
            displayBuffer.share(workFrame);
    }
    using RoiResults = uchar[kDetections][kRois];
    using RoiValues = int[kDetections][kRois];
    // The verdict the screen shows.
    bool shownOK() const { return m_verdictHeld ? m_held.ok : isOK; }
    const RoiResults& shownResults() const { return m_verdictHeld ? m_held.roiResult : roiResult; }
    const RoiValues& shownValues() const { return m_verdictHeld ? m_held.roiValue : roiValue; }
    const PixelBuffer& shownDefects() const { return m_verdictHeld ? m_held.defects : defectMask; }

    CammerSingleton* liveStore = nullptr;  // used by inspection
    CammerSingleton* editStore = nullptr;  // changed by the editor and the panel
    CammerRecong* recong = nullptr;        // detection engine of this camera
    CameraInterface* camera = nullptr;

    int cameraIndex = 0;
    char serialNumber[96] = {};
    QString cameraTypeName;
    bool isOpen = false;
    bool isColor = false;                  // 4 bytes a pixel (B, G, R, x), else 1
    bool isSimCamera = true;               // plug-in kind() 0
    bool isConnected = true;               // cleared by a loss, set on reconnect
    int lossCount = 0;
    int fps = 0;

    int imageWidth = 0;
    int imageHeight = 0;
    int pixelCount = 0;
    int frameBytes = 0;
    float showScaleX = 1.0f, showScaleY = 1.0f; // view size / frame size
    float roiScaleX = 1.0f, roiScaleY = 1.0f;   // gShowW / width, gShowH / height
    float winScaleX = 1.0f, winScaleY = 1.0f;   // view size / screen size

    cv::Mat liveMasks[kDetections][kRois]; // 8-bit, box-sized, 255 inside
    cv::Mat editMasks[kDetections][kRois];

    PixelBuffer displayBuffer;  // frame shown (frameBytes)
    PixelBuffer imageBits;      // RGB32 pixels behind displayImage
    QImage displayImage;
    PixelBuffer frameBuffer;    // grab target
    PixelBuffer alignedFrame;   // after alignment
    PixelBuffer workFrame;      // after positioning: what the engine judges
    PixelBuffer grayBuffer;     // colour cameras: grey or hue (pixelCount)
    PixelBuffer defectMask;     // defect pixels of the last inspection (pixelCount)

    int curRoi = -1;            // selected ROI of the current detection, edit copy
    int lastRoi = -1;
    uchar roiResult[kDetections][kRois] = {}; // 1 OK
    bool isOK = true;
    int roiValue[kDetections][kRois] = {};
    // [d][r][0][0]: number of spots kept (0..99); [d][r][1..n]: x1, y1, x2, y2
    // in frame pixels, x2 and y2 one past the spot.
    cv::Vec4i spotRects[kDetections][kRois][kSpots];
    int overlayMode = 0;        // 0 plain, 1 NG highlight on, 2 ignored points shown
    bool testShown = false;

    PixelBuffer ignoreMasks[kDetections];            // pixelCount, nonzero = ignored
    std::vector<PixelBuffer> templateImages[kDetections]; // gTempNum slots of frameBytes
    std::vector<int> templateValid[kDetections];
    int templateCount[kDetections] = {};
    int curTemplate = 0;
    bool resamplePending[kDetections] = {};
    // Training of the last VarTrain / CreateShape: a matcher of a type-0 or
    // type-6 ROI, or the positioning model, that is not usable says why, so
    // the edit view can mark it.
    TrainStatus roiTrainStatus[kDetections][kRois] = {};
    TrainStatus shapeTrainStatus[kDetections] = {};

    std::vector<PixelBuffer> recentNgImages[kDetections]; // kRecentNg of frameBytes
    QString recentNgTimes[kDetections][kRecentNg];
    int recentNgCount[kDetections] = {};
    int recentNgIndex[kDetections] = {};

private:
    struct HeldVerdict {
        bool ok = true;
        RoiResults roiResult = {};
        RoiValues roiValue = {};
        PixelBuffer defects;
    };
    HeldVerdict m_held;
    bool m_verdictHeld = false;
};

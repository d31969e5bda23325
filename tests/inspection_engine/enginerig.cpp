#include "inspection_engine/enginerig.h"

#include <opencv2/imgproc.hpp>

#include <cstring>

EngineRig::EngineRig(int width, int height, bool colour)
{
    if (!pMutexSaveFail)
        pMutexSaveFail = new QMutex;
    gpWin = &win;
    gpWPara = &para;
    gTempNum = 10;
    gDNum = 2;
    gisGrayHue = 1;
    para.minSpot = 1;
    para.filterSize = 1;
    para.alarmArea = 100;
    para.showAllParam = 1;
    para.motionCorrect = -1;
    para.angleCorrect = 0;
    para.offsetValue = 20;
    para.rotateAngle = 0;
    para.colorAreaMin = 1;
    para.colorAreaMax = 99999;
    for (int& e : para.detectEnabled)
        e = 0;
    view.imageWidth = width;
    view.imageHeight = height;
    view.isColor = colour;
    view.pixelCount = width * height;
    view.frameBytes = view.pixelCount * (colour ? 4 : 1);
    for (PixelBuffer* b : {&view.frameBuffer, &view.alignedFrame, &view.workFrame, &view.displayBuffer})
        b->allocate(size_t(view.frameBytes));
    view.grayBuffer.allocate(size_t(view.pixelCount));
    view.defectMask.allocate(size_t(view.pixelCount));
    for (int d = 0; d < 8; ++d) {
        view.templateImages[d].resize(size_t(gTempNum));
        view.templateValid[d].assign(size_t(gTempNum), 0);
    }
    store = new CammerSingleton(0, &view);
    view.liveStore = store;
    view.editStore = store;
}

EngineRig::~EngineRig()
{
    recong.reset();
    delete store;
    if (gpWin == &win)
        gpWin = nullptr;
    if (gpWPara == &para)
        gpWPara = nullptr;
}

CammerRecong& EngineRig::engine()
{
    if (!recong)
        recong = std::make_unique<CammerRecong>(store, &view);
    return *recong;
}

int EngineRig::newRoi(int d, int type, int kind, int A, int B, int C)
{
    const int r = store->roiCount[d]++;
    const int i = d * 100 + r;
    store->funcType[i] = type;
    store->paramA[i] = A;
    store->paramB[i] = B;
    store->paramC[i] = C;
    store->shapeKind[i] = kind;
    return r;
}

int EngineRig::addRect(int d, int type, cv::Rect box, int A, int B, int C)
{
    const int r = newRoi(d, type, 1, A, B, C);
    const int i = d * 100 + r;
    store->rects[i].imageRect = QRect(box.x, box.y, box.width, box.height);
    store->rects[i].rect = store->rects[i].imageRect;
    view.liveMasks[d][r] = cv::Mat(box.height, box.width, CV_8UC1, cv::Scalar(255));
    view.editMasks[d][r] = view.liveMasks[d][r];
    return r;
}

int EngineRig::addRing(int d, int type, cv::Point c, int radius, int inner, int A, int B, int C)
{
    const int r = newRoi(d, type, 4, A, B, C);
    const int i = d * 100 + r;
    Circle& ring = store->circles[i];
    ring.imageCx = c.x;
    ring.imageCy = c.y;
    ring.imageRadius = radius;
    ring.imageInnerRadius = inner;
    ring.cx = c.x;
    ring.cy = c.y;
    ring.radius = radius;
    ring.innerRadius = inner;
    ring.scaleX = ring.scaleY = 1.f;
    ring.imageRect = QRect(c.x - radius, c.y - radius, 2 * radius + 1, 2 * radius + 1);
    ring.rect = ring.imageRect;
    cv::Mat m(2 * radius + 1, 2 * radius + 1, CV_8UC1, cv::Scalar(0));
    cv::circle(m, cv::Point(radius, radius), radius, cv::Scalar(255), cv::FILLED);
    cv::circle(m, cv::Point(radius, radius), inner, cv::Scalar(0), cv::FILLED);
    view.liveMasks[d][r] = m;
    view.editMasks[d][r] = m;
    return r;
}

void EngineRig::setFrame(const cv::Mat& frame)
{
    CV_Assert(frame.isContinuous() && size_t(frame.total() * frame.elemSize()) == size_t(view.frameBytes));
    for (PixelBuffer* b : {&view.frameBuffer, &view.alignedFrame, &view.workFrame})
        std::memcpy(b->data(), frame.data, size_t(view.frameBytes));
}

void EngineRig::setTemplate(int d, int k, const cv::Mat& image)
{
    PixelBuffer& b = view.templateImages[d][size_t(k)];
    b.allocate(size_t(view.frameBytes));
    std::memcpy(b.data(), image.data, size_t(view.frameBytes));
    view.templateValid[d][size_t(k)] = 1;
    view.templateCount[d] = std::max(view.templateCount[d], k + 1);
}

void EngineRig::addRois(int d, const std::vector<Roi>& rois)
{
    for (const Roi& r : rois)
        addRect(d, r.type, r.box, r.A, r.B, r.C);
}

// The typical detection over the simulated mould at 1280 x 1024 (2 x 2 cavities).
std::vector<Roi> typicalDetection(const std::vector<cv::Rect>& cav, bool colour)
{
    std::vector<Roi> rois;
    for (int c = 0; c < 4; ++c) {
        const cv::Rect& k = cav[size_t(c)];
        rois.push_back({0, cv::Rect(k.x + k.width / 2 - 75, k.y + k.height / 2 - 75, 150, 150), 45, 10, 3, c});
        rois.push_back({0, cv::Rect(k.x + 20, k.y + 20, 150, 110), 45, 10, 3, c});
    }
    rois.push_back({0, cv::Rect(565, 420, 150, 150), 45, 10, 3, -1});
    rois.push_back({0, cv::Rect(565, 850, 150, 150), 45, 10, 3, -1});
    // Dark spots on the plate: up to 20 pixels darker than 60.
    for (const cv::Rect& b : {cv::Rect(300, 430, 150, 150), cv::Rect(830, 430, 150, 150), cv::Rect(565, 150, 150, 150),
                              cv::Rect(565, 640, 150, 150)})
        rois.push_back({1, b, 0, 20, 60 << 8, -1});
    // The guide pins: exactly one dark centre each.
    rois.push_back({8, cv::Rect(22, 22, 100, 100), 80, 1 | (1 << 16), 2, -1});
    rois.push_back({8, cv::Rect(1158, 902, 100, 100), 80, 1 | (1 << 16), 2, -1});
    // Similarity: the ejector-pin side of cavities 1 and 2.
    rois.push_back({6, cv::Rect(cav[1].x + 20, cav[1].y + 80, 150, 150), 80, 0, 0, 1});
    rois.push_back({6, cv::Rect(cav[2].x + 20, cav[2].y + 80, 150, 150), 80, 0, 0, 2});
    if (colour) {
        // Colour spots: the reddish steel of the plate, a fixed amount of it.
        rois.push_back({9, cv::Rect(300, 440, 40, 40), 0 | (255 << 16), 0 | (255 << 16), 0 | (255 << 16), -1});
    } else {
        rois.push_back({3, cv::Rect(cav[0].x - 40, cav[0].y - 40, 300, 250), 0, 0, 0, -1});
    }
    return rois;
}


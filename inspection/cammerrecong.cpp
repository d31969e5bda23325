#include "inspection/cammerrecong.h"

#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/imagetools.h"
#include "frame/wizardpara.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammersingleton.h"
#include "inspection/viewimages.h"
#include "netservices/zev_netmn.h"

#include <opencv2/imgproc.hpp>

#include <QElapsedTimer>
#include <QFile>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

inline int lo16(int v) { return int(unsigned(v) & 0xFFFFu); }
inline int hi16(int v) { return int((unsigned(v) >> 16) & 0xFFFFu); }
inline int byte0(int v) { return int(unsigned(v) & 0xFFu); }
inline int byte1(int v) { return int((unsigned(v) >> 8) & 0xFFu); }

bool isSkipped(int type) { return type == 2 || type == 3 || type == 10; }

// The template-is-NG setting of detection d: the two moulds of the two-colour
// and turntable modes share the settings of detections 0 and 1.
int templateIsNg(const WizardPara* p, int d)
{
    if (!p)
        return 0;
    if (p->systemMode == 1 || p->systemMode == 2)
        return p->tempIsNG[d % 2];
    return p->tempIsNG[d];
}

// Opening with a k x k ellipse. An empty threshold image stays empty, and a
// kernel of 1 is the identity, so both skip the morphology (results unchanged).
void openImage(const cv::Mat& thresh, cv::Mat& opened, int k)
{
    if (k <= 1 || cv::countNonZero(thresh) == 0) {
        opened = thresh;
        return;
    }
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(k, k));
    cv::morphologyEx(thresh, opened, cv::MORPH_OPEN, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());
}

// The smaller box side rounded down to an even number, less the margin: a
// spot kernel this large leaves no spot to count.
bool spotKernelTooLarge(const cv::Rect& box, int k, int margin)
{
    const int e = std::min(box.width, box.height) & ~1;
    return k >= e - margin;
}

} // namespace

CammerRecong::CammerRecong(CammerSingleton* liveStore, CameraViewState* v) : roiStore(liveStore), view(v)
{
    for (cv::Rect& r : searchRects)
        r = cv::Rect();
    for (FindShape& f : shapeFinders)
        f.Clear();
    if (view) {
        grabMat = frameMat(view->frameBuffer.data(), false);
        workMat = frameMat(view->workFrame.data(), false);
    }
    for (int d = 0; d < kDetections; ++d) {
        if (gpWPara && gpWPara->detectEnabled[d]) {
            CreateHomoShape(d);
            CreateShape(d);
            VarTrain(d);
        }
    }
}

CammerRecong::~CammerRecong() = default;

cv::Mat CammerRecong::frameMat(const unsigned char* pixels, bool colour) const
{
    // Read-only frames are wrapped the same way; nothing writes through them.
    unsigned char* data = const_cast<unsigned char*>(pixels);
    if (!view || !data || view->imageWidth <= 0 || view->imageHeight <= 0)
        return cv::Mat();
    return cv::Mat(view->imageHeight, view->imageWidth, colour ? CV_8UC4 : CV_8UC1, data);
}

cv::Rect CammerRecong::rawBox(const CammerSingleton* s, int d, int r)
{
    const int i = d * kRois + r;
    QRect q;
    switch (s->shapeKind[i]) {
    case 1: q = s->rects[i].imageRect; break;
    case 4: q = s->circles[i].imageRect; break;
    default: q = s->polygons[i].imageBoundRect; break;
    }
    // x2 - x1 + 1 in 64 bits: corrupt geometry must not wrap into a valid size.
    const long long w = (long long)q.right() - q.left() + 1, h = (long long)q.bottom() - q.top() + 1;
    return cv::Rect(q.left(), q.top(), int(std::clamp(w, -1LL, 1LL << 30)), int(std::clamp(h, -1LL, 1LL << 30)));
}

bool CammerRecong::roiBox(const CammerSingleton* s, int d, int r, const cv::Mat& mask, cv::Rect* box,
                          cv::Mat* boxMask) const
{
    const cv::Rect raw = rawBox(s, d, r);
    cv::Rect b = raw & cv::Rect(0, 0, view->imageWidth, view->imageHeight);
    if (raw.width < 1 || raw.height < 1)
        b = cv::Rect();
    if (!mask.empty()) {
        // The mask covers the unclipped box from its top-left corner.
        const cv::Rect inMask = cv::Rect(b.x - raw.x, b.y - raw.y, b.width, b.height) & cv::Rect(0, 0, mask.cols, mask.rows);
        b = cv::Rect(inMask.x + raw.x, inMask.y + raw.y, inMask.width, inMask.height);
        if (boxMask)
            *boxMask = b.area() > 0 ? mask(inMask) : cv::Mat();
    } else if (boxMask) {
        boxMask->release();
    }
    *box = b;
    return b.width >= 1 && b.height >= 1;
}

void CammerRecong::ThresholdFUNC(cv::Mat src, cv::Mat& dst, int lo, int hi)
{
    cv::Mat inv, t1, t2;
    cv::bitwise_not(src, inv);
    cv::threshold(inv, t1, 255 - lo, 255, cv::THRESH_BINARY_INV);
    cv::threshold(src, t2, hi, 255, cv::THRESH_BINARY_INV);
    cv::bitwise_and(t1, t2, dst);
}

void CammerRecong::reportError(int d, int code)
{
    view->isOK = false;
    const QString text = QString("REG RUN ERROR = %1, %2, %3").arg(view->cameraIndex).arg(d).arg(code);
    if (m_onWorker)
        m_waitingRecords << text;
    else
        insertRecord(text);
}

void CammerRecong::insertRecord(const QString& text)
{
    if (gpWin)
        gpWin->InsertRecord(text, "info");
    else
        qWarning("%s", qPrintable(text));
}

void CammerRecong::publish(const param_roi& roi)
{
    if (m_onWorker)
        m_waitingRois.push_back(roi);
    else
        ZEV_NETMN::instance()->setRoi(roi);
}

bool CammerRecong::preparedFor(int d) const
{
    return m_prepared >= 0 && m_prepared == d && view && m_preparedFrame == view->frameBuffer.version();
}

bool CammerRecong::takePrepared(int d)
{
    const bool taken = preparedFor(d);
    m_prepared = -1;
    if (!taken) {
        m_waitingRecords.clear();
        m_waitingRois.clear();
    }
    return taken;
}

void CammerRecong::InspectAll(const std::vector<CameraViewState*>& views, int d)
{
    if (d < 0 || d >= kDetections)
        return;
    std::vector<CammerRecong*> engines;
    for (CameraViewState* v : views)
        if (v && v->recong && v->recong->view == v && !v->recong->preparedFor(d))
            engines.push_back(v->recong);
    if (engines.empty())
        return;
    for (CammerRecong* e : engines) {
        e->takePrepared(-1);
        // The screen goes on showing the decided verdict until a decision
        // takes this one up (Run).
        e->view->holdShownVerdict();
        e->m_onWorker = true;
    }
    const auto inspect = [d](CammerRecong* e) {
        e->HomoTransShape(d);
        e->shapeMatch(d);
        e->judge(d);
    };
    if (engines.size() == 1 || QThreadPool::globalInstance()->maxThreadCount() < 2)
        std::for_each(engines.begin(), engines.end(), inspect);
    else
        QtConcurrent::blockingMap(engines, inspect);
    for (CammerRecong* e : engines) {
        e->m_onWorker = false;
        e->m_prepared = d;
        e->m_preparedFrame = e->view->frameBuffer.version();
    }
}

void CammerRecong::greyCovers(const cv::Rect& box)
{
    CameraViewState& v = *view;
    if (m_greyWhole || v.grayBuffer.size() < size_t(v.pixelCount) || v.workFrame.size() < size_t(v.frameBytes))
        return;
    for (const cv::Rect& b : m_greyBoxes)
        if ((b & box) == box)
            return;
    const int* frame = reinterpret_cast<const int*>(std::as_const(v.workFrame).data());
    RGBA2GrayHueRect(v.grayBuffer.data(), frame, v.imageWidth, v.imageHeight, box, gisGrayHue != 0);
    m_greyBoxes.push_back(box);
}

void CammerRecong::colourToGrey(int d, bool whole)
{
    CameraViewState& v = *view;
    m_greyBoxes.clear();
    m_greyWhole = false;
    if (whole) {
        int* frame = const_cast<int*>(reinterpret_cast<const int*>(std::as_const(v.workFrame).data()));
        if (gisGrayHue)
            RGBA2Gray(v.grayBuffer.data(), frame, v.imageWidth, v.imageHeight);
        else
            RGBA2Hue(v.grayBuffer.data(), frame, v.imageWidth, v.imageHeight);
        m_greyWhole = true;
        return;
    }
    // Only where a ROI is measured; the rest of the frame is never read.
    const int n = std::clamp(roiStore->roiCount[d], 0, int(kRois));
    for (int r = 0; r < n; ++r) {
        cv::Rect box;
        if (!isSkipped(roiStore->funcType[d * kRois + r]) && roiBox(roiStore, d, r, v.liveMasks[d][r], &box, nullptr))
            greyCovers(box);
    }
}

bool CammerRecong::rangeThreshold(int type, int A, int B, int C, const cv::Mat& grey, const cv::Mat& colour,
                                  const cv::Mat& roiMask, cv::Mat& thresh) const
{
    auto range = [&](int lo, int hi) {
        ThresholdFUNC(grey, thresh, lo, hi);
        cv::bitwise_and(thresh, roiMask, thresh);
    };
    switch (type) {
    case 1: {
        const int a = byte0(C), b = byte1(C);
        range(std::min(a, b), std::max(a, b));
        return true;
    }
    case 4:
    case 8: range(0, byte0(A)); return true;
    case 5:
    case 7: range(byte0(A), 255); return true;
    case 9: {
        if (colour.empty() || colour.channels() != 4) {
            thresh = cv::Mat::zeros(grey.size(), CV_8UC1);
            return true;
        }
        // Frames are B, G, R, x: A (red) reads byte 2, B byte 1, C (blue) byte 0.
        cv::Mat ch[4];
        cv::split(colour, ch);
        thresh = cv::Mat(grey.size(), CV_8UC1, cv::Scalar(255));
        const int params[3] = {A, B, C};
        const int channels[3] = {2, 1, 0};
        cv::Mat t;
        for (int i = 0; i < 3; ++i) {
            const int a = lo16(params[i]), b = hi16(params[i]);
            ThresholdFUNC(ch[channels[i]], t, std::min(a, b), std::max(a, b));
            cv::bitwise_and(t, roiMask, t);
            cv::bitwise_and(thresh, t, thresh);
        }
        return true;
    }
    default:
        if (type < 0 || type > 10) {
            range(0, 255);
            return true;
        }
        return false;
    }
}

void CammerRecong::Run(int d)
{
    if (!view || !roiStore || d < 0 || d >= kDetections)
        return;
    if (takePrepared(d)) {
        // Judged on a worker: what waited for this thread, in its order.
        for (const QString& text : qAsConst(m_waitingRecords))
            insertRecord(text);
        for (const param_roi& roi : m_waitingRois)
            publish(roi);
        m_waitingRecords.clear();
        m_waitingRois.clear();
    } else {
        judge(d);
    }
    // The decision takes the verdict up: the frame judged and its verdict
    // go to the screen together. The view holds the judged pixels
    // themselves: a later write to the work frame gets pixels of its own,
    // so what is shown stays.
    view->showJudgedFrame();
}

void CammerRecong::judge(int d)
{
    CameraViewState& v = *view;
    const WizardPara* p = gpWPara;
    v.isOK = true;
    const int n0 = std::clamp(roiStore->roiCount[d], 0, int(kRois));
    for (int r = 0; r < n0; ++r)
        v.roiResult[d][r] = 1;

    // Brightness matching needs a target, which only training gives.
    const bool matchBrightness = p && p->matchBrightness && templateNorms[d] > 0;
    cv::Mat grey, colour;
    if (v.isColor) {
        colour = frameMat(std::as_const(v.workFrame).data(), true);
        if (!colour.empty() && v.grayBuffer.size() >= size_t(v.pixelCount)) {
            colourToGrey(d, matchBrightness);
            grey = frameMat(v.grayBuffer.data(), false);
        }
    } else {
        grey = frameMat(std::as_const(v.workFrame).data(), false);
    }
    if (grey.empty()) {
        qWarning("engine: camera %d has no frame to inspect", v.cameraIndex + 1);
        v.isOK = false;
        return;
    }
    if (matchBrightness) {
        cv::normalize(grey, m_normalised, templateNorms[d], 0, cv::NORM_L2);
        grey = m_normalised;
    }
    cv::Mat defect = clearDefects();

    const bool showAll = p && p->showAllParam;
    const int minSpot = std::max(1, p ? p->minSpot : 1);
    std::vector<std::vector<cv::Point>> contours;

    for (int r = 0; r < std::clamp(roiStore->roiCount[d], 0, int(kRois)); ++r) {
        const int i = d * kRois + r;
        const int type = roiStore->funcType[i];
        cv::Vec4i* spots = v.spotRects[d][r];
        if (isSkipped(type)) {
            v.roiValue[d][r] = 0;
            spots[0][0] = 0;
            continue;
        }
        const cv::Mat& liveMask = v.liveMasks[d][r];
        if (liveMask.rows == 0 || liveMask.cols == 0) {
            reportError(d, -1);
            continue;
        }
        if (detectMasks[d].rows == 0 || detectMasks[d].cols == 0) {
            reportError(d, -2);
            continue;
        }
        cv::Rect box;
        cv::Mat boxMask;
        if (!roiBox(roiStore, d, r, liveMask, &box, &boxMask)) {
            reportError(d, -3);
            continue;
        }
        const int A = roiStore->paramA[i], B = roiStore->paramB[i], C = roiStore->paramC[i];
        const cv::Mat roiImage = grey(box);
        cv::Mat roiMask;
        cv::bitwise_and(detectMasks[d](box), boxMask, roiMask);

        cv::Mat thresh;
        float score = 0.f;
        int k = minSpot;
        if (type == 0) {
            if (grayMatchers[d][r].IsValid())
                grayMatchers[d][r].Match(roiImage, thresh);
            k = showAll ? C : (p ? p->filterSize : 1);
        } else if (type == 6) {
            if (surfMatchers[d][r].IsValid()) {
                cv::Mat copy = roiImage.clone();
                score = surfMatchers[d][r].Match(copy, thresh);
            }
            k = 1;
        } else {
            rangeThreshold(type, A, B, C, roiImage, colour.empty() ? cv::Mat() : colour(box), roiMask, thresh);
            if (type == 7 || type == 8)
                k = 2 * C + 1;
        }
        if (thresh.size() != box.size() || thresh.type() != CV_8UC1)
            thresh = cv::Mat::zeros(box.size(), CV_8UC1);
        k = std::max(1, k);
        if ((type == 7 || type == 8) && spotKernelTooLarge(box, k, 2))
            thresh.setTo(0);

        cv::Mat opened;
        openImage(thresh, opened, k);
        int value = 0, contourCount = 0, kept = 0;
        if (cv::countNonZero(opened) > 0) {
            markDefects(defect, box, opened);
            contours.clear();
            cv::findContours(opened, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
            contourCount = int(contours.size());
            for (const auto& c : contours) {
                if (kept >= CameraViewState::kSpots - 1)
                    break;
                const cv::Rect br = cv::boundingRect(c);
                spots[++kept] = cv::Vec4i(br.x + box.x, br.y + box.y, br.x + box.x + br.width, br.y + box.y + br.height);
            }
            value = cv::countNonZero(opened);
        }
        spots[0][0] = kept;

        bool ok = true;
        param_roi pub;
        pub.camera = v.cameraIndex;
        pub.detect = d;
        pub.roi = r;
        pub.funcType = type;
        switch (type) {
        case 1:
            ok = A <= value && value <= B;
            pub.lower = A; pub.upper = B; pub.third = C;
            break;
        case 4:
        case 5:
            ok = B <= value && value <= C;
            pub.lower = 0; pub.upper = B; pub.third = C;
            break;
        case 6:
            value = int(score);
            ok = value >= A;
            pub.lower = A; pub.upper = -1; pub.third = 0;
            break;
        case 7:
        case 8:
            value = contourCount;
            ok = lo16(B) <= value && value <= hi16(B);
            pub.lower = lo16(B); pub.upper = hi16(B); pub.third = C;
            break;
        case 9: {
            const int lo = p ? p->colorAreaMin : 0, hi = p ? p->colorAreaMax : 0;
            ok = lo <= value && value <= hi;
            pub.lower = -1; pub.upper = -1; pub.third = minSpot;
            break;
        }
        default: { // 0 and types outside the table
            const int limit = showAll ? B : (p ? p->alarmArea : 0);
            ok = value <= limit;
            if (templateIsNg(p, d))
                ok = !ok;
            pub.lower = A; pub.upper = B; pub.third = C;
            break;
        }
        }
        v.roiValue[d][r] = value;
        if (!ok) {
            v.roiResult[d][r] = 0;
            v.isOK = false;
        }
        pub.value = value;
        // A passing ROI carries the camera's result so far (what the network side expects).
        pub.ok = ok ? int(v.isOK) : 0;
        publish(pub);
    }
}

cv::Mat CammerRecong::clearDefects()
{
    PixelBuffer& mask = view->defectMask;
    if (mask.size() < size_t(view->pixelCount) || view->pixelCount <= 0)
        return cv::Mat();
    // Only where this engine marked defects, unless someone else may have
    // written the mask since.
    const bool whole = m_defectsWhole || mask.writeCount() != m_defectWrites;
    cv::Mat defect = frameMat(mask.data(), false);
    if (whole)
        defect.setTo(0);
    else
        for (const cv::Rect& b : m_defectBoxes)
            defect(b).setTo(0);
    m_defectBoxes.clear();
    m_defectsWhole = false;
    m_defectWrites = mask.writeCount();
    return defect;
}

void CammerRecong::markDefects(cv::Mat& defect, const cv::Rect& box, const cv::Mat& opened)
{
    if (defect.empty())
        return;
    cv::Mat db = defect(box);
    cv::bitwise_or(db, opened, db);
    for (const cv::Rect& b : m_defectBoxes)
        if ((b & box) == box)
            return;
    m_defectBoxes.push_back(box);
}

cv::Mat CammerRecong::templateGrey(int d, int k, cv::Mat& scratch) const
{
    if (k < 0 || size_t(k) >= view->templateImages[d].size() || size_t(k) >= view->templateValid[d].size())
        return cv::Mat();
    PixelBuffer& buf = view->templateImages[d][size_t(k)];
    if (buf.size() < size_t(view->frameBytes) || view->frameBytes <= 0)
        return cv::Mat();
    if (!view->isColor)
        return frameMat(buf.data(), false);
    scratch.create(view->imageHeight, view->imageWidth, CV_8UC1);
    if (gisGrayHue)
        RGBA2Gray(scratch.data, reinterpret_cast<int*>(buf.data()), view->imageWidth, view->imageHeight);
    else
        RGBA2Hue(scratch.data, reinterpret_cast<int*>(buf.data()), view->imageWidth, view->imageHeight);
    return scratch;
}

void CammerRecong::VarTrain(int d)
{
    if (!view || !roiStore || d < 0 || d >= kDetections)
        return;
    // What a worker judged before this training is stale: judge it again.
    takePrepared(-1);
    CameraViewState& v = *view;
    for (int r = 0; r < kRois; ++r) {
        if (grayMatchers[d][r].IsValid())
            grayMatchers[d][r].Clear();
        if (surfMatchers[d][r].IsValid())
            surfMatchers[d][r].Clear();
        v.roiTrainStatus[d][r] = TrainStatus::Empty;
    }
    if (v.imageWidth <= 0 || v.imageHeight <= 0)
        return;
    // Ignored pixels: the ignore points (any nonzero byte) and the type-2 areas.
    // A type-2 area adds its shape and never clears ignore points around it.
    cv::Mat ignored(v.imageHeight, v.imageWidth, CV_8UC1, cv::Scalar(0));
    if (v.ignoreMasks[d].size() >= size_t(v.pixelCount) && v.pixelCount > 0)
        ignored = frameMat(v.ignoreMasks[d].data(), false) != 0;
    const int n = std::clamp(roiStore->roiCount[d], 0, int(kRois));
    for (int r = 0; r < n; ++r) {
        if (roiStore->funcType[d * kRois + r] != 2 || v.liveMasks[d][r].empty())
            continue;
        cv::Rect box;
        cv::Mat boxMask;
        if (roiBox(roiStore, d, r, v.liveMasks[d][r], &box, &boxMask)) {
            cv::Mat ib = ignored(box);
            cv::bitwise_or(ib, boxMask, ib);
        }
    }
    cv::compare(ignored, 0, detectMasks[d], cv::CMP_EQ);

    cv::Mat scratch;
    for (int r = 0; r < n; ++r) {
        const int i = d * kRois + r;
        const int type = roiStore->funcType[i];
        if (type != 0 && type != 6)
            continue;
        cv::Rect box;
        cv::Mat boxMask;
        if (v.liveMasks[d][r].empty() || !roiBox(roiStore, d, r, v.liveMasks[d][r], &box, &boxMask)) {
            v.roiTrainStatus[d][r] = TrainStatus::BadInput;
            qWarning("engine: camera %d detection %d ROI %d not trained: its box or mask lies outside the frame",
                     v.cameraIndex + 1, d + 1, r + 1);
            continue;
        }
        cv::Mat trainMask;
        cv::bitwise_and(detectMasks[d](box), boxMask, trainMask);
        if (type == 6)
            surfMatchers[d][r].Create(box.width, box.height, trainMask.clone());
        else
            grayMatchers[d][r].Create(box.width, box.height, trainMask, 0);
        const int A = roiStore->paramA[i];
        int count = 0;
        for (int k = 0; k < gTempNum && count < v.templateCount[d]; ++k) {
            if (size_t(k) >= v.templateValid[d].size() || !v.templateValid[d][size_t(k)])
                continue;
            const cv::Mat g = templateGrey(d, k, scratch);
            if (g.empty())
                continue;
            ++count;
            templateNorms[d] = cv::norm(g, cv::NORM_L2);
            if (type == 6)
                surfMatchers[d][r].AddTemp(g(box).clone(), 1, 50, A);
            else
                grayMatchers[d][r].AddTemp(g(box));
        }
        TrainStatus st;
        if (type == 6) {
            surfMatchers[d][r].Train(0, 0, 0, 0);
            st = surfMatchers[d][r].Status();
        } else {
            grayMatchers[d][r].Train(A, gpWPara ? gpWPara->amplify : 0, 100, 150);
            st = grayMatchers[d][r].Status();
        }
        v.roiTrainStatus[d][r] = st;
        if (st != TrainStatus::Trained)
            qWarning("engine: camera %d detection %d ROI %d (type %d) not trained: %s", v.cameraIndex + 1, d + 1,
                     r + 1, type, trainStatusText(st));
    }
}

void CammerRecong::CreateShape(int d)
{
    if (!view || !roiStore || d < 0 || d >= kDetections || !gpWPara)
        return;
    // What a worker judged before this training is stale: judge it again.
    takePrepared(-1);
    CameraViewState& v = *view;
    const WizardPara& p = *gpWPara;
    if (p.motionCorrect == -1 || v.isColor)
        return;
    const int W = v.imageWidth, H = v.imageHeight;
    // Box and mask both come from the last type-3 ROI, so they always fit each other.
    cv::Rect box;
    cv::Mat mask;
    int area = -1; // the type-3 ROI used, -1 the default box
    const int n = std::clamp(roiStore->roiCount[d], 0, int(kRois));
    for (int r = n - 1; r >= 0; --r) {
        if (roiStore->funcType[d * kRois + r] != 3)
            continue;
        if (!roiBox(roiStore, d, r, v.liveMasks[d][r], &box, &mask) || mask.empty())
            box = cv::Rect();
        else
            area = r;
        break;
    }
    if (box.width < 1 || box.height < 1) {
        box = cv::Rect(W / 4, H / 4, W / 2, H / 2);
        mask = cv::Mat(H / 2, W / 2, CV_8UC1, cv::Scalar(255));
    }
    shapeCenterX[d] = box.x + box.width / 2;
    shapeCenterY[d] = box.y + box.height / 2;

    cv::Mat scratch;
    const cv::Mat t0 = (!v.templateValid[d].empty() && v.templateValid[d][0]) ? templateGrey(d, 0, scratch) : cv::Mat();
    const int m = p.offsetValue;
    const cv::Rect frame(0, 0, W, H);
    const cv::Rect grown(box.x - m, box.y - m, box.width + 2 * m, box.height + 2 * m);
    searchRects[d] = grown & frame;
    if (searchRects[d].area() <= 0)
        searchRects[d] = cv::Rect();
    if (t0.empty()) {
        shapeFinders[d].Clear();
        v.shapeTrainStatus[d] = TrainStatus::NoTemplate;
        positioningNotTrained(d, area);
        return;
    }
    int pp, q;
    if (m >= 8001 && m <= 8254) {
        pp = m - 8000;
        q = p.zoomLayers;
    } else if (m >= 8255) {
        pp = 30;
        q = p.zoomLayers;
    } else {
        pp = 255;
        q = p.zoomLayers == 0 ? 10 : p.zoomLayers;
    }
    shapeFinders[d].CreateShape(t0(box), 0.0, 0, p.rotateAngle, shapeCenterX[d], shapeCenterY[d], false, pp,
                                mask.clone(), p.matchAccuracy, q);
    v.shapeTrainStatus[d] = shapeFinders[d].Status();
    if (!shapeFinders[d].IsValid())
        positioningNotTrained(d, area);
}

void CammerRecong::positioningNotTrained(int d, int area)
{
    CameraViewState& v = *view;
    // Until a template is sampled, slot 0 holds the plain stand-in, which
    // nothing can be positioned on: the usual state of a new set-up.
    if (!QFile::exists(ViewImages(v).templatePath(d, 0))) {
        qInfo("engine: camera %d detection %d: positioning waits for a sampled template", v.cameraIndex + 1, d + 1);
        return;
    }
    // The operator's remedy is a template with something to hold on to.
    const QString where = area >= 0 ? QStringLiteral("positioning ROI %1").arg(area + 1)
                                    : QStringLiteral("positioning area (the centre half; no positioning ROI drawn)");
    qWarning("engine: camera %d detection %d %s not trained: %s; resample the templates or draw a positioning ROI "
             "over a textured part",
             v.cameraIndex + 1, d + 1, qPrintable(where), trainStatusText(v.shapeTrainStatus[d]));
}

void CammerRecong::ShapeMatch()
{
    if (!view)
        return;
    const int d = std::clamp(gpWin ? gpWin->curDetect : 0, 0, kDetections - 1);
    if (preparedFor(d))
        return; // positioned ahead already
    shapeMatch(d);
}

void CammerRecong::shapeMatch(int d)
{
    CameraViewState& v = *view;
    const size_t bytes = size_t(std::max(0, v.frameBytes));
    const PixelBuffer& from = m_alignedIsGrab ? v.frameBuffer : v.alignedFrame;
    const unsigned char* alignedSrc = from.data();
    const size_t alignedSize = from.size();
    // Nothing moves the frame: the work frame holds its pixels, uncopied.
    auto copyThrough = [&] {
        if (!alignedSrc || alignedSize < bytes || v.workFrame.size() < bytes || !bytes)
            return;
        if (v.workFrame.size() == alignedSize)
            v.workFrame.share(from);
        else
            std::memcpy(v.workFrame.data(), alignedSrc, bytes);
    };
    if (!gpWPara || gpWPara->motionCorrect == -1 || !shapeFinders[d].IsValid() || v.isColor ||
        searchRects[d].area() <= 0) {
        copyThrough();
        return;
    }
    if (!alignedSrc || alignedSize < bytes)
        return;
    const cv::Mat aligned = frameMat(alignedSrc, false);
    // Moving or turning writes every pixel of the work frame.
    cv::Mat work = frameMat(v.workFrame.overwrite(), false);
    if (aligned.empty() || work.empty())
        return;
    cv::Mat search = aligned(searchRects[d]);
    QElapsedTimer timer;
    timer.start();
    int x = 0, y = 0;
    double score = 0, angle = 0;
    if (!shapeFinders[d].Find(search, 0, &x, &y, &score, &angle)) {
        qInfo().noquote() << "NG运行时间" << timer.elapsed();
        copyThrough();
        return;
    }
    const int dx = x - searchRects[d].x, dy = y - searchRects[d].y;
    if (gpWPara->rotateAngle >= 1 && gpWPara->rotateAngle <= 180) {
        // The turned image comes back in a new matrix: copy it into the view's buffer.
        cv::Mat turned;
        TransformImage(aligned, turned, cv::Point(dx, dy), cv::Point(shapeCenterX[d], shapeCenterY[d]), angle);
        if (turned.size() == work.size() && turned.type() == work.type())
            turned.copyTo(work);
        else
            copyThrough();
    } else
        MoveImage(aligned, work, dx, dy);
    qInfo().noquote() << "OK运行时间" << timer.elapsed() << "x: " << dx << "y: " << dy << "a: " << angle
                      << "s:" << score;
}

void CammerRecong::RunTest(int d, int r)
{
    if (!view || d < 0 || d >= kDetections || r < 0 || r >= kRois)
        return;
    CameraViewState& v = *view;
    CammerSingleton* store = v.editStore ? v.editStore : roiStore;
    if (!store)
        return;
    // The preview measures the template the editor shows, never the live
    // frame: a colour template gets its own grey image (only the box is
    // converted, below).
    cv::Mat grey, colour;
    const int t = v.curTemplate;
    PixelBuffer* tb = (t >= 0 && size_t(t) < v.templateImages[d].size()) ? &v.templateImages[d][size_t(t)] : nullptr;
    const bool haveTemplate = tb && tb->size() >= size_t(v.frameBytes) && v.frameBytes > 0;
    if (haveTemplate && v.isColor) {
        colour = frameMat(tb->data(), true);
        grey.create(v.imageHeight, v.imageWidth, CV_8UC1);
    } else if (haveTemplate) {
        grey = frameMat(tb->data(), false);
    }
    cv::Mat defect = clearDefects();
    v.roiValue[d][r] = 0;
    v.spotRects[d][r][0][0] = 0;
    if (r >= store->roiCount[d])
        return;
    const int i = d * kRois + r;
    const int type = store->funcType[i];
    if (type == 0 || type == 2 || type == 3 || type == 6 || type == 10) {
        v.refreshView();
        return;
    }
    const cv::Mat& editMask = v.editMasks[d][r];
    cv::Rect box;
    cv::Mat boxMask;
    if (grey.empty() || editMask.empty() || detectMasks[d].empty() || !roiBox(store, d, r, editMask, &box, &boxMask))
        return;
    if (v.isColor)
        RGBA2GrayHueRect(grey.data, reinterpret_cast<const int*>(tb->data()), v.imageWidth, v.imageHeight, box,
                         gisGrayHue != 0);
    const int A = store->paramA[i], B = store->paramB[i], C = store->paramC[i];
    cv::Mat roiMask, thresh;
    cv::bitwise_and(detectMasks[d](box), boxMask, roiMask);
    rangeThreshold(type, A, B, C, grey(box), colour.empty() ? cv::Mat() : colour(box), roiMask, thresh);
    int k = std::max(1, gpWPara ? gpWPara->minSpot : 1);
    if (type == 7 || type == 8) {
        k = std::max(1, 2 * C + 1);
        // The same cut-off as the judgement, so the preview shows what Run will decide.
        if (spotKernelTooLarge(box, k, 2))
            thresh.setTo(0);
    }
    cv::Mat opened;
    openImage(thresh, opened, k);
    markDefects(defect, box, opened);
    std::vector<std::vector<cv::Point>> contours;
    if (cv::countNonZero(opened) > 0)
        cv::findContours(opened, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    v.roiValue[d][r] = (type == 7 || type == 8) ? int(contours.size()) : cv::countNonZero(opened);
    v.testShown = true;
    v.refreshView();
}

void CammerRecong::CreateHomoShape(int d)
{
    if (!view || !roiStore || d < 0 || d >= kDetections || !gpWPara)
        return;
    takePrepared(-1); // as in VarTrain
    CameraViewState& v = *view;
    if (gpWPara->angleCorrect == 0 || v.isColor)
        return;
    cv::Mat scratch;
    const cv::Mat t0 = (!v.templateValid[d].empty() && v.templateValid[d][0]) ? templateGrey(d, 0, scratch) : cv::Mat();
    const int W = v.imageWidth, H = v.imageHeight;
    cv::Mat mask(H, W, CV_8UC1, cv::Scalar(0));
    bool haveLast = false;
    const int n = std::clamp(roiStore->roiCount[d], 0, int(kRois));
    for (int r = 0; r < n; ++r) {
        if (roiStore->funcType[d * kRois + r] != 10)
            continue;
        cv::Rect box;
        cv::Mat boxMask;
        haveLast = roiBox(roiStore, d, r, v.liveMasks[d][r], &box, &boxMask) && !boxMask.empty();
        if (haveLast)
            boxMask.copyTo(mask(box));
    }
    if (!haveLast)
        mask(cv::Rect(W / 4, H / 4, (3 * W) / 4, (3 * H) / 4) & cv::Rect(0, 0, W, H)).setTo(255);
    if (t0.empty()) {
        homoTrans[d] = ImgHomoTrans();
        qWarning("engine: camera %d detection %d alignment not trained: no template image", v.cameraIndex + 1, d + 1);
        return;
    }
    if (!homoTrans[d].setTemplate(t0, mask, 300))
        qWarning("engine: camera %d detection %d alignment template has only %d features", v.cameraIndex + 1, d + 1,
                 homoTrans[d].templateKeypoints());
}

bool CammerRecong::HomoTransShape(int d)
{
    if (!view || d < 0 || d >= kDetections)
        return true;
    if (!m_onWorker && preparedFor(d))
        return true; // aligned ahead already
    if (!m_onWorker)
        takePrepared(-1);
    CameraViewState& v = *view;
    const size_t bytes = size_t(std::max(0, v.frameBytes));
    if (!bytes || v.frameBuffer.size() < bytes)
        return true;
    // Unaligned, the grabbed frame goes on as it is: positioning reads it.
    m_alignedIsGrab = true;
    if (!gpWPara || gpWPara->angleCorrect == 0 || v.isColor || v.alignedFrame.size() < bytes)
        return true;
    const cv::Mat src = frameMat(std::as_const(v.frameBuffer).data(), false);
    // The warp writes every pixel of the aligned frame, or none (and the
    // aligned frame is then not read).
    cv::Mat dst = frameMat(v.alignedFrame.overwrite(), false);
    if (homoTrans[d].transImageHomo(src, dst, 0.4f)) {
        if (dst.data != std::as_const(v.alignedFrame).data()) // the warp made its own image
            dst.copyTo(frameMat(v.alignedFrame.data(), false));
        m_alignedIsGrab = false;
    }
    return true;
}

#include "inspection_engine/enginerig.h"
#include "inspection/imghomotrans.h"
#include "inspection/parallelblur.h"
#include "inspection/parallelpool.h"
#include "netservices/zev_netmn.h"
#include "plugins/simcamera/simscene.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

class TstEngine : public QObject
{
    Q_OBJECT
private slots:
    void typesJudgeTheirRangesAndErrors();
    void templateIsNgByPairInTwoMouldModes();
    void colourSpotsReadRedFromByteTwo();
    void trainingSlotsSearchRectanglesAndPreview();
    void positioningRestoresMovedAndTurnedPart();
    void alignmentUndoesWarpAndPassesFeatureless();
    void alignedMovedMouldJudgedAsUnmoved();
    void blurSideBySideIsTheLibrarysBlur();
    void loopsRunOnTheStationsWorkers();
    void camerasJudgedSideBySideAsOneByOne();
    void colourGreyFollowsTheFrameAndThePreviewTheTemplate();
    void frameJudgedWhereItWasGrabbed();
};

namespace {

param_roi published(int c, int d, int r, bool* found = nullptr)
{
    param_roi p;
    const bool f = ZEV_NETMN::instance()->roi(c, d, r, &p);
    if (found)
        *found = f;
    return p;
}

// A textured plate with a few dark blobs: enough structure for positioning and alignment.
cv::Mat texturedScene(int w, int h, unsigned seed)
{
    cv::Mat img(h, w, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(img, cv::RNG::UNIFORM, 60, 200);
    cv::GaussianBlur(img, img, cv::Size(0, 0), 3);
    cv::normalize(img, img, 30, 230, cv::NORM_MINMAX);
    for (int i = 0; i < 40; ++i)
        cv::circle(img, cv::Point(rng.uniform(20, w - 20), rng.uniform(20, h - 20)), rng.uniform(4, 14),
                   cv::Scalar(rng.uniform(0, 255)), cv::FILLED, cv::LINE_AA);
    return img;
}

} // namespace

void TstEngine::typesJudgeTheirRangesAndErrors()
{
    EngineRig rig(400, 300);
    cv::Mat f(300, 400, CV_8UC1, cv::Scalar(100));
    const int d = 1;
    // Type 1 with the range packed as byte0 200, byte1 50: only 40 is outside.
    f(cv::Rect(0, 0, 10, 20)).setTo(40);
    f(cv::Rect(10, 0, 10, 20)).setTo(120);
    const int spot = rig.addRect(d, 1, {0, 0, 20, 20}, 1, 100000, 200 | (50 << 8));
    // Type 4 with A = 0x1FF: only the low byte counts, so every grey is dark.
    const int dark = rig.addRect(d, 4, {30, 0, 20, 20}, 0x1FF, 0, 400);
    // Type 7 in a 40 x 23 box with C = 10 (k = 21 >= E - 2 = 20): no spot can be counted.
    f(cv::Rect(60, 2, 36, 19)).setTo(250);
    const int bright0 = rig.addRect(d, 7, {58, 0, 40, 23}, 200, 0, 10);
    const int bright1 = rig.addRect(d, 7, {58, 0, 40, 23}, 200, 1 | (5 << 16), 10);
    // 150 separate spots: 99 rectangles kept, every pixel counted.
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 15; ++x)
            f(cv::Rect(110 + x * 8, 10 + y * 8, 2, 2)).setTo(10);
    const int many = rig.addRect(d, 1, {105, 5, 130, 90}, 0, 100000, 20 << 8);
    // An untrained similarity ROI scores 0 and fails any A > 0.
    const int similar = rig.addRect(d, 6, {250, 10, 40, 40}, 50);
    // An untrained defect ROI measures nothing; the template-is-NG setting inverts it.
    const int defect = rig.addRect(d, 0, {300, 10, 40, 40}, 45, 10, 1);
    // An ROI without a mask: an error record, camera NG, its own result untouched.
    const int noMask = rig.addRect(d, 5, {0, 100, 20, 20}, 0, 0, 10);
    rig.view.liveMasks[d][noMask].release();
    // A ring reaching past the bottom-right corner: judged on its part inside.
    f(cv::Rect(340, 240, 60, 60)).setTo(230);
    const int ring = rig.addRing(d, 5, {390, 290}, 30, 10, 200, 0, 100000);
    // Dark spots counted with C = 5, an opening of 2C + 1: a spot 2C wide goes, one 2C + 1 wide stays.
    f(cv::Rect(110, 160, 10, 10)).setTo(10);
    f(cv::Rect(140, 160, 11, 11)).setTo(10);
    const int darkSpots = rig.addRect(d, 8, {100, 150, 80, 40}, 50, 1 | (1 << 16), 5);
    const int ignore = rig.addRect(d, 2, {0, 200, 10, 10});
    rig.para.tempIsNG[d] = 1;
    rig.setFrame(f);
    ZEV_NETMN::instance()->start_PeriodRecord();
    rig.engine().VarTrain(d);
    rig.engine().Run(d);

    const CameraViewState& v = rig.view;
    auto judged = [&](int r) { return qMakePair(v.roiValue[d][r], int(v.roiResult[d][r])); }; // value, result
    QCOMPARE(judged(spot), qMakePair(200, 1));
    QCOMPARE(judged(dark), qMakePair(400, 1)); // the upper limit itself passes
    QCOMPARE(judged(darkSpots), qMakePair(1, 1));
    QCOMPARE(judged(bright0), qMakePair(0, 1));
    QCOMPARE(judged(bright1).second, 0);
    QCOMPARE(v.spotRects[d][many][0][0], 99);
    QCOMPARE(v.roiValue[d][many], 600);
    const cv::Vec4i first = v.spotRects[d][many][1];
    QCOMPARE(first[2] - first[0], 2); // x2, y2 one past the spot, frame pixels
    QVERIFY(first[0] >= 110 && first[1] >= 10);
    QCOMPARE(judged(similar), qMakePair(0, 0));
    QCOMPARE(published(0, d, similar).upper, -1);
    QCOMPARE(judged(defect).second, 0); // value 0 <= 10, inverted
    QCOMPARE(judged(noMask).second, 1);
    QVERIFY(rig.win.records.contains("REG RUN ERROR = 0, 1, -1 | info"));
    // Every ring pixel inside the frame is bright: the clipped mask counts exactly those.
    cv::Mat ringMask(300, 400, CV_8UC1, cv::Scalar(0));
    cv::circle(ringMask, {390, 290}, 30, cv::Scalar(255), cv::FILLED);
    cv::circle(ringMask, {390, 290}, 10, cv::Scalar(0), cv::FILLED);
    QCOMPARE(v.roiValue[d][ring], cv::countNonZero(ringMask));
    QVERIFY(!v.isOK);
    bool found = true;
    published(0, d, ignore, &found);
    QVERIFY(!found); // areas are not published
    QCOMPARE(published(0, d, dark).value, 400);
    QCOMPARE(ZEV_NETMN::instance()->roiCount(), rig.store->roiCount[d] - 2);
    // The cycle record keeps what the cycle judged, the pictures and the group.
    ZEV_NETMN::instance()->add_PeriodRecord_Picture(0, d, false, "ng.jpg");
    ZEV_NETMN::instance()->finish_PeriodRecord();
    const ZEV_NETMN::PeriodRecord rec = ZEV_NETMN::instance()->lastRecord();
    QCOMPARE(rec.rois.size(), rig.store->roiCount[d] - 2);
    QCOMPARE(rec.pictures.size(), 1);
    QCOMPARE(rec.pictures[0].path, QString("ng.jpg"));
    QCOMPARE(rec.projectName, rig.para.getCurGroupName());

    // An ignore point inside an ROI removes that pixel from the count; an
    // ignore area adds its shape, and the point in its box but outside the
    // ring stays ignored.
    rig.view.ignoreMasks[d].allocate(size_t(rig.view.pixelCount));
    rig.view.ignoreMasks[d].data()[5 * 400 + 15] = 1;
    rig.addRing(d, 2, {30, 20}, 16, 0);
    rig.engine().VarTrain(d);
    rig.engine().Run(d);
    cv::Mat counted(300, 400, CV_8UC1, cv::Scalar(0));
    counted(cv::Rect(10, 0, 10, 20)).setTo(255);
    cv::circle(counted, {30, 20}, 16, cv::Scalar(0), cv::FILLED);
    counted.at<uchar>(5, 15) = 0;
    QCOMPARE(rig.view.roiValue[d][spot], cv::countNonZero(counted));

    // A detection without ROIs is OK and publishes nothing.
    ZEV_NETMN::instance()->start_PeriodRecord();
    rig.engine().Run(3);
    QVERIFY(rig.view.isOK);
    QCOMPARE(ZEV_NETMN::instance()->roiCount(), 0);
}

// Modes 1 and 2: the right mould's detections 2 and 3 take the
// template-is-NG setting of their left partners 0 and 1.
void TstEngine::templateIsNgByPairInTwoMouldModes()
{
    EngineRig rig(400, 300);
    gDNum = 4;
    for (int d : {2, 3})
        rig.addRect(d, 0, {300, 10, 40, 40}, 45, 10, 1); // untrained: measures 0, OK unless inverted
    rig.setFrame(cv::Mat(300, 400, CV_8UC1, cv::Scalar(100)));
    ZEV_NETMN::instance()->start_PeriodRecord();
    for (int mode : {1, 2}) {
        rig.para.systemMode = mode;
        for (int ngPair : {0, 1}) {
            rig.para.tempIsNG[ngPair] = 1;
            rig.para.tempIsNG[1 - ngPair] = 0;
            QList<int> results;
            for (int d : {2, 3}) {
                rig.engine().VarTrain(d);
                rig.engine().Run(d);
                results << rig.view.roiResult[d][0];
            }
            QCOMPARE(results, ngPair == 0 ? (QList<int>{0, 1}) : (QList<int>{1, 0}));
        }
    }
}

void TstEngine::colourSpotsReadRedFromByteTwo()
{
    for (int hue = 0; hue < 2; ++hue) {
        EngineRig rig(64, 48, true);
        gisGrayHue = hue;
        cv::Mat f(48, 64, CV_8UC4, cv::Scalar(10, 20, 30, 255)); // B, G, R, x
        f(cv::Rect(0, 0, 8, 8)).setTo(cv::Scalar(10, 20, 200, 255));
        const int red = rig.addRect(0, 9, {0, 0, 16, 16}, 150 | (255 << 16), 0 | (50 << 16), 0 | (50 << 16));
        const int blue = rig.addRect(0, 9, {0, 0, 16, 16}, 0 | (50 << 16), 0 | (50 << 16), 150 | (255 << 16));
        rig.para.colorAreaMin = 64;
        rig.para.colorAreaMax = 64;
        rig.setFrame(f);
        rig.engine().VarTrain(0);
        rig.engine().Run(0);
        QCOMPARE(QList<int>({rig.view.roiValue[0][red], rig.view.roiResult[0][red], rig.view.roiValue[0][blue],
                             rig.view.roiResult[0][blue]}),
                 QList<int>({64, 1, 0, 0}));
    }
}

void TstEngine::trainingSlotsSearchRectanglesAndPreview()
{
    EngineRig rig(1280, 960);
    rig.para.motionCorrect = 0;
    const cv::Mat scene = texturedScene(1280, 960, 3);
    // Valid slots 0, 2, 5 and 7 with templateCount 3: slots 0, 2 and 5 are trained.
    for (int k : {0, 2, 5, 7})
        rig.setTemplate(0, k, scene);
    rig.view.templateCount[0] = 3;
    const int defect = rig.addRect(0, 0, {100, 100, 150, 150}, 45, 10, 1);
    rig.engine().VarTrain(0);
    QVERIFY(rig.engine().grayMatchers[0][defect].IsValid());
    QCOMPARE(rig.engine().grayMatchers[0][defect].TemplateCount(), 3);
    QVERIFY(rig.engine().templateNorms[0] > 0);

    // No type-3 ROI: the default box in the middle, search grown by the margin.
    rig.engine().CreateShape(0);
    QCOMPARE(rig.engine().shapeCenterX[0], 640);
    QCOMPARE(rig.engine().shapeCenterY[0], 480);
    QCOMPARE(rig.engine().searchRects[0], cv::Rect(300, 220, 680, 520));
    QVERIFY(rig.engine().shapeFinders[0].IsValid());
    // A type-3 box at (10, 10) of 100 x 50 with margin 20 is clipped at the frame.
    rig.addRect(0, 3, {10, 10, 100, 50});
    rig.engine().CreateShape(0);
    QCOMPARE(rig.engine().searchRects[0], cv::Rect(0, 0, 130, 80));
    QCOMPARE(rig.engine().shapeCenterX[0], 60);
    rig.para.offsetValue = 8000;
    rig.engine().CreateShape(0);
    QCOMPARE(rig.engine().searchRects[0], cv::Rect(0, 0, 1280, 960));
    rig.para.motionCorrect = -1; // off: positioning copies the aligned frame
    rig.setFrame(scene);
    std::memset(rig.view.workFrame.data(), 0, size_t(rig.view.frameBytes));
    rig.engine().ShapeMatch();
    QCOMPARE(cv::norm(rig.work(), scene, cv::NORM_INF), 0.0);

    // Brightness matching without a trained target leaves the frame alone.
    EngineRig plain(64, 48);
    plain.para.matchBrightness = 1;
    cv::Mat f(48, 64, CV_8UC1, cv::Scalar(240));
    const int bright = plain.addRect(0, 5, {0, 0, 10, 10}, 200, 0, 1000);
    // A type-7 box of 40 x 23 holding one 36 x 19 blob, kernel 19 = E - 3:
    // the judgement counts it, and so must the preview.
    f(cv::Rect(20, 20, 40, 23)).setTo(0);
    f(cv::Rect(22, 22, 36, 19)).setTo(250);
    const int spots = plain.addRect(0, 7, {20, 20, 40, 23}, 200, 1 | (5 << 16), 9);
    plain.setFrame(f);
    plain.engine().VarTrain(0);
    plain.engine().Run(0);
    QCOMPARE(plain.view.roiValue[0][bright], 100);
    QCOMPARE(plain.view.roiValue[0][spots], 1);
    plain.setTemplate(0, 0, f);
    plain.view.curTemplate = 0;
    plain.engine().RunTest(0, spots);
    QCOMPARE(plain.view.roiValue[0][spots], 1);
    QVERIFY(plain.view.testShown);
}

void TstEngine::positioningRestoresMovedAndTurnedPart()
{
    EngineRig rig(640, 480);
    rig.para.motionCorrect = 0;
    rig.para.rotateAngle = 10;
    rig.para.offsetValue = 40;
    const cv::Mat scene = texturedScene(640, 480, 7);
    rig.setTemplate(0, 0, scene);
    const cv::Rect box(220, 160, 200, 160);
    rig.addRect(0, 3, box);
    rig.engine().CreateShape(0);
    QVERIFY(rig.engine().shapeFinders[0].IsValid());
    // The part turned by 3 degrees about the box centre and moved by (+7, -5).
    cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(320, 240), 3.0, 1.0);
    m.at<double>(0, 2) += 7;
    m.at<double>(1, 2) -= 5;
    cv::Mat moved;
    cv::warpAffine(scene, moved, m, scene.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    rig.setFrame(moved);
    rig.win.curDetect = 0;
    rig.engine().ShapeMatch();
    // The whole box, then its corner: a turn left uncorrected would move the corner by ~6 px.
    for (const cv::Rect& area : {box, cv::Rect(box.x, box.y, 50, 50)}) {
        cv::Mat a, b;
        scene(area).convertTo(a, CV_32F);
        rig.work()(area).convertTo(b, CV_32F);
        const cv::Point2d off = cv::phaseCorrelate(a, b);
        QVERIFY2(std::hypot(off.x, off.y) <= 1.0,
                 qPrintable(QString("%1 px wide: left over %2, %3").arg(area.width).arg(off.x).arg(off.y)));
    }
}

void TstEngine::alignmentUndoesWarpAndPassesFeatureless()
{
    EngineRig rig(640, 480);
    rig.para.angleCorrect = 1;
    const cv::Mat scene = texturedScene(640, 480, 11);
    rig.setTemplate(0, 0, scene);
    rig.engine().CreateHomoShape(0);
    QCOMPARE(rig.engine().homoTrans[0].scale(), 1.0f);
    const std::vector<cv::Point2f> from{{0, 0}, {639, 0}, {639, 479}, {0, 479}};
    const std::vector<cv::Point2f> to{{12, 6}, {630, 0}, {639, 470}, {5, 479}};
    cv::Mat warped;
    cv::warpPerspective(scene, warped, cv::getPerspectiveTransform(from, to), scene.size());
    rig.setFrame(warped);
    QVERIFY(rig.engine().HomoTransShape(0));
    const cv::Rect inner(160, 120, 320, 240);
    const cv::Mat aligned = rig.mat(rig.view.alignedFrame.data());
    const double before = cv::norm(warped(inner), scene(inner), cv::NORM_L1) / inner.area();
    const double after = cv::norm(aligned(inner), scene(inner), cv::NORM_L1) / inner.area();
    QVERIFY2(after < 3.0 && after < before / 4, qPrintable(QString("%1 -> %2").arg(before).arg(after)));
    // Its features come from the default region only.
    const std::vector<cv::KeyPoint>& found = rig.engine().homoTrans[0].features[0].keypoints;
    QVERIFY(found.size() > 20);
    for (const cv::KeyPoint& k : found)
        QVERIFY2(k.pt.x >= 159.5f && k.pt.y >= 119.5f, qPrintable(QString("%1, %2").arg(k.pt.x).arg(k.pt.y)));

    // A frame without features goes on to positioning as it came.
    const cv::Mat flat(480, 640, CV_8UC1, cv::Scalar(90));
    rig.setFrame(flat);
    std::memset(rig.view.workFrame.data(), 0, size_t(rig.view.frameBytes));
    rig.engine().HomoTransShape(0);
    rig.engine().ShapeMatch();
    QCOMPARE(cv::norm(rig.work(), flat, cv::NORM_INF), 0.0);

    // A 1280 x 1024 template works at about half a megapixel.
    EngineRig big(1280, 1024);
    big.para.angleCorrect = 1;
    big.setTemplate(0, 0, texturedScene(1280, 1024, 5));
    big.engine().CreateHomoShape(0);
    QVERIFY(std::abs(big.engine().homoTrans[0].scale() - 0.61763f) < 1e-4f);
}

// The mould moved by a few pixels and turned by up to 2 degrees, aligned
// onto the template, is judged as the unmoved mould is in every ROI the
// moved camera still sees whole, and each such box shows the template's
// pixels within a pixel (the corners, outside the alignment region, are the
// least sure); unaligned, the same frames are judged otherwise.
void TstEngine::alignedMovedMouldJudgedAsUnmoved()
{
    SimScene scene;
    SimScene::Options o;
    o.seed = 3;
    o.engraved = true;
    scene.configure(o, 1280, 1024);
    auto frame = [&](quint64 n, SimScene::Pose pose) {
        SimScene::Shot shot;
        shot.pose = pose;
        return scene.frame(n, shot);
    };
    EngineRig rig(1280, 1024);
    rig.para.angleCorrect = 1;
    const std::vector<Roi> rois = typicalDetection(scene.cavities(), false);
    rig.addRois(0, rois);
    const cv::Mat tmpl = frame(0, {});
    rig.setTemplate(0, 0, tmpl);
    CammerRecong& e = rig.engine();
    e.CreateHomoShape(0);
    for (int k = 1; k < gTempNum; ++k)
        rig.setTemplate(0, k, frame(quint64(k), {}));
    e.VarTrain(0);
    auto judge = [&](const cv::Mat& f) {
        rig.setFrame(f);
        e.HomoTransShape(0);
        e.ShapeMatch();
        e.Run(0);
        std::vector<int> verdicts;
        for (size_t r = 0; r < rois.size(); ++r)
            verdicts.push_back(rig.view.roiResult[0][r]);
        return verdicts;
    };
    const std::vector<int> unmoved = judge(frame(5, {}));
    int unalignedDiffers = 0;
    for (const SimScene::Pose& pose : {SimScene::Pose{{3, -2}, 1.0}, SimScene::Pose{{-5, 4}, -2.0}, SimScene::Pose{{6, 2}, 2.0}}) {
        const QString what = QString("moved %1, %2 turned %3").arg(pose.shift.x).arg(pose.shift.y).arg(pose.angle);
        const cv::Mat moved = frame(5, pose);
        const std::vector<int> aligned = judge(moved);
        const cv::Mat alignedFrame = rig.mat(rig.view.alignedFrame.data());
        int seen = 0;
        for (size_t r = 0; r < rois.size(); ++r) {
            const cv::Rect& box = rois[r].box;
            bool whole = true;
            for (const cv::Point2d c : {cv::Point2d(box.tl()), cv::Point2d(box.br()), cv::Point2d(box.x, box.br().y),
                                        cv::Point2d(box.br().x, box.y)}) {
                const cv::Point2d m = scene.movePoint(c, pose);
                whole = whole && m.x >= 0 && m.y >= 0 && m.x < 1280 && m.y < 1024;
            }
            if (!whole)
                continue; // partly out of the camera's sight: the warp fills the rest with black
            ++seen;
            QVERIFY2(aligned[r] == unmoved[r], qPrintable(QString("%1: ROI %2 judged %3").arg(what).arg(r).arg(aligned[r])));
            cv::Mat a, b;
            tmpl(box).convertTo(a, CV_32F);
            alignedFrame(box).convertTo(b, CV_32F);
            const cv::Point2d off = cv::phaseCorrelate(a, b);
            QVERIFY2(std::hypot(off.x, off.y) <= 1.0,
                     qPrintable(QString("%1: ROI %2 off by %3, %4").arg(what).arg(r).arg(off.x).arg(off.y)));
        }
        QVERIFY2(seen >= int(rois.size()) - 2, qPrintable(what));
        rig.para.angleCorrect = 0;
        unalignedDiffers += judge(moved) != unmoved;
        rig.para.angleCorrect = 1;
    }
    QCOMPARE(unalignedDiffers, 3);
}

// Every blur in the station, the alignment's SIFT pyramid included, goes
// through the strip-wise blur: it must give the library's own blur of the
// whole image, bit for bit, in every case a caller may hand it, and the
// alignment's features must be those of a one-thread run.
void TstEngine::blurSideBySideIsTheLibrarysBlur()
{
    QVERIFY(parallelBlurActive());
    const LibraryBlurFn library = libraryGaussianBlur();
    const LibraryBlurFn own = &cv::GaussianBlur;
    QVERIFY(library && library != own);
    const int threadsBefore = cv::getNumThreads();
    cv::setNumThreads(8); // strips even where CI has few cores
    auto same = [](const cv::Mat& a, const cv::Mat& b) {
        if (a.size() != b.size() || a.type() != b.type())
            return false;
        for (int y = 0; y < a.rows; ++y)
            if (std::memcmp(a.ptr(y), b.ptr(y), a.cols * a.elemSize()) != 0)
                return false;
        return true;
    };
    cv::RNG rng(7);
    struct Case {
        cv::Size size;
        int type;
        cv::Size ksize;
        double sx, sy;
        int border;
    };
    const std::vector<Case> cases{
        {{1580, 1264}, CV_32FC1, {}, 3.09, 3.09, cv::BORDER_DEFAULT},
        {{790, 632}, CV_32FC1, {}, 1.226, 1.226, cv::BORDER_DEFAULT},
        {{397, 301}, CV_32FC3, {7, 5}, 0, 0, cv::BORDER_REPLICATE},
        {{1280, 1024}, CV_8UC1, {5, 5}, 1.5, 1.5, cv::BORDER_REFLECT},
        {{1280, 1024}, CV_8UC1, {}, 2.0, 0.7, cv::BORDER_CONSTANT},
        {{640, 481}, CV_8UC3, {3, 3}, 0, 0, cv::BORDER_DEFAULT},
        {{700, 500}, CV_16UC1, {25, 1}, 4.0, 0, cv::BORDER_REFLECT_101},
    };
    for (const Case& c : cases) {
        const QString what = QString("%1x%2 type %3 border %4").arg(c.size.width).arg(c.size.height).arg(c.type).arg(c.border);
        cv::Mat img(c.size, c.type);
        rng.fill(img, cv::RNG::UNIFORM, 0, 255);
        cv::GaussianBlur(img, img, cv::Size(9, 9), 0); // some structure under the noise
        cv::Mat want, got;
        library(img, want, c.ksize, c.sx, c.sy, c.border);
        cv::GaussianBlur(img, got, c.ksize, c.sx, c.sy, c.border);
        QVERIFY2(same(got, want), qPrintable(what));
        // A region of a larger image reads its neighbours beyond its edges.
        const cv::Rect inner(13, 17, c.size.width - 40, c.size.height - 50);
        library(img(inner), want, c.ksize, c.sx, c.sy, c.border);
        cv::GaussianBlur(img(inner), got, c.ksize, c.sx, c.sy, c.border);
        QVERIFY2(same(got, want), qPrintable("region of " + what));
        library(img(inner), want, c.ksize, c.sx, c.sy, c.border | cv::BORDER_ISOLATED);
        cv::GaussianBlur(img(inner), got, c.ksize, c.sx, c.sy, c.border | cv::BORDER_ISOLATED);
        QVERIFY2(same(got, want), qPrintable("isolated region of " + what));
        // In place.
        library(img, want, c.ksize, c.sx, c.sy, c.border);
        cv::Mat in = img.clone();
        cv::GaussianBlur(in, in, c.ksize, c.sx, c.sy, c.border);
        QVERIFY2(same(in, want), qPrintable("in place " + what));
    }
    // What the library refuses is refused, as an exception, not a crash.
    const cv::Mat big(1024, 1280, CV_32FC1, cv::Scalar(1));
    cv::Mat out;
    QVERIFY_EXCEPTION_THROWN(cv::GaussianBlur(big, out, cv::Size(4, 4), 0), cv::Exception);

    // The alignment's features of one frame, on eight threads and on one.
    SimScene scene;
    SimScene::Options o;
    o.seed = 3;
    scene.configure(o, 1280, 1024);
    SimScene::Shot shot;
    shot.pose = SimScene::Pose{{3, -2}, 1.0};
    const cv::Mat frame = scene.frame(1, shot);
    ImgHomoTrans h;
    h.setTemplate(scene.frame(0, {}), cv::Mat(), 0);
    cv::detail::ImageFeatures many, one;
    h.findFeature(frame, many, 0);
    cv::setNumThreads(1);
    h.findFeature(frame, one, 0);
    cv::setNumThreads(threadsBefore);
    QVERIFY(many.keypoints.size() > 50);
    QCOMPARE(many.keypoints.size(), one.keypoints.size());
    for (size_t i = 0; i < one.keypoints.size(); ++i) {
        const cv::KeyPoint &a = many.keypoints[i], &b = one.keypoints[i];
        QVERIFY2(a.pt == b.pt && a.size == b.size && a.angle == b.angle && a.response == b.response && a.octave == b.octave,
                 qPrintable(QString("keypoint %1").arg(i)));
    }
    QVERIFY(same(many.descriptors.getMat(cv::ACCESS_READ), one.descriptors.getMat(cv::ACCESS_READ)));
}

// The library's loops run on the station's workers: every task once, from
// several cameras' threads at a time, inside and outside a hot section; a
// task's exception reaches the loop's caller and the workers go on; one
// thread means the caller alone.
void TstEngine::loopsRunOnTheStationsWorkers()
{
    const int threadsBefore = cv::getNumThreads();
    cv::setNumThreads(8); // workers even where CI has few cores
    QVERIFY(parallelPoolActive());
    constexpr int kTasks = 97;
    auto loop = [](std::vector<std::atomic<int>>& runs, std::set<std::thread::id>* ids, std::mutex* idsLock) {
        cv::parallel_for_(cv::Range(0, kTasks), [&](const cv::Range& r) {
            for (int i = r.start; i < r.end; ++i)
                runs[size_t(i)].fetch_add(1);
            if (ids) {
                std::lock_guard<std::mutex> lock(*idsLock);
                ids->insert(std::this_thread::get_id());
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }, kTasks);
    };
    auto once = [](const std::vector<std::atomic<int>>& runs, int times) {
        return std::all_of(runs.begin(), runs.end(), [&](const std::atomic<int>& n) { return n.load() == times; });
    };
    {
        std::vector<std::atomic<int>> runs(kTasks);
        std::set<std::thread::id> ids;
        std::mutex idsLock;
        loop(runs, &ids, &idsLock);
        QVERIFY(once(runs, 1));
        QVERIFY2(ids.size() > 1, "one thread ran every task");
    }
    {
        // Four cameras' threads, 50 loops each, half of them in hot sections.
        std::vector<std::vector<std::atomic<int>>> runs;
        for (int c = 0; c < 4; ++c)
            runs.emplace_back(kTasks);
        std::vector<std::thread> cameras;
        for (int c = 0; c < 4; ++c)
            cameras.emplace_back([&, c] {
                for (int k = 0; k < 50; ++k) {
                    std::optional<ParallelHotSection> hot;
                    if (k % 2)
                        hot.emplace();
                    loop(runs[size_t(c)], nullptr, nullptr);
                }
            });
        for (std::thread& t : cameras)
            t.join();
        for (int c = 0; c < 4; ++c)
            QVERIFY2(once(runs[size_t(c)], 50), qPrintable(QString("camera %1").arg(c)));
    }
    std::atomic<int> ran{0};
    QVERIFY_EXCEPTION_THROWN(cv::parallel_for_(cv::Range(0, 64), [&](const cv::Range& r) {
        ran.fetch_add(r.size());
        if (r.start <= 40 && 40 < r.end)
            CV_Error(cv::Error::StsBadArg, "task 40");
    }, 64), cv::Exception);
    QCOMPARE(ran.load(), 64); // the other tasks still ran: the caller waited for them
    {
        std::vector<std::atomic<int>> runs(kTasks);
        loop(runs, nullptr, nullptr);
        QVERIFY(once(runs, 1));
    }
    {
        cv::setNumThreads(1);
        std::vector<std::atomic<int>> runs(kTasks);
        std::set<std::thread::id> ids;
        std::mutex idsLock;
        loop(runs, &ids, &idsLock);
        QVERIFY(once(runs, 1));
        QCOMPARE(ids, std::set<std::thread::id>{std::this_thread::get_id()});
    }
    cv::setNumThreads(threadsBefore);
}

// Three colour cameras judged at once on workers and then taken in camera
// order give the results, records and network results of judging them one
// by one; nothing reaches the records before a camera's turn.
void TstEngine::camerasJudgedSideBySideAsOneByOne()
{
    // Last first: the first rig's environment is the outer one, which resets
    // the process state the others still use.
    struct Rigs : std::vector<std::unique_ptr<EngineRig>> {
        ~Rigs()
        {
            while (!empty())
                pop_back();
        }
    } rigs;
    for (int c = 0; c < 3; ++c) {
        rigs.push_back(std::make_unique<EngineRig>(160, 120, true));
        EngineRig& r = *rigs.back();
        r.view.cameraIndex = c;
        cv::Mat f(120, 160, CV_8UC4);
        cv::RNG(c + 1).fill(f, cv::RNG::UNIFORM, 0, 256);
        r.setFrame(f);
        r.addRect(0, 1, {10, 10, 60, 50}, 0, 1500, 40 | (200 << 8));
        r.addRect(0, 4, {80, 20, 70, 90}, 60, 0, 100000);
        r.view.liveMasks[0][r.addRect(0, 1, {5, 70, 20, 20})].release(); // error -1: a record
        r.addRect(0, 5, {30, 60, 100, 50}, 128, 10, 2000);
        r.engine().VarTrain(0);
    }
    gisGrayHue = 0;
    RecordingState& records = rigs.back()->win;
    struct Seen {
        QList<int> values;
        QStringList records;
        QList<int> published;
    };
    auto oneCamera = [&](EngineRig& r, Seen& seen) {
        r.engine().HomoTransShape(0);
        r.engine().ShapeMatch();
        r.engine().Run(0);
        seen.records << records.records;
        seen.values << int(r.view.isOK);
        for (int k = 0; k < 4; ++k) {
            const param_roi p = published(r.view.cameraIndex, 0, k);
            seen.values << r.view.roiValue[0][k] << r.view.roiResult[0][k];
            seen.published << p.value << p.ok << p.lower;
        }
    };
    Seen oneByOne, sideBySide;
    for (auto& r : rigs)
        oneCamera(*r, oneByOne);
    QCOMPARE(records.records.size(), 3);

    records.records.clear();
    std::vector<CameraViewState*> views;
    for (auto& r : rigs) {
        r->view.recong = &r->engine();
        r->view.isOK = false;
        ZEV_NETMN::instance()->setRoi(param_roi{r->view.cameraIndex, 0, 0, 1, -7, 0, 0, 0, 0});
        views.push_back(&r->view);
    }
    CammerRecong::InspectAll(views, 0);
    QVERIFY(records.records.isEmpty());
    QCOMPARE(published(0, 0, 0).value, -7);
    for (auto& r : rigs)
        oneCamera(*r, sideBySide);
    QCOMPARE(sideBySide.values, oneByOne.values);
    QCOMPARE(sideBySide.records, oneByOne.records);
    QCOMPARE(sideBySide.published, oneByOne.published);

    // The editor's live test of a ROI the last inspection did not measure,
    // on a template that is the frame, sees what the next inspection will.
    EngineRig& r = *rigs[1];
    const int fresh = r.addRect(0, 1, {100, 5, 50, 30}, 0, 1500, 40 | (200 << 8));
    r.engine().VarTrain(0);
    r.setTemplate(0, 0, r.mat(r.view.workFrame.data()));
    r.view.curTemplate = 0;
    r.engine().RunTest(0, fresh);
    const int tested = r.view.roiValue[0][fresh];
    r.engine().Run(0);
    QVERIFY(tested > 0);
    QCOMPARE(tested, r.view.roiValue[0][fresh]);

    // Another call in between drops what was prepared: judged again.
    CammerRecong::InspectAll(views, 0);
    rigs[0]->view.roiValue[0][0] = -1;
    rigs[0]->engine().HomoTransShape(1);
    rigs[0]->engine().Run(0);
    QCOMPARE(rigs[0]->view.roiValue[0][0], oneByOne.values[1]);
}

// A colour frame is turned grey where its ROIs are measured, the last of
// them included; the editor's preview measures the template it shows, not
// the frame judged last.
void TstEngine::colourGreyFollowsTheFrameAndThePreviewTheTemplate()
{
    EngineRig rig(160, 120, true);
    const int band = 200 | (255 << 8);
    const cv::Mat dark(120, 160, CV_8UC4, cv::Scalar(20, 20, 20, 255));
    const int first = rig.addRect(0, 1, {5, 5, 30, 30}, 0, 5000, band);
    rig.addRect(0, 1, {50, 5, 30, 30}, 0, 5000, band);
    const int last = rig.addRect(0, 1, {100, 60, 40, 40}, 0, 5000, band);
    rig.setFrame(dark);
    rig.engine().VarTrain(0);
    rig.engine().Run(0);
    QCOMPARE(rig.view.roiValue[0][last], 0);
    cv::Mat lit = dark.clone();
    lit(cv::Rect(110, 70, 20, 20)).setTo(cv::Scalar(250, 250, 250, 255));
    rig.setFrame(lit);
    rig.engine().Run(0);
    QCOMPARE(rig.view.roiValue[0][last], 400);

    rig.setFrame(dark);
    rig.engine().Run(0);
    rig.setTemplate(0, 0, cv::Mat(120, 160, CV_8UC4, cv::Scalar(255, 255, 255, 255)));
    rig.view.curTemplate = 0;
    rig.engine().RunTest(0, first);
    QCOMPARE(rig.view.roiValue[0][first], 900);
}

void TstEngine::frameJudgedWhereItWasGrabbed()
{
    EngineRig r(160, 120);
    cv::Mat f(120, 160, CV_8UC1, cv::Scalar(0));
    cv::rectangle(f, cv::Rect(20, 20, 10, 10), cv::Scalar(255), cv::FILLED);
    cv::rectangle(f, cv::Rect(100, 60, 10, 10), cv::Scalar(255), cv::FILLED);
    r.setFrame(f);
    r.addRect(0, 5, {10, 10, 40, 40}, 128, 0, 100000);
    r.engine().VarTrain(0);
    auto inspect = [&] {
        r.engine().HomoTransShape(0);
        r.engine().ShapeMatch();
        r.engine().Run(0);
    };
    auto defects = [&](cv::Rect box) {
        const cv::Mat m = r.mat(const_cast<uchar*>(std::as_const(r.view.defectMask).data()));
        return cv::countNonZero(m(box));
    };
    inspect();
    const int spot = r.view.roiValue[0][0];
    QVERIFY(spot > 50);
    // Nothing moved the frame: it is judged in the grab buffer itself.
    QCOMPARE(std::as_const(r.view.workFrame).data(), std::as_const(r.view.frameBuffer).data());

    // The next grab leaves the judged frame to the result images.
    std::memset(r.view.frameBuffer.overwrite(), 9, size_t(r.view.frameBytes));
    QCOMPARE(cv::countNonZero(r.mat(const_cast<uchar*>(std::as_const(r.view.workFrame).data())) != f), 0);
    QCOMPARE(cv::countNonZero(r.mat(const_cast<uchar*>(std::as_const(r.view.frameBuffer).data())) != 9), 0);

    // Defects of a box no longer measured, or written by anyone else, are
    // gone after the next inspection, as with a whole clear.
    r.setFrame(f);
    r.store->rects[0].imageRect = QRect(90, 50, 40, 40);
    inspect();
    QCOMPARE(QList<int>({defects({10, 10, 40, 40}), defects({90, 50, 40, 40})}), QList<int>({0, spot}));
    std::memset(r.view.defectMask.data(), 1, r.view.defectMask.size());
    inspect();
    QCOMPARE(defects({0, 0, 160, 120}), spot);
    // A box around the first, judged after it: its own marks go too.
    r.addRect(0, 5, {10, 10, 130, 100}, 128, 0, 100000);
    inspect();
    QCOMPARE(defects({10, 10, 40, 40}), spot);
    r.setFrame(cv::Mat(120, 160, CV_8UC1, cv::Scalar(0)));
    inspect();
    QCOMPARE(defects({0, 0, 160, 120}), 0);
}

QTEST_GUILESS_MAIN(TstEngine)
#include "tst_engine.moc"

// What the editor's settings make of an inspection on the simulated mould:
// the defect judgement under the factory setting (global limit and filter),
// positioning that only shifts, and the alignment mask drawn as type-10
// regions.
#include "inspection_engine/enginerig.h"
#include "plugins/simcamera/simscene.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

class TstJudgement : public QObject
{
    Q_OBJECT
private slots:
    void defectJudgementUnderFactorySetting();
    void shiftOnlyPositioning();
    void alignmentFeaturesOnlyUnderTypeTenRegions();
};

namespace {

SimScene scene(bool engraved)
{
    SimScene::Options o;
    o.seed = 5;
    o.engraved = engraved;
    SimScene s;
    s.configure(o, 640, 512);
    return s;
}

double meanDiff(const cv::Mat& a, const cv::Mat& b, const cv::Rect& where)
{
    cv::Mat d;
    cv::absdiff(a(where), b(where), d);
    return cv::mean(d)[0];
}

} // namespace

void TstJudgement::defectJudgementUnderFactorySetting()
{
    EngineRig rig(640, 512);
    rig.para.detectEnabled[0] = 1;
    SimScene s = scene(false);
    for (int k = 0; k < 4; ++k)
        rig.setTemplate(0, k, s.frame(quint64(k)));
    SimScene::Shot bad;
    bad.defect = true;
    const quint64 n = 6;
    const cv::Rect spot = s.defectSpots(n)[0];
    // Its own limit and filter would pass anything; the factory setting
    // judges by the global alarm area and filter size instead.
    rig.addRect(0, 0, (spot - cv::Point(40, 40) + cv::Size(80, 80)) & cv::Rect(0, 0, 640, 512), 45, 1000000, 1);
    CammerRecong& e = rig.engine();
    e.VarTrain(0);
    QVERIFY(rig.view.roiTrainStatus[0][0] == TrainStatus::Trained);
    auto judge = [&](int showAll, int filter, int area) {
        rig.para.showAllParam = showAll;
        rig.para.filterSize = filter;
        rig.para.alarmArea = area;
        rig.setFrame(s.frame(n, bad));
        rig.view.isOK = true;
        rig.view.roiResult[0][0] = 1;
        e.Run(0);
        return QPair<int, bool>(rig.view.roiValue[0][0], rig.view.roiResult[0][0] == 1);
    };
    const int found = judge(0, 1, 1000000).first;
    QVERIFY2(found > 20, qPrintable(QString::number(found)));
    QCOMPARE(judge(0, 1, found - 1), qMakePair(found, false));
    QCOMPARE(judge(1, 1, found - 1), qMakePair(found, true)); // its own limit
    // A filter wider than the spot opens it away; the region's own C = 1 would not.
    QCOMPARE(judge(0, 2 * spot.width + 1, found - 1), qMakePair(0, true));
    // The clean frame passes.
    rig.setFrame(s.frame(n));
    e.Run(0);
    QVERIFY(rig.view.isOK);
}

void TstJudgement::shiftOnlyPositioning()
{
    EngineRig rig(640, 512);
    rig.para.motionCorrect = 0;
    rig.para.rotateAngle = 0; // no turning: the frame is only shifted back
    rig.para.detectEnabled[0] = 1;
    rig.win.curDetect = 0;
    SimScene s = scene(true);
    const cv::Mat tpl = s.frame(0);
    rig.setTemplate(0, 0, tpl);
    const cv::Rect cav = s.cavities()[0];
    rig.addRect(0, 3, (cv::Rect(cav.x - 20, cav.y - 20, cav.width + 40, cav.height + 40)) & cv::Rect(0, 0, 640, 512));
    CammerRecong& e = rig.engine();
    e.CreateShape(0);
    QVERIFY(e.shapeFinders[0].IsValid());
    const cv::Rect inner(40, 40, 560, 432);
    for (cv::Point2d move : {cv::Point2d(6, -4), cv::Point2d(-9, 7)}) {
        SimScene::Shot shot;
        shot.pose = SimScene::Pose{move, 0};
        const cv::Mat moved = s.frame(4, shot); // the same sensor noise as frame 0
        rig.setFrame(moved);
        e.HomoTransShape(0);
        e.ShapeMatch();
        const double before = meanDiff(moved, tpl, inner), after = meanDiff(rig.work(), tpl, inner);
        qInfo("moved by %g, %g: mean difference %g before, %g after", move.x, move.y, before, after);
        QVERIFY2(before > 10 && after < 3, qPrintable(QString("%1 -> %2").arg(before).arg(after)));
    }
}

void TstJudgement::alignmentFeaturesOnlyUnderTypeTenRegions()
{
    EngineRig rig(640, 512);
    rig.para.angleCorrect = 1;
    rig.para.detectEnabled[0] = 1;
    SimScene s = scene(true);
    rig.setTemplate(0, 0, s.frame(0));
    CammerRecong& e = rig.engine();
    // Without a type-10 region the middle of the frame is used.
    rig.addRect(0, 0, cv::Rect(10, 10, 600, 480));
    e.CreateHomoShape(0);
    const int middle = e.homoTrans[0].templateKeypoints();
    // One small type-10 region: its features only.
    rig.addRect(0, 10, cv::Rect(40, 40, 120, 100));
    e.CreateHomoShape(0);
    const int small = e.homoTrans[0].templateKeypoints();
    // A second one adds its own.
    rig.addRect(0, 10, cv::Rect(460, 360, 120, 100));
    e.CreateHomoShape(0);
    const int two = e.homoTrans[0].templateKeypoints();
    QVERIFY2(small > 0 && small * 3 < middle && two > small && two < middle,
             qPrintable(QString("%1 %2 %3").arg(middle).arg(small).arg(two)));
}

QTEST_GUILESS_MAIN(TstJudgement)
#include "tst_judgement.moc"

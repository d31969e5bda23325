#include "inspection/cameramanager.h"
#include "inspection/camerainterface.h"
#include "inspection/viewimages.h"
#include "inspection_engine/enginerig.h"
#include "inspection_view/simplugindir.h"
#include "plugins/simcamera/simscene.h"

#include <opencv2/imgproc.hpp>

#include <QJsonArray>
#include <QtTest>

#include <memory>

// The engine on frames from the real simulated camera plug-in: taught from
// clean frames, then fed clean frames, frames with a part left behind and
// frames with defects, in the order the main window calls it.
class TstEngineE2e : public QObject
{
    Q_OBJECT
private slots:
    void monoCameraJudgesEveryCycleRight();
    void colourCameraJudgesEveryCycleRight();
};

namespace {

struct Camera
{
    CameraManager manager;
    std::unique_ptr<CameraInterface> cam;
    SimScene scene; // the same scene, to know where a fault will land
    quint64 next = 0;

    bool open(const QJsonObject& cfg, bool colour)
    {
        QJsonObject c = cfg;
        c["sn"] = "E2E-1";
        c["color"] = colour;
        const QJsonObject plugin{{"typeName", "Sim"}, {"kind", 0}, {"cameras", QJsonArray{c}}};
        loadCameras(manager, makeSimPluginDir({{"libsimcamera", plugin}}));
        if (manager.cameras.isEmpty())
            return false;
        cam.reset(manager.createCamera(manager.cameras[0]));
        if (!cam || !cam->open())
            return false;
        cam->setColor(colour);
        cam->setExposure(30);
        cam->setGain(32);
        cam->setTrigger(true);
        cam->start();
        scene.configure(cfg, cfg.value("width").toInt(), cfg.value("height").toInt());
        return true;
    }
    // One cycle: the fault (if any) is set, the frame triggered and grabbed.
    bool grab(PixelBuffer& into, const char* fault = nullptr)
    {
        if (fault)
            cam->setValue(QVariant(QString(fault)), 100);
        cam->softTrigger();
        ++next;
        return cam->grab(into.data());
    }
    // Where the defect spots of frame n land, frame pixels.
    cv::Mat defectPixels(quint64 n, bool colour)
    {
        cv::Mat clean, bad;
        SimScene::Faults f;
        scene.render(n, colour, 1.0, false, false, f, clean);
        f.defect = true;
        scene.render(n, colour, 1.0, false, false, f, bad);
        cv::Mat diff;
        cv::absdiff(clean, bad, diff);
        if (diff.channels() > 1)
            cv::cvtColor(diff, diff, cv::COLOR_BGRA2GRAY);
        return diff > 20;
    }
};

// The kind of frame and the ROIs that must come out NG.
struct Expect
{
    const char* fault = nullptr;
    std::vector<int> ng;
};

// Decides whether the defect of frame n may be fired: every spot lies clearly
// inside an ROI that sees dark spots or clearly outside all ROIs.
bool defectExpectation(const cv::Mat& pixels, const std::vector<Roi>& rois, std::vector<int>* ng)
{
    std::vector<std::vector<cv::Point>> blobs;
    cv::findContours(pixels.clone(), blobs, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    const int play = 12; // shift and turn of the scene
    for (const auto& b : blobs) {
        const cv::Rect br = cv::boundingRect(b);
        for (size_t r = 0; r < rois.size(); ++r) {
            if (rois[r].type == 3)
                continue;
            const cv::Rect grown = rois[r].box - cv::Point(play, play) + cv::Size(2 * play, 2 * play);
            const cv::Rect shrunk = rois[r].box + cv::Point(play, play) - cv::Size(2 * play, 2 * play);
            if ((br & grown).area() == 0)
                continue;
            if ((br & shrunk) != br || rois[r].type == 6)
                return false; // on the edge of a box, or in a similarity box: not a clear case
            ng->push_back(int(r));
        }
    }
    std::sort(ng->begin(), ng->end());
    ng->erase(std::unique(ng->begin(), ng->end()), ng->end());
    return !ng->empty();
}

struct Tally
{
    int frames[3] = {};
    int falseOk = 0, falseNg = 0, wrongRoi = 0;
    QStringList notes;
};

void runCycles(EngineRig& rig, Camera& cam, const std::vector<Roi>& rois, const int (&want)[3], Tally& t, bool colour)
{
    CammerRecong& e = rig.engine();
    for (int frames = 0; frames < 60 * (want[0] + want[1] + want[2]); ++frames) {
        if (t.frames[0] >= want[0] && t.frames[1] >= want[1] && t.frames[2] >= want[2])
            break;
        const quint64 n = cam.next;
        Expect ex;
        int kind = -1;
        std::vector<int> ng;
        if (t.frames[2] < want[2] && defectExpectation(cam.defectPixels(n, colour), rois, &ng)) {
            kind = 2;
            ex.fault = "defect";
            ex.ng = ng;
        } else if (t.frames[1] < want[1] && (n % 2 == 0 || t.frames[0] >= want[0])) {
            kind = 1;
            ex.fault = "leftBehind";
            const int cav = int(n % 4);
            for (size_t r = 0; r < rois.size(); ++r)
                if (rois[r].cavity == cav && rois[r].type != 3)
                    ex.ng.push_back(int(r));
        } else if (t.frames[0] < want[0]) {
            kind = 0;
        }
        if (kind < 0) {
            cam.grab(rig.view.frameBuffer); // a cycle nobody needs: the mould moves on
            continue;
        }
        if (!cam.grab(rig.view.frameBuffer, ex.fault)) {
            t.notes << QString("frame %1 not grabbed").arg(n);
            continue;
        }
        ++t.frames[kind];
        e.HomoTransShape(0);
        e.ShapeMatch();
        e.Run(0);
        const bool expectOk = ex.ng.empty();
        if (expectOk && !rig.view.isOK) {
            ++t.falseNg;
            QStringList which;
            for (size_t r = 0; r < rois.size(); ++r)
                if (!rig.view.roiResult[0][r])
                    which << QString("%1(v%2)").arg(r).arg(rig.view.roiValue[0][r]);
            t.notes << QString("frame %1: false NG at %2").arg(n).arg(which.join(' '));
        }
        if (!expectOk && rig.view.isOK) {
            ++t.falseOk;
            t.notes << QString("frame %1 (%2): false OK").arg(n).arg(ex.fault);
        }
        if (!expectOk) {
            for (int r : ex.ng)
                if (rig.view.roiResult[0][r]) {
                    ++t.wrongRoi;
                    t.notes << QString("frame %1 (%2): ROI %3 passed, value %4").arg(n).arg(ex.fault).arg(r).arg(
                                   rig.view.roiValue[0][r]);
                }
        }
    }
}

void teach(EngineRig& rig, Camera& cam, const std::vector<Roi>& rois, bool positioned)
{
    rig.addRois(0, rois);
    rig.para.detectEnabled[0] = 1;
    rig.win.curDetect = 0;
    CammerRecong& e = rig.engine();
    ViewImages images(rig.view);
    QVERIFY(cam.grab(rig.view.frameBuffer));
    QVERIFY(images.SaveReTrainImage(0));
    rig.view.templateCount[0] = 1;
    e.CreateShape(0);
    QCOMPARE(e.shapeFinders[0].IsValid(), positioned);
    for (int k = 1; k < gTempNum; ++k) {
        QVERIFY(cam.grab(rig.view.frameBuffer));
        e.HomoTransShape(0);
        e.ShapeMatch();
        rig.setTemplate(0, k, rig.work().clone());
    }
    rig.view.templateCount[0] = gTempNum;
    e.VarTrain(0);
    for (size_t r = 0; r < rois.size(); ++r)
        if (rois[r].type == 0 || rois[r].type == 6)
            QVERIFY2(rig.view.roiTrainStatus[0][r] == TrainStatus::Trained, qPrintable(QString("ROI %1").arg(r)));
}

// Teaches the detection, runs the cycles and wants every frame of each kind
// judged right. A colour camera is not positioned: the mould holds still.
void teachAndJudge(const char* what, EngineRig& rig, Camera& cam, const std::vector<Roi>& rois, const int (&want)[3],
                   bool colour)
{
    teach(rig, cam, rois, !colour);
    if (QTest::currentTestFailed())
        return;
    Tally t;
    runCycles(rig, cam, rois, want, t, colour);
    qInfo("%s: %d clean, %d left behind, %d defect frames; false OK %d, false NG %d, NG ROI missed %d", what,
          t.frames[0], t.frames[1], t.frames[2], t.falseOk, t.falseNg, t.wrongRoi);
    for (const QString& n : t.notes.mid(0, 10))
        qInfo("  %s", qPrintable(n));
    QCOMPARE(QList<int>({t.frames[0], t.frames[1], t.frames[2]}), QList<int>({want[0], want[1], want[2]}));
    QCOMPARE(QList<int>({t.falseOk, t.falseNg, t.wrongRoi}), QList<int>({0, 0, 0}));
}

} // namespace

void TstEngineE2e::monoCameraJudgesEveryCycleRight()
{
    EngineRig rig(1280, 1024);
    rig.para.motionCorrect = 0;
    rig.para.rotateAngle = 2;
    const QJsonObject cfg{{"width", 1280}, {"height", 1024}, {"seed", 3}, {"shift", 3.0}, {"angle", 0.5}};
    Camera cam;
    QVERIFY(cam.open(cfg, false));
    teachAndJudge("mono", rig, cam, typicalDetection(cam.scene.cavities(), false), {50, 50, 50}, false);
}

void TstEngineE2e::colourCameraJudgesEveryCycleRight()
{
    for (int hue = 1; hue >= 0; --hue) {
        EngineRig rig(1280, 1024, true);
        gisGrayHue = hue;
        const QJsonObject cfg{{"width", 1280}, {"height", 1024}, {"seed", 4}};
        Camera cam;
        QVERIFY(cam.open(cfg, true));
        std::vector<Roi> rois = typicalDetection(cam.scene.cavities(), true);
        if (!hue) {
            // Hue hardly changes where a dark spot lies on grey steel: the grey-range ROIs go.
            rois.erase(std::remove_if(rois.begin(), rois.end(), [](const Roi& r) { return r.type == 1 || r.type == 8; }),
                       rois.end());
        }
        // The colour-spot ROI counts its whole box as plate colour.
        rig.para.colorAreaMin = 40 * 40;
        rig.para.colorAreaMax = 40 * 40;
        // Hue does not see a grey spot on grey steel; it sees the coloured part.
        teachAndJudge(hue ? "colour, grey" : "colour, hue", rig, cam, rois, {20, 20, hue ? 20 : 0}, true);
        if (QTest::currentTestFailed())
            return;
    }
}

QTEST_GUILESS_MAIN(TstEngineE2e)
#include "tst_engine_e2e.moc"

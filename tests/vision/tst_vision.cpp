#include "mouldscene.h"
#include "frame/imagetools.h"
#include "vision/findshape.h"
#include "vision/graymatch.h"
#include "vision/surf.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

#include <cmath>

namespace {
// A ROI box well inside the 640x480 mould, crossing the part's cavity edge.
const cv::Rect kDefectBox(200, 150, 140, 120);

GrayMatch trainedGrayMatch(const MouldScene& base, const cv::Rect& box, const cv::Mat& mask, int sensitivity = 45,
                           int factor = 0)
{
    GrayMatch gm;
    gm.Create(box.width, box.height, mask, 0);
    for (unsigned n = 1; n <= 3; ++n) {
        MouldScene s = base;
        s.noiseSeed = n;
        gm.AddTemp(s.render()(box)); // a view into a frame buffer, as the engine passes it
    }
    gm.Train(sensitivity, factor, 100, 150);
    return gm;
}

int defects(const GrayMatch& gm, const cv::Mat& image)
{
    cv::Mat diff;
    gm.Match(image, diff);
    return cv::countNonZero(diff);
}

// Mean absolute grey difference over a box.
double meanDiff(const cv::Mat& a, const cv::Mat& b, const cv::Rect& box)
{
    cv::Mat d;
    cv::absdiff(a(box), b(box), d);
    return cv::mean(d)[0];
}
} // namespace

class TstVision : public QObject
{
    Q_OBJECT
private slots:
    void grayMatchPassesGoodImagesAndFindsDefects();
    void grayMatchHonoursItsMask();
    void grayMatchSensitivityAndFactorSetTheTolerance();
    void grayMatchRefusesWhatItCannotJudge();

    void surfScoresSamePartHighAndOtherPartLow();
    void surfFallsBackToCorrelationAndRefusesFlatTemplates();

    void findShapeRestoresShiftedPart();
    void findShapeRestoresRotatedPart();
    void findShapeFindsSeveralCopiesForGeneration();
    void findShapeHonoursMaskPolarityAndTurnedCopies();
    void findShapeReportsFailures();

    void oddSizesAndTinyBoxesGiveDefinedResults();
    void borderViewsAndColourInput();
    void outOfRangeParametersGiveDefinedResults();
    void hugeAngleRangeStaysAffordable();
};

void TstVision::grayMatchPassesGoodImagesAndFindsDefects()
{
    MouldScene scene;
    const GrayMatch gm = trainedGrayMatch(scene, kDefectBox, cv::Mat());
    QVERIFY(gm.IsValid());
    QCOMPARE(gm.Status(), TrainStatus::Trained);

    // Good parts: fresh noise, and the mould one pixel off in x, y and both.
    for (const cv::Point2d shift : {cv::Point2d(0, 0), cv::Point2d(1, 0), cv::Point2d(0, -1), cv::Point2d(-1, 1),
                                    cv::Point2d(0.5, 0.5)}) {
        MouldScene s = scene;
        s.noiseSeed = 42;
        const cv::Mat img = s.render(shift);
        QCOMPARE(defects(gm, img(kDefectBox)), 0);
    }

    // A 5x5 spot of dirt on the flat steel (left of the part cavity).
    MouldScene s = scene;
    s.noiseSeed = 43;
    cv::Mat img = s.render();
    const cv::Rect spot(205, 160, 5, 5);
    QVERIFY(cv::mean(img(spot))[0] > 60);
    img(spot).setTo(cv::Scalar(cv::mean(img(spot))[0] - 70));
    cv::Mat diff;
    QVERIFY(gm.Match(img(kDefectBox), diff));
    QCOMPARE(diff.size(), kDefectBox.size());
    const int n = cv::countNonZero(diff);
    QVERIFY2(n >= 9 && n <= 49, qPrintable(QString::number(n)));
    const cv::Rect found = cv::boundingRect(diff);
    QVERIFY((found & (spot - kDefectBox.tl())).area() > 0);
    QVERIFY(found.width <= 7 && found.height <= 7);

    // A short shot: the part is missing from its cavity.
    MouldScene empty = scene;
    empty.withPart = false;
    empty.noiseSeed = 44;
    const int missing = defects(gm, empty.render()(kDefectBox));
    QVERIFY2(missing > 1000, qPrintable(QString::number(missing)));
}

void TstVision::grayMatchHonoursItsMask()
{
    MouldScene scene;
    // Ring-shaped ROI with an ignore patch: only pixels inside the ring and outside the patch count.
    cv::Mat mask = cv::Mat::zeros(kDefectBox.size(), CV_8UC1);
    cv::circle(mask, cv::Point(70, 60), 55, cv::Scalar(255), cv::FILLED);
    mask(cv::Rect(0, 0, 40, 40)).setTo(0);
    const GrayMatch gm = trainedGrayMatch(scene, kDefectBox, mask);
    QVERIFY(gm.IsValid());

    // A different scene altogether: defects everywhere, but never outside the mask.
    cv::Mat other = MouldScene{{640, 480}, 99}.render()(kDefectBox).clone();
    cv::bitwise_not(other, other);
    cv::Mat diff;
    gm.Match(other, diff);
    QVERIFY(cv::countNonZero(diff) > 1000);
    cv::Mat outside;
    cv::bitwise_and(diff, ~mask, outside);
    QCOMPARE(cv::countNonZero(outside), 0);

    // A spot in the ignored corner is not seen; the same spot inside is.
    MouldScene s = scene;
    s.noiseSeed = 50;
    cv::Mat img = s.render();
    img(cv::Rect(kDefectBox.x + 10, kDefectBox.y + 10, 6, 6)).setTo(0);
    QCOMPARE(defects(gm, img(kDefectBox)), 0);
    img(cv::Rect(kDefectBox.x + 20, kDefectBox.y + 60, 6, 6)).setTo(0);
    QVERIFY(defects(gm, img(kDefectBox)) > 0);
}

void TstVision::grayMatchSensitivityAndFactorSetTheTolerance()
{
    MouldScene scene;
    MouldScene s = scene;
    s.noiseSeed = 60;
    cv::Mat img = s.render();
    const cv::Rect spot(210, 175, 6, 6);
    img(spot).setTo(cv::Scalar(cv::mean(img(spot))[0] + 25)); // faint stain

    QCOMPARE(defects(trainedGrayMatch(scene, kDefectBox, cv::Mat(), 45, 0), img(kDefectBox)), 0);
    QVERIFY(defects(trainedGrayMatch(scene, kDefectBox, cv::Mat(), 95, 0), img(kDefectBox)) > 0);
    QVERIFY(defects(trainedGrayMatch(scene, kDefectBox, cv::Mat(), 45, 4), img(kDefectBox)) > 0);
    QVERIFY(GrayMatch::ToleranceFor(100) < GrayMatch::ToleranceFor(45));
    QVERIFY(GrayMatch::ToleranceFor(45) < GrayMatch::ToleranceFor(0));
}

void TstVision::grayMatchRefusesWhatItCannotJudge()
{
    GrayMatch gm;
    QVERIFY(!gm.IsValid());
    QCOMPARE(gm.Status(), TrainStatus::Empty);

    // Mask of the wrong size.
    QVERIFY(!gm.Create(100, 80, cv::Mat(80, 99, CV_8UC1, cv::Scalar(255)), 0));
    QVERIFY(!gm.Train(45, 0, 100, 150));
    QVERIFY(!gm.IsValid());
    QCOMPARE(gm.Status(), TrainStatus::BadInput);

    // No template at all.
    QVERIFY(gm.Create(100, 80, cv::Mat(), 0));
    QVERIFY(!gm.Train(45, 0, 100, 150));
    QCOMPARE(gm.Status(), TrainStatus::NoTemplate);

    // A template of another size is refused; the right one trains.
    QVERIFY(gm.Create(100, 80, cv::Mat(), 0));
    QVERIFY(!gm.AddTemp(cv::Mat(81, 100, CV_8UC1, cv::Scalar(100))));
    QVERIFY(gm.AddTemp(cv::Mat(80, 100, CV_8UC1, cv::Scalar(100))));
    QVERIFY(gm.Train(45, 0, 100, 150));
    // A plain surface is a legitimate template for dirt detection ...
    cv::Mat diff;
    QVERIFY(gm.Match(cv::Mat(80, 100, CV_8UC1, cv::Scalar(100)), diff));
    QCOMPARE(cv::countNonZero(diff), 0);
    // ... but an image that does not fit the box is never a silent pass.
    QVERIFY(!gm.Match(cv::Mat(60, 100, CV_8UC1, cv::Scalar(100)), diff));
    QCOMPARE(cv::countNonZero(diff), 60 * 100);

    // A mask with nothing to inspect leaves the matcher untrained.
    QVERIFY(gm.Create(100, 80, cv::Mat::zeros(80, 100, CV_8UC1), 0));
    gm.AddTemp(cv::Mat(80, 100, CV_8UC1, cv::Scalar(100)));
    QVERIFY(!gm.Train(45, 0, 100, 150));
    QVERIFY(!gm.IsValid());

    gm.Clear();
    QCOMPARE(gm.Status(), TrainStatus::Empty);
}

void TstVision::surfScoresSamePartHighAndOtherPartLow()
{
    MouldScene scene;
    const cv::Rect box = scene.partBox();
    SURF sf;
    QVERIFY(sf.Create(box.width, box.height, cv::Mat()));
    for (unsigned n = 1; n <= 2; ++n) {
        MouldScene s = scene;
        s.noiseSeed = n;
        cv::Mat copy = s.render()(box).clone();
        QVERIFY(sf.AddTemp(copy, 1, 50, 80));
    }
    QVERIFY(sf.Train(0, 0, 0, 0));
    QVERIFY(sf.IsValid());
    QVERIFY(sf.FeatureTemplates() == 2);

    MouldScene s = scene;
    s.noiseSeed = 70;
    cv::Mat same = s.render(cv::Point2d(1, -1))(box).clone();
    cv::Mat out;
    const float high = sf.Match(same, out);
    QVERIFY2(high >= 80, qPrintable(QString::number(high)));
    QCOMPARE(out.size(), box.size());
    QCOMPARE(cv::countNonZero(out), 0);

    // The same part with a quarter of it covered scores in between: the score grows with similarity.
    cv::Mat covered = same.clone();
    covered(cv::Rect(0, 0, box.width / 2, box.height / 2)).setTo(cv::Scalar(60));
    const float mid = sf.Match(covered, out);
    QVERIFY2(mid > 30 && mid < high - 10, qPrintable(QString::number(mid)));

    // Another mould's part in the same place.
    MouldScene other = scene;
    other.seed = 31;
    other.withPart = false;
    cv::Mat wrong = other.render()(box).clone();
    const float low = sf.Match(wrong, out);
    QVERIFY2(low <= 30, qPrintable(QString::number(low)));
    QVERIFY(cv::countNonZero(out) > 0); // the missing structure is marked

    // Another place of the same mould.
    cv::Mat elsewhere = s.render()(box + cv::Point(-180, -120)).clone();
    const float low2 = sf.Match(elsewhere, out);
    QVERIFY2(low2 <= 30, qPrintable(QString::number(low2)));

    // A blank (covered lens) image.
    cv::Mat blank(box.size(), CV_8UC1, cv::Scalar(128));
    QCOMPARE(sf.Match(blank, out), 0.f);
}

void TstVision::surfFallsBackToCorrelationAndRefusesFlatTemplates()
{
    // A flat template (grey deviation below noise level) must not pass anything.
    SURF flat;
    flat.Create(80, 80, cv::Mat());
    cv::Mat plain(80, 80, CV_8UC1);
    cv::randn(plain, 128, 1.0);
    flat.AddTemp(plain.clone(), 1, 50, 80);
    QVERIFY(!flat.Train(0, 0, 0, 0));
    QVERIFY(!flat.IsValid());
    QCOMPARE(flat.Status(), TrainStatus::Untextured);
    cv::Mat out;
    QCOMPARE(flat.Match(plain, out), 0.f);

    // A soft shading without corners: correlation instead of keypoints.
    cv::Mat shade(80, 80, CV_8UC1);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x)
            shade.at<uchar>(y, x) = cv::saturate_cast<uchar>(80 + 60 * std::sin(x / 25.0) + 0.5 * y);
    SURF soft;
    soft.Create(80, 80, cv::Mat());
    soft.AddTemp(shade.clone(), 1, 50, 80);
    QVERIFY(soft.Train(0, 0, 0, 0));
    QCOMPARE(soft.CorrelationTemplates(), 1);
    cv::Mat noisy = shade.clone();
    cv::Mat n(noisy.size(), CV_8SC1);
    cv::randn(n, 0, 3);
    cv::add(noisy, n, noisy, cv::noArray(), CV_8U);
    QVERIFY(soft.Match(noisy, out) >= 90);
    const cv::Mat turned = shade.t();
    const float f = soft.Match(const_cast<cv::Mat&>(turned), out);
    QVERIFY2(f < 50, qPrintable(QString::number(f)));
    QVERIFY(cv::countNonZero(out) > 0);
    cv::Mat inverted = 255 - shade;
    QCOMPARE(soft.Match(inverted, out), 0.f);
    QCOMPARE(soft.Match(plain, out), 0.f);

    // Mask of the wrong size and no template.
    SURF bad;
    QVERIFY(!bad.Create(80, 80, cv::Mat(80, 81, CV_8UC1, cv::Scalar(255))));
    QVERIFY(!bad.Train(0, 0, 0, 0));
    QCOMPARE(bad.Status(), TrainStatus::BadInput);
    QVERIFY(bad.Create(80, 80, cv::Mat()));
    QVERIFY(!bad.Train(0, 0, 0, 0));
    QCOMPARE(bad.Status(), TrainStatus::NoTemplate);
}

void TstVision::findShapeRestoresShiftedPart()
{
    MouldScene scene;
    const cv::Mat tmpl = scene.render();
    const cv::Rect box(200, 150, 220, 160);
    const int cx = box.x + box.width / 2, cy = box.y + box.height / 2;
    FindShape fs;
    QVERIFY(!fs.IsValid());
    QVERIFY(fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, cx, cy, false, 255, cv::Mat(box.size(), CV_8UC1,
                                                                                         cv::Scalar(255)),
                           5, 10));
    QVERIFY(fs.IsValid());
    QVERIFY(fs.PyramidLevels() >= 3);

    const int margin = 40;
    const cv::Rect sr = cv::Rect(box.x - margin, box.y - margin, box.width + 2 * margin, box.height + 2 * margin) &
                        cv::Rect(0, 0, 640, 480);
    for (const cv::Point shift : {cv::Point(0, 0), cv::Point(13, -7), cv::Point(-25, 31), cv::Point(38, 38)}) {
        MouldScene s = scene;
        s.noiseSeed = 80;
        const cv::Mat frame = s.render(shift);
        cv::Mat search = frame(sr).clone();
        int x = 0, y = 0;
        double score = 0, angle = 1;
        QVERIFY(fs.Find(search, 0, &x, &y, &score, &angle));
        QVERIFY2(score > 80, qPrintable(QString::number(score)));
        QCOMPARE(angle, 0.0);
        const int dx = x - sr.x, dy = y - sr.y;
        QCOMPARE(dx, -shift.x);
        QCOMPARE(dy, -shift.y);
        cv::Mat work;
        MoveImage(frame, work, dx, dy);
        QVERIFY(meanDiff(work, tmpl, box) < 5.0);
    }

    // Whole-frame search (offset 8000): the search rectangle is the frame itself.
    MouldScene s = scene;
    s.noiseSeed = 81;
    cv::Mat frame = s.render(cv::Point(-60, 45));
    int x = 0, y = 0;
    double score = 0, angle = 0;
    QVERIFY(fs.Find(frame, 0, &x, &y, &score, &angle));
    QCOMPARE(x, 60);
    QCOMPARE(y, -45);
}

void TstVision::findShapeRestoresRotatedPart()
{
    MouldScene scene;
    const cv::Mat tmpl = scene.render();
    const cv::Rect box(190, 140, 260, 200);
    const cv::Point c(box.x + box.width / 2, box.y + box.height / 2);
    FindShape fs;
    QVERIFY(fs.CreateShape(tmpl(box).clone(), 0.0, 0, 15, c.x, c.y, false, 255, cv::Mat(), 5, 10));
    const double step = fs.FinestAngleStep();
    QVERIFY(step > 0 && step < 0.5);

    const cv::Rect sr = cv::Rect(box.x - 50, box.y - 50, box.width + 100, box.height + 100) & cv::Rect(0, 0, 640, 480);
    struct Move { cv::Point2d shift; double angle; cv::Point2d pivot; };
    for (const Move m : {Move{{0, 0}, 4.0, {320, 240}}, Move{{9, -6}, -7.3, {300, 200}}, Move{{-14, 11}, 11.6, {400, 300}},
                         Move{{3, 2}, 0.0, {320, 240}}}) {
        MouldScene s = scene;
        s.noiseSeed = 90;
        const cv::Mat frame = s.render(m.shift, m.angle, m.pivot);
        cv::Mat search = frame(sr).clone();
        int x = 0, y = 0;
        double score = 0, angle = 0;
        QVERIFY(fs.Find(search, 0, &x, &y, &score, &angle));
        // Where the model's centre went, and what the caller makes of the report.
        const cv::Point2d truth = MouldScene::movePoint(c, m.shift, m.angle, m.pivot);
        const double u = sr.x + (c.x - x), v = sr.y + (c.y - y);
        QVERIFY2(std::hypot(u - truth.x, v - truth.y) <= 1.0,
                 qPrintable(QString("%1,%2 vs %3,%4").arg(u).arg(v).arg(truth.x).arg(truth.y)));
        QVERIFY2(std::fabs(angle + m.angle) <= 0.25 * step,
                 qPrintable(QString("angle %1 for %2, step %3").arg(angle).arg(m.angle).arg(step)));
        cv::Mat work;
        TransformImage(frame, work, cv::Point(x - sr.x, y - sr.y), c, angle);
        const double md = meanDiff(work, tmpl, box);
        QVERIFY2(md < 8.0, qPrintable(QString::number(md)));
    }
}

void TstVision::findShapeFindsSeveralCopiesForGeneration()
{
    // A tray of identical pins: the operator outlines one, generation finds all.
    cv::Mat frame(480, 640, CV_8UC1, cv::Scalar(90));
    const cv::Mat pin = [] {
        cv::Mat p(56, 56, CV_8UC1, cv::Scalar(90));
        cv::circle(p, cv::Point(28, 28), 22, cv::Scalar(200), cv::FILLED, cv::LINE_AA);
        cv::rectangle(p, cv::Rect(18, 24, 20, 8), cv::Scalar(40), cv::FILLED);
        cv::circle(p, cv::Point(36, 16), 4, cv::Scalar(30), cv::FILLED);
        return p;
    }();
    const std::vector<cv::Point> at = {{40, 40}, {200, 60}, {420, 30}, {90, 300}, {330, 250}, {520, 380}};
    for (const cv::Point& p : at)
        pin.copyTo(frame(cv::Rect(p, pin.size())));
    cv::Mat noise(frame.size(), CV_8SC1);
    cv::randn(noise, 0, 3);
    cv::add(frame, noise, frame, cv::noArray(), CV_8U);

    // Pattern: the first pin's ROI, centre c = (x + w / 2, y + h / 2).
    const cv::Rect pat(at[0], pin.size());
    const cv::Point c(pat.x + pat.width / 2, pat.y + pat.height / 2);
    FindShape fs;
    QVERIFY(fs.CreateShape(frame(pat).clone(), 60.0, 0, 0, c.x, c.y, false, 255, cv::Mat(), 5, 10));
    int x[100], y[100];
    double a[100], count = 0;
    cv::Mat whole = frame;
    QVERIFY(fs.Find(whole, 100, x, y, &count, a));
    QCOMPARE(int(count), int(at.size()));
    // The generation's shift (origin - reported) lands each copy on a pin.
    std::vector<cv::Point> landed;
    for (int i = 0; i < int(count); ++i)
        landed.push_back(pat.tl() + cv::Point(0 - x[i], 0 - y[i])); // whole image: origin (0, 0)
    for (const cv::Point& p : at)
        QVERIFY2(std::count(landed.begin(), landed.end(), p) == 1, qPrintable(QString("%1,%2").arg(p.x).arg(p.y)));
    for (int i = 1; i < int(count); ++i)
        QVERIFY(fs.LastScores()[size_t(i - 1)] >= fs.LastScores()[size_t(i)]);

    // Two patterns split the image: the right half has origin (width / 2, 0).
    const cv::Point o(320, 0);
    cv::Mat right = frame(cv::Rect(o.x, 0, 320, 480));
    QVERIFY(fs.Find(right, 100, x, y, &count, a));
    QCOMPARE(int(count), 3);
    for (int i = 0; i < int(count); ++i) {
        const cv::Point p = pat.tl() + cv::Point(o.x - x[i], o.y - y[i]);
        QVERIFY(std::count(at.begin(), at.end(), p) == 1);
        QVERIFY(p.x >= 320);
    }

    // Nothing like the pattern: no targets.
    cv::Mat blank(480, 640, CV_8UC1, cv::Scalar(90));
    QVERIFY(!fs.Find(blank, 100, x, y, &count, a));
    QCOMPARE(count, 0.0);
}

void TstVision::findShapeHonoursMaskPolarityAndTurnedCopies()
{
    MouldScene scene;
    const cv::Mat tmpl = scene.render();
    const cv::Rect box(200, 150, 240, 180);
    const cv::Point c(box.x + box.width / 2, box.y + box.height / 2);

    // The masked-out middle changes (part missing); the masked model still positions on its frame.
    cv::Mat mask(box.size(), CV_8UC1, cv::Scalar(255));
    const cv::Rect pb = scene.partBox() - box.tl();
    mask(pb).setTo(0);
    FindShape fs;
    QVERIFY(fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, c.x, c.y, false, 255, mask, 5, 10));
    MouldScene gone = scene;
    gone.withPart = false;
    gone.noiseSeed = 100;
    const cv::Mat frame = gone.render(cv::Point2d(-11, 6));
    cv::Mat search = frame(cv::Rect(box.x - 30, box.y - 30, box.width + 60, box.height + 60)).clone();
    int x = 0, y = 0;
    double score = 0, angle = 0;
    QVERIFY(fs.Find(search, 0, &x, &y, &score, &angle));
    QCOMPARE(x - (box.x - 30), 11);
    QCOMPARE(y - (box.y - 30), -6);
    QVERIFY(score > 90);

    // Polarity: an inverted image matches only when polarity is ignored.
    cv::Mat inverted = 255 - search;
    QVERIFY(!fs.Find(inverted, 0, &x, &y, &score, &angle));
    QVERIFY(fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, c.x, c.y, true, 255, mask, 5, 10));
    QVERIFY(fs.Find(inverted, 0, &x, &y, &score, &angle));
    QCOMPARE(x - (box.x - 30), 11);

    // Turned copies of a pin for generation: positions land, angles are reported.
    cv::Mat tray(480, 640, CV_8UC1, cv::Scalar(90));
    cv::Mat pin(64, 64, CV_8UC1, cv::Scalar(90));
    cv::circle(pin, cv::Point(32, 32), 24, cv::Scalar(200), cv::FILLED, cv::LINE_AA);
    cv::rectangle(pin, cv::Rect(14, 28, 36, 8), cv::Scalar(40), cv::FILLED);
    cv::circle(pin, cv::Point(42, 18), 5, cv::Scalar(30), cv::FILLED);
    const std::vector<std::pair<cv::Point, double>> at = {{{60, 60}, 0.0}, {{300, 100}, 17.0}, {{480, 320}, -24.0}};
    for (const auto& [p, a] : at) {
        cv::Mat turned;
        cv::warpAffine(pin, turned, cv::getRotationMatrix2D(cv::Point2f(32, 32), a, 1.0), pin.size(), cv::INTER_LINEAR,
                       cv::BORDER_CONSTANT, cv::Scalar(90));
        turned.copyTo(tray(cv::Rect(p, pin.size())));
    }
    const cv::Rect pat(at[0].first, pin.size());
    const cv::Point pc(pat.x + pat.width / 2, pat.y + pat.height / 2);
    FindShape gen;
    QVERIFY(gen.CreateShape(tray(pat).clone(), 60.0, 0, 30, pc.x, pc.y, false, 255, cv::Mat(), 5, 10));
    int xs[100], ys[100];
    double as[100], count = 0;
    QVERIFY(gen.Find(tray, 100, xs, ys, &count, as));
    QCOMPARE(int(count), 3);
    for (const auto& [p, a] : at) {
        bool seen = false;
        for (int i = 0; i < 3; ++i) {
            const cv::Point landed = pat.tl() + cv::Point(-xs[i], -ys[i]);
            if (std::abs(landed.x - p.x) <= 1 && std::abs(landed.y - p.y) <= 1) {
                seen = true;
                QVERIFY2(std::fabs(as[i] + a) < 0.5, qPrintable(QString("%1 for %2").arg(as[i]).arg(a)));
            }
        }
        QVERIFY2(seen, qPrintable(QString("%1,%2").arg(p.x).arg(p.y)));
    }
}

void TstVision::findShapeReportsFailures()
{
    MouldScene scene;
    const cv::Mat tmpl = scene.render();
    const cv::Rect box = scene.partBox();
    const cv::Point c(box.x + box.width / 2, box.y + box.height / 2);
    int x = 0, y = 0;
    double score = 0, angle = 0;

    FindShape fs;
    cv::Mat frame = tmpl.clone();
    QVERIFY(!fs.Find(frame, 0, &x, &y, &score, &angle)); // never built

    QVERIFY(!fs.CreateShape(cv::Mat(), 0.0, 0, 0, c.x, c.y, false, 255, cv::Mat(), 5, 10));
    QVERIFY(!fs.IsValid());
    QCOMPARE(fs.Status(), TrainStatus::BadInput);

    QVERIFY(!fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, c.x, c.y, false, 255,
                            cv::Mat(box.height, box.width + 1, CV_8UC1, cv::Scalar(255)), 5, 10));
    QVERIFY(!fs.IsValid());
    QCOMPARE(fs.Status(), TrainStatus::BadInput);
    QVERIFY(!fs.Find(frame, 0, &x, &y, &score, &angle));

    // A model without texture would fit any plain surface: untrained.
    cv::Mat plain(box.size(), CV_8UC1);
    cv::randn(plain, 120, 1.5);
    QVERIFY(!fs.CreateShape(plain, 0.0, 0, 10, c.x, c.y, false, 255, cv::Mat(), 5, 10));
    QCOMPARE(fs.Status(), TrainStatus::Untextured);

    // A contrast demand the model cannot meet.
    QVERIFY(!fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, c.x, c.y, false, 254, cv::Mat(), 5, 10));
    QCOMPARE(fs.Status(), TrainStatus::LowContrast);

    QVERIFY(fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, c.x, c.y, false, 255, cv::Mat(), 5, 10));
    cv::Mat empty;
    QVERIFY(!fs.Find(empty, 0, &x, &y, &score, &angle));
    cv::Mat tooSmall = tmpl(cv::Rect(box.x, box.y, box.width - 1, box.height)).clone();
    QVERIFY(!fs.Find(tooSmall, 0, &x, &y, &score, &angle));

    // The part is missing from the cavity and the surroundings are cut away: not found.
    MouldScene gone = scene;
    gone.withPart = false;
    cv::Mat search = gone.render()(box).clone();
    QVERIFY(!fs.Find(search, 0, &x, &y, &score, &angle));

    fs.Clear();
    QVERIFY(!fs.IsValid());
}

namespace {
cv::Mat noiseImage(int rows, int cols, unsigned seed)
{
    cv::Mat m(rows, cols, CV_8UC1);
    cv::RNG(seed).fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}
} // namespace

void TstVision::oddSizesAndTinyBoxesGiveDefinedResults()
{
    // Boxes an operator can draw at the limit: a 1-pixel-wide strip, a 3x3 dot, a 1x1 pixel.
    for (const cv::Size sz : {cv::Size(1, 1), cv::Size(3, 3), cv::Size(2, 7), cv::Size(1, 40), cv::Size(40, 1),
                              cv::Size(5, 5), cv::Size(17, 9), cv::Size(15, 300), cv::Size(301, 1)}) {
        const QString what = QString("%1x%2").arg(sz.width).arg(sz.height);
        const cv::Mat good = noiseImage(sz.height, sz.width, 3);

        GrayMatch gm;
        QVERIFY2(gm.Create(sz.width, sz.height, cv::Mat(), 0), qPrintable(what));
        QVERIFY(gm.AddTemp(good));
        QVERIFY2(gm.Train(45, 0, 100, 150), qPrintable(what));
        cv::Mat diff;
        QVERIFY(gm.Match(good, diff));
        QCOMPARE(diff.size(), sz);
        QCOMPARE(cv::countNonZero(diff), 0);
        // Inverting a noise image moves most pixels far outside the learnt band.
        cv::Mat bad = 255 - good;
        QVERIFY(gm.Match(bad, diff));
        QVERIFY2(cv::countNonZero(diff) > 0, qPrintable(what));

        // Keypoints need room; a tiny box is compared by correlation or refused, never thrown out.
        SURF sf;
        QVERIFY(sf.Create(sz.width, sz.height, cv::Mat()));
        QVERIFY(sf.AddTemp(good.clone(), 1, 50, 80));
        sf.Train(0, 0, 0, 0);
        QVERIFY2(sf.IsValid() || sf.Status() == TrainStatus::Untextured, qPrintable(what));
        cv::Mat copy = good.clone(), out;
        const float same = sf.Match(copy, out);
        QCOMPARE(out.size(), sz);
        QVERIFY(same >= 0.f && same <= 100.f);
        if (sf.IsValid())
            QVERIFY2(same >= 90.f, qPrintable(QString("%1: %2").arg(what).arg(same)));
        const float other = sf.Match(bad, out);
        QVERIFY2(other >= 0.f && other < 50.f, qPrintable(QString("%1: %2").arg(what).arg(other)));

        // A model needs a few pixels of shape; below that it is refused, above it is found.
        FindShape fs;
        const bool built = fs.CreateShape(good, 0.0, 0, 10, 0, 0, false, 255, cv::Mat(), 5, 10);
        QCOMPARE(built, sz.area() >= 16);
        cv::Mat search(sz.height + 20, sz.width + 30, CV_8UC1, cv::Scalar(128));
        good.copyTo(search(cv::Rect(cv::Point(13, 7), sz)));
        int x = 0, y = 0;
        double score = 0, angle = 0;
        const bool found = fs.Find(search, 0, &x, &y, &score, &angle);
        QCOMPARE(found, built);
        if (found) {
            // Reported: centre minus where the model's centre (w / 2, h / 2) lies in the search image.
            QCOMPARE(x, -(13 + sz.width / 2));
            QCOMPARE(y, -(7 + sz.height / 2));
        }
        int xs[100], ys[100];
        double as[100], count = -1;
        QCOMPARE(fs.Find(search, 100, xs, ys, &count, as), built);
        QVERIFY(count >= (built ? 1 : 0) && count <= 100);
    }
}

void TstVision::borderViewsAndColourInput()
{
    MouldScene scene;
    MouldScene s1 = scene, s2 = scene;
    s2.noiseSeed = 2;
    const cv::Mat f1 = s1.render(), f2 = s2.render();
    // A box in the bottom-right corner, passed as a view into the frame (rows not contiguous).
    const cv::Rect corner(640 - 90, 480 - 70, 90, 70);
    GrayMatch gm;
    QVERIFY(gm.Create(corner.width, corner.height, cv::Mat(), 0));
    QVERIFY(gm.AddTemp(f1(corner)));
    QVERIFY(gm.AddTemp(f2(corner)));
    QVERIFY(gm.Train(45, 0, 100, 150));
    MouldScene s3 = scene;
    s3.noiseSeed = 3;
    cv::Mat f3 = s3.render();
    cv::Mat diff;
    QVERIFY(gm.Match(f3(corner), diff));
    QCOMPARE(cv::countNonZero(diff), 0);
    f3(cv::Rect(640 - 5, 480 - 5, 5, 5)).setTo(cv::Scalar(255)); // a spot in the very corner pixel block
    QVERIFY(gm.Match(f3(corner), diff));
    QVERIFY(cv::countNonZero(diff(cv::Rect(corner.width - 7, corner.height - 7, 7, 7))) > 0);

    // Colour frames (3 and 4 channels) are judged on their grey image.
    cv::Mat bgr, bgra;
    cv::cvtColor(f3, bgr, cv::COLOR_GRAY2BGR);
    cv::cvtColor(f3, bgra, cv::COLOR_GRAY2BGRA);
    cv::Mat d3, d4;
    QVERIFY(gm.Match(bgr(corner), d3));
    QVERIFY(gm.Match(bgra(corner), d4));
    QCOMPARE(d3.type(), CV_8UC1);
    QCOMPARE(cv::countNonZero(d3 != diff), 0);
    QCOMPARE(cv::countNonZero(d4 != diff), 0);
    // An image type the matchers do not read is never a pass.
    cv::Mat deep;
    f3(corner).convertTo(deep, CV_16U);
    QVERIFY(!gm.Match(deep, diff));
    QCOMPARE(cv::countNonZero(diff), corner.area());

    const cv::Rect pb = scene.partBox();
    SURF sf;
    QVERIFY(sf.Create(pb.width, pb.height, cv::Mat()));
    cv::Mat bgrTemplate;
    cv::cvtColor(f1(pb), bgrTemplate, cv::COLOR_GRAY2BGR);
    QVERIFY(sf.AddTemp(bgrTemplate, 1, 50, 80));
    QVERIFY(sf.Train(0, 0, 0, 0));
    cv::Mat colourRoi = bgra(pb).clone(), out;
    QVERIFY(sf.Match(colourRoi, out) >= 80.f);
    cv::Mat deepRoi;
    f3(pb).convertTo(deepRoi, CV_16U);
    QCOMPARE(sf.Match(deepRoi, out), 0.f);

    // Positioning box at the frame's left edge, search clipped by the frame, colour search image.
    const cv::Rect box(0, 120, 200, 200);
    FindShape fs;
    QVERIFY(fs.CreateShape(bgr(box), 0.0, 0, 5, box.x + box.width / 2, box.y + box.height / 2, false, 255,
                           cv::Mat(box.size(), CV_8UC1, cv::Scalar(255)), 5, 5));
    MouldScene moved = scene;
    moved.noiseSeed = 4;
    cv::Mat shifted;
    cv::cvtColor(moved.render(cv::Point2d(6, -4)), shifted, cv::COLOR_GRAY2BGRA);
    const cv::Rect sr = cv::Rect(box.x - 20, box.y - 20, box.width + 40, box.height + 40) & cv::Rect(0, 0, 640, 480);
    cv::Mat search = shifted(sr);
    int x = 0, y = 0;
    double score = 0, angle = 0;
    QVERIFY(fs.Find(search, 0, &x, &y, &score, &angle));
    QCOMPARE(x - sr.x, -6);
    QCOMPARE(y - sr.y, 4);
    // Clipped below the model's size: not found rather than a guess.
    cv::Mat narrow = shifted(cv::Rect(0, 100, 199, 240));
    QVERIFY(!fs.Find(narrow, 0, &x, &y, &score, &angle));
    cv::Mat deepSearch;
    f3.convertTo(deepSearch, CV_16U);
    QVERIFY(!fs.Find(deepSearch, 0, &x, &y, &score, &angle));
}

void TstVision::outOfRangeParametersGiveDefinedResults()
{
    // Box sizes of zero or below are refused by every matcher.
    for (const cv::Size sz : {cv::Size(0, 0), cv::Size(0, 5), cv::Size(-3, 5), cv::Size(5, -1)}) {
        GrayMatch gm;
        QVERIFY(!gm.Create(sz.width, sz.height, cv::Mat(), 0));
        QVERIFY(!gm.AddTemp(noiseImage(5, 5, 1)));
        QVERIFY(!gm.Train(45, 0, 100, 150));
        QVERIFY(!gm.IsValid());
        SURF sf;
        QVERIFY(!sf.Create(sz.width, sz.height, cv::Mat()));
        QVERIFY(!sf.Train(0, 0, 0, 0));
        cv::Mat img = noiseImage(5, 5, 1), out;
        QCOMPARE(sf.Match(img, out), 0.f);
    }
    // Masks of another type than 8-bit grey are refused, not misread.
    GrayMatch typed;
    QVERIFY(!typed.Create(20, 20, cv::Mat(20, 20, CV_8UC3, cv::Scalar::all(255)), 0));
    SURF typedSurf;
    QVERIFY(!typedSurf.Create(20, 20, cv::Mat(20, 20, CV_16UC1, cv::Scalar(255))));
    FindShape typedShape;
    QVERIFY(!typedShape.CreateShape(noiseImage(40, 40, 2), 0.0, 0, 0, 20, 20, false, 255,
                                    cv::Mat(40, 40, CV_32F, cv::Scalar(1)), 5, 5));
    QCOMPARE(typedShape.Status(), TrainStatus::BadInput);

    // Sensitivity and factor outside their ranges act as the nearest limit; weights below zero as zero.
    MouldScene scene;
    cv::Mat img = scene.render();
    img(cv::Rect(220, 170, 6, 6)).setTo(cv::Scalar(0));
    for (const auto& [sens, limit] : {std::pair<int, int>(-50, 0), std::pair<int, int>(1000, 100)}) {
        cv::Mat a, b;
        trainedGrayMatch(scene, kDefectBox, cv::Mat(), sens, 0).Match(img(kDefectBox), a);
        trainedGrayMatch(scene, kDefectBox, cv::Mat(), limit, 0).Match(img(kDefectBox), b);
        QCOMPARE(cv::countNonZero(a != b), 0);
    }
    {
        cv::Mat a, b;
        trainedGrayMatch(scene, kDefectBox, cv::Mat(), 45, -7).Match(img(kDefectBox), a);
        trainedGrayMatch(scene, kDefectBox, cv::Mat(), 45, 0).Match(img(kDefectBox), b);
        QCOMPARE(cv::countNonZero(a != b), 0);
        trainedGrayMatch(scene, kDefectBox, cv::Mat(), 45, 99).Match(img(kDefectBox), a);
        trainedGrayMatch(scene, kDefectBox, cv::Mat(), 45, 4).Match(img(kDefectBox), b);
        QCOMPARE(cv::countNonZero(a != b), 0);
    }
    // No tolerance at all: the template itself still lies within its band, also
    // when it comes as a view into the frame while training kept a copy (the
    // pixels around the box must not leak into the box's border).
    GrayMatch zeroTol;
    zeroTol.Create(kDefectBox.width, kDefectBox.height, cv::Mat(), 0);
    zeroTol.AddTemp(scene.render()(kDefectBox));
    QVERIFY(zeroTol.Train(45, 0, -100, -100));
    const cv::Mat again = scene.render();
    cv::Mat diff;
    QVERIFY(zeroTol.Match(again(kDefectBox), diff));
    QCOMPARE(cv::countNonZero(diff), 0);

    // SURF: upright keypoints, no feature limit and pass scores outside 0..100 are all usable.
    const cv::Rect pb = scene.partBox();
    using Surfing = std::tuple<int, int, int>; // orientation, most keypoints, pass score
    for (const auto& [orientation, features, minScore] : {Surfing(0, 50, 80), Surfing(1, -5, -10), Surfing(7, 0, 1000)}) {
        SURF sf;
        sf.Create(pb.width, pb.height, cv::Mat());
        QVERIFY(sf.AddTemp(scene.render()(pb).clone(), orientation, features, minScore));
        QVERIFY(sf.Train(0, 0, 0, 0));
        MouldScene s = scene;
        s.noiseSeed = 5;
        cv::Mat same = s.render()(pb).clone(), out;
        const float score = sf.Match(same, out);
        QVERIFY2(score >= 80.f && score <= 100.f, qPrintable(QString::number(score)));
    }

    // FindShape: angle ranges, levels, accuracy, contrast and scores outside their ranges.
    const cv::Mat frame = scene.render();
    const cv::Rect box(200, 150, 200, 160);
    const cv::Point c(box.x + box.width / 2, box.y + box.height / 2);
    MouldScene moved = scene;
    moved.noiseSeed = 6;
    const cv::Rect sr(box.x - 20, box.y - 20, box.width + 40, box.height + 40);
    cv::Mat search = moved.render(cv::Point2d(5, -3))(sr);
    struct Params { double minScore; int range; int contrast; int accuracy; int levels; bool found; };
    for (const Params p : {Params{-5.0, -30, 0, -5, -3, true}, Params{0.0, 720, -1, 99, 0, true},
                           Params{0.0, 0, 1000, 0, 100, true}, Params{1000.0, 0, 255, 5, 5, false}}) {
        FindShape fs;
        QVERIFY(fs.CreateShape(frame(box), p.minScore, 0, p.range, c.x, c.y, false, p.contrast, cv::Mat(), p.accuracy,
                               p.levels));
        int x = 0, y = 0;
        double score = -1, angle = 99;
        QCOMPARE(fs.Find(search, 0, &x, &y, &score, &angle), p.found);
        QVERIFY(score >= 0 && score <= 100);
        if (p.found) {
            QCOMPARE(x - sr.x, -5);
            QCOMPARE(y - sr.y, 3);
            QVERIFY(std::fabs(angle) <= 0.5);
        }
        // Any target limit below two means one best match; null outputs are allowed.
        QCOMPARE(fs.Find(search, -4, nullptr, nullptr, nullptr, nullptr), p.found);
        int xs[2] = {0, 0}, ys[2] = {0, 0};
        double as[2] = {0, 0}, count = -1;
        QCOMPARE(fs.Find(search, 2, xs, ys, &count, as), p.found);
        QVERIFY(count >= 0 && count <= 2);
    }
}

void TstVision::hugeAngleRangeStaysAffordable()
{
    // A large model with the pyramid switched off and every angle asked for: an
    // angle-by-angle scan at full resolution would take minutes and gigabytes.
    MouldScene scene;
    const cv::Mat frame = scene.render();
    const cv::Rect box(160, 120, 320, 240); // the default positioning box of a 640x480 frame
    const cv::Point c(box.x + box.width / 2, box.y + box.height / 2);
    FindShape fs;
    QVERIFY(fs.CreateShape(frame(box), 0.0, 0, 180, c.x, c.y, false, 255, cv::Mat(), 10, 1));
    QVERIFY(fs.PyramidLevels() > 1);
    QVERIFY(fs.FinestAngleStep() < 0.2); // the full-resolution refinement is kept

    MouldScene s = scene;
    s.noiseSeed = 7;
    const cv::Mat turned = s.render(cv::Point2d(4, -3), 33.0, cv::Point2d(c.x, c.y));
    cv::Mat search = turned.clone();
    QElapsedTimer timer;
    timer.start();
    int x = 0, y = 0;
    double score = 0, angle = 0;
    QVERIFY(fs.Find(search, 0, &x, &y, &score, &angle));
    qInfo("whole-frame search over +-180 degrees: %lld ms", static_cast<long long>(timer.elapsed()));
    QVERIFY2(std::fabs(angle + 33.0) < 0.2, qPrintable(QString::number(angle)));
    QVERIFY(std::abs(c.x - x - (c.x + 4)) <= 1);
    QVERIFY(std::abs(c.y - y - (c.y - 3)) <= 1);
}

QTEST_MAIN(TstVision)
#include "tst_vision.moc"

#include "frame/imagetools.h"
#include "plugins/simcamera/partcases.h"
#include "plugins/simcamera/simscene.h"
#include "vision/findshape.h"
#include "vision/graymatch.h"
#include "vision/surf.h"

#include <opencv2/imgproc.hpp>

#include <QElapsedTimer>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {
// The engraved mould, 3 x 2 cavities, parts in. Mono noise repeats every four
// frames: templates are frames 0..2, "fresh" frames are 3 (mod 4).
SimScene mould(unsigned seed = 7)
{
    SimScene s;
    SimScene::Options o;
    o.seed = seed;
    o.cavitiesX = 3;
    o.cavitiesY = 2;
    o.parts = true;
    o.engraved = true;
    s.configure(o, 640, 480);
    return s;
}

cv::Mat shot(SimScene& s, quint64 n, cv::Point2d shift = {0, 0}, double angle = 0, std::vector<int> missing = {},
             cv::Point2d pivot = {-1, -1})
{
    SimScene::Shot sh;
    sh.pose = SimScene::Pose{shift, angle, pivot};
    sh.missing = std::move(missing);
    return s.frame(n, sh);
}

// A ROI crossing the left rim of cavity 1 and half its part, with plain steel on its left.
const cv::Rect kBox(190, 60, 140, 120);
const cv::Rect kPlain(205, 120, 6, 6); // plain steel inside kBox

GrayMatch trained(SimScene& s, const cv::Rect& box, const cv::Mat& mask, int sensitivity = 45, int factor = 0,
                  int toleranceWeight = 100, int spreadWeight = 150, quint64 frames = 3)
{
    GrayMatch gm;
    gm.Create(box.width, box.height, mask, 0);
    for (quint64 n = 0; n < frames; ++n)
        gm.AddTemp(s.frame(n)(box)); // a view into a frame buffer, as the engine passes it
    gm.Train(sensitivity, factor, toleranceWeight, spreadWeight);
    return gm;
}

int defects(const GrayMatch& gm, const cv::Mat& image)
{
    cv::Mat diff;
    gm.Match(image, diff);
    return cv::countNonZero(diff);
}

double meanDiff(const cv::Mat& a, const cv::Mat& b, const cv::Rect& box)
{
    cv::Mat d;
    cv::absdiff(a(box), b(box), d);
    return cv::mean(d)[0];
}

cv::Mat noiseImage(int rows, int cols, unsigned seed)
{
    cv::Mat m(rows, cols, CV_8UC1);
    cv::RNG(seed).fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}

// One best match of a model: found, the reported shift, score and angle.
struct Found
{
    bool ok = false;
    int x = 0, y = 0;
    double score = -1, angle = 99;
};
Found findOne(FindShape& fs, cv::Mat search)
{
    Found f;
    f.ok = fs.Find(search, 0, &f.x, &f.y, &f.score, &f.angle);
    return f;
}

// The matcher's score of an image it may work on in place.
float score(SURF& sf, cv::Mat image, cv::Mat& out) { return sf.Match(image, out); }
} // namespace

class TstVision : public QObject
{
    Q_OBJECT
private slots:
    void grayMatchPassesGoodFindsDefectsAndHonoursTolerance()
    {
        SimScene s = mould();
        const GrayMatch gm = trained(s, kBox, cv::Mat());

        // Good parts: fresh noise, and the mould up to one pixel off.
        for (const cv::Point2d d : {cv::Point2d(0, 0), cv::Point2d(1, 0), cv::Point2d(0, -1), cv::Point2d(-1, 1),
                                    cv::Point2d(0.5, 0.5)})
            QCOMPARE(defects(gm, shot(s, 3, d)(kBox)), 0);

        // (A part missing from its cavity: the engine's end-to-end test fails
        // the regions over a cavity whose content changed, frame after frame.)
        // A 5x5 spot of dirt on the plain steel: found where it is, and only there.
        cv::Mat img = s.frame(3);
        const cv::Rect spot(kPlain.tl(), cv::Size(5, 5));
        img(spot).setTo(cv::Scalar(cv::mean(img(spot))[0] - 70));
        cv::Mat diff;
        QVERIFY(gm.Match(img(kBox), diff));
        QCOMPARE(diff.size(), kBox.size());
        const int n = cv::countNonZero(diff);
        QVERIFY2(n >= 9 && n <= 49, qPrintable(QString::number(n)));
        const cv::Rect found = cv::boundingRect(diff);
        QVERIFY((found & (spot - kBox.tl())).area() > 0);
        QVERIFY(found.width <= 7 && found.height <= 7);

        // A faint stain passes at the default tolerance; a higher sensitivity or
        // a difference factor finds it.
        img = s.frame(3);
        img(spot).setTo(cv::Scalar(cv::mean(img(spot))[0] + 25));
        QCOMPARE(defects(trained(s, kBox, cv::Mat(), 45, 0), img(kBox)), 0);
        QVERIFY(defects(trained(s, kBox, cv::Mat(), 95, 0), img(kBox)) > 0);
        QVERIFY(defects(trained(s, kBox, cv::Mat(), 45, 4), img(kBox)) > 0);
        QVERIFY(GrayMatch::ToleranceFor(100) < GrayMatch::ToleranceFor(45));
        QVERIFY(GrayMatch::ToleranceFor(45) < GrayMatch::ToleranceFor(0));

        // Sensitivity and factor outside their ranges act as the nearest limit.
        img(spot).setTo(cv::Scalar(0));
        const auto same = [&](int s1, int f1, int s2, int f2) {
            cv::Mat a, b;
            trained(s, kBox, cv::Mat(), s1, f1).Match(img(kBox), a);
            trained(s, kBox, cv::Mat(), s2, f2).Match(img(kBox), b);
            return cv::countNonZero(a != b) == 0;
        };
        QVERIFY(same(-50, 0, 0, 0));
        QVERIFY(same(1000, 0, 100, 0));
        QVERIFY(same(45, -7, 45, 0));
        QVERIFY(same(45, 99, 45, 4));

        // No tolerance at all: the template itself still lies within its band, also
        // when it comes as a view into the frame while training kept a copy (the
        // pixels around the box must not leak into the box's border).
        const GrayMatch zeroTol = trained(s, kBox, cv::Mat(), 45, 0, -100, -100, 1);
        const cv::Mat again = s.frame(0);
        QVERIFY(zeroTol.Match(again(kBox), diff));
        QCOMPARE(cv::countNonZero(diff), 0);
    }

    void grayMatchHonoursItsMask()
    {
        SimScene s = mould();
        // Ring-shaped ROI with an ignore patch: only pixels inside the ring and outside the patch count.
        cv::Mat mask = cv::Mat::zeros(kBox.size(), CV_8UC1);
        cv::circle(mask, cv::Point(70, 60), 55, cv::Scalar(255), cv::FILLED);
        mask(cv::Rect(0, 0, 40, 40)).setTo(0);
        const GrayMatch gm = trained(s, kBox, mask);
        QVERIFY(gm.IsValid());

        // Another mould, inverted: defects everywhere, but never outside the mask.
        SimScene other = mould(99);
        cv::Mat wrong = 255 - other.frame(0)(kBox);
        cv::Mat diff;
        gm.Match(wrong, diff);
        QVERIFY(cv::countNonZero(diff) > 1000);
        cv::Mat outside;
        cv::bitwise_and(diff, ~mask, outside);
        QCOMPARE(cv::countNonZero(outside), 0);

        // A spot in the ignored corner is not seen; the same spot inside is.
        cv::Mat img = s.frame(3);
        img(cv::Rect(kBox.x + 10, kBox.y + 10, 6, 6)).setTo(0);
        QCOMPARE(defects(gm, img(kBox)), 0);
        img(cv::Rect(kBox.x + 20, kBox.y + 60, 6, 6)).setTo(0);
        QVERIFY(defects(gm, img(kBox)) > 0);
    }

    void matchersRefuseWhatTheyCannotJudge()
    {
        // Mask of the wrong size or type.
        GrayMatch gm;
        QVERIFY(!gm.Create(100, 80, cv::Mat(80, 99, CV_8UC1, cv::Scalar(255)), 0));
        QVERIFY(!gm.Train(45, 0, 100, 150));
        QCOMPARE(gm.Status(), TrainStatus::BadInput);
        QVERIFY(!gm.Create(20, 20, cv::Mat(20, 20, CV_8UC3, cv::Scalar::all(255)), 0));

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

        // Box sizes of zero or below are refused by every matcher.
        for (const cv::Size sz : {cv::Size(0, 0), cv::Size(0, 5), cv::Size(-3, 5), cv::Size(5, -1)}) {
            GrayMatch g;
            QVERIFY(!g.Create(sz.width, sz.height, cv::Mat(), 0));
            QVERIFY(!g.AddTemp(noiseImage(5, 5, 1)));
            QVERIFY(!g.Train(45, 0, 100, 150));
            SURF sf;
            QVERIFY(!sf.Create(sz.width, sz.height, cv::Mat()));
            QVERIFY(!sf.Train(0, 0, 0, 0));
            cv::Mat img = noiseImage(5, 5, 1), out;
            QCOMPARE(sf.Match(img, out), 0.f);
        }
        SURF typedSurf;
        QVERIFY(!typedSurf.Create(20, 20, cv::Mat(20, 20, CV_16UC1, cv::Scalar(255))));
        FindShape typedShape;
        QVERIFY(!typedShape.CreateShape(noiseImage(40, 40, 2), 0.0, 0, 0, 20, 20, false, 255,
                                        cv::Mat(40, 40, CV_32F, cv::Scalar(1)), 5, 5));
        QCOMPARE(typedShape.Status(), TrainStatus::BadInput);
    }

    void surfScoresSamePartHighAndOtherPartLow()
    {
        SimScene s = mould();
        const cv::Rect box = s.partRect(1);
        SURF sf;
        QVERIFY(sf.Create(box.width, box.height, cv::Mat()));
        for (quint64 n = 0; n < 2; ++n)
            QVERIFY(sf.AddTemp(s.frame(n)(box).clone(), 1, 50, 80));
        QVERIFY(sf.Train(0, 0, 0, 0));
        QVERIFY(sf.IsValid());
        QCOMPARE(sf.FeatureTemplates(), 2);

        cv::Mat same = shot(s, 3, {1, -1})(box).clone();
        cv::Mat out;
        const float high = sf.Match(same, out);
        QVERIFY2(high >= 80, qPrintable(QString::number(high)));
        QCOMPARE(out.size(), box.size());
        QCOMPARE(cv::countNonZero(out), 0);

        // A quarter covered scores in between: the score grows with similarity.
        cv::Mat covered = same.clone();
        covered(cv::Rect(0, 0, box.width / 2, box.height / 2)).setTo(cv::Scalar(60));
        const float mid = sf.Match(covered, out);
        QVERIFY2(mid > 30 && mid < high - 10, qPrintable(QString::number(mid)));

        // Another mould's empty cavity in the same place, another place of
        // the same mould: low, and the missing structure is marked. A covered
        // lens scores nothing.
        SimScene other = mould(31);
        for (const cv::Mat& wrong : {shot(other, 0, {0, 0}, 0, {1})(box).clone(),
                                     s.frame(3)(cv::Rect(300, 190, box.width, box.height)).clone()}) {
            const float low = score(sf, wrong, out);
            QVERIFY2(low <= 30, qPrintable(QString::number(low)));
            QVERIFY(cv::countNonZero(out) > 0);
        }
        QCOMPARE(score(sf, cv::Mat(box.size(), CV_8UC1, cv::Scalar(128)), out), 0.f);

        // Upright keypoints, no feature limit and pass scores outside 0..100 are all usable.
        using Surfing = std::tuple<int, int, int>; // orientation, most keypoints, pass score
        for (const auto& [orientation, features, minScore] : {Surfing(0, 50, 80), Surfing(1, -5, -10), Surfing(7, 0, 1000)}) {
            SURF p;
            p.Create(box.width, box.height, cv::Mat());
            QVERIFY(p.AddTemp(s.frame(0)(box).clone(), orientation, features, minScore));
            QVERIFY(p.Train(0, 0, 0, 0));
            const float f = score(p, s.frame(3)(box).clone(), out);
            QVERIFY2(f >= 80.f && f <= 100.f, qPrintable(QString::number(f)));
        }
    }

    void surfSeesOneSmallFeatureOfAPart()
    {
        // A similarity ROI around one part at the matcher's default settings:
        // a good part a little off, turned, brighter or darker and noisy passes
        // with room; the same part with one pin, hole or chip of 2-5 % of the
        // box, or another article, fails; and what differs is marked there.
        PartCases cases;
        std::vector<SURF> matchers(size_t(cases.cavities()));
        for (int c = 0; c < cases.cavities(); ++c) {
            const cv::Rect box = cases.box(c);
            SURF& sf = matchers[size_t(c)];
            QVERIFY(sf.Create(box.width, box.height, cv::Mat()));
            for (const cv::Mat& t : cases.templates(c))
                QVERIFY(sf.AddTemp(t, 1, 50, 80));
            QVERIFY(sf.Train(0, 0, 0, 0));
            QCOMPARE(sf.FeatureTemplates(), 10);
        }
        for (int k = 0; k < PartCases::KindCount; ++k) {
            std::vector<float> scores;
            for (int i = 0; i < 32; ++i) {
                const PartCases::Case cs = cases.make(PartCases::Kind(k), i);
                cv::Mat roi = cs.roi(), out;
                const float v = matchers[size_t(cs.cavity)].Match(roi, out);
                scores.push_back(v);
                const QString what = QString("%1 %2: %3").arg(PartCases::name(cs.kind)).arg(i).arg(v);
                QVERIFY2(k == PartCases::Good ? v >= 90 : v < 80, qPrintable(what));
                if (cs.flaw.empty())
                    continue;
                // The part moved by up to 3 px and turned by up to 1.3 px at the box's edge.
                const cv::Rect near = cv::Rect(cs.flaw.tl() - cs.box.tl() - cv::Point(6, 6), cs.flaw.size() + cv::Size(12, 12));
                const int marked = cv::countNonZero(out), there = cv::countNonZero(out(near & cv::Rect(cv::Point(), out.size())));
                QVERIFY2(there > 0 && there >= 0.9 * marked, qPrintable(QString("%1, %2 of %3 marked there").arg(what).arg(there).arg(marked)));
            }
            std::sort(scores.begin(), scores.end());
            qInfo("%-11s min %5.1f  median %5.1f  max %5.1f", PartCases::name(PartCases::Kind(k)), double(scores.front()),
                  double(scores[scores.size() / 2]), double(scores.back()));
        }
    }

    void surfFallsBackToCorrelationAndRefusesFlatTemplates()
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
        const float f = score(soft, shade.t(), out);
        QVERIFY2(f < 50, qPrintable(QString::number(f)));
        QVERIFY(cv::countNonZero(out) > 0);
        QCOMPARE(score(soft, 255 - shade, out), 0.f);
        QCOMPARE(soft.Match(plain, out), 0.f);

        SURF none;
        QVERIFY(none.Create(80, 80, cv::Mat()));
        QVERIFY(!none.Train(0, 0, 0, 0));
        QCOMPARE(none.Status(), TrainStatus::NoTemplate);
    }

    void findShapeRestoresShiftedAndRotatedMould()
    {
        SimScene s = mould();
        const cv::Mat tmpl = s.frame(0);
        const cv::Rect frameRect(0, 0, 640, 480);

        // Shifts only: whole pixels back, and the moved frame lies on the template again.
        const cv::Rect box(200, 150, 220, 160);
        FindShape fs;
        QVERIFY(fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, box.x + box.width / 2, box.y + box.height / 2, false, 255,
                               cv::Mat(box.size(), CV_8UC1, cv::Scalar(255)), 5, 10));
        QVERIFY(fs.PyramidLevels() >= 3);
        const cv::Rect sr = cv::Rect(box.x - 40, box.y - 40, box.width + 80, box.height + 80) & frameRect;
        for (const cv::Point d : {cv::Point(0, 0), cv::Point(13, -7), cv::Point(-25, 31), cv::Point(38, 38)}) {
            const cv::Mat frame = shot(s, 3, d);
            const Found f = findOne(fs, frame(sr).clone());
            QVERIFY(f.ok);
            QVERIFY2(f.score > 80, qPrintable(QString::number(f.score)));
            QCOMPARE(f.angle, 0.0);
            QCOMPARE(cv::Point(f.x - sr.x, f.y - sr.y), -d);
            cv::Mat work;
            MoveImage(frame, work, f.x - sr.x, f.y - sr.y);
            QVERIFY(meanDiff(work, tmpl, box) < 5.0);
        }
        // Whole-frame search (offset 8000): the search rectangle is the frame itself.
        const Found whole = findOne(fs, shot(s, 7, {-60, 45}));
        QVERIFY(whole.ok);
        QCOMPARE(cv::Point(whole.x, whole.y), cv::Point(60, -45));

        // Turned and shifted about various pivots: the centre lands within a pixel,
        // the angle within a quarter of the finest step.
        const cv::Rect rbox(190, 140, 260, 200);
        const cv::Point c(rbox.x + rbox.width / 2, rbox.y + rbox.height / 2);
        FindShape rs;
        QVERIFY(rs.CreateShape(tmpl(rbox).clone(), 0.0, 0, 15, c.x, c.y, false, 255, cv::Mat(), 5, 10));
        const double step = rs.FinestAngleStep();
        QVERIFY(step > 0 && step < 0.5);
        const cv::Rect rsr = cv::Rect(rbox.x - 50, rbox.y - 50, rbox.width + 100, rbox.height + 100) & frameRect;
        for (const SimScene::Pose m : {SimScene::Pose{{0, 0}, 4.0, {320, 240}}, SimScene::Pose{{9, -6}, -7.3, {300, 200}},
                                       SimScene::Pose{{-14, 11}, 11.6, {400, 300}}, SimScene::Pose{{3, 2}, 0.0, {320, 240}}}) {
            const cv::Mat frame = shot(s, 3, m.shift, m.angle, {}, m.pivot);
            const Found f = findOne(rs, frame(rsr).clone());
            QVERIFY(f.ok);
            const cv::Point2d truth = s.movePoint(c, m);
            const double u = rsr.x + (c.x - f.x), v = rsr.y + (c.y - f.y);
            QVERIFY2(std::hypot(u - truth.x, v - truth.y) <= 1.0,
                     qPrintable(QString("%1,%2 vs %3,%4").arg(u).arg(v).arg(truth.x).arg(truth.y)));
            QVERIFY2(std::fabs(f.angle + m.angle) <= 0.25 * step,
                     qPrintable(QString("angle %1 for %2, step %3").arg(f.angle).arg(m.angle).arg(step)));
            cv::Mat work;
            TransformImage(frame, work, cv::Point(f.x - rsr.x, f.y - rsr.y), c, f.angle);
            const double md = meanDiff(work, tmpl, rbox);
            QVERIFY2(md < 8.0, qPrintable(QString::number(md)));
        }
    }

    void findShapeFindsPlainAndTurnedCopiesForGeneration()
    {
        // A tray of pins: the operator outlines one, generation finds all of them,
        // upright or turned, best first, and reports each one's angle.
        cv::Mat pin(64, 64, CV_8UC1, cv::Scalar(90));
        cv::circle(pin, cv::Point(32, 32), 24, cv::Scalar(200), cv::FILLED, cv::LINE_AA);
        cv::rectangle(pin, cv::Rect(14, 28, 36, 8), cv::Scalar(40), cv::FILLED);
        cv::circle(pin, cv::Point(42, 18), 5, cv::Scalar(30), cv::FILLED);
        struct Copy { cv::Point at; double angle; };
        for (const double range : {0.0, 30.0}) {
            const std::vector<Copy> at = range == 0
                ? std::vector<Copy>{{{40, 40}, 0}, {{200, 60}, 0}, {{420, 30}, 0}, {{90, 300}, 0}, {{330, 250}, 0}, {{520, 380}, 0}}
                : std::vector<Copy>{{{60, 60}, 0.0}, {{300, 100}, 17.0}, {{480, 320}, -24.0}};
            cv::Mat tray(480, 640, CV_8UC1, cv::Scalar(90));
            for (const Copy& p : at) {
                cv::Mat turned;
                cv::warpAffine(pin, turned, cv::getRotationMatrix2D(cv::Point2f(32, 32), p.angle, 1.0), pin.size(),
                               cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(90));
                turned.copyTo(tray(cv::Rect(p.at, pin.size())));
            }
            cv::Mat noise(tray.size(), CV_8SC1);
            cv::randn(noise, 0, 3);
            cv::add(tray, noise, tray, cv::noArray(), CV_8U);

            const cv::Rect pat(at[0].at, pin.size());
            FindShape fs;
            QVERIFY(fs.CreateShape(tray(pat).clone(), 60.0, 0, int(range), pat.x + 32, pat.y + 32, false, 255, cv::Mat(),
                                   5, 10));
            int xs[100], ys[100];
            double as[100], count = 0;
            QVERIFY(fs.Find(tray, 100, xs, ys, &count, as));
            QCOMPARE(int(count), int(at.size()));
            for (const Copy& p : at) {
                int seen = 0;
                for (int i = 0; i < int(count); ++i) {
                    // The generation's shift (origin - reported) lands each copy on a pin.
                    const cv::Point landed = pat.tl() + cv::Point(-xs[i], -ys[i]);
                    const int tol = range == 0 ? 0 : 1; // upright copies land exactly
                    if (std::abs(landed.x - p.at.x) <= tol && std::abs(landed.y - p.at.y) <= tol) {
                        ++seen;
                        QVERIFY2(std::fabs(as[i] + p.angle) < 0.5, qPrintable(QString("%1 for %2").arg(as[i]).arg(p.angle)));
                    }
                }
                QVERIFY2(seen == 1, qPrintable(QString("%1,%2").arg(p.at.x).arg(p.at.y)));
            }
            for (int i = 1; i < int(count); ++i)
                QVERIFY(fs.LastScores()[size_t(i - 1)] >= fs.LastScores()[size_t(i)]);

            if (range == 0) {
                // The right half alone: origin (320, 0), only its three pins.
                cv::Mat right = tray(cv::Rect(320, 0, 320, 480));
                QVERIFY(fs.Find(right, 100, xs, ys, &count, as));
                QCOMPARE(int(count), 3);
                for (int i = 0; i < 3; ++i)
                    QVERIFY(pat.x + 320 - xs[i] >= 320);
                // Nothing like the pattern: no targets.
                cv::Mat blank(480, 640, CV_8UC1, cv::Scalar(90));
                QVERIFY(!fs.Find(blank, 100, xs, ys, &count, as));
                QCOMPARE(count, 0.0);
            }
        }
    }

    void findShapeHonoursMaskAndPolarity()
    {
        SimScene s = mould();
        const cv::Mat tmpl = s.frame(0);
        const cv::Rect part = s.partRect(4);
        const cv::Rect box(part.x - 60, part.y - 70, part.width + 120, part.height + 100);
        const cv::Point c(box.x + box.width / 2, box.y + box.height / 2);

        // The masked-out part is missing; the masked model still positions on its surroundings.
        cv::Mat mask(box.size(), CV_8UC1, cv::Scalar(255));
        mask(part - box.tl()).setTo(0);
        FindShape fs;
        QVERIFY(fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, c.x, c.y, false, 255, mask, 5, 10));
        const cv::Rect sr = cv::Rect(box.x - 30, box.y - 30, box.width + 60, box.height + 60) & cv::Rect(0, 0, 640, 480);
        const cv::Mat search = shot(s, 3, {-11, 6}, 0, {4})(sr).clone();
        Found f = findOne(fs, search);
        QVERIFY(f.ok);
        QCOMPARE(cv::Point(f.x - sr.x, f.y - sr.y), cv::Point(11, -6));
        QVERIFY2(f.score > 90, qPrintable(QString::number(f.score)));

        // Polarity: an inverted image matches only when polarity is ignored.
        const cv::Mat inverted = 255 - search;
        QVERIFY(!findOne(fs, inverted).ok);
        QVERIFY(fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, c.x, c.y, true, 255, mask, 5, 10));
        f = findOne(fs, inverted);
        QVERIFY(f.ok);
        QCOMPARE(f.x - sr.x, 11);
    }

    void findShapeReportsFailuresAndClampsParameters()
    {
        SimScene s = mould();
        const cv::Mat tmpl = s.frame(0);
        const cv::Rect box = s.partRect(1);
        const cv::Point c(box.x + box.width / 2, box.y + box.height / 2);

        FindShape fs;
        const cv::Mat frame = tmpl.clone();
        QVERIFY(!findOne(fs, frame).ok); // never built
        QVERIFY(!fs.CreateShape(cv::Mat(), 0.0, 0, 0, c.x, c.y, false, 255, cv::Mat(), 5, 10));
        QCOMPARE(fs.Status(), TrainStatus::BadInput);
        QVERIFY(!fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, c.x, c.y, false, 255,
                                cv::Mat(box.height, box.width + 1, CV_8UC1, cv::Scalar(255)), 5, 10));
        QVERIFY(!fs.IsValid());
        QCOMPARE(fs.Status(), TrainStatus::BadInput);
        QVERIFY(!findOne(fs, frame).ok);

        // A model without texture would fit any plain surface: untrained.
        cv::Mat plain(box.size(), CV_8UC1);
        cv::randn(plain, 120, 1.5);
        QVERIFY(!fs.CreateShape(plain, 0.0, 0, 10, c.x, c.y, false, 255, cv::Mat(), 5, 10));
        QCOMPARE(fs.Status(), TrainStatus::Untextured);
        // A contrast demand the model cannot meet.
        QVERIFY(!fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, c.x, c.y, false, 254, cv::Mat(), 5, 10));
        QCOMPARE(fs.Status(), TrainStatus::LowContrast);

        QVERIFY(fs.CreateShape(tmpl(box).clone(), 0.0, 0, 0, c.x, c.y, false, 255, cv::Mat(), 5, 10));
        QVERIFY(!findOne(fs, cv::Mat()).ok);
        QVERIFY(!findOne(fs, tmpl(cv::Rect(box.x, box.y, box.width - 1, box.height)).clone()).ok);
        // The part is missing from the cavity and the surroundings are cut away: not found.
        QVERIFY(!findOne(fs, shot(s, 3, {0, 0}, 0, {1})(box).clone()).ok);
        fs.Clear();
        QVERIFY(!fs.IsValid());

        // Angle ranges, levels, accuracy, contrast and scores outside their ranges.
        const cv::Rect pbox(200, 150, 200, 160);
        const cv::Point pc(pbox.x + pbox.width / 2, pbox.y + pbox.height / 2);
        const cv::Rect sr(pbox.x - 20, pbox.y - 20, pbox.width + 40, pbox.height + 40);
        cv::Mat moved = shot(s, 3, {5, -3})(sr);
        struct Params { double minScore; int range; int contrast; int accuracy; int levels; bool found; };
        for (const Params p : {Params{-5.0, -30, 0, -5, -3, true}, Params{0.0, 720, -1, 99, 0, true},
                               Params{0.0, 0, 1000, 0, 100, true}, Params{1000.0, 0, 255, 5, 5, false}}) {
            FindShape f;
            QVERIFY(f.CreateShape(tmpl(pbox), p.minScore, 0, p.range, pc.x, pc.y, false, p.contrast, cv::Mat(), p.accuracy,
                                  p.levels));
            const Found one = findOne(f, moved);
            QCOMPARE(one.ok, p.found);
            QVERIFY(one.score >= 0 && one.score <= 100);
            if (p.found) {
                QCOMPARE(cv::Point(one.x - sr.x, one.y - sr.y), cv::Point(-5, 3));
                QVERIFY(std::fabs(one.angle) <= 0.5);
            }
            // Any target limit below two means one best match; null outputs are allowed.
            QCOMPARE(f.Find(moved, -4, nullptr, nullptr, nullptr, nullptr), p.found);
            int xs[2] = {0, 0}, ys[2] = {0, 0};
            double as[2] = {0, 0}, count = -1;
            QCOMPARE(f.Find(moved, 2, xs, ys, &count, as), p.found);
            QVERIFY(count >= 0 && count <= 2);
        }
    }

    void oddSizesAndTinyBoxesGiveDefinedResults()
    {
        // Boxes an operator can draw at the limit: a 1-pixel-wide strip, a 3x3 dot, a 1x1 pixel.
        for (const cv::Size sz : {cv::Size(1, 1), cv::Size(3, 3), cv::Size(2, 7), cv::Size(1, 40), cv::Size(40, 1),
                                  cv::Size(5, 5), cv::Size(17, 9), cv::Size(15, 300), cv::Size(301, 1)}) {
            const QString what = QString("%1x%2").arg(sz.width).arg(sz.height);
            const cv::Mat good = noiseImage(sz.height, sz.width, 3);
            cv::Mat bad = 255 - good; // most pixels far outside the learnt band

            GrayMatch gm;
            QVERIFY2(gm.Create(sz.width, sz.height, cv::Mat(), 0), qPrintable(what));
            QVERIFY(gm.AddTemp(good));
            QVERIFY2(gm.Train(45, 0, 100, 150), qPrintable(what));
            cv::Mat diff;
            QVERIFY(gm.Match(good, diff));
            QCOMPARE(diff.size(), sz);
            QCOMPARE(cv::countNonZero(diff), 0);
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
            if (sf.IsValid())
                QVERIFY2(same >= 90.f && same <= 100.f, qPrintable(QString("%1: %2").arg(what).arg(same)));
            const float other = sf.Match(bad, out);
            QVERIFY2(other >= 0.f && other < 50.f, qPrintable(QString("%1: %2").arg(what).arg(other)));

            // A model needs a few pixels of shape; below that it is refused, above it is found.
            FindShape fs;
            const bool built = fs.CreateShape(good, 0.0, 0, 10, 0, 0, false, 255, cv::Mat(), 5, 10);
            QCOMPARE(built, sz.area() >= 16);
            cv::Mat search(sz.height + 20, sz.width + 30, CV_8UC1, cv::Scalar(128));
            good.copyTo(search(cv::Rect(cv::Point(13, 7), sz)));
            const Found f = findOne(fs, search);
            QCOMPARE(f.ok, built);
            // Reported: centre minus where the model's centre (w / 2, h / 2) lies in the search image.
            if (built)
                QCOMPARE(cv::Point(f.x, f.y), -cv::Point(13 + sz.width / 2, 7 + sz.height / 2));
            int xs[100], ys[100];
            double as[100], count = -1;
            QCOMPARE(fs.Find(search, 100, xs, ys, &count, as), built);
            QVERIFY(count >= (built ? 1 : 0) && count <= 100);
        }
    }

    void borderViewsAndColourInput()
    {
        SimScene s = mould();
        const cv::Mat f0 = s.frame(0);
        cv::Mat f3 = s.frame(3);
        // A box in the bottom-right corner, trained on views into the frames (rows not contiguous).
        const cv::Rect corner(640 - 90, 480 - 70, 90, 70);
        const GrayMatch gm = trained(s, corner, cv::Mat());
        cv::Mat diff;
        QVERIFY(gm.Match(f3(corner), diff));
        QCOMPARE(cv::countNonZero(diff), 0);
        f3(cv::Rect(640 - 5, 480 - 5, 5, 5)).setTo(cv::Scalar(255)); // a spot in the very corner pixel block
        QVERIFY(gm.Match(f3(corner), diff));
        QVERIFY(cv::countNonZero(diff(cv::Rect(corner.width - 7, corner.height - 7, 7, 7))) > 0);

        // Colour frames (3 and 4 channels) are judged on their grey image.
        cv::Mat bgr, bgra, d3, d4;
        cv::cvtColor(f3, bgr, cv::COLOR_GRAY2BGR);
        cv::cvtColor(f3, bgra, cv::COLOR_GRAY2BGRA);
        QVERIFY(gm.Match(bgr(corner), d3));
        QVERIFY(gm.Match(bgra(corner), d4));
        QCOMPARE(cv::countNonZero(d3 != diff), 0);
        QCOMPARE(cv::countNonZero(d4 != diff), 0);
        // An image type the matchers do not read is never a pass.
        cv::Mat deep;
        f3.convertTo(deep, CV_16U);
        QVERIFY(!gm.Match(deep(corner), diff));
        QCOMPARE(cv::countNonZero(diff), corner.area());

        const cv::Rect cav = s.cavities()[1];
        SURF sf;
        QVERIFY(sf.Create(cav.width, cav.height, cv::Mat()));
        cv::Mat bgrTemplate;
        cv::cvtColor(f0(cav), bgrTemplate, cv::COLOR_GRAY2BGR);
        QVERIFY(sf.AddTemp(bgrTemplate, 1, 50, 80));
        QVERIFY(sf.Train(0, 0, 0, 0));
        cv::Mat out;
        QVERIFY(score(sf, bgra(cav).clone(), out) >= 80.f);
        QCOMPARE(score(sf, deep(cav).clone(), out), 0.f);

        // Positioning box at the frame's left edge, search clipped by the frame, colour search image.
        const cv::Rect box(0, 120, 200, 200);
        FindShape fs;
        QVERIFY(fs.CreateShape(bgr(box), 0.0, 0, 5, box.x + box.width / 2, box.y + box.height / 2, false, 255,
                               cv::Mat(box.size(), CV_8UC1, cv::Scalar(255)), 5, 5));
        cv::Mat shifted;
        cv::cvtColor(shot(s, 7, {6, -4}), shifted, cv::COLOR_GRAY2BGRA);
        const cv::Rect sr = cv::Rect(box.x - 20, box.y - 20, box.width + 40, box.height + 40) & cv::Rect(0, 0, 640, 480);
        const Found f = findOne(fs, shifted(sr));
        QVERIFY(f.ok);
        QCOMPARE(cv::Point(f.x - sr.x, f.y - sr.y), cv::Point(-6, 4));
        // Clipped below the model's size: not found rather than a guess.
        QVERIFY(!findOne(fs, shifted(cv::Rect(0, 100, 199, 240))).ok);
        QVERIFY(!findOne(fs, deep).ok);
    }

    void hugeAngleRangeStaysAffordable()
    {
        // A large model with the pyramid switched off and every angle asked for: an
        // angle-by-angle scan at full resolution would take minutes and gigabytes.
        SimScene s = mould();
        const cv::Mat frame = s.frame(0);
        const cv::Rect box(160, 120, 320, 240); // the default positioning box of a 640x480 frame
        const cv::Point c(box.x + box.width / 2, box.y + box.height / 2);
        FindShape fs;
        QVERIFY(fs.CreateShape(frame(box), 0.0, 0, 180, c.x, c.y, false, 255, cv::Mat(), 10, 1));
        QVERIFY(fs.PyramidLevels() > 1);
        QVERIFY(fs.FinestAngleStep() < 0.2); // the full-resolution refinement is kept

        QElapsedTimer timer;
        timer.start();
        const Found f = findOne(fs, shot(s, 3, {4, -3}, 33.0, {}, cv::Point2d(c.x, c.y)));
        qInfo("whole-frame search over +-180 degrees: %lld ms", static_cast<long long>(timer.elapsed()));
        QVERIFY(f.ok);
        QVERIFY2(std::fabs(f.angle + 33.0) < 0.2, qPrintable(QString::number(f.angle)));
        QVERIFY(std::abs(f.x + 4) <= 1 && std::abs(f.y - 3) <= 1);
    }

    void sceneFramesAgreeWithTheirGeometry()
    {
        // Tests and benchmarks place their ROIs by what the scene says; a scene
        // drawing elsewhere would make them pass or fail for the wrong reason.
        SimScene unconfigured; // usable as it is: the camera's defaults
        QVERIFY(unconfigured.frame(0).size() == cv::Size(1280, 1024));
        SimScene::Options o;
        o.cavitiesX = 3;
        SimScene s;
        s.configure(o, 480, 320);
        QCOMPARE(int(s.cavities().size()), 6);
        QVERIFY(s.frame(5).size() == s.size());
        QCOMPARE(cv::norm(s.frame(1), s.frame(5), cv::NORM_INF), 0.0); // a pure function of the frame number

        // A known pose moves a landmark (the centre of cavity 0's part hole) where movePoint says.
        SimScene::Shot shot;
        shot.pose = SimScene::Pose{{12, -5}, 9.0};
        shot.hMirror = true;
        shot.leftBehind = true;
        shot.leftBehindCavity = 0;
        const cv::Mat moved = s.frame(0, shot);
        const cv::Rect p = s.partRect(0);
        const cv::Point2d hole = s.movePoint(cv::Point2d(p.x + p.width / 2, p.y + p.height / 2), *shot.pose);
        QVERIFY(moved.at<uchar>(cv::Point(int(s.width() - 1 - hole.x), int(hole.y))) < 90); // the dark hole, mirrored
        QVERIFY(moved.at<uchar>(cv::Point(int(s.width() - 1 - hole.x), int(hole.y) + p.height / 3)) > 150); // the cap

        shot = SimScene::Shot();
        shot.color = true;
        shot.brightness = 0.5;
        const cv::Mat colour = s.frame(0, shot);
        QCOMPARE(colour.type(), CV_8UC4);
        QCOMPARE(cv::countNonZero(colour.reshape(1, int(colour.total())).col(3) != 255), 0);
    }

    void sceneMovesMonoFramesAsTheLibraryWould()
    {
        // Frames stay what they were when the library moved them: random
        // texture shows any pixel off by one, turns of any size send the
        // corners through the reflected border, a tiny frame reflects twice.
        cv::RNG rng(11);
        for (const cv::Size size : {cv::Size(1280, 1024), cv::Size(97, 61), cv::Size(7, 5)}) {
            cv::Mat src(size, CV_8UC1), noise(size, CV_8SC1);
            rng.fill(src, cv::RNG::UNIFORM, 0, 256);
            rng.fill(noise, cv::RNG::UNIFORM, -3, 4);
            for (const double angle : {0.0, 0.37, -2.5, 33.0, 135.0, -90.0}) {
                cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(size.width / 2.f, size.height / 2.f), angle, 1.0);
                m.at<double>(0, 2) += rng.uniform(-9.0, 9.0);
                m.at<double>(1, 2) += rng.uniform(-9.0, 9.0);
                cv::Mat want, sum;
                cv::warpAffine(src, want, m, size, cv::INTER_LINEAR, cv::BORDER_REFLECT);
                want.convertTo(sum, CV_16S);
                cv::add(sum, noise, sum, cv::noArray(), CV_16S);
                sum.convertTo(want, CV_8U);
                cv::Mat got;
                SimScene::warpWithNoise(src, m, noise, got);
                QVERIFY2(cv::norm(want, got, cv::NORM_INF) == 0,
                         qPrintable(QString("%1 x %2, %3 degrees: %4 pixels differ").arg(size.width).arg(size.height)
                                        .arg(angle).arg(cv::countNonZero(want != got))));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TstVision)
#include "tst_vision.moc"

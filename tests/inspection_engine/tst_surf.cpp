#include "plugins/simcamera/simscene.h"
#include "vision/surf.h"

#include <opencv2/imgproc.hpp>

#include <QJsonObject>
#include <QtTest>

Q_DECLARE_METATYPE(cv::Rect)

// The similarity matcher on mould images as the engine feeds it: ten good
// templates with a little jitter, then parts slightly off and turned. (A part
// left in the cavity fails the similarity regions of the engine's end-to-end
// test; the marking of what differs is the vision test's.)
class TstSurf : public QObject
{
    Q_OBJECT
private slots:
    void smallMisregistrationCostsNoScore_data();
    void smallMisregistrationCostsNoScore();
    void partFurtherOffIsFoundByItsFeatures();
};

namespace {

SimScene& scene()
{
    static SimScene s;
    static bool made = false;
    if (!made) {
        s.configure(QJsonObject{{"seed", 5}}, 1280, 1024);
        made = true;
    }
    return s;
}

cv::Mat frame(quint64 n, cv::Point2d shift = {}, double angle = 0, cv::Point2f pivot = {})
{
    cv::Mat f;
    scene().render(n, false, 1.0, false, false, SimScene::Faults(), f);
    if (shift != cv::Point2d() || angle != 0) {
        cv::Mat m = cv::getRotationMatrix2D(pivot, angle, 1.0);
        m.at<double>(0, 2) += shift.x;
        m.at<double>(1, 2) += shift.y;
        cv::warpAffine(f, f, m, f.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    }
    return f;
}

SURF trained(const cv::Rect& box)
{
    SURF sf;
    sf.Create(box.width, box.height, cv::Mat());
    for (int k = 0; k < 10; ++k) {
        // Good templates sit up to a pixel apart.
        const cv::Mat f = frame(quint64(k), cv::Point2d(k % 3 - 1, (k / 3) % 3 - 1));
        sf.AddTemp(f(box).clone(), 1, 50, 80);
    }
    sf.Train(0, 0, 0, 0);
    return sf;
}

} // namespace

void TstSurf::smallMisregistrationCostsNoScore_data()
{
    QTest::addColumn<cv::Rect>("box");
    const cv::Rect cav = scene().cavities()[0];
    // The cavity with its rim and ejector pins; its plain floor; textured plate.
    QTest::newRow("cavity") << cv::Rect(cav.x - 10, cav.y - 10, 150, 150);
    QTest::newRow("plain floor") << cv::Rect(cav.x + 40, cav.y + 60, 150, 150);
    QTest::newRow("plate") << cv::Rect(cav.br().x + 20, cav.y + 100, 150, 150);
}

void TstSurf::smallMisregistrationCostsNoScore()
{
    QFETCH(cv::Rect, box);
    SURF sf = trained(box);
    QVERIFY(sf.IsValid());
    const cv::Point2f centre(box.x + box.width / 2.f, box.y + box.height / 2.f);
    cv::Mat out;
    QString scores;
    float atZero = 0;
    for (int s = 0; s <= 3; ++s) {
        cv::Mat roi = frame(quint64(20 + s), cv::Point2d(s, -s), s ? 0.5 : 0.0, centre)(box).clone();
        const float score = sf.Match(roi, out);
        scores += QString(" %1").arg(score);
        if (s == 0)
            atZero = score;
        QVERIFY2(score >= 90 && score >= atZero - 5, qPrintable(scores));
    }
    qInfo("shift 0..3 px scores:%s (%d keypoint, %d correlation templates)", qPrintable(scores), sf.FeatureTemplates(), sf.CorrelationTemplates());
}

void TstSurf::partFurtherOffIsFoundByItsFeatures()
{
    const cv::Rect cav = scene().cavities()[0];
    const cv::Rect box(cav.x - 10, cav.y - 10, 200, 200);
    SURF sf = trained(box);
    cv::Mat out;
    for (const cv::Point2d s : {cv::Point2d(7, 0), cv::Point2d(-6, 5)}) {
        cv::Mat roi = frame(40, s)(box).clone();
        const float score = sf.Match(roi, out);
        QVERIFY2(score >= 80, qPrintable(QString("%1, %2: %3").arg(s.x).arg(s.y).arg(score)));
    }
}

QTEST_GUILESS_MAIN(TstSurf)
#include "tst_surf.moc"

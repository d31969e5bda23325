// The live views of the running station with the cameras on the machine's
// trigger, each frame judged as it arrives: the main window over two mono
// cameras of the simulated plug-in, the board simulator on a
// pseudo-terminal, the decision 0.5 s after the frames. A view shows the
// frame that was judged, with its own decision. Real time, bounded waits.
#include "testsupport/stationrig.h"

#include <QtTest>

namespace {

const QRect kOnPart(220, 140, 40, 50); // the cap's flat body: grey 200 under a part
const int d = stationrig::kDisplay;

QJsonObject cameraConfig(int c)
{
    return QJsonObject{{"sn", QString("VERDICT-%1").arg(c)}, {"width", 640}, {"height", 480}, {"cavitiesX", 1},
                       {"cavitiesY", 1}};
}

struct Station {
    TestEnv env;
    BoardSim sim;
    std::unique_ptr<ReDoWizard> win;

    bool start()
    {
        std::string err;
        if (!env.isValid() || !stationrig::startBoard(sim, &err))
            return false;
        for (int c = 0; c < 2; ++c)
            if (!stationrig::teachMould(cameraConfig(c), {{1, kOnPart, 0, 50, 170 | (255 << 8)}}, {}, c))
                return false;
        win = std::make_unique<ReDoWizard>();
        win->show();
        if (numCamera != 2 || !gpControlIO)
            return false;
        WizardPara& p = *gpWPara;
        p.systemMode = p.semiAuto = p.enableProdDetect = p.reCheckTimes = 0;
        p.trigInDelay[1] = 5;
        p.extTrigger = 1; // the cameras' frames start the cycle
        stationrig::unattended(p);
        gPicNumNG = 10;
        win->views[1]->camera->setTrigger(true);
        stationrig::startDetecting(*win, *win->views[0]);
        return true;
    }
    // The machine's trigger: the cameras shoot (both unless named), those
    // listed onto a part.
    void shoot(std::initializer_list<int> partOn, std::initializer_list<int> cameras = {0, 1})
    {
        for (int c : partOn)
            win->views[c]->camera->setValue(QString("leftBehind"), 100);
        for (int c : cameras)
            win->views[c]->camera->setValue(QString("trigger"), 100);
    }
};

uchar onPart(const PixelBuffer& frame)
{
    return std::as_const(frame).data()[kOnPart.center().y() * 640 + kOnPart.center().x()];
}

// The colour of the big verdict painted on the view: red "NG", green "OK",
// or neither.
Qt::GlobalColor verdict(CammerWidget* v)
{
    const QImage img = v->grab().toImage();
    int red = 0, green = 0;
    for (int y = int(100 * v->winScaleY); y < int(205 * v->winScaleY); ++y)
        for (int x = 0; x < int(180 * v->winScaleX); ++x) {
            const QRgb c = img.pixel(x, y);
            red += qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80;
            green += qGreen(c) > 200 && qRed(c) < 80 && qBlue(c) < 80;
        }
    return red > 30 ? Qt::red : green > 30 ? Qt::green : Qt::transparent;
}

} // namespace

class TstViewVerdict : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;
private slots:
    void initTestCase() { QVERIFY(stationrig::useCameras(m_config, {cameraConfig(0), cameraConfig(1)})); }
    void hiddenViewShowsItsJudgedFrameAtTheAlarm();
    void verdictShowsWithItsDecision();
};

// Camera 1 shown alone by a touch; a part on camera 2: the alarm shows both
// views, camera 2's with the frame it was judged on.
void TstViewVerdict::hiddenViewShowsItsJudgedFrameAtTheAlarm()
{
    Station s;
    QVERIFY(s.start());
    CammerWidget* hidden = s.win->views[1];
    s.shoot({});
    QTRY_COMPARE_WITH_TIMEOUT(s.win->detectState, 1, 5000);
    QVERIFY(finger::tap(s.win->views[0]));
    QVERIFY(!hidden->isVisible());
    s.shoot({1});
    QTRY_COMPARE_WITH_TIMEOUT(s.sim.outputs() & 5u, 5u, 5000);
    QVERIFY(hidden->isVisible());
    QCOMPARE(hidden->recentNgCount[d], 1);
    const PixelBuffer& judged = hidden->recentNgImages[d][0];
    QVERIFY(onPart(judged) >= 170);
    for (int y = kOnPart.top(); y <= kOnPart.bottom(); ++y) {
        const size_t at = size_t(y * 640 + kOnPart.left());
        QVERIFY2(std::memcmp(std::as_const(hidden->displayBuffer).data() + at, std::as_const(judged).data() + at,
                             size_t(kOnPart.width())) == 0,
                 qPrintable(QString("row %1: %2 shown, %3 judged").arg(y).arg(onPart(hidden->displayBuffer))
                                .arg(onPart(judged))));
    }
    // On the screen, on the part beside the region's red marks.
    const QPoint f(300, 165), at(f.x() * hidden->width() / 640, f.y() * hidden->height() / 480);
    const int grey = std::as_const(judged).data()[f.y() * 640 + f.x()];
    const int painted = qGray(hidden->grab().toImage().pixel(at));
    QVERIFY2(grey >= 170 && std::abs(painted - grey) < 30, qPrintable(QString("%1 painted, %2 judged").arg(painted).arg(grey)));
}

// An OK decision shows; the next frames of camera 1, with a part, are judged
// NG as they arrive, two before camera 2's frame lets the cycle decide: until
// the decision's alarm is on the wire the view shows the OK with its frame,
// then the NG with the part.
void TstViewVerdict::verdictShowsWithItsDecision()
{
    Station s;
    QVERIFY(s.start());
    CammerWidget* v = s.win->views[0];
    s.shoot({});
    QTRY_COMPARE_WITH_TIMEOUT(s.win->detectState, 1, 5000);
    QCOMPARE(verdict(v), Qt::green);
    for (int frame = 0; frame < 2; ++frame) {
        const auto before = v->workFrame.version();
        s.shoot({0}, {0});
        QTRY_VERIFY_WITH_TIMEOUT(v->workFrame.version() != before && !v->isOK, 3000); // judged as it arrived
        QCOMPARE(s.sim.outputs() & 4u, 0u);
        QCOMPARE(verdict(v), Qt::green);
        QVERIFY(onPart(v->displayBuffer) < 170);
    }
    s.shoot({}, {1});
    QTRY_COMPARE_WITH_TIMEOUT(s.sim.outputs() & 5u, 5u, 3000);
    QCOMPARE(verdict(v), Qt::red);
    QVERIFY(onPart(v->displayBuffer) >= 170);
}

QTEST_MAIN(TstViewVerdict)
#include "tst_view_verdict.moc"

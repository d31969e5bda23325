// The camera view inside the real main window: the simulated camera plug-in,
// the board simulator on a pseudo-terminal, the engine and the cycle as the
// station runs them, real time with bounded waits.
#include "controller/controlport.h"
#include "controller/machinecycle.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/ui/cammerwidget.h"
#include "testsupport/stationrig.h"

#include <QtTest>

#include <cstring>

class TstViewWindow : public QObject
{
    Q_OBJECT
private slots:
    void cameraImageTriggerShowsAndKeepsTheInspectedFrame();
};

void TstViewWindow::cameraImageTriggerShowsAndKeepsTheInspectedFrame()
{
    TestEnv env;
    QVERIFY(env.isValid());
    const QJsonObject cam = stationrig::oneCamera(env, "FRAMES-1");
    QVERIFY(!cam.isEmpty());
    BoardSim sim;
    std::string err;
    QVERIFY2(stationrig::startBoard(sim, &err), err.c_str());

    // The mould detection: a part left on the cavity floor (grey 200) is NG.
    const int d = stationrig::kDisplay;
    QVERIFY(stationrig::teachMould(cam, {{1, QRect(220, 140, 40, 50), 0, 50, 170 | (255 << 8)}}));

    auto win = std::make_unique<ReDoWizard>();
    win->show();
    QCOMPARE(numCamera, 1);
    CammerWidget* view = win->views[0];
    QVERIFY(view && view->recong && view->camera && gpControlIO);
    WizardPara& p = *gpWPara;
    p.systemMode = 0;
    p.semiAuto = 0;
    p.enableProdDetect = 0;
    p.reCheckTimes = 0;
    p.trigInDelay[1] = 0;
    p.extTrigger = 1; // a cycle starts when the camera delivered a triggered frame
    stationrig::unattended(p);
    gPicNumNG = 10;
    stationrig::startDetecting(*win, *view);
    QVERIFY(view->isVisible());
    const size_t bytes = size_t(view->frameBytes);
    auto black = [&](const uchar* b) { return std::all_of(b, b + bytes, [](uchar x) { return x == 0; }); };

    view->camera->setValue(QString("trigger"), 100);
    QTRY_COMPARE_WITH_TIMEOUT(win->detectState, 1, 5000);
    QVERIFY(!black(view->workFrame.data()));
    // The live view shows the inspected frame, on screen as in its buffer.
    QVERIFY2(std::memcmp(view->displayBuffer.data(), view->workFrame.data(), bytes) == 0, "the view shows no frame");
    const QImage shown = view->grab().toImage();
    const QPoint plate(view->width() * 3 / 4, view->height() * 3 / 4);
    const int x = plate.x() * view->imageWidth / view->width(), y = plate.y() * view->imageHeight / view->height();
    QVERIFY(qGray(shown.pixel(plate)) > 40);
    QVERIFY(std::abs(qGray(shown.pixel(plate)) - view->workFrame.data()[y * view->imageWidth + x]) < 40);
    // With the view not shown (another camera shown alone) a part is left
    // behind: the recent NG image is the frame that was inspected.
    view->hide();
    const QByteArray shownBefore(reinterpret_cast<const char*>(view->displayBuffer.data()), int(bytes));
    view->camera->setValue(QString("leftBehind"), 100);
    view->camera->setValue(QString("trigger"), 100);
    QTRY_COMPARE_WITH_TIMEOUT(win->detectState, 2, 5000);
    QCOMPARE(view->roiResult[d][0], uchar(0));
    QVERIFY(std::memcmp(shownBefore.constData(), view->workFrame.data(), bytes) != 0);
    QCOMPARE(view->recentNgCount[d], 1);
    QVERIFY2(std::memcmp(view->recentNgImages[d][0].data(), view->workFrame.data(), bytes) == 0,
             "the recent NG image is not the inspected frame");
}

QTEST_MAIN(TstViewWindow)
#include "tst_view_window.moc"

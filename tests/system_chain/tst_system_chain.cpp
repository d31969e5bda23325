// The whole station on real parts: the main window over the simulated-camera
// plug-in, its engine judging a region taught into PARAM.db, the board
// simulator's moulding machine on a pseudo-terminal, and the ROI editor the
// NG opens. Real time throughout (the window's timers run on it); every wait
// is bounded.
#include "boardsim.h"
#include "mouldingmachine.h"
#include "controller/controlport.h"
#include "controller/machinecycle.h"
#include "controller/mainstate.h"
#include "controller/redowizard.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammerrecong.h"
#include "inspection/cammersingleton.h"
#include "inspection/cammerwidget.h"
#include "inspection/drawroiwidget.h"
#include "platform/platformpath.h"
#include "testsupport/testenv.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <QtTest>

class TstSystemChain : public QObject
{
    Q_OBJECT
private slots:
    void okThenPartLeftBehindThenReDetect();
};

void TstSystemChain::okThenPartLeftBehindThenReDetect()
{
    TestEnv env;
    QVERIFY(env.isValid());
    // One mono camera, one cavity, no parts unless one is left behind.
    const QJsonObject cam{{"sn", "CHAIN-1"}, {"width", 640}, {"height", 480}, {"cavitiesX", 1}, {"cavitiesY", 1}};
    QVERIFY(env.writeWorkFile("simcamera.json",
                              QJsonDocument(QJsonObject{{"kind", 1}, {"cameras", QJsonArray{cam}}}).toJson()));
    qputenv("STATION_SIMCAMERA_CONFIG", QDir::current().absoluteFilePath("simcamera.json").toLocal8Bit());

    BoardSim sim;
    std::string err;
    QVERIFY2(sim.open(&err), err.c_str());
    // The factory set's board port is 0.
    QVERIFY2(sim.linkAt(platform::path("/dev/ttyS0").toStdString(), &err), err.c_str());
    sim.start();

    // Teach into PARAM.db: bright pixels (a part) on the cavity floor of the
    // mould detection; none may be there. Stored in screen units.
    const int d = 1, i = d * 100;
    const QRect roi(240, 160, 30, 30); // frame pixels, on a part's body
    {
        auto owner = std::make_unique<CameraViewState>(); // both too big for the stack
        // The view's scale: the window fills the screen.
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        owner->roiScaleX = float(screen.width()) / 640;
        owner->roiScaleY = float(screen.height()) / 480;
        auto store = std::make_unique<CammerSingleton>(0, owner.get());
        CammerSingleton& s = *store;
        s.roiCount[d] = 1;
        s.funcType[i] = 1;
        s.shapeKind[i] = 1;
        s.paramA[i] = 0;
        s.paramB[i] = 50;
        s.paramC[i] = 170 | (255 << 8); // grey 170..255
        s.rects[i].rect = QRect(qRound(roi.x() * owner->roiScaleX), qRound(roi.y() * owner->roiScaleY),
                                qRound(roi.width() * owner->roiScaleX), qRound(roi.height() * owner->roiScaleY));
        gpWin->paraDb = QSqlDatabase::addDatabase("QSQLITE", "teach");
        gpWin->paraDb.setDatabaseName("PARAM.db");
        QVERIFY(gpWin->paraDb.open());
        gpWin->paraQuery = QSqlQuery(gpWin->paraDb);
        QVERIFY(s.SaveDatatoFile());
        gpWin->paraQuery = QSqlQuery();
        gpWin->paraDb.close();
        gpWin->paraDb = QSqlDatabase();
    }
    QSqlDatabase::removeDatabase("teach");

    auto win = std::make_unique<ReDoWizard>();
    win->show();
    QCOMPARE(numCamera, 1);
    CammerWidget* view = win->views[0];
    QVERIFY(view && view->recong && view->camera && gpControlIO);
    QCOMPARE(view->liveStore->roiCount[d], 1);
    QVERIFY2((view->liveStore->rects[i].imageRect & roi).width() >= 28, "the ROI loaded elsewhere");

    gpWPara->systemMode = 0;
    gpWPara->semiAuto = 1;
    gpWPara->enableProdDetect = 0;
    gpWPara->reCheckTimes = 0;
    gpWPara->trigInDelay[1] = 3;
    gpWPara->deriveByMode(&win->curMould);
    view->camera->setTrigger(true); // frames only when the test shoots
    gpControlIO->InitIOThread();
    win->cycle->StartDetect();

    MouldingMachine::Timing timing;
    timing.closedMs = 500;
    timing.openMs = 1500;
    MouldingMachine machine(sim, timing);
    QElapsedTimer t;
    t.start();
    bool wasOpen = false, leaveNext = false;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] {
        machine.tick(t.elapsed());
        const bool open = sim.inputs() & 1u;
        if (open && !wasOpen) { // the mould opens: the camera shoots
            if (leaveNext)
                view->camera->setValue(QString("leftBehind"), 100);
            leaveNext = false;
            view->camera->setValue(QString("trigger"), 100);
        }
        wasOpen = open;
    });
    tick.start(5);

    // An OK cycle lets the mould close.
    QTRY_VERIFY_WITH_TIMEOUT(sim.outputs() & 1u, 3000); // the clamp preset when the mould opened
    QTRY_VERIFY_WITH_TIMEOUT(!(sim.outputs() & 1u), 3000);
    QCOMPARE(gAllCycleNum[0], 1); // camera 1's cycle count
    QCOMPARE(gpWin->detectState, 1);
    QCOMPARE(view->roiResult[d][0], 1);

    // A part stays behind: the clamp holds, the editor opens.
    leaveNext = true;
    QTRY_COMPARE_WITH_TIMEOUT(gpWin->detectState, 2, 5000);
    QCOMPARE(view->roiResult[d][0], 0);
    QTRY_COMPARE_WITH_TIMEOUT(machine.phase(), MouldingMachine::Phase::Held, 3000);
    QVERIFY(sim.outputs() & 1u);
    QVERIFY(win->roiPanel && win->roiPanel->isVisible());
    QTest::qWait(300);
    QVERIFY(sim.outputs() & 1u); // still held

    // The part is removed; re-detect from the editor on a new frame.
    view->camera->setValue(QString("trigger"), 100);
    QVERIFY(win->roiPanel->reCheckButton && win->roiPanel->reCheckButton->isVisible());
    const uchar* shown = view->displayBuffer.data() + roi.center().y() * 640 + roi.center().x();
    QTRY_VERIFY_WITH_TIMEOUT(*shown < 170, 2000); // the poll took the clean frame
    QTest::mouseClick(win->roiPanel->reCheckButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!(sim.outputs() & 1u), 3000);
    QCOMPARE(view->roiResult[d][0], 1);
    QTRY_VERIFY_WITH_TIMEOUT(machine.phase() != MouldingMachine::Phase::Held, 3000);
    tick.stop();
    win.reset();
    sim.stop();
}

QTEST_MAIN(TstSystemChain)
#include "tst_system_chain.moc"


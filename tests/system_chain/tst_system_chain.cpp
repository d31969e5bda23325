// The whole station on real parts: the main window over the simulated-camera
// plug-in, its engine judging regions taught into PARAM.db, the board
// simulator's moulding machine on a pseudo-terminal, and the ROI editor the
// NG opens, answered through the house boxes. Real time throughout (the
// window's timers run on it); every wait is bounded.
#include "boardsim.h"
#include "mouldingmachine.h"
#include "simscene.h"
#include "controller/controlport.h"
#include "controller/machinecycle.h"
#include "controller/mainstate.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/parameterstartup.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammerrecong.h"
#include "inspection/cammersingleton.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "inspection/templatestore.h"
#include "platform/platformpath.h"
#include "records/resstatisticsparam.h"
#include "widgets/boxprompt.h"
#include "widgets/choosebox.h"
#include "widgets/colorbutton.h"
#include "widgets/warnbox.h"
#include "testsupport/testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QScreen>
#include <QSqlQuery>
#include <QTimer>
#include <QtTest>
#include <opencv2/imgcodecs.hpp>

class TstSystemChain : public QObject
{
    Q_OBJECT
private slots:
    void partLeftBehindClearedFromTheEditor();
};

namespace {

// Part of the moulded cap's flat body (grey 200) in the 640 x 480 frame.
const QRect kOnPart2000(220, 140, 40, 50);
const QRect kOnPart2001(380, 140, 29, 69);
// From the cap's edge across the cavity rim to the frame's right edge, as
// far as a ROI reaches (views keep ROIs two pixels inside the screen).
const QRect kToEdge(430, 270, 208, 9);
// A guide pin: texture for a grey-template ROI.
const QRect kPin(10, 420, 50, 50);

void put(CammerSingleton& s, float sx, float sy, int d, int r, int type, QRect img, int a, int b, int c)
{
    const int i = d * 100 + r;
    s.roiCount[d] = std::max(s.roiCount[d], r + 1);
    s.funcType[i] = type;
    s.shapeKind[i] = 1;
    s.paramA[i] = a;
    s.paramB[i] = b;
    s.paramC[i] = c;
    s.rects[i].rect =
        QRect(qRound(img.x() * sx), qRound(img.y() * sy), qRound(img.width() * sx), qRound(img.height() * sy));
}

} // namespace

void TstSystemChain::partLeftBehindClearedFromTheEditor()
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

    // Teach the mould detection into PARAM.db: bright pixels (a part) on the
    // cavity floor are NG; the pin ROI compares with the empty mould's
    // template. Stored in screen units.
    const int d = 1;
    {
        SimScene scene;
        scene.configure(cam, 640, 480);
        QVERIFY(QDir().mkpath("cammer12"));
        QVERIFY(cv::imwrite("cammer12/template0.bmp", scene.frame(0)));
        auto owner = std::make_unique<CameraViewState>(); // both too big for the stack
        // The view's scale: the window fills the screen.
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const float sx = float(screen.width()) / 640, sy = float(screen.height()) / 480;
        auto store = std::make_unique<CammerSingleton>(0, owner.get());
        const int part = 170 | (255 << 8), plate = 120 | (255 << 8);
        put(*store, sx, sy, d, 0, 1, kOnPart2000, 0, 50, part);
        put(*store, sx, sy, d, 1, 1, kOnPart2001, 0, 50, part);
        put(*store, sx, sy, d, 2, 1, kToEdge, 0, 1250, plate);
        put(*store, sx, sy, d, 3, 0, kPin, 25, 100, 3);
        QVERIFY(ParameterStartup::openParamDb(gpWin));
        QVERIFY(store->SaveDatatoFile());
        // Statistics on (the 10th value of system6), as an operator stored it.
        QSqlQuery q(gpWin->paraDb);
        QVERIFY(q.exec("select value from sysparam where name = 'system6'") && q.next());
        QStringList values = q.value(0).toString().split(' ');
        values[9] = "1";
        QVERIFY(q.exec(QString("update sysparam set value = '%1' where name = 'system6'").arg(values.join(' '))));
        q = QSqlQuery();
        gpWin->paraQuery = QSqlQuery();
        gpWin->paraDb.close();
    }

    auto win = std::make_unique<ReDoWizard>();
    win->show();
    QCOMPARE(numCamera, 1);
    // The stored switch starts the statistics' minute check.
    ResStatisticsParam* stats = ResStatisticsParam::getInstance();
    QVERIFY(stats->dayTimer && stats->dayTimer->isActive());
    CammerWidget* view = win->views[0];
    QVERIFY(view && view->recong && view->camera && gpControlIO);

    gpWPara->systemMode = 0;
    gpWPara->semiAuto = 1;
    gpWPara->enableProdDetect = 0;
    gpWPara->reCheckTimes = 0;
    gpWPara->trigInDelay[1] = 3;
    gpWPara->isPswUsed = gpWPara->addTempPswUsed = gpWPara->nocheckPswUsed = 0;
    gpWPara->doorLiftAlarm = gpWPara->noAlarmSound = gpWPara->outInitState[0] = gpWPara->outInitState[2] = 0;
    gTempNum = std::max(gTempNum, 3);
    gPicNumNG = 10; // NG images kept: an alarm's result code is "NG shown"
    gpWPara->deriveByMode(&win->curMould);
    view->camera->setTrigger(true); // frames only when the test shoots
    gpControlIO->InitIOThread();
    win->cycle->StartDetect();

    // The operator: every house box answered YES (or OK), its text noted.
    BoxPrompt::installShared();
    QStringList boxes;
    QTimer operatorHand;
    connect(&operatorHand, &QTimer::timeout, [&] {
        // The window's shared boxes sit inside it: found among all widgets.
        for (QWidget* w : QApplication::allWidgets()) {
            if (!w->isVisible())
                continue;
            if (auto* c = dynamic_cast<ChooseBox*>(w)) {
                boxes << c->text();
                QTest::mouseClick(c->yesButton(), Qt::LeftButton);
                return;
            }
            if (auto* b = dynamic_cast<WarnBox*>(w)) {
                boxes << b->text();
                QTest::mouseClick(b->okButton(), Qt::LeftButton);
                return;
            }
        }
    });
    operatorHand.start(20);

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
    const uchar* onPart = view->displayBuffer.data() + kOnPart2000.center().y() * 640 + kOnPart2000.center().x();
    const uchar* results = view->roiResult[d];
    const QString ngImages = TemplateStore::resultFolder(0, d, false);
    // A part stays behind: the clamp (output 0) and the alarm (output 2) hold,
    // the editor opens on the live image, the result code is "NG shown".
    auto partLeftBehind = [&] {
        leaveNext = true;
        QTRY_COMPARE_WITH_TIMEOUT(gpWin->detectState, 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(machine.phase(), MouldingMachine::Phase::Held, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.outputs() & 5u, 5u, 2000);
        QVERIFY(win->roiPanel && win->roiPanel->isVisible());
        QCOMPARE(gSource, 1);
        QCOMPARE(win->alarmClearState[0][d], 3);
    };
    auto alarmReleased = [&] {
        QTRY_COMPARE_WITH_TIMEOUT(sim.outputs() & 5u, 0u, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(machine.phase() != MouldingMachine::Phase::Held, 3000);
    };

    // An OK cycle lets the mould close.
    QTRY_VERIFY_WITH_TIMEOUT(sim.outputs() & 1u, 3000); // the clamp preset when the mould opened
    QTRY_VERIFY_WITH_TIMEOUT(!(sim.outputs() & 1u), 3000);
    QCOMPARE(QVector<int>(results, results + 4), (QVector<int>{1, 1, 1, 1}));
    QCOMPARE(view->recong->grayMatchers[d][3].TemplateCount(), 1);

    partLeftBehind();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(QVector<int>(results, results + 3), (QVector<int>{0, 0, 0}));

    // Ignore the alarm points: 2000 are taken, 2001 refused; the spot that
    // runs to the frame's right edge is taken up to the last column only.
    const int edgeValue = view->roiValue[d][2];
    QVERIFY(win->roiPanel->ignoreButton->isVisible());
    QTest::mouseClick(win->roiPanel->ignoreButton, Qt::LeftButton);
    QCOMPARE(boxes, (QStringList{messageText(113), messageText(115).arg(2000)}));
    const cv::Mat ignored(480, 640, CV_8UC1, view->ignoreMasks[d].data());
    auto setIn = [&](QRect r) {
        return cv::countNonZero(ignored(cv::Rect(r.x(), r.y(), r.width(), r.height())) == 255);
    };
    QCOMPARE(setIn(kOnPart2000), 2000);
    QCOMPARE(setIn(kOnPart2001), 0);
    QCOMPARE(setIn(kToEdge), edgeValue);
    QCOMPARE(setIn(QRect(0, 0, 640, 480)), 2000 + edgeValue);
    QVERIFY(QFileInfo::exists("cammer12/ignorepoint.bmp"));

    // The part is removed; re-detect from the editor on a new frame.
    view->camera->setValue(QString("trigger"), 100);
    QTRY_VERIFY_WITH_TIMEOUT(*onPart < 170, 2000); // the poll took the clean frame
    QCOMPARE(sim.outputs() & 5u, 5u); // held until the re-detect
    QTest::mouseClick(win->roiPanel->reCheckButton, Qt::LeftButton);
    alarmReleased();
    QCOMPARE(QVector<int>(results, results + 4), (QVector<int>{1, 1, 1, 1}));

    // Another part: the ignored points no longer count, the rest does.
    partLeftBehind();
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE_WITH_TIMEOUT(QDir(ngImages).entryList(QDir::Files).size(), 2, 3000); // one per alarm
    QCOMPARE(QVector<int>(results, results + 3), (QVector<int>{1, 0, 1}));
    // Taken as a template from the live image: code 3 to 5, retrained at
    // once (the pin ROI learns it), and the alarm is released.
    boxes.clear();
    QTest::mouseClick(win->roiPanel->addTempButton, Qt::LeftButton);
    QCOMPARE(boxes, QStringList{messageText(108)});
    // Cleared by a template: its NG image is labelled so and saved again.
    QTRY_COMPARE_WITH_TIMEOUT(QDir(ngImages).entryList(QDir::Files).size(), 3, 3000);
    QCOMPARE(view->templateCount[d], 2);
    QVERIFY(QFileInfo::exists("cammer12/template1.bmp"));
    QCOMPARE(view->recong->grayMatchers[d][3].TemplateCount(), 2);
    alarmReleased();
    tick.stop();
    operatorHand.stop();
    // Every decision of the window reached the statistics: the OK cycle and
    // the two alarms at least, stored in the day's file at the orderly end.
    const CountDetect cycles = stats->liveCount.groups.value(0).total.total;
    QVERIFY2(cycles.whole.ok >= 1 && cycles.whole.ng >= 2,
             qPrintable(QString("%1 OK, %2 NG").arg(cycles.whole.ok).arg(cycles.whole.ng)));
    const int ok = cycles.whole.ok, ng = cycles.whole.ng;
    win.reset();
    ResStatisticsParam::destroyInstance();
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "chainstats");
    db.setDatabaseName("ResStatistics.db");
    QVERIFY(db.open());
    QSqlQuery q(db);
    QVERIFY(q.exec("select value1 from resstatistics where name = 'statisticsjson'") && q.next());
    const QJsonObject doc = QJsonDocument::fromJson(q.value(0).toString().toUtf8()).object();
    q = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("chainstats");
    int stored[2] = {0, 0};
    for (const QJsonValue& c : doc["groups"].toArray()[0].toObject()["datas"].toArray())
        if (c.toObject()["cameraID"].toInt() == -1)
            for (const QJsonValue& dv : c.toObject()["data"].toArray())
                if (dv.toObject()["detectID"].toInt() == -1)
                    for (int k = 0; k < 24; ++k) {
                        stored[0] += dv.toObject()["OK"].toArray()[k].toInt();
                        stored[1] += dv.toObject()["NG"].toArray()[k].toInt();
                    }
    QCOMPARE(stored[0], ok);
    QCOMPARE(stored[1], ng);
    sim.stop();
}

QTEST_MAIN(TstSystemChain)
#include "tst_system_chain.moc"


// The whole station on real parts: the main window over the simulated-camera
// plug-in, its engine judging regions taught into PARAM.db, the board
// simulator's moulding machine on a pseudo-terminal, and the ROI editor the
// NG opens, answered through the house boxes. Real time throughout (the
// window's timers run on it); every wait is bounded.
#include "controller/mainstate.h"
#include "controller/stationexit.h"
#include "frame/globals.h"
#include "inspection/cammerrecong.h"
#include "inspection/ui/drawroiwidget.h"
#include "inspection/templatestore.h"
#include "records/copy2movedisk.h"
#include "records/resstatisticsparam.h"
#include "platform/commandrunner.h"
#include "testsupport/stationrig.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QPushButton>
#include <QSqlQuery>
#include <QtTest>

class TstSystemChain : public QObject
{
    Q_OBJECT
private slots:
    void partLeftBehindClearedFromTheEditor();
    void endDuringAnAlarmKeepsItsImage();
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
} // namespace

void TstSystemChain::partLeftBehindClearedFromTheEditor()
{
    TestEnv env;
    QVERIFY(env.isValid());
    const QJsonObject cam = stationrig::oneCamera(env, "CHAIN-1");
    QVERIFY(!cam.isEmpty());
    BoardSim sim;
    std::string err;
    QVERIFY2(stationrig::startBoard(sim, &err), err.c_str());

    // Teach the mould detection into PARAM.db: bright pixels (a part) on the
    // cavity floor are NG; the pin ROI compares with the empty mould's
    // template. Statistics on (the 10th value of system6), as an operator
    // stored it.
    const int d = stationrig::kDisplay;
    const int part = 170 | (255 << 8), plate = 120 | (255 << 8);
    QVERIFY(stationrig::teachMould(
        cam,
        {{1, kOnPart2000, 0, 50, part}, {1, kOnPart2001, 0, 50, part}, {1, kToEdge, 0, 1250, plate}, {0, kPin, 25, 100, 3}},
        stationrig::statisticsOn));

    auto win = std::make_unique<ReDoWizard>();
    win->show();
    QCOMPARE(numCamera, 1);
    // The stored switch starts the statistics' minute check.
    ResStatisticsParam* stats = ResStatisticsParam::getInstance();
    QVERIFY(stats->dayTimer && stats->dayTimer->isActive());
    CammerWidget* view = win->views[0];
    QVERIFY(view && view->recong && view->camera && gpControlIO);

    QStringList boxes;
    stationrig::MouldRun run(sim, *win, *view, &boxes);
    // What the view shows on the part (the shown frame's pixels move with each frame).
    auto onPart = [&] { return std::as_const(view->displayBuffer).data()[kOnPart2000.center().y() * 640 + kOnPart2000.center().x()]; };
    const uchar* results = view->roiResult[d];
    const QString ngImages = TemplateStore::resultFolder(0, d, false);
    // A part stays behind: the clamp (output 0) and the alarm (output 2) hold,
    // the editor opens on the live image, the result code is "NG shown".
    auto partLeftBehind = [&] {
        run.leaveNext = true;
        QTRY_COMPARE_WITH_TIMEOUT(gpWin->detectState, 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(run.machine.phase(), MouldingMachine::Phase::Held, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.outputs() & 5u, 5u, 2000);
        QVERIFY(win->roiPanel && win->roiPanel->isVisible());
        QCOMPARE(gSource, 1);
        QCOMPARE(win->alarmClearState[0][d], 3);
    };
    auto alarmReleased = [&] {
        QTRY_COMPARE_WITH_TIMEOUT(sim.outputs() & 5u, 0u, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(run.machine.phase() != MouldingMachine::Phase::Held, 3000);
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
    QVERIFY(finger::tap(win->roiPanel->ignoreButton));
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
    QTRY_VERIFY_WITH_TIMEOUT(onPart() < 170, 2000); // the poll took the clean frame
    QCOMPARE(sim.outputs() & 5u, 5u); // held until the re-detect
    QVERIFY(finger::tap(win->roiPanel->reCheckButton));
    alarmReleased();
    QCOMPARE(QVector<int>(results, results + 4), (QVector<int>{1, 1, 1, 1}));

    // Another part: the ignored points no longer count, the rest does.
    partLeftBehind();
    if (QTest::currentTestFailed())
        return;
    // An alarm's NG image is saved when the alarm ends, labelled with how:
    // the first alarm's is there, this one's waits.
    QTest::qWait(1000);
    QCOMPARE(QDir(ngImages).entryList(QDir::Files).size(), 1);
    QCOMPARE(QVector<int>(results, results + 3), (QVector<int>{1, 0, 1}));
    // Taken as a template from the live image: code 3 to 5, retrained at
    // once (the pin ROI learns it), and the alarm is released.
    boxes.clear();
    QVERIFY(finger::tap(win->roiPanel->addTempButton));
    QCOMPARE(boxes, QStringList{messageText(108)});
    // Cleared by a template: its NG image is labelled so and saved.
    QTRY_COMPARE_WITH_TIMEOUT(QDir(ngImages).entryList(QDir::Files).size(), 2, 3000);
    QCOMPARE(view->templateCount[d], 2);
    QVERIFY(QFileInfo::exists("cammer12/template1.bmp"));
    QCOMPARE(view->recong->grayMatchers[d][3].TemplateCount(), 2);
    alarmReleased();
    run.stop();
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

// The station ends (SIGTERM takes this way) while an alarm holds its NG
// image, which is saved only when the alarm is cleared: the end saves it, in
// alarmimage/ and on the image drive.
void TstSystemChain::endDuringAnAlarmKeepsItsImage()
{
    TestEnv env;
    const QJsonObject cam = stationrig::oneCamera(env, "CHAIN-2");
    BoardSim sim;
    std::string err;
    QVERIFY2(stationrig::startBoard(sim, &err), err.c_str());
    QVERIFY(stationrig::teachMould(cam, {{1, kOnPart2000, 0, 50, 170 | (255 << 8)}}));
    // A stick at /mnt takes a copy of every result image.
    const QString stick = env.simRoot() + "/drives/sdb1";
    QVERIFY(QDir().mkpath(stick));
    QCOMPARE(CommandRunner::system("mount /dev/sdb1 /mnt"), 0);
    Copy2MoveDisk* drive = Copy2MoveDisk::getInstance();
    drive->diskInfoChange({UPanInfo{"END-1", {}, {}, "/dev/sdb1", {}, "usb", "/mnt"}});
    drive->start();

    auto win = std::make_unique<ReDoWizard>();
    win->show();
    QCOMPARE(numCamera, 1);
    stationrig::MouldRun run(sim, *win, *win->views[0]);
    run.leaveNext = true;
    QTRY_COMPARE_WITH_TIMEOUT(win->alarmClearState[0][stationrig::kDisplay], 3, 10000);
    run.stop();
    win->endStation(StationExit::Exit);

    const QStringList saved =
        QDir(TemplateStore::resultFolder(0, stationrig::kDisplay, false)).entryList({"*.jpg"}, QDir::Files);
    QCOMPARE(saved.size(), 1);
    QStringList copies;
    for (QDirIterator it(stick, {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        copies << it.next();
    QCOMPARE(copies.size(), 1);
    QVERIFY2(copies.first().endsWith("/camera1/detect2/NG/" + saved.first()), qPrintable(copies.first()));
    win.reset();
    drive->diskInfoChange({});
    ResStatisticsParam::destroyInstance();
    sim.stop();
}

QTEST_MAIN(TstSystemChain)
#include "tst_system_chain.moc"


// Journeys of the editor and the NG alarm through the running station: the
// main window over the simulated-camera plug-in (camera 1 mono, camera 2
// colour), the board simulator's machine on a pseudo-terminal, every press
// through the finger, every box answered where it shows. Verdicts on the
// wire, in the result-image folders and in the editor's measurements. Real
// time; every wait is bounded.
#include "boardsim.h"
#include "mouldingmachine.h"
#include "simscene.h"
#include "controller/controlport.h"
#include "controller/machinecycle.h"
#include "controller/ui/indexbutton.h"
#include "controller/ui/iocheckcombo.h"
#include "controller/ui/iowidget.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/parameterstartup.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammersingleton.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "settings/ui/wizardparawidget.h"
#include "testsupport/finger.h"
#include "testsupport/stationrig.h"
#include "testsupport/testenv.h"
#include "widgets/boxprompt.h"
#include "widgets/checkbox.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/edit.h"
#include "widgets/numberinput.h"
#include "widgets/passwordbox.h"
#include "widgets/slider.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QSqlQuery>
#include <QTimer>
#include <QtTest>
#include <opencv2/imgcodecs.hpp>

namespace {

// Regions of the 640 x 480 scene. A part left in the cavity shows in
// kOnPart; kPlate lies in the bright centre of the template, where the live
// plate never reaches grey 250.
const QRect kOnPart(220, 140, 40, 50);
const QRect kPlate(300, 300, 50, 40);
const int kPartC = 170 | (255 << 8);
const int kWhiteC = 250 | (255 << 8);

const int kCameras = 2;
QJsonObject cameraConfig(int c)
{
    return QJsonObject{{"sn", QString("ALARM-%1").arg(c)}, {"width", 640}, {"height", 480}, {"cavitiesX", 1},
                       {"cavitiesY", 1}, {"color", c == 1}};
}

struct Station {
    TestEnv env;
    BoardSim sim;
    std::unique_ptr<ReDoWizard> win;
    QStringList boxes;
    bool leaveNext = false;
    std::unique_ptr<stationrig::BoxHand> hand;
    std::unique_ptr<stationrig::MachineTick> tick;
    MouldingMachine* machine = nullptr;

    // Mode 0 (product on input 0, mould on input 2) or mode 3 with two steps.
    bool start(int mode)
    {
        if (!env.isValid())
            return false;
        std::string err;
        if (!stationrig::startBoard(sim, &err) || !teach(mode))
            return false;
        win = std::make_unique<ReDoWizard>();
        win->show();
        if (numCamera != kCameras || !gpControlIO)
            return false;
        gPicNumNG = gPicNumOK = 10;
        for (int c = 0; c < kCameras; ++c)
            win->views[c]->camera->setTrigger(true);
        gpControlIO->InitIOThread();
        win->cycle->StartDetect();
        hand = std::make_unique<stationrig::BoxHand>(&boxes);
        return true;
    }

    // The machine cycles; camera 1 sees a part when leaveNext asks for one.
    void startMachine()
    {
        MouldingMachine::Timing timing;
        timing.closedMs = 400;
        timing.openMs = 1200;
        tick = std::make_unique<stationrig::MachineTick>(sim, *win, timing, [this] {
            if (leaveNext)
                win->views[0]->camera->setValue(QString("leftBehind"), 100);
            leaveNext = false;
        });
        machine = &tick->machine;
    }

    // Detection 1 of camera 1: the part in the cavity (ROI 0) and the plate
    // (ROI 1); of camera 2: the plate. The plate's grey band holds only the
    // template's white there.
    static bool teach(int mode)
    {
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const float sx = float(screen.width()) / 640, sy = float(screen.height()) / 480;
        SimScene scene;
        scene.configure(cameraConfig(0), 640, 480);
        cv::Mat t = scene.frame(0);
        t(cv::Rect(kPlate.x(), kPlate.y(), kPlate.width(), kPlate.height())).setTo(255);
        if (!QDir().mkpath("cammer12") || !cv::imwrite("cammer12/template0.bmp", t))
            return false;
        for (int c = 0; c < kCameras; ++c) {
            auto owner = std::make_unique<CameraViewState>();
            auto store = std::make_unique<CammerSingleton>(c, owner.get());
            auto put = [&](int r, QRect img, int b, int cc) {
                const int i = 100 + r;
                store->roiCount[1] = r + 1;
                store->funcType[i] = 1;
                store->shapeKind[i] = 1;
                store->paramB[i] = b;
                store->paramC[i] = cc;
                store->rects[i].rect = QRect(qRound(img.x() * sx), qRound(img.y() * sy), qRound(img.width() * sx),
                                             qRound(img.height() * sy));
            };
            if (c == 0)
                put(0, kOnPart, 50, kPartC);
            put(c == 0 ? 1 : 0, kPlate, 1000000, kWhiteC);
            if (!ParameterStartup::openParamDb(gpWin) || !store->SaveDatatoFile())
                return false;
            if (c == 0 && !stationrig::storeJourneyMachine(mode, [mode](WizardPara& p) {
                    p.systemModeSet = mode;
                    p.showManualSnap = 1;
                    p.grayChannel = 1; // colour frames judged in grey
                    p.reInspectDelay = 0;
                    p.multiDetectNum = 2;
                    p.multiOutDetect[0] = p.multiOutDetect[1] = 0;
                    p.multiTrigIn[0] = 0;
                }))
                return false;
            gpWin->paraQuery = QSqlQuery();
            gpWin->paraDb.close();
        }
        return true;
    }

    ~Station()
    {
        tick.reset();
        hand.reset();
        win.reset();
        sim.stop();
    }

    DrawROIWidget* editor() const { return win->roiPanel; }
    // The side bar shows on a touch of a camera view.
    bool pressSideBar(QWidget* button)
    {
        if (!win->sideBar->isVisible() && !finger::tap(win->views[1]))
            return false;
        return finger::tap(button);
    }
    // Where ROI r of detection 1 shows on camera c's view.
    static QPoint roiPoint(CammerWidget* v, int r)
    {
        const QPoint c = v->editStore->rects[100 + r].rect.center();
        return QPoint(c.x() * v->width() / gShowW, c.y() * v->height() / gShowH);
    }
};

void choose(ComboBox* box, int index) { box->setCurrentIndex(index); }

int jpgs(const QString& dir) { return QDir(dir).entryList({"*.jpg"}, QDir::Files).size(); }

// Types the factory code into the login box when it shows.
void answerLogin(const QString& code)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, code] {
        if (!gpPasswordBox || !gpPasswordBox->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        finger::tap(gpPasswordBox->field());
        for (QChar ch : code)
            for (int k = 0; k < 10; ++k)
                if (gpNumPad->digitKey(k)->text() == QString(ch))
                    finger::tap(gpNumPad->digitKey(k));
        finger::tap(gpNumPad->okKey());
    });
    poll->start(20);
}

} // namespace

class TstAlarmJourney : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;
private slots:
    void initTestCase()
    {
        QJsonArray list;
        for (int c = 0; c < kCameras; ++c)
            list << cameraConfig(c);
        QVERIFY(stationrig::useCameras(m_config, list));
    }
    void templatePageTunesTheEditorsDetectionOnItsTemplate();
    void reDetectedAlarmKeepsItsImagesTogether();
    void endRightAfterTheAlarmIsClearedKeepsItsImages_data();
    void endRightAfterTheAlarmIsClearedKeepsItsImages();
    void newDetectionsAreSetAndTrained();
};

// The cycle stands on the product detection while the operator tunes the
// mould detection's plate region on its template: the preview measures the
// white template on the mono and on the colour camera alike, and "sync
// parameter" carries the change to the detection's other spot region.
void TstAlarmJourney::templatePageTunesTheEditorsDetectionOnItsTemplate()
{
    Station s;
    QVERIFY(s.start(0));
    QCOMPARE(gpWin->curDetect, 0);
    QVERIFY(s.pressSideBar(s.win->sideBar->regionSettings));
    QVERIFY(s.editor()->isVisible());
    choose(s.editor()->detectCombo, 1);
    QCOMPARE(gpWin->editDetect, 1);

    QList<int> measured, area;
    for (int c = 0; c < kCameras; ++c) {
        choose(s.editor()->cameraCombo, c);
        CammerWidget* v = s.win->views[c];
        const int r = c == 0 ? 1 : 0;
        QVERIFY(finger::tap(v, Station::roiPoint(v, r)));
        QCOMPARE(v->curRoi, r);
        const int other = v->editStore->paramC[100];
        QVERIFY(finger::tap(s.editor()->showHide)); // the panel aside, over the left of the view
        QVERIFY(finger::tap(v->sliderC->addButton()));
        measured << v->roiValue[1][r];
        const QRect box = v->editStore->rects[100 + r].imageRect;
        area << box.width() * box.height();
        if (c == 0) {
            QVERIFY(finger::tap(s.editor()->showHide)); // the panel back on the right
            QVERIFY(finger::tap(v->syncParamButton));
            QCOMPARE(v->editStore->paramC[100], other + 1);
        }
    }
    QVERIFY(area[0] > 1500);
    QVERIFY2(measured == area, qPrintable(QString("measured %1 %2, area %3 %4")
                                              .arg(measured[0]).arg(measured[1]).arg(area[0]).arg(area[1])));
}

// A part left behind on camera 1: no manual trigger can be reached during
// the alarm, and nothing starts then or after the alarm; the re-detect after the
// part is gone puts the alarm's NG image and its OK image into the NG folder
// together, however long the alarm lasted.
void TstAlarmJourney::reDetectedAlarmKeepsItsImagesTogether()
{
    Station s;
    QVERIFY(s.start(0));
    s.startMachine();
    QTRY_VERIFY_WITH_TIMEOUT(s.machine->cycles() >= 1, 8000);
    const QString ng = "alarmimage/camera1/detect2/NG", ok = "alarmimage/camera1/detect2/OK";
    s.leaveNext = true;
    QTRY_VERIFY_WITH_TIMEOUT(gpWin->detectState == 2 && (s.sim.outputs() & 5u) == 5u, 8000);
    QTRY_VERIFY_WITH_TIMEOUT(s.machine->phase() == MouldingMachine::Phase::Held, 3000);
    s.tick->stop(); // the machine stays held: no later cycle adds images
    const int okBefore = jpgs(ok), ngBefore = jpgs(ng);
    const int judged = gAllNum[0];
    // Every camera's counters are laid out left of the alarm's panel.
    for (CammerWidget* v : s.win->views)
        if (v && v->isVisible())
            QTRY_VERIFY(v->mapTo(s.win.get(), QPoint(v->width() - v->coveredRight(), 0)).x() <= s.editor()->x());

    // The alarm panel moved aside, a touch on a view: the side bar with its
    // snapshots stays away while the alarm's page is up, so no manual
    // trigger can start.
    QVERIFY(finger::tap(s.editor()->showHide));
    QVERIFY(finger::tap(s.win->views[1]));
    QVERIFY(!s.win->sideBar->isVisible());
    QTest::qWait(1500); // long enough for the writer to have taken any image
    QCOMPARE(gpWin->detectState, 2);
    QCOMPARE(gpWin->lastDetect, 1);
    QCOMPARE(gAllNum[0], judged);
    QCOMPARE(s.sim.outputs() & 5u, 5u);

    // The side bar and the panel go back; the part is taken away and the
    // safety door closed.
    QVERIFY(finger::tap(s.editor()->showHide));
    for (int c = 0; c < numCamera; ++c)
        s.win->views[c]->camera->setValue(QString("trigger"), 100);
    QTRY_VERIFY_WITH_TIMEOUT(
        s.win->views[0]->displayBuffer.data()[kOnPart.center().y() * 640 + kOnPart.center().x()] < 170, 2000);
    s.sim.setInput(1, true); // the safety door closes: the panel's re-detect
    QTRY_VERIFY_WITH_TIMEOUT(gpWin->detectState != 2 && (s.sim.outputs() & 5u) == 0, 3000);
    QTRY_VERIFY2_WITH_TIMEOUT(jpgs(ng) == ngBefore + 2,
                              qPrintable(QString("NG folder %1 -> %2, OK folder %3 -> %4")
                                             .arg(ngBefore).arg(jpgs(ng)).arg(okBefore).arg(jpgs(ok))),
                              4000);
    QCOMPARE(jpgs(ok), okBefore);
    QTest::qWait(500);
    QCOMPARE(gpWin->lastDetect, 1); // nothing was waiting for the alarm's end
}

void TstAlarmJourney::endRightAfterTheAlarmIsClearedKeepsItsImages_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<int>("images"); // into the NG folder
    QTest::newRow("Don't Detect") << 0 << 1;
    QTest::newRow("Add As Temp") << 1 << 1;
    QTest::newRow("re-detected, part gone") << 2 << 2;
}

// The operator clears the alarm of a part left behind and the window is
// closed at once, before the result writer has taken the alarm's images:
// the end saves them, however the alarm was cleared.
void TstAlarmJourney::endRightAfterTheAlarmIsClearedKeepsItsImages()
{
    QFETCH(int, way);
    QFETCH(int, images);
    Station s;
    QVERIFY(s.start(0));
    s.startMachine();
    QTRY_VERIFY_WITH_TIMEOUT(s.machine->cycles() >= 1, 8000);
    const QString ng = "alarmimage/camera1/detect2/NG", ok = "alarmimage/camera1/detect2/OK";
    s.leaveNext = true;
    QTRY_VERIFY_WITH_TIMEOUT(gpWin->detectState == 2 && s.machine->phase() == MouldingMachine::Phase::Held, 8000);
    s.tick->stop();
    const int ngBefore = jpgs(ng), okBefore = jpgs(ok);
    if (way == 2) {
        for (int c = 0; c < numCamera; ++c)
            s.win->views[c]->camera->setValue(QString("trigger"), 100);
        QTRY_VERIFY_WITH_TIMEOUT(
            s.win->views[0]->displayBuffer.data()[kOnPart.center().y() * 640 + kOnPart.center().x()] < 170, 2000);
        QVERIFY(finger::tap(s.editor()->reCheckButton));
    } else {
        QVERIFY(finger::choose(s.editor()->cameraCombo, 0)); // the alarming camera
        QVERIFY(finger::tap(way == 0 ? s.editor()->noCheckButton : s.editor()->addTempButton));
    }
    QCOMPARE(gpWin->detectState, 0);
    s.win->close();
    QCOMPARE(QPair(jpgs(ng), jpgs(ok)), QPair(ngBefore + images, okBefore));
}

// Mode 3: the settings window raises the detection count from 2 to 3; the
// editor opens for the new detection at once, and its "End Set" accepts and
// trains what was set.
void TstAlarmJourney::newDetectionsAreSetAndTrained()
{
    Station s;
    QVERIFY(s.start(3));
    QCOMPARE(s.editor()->detectCombo->count(), 2);
    QVERIFY(s.pressSideBar(s.win->sideBar->systemPara));
    WizardParaWidget* settings = s.win->settingsWindow;
    QVERIFY(settings->isVisible());
    QVERIFY(finger::tap(settings->tabs[WizardParaWidget::AdvancedPage]));
    answerLogin("7394");
    QVERIFY(finger::tap(settings->ioButton));
    IOWidget* io = s.win->ioPage;
    QTRY_VERIFY_WITH_TIMEOUT(io->isVisible(), 3000);
    io->countChooser()->setCurrentIndex(1);
    QCOMPARE(io->stepCount(), 3);
    QVERIFY(finger::tap(io->row(0)->box(2)));
    QVERIFY(finger::tap(io->confirmButton()));
    QVERIFY(finger::tap(settings->okButton));
    QTRY_VERIFY_WITH_TIMEOUT(s.boxes.contains(messageText(234)), 3000);
    QCOMPARE(gDNum, 3);

    QTRY_VERIFY_WITH_TIMEOUT(s.editor()->isVisible(), 3000);
    QVERIFY(!settings->isVisible());
    QCOMPARE(s.editor()->detectCombo->count(), 3);
    choose(s.editor()->detectCombo, 2);
    QCOMPARE(gpWin->editDetect, 2);
    QVERIFY(gFromTrain);
    QVERIFY(finger::tap(s.editor()->returnButton)); // End Set
    QTRY_VERIFY_WITH_TIMEOUT(!s.editor()->isVisible(), 3000);
    QVERIFY(!gFromTrain);
    QCOMPARE(gpWin->runState, 1);
    QVERIFY(s.win->machineCycle()->gisReTrain);
    QTRY_VERIFY_WITH_TIMEOUT(!s.win->machineCycle()->gisReTrain, 4000); // the OK display's end trained
}

QTEST_MAIN(TstAlarmJourney)
#include "tst_alarmjourney.moc"

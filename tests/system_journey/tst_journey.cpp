// Journeys through the running station: the main window over the
// simulated-camera plug-in, its engines judging regions taught into PARAM.db,
// the board simulator's moulding machine on a pseudo-terminal, driven only by
// what an operator touches (side bar, editor buttons and selectors, sliders,
// touches on the view, boxes answered from a timer). The verdict is read on
// the wire and in the files. Real time; every wait is bounded.
#include "boardsim.h"
#include "testsupport/finger.h"
#include "testsupport/stationrig.h"
#include "mouldingmachine.h"
#include "simscene.h"
#include "controller/controlport.h"
#include "controller/ui/indexbutton.h"
#include "controller/machinecycle.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/parameterstartup.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammersingleton.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "platform/platformpath.h"
#include "settings/ui/helpwidget.h"
#include "widgets/boxprompt.h"
#include "widgets/choosebox.h"
#include "widgets/combobox.h"
#include "widgets/slider.h"
#include "widgets/colorbutton.h"
#include "widgets/warnbox.h"
#include "testsupport/testenv.h"

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

// Regions of the 640 x 480 scene (see the simulated camera's mould scene).
const QRect kOnPart(220, 140, 40, 50); // the cap's flat body: bright when a part stays
// A guide pin, never covered by a part; the top one, as the editor's row of
// buttons along the view's lower edge covers the lower ones.
const QRect kPin(10, 10, 50, 50);
const int kPartC = 170 | (255 << 8);   // the grey band a part shows in

// Two cameras of one cavity each; the plug-in reads its configuration once
// per process.
const int kCameras = 2;
QJsonObject cameraConfig(int c)
{
    return QJsonObject{{"sn", QString("JOURNEY-%1").arg(c)}, {"width", 640}, {"height", 480}, {"cavitiesX", 1},
                       {"cavitiesY", 1}};
}

// The station on real parts. Detection 1 (mould) judges the
// cavity floor, detection 0 (product) the guide pin, so a part left behind
// is a mould NG and never a product NG.
struct Station {
    TestEnv env;
    BoardSim sim;
    std::unique_ptr<ReDoWizard> win;
    QStringList boxes; // texts of the boxes the operator answered
    std::unique_ptr<stationrig::BoxHand> hand;
    std::unique_ptr<stationrig::MachineTick> tick;
    MouldingMachine* machine = nullptr;
    std::vector<int> leaveNext; // cameras whose next opening shows a part

    bool start()
    {
        if (!env.isValid())
            return false;
        std::string err;
        if (!sim.open(&err) || !sim.linkAt(platform::path("/dev/ttyS0").toStdString(), &err))
            return false;
        sim.start();
        if (!teach())
            return false;
        win = std::make_unique<ReDoWizard>();
        win->show();
        if (numCamera != kCameras || !gpControlIO)
            return false;
        gTempNum = std::max(gTempNum, 3);
        gPicNumNG = 10;
        for (int c = 0; c < kCameras; ++c)
            win->views[c]->camera->setTrigger(true); // frames when the mould opens
        gpControlIO->InitIOThread();
        win->cycle->StartDetect();

        // The operator answers every house box, noting its text.
        hand = std::make_unique<stationrig::BoxHand>(&boxes);
        MouldingMachine::Timing timing;
        timing.closedMs = 400;
        timing.openMs = 1200;
        tick = std::make_unique<stationrig::MachineTick>(sim, *win, timing, [this] {
            for (int c : leaveNext)
                win->views[c]->camera->setValue(QString("leftBehind"), 100);
            leaveNext.clear();
        });
        machine = &tick->machine;
        return true;
    }

    // Regions and templates of every camera, stored as the editor stores
    // them (screen units of a view that fills the screen).
    static bool teach()
    {
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const float sx = float(screen.width()) / 640, sy = float(screen.height()) / 480;
        for (int c = 0; c < kCameras; ++c) {
            SimScene scene;
            scene.configure(cameraConfig(c), 640, 480);
            for (int d = 0; d < 2; ++d) {
                const QString dir = QString("cammer%1%2").arg(c + 1).arg(d + 1);
                if (!QDir().mkpath(dir) || !cv::imwrite((dir + "/template0.bmp").toStdString(), scene.frame(0)))
                    return false;
            }
            auto owner = std::make_unique<CameraViewState>();
            auto store = std::make_unique<CammerSingleton>(c, owner.get());
            auto put = [&](int d, int r, int type, QRect img, int a, int b, int cc) {
                const int i = d * 100 + r;
                store->roiCount[d] = std::max(store->roiCount[d], r + 1);
                store->funcType[i] = type;
                store->shapeKind[i] = 1;
                store->paramA[i] = a;
                store->paramB[i] = b;
                store->paramC[i] = cc;
                store->rects[i].rect = QRect(qRound(img.x() * sx), qRound(img.y() * sy), qRound(img.width() * sx),
                                             qRound(img.height() * sy));
            };
            put(1, 0, 1, kOnPart, 0, 50, kPartC);
            put(0, 0, 1, kPin, 0, 2500, 254 | (255 << 8));
            if (!ParameterStartup::openParamDb(gpWin) || !store->SaveDatatoFile())
                return false;
            if (c == 0 && !stationrig::storeJourneyMachine(0, [](WizardPara&) {}))
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
    // A part stays behind on the cameras listed: the mould alarm holds the
    // mould (outputs 0 and 2 on the wire), the editor shows the live image.
    bool partLeftBehind(std::vector<int> cams)
    {
        leaveNext = cams;
        return waitFor([&] { return gpWin->detectState == 2 && (sim.outputs() & 5u) == 5u; }, 6000) &&
               waitFor([&] { return machine->phase() == MouldingMachine::Phase::Held; }, 3000) &&
               editor()->isVisible() && gSource == 1;
    }
    // The part is taken away: every camera takes a clean frame and the poll
    // takes it up.
    bool cleanFrames()
    {
        for (int c = 0; c < numCamera; ++c)
            win->views[c]->camera->setValue(QString("trigger"), 100);
        return waitFor([&] {
            for (int c = 0; c < numCamera; ++c)
                if (win->views[c]->displayBuffer.data()[kOnPart.center().y() * 640 + kOnPart.center().x()] >= 170)
                    return false;
            return true;
        }, 2000);
    }
    bool released()
    {
        return waitFor([&] { return (sim.outputs() & 5u) == 0 && machine->phase() != MouldingMachine::Phase::Held; },
                       3000);
    }
    static bool waitFor(const std::function<bool()>& pred, int ms)
    {
        QElapsedTimer t;
        t.start();
        while (!pred()) {
            if (t.elapsed() > ms)
                return false;
            QTest::qWait(10);
        }
        return true;
    }
    // The journal's remarks of one type, oldest first.
    static QStringList journal(const QString& type)
    {
        QStringList out;
        QSqlQuery q(gpWin->recordDb);
        q.prepare("SELECT remarks FROM RECORD WHERE recordtype = ? ORDER BY rowid");
        q.addBindValue(type);
        q.exec();
        while (q.next())
            out << q.value(0).toString();
        return out;
    }
};

} // namespace

class TstJourney : public QObject
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
    void editorAndCycleKeepTheirDetections();
    void alarmActionsEndTheirAlarm();
    void resamplingFromTheSideBar();
    void stopAnsweredWhileAnAlarmCameSaysItDidNotStop();
};

// The editor edits the detection it shows while the machine cycles and the
// inspections move the current detection; during a mould alarm a look at the
// product template does not make "Don't Detect" release the product outputs.
void TstJourney::editorAndCycleKeepTheirDetections()
{
    Station s;
    QVERIFY(s.start());
    CammerWidget* view = s.win->views[0];
    QTRY_VERIFY_WITH_TIMEOUT(s.machine->cycles() >= 1, 6000); // an OK cycle ran

    // Region settings from the side bar (a touch on the view brings it),
    // the product detection, ROI 0.
    QVERIFY(finger::tap(view));
    QVERIFY(finger::tap(s.win->sideBar->regionSettings));
    QVERIFY(s.editor()->isVisible());
    QVERIFY(finger::choose(s.editor()->detectCombo, 0));
    QCOMPARE(gpWin->editDetect, 0);
    const QPoint c = view->editStore->rects[0].rect.center();
    const QPoint at(c.x() * view->width() / gShowW, c.y() * view->height() / gShowH);
    QVERIFY(finger::tap(view, at));
    QCOMPARE(view->curRoi, 0);
    QVERIFY(!s.win->sideBar->isVisible()); // the editor's page keeps the bar away
    const int c0 = view->editStore->paramC[0], c1 = view->editStore->paramC[100];
    // The machine goes on: a mould inspection runs.
    const int cycles = s.machine->cycles();
    QTRY_VERIFY_WITH_TIMEOUT(s.machine->cycles() > cycles && gpWin->lastDetect == 1, 6000);
    QVERIFY(view->sliderC->isVisible());
    QVERIFY(finger::tap(view->sliderC->addButton()));
    QCOMPARE(view->editStore->paramC[100], c1); // the mould detection is left alone
    QVERIFY(view->editStore->paramC[0] != c0);
    const int edited = view->editStore->paramC[0];
    QVERIFY(finger::tap(s.editor()->returnButton)); // End Set: commit
    QTRY_VERIFY_WITH_TIMEOUT(!s.editor()->isVisible(), 3000);
    QVERIFY(finger::tap(view)); // the bar comes back after the editor
    QVERIFY(s.win->sideBar->isVisible() && s.win->sideBar->regionSettings->isVisible());
    // PARAM.db: the product ROI holds the edit, the mould ROI its taught value.
    auto storedC = [](const QString& roi) {
        QSqlQuery q(gpWin->paraDb);
        q.prepare("SELECT value FROM " + gpWin->cameraViews[0]->liveStore->tableName() + " WHERE name = ?");
        q.addBindValue(roi);
        return q.exec() && q.next() ? q.value(0).toString().section(' ', 0, 0, QString::SectionSkipEmpty).toInt()
                                    : -1;
    };
    QCOMPARE(storedC("ROI0-0"), edited);
    QCOMPARE(storedC("ROI1-0"), kPartC);

    // A mould alarm; the operator looks at the product template, returns to
    // the live image and does not detect this mould: released.
    QVERIFY(s.partLeftBehind({0}));
    QVERIFY(finger::choose(s.editor()->sourceCombo, 0));
    QVERIFY(finger::choose(s.editor()->detectCombo, 0));
    QVERIFY(finger::choose(s.editor()->sourceCombo, 1));
    QVERIFY(finger::tap(view, QPoint(10, 10)));
    QVERIFY(!s.win->sideBar->isVisible()); // nothing over the alarm's panel
    QVERIFY(s.editor()->noCheckButton->isVisible());
    QVERIFY(finger::tap(s.editor()->noCheckButton));
    QVERIFY2(s.released(), qPrintable(QString("wire %1").arg(s.sim.outputs(), 0, 16)));
    QCOMPARE(gpWin->detectState, 0);
}

// Each alarm ends by its own action: a camera taught by "Don't Detect" in
// one alarm is inspected again by the next alarm's re-detect; "Don't Detect"
// on a camera that is OK during another camera's alarm is refused.
void TstJourney::alarmActionsEndTheirAlarm()
{
    Station s;
    QVERIFY(s.start());
    QTRY_VERIFY_WITH_TIMEOUT(s.machine->cycles() >= 1, 6000);

    // First alarm on camera 1 while the help page is open: the alarm
    // covers it; not detected, released.
    QVERIFY(finger::tap(s.win->helpButton));
    QVERIFY(s.win->helpPage->isVisible());
    QVERIFY(s.partLeftBehind({0}));
    QVERIFY(!s.win->helpPage->isVisible());
    QVERIFY(finger::choose(s.editor()->cameraCombo, 1)); // camera 2 is OK: refused
    s.boxes.clear();
    QVERIFY(finger::tap(s.editor()->noCheckButton));
    QTRY_COMPARE_WITH_TIMEOUT(s.boxes, QStringList{messageText(107)}, 2000);
    QCOMPARE(s.sim.outputs() & 5u, 5u);
    QVERIFY(!Station::journal("operate").contains(messageText(106).arg(2)));
    QVERIFY(!gpWin->alarmTaught[1][1]);
    QVERIFY(finger::choose(s.editor()->cameraCombo, 0));
    QVERIFY(finger::tap(s.editor()->noCheckButton));
    QVERIFY(s.released());
    QVERIFY(Station::journal("operate").contains(messageText(106).arg(1)));

    // Second alarm on camera 1: the part is removed, re-detected: released.
    QVERIFY(s.partLeftBehind({0}));
    QVERIFY(s.cleanFrames());
    QVERIFY(finger::tap(s.editor()->reCheckButton));
    QVERIFY2(s.released(), qPrintable(QString("wire %1").arg(s.sim.outputs(), 0, 16)));
}

// The side bar's resample: the next inspection takes its frame as the
// first template and learns it, and the camera order is stored.
void TstJourney::resamplingFromTheSideBar()
{
    Station s;
    QVERIFY(s.start());
    QTRY_VERIFY_WITH_TIMEOUT(s.machine->cycles() >= 1, 6000);
    const QFileInfo tpl("cammer12/template0.bmp");
    const QDateTime taught = tpl.lastModified();
    QVERIFY(finger::tap(s.win->views[0]));
    QVERIFY(finger::tap(s.win->sideBar->resample));
    QTRY_VERIFY_WITH_TIMEOUT(s.boxes.contains(messageText(137)), 2000);
    QVERIFY(s.win->views[0]->resamplePending[1]);
    const int cycles = s.machine->cycles();
    QTRY_VERIFY_WITH_TIMEOUT(s.machine->cycles() > cycles, 6000);
    QVERIFY(!s.win->views[0]->resamplePending[1]);
    QVERIFY(QFileInfo("cammer12/template0.bmp").lastModified() > taught);
    QCOMPARE(s.sim.outputs() & 5u, 0u); // the learnt frame passes
    QSqlDatabase sn = QSqlDatabase::addDatabase("QSQLITE", "journeySN");
    {
        sn.setDatabaseName("SN.db");
        QVERIFY(sn.open());
        QSqlQuery q(sn);
        QVERIFY(q.exec("SELECT value FROM sysparam WHERE name = 'serialNB0'") && q.next());
        QCOMPARE(q.value(0).toString(), QString("JOURNEY-0"));
        sn.close();
    }
    sn = QSqlDatabase();
    QSqlDatabase::removeDatabase("journeySN");
    QVERIFY(Station::journal("info").contains("Save SN 1: JOURNEY-0"));
}

// YES to stopping the detection after an NG alarm came while the question
// was up leaves the mould held and says so, on the screen and in the journal.
void TstJourney::stopAnsweredWhileAnAlarmCameSaysItDidNotStop()
{
    Station s;
    QVERIFY(s.start());
    QTRY_VERIFY_WITH_TIMEOUT(s.machine->cycles() >= 1, 6000);
    s.hand->stop(); // this operator answers by hand
    QString asked, told;
    finger::answerBox([&](QWidget* box) -> QAbstractButton* {
        auto* question = dynamic_cast<ChooseBox*>(box);
        if (!question || !s.partLeftBehind({0}))
            return nullptr;
        finger::answerYes(5000, &told); // the box that follows
        return question->yesButton();
    }, 5000, &asked);
    QVERIFY(finger::tap(s.win->views[0]));
    QVERIFY(finger::tap(s.win->sideBar->startStop));
    QCOMPARE(asked, messageText(140));
    QTRY_COMPARE_WITH_TIMEOUT(told, messageText(910), 5000);
    QCOMPARE(s.sim.outputs() & 5u, 5u);
    QCOMPARE(s.win->sideBar->startStop->text(), messageText(127));
    const QStringList operated = Station::journal("operate");
    QVERIFY2(operated.contains(messageText(911)) && !operated.contains(messageText(141)),
             qPrintable(operated.join(" | ")));
}

QTEST_MAIN(TstJourney)
#include "tst_journey.moc"

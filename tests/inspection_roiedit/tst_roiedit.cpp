// Touch editing on a real camera view over the simulated plug-in, and the
// commit of edit copies into PARAM.db with its records in RECORD.db. Every
// press and touch is a finger's at a screen point.
#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/parameterstartup.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameramanager.h"
#include "inspection/cammersingleton.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "inspection/roicommit.h"
#include "inspection/templatestore.h"
#include "inspection_view/simplugindir.h"
#include "netservices/viewwatch2zel.h"
#include "testsupport/finger.h"
#include "testsupport/fingerdrag.h"
#include "testsupport/recordingprompt.h"
#include "testsupport/testenv.h"

#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

// Retraining and positioning rebuilds, counted instead of run.
class CountingCommit : public RoiCommit
{
public:
    QStringList calls;

protected:
    void retrain(CameraViewState& v, int d) override { calls << QString("train %1/%2").arg(v.cameraIndex).arg(d); }
    void rebuildPositioning(CameraViewState& v, int d) override
    {
        calls << QString("position %1/%2").arg(v.cameraIndex).arg(d);
    }
};

// The window's cycle, counted.
class Window : public MainState
{
public:
    void CheckNG(bool) override { calls << QString("CheckNG %1").arg(reCheckRequest); }
    void ResetRun() override { calls << "ResetRun"; }
    void RunAlgorithm(int c, int d) override { calls << QString("Run %1/%2").arg(c).arg(d); }
    QStringList calls;
};

// A camera view's data without a screen, with both stores.
struct Cam : CameraViewState
{
    explicit Cam(int c)
    {
        cameraIndex = c;
        liveStore = new CammerSingleton(c, this);
        editStore = new CammerSingleton(c, this);
    }
    ~Cam() override
    {
        delete liveStore;
        delete editStore;
    }
};

void putRect(CammerSingleton* s, int d, int r, QRect rect, int type = 0, int a = 25, int b = 100, int c = 3)
{
    const int i = d * 100 + r;
    s->rects[i] = ClustomRect();
    s->rects[i].rect = rect;
    s->rects[i].setImageRect();
    s->shapeKind[i] = 1;
    s->funcType[i] = type;
    s->paramA[i] = a;
    s->paramB[i] = b;
    s->paramC[i] = c;
    s->roiCount[d] = std::max(s->roiCount[d], r + 1);
}

// Two teachings of different size a committing child switches between: a
// store half of one and half of the other shows in its row list.
void teach(CammerSingleton* s, bool b)
{
    s->roiCount[0] = 0;
    for (int r = 0; r < (b ? 20 : 30); ++r)
        putRect(s, 0, r, b ? QRect(20 + 50 * r, 300, 40, 80) : QRect(10 + 40 * r, 20, 30, 30), b ? 1 : 0, b ? 80 : 25,
                (b ? 500 : 100) + r, b ? 7690 : 3);
}

QStringList rowsOf(const CammerSingleton& s)
{
    QStringList rows{s.detectRowText(0)};
    for (int r = 0; r < s.roiCount[0]; ++r)
        rows << s.roiRowText(0, r);
    return rows;
}

// The child of the kill test: commits the two teachings alternately on two
// cameras until it is killed, printing the number of each finished commit.
int commitChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QDir::setCurrent(argv[2]);
    MessageTable::load();
    RecordingPrompt prompts;
    gDNum = 2;
    numCamera = 2;
    gpWPara = new WizardPara;
    MainState st;
    gpWin = &st;
    if (!ParameterStartup::openParamDb(&st))
        return 2;
    OperationRecords::instance()->runStartup(2);
    Cam a(0), b(1);
    RoiCommit commit;
    commit.setViews({&a, &b});
    for (int n = 0;; ++n) {
        for (Cam* c : {&a, &b})
            teach(c->editStore, n % 2);
        prompts.answer(true);
        if (commit.SlotSaveData() != 2)
            return 3;
        std::printf("%d\n", n);
        std::fflush(stdout);
    }
}

QStringList setRecords()
{
    QStringList out;
    QSqlQuery q(QSqlDatabase::database("dbRecord", false));
    q.exec("select remarks from RECORD where recordtype = 'set' order by rowid");
    while (q.next())
        out << q.value(0).toString();
    return out;
}

} // namespace

class TstRoiEdit : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void drawRectanglesAtTwoZooms();
    void polygonsAndFreeHand();
    void moveCopyDeleteAndLimit();
    void ringsHandlesMoveAllAndRoiSwitch();
    void commitWritesRecordsAndStore();
    void commitSurvivesKills();
    void panelPagesButtonsAndReturn();
    void alarmIgnoreAndStopDetecting();
    void templatesAddDeleteAndPages();
    void generateRoisOnMatches();
    void renderEditorScreens();

private:
    CammerWidget* makeView();
    QPoint w(QPoint roi) const; // ROI coordinates to widget pixels
    QPoint at(QPoint roi) const { return m_view->mapToGlobal(w(roi)); } // ... and to the screen
    void drag(QPoint from, QPoint to, int steps = 1);
    void tap(QPoint roi, int afterMs = 1000);

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<TestClock> m_clock;
    std::unique_ptr<RecordingPrompt> m_prompts;
    Window* m_state = nullptr;
    QWidget* m_host = nullptr;
    CammerWidget* m_view = nullptr;
};

void TstRoiEdit::init()
{
    m_env = std::make_unique<TestEnv>();
    QVERIFY(m_env->isValid());
    m_clock = std::make_unique<TestClock>();
    Clock::install(m_clock.get());
    m_prompts = std::make_unique<RecordingPrompt>();
    gLan = 1;
    gDNum = 2;
    gTempNum = 3;
    numCamera = 2;
    gSource = 0;
    gpWPara = new WizardPara;
    gpWPara->detectEnabled[0] = gpWPara->detectEnabled[1] = 1;
    m_state = new Window;
    gpWin = m_state;
    QVERIFY(ParameterStartup::openParamDb(m_state));
    OperationRecords::instance()->runStartup(2);
}

void TstRoiEdit::cleanup()
{
    delete m_host;
    m_host = nullptr;
    m_view = nullptr;
    OperationRecords::instance()->close();
    m_state->paraQuery = QSqlQuery();
    m_state->paraDb.close();
    m_prompts.reset();
    m_env.reset();
    delete m_state;
    m_clock.reset();
}

// The view of a fresh camera manager as the window's camera 1, in place of any made before.
CammerWidget* TstRoiEdit::makeView()
{
    delete m_host;
    m_host = new QWidget;
    m_host->resize(gShowW, gShowH);
    delete CameraManager::_instance;
    const QJsonObject cams{{"typeName", "SimEdit"}, {"kind", 1}, {"fps", 5},
                           {"cameras", QJsonArray{QJsonObject{{"sn", "EDIT-MONO-0001"}, {"color", false}}}}};
    CameraManager* m = CameraManager::getInstance();
    loadCameras(*m, makeSimPluginDir({{"edit", cams}}));
    if (m->cameras.isEmpty())
        return nullptr;
    m_view = new CammerWidget(m_host, 0, m->cameras.first());
    m_view->setGeometry(0, 0, gShowW, gShowH);
    m_view->show();
    m_host->show();
    m_view->editStore->assignFrom(*m_view->liveStore);
    m_state->cameraViews[0] = m_view;
    return m_view;
}

QPoint TstRoiEdit::w(QPoint roi) const
{
    const double z = m_state->zoomFactor;
    return QPoint(int(roi.x() * z + m_state->zoomOffset.x()), int(roi.y() * z + m_state->zoomOffset.y()));
}

// A finger drawn across the view; it must go down on the view, not on a
// control over it.
void TstRoiEdit::drag(QPoint from, QPoint to, int steps)
{
    m_clock->advance(1000); // never half of a double click
    QWidget* on = finger::drag(at(from), at(to), steps);
    if (on != m_view)
        QFAIL(qPrintable(QString("a drag from %1,%2 went down on %3")
                             .arg(from.x())
                             .arg(from.y())
                             .arg(finger::describe(on))));
}

// A tap afterMs after the last touch (by default never half of a double click).
void TstRoiEdit::tap(QPoint roi, int afterMs)
{
    m_clock->advance(afterMs);
    QWidget* on = finger::touchAt(at(roi));
    if (on != m_view)
        QFAIL(qPrintable(QString("a tap at %1,%2 touched %3").arg(roi.x()).arg(roi.y()).arg(finger::describe(on))));
}

void TstRoiEdit::drawRectanglesAtTwoZooms()
{
    QVERIFY(makeView());
    CammerSingleton* s = m_view->editStore;
    QTouchDevice* touch = QTest::createTouchDevice();
    for (int pass = 0; pass < 2; ++pass) {
        m_state->zoomFactor = pass ? 2.0 : 1.0;
        m_state->zoomOffset = pass ? QPointF(-100, -50) : QPointF();
        s->roiCount[0] = 0;
        gpWPara->rectToIrregular = 0;
        m_state->drawTool = 1;
        drag({100, 100}, {109, 200});
        QCOMPARE(s->roiCount[0], 0);
        QCOMPARE(m_state->drawTool, 0); // a dropped shape ends the drawing too
        m_state->drawTool = 1;
        drag({200, 200}, {100, 100});
        QCOMPARE(s->roiCount[0], 0);

        // A real touch sequence: the press, a move and the release arrive
        // as synthesized mouse events.
        m_state->drawTool = 1;
        m_clock->advance(1000);
        QTest::touchEvent(m_host, touch).press(0, w({100, 100}), m_view);
        QTest::touchEvent(m_host, touch).move(0, w({111, 200}), m_view);
        QTest::touchEvent(m_host, touch).release(0, w({111, 200}), m_view);
        QCOMPARE(s->roiCount[0], 1);
        QCOMPARE(s->shapeKind[0], 1);
        QCOMPARE(s->rects[0].rect, QRect(QPoint(100, 100), QPoint(111, 200)));
        QCOMPARE(m_view->curRoi, 0);
        QVERIFY(s->rects[0].IsSelected());
        QVERIFY(!m_view->editMasks[0][0].empty());

        // Stored as four corners, clockwise from the top left.
        gpWPara->rectToIrregular = 1;
        s->funcType[0] = 1;
        s->paramB[0] = 777;
        m_state->drawTool = 1;
        drag({300, 300}, {400, 350});
        QCOMPARE(s->roiCount[0], 2);
        QCOMPARE(s->shapeKind[100 * 0 + 1], 2);
        const RePolygon& p = s->polygons[1];
        QCOMPARE(p.count, 4);
        QCOMPARE(QVector<QPoint>(p.points, p.points + 4),
                 QVector<QPoint>({{300, 300}, {400, 300}, {400, 350}, {300, 350}}));
        // The second ROI inherits the first one's function and parameters.
        QCOMPARE(s->funcType[1], 1);
        QCOMPARE(s->paramB[1], 777);
    }
}

void TstRoiEdit::polygonsAndFreeHand()
{
    QVERIFY(makeView());
    CammerSingleton* s = m_view->editStore;
    gpWPara->continuationArea = 1;
    m_state->drawTool = 2;
    // In the all-cameras grid a touch only picks the camera; away from the
    // template source it draws nothing.
    m_state->curCamera = numCamera;
    tap({100, 100});
    QCOMPARE(m_state->curCamera, 0);
    gSource = 1;
    tap({100, 100});
    gSource = 0;
    QCOMPARE(m_view->drawPointCount, 0);
    m_state->freeHand = false;
    for (QPoint p : {QPoint(100, 100), QPoint(300, 100), QPoint(200, 300)})
        tap(p);
    QCOMPARE(m_view->drawPointCount, 3);
    // Double click: the first touch's point goes, the second adds none.
    tap({600, 600});
    tap({605, 598}, 300);
    QCOMPARE(s->roiCount[0], 1);
    QCOMPARE(s->shapeKind[0], 2);
    QCOMPARE(s->polygons[0].count, 3);
    QCOMPARE(s->polygons[0].points[2], QPoint(200, 300));
    QCOMPARE(m_view->drawPointCount, 0);
    QVERIFY(s->polygons[0].IsSelected());
    QCOMPARE(m_state->drawTool, 2); // continuation keeps polygon mode armed

    // Free-hand: points come from moves; five are too few, six make an area.
    m_state->freeHand = true;
    drag({700, 100}, {750, 150}, 5);
    QCOMPARE(s->roiCount[0], 1);
    m_state->drawTool = 2;
    drag({700, 100}, {760, 160}, 6);
    QCOMPARE(s->roiCount[0], 2);
    QVERIFY(s->polygons[1].getHand());
    QCOMPARE(s->polygons[1].count, 6);
}

void TstRoiEdit::moveCopyDeleteAndLimit()
{
    QVERIFY(makeView());
    CammerSingleton* s = m_view->editStore;
    for (int r = 0; r < 5; ++r)
        putRect(s, 0, r, QRect(QPoint(100 + 200 * r, 100), QPoint(180 + 200 * r, 200)), 0, 25, 101 + r);
    for (int r = 0; r < 5; ++r)
        m_view->refreshShape(r);
    m_state->drawTool = 0;

    // Selected by a press, then 2 screen pixels (2 image pixels across,
    // roiScaleX 1) move nothing, 3 do.
    drag({140, 150}, {142, 150});
    QCOMPARE(m_view->curRoi, 0);
    QCOMPARE(s->rects[0].rect.left(), 100);
    drag({140, 150}, {143, 150});
    QCOMPARE(s->rects[0].rect.left(), 103);
    QCOMPARE(s->rects[0].imageRect.left(), 103);

    // A press outside deselects and remembers ROI 0; copy then takes it and
    // centres the copy on the touch after a YES to message 38.
    tap({1000, 600});
    QCOMPARE(m_view->curRoi, -1);
    m_state->copyArea = true;
    m_prompts->answer(true);
    tap({640, 500});
    QVERIFY(m_prompts->numbers().contains(38));
    QCOMPARE(s->roiCount[0], 6);
    QCOMPARE(s->rects[5].rect.center(), QPoint(640, 500));
    QCOMPARE(s->paramB[5], 101);
    QVERIFY(!m_state->copyArea);

    // Deleting ROI 2 clears ignored points under it only, and shifts.
    m_view->ignoreMasks[0].data()[size_t(130) * size_t(m_view->imageWidth) + 540] = 255; // under ROI 2
    m_view->ignoreMasks[0].data()[size_t(130) * size_t(m_view->imageWidth) + 740] = 255; // under ROI 3
    m_view->DeleteROI(2);
    QCOMPARE(s->roiCount[0], 5);
    QCOMPARE(s->paramB[2], 104);
    QCOMPARE(s->rects[2].rect.left(), 700);
    QCOMPARE(int(m_view->ignoreMasks[0].data()[size_t(130) * size_t(m_view->imageWidth) + 540]), 0);
    QCOMPARE(int(m_view->ignoreMasks[0].data()[size_t(130) * size_t(m_view->imageWidth) + 740]), 255);
    QVERIFY(QFile::exists("cammer11/ignorepoint.bmp"));

    // The 101st ROI: refused from drawing, SavePolygon and copy.
    for (int r = 5; r < 100; ++r)
        putRect(s, 0, r, QRect(10, 10, 20, 20));
    m_prompts->clear();
    m_prompts->answer(true); // the copy's question
    m_state->drawTool = 1;
    drag({300, 300}, {400, 400});
    m_state->drawTool = 2;
    m_state->freeHand = false;
    gpWPara->continuationArea = 0;
    for (QPoint p : {QPoint(500, 500), QPoint(600, 500), QPoint(550, 600)})
        tap(p);
    m_view->SavePolygon();
    m_view->setCurRoi(0);
    m_state->copyArea = true;
    tap({800, 650});
    QCOMPARE(s->roiCount[0], 100);
    QCOMPARE(m_prompts->numbers(), (QList<int>{36, 36, 38, 36}));
}

// The parameter panel's buttons on shapes drawn by touch.
void TstRoiEdit::ringsHandlesMoveAllAndRoiSwitch()
{
    QVERIFY(makeView());
    CammerSingleton* s = m_view->editStore;
    auto* panel = new DrawROIWidget(m_host);
    gpWPara->enableProdDetect = 1; // the editor opens on detection 0
    panel->Reset(false);
    QCOMPARE(m_state->editDetect, 0);
    // A ring previews while dragged as the ring the release stores.
    finger::tap(panel->circleButton);
    m_clock->advance(1000);
    QRect preview;
    {
        finger::Touch t(at({400, 300}));
        QCOMPARE(t.widget(), m_view);
        t.moveTo(at({600, 400}));
        preview = m_view->workCircle.rect;
    }
    QCOMPARE(s->roiCount[0], 1);
    QCOMPARE(s->shapeKind[0], 4);
    QCOMPARE(s->circles[0].rect, preview);
    QCOMPARE(preview, QRect(400, 300, 100, 100));

    // Its size buttons: outer radius, inner radius, then the centre.
    Circle& ring = s->circles[0];
    const int r0 = ring.radius, in0 = ring.innerRadius, cx0 = ring.cx;
    QVERIFY(m_view->sizeButtons[0]->isVisible());
    QCOMPARE(m_view->sizeButtons[0]->text(), QString("+10"));
    finger::tap(m_view->sizeButtons[0]);
    finger::tap(m_view->objectButton);
    finger::tap(m_view->sizeButtons[1]);
    finger::tap(m_view->objectButton);
    QCOMPARE(m_view->sizeButtons[3]->text(), QString("X +1"));
    finger::tap(m_view->sizeButtons[3]);
    QCOMPARE(QList<int>({ring.radius, ring.innerRadius, ring.cx}), QList<int>({r0 + 10, in0 + 1, cx0 + 1}));

    // A rectangle resized by its bottom-right handle.
    finger::tap(panel->rectButton);
    drag({100, 100}, {300, 300});
    QCOMPARE(m_view->curRoi, 1);
    drag({300, 300}, {360, 380}, 3);
    QCOMPARE(s->rects[100 * 0 + 1].rect, QRect(QPoint(100, 100), QPoint(360, 380)));

    // Fine tuning, all regions: the move buttons move every region of the detection.
    finger::tap(m_view->moveToggle);
    QVERIFY(m_view->moveAllButton->isVisible() && m_view->moveButtons[3]->isVisible());
    finger::tap(m_view->moveAllButton);
    finger::tap(m_view->moveAllButton);
    QCOMPARE(m_view->moveAllButton->text(), messageText(34));
    const int ringX = ring.cx;
    finger::tap(m_view->moveButtons[3]);
    finger::tap(m_view->moveButtons[1]);
    QCOMPARE(QList<int>({ring.cx, ring.cy, s->rects[1].rect.left(), s->rects[1].rect.top()}),
             QList<int>({ringX + 1, 350 + 1, 101, 101}));
    finger::tap(m_view->moveAllButton);

    // Stacked regions: a touch takes the first, the ROI switch the next
    // one under the same touch, wrapping.
    finger::tap(panel->rectButton);
    drag({150, 150}, {250, 250});
    tap({900, 700});
    QCOMPARE(m_view->curRoi, -1);
    tap({200, 200});
    QCOMPARE(m_view->curRoi, 1);
    QVector<int> seen;
    for (int k = 0; k < 2; ++k) {
        finger::tap(m_view->roiSwitchButton);
        seen << m_view->curRoi;
    }
    QCOMPARE(seen, (QVector<int>{2, 1}));
    QVERIFY(s->rects[1].IsSelected() && !s->rects[2].IsSelected());
}

void TstRoiEdit::commitWritesRecordsAndStore()
{
    Cam a(0), b(1);
    // Camera 1: four ROIs, the third a spot detection.
    putRect(a.liveStore, 0, 0, QRect(100, 100, 50, 50));
    putRect(a.liveStore, 0, 1, QRect(300, 100, 50, 50), 0, 25, 100, 3);
    putRect(a.liveStore, 0, 2, QRect(500, 100, 50, 50), 1, 80, 500, (30 << 8) | 10);
    putRect(a.liveStore, 0, 3, QRect(700, 100, 50, 50), 0, 25, 200, 3);
    putRect(b.liveStore, 1, 0, QRect(100, 100, 50, 50));
    QVERIFY(a.liveStore->SaveDatatoFile());
    QVERIFY(b.liveStore->SaveDatatoFile());
    a.editStore->assignFrom(*a.liveStore);
    b.editStore->assignFrom(*b.liveStore);
    CountingCommit commit;
    commit.setViews({&a, &b});

    // Taps and handle probes leave editing state only: nothing to ask.
    int code;
    a.editStore->rects[1].SetSelected(true);
    a.editStore->rects[1].PtInCtrl(QPoint(300, 100), &code);
    a.editStore->rects[1].moveX = 4;
    QCOMPARE(commit.SlotSaveData(), 0);
    QVERIFY(m_prompts->numbers().isEmpty());

    // Camera 1: ROI 1 (index 0) only changes its type; ROI 3 (spot) its
    // lower grey limit, bits 0-7; then ROI 1 is deleted, shifting the rest.
    // Camera 2: a positioning ROI is added.
    a.editStore->funcType[0] = 7;
    a.editStore->paramC[2] = (30 << 8) | 40;
    putRect(b.editStore, 1, 1, QRect(400, 400, 60, 60), 3, 5, 6, 7);
    auto paramDb = [] {
        QFile f("PARAM.db");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray before = paramDb();
    QVERIFY(!before.isEmpty());
    commit.retrainPending[1] = true; // a template changed earlier
    QCOMPARE(commit.SlotSaveData(), 0);
    QCOMPARE(m_prompts->numbers(), QList<int>{72});
    QCOMPARE(commit.calls, (QStringList{"train 1/0", "train 1/1"}));
    QVERIFY(paramDb() == before);
    QCOMPARE(a.editStore->paramC[2], (30 << 8) | 40); // edits kept
    QVERIFY(setRecords().isEmpty());

    // Now with ROI 2 deleted: the later ones move up and are compared with
    // themselves, under the numbers they show now.
    RoiTouchEdit(a).DeleteROI(1);
    m_prompts->clear();
    m_prompts->answer(true);
    commit.calls.clear();
    QCOMPARE(commit.SlotSaveData(), 2);
    const QString h1 = messageText(73).arg(1).arg(messageText(263));
    const QString h2 = messageText(73).arg(2).arg(messageText(264));
    const QStringList recs = setRecords();
    // Index 0 changed its type only, the last ROI nothing: no record.
    QCOMPARE(recs.join('\n'),
             QStringList({h1 + messageText(81).arg(messageText(74)).arg(2).arg(messageText(25)),
                          h1 + messageText(99).arg(messageText(74), "2" + messageText(913).arg(3), messageText(84),
                                                   messageText(89).arg(messageText(85).arg(10).arg(40), "", "", ""),
                                                   ""),
                          h2 + messageText(80).arg(messageText(74)).arg(2).arg(messageText(79).arg(7).arg(5).arg(6))})
                 .join('\n'));
    QVERIFY(!RoiCommit::storesDiffer(*a.liveStore, *a.editStore));
    QCOMPARE(commit.calls, (QStringList{"position 1/0", "position 1/1", "train 0/0", "train 0/1", "train 1/0",
                                        "train 1/1"}));

    // The spot ROI's lower grey limit alone reports 85, not 86.
    a.editStore->paramC[1] = (30 << 8) | 41;
    bool pos = false;
    const QStringList one = RoiCommit::changeRecords(0, 0, *a.liveStore, *a.editStore, &pos);
    QCOMPARE(one.size(), 1);
    QVERIFY(one[0].contains(messageText(85).arg(40).arg(41)));
    QVERIFY(!one[0].contains("maximum gradation"));
    QVERIFY(!one[0].contains(messageText(98)));

    // The mould detection synchronised from the product detection: its region
    // is replaced, so it is journalled deleted under its number and the three
    // copied ones added, never as region 1 changed.
    putRect(a.liveStore, 1, 0, QRect(100, 100, 50, 50));
    a.editStore->assignFrom(*a.liveStore);
    m_prompts->answer(true); // the synchronisation
    m_prompts->answer(true); // End Set
    a.editStore->copyParam(0, 1);
    QCOMPARE(commit.SlotSaveData(), 1);
    const QStringList synced = setRecords().mid(recs.size());
    QCOMPARE(synced.size(), 4);
    QCOMPARE(synced.first(), messageText(73).arg(1).arg(messageText(264))
                                 + messageText(81).arg(messageText(74)).arg(1).arg(messageText(25)));
}

void TstRoiEdit::panelPagesButtonsAndReturn()
{
    numCamera = 1;
    QVERIFY(makeView());
    {
        DrawROIWidget one(m_host);
        QCOMPARE(one.cameraCombo->count(), 1); // no "All Camera" with one camera
    }
    numCamera = 2;
    gpWPara->enableProdDetect = 0;
    gpWPara->systemMode = 1;
    gDNum = 4;
    auto* panel = new DrawROIWidget(m_host);
    QCOMPARE(panel->cameraCombo->count(), 3);
    QCOMPARE(m_state->roiEditor, panel);

    // Live store into the edit copy; product detection off opens on the mould.
    putRect(m_view->liveStore, 1, 0, QRect(100, 100, 50, 50));
    m_state->lastDetect = 0;
    panel->Reset(false);
    QCOMPARE(gSource, 0);
    QCOMPARE(m_state->editDetect, 1);
    QVERIFY(!RoiCommit::storesDiffer(*m_view->liveStore, *m_view->editStore));
    auto vis = [panel](QWidget* w) { return w->isVisibleTo(panel); };
    QVERIFY(vis(panel->rectButton) && vis(panel->deleteAllButton) && vis(panel->returnButton));
    QVERIFY(vis(panel->cameraCombo) && !vis(panel->reCheckButton) && !vis(panel->autoChangeButton));
    QVERIFY(!vis(panel->opButton) && !vis(panel->helpButton) && !vis(panel->ignoreButton));

    // "All Camera" with the template source takes the last camera.
    finger::choose(panel->cameraCombo, 2);
    QCOMPARE(m_state->curCamera, 1);
    finger::choose(panel->cameraCombo, 0);
    QCOMPARE(m_state->curCamera, 0);

    // A product detection is refused while it is off; in modes 1 and 2 so
    // is the mould not chosen (left 0, right 1); mode 3 has no sides.
    struct Pick {
        int mode, side, index;
        QList<int> told;
        int now;
    };
    // The right mould's product detection, refused, goes to the right mould.
    for (const Pick& p : {Pick{1, 2, 2, {118}, 1}, Pick{1, 0, 3, {752}, 1}, Pick{1, 1, 0, {752}, 1},
                          Pick{1, 1, 2, {118}, 3}, Pick{3, 0, 2, {}, 2}, Pick{3, 1, 1, {}, 1}}) {
        gpWPara->systemMode = p.mode;
        gpWPara->moldSelect = p.side;
        m_prompts->clear();
        finger::choose(panel->detectCombo, p.index);
        QCOMPARE(m_prompts->numbers(), p.told);
        QCOMPARE(panel->detectCombo->currentIndex(), p.now);
        QCOMPARE(m_state->editDetect, p.now);
    }
    gpWPara->systemMode = 1;
    // Opening follows the chosen mould: the left one maps the right
    // detections onto its own, the right one the left detections.
    for (auto [side, last, opened] : {std::tuple{0, 3, 1}, {0, 2, 1}, {1, 0, 3}, {1, 1, 3}}) {
        gpWPara->moldSelect = side;
        m_state->lastDetect = last;
        panel->Reset(false);
        QCOMPARE(m_state->editDetect, opened);
        QCOMPARE(panel->detectCombo->currentIndex(), opened);
    }
    gpWPara->moldSelect = 0;
    finger::choose(panel->detectCombo, 1);

    // Continuation: the armed tool is the one checked and enabled button;
    // pressing it again disarms.
    gpWPara->continuationArea = 1;
    finger::tap(panel->rectButton);
    QCOMPARE(m_state->drawTool, 1);
    QVERIFY(panel->rectButton->isChecked() && panel->rectButton->isEnabled());
    QVERIFY(!panel->circleButton->isEnabled() && !panel->copyButton->isEnabled());
    finger::tap(panel->rectButton);
    QCOMPARE(m_state->drawTool, 0);
    QVERIFY(panel->circleButton->isEnabled() && !panel->rectButton->isChecked());
    // Copy toggle without continuation: copy armed disables the drawing buttons.
    gpWPara->continuationArea = 0;
    gpWPara->continuousCopy = 1;
    finger::tap(panel->copyButton);
    QVERIFY(m_state->copyArea && panel->copyButton->isChecked() && panel->copyButton->isEnabled());
    QVERIFY(!panel->rectButton->isEnabled() && !panel->handButton->isEnabled());
    finger::tap(panel->copyButton);
    QVERIFY(!m_state->copyArea);
    QVERIFY(panel->rectButton->isEnabled());

    // Delete all: ROIs of the detection and its ignore mask, on disk at once.
    m_view->ignoreMasks[1].data()[10] = 255;
    m_prompts->answer(true);
    finger::tap(panel->deleteAllButton);
    QCOMPARE(m_view->editStore->roiCount[1], 0);
    QCOMPARE(int(m_view->ignoreMasks[1].data()[10]), 0);
    QVERIFY(QFile::exists("cammer12/ignorepoint.bmp"));

    // During an alarm, return commits and stays on the live image.
    m_prompts->clear();
    m_state->detectState = 2;
    finger::tap(panel->returnButton);
    QCOMPARE(m_prompts->numbers(), QList<int>{72});
    QCOMPARE(gSource, 1);
    QVERIFY(panel->isVisible() && vis(panel->reCheckButton) && vis(panel->addTempButton));
    QVERIFY(!vis(panel->returnButton));
    delete panel;
    QCOMPARE(m_state->roiEditor, nullptr);
}

void TstRoiEdit::alarmIgnoreAndStopDetecting()
{
    QVERIFY(makeView());
    auto* panel = new DrawROIWidget(m_host);
    // Alarm points everywhere; a spot reported past the frame's corner is
    // taken inside the frame only (the 2000-point limit is the chain's).
    const int w = m_view->imageWidth, h = m_view->imageHeight;
    putRect(m_view->liveStore, 1, 0, QRect(1100, 700, 170, 90));
    m_view->editStore->assignFrom(*m_view->liveStore);
    std::memset(m_view->defectMask.data(), 1, m_view->defectMask.size());
    m_view->roiResult[1][0] = 0;
    m_view->roiValue[1][0] = 5;
    m_view->spotRects[1][0][0][0] = 1;
    m_view->spotRects[1][0][1] = {w - 4, h - 2, w + 6, h + 9};
    QCOMPARE(ignoreAlarmPoints(*m_view, 1), 8);

    // "Don't Detect" for all cameras during an alarm: result code 4, the
    // decision runs as a re-check, an operate record.
    m_state->detectState = 2;
    m_state->lastDetect = 1;
    panel->Reset(false); // the alarm page of the live image
    numCamera = 1;
    m_state->curCamera = 1; // all cameras
    m_state->alarmClearState[0][1] = 3;
    m_prompts->clear();
    m_prompts->answer(true);
    finger::tap(panel->noCheckButton);
    QCOMPARE(m_prompts->numbers(), (QList<int>{102}));
    QCOMPARE(m_state->alarmClearState[0][1], 4);
    QCOMPARE(m_state->calls, (QStringList{"ResetRun", "CheckNG 1"}));
    QCOMPARE(gSource, -1);
    QSqlQuery q(QSqlDatabase::database("dbRecord", false));
    QVERIFY(q.exec("select remarks, recordtype from RECORD where recordtype = 'operate'") && q.next());
    QCOMPARE(q.value(0).toString(), messageText(103));

    // One camera: its results cleared, code 4, taught. The re-detect that
    // follows is the cycle's (none here; the station journeys drive it).
    m_state->curCamera = 0;
    m_state->detectState = 2;
    panel->Reset(false);
    m_state->calls.clear();
    m_state->alarmClearState[0][1] = 3;
    m_view->isOK = false;
    m_view->roiResult[1][0] = 0;
    m_prompts->clear();
    m_prompts->answer(true);
    finger::tap(panel->noCheckButton);
    QCOMPARE(m_prompts->numbers(), (QList<int>{105}));
    QVERIFY(m_view->roiResult[1][0] == 1 && m_state->alarmTaught[0][1]);
    QCOMPARE(m_state->alarmClearState[0][1], 4);
}

void TstRoiEdit::templatesAddDeleteAndPages()
{
    QVERIFY(makeView());
    auto* panel = new DrawROIWidget(m_host);
    const int d = 1;
    m_state->editDetect = d;
    // Full slots, files of different ages; template0 the oldest.
    for (int k = 0; k < 3; ++k) {
        QVERIFY(TemplateStore::AddTemp(*m_view, d, m_view->frameBuffer.data()) >= 0 || k == 0);
        m_view->templateValid[d][size_t(k)] = 1;
    }
    m_view->templateCount[d] = 3;
    for (int k = 0; k < 3; ++k) {
        QFile f(QString("cammer12/template%1.bmp").arg(k));
        QVERIFY(m_env->writeWorkFile(f.fileName(), "x"));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(k == 2 ? -300 : -600 + 10 * k),
                              QFileDevice::FileModificationTime));
    }
    // template0 (oldest) is kept; template1, the next oldest, is replaced.
    QCOMPARE(TemplateStore::AddTemp(*m_view, d, m_view->frameBuffer.data()), 1);
    QVERIFY(QFileInfo("cammer12/template1.bmp").size() > 1000);
    QCOMPARE(QFileInfo("cammer12/template0.bmp").size(), 1);
    QCOMPARE(m_view->templateCount[d], 3);
    // With only the base template on disk the last slot is taken.
    QFile::remove("cammer12/template1.bmp");
    QFile::remove("cammer12/template2.bmp");
    QCOMPARE(TemplateStore::AddTemp(*m_view, d, m_view->frameBuffer.data()), 2);

    // Refusals: the base template, an OK camera in an alarm, the door, one slot.
    m_state->curCamera = 0;
    m_state->lastDetect = d;
    panel->Reset(false); // the template page, on the base template
    QCOMPARE(m_view->curTemplate, 0);
    finger::tap(panel->deleteTempButton);
    m_state->detectState = 2;
    panel->Reset(false); // the alarm page of the live image
    m_view->isOK = true;
    finger::tap(panel->addTempButton);
    m_view->isOK = false;
    gpWPara->doorLiftAlarm = 1;
    finger::tap(panel->addTempButton);
    gpWPara->doorLiftAlarm = 0;
    gTempNum = 1;
    finger::tap(panel->addTempButton);
    gTempNum = 3;
    QCOMPARE(m_prompts->numbers(), (QList<int>{68, 107, 195, 258}));

    // The template page shows the time of the template shown (the base
    // template alone left: the side bar's resample, in the window's tests).
    m_view->templateValid[d][1] = m_view->templateValid[d][2] = 0;
    m_view->templateCount[d] = 1;
    m_state->detectState = 0;
    panel->Reset(false);
    gTempTime.clear();
    finger::tap(panel->prevButton);
    QCOMPARE(m_view->curTemplate, 0);
    QCOMPARE(gTempTime, QFileInfo("cammer12/template0.bmp").lastModified().toString("yyyy-MM-dd hh.mm.ss"));

    // Result pages.
    QCOMPARE(TemplateStore::rangeItems(250), (QStringList{"1~100", "101~200", "201~300"}));
    QCOMPARE(TemplateStore::rangeItems(200).size(), 3);
    QCOMPARE(TemplateStore::stepBack(100, 1, 250), 199);
    QCOMPARE(TemplateStore::stepForward(199, 1, 250), 100);
    QCOMPARE(TemplateStore::stepBack(200, 2, 250), 249);
}

void TstRoiEdit::generateRoisOnMatches()
{
    // A 640 x 480 frame on the 1280 x 800 screen: scales 2 and 5/3.
    Cam v(0);
    v.imageWidth = 640;
    v.imageHeight = 480;
    v.pixelCount = v.frameBytes = 640 * 480;
    v.roiScaleX = 2.0f;
    v.roiScaleY = 800.0f / 480.0f;
    cv::Mat img(480, 640, CV_8UC1);
    cv::RNG rng(7);
    rng.fill(img, cv::RNG::UNIFORM, 110, 140);
    cv::Mat patch(48, 48, CV_8UC1);
    rng.fill(patch, cv::RNG::UNIFORM, 0, 255);
    const QPoint at[3] = {{60, 80}, {300, 100}, {420, 300}};
    for (QPoint p : at)
        patch.copyTo(img(cv::Rect(p.x(), p.y(), 48, 48)));
    v.templateImages[1].resize(3);
    v.templateImages[1][0].allocate(size_t(v.frameBytes));
    std::memcpy(v.templateImages[1][0].data(), img.data, size_t(v.frameBytes));
    m_state->editDetect = 1;
    RoiTouchEdit edit(v);
    putRect(v.editStore, 1, 0, QRect(QPoint(120, 134), QPoint(214, 211)));
    putRect(v.editStore, 1, 1, QRect(QPoint(700, 600), QPoint(800, 700)), 3); // positioning: not a pattern
    edit.refreshShape(100);
    const QPoint offset = v.editStore->rects[100].imageRect.topLeft() - at[0];
    QCOMPARE(edit.GenROI(), 3);
    QCOMPARE(v.editStore->roiCount[1], 3);
    for (QPoint p : at) {
        bool hit = false;
        for (int r = 0; r < 3; ++r) {
            const QPoint d = v.editStore->rects[100 + r].imageRect.topLeft() - (p + offset);
            hit |= std::abs(d.x()) <= 1 && std::abs(d.y()) <= 1 && v.editStore->shapeKind[100 + r] == 1;
        }
        QVERIFY2(hit, qPrintable(QString("no ROI on the match at %1,%2").arg(p.x()).arg(p.y())));
    }
}

void TstRoiEdit::commitSurvivesKills()
{
    QStringList ref[2];
    for (int b = 0; b < 2; ++b) {
        Cam r(0);
        teach(r.liveStore, b);
        ref[b] = rowsOf(*r.liveStore);
    }
    m_state->paraDb.close();
    for (int kill = 1; kill <= 12; ++kill) {
        QProcess p;
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(QCoreApplication::applicationFilePath(), {"--commit-child", QDir::currentPath()});
        QVERIFY(p.waitForStarted());
        // Killed after a varying number of commits, somewhere inside the next.
        const int after = 1 + int(QRandomGenerator::global()->bounded(4));
        for (int seen = 0; seen < after && p.state() == QProcess::Running;) {
            p.waitForReadyRead(2000);
            seen += p.readAll().count('\n');
        }
        p.kill();
        p.waitForFinished();
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QVERIFY(m_state->paraDb.open());
        m_state->paraQuery = QSqlQuery(m_state->paraDb);
        for (int c = 0; c < 2; ++c) {
            Cam load(c);
            load.liveStore->loadFromTable(1.0f, 1.0f, nullptr);
            const QStringList rows = rowsOf(*load.liveStore);
            QVERIFY2(rows == ref[0] || rows == ref[1],
                     qPrintable(QString("camera %1 after kill %2: %3 rows").arg(c).arg(kill).arg(rows.size())));
        }
        m_state->paraQuery = QSqlQuery();
        m_state->paraDb.close();
    }
    QVERIFY(m_state->paraDb.open());
}

void TstRoiEdit::renderEditorScreens()
{
    // Each page at both screen sizes, in English and Simplified Chinese:
    // everything the panel shows lies on the screen. Pictures of the pages
    // are written when STATION_RENDER_DIR names a folder.
    const QString dir = qEnvironmentVariable("STATION_RENDER_DIR");
    if (!dir.isEmpty())
        QDir().mkpath(dir);
    for (QSize screen : {QSize(1024, 768), QSize(1280, 800)}) {
        for (int lan : {1, 0}) {
            gShowW = screen.width();
            gShowH = screen.height();
            gLan = lan;
            QVERIFY(makeView());
            std::fill_n(gpWPara->exposeTime, 8, 30);
            std::fill_n(gpWPara->adjustPlus, 8, 32);
            m_view->CameraChangeTrig(true);
            m_view->camera->setValue(QString("trigger"), 100);
            gSource = 1;
            QVERIFY(m_view->UpdateImage());
            const size_t bytes = m_view->frameBuffer.size();
            for (PixelBuffer* b : {&m_view->templateImages[1][0], &m_view->recentNgImages[1].emplace_back()}) {
                b->allocate(bytes);
                std::memcpy(b->data(), m_view->frameBuffer.data(), bytes);
            }
            m_view->recentNgCount[1] = 1;
            putRect(m_view->liveStore, 1, 0, QRect(QPoint(120, 150), QPoint(380, 360)), 0, 45, 100, 3);
            putRect(m_view->liveStore, 1, 1, QRect(QPoint(450, 200), QPoint(650, 420)), 1, 80, 500, 7690);
            const QString ngDir = TemplateStore::resultFolder(0, 1, false);
            QVERIFY(QDir().mkpath(ngDir));
            for (const char* name : {"2026-01-05_08.59.00.jpg", "2026-01-05_09.00.00.jpg"})
                QVERIFY(QImage(m_view->frameBuffer.data(), m_view->imageWidth, m_view->imageHeight, m_view->imageWidth,
                               QImage::Format_Grayscale8)
                            .convertToFormat(QImage::Format_RGB32)
                            .save(ngDir + "/" + name));
            auto* panel = new DrawROIWidget(m_host);
            const QString tag = QString("%1x%2-%3").arg(gShowW).arg(gShowH).arg(lan == 1 ? "en" : "zh");
            auto page = [&](const QString& name) {
                QRegion taken;
                for (QWidget* w : panel->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                    const QRect at(w->mapTo(m_host, QPoint()), w->size());
                    if (!w->isVisibleTo(panel))
                        continue;
                    QVERIFY2(QRect(QPoint(), screen).contains(at) && !taken.intersects(at),
                             qPrintable(QString("%1 %2: a control off the screen or covered").arg(tag, name)));
                    taken += at;
                }
                if (!dir.isEmpty())
                    QVERIFY(m_host->grab().save(QString("%1/roiedit-%2-%3.png").arg(dir, name, tag)));
            };
            m_state->detectState = 3;
            m_state->lastDetect = 1;
            panel->Reset(false);
            for (int r = 0; r < 2; ++r)
                m_view->refreshShape(100 + r);
            m_view->setCurRoi(1);
            page("template");
            finger::tap(panel->polygonButton);
            m_view->editState = 1;
            m_view->polygonEditing = true;
            for (QPoint p : {QPoint(480, 120), QPoint(640, 100), QPoint(700, 300), QPoint(540, 340)})
                m_view->drawPoints[m_view->drawPointCount++] = p;
            panel->startDrawPloygn();
            page("polygon");
            m_view->drawPointCount = 0;
            m_state->drawTool = 0;
            panel->setSource(2);
            page("recent-ng");
            panel->setSource(4);
            page("ng-records");
            m_state->detectState = 2;
            m_view->isOK = false;
            panel->Reset(false);
            page("alarm-live");
            m_state->detectState = 0;
            m_state->cameraViews[0] = nullptr;
        }
    }
}

int main(int argc, char** argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "--commit-child") == 0)
        return commitChild(argc, argv);
    QApplication app(argc, argv);
    TstRoiEdit t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_roiedit.moc"

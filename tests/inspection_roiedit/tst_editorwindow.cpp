// The ROI editor inside the real main window over the simulated cameras and
// the board simulator on a pseudo-terminal, on a 1280 x 800 X screen: what
// the operator meets on opening the region settings and on "End Set", what a
// finger reaches on the editor's screen, the editor's side of an NG alarm
// (sources, password, outputs, frames), the side bar's resample, and the
// status strip following the board. Every press is a finger's.
#include "boardsim.h"
#include "controller/controlport.h"
#include "controller/iothread.h"
#include "controller/operationrecords.h"
#include "controller/ui/indexbutton.h"
#include "controller/ui/iostatuswidget.h"
#include "controller/machinecycle.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cammersingleton.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "inspection/roicommit.h"
#include "inspection/roipanellogic.h"
#include "netservices/viewwatch2zel.h"
#include "platform/platformpath.h"
#include "settings/ui/helpwidget.h"
#include "testsupport/finger.h"
#include "testsupport/fingerdrag.h"
#include "testsupport/glogcapture.h"
#include "testsupport/modalanswer.h"
#include "testsupport/testenv.h"
#include "widgets/choosebox.h"
#include "widgets/warnbox.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/numberinput.h"
#include "widgets/passwordbox.h"
#include "widgets/sharedpixmaps.h"
#include "widgets/slider.h"
#include "widgets_boxes/widgettest.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

// What a person can press on the editor's screen: every visible button and
// selector of the panel and of the shown view (the sliders' steps included).
QList<QWidget*> pressable(ReDoWizard& w, CammerWidget* v)
{
    QList<QWidget*> out;
    for (QWidget* root : {static_cast<QWidget*>(w.roiPanel), static_cast<QWidget*>(v)})
        for (QWidget* c : root->findChildren<QWidget*>())
            if (c->isVisible() && (qobject_cast<QAbstractButton*>(c) || qobject_cast<QComboBox*>(c)))
                out << c;
    return out;
}

// Those of `ws` still shown that a finger would not reach at their centre or
// a quarter of their width either side of it, each with what it would touch
// instead; `only`, when given, names the one culprit looked for.
QStringList unreachable(const QList<QWidget*>& ws, QWidget* only = nullptr)
{
    QStringList out;
    for (QWidget* w : ws) {
        if (!w->isVisible())
            continue;
        const QPoint c = w->rect().center();
        for (int dx : {0, -w->width() / 4, w->width() / 4}) {
            const QPoint at = w->mapToGlobal(c + QPoint(dx, 0));
            QWidget* on = QApplication::widgetAt(at);
            if (on == w || w->isAncestorOf(on) || (only && on != only && !only->isAncestorOf(on)))
                continue;
            out << QString("%1 at (%2,%3) under %4")
                       .arg(finger::describe(w))
                       .arg(at.x())
                       .arg(at.y())
                       .arg(finger::describe(on));
            break;
        }
    }
    return out;
}

// The captions of the view's bottom row as shown (its visible buttons in the
// lowest 86 px) when two of them are the same, else nothing.
QString sameCaptions(CammerWidget* v)
{
    QStringList shown;
    for (QAbstractButton* b : v->findChildren<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly))
        if (b->isVisible() && b->geometry().top() >= v->height() - 86)
            shown << b->text();
    QStringList once = shown;
    return once.removeDuplicates() ? shown.join(" | ") : QString();
}

// Answers the next house box with YES or NO by touching it where it shows,
// its text into `seen`; `whileUp` runs while the box is up. The window keeps
// its shared boxes among its own widgets, so they are looked for there.
void answerNextBox(bool yes, QString* seen, const std::function<void()>& whileUp = {})
{
    auto* poll = new QTimer;
    auto* since = new QElapsedTimer;
    since->start();
    QObject::connect(poll, &QTimer::timeout, [=] {
        bool up = false;
        for (QWidget* w : QApplication::allWidgets())
            up |= w->isVisible() && (dynamic_cast<ChooseBox*>(w) || dynamic_cast<WarnBox*>(w));
        if (!up && since->elapsed() < 5000)
            return;
        poll->stop();
        poll->deleteLater();
        delete since;
        if (!up)
            return QTest::qFail("no box showed to be answered", __FILE__, __LINE__);
        if (whileUp)
            whileUp();
        *seen = finger::answerShownBox(yes);
    });
    poll->start(20);
}

// The journal's "set" rows in RECORD.db, read as another program would.
QStringList setRows()
{
    QVector<OperationRecords::Row> rows;
    OperationRecords::readRows(OperationRecords::kDbFile, &rows);
    QStringList out;
    for (const OperationRecords::Row& r : rows)
        if (r.type == "set")
            out << r.text;
    return out;
}

} // namespace

class TstEditorWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void regionSettingsOpenAndEndSet();
    void addedRegionsJournalTheValuesTheEditorShows();
    void deletedRegionsJournalTheirOwnNumbers();
    void everyEditorButtonUnderTheFinger();
    void alarmSourcesPasswordOutputAndFrame();
    void resampleKeepsOnlyTheBaseTemplates();
    void statusStripFollowsTheBoard();

private:
    // Region settings from the side bar, as the operator opens them.
    void openEditor();

    std::unique_ptr<QTemporaryFile> m_cfg;
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<BoardSim> m_board;
    ReDoWizard* m_win = nullptr;
};

void TstEditorWindow::initTestCase()
{
    QVERIFY(widgettest::initToolkit(1));
    // One configuration per process: the plug-in reads it once.
    m_cfg = std::make_unique<QTemporaryFile>();
    QVERIFY(m_cfg->open());
    const QJsonArray cams{QJsonObject{{"sn", "EDWIN-MONO-0001"}}, QJsonObject{{"sn", "EDWIN-MONO-0002"}}};
    m_cfg->write(QJsonDocument(QJsonObject{{"cameras", cams}, {"width", 320}, {"height", 256}}).toJson());
    m_cfg->flush();
    qputenv("STATION_SIMCAMERA_CONFIG", m_cfg->fileName().toLocal8Bit());
}

void TstEditorWindow::init()
{
    m_env = std::make_unique<TestEnv>();
    QVERIFY(m_env->isValid());
    // The base template of camera 1, detection 2, with a known time.
    QDir().mkpath("cammer12");
    QImage t(320, 256, QImage::Format_Grayscale8);
    t.fill(90);
    QVERIFY(t.save("cammer12/template0.bmp"));
    QFile f("cammer12/template0.bmp");
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)), QFileDevice::FileModificationTime));
    f.close();
    // The board on the factory set's port, before the window opens it.
    m_board = std::make_unique<BoardSim>();
    std::string err;
    QVERIFY2(m_board->open(&err) && m_board->linkAt(platform::path("/dev/ttyS0").toStdString(), &err), err.c_str());
    m_board->start();
    widgettest::resetShared();
    gLan = 1;
    SharedPixmaps::load("./images/"); // as the start-up does: the strip's lamps among them
    m_win = new ReDoWizard(nullptr);
    m_win->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_win));
    QCOMPARE(numCamera, 2);
    gpWPara->isPswUsed = 0;
    gpWPara->enableProdDetect = 0; // the factory set: the editor opens on the mould
}

void TstEditorWindow::cleanup()
{
    delete m_win;
    m_win = nullptr;
    if (m_board)
        m_board->stop();
    m_board.reset();
    widgettest::resetShared();
    m_env.reset();
}

void TstEditorWindow::openEditor()
{
    ReDoWizard& w = *m_win;
    // A touch on the screen brings the side bar when it is away.
    if (!w.sideBar->isVisible())
        finger::tap(w.views[0]);
    QVERIFY(w.sideBar->isVisible());
    finger::tap(w.sideBar->regionSettings);
    QVERIFY(w.roiPanel->isVisible());
}

void TstEditorWindow::regionSettingsOpenAndEndSet()
{
    ReDoWizard& w = *m_win;
    DrawROIWidget& panel = *w.roiPanel;
    CammerWidget* v = w.views[0];
    QVERIFY(w.versionLabel->isVisible());
    openEditor();
    QCOMPARE(gSource, 0);
    QCOMPARE(w.editDetect, 1);
    // The template page shows the template's time; the version text and the
    // side bar's way back give room to the panel.
    QCOMPARE(gTempTime, QString("2026-01-02 03.04.05"));
    QVERIFY(!w.versionLabel->isVisible());
    QCOMPARE(w.pageNumber, 2);
    QVERIFY(v->genButton->isVisible() && v->syncRoiButton->isVisible());

    // A rectangle drawn by touch; its slider's value box opens the keypad.
    finger::tap(panel.rectButton);
    QCOMPARE(w.drawTool, 1);
    QCOMPARE(v->size(), QSize(gShowW, gShowH));
    QCOMPARE(finger::drag(v->mapToGlobal(QPoint(160, 160)), v->mapToGlobal(QPoint(300, 260))), v);
    QCOMPARE(v->editStore->roiCount[1], 1);
    QVERIFY(v->sliderA->isVisible());
    finger::tap(v->sliderA, QPoint(Slider::kBoxX + 10, v->sliderA->height() / 2));
    QVERIFY(gpNumPad && gpNumPad->isVisible());

    // "End Set" without saving: keypad, generate and sync buttons go with the
    // page, and the main screen is back.
    QString asked;
    answerNextBox(false, &asked);
    finger::tap(panel.returnButton);
    QCOMPARE(asked, messageText(72));
    QVERIFY(!panel.isVisible());
    QCOMPARE(gSource, -1);
    QCOMPARE(v->liveStore->roiCount[1], 0);
    QVERIFY(!gpNumPad->isVisible());
    QVERIFY(!v->genButton->isVisible() && !v->syncRoiButton->isVisible());
    QVERIFY(w.versionLabel->isVisible());
    QVERIFY(w.pageNumber != 2);

    // Region checking pauses the decisions; its end accepts the held NG.
    w.runState = 3;
    v->isOK = false;
    gpControlIO->IOSetOut(0, 1);
    gpControlIO->IOFlashOut();
    w.CheckArea();
    QVERIFY(panel.isVisible() && gFromTrain);
    finger::tap(panel.returnButton);
    QVERIFY(!gFromTrain);
    QCOMPARE(w.runState, 1);
    QVERIFY(v->isOK && w.machineCycle()->gisReTrain);
    QCOMPARE(gpControlIO->IOState(1, 0), 0);
}

// Three regions drawn by touch, each of another function with its values
// set on its sliders' pads, committed with "End Set" and YES: each journal
// row in RECORD.db gives every value under the name its slider shows (the
// positioning type shows none: its values keep the names the rows of a
// changed region give them); so does the row of a value changed later.
void TstEditorWindow::addedRegionsJournalTheValuesTheEditorShows()
{
    ReDoWizard& w = *m_win;
    DrawROIWidget& panel = *w.roiPanel;
    gpWPara->showAllParam = 1; // the defect type's area and filter size on sliders of their own
    gpWPara->useSpot = gpWPara->useManualLocate = 1;
    openEditor();
    CammerWidget* v = w.views[w.curCamera];
    const auto typeIn = [](Slider* s, int value) {
        finger::tap(s, QPoint(Slider::kBoxX + 10, s->height() / 2));
        QTRY_VERIFY(gpNumPad && gpNumPad->isVisible());
        finger::typeDigits(QString::number(value));
        finger::tap(gpNumPad->okKey());
    };
    // A value typed on a slider, under the caption the slider shows; no
    // slider: the param switch, which shows the packed value's other half.
    struct Entry {
        Slider* slider;
        int caption;
        int value;
    };
    struct Region {
        int type;
        QList<Entry> entries;
        QString row;
    };
    const auto m = [](int n) { return messageText(n); };
    Slider *a = v->sliderA, *b = v->sliderB, *c = v->sliderC;
    const QList<Region> regions{
        {0, {{a, 23, 30}, {b, 24, 120}, {c, 22, 4}}, m(78).arg(30).arg(4).arg(120)},
        {1, {{a, 13, 70}, {b, 14, 600}, {c, 10, 20}, {nullptr, 0, 0}, {c, 11, 90}},
         m(77).arg(20).arg(90).arg(70).arg(600)},
        {3, {}, m(79).arg(1).arg(10).arg(0)}, // the type's own C (speed), A (accuracy), B (least match)
    };
    for (int r = 0; r < regions.size(); ++r) {
        // Left of the sliders' panel, one below the other.
        finger::tap(panel.rectButton);
        const QPoint from(100, 120 + 180 * r);
        QCOMPARE(finger::drag(v->mapToGlobal(from), v->mapToGlobal(from + QPoint(250, 100))), v);
        QCOMPARE(v->curRoi, r);
        for (int k = 0; k < 11 && v->funcButton->text() != m(RoiPanelLogic::typeCaption(regions[r].type)); ++k)
            finger::tap(v->funcButton);
        for (const Entry& e : regions[r].entries) {
            if (!e.slider) {
                finger::tap(v->paramSwitchButton);
                continue;
            }
            QCOMPARE(e.slider->objectName(), m(e.caption));
            typeIn(e.slider, e.value);
            QCOMPARE(e.slider->value(), e.value);
        }
    }
    const auto endSet = [&] {
        QString asked;
        answerNextBox(true, &asked);
        finger::tap(panel.returnButton);
        QCOMPARE(asked, m(72));
    };
    const auto journal = setRows;
    endSet();
    const QString head = m(73).arg(1).arg(m(264));
    QStringList expected;
    for (int r = 0; r < regions.size(); ++r)
        expected << head + m(80).arg(m(74)).arg(r + 1).arg(regions[r].row);
    QCOMPARE(journal(), expected);

    // The spot region again: its Max Gray alone changes.
    openEditor();
    finger::tap(v, QPoint(225, 120 + 180 + 50));
    QCOMPARE(v->curRoi, 1);
    finger::tap(v->paramSwitchButton);
    QCOMPARE(c->objectName(), m(11));
    typeIn(c, 95);
    endSet();
    expected << head + m(99).arg(m(74), "2", m(84), m(89).arg("", m(86).arg(90).arg(95), "", ""), "");
    QCOMPARE(journal(), expected);
}

// Deleting region 2 of 3 journals that deletion alone; region 3 moved when shown
// as 1 is named as the screen names it, and which region it was.
void TstEditorWindow::deletedRegionsJournalTheirOwnNumbers()
{
    ReDoWizard& w = *m_win;
    DrawROIWidget& panel = *w.roiPanel;
    gpWPara->useSpot = gpWPara->useManualLocate = 1;
    openEditor();
    CammerWidget* v = w.views[w.curCamera];
    const auto m = [](int n) { return messageText(n); };
    const auto at = [](int r) { return QPoint(225, 170 + 180 * r); }; // inside region r as drawn
    const auto yesTo = [&](QWidget* button, int question) {
        QString asked;
        answerNextBox(true, &asked);
        finger::tap(button);
        QCOMPARE(asked, m(question));
    };
    const auto remove = [&](int r) {
        finger::tap(v, at(r));
        QCOMPARE(v->curRoi, r);
        yesTo(panel.deleteButton, 66);
    };
    const int types[3] = {0, 1, 3};
    for (int r = 0; r < 3; ++r) {
        finger::tap(panel.rectButton);
        QCOMPARE(finger::drag(v->mapToGlobal(at(r) - QPoint(125, 50)), v->mapToGlobal(at(r) + QPoint(125, 50))), v);
        for (int k = 0; k < 11 && v->funcButton->text() != m(RoiPanelLogic::typeCaption(types[r])); ++k)
            finger::tap(v->funcButton);
        QCOMPARE(v->editStore->funcType[100 + r], types[r]);
    }
    yesTo(panel.returnButton, 72);
    const QString head = m(73).arg(1).arg(m(264));
    openEditor();
    remove(1);
    yesTo(panel.returnButton, 72);
    QCOMPARE(setRows().mid(3).join('\n'), head + m(81).arg(m(74)).arg(2).arg(m(15)));

    openEditor();
    remove(0);
    QCOMPARE(finger::drag(v->mapToGlobal(at(2)), v->mapToGlobal(at(2) + QPoint(40, 0)), 4), v);
    yesTo(panel.returnButton, 72);
    const QString moved = m(99).arg(m(74), "1" + m(913).arg(2), m(84), m(93).arg("", "", ""), m(98));
    QCOMPARE(setRows().mid(4).join('\n'), head + m(81).arg(m(74)).arg(1).arg(m(25)) + '\n' + head + moved);

    // A region drawn on the product detection, synchronised onto the mould's:
    // the mould's region is replaced, so it is journalled deleted under its
    // own number, never as region 1 changed.
    gpWPara->enableProdDetect = 1;
    openEditor();
    QVERIFY(finger::choose(panel.detectCombo, 0));
    finger::tap(panel.rectButton);
    QCOMPARE(finger::drag(v->mapToGlobal(at(0) - QPoint(125, 50)), v->mapToGlobal(at(0) + QPoint(125, 50))), v);
    QString asked;
    answerNextBox(true, &asked);
    finger::tap(v->syncRoiButton);
    QVERIFY(!asked.isEmpty());
    yesTo(panel.returnButton, 72);
    // The product's region added, then the mould's deleted and its copy added.
    const QStringList synced = setRows().mid(6);
    QVERIFY2(synced.size() == 3 && synced[1].startsWith(head + m(81).arg(m(74)).arg(1).arg(QString()))
                 && synced[2].startsWith(head),
             qPrintable(synced.join('\n')));
}

// At the panel's 1280 x 800 every control of the editor's screen is on top
// where it shows, with a region selected and its fine tuning open, and
// while a question is up; the bottom row names what each button does.
void TstEditorWindow::everyEditorButtonUnderTheFinger()
{
    ReDoWizard& w = *m_win;
    DrawROIWidget& panel = *w.roiPanel;
    openEditor();
    CammerWidget* v = w.views[w.curCamera];
    QVERIFY(v->isVisible() && v->size() == QSize(gShowW, gShowH));
    QStringList out = unreachable(pressable(w, v));
    QVERIFY2(out.isEmpty(), qPrintable(out.join("; ")));
    QVERIFY2(sameCaptions(v).isEmpty(), qPrintable(sameCaptions(v)));

    // A region drawn by touch on each side of the screen, selected: its
    // sliders and fine-tune row show. The panel moves to the left and back.
    finger::tap(panel.rectButton);
    finger::drag(v->mapToGlobal(QPoint(500, 150)), v->mapToGlobal(QPoint(700, 300)));
    QCOMPARE(v->curRoi, 0);
    for (int side = 0; side < 3; ++side) {
        QVERIFY(v->sliderA->isVisible() && v->sizeButtons[3]->isVisible());
        out = unreachable(pressable(w, v));
        QVERIFY2(out.isEmpty(), qPrintable(QString("panel %1: %2").arg(side == 1 ? "left" : "right", out.join("; "))));
        if (side == 0) {
            finger::tap(v->moveToggle);
            QVERIFY(v->moveAllButton->isVisible());
            out = unreachable(pressable(w, v));
            QVERIFY2(out.isEmpty(), qPrintable("fine tuning: " + out.join("; ")));
            finger::tap(v->moveToggle);
        }
        QVERIFY2(sameCaptions(v).isEmpty(), qPrintable(sameCaptions(v)));
        if (side < 2)
            finger::tap(panel.showHide);
    }

    // While a question is up the strip stays off the editor: deleting the
    // region (NO), then "End Set" (NO).
    for (QWidget* b : {static_cast<QWidget*>(panel.deleteButton), static_cast<QWidget*>(panel.returnButton)}) {
        const QList<QWidget*> shown = pressable(w, v);
        QStringList covered;
        QString asked;
        answerNextBox(false, &asked, [&] { covered = unreachable(shown, w.statusStrip); });
        finger::tap(b);
        QVERIFY(!asked.isEmpty());
        QVERIFY2(covered.isEmpty(), qPrintable(asked + ": " + covered.join("; ")));
    }
}

void TstEditorWindow::alarmSourcesPasswordOutputAndFrame()
{
    ReDoWizard& w = *m_win;
    DrawROIWidget& panel = *w.roiPanel;
    CammerWidget* v = w.views[1];
    // A mould alarm on camera 2, as the decision opens it.
    gpWPara->noRefreshAfterAlarm = 1;
    gpWPara->isPswUsed = 1;
    w.loginLevel = 0;
    v->isOK = false;
    w.lastDetect = 1;
    std::memset(v->workFrame.data(), 200, v->workFrame.size());
    std::memset(v->displayBuffer.data(), 200, v->displayBuffer.size());
    w.detectState = 2;
    gpWPara->outInitState[2] = 0; // the alarm output as it is wired here: not inverted
    gpControlIO->IOSetOut(2, 1);
    gpControlIO->IOFlashOut();
    panel.Reset(false);
    QCOMPARE(gSource, 1);
    finger::choose(panel.cameraCombo, 1);
    QCOMPARE(w.curCamera, 1);
    // The alarm page of the live image shows the strip: under the panel.
    QVERIFY(w.statusStrip->isVisible());
    const QStringList out = unreachable(pressable(w, v));
    QVERIFY2(out.isEmpty(), qPrintable(out.join("; ")));

    // The template needs a login: refused, everything stays on the live image.
    answerWhenFound([] { return gpPasswordBox && gpPasswordBox->isVisible() ? gpPasswordBox : nullptr; },
                    [](QWidget*) { finger::tap(gpPasswordBox->cancelButton()); });
    finger::choose(panel.sourceCombo, 0);
    QCOMPARE(gSource, 1);
    QCOMPARE(panel.sourceCombo->currentIndex(), 1);
    QVERIFY(panel.reCheckButton->isVisible());
    QCOMPARE(gpControlIO->IOState(1, 2), 1);

    // Logged in: the template; the alarm output is silenced.
    w.loginLevel = 1;
    finger::choose(panel.sourceCombo, 0);
    QCOMPARE(gSource, 0);
    QCOMPARE(gpControlIO->IOState(1, 2), 0);
    QVERIFY(std::memcmp(v->displayBuffer.data(), v->templateImages[1][0].data(), v->displayBuffer.size()) == 0);
    // Back on the live image the judged frame is shown again (the display
    // stays frozen during the alarm).
    finger::tap(panel.autoChangeButton);
    QCOMPARE(gSource, 1);
    QVERIFY(std::memcmp(v->displayBuffer.data(), v->workFrame.data(), v->displayBuffer.size()) == 0);
}

// The side bar's resample deletes every template but the base one of every
// camera and detection, marks the cameras for retraining and tells the
// viewer link.
void TstEditorWindow::resampleKeepsOnlyTheBaseTemplates()
{
    ReDoWizard& w = *m_win;
    CammerWidget* v = w.views[0];
    QVERIFY(gTempNum >= 3);
    QImage t(320, 256, QImage::Format_Grayscale8);
    t.fill(120);
    for (int k = 1; k < 3; ++k) {
        QVERIFY(t.save(QString("cammer12/template%1.bmp").arg(k)));
        v->templateValid[1][size_t(k)] = 1;
    }
    v->templateCount[1] = 3;
    GlogCapture log;
    ViewWatch2ZEL link;
    OperationRecords::instance()->setViewerLink(&link);
    if (!w.sideBar->isVisible())
        finger::tap(v);
    QString asked;
    answerNextBox(true, &asked);
    finger::tap(w.sideBar->resample);
    OperationRecords::instance()->setViewerLink(nullptr);
    QCOMPARE(asked, messageText(137));
    QVERIFY(log.has("/inline/bymain/synctemplist"));
    QCOMPARE(v->templateCount[1], 1);
    QVERIFY(QFile::exists("cammer12/template0.bmp") && !QFile::exists("cammer12/template1.bmp") &&
            !QFile::exists("cammer12/template2.bmp"));
    QVERIFY(w.roiPanel->commit().retrainPending[0] && w.roiPanel->commit().retrainPending[1]);
}

// An input the board reports shows on the strip's lamp at once, also with
// the detection stopped and no frame arriving (nothing else repaints the
// bottom of the screen then).
void TstEditorWindow::statusStripFollowsTheBoard()
{
    ReDoWizard& w = *m_win;
    for (int c = 0; c < numCamera; ++c)
        w.views[c]->camera->setTrigger(true); // frames only when told to shoot
    if (!w.sideBar->isVisible())
        finger::tap(w.views[0]);
    QString asked;
    answerNextBox(true, &asked);
    finger::tap(w.sideBar->startStop);
    QCOMPARE(asked, messageText(140));
    QCOMPARE(w.runState, 3);
    IOStatusWidget* strip = w.statusStrip;
    QVERIFY(strip->isVisible());
    QRect lamp;
    for (const IOStatusWidget::Lamp& l : IOStatusWidget::lamps())
        if (!l.output && l.n == 3)
            lamp = l.lamp;
    QVERIFY(lamp.isValid());
    const QRect at(strip->mapTo(&w, lamp.topLeft()), lamp.size());
    auto shown = [&] {
        return QGuiApplication::primaryScreen()->grabWindow(w.winId(), at.x(), at.y(), at.width(), at.height()).toImage();
    };
    gpControlIO->InitIOThread();
    QTRY_VERIFY_WITH_TIMEOUT(gpControlIO->ioThread()->hasWord(), 2000);
    QTest::qWait(200);
    for (bool on : {true, false, true}) {
        const QImage before = shown();
        m_board->setInput(3, on);
        QElapsedTimer t;
        t.start();
        while (shown() == before && t.elapsed() < 150)
            QTest::qWait(5);
        QVERIFY2(shown() != before, qPrintable(QString("input 3 %1: the lamp unchanged after %2 ms")
                                                   .arg(on ? "on" : "off")
                                                   .arg(t.elapsed())));
        QCOMPARE(gpControlIO->IOState(0, 3), int(on));
    }
}

QTEST_MAIN(TstEditorWindow)
#include "tst_editorwindow.moc"

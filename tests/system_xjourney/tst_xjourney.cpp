// Journeys on a real X server: the station's main window over the simulated
// camera plug-in and the board simulator's machine, touched through the X
// server's test extension (xdotool), so what takes the touch is what the X
// server has on top at that point, windows and boxes included. The verdict
// is read in the files and on the wire.
#include "controller/ui/indexbutton.h"
#include "inspection/ui/drawroiwidget.h"
#include "records/ui/statisticswidget.h"
#include "settings/ui/helpwidget.h"
#include "settings/ui/wizardparawidget.h"
#include "widgets/checkbox.h"
#include "widgets/edit.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/passwordbox.h"
#include "testsupport/stationrig.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <cstring>

namespace {

// A touch at a screen point through the X server. Only one touch moves at a
// time; the caller's event loop keeps running while it travels.
class XFinger
{
public:
    QStringList problems; // touches that would have landed elsewhere

    // Touches the widget's centre (or `local`) once nothing else is on top
    // there; false (and a problem noted) otherwise.
    bool tap(QWidget* w, QPoint local = QPoint(-1, -1))
    {
        if (!startTap(w, local))
            return false;
        QElapsedTimer t;
        t.start();
        while (m_proc.state() != QProcess::NotRunning && t.elapsed() < 5000)
            QTest::qWait(5);
        return m_proc.state() == QProcess::NotRunning && m_proc.exitCode() == 0;
    }

    // For a hand driven from a timer: touches YES (or OK) of a house box that
    // shows and returns its text; a null string when none shows or a touch
    // is still travelling.
    QString answerShownBox(bool yes)
    {
        if (m_proc.state() != QProcess::NotRunning) {
            if (m_tapAt.elapsed() > 3000) // a touch that never ends is made again
                m_proc.kill();
            return QString();
        }
        if (m_answered)
            return QString();
        if (m_loginSaid && !(gpPasswordBox && gpPasswordBox->isVisible()))
            login.clear(), m_loginSaid = false, m_keyAt.invalidate();
        if (gpPasswordBox && gpPasswordBox->isVisible() && !login.isEmpty())
            return typeLogin();

        for (QWidget* w : QApplication::topLevelWidgets() + QApplication::allWidgets()) {
            if (!w->isVisible())
                continue;
            QWidget* button = nullptr;
            QString text;
            if (auto* c = dynamic_cast<ChooseBox*>(w))
                button = yes ? c->yesButton() : c->noButton(), text = c->text();
            else if (auto* b = dynamic_cast<WarnBox*>(w))
                button = b->okButton(), text = b->text();
            if (!button)
                continue;
            // A touch elsewhere while the box waits, before it is answered.
            if (touchFirst) {
                QWidget* t = touchFirst;
                touchFirst = nullptr;
                startTap(t, QPoint(-1, -1));
                return QString();
            }
            if (!startTap(button, QPoint(-1, -1))) {
                // A box nobody can reach would hold the journey for good:
                // after a while it is closed unanswered, and the journey
                // fails on the problem noted.
                if (!m_stuck.isValid())
                    m_stuck.start();
                else if (m_stuck.elapsed() > 3000)
                    static_cast<QDialog*>(w)->reject();
                return QString();
            }
            m_stuck.invalidate();
            // The same box is not answered twice while it goes away.
            m_answered = w;
            QObject::connect(w, &QObject::destroyed, [this] { m_answered = nullptr; });
            QTimer::singleShot(400, [this] { m_answered = nullptr; });
            return text;
        }
        return QString();
    }

    // A point of `w` that nothing covers (a corner or the centre), for a
    // touch that must land on it beside a panel.
    static QPoint freePoint(QWidget* w)
    {
        const QRect r = w->rect().adjusted(20, 20, -20, -20);
        for (QPoint p : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight(), r.center()}) {
            QWidget* on = QApplication::widgetAt(w->mapToGlobal(p));
            if (on == w || w->isAncestorOf(on))
                return p;
        }
        return r.center();
    }

    // Typed into the next login box, one touch per call: the field, the
    // digits on the pad that opens in it, the pad's OK.
    QString login;
    // Touched once the next box shows, before it is answered.
    QPointer<QWidget> touchFirst;

private:
    // As a person types: each touch once the last one shows (a second at most,
    // then it counts as lost); an entry gone wrong is submitted, cleared by the
    // box as wrong, and typed again. A touch still on its way when the next
    // was aimed reopened the pad with its keys shuffled anew.
    QString typeLogin()
    {
        const bool pad = gpNumPad->isVisible() && gpPasswordBox->isAncestorOf(gpNumPad);
        const QString typed = gpPasswordBox->field()->text();
        const QString seen = QString::number(pad) + typed;
        if (m_keyAt.isValid() && seen == m_seen && m_keyAt.elapsed() < 1000)
            return QString();
        m_seen = seen;
        m_keyAt.start();
        QWidget* key = gpNumPad->okKey();
        if (!pad)
            key = gpPasswordBox->field();
        else if (typed.size() < login.size() && login.startsWith(typed))
            for (int i = 0; i < 10; ++i)
                if (gpNumPad->digitKey(i)->text() == login.mid(typed.size(), 1))
                    key = gpNumPad->digitKey(i);
        startTap(key, QPoint(-1, -1));
        if (key != gpNumPad->okKey() || typed != login || m_loginSaid)
            return QString();
        m_loginSaid = true;
        return QStringLiteral("login");
    }

    bool startTap(QWidget* w, QPoint local)
    {
        if (!w || !w->isVisible()) {
            problems << QStringLiteral("%1 not shown").arg(finger::describe(w));
            return false;
        }
        const QPoint g = w->mapToGlobal(local.x() < 0 ? w->rect().center() : local);
        QWidget* on = QApplication::widgetAt(g);
        if (on != w && !w->isAncestorOf(on)) {
            const QString problem = QStringLiteral("%1 covered by %2").arg(finger::describe(w), finger::describe(on));
            if (!problems.contains(problem))
                problems << problem;
            return false;
        }
        // The server takes the motion and the button in order; no --sync,
        // which waits for ever when the pointer is already there.
        m_tapAt.start();
        m_proc.start(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(g.x()),
                                                 QString::number(g.y()), QStringLiteral("click"),
                                                 QStringLiteral("1")});
        return m_proc.waitForStarted(3000);
    }

    QProcess m_proc;
    QElapsedTimer m_tapAt;
    QPointer<QWidget> m_answered;
    QElapsedTimer m_stuck;
    QElapsedTimer m_keyAt; // the login's last touch, and what showed before it
    QString m_seen;
    bool m_loginSaid = false;
};

// The station as the operator finds it: one camera, the board on its port,
// the mould taught, no passwords.
struct XStation {
    TestEnv env;
    BoardSim sim;
    QJsonObject cam;
    std::unique_ptr<ReDoWizard> win;
    XFinger finger;
    QTimer hand;
    QStringList boxes;
    bool answerYes = true;

    bool start()
    {
        std::string err;
        cam = stationrig::oneCamera(env, QStringLiteral("XCAM-1"));
        if (!env.isValid() || cam.isEmpty() || !stationrig::startBoard(sim, &err))
            return false;
        const int part = 170 | (255 << 8);
        if (!stationrig::teachMould(cam, {{1, QRect(220, 140, 40, 50), 0, 50, part}}))
            return false;
        win = std::make_unique<ReDoWizard>();
        gpWPara->isPswUsed = gpWPara->addTempPswUsed = gpWPara->nocheckPswUsed = 0;
        win->show();
        if (!QTest::qWaitForWindowExposed(win.get()))
            return false;
        BoxPrompt::installShared();
        QObject::connect(&hand, &QTimer::timeout, [this] {
            const QString text = finger.answerShownBox(answerYes);
            if (!text.isNull())
                boxes << text;
        });
        hand.start(20);
        return true;
    }
    ~XStation()
    {
        hand.stop();
        win.reset();
        sim.stop();
    }
    CammerWidget* view() const { return win->views[0]; }
};

// The stored text of a parameter row, and the journal's size.
QString storedRow(const QString& key)
{
    QSqlQuery q(gpWin->paraDb);
    return q.exec(QStringLiteral("select value from sysparam where name='%1'").arg(key)) && q.next()
               ? q.value(0).toString()
               : QString();
}
int journalSize()
{
    QSqlQuery q(gpWin->recordDb);
    return q.exec(QStringLiteral("select count(*) from RECORD")) && q.next() ? q.value(0).toInt() : -1;
}

} // namespace

class TstXJourney : public QObject
{
    Q_OBJECT
private slots:
    void settingSavedFromTheSettingsWindow();
    void sideBarComesBackAfterTheEditor();
    void alarmClearedOnTheScreen();
    void boxOverTheStatisticsPage();
    void decisionTakesTheRegionsSavedAfterTheFrame();
};

// A change in the settings window, 确定, YES on the question that shows over
// the window: stored in PARAM.db and told in the journal.
void TstXJourney::settingSavedFromTheSettingsWindow()
{
    XStation s;
    QVERIFY(s.start());
    WizardParaWidget* w = s.win->settingsWindow;
    QVERIFY(s.finger.tap(s.view()));
    QTRY_VERIFY_WITH_TIMEOUT(s.win->sideBar->isVisible(), 3000);
    // The operator's login, typed on the pad that opens in the login box.
    gpWPara->isPswUsed = 1;
    std::strcpy(gpWPara->password, "2468");
    s.finger.login = QStringLiteral("2468");
    QVERIFY(s.finger.tap(s.win->sideBar->systemPara));
    QTRY_VERIFY_WITH_TIMEOUT(w->isVisible(), 5000);
    QCOMPARE(s.boxes, QStringList{"login"});
    QCOMPARE(s.win->loginLevel, 1);
    s.boxes.clear();
    QVERIFY(s.finger.tap(w->tabs[WizardParaWidget::CommonPage]));
    QTRY_VERIFY_WITH_TIMEOUT(w->statisticsBox->isVisible(), 3000);
    // After the login box, the first touch on a field opens its keyboard.
    QVERIFY(s.finger.tap(w->groupName));
    QTRY_VERIFY_WITH_TIMEOUT(gpNumCharPad->isVisible(), 3000);
    const QString before = storedRow(QStringLiteral("system6"));
    const int records = journalSize();
    const bool counting = w->statisticsBox->isChecked();
    QVERIFY(s.finger.tap(w->statisticsBox));
    QTRY_COMPARE_WITH_TIMEOUT(w->statisticsBox->isChecked(), !counting, 3000);
    // A second touch, on Cancel beside the question, is for the question
    // (it waits for its answer), not for the window under it.
    s.finger.touchFirst = w->cancelButton;
    QVERIFY(s.finger.tap(w->okButton));
    QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 8000);
    QVERIFY2(s.finger.problems.isEmpty(), qPrintable(s.finger.problems.join('\n')));
    QCOMPARE(s.boxes, QStringList{messageText(234)});
    QCOMPARE(storedRow(QStringLiteral("system6")).split(' ').value(9), QString::number(counting ? 0 : 1));
    QVERIFY(storedRow(QStringLiteral("system6")) != before);
    QVERIFY(journalSize() > records);
    QVERIFY2(s.finger.problems.isEmpty(), qPrintable(s.finger.problems.join('\n')));
}

// The region editor ended with no change: a touch on the view brings the side
// bar back; while the editor shows, touches on the view do not.
void TstXJourney::sideBarComesBackAfterTheEditor()
{
    XStation s;
    QVERIFY(s.start());
    // The help shows over the main screen and closes from its own button.
    QVERIFY(s.finger.tap(s.win->helpButton));
    QTRY_VERIFY_WITH_TIMEOUT(s.win->helpPage->isVisible(), 3000);
    QVERIFY(s.finger.tap(s.win->helpPage->findChild<ColorButton*>()));
    QTRY_VERIFY_WITH_TIMEOUT(!s.win->helpPage->isVisible(), 3000);
    QVERIFY(s.finger.tap(s.view()));
    QTRY_VERIFY_WITH_TIMEOUT(s.win->sideBar->isVisible(), 3000);
    QVERIFY(s.finger.tap(s.win->sideBar->regionSettings));
    DrawROIWidget* editor = s.win->roiPanel;
    QTRY_VERIFY_WITH_TIMEOUT(editor->isVisible(), 3000);
    QVERIFY(s.finger.tap(s.view(), XFinger::freePoint(s.view())));
    QTest::qWait(200);
    QVERIFY(!s.win->sideBar->isVisible());
    QVERIFY(s.finger.tap(editor->returnButton)); // 结束设置
    QTRY_VERIFY_WITH_TIMEOUT(!editor->isVisible(), 3000);
    QVERIFY(s.finger.tap(s.view()));
    QTRY_VERIFY_WITH_TIMEOUT(s.win->sideBar->isVisible() && s.win->sideBar->regionSettings->isVisible(), 3000);
    QVERIFY2(s.finger.problems.isEmpty(), qPrintable(s.finger.problems.join('\n')));
}

// A part left behind: the clamp and the alarm hold on the wire; a touch on the
// view leaves the alarm's panel uncovered, and its "Don't Detect" releases
// both.
void TstXJourney::alarmClearedOnTheScreen()
{
    XStation s;
    QVERIFY(s.start());
    s.hand.stop(); // the machine's run brings its own hand
    stationrig::MouldRun run(s.sim, *s.win, *s.view(), &s.boxes);
    run.answer = [&s](bool yes) { return s.finger.answerShownBox(yes); };
    QTRY_VERIFY_WITH_TIMEOUT(run.machine.cycles() >= 1, 6000); // an OK cycle ran
    run.leaveNext = true;
    QTRY_COMPARE_WITH_TIMEOUT(gpWin->detectState, 2, 6000);
    QTRY_COMPARE_WITH_TIMEOUT(s.sim.outputs() & 5u, 5u, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(run.machine.phase(), MouldingMachine::Phase::Held, 3000);
    DrawROIWidget* editor = s.win->roiPanel;
    QVERIFY(editor->isVisible() && editor->noCheckButton->isVisible());
    QVERIFY(s.finger.tap(s.view(), XFinger::freePoint(s.view())));
    QTest::qWait(200);
    QVERIFY(!s.win->sideBar->isVisible());
    QVERIFY(s.finger.tap(editor->noCheckButton));
    QTRY_COMPARE_WITH_TIMEOUT(s.sim.outputs() & 5u, 0u, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(run.machine.phase() != MouldingMachine::Phase::Held, 3000);
    QCOMPARE(gpWin->detectState, 0);
    run.stop();
    QVERIFY2(s.finger.problems.isEmpty(), qPrintable(s.finger.problems.join('\n')));
}

// The statistics page is a window of its own, raised each time it opens: the
// export's question still shows over it, also the second time.
void TstXJourney::boxOverTheStatisticsPage()
{
    XStation s;
    QVERIFY(s.start());
    gpWPara->useStatistics = 1;
    s.answerYes = false; // no drive: the question asks again until NO
    StatisticsWidget* page = StatisticsWidget::getInstance();
    for (int round = 0; round < 2; ++round) {
        QVERIFY(s.finger.tap(s.view()));
        QTRY_VERIFY_WITH_TIMEOUT(s.win->sideBar->statistics->isVisible(), 3000);
        QVERIFY(s.finger.tap(s.win->sideBar->statistics));
        QTRY_VERIFY_WITH_TIMEOUT(page->isVisible(), 3000);
        QVERIFY(s.finger.tap(page->exportButton()));
        QTRY_VERIFY_WITH_TIMEOUT(s.boxes.size() == round + 1 || !s.finger.problems.isEmpty(), 8000);
        QVERIFY2(s.finger.problems.isEmpty(), qPrintable(s.finger.problems.join('\n')));
        QVERIFY(s.finger.tap(page->returnButton()));
        QTRY_VERIFY_WITH_TIMEOUT(!page->isVisible(), 3000);
    }
    QCOMPARE(s.boxes, (QStringList{messageText(320), messageText(320)}));
}

// The cameras on the machine's trigger: a part left behind makes the camera
// NG as soon as its frame is in, with nothing on the wire yet. Before the
// ejector, the operator deletes the detection's regions in the editor and
// saves, touching the buttons and the questions: the decision then takes the
// regions saved (OK, no alarm on the wire), not the verdict judged before.
void TstXJourney::decisionTakesTheRegionsSavedAfterTheFrame()
{
    XStation s;
    QVERIFY(s.start());
    gpWPara->extTrigger = 1; // frames judged as they arrive
    stationrig::detectSemiAuto(*s.win, *s.view());
    QTest::qWait(300);

    s.sim.setInput(0, true); // the mould opens
    QTest::qWait(300);
    s.view()->camera->setValue(QString("leftBehind"), 100);
    s.view()->camera->setValue(QString("trigger"), 100);
    QTRY_VERIFY_WITH_TIMEOUT(!s.view()->isOK, 3000);
    QCOMPARE(gpWin->detectState, 0);
    QCOMPARE(s.sim.outputs() & 4u, 0u);

    QVERIFY(s.finger.tap(s.view()));
    QTRY_VERIFY_WITH_TIMEOUT(s.win->sideBar->isVisible(), 3000);
    QVERIFY(s.finger.tap(s.win->sideBar->regionSettings));
    DrawROIWidget* editor = s.win->roiPanel;
    QTRY_VERIFY_WITH_TIMEOUT(editor->isVisible(), 3000);
    QVERIFY(s.finger.tap(editor->deleteAllButton));
    QTRY_COMPARE_WITH_TIMEOUT(s.view()->editStore->roiCount[stationrig::kDisplay], 0, 3000);
    QVERIFY(s.finger.tap(editor->returnButton)); // 结束设置: the save's question
    QTRY_VERIFY_WITH_TIMEOUT(!editor->isVisible(), 5000);
    QCOMPARE(s.view()->liveStore->roiCount[stationrig::kDisplay], 0);

    s.sim.setInput(2, true); // the ejector
    QTRY_COMPARE_WITH_TIMEOUT(gpWin->detectState, 1, 3000);
    QTest::qWait(200);
    QCOMPARE(s.sim.outputs() & 4u, 0u);
    QCOMPARE(s.boxes, (QStringList{messageText(67), messageText(72)}));
    QVERIFY2(s.finger.problems.isEmpty(), qPrintable(s.finger.problems.join('\n')));
}

QTEST_MAIN(TstXJourney)
#include "tst_xjourney.moc"

// The main screen's own parts: the application object's touch rules, the
// status strip and the side bar, on the panel's two screen sizes.
#include "controller/ui/indexbutton.h"
#include "controller/ui/iostatuswidget.h"
#include "controller/mainstate.h"
#include "controller/ui/mapplication.h"
#include "settings/ui/wizardparawidget.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/cameramanager.h"
#include "platform/commandrunner.h"
#include "testsupport/modalanswer.h"
#include "testsupport/testenv.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/sharedpixmaps.h"
#include "widgets/warnbox.h"
#include "widgets_boxes/widgettest.h"

#include <QDir>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TstMainWin : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void pressesRestartTimersButNotTwiceWithin10ms();
    void holdOnSimulatedCamerasCalibrates();
    void stripLampsFollowModeAndSettings();
    void stripTapLogsOutAndFormatsCycleTime();
    void sideBarVisibilityAndChooser();
    void renderStrip();
    void settingsWindowCancelKeepsLiveSet();

private:
    void press(QWidget* w) { QTest::mousePress(w, Qt::LeftButton); }
    TestEnv* m_env = nullptr;
    TestClock* m_clock = nullptr;
    MainState* m_state = nullptr;
};

void TstMainWin::init()
{
    QVERIFY(widgettest::initToolkit(1));
    m_env = new TestEnv;
    // The application object outlives each test: every test's clock starts
    // later than the last one's presses.
    static int hour = 0;
    m_clock = new TestClock(QDateTime(QDate(2026, 3, 2), QTime(++hour, 0)));
    Clock::install(m_clock);
    gpWPara = new WizardPara;
    m_state = gpWin;
    m_state->logoutTimer = new QTimer;
    m_state->screenOffTimer = new QTimer;
    new CameraManager;
}

void TstMainWin::cleanup()
{
    delete m_state->logoutTimer;
    delete m_state->screenOffTimer;
    delete m_clock;
    delete m_env;
}

void TstMainWin::pressesRestartTimersButNotTwiceWithin10ms()
{
    gpWPara->autoLogout = 30;
    gpWPara->scrOffTime = 0; // off: never restarted
    QPushButton b;
    b.show();
    int clicks = 0;
    connect(&b, &QPushButton::pressed, [&] { ++clicks; });
    press(&b);
    QCOMPARE(m_state->logoutTimer->isActive() ? m_state->logoutTimer->interval() : 0, 30000);
    QVERIFY(!m_state->screenOffTimer->isActive());
    QTest::mouseRelease(&b, Qt::LeftButton);

    m_state->logoutTimer->stop();
    m_clock->advance(10);
    press(&b);
    QVERIFY(!m_state->logoutTimer->isActive()); // one touch, reported twice
    QCOMPARE(clicks, 2);                         // still delivered
    QTest::mouseRelease(&b, Qt::LeftButton);
    m_clock->advance(11);
    press(&b);
    QVERIFY(m_state->logoutTimer->isActive());
    QTest::mouseRelease(&b, Qt::LeftButton);

    // On a dark screen the first press only wakes it.
    m_state->screenOff = 1;
    m_clock->advance(100);
    press(&b);
    QCOMPARE(clicks, 3);
    QCOMPARE(m_state->screenOff, 0);
    QTest::mouseRelease(&b, Qt::LeftButton);
    m_clock->advance(100);
    press(&b);
    QCOMPARE(clicks, 4);
}

void TstMainWin::holdOnSimulatedCamerasCalibrates()
{
    auto* app = MApplication::_instance;
    QPushButton b;
    b.show();
    // Real cameras: a long hold is an ordinary touch.
    press(&b);
    QVERIFY(!app->holdRunning());
    QTest::mouseRelease(&b, Qt::LeftButton);

    CameraManager::_instance->noCamera = true;
    m_clock->advance(100);
    press(&b); // counts as the first press: arms nothing
    QVERIFY(!app->holdRunning());
    QTest::mouseRelease(&b, Qt::LeftButton);

    m_clock->advance(100);
    press(&b);
    QVERIFY(app->holdRunning());
    m_clock->advance(4900);
    QTest::mouseRelease(&b, Qt::LeftButton);
    QVERIFY(!app->holdRunning());
    m_clock->advance(1000); // the void timeout of that hold does nothing
    QVERIFY(!app->calibrationArmed());

    press(&b);
    m_clock->advance(5000);
    QVERIFY(app->calibrationArmed());
    WarnBox* shown = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = dynamic_cast<WarnBox*>(w); box && box->isVisible())
            shown = box;
    QVERIFY(shown);
    QCOMPARE(shown->text(), messageText(370));
    QVERIFY(QDir().mkpath(TestEnv::buildDir() + "/render"));
    QVERIFY(shown->grab().save(TestEnv::buildDir() + "/render/message370.png"));
    QTest::mouseRelease(&b, Qt::LeftButton);
    QVERIFY(!app->calibrationArmed());
    const QStringList log = CommandRunner::loggedCommands(); // the calibration, then the reboot
    QCOMPARE(log.mid(log.indexOf(QStringLiteral("./tsc")), 2), (QStringList{"./tsc", "reboot"}));
    shown->close();

    // The settings window's network page ends a hold in progress itself.
    gpWParaBak = new WizardPara(*gpWPara);
    QWidget top;
    WizardParaWidget settings(&top);
    m_clock->advance(100);
    press(&b);
    QVERIFY(app->holdRunning());
    settings.SlotToNetwork();
    QVERIFY(!app->holdRunning());
    QTest::mouseRelease(&b, Qt::LeftButton);
    m_clock->advance(6000);
    QVERIFY(!app->calibrationArmed());
    gpNetDialog = nullptr; // went with its parent
}

void TstMainWin::stripLampsFollowModeAndSettings()
{
    const auto xs = [](bool output) {
        QList<int> r;
        for (const auto& l : IOStatusWidget::lamps())
            if (l.output == output)
                r << l.lamp.x();
        return r;
    };
    gpWPara->systemMode = 1;
    QCOMPARE(xs(false), (QList<int>{7, 82, 157, 232}));
    QCOMPARE(xs(true), (QList<int>{322, 397, 472, 547}));
    const auto first = IOStatusWidget::lamps().first();
    QCOMPARE(QPoint(first.lamp.y(), first.label.y()), QPoint(95, 157));

    gpWPara->systemMode = 0;
    gpWPara->prodInspectOption = 1;
    QCOMPARE(xs(true).size(), 5);
    QCOMPARE(IOStatusWidget::lamps().last().lamp.x(), 322 + 300);
    QCOMPARE(IOStatusWidget::lamps().last().text, QStringLiteral(" O 5 "));
    gpWPara->ejectorPulseProdNG = 1; // output groups: N1 to N4
    QCOMPARE(IOStatusWidget::lamps().last().text, QStringLiteral(" N 4 "));

    // Mode 3, five steps; input 0 is no step's trigger.
    gpWPara->systemMode = 3;
    gpWPara->multiDetectNum = 5;
    for (int d = 0; d < 8; ++d)
        gpWPara->trigInput[d] = d < 5 ? 2 + d : -1;
    gpWPara->multiTrigIn[0] = 1; // trigger choice 1: board input 3, already a step trigger
    QCOMPARE(xs(false), (QList<int>{82, 157, 232, 307, 382}));
    QCOMPARE(IOStatusWidget::lamps().first().lamp.y(), 10);
    // Output k shows from k + 1 steps on (output 4 from 4 steps), so five
    // steps show outputs 0 to 5.
    QCOMPARE(xs(true), (QList<int>{7, 82, 157, 232, 307, 382}));
    const auto last = IOStatusWidget::lamps().last();
    QCOMPARE(QPoint(last.lamp.y(), last.label.y()), QPoint(95, 154));
    QCOMPARE(last.text, gaName[9 + 5]);
}

void TstMainWin::stripTapLogsOutAndFormatsCycleTime()
{
    QWidget top;
    top.resize(1280, 800);
    IOStatusWidget strip(&top);
    QCOMPARE(strip.geometry(), QRect(0, 620, 1280, 180));
    m_state->loginLevel = 2;
    press(&strip);
    QCOMPARE(m_state->loginLevel, 0);
    // 85 tenths: " 8.5" in the message's second field; long cycles are not cut.
    QCOMPARE(IOStatusWidget::cycleSecondsText(85), QStringLiteral(" 8.5"));
    QCOMPARE(IOStatusWidget::cycleSecondsText(12345), QStringLiteral("1234.5"));
}

void TstMainWin::sideBarVisibilityAndChooser()
{
    QWidget top;
    top.resize(1280, 800);
    gpWPara->systemMode = 0;
    gpWPara->showManualSnap = 1;
    gpWPara->enableProdDetect = 0;
    IndexButton bar(&top);
    top.show();
    bar.show();
    QVERIFY(bar.isVisible());
    QVERIFY(!bar.mouldSnap->isHidden());
    QVERIFY(bar.productSnap->isHidden() && bar.snap->isHidden() && bar.chooser->isHidden());
    QCOMPARE(bar.CurChooseTrig(), -1);
    QVERIFY(bar.statistics->isHidden());

    QTest::mouseClick(bar.logo, Qt::LeftButton); // the logo hides the bar
    QVERIFY(!bar.isVisible());
    bar.checkShowHide(); // a touched view shows it again
    QVERIFY(bar.isVisible());
    bar.ShowHide(0);
    QVERIFY(!bar.isVisible() && !bar.startStop->isHidden()); // its buttons kept marked for the next show

    gpWPara->systemMode = 3;
    gpWPara->multiDetectNum = 5;
    gpWPara->useStatistics = 1;
    bar.Reset();
    QCOMPARE(bar.chooser->count(), 5);
    QCOMPARE(bar.chooser->itemText(0), messageText(477));
    QCOMPARE(bar.chooser->itemText(4), messageText(481));
    bar.ShowHide(2);
    QVERIFY(!bar.snap->isHidden() && !bar.chooser->isHidden());
    QVERIFY(bar.mouldSnap->isHidden());
    QVERIFY(!bar.statistics->isHidden());
}

// The strip and side bar in modes 0 and 3, logged out and in, at both screen
// sizes and languages (pictures for looking at); no lamp under the side bar.
void TstMainWin::renderStrip()
{
    const QString dir = TestEnv::buildDir() + "/render";
    QVERIFY(QDir().mkpath(dir));
    gpWPara->isPswUsed = gpWPara->showManualSnap = gpWPara->useStatistics = 1;
    gpWPara->multiDetectNum = 8;
    IOStatusWidget::setDrivePathSource([] { return QStringLiteral("/mnt"); });
    for (int lan : {1, 0})
        for (QSize size : {QSize(1024, 768), QSize(1280, 800)})
            for (int mode : {0, 3}) {
                QVERIFY(widgettest::initToolkit(lan));
                SharedPixmaps::load(TestEnv::sourceDir() + "/resources/images/");
                gShowW = size.width();
                gShowH = size.height();
                gpWPara->systemMode = mode;
                for (int d = 0; d < 8; ++d)
                    gpWPara->trigInput[d] = mode == 3 ? d + 1 : -1;
                gpWPara->loadIONames();
                QWidget top;
                top.setStyleSheet(QStringLiteral("background: #203040;"));
                top.resize(size);
                IOStatusWidget strip(&top);
                IndexButton bar(&top);
                top.show();
                bar.show();
                for (int level : {0, 1}) {
                    m_state->loginLevel = level;
                    QVERIFY(top.grab().save(QStringLiteral("%1/mainscreen_%2x%3_%4_mode%5_%6.png")
                                                .arg(dir).arg(size.width()).arg(size.height())
                                                .arg(lan ? "en" : "zh").arg(mode).arg(level ? "in" : "out")));
                }
                for (const auto& l : IOStatusWidget::lamps())
                    QVERIFY2(l.lamp.right() < size.width() - 240 && l.label.right() < size.width() - 240,
                             qPrintable(l.text));
            }
    IOStatusWidget::setDrivePathSource(nullptr);
}

void TstMainWin::settingsWindowCancelKeepsLiveSet()
{
    gpWParaBak = new WizardPara(*gpWPara);
    QWidget top;
    top.resize(1280, 800);
    WizardParaWidget w(&top);
    QVERIFY(w.isHidden());
    w.show();
    auto* page = new QWidget(&w); // a closed sub-page (I/O, records) stays closed on a re-layout
    page->hide();
    w.DoChangePage();
    QVERIFY(page->isHidden() && !w.cancelButton->isHidden());
    gpWParaBak->tempNum = gpWPara->tempNum + 1;
    QTest::mouseClick(w.cancelButton, Qt::LeftButton);
    QVERIFY(w.isHidden());
    QCOMPARE(gpWParaBak->tempNum, gpWPara->tempNum);
    bool exited = false;
    w.endStation = [&](int kind) { exited = kind == 0; };
    // The exit question answered NO as a person would: nothing ends.
    answerWhenFound([] { return QApplication::activeModalWidget(); },
                    [](QWidget* box) { clickButtonWithText(box, messageText(123)); });
    w.SlotExit();
    QVERIFY(!exited);
}

int main(int argc, char** argv)
{
    MApplication app(argc, argv);
    TstMainWin t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_mainwin.moc"

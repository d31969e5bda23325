// Message and question boxes, their presets and the house button.
#include "controller/controlport.h"
#include "controller/redowizard.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "platform/commandrunner.h"
#include "testsupport/modalanswer.h"
#include "testsupport/testenv.h"
#include "widgets/boxpaint.h"
#include "widgets/choosebox.h"
#include "widgets/choosecalinumwidget.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/editdatetime.h"
#include "widgets/lostcamerawarnbox.h"
#include "widgets/modifytimewidget.h"
#include "widgets/productalarmwarnbox.h"
#include "widgets/warnbox.h"
#include "widgets_boxes/widgettest.h"

#include <QApplication>
#include <QDateEdit>
#include <QFile>
#include <QFontInfo>
#include <QPainter>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

class TstWidgetsBoxes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void colorButtonSizesByStyleAndLanguage();
    void chooseBoxGeometryAndAnswers();
    void warnBoxGeometryAndConfirm();
    void warnBoxWakesDarkScreen();
    void boxesPaintWithoutBackgroundPicture();
    void productAlarmClearsOutputsAndCount();
    void lostCameraClosesDatabasesAndPowersOff();
    void modifyTimeSetsClockThroughCommands();
    void chooseCaliNumOffersPointCounts();

private:
    TestEnv* m_env = nullptr;
};

void TstWidgetsBoxes::initTestCase()
{
    QVERIFY(widgettest::initToolkit(1));
}

void TstWidgetsBoxes::init()
{
    m_env = new TestEnv;
    widgettest::resetShared();
    gLan = 1;
}

void TstWidgetsBoxes::cleanup()
{
    widgettest::resetShared();
    delete gpWPara;
    gpWPara = nullptr;
    delete m_env;
    m_env = nullptr;
}

void TstWidgetsBoxes::colorButtonSizesByStyleAndLanguage()
{
    struct Case {
        int style, lan, px;
    };
    const Case cases[] = {{3, 0, 27}, {3, 1, 22}, {3, 3, 22}, {4, 0, 33}, {4, 2, 30}, {0, 0, 25}, {7, 1, 25}};
    for (const Case& c : cases) {
        gLan = c.lan;
        ColorButton b(QStringLiteral("x"), nullptr, c.style);
        QVERIFY2(b.styleSheet().contains(QStringLiteral("font-size:%1px;").arg(c.px)),
                 qPrintable(QStringLiteral("style %1 lan %2").arg(c.style).arg(c.lan)));
        QVERIFY(b.testAttribute(Qt::WA_StyledBackground));
        QCOMPARE(b.style(), c.style);
        // The sheet takes effect: the polished font has the pixel size, in
        // the house family like the texts of the boxes.
        b.ensurePolished();
        QCOMPARE(b.font().pixelSize(), c.px);
        QCOMPARE(QFontInfo(b.font()).family(), QFontInfo(boxpaint::houseFont(c.px)).family());
        QCOMPARE(b.fontPixelSize(), c.px);
    }
}

void TstWidgetsBoxes::chooseBoxGeometryAndAnswers()
{
    ChooseBox box(nullptr, 750, 370);
    QCOMPARE(box.geometry(), QRect(1280 / 2 - 375, 800 / 2 - 185, 750, 370));
    QCOMPARE(box.yesButton()->geometry(), QRect(105, 235, 220, 100));
    QCOMPARE(box.noButton()->geometry(), QRect(425, 235, 220, 100));
    QCOMPARE(box.yesButton()->text(), QStringLiteral("YES"));
    QCOMPARE(box.noButton()->text(), QStringLiteral("NO"));
    QCOMPARE(box.textRect(), QRect(0, 0, 750, 135));
    QVERIFY(!box.isVisible());
    QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);

    box.setText(QStringLiteral("Delete?"));
    answerModal([](QWidget* w) { QVERIFY(clickButtonWithText(w, QStringLiteral("YES"))); });
    QCOMPARE(box.exec(), 1);
    answerModal([](QWidget* w) { QVERIFY(clickButtonWithText(w, QStringLiteral("NO"))); });
    QCOMPARE(box.exec(), 0);

    ChooseBox full(nullptr, gShowW, gShowH);
    QCOMPARE(full.geometry(), QRect(0, 0, 1280, 800));
    QCOMPARE(full.yesButton()->geometry(), QRect(640 - 270, 450, 220, 100));
    QCOMPARE(full.noButton()->geometry(), QRect(690, 450, 220, 100));
    QCOMPARE(full.maximumSize(), QSize(1280, 800));
}

void TstWidgetsBoxes::warnBoxGeometryAndConfirm()
{
    WarnBox box(nullptr);
    QCOMPARE(box.geometry(), QRect(265, 215, 750, 370));
    QCOMPARE(box.okButton()->text(), QStringLiteral("Confirm"));
    QCOMPARE(box.text(), QString());
    QCOMPARE(box.textRect(), QRect(0, 5, 750, 246));
    box.setText(QStringLiteral("Camera lost"));

    // A changed screen is followed when the box shows.
    gShowW = 1024;
    gShowH = 768;
    answerModal([](QWidget* w) {
        auto* b = qobject_cast<QDialog*>(w);
        QVERIFY(b);
        // The button lies in the lower part, centred, below the text band.
        QPushButton* ok = w->findChild<QPushButton*>();
        QCOMPARE(ok->size(), QSize(220, 100));
        QCOMPARE(ok->x(), (750 - 220) / 2);
        QVERIFY(ok->y() > 220 && ok->y() + 100 < 370);
        QVERIFY(clickButtonWithText(w, QStringLiteral("Confirm")));
    });
    QCOMPARE(box.exec(), int(QDialog::Accepted));
    QCOMPARE(box.geometry(), QRect(512 - 375, 384 - 185, 750, 370));
    gShowW = 1280;
    gShowH = 800;
}

void TstWidgetsBoxes::warnBoxWakesDarkScreen()
{
    QVERIFY2(QFile::exists(QStringLiteral("PARAM.db")), "factory working directory missing");
    auto* win = new ReDoWizard(nullptr);
    gLan = 1;
    QVERIFY(gpWin == win);
    QVERIFY(gpWarnBox);
    QCOMPARE(gpWarnBox->parentWidget(), win);
    win->show();
    QTimer timer;
    win->screenOffTimer = &timer;

    // Screen on: nothing happens.
    gpWPara->scrOffTime = 60;
    win->screenOff = 0;
    gpWarnBox->show();
    QVERIFY(!timer.isActive());
    gpWarnBox->hide();

    // Screen off with a time-out: back on, timer restarted.
    win->screenOff = 1;
    gpWarnBox->setText(QStringLiteral("x"));
    gpWarnBox->show();
    QCOMPARE(win->screenOff, 0);
    QVERIFY(timer.isActive());
    QCOMPARE(timer.interval(), 60000);
    gpWarnBox->hide();
    timer.stop();

    // Time-out 0: screen on, timer untouched.
    gpWPara->scrOffTime = 0;
    win->screenOff = 1;
    gpWarnBox->show();
    QCOMPARE(win->screenOff, 0);
    QVERIFY(!timer.isActive());
    gpWarnBox->hide();
    win->screenOffTimer = nullptr;
    delete win;
    QVERIFY(!gpWarnBox); // died with the window, global cleared
}

void TstWidgetsBoxes::boxesPaintWithoutBackgroundPicture()
{
    QPixmap* saved = gpPixmapBG;
    QPixmap empty;
    for (QPixmap* bg : {static_cast<QPixmap*>(nullptr), &empty}) {
        gpPixmapBG = bg;
        WarnBox w(nullptr);
        w.setText(QStringLiteral("text"));
        const QImage img = w.grab().toImage();
        // Plain face inside, white frame at the edge.
        QCOMPARE(QColor(img.pixel(2, 100)), QColor(Qt::white));
        QVERIFY(QColor(img.pixel(40, 330)) != QColor(Qt::white));
        ChooseBox c(nullptr, 750, 370);
        QVERIFY(!c.grab().isNull());
    }
    // With a picture it is stretched over the box.
    QPixmap green(10, 10);
    green.fill(Qt::green);
    gpPixmapBG = &green;
    WarnBox w(nullptr);
    const QImage img = w.grab().toImage();
    QCOMPARE(QColor(img.pixel(40, 330)), QColor(Qt::green));
    QCOMPARE(QColor(img.pixel(700, 20)), QColor(Qt::green));
    gpPixmapBG = saved;
}

void TstWidgetsBoxes::productAlarmClearsOutputsAndCount()
{
    QVERIFY2(QFile::exists(QStringLiteral("PARAM.db")), "factory working directory missing");
    auto* win = new ReDoWizard(nullptr);
    win->show();
    // Plain outputs: no inversion, no sound switch, no mirrored output.
    gpWPara->noAlarmSound = 0;
    gpWPara->out4Use = 0;
    for (int i = 0; i < 3; ++i)
        gpWPara->outInitState[i] = 0;
    ControlPort port;
    gpControlIO = &port;
    port.IOSetOut(0, 1);
    port.IOSetOut(2, 1);
    port.IOSetOut(1, 1);
    port.IOFlashOut();
    QCOMPARE(port.IOState(1, 0), 1);
    QCOMPARE(port.IOState(1, 2), 1);
    win->productCount = 500;
    win->productAlarm = 1;

    QVERIFY(gpProductAlarmWarnBox);
    QCOMPARE(gpProductAlarmWarnBox->parentWidget(), win);
    QVERIFY(!gpProductAlarmWarnBox->isVisible());
    QCOMPARE(gpProductAlarmWarnBox->text(), gaLanStr[4 * 720 + gLan]);
    QCOMPARE(gaLanStr[4 * 720 + 1],
             QStringLiteral("Production has reached the set number \n of times, please confirm and reset"));
    const uint32_t published = gDataOut;
    QVERIFY(published & (1u << 0));
    gpProductAlarmWarnBox->show();
    QVERIFY(clickButtonWithText(gpProductAlarmWarnBox, gaLanStr[4 * 121 + gLan]));
    QVERIFY(!gpProductAlarmWarnBox->isVisible());
    QCOMPARE(port.IOState(1, 0), 0);
    QCOMPARE(port.IOState(1, 2), 0);
    QCOMPARE(port.IOState(1, 1), 1); // others untouched
    // Published in one step for the next board frame.
    QCOMPARE(gDataOut, port.out);
    QCOMPARE(win->productCount, 0);
    QCOMPARE(win->productAlarm, 0);
    gpControlIO = nullptr;
    delete win;
}

void TstWidgetsBoxes::lostCameraClosesDatabasesAndPowersOff()
{
    QVERIFY2(QFile::exists(QStringLiteral("PARAM.db")), "factory working directory missing");
    gLan = 1;
    auto* win = new ReDoWizard(nullptr);
    QVERIFY(gpLostCameraWarnBox);
    QVERIFY(!gpLostCameraWarnBox->parentWidget()); // a window of its own
    // Texts in the language the parameters chose.
    QCOMPARE(gpLostCameraWarnBox->text(), gaLanStr[4 * 657 + gLan]);
    QVERIFY(!gaLanStr[4 * 209 + gLan].isEmpty());
    QCOMPARE(gpLostCameraWarnBox->okButton()->text(), gaLanStr[4 * 209 + gLan]);
    TestClock clock;
    Clock::install(&clock);
    const QString shutDown = gaLanStr[4 * 209 + gLan];
    answerModal([shutDown](QWidget* w) { QVERIFY(clickButtonWithText(w, shutDown)); });
    const qint64 t0 = clock.monotonicMs();
    gpLostCameraWarnBox->exec();
    Clock::install(nullptr);
    // The watchdog stop, the databases' settling time, then the pause.
    QCOMPARE(clock.monotonicMs() - t0, 2500);
    const QStringList cmds = CommandRunner::loggedCommands();
    QVERIFY2(cmds.contains(QStringLiteral("init 0")), qPrintable(cmds.join('|')));
    // The databases were closed before the power-off.
    QVERIFY(!win->paraDb.isOpen());
    delete win;
}

void TstWidgetsBoxes::modifyTimeSetsClockThroughCommands()
{
    ModifyTimeWidget w(nullptr);
    QCOMPARE(w.size(), QSize(750, 370));
    QCOMPARE(w.yesButton()->text(), QStringLiteral("Confirm"));
    QCOMPARE(w.noButton()->text(), QStringLiteral("Cancel"));
    QCOMPARE(w.editor()->pos(), QPoint(0, 50));
    QCOMPARE(w.editor()->dateEdit()->displayFormat(), QStringLiteral("yyyy-MM-dd"));
    QCOMPARE(w.editor()->timeEdit()->displayFormat(), QStringLiteral("HH:mm:ss"));
    QCOMPARE(w.editor()->dateEdit()->size(), QSize(330, 60));

    const QDateTime before = QDateTime::currentDateTime();
    w.editor()->ShowDateTime();
    QVERIFY(qAbs(QDateTime(w.editor()->dateEdit()->date(), w.editor()->timeEdit()->time()).secsTo(before)) <= 2);

    w.editor()->dateEdit()->setDate(QDate(2027, 3, 4));
    w.editor()->timeEdit()->setTime(QTime(5, 6, 7));
    answerModal([](QWidget* m) { QVERIFY(clickButtonWithText(m, QStringLiteral("Confirm"))); });
    QCOMPARE(w.exec(), 1);
    w.editor()->setSysDateTime();
    const QStringList cmds = CommandRunner::loggedCommands();
    QCOMPARE(cmds.value(cmds.size() - 2), QStringLiteral("date -s \"2027-03-04 05:06:07\""));
    QCOMPARE(cmds.value(cmds.size() - 1), QStringLiteral("hwclock --systohc"));

    answerModal([](QWidget* m) { QVERIFY(clickButtonWithText(m, QStringLiteral("Cancel"))); });
    QCOMPARE(w.exec(), 0);
}

void TstWidgetsBoxes::chooseCaliNumOffersPointCounts()
{
    ChooseCaliNumWidget w(nullptr);
    ComboBox* c = w.choice();
    QCOMPARE(c->count(), 3);
    QCOMPARE(c->itemText(0), QStringLiteral(" 4 "));
    QCOMPARE(c->itemText(1), QStringLiteral(" 9 "));
    QCOMPARE(c->itemText(2), QStringLiteral(" 25 "));
    QCOMPARE(c->geometry(), QRect(275, 370 / 4 + 30, 200, 50));
    QCOMPARE(c->font().pixelSize(), 33);
}

QTEST_MAIN(TstWidgetsBoxes)
#include "tst_widgets_boxes.moc"

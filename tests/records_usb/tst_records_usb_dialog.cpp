// The USB image settings dialog: its JSON round trip, the settings window's
// use of it answered as a person would, the commit reaching the USB image
// writer, and pictures at the panel sizes in <build>/render/.
#include "controller/ui/indexbutton.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "records/diskmanager.h"
#include "settings/ui/wizardparawidget.h"
#include "frame/wizardpara.h"
#include "records/copy2movedisk.h"
#include "records/ui/saveimagesettingdailog.h"
#include "testsupport/finger.h"
#include "widgets/numberinput.h"
#include "inspection/ui/cammerwidget.h"
#include <QAbstractButton>
#include "testsupport/testenv.h"
#include "widgets/checkbox.h"
#include "widgets/colorbutton.h"
#include "widgets/choosebox.h"
#include "widgets/edit.h"
#include "widgets_boxes/widgettest.h"

#include <QDir>
#include <QPainter>
#include <QTest>

class TstRecordsUsbDialog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void jsonRoundTrip();
    void settingsWindowRound();
    void commitReachesWriter();
    void windowWiresTheWriter();
    void render_data();
    void render();

private:
    TestEnv* m_env = nullptr;
};

void TstRecordsUsbDialog::initTestCase()
{
    m_env = new TestEnv; // ./images for the style sheets
    QVERIFY(widgettest::initToolkit(1));
}

void TstRecordsUsbDialog::cleanupTestCase()
{
    delete m_env;
}

void TstRecordsUsbDialog::cleanup()
{
    widgettest::resetShared();
    gLan = 1;
}

void TstRecordsUsbDialog::jsonRoundTrip()
{
    SaveImageSettingDailog dlg;
    auto roundTrip = [&dlg](const QJsonObject& in) {
        QJsonObject out;
        dlg.init(in);
        dlg.save(out);
        return out;
    };
    QCOMPARE(roundTrip({}), (QJsonObject{{"days", -1}, {"useDiskSaveImage", 0}, {"lostUpanAlarm", 0}}));
    const QJsonObject in{{"days", 31}, {"useDiskSaveImage", 1}, {"lostUpanAlarm", 0}};
    QCOMPARE(roundTrip(in), in);
    // Absent keys leave their control; any non-zero value checks a box, zero
    // clears a checked one.
    QCOMPARE(roundTrip({{"lostUpanAlarm", 7}, {"useDiskSaveImage", 0}}),
             (QJsonObject{{"days", 31}, {"useDiskSaveImage", 0}, {"lostUpanAlarm", 1}}));
}

namespace {
// The operator fills the dialog: the days typed on the pad (a touch on the
// field empties it), the boxes touched into the wanted state. Returns the
// button to touch last.
QAbstractButton* fill(QWidget* w, const QString& days, bool use, bool lost, bool confirm)
{
    auto* dlg = qobject_cast<SaveImageSettingDailog*>(w);
    if (!dlg)
        return nullptr;
    finger::tap(dlg->daysEdit());
    finger::typeDigits(days);
    finger::tap(gpNumPad->okKey());
    if (dlg->useBox()->isChecked() != use)
        finger::tap(dlg->useBox());
    if (dlg->lostBox()->isChecked() != lost)
        finger::tap(dlg->lostBox());
    return confirm ? dlg->confirmButton() : dlg->cancelButton();
}
} // namespace

void TstRecordsUsbDialog::settingsWindowRound()
{
    WizardPara para;
    para.days = 20;
    para.useDiskSaveImage = 1;
    // Each round: what the operator types, then the button pressed.
    auto round = [&](const QString& days, bool use, bool confirm) {
        finger::answerBox([=](QWidget* w) { return fill(w, days, use, true, confirm); });
        return SaveImageSettingDailog::editSettings(nullptr, &para);
    };
    QVERIFY(!round("5", false, false)); // Cancel: the edit copy stays
    QCOMPARE(para.days * 10 + para.useDiskSaveImage + para.lostUpanAlarm, 201);
    QVERIFY(round("", false, true)); // no number: the days stay, the flags follow
    QCOMPARE(para.days * 10 + para.useDiskSaveImage + para.lostUpanAlarm, 201);
    QCOMPARE(para.useDiskSaveImage, 0);
    QVERIFY(round("45", true, true));
    QCOMPARE(para.days, 45);
}

void TstRecordsUsbDialog::commitReachesWriter()
{
    Copy2MoveDisk* c2m = Copy2MoveDisk::getInstance();
    QVERIFY(c2m->isStopped());
    c2m->applyCommittedSettings(12, 0, 1);
    QCOMPARE(c2m->getDays(), 12);
    QVERIFY(!c2m->isStopped());
    c2m->applyCommittedSettings(12, 1, 1); // no change of the switch: still running
    QVERIFY(!c2m->isStopped());
    c2m->applyCommittedSettings(31, 1, 0);
    QVERIFY(c2m->isStopped());
    QCOMPARE(c2m->getDays(), 31);
}

// Through the real window: the drive manager's list reaches the writer, and
// switching the drive copy on or off in the settings window starts or stops
// it, with the days the operator typed.
void TstRecordsUsbDialog::windowWiresTheWriter()
{
    TestEnv env;
    ReDoWizard win;
    win.show();
    QVERIFY(QTest::qWaitForWindowExposed(&win));
    gpWPara->isPswUsed = 0;
    Copy2MoveDisk* c2m = Copy2MoveDisk::getInstance();
    c2m->stop();
    const UPanInfo stick{"WIRE-1", {}, {}, "/dev/sdb1", {}, "usb", "/mnt"};
    emit DiskManager::getInstance()->diskInfoChange({stick});
    QTRY_COMPARE(c2m->deviceId(), QString("WIRE-1"));
    for (const bool use : {true, false}) {
        QVERIFY(finger::tap(win.views[0])); // the side bar shows
        QVERIFY(finger::tap(win.sideBar->systemPara));
        QVERIFY(win.settingsWindow->isVisible());
        finger::answerBox([use](QWidget* w) {
            auto* dlg = qobject_cast<SaveImageSettingDailog*>(w);
            return fill(w, use ? "9" : "31", use, dlg && dlg->lostBox()->isChecked(), true);
        });
        QVERIFY(finger::tap(win.settingsWindow->imageButton));
        // "Save the changes?": yes.
        finger::answerBox(messageText(122));
        QVERIFY(finger::tap(win.settingsWindow->okButton));
        QVERIFY(!win.settingsWindow->isVisible());
        QCOMPARE(gpWPara->useDiskSaveImage, int(use));
        QCOMPARE(c2m->isStopped(), !use);
        QCOMPARE(c2m->getDays(), use ? 9 : 31);
    }
    emit DiskManager::getInstance()->diskInfoChange({});
    QTRY_COMPARE(c2m->deviceId(), QString());
}

void TstRecordsUsbDialog::render_data()
{
    QTest::addColumn<int>("lan");
    QTest::addColumn<QSize>("screen");
    for (int lan : {1, 0})
        for (QSize s : {QSize(1024, 768), QSize(1280, 800)})
            QTest::addRow("%s %dx%d", lan ? "en" : "zh", s.width(), s.height()) << lan << s;
}

void TstRecordsUsbDialog::render()
{
    QFETCH(int, lan);
    QFETCH(QSize, screen);
    gLan = lan;
    SaveImageSettingDailog dlg;
    dlg.init(QJsonObject{{"days", 31}, {"useDiskSaveImage", 1}, {"lostUpanAlarm", 0}});
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    // Centred on the main window's background at the screen size.
    QImage shot(screen, QImage::Format_RGB32);
    QPainter p(&shot);
    p.drawPixmap(shot.rect(), QPixmap(TestEnv::sourceDir() + "/resources/images/background.png"));
    p.drawImage((screen.width() - dlg.width()) / 2, (screen.height() - dlg.height()) / 2, dlg.grab().toImage());
    p.end();
    const QString dir = TestEnv::buildDir() + "/render";
    QDir().mkpath(dir);
    QVERIFY(shot.save(QString("%1/saveimagesetting_%2x%3_%4.png")
                          .arg(dir)
                          .arg(screen.width())
                          .arg(screen.height())
                          .arg(widgettest::lanTag())));
    // Every control inside the dialog and apart from the others.
    const QList<QWidget*> parts{dlg.daysEdit(), dlg.useBox(), dlg.lostBox(), dlg.confirmButton(), dlg.cancelButton()};
    QRegion taken;
    for (QWidget* part : parts) {
        QVERIFY(dlg.rect().contains(part->geometry()) && !taken.intersects(part->geometry()));
        taken += part->geometry();
    }
}

QTEST_MAIN(TstRecordsUsbDialog)
#include "tst_records_usb_dialog.moc"

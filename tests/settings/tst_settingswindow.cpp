// The settings window of the real main window, driven through its buttons,
// pads and boxes; verdicts read in PARAM.db, RECORD.db, sysadd.txt,
// commands.log and the simulated cameras' calls.
#include "controller/ui/customionamewidget.h"
#include "controller/ui/iocheckcombo.h"
#include "controller/ui/iowidget.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "platform/commandrunner.h"
#include "records_statistics/statstestutil.h"
#include "widgets/editbox.h"
#include "widgets/fuzzycombobox.h"
#include "controller/ui/indexbutton.h"
#include "settings/settingsrig.h"
#include "settings/softwarepackage.h"
#include "settings/ui/hardwareconfigurationwidget.h"
#include "settings/ui/recordspage.h"
#include "settings/ui/widgetchangecamera.h"
#include "widgets/modifytimewidget.h"
#include "widgets/networksettingdialog.h"
#include "widgets/versiondownloaddialog.h"
#include "platform/platformpath.h"
#include "widgets/editparam.h"
#include "testsupport/fiforelease.h"
#include "testsupport/finger.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/edit.h"
#include "settings/ui/wizardparawidget.h"
#include "records/resstatisticsparam.h"
#include "widgets/checkbox.h"
#include "widgets/editip.h"
#include "widgets/exportdataselectdlg.h"
#include "widgets/textshowwidget.h"
#include "widgets/warnbox.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets_boxes/widgettest.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QSqlDatabase>
#include <QScopeGuard>
#include <QTextBrowser>
#include <QSqlQuery>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

// The panel's disk as a failing flash is: armed, it changes the first byte of
// a file in the package's folder when the file is synced, so the copy read
// back has the size written but not the bytes.
static std::atomic<bool> gBadDisk{false};
extern "C" int fsync(int fd)
{
    char path[256];
    const ssize_t n = gBadDisk ? ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path) : 0;
    char c = 0;
    if (n > 0 && std::string(path, size_t(n)).find("/root/bin-AOI/") != std::string::npos
        && ::pread(fd, &c, 1, 0) == 1) {
        c = char(c ^ 1);
        if (::pwrite(fd, &c, 1, 0) != 1)
            return -1;
    }
    return int(::syscall(SYS_fsync, fd));
}

class TstSettingsWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(widgettest::initToolkit(1)); }
    void ioPagesLoginAndEditsThatStay();
    void failedSaveIsToldAndChangesNothing();
    void chosenGroupReplacesTheSetAndRestarts();
    void groupsBackUpSearchAndDelete();
    void reCheckCaptionAndCommitFollowUps();
    void cameraPageTunesTheCamera();
    void restartPaths_data();
    void restartPaths();
    void passwordsChangeWithoutClearText();
    void advancedDialogsAndNumbering();
    void softwareUpdateFromTheDrive();
    void softwareUpdateTakesOnlyFilesOfTheDrive();
    void softwareUpdateMeasuresTheDriveAndTheDisk();
    void recordsPageReturnsToTheEdits();
    void exportOfNothingSaysSo();
    void boxesSpeakTheLanguageAfterTheRestart();
    void networkSettingsKeepTheServerAddress();
    // Last: the exit ends the application's event loops for the process.
    void exitAsksOverTheWindow();
};

// The I/O page and the names ask for the factory login; what is confirmed
// in them stays there when they are opened again, and the commit stores it.
void TstSettingsWindow::ioPagesLoginAndEditsThatStay()
{
    SettingsRig rig;
    WizardParaWidget* s = rig.win->settingsWindow;
    IOWidget* io = rig.win->ioPage;
    gpWPara->isPswUsed = 0; // the settings window itself needs no login
    std::strcpy(gpWPara->password, "2468");
    rig.openSettings();
    rig.click(s->tabs[WizardParaWidget::AdvancedPage]);
    // Cancelled, or only the operator's password: the pages stay shut.
    rig.hand.say({"cancel", "login:2468", "login:7394"});
    rig.click(s->ioButton);
    rig.click(s->namesButton);
    QVERIFY(!io->isVisible() && !rig.win->customNames->isVisible() && s->isVisible());
    rig.click(s->ioButton);
    QCOMPARE(rig.hand.seen, (QStringList{"login", "login", "login"}));
    QVERIFY(io->isVisible());
    QVERIFY(finger::choose(io->countChooser(), 3)); // five steps
    rig.click(io->row(0)->box(4));
    rig.click(io->confirmButton());
    QVERIFY(!io->isVisible());
    QCOMPARE(gpWParaBak->multiDetectNum, 5);

    // A value edited on another page survives the names dialog's round trip.
    rig.click(s->tabs[WizardParaWidget::CommonPage]);
    const int reCheck = s->reCheckBox->value() == 10 ? 9 : s->reCheckBox->value() + 1;
    rig.click(reCheck > s->reCheckBox->value() ? s->reCheckBox->addOneButton() : s->reCheckBox->subOneButton());
    rig.click(s->tabs[WizardParaWidget::AdvancedPage]);
    rig.click(s->namesButton);
    CustomIONameWidget* names = rig.win->customNames;
    QVERIFY(names->isVisible());
    QVERIFY(finger::choose(names->inputChooser(2), 7)); // "Res but"
    rig.click(names->confirmButton());
    QVERIFY(s->isVisible());

    rig.click(s->ioButton);
    QCOMPARE(io->stepCount(), 5);
    QCOMPARE(io->row(0)->triggerChooser()->itemText(2), names->inputChooser(2)->itemText(7));
    rig.click(io->confirmButton());
    rig.click(s->namesButton);
    QCOMPARE(names->inputChooser(2)->currentIndex(), 7);
    rig.click(names->confirmButton());
    QCOMPARE(gpWParaBak->multiDetectNum, 5);
    QCOMPARE(gpWParaBak->customInName[2], 7);

    rig.hand.say({"yes"});
    rig.click(s->okButton);
    QCOMPARE(rig.hand.seen.filter(messageText(234)).size(), 1);
    QCOMPARE(rig.stored("system8", 1), 5);
    QCOMPARE(rig.stored("system9", 5), 0);
    QCOMPARE(rig.stored("system10", 3), 7);
    QCOMPARE(gpWPara->reCheckTimes, reCheck);
}

// PARAM.db held by another program: the operator hears of it, the live set
// keeps its values like the file, and no record claims a change; confirmed
// again once the file is free, the change is stored.
void TstSettingsWindow::failedSaveIsToldAndChangesNothing()
{
    SettingsRig rig;
    WizardParaWidget* s = rig.win->settingsWindow;
    IOWidget* io = rig.win->ioPage;
    gpWPara->isPswUsed = 0;
    const int before = gpWPara->multiDetectNum;
    const int storedBefore = rig.stored("system8", 1);
    const int journalBefore = SettingsRig::journal().size();
    rig.openSettings();
    rig.click(s->tabs[WizardParaWidget::AdvancedPage]);
    rig.hand.say({"login:7394"});
    rig.click(s->ioButton);
    QVERIFY(finger::choose(io->countChooser(), before == 4 ? 1 : 2));
    const int wanted = io->stepCount();
    rig.click(io->row(0)->box(wanted - 1));
    rig.click(io->confirmButton());

    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "locker");
        db.setDatabaseName("PARAM.db");
        QVERIFY(db.open());
        QSqlQuery lock(db);
        QVERIFY(lock.exec("begin exclusive") && lock.exec("update sysparam set value=value where 0"));
        rig.hand.say({"yes", "ok"});
        rig.click(s->okButton);
        QVERIFY(lock.exec("rollback"));
    }
    QSqlDatabase::removeDatabase("locker");
    QCOMPARE(rig.hand.seen, (QStringList{"login", messageText(234), messageText(796)}));
    QCOMPARE(gpWPara->multiDetectNum, before);
    QCOMPARE(rig.stored("system8", 1), storedBefore);
    QCOMPARE(SettingsRig::journal().size(), journalBefore);
    QVERIFY(s->isVisible()); // the edits wait for another try
    QCOMPARE(gpWParaBak->multiDetectNum, wanted);

    rig.hand.say({"yes"});
    rig.click(s->okButton);
    QCOMPARE(gpWPara->multiDetectNum, wanted);
    QCOMPARE(rig.stored("system8", 1), wanted);
    QCOMPARE(SettingsRig::journal().filter("system8").size(), 1);
}

// Choosing another group and confirming restarts the station on that
// group's stored set.
void TstSettingsWindow::chosenGroupReplacesTheSetAndRestarts()
{
    SettingsRig rig;
    QVERIFY(QDir().mkpath("paraGroup/mouldb"));
    QVERIFY(QFile::copy("PARAM.db", "paraGroup/mouldb/PARAM.db"));
    QVERIFY(SettingsRig::setStored("paraGroup/mouldb/PARAM.db", "system8", 1, 7));
    const int index = QDir("paraGroup").entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name).indexOf("mouldb");
    rig.openSettings();
    WizardParaWidget* s = rig.win->settingsWindow;
    QVERIFY(finger::choose(s->groupCombo, s->groupCombo->findText("mouldb")));
    rig.hand.say({"yes"});
    rig.click(s->okButton);
    QCOMPARE(rig.hand.seen, QStringList{messageText(285)});
    QFile sysadd("sysadd.txt");
    QVERIFY(sysadd.open(QIODevice::ReadOnly));
    QCOMPARE(sysadd.readAll().trimmed().toInt(), index);
    QCOMPARE(gpWPara->getCurGroupName(), QString("mouldb"));
    QCOMPARE(CommandRunner::loggedCommands().mid(CommandRunner::loggedCommands().size() - 2),
             (QStringList{"sync", "reboot"}));
    QCOMPARE(SettingsRig::stored("system8", 1), 7);
}

// In the multiple-detection mode the common page's re-check editor is
// named after the last step the I/O page confirmed.
void TstSettingsWindow::reCheckCaptionAndCommitFollowUps()
{
    SettingsRig rig;
    gpWPara->systemMode = gpWPara->systemModeSet = 3;
    rig.openSettings();
    WizardParaWidget* s = rig.win->settingsWindow;
    rig.hand.say({"login:7394"});
    rig.press(messageText(499));
    IOWidget* io = rig.win->ioPage;
    QVERIFY(finger::choose(io->countChooser(), 3));
    rig.click(io->row(0)->box(4));
    rig.click(io->confirmButton());
    QStringList captions;
    for (EditBox* b : s->findChildren<EditBox*>())
        captions << b->captionLabel()->text();
    QVERIFY2(captions.contains(messageText(511).arg(messageText(481))), qPrintable(captions.join('|')));

    // The commit: statistics switched by the new setting, counting the new
    // detections.
    ResStatisticsParam* stats = ResStatisticsParam::getInstance();
    const bool counting = gpWPara->useStatistics != 0;
    QCOMPARE(stats->dayTimer->isActive(), counting);
    rig.click(s->tabs[WizardParaWidget::CommonPage]);
    rig.click(s->statisticsBox);
    // Result images kept: NG by the pad, OK by the step button.
    rig.click(s->ngRecBox->field());
    widgettest::typeOnPad("250");
    rig.click(gpNumPad->okKey());
    rig.click(s->okRecBox->addOneButton());
    // The question shows above the settings window, where a finger finds it.
    QWidget* under = nullptr;
    ColorButton* yes = nullptr;
    rig.hand.look = [&](QWidget* box) {
        if (auto* c = dynamic_cast<ChooseBox*>(box)) {
            yes = c->yesButton();
            under = QApplication::widgetAt(yes->mapToGlobal(yes->rect().center()));
        }
    };
    rig.hand.say({"yes"});
    rig.click(s->okButton);
    rig.hand.look = nullptr;
    QVERIFY(yes);
    QCOMPARE(under, static_cast<QWidget*>(yes));
    QCOMPARE(stats->dayTimer->isActive(), !counting);
    QCOMPARE(stats->detectNum, gDNum);
    QCOMPARE(gDNum, 5);
    QCOMPARE(QList<int>({gPicNumNG, gPicNumOK, rig.stored("system2", 4), rig.stored("system1", 8)}),
             QList<int>({250, 1, 250, 1}));
}

// A backed-up group becomes the current one; the search narrows the chooser
// without switching; deleting another group keeps the current one current.
void TstSettingsWindow::groupsBackUpSearchAndDelete()
{
    SettingsRig rig;
    WizardParaWidget* s = rig.win->settingsWindow;
    rig.openSettings();
    const auto backUp = [&](const QString& name) {
        rig.click(s->groupName);
        SettingsRig::typeLetters(name);
        rig.hand.say({"yes"});
        rig.click(s->backupButton);
    };
    const auto sysadd = [] {
        QFile f("sysadd.txt");
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toInt() : -9;
    };
    backUp("mould2");
    backUp("mould3");
    backUp("default");
    backUp("../x"); // a name that would leave ./paraGroup
    QCOMPARE(rig.hand.seen, (QStringList{messageText(283), messageText(283), messageText(653), messageText(784)}));
    QVERIFY(!QFile::exists("x") && !QDir("paraGroup/../x").exists());
    QVERIFY(QFile::exists("paraGroup/mould2/PARAM.db") && QFile::exists("paraGroup/mould3/SN.db"));
    QCOMPARE(gpWPara->getCurGroupName(), QString("mould3"));
    QCOMPARE(sysadd(), 2);
    QCOMPARE(s->groupCombo->stringList(), (QStringList{"default", "mould2", "mould3"}));
    QCOMPARE(s->groupCombo->currentText(), QString("mould3"));

    // Searching narrows the list and never switches the group.
    rig.click(s->groupSearch);
    SettingsRig::typeLetters("d2");
    QCOMPARE(s->groupCombo->count(), 1);
    QCOMPARE(gpWParaBak->groupIndex, 2);
    rig.click(s->groupSearch);
    SettingsRig::typeLetters("x"); // "d2x" matches nothing: the whole list again
    QCOMPARE(s->groupCombo->count(), 3);
    QCOMPARE(gpWParaBak->groupIndex, 2);

    QVERIFY(finger::choose(s->groupCombo, 1));
    rig.hand.say({"yes"});
    rig.click(s->deleteButton);
    QVERIFY(!QDir("paraGroup/mould2").exists());
    QCOMPARE(sysadd(), 1);
    QCOMPARE(gpWPara->getCurGroupName(), QString("mould3"));
    QCOMPARE(SettingsRig::journal().filter("mould").size(), 3);
    // Nothing else changed: OK asks nothing and restarts nothing.
    rig.hand.seen.clear();
    rig.click(s->okButton);
    QVERIFY(rig.hand.seen.isEmpty());
    QVERIFY(!CommandRunner::loggedCommands().contains("reboot"));
}

// Each camera setting reaches the tuned camera while it is tuned; OK stores
// them and sets trigger and speed on every camera, Cancel puts the live
// values back on the camera.
void TstSettingsWindow::cameraPageTunesTheCamera()
{
    SettingsRig rig;
    WizardParaWidget* s = rig.win->settingsWindow;
    const WizardPara live = *gpWPara;
    rig.openSettings();
    rig.click(s->tabs[WizardParaWidget::CameraPage]);
    QVERIFY(!s->whiteBalanceButton->isEnabled()); // a mono camera has none
    QVERIFY(finger::choose(s->cameraChooser, 1));
    rig.click(s->whiteBalanceButton);
    QVERIFY(rig.cameraCalls().contains("SETCAM-1 onceWB"));
    // The editors' ranges are the camera's.
    QCOMPARE(QList<int>({s->exposureBox->minimum(), s->exposureBox->maximum(), s->sharpBox->maximum()}),
             QList<int>({1, 10000, 100}));
    const int calls = rig.cameraCalls().size();
    const struct {
        EditBox* box;
        const int* value;
        QString call;
    } editors[] = {{s->exposureBox, live.exposeTime, "setExposure %1"}, {s->gainBox, live.adjustPlus, "setGain %1"},
                   {s->sharpBox, live.sharp, "setSharp %1"},           {s->contrastBox, live.contrast, "setContrast %1"},
                   {s->gammaBox, live.gamma, "setGamma %1"},           {s->saturationBox, live.saturation, "setValue 10 %1"},
                   {s->noise3DBox, live.noise3D, "setValue 8 %1"},     {s->noise2DBox, live.noise2D, "setValue 9 %1"}};
    QStringList expected;
    for (const auto& e : editors) {
        rig.click(e.value[1] > 0 ? e.box->subOneButton() : e.box->addOneButton());
        expected << "SETCAM-1 " + e.call.arg(e.value[1] + (e.value[1] > 0 ? -1 : 1));
    }
    rig.click(s->wdrBox);
    rig.click(s->hMirrorBox);
    rig.click(s->vMirrorBox);
    expected << QString("SETCAM-1 setWDR %1").arg(live.autoShading ? 0 : 1)
             << QString("SETCAM-1 setHMirror %1").arg(live.hMirror[1] ? 0 : 1)
             << QString("SETCAM-1 setVMirror %1").arg(live.vMirror[1] ? 0 : 1);
    const QStringList tuned = rig.cameraCalls().mid(calls);
    for (const QString& e : expected)
        QVERIFY2(tuned.contains(e), qPrintable(e + " not in " + tuned.join('|')));
    QVERIFY(tuned.filter("SETCAM-0").filter(QRegularExpression("set(Exposure|Gain|Sharp)")).isEmpty());
    QCOMPARE(gpWPara->exposeTime[1], live.exposeTime[1]); // the live set waits for OK

    // The defaults come from the camera.
    rig.hand.say({"yes"});
    rig.click(s->defaultsButton);
    QCOMPARE(rig.hand.seen, QStringList{messageText(527)});
    QVERIFY(rig.cameraCalls().contains("SETCAM-1 defaults 1"));
    QCOMPARE(s->exposureBox->value(), gpWParaBak->exposeTime[1]);

    rig.click(s->exposureBox->addOneButton());
    rig.click(s->triggerBox);
    rig.click(s->speedBox->addOneButton());
    const int exposure = s->exposureBox->value();
    const int speed = s->speedBox->value();
    const int beforeOk = rig.cameraCalls().size();
    rig.hand.say({"yes"});
    rig.click(s->okButton);
    QCOMPARE(rig.stored("exposeTime", 2), exposure);
    const QStringList committed = rig.cameraCalls().mid(beforeOk);
    for (const QString& c : {QString("SETCAM-0 setTrigger %1"), QString("SETCAM-1 setTrigger %1")})
        QVERIFY2(committed.contains(c.arg(live.extTrigger ? 0 : 1)), qPrintable(committed.join('|')));
    QVERIFY(committed.contains(QString("SETCAM-1 setSpeed %1").arg(speed)));

    // Cancel: the camera gets the live exposure back.
    rig.openSettings();
    rig.click(s->tabs[WizardParaWidget::CameraPage]);
    QVERIFY(finger::choose(s->cameraChooser, 1));
    rig.click(s->exposureBox->addOneButton());
    QVERIFY(rig.cameraCalls().contains(QString("SETCAM-1 setExposure %1").arg(exposure + 1)));
    const int beforeCancel = rig.cameraCalls().size();
    rig.click(s->cancelButton);
    QCOMPARE(rig.cameraCalls().mid(beforeCancel).filter("SETCAM-1 setParams").filter(
                 QString("\"exposetime\":%1,").arg(exposure)).size(), 1);
    QCOMPARE(gpWPara->exposeTime[1], exposure);
}

// Shut-down, language, clock and factory reset: the set saved, the
// statistics' last minute stored, the databases closed, then the command.
void TstSettingsWindow::restartPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("shut-down") << "power";
    QTest::newRow("language") << "language";
    QTest::newRow("clock") << "clock";
    QTest::newRow("factory reset") << "factory";
}

void TstSettingsWindow::restartPaths()
{
    QFETCH(QString, path);
    SettingsRig rig;
    WizardParaWidget* s = rig.win->settingsWindow;
    const QString group = gpWPara->getCurGroupName();
    emit rig.win->sendRecord(0, 0, {false}, true);
    rig.openSettings();
    rig.click(s->tabs[WizardParaWidget::SystemPage]);
    QStringList asked;
    QString record;
    const int lan = gLan == 0 ? 1 : 0;
    if (path == "power") {
        rig.hand.say({"yes"});
        rig.click(s->shutDownButton);
        asked << messageText(291);
    } else if (path == "language") {
        QVERIFY(finger::choose(s->languageChooser, lan));
        asked << messageText(318);
        record = messageText(319);
        rig.hand.say({"yes"});
        rig.click(s->languageButton);
    } else if (path == "clock") {
        rig.hand.say({"yes", "yes"});
        rig.click(s->timeButton);
        asked << s->timeDialog->text() << messageText(402);
    } else {
        SettingsRig::setStored("paraGroup/default/PARAM.db", "system8", 1, 6);
        rig.hand.say({"login:7394", "yes"});
        rig.click(s->factoryButton);
        asked << "login" << messageText(527);
    }
    QCOMPARE(rig.hand.seen, asked);
    const QStringList commands = CommandRunner::loggedCommands();
    QCOMPARE(commands.mid(commands.size() - 2), (QStringList{"sync", path == "power" ? "init 0" : "reboot"}));
    QVERIFY(!gpWin->paraDb.isOpen());
    QCOMPARE(docSum(docOf("ResStatistics.db"), group, -1, -1, "NG"), 1);
    if (path == "language") {
        QCOMPARE(SettingsRig::stored("system2", 13), lan);
        QVERIFY(SettingsRig::journal().contains(record));
    } else if (path == "clock") {
        QCOMPARE(commands.filter(QRegularExpression("^date -s \"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\"$")).size(), 1);
        QVERIFY(commands.indexOf(QRegularExpression("^hwclock")) < commands.indexOf("sync"));
        QVERIFY(SettingsRig::journal().contains(messageText(401)));
    } else if (path == "factory") {
        QCOMPARE(SettingsRig::stored("system8", 1), 6);
    }
}

// Password pages: the pads close before the page changes; a changed
// password is stored and never written into the journal in clear.
void TstSettingsWindow::passwordsChangeWithoutClearText()
{
    SettingsRig rig;
    WizardParaWidget* s = rig.win->settingsWindow;
    const QString oldPwd = QString::fromLatin1(gpWPara->password);
    rig.openSettings();
    rig.click(s->tabs[WizardParaWidget::PasswordPage]);
    const auto enter = [&](int k, const QString& a, const QString& b) {
        rig.click(s->pwdNew[k]);
        finger::typeDigits(a);
        rig.click(s->pwdAgain[k]);
        finger::typeDigits(b);
        rig.click(s->pwdButton[k]);
    };
    enter(0, "1357", "1357");
    enter(1, "2468", "2468");
    enter(2, "11", "12");
    QCOMPARE(rig.hand.seen, (QStringList{messageText(279), messageText(279), messageText(280)}));
    rig.click(s->pwdNew[2]);
    QVERIFY(gpNumPad->isVisible());
    rig.click(s->tabs[WizardParaWidget::CommonPage]);
    QVERIFY(!gpNumPad->isVisible());
    rig.hand.say({"yes"});
    rig.click(s->okButton);
    QCOMPARE(SettingsRig::storedRow("password"), QString("1357"));
    QCOMPARE(SettingsRig::storedRow("nocheckPassword"), QString("2468"));
    const QString journal = SettingsRig::journal().join('\n');
    QVERIFY(journal.contains("nocheckPassword"));
    for (const QString& secret : {QString("1357"), QString("2468"), oldPwd, QString("9362")})
        QVERIFY2(secret.isEmpty() || !journal.contains(secret), qPrintable(secret));
}

// The advanced dialogs open from the window after the factory login; the
// numbering refuses a number taken twice and stores the new order.
void TstSettingsWindow::advancedDialogsAndNumbering()
{
    SettingsRig rig;
    WizardParaWidget* s = rig.win->settingsWindow;
    rig.openSettings();
    rig.hand.say({"login:7394"});
    rig.press(messageText(789));
    QVERIFY(rig.win->hardwarePage->isVisible());
    rig.click(rig.win->hardwarePage->findChild<ColorButton*>());
    rig.press(messageText(328));
    NetworkSettingDialog* net = gpNetDialog;
    QVERIFY(net && net->isVisible());
    net->hide();
    rig.press(messageText(328));
    QCOMPARE(gpNetDialog, net);
    net->hide();

    // The update lists the archives on the drive; OK with none chosen
    // installs nothing: no restart, nothing run.
    QDir().mkpath(platform::path("/mnt"));
    for (const char* f : {"v2.tar", "v3.gz", "notes.txt"})
        QVERIFY(QFile(platform::path("/mnt/") + f).open(QIODevice::WriteOnly));
    const int commandsBefore = CommandRunner::loggedCommands().size();
    QStringList listed;
    QString notice;
    finger::answerBox([&](QWidget* w) -> QAbstractButton* {
        auto* dlg = qobject_cast<VersionDownloadDialog*>(w);
        if (!dlg)
            return nullptr;
        for (int i = 0; i < dlg->list->count(); ++i)
            listed << dlg->list->item(i)->text();
        notice = dlg->notice->text();
        return dlg->okButton();
    });
    rig.press(messageText(325));
    QCOMPARE(listed, (QStringList{"v2.tar", "v3.gz"}));
    QCOMPARE(notice, messageText(862));
    QCOMPARE(CommandRunner::loggedCommands().size(), commandsBefore);

    rig.press(messageText(788));
    WidgetChangeCamera* numbering = rig.win->cameraNumbering;
    QVERIFY(numbering->isVisible());
    QCOMPARE(numbering->choosers.size(), 2);
    QVERIFY(finger::choose(numbering->choosers[0], 1));
    rig.click(numbering->okButton);
    QCOMPARE(rig.hand.seen, (QStringList{"login", messageText(793)}));
    QVERIFY(numbering->isVisible());
    QVERIFY(finger::choose(numbering->choosers[1], 0));
    rig.click(numbering->okButton);
    QVERIFY(!numbering->isVisible());
    QStringList sn;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "sn");
        db.setDatabaseName("SN.db");
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (int k = 0; k < 3; ++k)
            if (q.exec(QString("select value from sysparam where name='serialNB%1'").arg(k)) && q.next())
                sn << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase("sn");
    QCOMPARE(sn, (QStringList{"SETCAM-1", "SETCAM-0", "0"}));
    Q_UNUSED(s);
}

// An archive chosen on the drive becomes the package, byte for byte, and the
// station ends in order and restarts; a copy that fails (drive pulled, copy
// read back different) says so, leaves no package and restarts nothing.
void TstSettingsWindow::softwareUpdateFromTheDrive()
{
    SettingsRig rig;
    rig.openSettings();
    const QString medium = platform::simRoot() + "/drives/sdb1";
    QByteArray archive(3 << 20, Qt::Uninitialized);
    for (int i = 0; i < archive.size(); ++i)
        archive[i] = char((i * 7919) >> 5);
    const auto plug = [&] {
        QVERIFY(QDir().mkpath(medium));
        QFile f(medium + "/station-2.2.tar.gz");
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(archive) == archive.size());
    };
    plug();
    QCOMPARE(CommandRunner::system("mount /dev/sdb1 /mnt"), 0);
    const QString packageDir = platform::path("/root/bin-AOI");
    const auto choose = [&](const QString& name, bool pull) {
        // The dialog's list entry is touched, then its OK where it shows.
        finger::answerBox([&, name, pull](QWidget* w) -> QAbstractButton* {
            auto* dlg = qobject_cast<VersionDownloadDialog*>(w);
            if (!dlg)
                return nullptr;
            const auto found = dlg->list->findItems(name, Qt::MatchExactly);
            if (found.isEmpty() || !finger::tap(dlg->list->viewport(), dlg->list->visualItemRect(found[0]).center()))
                return nullptr;
            if (pull)
                QDir(medium).removeRecursively();
            return dlg->okButton();
        });
        rig.hand.say({"yes"});
        rig.press(messageText(325));
    };

    choose("station-2.2.tar.gz", true);
    plug();
    gBadDisk = true;
    choose("station-2.2.tar.gz", false);
    gBadDisk = false;
    QCOMPARE(rig.hand.seen, (QStringList{messageText(323), messageText(860), messageText(323), messageText(860)}));
    QCOMPARE(QDir(packageDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(!CommandRunner::loggedCommands().contains("reboot"));
    QVERIFY(gpWin->paraDb.isOpen());

    choose("station-2.2.tar.gz", false);
    QFile package(packageDir + "/newupdategz");
    QVERIFY(package.open(QIODevice::ReadOnly));
    QVERIFY(package.readAll() == archive);
    QCOMPARE(QDir(packageDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"newupdategz"});
    const QStringList commands = CommandRunner::loggedCommands();
    QCOMPARE(commands.mid(commands.size() - 2), (QStringList{"sync", "reboot"}));
    QVERIFY(!gpWin->paraDb.isOpen());
    QVERIFY(SettingsRig::journal().contains(messageText(861).arg("station-2.2.tar.gz")));
}

// Only regular files of the drive itself are offered, and one that becomes a
// link, FIFO or device after it was touched is refused at once: the station
// runs as root and the drive is anyone's. An archive that does not fit is
// refused with the sizes before anything is copied. None leaves a package, a
// temporary file, a sync or a reboot.
void TstSettingsWindow::softwareUpdateTakesOnlyFilesOfTheDrive()
{
    SettingsRig rig;
    rig.openSettings();
    const QString medium = platform::simRoot() + "/drives/sdb1", late = medium + "/late.gz";
    const QString packageDir = platform::path("/root/bin-AOI");
    const QString secret = CommandRunner::logPath(), fifo = platform::simRoot() + "/fifo";
    QVERIFY(QDir().mkpath(medium) && QDir().mkpath(packageDir) && QFileInfo(secret).size() > 0);
    QVERIFY(::mkfifo(QFile::encodeName(fifo), 0600) == 0
            && ::mkfifo(QFile::encodeName(medium + "/pipe.tar"), 0600) == 0);
    QVERIFY(QFile::link(secret, medium + "/shadow.gz") && QFile::link(fifo, medium + "/fifo.gz")
            && QFile::link("/dev/zero", medium + "/zero.gz"));
    // Sparse: larger than the free space of the package's disk, using none.
    struct statvfs vfs {};
    QVERIFY(::statvfs(QFile::encodeName(packageDir), &vfs) == 0);
    const qint64 bigSize = qint64(vfs.f_bavail) * qint64(vfs.f_frsize) + (qint64(1) << 30);
    QFile big(medium + "/big.tar");
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(bigSize));
    big.close();
    QCOMPARE(CommandRunner::system("mount /dev/sdb1 /mnt"), 0);
    // A copy that runs away (from /dev/zero) ends at 256 MiB, not at a full disk.
    rlimit old {};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
    const rlimit cap{std::min<rlim_t>(256 << 20, old.rlim_max), old.rlim_max};
    const auto xfsz = std::signal(SIGXFSZ, SIG_IGN);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &cap) == 0);
    const auto uncap = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &old); std::signal(SIGXFSZ, xfsz); });
    const int commandsBefore = CommandRunner::loggedCommands().size();

    QStringList listed;
    bool swapped = false;
    const auto choose = [&](const QString& name, const std::function<bool()>& swap) {
        finger::answerBox([&, name, swap](QWidget* w) -> QAbstractButton* {
            auto* dlg = qobject_cast<VersionDownloadDialog*>(w);
            if (!dlg)
                return nullptr;
            listed.clear();
            for (int i = 0; i < dlg->list->count(); ++i)
                listed << dlg->list->item(i)->text();
            const auto found = dlg->list->findItems(name, Qt::MatchExactly);
            if (!found.isEmpty() && finger::tap(dlg->list->viewport(), dlg->list->visualItemRect(found[0]).center())
                && swap)
                swapped = QFile::remove(late) && swap();
            return dlg->okButton();
        });
        rig.hand.say({"yes"});
        rig.press(messageText(325));
    };
    const std::function<bool()> swaps[] = {
        [&] { return QFile::link(secret, late); },
        [&] { return QFile::link(fifo, late); },
        [&] { return ::mkfifo(QFile::encodeName(late), 0600) == 0; },
        [&] { return QFile::link("/dev/zero", late); },
    };
    for (const auto& swap : swaps) {
        QFile::remove(late);
        QVERIFY(QFile(late).open(QIODevice::WriteOnly));
        FifoRelease release({fifo, late});
        QElapsedTimer t;
        t.start();
        swapped = false;
        choose("late.gz", swap);
        QVERIFY(swapped);
        QVERIFY2(t.elapsed() < 2500, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(listed, (QStringList{"big.tar", "late.gz"}));
        QCOMPARE(rig.hand.seen.mid(rig.hand.seen.size() - 2),
                 (QStringList{messageText(323), messageText(864).arg("late.gz")}));
    }
    choose("big.tar", nullptr);
    const QString told = rig.hand.seen.last();
    const QString mb = QString::number(double(bigSize) / (1 << 20), 'f', 1);
    QVERIFY2(told.startsWith(messageText(863).arg("big.tar", mb).section('%', 0, 0)) && told.contains("64.0 MB"),
             qPrintable(told));
    QCOMPARE(rig.hand.seen.size(), 10);
    QCOMPARE(QDir(packageDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    const QStringList commands = CommandRunner::loggedCommands().mid(commandsBefore);
    QVERIFY2(!commands.contains("sync") && !commands.contains("reboot"), qPrintable(commands.join(';')));
    QVERIFY(gpWin->paraDb.isOpen());
}

// With the panel's disk and the drive as file systems of their own (mounted
// by the test, which needs the right to): a file of another file system
// mounted onto the drive is not offered, and one mounted there after the
// touch is refused; an archive that leaves one byte less than the margin free
// is refused with its sizes, one that leaves the margin is installed.
void TstSettingsWindow::softwareUpdateMeasuresTheDriveAndTheDisk()
{
    SettingsRig rig;
    rig.openSettings();
    const QString medium = platform::simRoot() + "/drives/sdb1", root = platform::path("/root");
    const QString packageDir = root + "/bin-AOI", secret = root + "/shadow";
    QVERIFY(QDir().mkpath(medium) && QDir().mkpath(root));
    QStringList mounted;
    const auto unmount = qScopeGuard([&] {
        while (!mounted.isEmpty())
            ::umount2(QFile::encodeName(mounted.takeLast()).constData(), MNT_DETACH);
    });
    const auto mountOn = [&](const QString& what, const QString& where, const char* type, unsigned long flags) {
        const bool ok = ::mount(QFile::encodeName(what).constData(), QFile::encodeName(where).constData(), type,
                                flags, type ? "size=80m" : nullptr) == 0;
        if (ok)
            mounted << where;
        return ok;
    };
    if (!mountOn("tmpfs", root, "tmpfs", 0))
        QSKIP(qPrintable("no file system of its own for the panel's disk: mount: " + QString(strerror(errno))));
    QFile shadow(secret);
    QVERIFY(QDir().mkpath(packageDir) && shadow.open(QIODevice::WriteOnly) && shadow.write("root:x:0:0\n") > 0);
    shadow.close();
    for (const char* name : {"aside.tar", "late.gz"})
        QVERIFY(QFile(medium + "/" + name).open(QIODevice::WriteOnly));
    QVERIFY(mountOn(secret, medium + "/aside.tar", nullptr, MS_BIND));
    struct statvfs vfs {};
    QVERIFY(::statvfs(QFile::encodeName(packageDir), &vfs) == 0);
    const qint64 free = qint64(vfs.f_bavail) * qint64(vfs.f_frsize), fits = free - SoftwarePackage::kFreeMargin;
    for (const auto& archive : {qMakePair(QString("fits.gz"), fits), qMakePair(QString("over.gz"), fits + 1)}) {
        QFile f(medium + "/" + archive.first);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(archive.second));
    }
    QCOMPARE(CommandRunner::system("mount /dev/sdb1 /mnt"), 0);

    QStringList listed;
    bool swapped = false;
    const auto choose = [&](const QString& name, bool swap) {
        finger::answerBox([&, name, swap](QWidget* w) -> QAbstractButton* {
            auto* dlg = qobject_cast<VersionDownloadDialog*>(w);
            if (!dlg)
                return nullptr;
            listed.clear();
            for (int i = 0; i < dlg->list->count(); ++i)
                listed << dlg->list->item(i)->text();
            const auto found = dlg->list->findItems(name, Qt::MatchExactly);
            if (!found.isEmpty() && finger::tap(dlg->list->viewport(), dlg->list->visualItemRect(found[0]).center())
                && swap)
                swapped = mountOn(secret, medium + "/" + name, nullptr, MS_BIND);
            return dlg->okButton();
        });
        rig.hand.say({"yes"});
        rig.press(messageText(325));
    };
    choose("late.gz", true);
    QVERIFY(swapped);
    QCOMPARE(listed, (QStringList{"fits.gz", "late.gz", "over.gz"}));
    choose("over.gz", false);
    const auto mb = [](qint64 bytes) { return QString::number(double(bytes) / (1 << 20), 'f', 1); };
    QCOMPARE(rig.hand.seen, (QStringList{messageText(323), messageText(864).arg("late.gz"), messageText(323),
                                         messageText(863).arg("over.gz", mb(fits + 1), mb(free),
                                                                  mb(SoftwarePackage::kFreeMargin))}));
    QCOMPARE(QDir(packageDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(gpWin->paraDb.isOpen());

    choose("fits.gz", false);
    QCOMPARE(QFileInfo(packageDir + "/newupdategz").size(), fits);
    QVERIFY(::statvfs(QFile::encodeName(packageDir), &vfs) == 0);
    QCOMPARE(qint64(vfs.f_bavail) * qint64(vfs.f_frsize), SoftwarePackage::kFreeMargin);
    QCOMPARE(CommandRunner::loggedCommands().last(), QString("reboot"));
}

// Exit on the maintenance page asks over the settings window at the first
// touch: NO leaves everything running, YES ends the station in order.
void TstSettingsWindow::exitAsksOverTheWindow()
{
    SettingsRig rig;
    WizardParaWidget* s = rig.win->settingsWindow;
    rig.openSettings();
    rig.click(s->tabs[WizardParaWidget::SystemPage]);
    rig.hand.say({"no"});
    rig.click(s->exitButton);
    QCOMPARE(rig.hand.seen, QStringList{messageText(294)});
    QVERIFY(s->isVisible() && gpWin->paraDb.isOpen());
    rig.hand.say({"yes"});
    rig.click(s->exitButton);
    QCOMPARE(rig.hand.seen, (QStringList{messageText(294), messageText(294)}));
    QVERIFY(!gpWin->paraDb.isOpen());
}

// The records page covers the whole window; its Return goes back to the
// pages, and what was edited there is still what OK stores.
void TstSettingsWindow::recordsPageReturnsToTheEdits()
{
    SettingsRig rig;
    WizardParaWidget* s = rig.win->settingsWindow;
    rig.openSettings();
    const int kept = s->ngRecBox->value() + 1;
    rig.click(s->ngRecBox->addOneButton());
    RecordsPage* page = rig.win->recordsPage;
    for (int way = 0; way < 2; ++way) {
        rig.click(s->recordsButton);
        QVERIFY(page->isVisible());
        if (way == 1) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            break;
        }
        ColorButton* back = nullptr;
        for (ColorButton* b : page->findChildren<ColorButton*>())
            if (b->isVisible() && b->text() == messageText(58))
                back = b;
        QVERIFY2(back, "no Return on the records page");
        rig.click(back);
        QVERIFY(!page->isVisible());
    }
    QVERIFY(!page->isVisible() && s->isVisible());
    QCOMPARE(s->ngRecBox->value(), kept);
    rig.hand.say({"yes"});
    rig.click(s->okButton);
    QCOMPARE(rig.hand.seen, QStringList{messageText(234)});
    QCOMPARE(SettingsRig::stored("system2", 4), kept);
}

// The export with only the operation records ticked on the first day (only
// past days are archived): nothing to copy, nothing written to the drive,
// and the operator is told so, not that the export succeeded.
void TstSettingsWindow::exportOfNothingSaysSo()
{
    SettingsRig rig;
    const QString sim = platform::simRoot();
    QVERIFY(QDir().mkpath(sim + "/drives/sdb1") && QDir().mkpath(sim + "/cmd") && QDir().mkpath(sim + "/proc"));
    for (const auto& [path, text] : {std::pair<QString, QByteArray>{"/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n"},
                                     {"/cmd/blkid.out", "/dev/sda2: TYPE=\"ext4\"\n/dev/sdb1: UUID=\"B-1\" TYPE=\"vfat\"\n"}}) {
        QFile f(sim + path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
    }
    QVERIFY(!QFileInfo::exists("RECORD") || QDir("RECORD").isEmpty());
    rig.openSettings();
    finger::answerBox([](QWidget* w) -> QAbstractButton* {
        auto* dlg = qobject_cast<ExportDataSelectDlg*>(w);
        if (!dlg || !finger::tap(dlg->itemBoxes().value(4))) // 操作记录 (operation records)
            return nullptr;
        return dlg->exportButton();
    });
    rig.click(rig.win->settingsWindow->exportButton);
    QTRY_COMPARE(rig.hand.seen, QStringList{messageText(890)});
    QCOMPARE(QDir(sim + "/drives/sdb1").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

// The language chosen in the window is the one every box and page speaks
// after the restart, also the shared message box that the station makes
// before the parameters tell it the language.
void TstSettingsWindow::boxesSpeakTheLanguageAfterTheRestart()
{
    SettingsRig rig(0);
    rig.openSettings();
    rig.click(rig.win->settingsWindow->tabs[WizardParaWidget::SystemPage]);
    QVERIFY(finger::choose(rig.win->settingsWindow->languageChooser, 1));
    rig.hand.say({"yes"});
    rig.click(rig.win->settingsWindow->languageButton);
    QCOMPARE(CommandRunner::loggedCommands().last(), QString("reboot"));
    rig.restart();
    rig.hand.seen.clear();
    QCOMPARE(gLan, 1);
    WizardParaWidget* s = rig.win->settingsWindow;
    // No caption of a page is left in the language of the start.
    const auto stale = [](QWidget* root) {
        QStringList out;
        for (QWidget* w : root->findChildren<QWidget*>()) {
            const QString text = w->property("text").toString();
            for (int m = 0; w->isVisible() && !text.isEmpty() && m < MessageTable::kMessageCount; ++m)
                if (text == gaLanStr[4 * m] && text != gaLanStr[4 * m + gLan])
                    out << text;
        }
        return out;
    };
    rig.openSettings();
    QStringList left;
    for (int p = 0; p < WizardParaWidget::PageCount; ++p) {
        rig.click(s->tabs[p]);
        left << stale(s);
    }
    QVERIFY2(left.isEmpty(), qPrintable(left.join('|')));
    QStringList buttons;
    rig.hand.look = [&](QWidget* box) {
        if (auto* b = dynamic_cast<WarnBox*>(box))
            buttons << b->okButton()->text() + "/" + QString::number(b->okButton()->fontPixelSize());
    };
    rig.click(s->tabs[WizardParaWidget::PasswordPage]);
    rig.click(s->pwdNew[0]);
    finger::typeDigits("1357");
    rig.click(s->pwdAgain[0]);
    finger::typeDigits("1357");
    rig.click(s->pwdButton[0]);
    QCOMPARE(rig.hand.seen, QStringList{messageText(279)});
    QCOMPARE(buttons, QStringList{"Confirm/22"});
}

// The network settings keep the server address under "serveraddr"; a file
// from before, under "serveraddress", keeps its address. Nothing is switched
// that nothing acts on, and a save that changes nothing asks no restart.
void TstSettingsWindow::networkSettingsKeepTheServerAddress()
{
    SettingsRig rig;
    QVERIFY(QDir().mkpath("ruv_net"));
    QFile old("ruv_net/config.json");
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(R"({"devicename": "Press 7", "serveraddress": "10.0.0.9", "serverport": 9000})");
    old.close();
    rig.openSettings();
    rig.press(messageText(328));
    NetworkSettingDialog* net = gpNetDialog;
    QVERIFY(net && net->isVisible());
    QCOMPARE(net->server->getAddress(), QString("10.0.0.9"));
    for (CheckBox* c : net->findChildren<CheckBox*>())
        QVERIFY2(c->text() != messageText(598), "a big-data switch that nothing acts on");
    rig.click(net->okButton());
    QVERIFY(!net->isVisible());
    QCOMPARE(rig.hand.seen, QStringList());

    QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
    old.write(R"({"serveraddr": "10.1.2.3", "serveraddress": "10.0.0.9"})");
    old.close();
    delete gpNetDialog;
    gpNetDialog = nullptr;
    rig.press(messageText(328));
    net = gpNetDialog;
    QCOMPARE(net->server->getAddress(), QString("10.1.2.3"));
    QFile answer(platform::path("/cmd/ping.out")); // a stand-in: no ping leaves this machine
    QVERIFY(QDir().mkpath(QFileInfo(answer).path()) && answer.open(QIODevice::WriteOnly));
    answer.write("64 bytes from 10.1.2.3: icmp_seq=1 ttl=64 time=0.1 ms\n");
    answer.close();
    rig.click(net->testButton);
    QVERIFY(CommandRunner::loggedCommands().last().startsWith("ping -c 3 -W 1 "));
    QVERIFY(CommandRunner::loggedCommands().last().contains("10.1.2.3"));
    // The panel hides what lies under it: its band above the text, left of
    // the close button, shows the text's ground, not the dialog's.
    TextShowWidget* panel = net->pingOutput;
    const QImage shot = net->grab().toImage();
    QWidget* text = panel->textView()->viewport();
    const QRgb ground = shot.pixel(text->mapTo(net, QPoint(text->width() - 4, text->height() - 4)));
    const QRect band(panel->mapTo(net, QPoint(4, 4)), QSize(panel->width() - 8 - panel->closeButton()->width(), 52));
    QStringList seen;
    for (int y = band.top(); y <= band.bottom(); y += 3)
        for (int x = band.left(); x <= band.right(); x += 3)
            if (shot.pixel(x, y) != ground)
                seen << QString("%1,%2").arg(x - band.left()).arg(y - band.top());
    QVERIFY2(seen.isEmpty(), qPrintable(QString("not %1 at ").arg(ground, 0, 16) + seen.mid(0, 5).join(" ")));
    emit net->pingOutput->sigHideWidget();
    rig.click(net->server->octet(3));
    finger::typeDigits("4");
    rig.click(gpNumPad->okKey());
    rig.click(net->okButton());
    QCOMPARE(rig.hand.seen, QStringList{messageText(418)});
    QFile kept("ruv_net/config.json");
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(kept.readAll())["serveraddr"].toString(), QString("10.1.2.4"));
}

QTEST_MAIN(TstSettingsWindow)
#include "tst_settingswindow.moc"

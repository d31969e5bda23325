// The settings window of the real main window, driven through its buttons,
// pads and boxes; verdicts read in PARAM.db, RECORD.db, sysadd.txt,
// commands.log and the simulated cameras' calls.
#include "controller/customionamewidget.h"
#include "controller/iocheckcombo.h"
#include "controller/iowidget.h"
#include "controller/redowizard.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "platform/commandrunner.h"
#include "records_statistics/statstestutil.h"
#include "widgets/editbox.h"
#include "widgets/fuzzycombobox.h"
#include "settings/settingsrig.h"
#include "settings/wizardparawidget.h"
#include "widgets/checkbox.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets_boxes/widgettest.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <cstring>

class TstSettingsWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(widgettest::initToolkit(1)); }
    void advancedPagesAskTheFactoryLogin();
    void ioEditsStayUntilConfirmed();
    void failedSaveIsToldAndChangesNothing();
};

void TstSettingsWindow::advancedPagesAskTheFactoryLogin()
{
    SettingsRig rig;
    WizardParaWidget* s = rig.win->settingsWindow;
    gpWPara->isPswUsed = 0; // the settings window itself needs no login
    std::strcpy(gpWPara->password, "2468");
    rig.openSettings();
    QVERIFY(s->isVisible());

    // Cancelled, or only the operator's password: the pages stay shut.
    rig.hand.say({"cancel"});
    rig.click(s->ioButton);
    rig.hand.say({"login:2468"});
    rig.click(s->namesButton);
    QCOMPARE(rig.hand.seen, (QStringList{"login", "login"}));
    QVERIFY(!rig.win->ioPage->isVisible());
    QVERIFY(!rig.win->customNames->isVisible());
    QVERIFY(s->isVisible());

    rig.hand.say({"login:7394"});
    rig.click(s->ioButton);
    QVERIFY(rig.win->ioPage->isVisible());
    QCOMPARE(rig.win->loginLevel, 2);
}

// Steps and names confirmed on the I/O page and in the names dialog stay in
// them when they are opened again, and the commit stores them.
void TstSettingsWindow::ioEditsStayUntilConfirmed()
{
    SettingsRig rig;
    WizardParaWidget* s = rig.win->settingsWindow;
    IOWidget* io = rig.win->ioPage;
    rig.win->loginLevel = 1;
    gpWPara->isPswUsed = 0;
    rig.openSettings();
    rig.hand.say({"login:7394"});
    rig.click(s->ioButton);
    QVERIFY(io->isVisible());
    io->countChooser()->setCurrentIndex(3); // five steps
    rig.click(io->row(0)->box(4));
    rig.click(io->confirmButton());
    QVERIFY(!io->isVisible());
    QCOMPARE(gpWParaBak->multiDetectNum, 5);

    rig.click(s->namesButton);
    CustomIONameWidget* names = rig.win->customNames;
    QVERIFY(names->isVisible());
    names->inputChooser(2)->setCurrentIndex(7); // "Res but"
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
    rig.hand.say({"login:7394"});
    rig.click(s->ioButton);
    io->countChooser()->setCurrentIndex(before == 4 ? 1 : 2);
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

QTEST_MAIN(TstSettingsWindow)
#include "tst_settingswindow.moc"

// Parameter groups, restarts, the clock and the trigger delays of the
// settings window, driven by a finger on the real main window; verdicts read
// in paraGroup/, sysadd.txt, the per-camera directories, PARAM.db, RECORD.db
// and commands.log.
#include "controller/stationexit.h"
#include "controller/ui/redowizard.h"
#include "controller/ui/indexbutton.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/ui/cammerwidget.h"
#include "platform/commandrunner.h"
#include "settings/settingsrig.h"
#include "settings/ui/wizardparawidget.h"
#include "testsupport/finger.h"
#include "testsupport/testenv.h"
#include "widgets/boxprompt.h"
#include "widgets/choosebox.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/edit.h"
#include "widgets/editbox.h"
#include "widgets/editdatetime.h"
#include "widgets/editparam.h"
#include "widgets/fuzzycombobox.h"
#include "widgets/modifytimewidget.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/warnbox.h"
#include "widgets_boxes/widgettest.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDateEdit>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimeEdit>
#include <QtTest>
#include <ctime>
#include <functional>

namespace {

QByteArray bytes(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeImage(const QString& file, int grey)
{
    QImage img(320, 256, QImage::Format_Grayscale8);
    img.fill(grey);
    return QDir().mkpath(QFileInfo(file).path()) && img.save(file, "BMP");
}

int sysadd()
{
    return bytes("sysadd.txt").trimmed().toInt();
}

int groupIndex(const QString& name)
{
    return QDir("paraGroup").entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name).indexOf(name);
}

// Whether a house box shows (the finger then answers it where it shows).
bool boxShows()
{
    const QWidgetList all = QApplication::allWidgets();
    for (QWidget* w : all)
        if (w->isVisible() && (dynamic_cast<ChooseBox*>(w) || dynamic_cast<WarnBox*>(w)))
            return true;
    return false;
}

// Answers the house boxes in turn, touching YES ("yes") or NO/OK (anything
// else) where they show; the texts of the boxes answered are kept. `onBox`
// runs once on the next box before it is answered (a person setting a
// dialog's editors).
class Hand : public QObject
{
public:
    Hand()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_busy || script.isEmpty() || !boxShows())
                return;
            m_busy = true;
            if (onBox)
                std::exchange(onBox, {})();
            // The clock dialog has no text: what it shows is its editors.
            seen << finger::answerShownBox(script.takeFirst() == QLatin1String("yes"));
            m_busy = false;
        });
        m_timer.start();
    }
    QStringList script, seen;
    std::function<void()> onBox;

private:
    QTimer m_timer;
    bool m_busy = false;
};

// The real main window over one simulated camera; `before` prepares the
// working directory the window starts in.
class Panel
{
public:
    explicit Panel(const std::function<void()>& before = {})
    {
        QVERIFY(env.writeWorkFile("simcamera.json", R"({"cameras":[{"sn":"GROUPS-0","width":320,"height":256}]})"));
        qputenv("STATION_SIMCAMERA_CONFIG", QDir::current().absoluteFilePath("simcamera.json").toLocal8Bit());
        widgettest::resetShared();
        StationExit::resetForTest();
        QVERIFY(SettingsRig::setStored("PARAM.db", "system2", 13, 1));
        gLan = 1;
        if (before)
            before();
        win = new ReDoWizard(nullptr);
        win->show();
        win->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(win));
        BoxPrompt::installShared();
        s = win->settingsWindow;
    }
    ~Panel()
    {
        delete win;
        widgettest::resetShared();
        qunsetenv("STATION_SIMCAMERA_CONFIG");
    }

    // A touch on the camera view brings the side bar; its settings button
    // opens the window.
    void openSettings(int page = WizardParaWidget::CommonPage)
    {
        QVERIFY(finger::tap(win->views[0]));
        QTRY_VERIFY(win->sideBar->systemPara->isVisible());
        QVERIFY(finger::tap(win->sideBar->systemPara));
        QTRY_VERIFY(s->isVisible());
        if (page != WizardParaWidget::CommonPage)
            QVERIFY(finger::tap(s->tabs[page]));
    }

    // Opens the list and touches the row with this text.
    static void choose(QComboBox* combo, const QString& text)
    {
        QVERIFY(finger::tap(combo));
        QAbstractItemView* list = combo->view();
        QTRY_VERIFY(list->isVisible());
        // The list ignores a release that comes right after it opened.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        const QModelIndexList rows =
            list->model()->match(list->model()->index(0, combo->modelColumn()), Qt::DisplayRole, text, 1,
                                 Qt::MatchExactly);
        QVERIFY2(!rows.isEmpty(), qPrintable("no row " + text));
        QVERIFY(finger::tap(list->viewport(), list->visualRect(rows.first()).center()));
        QTRY_VERIFY(!list->isVisible());
        QCOMPARE(combo->currentText(), text);
    }

    static void typeDigits(const QString& digits)
    {
        QTRY_VERIFY(gpNumPad && gpNumPad->isVisible());
        for (QChar c : digits)
            for (int i = 0; i < 10; ++i)
                if (gpNumPad->digitKey(i)->text() == QString(c)) {
                    QVERIFY(finger::tap(gpNumPad->digitKey(i)));
                    break;
                }
        QVERIFY(finger::tap(gpNumPad->okKey()));
    }

    TestEnv env;
    ReDoWizard* win = nullptr;
    WizardParaWidget* s = nullptr;
    Hand hand;
};

// Puts the process's time zone back when the test leaves.
struct ZoneGuard {
    explicit ZoneGuard(const char* zone)
        : old(qgetenv("TZ"))
        , had(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneGuard()
    {
        if (had)
            qputenv("TZ", old);
        else
            qunsetenv("TZ");
        tzset();
    }
    QByteArray old;
    bool had;
};

} // namespace

class TstParaGroups : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(widgettest::initToolkit(1)); }
    void groupKeepsAndBringsBackItsTemplates();
    void factoryGroupTakesAwayTheOldTemplates();
    void restoreThatCannotCopyChangesNothing();
    void deletingKeepsTheLabelInForceAndWhatLinksPointTo();
    void restartRecordSaysWhatHappensInTheLanguageInForce();
    void clockRefusesATimeThatDoesNotExist();
    void secondTriggerDelayIsStoredInItsOwnPlace();
    void aGroupNameTooLongForAFolderIsToldSo();
};

// A group is the ROIs together with the templates and ignore points they
// were taught against: both go into the backup and both come back.
void TstParaGroups::groupKeepsAndBringsBackItsTemplates()
{
    Panel p([] {
        QVERIFY(writeImage("cammer12/template0.bmp", 40));
        QVERIFY(writeImage("cammer12/ignorepoint.bmp", 0));
    });
    const QByteArray taught = bytes("cammer12/template0.bmp");
    p.openSettings();
    QVERIFY(finger::tap(p.s->groupName));
    SettingsRig::typeLetters("moulda");
    p.hand.script << "yes";
    QVERIFY(finger::tap(p.s->backupButton));
    QCOMPARE(p.hand.seen, QStringList{messageText(283)});
    QCOMPARE(bytes("paraGroup/moulda/cammer12/template0.bmp"), taught);
    QCOMPARE(bytes("paraGroup/moulda/cammer12/ignorepoint.bmp"), bytes("cammer12/ignorepoint.bmp"));

    // Another mould is taught in the meantime.
    QVERIFY(writeImage("cammer12/template0.bmp", 200));
    QVERIFY(writeImage("cammer13/template0.bmp", 90));
    Panel::choose(p.s->groupCombo, "moulda");
    p.hand.script << "yes";
    QVERIFY(finger::tap(p.s->restoreButton));
    const QStringList commands = CommandRunner::loggedCommands();
    QCOMPARE(commands.mid(commands.size() - 2), (QStringList{"sync", "reboot"}));
    QCOMPARE(bytes("cammer12/template0.bmp"), taught);
    QVERIFY(QFile::exists("cammer12/ignorepoint.bmp"));
    QVERIFY(!QFile::exists("cammer13/template0.bmp")); // no other mould's template beside the group's ROIs
    QCOMPARE(sysadd(), groupIndex("moulda"));
    QVERIFY(SettingsRig::journal().contains(messageText(286).arg("moulda")));
}

// The factory group holds no camera folders: restoring it leaves none of
// the templates and ignore points the last product was taught with.
void TstParaGroups::factoryGroupTakesAwayTheOldTemplates()
{
    Panel p([] { QVERIFY(writeImage("cammer12/template0.bmp", 40)); });
    QVERIFY(QDir("cammer18").exists());
    p.openSettings();
    Panel::choose(p.s->groupCombo, "default");
    p.hand.script << "yes";
    QVERIFY(finger::tap(p.s->restoreButton));
    QCOMPARE(CommandRunner::loggedCommands().last(), QString("reboot"));
    QCOMPARE(QDir().entryList({"cammer*"}, QDir::AllEntries), QStringList());
}

// A group whose files cannot be copied is told, and nothing changes: no
// record of a restore, no new name, no restart.
void TstParaGroups::restoreThatCannotCopyChangesNothing()
{
    Panel p([] {
        QVERIFY(QDir().mkpath("paraGroup/mouldb"));
        QVERIFY(QFile::copy("PARAM.db", "paraGroup/mouldb/PARAM.db"));
        QVERIFY(SettingsRig::setStored("paraGroup/mouldb/PARAM.db", "system8", 1, 7));
        QVERIFY(QDir().mkpath("paraGroup/mouldb/SN.db")); // damaged: not a file
    });
    const int groupBefore = sysadd();
    const QString storedBefore = SettingsRig::storedRow("system8");
    const int recordsBefore = SettingsRig::journal().size();
    p.openSettings();
    Panel::choose(p.s->groupCombo, "mouldb");
    p.hand.script << "yes"
                  << "ok";
    QVERIFY(finger::tap(p.s->restoreButton));
    QTRY_COMPARE(p.hand.seen, (QStringList{messageText(285), messageText(801)}));
    QVERIFY(!CommandRunner::loggedCommands().contains("reboot"));
    QCOMPARE(sysadd(), groupBefore);
    QCOMPARE(SettingsRig::journal().size(), recordsBefore);
    QCOMPARE(SettingsRig::storedRow("system8"), storedBefore);
    QVERIFY(p.s->isVisible());
}

// The group in force cannot be deleted (the live settings would carry a name
// that no longer exists); a group that is a link goes as a link.
void TstParaGroups::deletingKeepsTheLabelInForceAndWhatLinksPointTo()
{
    Panel p([] {
        QVERIFY(QDir().mkpath("elsewhere/keep"));
        QVERIFY(QFile::copy("PARAM.db", "elsewhere/keep/PARAM.db"));
        QVERIFY(QFile::link(QDir::current().absoluteFilePath("elsewhere"), "paraGroup/linked"));
        QVERIFY(QDir().mkpath("paraGroup/mouldc"));
        QVERIFY(QFile::copy("PARAM.db", "paraGroup/mouldc/PARAM.db"));
        QFile f("sysadd.txt");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::number(groupIndex("mouldc")) + "\n");
    });
    QCOMPARE(gpWPara->getCurGroupName(), QString("mouldc"));
    p.openSettings();
    Panel::choose(p.s->groupCombo, "mouldc");
    p.hand.script << "ok";
    QVERIFY(finger::tap(p.s->deleteButton));
    QCOMPARE(p.hand.seen, QStringList{messageText(802)});
    QVERIFY(QFile::exists("paraGroup/mouldc/PARAM.db"));
    QCOMPARE(gpWPara->getCurGroupName(), QString("mouldc"));

    Panel::choose(p.s->groupCombo, "linked");
    p.hand.script << "yes";
    QVERIFY(finger::tap(p.s->deleteButton));
    QCOMPARE(p.hand.seen.last(), messageText(287));
    QVERIFY(!QFileInfo("paraGroup/linked").isSymLink() && !QFileInfo::exists("paraGroup/linked"));
    QVERIFY(QFile::exists("elsewhere/keep/PARAM.db"));
    QCOMPARE(sysadd(), groupIndex("mouldc"));
    QCOMPARE(gpWPara->getCurGroupName(), QString("mouldc"));
}

// A language switch leaves one row, in the language the station shows when
// it is written; the new language is stored for the next start. Once its
// reboot is issued nothing serves or writes: the Modbus port lets its client
// go and takes no other, a late journal entry and a late command are refused.
void TstParaGroups::restartRecordSaysWhatHappensInTheLanguageInForce()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    qputenv("STATION_MODBUS_PORT", QByteArray::number(port));
    Panel p;
    qunsetenv("STATION_MODBUS_PORT");
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(5000));
    const int rows = SettingsRig::journal().size();
    p.openSettings(WizardParaWidget::SystemPage);
    Panel::choose(p.s->languageChooser, p.s->languageChooser->itemText(0));
    p.hand.script << "yes";
    QVERIFY(finger::tap(p.s->languageButton));
    QCOMPARE(p.hand.seen, QStringList{gaLanStr[4 * 318 + 1]});
    QCOMPARE(SettingsRig::stored("system2", 13), 0);

    QVERIFY(client.state() == QAbstractSocket::UnconnectedState || client.waitForDisconnected(3000));
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!late.waitForConnected(3000));
    gpWin->InsertRecord("API: late", "API");
    CommandRunner::system("date -s \"2030-01-01 00:00:00\"");
    QCOMPARE(SettingsRig::journal().mid(rows), QStringList{gaLanStr[4 * 319 + 1]});
    const QStringList commands = CommandRunner::loggedCommands();
    QCOMPARE(commands.mid(commands.size() - 2), (QStringList{"sync", "reboot"}));
}

// A time in the hour a daylight-saving change skips cannot be set: the
// operator is told, and no command runs.
void TstParaGroups::clockRefusesATimeThatDoesNotExist()
{
    ZoneGuard zone("Europe/Berlin");
    Panel p;
    p.openSettings(WizardParaWidget::SystemPage);
    EditDateTime* editor = p.s->timeDialog->editor();
    p.hand.onBox = [editor] {
        editor->dateEdit()->setDate(QDate(2026, 3, 29));
        editor->timeEdit()->setTime(QTime(2, 30));
    };
    p.hand.script << "yes"
                  << "yes";
    QVERIFY(finger::tap(p.s->timeButton));
    QTRY_COMPARE(p.hand.seen, (QStringList{QString(), messageText(803)}));
    const QStringList commands = CommandRunner::loggedCommands();
    QVERIFY2(commands.filter(QRegularExpression("^(date|hwclock|reboot)")).isEmpty(), qPrintable(commands.join('|')));
    QVERIFY(!SettingsRig::journal().contains(messageText(401)));
}

// Each delay box writes its own detection's delay.
void TstParaGroups::secondTriggerDelayIsStoredInItsOwnPlace()
{
    Panel p([] {
        QVERIFY(SettingsRig::setStored("PARAM.db", "trigInDelay", 1, 4));
        QVERIFY(SettingsRig::setStored("PARAM.db", "trigInDelay", 2, 3));
    });
    p.openSettings();
    QVERIFY(finger::tap(p.s->delayBox[1]->field()));
    Panel::typeDigits("25");
    p.hand.script << "yes";
    QVERIFY(finger::tap(p.s->okButton));
    QCOMPARE(p.hand.seen, QStringList{messageText(234)});
    QCOMPARE(SettingsRig::stored("trigInDelay", 1), 4);
    QCOMPARE(SettingsRig::stored("trigInDelay", 2), 25);
}

QTEST_MAIN(TstParaGroups)
#include "tst_paragroups.moc"

// A name longer than a folder name may be is told as such before anything
// is asked or copied (it used to end in the "file busy" message).
void TstParaGroups::aGroupNameTooLongForAFolderIsToldSo()
{
    Panel p([] {});
    p.openSettings();
    QVERIFY(finger::tap(p.s->groupName));
    SettingsRig::typeLetters(QString(251, QLatin1Char('m')));
    p.hand.script << "yes";
    QVERIFY(finger::tap(p.s->backupButton));
    QCOMPARE(p.hand.seen, QStringList{messageText(804)});
    QCOMPARE(QDir("paraGroup").entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"default"});
}

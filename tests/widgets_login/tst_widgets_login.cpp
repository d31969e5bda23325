// Login and password boxes on the real main window: levels, the hourly
// factory password, wrong entries, the gates, and the shared numeric pad
// (shuffled digits, destroyed while in use).
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "testsupport/finger.h"
#include "testsupport/testenv.h"
#include "widgets/alarmpasswordbox.h"
#include "widgets/choosebox.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"
#include "widgets/nocheckpasswordbox.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/passworddialog.h"
#include "widgets/passwordbox.h"
#include "widgets/warnbox.h"
#include "frame/clock.h"
#include "widgets_boxes/widgettest.h"

#include <QFile>
#include <QPointer>
#include <QTest>
#include <cstring>
#include <memory>

namespace {
// What the box looked like when an entry did not close it.
struct Outcome {
    bool stayedOpen = false;
    QString placeholder;
    int levelWhileOpen = -1;
};

// Types `digits` on the shared pad into the login box's field once it shows,
// then submits with the pad's OK. A box that stays open is noted and cancelled.
std::shared_ptr<Outcome> enterOnPad(const QString& digits)
{
    auto out = std::make_shared<Outcome>();
    PasswordBox* box = gpPasswordBox;
    widgettest::answerWhenVisible(box, [box, digits, out](QWidget*) {
        finger::tap(box->field());
        QVERIFY(gpNumPad->isVisible());
        QVERIFY(box->isAncestorOf(gpNumPad));
        finger::typeDigits(digits);
        finger::tap(gpNumPad->okKey());
        if (box->isVisible()) {
            out->stayedOpen = true;
            out->levelWhileOpen = PasswordBox::loginLevel();
            finger::tap(box->cancelButton());
        }
    });
    return out;
}
} // namespace

class TstWidgetsLogin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void boxTexts();
    void sharedDialogsWiredIntoMainWindow();
    void passwordOffLetsEveryoneInButFactoryNeedsItsCode();
    void passwordOnHourlyFactoryCode();
    void operatorLoginAndWrongEntryLogsOut();
    void wrongEntryHintShownOnce();
    void badEntries_data();
    void badEntries();
    void touchBesideFieldSubmits();
    void padDestroyedWhileInUse();
    void gatesAcceptOnlyTheirPassword();
    void passwordDialogKeepsOwnLevel();
    void pressElsewhereHidesPad();

private:
    TestEnv* m_env = nullptr;
    ReDoWizard* m_win = nullptr;
    TestClock m_clock;
};

void TstWidgetsLogin::initTestCase()
{
    QVERIFY(widgettest::initToolkit(1));
}

void TstWidgetsLogin::init()
{
    m_env = new TestEnv;
    widgettest::resetShared();
    QVERIFY2(QFile::exists(QStringLiteral("PARAM.db")), "factory working directory missing");
    m_win = new ReDoWizard(nullptr);
    m_win->setGeometry(0, 0, gShowW, gShowH);
    m_win->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_win));
    QVERIFY(gpWPara);
    gpWPara->isPswUsed = 1;
    std::strcpy(gpWPara->password, "1234");
    gpWPara->alarmPassword = QStringLiteral("9362");
    gpWPara->nocheckPassword = QStringLiteral("5555");
    m_win->loginLevel = 0;
    m_clock.setNow(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7))); // factory code of the hour: 7394030405
    Clock::install(&m_clock);
}

void TstWidgetsLogin::cleanup()
{
    delete m_win;
    m_win = nullptr;
    widgettest::resetShared();
    delete m_env;
}

void TstWidgetsLogin::boxTexts()
{
    gLan = 3;
    PasswordBox box(nullptr);
    QCOMPARE(box.field()->echoMode(), QLineEdit::Password);
    QCOMPARE(box.okButton()->text(), gaLanStr[4 * 121 + 3]);
}

void TstWidgetsLogin::sharedDialogsWiredIntoMainWindow()
{
    QVERIFY(gpWarnBox && gpChooseBox && gpNumPad && gpNumCharPad && gpPasswordBox);
    for (QWidget* w : std::initializer_list<QWidget*>{gpWarnBox, gpChooseBox, gpNumPad, gpNumCharPad, gpPasswordBox}) {
        QCOMPARE(w->parentWidget(), static_cast<QWidget*>(m_win));
        QVERIFY(!w->isVisible());
    }
    QCOMPARE(gpProductAlarmWarnBox->parentWidget(), static_cast<QWidget*>(m_win));
    QVERIFY(!gpProductAlarmWarnBox->isVisible());
}

void TstWidgetsLogin::passwordOffLetsEveryoneInButFactoryNeedsItsCode()
{
    gpWPara->isPswUsed = 0;
    bool shown = false;
    widgettest::answerWhenVisible(gpPasswordBox, [&shown](QWidget* w) {
        shown = true;
        finger::tap(static_cast<PasswordBox*>(w)->cancelButton());
    }, 300);
    QCOMPARE(m_win->CheckPassword(), 1);
    QTest::qWait(350); // let the answerer give up before the next box opens
    QVERIFY(!shown);
    QCOMPARE(m_win->loginLevel, 0);

    // The factory code alone gives level 2 then (the main window's login
    // case); the hourly form is not the factory password while it is off.
    const auto o = enterOnPad(QStringLiteral("7394030405"));
    QVERIFY(!m_win->CheckRoot());
    QVERIFY(o->stayedOpen);
    QCOMPARE(m_win->loginLevel, 0);
}

void TstWidgetsLogin::passwordOnHourlyFactoryCode()
{
    QCOMPARE(PasswordBox::factoryPassword(true, QDateTime(QDate(2026, 12, 31), QTime(23, 59))),
             QStringLiteral("7394123123"));

    enterOnPad(QStringLiteral("7394030405"));
    QVERIFY(m_win->CheckRoot());
    QCOMPARE(m_win->loginLevel, 2);
    QVERIFY(m_win->CheckRoot());         // already factory: no box
    QCOMPARE(m_win->CheckPassword(), 2); // logged in: no box

    // The code alone gives no factory login.
    const auto o2 = enterOnPad(QStringLiteral("7394"));
    m_win->loginLevel = 0;
    QVERIFY(!m_win->CheckRoot());
    QVERIFY(o2->stayedOpen);

    // Last hour's code no longer works.
    const auto o3 = enterOnPad(QStringLiteral("7394030404"));
    QVERIFY(!m_win->CheckRoot());
    QVERIFY(o3->stayedOpen);

    // The code equal to the operator password logs the operator in.
    std::strcpy(gpWPara->password, "7394");
    enterOnPad(QStringLiteral("7394"));
    QCOMPARE(m_win->CheckPassword(), 1);
    // ...and an operator password equal to the factory one gives level 2.
    std::strcpy(gpWPara->password, "7394030405");
    m_win->loginLevel = 0;
    enterOnPad(QStringLiteral("7394030405"));
    QCOMPARE(m_win->CheckPassword(), 2);
}

void TstWidgetsLogin::operatorLoginAndWrongEntryLogsOut()
{
    const auto o = enterOnPad(QStringLiteral("1234"));
    QCOMPARE(m_win->CheckPassword(), 1);
    QVERIFY(!o->stayedOpen);
    QCOMPARE(m_win->loginLevel, 1);
    // The box hid: no current field, pad hidden.
    QCOMPARE(m_win->currentEdit, nullptr);
    QVERIFY(!gpNumPad->isVisible());

    // Operator asks for root and gets it wrong: logged out while the box stays.
    const auto o2 = enterOnPad(QStringLiteral("9999"));
    QVERIFY(!m_win->CheckRoot());
    QVERIFY(o2->stayedOpen);
    QCOMPARE(o2->levelWhileOpen, 0);
    QCOMPARE(m_win->loginLevel, 0);

    // Cancel keeps the level the operator had.
    m_win->loginLevel = 1;
    widgettest::answerWhenVisible(gpPasswordBox, [](QWidget*) {
        finger::tap(gpPasswordBox->cancelButton());
    });
    QVERIFY(!m_win->CheckRoot());
    QCOMPARE(m_win->loginLevel, 1);

    // An empty operator password matches an empty entry.
    m_win->loginLevel = 0;
    gpWPara->password[0] = '\0';
    const auto o3 = enterOnPad(QString());
    QCOMPARE(m_win->CheckPassword(), 1);
    QVERIFY(!o3->stayedOpen);
}

void TstWidgetsLogin::wrongEntryHintShownOnce()
{
    PasswordBox* box = gpPasswordBox;
    const QString hint = gaLanStr[4 * 125 + gLan];
    const QString wrong = gaLanStr[4 * 357 + gLan];
    QVERIFY(!hint.isEmpty());
    box->show();
    QCOMPARE(box->field()->placeholderText(), hint);
    box->field()->setText(QStringLiteral("11"));
    QCOMPARE(box->field()->placeholderText(), QString());
    box->accept();
    QVERIFY(box->isVisible());
    QCOMPARE(box->field()->text(), QString());
    QCOMPARE(box->field()->placeholderText(), wrong);
    QCOMPARE(box->wrongFlag(), 0); // the clearing already showed the hint
    box->field()->setText(QStringLiteral("5"));
    box->field()->clear();
    QCOMPARE(box->field()->placeholderText(), hint);

    // A wrong empty entry: nothing to clear, the hint comes once more later.
    box->accept();
    QCOMPARE(box->wrongFlag(), 2);
    box->field()->setText(QStringLiteral("5"));
    box->field()->clear();
    QCOMPARE(box->field()->placeholderText(), wrong);
    QCOMPARE(box->wrongFlag(), 0);
    box->field()->setText(QStringLiteral("5"));
    box->field()->clear();
    QCOMPARE(box->field()->placeholderText(), hint);
    box->reject();
}

void TstWidgetsLogin::badEntries_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("spaces") << " 1234";
    QTest::newRow("longer") << "12345";
    QTest::newRow("factory prefix") << "739403040";
    QTest::newRow("case") << "7394030405 ";
}

void TstWidgetsLogin::badEntries()
{
    QFETCH(QString, entry);
    bool stayed = false;
    widgettest::answerWhenVisible(gpPasswordBox, [entry, &stayed](QWidget*) {
        // A physical keyboard on the field, then Confirm.
        gpPasswordBox->field()->setText(entry);
        finger::tap(gpPasswordBox->okButton());
        stayed = gpPasswordBox->isVisible();
        finger::tap(gpPasswordBox->cancelButton());
    });
    QVERIFY(!m_win->CheckRoot());
    QVERIFY(stayed);
}

void TstWidgetsLogin::touchBesideFieldSubmits()
{
    widgettest::answerWhenVisible(gpPasswordBox, [](QWidget*) {
        finger::tap(gpPasswordBox->field());
        finger::typeDigits(QStringLiteral("1234"));
        // A touch on the box background beside the field.
        finger::tap(gpPasswordBox, QPoint(20, 20));
    });
    QCOMPARE(m_win->CheckPassword(), 1);
}

void TstWidgetsLogin::padDestroyedWhileInUse()
{
    bool replaced = false;
    widgettest::answerWhenVisible(gpPasswordBox, [&replaced](QWidget*) {
        finger::tap(gpPasswordBox->field());
        NumberInput* first = gpNumPad;
        finger::typeDigits(QStringLiteral("1"));
        delete first;
        replaced = gpNumPad && gpNumPad != first;
        if (!replaced)
            return;
        // Touch the field again: the new pad opens and its OK still submits.
        finger::tap(gpPasswordBox->field());
        QVERIFY(gpNumPad->isVisible());
        finger::typeDigits(QStringLiteral("1234"));
        finger::tap(gpNumPad->okKey());
        if (gpPasswordBox->isVisible())
            finger::tap(gpPasswordBox->cancelButton());
    });
    QCOMPARE(m_win->CheckPassword(), 1);
    QVERIFY(replaced);
    // The letters keyboard replaces itself the same way.
    NumCharInput* k = gpNumCharPad;
    delete k;
    QVERIFY(gpNumCharPad && gpNumCharPad != k);
}

void TstWidgetsLogin::gatesAcceptOnlyTheirPassword()
{
    QPointer<NumberInput> pad(gpNumPad);
    {
        AlarmPasswordBox gate(m_win);
        Outcome o;
        widgettest::answerWhenVisible(&gate, [&gate, &o](QWidget*) {
            finger::tap(gate.field());
            finger::typeDigits(QStringLiteral("1234")); // the operator password is not it
            // The pad's OK only ends the entry on a gate; Confirm judges it.
            finger::tap(gpNumPad->okKey());
            QVERIFY(gate.isVisible());
            QCOMPARE(gate.field()->text(), QStringLiteral("1234"));
            finger::tap(gate.okButton());
            o.stayedOpen = gate.isVisible();
            o.placeholder = gate.field()->placeholderText();
            QCOMPARE(gate.field()->text(), QString());
            finger::tap(gate.cancelButton());
        });
        QCOMPARE(gate.exec(), int(QDialog::Rejected));
        QVERIFY(pad && gpNumPad == pad && !gate.isAncestorOf(pad)); // cancelled with the pad in it
        QVERIFY(o.stayedOpen);
        QCOMPARE(gate.result(), 0);
        QCOMPARE(o.placeholder, gaLanStr[4 * 357 + gLan]);

        // Correct entry: accepted, the pad handed back before the box closes.
        widgettest::answerWhenVisible(&gate, [&gate](QWidget*) {
            finger::tap(gate.field());
            QVERIFY(gate.isAncestorOf(gpNumPad));
            finger::typeDigits(QStringLiteral("9362"));
            finger::tap(gate.okButton());
        });
        QCOMPARE(gate.exec(), int(QDialog::Accepted));
        QCOMPARE(gate.result(), 1);
        QVERIFY(!gate.isAncestorOf(gpNumPad));
        QCOMPARE(m_win->loginLevel, 0); // gates do not log in
    }
    {
        NocheckPasswordBox gate(m_win);
        widgettest::answerWhenVisible(&gate, [&gate](QWidget*) {
            gate.field()->setText(QStringLiteral("5555"));
            finger::tap(gate.okButton());
        });
        QCOMPARE(gate.exec(), int(QDialog::Accepted));
        QCOMPARE(gate.result(), 1);
        widgettest::answerWhenVisible(&gate, [&gate](QWidget*) {
            gate.field()->setText(QStringLiteral("9362"));
            finger::tap(gate.okButton());
            QVERIFY(gate.isVisible());
            finger::tap(gate.cancelButton());
        });
        QCOMPARE(gate.exec(), int(QDialog::Rejected));
        QCOMPARE(gate.result(), 0);
    }
    // The login still submits with the same pad.
    QCOMPARE(gpNumPad, pad.data());
    enterOnPad(QStringLiteral("1234"));
    QCOMPARE(m_win->CheckPassword(), 1);
}

void TstWidgetsLogin::passwordDialogKeepsOwnLevel()
{
    gpWPara->isPswUsed = 0; // the dialog uses the hourly form anyway
    PasswordDialog dlg(m_win);
    widgettest::answerWhenVisible(&dlg, [&dlg](QWidget*) {
        dlg.field()->setText(QStringLiteral("7394"));
        finger::tap(dlg.okButton());
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.level(), 0);
        dlg.field()->setText(QStringLiteral("7394030405"));
        finger::tap(dlg.okButton());
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    QCOMPARE(dlg.level(), 2);
    QCOMPARE(m_win->loginLevel, 0);
    widgettest::answerWhenVisible(&dlg, [&dlg](QWidget*) {
        QCOMPARE(dlg.level(), 0); // reset at every show
        dlg.field()->setText(QStringLiteral("1234"));
        finger::tap(dlg.okButton());
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    QCOMPARE(dlg.level(), 1);
}

void TstWidgetsLogin::pressElsewhereHidesPad()
{
    Edit* field = widgettest::shownEdit(m_win, 5, QRect(100, 100, 200, 50));
    finger::tap(field);
    QVERIFY(gpNumPad->isVisible());
    // A press on one of the pad's own keys keeps it.
    finger::tap(gpNumPad->digitKey(4));
    QVERIFY(gpNumPad->isVisible());
    QCOMPARE(field->text(), QStringLiteral("5"));
    // A press on the main window's own face hides it.
    QTest::mousePress(m_win, Qt::LeftButton, Qt::NoModifier, QPoint(1000, 700));
    QVERIFY(!gpNumPad->isVisible());
    QTest::mouseRelease(m_win, Qt::LeftButton, Qt::NoModifier, QPoint(1000, 700));
    delete field;
}

QTEST_MAIN(TstWidgetsLogin)
#include "tst_widgets_login.moc"

// Value editors (range clamping, value boxes, address editors, sliders) and
// the shared keypads they open (placement, shuffled password digits, letter
// pages, replacement), driven through real key presses.
#include "frame/globals.h"
#include "testsupport/testenv.h"
#include "widgets/c_slider.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"
#include "widgets/editautofocusbox.h"
#include "widgets/editbox.h"
#include "widgets/editip.h"
#include "widgets/editparam.h"
#include "widgets/edittempbox.h"
#include "widgets/edittempparam.h"
#include "widgets/label.h"
#include "widgets/networksettingdialog.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets_boxes/widgettest.h"

#include <QFontMetrics>
#include <QLabel>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

class TstWidgetsEditors : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void rangeClampOnEveryChange_data();
    void rangeClampOnEveryChange();
    void valueReadsAndWrites();
    void octetTypedKeyByKey();
    void editBoxTypedDigitsClampAtOnce();
    void editBoxDivisorAndSteps();
    void editBoxKeepZeroAndSampleMode();
    void unitLabelFollowsText();
    void addressRoundTrip();
    void sliderJumpsToTouch();
    void autoFocusBoxReports();
    void tempBoxBounds();
    void pictureLabelClicks();

    // The shared keypads

    void padsNeverTakeTheFocus();
    void placementInParent_data();
    void placementInParent();
    void placementInGrandAndGreatGrandParent();
    void placementInNetworkDialog();
    void passwordDigitsShuffled();
    void letterKeyboard();
    void functionKeyCaptionsFit();
    void returnKeyOpensAndCloses();
    void missingPadMadeOnNextEvent();

private:
    // A shown full-screen host with the field's parents, so the pad can open.
    QWidget* m_host = nullptr;
    TestEnv* m_env = nullptr;
};

void TstWidgetsEditors::initTestCase()
{
    QVERIFY(widgettest::initToolkit(1));
}

void TstWidgetsEditors::init()
{
    m_env = new TestEnv(false);
    widgettest::resetShared();
    widgettest::remakePads();
    m_host = new QWidget;
    m_host->setGeometry(0, 0, 1280, 800);
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host));
}

void TstWidgetsEditors::cleanup()
{
    widgettest::resetShared();
    delete m_host;
    m_host = nullptr;
    delete m_env;
}

void TstWidgetsEditors::rangeClampOnEveryChange_data()
{
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("hi");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("above") << 0 << 255 << "256" << "255";
    QTest::newRow("below") << 0 << 255 << "-3" << "0";
    QTest::newRow("leading zeros") << 0 << 255 << "007" << "7";
    QTest::newRow("inside") << 0 << 255 << "128" << "128";
    QTest::newRow("dot kept") << 0 << 255 << "12." << "12.";
    QTest::newRow("too long for int") << 0 << 255 << "99999999999" << "255";
    QTest::newRow("too long negative") << 0 << 255 << "-99999999999" << "0";
    QTest::newRow("no range") << -1 << -1 << "123456" << "123456";
    QTest::newRow("no minimum") << -1 << 10 << "500" << "500";
    QTest::newRow("swapped, below") << 300 << 1 << "0" << "1";
}

void TstWidgetsEditors::rangeClampOnEveryChange()
{
    QFETCH(int, lo);
    QFETCH(int, hi);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    Edit e(9, m_host, 1);
    if (lo != -1 || hi != -1)
        e.setRange(lo, hi);
    e.setText(typed);
    QCOMPARE(e.text(), shown);
}

void TstWidgetsEditors::valueReadsAndWrites()
{
    Edit e(5, m_host, 1);
    e.setText("42");
    QCOMPARE(e.value(), 42);
    e.setText("4x2");
    QCOMPARE(e.value(), 0);
    e.setValue(2.5);
    QCOMPARE(e.text(), QStringLiteral("2.5"));
    QCOMPARE(e.valueToDouble(), 2.5);
    e.setValue(1234567.0);
    QCOMPARE(e.text(), QStringLiteral("1.23457e+06"));
    e.init();
    QVERIFY(e.text().isEmpty());
}

void TstWidgetsEditors::octetTypedKeyByKey()
{
    Edit* e = widgettest::shownEdit(m_host, 5, QRect(100, 100, 80, 50));
    e->setRange(0, 255);
    e->setText("77");
    widgettest::touch(e);
    QCOMPARE(Edit::current(), e);
    QVERIFY(gpNumPad->isVisible());
    QCOMPARE(e->text(), QString()); // opening the pad empties a numeric field
    QStringList seen;
    for (QChar c : QStringLiteral("300")) {
        widgettest::typeOnPad(QString(c));
        seen << e->text();
    }
    QCOMPARE(seen, QStringList({"3", "30", "255"}));

    // Del down to empty: the next key replaces again.
    for (int k = 0; k < 4; ++k) // the last one has nothing to delete
        QTest::mouseClick(gpNumPad->delKey(), Qt::LeftButton);
    QCOMPARE(e->text(), QString());
    QVERIFY(gpNumPad->isFresh());
    widgettest::typeOnPad("9");
    QCOMPARE(e->text(), QStringLiteral("9"));

    // OK ends the entry: pad hidden, field no longer current.
    QTest::mouseClick(gpNumPad->okKey(), Qt::LeftButton);
    QVERIFY(!gpNumPad->isVisible());
    QVERIFY(!e->hasFocus());
    QCOMPARE(Edit::current(), nullptr);
    // Keys without a current field do nothing.
    gpNumPad->setContent(3);
    gpNumPad->eraseAll();
    QCOMPARE(e->text(), QStringLiteral("9"));
}

void TstWidgetsEditors::editBoxTypedDigitsClampAtOnce()
{
    auto* box = new EditBox(10, 100, m_host, QStringLiteral("Delay"), QString(), 0, 1);
    box->move(50, 50);
    box->show();
    // Opening the pad empties the field but keeps the value; leaving the
    // field shows it again.
    box->setValue(32);
    widgettest::touch(box->field());
    QCOMPARE(box->field()->text(), QString());
    QCOMPARE(box->value(), 32);
    box->field()->clearFocus();
    QCOMPARE(box->field()->text(), QStringLiteral("32"));
    QVERIFY(!gpNumPad->isVisible());

    QSignalSpy changed(box, &EditBox::valueChanged);
    widgettest::touch(box->field());
    QVERIFY(gpNumPad->isVisible());
    for (auto [key, now] : {std::pair{"5", 10}, {"0", 100}, {"7", 100}}) {
        widgettest::typeOnPad(key);
        QCOMPARE(box->field()->text(), QString::number(now));
        QCOMPARE(box->value(), now);
    }
    QTest::mouseClick(gpNumPad->delKey(), Qt::LeftButton);
    QCOMPARE(box->value(), 10);
    QVERIFY(changed.count() >= 4);
    QCOMPARE(changed.last().at(0).toInt(), 10);
    delete box;
}

void TstWidgetsEditors::editBoxDivisorAndSteps()
{
    EditBox tenths(0, 1000, m_host, QStringLiteral("Gain"), QString(), 2, 10);
    QCOMPARE(tenths.subFiveButton()->text(), QStringLiteral("- 0.5"));
    tenths.setValue(25);
    QCOMPARE(tenths.field()->text(), QStringLiteral("2.5"));
    QTest::mouseClick(tenths.addOneButton(), Qt::LeftButton);
    QCOMPARE(tenths.value(), 26);
    QCOMPARE(tenths.field()->text(), QStringLiteral("2.6"));
    QTest::mouseClick(tenths.subFiveButton(), Qt::LeftButton);
    QCOMPARE(tenths.value(), 21);

    EditBox plain(0, 7, m_host, QStringLiteral("N"), QString(), 0, 1);
    QCOMPARE(plain.subFiveButton()->text(), QStringLiteral("- 5"));
    plain.setValue(5);
    plain.AddFive();
    QCOMPARE(plain.value(), 7);
    plain.SubFive();
    plain.SubFive();
    QCOMPARE(plain.value(), 0);
    // A value stored without clamping shows nothing until it is checked.
    plain.setInputValue(50);
    QCOMPARE(plain.value(), 50);
    QCOMPARE(plain.field()->text(), QStringLiteral("0"));
    plain.CheckRange();
    QCOMPARE(plain.field()->text(), QStringLiteral("7"));

    // A zero divisor does not show "inf".
    EditBox zero(0, 100, m_host, QStringLiteral("Z"), QString(), 2, 0);
    zero.setValue(30);
    QCOMPARE(zero.field()->text(), QStringLiteral("30"));
    // Other display types leave the text alone.
    EditBox other(0, 100, m_host, QStringLiteral("O"), QString(), 1, 1);
    other.setValue(30);
    QCOMPARE(other.field()->text(), QString());
}

void TstWidgetsEditors::editBoxKeepZeroAndSampleMode()
{
    EditBox box(1, 10, m_host, QStringLiteral("Count"), QString(), 0, 1);
    box.setValue(0);
    QCOMPARE(box.value(), 1);
    box.setUse0(true);
    box.setValue(0);
    QCOMPARE(box.value(), 0);
    box.setValue(-4);
    QCOMPARE(box.value(), 1);

    box.show();
    box.setSampleMode();
    QVERIFY(box.addFiveButton()->isHidden());
    QVERIFY(!box.addOneButton()->isHidden());
    box.setSampleShow();
    QVERIFY(box.addOneButton()->isHidden());
    QVERIFY(box.subOneButton()->isHidden());
}

void TstWidgetsEditors::unitLabelFollowsText()
{
    EditBox box(0, 100000, m_host, QStringLiteral("Exposure"), QStringLiteral("us"), 0, 1);
    box.show();
    QLabel* unit = box.field()->unitLabel();
    QVERIFY(unit);
    QCOMPARE(unit->text(), QStringLiteral("us"));
    box.setValue(1);
    const int shortX = unit->x();
    box.setValue(12345); // the unit stays just right of the digits
    QVERIFY(unit->x() > shortX);
    EditBox noUnit(0, 10, m_host, QStringLiteral("N"), QString(), 0, 1);
    QVERIFY(!noUnit.field()->unitLabel());
}

void TstWidgetsEditors::addressRoundTrip()
{
    EditIP ip(QStringLiteral("IP"), 0, m_host);

    QSignalSpy spy(&ip, &EditIP::textchange);
    ip.setAddress(QStringLiteral("192.168.1.10"));
    QCOMPARE(ip.getAddress(), QStringLiteral("192.168.1.10"));
    QCOMPARE(ip.lastAddress(), QStringLiteral("192.168.1.10"));
    QVERIFY(spy.count() >= 4);
    QCOMPARE(spy.last().at(0).toString(), QStringLiteral("192.168.1.10"));

    // An empty section leaves its octet as it was.
    ip.setAddress(QStringLiteral("10.20..40"));
    QCOMPARE(ip.getAddress(), QStringLiteral("10.20.1.40"));
    // A fifth number ends in octet 4.
    ip.setAddress(QStringLiteral("1.2.3.4.5"));
    QCOMPARE(ip.getAddress(), QStringLiteral("1.2.3.5"));
    // Out of range and junk.
    ip.setAddress(QStringLiteral("300.-1.7.99999999999"));
    QCOMPARE(ip.getAddress(), QStringLiteral("255.0.7.255"));
    ip.octet(2)->setText(QStringLiteral("x"));
    ip.octet(3)->clear();
    QCOMPARE(ip.getAddress(), QStringLiteral("255.0.0.0"));
    ip.octet(1)->setText(QStringLiteral("12."));
    QCOMPARE(ip.getAddress(), QStringLiteral("255.12.0.0"));

    // Typed: the dot key moves on to the next octet.
    ip.setAddress(QStringLiteral("0.0.0.0"));
    ip.move(10, 10);
    ip.show();
    ip.octet(0)->setFocus();
    QVERIFY(QTest::qWaitFor([&ip]() { return ip.octet(0)->hasFocus(); }, 2000));
    ip.octet(0)->clear();
    QTest::keyClicks(ip.octet(0), QStringLiteral("12"));
    QTest::keyClick(ip.octet(0), Qt::Key_Period);
    QVERIFY(ip.octet(1)->hasFocus());
    QCOMPARE(ip.getAddress(), QStringLiteral("12.0.0.0"));
}

void TstWidgetsEditors::sliderJumpsToTouch()
{
    C_Slider s(m_host);
    s.setRange(0, 100);
    s.resize(500, 30);
    QCOMPARE(s.valueAt(250), 50);
    QCOMPARE(s.valueAt(9.4), 0);    // first fiftieth snaps to the start
    QCOMPARE(s.valueAt(10), 2);
    QCOMPARE(s.valueAt(491), 100);  // last fiftieth snaps to the end
    QCOMPARE(s.valueAt(490), 98);
    s.setRange(-1000000000, 1000000000); // no overflow on wide ranges
    QCOMPARE(s.valueAt(375), 500000000);
    s.setRange(0, 100);
    s.show();
    QSignalSpy spy(&s, &C_Slider::cChgValue);
    QTest::mouseClick(&s, Qt::LeftButton, Qt::NoModifier, QPoint(125, 15));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 25);
    QCOMPARE(s.value(), 25);
    C_Slider zero(nullptr);
    QCOMPARE(zero.valueAt(10), zero.minimum()); // no width: no division by zero
}

void TstWidgetsEditors::autoFocusBoxReports()
{
    auto* b = new EditAutoFocusBox(QStringLiteral("Focus"), m_host);
    b->show();
    QCOMPARE(b->subButton()->text(), gaLanStr[4 * 718 + gLan]);
    QSignalSpy spy(b, &EditAutoFocusBox::ValueChange);
    b->field()->setText(QStringLiteral("400"));
    QCOMPARE(b->field()->text(), QStringLiteral("300"));
    QTest::mouseClick(b->subButton(), Qt::LeftButton);
    QTest::mouseClick(b->addButton(), Qt::LeftButton);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toInt(), -1);
    QCOMPARE(spy.at(0).at(1).toInt(), 300);
    QCOMPARE(spy.at(1).at(0).toInt(), 1);
    delete b;
}

void TstWidgetsEditors::tempBoxBounds()
{
    auto* t = new EditTempBox(0, 500, 0, 0, m_host, QStringLiteral("Temp"), QString(), 0, 1);
    t->show();
    t->setValueRange(100, 200);
    t->setValue(150);
    QVERIFY(t->judgeValue());
    t->setValue(201);
    QVERIFY(!t->judgeValue());
    QCOMPARE(t->valueLabel()->text(), QStringLiteral("201"));
    QVERIFY(t->checkFocus(t->maxField()));
    QVERIFY(!t->checkFocus(t->minField()));
    // Typing the upper bound through the pad, without clamping until focus-out.
    widgettest::touch(t->maxField());
    QVERIFY(gpNumPad->isVisible());
    widgettest::typeOnPad("987");
    QCOMPARE(t->getMaxValue(), 987);
    QCOMPARE(t->getMinValue(), 100);
    QTest::mouseClick(gpNumPad->okKey(), Qt::LeftButton);
    QCOMPARE(t->getMaxValue(), 500);
    QCOMPARE(t->maxField()->text(), QStringLiteral("500"));
    int lo = 0, hi = 0;
    t->valueRange(lo, hi);
    QCOMPARE(qMakePair(lo, hi), qMakePair(100, 500));
    EditTempBox tenths(0, 1000, 0, 0, m_host, QStringLiteral("T"), QString(), 2, 10);
    tenths.setValue(255);
    QCOMPARE(tenths.valueLabel()->text(), QStringLiteral("25.5"));
    delete t;
}

void TstWidgetsEditors::pictureLabelClicks()
{
    QPixmap pm(8, 8);
    pm.fill(Qt::blue);
    Label l(m_host, pm);
    l.show();
    QSignalSpy spy(&l, &Label::clicked);
    QTest::mouseClick(&l, Qt::RightButton);
    QCOMPARE(spy.count(), 0);
    QTest::mouseClick(&l, Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
}

// ---- the shared keypads: placement, shuffled digits, letter pages, replacement ----

void TstWidgetsEditors::padsNeverTakeTheFocus()
{
    // The field being typed into must keep the focus while keys are pressed.
    for (QWidget* pad : std::initializer_list<QWidget*>{gpNumPad, gpNumCharPad}) {
        QVERIFY(pad->isHidden());
        QCOMPARE(pad->focusPolicy(), Qt::NoFocus);
        for (QWidget* key : pad->findChildren<ColorButton*>())
            QCOMPARE(key->focusPolicy(), Qt::NoFocus);
    }
}

// Where the pad opens for a field: the widget that hosts it, and where in it.
using Place = QPair<const void*, QPoint>; // the host prints as its address
static Place placeOf(const Edit& e, const QWidget* pad = gpNumPad)
{
    const Edit::PadPlace p = e.padPlace(pad);
    return {p.host, p.pos};
}

void TstWidgetsEditors::placementInParent_data()
{
    QTest::addColumn<QRect>("field");
    QTest::addColumn<QSize>("host");
    QTest::addColumn<QPoint>("pad");
    // Below the field, 5 pixels gap.
    QTest::newRow("free") << QRect(100, 100, 150, 50) << QSize(1280, 800) << QPoint(100, 155);
    // Right edge: shifted left to the host's edge.
    QTest::newRow("right edge") << QRect(1200, 100, 80, 50) << QSize(1280, 800) << QPoint(1280 - 427, 155);
    // Bottom of a full-screen host: lower edge 40 px above the field's.
    QTest::newRow("bottom") << QRect(100, 700, 150, 50) << QSize(1280, 800) << QPoint(100, 700 + 50 - 40 - 230);
    // Just above the limit gShowH - 49: stays below.
    QTest::newRow("limit-1") << QRect(0, 800 - 49 - 230 - 56, 150, 50) << QSize(1280, 800)
                             << QPoint(0, 800 - 49 - 230 - 1);
    // A small host: the pad is kept inside its lower edge.
    QTest::newRow("small host") << QRect(245, 200, 350, 50) << QSize(750, 370) << QPoint(245, 370 - 230);
    // Both edges.
    QTest::newRow("corner") << QRect(1250, 740, 30, 50) << QSize(1280, 800) << QPoint(853, 740 + 55 - 275);
}

void TstWidgetsEditors::placementInParent()
{
    QFETCH(QRect, field);
    QFETCH(QSize, host);
    QFETCH(QPoint, pad);
    QWidget h;
    h.resize(host);
    Edit e(5, &h, 1);
    e.setGeometry(field);
    QCOMPARE(placeOf(e), Place(&h, pad));
}

void TstWidgetsEditors::placementInGrandAndGreatGrandParent()
{
    QWidget host;
    host.resize(1280, 800);
    QWidget mid(&host);
    mid.setGeometry(200, 300, 900, 400);
    QWidget inner(&mid);
    inner.setGeometry(20, 30, 600, 200);
    Edit e8(9, &inner, 1);
    e8.setGeometry(10, 40, 150, 50);
    QCOMPARE(placeOf(e8), Place(&mid, QPoint(30, 30 + 40 + 55)));
    Edit e16(0x10 | 1, &inner, 1);
    e16.setGeometry(10, 40, 150, 50);
    QCOMPARE(placeOf(e16), Place(&host, QPoint(230, 300 + 30 + 40 + 55)));
    // Letters keyboard: bit 0x2 with the grandparent.
    Edit ek(0x2 | 0x8, &inner, 1);
    ek.setGeometry(500, 0, 100, 50);
    QCOMPARE(placeOf(ek, gpNumCharPad), Place(&mid, QPoint(900 - 785, 55 + 30)));
    // Missing ancestors: the parent hosts instead of crashing.
    QWidget orphan;
    Edit e2(0x10, &orphan, 1);
    QCOMPARE(placeOf(e2).first, &orphan);
}

void TstWidgetsEditors::placementInNetworkDialog()
{
    NetworkSettingDialog dlg;
    dlg.resize(1280, 800);
    QWidget page(&dlg);
    page.setGeometry(100, 50, 900, 700);
    QWidget row(&page);
    row.setGeometry(10, 20, 800, 80);
    Edit e(33, &row, 1);
    e.setGeometry(300, 15, 80, 50);
    gpNetDialog = &dlg;
    QCOMPARE(placeOf(e), Place(&dlg, QPoint(410, 50 + 20 + 15 + 55)));
    // Near the bottom: above the field's top, 5 px gap, x untouched even at the edge.
    row.move(10, 600);
    e.move(800, 15);
    QCOMPARE(placeOf(e), Place(&dlg, QPoint(910, 50 + 600 + 15 - 230 - 5)));
    // A field outside the network dialog (the dialog exists): its own window
    // hosts, the pad never lands in a window the field is not in.
    QWidget other;
    other.resize(800, 600);
    Edit outside(33, &other, 1);
    outside.setGeometry(40, 60, 80, 50);
    QCOMPARE(placeOf(outside), Place(&other, QPoint(40, 115)));
    // No network dialog: the field's window hosts, nothing crashes.
    gpNetDialog = nullptr;
    QCOMPARE(placeOf(e).first, &dlg);
}

void TstWidgetsEditors::passwordDigitsShuffled()
{
    Edit* pw = widgettest::shownEdit(m_host, 5, QRect(100, 100, 350, 50));
    pw->setEchoMode(QLineEdit::Password);
    pw->setText(QStringLiteral("old"));
    QSet<QString> orders;
    for (int round = 0; round < 5; ++round) {
        widgettest::touch(pw);
        QVERIFY(gpNumPad->isVisible());
        // The field never keeps the focus, yet it is the pad's target.
        QVERIFY(!pw->hasFocus());
        QCOMPARE(Edit::current(), pw);
        QCOMPARE(pw->text(), QString());
        QCOMPARE(pw->placeholderText(), QStringLiteral("Password:"));
        QString order;
        QSet<QString> seen;
        for (int i = 0; i < 10; ++i) {
            order += gpNumPad->digitKey(i)->text();
            seen.insert(gpNumPad->digitKey(i)->text());
        }
        QCOMPARE(seen.size(), 10);
        orders.insert(order);
        gpNumPad->hide();
    }
    QVERIFY2(orders.size() >= 2, "the digit order never changed");

    // A plain field afterwards shows the digits in order again.
    Edit* plain = widgettest::shownEdit(m_host, 5, QRect(600, 100, 100, 50));
    widgettest::touch(plain);
    QString order;
    for (int i = 0; i < 10; ++i)
        order += gpNumPad->digitKey(i)->text();
    QCOMPARE(order, QStringLiteral("1234567890"));
}

static void clickKey(int index)
{
    QTest::mouseClick(gpNumCharPad->key(index), Qt::LeftButton);
}

static QString row2()
{
    QString s;
    for (int i = 11; i <= 20; ++i)
        s += gpNumCharPad->key(i)->text();
    return s;
}

void TstWidgetsEditors::letterKeyboard()
{
    Edit* e = widgettest::shownEdit(m_host, 6);
    widgettest::touch(e);
    QVERIFY(gpNumCharPad->isVisible());
    QVERIFY(!gpNumPad->isVisible());
    QCOMPARE(row2(), QStringLiteral("qwertyuiop"));
    clickKey(NumCharInput::CaseKey);
    QCOMPARE(row2(), QStringLiteral("QWERTYUIOP"));
    QCOMPARE(gpNumCharPad->key(NumCharInput::CaseKey)->text(), QStringLiteral("Capital"));
    clickKey(NumCharInput::CaseKey);
    QCOMPARE(row2(), QStringLiteral("qwertyuiop"));
    clickKey(NumCharInput::PageKey);
    QCOMPARE(row2(), QStringLiteral("-=[]\\;',./"));
    QCOMPARE(gpNumCharPad->key(21)->text(), QStringLiteral("@"));
    QCOMPARE(gpNumCharPad->key(36)->text(), QStringLiteral("\""));
    QCOMPARE(gpNumCharPad->key(NumCharInput::PageKey)->text(), QStringLiteral("character"));
    // Caps on the punctuation page returns to (upper-case) letters.
    clickKey(NumCharInput::CaseKey);
    QCOMPARE(row2(), QStringLiteral("QWERTYUIOP"));
    QCOMPARE(gpNumCharPad->key(NumCharInput::PageKey)->text(), QStringLiteral("symbol"));
    clickKey(NumCharInput::PageKey);
    clickKey(NumCharInput::PageKey);
    QCOMPARE(row2(), QStringLiteral("qwertyuiop"));
    // Every showing starts on lower-case letters.
    clickKey(NumCharInput::PageKey);
    gpNumCharPad->hide();
    widgettest::touch(e);
    QCOMPARE(row2(), QStringLiteral("qwertyuiop"));
    // OK hides the keyboard; the field keeps the focus.
    clickKey(NumCharInput::OkKey);
    QVERIFY(!gpNumCharPad->isVisible());
    QVERIFY(e->hasFocus());

    // Keys type at the cursor; the letters keyboard keeps the text it opens on.
    e->setText(QStringLiteral("ab"));
    widgettest::touch(e);
    QCOMPARE(e->text(), QStringLiteral("ab"));
    e->setCursorPosition(0);
    clickKey(11); // q
    clickKey(0);  // 1
    clickKey(NumCharInput::PageKey);
    clickKey(19); // .
    QCOMPARE(e->text(), QStringLiteral("abq1."));
    QCOMPARE(e->cursorPosition(), 5);
    clickKey(NumCharInput::EraseKey);
    QCOMPARE(e->text(), QStringLiteral("abq1"));
    QCOMPARE(e->cursorPosition(), 3);
    e->setText(QStringLiteral("z"));
    clickKey(NumCharInput::EraseKey);
    QCOMPARE(e->text(), QString());
    clickKey(NumCharInput::EraseKey);
    QCOMPARE(e->text(), QString());
}

static bool captionFits(ColorButton* b)
{
    QFont f = b->font();
    f.setPixelSize(b->fontPixelSize());
    return QFontMetrics(f).horizontalAdvance(b->text()) <= b->width() - 8;
}

void TstWidgetsEditors::functionKeyCaptionsFit()
{
    // The 80-pixel function keys carry texts of the message table; in every
    // language and on every page they must be readable, not cut off.
    for (int lan : {1, 0, 2, 3}) {
        gLan = lan;
        widgettest::remakePads();
        Edit* e = widgettest::shownEdit(m_host, 6);
        widgettest::touch(e);
        QVERIFY(gpNumCharPad->isVisible());
        for (int page = 0; page < 3; ++page) {
            for (int k = NumCharInput::PageKey; k <= NumCharInput::OkKey; ++k) {
                ColorButton* b = gpNumCharPad->key(k);
                QVERIFY2(captionFits(b), qPrintable(QStringLiteral("lan %1 key %2 '%3' at %4 px")
                                                        .arg(lan).arg(k).arg(b->text()).arg(b->fontPixelSize())));
                QVERIFY(b->fontPixelSize() <= ColorButton::fontSizeFor(3));
                QVERIFY(b->fontPixelSize() >= 12);
            }
            clickKey(page == 0 ? NumCharInput::PageKey : NumCharInput::CaseKey);
        }
        for (ColorButton* b : {gpNumPad->okKey(), gpNumPad->delKey()})
            QVERIFY2(captionFits(b), qPrintable(b->text()));
        delete e;
    }
}

void TstWidgetsEditors::returnKeyOpensAndCloses()
{
    Edit* e = widgettest::shownEdit(m_host, 5);
    e->setFocus();
    QVERIFY(QTest::qWaitFor([e]() { return e->hasFocus(); }, 2000));
    QCOMPARE(Edit::current(), e);
    QVERIFY(!gpNumPad->isVisible());
    QTest::keyClick(e, Qt::Key_Return);
    QVERIFY(gpNumPad->isVisible());
    QTest::keyClick(e, Qt::Key_Return);
    QVERIFY(!gpNumPad->isVisible());
    QVERIFY(!e->hasFocus());
}

void TstWidgetsEditors::missingPadMadeOnNextEvent()
{
    // As the network-card dialog leaves it: the pad forgotten, not deleted.
    NumberInput* old = gpNumPad;
    old->setParent(m_host);
    gpNumPad = nullptr;
    Edit* e = widgettest::shownEdit(m_host, 5);
    QVERIFY(gpNumPad); // any event of the field made a new one
    QVERIFY(gpNumPad != old);
    NumberInput* made = gpNumPad;
    widgettest::touch(e);
    QVERIFY(made->isVisible());
    QCOMPARE(made->parentWidget(), m_host);
    QTest::mouseClick(made->digitKey(3), Qt::LeftButton); // wired to the field
    QCOMPARE(e->text(), QStringLiteral("4"));
    // The old pad going away later does not replace the current one.
    delete old;
    QCOMPARE(gpNumPad, made);
}

QTEST_MAIN(TstWidgetsEditors)
#include "tst_widgets_editors.moc"

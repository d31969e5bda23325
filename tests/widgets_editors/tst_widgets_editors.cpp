// Value editors: range clamping, value boxes, address and date editors,
// check boxes; entry through the real numeric pad.
#include "frame/globals.h"
#include "testsupport/testenv.h"
#include "widgets/c_slider.h"
#include "widgets/checkbox.h"
#include "widgets/editautofocusbox.h"
#include "widgets/edittempbox.h"
#include "widgets/edittempparam.h"
#include "widgets/label.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"
#include "widgets/editbox.h"
#include "widgets/editip.h"
#include "widgets/editparam.h"
#include "widgets/numberinput.h"
#include "widgets_boxes/widgettest.h"

#include <QLabel>
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
    void swappedAndMissingRange();
    void valueReadsAndWrites();
    void octetTypedKeyByKey();
    void editBoxTypedDigitsClampAtOnce();
    void editBoxDivisorAndSteps();
    void editBoxKeepZeroAndLayout();
    void editBoxPadKeepsValueUntilKey();
    void unitLabelFollowsText();
    void addressRoundTrip();
    void addressDotKeyJumpsToNextOctet();
    void checkBoxValue();
    void sliderJumpsToTouch();
    void autoFocusBoxReports();
    void tempBoxBounds();
    void pictureLabelClicks();

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
    NumberInput::createShared();
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
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("above") << "256" << "255";
    QTest::newRow("below") << "-3" << "0";
    QTest::newRow("leading zeros") << "007" << "7";
    QTest::newRow("inside") << "128" << "128";
    QTest::newRow("dot kept") << "12." << "12.";
    QTest::newRow("letters kept") << "abc" << "abc";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("too long for int") << "99999999999" << "255";
    QTest::newRow("too long negative") << "-99999999999" << "0";
}

void TstWidgetsEditors::rangeClampOnEveryChange()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    Edit e(9, m_host, 1);
    e.setRange(0, 255);
    e.setText(typed);
    QCOMPARE(e.text(), shown);
}

void TstWidgetsEditors::swappedAndMissingRange()
{
    Edit e(5, m_host, 1);
    QCOMPARE(e.minimum(), -1);
    QCOMPARE(e.maximum(), -1);
    e.setText("123456");
    QCOMPARE(e.text(), QStringLiteral("123456")); // no range, no clamp
    e.setRange(-1, 10);
    e.setText("500");
    QCOMPARE(e.text(), QStringLiteral("500"));

    e.setRange(300, 1);
    e.clear();
    e.setText("500");
    QCOMPARE(e.text(), QStringLiteral("300"));
    QCOMPARE(e.minimum(), 1);
    QCOMPARE(e.maximum(), 300);
    e.setText("0");
    QCOMPARE(e.text(), QStringLiteral("1"));
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
    e.setValue(-17);
    QCOMPARE(e.text(), QStringLiteral("-17"));
    e.init();
    QVERIFY(e.text().isEmpty());
}

void TstWidgetsEditors::octetTypedKeyByKey()
{
    Edit e(5, m_host, 1);
    e.setRange(0, 255);
    e.setGeometry(100, 100, 80, 50);
    e.show();
    e.setText("77");
    widgettest::touch(&e);
    QCOMPARE(Edit::current(), &e);
    QVERIFY(gpNumPad->isVisible());
    QCOMPARE(e.text(), QString()); // opening the pad empties a numeric field
    QStringList seen;
    for (QChar c : QStringLiteral("300")) {
        widgettest::typeOnPad(QString(c));
        seen << e.text();
    }
    QCOMPARE(seen, QStringList({"3", "30", "255"}));

    // Del down to empty: the next key replaces again.
    QTest::mouseClick(gpNumPad->delKey(), Qt::LeftButton);
    QTest::mouseClick(gpNumPad->delKey(), Qt::LeftButton);
    QTest::mouseClick(gpNumPad->delKey(), Qt::LeftButton);
    QCOMPARE(e.text(), QString());
    QVERIFY(gpNumPad->isFresh());
    QTest::mouseClick(gpNumPad->delKey(), Qt::LeftButton); // nothing to delete
    QCOMPARE(e.text(), QString());
    widgettest::typeOnPad("9");
    QCOMPARE(e.text(), QStringLiteral("9"));

    // OK ends the entry: pad hidden, field no longer current.
    QTest::mouseClick(gpNumPad->okKey(), Qt::LeftButton);
    QVERIFY(!gpNumPad->isVisible());
    QVERIFY(!e.hasFocus());
    QCOMPARE(Edit::current(), nullptr);
    // Keys without a current field do nothing.
    gpNumPad->setContent(3);
    gpNumPad->eraseAll();
    QCOMPARE(e.text(), QStringLiteral("9"));
}

void TstWidgetsEditors::editBoxTypedDigitsClampAtOnce()
{
    auto* box = new EditBox(10, 100, m_host, QStringLiteral("Delay"), QString(), 0, 1);
    box->move(50, 50);
    box->show();
    QSignalSpy changed(box, &EditBox::valueChanged);
    widgettest::touch(box->field());
    QVERIFY(gpNumPad->isVisible());
    // The pad lives in the box's parent (flags 9), below the field.
    QCOMPARE(gpNumPad->parentWidget(), m_host);
    QCOMPARE(gpNumPad->pos(), QPoint(50 + box->field()->x(), 50 + box->field()->y() + 55));
    widgettest::typeOnPad("5");
    QCOMPARE(box->value(), 10);
    QCOMPARE(box->field()->text(), QStringLiteral("10"));
    widgettest::typeOnPad("0");
    QCOMPARE(box->value(), 100);
    widgettest::typeOnPad("7");
    QCOMPARE(box->value(), 100);
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
    QCOMPARE(tenths.subOneButton()->text(), QStringLiteral("- 0.1"));
    QCOMPARE(tenths.addOneButton()->text(), QStringLiteral("+ 0.1"));
    QCOMPARE(tenths.addFiveButton()->text(), QStringLiteral("+ 0.5"));
    tenths.setValue(25);
    QCOMPARE(tenths.field()->text(), QStringLiteral("2.5"));
    QTest::mouseClick(tenths.addOneButton(), Qt::LeftButton);
    QCOMPARE(tenths.value(), 26);
    QCOMPARE(tenths.field()->text(), QStringLiteral("2.6"));
    QTest::mouseClick(tenths.subFiveButton(), Qt::LeftButton);
    QCOMPARE(tenths.value(), 21);
    QCOMPARE(tenths.getType(), 2);

    EditBox plain(0, 7, m_host, QStringLiteral("N"), QString(), 0, 1);
    QCOMPARE(plain.subFiveButton()->text(), QStringLiteral("- 5"));
    QCOMPARE(plain.addOneButton()->text(), QStringLiteral("+ 1"));
    QVERIFY(plain.addOneButton()->autoRepeat());
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

void TstWidgetsEditors::editBoxKeepZeroAndLayout()
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
    QCOMPARE(box.captionLabel()->size(), QSize(160, 50));
    QCOMPARE(box.field()->size(), QSize(150, 50));
    QCOMPARE(box.addOneButton()->size(), QSize(130, 50));
    QCOMPARE(box.captionLabel()->palette().color(QPalette::WindowText), QColor(Qt::yellow));
    QVERIFY(box.addOneButton()->x() > box.field()->x());
    QVERIFY(box.subOneButton()->x() < box.field()->x());
    QVERIFY(box.subFiveButton()->x() < box.subOneButton()->x());
    box.setText(QStringLiteral("New"));
    QCOMPARE(box.captionLabel()->text(), QStringLiteral("New"));
    box.setLabelColor(Qt::red);
    QCOMPARE(box.captionLabel()->palette().color(QPalette::Inactive, QPalette::WindowText), QColor(Qt::red));

    box.setSampleMode();
    QCOMPARE(box.captionLabel()->width(), 120);
    QCOMPARE(box.addOneButton()->width(), 90);
    QCOMPARE(box.field()->width(), 100);
    QVERIFY(box.addFiveButton()->isHidden());
    QVERIFY(!box.addOneButton()->isHidden());
    box.setSampleShow();
    QVERIFY(box.addOneButton()->isHidden());
    QVERIFY(box.subOneButton()->isHidden());
}

void TstWidgetsEditors::editBoxPadKeepsValueUntilKey()
{
    auto* box = new EditBox(0, 500, m_host, QStringLiteral("X"), QString(), 0, 1);
    box->show();
    box->setValue(321);
    widgettest::touch(box->field());
    QCOMPARE(box->field()->text(), QString());
    QCOMPARE(box->value(), 321);
    // Leaving the field shows the unchanged value again.
    box->field()->clearFocus();
    QCOMPARE(box->field()->text(), QStringLiteral("321"));
    QVERIFY(!gpNumPad->isVisible());
    delete box;
}

void TstWidgetsEditors::unitLabelFollowsText()
{
    EditBox box(0, 100000, m_host, QStringLiteral("Exposure"), QStringLiteral("us"), 0, 1);
    box.show();
    QLabel* unit = box.field()->unitLabel();
    QVERIFY(unit);
    QCOMPARE(unit->size(), QSize(2 * 27 + 10, 50));
    QCOMPARE(unit->text(), QStringLiteral("us"));
    box.setValue(1234);
    QCOMPARE(unit->pos(), QPoint(((150 - 64) + int(4 * 27 * 0.5)) / 2, 1));
    EditBox noUnit(0, 10, m_host, QStringLiteral("N"), QString(), 0, 1);
    QVERIFY(!noUnit.field()->unitLabel());
}

void TstWidgetsEditors::addressRoundTrip()
{
    EditIP ip(QStringLiteral("IP"), 0, m_host);
    QCOMPARE(ip.octet(0)->keypadFlags(), 9);
    QCOMPARE(ip.octet(0)->maximum(), 255);
    EditIP ip1(QStringLiteral("IP"), 1, m_host);
    QCOMPARE(ip1.octet(3)->keypadFlags(), 33);

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
}

void TstWidgetsEditors::addressDotKeyJumpsToNextOctet()
{
    auto* ip = new EditIP(QStringLiteral("Gateway"), 0, m_host);
    ip->move(10, 10);
    ip->show();
    ip->octet(0)->setFocus();
    QVERIFY(QTest::qWaitFor([ip]() { return ip->octet(0)->hasFocus(); }, 2000));
    QTest::keyClicks(ip->octet(0), QStringLiteral("12"));
    QTest::keyClick(ip->octet(0), Qt::Key_Period);
    QCOMPARE(ip->octet(0)->text(), QStringLiteral("12."));
    QCOMPARE(ip->octet(1)->text(), QStringLiteral("0"));
    QVERIFY(ip->octet(1)->hasFocus());
    QCOMPARE(ip->getAddress(), QStringLiteral("12.0.0.0"));
    delete ip;
}

void TstWidgetsEditors::checkBoxValue()
{
    CheckBox c(m_host, QStringLiteral("Save NG images"));
    QVERIFY(!c.value());
    c.setValue(7);
    QVERIFY(c.value());
    c.setValue(0);
    QVERIFY(!c.value());
    c.show();
    QVERIFY(!c.wasPressed());
    QTest::mouseClick(&c, Qt::LeftButton);
    QVERIFY(c.wasPressed());
    QVERIFY(c.value());
}

void TstWidgetsEditors::sliderJumpsToTouch()
{
    C_Slider s(m_host);
    s.setRange(0, 100);
    s.resize(500, 30);
    QCOMPARE(s.orientation(), Qt::Horizontal);
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
    b->setBtnText(2, QStringLiteral("S"), QStringLiteral("A"));
    QCOMPARE(b->addButton()->text(), QStringLiteral("A"));
    QCOMPARE(b->subButton()->text(), gaLanStr[4 * 718 + gLan]);
    b->setBtnText(1, QStringLiteral("S"), QStringLiteral("B"));
    QCOMPARE(b->subButton()->text(), QStringLiteral("S"));
    QCOMPARE(b->addButton()->text(), QStringLiteral("A"));
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
    QCOMPARE(lo, 100);
    QCOMPARE(hi, 500);
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
    QVERIFY(l.hasScaledContents());
    l.show();
    QSignalSpy spy(&l, &Label::clicked);
    QTest::mouseClick(&l, Qt::RightButton);
    QCOMPARE(spy.count(), 0);
    QTest::mouseClick(&l, Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
}

QTEST_MAIN(TstWidgetsEditors)
#include "tst_widgets_editors.moc"

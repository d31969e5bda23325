// On-screen keypads: geometry, placement next to the touched field inside its
// host window, the shuffled password digits, the letters keyboard pages and
// the lifecycle of the shared pads.
#include "frame/globals.h"
#include "testsupport/testenv.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/networksettingdialog.h"
#include "widgets_boxes/widgettest.h"

#include <QDialog>
#include <QFontMetrics>
#include <QSet>
#include <QTest>

class TstWidgetsKeypads : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void padsNeverTakeTheFocus();
    void placementInParent_data();
    void placementInParent();
    void placementInGrandAndGreatGrandParent();
    void placementInNetworkDialog();
    void openedPadIsChildOfHost();
    void passwordDigitsShuffled();
    void letterKeyboardPages();
    void letterKeyboardAppendsAndErases();
    void functionKeyCaptionsFit();
    void returnKeyOpensAndCloses();
    void missingPadMadeOnNextEvent();

private:
    QWidget* m_host = nullptr;
    TestEnv* m_env = nullptr;
};

void TstWidgetsKeypads::initTestCase()
{
    QVERIFY(widgettest::initToolkit(1));
}

void TstWidgetsKeypads::init()
{
    m_env = new TestEnv(false);
    widgettest::resetShared();
    NumberInput::createShared();
    NumCharInput::createShared();
    m_host = new QWidget;
    m_host->setGeometry(0, 0, 1280, 800);
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host));
}

void TstWidgetsKeypads::cleanup()
{
    widgettest::resetShared();
    delete m_host;
    m_host = nullptr;
    delete m_env;
}

void TstWidgetsKeypads::padsNeverTakeTheFocus()
{
    // The field being typed into must keep the focus while keys are pressed.
    for (QWidget* pad : std::initializer_list<QWidget*>{gpNumPad, gpNumCharPad}) {
        QVERIFY(pad->isHidden());
        QCOMPARE(pad->focusPolicy(), Qt::NoFocus);
        for (QWidget* key : pad->findChildren<ColorButton*>())
            QCOMPARE(key->focusPolicy(), Qt::NoFocus);
    }
}

void TstWidgetsKeypads::placementInParent_data()
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

void TstWidgetsKeypads::placementInParent()
{
    QFETCH(QRect, field);
    QFETCH(QSize, host);
    QFETCH(QPoint, pad);
    QWidget h;
    h.resize(host);
    Edit e(5, &h, 1);
    e.setGeometry(field);
    const Edit::PadPlace place = e.padPlace(gpNumPad);
    QCOMPARE(place.host, &h);
    QCOMPARE(place.pos, pad);
}

void TstWidgetsKeypads::placementInGrandAndGreatGrandParent()
{
    QWidget host;
    host.resize(1280, 800);
    QWidget mid(&host);
    mid.setGeometry(200, 300, 900, 400);
    QWidget inner(&mid);
    inner.setGeometry(20, 30, 600, 200);
    Edit e8(9, &inner, 1);
    e8.setGeometry(10, 40, 150, 50);
    Edit::PadPlace p = e8.padPlace(gpNumPad);
    QCOMPARE(p.host, &mid);
    QCOMPARE(p.pos, QPoint(30, 30 + 40 + 55));
    Edit e16(0x10 | 1, &inner, 1);
    e16.setGeometry(10, 40, 150, 50);
    p = e16.padPlace(gpNumPad);
    QCOMPARE(p.host, &host);
    QCOMPARE(p.pos, QPoint(230, 300 + 30 + 40 + 55));
    // Letters keyboard: bit 0x2 with the grandparent.
    Edit ek(0x2 | 0x8, &inner, 1);
    ek.setGeometry(500, 0, 100, 50);
    p = ek.padPlace(gpNumCharPad);
    QCOMPARE(p.host, &mid);
    QCOMPARE(p.pos, QPoint(900 - 785, 55 + 30));
    // Missing ancestors: the parent hosts instead of crashing.
    QWidget orphan;
    Edit e2(0x10, &orphan, 1);
    p = e2.padPlace(gpNumPad);
    QCOMPARE(p.host, &orphan);
}

void TstWidgetsKeypads::placementInNetworkDialog()
{
    NetworkSettingDialog dlg(QStringLiteral("Network"));
    dlg.resize(1280, 800);
    QWidget page(&dlg);
    page.setGeometry(100, 50, 900, 700);
    QWidget row(&page);
    row.setGeometry(10, 20, 800, 80);
    Edit e(33, &row, 1);
    e.setGeometry(300, 15, 80, 50);
    gpNetDialog = &dlg;
    Edit::PadPlace p = e.padPlace(gpNumPad);
    QCOMPARE(p.host, static_cast<QWidget*>(&dlg));
    QCOMPARE(p.pos, QPoint(410, 50 + 20 + 15 + 55));
    // Near the bottom: above the field's top, 5 px gap, x untouched even at the edge.
    row.move(10, 600);
    e.move(800, 15);
    p = e.padPlace(gpNumPad);
    QCOMPARE(p.pos, QPoint(910, 50 + 600 + 15 - 230 - 5));
    // A field outside the network dialog (the dialog exists): its own window
    // hosts, the pad never lands in a window the field is not in.
    QWidget other;
    other.resize(800, 600);
    Edit outside(33, &other, 1);
    outside.setGeometry(40, 60, 80, 50);
    p = outside.padPlace(gpNumPad);
    QCOMPARE(p.host, &other);
    QCOMPARE(p.pos, QPoint(40, 115));
    // No network dialog: the field's window hosts, nothing crashes.
    gpNetDialog = nullptr;
    p = e.padPlace(gpNumPad);
    QCOMPARE(p.host, static_cast<QWidget*>(&dlg));
}

void TstWidgetsKeypads::openedPadIsChildOfHost()
{
    QWidget* panel = new QWidget(m_host);
    panel->setGeometry(100, 100, 750, 370);
    panel->show();
    Edit* e = new Edit(5, panel, 1);
    e->setGeometry(245, 70, 350, 50);
    e->show();
    widgettest::touch(e);
    QVERIFY(gpNumPad->isVisible());
    QCOMPARE(gpNumPad->parentWidget(), panel);
    QCOMPARE(gpNumPad->pos(), QPoint(245, 125));
    QVERIFY(!gpNumPad->isWindow());
    // A press elsewhere on the field's window moves the focus away: pad hidden.
    e->clearFocus();
    QVERIFY(!gpNumPad->isVisible());
    // Another field in another host takes the pad along.
    Edit* e2 = new Edit(5, m_host, 1);
    e2->setGeometry(10, 10, 100, 50);
    e2->show();
    widgettest::touch(e2);
    QCOMPARE(gpNumPad->parentWidget(), m_host);
    QVERIFY(gpNumPad->isVisible());
    delete panel;
    QVERIFY(gpNumPad); // not owned by the panel any more
}

void TstWidgetsKeypads::passwordDigitsShuffled()
{
    const QVector<int> r = NumberInput::genRandomNumber();
    QCOMPARE(r.size(), 10);
    QCOMPARE(QSet<int>(r.begin(), r.end()).size(), 10);
    for (int d : r)
        QVERIFY(d >= 0 && d <= 9);

    Edit* pw = new Edit(5, m_host, 1);
    pw->setEchoMode(QLineEdit::Password);
    pw->setGeometry(100, 100, 350, 50);
    pw->show();
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
        // Pressing a key types the digit on its caption.
        QTest::mouseClick(gpNumPad->digitKey(0), Qt::LeftButton);
        QCOMPARE(pw->text(), gpNumPad->digitKey(0)->text());
        gpNumPad->hide();
    }
    QVERIFY2(orders.size() >= 2, "the digit order never changed");

    // A plain field afterwards shows the digits in order again.
    Edit* plain = new Edit(5, m_host, 1);
    plain->setGeometry(600, 100, 100, 50);
    plain->show();
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

void TstWidgetsKeypads::letterKeyboardPages()
{
    Edit* e = new Edit(6, m_host, 1);
    e->setGeometry(50, 50, 300, 50);
    e->show();
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
}

void TstWidgetsKeypads::letterKeyboardAppendsAndErases()
{
    Edit* e = new Edit(6, m_host, 1);
    e->setGeometry(50, 50, 300, 50);
    e->show();
    e->setText(QStringLiteral("ab"));
    widgettest::touch(e);
    QCOMPARE(e->text(), QStringLiteral("ab")); // the letters keyboard keeps the text
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

void TstWidgetsKeypads::functionKeyCaptionsFit()
{
    // The 80-pixel function keys carry texts of the message table; in every
    // language and on every page they must be readable, not cut off.
    for (int lan : {1, 0, 2, 3}) {
        gLan = lan;
        widgettest::resetShared();
        NumberInput::createShared();
        NumCharInput::createShared();
        Edit* e = new Edit(6, m_host, 1);
        e->setGeometry(50, 50, 300, 50);
        e->show();
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
    gLan = 1;
    // A short caption keeps the house size; a long one is made smaller.
    QCOMPARE(gpNumCharPad->key(NumCharInput::EraseKey)->text(), QStringLiteral("BS"));
    QCOMPARE(gpNumCharPad->key(NumCharInput::EraseKey)->fontPixelSize(), 22);
    gpNumCharPad->SlotChgChar_Punc();
    QCOMPARE(gpNumCharPad->key(NumCharInput::PageKey)->text(), QStringLiteral("character"));
    QVERIFY(gpNumCharPad->key(NumCharInput::PageKey)->fontPixelSize() < 22);
}

void TstWidgetsKeypads::returnKeyOpensAndCloses()
{
    Edit* e = new Edit(5, m_host, 1);
    e->setGeometry(50, 50, 300, 50);
    e->show();
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

void TstWidgetsKeypads::missingPadMadeOnNextEvent()
{
    // As the network-card dialog leaves it: the pad forgotten, not deleted.
    NumberInput* old = gpNumPad;
    old->setParent(m_host);
    gpNumPad = nullptr;
    Edit* e = new Edit(5, m_host, 1);
    e->setGeometry(50, 50, 300, 50);
    e->show();
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

QTEST_MAIN(TstWidgetsKeypads)
#include "tst_widgets_keypads.moc"

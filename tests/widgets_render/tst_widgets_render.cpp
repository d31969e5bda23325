// Draws every message box, login box, keypad and value editor in English and
// Simplified Chinese into <build>/render/, so the house look can be checked
// by eye, and checks that each picture holds a drawing with the real font.
#include "frame/globals.h"
#include "testsupport/testenv.h"
#include "widgets/alarmpasswordbox.h"
#include "widgets/boxpaint.h"
#include "widgets/checkbox.h"
#include "widgets/choosebox.h"
#include "widgets/choosecalinumwidget.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"
#include "widgets/editbox.h"
#include "widgets/editdatetime.h"
#include "widgets/editip.h"
#include "widgets/lostcamerawarnbox.h"
#include "widgets/modifytimewidget.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/passwordbox.h"
#include "widgets/productalarmwarnbox.h"
#include "widgets/warnbox.h"
#include "widgets_boxes/widgettest.h"

#include <QDir>
#include <QFontInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

class TstWidgetsRender : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void renderBoxes_data();
    void renderBoxes();
    void renderKeypads_data();
    void renderKeypads();
    void renderLoginWithPad_data();
    void renderLoginWithPad();
    void renderEditors_data();
    void renderEditors();

private:
    void save(QWidget* w, const QString& name);
    void showAndSave(QWidget* w, const QString& name);
    QString m_dir;
    QPixmap* m_bg = nullptr;
    TestEnv* m_env = nullptr; // working directory with ./images for the style sheets
};

void TstWidgetsRender::initTestCase()
{
    QVERIFY(widgettest::initToolkit(1));
    // On the real X server at the panel size, not the offscreen stand-in.
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QCOMPARE(QGuiApplication::primaryScreen()->size(), QSize(1280, 800));
    QCOMPARE(QFontInfo(boxpaint::houseFont(40)).family(), QStringLiteral("WenQuanYi Micro Hei"));
    QCOMPARE(QFontInfo(boxpaint::houseFont(30, "wenquanyi")).family(), QStringLiteral("WenQuanYi Micro Hei"));
    QVERIFY(!TestEnv::buildDir().isEmpty());
    m_dir = TestEnv::buildDir() + "/render";
    m_env = new TestEnv;
    QDir().mkpath(m_dir);
    m_bg = new QPixmap(TestEnv::sourceDir() + "/resources/images/background.png");
    QVERIFY2(!m_bg->isNull(), "background picture missing");
    gpPixmapBG = m_bg;
}

void TstWidgetsRender::cleanupTestCase()
{
    gpPixmapBG = nullptr;
    delete m_bg;
    delete m_env;
}

void TstWidgetsRender::init()
{
    widgettest::resetShared();
    NumberInput::createShared();
    NumCharInput::createShared();
}

void TstWidgetsRender::cleanup()
{
    widgettest::resetShared();
    gLan = 1;
}

void TstWidgetsRender::save(QWidget* w, const QString& name)
{
    const QImage img = w->grab().toImage();
    QVERIFY(!img.isNull());
    // Something was drawn: more than a handful of colours.
    QVERIFY2(widgettest::distinctColours(img) > 8, qPrintable(name));
    const QString path = QStringLiteral("%1/%2_%3.png").arg(m_dir, name, widgettest::lanTag());
    QVERIFY(img.save(path));
}

void TstWidgetsRender::showAndSave(QWidget* w, const QString& name)
{
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    save(w, name);
}

void TstWidgetsRender::renderBoxes_data()
{
    QTest::addColumn<int>("lan");
    QTest::newRow("en") << 1;
    QTest::newRow("zh") << 0;
}

void TstWidgetsRender::renderBoxes()
{
    QFETCH(int, lan);
    gLan = lan;
    {
        WarnBox w(nullptr);
        w.setText(boxpaint::msg(39));
        showAndSave(&w, "warnbox");
    }
    {
        ChooseBox c(nullptr, 750, 370);
        c.setText(boxpaint::msg(234));
        showAndSave(&c, "choosebox");
    }
    {
        ModifyTimeWidget m(nullptr);
        m.editor()->ShowDateTime();
        showAndSave(&m, "modifytimewidget");
    }
    {
        ChooseCaliNumWidget c(nullptr);
        c.setText(boxpaint::msg(370));
        showAndSave(&c, "choosecalinumwidget");
    }
    {
        ProductAlarmWarnBox p(nullptr);
        showAndSave(&p, "productalarmwarnbox");
    }
    {
        LostCameraWarnBox l(nullptr);
        showAndSave(&l, "lostcamerawarnbox");
    }
    {
        PasswordBox b(nullptr);
        showAndSave(&b, "passwordbox");
        b.field()->setText("12");
        b.accept(); // a wrong entry shows its hint
        save(&b, "passwordbox_wrong");
    }
    {
        AlarmPasswordBox a(nullptr);
        showAndSave(&a, "alarmpasswordbox");
    }
    {
        QWidget strip;
        strip.resize(760, 70);
        strip.setStyleSheet("background-color:#101820;");
        int x = 10;
        for (int style : {3, 4, 0}) {
            auto* b = new ColorButton(boxpaint::msg(121), &strip, style);
            b->setGeometry(x, 10, 170, 50);
            x += 180;
        }
        auto* checked = new ColorButton(boxpaint::msg(122), &strip, 3);
        checked->setCheckable(true);
        checked->setChecked(true);
        checked->setGeometry(x, 10, 170, 50);
        showAndSave(&strip, "colorbuttons");
    }
}

void TstWidgetsRender::renderKeypads_data()
{
    renderBoxes_data();
}

void TstWidgetsRender::renderKeypads()
{
    QFETCH(int, lan);
    gLan = lan;
    widgettest::resetShared();
    NumberInput::createShared();
    NumCharInput::createShared();
    QWidget host;
    host.resize(1280, 800);
    host.show();
    host.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&host));
    auto* e = new Edit(5, &host, 1);
    e->setGeometry(20, 20, 200, 50);
    e->show();
    widgettest::touch(e);
    QVERIFY(gpNumPad->isVisible());
    save(gpNumPad, "numberinput");

    auto* pw = new Edit(5, &host, 1);
    pw->setEchoMode(QLineEdit::Password);
    pw->setGeometry(300, 20, 200, 50);
    pw->show();
    widgettest::touch(pw);
    save(gpNumPad, "numberinput_password");
    gpNumPad->hide();

    auto* t = new Edit(6, &host, 1);
    t->setGeometry(20, 400, 200, 50);
    t->show();
    widgettest::touch(t);
    QVERIFY(gpNumCharPad->isVisible());
    save(gpNumCharPad, "numcharinput");
    QTest::mouseClick(gpNumCharPad->key(NumCharInput::CaseKey), Qt::LeftButton);
    save(gpNumCharPad, "numcharinput_upper");
    QTest::mouseClick(gpNumCharPad->key(NumCharInput::PageKey), Qt::LeftButton);
    save(gpNumCharPad, "numcharinput_symbols");
}

void TstWidgetsRender::renderLoginWithPad_data()
{
    renderBoxes_data();
}

void TstWidgetsRender::renderLoginWithPad()
{
    QFETCH(int, lan);
    gLan = lan;
    widgettest::resetShared();
    NumberInput::createShared();
    NumCharInput::createShared();
    // The login box over a panel-sized window, its pad open under the field.
    // A plain dark face by palette: a style sheet here would cascade into
    // the box and paint the password field dark under its black dots.
    QWidget screen;
    screen.resize(1280, 800);
    QPalette pal = screen.palette();
    pal.setColor(QPalette::Window, QColor(0x20, 0x2a, 0x36));
    screen.setPalette(pal);
    screen.setAutoFillBackground(true);
    auto* box = new PasswordBox(&screen);
    gpPasswordBox = box;
    screen.show();
    box->show();
    screen.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&screen));
    widgettest::touch(box->field());
    QVERIFY(gpNumPad->isVisible());
    QTest::mouseClick(gpNumPad->digitKey(0), Qt::LeftButton);
    QTest::mouseClick(gpNumPad->digitKey(1), Qt::LeftButton);
    save(&screen, "login_with_pad");
}

void TstWidgetsRender::renderEditors_data()
{
    renderBoxes_data();
}

void TstWidgetsRender::renderEditors()
{
    QFETCH(int, lan);
    gLan = lan;
    QWidget panel;
    panel.setStyleSheet("QWidget#panel{background-color:#202a36;}");
    panel.setObjectName("panel");
    QPalette pal = panel.palette();
    pal.setColor(QPalette::Window, QColor(0x20, 0x2a, 0x36));
    panel.setPalette(pal);
    panel.setAutoFillBackground(true);
    auto* lay = new QVBoxLayout(&panel);
    auto* box = new EditBox(0, 10000, &panel, boxpaint::msg(219), QStringLiteral("ms"), 0, 1);
    box->setValue(250);
    lay->addWidget(box);
    auto* tenths = new EditBox(0, 100, &panel, boxpaint::msg(164), QString(), 2, 10);
    tenths->setValue(25);
    lay->addWidget(tenths);
    auto* compact = new EditBox(1, 10, &panel, boxpaint::msg(219), QString(), 0, 1);
    compact->setSampleMode();
    compact->setValue(3);
    lay->addWidget(compact);
    auto* ip = new EditIP(QStringLiteral("IP"), 0, &panel);
    ip->setAddress(QStringLiteral("192.168.1.100"));
    lay->addWidget(ip);
    auto* dt = new EditDateTime(boxpaint::msg(401), &panel);
    dt->ShowDateTime();
    lay->addWidget(dt);
    auto* cb = new CheckBox(&panel, boxpaint::msg(122));
    cb->setValue(1);
    lay->addWidget(cb);
    auto* plain = new Edit(6, &panel, 1);
    plain->setText(QStringLiteral("station-01"));
    plain->setFixedSize(300, 50);
    lay->addWidget(plain);
    showAndSave(&panel, "editors");
}

QTEST_MAIN(TstWidgetsRender)
#include "tst_widgets_render.moc"

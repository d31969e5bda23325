// Renders the station's boxes, keypads, editors, splash, sliders, combo boxes
// and dialogs in English and Simplified Chinese to <build>/render/*.png on a
// real X server (Xvfb at the panel's 1280x800): the pictures are for people to
// look at. The few checks here are on what a picture shows that no other test
// can see (a progress bar's fill, a slider's track), not on it being drawn.
#include "frame/globals.h"
#include "testsupport/testenv.h"
#include "widgets/alarmpasswordbox.h"
#include "widgets/boxpaint.h"
#include "widgets/c_type_com.h"
#include "widgets/ccomp_dialogframe.h"
#include "widgets/ccomp_diawait.h"
#include "widgets/checkbox.h"
#include "widgets/choosebox.h"
#include "widgets/choosecalinumwidget.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/edit.h"
#include "widgets/editbox.h"
#include "widgets/editdatetime.h"
#include "widgets/editip.h"
#include "widgets/exportdataselectdlg.h"
#include "widgets/floatslider.h"
#include "widgets/fuzzycombobox.h"
#include "widgets/lostcamerawarnbox.h"
#include "widgets/modifytimewidget.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/passwordbox.h"
#include "widgets/productalarmwarnbox.h"
#include "widgets/sharedpixmaps.h"
#include "widgets/slider.h"
#include "widgets/splashframe.h"
#include "widgets/textshowwidget.h"
#include "widgets/warnbox.h"
#include "widgets_boxes/widgettest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTest>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>
#include <memory>

namespace {
// amber: the filled part of the slider track
bool isAmber(const QColor& c)
{
    return c.red() > 200 && c.green() > 100 && c.green() < 210 && c.blue() < 90;
}
} // namespace

class TstWidgetsRender : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data();
    void initTestCase();
    void init();
    void cleanup();

    void renderBoxes();
    void renderKeypadsAndLogin();
    void renderEditors();
    void renderSplashAndSliders();
    void renderDialogs();

private:
    void save(const QImage& img, const QString& name);
    void save(QWidget* w, const QString& name) { save(w->grab().toImage(), name); }
    void showAndSave(QWidget* w, const QString& name);
    static QImage screenShot();

    QString m_dir;
    std::unique_ptr<TestEnv> m_env; // working directory with ./images for the style sheets
};

// Every picture in English and in Simplified Chinese.
void TstWidgetsRender::initTestCase_data()
{
    QTest::addColumn<int>("lan");
    QTest::newRow("en") << 1;
    QTest::newRow("zh") << 0;
}

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
    QVERIFY(QDir().mkpath(m_dir));
}

void TstWidgetsRender::init()
{
    QFETCH_GLOBAL(int, lan);
    m_env.reset(new TestEnv);
    if (!QFileInfo::exists("images/background.png"))
        QVERIFY(copyTree(TestEnv::sourceDir() + "/resources/images", m_env->workDir() + "/images"));
    SharedPixmaps::load("./images/"); // as the start-up does: background, title, slider pictures
    QCOMPARE(SharedPixmaps::missingCount(), 0);
    widgettest::resetShared();
    gLan = lan;
    widgettest::remakePads();
}

void TstWidgetsRender::cleanup()
{
    widgettest::resetShared();
    m_env.reset();
}

void TstWidgetsRender::save(const QImage& img, const QString& name)
{
    QVERIFY(!img.isNull());
    QVERIFY(img.save(QStringLiteral("%1/%2_%3.png").arg(m_dir, name, widgettest::lanTag())));
}

void TstWidgetsRender::showAndSave(QWidget* w, const QString& name)
{
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    save(w, name);
}

QImage TstWidgetsRender::screenShot()
{
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->grabWindow(0).toImage() : QImage();
}

void TstWidgetsRender::renderBoxes()
{
    const QList<QPair<QString, std::function<QWidget*()>>> boxes = {
        {"warnbox", [] { auto* w = new WarnBox(nullptr); w->setText(boxpaint::msg(39)); return w; }},
        {"choosebox", [] { auto* c = new ChooseBox(nullptr, 750, 370); c->setText(boxpaint::msg(234)); return c; }},
        {"modifytimewidget", [] { auto* m = new ModifyTimeWidget(nullptr); m->editor()->ShowDateTime(); return m; }},
        {"choosecalinumwidget", [] { auto* c = new ChooseCaliNumWidget(nullptr); c->setText(boxpaint::msg(370)); return c; }},
        {"productalarmwarnbox", [] { return new ProductAlarmWarnBox(nullptr); }},
        {"lostcamerawarnbox", [] { return new LostCameraWarnBox(nullptr); }},
        {"alarmpasswordbox", [] { return new AlarmPasswordBox(nullptr); }}};
    for (const auto& b : boxes) {
        std::unique_ptr<QWidget> w(b.second());
        showAndSave(w.get(), b.first);
    }
    {
        PasswordBox b(nullptr);
        showAndSave(&b, "passwordbox");
        b.field()->setText("12");
        b.accept(); // a wrong entry shows its hint
        save(&b, "passwordbox_wrong");
    }
    QWidget strip;
    strip.resize(760, 70);
    strip.setStyleSheet("background-color:#101820;");
    int x = 10;
    for (int style : {3, 4, 0, 3}) {
        auto* b = new ColorButton(boxpaint::msg(x > 500 ? 122 : 121), &strip, style);
        b->setCheckable(x > 500);
        b->setChecked(x > 500);
        b->setGeometry(x, 10, 170, 50);
        x += 180;
    }
    showAndSave(&strip, "colorbuttons");
}

void TstWidgetsRender::renderKeypadsAndLogin()
{
    {
        QWidget host;
        host.resize(1280, 800);
        host.show();
        host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        widgettest::touch(widgettest::shownEdit(&host, 5, QRect(20, 20, 200, 50)));
        QVERIFY(gpNumPad->isVisible());
        save(gpNumPad, "numberinput");

        Edit* pw = widgettest::shownEdit(&host, 5, QRect(300, 20, 200, 50));
        pw->setEchoMode(QLineEdit::Password);
        widgettest::touch(pw);
        save(gpNumPad, "numberinput_password");
        gpNumPad->hide();

        widgettest::touch(widgettest::shownEdit(&host, 6, QRect(20, 400, 200, 50)));
        QVERIFY(gpNumCharPad->isVisible());
        save(gpNumCharPad, "numcharinput");
        QTest::mouseClick(gpNumCharPad->key(NumCharInput::CaseKey), Qt::LeftButton);
        save(gpNumCharPad, "numcharinput_upper");
        QTest::mouseClick(gpNumCharPad->key(NumCharInput::PageKey), Qt::LeftButton);
        save(gpNumCharPad, "numcharinput_symbols");
    }
    widgettest::remakePads();
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

void TstWidgetsRender::renderEditors()
{
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

void TstWidgetsRender::renderSplashAndSliders()
{
    // -- splash at a few steps of the start-up --
    {
        SplashFrame splash;
        auto* progress = splash.findChild<QDialog*>("progressdialog");
        QVERIFY(progress);
        auto shot = [&]() { return progress->grab().toImage().scaled(960, 540, Qt::KeepAspectRatio, Qt::SmoothTransformation); };
        splash.flushstep(0, QString::fromUtf8("启动..."));
        QTRY_VERIFY(progress->isVisible()); // its own frameless window over the splash
        save(shot(), "splash_00");
        splash.flushstep(42, QString::fromUtf8("等待相机开启..."));
        const QImage at42 = shot();
        save(at42, "splash_42");
        splash.flushstep(90, boxpaint::msg(651));
        const QImage at90 = shot();
        save(at90, "splash_90");
        QTest::qWait(100);
        save(screenShot(), "splash_screen");
        // the bar's blue chunk reaches further at 90 than at 42
        auto blueRun = [](const QImage& img) {
            int n = 0;
            for (int y = 0; y < img.height(); y += 2)
                for (int x = 0; x < img.width(); x += 2) {
                    const QColor c = img.pixelColor(x, y);
                    n += (c.blue() > 170 && c.red() < 100 && c.green() > 120) ? 1 : 0;
                }
            return n;
        };
        QVERIFY2(blueRun(at90) > blueRun(at42) && blueRun(at42) > 50,
                 qPrintable(QString("%1 %2").arg(blueRun(at42)).arg(blueRun(at90))));
    }

    // -- sliders: empty, middle, full, and the zoom slider --
    {
        QWidget panel;
        panel.setAttribute(Qt::WA_StyledBackground);
        panel.setStyleSheet("QWidget{background:#1b1f24;}");
        panel.resize(1200, 340);
        Slider s0(0, 255, 1, 0, &panel, boxpaint::msg(164));
        s0.setGeometry(10, 10, 1150, 60);
        Slider s1(0, 255, 1, 128, &panel, boxpaint::msg(165));
        s1.setGeometry(10, 80, 1150, 60);
        Slider s2(0, 100, 1, 100, &panel, boxpaint::msg(680));
        s2.setGeometry(10, 150, 1150, 60);
        FloatSlider zoom(&panel);
        zoom.setFactor(100);
        zoom.setRange(100, 500);
        zoom.setGeometry(10, 230, 600, 50);
        zoom.setValue(2.5f);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const QImage img = panel.grab().toImage();
        save(img, "sliders");
        // the full slider's track is amber to its end, the empty one is not
        const int y1 = 150 + 30, y0 = 10 + 30;
        const int xFull = 10 + s2.fillOffset() + Slider::kTrackX + s2.fillLength() - 20;
        QVERIFY2(isAmber(img.pixelColor(xFull, y1)), qPrintable(img.pixelColor(xFull, y1).name()));
        QVERIFY(!isAmber(img.pixelColor(xFull, y0)));
    }

    // -- combo boxes, with a popup open --
    {
        QWidget panel;
        QPalette pal = panel.palette();
        pal.setColor(QPalette::Window, QColor("#1b1f24"));
        panel.setPalette(pal);
        panel.setAutoFillBackground(true);
        panel.resize(700, 420);
        panel.move(0, 0);
        ComboBox cali(&panel);
        QFont f("wqy-microhei");
        f.setPixelSize(33);
        cali.setFont(f);
        cali.addItems({" 4 ", " 9 ", " 25 "});
        cali.setGeometry(20, 20, 200, 50);
        cali.setItemHeight(50);
        FuzzyComboBox groups(&panel);
        groups.setFont(f);
        groups.setStringList({"default", "Mould_A", QString::fromUtf8("模具_B"), "mould_c"});
        groups.setGeometry(260, 20, 250, 60);
        groups.setItemHeight(60);
        groups.setFilterFixedString("MOULD");
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        for (QComboBox* c : {static_cast<QComboBox*>(&groups), static_cast<QComboBox*>(&cali)}) {
            c->showPopup();
            QTest::qWait(200);
            save(screenShot().copy(0, 0, 700, 420), c == &groups ? "combos" : "combos_cali");
            c->hidePopup();
        }
    }
}

void TstWidgetsRender::renderDialogs()
{
    auto tr2 = [](const char* zh, const char* en) { return gLan == 0 ? QString::fromUtf8(zh) : QString(en); };
    // -- framed dialog of the network settings, with its ping panel --
    {
        CComp_DialogFrame dlg(tr2("网络设置", "Network settings"));
        CComp_DialogFrame::setDefaultWgt(&dlg);
        auto* refresh = new QPushButton(tr2("刷新", "Refresh"));
        CComp_DialogFrame::setStylePushButton(refresh, "#00BCD4", 28);
        refresh->setFixedSize(120, 50);
        dlg.addTitleWgt(refresh);
        auto* grid = new QGridLayout(dlg.body());
        grid->setContentsMargins(20, 20, 20, 20);
        auto* ipLabel = new QLabel(tr2("地址", "Address"));
        auto* ip = new QLineEdit("192.168.1.20");
        CComp_DialogFrame::setStyleLineEdit(ip);
        auto* mode = new QComboBox;
        mode->addItems({"DHCP", tr2("静态", "Static")});
        CComp_DialogFrame::setStyleCombobox(mode, new QStyledItemDelegate(mode));
        auto* box = new QCheckBox(tr2("启用", "Enabled"));
        box->setChecked(true);
        auto* text = new TextShowWidget(dlg.body());
        text->textView()->setPlainText("PING 192.168.1.1 56(84) bytes of data.\n64 bytes from 192.168.1.1: icmp_seq=1 ttl=64 time=0.41 ms");
        grid->addWidget(ipLabel, 0, 0);
        grid->addWidget(ip, 0, 1);
        grid->addWidget(mode, 1, 1);
        grid->addWidget(box, 2, 1);
        grid->addWidget(text, 3, 0, 1, 2);
        dlg.resize(1000, 800);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        save(&dlg, "dialogframe");
    }

    // -- the background wait's spinner on a screen --
    {
        QWidget back;
        back.setAttribute(Qt::WA_StyledBackground);
        back.setStyleSheet("QWidget{background:#1b1f24;}");
        back.setGeometry(0, 0, 300, 200);
        back.show();
        QVERIFY(QTest::qWaitForWindowExposed(&back));
        QImage shot;
        CComp_DiaWait wait([]() { QThread::msleep(800); });
        QTimer::singleShot(500, &wait, [&]() {
            wait.move(back.mapToGlobal(QPoint(118, 68)));
            shot = screenShot().copy(0, 0, 300, 200);
        });
        QTimer::singleShot(5000, &wait, &QDialog::reject);
        QCOMPARE(wait.exec(), int(QDialog::Accepted));
        save(shot, "diawait");
    }

    // -- export selection --
    {
        const QStringList items{QString::fromUtf8("测试图"), QString::fromUtf8("模板图"), QString::fromUtf8("OK警报图"),
                                QString::fromUtf8("NG警报图"), QString::fromUtf8("操作记录"), QString::fromUtf8("日志")};
        ExportDataSelectDlg dlg(items, QString::fromUtf8("全部文件"));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.itemBoxes()[1]->click();
        dlg.itemBoxes()[3]->click();
        save(&dlg, "exportselect");
    }
}

QTEST_MAIN(TstWidgetsRender)
#include "tst_widgets_render.moc"

// Renders the second half of the touch toolkit on a real X server so the
// house look can be checked by eye: pictures go to <build>/render/.
#include "frame/globals.h"
#include "testsupport/testenv.h"
#include "widgets/boxpaint.h"
#include "widgets/c_type_com.h"
#include "widgets/ccomp_dialogframe.h"
#include "widgets/ccomp_diawait.h"
#include "widgets/combobox.h"
#include "widgets/checkbox.h"
#include "widgets/exportdataselectdlg.h"
#include "widgets/floatslider.h"
#include "widgets/fuzzycombobox.h"
#include "widgets/sharedpixmaps.h"
#include "widgets/slider.h"
#include "widgets/splashframe.h"
#include "widgets/textshowwidget.h"
#include "widgets_boxes/widgettest.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTest>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

namespace {

// amber: the filled part of the slider track
bool isAmber(const QColor& c)
{
    return c.red() > 200 && c.green() > 100 && c.green() < 210 && c.blue() < 90;
}

} // namespace

class TstWidgetsRender2 : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnv> env;
    QString outDir;

    QString save(const QImage& img, const QString& name)
    {
        const QString path = outDir + "/" + name + "_" + widgettest::lanTag() + ".png";
        if (!img.save(path))
            return QString();
        return path;
    }

    QImage screenShot()
    {
        QScreen* s = QGuiApplication::primaryScreen();
        return s ? s->grabWindow(0).toImage() : QImage();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(widgettest::initToolkit(1));
        const QString build = TestEnv::buildDir();
        QVERIFY(!build.isEmpty());
        outDir = build + "/render";
        QVERIFY(QDir().mkpath(outDir));
    }

    void init()
    {
        env.reset(new TestEnv);
        if (!QFileInfo::exists("images/background.png"))
            QVERIFY(copyTree(TestEnv::sourceDir() + "/resources/images", env->workDir() + "/images"));
        SharedPixmaps::load("./images/");
        QCOMPARE(SharedPixmaps::missingCount(), 0);
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            gShowW = s->geometry().width();
            gShowH = s->geometry().height();
        }
    }

    void cleanup()
    {
        env.reset();
        gLan = 1;
    }

    void render_data()
    {
        QTest::addColumn<int>("lan");
        QTest::newRow("english") << 1;
        QTest::newRow("chinese") << 0;
    }

    void render()
    {
        QFETCH(int, lan);
        gLan = lan;

        // -- splash at a few steps of the start-up --
        {
            SplashFrame splash;
            auto* progress = splash.findChild<QDialog*>("progressdialog");
            QVERIFY(progress);
            auto shot = [&]() { return progress->grab().toImage().scaled(960, 540, Qt::KeepAspectRatio, Qt::SmoothTransformation); };
            splash.flushstep(0, QString::fromUtf8("启动..."));
            QTRY_VERIFY(progress->isVisible()); // its own frameless window over the splash
            QVERIFY(!save(shot(), "splash_00").isEmpty());
            splash.flushstep(42, QString::fromUtf8("等待相机开启..."));
            const QImage at42 = shot();
            QVERIFY(!save(at42, "splash_42").isEmpty());
            splash.flushstep(90, boxpaint::msg(651));
            const QImage at90 = shot();
            QVERIFY(!save(at90, "splash_90").isEmpty());
            QTest::qWait(100);
            QVERIFY(!save(screenShot(), "splash_screen").isEmpty());
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
            QVERIFY(widgettest::distinctColours(at90) > 20);
            splash.flushstep(100, boxpaint::msg(652));
            QVERIFY(!splash.progressOpen());
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
            QVERIFY(!save(img, "sliders").isEmpty());
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
            groups.showPopup();
            QTest::qWait(200);
            const QImage shot = screenShot().copy(0, 0, 700, 420);
            QVERIFY(!save(shot, "combos").isEmpty());
            QVERIFY(widgettest::distinctColours(shot) > 5);
            groups.hidePopup();
            cali.showPopup();
            QTest::qWait(200);
            QVERIFY(!save(screenShot().copy(0, 0, 700, 420), "combos_cali").isEmpty());
            cali.hidePopup();
        }

        // -- framed dialog of the network settings, with its ping panel --
        {
            CComp_DialogFrame dlg(gLan == 0 ? QString::fromUtf8("网络设置") : QStringLiteral("Network settings"));
            CComp_DialogFrame::setDefaultWgt(&dlg);
            auto* refresh = new QPushButton(gLan == 0 ? QString::fromUtf8("刷新") : QStringLiteral("Refresh"));
            CComp_DialogFrame::setStylePushButton(refresh, "#00BCD4", 28);
            refresh->setFixedSize(120, 50);
            dlg.addTitleWgt(refresh);
            auto* grid = new QGridLayout(dlg.body());
            grid->setContentsMargins(20, 20, 20, 20);
            auto* ipLabel = new QLabel(gLan == 0 ? QString::fromUtf8("地址") : QStringLiteral("Address"));
            auto* ip = new QLineEdit("192.168.1.20");
            CComp_DialogFrame::setStyleLineEdit(ip);
            auto* mode = new QComboBox;
            mode->addItems({"DHCP", gLan == 0 ? QString::fromUtf8("静态") : QStringLiteral("Static")});
            CComp_DialogFrame::setStyleCombobox(mode, new QStyledItemDelegate(mode));
            auto* box = new QCheckBox(gLan == 0 ? QString::fromUtf8("启用") : QStringLiteral("Enabled"));
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
            const QImage img = dlg.grab().toImage();
            QVERIFY(!save(img, "dialogframe").isEmpty());
            // grey body, title bar darker
            QVERIFY(img.pixelColor(500, 30).lightness() < img.pixelColor(990, 790).lightness() + 10);
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
            QVERIFY(!shot.isNull());
            QVERIFY(!save(shot, "diawait").isEmpty());
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
            QCOMPARE(dlg.selectAllBox()->checkState(), Qt::PartiallyChecked);
            const QImage img = dlg.grab().toImage();
            QVERIFY(!save(img, "exportselect").isEmpty());
            QVERIFY(widgettest::distinctColours(img) > 20);
        }
    }
};

QTEST_MAIN(TstWidgetsRender2)
#include "tst_widgets_render2.moc"

// Draws the I/O page (mode 3, five steps, exclusions), the names dialog and
// the records page in English and Simplified Chinese on a real X server at
// the screen size it runs on, into <build>/render/, and checks that every
// control of the page lies on the screen.
#include "controller/ui/customionamewidget.h"
#include "controller/ui/iocheckcombo.h"
#include "controller/ui/iowidget.h"
#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "settings/ui/recordspage.h"
#include "testsupport/testenv.h"
#include "widgets/checkbox.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets_boxes/widgettest.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

class TstIOPageRender : public QObject
{
    Q_OBJECT
    QString m_dir;
    QPixmap* m_bg = nullptr;

    void save(QWidget* w, const QString& name)
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w->window()));
        QTest::qWait(50);
        const QImage img = w->window()->grab().toImage();
        const QString file = QStringLiteral("%1/%2_%3x%4_%5.png")
                                 .arg(m_dir, name)
                                 .arg(gShowW)
                                 .arg(gShowH)
                                 .arg(widgettest::lanTag());
        QVERIFY(img.save(file));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(widgettest::initToolkit(1));
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_dir = TestEnv::buildDir() + "/render";
        QDir().mkpath(m_dir);
        m_bg = new QPixmap(TestEnv::sourceDir() + "/resources/images/background.png");
        gpPixmapBG = m_bg;
    }
    void cleanupTestCase()
    {
        gpPixmapBG = nullptr;
        delete m_bg;
    }

    void render_data()
    {
        QTest::addColumn<int>("lan");
        QTest::newRow("en") << 1;
        QTest::newRow("zh") << 0;
    }
    void render()
    {
        QFETCH(int, lan);
        TestEnv env; // with a plain main window state
        gLan = lan;
        const QSize screen = QGuiApplication::primaryScreen()->size();
        gShowW = screen.width();
        gShowH = screen.height();
        gpWPara = new WizardPara;
        gpWPara->systemMode = gpWPara->systemModeSet = 3;
        gpWPara->multiDetectNum = 5;
        const int groups[8] = {0, 0, 1, 2, 2, -1, -1, -1};
        for (int k = 0; k < 8; ++k) {
            gpWPara->multiOutDetect[k] = groups[k];
            gpWPara->customInName[k] = k;
            gpWPara->customOutName[k] = k;
            gpWPara->multiTrigIn[k] = k < 3 ? k : 2;
        }
        gpWParaBak = new WizardPara(*gpWPara);

        QWidget window;
        window.setGeometry(0, 0, gShowW, gShowH);
        window.setWindowFlags(Qt::FramelessWindowHint);
        IOWidget page(&window);
        window.show();
        page.show();
        // Everything on screen and reachable.
        const QRect onScreen(0, 0, gShowW, gShowH);
        const auto reachable = [&](QWidget* w) {
            return onScreen.contains(QRect(w->mapTo(&window, QPoint(0, 0)), w->size()));
        };
        QVERIFY(onScreen.contains(page.geometry()));
        for (QWidget* w : QList<QWidget*>{page.confirmButton(), page.resetButton(), page.row(4)->box(4)})
            QVERIFY2(reachable(w), qPrintable(w->objectName()));
        save(&page, "iopage");
        // With eight steps the last row's cut chooser still lies on the screen.
        page.countChooser()->setCurrentIndex(6);
        QVERIFY(reachable(page.row(7)->cutChooser()));
        page.hide(); // the settings window hides itself for the dialog

        CustomIONameWidget names(&window, &page);
        names.init();
        names.hide();
        names.show();
        QVERIFY(onScreen.contains(names.geometry()));
        save(&names, "ionames");
        names.hide();

        OperationRecords* j = OperationRecords::instance();
        j->runStartup(2);
        gpWin->loginLevel = 2;
        gpWin->InsertRecord(QString::fromUtf8("参数设置: 延时 1 -> 2"), "set");
        gpWin->InsertRecord("Start Detection", "operate");
        RecordsPage records(&window);
        records.setGeometry(40, 40, gShowW - 80, gShowH - 80);
        save(&records, "records");
        j->close();
    }
};

QTEST_MAIN(TstIOPageRender)
#include "tst_iopage_render.moc"

// Every page of the settings window over the real main window, in English and
// Simplified Chinese, on a real X server at the screen size it runs on: each
// control lies on the screen, apart from the others, and is what a touch on
// its middle reaches (nothing of the main window drawn over it). Pictures go
// to STATION_RENDER_DIR when it names a folder.
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "settings/settingsrig.h"
#include "settings/ui/wizardparawidget.h"
#include "testsupport/testenv.h"
#include "widgets/colorbutton.h"
#include "widgets_boxes/widgettest.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

class TstSettingsRender : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(widgettest::initToolkit(1));
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }
    void pages_data()
    {
        QTest::addColumn<int>("lan");
        QTest::newRow("en") << 1;
        QTest::newRow("zh") << 0;
    }
    void pages();
};

void TstSettingsRender::pages()
{
    QFETCH(int, lan);
    QPixmap bg(TestEnv::sourceDir() + "/resources/images/background.png");
    SettingsRig rig(lan);
    gpPixmapBG = &bg;
    const QSize screen = QGuiApplication::primaryScreen()->size();
    QCOMPARE(QSize(gShowW, gShowH), screen);
    WizardParaWidget* s = rig.win->settingsWindow;
    rig.openSettings();
    const QString dir = qEnvironmentVariable("STATION_RENDER_DIR");
    for (int page = 0; page < WizardParaWidget::PageCount; ++page) {
        rig.click(s->tabs[page]);
        QTest::qWait(30);
        QList<QWidget*> shown;
        for (QWidget* c : s->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (c->isVisible())
                shown << c;
        for (QWidget* c : shown) {
            const QString name = QStringLiteral("page %1 %2 %3").arg(page).arg(c->metaObject()->className(),
                                                                           c->property("text").toString());
            QVERIFY2(QRect(QPoint(), screen).contains(c->geometry()), qPrintable(name));
            for (QWidget* other : shown)
                QVERIFY2(other == c || !other->geometry().intersects(c->geometry()),
                         qPrintable(name + " under " + other->metaObject()->className()));
            // A touch on the middle reaches the control itself.
            QWidget* hit = rig.win->childAt(s->mapTo(rig.win, c->geometry().center()));
            QVERIFY2(hit && (hit == c || c->isAncestorOf(hit)),
                     qPrintable(name + " covered by " + (hit ? hit->metaObject()->className() : "nothing")));
        }
        if (!dir.isEmpty())
            QVERIFY(rig.win->grab().save(QStringLiteral("%1/settings_page%2_%3x%4_%5.png")
                                             .arg(dir)
                                             .arg(page)
                                             .arg(gShowW)
                                             .arg(gShowH)
                                             .arg(widgettest::lanTag())));
    }
    gpPixmapBG = nullptr;
}

QTEST_MAIN(TstSettingsRender)
#include "tst_settings_render.moc"

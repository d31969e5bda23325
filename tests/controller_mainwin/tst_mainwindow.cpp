// The real main window on simulated cameras: who may open what, and how the
// camera views share the screen for every camera count.
#include "controller/indexbutton.h"
#include "controller/iostatuswidget.h"
#include "controller/redowizard.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "inspection/cammerwidget.h"
#include "inspection/drawroiwidget.h"
#include "settings/wizardparawidget.h"
#include "testsupport/modalanswer.h"
#include "testsupport/testenv.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"
#include "widgets/numberinput.h"
#include "widgets/passwordbox.h"
#include "widgets/sharedpixmaps.h"
#include "widgets_boxes/widgettest.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QTimer>
#include <QTest>
#include <cstring>
#include <memory>

namespace {
// Answers the next login box: types `digits` on the shared pad and submits,
// or cancels when `digits` is empty. `seen` counts the boxes answered.
void answerLogin(const QString& digits, int* seen = nullptr, int timeoutMs = 5000)
{
    answerWhenFound([] { return gpPasswordBox && gpPasswordBox->isVisible() ? gpPasswordBox : nullptr; },
                    [digits, seen](QWidget*) {
                        if (seen)
                            ++*seen;
                        if (!digits.isEmpty()) {
                            widgettest::touch(gpPasswordBox->field());
                            widgettest::typeOnPad(digits);
                            QTest::mouseClick(gpNumPad->okKey(), Qt::LeftButton);
                        }
                        if (gpPasswordBox->isVisible())
                            QTest::mouseClick(gpPasswordBox->cancelButton(), Qt::LeftButton);
                    },
                    timeoutMs);
}
// The camera plug-in reads its configuration once per process: each camera
// count gets a process of its own running one case of this program.
bool inChild()
{
    return qEnvironmentVariableIsSet("MAINWINDOW_CHILD");
}

void runInChild(const QString& caseAndTag, const QStringList& extraEnv = {})
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MAINWINDOW_CHILD", "1");
    for (const QString& kv : extraEnv)
        env.insert(kv.section('=', 0, 0), kv.section('=', 1));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {caseAndTag});
    QVERIFY(child.waitForFinished(120000));
    const QByteArray out = child.readAll();
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, out.right(3000).constData());
    QVERIFY2(out.contains("Totals: 3 passed, 0 failed"), out.right(3000).constData());
}
} // namespace

class TstMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(widgettest::initToolkit(1)); }
    void cleanup();
    void loginGatesTheOpeningSlots();
    void cameraGrids_data();
    void cameraGrids();
    void renderMainWindow_data();
    void renderMainWindow();

private:
    void build(int cameras, int lan = 1);
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<QTemporaryFile> m_cfg;
    ReDoWizard* m_win = nullptr;
};

void TstMainWindow::build(int cameras, int lan)
{
    m_cfg = std::make_unique<QTemporaryFile>();
    QVERIFY(m_cfg->open());
    m_cfg->write(QStringLiteral(R"({"count": %1, "width": 320, "height": 256})").arg(cameras).toUtf8());
    m_cfg->flush();
    qputenv("STATION_SIMCAMERA_CONFIG", m_cfg->fileName().toLocal8Bit());
    m_env = std::make_unique<TestEnv>();
    if (lan != 0) { // the station takes its language from the stored set (13th value of system2)
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "lan");
            db.setDatabaseName("PARAM.db");
            QVERIFY(db.open());
            QSqlQuery q("select value from sysparam where name = 'system2'", db);
            QVERIFY(q.next());
            QStringList v = q.value(0).toString().split(' ');
            QVERIFY(v.size() > 12);
            v[12] = QString::number(lan);
            QSqlQuery u(db);
            u.prepare("update sysparam set value = ? where name = 'system2'");
            u.addBindValue(v.join(' '));
            QVERIFY(u.exec());
        }
        QSqlDatabase::removeDatabase("lan");
    }
    widgettest::resetShared();
    gLan = lan;
    m_win = new ReDoWizard(nullptr);
    m_win->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_win));
}

void TstMainWindow::cleanup()
{
    delete m_win;
    m_win = nullptr;
    widgettest::resetShared();
    m_env.reset();
    m_cfg.reset();
    qunsetenv("STATION_SIMCAMERA_CONFIG");
}

void TstMainWindow::loginGatesTheOpeningSlots()
{
    build(2);
    ReDoWizard& w = *m_win;
    gpWPara->isPswUsed = 1;
    std::strcpy(gpWPara->password, "2468");
    const auto editorOpen = [&] { return w.roiPanel->isVisible(); };

    // The factory login opens the settings window as an operator, on a copy
    // of the live set.
    w.loginLevel = 2;
    gpWParaBak->tempNum = gpWPara->tempNum + 3;
    w.SlotSystemPara();
    QCOMPARE(w.loginLevel, 1);
    QVERIFY(w.settingsWindow->isVisible());
    QVERIFY(*gpWParaBak == *gpWPara);
    // Nothing else opens over it.
    w.SlotAdjustArea();
    w.SlotShowAlarmImgae();
    QVERIFY(!editorOpen());
    QCOMPARE(w.detectState, 0);
    w.settingsWindow->hide();

    // The logout timer ends the login.
    w.logoutTimer->start(30000);
    w.TimerLogout();
    QCOMPARE(w.loginLevel, 0);
    QVERIFY(!w.logoutTimer->isActive());

    // Without a login the editor stays shut when the box is cancelled; the
    // settings window's way in also stops detecting.
    int boxes = 0;
    answerLogin(QString(), &boxes);
    w.SlotAdjustArea();
    QCOMPARE(boxes, 1);
    QVERIFY(!editorOpen());
    QCOMPARE(w.detectState, 0);
    w.runState = 3;
    w.settingsWindow->show();
    answerLogin(QString(), &boxes);
    w.CheckArea();
    QCOMPARE(boxes, 2);
    QCOMPARE(w.runState, 1);
    QVERIFY(!w.settingsWindow->isVisible());
    QVERIFY(!editorOpen());

    // In the NG alarm nothing opens and no box asks.
    w.detectState = 2;
    answerLogin(QString(), &boxes, 300);
    w.SlotSystemPara();
    w.SlotAdjustArea();
    w.SlotShowAlarmImgae();
    QTest::qWait(350);
    QCOMPARE(boxes, 2);
    QVERIFY(!editorOpen() && !w.settingsWindow->isVisible());
    QCOMPARE(w.detectState, 2);

    // The operator's password opens the editor.
    w.detectState = 0;
    answerLogin(QStringLiteral("2468"), &boxes);
    w.SlotAdjustArea();
    QCOMPARE(w.loginLevel, 1);
    QVERIFY(editorOpen());
    QCOMPARE(w.detectState, 3);
    QVERIFY(!w.statusStrip->isVisible());
    w.roiPanel->hide();
    w.detectState = 0;

    // Passwords off: the factory code still reaches level 2, and the
    // settings window drops it to nobody.
    gpWPara->isPswUsed = 0;
    w.loginLevel = 0;
    answerLogin(QStringLiteral("7394"), &boxes);
    QVERIFY(w.CheckRoot());
    QCOMPARE(w.loginLevel, 2);
    w.SlotSystemPara();
    QCOMPARE(w.loginLevel, 0);
    QVERIFY(w.settingsWindow->isVisible());
    QVERIFY(*gpWParaBak == *gpWPara);
}

void TstMainWindow::cameraGrids_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<int>("views");
    QTest::addColumn<int>("cols");
    QTest::addColumn<int>("rows");
    QTest::newRow("1") << 1 << 1 << 1 << 1;
    QTest::newRow("2") << 2 << 2 << 2 << 1;
    QTest::newRow("3") << 3 << 3 << 2 << 2;
    QTest::newRow("5") << 5 << 5 << 3 << 2;
    QTest::newRow("7") << 7 << 7 << 4 << 2;
    QTest::newRow("8") << 8 << 8 << 4 << 2;
    QTest::newRow("9") << 9 << 8 << 4 << 2;
}

void TstMainWindow::cameraGrids()
{
    QFETCH(int, cameras);
    QFETCH(int, views);
    QFETCH(int, cols);
    QFETCH(int, rows);
    // The camera plug-in reads its configuration once per process: each
    // camera count gets a process of its own running this very case.
    if (!inChild()) {
        runInChild(QStringLiteral("cameraGrids:") + QTest::currentDataTag());
        return;
    }
    build(cameras);
    ReDoWizard& w = *m_win;
    QCOMPARE(numCamera, views);
    QCOMPARE(w.curCamera, views == 1 ? 0 : views);
    const int W = gShowW, H = gShowH;
    const int cw = W / cols, ch = H / rows;
    for (int c = 0; c < 8; ++c) {
        QCOMPARE(w.views[c] != nullptr, c < views);
        if (c < views) {
            QVERIFY(w.views[c]->isVisible());
            QCOMPARE(w.views[c]->geometry(), QRect((c % cols) * cw, (c / cols) * ch, cw, ch));
        }
    }
    if (views == 1)
        return;
    // One camera of several shown alone fills the screen; Return shows all.
    w.curCamera = 1;
    w.ChangeCammer();
    QCOMPARE(w.views[1]->geometry(), QRect(0, 0, W, H));
    QVERIFY(w.views[1]->isVisible() && !w.views[0]->isVisible());
    w.SlotReturn();
    QCOMPARE(w.curCamera, views);
    QVERIFY(w.views[0]->isVisible());
    QCOMPARE(w.views[views - 1]->geometry(), QRect(((views - 1) % cols) * cw, ((views - 1) / cols) * ch, cw, ch));
}

void TstMainWindow::renderMainWindow_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<int>("lan");
    for (int cameras : {2, 8})
        for (int lan : {1, 0})
            QTest::addRow("%dcams_%s", cameras, lan ? "en" : "zh") << cameras << lan;
}

// The whole window as the operator sees it on a 1280x800 panel, drawn by a
// real X server (the offscreen screen has a fixed size).
void TstMainWindow::renderMainWindow()
{
    QFETCH(int, cameras);
    QFETCH(int, lan);
    if (!inChild()) {
        QProcess xvfb;
        xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        if (!xvfb.waitForStarted(5000))
            QSKIP("no Xvfb on this machine");
        QVERIFY(xvfb.waitForReadyRead(10000));
        const QString display = QString::fromLatin1(xvfb.readAllStandardOutput()).trimmed();
        runInChild(QStringLiteral("renderMainWindow:") + QTest::currentDataTag(),
                   {"QT_QPA_PLATFORM=xcb", "QT_QPA_PLATFORM_PLUGIN_PATH=", "DISPLAY=:" + display});
        xvfb.terminate();
        xvfb.waitForFinished(5000);
        return;
    }
    QVERIFY(widgettest::initToolkit(lan));
    build(cameras, lan);
    SharedPixmaps::load(QStringLiteral("./images/")); // lamps and pictures, as the start-up loads them
    m_win->update();
    QCOMPARE(gLan, lan);
    QCOMPARE(QSize(gShowW, gShowH), QSize(1280, 800));
    QCOMPARE(numCamera, cameras);
    // Nothing the operator reads is cut off at the screen's edges.
    for (QWidget* c : m_win->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (c->isVisible())
            QVERIFY2(m_win->rect().contains(c->geometry()), qPrintable(c->metaObject()->className()));
    QTest::qWait(300); // a few live frames
    const QString dir = TestEnv::buildDir() + "/render";
    QDir().mkpath(dir);
    QVERIFY(m_win->grab().save(QStringLiteral("%1/mainwindow_%2.png").arg(dir, QTest::currentDataTag())));
}

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"

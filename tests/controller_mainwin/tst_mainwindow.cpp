// The real main window on simulated cameras: who may open what, how it
// starts for each machine mode, how the camera views share the screen for
// every camera count, and its small reactions (zoom, export label, drives,
// heartbeat).
#include "controller/ui/customionamewidget.h"
#include "controller/ui/indexbutton.h"
#include "controller/ui/iostatuswidget.h"
#include "controller/machinecycle.h"
#include "controller/operationrecords.h"
#include "controller/ui/redowizard.h"
#include "controller/ui/windowcyclehooks.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/cameramanager.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "platform/leddevice.h"
#include "records/copy2movedisk.h"
#include "records/ui/statisticswidget.h"
#include "settings/ui/wizardparawidget.h"
#include "testsupport/finger.h"
#include "testsupport/modalanswer.h"
#include "testsupport/testenv.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/edit.h"
#include "widgets/floatslider.h"
#include "widgets/numberinput.h"
#include "widgets/passwordbox.h"
#include "widgets/sharedpixmaps.h"
#include "widgets/warnbox.h"
#include "widgets_boxes/widgettest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
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
                            finger::tap(gpPasswordBox->field());
                            finger::typeDigits(digits);
                            finger::tap(gpNumPad->okKey());
                        }
                        if (gpPasswordBox->isVisible())
                            finger::tap(gpPasswordBox->cancelButton());
                    },
                    timeoutMs);
}
// The camera plug-in reads its configuration once per process: each camera
// count gets a process of its own running one case of this program.
bool inChild()
{
    return qEnvironmentVariableIsSet("MAINWINDOW_CHILD");
}
// A touch on a camera view brings the side bar; then its button.
void sideBarButton(ReDoWizard& w, QWidget* button)
{
    QVERIFY(finger::tap(w.views[0]));
    QVERIFY(finger::tap(button));
}

// The shown views' top lines in an NG's countdown with long counters, each
// whole in the width `free` gives (screen pixels from the view's left), none
// on another and, when `uncut`, none cut short: the texts that are not.
QStringList headerClashes(const std::function<int(CammerWidget*)>& free, bool uncut)
{
    gpWin->delayActive[0] = true;
    gpWin->delaySeconds[0] = 2.5f;
    std::fill_n(gFailCycleNum, 8, 123456);
    std::fill_n(gAllCycleNum, 8, 1234567);
    QStringList clash;
    for (CammerWidget* v : static_cast<ReDoWizard*>(gpWin)->views) {
        if (!v || !v->isVisible())
            continue;
        const QRectF room(0, 0, free(v) / v->winScaleX, v->height() / v->winScaleY);
        QVector<QRectF> boxes;
        for (const CammerWidget::OverlayText& t : v->liveHeader()) {
            QFont f(QStringLiteral("wqy-microhei"));
            f.setPixelSize(t.px);
            const QFontMetrics fm(f);
            const QRectF box(t.at.x(), t.at.y() - fm.ascent(), fm.horizontalAdvance(t.text), fm.height());
            const auto on = [&box](const QRectF& other) { return other.intersects(box); };
            const bool cut = uncut && t.text.contains(QChar(0x2026));
            if (!room.contains(box) || cut || std::any_of(boxes.begin(), boxes.end(), on))
                clash << QString("camera %1 \"%2\"").arg(v->cameraIndex + 1).arg(t.text);
            boxes << box;
        }
    }
    gpWin->delayActive[0] = false;
    std::fill_n(gFailCycleNum, 8, 0);
    std::fill_n(gAllCycleNum, 8, 0);
    return clash;
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
    QVERIFY2(out.contains(", 0 failed") && out.contains("Totals: 3 passed"), out.right(3000).constData());
}
} // namespace

class TstMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(widgettest::initToolkit(1)); }
    void cleanup();
    void loginGatesTheOpeningSlots();
    void startDetectionByMode_data();
    void startDetectionByMode();
    void zoomExportLabelDrivesAndHeartbeat();
    void cameraGrids_data();
    void cameraGrids();
    void renderMainWindow_data();
    void renderMainWindow();

private:
    struct Stored {
        QString key;
        int index;
        int value;
    };
    void build(int cameras, int lan = 1, const QList<Stored>& stored = {}, int failing = -1);
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<QTemporaryFile> m_cfg;
    ReDoWizard* m_win = nullptr;
};

void TstMainWindow::build(int cameras, int lan, const QList<Stored>& stored, int failing)
{
    m_cfg = std::make_unique<QTemporaryFile>();
    QVERIFY(m_cfg->open());
    QJsonArray list;
    for (int c = 0; c < cameras; ++c)
        list.append(QJsonObject{{"openFails", c == failing}});
    m_cfg->write(QJsonDocument(QJsonObject{{"cameras", list}, {"width", 320}, {"height", 256}}).toJson());
    m_cfg->flush();
    qputenv("STATION_SIMCAMERA_CONFIG", m_cfg->fileName().toLocal8Bit());
    m_env = std::make_unique<TestEnv>();
    {
        // The station takes its language (13th value of system2) and its
        // modes from the stored set.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "stored");
        db.setDatabaseName("PARAM.db");
        QVERIFY(db.open());
        for (const Stored& v : QList<Stored>{{"system2", 12, lan}} + stored) {
            QSqlQuery q(db);
            QVERIFY(q.exec(QString("select value from sysparam where name = '%1'").arg(v.key)) && q.next());
            QStringList values = q.value(0).toString().split(' ');
            QVERIFY(values.size() > v.index);
            values[v.index] = QString::number(v.value);
            QVERIFY(q.exec(QString("update sysparam set value = '%1' where name = '%2'")
                               .arg(values.join(' '), v.key)));
        }
    }
    QSqlDatabase::removeDatabase("stored");
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
    sideBarButton(w, w.sideBar->systemPara);
    QCOMPARE(w.loginLevel, 1);
    QVERIFY(w.settingsWindow->isVisible());
    QVERIFY(*gpWParaBak == *gpWPara);
    // Nothing else opens over it.
    w.SlotAdjustArea();
    w.SlotShowAlarmImgae();
    QVERIFY(!editorOpen());
    QCOMPARE(w.detectState, 0);
    QVERIFY(finger::tap(w.settingsWindow->cancelButton));
    QVERIFY(!w.settingsWindow->isVisible());

    // The logout timer ends the login.
    w.logoutTimer->start(30000);
    w.TimerLogout();
    QCOMPARE(w.loginLevel, 0);
    QVERIFY(!w.logoutTimer->isActive());

    // Without a login the editor stays shut when the box is cancelled; the
    // settings window's way in also stops detecting.
    int boxes = 0;
    answerLogin(QString(), &boxes);
    sideBarButton(w, w.sideBar->regionSettings);
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
    sideBarButton(w, w.sideBar->regionSettings);
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
    sideBarButton(w, w.sideBar->systemPara);
    QCOMPARE(w.loginLevel, 0);
    QVERIFY(w.settingsWindow->isVisible());
    QVERIFY(*gpWParaBak == *gpWPara);
    answerLogin(QStringLiteral("7394"), &boxes); // the names dialog wants the factory login
    QVERIFY(finger::tap(w.settingsWindow->tabs[WizardParaWidget::AdvancedPage]));
    QVERIFY(finger::tap(w.settingsWindow->namesButton)); // the names dialog's Confirm returns to it
    QVERIFY(w.customNames->isVisible());
    QVERIFY(finger::tap(w.customNames->confirmButton()));
    QVERIFY(w.settingsWindow->isVisible() && !w.customNames->isVisible());
}

void TstMainWindow::startDetectionByMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("prod");      // product detection on
    QTest::addColumn<int>("right");     // left/right choice of modes 1 and 2
    QTest::addColumn<int>("screenOff"); // seconds, 0 = never
    QTest::addColumn<int>("detect");
    QTest::newRow("standard, product on") << 0 << 1 << 0 << 0 << 0;
    QTest::newRow("standard, product off") << 0 << 0 << 0 << 45 << 1;
    QTest::newRow("two-colour, right, product off") << 1 << 0 << 1 << 0 << 3;
    QTest::newRow("turntable, right, product on") << 2 << 1 << 1 << 0 << 2;
    QTest::newRow("multi-detection, 5 steps") << 3 << 1 << 0 << 0 << 0;
}

void TstMainWindow::startDetectionByMode()
{
    QFETCH(int, mode);
    QFETCH(int, prod);
    QFETCH(int, right);
    QFETCH(int, screenOff);
    QFETCH(int, detect);
    build(2, 1,
          {{"numFailDetect", 0, mode}, {"numFailDetect", 1, right}, {"system1", 1, prod},
           {"system2", 15, screenOff}, {"system8", 0, 5}});
    QCOMPARE(m_win->curDetect, detect);
    // The multi-detection sequence starts as if its last step had just ended.
    if (mode == 3)
        QCOMPARE(m_win->machineCycle()->sequenceStep(), 4);
    QCOMPARE(m_win->screenOffTimer->isActive() ? m_win->screenOffTimer->interval() : 0, screenOff * 1000);
}

void TstMainWindow::zoomExportLabelDrivesAndHeartbeat()
{
    build(2);
    ReDoWizard& w = *m_win;
    QVERIFY(w.modbus);
    // Zoom on one camera shown alone: the image pixel under the finger stays
    // under it whatever the slider says.
    w.curCamera = 0;
    w.ChangeCammer();
    CammerWidget* v = w.views[0];
    const auto pixelAt = [&](int x, int y) {
        v->MUpdateXYV(x, y);
        return QPoint(w.readoutX, w.readoutY);
    };
    const QPoint under = pixelAt(400, 300);
    w.updateMScale(400, 300);
    w.zoomSlider->setValue(2.0f);
    QCOMPARE(w.zoomFactor, 2.0);
    QCOMPARE(pixelAt(400, 300), under);
    w.MScale(3.5f);
    QCOMPARE(pixelAt(400, 300), under);
    // A drag while zoomed takes the picture along.
    w.updateMScale(440, 260);
    QCOMPARE(pixelAt(440, 260), under);
    w.SlotReturn();
    QCOMPARE(w.zoomFactor, 1.0);

    // The export label follows both exports; the percentage is truncated
    // and may pass 100.
    StatisticsWidget* stats = StatisticsWidget::getInstance();
    emit w.settingsWindow->sigExportDataStart();
    QCOMPARE(w.exportLabel->text(), messageText(727));
    emit stats->sigExportProgress(4, 1);
    QCOMPARE(w.exportLabel->text(), messageText(723).arg(25));
    emit stats->sigExportProgress(3, 4);
    QCOMPARE(w.exportLabel->text(), messageText(723).arg(133));
    emit stats->sigExportDataFinish();
    QVERIFY(w.exportLabel->text().isEmpty());

    // The image drive lost: always a record, a warning only when asked for.
    const auto lastRecord = [] {
        QSqlQuery q(OperationRecords::instance()->database());
        q.exec("select remarks, recordtype from RECORD order by rowid desc limit 1");
        return q.next() ? q.value(0).toString() + "|" + q.value(1).toString() : QString();
    };
    for (int alarm : {0, 1}) {
        gpWPara->lostUpanAlarm = alarm;
        emit Copy2MoveDisk::getInstance()->diskStateChange(false);
        QCOMPARE(lastRecord(), messageText(726) + "|info");
        QCOMPARE(gpWarnBox->isVisible(), alarm == 1);
    }
    QCOMPARE(gpWarnBox->text(), messageText(725));
    gpWarnBox->hide();

    // The heartbeat LED blinks while detecting and stays lit when stopped.
    QVERIFY(m_env->writeSimFile("/dev/led", QByteArray()));
    gfLED = LedDevice::open();
    QVERIFY(gfLED > 0);
    QList<bool> beats;
    for (int run : {1, 1, 1, 3, 3}) {
        w.runState = run;
        w.SlotFPS();
        beats << bool(LedDevice::loggedRequests().last() & 0x20);
    }
    QCOMPARE(beats.mid(0, 3), (QList<bool>{beats[0], !beats[0], beats[0]}));
    QCOMPARE(beats.mid(3), (QList<bool>{true, true}));
}

void TstMainWindow::cameraGrids_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<int>("failing"); // the camera that does not open
    QTest::addColumn<int>("views");
    QTest::addColumn<int>("cols");
    QTest::addColumn<int>("rows");
    QTest::newRow("1") << 1 << -1 << 1 << 1 << 1;
    QTest::newRow("2") << 2 << -1 << 2 << 2 << 1;
    QTest::newRow("3") << 3 << -1 << 3 << 2 << 2;
    QTest::newRow("3, the middle one fails") << 3 << 1 << 2 << 2 << 1;
    QTest::newRow("5") << 5 << -1 << 5 << 3 << 2;
    QTest::newRow("7") << 7 << -1 << 7 << 4 << 2;
    QTest::newRow("8") << 8 << -1 << 8 << 4 << 2;
    QTest::newRow("9") << 9 << -1 << 8 << 4 << 2;
}

void TstMainWindow::cameraGrids()
{
    QFETCH(int, cameras);
    QFETCH(int, failing);
    QFETCH(int, views);
    QFETCH(int, cols);
    QFETCH(int, rows);
    if (!inChild()) {
        runInChild(QStringLiteral("cameraGrids:") + QTest::currentDataTag());
        return;
    }
    build(cameras, 1, {}, failing);
    ReDoWizard& w = *m_win;
    QCOMPARE(numCamera, views);
    QCOMPARE(w.curCamera, views == 1 ? 0 : views);
    // Views numbered without gaps; the manager keeps the opened cameras in
    // view order.
    QStringList expected;
    for (int c = 0; c < cameras && expected.size() < 8; ++c)
        if (c != failing)
            expected << QString("SIMCAM-%1").arg(c + 1, 4, 10, QChar('0'));
    QStringList inUse, shown;
    for (const _cameraInfo& info : CameraManager::getInstance()->cameras)
        inUse << info.serial();
    for (int c = 0; c < views; ++c)
        shown << QString::fromLatin1(w.views[c]->serialNumber);
    QCOMPARE(inUse, expected);
    QCOMPARE(shown, expected);
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
    // A touch on one camera of several shows it alone, filling the screen;
    // the side bar's multi-screen shows all again.
    QVERIFY(finger::tap(w.views[1], QPoint(5, 5)));
    QCOMPARE(w.views[1]->geometry(), QRect(0, 0, W, H));
    QVERIFY(w.views[1]->isVisible() && !w.views[0]->isVisible());
    QVERIFY(finger::tap(w.sideBar->multiScreen));
    QCOMPARE(w.curCamera, views);
    QVERIFY(w.views[0]->isVisible());
    QCOMPARE(w.views[views - 1]->geometry(), QRect(((views - 1) % cols) * cw, ((views - 1) / cols) * ch, cw, ch));
}

void TstMainWindow::renderMainWindow_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<QSize>("screen");
    for (QSize screen : {QSize(1024, 768), QSize(1280, 800)})
        for (int cameras : {2, 8})
            QTest::addRow("%dx%d_%dcams", screen.width(), screen.height(), cameras) << cameras << screen;
}

// The whole window as the operator sees it on the panel's two screens, in
// English and Chinese, with the side bar shown and hidden, drawn by a real X
// server (the offscreen screen has a fixed size).
void TstMainWindow::renderMainWindow()
{
    QFETCH(int, cameras);
    QFETCH(QSize, screen);
    if (!inChild()) {
        QProcess xvfb;
        xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0",
                                            QString("%1x%2x24").arg(screen.width()).arg(screen.height()),
                                            "-nolisten", "tcp"});
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
    const QString dir = TestEnv::buildDir() + "/render";
    QDir().mkpath(dir);
    const auto save = [&](const QString& what, const QString& how) {
        QVERIFY(m_win->grab().save(QStringLiteral("%1/%2_%3x%4_%5.png")
                                       .arg(dir, what).arg(screen.width()).arg(screen.height()).arg(how)));
    };
    for (int lan : {1, 0}) {
        QVERIFY(widgettest::initToolkit(lan));
        build(cameras, lan);
        SharedPixmaps::load(QStringLiteral("./images/")); // lamps and pictures, as the start-up loads them
        m_win->update();
        QCOMPARE(QSize(gShowW, gShowH), screen);
        QTest::qWait(300); // a few live frames
        for (bool bar : {true, false}) {
            if (bar) { // a touch on a camera view shows it (and that camera alone)
                QVERIFY(finger::tap(m_win->views[0], QPoint(5, 5)));
                QVERIFY(finger::tap(m_win->sideBar->multiScreen)); // all cameras again
            } else
                QVERIFY(finger::tap(m_win->sideBar->logo));
            QCOMPARE(m_win->sideBar->isVisible(), bar);
            // The views under the bar keep their counters clear of it.
            int covered = 0;
            for (CammerWidget* v : m_win->views)
                covered += v && v->coveredRight() > 0;
            QCOMPARE(covered, bar ? (cameras == 2 ? 1 : 2) : 0);
            // Nothing the operator reads is cut off at the screen's edges,
            // and the side bar's buttons leave the corner labels free.
            QList<QRect> buttons;
            for (QWidget* b : m_win->sideBar->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                if (b->isVisible())
                    buttons << QRect(b->mapTo(m_win, QPoint()), b->size());
            for (QWidget* c : m_win->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                if (c->isVisible()) {
                    QVERIFY2(m_win->rect().contains(c->geometry()), qPrintable(c->metaObject()->className()));
                    if (auto* label = qobject_cast<QLabel*>(c))
                        for (const QRect& b : buttons)
                            QVERIFY2(!label->geometry().intersects(b), qPrintable(label->text()));
                }
            // The views' top lines in an NG's countdown with long counters: each
            // whole in the part of its view the bar leaves free, none on another.
            const QStringList clash = headerClashes([](CammerWidget* v) { return v->width() - v->coveredRight(); }, false);
            save("mainwindow",
                 QString("%1cams_%2_%3").arg(cameras).arg(lan ? "en" : "zh", bar ? "bar" : "nobar"));
            QVERIFY2(clash.isEmpty(), qPrintable(clash.join('\n')));
        }
        // An NG alarm as the cycle raises it: every camera shown, the alarm
        // panel on the right; then camera 1 alone, chosen on the panel. The
        // top lines keep wholly left of the panel, none cut short.
        if (cameras == 2) {
            m_win->detectState = 2;
            WindowCycleHooks(m_win).editorOpenAlarm();
            QVERIFY(m_win->roiPanel->isVisible());
            for (int shown : {2, 1}) {
                if (shown == 1)
                    QVERIFY(finger::choose(m_win->roiPanel->cameraCombo, 0));
                QCOMPARE(int(m_win->views[1]->isVisible()) + 1, shown);
                const int panel = m_win->roiPanel->x();
                const QStringList clash = headerClashes(
                    [panel](CammerWidget* v) { return std::min(v->width(), panel - v->x()); }, true);
                save("mainwindow", QString("alarm%1_%2").arg(shown).arg(lan ? "en" : "zh"));
                QVERIFY2(clash.isEmpty(), qPrintable(clash.join('\n')));
            }
        }
        // The settings window over the same screen, every control on it.
        if (cameras == 2) {
            m_win->settingsWindow->show();
            for (QWidget* c : m_win->settingsWindow->findChildren<QWidget*>())
                if (c->isVisible())
                    QVERIFY2(QRect(QPoint(), screen).contains(c->geometry()), qPrintable(c->objectName()));
            save("settings", lan ? "en" : "zh");
        }
        cleanup();
    }
}

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"

// The ROI editor inside the real main window over the simulated cameras:
// what the operator meets on opening the region settings and on "End Set",
// and the editor's side of an NG alarm (sources, password, outputs, frames).
#include "controller/controlport.h"
#include "controller/ui/indexbutton.h"
#include "controller/machinecycle.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "inspection/cammersingleton.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "inspection/roicommit.h"
#include "settings/ui/helpwidget.h"
#include "testsupport/modalanswer.h"
#include "testsupport/recordingprompt.h"
#include "testsupport/testenv.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/numberinput.h"
#include "widgets/passwordbox.h"
#include "widgets/slider.h"
#include "widgets_boxes/widgettest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QTemporaryFile>
#include <QtTest>

#include <cstring>
#include <memory>

class TstEditorWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void regionSettingsOpenAndEndSet();
    void alarmSourcesPasswordOutputAndFrame();

private:
    std::unique_ptr<QTemporaryFile> m_cfg;
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<RecordingPrompt> m_prompts;
    ReDoWizard* m_win = nullptr;
};

void TstEditorWindow::initTestCase()
{
    QVERIFY(widgettest::initToolkit(1));
    // One configuration per process: the plug-in reads it once.
    m_cfg = std::make_unique<QTemporaryFile>();
    QVERIFY(m_cfg->open());
    const QJsonArray cams{QJsonObject{{"sn", "EDWIN-MONO-0001"}}, QJsonObject{{"sn", "EDWIN-MONO-0002"}}};
    m_cfg->write(QJsonDocument(QJsonObject{{"cameras", cams}, {"width", 320}, {"height", 256}}).toJson());
    m_cfg->flush();
    qputenv("STATION_SIMCAMERA_CONFIG", m_cfg->fileName().toLocal8Bit());
}

void TstEditorWindow::init()
{
    m_env = std::make_unique<TestEnv>();
    QVERIFY(m_env->isValid());
    // The base template of camera 1, detection 2, with a known time.
    QDir().mkpath("cammer12");
    QImage t(320, 256, QImage::Format_Grayscale8);
    t.fill(90);
    QVERIFY(t.save("cammer12/template0.bmp"));
    QFile f("cammer12/template0.bmp");
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)), QFileDevice::FileModificationTime));
    f.close();
    widgettest::resetShared();
    gLan = 1;
    m_win = new ReDoWizard(nullptr);
    m_win->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_win));
    QCOMPARE(numCamera, 2);
    gpWPara->isPswUsed = 0;
    gpWPara->enableProdDetect = 0; // the factory set: the editor opens on the mould
    m_prompts = std::make_unique<RecordingPrompt>();
}

void TstEditorWindow::cleanup()
{
    m_prompts.reset();
    delete m_win;
    m_win = nullptr;
    widgettest::resetShared();
    m_env.reset();
}

void TstEditorWindow::regionSettingsOpenAndEndSet()
{
    ReDoWizard& w = *m_win;
    DrawROIWidget& panel = *w.roiPanel;
    CammerWidget* v = w.views[0];
    QVERIFY(w.versionLabel->isVisible());
    w.sideBar->regionSettings->click();
    QVERIFY(panel.isVisible());
    QCOMPARE(gSource, 0);
    QCOMPARE(w.editDetect, 1);
    // The template page shows the template's time; the version text and the
    // side bar's way back give room to the panel.
    QCOMPARE(gTempTime, QString("2026-01-02 03.04.05"));
    QVERIFY(!w.versionLabel->isVisible());
    QCOMPARE(w.pageNumber, 2);
    QVERIFY(v->genButton->isVisible() && v->syncRoiButton->isVisible());
    panel.helpButton->click();
    QCOMPARE(gHelpC, 6);
    QVERIFY(w.helpPage->isVisible());
    w.helpPage->hide();

    // A rectangle drawn by touch; its slider's value box opens the keypad.
    panel.rectButton->click();
    QCOMPARE(w.drawTool, 1);
    QCOMPARE(v->size(), QSize(gShowW, gShowH));
    QTest::mousePress(v, Qt::LeftButton, {}, QPoint(60, 60));
    QMouseEvent move(QEvent::MouseMove, QPoint(200, 160), v->mapToGlobal(QPoint(200, 160)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(v, &move);
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(200, 160));
    QCOMPARE(v->editStore->roiCount[1], 1);
    QVERIFY(v->sliderA->isVisible());
    QTest::mouseClick(v->sliderA, Qt::LeftButton, {}, QPoint(Slider::kBoxX + 10, v->sliderA->height() / 2));
    QVERIFY(gpNumPad && gpNumPad->isVisible());

    // "End Set" without saving: keypad, generate and sync buttons go with the
    // page, and the main screen is back.
    m_prompts->answer(false);
    panel.returnButton->click();
    QCOMPARE(m_prompts->numbers(), QList<int>{72});
    QVERIFY(!panel.isVisible());
    QCOMPARE(gSource, -1);
    QCOMPARE(v->liveStore->roiCount[1], 0);
    QVERIFY(!gpNumPad->isVisible());
    QVERIFY(!v->genButton->isVisible() && !v->syncRoiButton->isVisible());
    QVERIFY(w.versionLabel->isVisible());
    QVERIFY(w.pageNumber != 2);

    // Region checking pauses the decisions; its end accepts the held NG.
    w.runState = 3;
    v->isOK = false;
    gpControlIO->IOSetOut(0, 1);
    gpControlIO->IOFlashOut();
    w.CheckArea();
    QVERIFY(panel.isVisible() && gFromTrain);
    panel.returnButton->click();
    QVERIFY(!gFromTrain);
    QCOMPARE(w.runState, 1);
    QVERIFY(v->isOK && w.machineCycle()->gisReTrain);
    QCOMPARE(gpControlIO->IOState(1, 0), 0);
}

void TstEditorWindow::alarmSourcesPasswordOutputAndFrame()
{
    ReDoWizard& w = *m_win;
    DrawROIWidget& panel = *w.roiPanel;
    CammerWidget* v = w.views[1];
    // A mould alarm on camera 2, as the decision opens it.
    gpWPara->noRefreshAfterAlarm = 1;
    gpWPara->isPswUsed = 1;
    w.loginLevel = 0;
    v->isOK = false;
    w.lastDetect = 1;
    std::memset(v->workFrame.data(), 200, v->workFrame.size());
    std::memset(v->displayBuffer.data(), 200, v->displayBuffer.size());
    w.detectState = 2;
    gpWPara->outInitState[2] = 0; // the alarm output as it is wired here: not inverted
    gpControlIO->IOSetOut(2, 1);
    gpControlIO->IOFlashOut();
    panel.Reset(false);
    QCOMPARE(gSource, 1);
    panel.cameraCombo->setCurrentIndex(1);
    QCOMPARE(w.curCamera, 1);

    // The template needs a login: refused, everything stays on the live image.
    answerWhenFound([] { return gpPasswordBox && gpPasswordBox->isVisible() ? gpPasswordBox : nullptr; },
                    [](QWidget*) { QTest::mouseClick(gpPasswordBox->cancelButton(), Qt::LeftButton); });
    panel.sourceCombo->setCurrentIndex(0);
    QCOMPARE(gSource, 1);
    QCOMPARE(panel.sourceCombo->currentIndex(), 1);
    QVERIFY(panel.reCheckButton->isVisible());
    QCOMPARE(gpControlIO->IOState(1, 2), 1);

    // Logged in: the template; the alarm output is silenced.
    w.loginLevel = 1;
    panel.sourceCombo->setCurrentIndex(0);
    QCOMPARE(gSource, 0);
    QCOMPARE(gpControlIO->IOState(1, 2), 0);
    QVERIFY(std::memcmp(v->displayBuffer.data(), v->templateImages[1][0].data(), v->displayBuffer.size()) == 0);
    // Back on the live image the judged frame is shown again (the display
    // stays frozen during the alarm).
    panel.autoChangeButton->click();
    QCOMPARE(gSource, 1);
    QVERIFY(std::memcmp(v->displayBuffer.data(), v->workFrame.data(), v->displayBuffer.size()) == 0);
}

QTEST_MAIN(TstEditorWindow)
#include "tst_editorwindow.moc"

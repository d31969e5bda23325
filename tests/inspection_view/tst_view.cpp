// The camera view over the real simulated-camera plug-in: opening, settings,
// grabbing, loss and reconnection, templates, the store, the parameter panel
// and painting (pixel probes on offscreen renders).
#include "boardsim.h"
#include "controller/controlport.h"
#include "controller/mainstate.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/parameterstartup.h"
#include "frame/wizardpara.h"
#include "inspection/cameramanager.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/roipanellogic.h"
#include "inspection_engine/enginerig.h"
#include "platform/platformpath.h"
#include "testsupport/testenv.h"
#include "testsupport/glogcapture.h"
#include "viewtesthelpers.h"
#include "widgets/colorbutton.h"
#include "widgets/shapedtext.h"
#include "widgets/slider.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScreen>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>


namespace {

QStringList calls(CameraInterface* cam)
{
    QVariant out;
    cam->query(QVariant(), out, 100);
    return out.toStringList();
}

int countStarting(const QStringList& l, const QString& prefix)
{
    return int(std::count_if(l.begin(), l.end(), [&](const QString& s) { return s.startsWith(prefix); }));
}

QRgb px(const QImage& img, int x, int y)
{
    return img.pixel(x, y) & 0xFFFFFF;
}

QRgb rgb(int r, int g, int b)
{
    return qRgb(r, g, b) & 0xFFFFFF;
}

// Rectangle ROI r of detection 0 in store s of view v, placed on the screen.
void putRect(CammerWidget* v, CammerSingleton* s, int r, const QRect& rect, int type = 0)
{
    s->shapeKind[r] = 1;
    s->funcType[r] = type;
    s->rects[r].rect = rect;
    s->rects[r].setShowA(v->roiScaleX, v->roiScaleY);
    s->rects[r].setImageRect();
}

} // namespace

class TstView : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openSizesBuffersAndSettings();
    void settingsFollowTheSourceRuleAndOrder();
    void failedOrSizelessCameraGivesNoView();
    void lossRecordsOnceAndReconnects();
    void updateImageRefreshRules();
    void storeRowsLoadAtBothLayouts();
    void templatesValidOnlyWhenTheyFit();
    void panelTypesAndPackedHalves();
    void panelSyncCopyAndPlacement();
    void panelFitsSmallScreens();
    void paintOverlaysStayInsideBoxes();
    void headerFitsAGridCell();
    void repaintedTextsLookTheSame();
    void paintColoursCaptionsAndCountdown();
    void readoutOutsideTheImage();
    void openPartsShowTheWindow();
    void renderScreens();

private:
    CammerWidget* view(const QString& sn, int index);

    std::unique_ptr<TestEnv> m_env;
    RecordingState* m_state = nullptr;
    QWidget* m_host = nullptr;
    QList<CammerWidget*> m_views;
};

void TstView::initTestCase()
{
    QVERIFY(MessageTable::load() > 0);
}

void TstView::init()
{
    m_env = std::make_unique<TestEnv>();
    QVERIFY(m_env->isValid());
    gLan = 1;
    gShowW = 1280;
    gShowH = 800;
    gDNum = 2;
    gTempNum = 3;
    numCamera = 8;
    gSource = -1;
    gpWPara = new WizardPara;
    gpWParaBak = new WizardPara;
    gpWPara->alarmArea = 100;
    gpWPara->filterSize = 3;
    m_state = new RecordingState;
    gpWin = m_state;
    QVERIFY(ParameterStartup::openParamDb(m_state));

    // Plug-in copies: three working cameras, one that never opens, one of
    // an odd width.
    auto cam = [](const QString& sn, bool colour = false, int w = 1280, int h = 1024) {
        return QJsonObject{{"sn", sn}, {"color", colour}, {"width", w}, {"height", h}};
    };
    const QJsonArray cams{cam("VIEW-MONO-0001"), cam("VIEW-MONO-0002"), cam("VIEW-COLOR-0003", true, 640, 480),
                          cam("VIEW-ODD-000004", false, 642, 480)};
    const QJsonArray fail{QJsonObject{{"sn", "VIEW-FAIL-0001"}, {"openFails", true}}};
    CameraManager* m = new CameraManager;
    CameraManager::_instance = m;
    loadCameras(*m, makeSimPluginDir({{"cams", {{"typeName", "SimA"}, {"kind", 1}, {"fps", 5}, {"cameras", cams}}},
                                      {"fail", {{"typeName", "SimFail"}, {"kind", 1}, {"cameras", fail}}}}));
    m->plugins.append(new ZeroSizeCamera); // a plug-in that reports no frame size
    QCOMPARE(m->cameras.size(), 5);
    m_host = new QWidget;
    m_host->resize(gShowW, gShowH);
}

void TstView::cleanup()
{
    qDeleteAll(m_views);
    m_views.clear();
    delete m_host;
    m_host = nullptr;
    if (CameraManager::_instance)
        delete CameraManager::_instance->plugins.takeLast(); // the zero-size plug-in is the test's own
    m_state->paraQuery = QSqlQuery();
    m_state->paraDb.close();
    m_env.reset(); // frees the board link, the camera manager, both parameter sets and the clock
    delete m_state;
}

// The view of the camera with serial sn; an unknown serial names the plug-in type too.
CammerWidget* TstView::view(const QString& sn, int index)
{
    _cameraInfo info;
    info.typeName = sn;
    info.setSerial(sn);
    for (const _cameraInfo& found : CameraManager::getInstance()->cameras)
        if (found.serial() == sn)
            info = found;
    m_views << new CammerWidget(m_host, index, info);
    return m_views.last();
}

void TstView::openSizesBuffersAndSettings()
{
    gpWPara->exposeTime[0] = 1234;
    gpWPara->gamma[0] = 77;
    gpWPara->autoShading = 1;
    gpWPara->hMirror[0] = 1;
    gpWPara->camSpeed = 3;
    CammerWidget* a = view("VIEW-MONO-0001", 0);
    CammerWidget* c = view("VIEW-COLOR-0003", 2);
    QVERIFY(a->isOpen);
    QCOMPARE(QList<size_t>({size_t(a->frameBytes), a->frameBuffer.size(), a->displayBuffer.size(), a->imageBits.size()}),
             QList<size_t>({1280 * 1024, 1280 * 1024, 1280 * 1024, 1280 * 1024 * 4}));
    QCOMPARE(a->roiScaleX, 1.0f);
    QCOMPARE(a->roiScaleY, 800.0f / 1024.0f);
    QVERIFY(c->isOpen && c->isColor);
    QCOMPARE(c->frameBytes, 640 * 480 * 4);
    QCOMPARE(c->grayBuffer.size(), size_t(640 * 480));
    QCOMPARE(c->roiScaleX, 2.0f);

    // The settings object, keys as the plug-ins expect them; the live store
    // handed over; acquisition started.
    const QStringList log = calls(a->camera);
    const QJsonObject expect{{"exposetime", 1234}, {"gain", 0}, {"contrast", 0}, {"sharp", 0}, {"gammma", 77},
                             {"saturation", 0}, {"ThreeDNoise", 0}, {"TwoDNoise", 0}, {"WDR", true},
                             {"VMirror", false}, {"HMirror", true}, {"sysUsage", false}, {"speed", 3}};
    const QString sent = "setParams " + QString::fromUtf8(QJsonDocument(expect).toJson(QJsonDocument::Compact));
    QVERIFY2(log.contains(sent), qPrintable(log.join('\n')));
    QVERIFY(log.contains("setValue 0 CammerSingleton*"));
    QVERIFY(log.indexOf("start") > log.indexOf("setValue 0 CammerSingleton*"));
}

void TstView::settingsFollowTheSourceRuleAndOrder()
{
    CammerWidget* v = view("VIEW-MONO-0002", 1);
    gpWPara->exposeTime[1] = 100;
    gpWParaBak->exposeTime[1] = 200;
    gpWPara->saturation[1] = 5;
    gpWParaBak->saturation[1] = 6;
    gpWPara->vMirror[1] = 0;
    gpWParaBak->vMirror[1] = 1;
    gpWPara->camSpeed = 4;
    gpWParaBak->camSpeed = 9;
    const int from = int(calls(v->camera).size());

    m_state->settingsVisible = true;
    v->SetExposeTime();
    v->SetSaturation();
    v->SetVMirror();
    v->SetSpeed(); // always the live set
    v->SetWB();    // mono: nothing
    m_state->settingsVisible = false;
    v->SetExposeTime();
    v->SetWDR();
    const QStringList got = calls(v->camera).mid(from);
    const QStringList want{"setExposure 200", "setValue 10 6", "stop", "setVMirror 1", "start", "stop",
                           "setSpeed 4", "start", "setExposure 100", "stop", "setWDR 0", "start"};
    QCOMPARE(got, want);

    // Restore: the camera's defaults into the edit copy, speed left out -> 0.
    gpWParaBak->camSpeed = 9;
    v->RestoreDefaultSettings();
    QCOMPARE(gpWParaBak->exposeTime[1], 30);
    QCOMPARE(gpWParaBak->camSpeed, 12);
    QCOMPARE(gpWPara->exposeTime[1], 100);

    // A camera that is closed takes no settings.
    v->CameraClose();
    const int n = int(calls(v->camera).size());
    v->SetExposeTime();
    v->CameraChangeTrig(true);
    QVERIFY(!v->CameraStart());
    QCOMPARE(int(calls(v->camera).size()), n);
}

void TstView::failedOrSizelessCameraGivesNoView()
{
    GlogCapture log;
    CammerWidget* f = view("VIEW-FAIL-0001", 0);
    QVERIFY(log.has("camera open fail camera NO 0 camera SN VIEW-FAIL-0001"));
    QVERIFY(!f->isOpen);
    QVERIFY(f->displayBuffer.isNull() && f->frameBuffer.isNull());
    QVERIFY(!f->sliderA && !f->liveStore);
    QVERIFY(f->findChildren<QWidget*>().isEmpty());
    QVERIFY(!f->UpdateImage()); // a caller that polls anyway reads nothing

    CammerWidget* z = view(ZeroSizeCamera::kName, 1);
    QVERIFY(!z->isOpen);
    QCOMPARE(z->frameBytes, 0);
    QVERIFY(z->displayBuffer.isNull());
    z->repaint(); // nothing to paint, nothing read
    QVERIFY(log.has("size 0 x 0"));
}

void TstView::lossRecordsOnceAndReconnects()
{
    // The board on a pseudo-terminal: a lost camera must hold the mould.
    BoardSim sim;
    std::string err;
    QVERIFY2(sim.open(&err) && sim.linkAt(platform::path("/dev/ttyS1").toStdString(), &err), err.c_str());
    sim.start();
    gisCOM = 1;
    gpControlIO = new ControlPort;
    QVERIFY(gpCom);
    gpControlIO->InitIOThread();
    m_state->runState = 1;

    CammerWidget* v = view("VIEW-MONO-0002", 1);
    TestClock tc;
    Clock::install(&tc);
    const int from = int(calls(v->camera).size());

    // Time moves only when the loop waits on it; a second loss report comes
    // in while it reconnects.
    int advances = 0;
    QTimer driver;
    const auto first = connect(&driver, &QTimer::timeout, [&] {
        if (tc.pendingCount() == 0)
            return;
        if (advances == 1)
            emit v->camera->sigCameraLost();
        tc.advance(1000);
        ++advances;
    });
    driver.start(5);
    v->camera->setValue(QString("lose"), 100);
    QTRY_VERIFY_WITH_TIMEOUT(v->lossCount == 1 && v->isConnected, 5000);
    driver.stop();

    const QStringList got = calls(v->camera).mid(from);
    // Three tries a second apart, the last one good; the settings sent again once.
    QCOMPARE(QList<int>({countStarting(got, "reconnect"), int(got.filter("reconnect 1").size()),
                         countStarting(got, "setParams"), countStarting(got, "onLost"), advances}),
             QList<int>({3, 1, 1, 1, 3}));
    QCOMPARE(m_state->records, QStringList{"Camera 2 lost for the 1 time! | info"});
    QVERIFY(sim.waitForOutputs(1u, gpControlIO->out & 1u, 2000));
    QCOMPARE(gpControlIO->IOState(1, 0), 1);
    gpControlIO->stopIOThread();

    // Lost again; the main window's own restart brings it back before the
    // first retry: the loop ends without a reconnect of its own.
    const int from2 = int(calls(v->camera).size());
    bool restarted = false;
    disconnect(first);
    connect(&driver, &QTimer::timeout, [&] {
        if (tc.pendingCount() == 0)
            return;
        if (!restarted) {
            restarted = true;
            for (int k = 0; k < 3 && !v->isConnected; ++k)
                v->isConnected = v->camera->reconnect();
        }
        tc.advance(1000);
    });
    driver.start(5);
    v->camera->setValue(QString("lose"), 100);
    QTRY_VERIFY_WITH_TIMEOUT(v->lossCount == 2 && restarted && v->isConnected && tc.pendingCount() == 0, 5000);
    driver.stop();
    const QStringList got2 = calls(v->camera).mid(from2);
    QCOMPARE(QList<int>({countStarting(got2, "reconnect"), countStarting(got2, "setParams")}), QList<int>({3, 1}));
    QCOMPARE(m_state->records.mid(1), QStringList{"Camera 2 lost for the 2 time! | info"});
}

void TstView::updateImageRefreshRules()
{
    CammerWidget* v = view("VIEW-MONO-0001", 0);
    v->CameraChangeTrig(true);
    auto filled = [](const PixelBuffer& b) { return std::any_of(b.data(), b.data() + 4096, [](uchar x) { return x; }); };
    // One triggered frame: whether the poll took it, and whether the screen shows anything.
    auto shot = [&] {
        v->ManualUpdateImage();
        v->camera->setValue(QString("trigger"), 100);
        const bool took = v->UpdateImage();
        return qMakePair(took, filled(v->displayBuffer));
    };
    const auto grabbedNotShown = qMakePair(true, false);
    gpWPara->noRefreshAfterAlarm = 1;
    m_state->detectState = 2;
    QCOMPARE(shot(), grabbedNotShown); // the fault stays on screen, the grab went on
    QVERIFY(filled(v->frameBuffer));

    m_state->detectState = 0;
    gpWPara->extTrigger = 1;
    QCOMPARE(shot(), grabbedNotShown);
    QVERIFY(!v->UpdateImage()); // no new frame, and still nothing shown

    gpWPara->extTrigger = 0;
    gSource = 0; // the editor shows its own image
    QCOMPARE(shot(), grabbedNotShown);
    gSource = 1;
    QCOMPARE(shot(), qMakePair(true, true));
    // The frame shown as it was grabbed is not copied to the screen again
    // when it is judged; a triggered frame after it leaves the screen as it was.
    m_host->show();
    v->show();
    QVERIFY(v->showsInspectedFrame());
    const unsigned writes = v->displayBuffer.writeCount();
    v->recong->HomoTransShape(1);
    v->recong->ShapeMatch();
    v->recong->Run(1);
    QCOMPARE(v->displayBuffer.writeCount(), writes);
    const uchar* was = std::as_const(v->displayBuffer).data();
    const std::vector<uchar> shown(was, was + v->frameBytes);
    QVERIFY(std::equal(shown.begin(), shown.end(), std::as_const(v->workFrame).data()));
    gpWPara->extTrigger = 1;
    QVERIFY(shot().first);
    QVERIFY(std::equal(shown.begin(), shown.end(), std::as_const(v->displayBuffer).data()));
    QVERIFY(std::equal(shown.begin(), shown.end(), std::as_const(v->workFrame).data()));
    QVERIFY(!std::equal(shown.begin(), shown.end(), std::as_const(v->frameBuffer).data()));
    gpWPara->extTrigger = 0;
    QCOMPARE(shot(), qMakePair(true, true));
    QCOMPARE(std::memcmp(v->displayBuffer.data(), v->frameBuffer.data(), size_t(v->frameBytes)), 0);

    // On screen: the painted view follows a new frame, a faithful picture of
    // it at the view's size, and stays as it was when no frame came or when
    // an alarm keeps the fault on screen (the grab goes on beneath).
    v->resize(640, 400);
    v->camera->setExposure(30); // the plate in full light: rims, floors and pins to compare
    v->camera->setGain(32);
    const QImage before = v->grab().toImage();
    QVERIFY(!v->UpdateImage());
    QCOMPARE(v->grab().toImage(), before);
    QCOMPARE(shot(), qMakePair(true, true));
    const QImage after = v->grab().toImage();
    QVERIFY(after != before);
    // Against the mean of the frame pixels under each view pixel (2 x 2.56
    // of them) over the view below the status texts: cavities, rims and pins
    // where they are in the frame.
    const uchar* frame = std::as_const(v->displayBuffer).data();
    double off = 0;
    int points = 0;
    for (int vy = 120; vy < 400; vy += 3)
        for (int vx = 0; vx < 640; vx += 3, ++points) {
            int sum = 0, n = 0;
            for (int y = vy * 1024 / 400; y < (vy + 1) * 1024 / 400; ++y)
                for (int x = 2 * vx; x < 2 * vx + 2; ++x, ++n)
                    sum += frame[y * 1280 + x];
            off += std::abs(qGray(after.pixel(vx, vy)) - double(sum) / n);
        }
    QVERIFY2(off / points < 4, qPrintable(QString::number(off / points)));
    gpWPara->noRefreshAfterAlarm = 1;
    m_state->detectState = 2;
    const QImage fault = v->grab().toImage();
    QVERIFY(shot().first);
    QVERIFY(std::memcmp(std::as_const(v->frameBuffer).data(), frame, size_t(v->frameBytes)) != 0);
    QCOMPARE(v->grab().toImage(), fault);
    m_state->detectState = 0;
    QCOMPARE(shot(), qMakePair(true, true));
    QVERIFY(v->grab().toImage() != after);
}

void TstView::storeRowsLoadAtBothLayouts()
{
    // One rectangle row written by a store of camera 0 into PARAM.db.
    {
        CameraViewState owner;
        owner.roiScaleX = owner.roiScaleY = 1.0f;
        std::unique_ptr<CammerSingleton> s(new CammerSingleton(0, &owner));
        s->roiCount[0] = 1;
        s->shapeKind[0] = 1;
        s->rects[0].rect = QRect(QPoint(200, 160), QPoint(439, 399));
        QVERIFY(s->SaveDatatoFile());
    }
    for (QSize screen : {QSize(1280, 800), QSize(1024, 768)}) {
        gShowW = screen.width();
        gShowH = screen.height();
        CammerWidget* v = view("VIEW-MONO-0001", 0);
        QCOMPARE(v->liveStore->roiCount[0], 1);
        const QRect ir = v->liveStore->rects[0].imageRect;
        const float sx = float(gShowW) / 1280, sy = float(gShowH) / 1024;
        QCOMPARE(ir.left(), qRound(200 / sx));
        QCOMPARE(ir.bottom(), qRound(399 / sy));
        const cv::Mat& m = v->liveMasks[0][0];
        QCOMPARE(QSize(m.cols, m.rows), ir.size());
        QCOMPARE(int(m.at<uchar>(m.rows / 2, m.cols / 2)), 255);
    }
}

void TstView::templatesValidOnlyWhenTheyFit()
{
    // Camera 4 (index 3) is 642 x 480 mono: rows of images are padded, the
    // frame's are not.
    QDir().mkpath("cammer41");
    QVERIFY(m_env->writeWorkFile("cammer42/template1.bmp", "BM this is not an image"));
    cv::Mat good(480, 642, CV_8UC1);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 642; ++x)
            good.at<uchar>(y, x) = uchar((x + 3 * y) & 0xFF);
    QVERIFY(cv::imwrite("cammer41/template1.bmp", good));
    QVERIFY(cv::imwrite("cammer41/template2.bmp", cv::Mat(240, 321, CV_8UC1, cv::Scalar(9)))); // size
    QVERIFY(cv::imwrite("cammer42/template0.bmp", cv::Mat(480, 642, CV_8UC3, cv::Scalar(1, 2, 3)))); // depth

    GlogCapture log;
    CammerWidget* v = view("VIEW-ODD-000004", 3);
    QVERIFY(v->isOpen);
    QVERIFY(log.has("cammer41/template2.bmp: 321x240, the camera gives 642x480"));
    QVERIFY(log.has("cammer42/template0.bmp: not an 8-bit image"));
    QVERIFY(log.has("cammer42/template1.bmp: unreadable"));
    QVERIFY(QFile::exists("cammer42/template1.bmp") && !QFile::exists("cammer42/template1.bmp.damaged"));
    QVERIFY(log.has("detection 1: 1 of 3 template files missing"));
    QCOMPARE(QList<int>({v->templateValid[0][0], v->templateValid[0][1], v->templateValid[0][2], v->templateCount[0],
                         v->templateValid[1][0], v->templateValid[1][1], v->templateValid[1][2], v->templateCount[1]}),
             QList<int>({1, 1, 0, 2, 1, 0, 0, 1}));
    const uchar* t1 = v->templateImages[0][1].data();
    for (int y : {0, 1, 239, 479})
        for (int x : {0, 1, 320, 641})
            QCOMPARE(int(t1[y * 642 + x]), int(good.at<uchar>(y, x)));
    // Slot 0 synthetic: bright centre half, dark border.
    const uchar* t0 = v->templateImages[1][0].data();
    QCOMPARE(QList<int>({t0[240 * 642 + 321], t0[10 * 642 + 10], t0[120 * 642 + 160], t0[120 * 642 + 159]}),
             QList<int>({255, 0, 255, 0}));
    // Unused slots stay as they came: zero.
    QCOMPARE(int(v->templateImages[0][2].data()[1000]), 0);
}

void TstView::panelTypesAndPackedHalves()
{
    int a = 1, b = 2, c = 3;
    QCOMPARE(CammerWidget::GetFuncInitParam(11, a, b, c), 0);
    QCOMPARE(QVector<int>({a, b, c}), QVector<int>({45, 100, 3}));
    a = 0, b = 7, c = 8;
    QCOMPARE(CammerWidget::GetFuncInitParam(6, a, b, c), 1);
    QCOMPARE(QVector<int>({a, b, c}), QVector<int>({80, 7, 8}));

    CammerWidget* v = view("VIEW-MONO-0001", 0);
    CammerSingleton* s = v->editStore;
    s->roiCount[0] = 2;
    for (int r = 0; r < 2; ++r)
        putRect(v, s, r, QRect(QPoint(100 + 300 * r, 300), QPoint(300 + 300 * r, 500)));
    gSource = 0;
    gpWPara->useDefect = 1;
    gpWPara->useSpot = 1;
    gpWPara->useColorSpots = 1;
    v->setCurRoi(0);
    v->ShowHideROIPara();
    QCOMPARE(s->paramA[0], 0); // stored values already inside the ranges stay

    // The function button walks the enabled types only, with their defaults.
    v->SlotChangeFunc();
    QCOMPARE(s->funcType[0], 1);
    QCOMPARE(QVector<int>({s->paramA[0], s->paramB[0], s->paramC[0]}), QVector<int>({80, 500, 12800}));
    QVERIFY(v->paramSwitchButton->isVisibleTo(v));
    QCOMPARE(v->sliderC->objectName(), MessageTable::text(10));
    v->SlotChangeFunc();
    QCOMPARE(s->funcType[0], 9);
    v->SlotChangeFunc();
    QCOMPARE(s->funcType[0], 0);
    QVERIFY(!v->paramSwitchButton->isVisibleTo(v));

    // Type 1 with the toggle on: the slider edits the second byte of C.
    s->funcType[0] = 1;
    s->paramC[0] = 7690;
    v->ShowHideROIPara();
    QCOMPARE(v->sliderC->value(), 10);
    v->SlotChangeParaShow();
    QVERIFY(v->paramToggle);
    QCOMPARE(v->sliderC->value(), 30);
    QCOMPARE(v->sliderC->objectName(), MessageTable::text(11));
    v->sliderC->setValue(200);
    QCOMPARE(s->paramC[0], 51210);
    v->SlotChangeParaShow();
    QCOMPARE(v->sliderC->value(), 10);
    QCOMPARE(v->sliderC->objectName(), MessageTable::text(10));

    // Type 9: each slider a 16-bit half; a value outside the range is
    // clamped and written back by the reset.
    s->funcType[0] = 9;
    s->paramA[0] = (200 << 16) | 999;
    v->ShowHideROIPara();
    QCOMPARE(s->paramA[0], (200 << 16) | 255);
    v->SlotChangeParaShow();
    v->sliderA->setValue(201);
    QCOMPARE(s->paramA[0], (201 << 16) | 255);
    QCOMPARE(RoiPanelLogic::withWordHalf(-1, false, 0), int(0xFFFF0000u));

    // Type 0 area: hint through the clock.
    TestClock tc;
    Clock::install(&tc);
    s->funcType[0] = 0;
    gpWPara->showAllParam = 1;
    v->ShowHideROIPara();
    v->sliderB->setValue(400);
    QCOMPARE(s->paramB[0], 400);
    QCOMPARE(gDrawHint, 20);
    tc.advance(2999);
    QCOMPARE(gDrawHint, 20);
    tc.advance(1);
    QCOMPARE(gDrawHint, 0);
}

void TstView::panelSyncCopyAndPlacement()
{
    CammerWidget* v = view("VIEW-MONO-0001", 0);
    CammerSingleton* s = v->editStore;
    s->roiCount[0] = 3;
    for (int r = 0; r < 3; ++r) {
        putRect(v, s, r, QRect(QPoint(100, 300), QPoint(300, 500)), r == 2 ? 1 : 0);
        s->paramA[r] = 10;
    }
    v->setCurRoi(0);
    s->paramA[0] = 15;
    v->SlotSyncParam();
    v->SlotSyncParam();
    QCOMPARE(QVector<int>({s->paramA[0], s->paramA[1], s->paramA[2]}), QVector<int>({15, 15, 10}));
    s->setSelectRoi(3); // outside the count: the selection stays
    QCOMPARE(s->selRoi, 0);

    // Whole detections in the live store, mode 2: 1 -> 3, 0 -> 2.
    CammerSingleton* l = v->liveStore;
    gpWPara->systemMode = 2;
    for (int d = 0; d < 4; ++d) {
        l->roiCount[d] = d + 1;
        l->shapeKind[d * 100] = 1;
        l->paramA[d * 100] = d;
        l->outN[0] = 2;
    }
    v->CopyPara();
    QCOMPARE(QVector<int>({l->roiCount[0], l->roiCount[1], l->roiCount[2], l->roiCount[3]}),
             QVector<int>({1, 2, 1, 2}));
    QCOMPARE(QVector<int>({l->paramA[0], l->paramA[100], l->paramA[200], l->paramA[300]}),
             QVector<int>({0, 1, 0, 1}));

    // Placement on a 1080-line screen, three slider rows (H = 173).
    RoiPanelLogic::RoiExtent e;
    e.top = 213;
    e.bottom = 836;
    QCOMPARE(RoiPanelLogic::panelTop(e, 3, 1080), 856); // below
    e.bottom = 837;
    QCOMPARE(RoiPanelLogic::panelTop(e, 3, 1080), 233); // rectangle fallback
    e.top = 214;
    QCOMPARE(RoiPanelLogic::panelTop(e, 3, 1080), 41); // above
    e.top = 100;
    e.kind = 2;
    e.polygonYs = {900, 120, 500, 250};
    QCOMPARE(RoiPanelLogic::panelTop(e, 3, 1080), 500 - 173);
    e.kind = 4;
    e.ringRadius = 400;
    e.ringCenterY = 600;
    QCOMPARE(RoiPanelLogic::panelTop(e, 3, 1080), 600 - 173);
    QCOMPARE(RoiPanelLogic::buttonRow(0, true)[6].left(), 1133);
}

void TstView::panelFitsSmallScreens()
{
    for (QSize screen : {QSize(1024, 768), QSize(1280, 800)}) {
        for (int lan : {1, 3}) {
            gShowW = screen.width();
            gShowH = screen.height();
            gLan = lan;
            CammerWidget* v = view("VIEW-MONO-0001", 0);
            v->resize(screen);
            gpWPara->useSpot = 1;
            gpWPara->ejectorPulseProdNG = 1;
            v->editStore->roiCount[0] = 1;
            putRect(v, v->editStore, 0, QRect(QPoint(50, 500), QPoint(250, 700)), 1);
            gSource = 0;
            v->setCurRoi(0);
            v->moveToggle->setChecked(true);
            QList<QWidget*> shown;
            for (QWidget* w : v->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                if (w->isVisibleTo(v))
                    shown << w;
            QVERIFY(shown.size() >= 20);
            for (int i = 0; i < shown.size(); ++i) {
                QVERIFY2(QRect(0, 0, gShowW, gShowH).contains(shown[i]->geometry()),
                         qPrintable(QString("%1 at %2").arg(shown[i]->metaObject()->className())
                                        .arg(shown[i]->geometry().right())));
                for (int j = i + 1; j < shown.size(); ++j)
                    QVERIFY(!shown[i]->geometry().intersects(shown[j]->geometry()));
            }
        }
    }
}

void TstView::paintOverlaysStayInsideBoxes()
{
    CammerWidget* v = view("VIEW-MONO-0001", 0);
    v->resize(gShowW, gShowH);
    std::memset(v->displayBuffer.data(), 100, v->displayBuffer.size());
    std::memset(v->defectMask.data(), 1, v->defectMask.size());
    CammerSingleton* s = v->liveStore;
    s->roiCount[0] = 2;
    const QRect rois[2] = {QRect(QPoint(100, 100), QPoint(299, 299)), QRect(QPoint(1100, 600), QPoint(1500, 1200))};
    for (int r = 0; r < 2; ++r) {
        putRect(v, s, r, rois[r]); // the second reaches past the frame
        v->roiResult[0][r] = 0;
    }
    v->isOK = false;
    m_state->detectState = 2; // neither regions nor verdict: only the overlay
    // Red while the NG decision's blink runs, and not once it has stopped.
    QImage img = v->grab().toImage();
    QCOMPARE(px(img, 200, 200), rgb(100, 100, 100));
    v->alarmTimer->start(1000);
    img = v->grab().toImage();
    // Red inside both boxes, the one past the frame too; grey outside.
    QCOMPARE(QList<QRgb>({px(img, 200, 200), px(img, 1200, 700), px(img, 50, 50), px(img, 400, 200), px(img, 1000, 700)}),
             QList<QRgb>({rgb(255, 0, 0), rgb(255, 0, 0), rgb(100, 100, 100), rgb(100, 100, 100), rgb(100, 100, 100)}));

    // Result OK for the first: only the failed one shows red.
    v->roiResult[0][0] = 1;
    img = v->grab().toImage();
    QCOMPARE(QList<QRgb>({px(img, 200, 200), px(img, 1200, 700)}),
             QList<QRgb>({rgb(100, 100, 100), rgb(255, 0, 0)}));

    // The NG blink on the alarm's live image: frame with its red defects,
    // then the base template, on each tick of the blink while NG.
    gpWPara->NgShowSwitch = 1;
    gSource = 1;
    const uchar tpl = v->templateImages[0][0].data()[size_t(700 * 1024 / 800 * 1280 + 1200)]; // under (1200, 700)
    QList<QRgb> blink;
    for (int k = 0; k < 3; ++k) {
        blink << px(v->grab().toImage(), 1200, 700);
        v->TimerShowAlarm();
    }
    QCOMPARE(blink, (QList<QRgb>{rgb(255, 0, 0), rgb(tpl, tpl, tpl), rgb(255, 0, 0)}));
    v->isOK = true;
    v->TimerShowAlarm();
    QVERIFY(!v->alarmTimer->isActive());
    QCOMPARE(v->overlayMode, 0);
    gSource = -1;

    // Nothing painted for a view beyond the cameras in use.
    numCamera = 0;
    img = v->grab().toImage();
    QVERIFY(px(img, 200, 200) != rgb(255, 0, 0) && px(img, 50, 50) != rgb(100, 100, 100));
}

void TstView::headerFitsAGridCell()
{
    // Eight views at 1024 x 768, a quarter of the screen wide each: the
    // counters end short of the right edge, where the next view's status
    // line starts.
    gShowW = 1024;
    gShowH = 768;
    gLan = 0;
    CammerWidget* v = view("VIEW-MONO-0001", 0);
    v->resize(256, 384);
    v->setWinSW();
    v->setWinSH();
    std::memset(v->displayBuffer.data(), 100, v->displayBuffer.size());
    v->fps = 10;
    m_state->detectState = 2;
    const QImage img = v->grab().toImage();
    auto green = [&](const QRect& r) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += qGreen(img.pixel(x, y)) > 150 && qRed(img.pixel(x, y)) < 100;
        return n;
    };
    QVERIFY(green(QRect(128, 0, 110, 24)) > 0);
    QCOMPARE(green(QRect(251, 0, 5, 24)), 0);
}

// A live view repainted again and again on the 1280 x 800 screen (status
// line, counters and the big verdict under its uneven scale) looks the same
// once its lines are laid on from their images as when they were drawn in
// place.
void TstView::repaintedTextsLookTheSame()
{
    CammerWidget* v = view("VIEW-MONO-0001", 0);
    v->resize(gShowW / 2, gShowH);
    v->setWinSW();
    v->setWinSH();
    std::memset(v->displayBuffer.data(), 100, v->displayBuffer.size());
    v->fps = 10;
    m_state->detectState = 1;
    v->isOK = true;
    const QImage inPlace = v->grab().toImage();
    for (int n = 0; n < ShapedText::kDrawsBeforeKept; ++n)
        v->grab();
    QCOMPARE(v->grab().toImage(), inPlace);
}

void TstView::paintColoursCaptionsAndCountdown()
{
    CammerWidget* v = view("VIEW-MONO-0001", 0);
    v->resize(gShowW, gShowH);
    CammerSingleton* s = v->liveStore;
    s->roiCount[0] = 2;
    for (int r = 0; r < 2; ++r)
        putRect(v, s, r, QRect(QPoint(100 + 500 * r, 300), QPoint(400 + 500 * r, 600)), r == 0 ? 2 : 0);
    // The colours along the top edge of the two boxes as painted now.
    auto colours = [&](int x1, int x2) {
        const QImage img = v->grab().toImage();
        QSet<QRgb> c;
        for (int x = x1; x <= x2; ++x)
            c << px(img, x, 300);
        return c;
    };
    m_state->detectState = 0;
    QVERIFY(colours(200, 300).contains(rgb(255, 255, 0)));
    QVERIFY(colours(700, 800).contains(QColor(Qt::darkBlue).rgb() & 0xFFFFFF));
    m_state->detectState = 1;
    v->roiResult[0][1] = 0;
    v->isOK = false;
    QVERIFY(colours(200, 300).contains(rgb(255, 255, 0)));
    QVERIFY(colours(700, 800).contains(rgb(255, 0, 0)));

    // Captions: long form up to 36 regions, short from 37.
    v->roiValue[0][1] = 42;
    s->roiCount[0] = 36;
    QCOMPARE(v->roiCaption(s, 0, 1, false), QString("2: 100 / 42 "));
    s->paramA[1] = 7;
    QCOMPARE(v->roiCaption(s, 0, 1, true), QString("2: 7, 100, 3 / 42 "));
    s->roiCount[0] = 37;
    QCOMPARE(v->roiCaption(s, 0, 1, false), QString("2: 42"));
    s->roiCount[0] = 2;
    // A defect region the engine could not train says so where it is set.
    v->roiTrainStatus[0][1] = TrainStatus::Untextured;
    QCOMPARE(v->roiCaption(s, 0, 1, true), QString("2: 7, 100, 3 / 42 ") + MessageTable::text(782));
    QCOMPARE(v->roiCaption(s, 0, 1, false), QString("2: 100 / 42 "));
    v->roiTrainStatus[0][1] = TrainStatus::Trained;
    QCOMPARE(v->roiCaption(s, 0, 1, true), QString("2: 7, 100, 3 / 42 "));

    // The countdown: the first running delay decides, shown above 0.02 s.
    m_state->delayActive[0] = true;
    m_state->delaySeconds[0] = 0.02f;
    m_state->delayActive[1] = true;
    m_state->delaySeconds[1] = 4.5f;
    QCOMPARE(v->countdownText(), QString());
    m_state->delaySeconds[0] = 1.23456f;
    QCOMPARE(v->countdownText(), QString("1.23"));
    m_state->delayActive[0] = false;
    QCOMPARE(v->countdownText(), QString("4.5"));
}

void TstView::readoutOutsideTheImage()
{
    CammerWidget* v = view("VIEW-COLOR-0003", 2);
    const quint32 pixel = 0x00123456;
    std::memcpy(v->displayBuffer.data() + (10 * 640 + 20) * 4, &pixel, 4);
    v->MUpdateXYV(40, 20); // screen 1280 x 800 over 640 x 480
    QCOMPARE(m_state->readoutX, 20);
    QCOMPARE(m_state->readoutY, 12);
    m_state->readoutValue = 7;
    v->MUpdateXYV(40, 17);
    QCOMPARE(m_state->readoutValue, pixel);
    m_state->readoutValue = 7;
    for (QPoint p : {QPoint(-5, 10), QPoint(5000, 10), QPoint(10, 100000)}) {
        v->MUpdateXYV(p.x(), p.y());
        QCOMPARE(m_state->readoutValue, 7u);
    }
    // A touch on the template page gives the colour readout its colour.
    v->setGeometry(0, 0, gShowW, gShowH);
    v->editStore->assignFrom(*v->liveStore);
    m_state->curCamera = m_state->editCamera = 2;
    gSource = 0;
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(40, 17));
    QCOMPARE(m_state->touchColor, 0x123456u);
}

void TstView::openPartsShowTheWindow()
{
    // The window lays no background under a view: where a view's paint
    // leaves the view open (a record page without records, a frame zoomed
    // out) the window's background shows all the same, and a live frame
    // covers the whole view.
    QPalette pal = m_host->palette();
    pal.setColor(QPalette::Window, QColor(0x20, 0x40, 0x60));
    m_host->setPalette(pal);
    const QRgb under = rgb(0x20, 0x40, 0x60);
    CammerWidget* v = view("VIEW-MONO-0001", 0);
    v->setGeometry(100, 50, 640, 400);
    v->show();
    v->CameraChangeTrig(true);
    v->camera->setValue(QString("trigger"), 100);
    gSource = 1;
    QVERIFY(v->UpdateImage());
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host));
    // Probes inside the view, off its texts, on the screen (the window's
    // backing store): the first one in its top-left quarter, the others
    // outside it.
    auto probes = [&] {
        v->repaint();
        const QImage img = m_host->screen()->grabWindow(m_host->winId()).toImage();
        QList<QRgb> got;
        for (QPoint p : {QPoint(300, 180), QPoint(1, 399), QPoint(400, 250), QPoint(639, 399), QPoint(639, 100)})
            got << px(img, 100 + p.x(), 50 + p.y());
        return got;
    };
    const QList<QRgb> live = probes();
    QVERIFY2(!live.contains(under), "the live frame covers the view");
    gSource = 3; // the record page, no record yet
    QCOMPARE(probes(), QList<QRgb>({under, under, under, under, under}));
    gSource = 1;
    m_state->editCamera = 0;
    m_state->zoomFactor = 0.5; // the frame in the view's top-left quarter
    const QList<QRgb> zoomed = probes();
    QVERIFY(zoomed.first() != under);
    QCOMPARE(zoomed.mid(1), QList<QRgb>({under, under, under, under}));
    m_state->zoomFactor = 1.0;
    QCOMPARE(probes(), live);
}

void TstView::renderScreens()
{
    // The live view and its parameter panels; the alarm, recent-NG and record
    // screens come from the editor's test, the camera grid from the main
    // window's.
    const QString dir = qEnvironmentVariable("STATION_RENDER_DIR");
    if (dir.isEmpty())
        QSKIP("screenshots only when STATION_RENDER_DIR is set");
    QDir().mkpath(dir);
    for (QSize screen : {QSize(1024, 768), QSize(1280, 800)}) {
        for (int lan : {1, 0}) {
            gShowW = screen.width();
            gShowH = screen.height();
            gLan = lan;
            m_host->resize(screen);
            const QString tag = QString("%1x%2-%3").arg(gShowW).arg(gShowH).arg(lan == 1 ? "en" : "zh");
            auto save = [&](QWidget* w, const QString& name) {
                QVERIFY(w->grab().save(QString("%1/%2-%3.png").arg(dir, name, tag)));
            };
            gSource = 1;
            gpWPara->exposeTime[0] = 30;
            gpWPara->adjustPlus[0] = 32;
            CammerWidget* v = view("VIEW-MONO-0001", 0);
            v->CameraChangeTrig(true);
            v->camera->setValue(QString("trigger"), 100);
            QVERIFY(v->UpdateImage());
            v->setGeometry(0, 0, gShowW, gShowH);
            v->show();
            CammerSingleton* s = v->liveStore;
            const QRect boxes[4] = {QRect(QPoint(150, 200), QPoint(450, 420)), QRect(QPoint(550, 250), QPoint(800, 480)),
                                    QRect(QPoint(300, 480), QPoint(520, 640)), QRect(QPoint(700, 520), QPoint(950, 650))};
            const int types[4] = {0, 1, 2, 9};
            const int params[4][3] = {{45, 100, 3}, {80, 500, 7690}, {0, 0, 30}, {(120 << 16) | 10, (200 << 16) | 20, (90 << 16) | 5}};
            s->roiCount[0] = 4;
            for (int r = 0; r < 4; ++r) {
                putRect(v, s, r, boxes[r], types[r]);
                s->paramA[r] = params[r][0];
                s->paramB[r] = params[r][1];
                s->paramC[r] = params[r][2];
                v->roiResult[0][r] = 1;
                v->roiValue[0][r] = 10 * r + 3;
            }
            m_state->detectState = m_state->runState = 1;
            m_state->progressState = 2;
            v->isOK = true;
            save(v, "live-ok");

            gSource = 0;
            m_state->detectState = 3;
            gpWPara->useSpot = gpWPara->useColorSpots = gpWPara->useIgnoreArea = 1;
            v->editStore->assignFrom(*s);
            for (int r : {1, 3}) {
                v->DeselectROI();
                v->setCurRoi(r);
                v->editStore->rects[r].SetSelected(true);
                v->ShowHideROIPara();
                v->moveToggle->setChecked(r == 3);
                save(v, QString("edit-type%1").arg(types[r]));
            }

            qDeleteAll(m_views);
            m_views.clear();
        }
    }
}

QTEST_MAIN(TstView)
#include "tst_view.moc"

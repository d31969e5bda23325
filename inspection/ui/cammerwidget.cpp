#include "inspection/ui/cammerwidget.h"
#include "inspection/cammerrecong.h"
#include "inspection/viewimages.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/wizardpara.h"
#include "inspection/cameramanager.h"
#include "inspection/camerainterface.h"
#include "inspection/roipanellogic.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/slider.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>

#include <glog/logging.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

QString msg(int n)
{
    return MessageTable::text(n);
}

int isqrt(int v)
{
    return v > 0 ? int(std::sqrt(double(v))) : 0;
}

} // namespace

CammerWidget::CammerWidget(QWidget* parent, int index, _cameraInfo info)
    : QWidget(parent)
{
    attachView(*this);
    // 1. Scales, masks and flags; the view starts hidden.
    cameraIndex = index;
    cameraTypeName = info.typeName;
    isConnected = true;
    isSimCamera = true;
    camera = nullptr;
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    // The live frame covers the view: the window does not fill its
    // background under it first (a fill as large as the frame, at every
    // frame). Paints that leave part of the view open lay that background
    // themselves (paintUnderlay).
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();

    // 2. The camera.
    CameraManager* manager = CameraManager::getInstance();
    const QByteArray sn = info.serial().toUtf8();
    std::memset(serialNumber, 0, sizeof serialNumber);
    std::memcpy(serialNumber, sn.constData(), std::min<size_t>(sn.size(), sizeof serialNumber - 1));
    cameraTypeName = info.typeName;
    isColor = gpWPara && index >= 0 && index < 8 && gpWPara->isColors[index] != 0;
    camera = manager->createCamera(info);
    if (camera)
        CameraOpen();
    if (!isOpen)
        return;

    // 3. Loss reports may come from the plug-in's own thread.
    connect(camera, SIGNAL(sigCameraLost()), this, SLOT(SlotLoss()));
    isSimCamera = camera->kind() == 0;

    // 4.-6. Buffers and controls.
    allocateBuffers();
    buildControls();
    defectMask.allocate(size_t(pixelCount));
    overlayMode = 0;
    isOK = true;

    // 7.-9. Templates and recent NG images of every prepared detection.
    prepareDetections();

    // 10. Ignore masks, stores and the engine over the live store.
    ViewImages(*this).LoadIgnorePoint();
    liveStore = new CammerSingleton(cameraIndex, this);
    liveStore->LoadDatafromFile(this);
    editStore = new CammerSingleton(cameraIndex, this);
    recong = new CammerRecong(liveStore, this);
    HotCameraUpdateROI();
    CameraStart();
    initSetting();

    // 11. Timers.
    alarmTimer = new QTimer(this);
    connect(alarmTimer, &QTimer::timeout, this, &CammerWidget::TimerShowAlarm);
    fpsTimer = new QTimer(this);
    connect(fpsTimer, &QTimer::timeout, this, &CammerWidget::TimerFPS);
    fpsTimer->start(1000);

    // 12. Panel state.
    paramToggle = false;
    moveMode = 0;
    setCurRoi(-1);
    ShowHideROIPara(); // captions of a panel without selection
    connect(this, &CammerWidget::clicked, this, &CammerWidget::SlotCheckDoubleClicked);
}

void CammerWidget::setCoveredRight(int px)
{
    px = std::max(0, px);
    if (px != m_coveredRight) {
        m_coveredRight = px;
        update();
    }
}

CammerWidget::~CammerWidget()
{
    // In the station a view lives until the process ends; tests build and
    // drop views, so the camera and the stores go with the view.
    if (camera) {
        if (isOpen) {
            camera->stop();
            camera->close();
        }
        delete camera;
    }
    delete recong; // works on the live store: goes first
    delete liveStore;
    delete editStore;
}

void CammerWidget::allocateBuffers()
{
    if (isColor)
        grayBuffer.allocate(size_t(pixelCount));
    displayBuffer.allocate(size_t(frameBytes));
    imageBits.allocate(size_t(pixelCount) * 4);
    displayImage = QImage(imageBits.data(), imageWidth, imageHeight, imageWidth * 4, QImage::Format_RGB32);
    frameBuffer.allocate(size_t(frameBytes));
    workFrame.allocate(size_t(frameBytes));
    alignedFrame.allocate(size_t(frameBytes));
    lastRoi = -1;
    handleIndex = -1;
    editState = 0;
    shapeBackup = false;
    drawPointCount = 0;
    polygonEditing = isPressed = false;
}

void CammerWidget::buildControls()
{
    sliderC = new Slider(0, 10, 1, 25, this, QString());
    connect(sliderC, &Slider::valueChanged, this, &CammerWidget::SlotMinWH);
    sliderA = new Slider(0, 100, 1, 25, this, QString());
    connect(sliderA, &Slider::valueChanged, this, &CammerWidget::SlotSensitivity);
    sliderB = new Slider(0, 1000, 1, 50, this, QString());
    connect(sliderB, &Slider::valueChanged, this, &CammerWidget::SlotArea);

    funcLabel = new QLabel(msg(2), this);
    QFont f("wqy-microhei");
    f.setPixelSize(30);
    funcLabel->setFont(f);
    QPalette pal = funcLabel->palette();
    for (int g = 0; g < QPalette::NColorGroups; ++g)
        pal.setColor(QPalette::ColorGroup(g), QPalette::WindowText, Qt::green);
    funcLabel->setPalette(pal);

    funcButton = new ColorButton(QString(), this, 3);
    connect(funcButton, &QPushButton::clicked, this, &CammerWidget::SlotChangeFunc);
    paramSwitchButton = new ColorButton(msg(3), this, 3);
    connect(paramSwitchButton, &QPushButton::clicked, this, &CammerWidget::SlotChangeParaShow);

    outCombo = new ComboBox(this);
    for (int i = 0; i < 4; ++i)
        outCombo->addItem(QString("N%1").arg(i + 1), i);
    QFont cf("wqy-microhei");
    cf.setPixelSize(20);
    outCombo->setFont(cf);
    outCombo->setItemHeight(50);
    connect(outCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &CammerWidget::SlotOutN);

    roiSwitchButton = new ColorButton(msg(4), this, 3);
    connect(roiSwitchButton, &QPushButton::clicked, this, &CammerWidget::SlotNextROI);
    objectButton = new ColorButton(QString(), this, 3);
    connect(objectButton, &QPushButton::clicked, this, &CammerWidget::SlotChangeObject);
    void (CammerWidget::*sizeSlots[4])() = {&CammerWidget::SlotAdd10, &CammerWidget::SlotAdd1,
                                            &CammerWidget::SlotSub1, &CammerWidget::SlotSub10};
    for (int i = 0; i < 4; ++i) {
        sizeButtons[i] = new ColorButton(QString(), this, 3);
        sizeButtons[i]->SetRepeat();
        connect(sizeButtons[i], &QPushButton::clicked, this, sizeSlots[i]);
    }

    genButton = new ColorButton(tr("生成区域"), this, 3);
    connect(genButton, &QPushButton::clicked, this, &CammerWidget::SlotGenROI);
    syncRoiButton = new ColorButton(msg(709), this, 3);
    connect(syncRoiButton, &QPushButton::clicked, this, &CammerWidget::SlotSyncROI);
    syncParamButton = new ColorButton(msg(709), this, 4);
    connect(syncParamButton, &QPushButton::clicked, this, &CammerWidget::SlotSyncParam);
    moveToggle = new ColorButton(msg(5), this, 4);
    moveToggle->setCheckable(true);
    connect(moveToggle, &QPushButton::toggled, this, [this](bool) { ShowHideROIPara(); });
    void (CammerWidget::*moveSlots[4])() = {&CammerWidget::SlotMoveT, &CammerWidget::SlotMoveB,
                                            &CammerWidget::SlotMoveL, &CammerWidget::SlotMoveR};
    for (int i = 0; i < 4; ++i) {
        moveButtons[i] = new ColorButton(msg(5 + i), this, 4);
        moveButtons[i]->SetRepeat();
        connect(moveButtons[i], &QPushButton::clicked, this, moveSlots[i]);
    }
    moveAllButton = new ColorButton(QString(), this, 4);
    connect(moveAllButton, &QPushButton::clicked, this, &CammerWidget::SlotMoveAll);

    placeBottomRow();
    fitCaptions();

    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        w->hide();
}

void CammerWidget::prepareDetections()
{
    const int n = (gpWPara && gpWPara->systemMode == 3) ? 8 : std::clamp(gDNum, 0, kDetections);
    if (n == 0)
        return;
    if (gpWin && cameraIndex >= 0 && cameraIndex < 8)
        std::fill(std::begin(gpWin->viewFlags[cameraIndex]), std::end(gpWin->viewFlags[cameraIndex]), 0);
    const int slotCount = std::max(gTempNum, 0);
    for (int d = 0; d < n; ++d) {
        templateImages[d].clear();
        templateImages[d].resize(size_t(slotCount));
        templateValid[d].assign(size_t(slotCount), 0);
        templateCount[d] = 0;
        int missing = 0;
        for (int t = 0; t < slotCount; ++t) {
            templateImages[d][size_t(t)].allocate(size_t(frameBytes));
            const QString file = QString("./cammer%1%2/template%3.bmp").arg(cameraIndex + 1).arg(d + 1).arg(t);
            if (!QFile::exists(file))
                ++missing;
            else
                loadTemplate(d, t);
        }
        // A factory set-up has none: nothing is wrong until resampling.
        if (missing == slotCount && slotCount > 0)
            LOG(INFO) << "camera " << cameraIndex + 1 << " detection " << d + 1
                      << ": no template sampled yet (resampling takes them)";
        else if (missing)
            LOG(INFO) << "camera " << cameraIndex + 1 << " detection " << d + 1 << ": " << missing << " of " << slotCount
                      << " template files missing";
        // Slot 0 always holds a template: a bright centre half when none was taught.
        if (slotCount > 0 && !templateValid[d][0] && !templateImages[d][0].isNull()) {
            uchar* p = templateImages[d][0].data();
            const int w = imageWidth, h = imageHeight, bpp = isColor ? 4 : 1;
            for (int y = h / 4; y <= 3 * (h / 4) && y < h; ++y)
                std::memset(p + (size_t(y) * w + w / 4) * bpp, 255,
                            size_t(std::min(3 * (w / 4), w - 1) - w / 4 + 1) * bpp);
            templateValid[d][0] = 1;
            ++templateCount[d];
        }
        // Recent NG frames: memory only once one is kept.
        recentNgImages[d].clear();
        recentNgImages[d].resize(kRecentNg);
        for (PixelBuffer& b : recentNgImages[d])
            b.allocate(size_t(frameBytes));
        recentNgCount[d] = 0;
        recentNgIndex[d] = 0;
    }
}

void CammerWidget::loadTemplate(int d, int t)
{
    if (ViewImages(*this).LoadTemplateImage(d, t))
        ++templateCount[d];
}

// The editor's detection: the inspections move the current one meanwhile.
int CammerWidget::detect() const
{
    const int d = gpWin ? gpWin->editDetect : 0;
    return std::clamp(d, 0, kDetections - 1);
}

bool CammerWidget::curRoiValid() const
{
    return editStore && curRoi >= 0 && curRoi < editStore->roiCount[detect()] && curRoi < kRois;
}

QRect CammerWidget::frameBox(const CammerSingleton* store, int i) const
{
    QRect r;
    switch (store->shapeKind[i]) {
    case 2: r = store->polygons[i].imageBoundRect; break;
    case 4: r = store->circles[i].imageRect; break;
    default: r = store->rects[i].imageRect; break;
    }
    return r.normalized().intersected(QRect(0, 0, imageWidth, imageHeight));
}

void CammerWidget::runLiveTest()
{
    if (!recong || !gpWin || curRoi < 0)
        return;
    recong->RunTest(detect(), curRoi);
    update();
}

// ---------------------------------------------------------------- panel

int CammerWidget::GetFuncInitParam(int type, int& a, int& b, int& c)
{
    return RoiPanelLogic::GetFuncInitParam(type, a, b, c);
}

void CammerWidget::ShowHideROIPara()
{
    if (!sliderA)
        return; // a view without camera has no panel
    testShown = false;
    syncRoiButton->setVisible(gSource == 0);
    genButton->setVisible(gSource == 0);
    placeBottomRow();

    QWidget* panel[] = {sliderA, sliderB, sliderC, funcLabel, funcButton, paramSwitchButton, objectButton,
                        sizeButtons[0], sizeButtons[1], sizeButtons[2], sizeButtons[3], roiSwitchButton,
                        syncParamButton, outCombo};
    if (!curRoiValid()) {
        for (QWidget* w : panel)
            w->hide();
        moveToggle->blockSignals(true);
        moveToggle->setChecked(false);
        moveToggle->blockSignals(false);
        moveToggle->hide();
        for (ColorButton* b : moveButtons)
            b->hide();
        moveAllButton->hide();
        moveMode = 0;
        objectIndex = 0;
        moveAllButton->setText(msg(12));
        fitCaptions();
        update();
        return;
    }

    const int d = detect();
    const int i = d * kRois + curRoi;
    const int t = editStore->funcType[i];
    if (moveMode != 0) {
        for (QWidget* w : panel)
            w->hide();
    } else {
        const RoiPanelLogic::Visibility vis = RoiPanelLogic::sliderVisibility(t, gpWPara && gpWPara->showAllParam);
        sliderA->setVisible(vis.a);
        sliderB->setVisible(vis.b);
        sliderC->setVisible(vis.c);
        if (gpWPara && RoiPanelLogic::anyExtraTypeEnabled(*gpWPara)) {
            funcButton->show();
            funcLabel->show();
        }
        objectButton->show();
        for (ColorButton* b : sizeButtons)
            b->show();
        roiSwitchButton->show();
        syncParamButton->show();
        if (d == 0 && gpWPara && gpWPara->ejectorPulseProdNG) {
            outCombo->blockSignals(true);
            outCombo->setCurrentIndex(std::clamp(editStore->outN[curRoi], 0, 3));
            outCombo->blockSignals(false);
            outCombo->show();
        } else {
            outCombo->hide();
        }
        placePanel(t);
    }

    // Slider resets: a reset that moves a value writes the clamped value back.
    paramToggle = false;
    RoiPanelLogic::SliderSetup s[3];
    RoiPanelLogic::sliderSetups(t, editStore->paramA[i], editStore->paramB[i], editStore->paramC[i], s);
    Slider* sliders[3] = {sliderA, sliderB, sliderC};
    for (int k = 0; k < 3; ++k)
        sliders[k]->Reset(s[k].min, s[k].max, 1, s[k].value, msg(s[k].message));
    funcButton->setText(msg(RoiPanelLogic::typeCaption(t)));

    moveToggle->show();
    const bool moving = moveToggle->isChecked();
    moveToggle->setText(msg(moving ? 749 : 750));
    for (ColorButton* b : moveButtons)
        b->setVisible(moving);
    moveAllButton->setVisible(moving);

    paramSwitchButton->setVisible(moveMode == 0 && (t == 1 || t == 7 || t == 8 || t == 9));

    const int kind = editStore->shapeKind[i];
    static const char* const ringSteps[4] = {"+10", "+1", "-1", "-10"};
    static const char* const pointSteps[4] = {"Y -1", "X -1", "Y +1", "X +1"};
    const bool ringSize = kind == 4 && (objectIndex == 0 || objectIndex == 1);
    for (int k = 0; k < 4; ++k)
        sizeButtons[k]->setText(ringSize ? ringSteps[k] : pointSteps[k]);
    if (kind == 4)
        objectButton->setText(msg(objectIndex == 0 ? 26 : objectIndex == 2 ? 27 : 28));
    else if (kind == 2)
        objectButton->setText(msg(31).arg(objectIndex + 1));
    else
        objectButton->setText(msg(objectIndex == 1 ? 29 : 30));
    fitCaptions();
    update();
}

void CammerWidget::fitCaptions()
{
    ColorButton* row[] = {funcButton, paramSwitchButton, roiSwitchButton, objectButton,
                          sizeButtons[0], sizeButtons[1], sizeButtons[2], sizeButtons[3]};
    for (ColorButton* b : row)
        b->fitCaption();
    // The bottom row is tall enough for two lines, and narrow on small screens.
    ColorButton* bottom[] = {genButton, syncRoiButton, syncParamButton, moveToggle, moveButtons[0],
                             moveButtons[1], moveButtons[2], moveButtons[3], moveAllButton};
    for (ColorButton* b : bottom)
        b->fitCaptionOnLines();
}

std::pair<int, int> CammerWidget::controlSpan() const
{
    constexpr int kMargin = 4, kGap = 5;
    int left = kMargin, right = gShowW - 1 - kMargin;
    // While the editor is open its panel stands at one side of the screen,
    // over the view; a control of the view under it could not be touched.
    auto* panel = gpWin && gSource >= 0 ? qobject_cast<QWidget*>(gpWin->roiEditor) : nullptr;
    if (panel && panel->parentWidget() == parentWidget()) {
        const QRect at = panel->geometry().translated(-pos());
        if (at.center().x() > gShowW / 2)
            right = std::min(right, at.left() - kGap);
        else
            left = std::max(left, at.right() + 1 + kGap);
    }
    return {left, right};
}

void CammerWidget::placeBottomRow()
{
    // Wider than small screens: kept on the screen and off the editor panel.
    const auto [left, right] = controlSpan();
    const QVector<QRect> row = RoiPanelLogic::fitRow(RoiPanelLogic::bottomRow(gShowH), left, right);
    QWidget* bottom[9] = {genButton, syncRoiButton, syncParamButton, moveToggle, moveButtons[0],
                          moveButtons[1], moveButtons[2], moveButtons[3], moveAllButton};
    for (int i = 0; i < 9; ++i)
        bottom[i]->setGeometry(row[i]);
}

void CammerWidget::placeControls()
{
    if (!sliderA)
        return;
    placeBottomRow();
    if (curRoiValid() && moveMode == 0)
        placePanel(editStore->funcType[detect() * kRois + curRoi]);
    fitCaptions();
    // The texts over the picture keep beside the panel too: the whole view
    // again, not only what the panel uncovered.
    update();
}

void CammerWidget::placePanel(int t)
{
    const int i = detect() * kRois + curRoi;
    const RoiPanelLogic::Visibility vis = RoiPanelLogic::sliderVisibility(t, gpWPara && gpWPara->showAllParam);
    RoiPanelLogic::RoiExtent ext;
    ext.kind = editStore->shapeKind[i];
    QRect box;
    if (ext.kind == 2) {
        const RePolygon& pg = editStore->polygons[i];
        box = pg.imageBoundRect;
        const int n = std::clamp(pg.count, 0, RePolygon::kMaxPoints);
        for (int k = 0; k < n; ++k)
            ext.polygonYs.append(pg.points[k].y());
    } else if (ext.kind == 4) {
        const Circle& c = editStore->circles[i];
        box = c.imageRect;
        ext.ringRadius = c.radius;
        ext.ringCenterY = c.cy;
    } else {
        box = editStore->rects[i].imageRect;
    }
    ext.top = int(box.top() * roiScaleY);
    ext.bottom = int((box.bottom() + 1) * roiScaleY);
    int y = RoiPanelLogic::panelTop(ext, vis.rows(), gShowH);

    // Never under the bottom row, nor over the top lines of the view.
    const int height = std::max(vis.rows(), 1) * 50 + 45;
    const int top = editorHeaderBottom();
    y = std::clamp(y, top, std::max(top, gShowH - 86 - height));

    // The button row keeps to the part of the screen the editor panel
    // leaves; the sliders above it move with it and end where it ends.
    const auto [left, right] = controlSpan();
    const QVector<QRect> designed = RoiPanelLogic::buttonRow(0, gLan == 3);
    const QVector<QRect> row = RoiPanelLogic::fitRow(designed, left, right);
    const int shift = row.first().left() - designed.first().left();
    const int sliderLeft = row.first().left();
    const int sliderRight = std::min(std::min(gShowW / 2 + 424, gShowW - 5) + shift, right);
    int rowY = y;
    int last = y - 50;
    Slider* sliders[3] = {sliderA, sliderB, sliderC};
    const bool shown[3] = {vis.a, vis.b, vis.c};
    for (int k = 0; k < 3; ++k) {
        if (!shown[k])
            continue;
        rowY = last + 50;
        sliders[k]->setGeometry(QRect(QPoint(sliderLeft, rowY), QPoint(sliderRight, rowY + 44)));
        last = rowY;
    }
    const int buttonY = (vis.rows() ? last + 50 : y);
    QWidget* controls[10] = {funcLabel, funcButton, paramSwitchButton, outCombo, roiSwitchButton, objectButton,
                             sizeButtons[0], sizeButtons[1], sizeButtons[2], sizeButtons[3]};
    for (int k = 0; k < 10; ++k)
        controls[k]->setGeometry(row[k].translated(0, buttonY));
}

void CammerWidget::SlotChangeFunc()
{
    if (!curRoiValid() || !gpWPara)
        return;
    const int i = detect() * kRois + curRoi;
    const int t = RoiPanelLogic::nextEnabledType(editStore->funcType[i], *gpWPara);
    if (t < 0)
        return;
    int a = 0, b = 0, c = 0;
    GetFuncInitParam(t, a, b, c);
    editStore->paramA[i] = a;
    editStore->paramB[i] = b;
    editStore->paramC[i] = c;
    editStore->funcType[i] = t;
    ShowHideROIPara();
    paramToggle = false;
}

void CammerWidget::SlotChangeParaShow()
{
    if (!curRoiValid())
        return;
    paramToggle = !paramToggle;
    const int i = detect() * kRois + curRoi;
    RoiPanelLogic::SliderSetup s[3];
    int which[3];
    const int n = RoiPanelLogic::toggleSetups(editStore->funcType[i], paramToggle, editStore->paramA[i],
                                              editStore->paramB[i], editStore->paramC[i], s, which);
    Slider* sliders[3] = {sliderA, sliderB, sliderC};
    for (int k = 0; k < n; ++k)
        sliders[which[k]]->Reset(s[k].min, s[k].max, 1, s[k].value, msg(s[k].message));
    update();
}

void CammerWidget::SlotSensitivity(int v)
{
    if (!curRoiValid())
        return;
    const int i = detect() * kRois + curRoi;
    const int t = editStore->funcType[i];
    if (t == 9) {
        editStore->paramA[i] = RoiPanelLogic::withWordHalf(editStore->paramA[i], paramToggle, v);
    } else {
        editStore->paramA[i] = v;
        if (t == 1) {
            gDrawHint = isqrt(v);
            if (gpWin)
                gpWin->startHintTimer(3000);
        }
    }
    runLiveTest();
}

void CammerWidget::SlotArea(int v)
{
    if (!curRoiValid())
        return;
    const int i = detect() * kRois + curRoi;
    const int t = editStore->funcType[i];
    gDrawHint = 0;
    if (t == 7 || t == 8 || t == 9) {
        editStore->paramB[i] = RoiPanelLogic::withWordHalf(editStore->paramB[i], paramToggle, v);
    } else {
        editStore->paramB[i] = v;
        gDrawHint = isqrt(v);
        if (gpWin)
            gpWin->startHintTimer(3000);
    }
    runLiveTest();
}

void CammerWidget::SlotMinWH(int v)
{
    if (!curRoiValid())
        return;
    const int i = detect() * kRois + curRoi;
    const int t = editStore->funcType[i];
    if (t == 1) {
        editStore->paramC[i] = RoiPanelLogic::withByteHalf(editStore->paramC[i], paramToggle, v);
    } else if (t == 9) {
        editStore->paramC[i] = RoiPanelLogic::withWordHalf(editStore->paramC[i], paramToggle, v);
    } else {
        editStore->paramC[i] = v;
        gDrawHint = v;
        if (gpWin)
            gpWin->startHintTimer(3000);
    }
    runLiveTest();
}

void CammerWidget::SlotOutN(int n)
{
    if (detect() != 0 || !curRoiValid())
        return;
    editStore->outN[curRoi] = n;
}

void CammerWidget::SlotNextROI()
{
    if (!editStore)
        return;
    const int d = detect();
    const int count = std::clamp(editStore->roiCount[d], 0, int(kRois));
    for (int k = 1; k <= count; ++k) {
        const int r = ((curRoi < 0 ? -1 : curRoi) + k) % count;
        const int i = d * kRois + r;
        QPoint p = touchPoint;
        int code = -1;
        bool hit = false;
        switch (editStore->shapeKind[i]) {
        case 2: hit = editStore->polygons[i].Contains(p) || editStore->polygons[i].PtInCtrl(p, &code); break;
        case 4: hit = editStore->circles[i].Contains(p) || editStore->circles[i].PtInCtrl(p, &code); break;
        default: hit = editStore->rects[i].Contains(p) || editStore->rects[i].PtInCtrl(p, &code); break;
        }
        if (!hit || r == curRoi)
            continue;
        DeselectROI();
        setCurRoi(r);
        switch (editStore->shapeKind[i]) {
        case 2:
            labelPos = editStore->polygons[i].points[0] - QPoint(0, 26);
            editStore->polygons[i].SetSelected(true);
            break;
        case 4:
            labelPos = editStore->circles[i].rect.topLeft() - QPoint(0, 26);
            editStore->circles[i].SetSelected(true);
            break;
        default:
            labelPos = editStore->rects[i].rect.topLeft() - QPoint(0, 26);
            editStore->rects[i].SetSelected(true);
            break;
        }
        ShowHideROIPara();
        update();
        return;
    }
}

void CammerWidget::SlotChangeObject()
{
    if (!curRoiValid())
        return;
    const int i = detect() * kRois + curRoi;
    int limit = 2;
    if (editStore->shapeKind[i] == 4)
        limit = 3;
    else if (editStore->shapeKind[i] == 2)
        limit = std::max(1, editStore->polygons[i].count);
    objectIndex = (objectIndex + 1 >= limit) ? 0 : objectIndex + 1;
    ShowHideROIPara();
    update();
}

void CammerWidget::SlotMoveAll()
{
    if (curRoiValid()) {
        moveMode = (moveMode + 1) % 3;
        moveAllButton->setText(msg(moveMode == 1 ? 32 : moveMode == 2 ? 34 : 12));
    }
    ShowHideROIPara();
}

void CammerWidget::SlotSyncParam()
{
    if (curRoiValid())
        editStore->syncParam(curRoi);
}

void CammerWidget::SlotSyncROI()
{
    if (editStore)
        editStore->copyParam(detect());
}

void CammerWidget::updateSyncROIText(int d)
{
    if (!liveStore || !syncRoiButton)
        return;
    int to = 0;
    liveStore->getCopyParamIndex(d, to);
    QString fromText, toText;
    liveStore->getCopyParamDescri(d, to, fromText, toText);
    syncRoiButton->setText(tr("同步至\n%1").arg(toText));
    syncRoiButton->fitCaptionOnLines();
}

void CammerWidget::CopyPara()
{
    if (!liveStore || !gpWPara)
        return;
    const int mode = gpWPara->systemMode;
    if (mode == 1 || mode == 2) {
        liveStore->copyDetection(1, 3, liveMasks);
        liveStore->copyDetection(0, 2, liveMasks);
    } else if (mode == 0) {
        liveStore->copyDetection(0, 1, liveMasks);
    }
}

void CammerWidget::TimerFPS()
{
    if (camera && isOpen)
        camera->fps(&fps);
}

void CammerWidget::TimerShowAlarm()
{
    if (shownOK()) {
        overlayMode = 0;
        if (alarmTimer)
            alarmTimer->stop();
    } else if (overlayMode == 0 || overlayMode == 1) {
        overlayMode = overlayMode == 1 ? 0 : 1;
    }
    update();
}

void CammerWidget::MUpdateXYV(int x, int y)
{
    if (!gpWin)
        return;
    const double zoom = gpWin->zoomFactor > 0 ? gpWin->zoomFactor : 1.0;
    const double sx = double(gShowW) * zoom, sy = double(gShowH) * zoom;
    const int ix = sx > 0 ? int((x - gpWin->zoomOffset.x()) * imageWidth / sx) : -1;
    const int iy = sy > 0 ? int((y - gpWin->zoomOffset.y()) * imageHeight / sy) : -1;
    gpWin->readoutX = ix;
    gpWin->readoutY = iy;
    if (ix < 0 || iy < 0 || ix >= imageWidth || iy >= imageHeight || displayBuffer.isNull())
        return;
    const size_t at = size_t(iy) * size_t(imageWidth) + size_t(ix);
    if (isColor) {
        if ((at + 1) * 4 <= displayBuffer.size()) {
            quint32 v;
            std::memcpy(&v, std::as_const(displayBuffer).data() + at * 4, 4);
            gpWin->readoutValue = v;
        }
    } else if (at < displayBuffer.size()) {
        gpWin->readoutValue = std::as_const(displayBuffer).data()[at];
    }
}

QPoint CammerWidget::getPointsCenter() const
{
    int minX = 999999, minY = 999999, maxX = 0, maxY = 0;
    const int n = std::clamp(drawPointCount, 0, kMaxDrawPoints);
    if (n == 0)
        return QPoint(999999, 999999);
    for (int k = 0; k < n; ++k) {
        minX = std::min(minX, drawPoints[k].x());
        maxX = std::max(maxX, drawPoints[k].x());
        minY = std::min(minY, drawPoints[k].y());
        maxY = std::max(maxY, drawPoints[k].y());
    }
    return QPoint((minX + maxX) / 2, (minY + maxY) / 2);
}

void CammerWidget::setWinSW()
{
    winScaleX = gShowW > 0 ? float(width()) / gShowW : 1.0f;
}

void CammerWidget::setWinSH()
{
    winScaleY = gShowH > 0 ? float(height()) / gShowH : 1.0f;
}

void CammerWidget::setShowSW()
{
    showScaleX = imageWidth > 0 ? float(width()) / imageWidth : 1.0f;
}

void CammerWidget::setShowSH()
{
    showScaleY = imageHeight > 0 ? float(height()) / imageHeight : 1.0f;
}

void CammerWidget::resizeEvent(QResizeEvent* e)
{
    setWinSW();
    setWinSH();
    setShowSW();
    setShowSH();
    QWidget::resizeEvent(e);
}

// ------------------------------------------------------------- touch
// The editing itself is RoiTouchEdit's; the view adds the grid, the image
// source and the readout.

void CammerWidget::mousePressEvent(QMouseEvent* e)
{
    const QPoint p(qRound(e->localPos().x()), qRound(e->localPos().y()));
    emit clicked(p);
    if (!gpWin) {
        QWidget::mousePressEvent(e);
        return;
    }
    if (cameraIndex == gpWin->curCamera)
        MUpdateXYV(p.x(), p.y());
    // Over the editor (page 2) the bar would cover its panel and, during an
    // alarm, the alarm's own buttons.
    if (gpWin->pageNumber <= 1)
        gpWin->sideBarTouched();
    if (cameraIndex >= numCamera)
        return;
    if (gpWin->curCamera >= numCamera) {
        gpWin->curCamera = cameraIndex;
        gpWin->ChangeCammer();
        if (gpWin->pageNumber == 2 && gSource == 1 && gpWin->roiEditor)
            QMetaObject::invokeMethod(gpWin->roiEditor, "followCamera", Q_ARG(int, cameraIndex));
        return;
    }
    if (gSource != 0) {
        setCursor(Qt::ArrowCursor);
        return;
    }
    touchPress(p);
    QWidget::mousePressEvent(e);
}

void CammerWidget::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint p(qRound(e->localPos().x()), qRound(e->localPos().y()));
    if (gpWin && cameraIndex == gpWin->curCamera)
        MUpdateXYV(p.x(), p.y());
    if (gpWin && cameraIndex < numCamera) {
        const bool left = e->buttons() & Qt::LeftButton;
        if (gSource != 0) {
            if (left)
                gpWin->updateMScale(p.x(), p.y());
        } else {
            touchMove(p, left);
        }
    }
    QWidget::mouseMoveEvent(e);
}

void CammerWidget::mouseReleaseEvent(QMouseEvent* e)
{
    if (gpWin && cameraIndex < numCamera && gSource == 0)
        touchRelease();
    QWidget::mouseReleaseEvent(e);
}

void CammerWidget::mouseDoubleClickEvent(QMouseEvent* e)
{
    QWidget::mouseDoubleClickEvent(e);
}

void CammerWidget::panTo(QPoint p)
{
    if (gpWin)
        gpWin->updateMScale(p.x(), p.y());
}

void CammerWidget::polygonStarted()
{
    if (gpWin && gpWin->roiEditor)
        QMetaObject::invokeMethod(gpWin->roiEditor, "startDrawPloygn");
}

void CammerWidget::endDrawingByDoubleClick(int tool, bool hand)
{
    if (!gpWin || !gpWin->roiEditor) {
        RoiTouchEdit::endDrawingByDoubleClick(tool, hand);
        return;
    }
    const char* slot = tool == 1 ? "SlotDrawRect" : tool == 4 ? "SlotDrawCircle" : hand ? "SlotDrawHand" : "SlotDrawPloygn";
    QMetaObject::invokeMethod(gpWin->roiEditor, slot);
}

// Result images and retraining are the engine's work on the view state.
void CammerWidget::SaveReTrainImage(int d) { ViewImages(*this).SaveReTrainImage(d); }
void CammerWidget::SaveFailImage(int d, int ok) { ViewImages(*this).SaveFailImage(d, ok); }
void CammerWidget::UpdateFailImage(int d, int slot) { ViewImages(*this).UpdateFailImage(d, slot); }
void CammerWidget::LoadIgnorePoint() { ViewImages(*this).LoadIgnorePoint(); }
bool CammerWidget::SaveIgnorePoint(int d) { return ViewImages(*this).SaveIgnorePoint(d); }

// Region editing by touch comes with the editor; the slots exist so the panel
// and the editor can connect to them.
void CammerWidget::SavePolygon() { RoiTouchEdit::SavePolygon(); }
void CammerWidget::SlotCopyArea(QPoint p) { RoiTouchEdit::SlotCopyArea(p); }
void CammerWidget::SlotAdd10() { SlotSize(0); }
void CammerWidget::SlotAdd1() { SlotSize(1); }
void CammerWidget::SlotSub1() { SlotSize(2); }
void CammerWidget::SlotSub10() { SlotSize(3); }
void CammerWidget::SlotSize(int k) { RoiTouchEdit::SlotSize(k); }
void CammerWidget::SlotGenROI() { GenROI(); }
void CammerWidget::SlotMove(int dx, int dy) { RoiTouchEdit::SlotMove(dx, dy); }
void CammerWidget::SlotMoveT() { SlotMove(0, -1); }
void CammerWidget::SlotMoveB() { SlotMove(0, 1); }
void CammerWidget::SlotMoveL() { SlotMove(-1, 0); }
void CammerWidget::SlotMoveR() { SlotMove(1, 0); }
void CammerWidget::SlotCheckDoubleClicked(QPoint p) { checkDoubleClick(p); }

#include "inspection/ui/drawroiwidget.h"
#include "controller/machinecycle.h"
#include "controller/controlport.h"
#include "controller/machinecycle.h"
#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/cammerrecong.h"
#include "inspection/cammersingleton.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/templatestore.h"
#include "netservices/viewwatch2zel.h"
#include "settings/ui/helpwidget.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/alarmpasswordbox.h"
#include "widgets/nocheckpasswordbox.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"

#include <QDir>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kButtonH = 76;

bool continuationOn()
{
    return gpWPara && gpWPara->continuationArea;
}

bool copyToggleOn()
{
    return gpWPara && gpWPara->continuousCopy;
}

// The main window the panel belongs to; null for a panel without one (and
// while the window is being taken down).
ReDoWizard* mainWindowOf(const QWidget* panel)
{
    return qobject_cast<ReDoWizard*>(panel->parentWidget());
}

// A caption from the message table, shrunk until it fits the button.
void caption(QPushButton* b, int msg)
{
    QString text = messageText(msg);
    if (auto* c = dynamic_cast<ColorButton*>(b)) {
        c->setText(text);
        c->fitCaptionOnLines();
    } else {
        b->setText(text);
    }
}

} // namespace

DrawROIWidget::DrawROIWidget(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(kWidth, gShowH);
    auto* lay = new QVBoxLayout(this);
    lay->setSpacing(1);
    lay->setContentsMargins(0, 0, 0, 30);

    auto button = [this, lay](int msg, void (DrawROIWidget::*slot)()) {
        auto* b = new ColorButton(messageText(msg), this, 4);
        b->setFixedSize(kWidth, kButtonH);
        b->fitCaptionOnLines();
        if (slot)
            connect(b, &QPushButton::clicked, this, slot);
        lay->addWidget(b);
        return b;
    };
    auto combo = [this, lay](void (DrawROIWidget::*slot)(int)) {
        auto* c = new ComboBox(this);
        c->setFixedSize(kWidth, kButtonH);
        c->setItemHeight(kButtonH);
        QFont f("wqy-microhei");
        f.setPixelSize(gLan == 3 ? 21 : 33);
        c->setFont(f);
        if (slot)
            connect(c, QOverload<int>::of(&QComboBox::currentIndexChanged), this, slot);
        lay->addWidget(c);
        return c;
    };

    showHide = new QPushButton(this);
    showHide->setCheckable(true);
    showHide->setFixedSize(kWidth, kButtonH);
    showHide->setStyleSheet("QPushButton{border-image:none;background:#322f2f;border-radius:8px;"
                            "image:url(./images/ShowHide.png);}"
                            "QPushButton:checked{image:url(./images/ShowHideChecked.png);}");
    connect(showHide, &QPushButton::clicked, this, &DrawROIWidget::SlotShowHide);
    lay->addWidget(showHide);

    // The selectors fill without running their slots.
    sourceCombo = combo(&DrawROIWidget::SlotChangeSource);
    {
        const QSignalBlocker block(sourceCombo);
        for (auto [msg, data] : {std::pair<int, int>{223, 0}, {224, 1}, {60, 2}, {207, 3}, {208, 4}})
            sourceCombo->addItem(messageText(msg), data);
        sourceCombo->setCurrentIndex(-1);
    }
    cameraCombo = combo(&DrawROIWidget::SlotChangeCamera);
    {
        const QSignalBlocker block(cameraCombo);
        for (int c = 0; c < numCamera; ++c)
            cameraCombo->addItem(messageText(43).arg(c + 1), c);
        if (numCamera > 1)
            cameraCombo->addItem(messageText(44), numCamera);
    }
    detectCombo = combo(&DrawROIWidget::SlotChangeDetect);
    {
        const QSignalBlocker block(detectCombo);
        const int mode = gpWPara ? gpWPara->systemMode : 0;
        if (mode == 0) {
            detectCombo->addItem(messageText(46).arg(messageText(263)), 0);
            detectCombo->addItem(messageText(46).arg(messageText(264)), 1);
        } else if (mode == 1 || mode == 2) {
            for (int d = 0; d < 4; ++d)
                detectCombo->addItem(messageText(372 + d), d);
        }
    }
    if ((gpWPara ? gpWPara->systemMode : 0) == 3)
        ChangeDetectNum(gDNum);
    rangeCombo = combo(&DrawROIWidget::SlotChangeRange);
    returnButton = button(42, &DrawROIWidget::SlotReturn);
    opButton = button(52, &DrawROIWidget::SlotChangeOp);
    noCheckButton = button(47, &DrawROIWidget::SlotNoCheckCur);
    addTempButton = button(48, &DrawROIWidget::SlotAddTemp);
    autoChangeButton = button(212, &DrawROIWidget::SlotAutoChange);
    helpButton = button(111, &DrawROIWidget::SlotHelp);
    rectButton = button(49, &DrawROIWidget::SlotDrawRect);
    circleButton = button(51, &DrawROIWidget::SlotDrawCircle);
    polygonButton = button(53, &DrawROIWidget::SlotDrawPloygn);
    handButton = button(104, &DrawROIWidget::SlotDrawHand);
    copyButton = button(9, &DrawROIWidget::SlotCopyArea);
    deleteButton = button(55, &DrawROIWidget::SlotDeleteROI);
    deleteAllButton = button(57, &DrawROIWidget::SlotDeleteAllROI);

    auto* steps = new QHBoxLayout;
    steps->setSpacing(4);
    steps->setContentsMargins(0, 0, 0, 0);
    prevButton = new ColorButton(messageText(59), this, 4);
    nextButton = new ColorButton(messageText(62), this, 4);
    for (ColorButton* b : {prevButton, nextButton}) {
        b->setFixedSize(118, kButtonH);
        b->fitCaptionOnLines();
        steps->addWidget(b);
    }
    connect(prevButton, &QPushButton::clicked, this, &DrawROIWidget::SlotTempLast);
    connect(nextButton, &QPushButton::clicked, this, &DrawROIWidget::SlotTempNext);
    lay->addLayout(steps);
    deleteTempButton = button(63, &DrawROIWidget::SlotTempDeleteCur);
    showIgnoreButton = button(64, &DrawROIWidget::SlotShowHideAlarmPoint);
    ignoreButton = button(54, &DrawROIWidget::SlotIgnoreAlarmPoint);
    deleteIgnoreButton = button(56, &DrawROIWidget::SlotDeleteIgnorePoint);
    lay->addStretch();
    reCheckButton = new QPushButton(messageText(61), this);
    reCheckButton->setFixedSize(kWidth, kButtonH);
    const int px = ColorButton::fontSizeFor(4);
    reCheckButton->setStyleSheet(
        QString("QPushButton{outline:0px;border:none;color:white;font-size:%1px;background: qlineargradient(x1:0, "
                "y1:0, x2:0, y2:1, stop:0 #ff0000, stop:1 #ff0000);border-radius: 8px;}QPushButton:pressed{color:"
                "#ffffff;background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ed9d11, stop:1 #ff9900);}")
            .arg(px));
    connect(reCheckButton, &QPushButton::clicked, this, &DrawROIWidget::SlotReCheck);
    lay->addWidget(reCheckButton);

    if (gpWin)
        gpWin->roiEditor = this;
    hide();
}

DrawROIWidget::~DrawROIWidget()
{
    if (gpWin && gpWin->roiEditor == this)
        gpWin->roiEditor = nullptr;
}

CammerWidget* DrawROIWidget::view(int c) const
{
    if (!gpWin || c < 0 || c >= std::min(numCamera, 8))
        return nullptr;
    return dynamic_cast<CammerWidget*>(gpWin->cameraViews[c]);
}

CammerWidget* DrawROIWidget::shownView() const
{
    return gpWin ? view(gpWin->curCamera) : nullptr;
}

bool DrawROIWidget::editing() const
{
    return shownView() && gSource == 0;
}

void DrawROIWidget::placePanel()
{
    move(shownAtLeft ? 0 : gShowW - width() - 10, 0);
    // The views' controls make room for the panel on its side.
    for (int c = 0; c < std::min(numCamera, 8); ++c)
        if (CammerWidget* v = view(c))
            v->placeControls();
    update();
}

// ------------------------------------------------------------ pages

void DrawROIWidget::SlotChangePage()
{
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (w != showHide && !w->inherits("QListView"))
            w->hide();
    const bool cams = numCamera > 1;
    const bool alarm = gpWin && gpWin->detectState == 2;
    QList<QWidget*> on;
    switch (gSource) {
    case 0:
        on << sourceCombo << detectCombo << returnButton << rectButton << circleButton << polygonButton
           << handButton << copyButton << deleteButton << deleteAllButton << prevButton << nextButton
           << deleteTempButton;
        if (cams)
            on << cameraCombo;
        if (alarm)
            on << autoChangeButton;
        if (continuationOn() && gpWin)
            gpWin->drawTool = 0;
        break;
    case 1:
        on << sourceCombo;
        if (cams)
            on << cameraCombo;
        // The ignore-point buttons belong here: ignoring the alarm points is
        // one of the ways out of an alarm, and no other page offers them.
        if (alarm)
            on << addTempButton << noCheckButton << autoChangeButton << showIgnoreButton << ignoreButton
               << deleteIgnoreButton << reCheckButton;
        else
            on << returnButton;
        break;
    case 2:
    case 3:
    case 4:
        if (gSource != 2)
            on << rangeCombo;
        on << sourceCombo << detectCombo << returnButton << prevButton << nextButton;
        if (cams)
            on << cameraCombo;
        if (gSource == 2)
            on << addTempButton;
        break;
    default:
        break;
    }
    // Rows share the panel's height: 76 pixels each while they fit, less on
    // a short screen (the template page has 15 rows).
    int rows = 1 + on.size() - (on.contains(nextButton) ? 1 : 0);
    const int h = std::clamp((height() - 30 - rows) / std::max(1, rows), 40, kButtonH);
    showHide->setFixedHeight(h);
    for (QWidget* w : on) {
        w->setFixedHeight(h);
        if (auto* c = qobject_cast<ComboBox*>(w))
            c->setItemHeight(h);
        // The row height changed: the caption is fitted to it again.
        if (auto* b = dynamic_cast<ColorButton*>(w))
            b->fitCaptionOnLines();
        w->show();
    }
    placePanel();
}

void DrawROIWidget::SlotShowHide()
{
    shownAtLeft = !shownAtLeft;
    placePanel();
}

void DrawROIWidget::SlotChangeOp()
{
    pageFlag = pageFlag ? 0 : 1;
    SlotChangePage();
}

void DrawROIWidget::showEvent(QShowEvent* e)
{
    SlotChangePage();
    // The version text would sit under the panel; touches on the views no
    // longer bring the side bar back while the editor is the page shown.
    if (gpWin)
        gpWin->pageNumber = 2;
    if (ReDoWizard* w = mainWindowOf(this))
        w->showhideVersion(false);
    QWidget::showEvent(e);
}

void DrawROIWidget::hideEvent(QHideEvent* e)
{
    if (gpWin && gpWin->pageNumber == 2)
        gpWin->pageNumber = 0;
    if (ReDoWizard* w = mainWindowOf(this)) {
        w->showhideVersion(true);
        w->showhideHelp(true);
    }
    QWidget::hideEvent(e);
}

void DrawROIWidget::SlotHelp()
{
    gHelpC = 6;
    if (ReDoWizard* w = mainWindowOf(this); w && w->helpPage) {
        w->helpPage->show();
        w->helpPage->raise();
    }
}

// ------------------------------------------------------------ opening

void DrawROIWidget::Reset(bool op)
{
    if (!gpWin)
        return;
    resetPending = true;
    shownAtLeft = false;
    pageFlag = 0;
    gDrawHint = 0;
    for (int c = 0; c < std::min(numCamera, 8); ++c) {
        CameraViewState* v = gpWin->cameraViews[c];
        if (!v || !v->liveStore || !v->editStore)
            continue;
        RoiCommit::copyStore(*v->editStore, *v->liveStore);
        RoiTouchEdit::backMasks(*v);
    }
    // The editor opens on a detection that is in use in this machine mode.
    int d = gpWin->lastDetect;
    const bool prodOn = gpWPara && gpWPara->enableProdDetect;
    const int mode = gpWPara ? gpWPara->systemMode : 0;
    if (gpWin->detectState != 2) {
        if (mode == 1 || mode == 2) {
            // Only the chosen mould's pair of detections is in use.
            const int side = gpWPara ? gpWPara->moldSelect : 0;
            if (side == 0 && (d == 2 || d == 3))
                d -= 2;
            else if (side == 1 && d >= 0 && d < 2)
                d += 2;
            if (!prodOn && d % 2 == 0)
                d += 1;
        } else if ((mode == 0 || mode == 3) && d == 0 && !prodOn) {
            d = 1;
        }
        if (d < 0 || d >= gDNum)
            d = 0;
    }
    gpWin->editDetect = d;
    {
        const QSignalBlocker block(detectCombo);
        detectCombo->setCurrentIndex(d);
    }
    const int want = gpWin->detectState == 2 ? 1 : 0;
    if (sourceCombo->currentIndex() == want)
        SlotChangeSource(want);
    else
        sourceCombo->setCurrentIndex(want);
    if (op)
        SlotChangeOp();
    showHide->setChecked(false);
    show();
    raise();
}

void DrawROIWidget::setSource(int s)
{
    sourceCombo->setCurrentIndex(s);
}

void DrawROIWidget::ChangeDetectNum(int n)
{
    const QSignalBlocker block(detectCombo);
    detectCombo->clear();
    for (int k = 0; k < std::clamp(n, 0, 8); ++k)
        detectCombo->addItem(messageText(46).arg(messageText(477 + k)), 0);
}

void DrawROIWidget::showTemplate(CammerWidget* v)
{
    const int d = gpWin ? std::clamp(gpWin->editDetect, 0, 7) : 0;
    const auto& held = v->templateImages[d];
    if (v->curTemplate < 0 || v->curTemplate >= int(held.size()))
        return;
    const PixelBuffer& t = held[size_t(v->curTemplate)];
    if (!t.isNull() && t.size() == v->displayBuffer.size())
        std::memcpy(v->displayBuffer.data(), t.data(), t.size());
    GetTempTIme(v->cameraIndex, d, v->curTemplate);
    v->updateSyncROIText(d);
}

void DrawROIWidget::GetTempTIme(int c, int d, int n)
{
    gTempTime = TemplateStore::templateTime(c, d, n);
}

void DrawROIWidget::SlotChangeSource(int s)
{
    if (!gpWin)
        return;
    shownAtLeft = false;
    const int before = gSource;
    gSource = s;
    gpWin->copyArea = false;
    if (gpWin->detectState == 2) {
        if (s == 0 && gpWin->CheckPassword() <= 0) {
            // Refused: the views and the selector stay on the source shown.
            gSource = before;
            const QSignalBlocker block(sourceCombo);
            sourceCombo->setCurrentIndex(sourceCombo->findData(before));
            return;
        }
        if (gpWin->detectState == 2 && s != 1 && gpControlIO) {
            // Leaving the live image during an alarm silences the alarm output.
            gpControlIO->IOSetOut(2, 0);
            gpControlIO->IOFlashOut();
        }
    }
    for (int c = 0; c < std::min(numCamera, 8); ++c)
        if (CammerWidget* v = view(c)) {
            v->curTemplate = 0;
            v->DeselectROI();
            v->ShowHideROIPara();
        }
    // "All cameras" exists on the live image only, and only with two or more
    // cameras: a single camera is shown as itself, so the alarm operations
    // on the shown camera reach it.
    const int limit = s == 1 && numCamera > 1 ? numCamera : numCamera - 1;
    if (gpWin->curCamera < 0 || gpWin->curCamera > limit) {
        gpWin->curCamera = 0;
        gpWin->ChangeCammer();
    }
    gpWin->editCamera = gpWin->curCamera;
    {
        const QSignalBlocker block(cameraCombo);
        cameraCombo->setCurrentIndex(gpWin->curCamera);
    }
    gpWin->showStatusStrip(s != 0);
    showHide->setChecked(false);
    caption(prevButton, 59);
    caption(nextButton, 62);
    helpButton->hide();
    // The main window's help stands over the left edge of the view, where
    // the region's sliders start: it comes back when the editor closes.
    if (ReDoWizard* w = mainWindowOf(this))
        w->showhideHelp(false);
    gpWin->MScaleSetToMin();
    if (s == 0) {
        resetDrawCaptions();
        caption(prevButton, 559);
        caption(nextButton, 560);
        gpWin->drawTool = 0;
        setCheckable();
        if (resetPending) {
            resetPending = false;
            for (int c = 0; c < std::min(numCamera, 8); ++c)
                if (CameraViewState* v = gpWin->cameraViews[c]; v && v->liveStore && v->editStore) {
                    RoiCommit::copyStore(*v->editStore, *v->liveStore);
                    RoiTouchEdit::backMasks(*v);
                }
        }
        if (CammerWidget* v = shownView())
            showTemplate(v);
    } else if (s == 3 || s == 4) {
        listRecords();
    } else if (s == 2) {
        if (CammerWidget* v = shownView()) {
            const int d = std::clamp(gpWin->editDetect, 0, 7);
            v->recentNgIndex[d] = 0;
            if (!v->recentNgImages[d].empty() && v->recentNgImages[d][0].size() == v->displayBuffer.size())
                std::memcpy(v->displayBuffer.data(), v->recentNgImages[d][0].data(), v->displayBuffer.size());
        }
    } else if (s == 1 && gpWin->detectState == 2) {
        // Where the alarm froze the display, the judged frame comes back in
        // place of the template or recent NG image looked at meanwhile.
        const WizardPara* wp = gpWPara;
        const int cur = gpWin->lastDetect;
        const bool frozen = wp && wp->noRefreshAfterAlarm && !wp->okNgPulses &&
                            ((cur == 0 && !wp->ejectorPulseProdNG) || (cur == 1 && !wp->moldNGClampPulse));
        for (int c = 0; c < std::min(numCamera, 8); ++c)
            if (CammerWidget* v = view(c)) {
                v->overlayMode = 0;
                if (frozen && v->workFrame.size() == v->displayBuffer.size() && !v->workFrame.isNull())
                    std::memcpy(v->displayBuffer.data(), v->workFrame.data(), v->displayBuffer.size());
            }
        caption(showIgnoreButton, 64);
    }
    SlotChangePage();
    for (int c = 0; c < std::min(numCamera, 8); ++c)
        if (CammerWidget* v = view(c))
            v->update();
}

void DrawROIWidget::SlotChangeCamera(int c)
{
    if (!gpWin)
        return;
    if (c >= numCamera)
        c = gSource == 1 && numCamera > 1 ? numCamera : numCamera - 1;
    gpWin->curCamera = std::max(0, c);
    gpWin->ChangeCammer();
    SlotChangeSource(gSource);
}

void DrawROIWidget::followCamera(int c)
{
    const QSignalBlocker block(cameraCombo);
    cameraCombo->setCurrentIndex(c);
}

void DrawROIWidget::SlotChangeDetect(int d)
{
    if (!gpWin || !shownView() || gSource < 0 || gSource == 1 || d < 0 || d >= gDNum)
        return;
    const int mode = gpWPara ? gpWPara->systemMode : 0;
    // Only the two-colour and turntable modes have a left and a right mould;
    // the numbered detections of mode 3 and the two of mode 0 are all in use
    // whatever the left/right setting still holds from another mode.
    const int side = gpWPara ? gpWPara->moldSelect : 0;
    if ((mode == 1 || mode == 2) && ((side == 1 && d < 2) || (side == 0 && (d == 2 || d == 3)))) {
        {
            const QSignalBlocker block(detectCombo);
            detectCombo->setCurrentIndex(gpWin->editDetect);
        }
        tellOperator(752);
        return;
    }
    gpWin->copyArea = false;
    const bool prod = (mode == 1 || mode == 2) ? d % 2 == 0 : d == 0;
    if (prod && mode != 3 && !(gpWPara && gpWPara->enableProdDetect)) {
        tellOperator(118);
        // The mould detection; with only the right mould in use, the right
        // one (the left mould is refused just above).
        d = (mode == 1 || mode == 2) && side == 1 ? 3 : 1;
        const QSignalBlocker block(detectCombo);
        detectCombo->setCurrentIndex(d);
    }
    shownView()->DeselectROI();
    gpWin->drawTool = 0;
    shownView()->updateSyncROIText(d);
    gpWin->editDetect = d;
    SlotChangeSource(gSource);
}

// ------------------------------------------------------------ closing

void DrawROIWidget::SlotSaveData()
{
    QVector<CameraViewState*> views;
    for (int c = 0; c < std::min(numCamera, 8); ++c)
        views << (gpWin ? gpWin->cameraViews[c] : nullptr);
    m_commit.setViews(views);
    m_commit.SlotSaveData();
}

void DrawROIWidget::SlotReturn()
{
    if (!gpWin)
        return;
    if (gpNumPad)
        gpNumPad->HideUpdate();
    if (gpNumCharPad)
        gpNumCharPad->HideUpdate();
    gpWin->drawTool = 0;
    for (int c = 0; c < std::min(numCamera, 8); ++c)
        if (CammerWidget* v = view(c)) {
            v->curTemplate = 0;
            v->DeselectROI();
            v->ShowHideROIPara();
            v->HotCameraUpdateROI();
        }
    gpWin->MScaleSetToMin();
    // The strip comes back once the save question is answered: shown with
    // it, it would lie over the page the question is about.
    SlotSaveData();
    gpWin->showStatusStrip(true);
    if (gpWin->detectState == 2) {
        setSource(1);
        return;
    }
    shownAtLeft = false;
    gpWin->copyArea = false;
    gSource = -1;
    // The template-only buttons (generate, sync) go with the template page.
    for (int c = 0; c < std::min(numCamera, 8); ++c)
        if (CammerWidget* v = view(c))
            v->ShowHideROIPara();
    Restart();
    if (gFromTrain) {
        gFromTrain = 0;
        if (ReDoWizard* w = mainWindowOf(this))
            w->BackTrain();
        else if (gpWin->cycle)
            gpWin->cycle->BackTrain();
    }
}

void DrawROIWidget::Restart()
{
    if (!gpWin)
        return;
    gpWin->detectState = 0;
    for (int c = 0; c < std::min(numCamera, 8); ++c)
        if (CammerWidget* v = view(c))
            v->DeselectROI();
    gpWin->editorClosed();
    hide();
    for (int c = 0; c < std::min(numCamera, 8); ++c)
        if (CammerWidget* v = view(c))
            v->update();
}

// ------------------------------------------------------------ drawing

void DrawROIWidget::resetDrawCaptions()
{
    caption(rectButton, 49);
    caption(circleButton, 51);
    caption(polygonButton, 53);
    caption(handButton, 104);
}

void DrawROIWidget::arm(int mode)
{
    gpWin->copyArea = false;
    shownView()->DeselectROI();
    shownView()->ShowHideROIPara();
    gpWin->drawTool = mode;
}

void DrawROIWidget::SlotDrawRect()
{
    drawRectOrRing(false);
}

void DrawROIWidget::drawRectOrRing(bool ring)
{
    if (!editing())
        return;
    const int mode = ring ? 4 : 1;
    ColorButton* b = ring ? circleButton : rectButton;
    if (!continuationOn()) {
        arm(mode);
        caption(polygonButton, 53);
    } else if (gpWin->drawTool == mode) {
        gpWin->drawTool = 0;
        caption(b, ring ? 51 : 49);
    } else {
        arm(mode);
        resetDrawCaptions();
        caption(b, ring ? 748 : 716);
    }
    gpWin->freeHand = false;
    setCheckable();
}

void DrawROIWidget::SlotDrawCircle()
{
    drawRectOrRing(true);
}

void DrawROIWidget::SlotDrawPloygn()
{
    if (!editing())
        return;
    CammerWidget* v = shownView();
    gpWin->copyArea = false;
    if (continuationOn()) {
        if (gpWin->drawTool != 2 || gpWin->freeHand) {
            gpWin->freeHand = false;
            v->drawPointCount = 0;
            arm(2);
            resetDrawCaptions();
            caption(polygonButton, 33);
            setCheckable();
            return;
        }
        const bool pending = v->drawPointCount > 0;
        v->SavePolygon();
        resetDrawCaptions();
        if (pending) {
            v->drawPointCount = 0;
            v->polygonEditing = false;
            v->ShowHideROIPara();
            gpWin->drawTool = 2;
            caption(polygonButton, 33);
        } else {
            gpWin->drawTool = 0;
        }
    } else {
        gpWin->freeHand = false;
        if (gpWin->drawTool != 2) {
            arm(2);
            caption(polygonButton, 33);
            setCheckable();
            return;
        }
        v->SavePolygon();
        if (gpWin->drawTool == 0)
            caption(polygonButton, 53);
    }
    v->update();
    setCheckable();
}

void DrawROIWidget::SlotDrawHand()
{
    if (!editing())
        return;
    CammerWidget* v = shownView();
    if (continuationOn()) {
        if (gpWin->drawTool == 2 && gpWin->freeHand) {
            gpWin->freeHand = false;
            gpWin->drawTool = 0;
            caption(handButton, 104);
        } else {
            arm(2);
            gpWin->freeHand = true;
            v->drawPointCount = 0;
            resetDrawCaptions();
            caption(handButton, 717);
        }
    } else {
        arm(2);
        gpWin->freeHand = true;
        caption(polygonButton, 53);
    }
    setCheckable();
}

void DrawROIWidget::SlotCopyArea()
{
    if (!editing())
        return;
    if (!copyToggleOn()) {
        gpWin->copyArea = true;
        gpWin->drawTool = 0;
        resetDrawCaptions();
    } else if (gpWin->copyArea) {
        gpWin->copyArea = false;
        caption(copyButton, 9);
    } else {
        gpWin->copyArea = true;
        gpWin->drawTool = 0;
        resetDrawCaptions();
        caption(copyButton, 715);
    }
    setCheckable();
}

void DrawROIWidget::setCheckable()
{
    const bool cont = continuationOn(), copyT = copyToggleOn();
    ColorButton* draw[4] = {rectButton, circleButton, polygonButton, handButton};
    for (ColorButton* b : draw) {
        b->setCheckable(cont);
        b->setChecked(false);
    }
    copyButton->setCheckable(copyT);
    copyButton->setChecked(false);
    QList<QPushButton*> six{rectButton, circleButton, polygonButton, handButton, copyButton, opButton};
    for (QPushButton* b : six)
        b->setEnabled(!cont && !copyT);
    if (!cont && !copyT)
        return;
    const int tool = gpWin ? gpWin->drawTool : 0;
    if (tool == 0 || !cont) {
        if (gpWin && gpWin->copyArea && copyT) {
            copyButton->setChecked(true);
            copyButton->setEnabled(true);
        } else {
            for (QPushButton* b : six)
                b->setEnabled(true);
        }
        return;
    }
    ColorButton* armed = tool == 1 ? rectButton : tool == 4 ? circleButton : gpWin->freeHand ? handButton : polygonButton;
    armed->setChecked(true);
    armed->setEnabled(true);
}

void DrawROIWidget::startDrawPloygn()
{
    caption(polygonButton, 670);
}

void DrawROIWidget::SlotDeleteROI()
{
    if (!editing())
        return;
    CammerWidget* v = shownView();
    gpWin->copyArea = false;
    if (v->curRoi < 0) {
        tellOperator(65);
    } else if (askOperator(66) && editing()) {
        v->DeleteROI(v->curRoi);
        v->setCurRoi(-1);
        v->ShowHideROIPara();
    }
    v->update();
}

void DrawROIWidget::SlotDeleteAllROI()
{
    if (!editing())
        return;
    CammerWidget* v = shownView();
    gpWin->copyArea = false;
    if (askOperator(67) && editing()) {
        const int d = v->editDetection();
        v->editStore->roiCount[d] = 0;
        v->setCurRoi(-1);
        v->ShowHideROIPara();
        // The ignore mask goes at once, before any commit.
        PixelBuffer& ign = v->ignoreMasks[d];
        if (!ign.isNull())
            std::memset(ign.data(), 0, ign.size());
        v->SaveIgnorePoint(d);
    }
    v->update();
}

// ------------------------------------------------------------ templates

void DrawROIWidget::SlotTempLast()
{
    stepTemplate(-1);
}

void DrawROIWidget::SlotTempNext()
{
    stepTemplate(1);
}

void DrawROIWidget::stepTemplate(int dir)
{
    CammerWidget* v = shownView();
    const int d = gpWin ? gpWin->editDetect : -1;
    if (!v || d < 0 || d >= gDNum || v->curTemplate < 0 || v->curTemplate >= gTempNum)
        return;
    if (gSource == 0) {
        // Slot 0 is always present, so the search ends.
        int k = v->curTemplate;
        for (int n = 0; n < gTempNum; ++n) {
            k = (k + dir + gTempNum) % gTempNum;
            if (k == 0 || (k < int(v->templateValid[d].size()) && v->templateValid[d][size_t(k)]))
                break;
        }
        v->curTemplate = k;
        showTemplate(v);
    } else if (gSource == 2) {
        const int n = std::min(v->recentNgCount[d], CameraViewState::kRecentNg);
        int& i = v->recentNgIndex[d];
        i = n == 0 ? 0 : dir < 0 ? (i == 0 ? n - 1 : i - 1) : (i >= n - 1 ? 0 : i + 1);
        if (i < int(v->recentNgImages[d].size()) && v->recentNgImages[d][size_t(i)].size() == v->displayBuffer.size())
            std::memcpy(v->displayBuffer.data(), v->recentNgImages[d][size_t(i)].data(), v->displayBuffer.size());
    } else if ((gSource == 3 || gSource == 4) && !recordFiles.isEmpty()) {
        const int page = std::max(0, rangeCombo->currentIndex());
        recordIndex = dir < 0 ? TemplateStore::stepBack(recordIndex, page, recordFiles.size())
                              : TemplateStore::stepForward(recordIndex, page, recordFiles.size());
        LoadPic();
    }
    v->update();
}

// ------------------------------------------------------------ templates

bool DrawROIWidget::addTemplate(int c, int d)
{
    CammerWidget* v = view(c);
    if (!v || (gSource != 2 && v->isOK))
        return false;
    const unsigned char* frame = std::as_const(v->frameBuffer).data();
    if (gSource == 2) {
        const int i = v->recentNgIndex[d];
        if (i >= 0 && i < int(v->recentNgImages[d].size()))
            frame = v->recentNgImages[d][size_t(i)].data();
    }
    if (TemplateStore::AddTemp(*v, d, frame) < 0)
        return false;
    if (gSource != 1) {
        m_commit.retrainPending[c] = true;
        return true;
    }
    if (v->recong)
        v->recong->VarTrain(d);
    gpWin->alarmTaught[c][d] = true;
    if (gpWin->alarmClearState[c][d] == 3)
        gpWin->alarmClearState[c][d] = 5;
    gpWin->InsertRecord(messageText(109).arg(c + 1), "operate");
    return true;
}

void DrawROIWidget::SlotAddTemp()
{
    if (!gpWin)
        return;
    const int c0 = gpWin->curCamera;
    const bool alarmLive = gpWin->detectState == 2 && gSource == 1;
    if (alarmLive && !(gpWPara && gpWPara->addAllCamTemp)) {
        if (c0 >= numCamera || (view(c0) && view(c0)->isOK)) {
            tellOperator(107);
            return;
        }
        if (!gpWin->gisSafeDoorOpen && gpWPara && gpWPara->doorLiftAlarm) {
            tellOperator(195);
            return;
        }
    }
    if (gTempNum < 2) {
        tellOperator(258);
        return;
    }
    if (gpWPara && gpWPara->addTempPswUsed) {
        AlarmPasswordBox box(parentWidget());
        if (box.exec() != QDialog::Accepted)
            return;
    }
    const int d = std::clamp(alarmLive ? gpWin->lastDetect : gpWin->editDetect, 0, 7);
    if (!askOperator(108))
        return;
    if (c0 < 0 || c0 > numCamera)
        return;
    if (gpWin->detectState == 2 && gSource != 1 && gSource != 2)
        return;
    if (gpWin->detectState == 3 && gSource != 2)
        return;
    QList<int> cams;
    for (int c = 0; c < std::min(numCamera, 8); ++c)
        if (c0 == numCamera || c == c0)
            cams << c;
    for (int c : cams)
        addTemplate(c, d);
    if (gSource == 2)
        return;
    for (int c : cams)
        if (CammerWidget* v = view(c)) {
            clearResults(v, d);
            v->isOK = true;
        }
    SlotSaveData();
    gpWin->reCheckRequest = true;
    gpWin->CheckNG(true);
    if (c0 < numCamera) {
        if (gpWin->detectState != 2)
            gSource = -1;
        else if (gSource == 1)
            toNextFailedCamera(c0);
    } else if (gpWin->detectState != 2) {
        gSource = -1;
    }
}

void DrawROIWidget::SlotTempDeleteCur()
{
    CammerWidget* v = shownView();
    if (!v || !gpWin)
        return;
    if (v->curTemplate == 0) {
        tellOperator(68);
        return;
    }
    if (!askOperator(69))
        return;
    const int d = std::clamp(gpWin->editDetect, 0, 7), k = v->curTemplate;
    if (!TemplateStore::deleteOne(*v, d, k))
        return;
    m_commit.retrainPending[v->cameraIndex] = true;
    SlotTempNext();
    gpWin->InsertRecord(messageText(70).arg(v->cameraIndex + 1).arg(k + 1), "operate");
}

void DrawROIWidget::SlotTempDeleteAll()
{
    if (!gpWin)
        return;
    const bool onlyShown = gpWPara && gpWPara->camSampleSeparately && gpWin->curCamera < numCamera;
    QJsonArray cams, detects;
    for (int c = 0; c < std::min(numCamera, 8); ++c) {
        CameraViewState* v = gpWin->cameraViews[c];
        if (!v || (onlyShown && c != gpWin->curCamera))
            continue;
        for (int d = 0; d < std::clamp(gDNum, 0, 8); ++d) {
            TemplateStore::deleteAll(*v, d);
            cams.append(c);
            detects.append(d);
        }
        m_commit.retrainPending[c] = true;
    }
    // The remote viewer follows the template lists.
    OperationRecords::instance()->viewerLink()->syncTempList(QJsonObject{{"camera", cams}, {"detect", detects}});
    gpWin->InsertRecord(messageText(71), "run");
}

void DrawROIWidget::SlotAutoChange()
{
    if (!gpWin || gpWin->detectState != 2 || (gSource != 0 && gSource != 1) || !shownView())
        return;
    if (gpWPara && gpWPara->nocheckPswUsed && gpWin->CheckPassword() <= 0)
        return;
    if (gSource == 1) {
        setSource(0);
        return;
    }
    setSource(1);
    for (int c = 0; c < std::min(numCamera, 8); ++c)
        if (CammerWidget* v = view(c); v && !v->isOK) {
            v->overlayMode = 0;
            if (v->alarmTimer)
                v->alarmTimer->start(1000);
        }
}

// ------------------------------------------------------------ result images

void DrawROIWidget::listRecords()
{
    const int c = std::max(0, std::min(cameraCombo->currentIndex(), numCamera - 1));
    const int d = std::max(0, std::min(detectCombo->currentIndex(), gDNum - 1));
    recordFolder = TemplateStore::resultFolder(c, d, gSource == 3);
    recordFiles = TemplateStore::resultFiles(recordFolder);
    recordIndex = 0;
    LoadPic();
    {
        const QSignalBlocker block(rangeCombo);
        rangeCombo->clear();
        rangeCombo->addItems(TemplateStore::rangeItems(recordFiles.size()));
        rangeCombo->setCurrentIndex(0);
    }
    if (CammerWidget* v = shownView())
        v->update();
}

void DrawROIWidget::SlotChangeRange(int r)
{
    if (!shownView() || gpWin->editDetect < 0 || gpWin->editDetect >= gDNum)
        return;
    recordIndex = 100 * std::max(0, r);
    LoadPic();
}

void DrawROIWidget::LoadPic()
{
    if (!gpWin)
        return;
    gpWin->recordCamera = std::max(0, std::min(cameraCombo->currentIndex(), numCamera - 1));
    gpWin->recordCount = recordFiles.size();
    if (recordFiles.isEmpty()) {
        recordIndex = 0;
        gpWin->recordFile.clear();
        gpWin->recordImage = QImage();
    } else {
        recordIndex = std::clamp(recordIndex, 0, recordFiles.size() - 1);
        const QString name = recordFiles[recordIndex];
        gpWin->recordFile = name.left(name.size() - 4);
        gpWin->recordImage = QImage(QDir(recordFolder).absoluteFilePath(name));
    }
    gpWin->recordIndex = recordIndex;
    if (CammerWidget* v = shownView())
        v->update();
}

// ------------------------------------------------------------ NG alarm

int ignoreAlarmPoints(CameraViewState& v, int d, int limit)
{
    if (!v.liveStore || d < 0 || d >= 8)
        return 0;
    PixelBuffer& ign = v.ignoreMasks[d];
    const size_t need = size_t(v.imageWidth) * size_t(v.imageHeight);
    if (ign.size() < need || v.defectMask.size() < need)
        return 0;
    int set = 0;
    for (int r = 0; r < std::min(v.liveStore->roiCount[d], 100); ++r) {
        if (v.roiResult[d][r])
            continue;
        if (v.roiValue[d][r] > limit) {
            tellOperator(115, messageText(115).arg(limit));
            continue;
        }
        const int n = std::clamp(v.spotRects[d][r][0][0], 0, CameraViewState::kSpots - 1);
        for (int k = 1; k <= n; ++k) {
            const cv::Vec4i& b = v.spotRects[d][r][k];
            // The engine keeps x2 and y2 one past the spot; clipped to the frame.
            const int x1 = std::max(0, b[0]), y1 = std::max(0, b[1]);
            const int x2 = std::min(v.imageWidth, b[2]), y2 = std::min(v.imageHeight, b[3]);
            for (int y = y1; y < y2; ++y)
                for (int x = x1; x < x2; ++x) {
                    const size_t at = size_t(y) * size_t(v.imageWidth) + size_t(x);
                    if (v.defectMask.data()[at] && ign.data()[at] != 255) {
                        ign.data()[at] = 255;
                        ++set;
                    }
                }
        }
    }
    return set;
}

void DrawROIWidget::clearResults(CameraViewState* v, int d)
{
    for (int r = 0; r < 100; ++r) {
        v->roiResult[d][r] = 1;
        v->roiValue[d][r] = 0;
    }
}

void DrawROIWidget::toNextFailedCamera(int from)
{
    int to = from;
    for (int k = 0; k < numCamera; ++k) {
        const int c = (from + k) % numCamera;
        if (view(c) && !view(c)->isOK) {
            to = c;
            break;
        }
    }
    gpWin->curCamera = to;
    gpWin->ChangeCammer();
    const QSignalBlocker block(cameraCombo);
    cameraCombo->setCurrentIndex(to);
}

void DrawROIWidget::SlotReCheck()
{
    if (!gpWin || !gpWin->cycle)
        return;
    const int c0 = gpWin->curCamera;
    SlotSaveData();
    gpWin->cycle->reDetectAlarm();
    if (c0 >= numCamera || c0 < 0) {
        if (gpWin->detectState != 2)
            gSource = -1;
    } else if (gpWin->detectState == 2 && gSource == 1) {
        toNextFailedCamera(c0);
    } else if (gpWin->detectState != 2) {
        gSource = -1;
    }
}

void DrawROIWidget::notCheckcur()
{
    if (!gpWin)
        return;
    const int d = std::clamp(gpWin->lastDetect, 0, 7);
    SlotSaveData();
    gSource = -1;
    gpWin->ResetRun();
    for (int c = 0; c < 8; ++c)
        if (gpWin->alarmClearState[c][d] == 3)
            gpWin->alarmClearState[c][d] = 4;
    gpWin->reCheckRequest = true;
    gpWin->CheckNG(true);
    gpWin->InsertRecord(messageText(103), "run");
}

void DrawROIWidget::SlotNoCheckCur()
{
    if (!gpWin)
        return;
    const int d = std::clamp(gpWin->lastDetect, 0, 7);
    if (gpWPara && gpWPara->nocheckPswUsed) {
        NocheckPasswordBox box(parentWidget());
        if (box.exec() != QDialog::Accepted)
            return;
    }
    if (!gpWin->gisSafeDoorOpen && gpWPara && gpWPara->doorLiftAlarm) {
        tellOperator(195);
        return;
    }
    const int c = gpWin->curCamera;
    if (c >= numCamera) {
        if (!askOperator(102))
            return;
        SlotSaveData();
        gSource = -1;
        gpWin->ResetRun();
        for (int k = 0; k < 8; ++k)
            if (gpWin->alarmClearState[k][d] == 3)
                gpWin->alarmClearState[k][d] = 4;
        gpWin->reCheckRequest = true;
        gpWin->CheckNG(true);
        gpWin->InsertRecord(messageText(103), "operate");
        return;
    }
    CammerWidget* v = view(c);
    if (!v)
        return;
    if (v->isOK && gpWin->lastFailed) {
        tellOperator(107);
        return;
    }
    if (!askOperator(105, messageText(105).arg(c + 1)))
        return;
    clearResults(v, d);
    v->isOK = true;
    gpWin->alarmTaught[c][d] = true;
    if (gpWin->alarmClearState[c][d] == 3)
        gpWin->alarmClearState[c][d] = 4;
    gpWin->InsertRecord(messageText(106).arg(c + 1), "operate");
    SlotReCheck();
}

void DrawROIWidget::SlotShowHideAlarmPoint()
{
    CammerWidget* v = shownView();
    if (!v || v->isOK) {
        tellOperator(107);
        return;
    }
    v->overlayMode = v->overlayMode == 2 ? 0 : 2;
    caption(showIgnoreButton, v->overlayMode == 2 ? 112 : 64);
    v->update();
}

void DrawROIWidget::SlotIgnoreAlarmPoint()
{
    CammerWidget* v = shownView();
    if (!v || v->isOK) {
        tellOperator(107);
        return;
    }
    if (gpWin->CheckPassword() <= 0 || !askOperator(113))
        return;
    const int d = std::clamp(gpWin->lastDetect, 0, 7);
    gpWin->InsertRecord(messageText(114).arg(v->cameraIndex + 1), "operate");
    ignoreAlarmPoints(*v, d);
    v->update();
    v->SaveIgnorePoint(d);
    if (v->recong)
        v->recong->VarTrain(d);
}

void DrawROIWidget::SlotDeleteIgnorePoint()
{
    CammerWidget* v = shownView();
    if (!v || v->isOK) {
        tellOperator(107);
        return;
    }
    if (!askOperator(116))
        return;
    const int d = std::clamp(gpWin->lastDetect, 0, 7);
    gpWin->InsertRecord(messageText(117).arg(v->cameraIndex + 1), "operate");
    PixelBuffer& ign = v->ignoreMasks[d];
    if (!ign.isNull())
        std::memset(ign.data(), 0, ign.size());
    v->update();
    v->SaveIgnorePoint(d);
    if (v->recong)
        v->recong->VarTrain(d);
}

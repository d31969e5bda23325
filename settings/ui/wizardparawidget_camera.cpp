// The camera page: one camera's picture settings, tuned in the edit copy and
// sent to the camera at once (the camera reads the copy while the window is
// visible); OK keeps them, Cancel puts the live values back.
#include "settings/ui/wizardparawidget.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/ui/cammerwidget.h"
#include "widgets/boxpaint.h"
#include "widgets/checkbox.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/editbox.h"

#include <QLabel>

namespace {
enum Value { Exposure, Gain, Sharp, Contrast, Gamma, Saturation, Noise3D, Noise2D, Wdr, HMirror, VMirror, Trigger, Speed };
constexpr int kTop = 160;
} // namespace

CammerWidget* WizardParaWidget::tunedView() const
{
    if (!gpWin || m_tunedCamera < 0 || m_tunedCamera >= 8)
        return nullptr;
    return dynamic_cast<CammerWidget*>(gpWin->cameraViews[m_tunedCamera]);
}

void WizardParaWidget::buildCameraPage()
{
    cameraChooser = new ComboBox(this);
    cameraChooser->setGeometry(30, kTop, 200, 50);
    cameraChooser->setItemHeight(50);
    cameraChooser->setFont(boxpaint::houseFont(24));
    addToPage(CameraPage, cameraChooser);
    connect(cameraChooser, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int i) {
        if (m_loading || i < 0)
            return;
        m_tunedCamera = i;
        loadCameraPage();
    });
    speedBox = new EditBox(0, 100, this, messageText(244), QString(), 0, 1);
    speedBox->setSampleMode();
    speedBox->move(250, kTop);
    speedBox->adjustSize();
    addToPage(CameraPage, speedBox);

    const struct {
        EditBox** box;
        int msg;
        int max;
    } editors[] = {{&exposureBox, 164, 10000}, {&gainBox, 165, 10000}, {&sharpBox, 679, 100},
                   {&contrastBox, 680, 100},   {&gammaBox, 364, 100},  {&saturationBox, 681, 100},
                   {&noise3DBox, 682, 100},    {&noise2DBox, 683, 100}};
    int row = 0;
    for (const auto& e : editors) {
        auto* b = new EditBox(0, e.max, this, messageText(e.msg), QString(), 0, 1);
        b->setSampleMode();
        widenCaption(b);
        b->move(30, kTop + 58 + row * 56);
        b->adjustSize();
        addToPage(CameraPage, b);
        *e.box = b;
        connect(b, &EditBox::valueChanged, this, [this, row](int v) { cameraValueChanged(row, v); });
        ++row;
    }
    const struct {
        CheckBox** box;
        int msg;
        int which;
    } checks[] = {{&wdrBox, 785, Wdr}, {&hMirrorBox, 617, HMirror}, {&vMirrorBox, 618, VMirror},
                  {&triggerBox, 519, Trigger}};
    int y = kTop + 58;
    const int x = qMax(600, width() - 330);
    for (const auto& c : checks) {
        auto* b = new CheckBox(this, messageText(c.msg));
        b->setGeometry(x, y, qMin(320, width() - x - 10), 48);
        addToPage(CameraPage, b);
        *c.box = b;
        const int which = c.which;
        connect(b, &QCheckBox::toggled, this, [this, which](bool on) { cameraValueChanged(which, on ? 1 : 0); });
        y += 56;
    }
    connect(speedBox, &EditBox::valueChanged, this, [this](int v) { cameraValueChanged(Speed, v); });
    whiteBalanceButton = pageButton(CameraPage, messageText(786), 3, QRect(x, y + 10, 260, 65));
    defaultsButton = pageButton(CameraPage, messageText(526), 4, QRect(x, y + 90, 260, 65));
    connect(whiteBalanceButton, &QPushButton::clicked, this, [this] {
        if (CammerWidget* v = tunedView())
            v->SetWB();
    });
    connect(defaultsButton, &QPushButton::clicked, this, [this] {
        CammerWidget* v = tunedView();
        if (!v || !askOperator(527))
            return;
        v->RestoreDefaultSettings();
        loadCameraPage();
        v->initSetting();
    });
}

void WizardParaWidget::loadCameraPage()
{
    const WizardPara* p = gpWParaBak;
    if (!p)
        return;
    m_loading = true;
    const int cameras = qBound(0, numCamera, 8);
    if (cameraChooser->count() != cameras) {
        cameraChooser->clear();
        for (int c = 0; c < cameras; ++c)
            cameraChooser->addItem(messageText(151).arg(c + 1).trimmed());
    }
    m_tunedCamera = qBound(0, m_tunedCamera, qMax(0, cameras - 1));
    cameraChooser->setCurrentIndex(m_tunedCamera);
    const int c = m_tunedCamera;
    // The camera's own limits, where it tells them.
    if (CammerWidget* v = tunedView(); v && v->isOpen && v->camera) {
        CameraInterface* cam = v->camera;
        const struct {
            void (CameraInterface::*query)(int*, int*);
            EditBox* box;
        } ranges[] = {{&CameraInterface::exposureRange, exposureBox}, {&CameraInterface::gainRange, gainBox},
                      {&CameraInterface::sharpRange, sharpBox},       {&CameraInterface::contrastRange, contrastBox},
                      {&CameraInterface::gammaRange, gammaBox}};
        for (const auto& r : ranges) {
            int lo = 0, hi = 0;
            (cam->*r.query)(&lo, &hi);
            if (hi > lo)
                r.box->setRange(lo, hi);
        }
    }
    exposureBox->setValue(p->exposeTime[c]);
    gainBox->setValue(p->adjustPlus[c]);
    sharpBox->setValue(p->sharp[c]);
    contrastBox->setValue(p->contrast[c]);
    gammaBox->setValue(p->gamma[c]);
    saturationBox->setValue(p->saturation[c]);
    noise3DBox->setValue(p->noise3D[c]);
    noise2DBox->setValue(p->noise2D[c]);
    wdrBox->setChecked(p->autoShading != 0);
    hMirrorBox->setChecked(p->hMirror[c] != 0);
    vMirrorBox->setChecked(p->vMirror[c] != 0);
    triggerBox->setChecked(p->extTrigger != 0);
    speedBox->setValue(p->camSpeed);
    whiteBalanceButton->setEnabled(tunedView() && tunedView()->isColor);
    m_loading = false;
}

void WizardParaWidget::cameraValueChanged(int which, int value)
{
    WizardPara* p = gpWParaBak;
    if (m_loading || !p)
        return;
    const int c = m_tunedCamera;
    CammerWidget* v = tunedView();
    switch (which) {
    case Exposure: p->exposeTime[c] = value; if (v) v->SetExposeTime(); break;
    case Gain: p->adjustPlus[c] = value; if (v) v->SetAdjustPlus(); break;
    case Sharp: p->sharp[c] = value; if (v) v->SetSharp(); break;
    case Contrast: p->contrast[c] = value; if (v) v->SetContrast(); break;
    case Gamma: p->gamma[c] = value; if (v) v->SetGamma(); break;
    case Saturation: p->saturation[c] = value; if (v) v->SetSaturation(); break;
    case Noise3D: p->noise3D[c] = value; if (v) v->Set3DNoise(); break;
    case Noise2D: p->noise2D[c] = value; if (v) v->Set2DNoise(); break;
    case Wdr: p->autoShading = value; if (v) v->SetWDR(); break;
    case HMirror: p->hMirror[c] = value; if (v) v->SetHMirror(); break;
    case VMirror: p->vMirror[c] = value; if (v) v->SetVMirror(); break;
    // Trigger and speed reach every camera at the commit.
    case Trigger: p->extTrigger = value; break;
    case Speed: p->camSpeed = value; break;
    default: break;
    }
}

#include "controller/ui/indexbutton.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/roicommit.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"

#include <QFile>
#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kWidth = 240;
constexpr int kLogoH = 96;
constexpr int kRowH = 76;
} // namespace

IndexButton::IndexButton(QWidget* parent)
    : QWidget(parent)
{
    auto* col = new QVBoxLayout(this);
    col->setSpacing(1);
    col->setContentsMargins(0, 0, 0, 60);

    logo = new QPushButton(this);
    logo->setFixedSize(kWidth, kLogoH);
    const QString png = QStringLiteral("./images/logo2.png");
    logo->setIcon(QIcon(QFile::exists(png) ? png : QStringLiteral("./images/logo2.bmp")));
    logo->setIconSize(QSize(kWidth, kLogoH));
    logo->setStyleSheet(QStringLiteral("QPushButton {    border: none;    outline: none;    background: transparent;}"));
    col->addWidget(logo);
    connect(logo, &QPushButton::clicked, this, [this] {
        m_shown = !m_shown;
        ShowHide(1);
    });

    const auto row = [this, col](int msg) {
        auto* b = new ColorButton(messageText(msg), this, 4);
        b->setFixedSize(kWidth, kRowH);
        b->fitCaption();
        col->addWidget(b);
        return b;
    };
    multiScreen = row(126);
    startStop = row(127);
    systemPara = row(215);
    resample = row(129);
    regionSettings = row(130);
    statistics = row(541);
    mouldSnap = row(132);
    productSnap = row(131);

    auto* last = new QHBoxLayout;
    last->setSpacing(0);
    last->setContentsMargins(0, 0, 0, 0);
    snap = new ColorButton(messageText(721), this, 4);
    snap->setFixedSize(115, kRowH);
    snap->fitCaption();
    chooser = new ComboBox(this);
    chooser->setFixedSize(125, kRowH);
    chooser->setFont(boxpaint::houseFont(33));
    chooser->setItemHeight(66);
    last->addWidget(snap);
    last->addWidget(chooser);
    col->addLayout(last);
    col->addStretch();

    setGeometry(gShowW - kWidth, 0, kWidth, gShowH);
    Reset();
}

IndexButton::~IndexButton() = default;

void IndexButton::Reset()
{
    ShowHide(0);
    ResetComboChooseManualTrig();
}

void IndexButton::ShowHide(int mode)
{
    bool v = true;
    if (mode == 0) {
        hide();
    } else if (mode == 1) {
        v = m_shown;
        setVisible(v);
    }
    for (QWidget* w : {static_cast<QWidget*>(multiScreen), static_cast<QWidget*>(startStop),
                       static_cast<QWidget*>(systemPara), static_cast<QWidget*>(resample),
                       static_cast<QWidget*>(regionSettings)})
        w->setVisible(v);
    const int m = gpWPara ? gpWPara->systemMode : 0;
    const bool s = gpWPara && gpWPara->showManualSnap;
    const bool prod = gpWPara && gpWPara->enableProdDetect;
    productSnap->setVisible(s && prod && m == 0);
    mouldSnap->setVisible(s && m == 0);
    chooser->setVisible(s && m != 0);
    snap->setVisible(s && m != 0);
    statistics->setVisible(gpWPara && gpWPara->useStatistics);
}

void IndexButton::checkShowHide()
{
    if (!m_shown) {
        m_shown = true;
        ShowHide(1);
    }
}

void IndexButton::SlotShowHideTimeout()
{
    m_shown = false;
    ShowHide(1);
}

void IndexButton::ResetComboChooseManualTrig()
{
    chooser->clear();
    const int m = gpWPara ? gpWPara->systemMode : 0;
    const int n = (m == 1 || m == 2) ? gDNum : m == 3 ? qMin(gpWPara->multiDetectNum, 8) : 0;
    for (int d = 0; d < n; ++d)
        chooser->addItem(RoiCommit::detectionName(d));
}

int IndexButton::CurChooseTrig() const { return chooser->currentIndex(); }

void IndexButton::paintEvent(QPaintEvent*) {}

void IndexButton::showEvent(QShowEvent* e)
{
    m_shown = true;
    ShowHide(1);
    QWidget::showEvent(e);
}

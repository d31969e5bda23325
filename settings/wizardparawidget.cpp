#include "settings/wizardparawidget.h"
#include "controller/mainstate.h"
#include "controller/stationexit.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "records/saveimagesettingdailog.h"
#include "settings/parametercommit.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/fuzzycombobox.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"

#include <QDir>
#include <QLabel>
#include <QPainter>

namespace {
void hidePads()
{
    if (gpNumPad)
        gpNumPad->HideUpdate();
    if (gpNumCharPad)
        gpNumCharPad->HideUpdate();
}

constexpr int kButtonW = 220;
constexpr int kButtonH = 80;
} // namespace

WizardParaWidget::WizardParaWidget(QWidget* parent)
    : QWidget(parent)
{
    setGeometry(0, 0, gShowW, gShowH);

    groupCombo = new FuzzyComboBox(this);
    groupCombo->setGeometry(30, 180, 250, 60);
    groupCombo->setItemHeight(60);
    connect(groupCombo, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &WizardParaWidget::SlotParaGroupChange);

    const auto button = [this](const QString& caption, int style, int col, int row) {
        auto* b = new ColorButton(caption, this, style);
        b->setGeometry(30 + col * (kButtonW + 20), 280 + row * (kButtonH + 20), kButtonW, kButtonH);
        b->fitCaption();
        return b;
    };
    ioButton = button(messageText(499), 3, 0, 0);
    namesButton = button(messageText(473), 3, 1, 0);
    recordsButton = button(messageText(206), 3, 2, 0);
    exportButton = button(messageText(326), 3, 0, 1);
    shutDownButton = button(messageText(209), 4, 1, 1);
    exitButton = button(messageText(210), 4, 2, 1);
    imageButton = button(messageText(714), 3, 3, 0);

    okButton = new ColorButton(messageText(121), this, 3);
    cancelButton = new ColorButton(messageText(124), this, 4);
    okButton->setGeometry(gShowW - 2 * (kButtonW + 20), gShowH - kButtonH - 20, kButtonW, kButtonH);
    cancelButton->setGeometry(gShowW - (kButtonW + 20), gShowH - kButtonH - 20, kButtonW, kButtonH);

    notInBuild = new QLabel(this);
    notInBuild->setWordWrap(true);
    notInBuild->setFont(boxpaint::houseFont(22));
    notInBuild->setStyleSheet(QStringLiteral("color: #c0c0c0; background: transparent;"));
    notInBuild->setGeometry(30, 500, gShowW - 60, 120);
    notInBuild->setText(messageText(791));

    connect(okButton, &QPushButton::clicked, this, &WizardParaWidget::accept);
    connect(cancelButton, &QPushButton::clicked, this, &WizardParaWidget::reject);
    connect(ioButton, &QPushButton::clicked, this, &WizardParaWidget::SlotShowIOWidget);
    connect(namesButton, &QPushButton::clicked, this, &WizardParaWidget::SlotShowCustomIONameWidget);
    connect(recordsButton, &QPushButton::clicked, this, [this] {
        if (showRecords)
            showRecords();
    });
    connect(exportButton, &QPushButton::clicked, this, &WizardParaWidget::SlotExportData);
    connect(shutDownButton, &QPushButton::clicked, this, &WizardParaWidget::SlotShutDown);
    connect(exitButton, &QPushButton::clicked, this, &WizardParaWidget::SlotExit);
    connect(imageButton, &QPushButton::clicked, this, [this] {
        if (gpWParaBak)
            SaveImageSettingDailog::editSettings(this, gpWParaBak);
    });

    ParaGroupUpdateList();
    hide();
}

WizardParaWidget::~WizardParaWidget() = default;

void WizardParaWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (gpPixmapBG && !gpPixmapBG->isNull())
        p.drawPixmap(rect(), *gpPixmapBG);
    else
        p.fillRect(rect(), QColor(30, 40, 55));
    p.setFont(boxpaint::houseFont(40));
    p.setPen(Qt::white);
    p.drawText(QRect(0, 40, width(), 80), Qt::AlignCenter, messageText(215));
}

void WizardParaWidget::ParaGroupUpdateList()
{
    QStringList names;
    const QFileInfoList dirs =
        QDir(QStringLiteral("./paraGroup")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& d : dirs)
        names << d.fileName();
    if (names.isEmpty())
        names << QStringLiteral("default");
    const QSignalBlocker block(groupCombo);
    groupCombo->setStringList(names);
    const QString cur = gpWPara ? gpWPara->getCurGroupName() : QString();
    const int i = names.indexOf(cur);
    groupCombo->setCurrentIndex(i >= 0 ? i : 0);
}

void WizardParaWidget::SlotParaGroupChange(int index)
{
    if (gpWParaBak && index >= 0)
        gpWParaBak->groupIndex = index;
}

void WizardParaWidget::accept()
{
    hidePads();
    const int useBefore = gpWPara ? gpWPara->useDiskSaveImage : 0;
    const int result = ParameterCommit::accept({applyCameras, retrain});
    if (result == -2)
        return; // not stored: the edits stay on the pages for another try
    if (result == 1 && imageSettingsCommitted)
        imageSettingsCommitted(useBefore);
    hide();
}

void WizardParaWidget::reject()
{
    if (gpWPara && gpWParaBak)
        *gpWParaBak = *gpWPara;
    hide();
}

void WizardParaWidget::DoChangePage()
{
    hidePads();
    // Only what was shown comes back: the I/O and records pages are children
    // too, and the I/O page has just closed itself when it asks for this.
    QList<QWidget*> page;
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!w->isHidden())
            page << w;
    for (QWidget* w : page)
        w->hide();
    for (QWidget* w : page)
        w->show();
}

void WizardParaWidget::ResetReCheck1Text(const QString& text) { m_reCheck1Text = text; }

void WizardParaWidget::SlotShowIOWidget()
{
    if (!gpWin || !gpWin->CheckRoot())
        return;
    if (showIOPage)
        showIOPage();
}

void WizardParaWidget::SlotShowCustomIONameWidget()
{
    if (!gpWin || !gpWin->CheckRoot())
        return;
    hide();
    if (showCustomNames)
        showCustomNames();
}

void WizardParaWidget::SlotExportData()
{
    if (exportData)
        exportData();
}

void WizardParaWidget::SlotShutDown()
{
    if (!askOperator(291))
        return;
    if (endStation)
        endStation(StationExit::PowerOff);
}

void WizardParaWidget::SlotExit()
{
    if (!askOperator(294))
        return;
    if (endStation)
        endStation(StationExit::Exit);
}

#include "settings/ui/wizardparawidget.h"
#include "controller/ui/indexbutton.h"
#include "controller/mainstate.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/ui/drawroiwidget.h"
#include "records/resstatisticsparam.h"
#include "records/ui/saveimagesettingdailog.h"
#include "settings/parametercommit.h"
#include "widgets/boxpaint.h"
#include "widgets/checkbox.h"
#include "widgets/choosecalinumwidget.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/edit.h"
#include "widgets/editbox.h"
#include "widgets/fuzzycombobox.h"
#include "widgets/modifytimewidget.h"
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

constexpr int kTop = 160; // below the title and the page tabs
} // namespace

WizardParaWidget::WizardParaWidget(QWidget* parent)
    : QWidget(parent)
{
    setGeometry(0, 0, gShowW, gShowH);
    const int w = width();
    const int h = height();

    const int tabW = qMin(240, (w - 60 - 4 * 10) / PageCount);
    const int tabMsg[PageCount] = {215, 128, 205, 225, 783};
    for (int p = 0; p < PageCount; ++p) {
        tabs[p] = new ColorButton(messageText(tabMsg[p]), this, 3);
        tabs[p]->setGeometry(30 + p * (tabW + 10), 80, tabW, 60);
        tabs[p]->fitCaption();
        connect(tabs[p], &QPushButton::clicked, this, [this, p] { setPage(p); });
    }
    okButton = new ColorButton(messageText(121), this, 3);
    cancelButton = new ColorButton(messageText(124), this, 4);
    okButton->setGeometry(w - 2 * (200 + 20), h - 90, 200, 75);
    cancelButton->setGeometry(w - (200 + 20), h - 90, 200, 75);
    connect(okButton, &QPushButton::clicked, this, &WizardParaWidget::accept);
    connect(cancelButton, &QPushButton::clicked, this, &WizardParaWidget::reject);

    buildCommonPage();
    buildCameraPage();
    buildAdvancedPage();
    buildPasswordPage();
    buildSystemPage();

    // Never shown: the calibration-point choice is kept for the touch
    // calibration, which this panel's screen does not need.
    caliChooser = new ChooseCaliNumWidget(this);
    caliChooser->hide();
    timeDialog = new ModifyTimeWidget(this);
    timeDialog->hide();

    ParaGroupUpdateList();
    DoChangePage();
    hide();
}

WizardParaWidget::~WizardParaWidget() = default;

ColorButton* WizardParaWidget::pageButton(int page, const QString& caption, int style, const QRect& r)
{
    auto* b = new ColorButton(caption, this, style);
    b->setGeometry(r);
    b->fitCaption();
    addToPage(page, b);
    return b;
}

void WizardParaWidget::addToPage(int page, QWidget* w) { m_pages[page] << w; }

void WizardParaWidget::buildCommonPage()
{
    auto* groupLabel = new QLabel(messageText(261), this);
    groupLabel->setFont(boxpaint::houseFont(26));
    boxpaint::setTextColour(groupLabel, Qt::yellow);
    groupLabel->setGeometry(30, kTop - 6, 500, 26);
    addToPage(CommonPage, groupLabel);
    groupCombo = new FuzzyComboBox(this);
    groupCombo->setGeometry(30, 180, 250, 60);
    groupCombo->setItemHeight(60);
    groupCombo->setFont(boxpaint::houseFont(24));
    connect(groupCombo, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &WizardParaWidget::SlotParaGroupChange);
    addToPage(CommonPage, groupCombo);
    groupSearch = new Edit(6, this, 0);
    groupSearch->setGeometry(300, 180, 220, 60);
    groupSearch->setPlaceholderText(messageText(787));
    groupSearch->setFont(boxpaint::houseFont(24));
    connect(groupSearch, &QLineEdit::textChanged, this, &WizardParaWidget::SlotGroupSearch);
    addToPage(CommonPage, groupSearch);
    restoreButton = pageButton(CommonPage, messageText(183), 3, QRect(540, 180, 150, 60));
    deleteButton = pageButton(CommonPage, messageText(184), 4, QRect(710, 180, 150, 60));
    groupName = new Edit(6, this, 0);
    groupName->setGeometry(30, 255, 250, 60);
    groupName->setPlaceholderText(messageText(261));
    groupName->setFont(boxpaint::houseFont(24));
    addToPage(CommonPage, groupName);
    backupButton = pageButton(CommonPage, messageText(182), 3, QRect(300, 255, 220, 60));
    connect(restoreButton, &QPushButton::clicked, this, &WizardParaWidget::SlotParaGroupRestore);
    connect(deleteButton, &QPushButton::clicked, this, &WizardParaWidget::SlotParaGroupDelete);
    connect(backupButton, &QPushButton::clicked, this, &WizardParaWidget::SlotParaGroupBackup);

    // Compact editors: they fit a 1024-pixel screen.
    // 0 switches the re-check off; otherwise 1 to 10 times.
    reCheckBox = new EditBox(1, 10, this, messageText(222), QString(), 0, 1);
    reCheckBox->setUse0(true);
    reCheckBox->setSampleMode();
    widenCaption(reCheckBox);
    reCheckBox->move(30, 335);
    reCheckBox->adjustSize();
    addToPage(CommonPage, reCheckBox);
    for (int d = 0; d < 2; ++d) {
        delayBox[d] = new EditBox(0, 100, this, QStringLiteral("%1 %2").arg(messageText(219)).arg(d + 1),
                                  QStringLiteral("s"), 2, 10);
        delayBox[d]->setSampleMode();
        widenCaption(delayBox[d]);
        delayBox[d]->move(30, 395 + d * 60);
        delayBox[d]->adjustSize();
        addToPage(CommonPage, delayBox[d]);
    }
    // Into the edit copy at once: the names dialog hides this window, and a
    // showing loads the pages from the copy again.
    connect(reCheckBox, &EditBox::valueChanged, this, [this](int v) {
        if (!m_loading && gpWParaBak)
            gpWParaBak->reCheckTimes = v;
    });
    for (int d = 0; d < 2; ++d)
        connect(delayBox[d], &EditBox::valueChanged, this, [this, d](int v) {
            if (!m_loading && gpWParaBak)
                gpWParaBak->trigInDelay[d] = v;
        });
    // Result images are only kept when these allow it; each folder keeps
    // that many of the newest.
    const struct {
        EditBox** box;
        int msg;
        int WizardPara::*value;
    } kept[] = {{&ngRecBox, 186, &WizardPara::ngRecNum}, {&okRecBox, 187, &WizardPara::okRecNum}};
    for (int k = 0; k < 2; ++k) {
        EditBox* b = new EditBox(0, 20000, this, messageText(kept[k].msg), QString(), 0, 1);
        b->setSampleMode();
        widenCaption(b);
        b->move(30, 605 + k * 60);
        b->adjustSize();
        addToPage(CommonPage, b);
        const auto value = kept[k].value;
        connect(b, &EditBox::valueChanged, this, [this, value](int v) {
            if (!m_loading && gpWParaBak)
                gpWParaBak->*value = v;
        });
        *kept[k].box = b;
    }
    statisticsBox = new CheckBox(this, messageText(554));
    statisticsBox->setGeometry(qMin(700, width() - 310), 335, 300, 50);
    addToPage(CommonPage, statisticsBox);
    connect(statisticsBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_loading && gpWParaBak)
            gpWParaBak->useStatistics = on ? 1 : 0;
    });
    const int rowY = 525;
    recordsButton = pageButton(CommonPage, messageText(206), 3, QRect(30, rowY, 200, 65));
    exportButton = pageButton(CommonPage, messageText(326), 3, QRect(250, rowY, 200, 65));
    imageButton = pageButton(CommonPage, messageText(714), 3, QRect(470, rowY, 320, 65));
    connect(recordsButton, &QPushButton::clicked, this, [this] {
        if (showRecords)
            showRecords();
    });
    connect(exportButton, &QPushButton::clicked, this, &WizardParaWidget::SlotExportData);
    connect(imageButton, &QPushButton::clicked, this, [this] {
        if (gpWParaBak)
            SaveImageSettingDailog::editSettings(this, gpWParaBak);
    });
}

void WizardParaWidget::buildAdvancedPage()
{
    ioButton = pageButton(AdvancedPage, messageText(499), 3, QRect(30, kTop + 20, 300, 80));
    namesButton = pageButton(AdvancedPage, messageText(473), 3, QRect(350, kTop + 20, 300, 80));
    numberingButton = pageButton(AdvancedPage, messageText(788), 3, QRect(30, kTop + 120, 300, 80));
    hardwareButton = pageButton(AdvancedPage, messageText(789), 3, QRect(350, kTop + 120, 300, 80));
    connect(ioButton, &QPushButton::clicked, this, &WizardParaWidget::SlotShowIOWidget);
    connect(namesButton, &QPushButton::clicked, this, &WizardParaWidget::SlotShowCustomIONameWidget);
    connect(numberingButton, &QPushButton::clicked, this, &WizardParaWidget::SlotChangeCamera);
    connect(hardwareButton, &QPushButton::clicked, this, &WizardParaWidget::SlotHardware);
}

void WizardParaWidget::buildPasswordPage()
{
    pswUsedBox = new CheckBox(this, messageText(170));
    pswUsedBox->setGeometry(30, kTop + 10, 400, 50);
    addToPage(PasswordPage, pswUsedBox);
    const int captions[3] = {797, 798, 799};
    for (int k = 0; k < 3; ++k) {
        const int y = kTop + 80 + k * 100;
        auto* l = new QLabel(messageText(captions[k]), this);
        l->setFont(boxpaint::houseFont(24));
        boxpaint::setTextColour(l, Qt::yellow);
        l->setGeometry(30, y, 230, 60);
        l->setWordWrap(true);
        addToPage(PasswordPage, l);
        for (Edit** e : {&pwdNew[k], &pwdAgain[k]}) {
            *e = new Edit(5, this, 0);
            (*e)->setEchoMode(QLineEdit::Password);
            (*e)->setFont(boxpaint::houseFont(24));
            addToPage(PasswordPage, *e);
        }
        pwdNew[k]->setPlaceholderText(messageText(226));
        pwdAgain[k]->setPlaceholderText(messageText(790));
        pwdNew[k]->setGeometry(270, y, 200, 60);
        pwdAgain[k]->setGeometry(480, y, 200, 60);
        pwdButton[k] = pageButton(PasswordPage, messageText(171), 3, QRect(700, y, 180, 60));
    }
    connect(pswUsedBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_loading && gpWParaBak)
            gpWParaBak->isPswUsed = on ? 1 : 0;
    });
    connect(pwdButton[0], &QPushButton::clicked, this, &WizardParaWidget::ChangePwd);
    connect(pwdButton[1], &QPushButton::clicked, this, &WizardParaWidget::ChangeNotCheckPwd);
    connect(pwdButton[2], &QPushButton::clicked, this, &WizardParaWidget::ChangeAlarmPwd);
}

void WizardParaWidget::buildSystemPage()
{
    networkButton = pageButton(SystemPage, messageText(328), 3, QRect(30, kTop + 20, 260, 75));
    timeButton = pageButton(SystemPage, messageText(401), 3, QRect(310, kTop + 20, 260, 75));
    languageChooser = new ComboBox(this);
    languageChooser->setGeometry(30, kTop + 120, 260, 60);
    languageChooser->setItemHeight(60);
    languageChooser->setFont(boxpaint::houseFont(26));
    // Each language by its own name.
    languageChooser->addItems({QStringLiteral("简体中文"), QStringLiteral("English"), QStringLiteral("繁體中文"),
                               QStringLiteral("日本語")});
    addToPage(SystemPage, languageChooser);
    languageButton = pageButton(SystemPage, messageText(319), 3, QRect(310, kTop + 112, 260, 75));
    factoryButton = pageButton(SystemPage, messageText(551), 4, QRect(30, kTop + 215, 260, 75));
    updateButton = pageButton(SystemPage, messageText(325), 3, QRect(310, kTop + 215, 260, 75));
    shutDownButton = pageButton(SystemPage, messageText(209), 4, QRect(30, kTop + 310, 260, 75));
    exitButton = pageButton(SystemPage, messageText(210), 4, QRect(310, kTop + 310, 260, 75));
    connect(networkButton, &QPushButton::clicked, this, &WizardParaWidget::SlotToNetwork);
    connect(timeButton, &QPushButton::clicked, this, &WizardParaWidget::SlotModifyTime);
    connect(languageButton, &QPushButton::clicked, this, &WizardParaWidget::SlotChangeLan);
    connect(factoryButton, &QPushButton::clicked, this, &WizardParaWidget::SlotFactoryReset);
    connect(updateButton, &QPushButton::clicked, this, &WizardParaWidget::SlotSoftwareUpdate);
    connect(shutDownButton, &QPushButton::clicked, this, &WizardParaWidget::SlotShutDown);
    connect(exitButton, &QPushButton::clicked, this, &WizardParaWidget::SlotExit);
}

void WizardParaWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (gpPixmapBG && !gpPixmapBG->isNull())
        p.drawPixmap(rect(), *gpPixmapBG);
    else
        p.fillRect(rect(), QColor(30, 40, 55));
    p.setFont(boxpaint::houseFont(36));
    p.setPen(Qt::white);
    p.drawText(QRect(0, 10, width(), 60), Qt::AlignCenter, tabs[m_page]->text());
}

void WizardParaWidget::showEvent(QShowEvent* e)
{
    // Over the status strip and the views, whatever was raised since.
    raise();
    loadPages();
    QWidget::showEvent(e);
}

void WizardParaWidget::hideEvent(QHideEvent* e)
{
    hidePads();
    QWidget::hideEvent(e);
}

void WizardParaWidget::loadPages()
{
    const WizardPara* p = gpWParaBak;
    if (!p)
        return;
    m_loading = true;
    reCheckBox->setValue(p->reCheckTimes);
    for (int d = 0; d < 2; ++d)
        delayBox[d]->setValue(p->trigInDelay[d]);
    pswUsedBox->setChecked(p->isPswUsed != 0);
    statisticsBox->setChecked(p->useStatistics != 0);
    ngRecBox->setValue(p->ngRecNum);
    okRecBox->setValue(p->okRecNum);
    languageChooser->setCurrentIndex(qBound(0, gLan, 3));
    for (int k = 0; k < 3; ++k) {
        pwdNew[k]->clear();
        pwdAgain[k]->clear();
    }
    m_loading = false;
    loadCameraPage();
}

void WizardParaWidget::setPage(int page)
{
    if (page < 0 || page >= PageCount)
        return;
    m_page = page;
    DoChangePage();
    update();
}

void WizardParaWidget::DoChangePage()
{
    hidePads();
    for (const QVector<QWidget*>& list : m_pages)
        for (QWidget* w : list)
            w->hide();
    for (QWidget* w : m_pages[m_page])
        w->show();
    if (m_page == CameraPage)
        loadCameraPage();
}

void WizardParaWidget::ResetReCheck1Text(const QString& text)
{
    m_reCheck1Text = text;
    reCheckBox->setText(text);
    widenCaption(reCheckBox);
}

void WizardParaWidget::widenCaption(EditBox* box)
{
    QLabel* caption = box->captionLabel();
    caption->setFixedWidth(200);
    QFont f = caption->font();
    f.setPixelSize(boxpaint::fittedPixelSize(boxpaint::houseFont(27), caption->text(), caption->width(), 27));
    caption->setFont(f);
}

void WizardParaWidget::accept()
{
    hidePads();
    WizardPara* p = gpWParaBak;
    // Another group chosen: its stored set replaces this one at a restart.
    if (gpWPara && p && p->groupIndex != gpWPara->groupIndex) {
        if (askOperator(285)) {
            restoreGroup(p->groupIndex);
            return;
        }
        p->groupIndex = gpWPara->groupIndex;
        ParaGroupUpdateList();
        return;
    }
    const int useBefore = gpWPara ? gpWPara->useDiskSaveImage : 0;
    const int statsBefore = gpWPara ? gpWPara->useStatistics : 0;
    const int detectionsBefore = gDNum;
    const int result = ParameterCommit::accept({applyCameras, retrain});
    if (result == -2)
        return; // not stored: the edits stay on the pages for another try
    if (result == 1) {
        if (imageSettingsCommitted)
            imageSettingsCommitted(useBefore);
        ResStatisticsParam* stats = ResStatisticsParam::getInstance();
        stats->checkCameraDetectCount(gDNum);
        if (gpWPara->useStatistics != statsBefore)
            stats->setTimer(gpWPara->useStatistics != 0);
        auto* win = qobject_cast<ReDoWizard*>(parentWidget());
        if (win && win->sideBar)
            win->sideBar->ShowHide(0);
        // New detections have no regions yet: the editor offers them at
        // once, and its "End Set" trains what was set.
        if (win && gDNum != detectionsBefore) {
            if (gpWPara->systemMode == 3 && win->roiPanel)
                win->roiPanel->ChangeDetectNum(gDNum);
            win->CheckArea(true);
            return;
        }
    }
    hide();
}

void WizardParaWidget::reject()
{
    if (gpWPara && gpWParaBak)
        *gpWParaBak = *gpWPara;
    hide();
    // The cameras go back to the live values tuned away from.
    if (applyCameras)
        applyCameras();
}

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

// --- passwords ---------------------------------------------------------------

bool WizardParaWidget::readNewPassword(int which, QString* out)
{
    hidePads();
    const QString a = pwdNew[which]->text();
    const QString b = pwdAgain[which]->text();
    if (a.isEmpty()) {
        tellOperator(278);
        return false;
    }
    if (a != b) {
        tellOperator(280);
        return false;
    }
    *out = a;
    pwdNew[which]->clear();
    pwdAgain[which]->clear();
    return true;
}

void WizardParaWidget::ChangePwd()
{
    QString pwd;
    if (!gpWParaBak || !readNewPassword(0, &pwd))
        return;
    const QByteArray latin = pwd.toLatin1().left(int(sizeof gpWParaBak->password) - 1);
    std::fill(std::begin(gpWParaBak->password), std::end(gpWParaBak->password), '\0');
    std::copy(latin.begin(), latin.end(), gpWParaBak->password);
    tellOperator(279);
}

void WizardParaWidget::ChangeNotCheckPwd()
{
    QString pwd;
    if (!gpWParaBak || !readNewPassword(1, &pwd))
        return;
    gpWParaBak->nocheckPassword = pwd;
    tellOperator(279);
}

void WizardParaWidget::ChangeAlarmPwd()
{
    QString pwd;
    if (!gpWParaBak || !readNewPassword(2, &pwd))
        return;
    gpWParaBak->alarmPassword = pwd;
    tellOperator(279);
}

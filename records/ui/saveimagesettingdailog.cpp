#include "records/ui/saveimagesettingdailog.h"

#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "widgets/boxpaint.h"
#include "widgets/checkbox.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// The largest text size up to 33 px at which text fits into width: the
// captions of some languages are far longer than the Chinese ones.
int fittingPixelSize(const QString& text, int width)
{
    int px = 33;
    for (; px > 14; --px)
        if (QFontMetrics(boxpaint::houseFont(px)).horizontalAdvance(text) <= width)
            break;
    return px;
}

const int kMsgDaysKept = 761;
const int kMsgLostWarning = 678;
const int kMsgUseDrive = 714;
const int kMsgConfirm = 121;
const int kMsgCancel = 124;

} // namespace

SaveImageSettingDailog::SaveImageSettingDailog(QWidget* parent)
    : QDialog(parent)
{
    setFixedSize(600, 300);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    setStyleSheet(QStringLiteral("QDialog{background-image: url(./images/background.png);"
                                 "background-color:rgb(110,110,110);outline:0px;border:none;}"));
    auto* layout = new QVBoxLayout(this);
    // 40 px at the sides; the rows' fixed heights leave 20 above and below.
    layout->setContentsMargins(40, 20, 40, 20);
    layout->setSpacing(4);

    auto* row1 = new QHBoxLayout;
    m_label = new QLabel(messageText(kMsgDaysKept), this);
    m_label->setFixedSize(150, 50);
    m_label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const int labelPx = fittingPixelSize(m_label->text(), m_label->width() - 6);
    m_label->setFont(boxpaint::houseFont(labelPx));
    m_label->setStyleSheet(QStringLiteral("QLabel{color:white;font-size:%1px;}").arg(labelPx));
    m_days = new Edit(5, this, 1);
    m_days->setFixedSize(200, 50);
    m_days->setAlignment(Qt::AlignCenter);
    m_days->setStyleSheet(QStringLiteral("Edit{color:black;font-size:33px;}"));
    row1->addWidget(m_label);
    row1->addWidget(m_days);
    layout->addLayout(row1);

    m_use = new CheckBox(this, messageText(kMsgUseDrive));
    m_lost = new CheckBox(this, messageText(kMsgLostWarning));
    for (CheckBox* box : {m_use, m_lost}) {
        // As wide as the dialog allows, so no caption is cut off.
        box->setFixedSize(520, 60);
        box->setFont(boxpaint::houseFont(fittingPixelSize(box->text(), 520 - 32 - 16)));
        layout->addWidget(box, 0, Qt::AlignHCenter);
    }
    layout->addStretch();

    auto* row4 = new QHBoxLayout;
    m_confirm = new ColorButton(messageText(kMsgConfirm), this, 3);
    m_cancel = new ColorButton(messageText(kMsgCancel), this, 3);
    for (ColorButton* b : {m_confirm, m_cancel}) {
        b->setFixedSize(150, 70);
        row4->addWidget(b);
    }
    layout->addLayout(row4);
    connect(m_confirm, &QPushButton::pressed, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::pressed, this, &QDialog::reject);
}

void SaveImageSettingDailog::init(const QJsonObject& obj)
{
    if (obj.contains(QLatin1String("days")))
        setDays(obj.value(QLatin1String("days")).toInt(0));
    if (obj.contains(QLatin1String("useDiskSaveImage")))
        m_use->setValue(obj.value(QLatin1String("useDiskSaveImage")).toInt(0));
    if (obj.contains(QLatin1String("lostUpanAlarm")))
        m_lost->setValue(obj.value(QLatin1String("lostUpanAlarm")).toInt(0));
}

void SaveImageSettingDailog::save(QJsonObject& obj) const
{
    bool ok = false;
    const int days = getDays(&ok);
    obj.insert(QStringLiteral("days"), ok ? days : -1);
    obj.insert(QStringLiteral("useDiskSaveImage"), m_use->value() ? 1 : 0);
    obj.insert(QStringLiteral("lostUpanAlarm"), m_lost->value() ? 1 : 0);
}

void SaveImageSettingDailog::setDays(int days)
{
    m_days->setValue(days);
}

int SaveImageSettingDailog::getDays(bool* ok) const
{
    const int v = m_days->text().toInt(ok, 10);
    return *ok ? v : 0;
}

QJsonObject SaveImageSettingDailog::objectOf(const WizardPara& para)
{
    return QJsonObject{{QStringLiteral("days"), para.days},
                       {QStringLiteral("lostUpanAlarm"), para.lostUpanAlarm},
                       {QStringLiteral("useDiskSaveImage"), para.useDiskSaveImage}};
}

void SaveImageSettingDailog::copyBack(const QJsonObject& obj, WizardPara* para)
{
    const int days = obj.value(QLatin1String("days")).toInt(-1);
    if (days != -1)
        para->days = days;
    para->lostUpanAlarm = obj.value(QLatin1String("lostUpanAlarm")).toInt(0);
    para->useDiskSaveImage = obj.value(QLatin1String("useDiskSaveImage")).toInt(0);
}

bool SaveImageSettingDailog::editSettings(QWidget* parent, WizardPara* para)
{
    QJsonObject obj = objectOf(*para);
    SaveImageSettingDailog dlg(parent);
    dlg.init(obj);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    dlg.save(obj);
    copyBack(obj, para);
    return true;
}

#include "records/ui/dateseletdialog.h"
#include "frame/clock.h"
#include "frame/operatorprompt.h"
#include "records/ui/camerastatisticswidget.h"

#include <QButtonGroup>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

DateSeletDialog::DateSeletDialog(QWidget* parent)
    : QDialog(parent)
{
    const int fontPx = std::max(16, CameraStatisticsWidget::scaled(33));
    QFont font;
    font.setPixelSize(fontPx);
    const QFontMetrics fm(font);
    const int rowH = std::max(CameraStatisticsWidget::scaled(50), fm.height() + 10);
    // Every cell is as wide as its longest caption needs on this screen.
    auto cellWidth = [&](const QStringList& texts, int extra) {
        int w = CameraStatisticsWidget::scaled(160);
        for (const QString& t : texts)
            w = std::max(w, fm.horizontalAdvance(t) + extra);
        return w;
    };
    const QStringList rangeTexts = {messageText(734), messageText(735).arg(1), messageText(735).arg(7),
                                    messageText(735).arg(30), messageText(735).arg(180), messageText(735).arg(365)};
    const int labelW = cellWidth({messageText(733), messageText(736), messageText(737)}, 12);
    const int radioW = cellWidth(rangeTexts, 36);
    auto label = [&](int msg) {
        auto* l = new QLabel(messageText(msg), this);
        l->setFixedSize(labelW, rowH);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return l;
    };

    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(label(733));
    m_group = new QButtonGroup(this);
    for (int id = 0; id < 6; ++id) {
        auto* b = new QRadioButton(rangeTexts[id], this);
        b->setFixedSize(radioW, rowH);
        m_group->addButton(b, id);
        rangeRow->addWidget(b);
    }

    const QDate today = clockNow().date();
    auto dateEdit = [&] {
        auto* e = new QDateEdit(today, this);
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        QFont f(QStringLiteral("wenquanyi"));
        f.setPixelSize(std::max(20, CameraStatisticsWidget::scaled(30)));
        e->setFont(f);
        const int arrow = rowH;
        e->setFixedSize(std::max(CameraStatisticsWidget::scaled(330), QFontMetrics(f).horizontalAdvance(QStringLiteral("0000-00-00")) + 2 * arrow + 20), rowH);
        e->setAlignment(Qt::AlignCenter);
        e->setStyleSheet(QStringLiteral("QDateEdit::up-button{subcontrol-origin:border;subcontrol-position:right;image: "
                                        "url(./images/right.png);width: %1px;height: %1px;}QDateEdit::down-button "
                                        "{subcontrol-origin:border;subcontrol-position:left;image: "
                                        "url(./images/left.png);width: %1px;height: %1px;}")
                             .arg(arrow));
        return e;
    };
    m_start = dateEdit();
    m_end = dateEdit();
    auto* startRow = new QHBoxLayout;
    startRow->addWidget(label(736));
    startRow->addWidget(m_start);
    startRow->addStretch();
    auto* endRow = new QHBoxLayout;
    endRow->addWidget(label(737));
    endRow->addWidget(m_end);
    endRow->addStretch();

    auto* buttons = new QHBoxLayout;
    auto* confirm = new QPushButton(messageText(121), this);
    auto* cancel = new QPushButton(messageText(124), this);
    for (QPushButton* b : {confirm, cancel})
        b->setFixedSize(cellWidth({b->text()}, 24), rowH);
    connect(confirm, &QPushButton::pressed, this, &QDialog::accept);
    connect(cancel, &QPushButton::pressed, this, &QDialog::reject);
    buttons->addStretch();
    buttons->addWidget(confirm);
    buttons->addWidget(cancel);
    buttons->addStretch();

    auto* lay = new QVBoxLayout(this);
    lay->addLayout(rangeRow);
    lay->addLayout(startRow);
    lay->addLayout(endRow);
    lay->addLayout(buttons);
    lay->setSizeConstraint(QLayout::SetFixedSize);
    setStyleSheet(QStringLiteral("QRadioButton,QPushButton,QLabel{font-size:%1px;}").arg(fontPx));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);

    connect(m_group, &QButtonGroup::idClicked, this, [this](int id) {
        m_id = id;
        updateDate();
    });
    auto toCustom = [this] {
        if (m_id != 0)
            m_group->button(0)->click();
    };
    connect(m_start, &QDateEdit::dateChanged, this, toCustom);
    connect(m_end, &QDateEdit::dateChanged, this, toCustom);
    m_group->button(1)->click();
}

QPair<QString, QString> DateSeletDialog::getDays() const
{
    return {m_start->date().toString(QStringLiteral("yyyy-MM-dd")), m_end->date().toString(QStringLiteral("yyyy-MM-dd"))};
}

void DateSeletDialog::updateDate()
{
    if (m_id == 0)
        return;
    const QDate today = clockNow().date();
    QDate base;
    switch (m_id) {
    case 1: base = today.addDays(-1); break;
    case 2: base = today.addDays(-7); break;
    case 3: base = today.addMonths(-1); break;
    case 4: base = today.addMonths(-6); break;
    default: base = today.addYears(-1); break;
    }
    const QSignalBlocker b1(m_start), b2(m_end);
    m_end->setDate(today);
    m_start->setDate(base.addDays(1));
    update();
}

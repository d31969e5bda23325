#include "widgets/editdatetime.h"
#include "frame/timetools.h"
#include "widgets/boxpaint.h"

#include <QDateEdit>
#include <QDateTime>
#include <QGridLayout>
#include <QLabel>
#include <QTimeEdit>

EditDateTime::EditDateTime(const QString& caption, QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(80);
    const QFont font = boxpaint::houseFont(30, QStringLiteral("wenquanyi"));

    m_caption = new QLabel(caption, this);
    m_caption->setFont(font);
    m_caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    boxpaint::setTextColour(m_caption, Qt::yellow);

    const QString sheet = QStringLiteral(
        "%2::up-button{subcontrol-origin:border;subcontrol-position:right;image: url(./images/right.png);"
        "width: %1px;height: %1px;}%2::down-button {subcontrol-origin:border;subcontrol-position:left;"
        "image: url(./images/left.png);width: %1px;height: %1px;}");

    m_date = new QDateEdit(this);
    m_date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_date->setFont(font);
    m_date->setFixedSize(330, 60);
    m_date->setAlignment(Qt::AlignCenter);
    m_date->setStyleSheet(sheet.arg(60).arg(QStringLiteral("QDateEdit")));

    m_time = new QTimeEdit(this);
    m_time->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    m_time->setFont(font);
    m_time->setFixedSize(330, 60);
    m_time->setAlignment(Qt::AlignCenter);
    m_time->setStyleSheet(sheet.arg(60).arg(QStringLiteral("QTimeEdit")));

    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->addWidget(m_caption, 0, 0, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(m_date, 0, 1);
    grid->addWidget(m_time, 0, 2);
}

void EditDateTime::ShowDateTime()
{
    const QDateTime now = QDateTime::currentDateTime();
    m_date->setDate(now.date());
    m_time->setTime(now.time());
}

bool EditDateTime::timeExists() const
{
    return QDateTime(m_date->date(), m_time->time()).isValid();
}

void EditDateTime::setSysDateTime()
{
    if (!timeExists())
        return;
    // The outcome is not examined: the caller restarts the panel next.
    setSystemDateTime(QDateTime(m_date->date(), m_time->time()));
}

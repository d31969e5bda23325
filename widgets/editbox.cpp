#include "widgets/editbox.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/editparam.h"

#include <QHBoxLayout>
#include <QLabel>
#include <limits>

EditBox::EditBox(int min, int max, QWidget* parent, const QString& caption, QString unit, int type, int divisor)
    : QWidget(parent)
    , m_min(min)
    , m_max(max)
    , m_divisor(divisor > 0 ? divisor : 1) // a zero divisor would show "inf"
    , m_type(type)
    , m_captionText(caption)
{
    m_row = new QHBoxLayout(this);
    m_row->setSpacing(10);
    m_row->setSizeConstraint(QLayout::SetFixedSize);

    m_caption = new QLabel(caption, this);
    m_caption->setFixedSize(160, 50);
    m_caption->setFont(boxpaint::houseFont(27));
    setLabelColor(Qt::yellow);

    auto makeButton = [this](const QString& sign, double step) {
        auto* b = new ColorButton(QStringLiteral("%1 %2").arg(sign).arg(step), this, 3);
        b->setFixedSize(130, 50);
        b->SetRepeat();
        return b;
    };
    m_sub5 = makeButton(QStringLiteral("-"), 5.0 / m_divisor);
    m_sub1 = makeButton(QStringLiteral("-"), 1.0 / m_divisor);
    m_field = new EditParam(9, unit, this);
    m_field->setFixedSize(150, 50);
    m_field->setFrame(true);
    m_field->setFont(boxpaint::houseFont(27));
    m_add1 = makeButton(QStringLiteral("+"), 1.0 / m_divisor);
    m_add5 = makeButton(QStringLiteral("+"), 5.0 / m_divisor);

    m_row->addWidget(m_caption);
    m_row->addWidget(m_sub5);
    m_row->addWidget(m_sub1);
    m_row->addWidget(m_field);
    m_row->addWidget(m_add1);
    m_row->addWidget(m_add5);

    connect(m_sub5, &QAbstractButton::clicked, this, &EditBox::SubFive);
    connect(m_sub1, &QAbstractButton::clicked, this, &EditBox::SubOne);
    connect(m_add1, &QAbstractButton::clicked, this, &EditBox::AddOne);
    connect(m_add5, &QAbstractButton::clicked, this, &EditBox::AddFive);
    connect(m_field, &Edit::focusOut, this, &EditBox::CheckRange);
}

void EditBox::setRange(int min, int max)
{
    m_min = min;
    m_max = max;
}

void EditBox::step(int delta)
{
    const qint64 v = qint64(m_value) + delta;
    m_value = int(qBound<qint64>(std::numeric_limits<int>::min(), v, std::numeric_limits<int>::max()));
    CheckRange();
}

void EditBox::AddOne()
{
    step(1);
}

void EditBox::SubOne()
{
    step(-1);
}

void EditBox::AddFive()
{
    step(5);
}

void EditBox::SubFive()
{
    step(-5);
}

void EditBox::setValue(int v)
{
    m_value = v;
    CheckRange();
}

void EditBox::CheckRange()
{
    if (m_value < m_min && !(m_use0 && m_value == 0))
        m_value = m_min;
    if (m_value > m_max)
        m_value = m_max;
    setValue();
    emit valueChanged(m_value);
}

void EditBox::setValue()
{
    if (m_type == 0)
        m_field->Edit::setValue(m_value);
    else if (m_type == 2)
        m_field->Edit::setValue(double(m_value) / m_divisor);
}

void EditBox::setText(QString text)
{
    m_captionText = text;
    m_caption->setText(text);
}

void EditBox::setSampleShow()
{
    m_add1->hide();
    m_sub1->hide();
    m_add5->hide();
    m_sub5->hide();
}

void EditBox::setSampleMode()
{
    // Compact: no frame around the row either, so rows can stack 50 pixels apart.
    m_row->setContentsMargins(0, 0, 0, 0);
    m_caption->setFixedWidth(120);
    m_sub1->setFixedWidth(90);
    m_add1->setFixedWidth(90);
    m_field->setFixedWidth(100);
    m_add5->hide();
    m_sub5->hide();
}

void EditBox::setLabelColor(QColor c)
{
    boxpaint::setTextColour(m_caption, c);
}

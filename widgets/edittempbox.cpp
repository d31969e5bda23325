#include "widgets/edittempbox.h"
#include "widgets/boxpaint.h"
#include "widgets/edittempparam.h"

#include <QHBoxLayout>
#include <QLabel>

EditTempBox::EditTempBox(int min, int max, int, int, QWidget* parent, const QString& caption, QString unit,
                         int type, int divisor)
    : QWidget(parent)
    , m_allowedMin(min)
    , m_allowedMax(max)
    , m_type(type)
    , m_divisor(divisor > 0 ? divisor : 1)
{
    auto* row = new QHBoxLayout(this);
    row->setSpacing(10);
    row->setSizeConstraint(QLayout::SetFixedSize);
    auto makeLabel = [this](const QString& text) {
        auto* l = new QLabel(text, this);
        l->setFixedSize(135, 50);
        l->setFont(boxpaint::houseFont(27));
        l->setAlignment(Qt::AlignCenter);
        boxpaint::setTextColour(l, Qt::black);
        return l;
    };
    m_caption = makeLabel(caption);
    m_minField = new EditTempParam(9, unit, this);
    m_minField->setFixedSize(150, 50);
    m_valueLabel = makeLabel(QString());
    m_maxField = new EditTempParam(9, unit, this);
    m_maxField->setFixedSize(150, 50);
    for (EditTempParam* f : {m_minField, m_maxField}) {
        f->setFont(boxpaint::houseFont(27));
        connect(f, &EditTempParam::boundFocusOut, this, &EditTempBox::CheckRange);
    }
    row->addWidget(m_caption);
    row->addWidget(m_minField);
    row->addWidget(m_valueLabel);
    row->addWidget(m_maxField);
}

QString EditTempBox::display(int v) const
{
    if (m_type == 2)
        return QString::number(double(v) / m_divisor, 'g', 6);
    return QString::number(v);
}

void EditTempBox::setValue(int v)
{
    m_value = v;
    m_valueLabel->setText(display(v));
}

void EditTempBox::setValueRange(int low, int high)
{
    m_low = low;
    m_high = high;
    setValueRange();
}

void EditTempBox::setValueRange()
{
    m_minField->setText(display(m_low));
    m_maxField->setText(display(m_high));
}

void EditTempBox::setMinValue(int v)
{
    m_low = v;
    m_minField->setText(display(v));
}

void EditTempBox::setMaxValue(int v)
{
    m_high = v;
    m_maxField->setText(display(v));
}

void EditTempBox::valueRange(int& low, int& high) const
{
    low = m_low;
    high = m_high;
}

bool EditTempBox::checkFocus(QLineEdit* e) const
{
    return e == m_maxField;
}

void EditTempBox::CheckRange()
{
    m_low = qBound(m_allowedMin, m_low, qMax(m_allowedMin, m_allowedMax));
    m_high = qBound(m_allowedMin, m_high, qMax(m_allowedMin, m_allowedMax));
    setValueRange();
}

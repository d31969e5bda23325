#include "widgets/edittempparam.h"
#include "widgets/boxpaint.h"
#include "widgets/edittempbox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <limits>

EditTempParam::EditTempParam(int flags, QString unit, EditTempBox* owner)
    : Edit(flags, owner, 1)
    , m_owner(owner)
{
    if (!unit.isEmpty()) {
        m_unit = new QLabel(unit, this);
        m_unit->setFixedSize(unit.length() * 27 + 10, 50);
        m_unit->setFont(boxpaint::houseFont(27));
        m_unit->setAlignment(Qt::AlignCenter);
        setTextMargins(0, 0, m_unit->width(), 0);
        auto* lay = new QHBoxLayout(this);
        lay->setSpacing(0);
        lay->setContentsMargins(0, 0, 0, 0);
        lay->addStretch();
        lay->addWidget(m_unit);
    }
    setFocusPolicy(Qt::StrongFocus);
    setAlignment(Qt::AlignCenter);
}

int EditTempParam::bound() const
{
    return m_owner->checkFocus(const_cast<EditTempParam*>(this)) ? m_owner->getMaxValue() : m_owner->getMinValue();
}

void EditTempParam::setBound(qint64 v)
{
    const int b = int(qBound<qint64>(std::numeric_limits<int>::min(), v, std::numeric_limits<int>::max()));
    if (m_owner->checkFocus(this))
        m_owner->setMaxValue(b);
    else
        m_owner->setMinValue(b);
}

void EditTempParam::addValue(QString key, bool fresh)
{
    const int digit = key.toInt();
    setBound(fresh ? digit : qint64(bound()) * 10 + digit);
}

void EditTempParam::deleteValue(bool&)
{
    setBound(bound() / 10);
}

void EditTempParam::focusOutEvent(QFocusEvent* e)
{
    emit boundFocusOut();
    Edit::focusOutEvent(e);
}

#include "widgets/edittempparam.h"
#include "widgets/boxpaint.h"
#include "widgets/edittempbox.h"

#include <QLabel>
#include <limits>

EditTempParam::EditTempParam(int flags, QString unit, EditTempBox* owner)
    : Edit(flags, owner, 1)
    , m_owner(owner)
{
    m_unit = boxpaint::addUnitLabel(this, unit);
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

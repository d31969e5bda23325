#include "widgets/editparam.h"
#include "widgets/boxpaint.h"
#include "widgets/editbox.h"

#include <QLabel>
#include <limits>

EditParam::EditParam(int flags, QString unit, EditBox* owner)
    : Edit(flags, owner, 1)
    , m_owner(owner)
{
    m_unit = boxpaint::addUnitLabel(this, unit);
    if (m_unit)
        connect(this, &QLineEdit::textChanged, this, &EditParam::ChangeLabelP);
    setFocusPolicy(Qt::StrongFocus);
    setAlignment(Qt::AlignCenter);
}

void EditParam::addValue(QString key, bool fresh)
{
    const int digit = key.toInt();
    // Clamped to int: the box clamps to its range at once, but a wide range
    // must not overflow on the way there.
    const qint64 v = fresh ? digit : qint64(m_owner->value()) * 10 + digit;
    m_owner->setValue(int(qBound<qint64>(std::numeric_limits<int>::min(), v, std::numeric_limits<int>::max())));
}

void EditParam::deleteValue(bool&)
{
    m_owner->setValue(m_owner->value() / 10);
}

void EditParam::ChangeLabelP(QString text)
{
    if (!m_unit)
        return;
    m_unit->move(((width() - m_unit->width()) + int(text.length() * 27 * 0.5)) / 2, 1);
}

#pragma once
#include "widgets/edit.h"

class EditTempBox;
class QLabel;

// A bound field of an EditTempBox: pad keys build the lower or the upper
// bound digit by digit; the box clamps them when the field loses focus.
class EditTempParam : public Edit
{
    Q_OBJECT
public:
    EditTempParam(int flags, QString unit, EditTempBox* owner);

public slots:
    void addValue(QString key, bool fresh) override;
    void deleteValue(bool& fresh) override;

signals:
    // Emitted on focus-out before the Edit's own focusOut().
    void boundFocusOut();

protected:
    void focusOutEvent(QFocusEvent* e) override;

private:
    int bound() const;
    void setBound(qint64 v);

    EditTempBox* m_owner;
    QLabel* m_unit = nullptr;
};

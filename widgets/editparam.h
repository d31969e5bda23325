#pragma once
#include "widgets/edit.h"

class EditBox;
class QLabel;

// The field inside an EditBox: pad keys build the box's integer (value x 10 +
// digit) instead of text, and an optional unit label follows the centred text.
class EditParam : public Edit
{
    Q_OBJECT
public:
    EditParam(int flags, QString unit, EditBox* owner);

    QLabel* unitLabel() const { return m_unit; }

public slots:
    void addValue(QString key, bool fresh) override;
    void deleteValue(bool& fresh) override;
    void ChangeLabelP(QString text);

private:
    EditBox* m_owner;
    QLabel* m_unit = nullptr;
};

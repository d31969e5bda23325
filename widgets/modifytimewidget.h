#pragma once
#include "widgets/choosebox.h"

class EditDateTime;

// The clock dialog of the settings window: a date-time editor with Confirm
// and Cancel over the background picture.
class ModifyTimeWidget : public ChooseBox
{
public:
    explicit ModifyTimeWidget(QWidget* parent);

    EditDateTime* editor() const { return m_editor; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    EditDateTime* m_editor;
};

#pragma once
#include "widgets/choosebox.h"

class ComboBox;

// Question box with a choice of the number of touch-calibration points.
class ChooseCaliNumWidget : public ChooseBox
{
public:
    explicit ChooseCaliNumWidget(QWidget* parent);

    ComboBox* choice() const { return m_choice; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    ComboBox* m_choice;
};

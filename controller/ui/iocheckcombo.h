#pragma once
#include <QWidget>

class CheckBox;
class ComboBox;
class IOWidget;
class QLabel;

// One step group of the multiple-detection I/O page: the trigger choice that
// starts the group, one check box per step (checked: the step belongs to
// this group) and how the group cuts the step outputs.
class IOCheckComBO : public QWidget
{
    Q_OBJECT
public:
    IOCheckComBO(IOWidget* parent, const QString& caption, int n);

    void setIndex(int row) { m_row = row; }
    int index() const { return m_row; }
    // The row's trigger choice and the first choice its chooser lists.
    int choice() const { return m_choice; }
    void setChoice(int c) { m_choice = c; }
    int start() const { return m_start; }

    void SetIONum(int N, int start);
    void updateTriginCombo(int start);
    void resetName();
    // enable false: the box is unchecked, cannot be checked and reads grey.
    void setCheckdisable(int i, bool enable);
    void setCheckComboStatus(int i, bool checked);
    bool getCheckComboStatus(int i) const;
    // Unchecks box i; with report false its signals stay blocked.
    void clearBox(int i, bool report);

    ComboBox* triggerChooser() const { return m_trig; }
    ComboBox* cutChooser() const { return m_cut; }
    CheckBox* box(int i) const { return m_boxes[i]; }

    // Sizes of the row's controls: the panel's sizes scaled by s (<= 1) on
    // smaller screens.
    void applyScale(double s);

signals:
    void clickeCheckBox(int row, int step, int state);
    void changeTrigin(int row, int choice);

public slots:
    void Slotclick0(int state) { click(0, state); }
    void Slotclick1(int state) { click(1, state); }
    void Slotclick2(int state) { click(2, state); }
    void Slotclick3(int state) { click(3, state); }
    void Slotclick4(int state) { click(4, state); }
    void Slotclick5(int state) { click(5, state); }
    void Slotclick6(int state) { click(6, state); }
    void Slotclick7(int state) { click(7, state); }
    void SlotChangeTrigin(int index);
    void SlotChangeCutMode(int mode);

private:
    void click(int i, int state);
    void fillChooser(int from);

    IOWidget* m_page;
    QLabel* m_caption = nullptr;
    ComboBox* m_trig = nullptr;
    CheckBox* m_boxes[8] = {};
    ComboBox* m_cut = nullptr;
    int m_count;
    int m_row = 0;
    int m_choice = 0;
    int m_start = 0;
    int m_n = 8;
    int m_fontPx = 28;
};

#pragma once
#include <QWidget>

class ColorButton;
class ComboBox;
class QPushButton;

// The column of commands along the right edge of the main screen. Each
// button calls a slot of the main window (which connects them); the bar decides which buttons show
// from the machine mode and three settings, and hides and shows itself on
// the operator's touches.
class IndexButton : public QWidget
{
    Q_OBJECT
public:
    // The main window connects the buttons to its slots.
    explicit IndexButton(QWidget* parent);
    ~IndexButton() override;

    void Reset();
    // 0 hides the bar; 1 shows it as the shown flag says; other values only
    // apply the buttons' rules.
    void ShowHide(int mode);
    // Shows the bar when it is hidden (a camera view was touched).
    void checkShowHide();
    void ResetComboChooseManualTrig();
    // The chooser's current detection, -1 when it is empty.
    int CurChooseTrig() const;

    bool shownFlag() const { return m_shown; }

    QPushButton* logo = nullptr;
    ColorButton* multiScreen = nullptr;
    ColorButton* startStop = nullptr;
    ColorButton* systemPara = nullptr;
    ColorButton* resample = nullptr;
    ColorButton* regionSettings = nullptr;
    ColorButton* statistics = nullptr;
    ColorButton* mouldSnap = nullptr;
    ColorButton* productSnap = nullptr;
    ColorButton* snap = nullptr;
    ComboBox* chooser = nullptr;

public slots:
    void SlotShowHideTimeout();

protected:
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    bool m_shown = false;
};

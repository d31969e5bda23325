#pragma once
#include <QWidget>

class CheckBox;
class ColorButton;
class ComboBox;
class IOCheckComBO;

// The settings page of the multiple-detection machine mode: how many steps a
// cycle has, which step group each step belongs to, the trigger choice and
// cut mode of each group. The page keeps its own working copy, loaded from
// the live parameters once; Confirm writes it into the edit copy gpWParaBak,
// which the settings window commits.
class IOWidget : public QWidget
{
    Q_OBJECT
public:
    explicit IOWidget(QWidget* settingsWindow);
    ~IOWidget() override;

    void initIOWidget();
    void ResetIOName();

    // --- the working copy ---
    int stepCount() const { return m_n; }
    int group(int step) const { return m_group[step]; }
    void setGroup(int step, int row) { m_group[step] = row; }
    int cutMode(int row) const { return m_cut[row]; }
    void setCutMode(int row, int mode) { m_cut[row] = mode; }
    // Name choices: input name of trigger choice c, output name index c.
    int inName(int c) const { return m_inName[c]; }
    int outName(int c) const { return m_outName[c]; }
    void setInName(int c, int v) { m_inName[c] = v; }
    void setOutName(int c, int v) { m_outName[c] = v; }
    // Display texts of a trigger choice and of an output name index.
    QString inputText(int choice) const;
    QString outputText(int index) const;

    IOCheckComBO* row(int r) const { return m_rows[r]; }
    ComboBox* countChooser() const { return m_count; }
    CheckBox* notSequentialBox() const { return m_notSeq; }
    ColorButton* confirmButton() const { return m_confirm; }
    ColorButton* resetButton() const { return m_reset; }
    // The factor the panel's layout is scaled by on this screen (1 on the panel).
    double layoutScale() const { return m_scale; }

signals:
    // The settings window's re-check caption (message 511 with the last step).
    void reCheckCaptionChanged(const QString& text);
    // The settings window lays out its current page again.
    void pageLayoutRequested();

public slots:
    void reset();
    void SlotChangeDetectNum(int index);
    void SlotClickCheckBox(int Detect, int NO, int state);
    void SlotChangeTrigin(int Detect, int index);
    void accept();

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void ResetOutput();
    void exclude(int d, int o, bool enable);

    ComboBox* m_count = nullptr;
    CheckBox* m_notSeq = nullptr;
    ColorButton* m_confirm = nullptr;
    ColorButton* m_reset = nullptr;
    IOCheckComBO* m_rows[8] = {};
    int m_n = 2;
    int m_group[8] = {};
    int m_cut[8] = {};
    int m_inName[8] = {};
    int m_outName[8] = {};
    double m_scale = 1.0;
    double m_scaleY = 1.0;
};

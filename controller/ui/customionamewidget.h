#pragma once
#include <QWidget>

class ColorButton;
class ComboBox;
class IOWidget;
class QGridLayout;
class QLabel;

// Lets the operator name each trigger input and step output of the
// multiple-detection mode from the fixed lists of machine signal names.
// The choices go into the I/O page's working copy and the edit copy
// gpWParaBak (system10 values 1 to 16).
class CustomIONameWidget : public QWidget
{
    Q_OBJECT
public:
    CustomIONameWidget(QWidget* mainWindow, IOWidget* page);
    ~CustomIONameWidget() override;

    // Selects in every chooser the choice of the page's working copy.
    void init();

    ComboBox* inputChooser(int c) const { return m_in[c]; }
    ComboBox* outputChooser(int c) const { return m_out[c]; }
    QLabel* inputLabel(int c) const { return m_inLabel[c]; }
    QLabel* outputLabel(int c) const { return m_outLabel[c]; }
    ColorButton* confirmButton() const { return m_confirm; }

signals:
    // The settings window shows itself again.
    void settingsWindowRequested();

private slots:
    void accept();

protected:
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    QWidget* m_main;
    IOWidget* m_page;
    QGridLayout* m_grid = nullptr;
    QLabel* m_inLabel[8] = {};
    ComboBox* m_in[8] = {};
    QLabel* m_outLabel[8] = {};
    ComboBox* m_out[8] = {};
    ColorButton* m_confirm = nullptr;
};

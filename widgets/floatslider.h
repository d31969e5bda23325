#pragma once
#include <QWidget>

class QSlider;
class QLabel;
class QPushButton;
class QTimer;

// Horizontal slider that edits a float (value = slider position / factor),
// with a value label and a button that hides or shows the slider. The value
// falls back to the minimum 30 s after the last change; startTimer() keeps it.
class FloatSlider : public QWidget
{
    Q_OBJECT
public:
    explicit FloatSlider(QWidget* parent = nullptr);

    void setValue(float v);
    float value() const { return m_value; }
    void setToMinValue();
    void startTimer();

    // The owner sets the factor and the slider's range (the main window uses
    // 100 and 100..500 for a zoom of 1.00 to 5.00). A factor that is not a
    // positive finite number is refused.
    void setFactor(float f);
    float factor() const { return m_factor; }
    void setRange(int minPos, int maxPos);

    QSlider* slider() const { return m_slider; }
    QLabel* label() const { return m_label; }
    QPushButton* button() const { return m_button; }
    QTimer* resetTimer() const { return m_timer; }

    static constexpr int kResetMs = 30000;

signals:
    void updateValue(float value);

protected:
    void showEvent(QShowEvent* e) override;

private slots:
    void updateLabel(int intValue);

private:
    void toggleSlider();
    void setButtonIcon(const QString& file);

    QSlider* m_slider = nullptr;
    QLabel* m_label = nullptr;
    QPushButton* m_button = nullptr;
    QTimer* m_timer = nullptr;
    float m_value = 1.0f;
    float m_factor = 1.0f;
};

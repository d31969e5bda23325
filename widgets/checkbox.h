#pragma once
#include <QCheckBox>

// The house check box: yellow 28-pixel text and a 32-pixel indicator.
class CheckBox : public QCheckBox
{
    Q_OBJECT
public:
    CheckBox(QWidget* parent, const QString& text);

    bool value() const { return isChecked(); }
    void setValue(int v) { setChecked(v != 0); }
    // Set once a button went down on the box; never cleared.
    bool wasPressed() const { return m_pressed; }

    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    bool m_pressed = false;
};

#pragma once
#include <QSlider>

// A flat horizontal slider that jumps to the touched point on release.
class C_Slider : public QSlider
{
    Q_OBJECT
public:
    explicit C_Slider(QWidget* parent);

    // The value a release at x (widget pixels) selects.
    int valueAt(double x) const;

signals:
    void cChgValue(int value);

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
};

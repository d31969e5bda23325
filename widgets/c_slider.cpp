#include "widgets/c_slider.h"

#include <QMouseEvent>

C_Slider::C_Slider(QWidget* parent)
    : QSlider(Qt::Horizontal, parent)
{
    setStyleSheet(QStringLiteral(
        "QSlider{border-color: #bcbcbc;}QSlider::groove:horizontal {border: 1px solid #999999;height: 10px}"
        "QSlider::handle:horizontal {width: 8px;background: rgb(0, 160, 230); margin: -7px -7px -7px -7px;"
        "border-radius: 1px;}"
        "QSlider::sub-page:horizontal{background: qlineargradient(spread:pad, x1:0, y1:1, x2:0, y2:0, "
        "stop:0 #439cf3, stop:0.25 #439cf3, stop:0.5 #439cf3, stop:1 #439cf3);}"
        "QSlider::add-page:horizontal{background: qlineargradient(spread:pad, x1:0, y1:1, x2:0, y2:0, "
        "stop:0 #bcbcbc, stop:0.25 #bcbcbc, stop:0.5 #bcbcbc, stop:1 #bcbcbc);}"));
}

int C_Slider::valueAt(double x) const
{
    const int w = width();
    if (w <= 0)
        return minimum();
    // The last fiftieth at either end snaps to the end.
    qint64 p = qRound(x);
    if (p < w / 50)
        p = 0;
    if (p > w - w / 50)
        p = w;
    return int(minimum() + (qint64(maximum()) - minimum()) * p / w);
}

void C_Slider::mouseReleaseEvent(QMouseEvent* e)
{
    const int v = valueAt(e->localPos().x());
    setValue(v);
    emit cChgValue(value());
    QSlider::mouseReleaseEvent(e);
}

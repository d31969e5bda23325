#include "widgets/floatslider.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <climits>
#include <cmath>

FloatSlider::FloatSlider(QWidget* parent)
    : QWidget(parent)
{
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);

    m_label = new QLabel("0.00", this);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setStyleSheet("QLabel{outline:0px;border:none;font-size:25px;color:#00FF00;}");
    lay->addWidget(m_label, 0, Qt::AlignCenter);

    m_button = new QPushButton(this);
    m_button->setFixedSize(25, 35);
    m_button->setIconSize(m_button->size());
    setButtonIcon("./images/hide.png");
    lay->addWidget(m_button, 0, Qt::AlignCenter);
    connect(m_button, &QPushButton::clicked, this, &FloatSlider::toggleSlider);

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setRange(0, 100);
    m_slider->setContentsMargins(20, 0, 20, 0);
    lay->addWidget(m_slider, 0, Qt::AlignCenter);
    lay->addStretch(0);
    connect(m_slider, &QSlider::valueChanged, this, &FloatSlider::updateLabel);

    setStyleSheet("QSlider::groove:horizontal{border:0px solid #bbb;}"
                  "QSlider::sub-page:horizontal{border-image:url(./images/slideru.png);background:rgb(90,49,255);"
                  "border-radius:2px;margin-top:8px;margin-bottom:8px;}"
                  "QSlider::add-page:horizontal{border-image:url(./images/sliderd.png);background:rgb(255,255, 255);"
                  "border:0px solid #777;border-radius:2px;margin-top:9px;margin-bottom:9px;}"
                  "QSlider::handle:horizontal{border-image:url(./images/slidert.png);background:rgb(193,204,208);width:25px;"
                  "border:1px solid rgb(193,204,208);border-radius:2px;margin-top:1px;margin-bottom:1px;}");

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setInterval(kResetMs);
    connect(m_timer, &QTimer::timeout, this, &FloatSlider::setToMinValue);
}

void FloatSlider::setButtonIcon(const QString& file)
{
    const QPixmap pm(file);
    m_button->setIcon(pm.isNull() ? QIcon()
                                  : QIcon(pm.scaled(m_button->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}

void FloatSlider::toggleSlider()
{
    m_slider->setVisible(!m_slider->isVisible());
    setButtonIcon(m_slider->isVisible() ? "./images/hide.png" : "./images/show.png");
}

void FloatSlider::setFactor(float f)
{
    if (!std::isfinite(f) || f <= 0.0f)
        return;
    m_factor = f;
}

void FloatSlider::setRange(int minPos, int maxPos)
{
    m_slider->setRange(minPos, maxPos);
}

void FloatSlider::setValue(float v)
{
    if (!std::isfinite(v))
        return;
    // Position truncated toward zero in single precision, as the slider has
    // always been driven; kept inside int so a huge value cannot overflow.
    const float pos = v * m_factor;
    int ipos;
    if (pos >= float(INT_MAX))
        ipos = INT_MAX;
    else if (pos <= float(INT_MIN))
        ipos = INT_MIN;
    else
        ipos = int(pos);
    m_slider->setValue(ipos);
    m_label->setText(QString::number(v, 'f', 2));
    m_value = v;
}

void FloatSlider::setToMinValue()
{
    setValue(float(m_slider->minimum()) / m_factor);
}

void FloatSlider::startTimer()
{
    m_timer->start();
}

void FloatSlider::updateLabel(int intValue)
{
    m_value = float(intValue) / m_factor;
    m_label->setText(QString::number(m_value, 'f', 2));
    m_timer->start();
    emit updateValue(m_value);
}

void FloatSlider::showEvent(QShowEvent* e)
{
    const int w = width() - m_label->width() - m_button->width() - 10;
    m_slider->setFixedWidth(qMax(0, w));
    m_slider->setFixedHeight(height());
    QWidget::showEvent(e);
}

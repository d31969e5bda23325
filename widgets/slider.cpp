#include "widgets/slider.h"
#include "frame/globals.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include <climits>

namespace {

bool usable(const QPixmap* pm)
{
    return pm && !pm->isNull();
}

} // namespace

Slider::Slider(int min, int max, int step, int value, QWidget* parent, const QString& caption)
    : QAbstractSlider(parent)
{
    setOrientation(Qt::Horizontal);
    setObjectName(caption);
    setMinimum(min);
    setMaximum(max);
    setPageStep(step);
    setValue(value);

    m_add = new ColorButton("+ 1", this, 3);
    m_add->setFixedSize(70, 41);
    m_add->SetRepeat();
    connect(m_add, &QAbstractButton::clicked, this, &Slider::Add);

    m_sub = new ColorButton("- 1", this, 3);
    m_sub->setFixedSize(70, 41);
    m_sub->SetRepeat();
    connect(m_sub, &QAbstractButton::clicked, this, &Slider::Sub);

    // Never seen: it only takes the keypad's digits.
    m_field = new Edit(9, this, 1);
    m_field->setGeometry(0, 0, 0, 60);
    connect(m_field, &QLineEdit::textChanged, this, &Slider::SetText);

    layoutParts();
}

void Slider::Reset(int min, int max, int step, int value, const QString& caption)
{
    setObjectName(caption);
    setMinimum(min);
    setMaximum(max);
    setPageStep(step);
    setValue(value);
    m_anchorX = m_anchorY = -1;
    update();
}

void Slider::Add()
{
    setValue(value() < INT_MAX ? value() + 1 : value());
}

void Slider::Sub()
{
    setValue(value() > INT_MIN ? value() - 1 : value());
}

void Slider::SetText(const QString& text)
{
    // Opening the pad empties the field; that is not an entry and must not
    // throw the parameter to its minimum before the first key.
    if (text.isEmpty())
        return;
    bool allDigits = true;
    for (QChar c : text)
        allDigits = allDigits && c >= '0' && c <= '9';
    qint64 v = 0;
    if (allDigits) {
        bool ok = false;
        const qulonglong u = text.toULongLong(&ok);
        // more digits than any range holds: the operator meant "as much as possible"
        v = (!ok || u > qulonglong(INT_MAX)) ? qint64(INT_MAX) : qint64(u);
    }
    setValue(int(v));
}

int Slider::fillWidth() const
{
    if (maximum() <= minimum() || m_fillLength <= 0)
        return 0;
    const float ratio = float(qint64(value()) - minimum()) / float(qint64(maximum()) - minimum());
    return int(ratio * float(m_fillLength));
}

int Slider::captionPixelSize() const
{
    return boxpaint::fittedPixelSize(boxpaint::houseFont(30), objectName(), 120, 30);
}

QRect Slider::handleRect() const
{
    return QRect(kTrackX + m_fillOffset + fillWidth(), 3, 10, height() - 6);
}

void Slider::layoutParts()
{
    m_trackWidth = width() - 395;
    m_fillOffset = int(0.03 * m_trackWidth);
    m_fillLength = int(0.93 * m_trackWidth);
    const int y = (height() - 28) / 2 - 6;
    m_sub->move(240, y);
    m_add->move(width() - 70, y);
}

void Slider::resizeEvent(QResizeEvent*)
{
    layoutParts();
}

void Slider::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int H = height();
    const QFont f = boxpaint::houseFont(30);
    p.setPen(Qt::green);

    // The caption band is 120 pixels wide; a long caption (some languages)
    // is drawn smaller rather than cut off.
    const QRect captionRect(QPoint(0, 0), QPoint(119, H - 1));
    p.setFont(boxpaint::houseFont(captionPixelSize()));
    p.drawText(captionRect, Qt::AlignLeft | Qt::AlignVCenter, objectName());
    p.setFont(f);

    const QRect box(kBoxX, 3, 100, H - 6);
    if (usable(gpPixmapEdit))
        p.drawPixmap(box, *gpPixmapEdit);
    else
        p.fillRect(box, QColor(40, 40, 40));
    p.drawText(QRect(QPoint(kBoxX, 3), QPoint(234, H - 4)), Qt::AlignCenter, QString::number(value()));

    if (m_trackWidth > 0) {
        const QRect track(kTrackX, 3, m_trackWidth, H - 6);
        if (usable(gpPixmapSliderd))
            p.drawPixmap(track, *gpPixmapSliderd);
        else
            p.fillRect(track, QColor(60, 60, 60));
    }

    const int fill = fillWidth();
    if (fill > 0) {
        const QRect filled(kTrackX + m_fillOffset, 11, fill, H - 22);
        if (usable(gpPixmapSlideru))
            p.drawPixmap(filled, *gpPixmapSlideru);
        else
            p.fillRect(filled, QColor(0, 160, 230));
    }

    m_handle = handleRect();
    if (usable(gpPixmapSlidert))
        p.drawPixmap(m_handle, *gpPixmapSlidert);
    else
        p.fillRect(m_handle, Qt::white);
}

void Slider::mousePressEvent(QMouseEvent* e)
{
    const int x = qRound(e->localPos().x());
    // The handle as drawn for the current value (the same rectangle the last
    // paint used, also when a value change has not been painted yet).
    const QRect h = handleRect();
    if (x >= h.x() - 20 && x <= h.x() + h.width() + 19) {
        m_anchorX = x;
        m_anchorY = qRound(e->localPos().y());
    } else {
        m_anchorX = m_anchorY = -1;
    }
}

void Slider::mouseMoveEvent(QMouseEvent* e)
{
    if (m_anchorX < 1 || m_fillLength <= 0)
        return;
    const int x = qRound(e->localPos().x());
    const int dx = x - m_anchorX;
    const float span = float(qint64(maximum()) - minimum());
    const float d = span * (float(dx) / float(m_fillLength));
    if (!(d > -1.0f && d < 1.0f)) {
        const qint64 next = qint64(value()) + qint64(qBound(-2147483647.0f, d, 2147483647.0f));
        setValue(int(qBound<qint64>(INT_MIN, next, INT_MAX)));
        m_anchorX = x;
        m_anchorY = qRound(e->localPos().y());
    }
    // a step worth less than one unit keeps the anchor: slow drags add up
}

void Slider::mouseReleaseEvent(QMouseEvent* e)
{
    m_anchorX = m_anchorY = -1;
    const int x = qRound(e->localPos().x());
    if (x >= kBoxX && x <= kBoxTouchEnd)
        openKeypad();
}

void Slider::openKeypad()
{
    // The field becomes the current editor and opens the numeric pad in the
    // slider's parent, 65 pixels below the slider's top-left corner.
    QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(m_field, &focusIn);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(0, 0), m_field->mapToGlobal(QPoint(0, 0)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(m_field, &release);
}

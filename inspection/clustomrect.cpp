#include "inspection/clustomrect.h"
#include "inspection/shapedraw.h"
#include "frame/geometrytools.h"

#include <QDebug>
#include <QPainter>
#include <QPen>
#include <cstring>

ClustomRect::ClustomRect()
{
    // Every byte takes part in the store's block comparison.
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
    rect = QRect(QPoint(0, 0), QPoint(-1, -1));
    imageRect = QRect(QPoint(0, 0), QPoint(-1, -1));
    selected = false;
    moveX = 0;
    moveY = 0;
    scaleX = 1.0f;
    scaleY = 1.0f;
    ctrlCode = -1;
}

bool ClustomRect::PtInCtrl(QPoint p, int* code)
{
    ctrlCode = -1;
    if (selected) {
        const int x1 = rect.left(), y1 = rect.top(), x2 = rect.right(), y2 = rect.bottom();
        const int tolX = rect.width() / 4;
        const int tolY = rect.height() / 4;
        if (PointAround(QPoint(x1, y1), p, 20))
            ctrlCode = 0;
        else if (PointAround(QPoint(x2, y1), p, 20))
            ctrlCode = 2;
        else if (PointAround(QPoint(x1, y2), p, 20))
            ctrlCode = 6;
        else if (PointAround(QPoint(x2, y2), p, 20))
            ctrlCode = 4;
        else if (LineAround(x1, p.x(), p.y(), y1, y2, tolX))
            ctrlCode = 7;
        else if (LineAround(x2, p.x(), p.y(), y1, y2, tolX))
            ctrlCode = 3;
        else if (LineAround(y1, p.y(), p.x(), x1, x2, tolY))
            ctrlCode = 1;
        else if (LineAround(y2, p.y(), p.x(), x1, x2, tolY))
            ctrlCode = 5;
    }
    if (code)
        *code = ctrlCode;
    return ctrlCode != -1;
}

bool ClustomRect::Contains(QPoint p) const
{
    return shapedraw::inGrownRect(rect, p);
}

void ClustomRect::Resize(int code, QPoint from, QPoint to)
{
    const int dx = to.x() - from.x();
    const int dy = to.y() - from.y();
    int x1 = rect.left(), y1 = rect.top(), x2 = rect.right(), y2 = rect.bottom();
    switch (code) {
    case 0: x1 += dx; y1 += dy; moveX = dx; moveY = dy; break;
    case 1: y1 += dy; moveY = dy; break;
    case 2: x2 += dx; y1 += dy; moveX = dx; moveY = dy; break;
    case 3: x2 += dx; moveX = dx; break;
    case 4: x2 += dx; y2 += dy; moveX = dx; moveY = dy; break;
    case 5: y2 += dy; moveY = dy; break;
    case 6: x1 += dx; y2 += dy; moveX = dx; moveY = dy; break;
    case 7: x1 += dx; moveX = dx; break;
    default: return;
    }
    rect.setCoords(x1, y1, x2, y2);
}

void ClustomRect::setImageRect()
{
    const float sx = shapedraw::usableScale(scaleX);
    const float sy = shapedraw::usableScale(scaleY);
    const int x1 = shapedraw::roundEven(static_cast<float>(rect.left()) / sx);
    const int y1 = shapedraw::roundEven(static_cast<float>(rect.top()) / sy);
    const int w = shapedraw::roundEven(static_cast<float>(rect.width()) / sx);
    const int h = shapedraw::roundEven(static_cast<float>(rect.height()) / sy);
    imageRect.setCoords(x1, y1, x1 + w - 1, y1 + h - 1);
}

cv::Mat ClustomRect::UpdateMask() const
{
    const long long rows = static_cast<long long>(imageRect.bottom()) - imageRect.top() + 1;
    const long long cols = static_cast<long long>(imageRect.right()) - imageRect.left() + 1;
    if (rows <= 0 || cols <= 0)
        return cv::Mat();
    if (rows > shapedraw::kMaxMaskSide || cols > shapedraw::kMaxMaskSide) {
        qWarning() << "ClustomRect: image rectangle too large for a mask" << imageRect;
        return cv::Mat();
    }
    return cv::Mat(static_cast<int>(rows), static_cast<int>(cols), CV_8UC1, cv::Scalar(255));
}

void ClustomRect::Draw(QPainter& painter) const
{
    painter.save();
    QPen pen = painter.pen();
    pen.setWidth(3);
    painter.setPen(pen);
    if (!selected) {
        painter.drawRect(rect);
    } else {
        const QPoint corners[4] = {rect.topLeft(), rect.topRight(), rect.bottomRight(), rect.bottomLeft()};
        for (int i = 0; i < 4; ++i) {
            const bool hot = ctrlCode != -1 && ctrlCode % 2 == 0 && ctrlCode / 2 == i;
            pen.setColor(hot ? Qt::yellow : Qt::magenta);
            painter.setPen(pen);
            painter.drawRect(shapedraw::handleRect(corners[i]));
        }
        for (int i = 0; i < 4; ++i) {
            const bool hot = ctrlCode != -1 && ctrlCode % 2 == 1 && ctrlCode / 2 == i;
            pen.setColor(hot ? Qt::yellow : Qt::magenta);
            painter.setPen(pen);
            painter.drawLine(corners[i], corners[(i + 1) % 4]);
        }
    }
    painter.restore();
}

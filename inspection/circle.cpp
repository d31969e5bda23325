#include "inspection/circle.h"
#include "inspection/shapedraw.h"

#include <QDebug>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Largest r with r * r <= v, for v >= 0.
long long isqrtFloor(long long v)
{
    long long r = static_cast<long long>(std::sqrt(static_cast<double>(v)));
    while (r > 0 && r * r > v)
        --r;
    while ((r + 1) * (r + 1) <= v)
        ++r;
    return r;
}

} // namespace

Circle::Circle()
{
    // Every byte takes part in the store's block comparison.
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
    rect = QRect(QPoint(0, 0), QPoint(-1, -1));
    imageRect = QRect(QPoint(0, 0), QPoint(-1, -1));
    ctrlCode = -1;
    selected = false;
    innerRadius = 0;
    scaleX = 1.0f;
    scaleY = 1.0f;
    UpdateAll();
}

void Circle::UpdateRect()
{
    if (innerRadius > radius)
        innerRadius = radius;
    else if (innerRadius < 0)
        innerRadius = 0;
    if (radius > cx)
        radius = cx;
    if (cy < radius)
        radius = cy;
    // A centre left of or above the view would give a negative radius and a
    // turned-over rectangle.
    if (radius < 0)
        radius = 0;
    const int top = cy - radius;
    const int left = cx - radius;
    rect.setCoords(left, top, left + 2 * radius - 1, top + 2 * radius - 1);
}

void Circle::UpdateAll()
{
    const int w = rect.width();
    const int h = rect.height();
    radius = std::min(h / 2, w / 2);
    cx = rect.left() + radius;
    cy = rect.top() + radius;
    UpdateRect();
}

bool Circle::PtInCtrl(QPoint p, int* code)
{
    ctrlCode = -1;
    if (selected) {
        const long long dx = static_cast<long long>(p.x()) - cx;
        const long long dy = static_cast<long long>(p.y()) - cy;
        const long long d2 = dx * dx + dy * dy;
        const long long outer = static_cast<long long>(radius) + 20;
        const long long inner = static_cast<long long>(radius) - 20;
        if (!(d2 > outer * outer || d2 < inner * inner)) {
            if (std::llabs(dx) < 20)
                ctrlCode = p.y() > cy ? 5 : 1;
            else if (std::llabs(dy) < 20)
                ctrlCode = p.x() < cx ? 7 : 3;
            else if (p.x() < cx)
                ctrlCode = p.y() > cy ? 0 : 6;
            else
                ctrlCode = p.y() > cy ? 2 : 4;
        }
    }
    if (code)
        *code = ctrlCode;
    return ctrlCode != -1;
}

bool Circle::Contains(QPoint p) const
{
    return shapedraw::inGrownRect(rect, p);
}

void Circle::Resize(int /*code*/, QPoint /*from*/, QPoint to)
{
    const long long dx = static_cast<long long>(to.x()) - cx;
    const long long dy = static_cast<long long>(to.y()) - cy;
    const float d = std::sqrt(static_cast<float>(dx * dx + dy * dy));
    radius = shapedraw::truncate(d);
    UpdateRect();
}

void Circle::setImageRect()
{
    const float sx = shapedraw::usableScale(scaleX);
    const float sy = shapedraw::usableScale(scaleY);
    const float r = static_cast<float>(radius);
    const float ri = static_cast<float>(innerRadius);
    int outer = shapedraw::roundEven((r / sx + r / sy) * 0.5f);
    const int inner = shapedraw::roundEven((ri / sx + ri / sy) * 0.5f);
    const int icx = shapedraw::truncate(static_cast<float>(cx) / sx);
    const int icy = shapedraw::truncate(static_cast<float>(cy) / sy);
    if (icx < outer)
        outer = icx;
    int top;
    if (icy < outer) {
        outer = icy;
        top = 0;
    } else {
        top = icy - outer;
    }
    imageCx = icx;
    imageCy = icy;
    imageRadius = outer;
    imageInnerRadius = inner;
    imageRect.setCoords(icx - outer, top, icx - outer + 2 * outer - 1, top + 2 * outer - 1);
}

cv::Mat Circle::UpdateMask() const
{
    const int o = imageRadius;
    if (o <= 0)
        return cv::Mat();
    if (o > shapedraw::kMaxMaskSide / 2) {
        qWarning() << "Circle: ring too large for a mask, radius" << o;
        return cv::Mat();
    }
    const int side = 2 * o;
    cv::Mat mask = cv::Mat::zeros(side, side, CV_8UC1);
    const long long outer2 = static_cast<long long>(o) * o;
    const long long ri = std::max(0, imageInnerRadius);
    const long long inner2 = ri * ri;
    // Per row the ring is one or two runs; their ends come from exact integer
    // square roots, so the result is the pixel rule inner^2 <= d^2 < outer^2.
    for (int y = 0; y < side; ++y) {
        uchar* row = mask.ptr<uchar>(y);
        const long long dy = y - o;
        const long long a = outer2 - dy * dy; // need dx^2 < a
        if (a <= 0)
            continue;
        const long long outerReach = isqrtFloor(a - 1); // |dx| <= outerReach
        const long long from = std::max<long long>(o - outerReach, 0);
        const long long to = std::min<long long>(o + outerReach, side - 1);
        if (from > to)
            continue;
        std::memset(row + from, 255, static_cast<size_t>(to - from + 1));
        const long long b = inner2 - dy * dy; // need dx^2 >= b
        if (b > 0) {
            const long long innerReach = isqrtFloor(b - 1); // |dx| <= innerReach is inside the hole
            const long long h0 = std::max<long long>(o - innerReach, from);
            const long long h1 = std::min<long long>(o + innerReach, to);
            if (h0 <= h1)
                std::memset(row + h0, 0, static_cast<size_t>(h1 - h0 + 1));
        }
    }
    return mask;
}

void Circle::Draw(QPainter& painter) const
{
    painter.save();
    QPen pen = painter.pen();
    pen.setWidth(3);
    painter.setPen(pen);
    if (selected) {
        const QPoint handles[4] = {QPoint(cx, rect.top()), QPoint(rect.right(), cy),
                                   QPoint(cx, rect.bottom()), QPoint(rect.left(), cy)};
        for (int i = 0; i < 4; ++i) {
            const bool hot = ctrlCode != -1 && ctrlCode % 2 == 1 && ctrlCode / 2 == i;
            pen.setColor(hot ? Qt::yellow : Qt::magenta);
            painter.setPen(pen);
            painter.drawRect(shapedraw::handleRect(handles[i]));
        }
        pen.setColor(Qt::magenta);
        painter.setPen(pen);
    }
    painter.drawEllipse(rect);
    pen.setColor(Qt::yellow);
    painter.setPen(pen);
    painter.drawEllipse(QRect(QPoint(cx - innerRadius, cy - innerRadius),
                              QPoint(cx + innerRadius - 1, cy + innerRadius - 1)));
    painter.restore();
}

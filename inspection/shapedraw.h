#pragma once
#include <QPoint>
#include <QRect>
#include <cmath>

// Small details shared by the ROI shapes.
namespace shapedraw {

// The 20 x 20 handle square of a handle point: (x - 10, y - 10) to (x + 9, y + 9).
inline QRect handleRect(QPoint p)
{
    return QRect(QPoint(p.x() - 10, p.y() - 10), QPoint(p.x() + 9, p.y() + 9));
}

// The pointer is on or near a shape: inside its view rectangle grown by the
// 20-pixel grab margin on every side.
inline bool inGrownRect(const QRect& r, QPoint p)
{
    return p.x() >= r.left() - 20 && p.x() <= r.right() + 20 && p.y() >= r.top() - 20 && p.y() <= r.bottom() + 20;
}

// Round to nearest with ties to even, the default floating-point rounding.
// qRound would round halves away from zero and shift stored geometry.
inline int roundEven(float v)
{
    if (!std::isfinite(v))
        return 0;
    const float r = std::nearbyint(v);
    if (r >= 2147483520.0f)
        return 2147483520;
    if (r <= -2147483520.0f)
        return -2147483520;
    return static_cast<int>(r);
}

// Truncation toward zero with the same overflow guard.
inline int truncate(float v)
{
    if (!std::isfinite(v))
        return 0;
    if (v >= 2147483520.0f)
        return 2147483520;
    if (v <= -2147483520.0f)
        return -2147483520;
    return static_cast<int>(v);
}

// A scale factor that was never set (or is broken) must not divide by zero:
// the shapes then treat view and image pixels as the same.
inline float usableScale(float s)
{
    return (std::isfinite(s) && s > 0.0f) ? s : 1.0f;
}

// Masks larger than this per side come only from damaged geometry; a camera
// frame is far smaller.
constexpr int kMaxMaskSide = 32768;

} // namespace shapedraw

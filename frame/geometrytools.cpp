#include "frame/geometrytools.h"
#include "frame/globals.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

int clampTolerance(int tol)
{
    return std::clamp(tol, 3, 50);
}

} // namespace

bool PointAround(QPoint a, QPoint b, int tol)
{
    const int t = clampTolerance(tol);
    return std::abs(b.x() - a.x()) < t && std::abs(b.y() - a.y()) < t;
}

bool LineAround(int a, int b, int tol)
{
    return std::abs(b - a) < clampTolerance(tol);
}

bool LineAround(int a, int b, int v, int lo, int hi, int tol)
{
    return std::abs(b - a) < clampTolerance(tol) && lo <= v && v <= hi;
}

void CheckInRange(int* v, int isX)
{
    if (!v)
        return;
    const int w = isX ? gShowW : gShowH;
    if (*v < 3)
        *v = 3;
    else if (*v >= w - 2)
        *v = w - 3;
}

void CheckInRange(QRect* rect, bool moveWhole)
{
    if (!rect)
        return;
    int l = rect->left(), t = rect->top(), r = rect->right(), b = rect->bottom();
    if (l > r)
        std::swap(l, r);
    if (t > b)
        std::swap(t, b);
    if (!moveWhole) {
        CheckInRange(&l, 1);
        CheckInRange(&r, 1);
        CheckInRange(&t, 0);
        CheckInRange(&b, 0);
    } else {
        // One pass only: a rectangle larger than the screen keeps its size and
        // ends with its right/bottom edge on the margin.
        if (l < 3) { r += 3 - l; l = 3; }
        if (t < 3) { b += 3 - t; t = 3; }
        if (r >= gShowW - 2) { const int d = r - (gShowW - 3); l -= d; r -= d; }
        if (b >= gShowH - 2) { const int d = b - (gShowH - 3); t -= d; b -= d; }
    }
    rect->setCoords(l, t, r, b);
}

void CheckInRange(int* v, int isX, int /*width*/, int /*height*/)
{
    CheckInRange(v, isX);
}

void CheckInRange(QRect* rect, int /*width*/, int /*height*/, bool moveWhole)
{
    CheckInRange(rect, moveWhole);
}

#include "inspection/repolygon.h"
#include "inspection/shapedraw.h"
#include "frame/geometrytools.h"
#include "frame/globals.h"

#include <QDebug>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>
#include <opencv2/imgproc.hpp>

static_assert(sizeof(QPoint) == sizeof(cv::Point) && alignof(QPoint) == alignof(cv::Point),
              "vertex arrays are handed to OpenCV without a copy");

namespace {

QRect emptyRect()
{
    return QRect(QPoint(0, 0), QPoint(-1, -1));
}

// A stored count outside the arrays comes only from damaged data; never read
// beyond them.
int usableCount(int n)
{
    return std::clamp(n, 0, RePolygon::kMaxPoints);
}

long long floorDiv(long long a, long long b) // b > 0
{
    long long q = a / b;
    if ((a % b != 0) && (a < 0))
        --q;
    return q;
}

} // namespace

RePolygon::RePolygon()
    : RePolygon(0, nullptr)
{
}

RePolygon::RePolygon(int n, QPoint* pts)
{
    // Zero the arrays and the padding: every byte takes part in the store's
    // block comparison.
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
    if (n < 0 || n > kMaxPoints) {
        qWarning() << "RePolygon: vertex count" << n << "outside 0 ..." << kMaxPoints << "- clamped";
        n = usableCount(n);
    }
    count = n;
    if (n > 0 && pts)
        std::memcpy(static_cast<void*>(points), pts, sizeof(QPoint) * static_cast<size_t>(n));
    else if (n > 0)
        count = 0;
    boundRect = emptyRect();
    imageBoundRect = emptyRect();
    spareRect = emptyRect();
    selected = false;
    hand = false;
    moveX = 0;
    moveY = 0;
    scaleX = 1.0f;
    scaleY = 1.0f;
    node = -1;
}

bool RePolygon::PtInCtrl(QPoint p, int* code)
{
    if (!selected) {
        if (code)
            *code = -1;
        return false;
    }
    node = -1;
    const int n = usableCount(count);
    for (int i = 0; i < n; ++i) {
        if (PointAround(points[i], p, 20)) {
            node = i;
            break;
        }
    }
    if (code)
        *code = node;
    return node != -1;
}

bool RePolygon::Contains(QPoint& p) const
{
    if (boundRect.right() - boundRect.left() <= 78 || boundRect.bottom() - boundRect.top() <= 78)
        return p.x() >= boundRect.left() && p.x() <= boundRect.right()
            && p.y() >= boundRect.top() && p.y() <= boundRect.bottom();
    const int n = usableCount(count);
    if (n < 1)
        return false;
    const cv::Mat contour(n, 1, CV_32SC2, const_cast<QPoint*>(points));
    return cv::pointPolygonTest(contour, cv::Point2f(static_cast<float>(p.x()), static_cast<float>(p.y())), false) > 0;
}

void RePolygon::Resize(int index, QPoint from, QPoint to, float sx, float sy)
{
    moveX = to.x() - from.x();
    moveY = to.y() - from.y();
    if (index < 0 || index >= usableCount(count))
        return;
    const int x = points[index].x() + moveX;
    const int y = points[index].y() + moveY;
    if (x < 3 || x >= gShowW - 2 || y < 3 || y >= gShowH - 2)
        return;
    points[index] = QPoint(x, y);
    const float fx = shapedraw::usableScale(sx);
    const float fy = shapedraw::usableScale(sy);
    imagePoints[index] = QPoint(shapedraw::roundEven(static_cast<float>(x) / fx),
                                shapedraw::roundEven(static_cast<float>(y) / fy));
}

void RePolygon::BoundingRect()
{
    const int n = usableCount(count);
    if (n < 2) {
        const QPoint i0 = imagePoints[0];
        const QPoint v0 = points[0];
        imageBoundRect.setCoords(i0.x(), i0.y(), i0.x() - 1, i0.y() - 1);
        boundRect.setCoords(v0.x() - 20, v0.y() - 20, v0.x() - 1, v0.y() - 1);
        return;
    }
    int minX = imagePoints[0].x(), maxX = minX, minY = imagePoints[0].y(), maxY = minY;
    int vminX = points[0].x(), vmaxX = vminX, vminY = points[0].y(), vmaxY = vminY;
    for (int i = 1; i < n; ++i) {
        minX = std::min(minX, imagePoints[i].x());
        maxX = std::max(maxX, imagePoints[i].x());
        minY = std::min(minY, imagePoints[i].y());
        maxY = std::max(maxY, imagePoints[i].y());
        vminX = std::min(vminX, points[i].x());
        vmaxX = std::max(vmaxX, points[i].x());
        vminY = std::min(vminY, points[i].y());
        vmaxY = std::max(vmaxY, points[i].y());
    }
    imageBoundRect.setCoords(minX, minY, maxX - 1, maxY - 1);
    boundRect.setCoords(vminX - 20, vminY - 20, vmaxX - 1, vmaxY - 1);
}

void RePolygon::setImageRect()
{
    const float sx = shapedraw::usableScale(scaleX);
    const float sy = shapedraw::usableScale(scaleY);
    const int n = usableCount(count);
    for (int i = 0; i < n; ++i)
        imagePoints[i] = QPoint(shapedraw::roundEven(static_cast<float>(points[i].x()) / sx),
                                shapedraw::roundEven(static_cast<float>(points[i].y()) / sy));
    BoundingRect();
}

namespace {

// One non-horizontal edge while the scan walks down the mask. Its crossing
// with row y is xa + (y - ya) * dx / den; the floor of that and the remainder
// are carried from row to row, so a row costs an addition per edge instead of
// a division, and an exact hit on a pixel stays exact.
struct ScanEdge {
    long long q;     // floor of the crossing at the current row
    long long rem;   // remainder of the crossing, 0 <= rem < den
    long long stepQ; // floor(dx / den)
    long long stepR; // dx - stepQ * den, 0 <= stepR < den
    long long den;   // yb - ya, > 0
    int yStart;      // first mask row the edge counts for
    int yEnd;        // yb: the edge counts for rows ya <= y < yb

    // First pixel right of the crossing; a crossing exactly on a pixel puts
    // that pixel on the outline.
    long long t() const { return rem == 0 ? q : q + 1; }
    void advance()
    {
        // Branch-free carry: its pattern along an edge is irregular.
        rem += stepR;
        const long long carry = rem >= den ? 1 : 0;
        rem -= den & -carry;
        q += stepQ + carry;
    }
};

// Sets n bytes to v. Most runs between crossings of a detailed outline are
// a few pixels long, where a call of memset costs more than the stores.
inline void fillRun(uchar* p, size_t n, uchar v)
{
    if (n >= 32) {
        std::memset(p, v, n);
        return;
    }
    const std::uint64_t pattern = 0x0101010101010101ULL * v;
    const std::uint32_t pattern4 = static_cast<std::uint32_t>(pattern);
    if (n >= 16) {
        std::memcpy(p, &pattern, 8);
        std::memcpy(p + 8, &pattern, 8);
        std::memcpy(p + n - 16, &pattern, 8);
        std::memcpy(p + n - 8, &pattern, 8);
    } else if (n >= 8) {
        std::memcpy(p, &pattern, 8);
        std::memcpy(p + n - 8, &pattern, 8);
    } else if (n >= 4) {
        std::memcpy(p, &pattern4, 4);
        std::memcpy(p + n - 4, &pattern4, 4);
    } else if (n > 0) {
        p[0] = v;
        p[n / 2] = v;
        p[n - 1] = v;
    }
}

__extension__ typedef __int128 Wide;

// Crossing state of edge (xa, ya)-(xb, yb) at row y >= ya. Computed once per
// edge in wide arithmetic: vertices far off the mask must not overflow.
void startEdge(ScanEdge& e, long long xa, long long ya, long long xb, long long y)
{
    const long long dx = xb - xa;
    const Wide num = static_cast<Wide>(y - ya) * dx;
    Wide q = num / e.den;
    Wide rem = num - q * e.den;
    if (rem < 0) {
        --q;
        rem += e.den;
    }
    e.q = xa + static_cast<long long>(q);
    e.rem = static_cast<long long>(rem);
    e.stepQ = floorDiv(dx, e.den);
    e.stepR = dx - e.stepQ * e.den;
}

} // namespace

// Exact "strictly inside" mask by scanlines. A pixel (x, y) is inside when an
// odd number of edges cross row y to its right, counting an edge for the rows
// from its upper end (inclusive) to its lower end (exclusive), and the pixel
// is not on the outline. This is the rule of OpenCV's point-in-polygon test,
// evaluated per row in integer arithmetic instead of per pixel. The active
// edges stay sorted by their crossing from one row to the next, so keeping
// them in order is nearly free; edges that start in a row are merged in.
cv::Mat RePolygon::UpdateMask() const
{
    const int n = usableCount(count);
    const long long rows = static_cast<long long>(imageBoundRect.bottom()) - imageBoundRect.top() + 1;
    const long long cols = static_cast<long long>(imageBoundRect.right()) - imageBoundRect.left() + 1;
    if (n < 3)
        qWarning() << "RePolygon: mask of a polygon with" << n << "vertices is empty";
    if (rows <= 0 || cols <= 0)
        return cv::Mat();
    if (rows > shapedraw::kMaxMaskSide || cols > shapedraw::kMaxMaskSide) {
        qWarning() << "RePolygon: bounding rectangle too large for a mask" << imageBoundRect;
        return cv::Mat();
    }
    if (n < 3)
        return cv::Mat::zeros(static_cast<int>(rows), static_cast<int>(cols), CV_8UC1);

    const long long ox = imageBoundRect.left();
    const long long oy = imageBoundRect.top();
    const int w = static_cast<int>(cols);
    const int h = static_cast<int>(rows);

    // Edges in the order of the first mask row they count for.
    std::vector<ScanEdge> edges;
    edges.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const QPoint a = imagePoints[i];
        const QPoint b = imagePoints[(i + 1) % n];
        if (a.y() == b.y())
            continue;
        const QPoint lo = a.y() < b.y() ? a : b;
        const QPoint hi = a.y() < b.y() ? b : a;
        if (hi.y() <= oy || lo.y() >= oy + h)
            continue;
        ScanEdge e;
        e.den = static_cast<long long>(hi.y()) - lo.y();
        e.yStart = static_cast<int>(std::max<long long>(lo.y(), oy) - oy);
        e.yEnd = hi.y();
        startEdge(e, lo.x(), lo.y(), hi.x(), oy + e.yStart);
        edges.push_back(e);
    }
    // By starting row (counting sort), and within a row by crossing, ready
    // to be merged.
    {
        std::vector<int> first(static_cast<size_t>(h) + 1, 0);
        for (const ScanEdge& e : edges)
            ++first[static_cast<size_t>(e.yStart) + 1];
        for (int r = 0; r < h; ++r)
            first[static_cast<size_t>(r) + 1] += first[static_cast<size_t>(r)];
        std::vector<ScanEdge> sorted(edges.size());
        for (const ScanEdge& e : edges)
            sorted[static_cast<size_t>(first[static_cast<size_t>(e.yStart)]++)] = e;
        edges.swap(sorted);
        size_t b = 0;
        while (b < edges.size()) {
            size_t e = b + 1;
            while (e < edges.size() && edges[e].yStart == edges[b].yStart)
                ++e;
            if (e - b > 1)
                std::sort(edges.begin() + static_cast<std::ptrdiff_t>(b), edges.begin() + static_cast<std::ptrdiff_t>(e),
                          [](const ScanEdge& x, const ScanEdge& y) { return x.t() < y.t(); });
            b = e;
        }
    }

    cv::Mat mask(h, w, CV_8UC1);
    std::vector<ScanEdge> active;
    active.reserve(edges.size());
    size_t next = 0;
    for (int r = 0; r < h; ++r) {
        const long long y = oy + r;
        // Advance the edges of the previous row, drop those that ended and
        // restore the order (insertion: crossings rarely change places).
        size_t k = 0;
        for (size_t i = 0; i < active.size(); ++i) {
            ScanEdge e = active[i];
            if (e.yEnd <= y)
                continue;
            e.advance();
            const long long t = e.t();
            size_t j = k;
            while (j > 0 && active[j - 1].t() > t) {
                active[j] = active[j - 1];
                --j;
            }
            active[j] = e;
            ++k;
        }
        active.resize(k);
        // Merge the edges starting here (already in order) from the back, so
        // only the crossings right of the first new one move.
        size_t m = next;
        while (m < edges.size() && edges[m].yStart == r)
            ++m;
        if (m > next) {
            const size_t added = m - next;
            active.resize(k + added);
            size_t a = k, b = added, out = k + added;
            while (b > 0) {
                if (a > 0 && active[a - 1].t() > edges[next + b - 1].t())
                    active[--out] = active[--a];
                else
                    active[--out] = edges[next + --b];
            }
            next = m;
        }

        uchar* row = mask.ptr<uchar>(r);
        std::memset(row, 0, static_cast<size_t>(w));
        for (size_t i = 0; i + 1 < active.size(); i += 2) {
            const long long from = std::max<long long>(active[i].t() - ox, 0);
            const long long to = std::min<long long>(active[i + 1].t() - ox, w);
            if (from < to)
                fillRun(row + from, static_cast<size_t>(to - from), 255);
        }
        for (const ScanEdge& e : active) {
            if (e.rem == 0 && e.q >= ox && e.q - ox < w)
                row[e.q - ox] = 0;
        }
    }

    // Vertices and horizontal edges are on the outline too.
    for (int i = 0; i < n; ++i) {
        const QPoint a = imagePoints[i];
        const QPoint b = imagePoints[(i + 1) % n];
        const long long r = static_cast<long long>(a.y()) - oy;
        if (r < 0 || r >= h)
            continue;
        uchar* row = mask.ptr<uchar>(static_cast<int>(r));
        long long x0 = a.x(), x1 = a.x();
        if (a.y() == b.y()) {
            x0 = std::min(a.x(), b.x());
            x1 = std::max(a.x(), b.x());
        }
        x0 = std::max<long long>(x0 - ox, 0);
        x1 = std::min<long long>(x1 - ox, w - 1);
        if (x0 <= x1)
            std::memset(row + x0, 0, static_cast<size_t>(x1 - x0 + 1));
    }
    return mask;
}

void RePolygon::Draw(QPainter& painter) const
{
    const int n = usableCount(count);
    painter.save();
    QPen pen = painter.pen();
    pen.setWidth(3);
    painter.setPen(pen);
    if (selected && !hand && n > 0) {
        for (int i = 0; i < n; ++i) {
            pen.setColor(i == node ? Qt::yellow : Qt::magenta);
            painter.setPen(pen);
            painter.drawRect(shapedraw::handleRect(points[i]));
        }
    }
    if (selected) {
        pen.setColor(Qt::magenta);
        painter.setPen(pen);
    }
    if (n > 0)
        painter.drawPolygon(points, n, Qt::OddEvenFill);
    painter.restore();
}

#include "inspection/repolygon.h"
#include "inspection/shapedraw.h"
#include "frame/geometrytools.h"
#include "frame/globals.h"

#include <QDebug>
#include <QPainter>
#include <QPen>
#include <algorithm>
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

// Exact "strictly inside" mask by scanlines. A pixel (x, y) is inside when an
// odd number of edges cross the row y to its right, counting an edge for the
// rows from its lower end (inclusive) to its upper end (exclusive), and the
// pixel is not on the outline. This is the rule of OpenCV's point-in-polygon
// test, evaluated per row in integer arithmetic instead of per pixel.
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
    cv::Mat mask = cv::Mat::zeros(static_cast<int>(rows), static_cast<int>(cols), CV_8UC1);
    if (n < 3)
        return mask;

    const int ox = imageBoundRect.left();
    const int oy = imageBoundRect.top();
    const int w = static_cast<int>(cols);
    const int h = static_cast<int>(rows);

    struct Edge {
        int xa, ya; // lower end (smaller y)
        int xb, yb; // upper end
    };
    // Edges bucketed by the row where they start to count.
    std::vector<std::vector<Edge>> starts(static_cast<size_t>(h));
    std::vector<Edge> before; // edges starting above the mask (cannot happen for a consistent box)
    for (int i = 0; i < n; ++i) {
        const QPoint a = imagePoints[i];
        const QPoint b = imagePoints[(i + 1) % n];
        if (a.y() == b.y())
            continue;
        Edge e = a.y() < b.y() ? Edge{a.x(), a.y(), b.x(), b.y()} : Edge{b.x(), b.y(), a.x(), a.y()};
        const long long row = static_cast<long long>(e.ya) - oy;
        if (row >= h)
            continue;
        if (row < 0)
            before.push_back(e);
        else
            starts[static_cast<size_t>(row)].push_back(e);
    }

    std::vector<Edge> active = before;
    std::vector<long long> thresholds;
    std::vector<long long> onLine;
    for (int r = 0; r < h; ++r) {
        const long long y = static_cast<long long>(oy) + r;
        active.insert(active.end(), starts[static_cast<size_t>(r)].begin(), starts[static_cast<size_t>(r)].end());
        active.erase(std::remove_if(active.begin(), active.end(), [y](const Edge& e) { return e.yb <= y; }),
                     active.end());
        if (active.empty())
            continue;
        thresholds.clear();
        onLine.clear();
        for (const Edge& e : active) {
            const long long num = (y - e.ya) * (static_cast<long long>(e.xb) - e.xa);
            const long long den = static_cast<long long>(e.yb) - e.ya;
            const long long q = floorDiv(num, den);
            const long long x = e.xa + q;
            if (num - q * den == 0) {
                thresholds.push_back(x); // counts for pixels left of x; x itself is on the outline
                onLine.push_back(x);
            } else {
                thresholds.push_back(x + 1);
            }
        }
        std::sort(thresholds.begin(), thresholds.end());
        uchar* row = mask.ptr<uchar>(r);
        for (size_t k = 0; k + 1 < thresholds.size(); k += 2) {
            const long long from = std::max<long long>(thresholds[k] - ox, 0);
            const long long to = std::min<long long>(thresholds[k + 1] - ox, w);
            if (from < to)
                std::memset(row + from, 255, static_cast<size_t>(to - from));
        }
        for (long long x : onLine) {
            const long long c = x - ox;
            if (c >= 0 && c < w)
                row[c] = 0;
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

#pragma once
#include <QPoint>
#include <QRect>
#include <opencv2/core.hpp>
#include <type_traits>

class QPainter;

// Polygon ROI (also the free-hand area). Plain value kept inside the ROI store
// (copied and compared as raw memory): fixed arrays, no implicit padding,
// every byte defined by the constructors.
class RePolygon
{
public:
    static constexpr int kMaxPoints = 8096;

    RePolygon();
    // n view vertices from pts; n is clamped to 0..kMaxPoints.
    RePolygon(int n, QPoint* pts);
    ~RePolygon() = default;

    bool IsSelected() const { return selected; }
    void SetSelected(bool s) { selected = s; }
    void SetHand(bool h) { hand = h; }
    bool getHand() const { return hand; }
    void setNode(int n) { node = n; }

    // Vertex hit test of a selected polygon; writes the vertex index or -1.
    bool PtInCtrl(QPoint p, int* code);
    bool Contains(QPoint& p) const;
    void setShowA(float sx, float sy) { scaleX = sx; scaleY = sy; }
    // Moves one vertex by to - from unless it would leave the screen margin.
    void Resize(int node, QPoint from, QPoint to, float sx, float sy);
    void BoundingRect();
    void setImageRect();
    // 255 strictly inside the image contour, over the image bounding rectangle.
    cv::Mat UpdateMask() const;
    void Draw(QPainter& painter) const;

    // Layout is part of the ROI store's block: do not reorder.
    int count;                       // vertex count
    QPoint points[kMaxPoints];       // view vertices
    QPoint imagePoints[kMaxPoints];  // image vertices, entry i belongs to points[i]
    QRect boundRect;                 // view bounding rectangle (hit-test area)
    QRect imageBoundRect;            // image bounding rectangle (mask area)
    bool selected;
    bool hand;                       // drawn free-hand: no vertex handles
    char pad0[2];                    // explicit padding, always zero
    int moveX;                       // view-pixel delta of the last Resize
    int moveY;
    QRect spareRect;                 // kept for the stored layout, unused
    float scaleX;
    float scaleY;
    int node;                        // selected vertex, -1 none
};

static_assert(std::is_trivially_copyable<RePolygon>::value, "ROI store copies shapes as raw memory");
static_assert(sizeof(RePolygon) == 129612, "RePolygon layout is part of the ROI store");

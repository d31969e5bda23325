#pragma once
#include <QPoint>
#include <QRect>
#include <opencv2/core.hpp>
#include <type_traits>

class QPainter;

// Ring ROI: outer circle minus inner circle. Plain value kept inside the ROI
// store (copied and compared as raw memory): no implicit padding, every byte
// defined by the constructor.
class Circle
{
public:
    Circle();
    ~Circle() = default;

    bool IsSelected() const { return selected; }
    void SetSelected(bool s) { selected = s; }

    bool PtInCtrl(QPoint p, int* code);
    bool Contains(QPoint p) const;
    void setShowA(float sx, float sy) { scaleX = sx; scaleY = sy; }
    // The handle code is ignored: the outer radius follows the pointer.
    void Resize(int code, QPoint from, QPoint to);
    void GetRectExt(QRect& r) const { r = rect; }
    void setImageRect();
    // 255 between the inner and the outer circle, over a 2r' x 2r' square.
    cv::Mat UpdateMask() const;
    void Draw(QPainter& painter) const;

    // Clamps the radii and recomputes the view rectangle from centre and radii.
    void UpdateRect();
    // Centre and outer radius from the view rectangle, then UpdateRect.
    void UpdateAll();

    // Layout is part of the ROI store's block: do not reorder.
    QRect rect;            // bounding square of the outer circle, view pixels
    QRect imageRect;       // the same in image pixels
    int cx;                // centre, view pixels
    int cy;
    int radius;            // outer radius, view pixels
    int innerRadius;       // inner radius, view pixels
    int imageCx;           // centre, image pixels
    int imageCy;
    int imageRadius;
    int imageInnerRadius;
    bool selected;
    char pad0[3];          // explicit padding, always zero
    float scaleX;
    float scaleY;
    int ctrlCode;          // handle code, -1 none
};

static_assert(std::is_trivially_copyable<Circle>::value, "ROI store copies shapes as raw memory");
static_assert(sizeof(Circle) == 80, "Circle layout is part of the ROI store");

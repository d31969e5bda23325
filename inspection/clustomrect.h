#pragma once
#include <QPoint>
#include <QRect>
#include <opencv2/core.hpp>
#include <type_traits>

class QPainter;

// Axis-parallel rectangle ROI. Kept by value inside the ROI store, which
// copies and compares whole stores as raw memory: only plain fields, no
// implicit padding (the padding is an explicit member), every byte defined by
// the constructor.
class ClustomRect
{
public:
    ClustomRect();
    ~ClustomRect() = default;

    bool IsSelected() const { return selected; }
    void SetSelected(bool s) { selected = s; }

    // Handle hit test of a selected rectangle; writes the handle code (or -1)
    // to *code and into ctrlCode.
    bool PtInCtrl(QPoint p, int* code);
    // p lies in the view rectangle grown by 20 pixels on every side.
    bool Contains(QPoint p) const;
    void setShowA(float sx, float sy) { scaleX = sx; scaleY = sy; }
    // Moves the edges named by the handle code by to - from.
    void Resize(int code, QPoint from, QPoint to);
    void GetRectExt(QRect& r) const { r = rect; }
    // Image rectangle from the view rectangle and the scale factors.
    void setImageRect();
    // 8-bit mask of the image rectangle, all 255.
    cv::Mat UpdateMask() const;
    void Draw(QPainter& painter) const;

    // Layout is part of the ROI store's block: do not reorder.
    QRect rect;          // view pixels, inclusive corners
    QRect imageRect;     // image pixels, inclusive corners
    bool selected;
    char pad0[3];        // explicit padding, always zero
    int moveX;           // view-pixel delta of the last Resize that moved an x edge
    int moveY;
    float scaleX;        // view pixels per image pixel
    float scaleY;
    int ctrlCode;        // handle code, -1 none
};

static_assert(std::is_trivially_copyable<ClustomRect>::value, "ROI store copies shapes as raw memory");
static_assert(sizeof(ClustomRect) == 56, "ClustomRect layout is part of the ROI store");

#pragma once
#include <QPoint>
#include <QRect>

// Hit tests and screen clamps shared by the ROI shapes and the ROI editing of
// the camera views. All coordinates are screen (ROI) pixels; the clamps keep
// a 3-pixel margin to the gShowW x gShowH screen.

// The tolerance of every hit test is clamped to 3..50 pixels.

// True when both coordinates of b differ from a by less than the tolerance.
bool PointAround(QPoint a, QPoint b, int tol);
// True when |b - a| is below the tolerance.
bool LineAround(int a, int b, int tol);
// True when |b - a| is below the tolerance and lo <= v <= hi.
bool LineAround(int a, int b, int v, int lo, int hi, int tol);

// Keeps one coordinate in 3..W-3 (W = gShowW when isX is non-zero, else gShowH).
void CheckInRange(int* v, int isX);
// Normalises the rectangle, then keeps it on the screen: edge by edge
// (it may shrink) or, with moveWhole, shifted as a whole.
void CheckInRange(QRect* rect, bool moveWhole);
// Forms taking the camera image size; the bounds are still the screen size.
void CheckInRange(int* v, int isX, int width, int height);
void CheckInRange(QRect* rect, int width, int height, bool moveWhole);

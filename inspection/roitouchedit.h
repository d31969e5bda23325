#pragma once
#include "inspection/circle.h"
#include "inspection/clustomrect.h"

#include <QPoint>
#include <Qt>

#include <memory>

class CameraViewState;
class CammerSingleton;

// Touch editing of the edit copy of one camera view: the press / move /
// release machine, hit tests, the button moves and resizes, copy, delete,
// polygon saving and the mask exchange with the live store. The camera view
// derives from it and only adds what needs a screen (cursor, repaint, the
// parameter panel, the editor's buttons); tests drive it without one.
//
// Points handed in are widget pixels; they are turned into ROI (screen)
// coordinates under the main window's zoom and pan. The detection edited is
// the editor's (MainState::editDetect).
class RoiTouchEdit
{
public:
    static constexpr int kMaxRois = 100;
    static constexpr int kMaxDrawPoints = 8096;
    static constexpr int kDoubleClickMs = 800;
    static constexpr int kDoubleClickPx = 20;

    explicit RoiTouchEdit(CameraViewState& view);
    virtual ~RoiTouchEdit();
    RoiTouchEdit(const RoiTouchEdit&) = delete;
    RoiTouchEdit& operator=(const RoiTouchEdit&) = delete;

    // Widget pixels to ROI coordinates (truncated toward zero).
    static QPoint toRoi(QPoint widget);

    // The editing part of the pointer handlers, after the view has handled
    // the grid and the image-source checks. p is in widget pixels.
    void touchPress(QPoint p);
    void touchMove(QPoint p, bool leftHeld);
    void touchRelease();
    // Every click goes through here; true (and the editor's end action run)
    // on a double click.
    bool checkDoubleClick(QPoint p);

    bool PtInRegion(QPoint p);
    bool PtInRect(QPoint p);
    bool PtInRectMove(QPoint p);
    bool GetSelectedRect();
    void setCurRoi(int r);
    void DeselectROI();

    void SavePolygon();
    void SlotSize(int k);
    void SlotMove(int dx, int dy);
    void SlotCopyArea(QPoint q);
    void DeleteROI(int r);
    // Generates ROIs from up to two pattern ROIs (the first two that are not
    // positioning ROIs): each pattern is searched in the template shown and
    // copied onto every match. Returns the number of ROIs made.
    int GenROI();
    void BackMask() { backMasks(*m_view); }
    void RestorMask() { restoreMasks(*m_view); }
    // Edit masks from the live masks and back; the arrays then share pixels
    // (masks are only ever replaced, never written in place).
    static void backMasks(CameraViewState& v);
    static void restoreMasks(CameraViewState& v);

    // The detection edited, 0..7.
    int editDetection() const;
    // Brings shape i of the edit copy up to date (scale, image rectangle,
    // mask into editMasks) and sets labelPos.
    void refreshShape(int i);

    // Touch state.
    int handleIndex = -1;
    int editState = 0;     // 0 idle, 1 drawing, 2 moving, 3 handle, 5 pressed (rect/ring)
    bool shapeBackup = false;
    ClustomRect workRect;
    Circle workCircle;
    QPoint pressPoint;
    QPoint dragPoint;
    std::unique_ptr<QPoint[]> drawPoints; // kMaxDrawPoints
    int drawPointCount = 0;
    bool polygonEditing = false;
    bool isPressed = false;
    QPoint touchPoint;
    bool polygonClosed = false;
    QPoint labelPos;
    int objectIndex = 0;
    int moveMode = 0;      // 2: the move buttons move every ROI of the detection

protected:
    // For a view that is also the state: it attaches itself once built.
    RoiTouchEdit();
    void attachView(CameraViewState& view) { m_view = &view; }

    // What needs a screen; the defaults do nothing.
    virtual void setTouchCursor(Qt::CursorShape) {}
    virtual void ShowHideROIPara() {}
    virtual void panTo(QPoint) {}
    // The editor's polygon button starts showing "end polygon".
    virtual void polygonStarted() {}
    // A double click ends the drawing of tool (1, 2, 4; hand with 2).
    virtual void endDrawingByDoubleClick(int tool, bool hand);
    virtual void saveIgnoreMask(int d);

    CameraViewState* m_view = nullptr;

private:
    CammerSingleton* store() const;
    bool continuation() const;
    bool selectedValid() const;
    void setSelectedMark(int i, bool on);
    // Writes a new ROI at the end of the detection (shape already in place),
    // applying the type/parameter rule. False (message 36) at 100 ROIs.
    bool roomForRoi();
    void finishNewRoi(int n);
    void dropDrawMode();
    // The colour under a touch (widget pixels) of a colour camera's shown image.
    void readTouchColour(QPoint p);
    bool shiftPolygon(int i, int dx, int dy);
    void shiftRectKeep(QRect& r, int dx, int dy);

    qint64 m_lastClickMs = -1;
    QPoint m_lastClick;
};

#include "inspection/roitouchedit.h"
#include "controller/mainstate.h"
#include "frame/clock.h"
#include "frame/geometrytools.h"
#include "frame/globals.h"
#include "frame/imagetools.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammerrecong.h"
#include "inspection/cammersingleton.h"
#include "inspection/roipanellogic.h"
#include "inspection/viewimages.h"

#include <glog/logging.h>

#include <algorithm>
#include <vector>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

constexpr int kR = CammerSingleton::kRois;

bool inMargin(int x, int y)
{
    return x >= 3 && x < gShowW - 3 && y >= 3 && y < gShowH - 3;
}

QPoint clampToScreen(QPoint p)
{
    return QPoint(std::clamp(p.x(), 3, std::max(3, gShowW - 3)), std::clamp(p.y(), 3, std::max(3, gShowH - 3)));
}

Qt::CursorShape handleCursor(int h)
{
    switch (h) {
    case 0: case 4: return Qt::SizeFDiagCursor;
    case 1: case 5: return Qt::SizeVerCursor;
    case 2: case 6: return Qt::SizeBDiagCursor;
    default: return Qt::SizeHorCursor;
    }
}

} // namespace

RoiTouchEdit::RoiTouchEdit(CameraViewState& view)
    : drawPoints(new QPoint[kMaxDrawPoints])
    , m_view(&view)
{
}

RoiTouchEdit::RoiTouchEdit()
    : drawPoints(new QPoint[kMaxDrawPoints])
{
}

RoiTouchEdit::~RoiTouchEdit() = default;

CammerSingleton* RoiTouchEdit::store() const
{
    return m_view->editStore;
}

int RoiTouchEdit::editDetection() const
{
    return std::clamp(gpWin ? gpWin->editDetect : 0, 0, CammerSingleton::kDetections - 1);
}

bool RoiTouchEdit::continuation() const
{
    return gpWPara && gpWPara->continuationArea;
}

bool RoiTouchEdit::selectedValid() const
{
    const CammerSingleton* s = store();
    return s && m_view->curRoi >= 0 && m_view->curRoi < std::min(kR, s->roiCount[editDetection()]);
}

QPoint RoiTouchEdit::toRoi(QPoint w)
{
    const double zoom = (gpWin && gpWin->zoomFactor > 0) ? gpWin->zoomFactor : 1.0;
    const QPointF off = gpWin ? gpWin->zoomOffset : QPointF();
    return QPoint(int((w.x() - off.x()) / zoom), int((w.y() - off.y()) / zoom));
}

void RoiTouchEdit::setSelectedMark(int i, bool on)
{
    CammerSingleton* s = store();
    switch (s->shapeKind[i]) {
    case 2: s->polygons[i].SetSelected(on); break;
    case 4: s->circles[i].SetSelected(on); break;
    default: s->rects[i].SetSelected(on); break;
    }
}

void RoiTouchEdit::setCurRoi(int r)
{
    if (r == m_view->curRoi)
        return;
    m_view->curRoi = r;
    if (store())
        store()->setSelectRoi(r);
}

void RoiTouchEdit::DeselectROI()
{
    editState = 0;
    polygonEditing = false;
    if (!continuation()) {
        if (gpWin)
            gpWin->drawTool = 0;
        drawPointCount = 0;
    }
    if (selectedValid())
        setSelectedMark(editDetection() * kR + m_view->curRoi, false);
    if (m_view->curRoi >= 0)
        m_view->lastRoi = m_view->curRoi;
    setCurRoi(-1);
}

void RoiTouchEdit::refreshShape(int i)
{
    CammerSingleton* s = store();
    const float sx = m_view->roiScaleX, sy = m_view->roiScaleY;
    cv::Mat& mask = m_view->editMasks[i / kR][i % kR];
    switch (s->shapeKind[i]) {
    case 2: {
        RePolygon& p = s->polygons[i];
        p.setShowA(sx, sy);
        p.setImageRect();
        mask = p.UpdateMask();
        labelPos = p.points[0] - QPoint(0, 26);
        break;
    }
    case 4: {
        Circle& c = s->circles[i];
        c.setShowA(sx, sy);
        c.setImageRect();
        mask = c.UpdateMask();
        labelPos = c.rect.topLeft() - QPoint(0, 26);
        break;
    }
    default: {
        ClustomRect& r = s->rects[i];
        r.setShowA(sx, sy);
        r.setImageRect();
        mask = r.UpdateMask();
        labelPos = r.rect.topLeft() - QPoint(0, 26);
        break;
    }
    }
}

// ------------------------------------------------------------ hit tests

bool RoiTouchEdit::PtInRegion(QPoint p)
{
    if (!selectedValid())
        return false;
    CammerSingleton* s = store();
    const int i = editDetection() * kR + m_view->curRoi;
    int code = -1;
    switch (s->shapeKind[i]) {
    case 2: return s->polygons[i].Contains(p) || s->polygons[i].PtInCtrl(p, &code);
    case 4: return s->circles[i].Contains(p) || s->circles[i].PtInCtrl(p, &code);
    default: return s->rects[i].Contains(p) || s->rects[i].PtInCtrl(p, &code);
    }
}

namespace {

bool roiHit(CammerSingleton* s, int i, QPoint p)
{
    int code = -1;
    switch (s->shapeKind[i]) {
    case 2: return s->polygons[i].Contains(p) || s->polygons[i].PtInCtrl(p, &code);
    case 4: return s->circles[i].Contains(p) || s->circles[i].PtInCtrl(p, &code);
    default: return s->rects[i].Contains(p) || s->rects[i].PtInCtrl(p, &code);
    }
}

} // namespace

bool RoiTouchEdit::PtInRect(QPoint p)
{
    CammerSingleton* s = store();
    if (!s)
        return false;
    const int d = editDetection();
    const int n = std::min(kR, s->roiCount[d]);
    const int start = (m_view->curRoi >= 0 && m_view->curRoi < n) ? m_view->curRoi : 0;
    for (int k = 0; k < n; ++k) {
        const int r = (start + k) % n;
        if (roiHit(s, d * kR + r, p)) {
            setCurRoi(r);
            switch (s->shapeKind[d * kR + r]) {
            case 2: labelPos = s->polygons[d * kR + r].points[0] - QPoint(0, 26); break;
            case 4: labelPos = s->circles[d * kR + r].rect.topLeft() - QPoint(0, 26); break;
            default: labelPos = s->rects[d * kR + r].rect.topLeft() - QPoint(0, 26); break;
            }
            touchPoint = p;
            return true;
        }
    }
    return false;
}

bool RoiTouchEdit::PtInRectMove(QPoint p)
{
    CammerSingleton* s = store();
    if (!s)
        return false;
    const int d = editDetection();
    for (int r = 0; r < std::min(kR, s->roiCount[d]); ++r)
        if (roiHit(s, d * kR + r, p))
            return true;
    return false;
}

bool RoiTouchEdit::GetSelectedRect()
{
    CammerSingleton* s = store();
    if (!s)
        return false;
    const int d = editDetection();
    for (int r = 0; r < std::min(kR, s->roiCount[d]); ++r) {
        const int i = d * kR + r;
        const bool sel = s->shapeKind[i] == 2 ? s->polygons[i].IsSelected()
                         : s->shapeKind[i] == 4 ? s->circles[i].IsSelected()
                                                : s->rects[i].IsSelected();
        if (sel) {
            setCurRoi(r);
            return true;
        }
    }
    return false;
}

// ------------------------------------------------------------ new ROIs

bool RoiTouchEdit::roomForRoi()
{
    if (store()->roiCount[editDetection()] < kMaxRois)
        return true;
    tellOperator(36);
    return false;
}

void RoiTouchEdit::finishNewRoi(int n)
{
    CammerSingleton* s = store();
    const int d = editDetection();
    const int i = d * kR + n;
    refreshShape(i);
    if (n > 0) {
        s->funcType[i] = s->funcType[i - 1];
        s->paramA[i] = s->paramA[i - 1];
        s->paramB[i] = s->paramB[i - 1];
        s->paramC[i] = s->paramC[i - 1];
    } else {
        int type = 0;
        if (gpWPara) {
            const std::pair<int, int> order[] = {{1, gpWPara->useSpot},         {4, gpWPara->useBlackArea},
                                                 {5, gpWPara->useWhiteArea},    {6, gpWPara->useSimilarity},
                                                 {7, gpWPara->useWhiteNumber},  {8, gpWPara->useBlackNumber},
                                                 {9, gpWPara->useColorSpots}};
            for (const auto& o : order)
                if (o.second) {
                    type = o.first;
                    break;
                }
        }
        s->funcType[i] = type;
        RoiPanelLogic::GetFuncInitParam(type, s->paramA[i], s->paramB[i], s->paramC[i]);
    }
    m_view->roiValue[d][n] = 0;
    if (d == 0)
        s->outN[n] = 0;
    s->setOrigin(d, n, -1);
    s->roiCount[d] = n + 1;
    setSelectedMark(i, true);
    setCurRoi(n);
}

void RoiTouchEdit::dropDrawMode()
{
    if (!continuation() && gpWin)
        gpWin->drawTool = 0;
}

// ------------------------------------------------------------ pointer

void RoiTouchEdit::readTouchColour(QPoint p)
{
    const CameraViewState& v = *m_view;
    if (!gpWin || !v.isColor || v.imageWidth <= 0 || v.imageHeight <= 0)
        return;
    // Widget pixels to image pixels under the zoom, as the pixel readout.
    const double zoom = gpWin->zoomFactor > 0 ? gpWin->zoomFactor : 1.0;
    const double sx = double(gShowW) * zoom, sy = double(gShowH) * zoom;
    if (sx <= 0 || sy <= 0)
        return;
    const int x = int((p.x() - gpWin->zoomOffset.x()) * v.imageWidth / sx);
    const int y = int((p.y() - gpWin->zoomOffset.y()) * v.imageHeight / sy);
    const size_t at = (size_t(y) * size_t(v.imageWidth) + size_t(x)) * 4;
    if (x < 0 || y < 0 || x >= v.imageWidth || y >= v.imageHeight || at + 4 > v.displayBuffer.size())
        return;
    const unsigned char* px = std::as_const(v.displayBuffer).data() + at; // B, G, R, x
    gpWin->touchColor = (unsigned(px[2]) << 16) | (unsigned(px[1]) << 8) | unsigned(px[0]);
}

void RoiTouchEdit::touchPress(QPoint p)
{
    CammerSingleton* s = store();
    if (!s || !gpWin)
        return;
    editState = 0;
    isPressed = true;
    const QPoint q = toRoi(p);
    const int d = editDetection();
    readTouchColour(p);

    if (gpWin->copyArea) {
        if (!(gpWPara && gpWPara->continuousCopy))
            gpWin->copyArea = false;
        SlotCopyArea(q);
        return;
    }

    const int tool = gpWin->drawTool;
    if (tool == 0) {
        auto grab = [&](int i) {
            pressPoint = q;
            if (s->shapeKind[i] == 2) {
                polygonEditing = true;
            } else {
                if (s->shapeKind[i] == 4) {
                    workCircle = s->circles[i];
                    workCircle.UpdateAll();
                } else {
                    workRect = s->rects[i];
                }
                shapeBackup = true;
            }
        };
        if (GetSelectedRect()) {
            const int i = d * kR + m_view->curRoi;
            if (PtInRegion(q)) {
                handleIndex = -1;
                if (s->shapeKind[i] == 2)
                    s->polygons[i].PtInCtrl(q, &handleIndex);
                else if (s->shapeKind[i] == 4)
                    s->circles[i].PtInCtrl(q, &handleIndex);
                else
                    s->rects[i].PtInCtrl(q, &handleIndex);
                if (handleIndex >= 0) {
                    editState = 3;
                } else {
                    setTouchCursor(Qt::SizeAllCursor);
                    editState = 2;
                }
                grab(i);
            } else {
                m_view->lastRoi = m_view->curRoi;
                setSelectedMark(i, false);
                setCurRoi(-1);
                setTouchCursor(Qt::CrossCursor);
                dragPoint = pressPoint = q;
            }
        } else if (PtInRect(q)) {
            const int i = d * kR + m_view->curRoi;
            setTouchCursor(Qt::SizeAllCursor);
            setSelectedMark(i, true);
            objectIndex = 0;
            editState = 2;
            handleIndex = -1;
            grab(i);
        }
        m_view->refreshView();
        return;
    }

    if (continuation())
        DeselectROI();
    setTouchCursor(Qt::CrossCursor);
    dragPoint = pressPoint = q;
    if (tool == 1 || tool == 4) {
        if (tool == 1) {
            workRect = ClustomRect();
            workRect.rect = QRect(q, q);
        } else {
            workCircle = Circle();
            workCircle.rect = QRect(q, q);
        }
        editState = 5;
        shapeBackup = true;
    } else if (tool == 2) {
        if (polygonClosed) {
            const int n = s->roiCount[d];
            if (n > 0) {
                setCurRoi(n - 1);
                setSelectedMark(d * kR + n - 1, true);
            }
            polygonClosed = false;
            return;
        }
        editState = 1;
        if (!polygonEditing) {
            polygonEditing = true;
            if (continuation() && !gpWin->freeHand)
                polygonStarted();
        }
        if (gpWin->freeHand)
            return;
        if (drawPointCount >= kMaxDrawPoints) {
            drawPointCount = kMaxDrawPoints - 1;
            tellOperator(35);
        } else {
            drawPoints[drawPointCount++] = q;
        }
    }
}

void RoiTouchEdit::shiftRectKeep(QRect& r, int dx, int dy)
{
    r.translate(dx, dy);
    CheckInRange(&r, true);
}

bool RoiTouchEdit::shiftPolygon(int i, int dx, int dy)
{
    RePolygon& poly = store()->polygons[i];
    const int n = std::clamp(poly.count, 0, RePolygon::kMaxPoints);
    for (int k = 0; k < n; ++k)
        if (!inMargin(poly.points[k].x() + dx, poly.points[k].y() + dy))
            return false;
    for (int k = 0; k < n; ++k)
        poly.points[k] += QPoint(dx, dy);
    return true;
}

void RoiTouchEdit::touchMove(QPoint p, bool leftHeld)
{
    CammerSingleton* s = store();
    if (!s || !gpWin)
        return;
    const QPoint q = toRoi(p);
    const int d = editDetection();
    const bool sel = GetSelectedRect();
    const int i = d * kR + std::max(0, m_view->curRoi);
    const bool inDeadZone = std::abs(q.x() - pressPoint.x()) / m_view->roiScaleX < 3 &&
                            std::abs(q.y() - pressPoint.y()) / m_view->roiScaleY < 3;

    if (!shapeBackup && !polygonEditing) {
        int code = -1;
        if (sel && s->shapeKind[i] != 2 &&
            (s->shapeKind[i] == 4 ? s->circles[i].PtInCtrl(q, &code) : s->rects[i].PtInCtrl(q, &code))) {
            handleIndex = code;
            setTouchCursor(handleCursor(code));
        } else if (sel && s->shapeKind[i] == 2 && s->polygons[i].PtInCtrl(q, &code)) {
            handleIndex = code;
            setTouchCursor(Qt::SizeFDiagCursor);
        } else if (PtInRectMove(q)) {
            setTouchCursor(Qt::SizeAllCursor);
        } else {
            if (leftHeld)
                panTo(p);
            setTouchCursor(Qt::ArrowCursor);
        }
        return;
    }

    if (!shapeBackup) { // a polygon is being drawn, moved or edited
        if (editState == 2 && isPressed && sel) {
            if (!inDeadZone) {
                dragPoint = q;
                if (shiftPolygon(i, q.x() - pressPoint.x(), q.y() - pressPoint.y())) {
                    s->polygons[i].setShowA(m_view->roiScaleX, m_view->roiScaleY);
                    s->polygons[i].setImageRect();
                }
                pressPoint = q;
            }
        } else if (editState == 3 && isPressed && sel) {
            dragPoint = q;
            s->polygons[i].Resize(handleIndex, pressPoint, q, m_view->roiScaleX, m_view->roiScaleY);
            pressPoint = q;
        } else if (editState == 1 && gpWin->freeHand && drawPointCount < kMaxDrawPoints - 1) {
            drawPoints[drawPointCount++] = q;
        }
        m_view->refreshView();
        return;
    }

    const bool ring = gpWin->drawTool == 4;
    switch (editState) {
    case 5:
    case 1: {
        const QPoint c = editState == 5 ? q : clampToScreen(q);
        editState = 1;
        if (ring) {
            // The dragged box stays in dragPoint; the preview is the ring the
            // release will store, the circle inscribed in that box.
            dragPoint = c;
            workCircle = Circle();
            workCircle.rect = QRect(pressPoint, c).normalized();
            workCircle.UpdateAll();
        } else {
            workRect.rect.setBottomRight(c);
        }
        break;
    }
    case 2:
        if (!sel || inDeadZone)
            return;
        if (s->shapeKind[i] == 4) {
            shiftRectKeep(s->circles[i].rect, q.x() - pressPoint.x(), q.y() - pressPoint.y());
            s->circles[i].UpdateAll();
        } else {
            shiftRectKeep(s->rects[i].rect, q.x() - pressPoint.x(), q.y() - pressPoint.y());
        }
        pressPoint = q;
        break;
    case 3:
        if (!sel)
            return;
        if (s->shapeKind[i] == 4) {
            s->circles[i].Resize(handleIndex, pressPoint, q);
            CheckInRange(&s->circles[i].rect, false);
            s->circles[i].UpdateAll();
        } else {
            s->rects[i].Resize(handleIndex, pressPoint, q);
            CheckInRange(&s->rects[i].rect, false);
        }
        pressPoint = q;
        break;
    default:
        return;
    }
    m_view->refreshView();
}

void RoiTouchEdit::touchRelease()
{
    CammerSingleton* s = store();
    if (!s || !gpWin)
        return;
    const int d = editDetection();
    if (shapeBackup && editState == 1) {
        const bool ring = gpWin->drawTool == 4;
        const QRect w = ring ? QRect(pressPoint, dragPoint) : workRect.rect;
        const bool accepted = w.right() - w.left() > 9 && w.bottom() - w.top() > 9;
        if (accepted && roomForRoi()) {
            const int n = s->roiCount[d];
            const int i = d * kR + n;
            const QRect r = w.normalized();
            if (ring) {
                s->circles[i] = Circle();
                s->circles[i].rect = r;
                s->circles[i].UpdateAll();
                s->shapeKind[i] = 4;
            } else if (gpWPara && gpWPara->rectToIrregular) {
                QPoint pts[4] = {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
                s->polygons[i] = RePolygon(4, pts);
                s->shapeKind[i] = 2;
            } else {
                s->rects[i] = ClustomRect();
                s->rects[i].rect = r;
                s->shapeKind[i] = 1;
            }
            finishNewRoi(n);
            dropDrawMode();
            editState = 0;
        } else if (!accepted) {
            dropDrawMode();
            editState = 0;
        }
        shapeBackup = false;
    } else if (shapeBackup && editState == 5) {
        dropDrawMode();
        editState = 0;
        shapeBackup = false;
    } else if (editState == 2 || editState == 3) {
        shapeBackup = false;
        if (selectedValid())
            refreshShape(d * kR + m_view->curRoi);
        polygonEditing = false;
        editState = 0;
    } else if (gpWin->drawTool == 2 && gpWin->freeHand) {
        if (drawPointCount <= 5) {
            polygonEditing = false;
            editState = 0;
            dropDrawMode();
            drawPointCount = 0;
        } else {
            SavePolygon();
        }
    }
    ShowHideROIPara();
    isPressed = false;
    m_view->refreshView();
}

bool RoiTouchEdit::checkDoubleClick(QPoint p)
{
    const qint64 now = Clock::instance()->monotonicMs();
    // The very first click has no predecessor and is never half of a double.
    const bool dbl = m_lastClickMs >= 0 && now - m_lastClickMs < kDoubleClickMs &&
                     std::abs(p.x() - m_lastClick.x()) < kDoubleClickPx &&
                     std::abs(p.y() - m_lastClick.y()) < kDoubleClickPx;
    m_lastClickMs = now;
    m_lastClick = p;
    if (!dbl || !continuation() || gSource != 0 || !gpWin)
        return dbl;
    const int tool = gpWin->drawTool;
    if (tool == 2 && !gpWin->freeHand) {
        if (drawPointCount > 0)
            --drawPointCount;
        polygonClosed = true;
    }
    if (tool == 1 || tool == 2 || tool == 4)
        endDrawingByDoubleClick(tool, gpWin->freeHand);
    return true;
}

void RoiTouchEdit::endDrawingByDoubleClick(int tool, bool hand)
{
    // Without an editor panel: what its buttons would do in continuation mode.
    if (tool == 2 && !hand) {
        const bool pending = drawPointCount > 0;
        SavePolygon();
        gpWin->drawTool = pending ? 2 : 0;
    } else {
        gpWin->drawTool = 0;
        gpWin->freeHand = false;
    }
}

// ------------------------------------------------------------ operations

void RoiTouchEdit::SavePolygon()
{
    CammerSingleton* s = store();
    if (!s || !gpWin || editState != 1 || gpWin->drawTool != 2)
        return;
    if (!roomForRoi())
        return;
    if (drawPointCount <= 2) {
        drawPointCount = 0;
        return;
    }
    const int d = editDetection();
    const int n = s->roiCount[d];
    const int i = d * kR + n;
    s->polygons[i] = RePolygon(std::min(drawPointCount, kMaxDrawPoints - 1), drawPoints.get());
    s->polygons[i].SetHand(gpWin->freeHand);
    s->shapeKind[i] = 2;
    finishNewRoi(n);
    polygonEditing = false;
    editState = 0;
    if (!(continuation() && gpWin->freeHand))
        gpWin->drawTool = 0;
    drawPointCount = 0;
    ShowHideROIPara();
    m_view->refreshView();
}

void RoiTouchEdit::SlotSize(int k)
{
    if (!selectedValid() || k < 0 || k > 3)
        return;
    CammerSingleton* s = store();
    const int i = editDetection() * kR + m_view->curRoi;
    static const QPoint step[4] = {{0, -1}, {-1, 0}, {0, 1}, {1, 0}};
    switch (s->shapeKind[i]) {
    case 2: {
        RePolygon& p = s->polygons[i];
        if (objectIndex < 0 || objectIndex >= std::clamp(p.count, 0, RePolygon::kMaxPoints))
            return;
        p.points[objectIndex] = clampToScreen(p.points[objectIndex] + step[k]);
        break;
    }
    case 4: {
        Circle& c = s->circles[i];
        static const int radiusStep[4] = {10, 1, -1, -10};
        if (objectIndex == 0) {
            c.radius += radiusStep[k];
            c.UpdateRect();
        } else if (objectIndex == 1) {
            c.innerRadius += radiusStep[k];
        } else {
            c.cx += step[k].x();
            c.cy += step[k].y();
            c.UpdateRect();
        }
        CheckInRange(&c.rect, false);
        c.UpdateAll();
        break;
    }
    default: {
        QRect& r = s->rects[i].rect;
        if (objectIndex == 0)
            r.setTopLeft(r.topLeft() + step[k]);
        else
            r.setBottomRight(r.bottomRight() + step[k]);
        CheckInRange(&r, false);
        break;
    }
    }
    refreshShape(i);
    m_view->refreshView();
}

void RoiTouchEdit::SlotMove(int dx, int dy)
{
    CammerSingleton* s = store();
    if (!s)
        return;
    const int d = editDetection();
    int from = m_view->curRoi, to = m_view->curRoi + 1;
    if (moveMode == 2) {
        from = 0;
        to = std::min(kR, s->roiCount[d]);
    } else if (!selectedValid()) {
        return;
    }
    for (int r = from; r < to; ++r) {
        const int i = d * kR + r;
        if (s->shapeKind[i] == 2) {
            if (!shiftPolygon(i, dx, dy))
                break;
        } else if (s->shapeKind[i] == 4) {
            shiftRectKeep(s->circles[i].rect, dx, dy);
            s->circles[i].UpdateAll();
        } else {
            shiftRectKeep(s->rects[i].rect, dx, dy);
        }
        refreshShape(i);
    }
    ShowHideROIPara();
    m_view->refreshView();
}

void RoiTouchEdit::SlotCopyArea(QPoint q)
{
    CammerSingleton* s = store();
    const int d = editDetection();
    if (!s || s->roiCount[d] <= 0)
        return;
    if (!askOperator(38))
        return;
    if (!roomForRoi())
        return;
    const int n = s->roiCount[d];
    if (!selectedValid())
        setCurRoi(m_view->lastRoi >= 0 && m_view->lastRoi < n ? m_view->lastRoi : n - 1);
    const int src = d * kR + m_view->curRoi;
    const int i = d * kR + n;
    switch (s->shapeKind[src]) {
    case 2: {
        const RePolygon& from = s->polygons[src];
        RePolygon& p = s->polygons[i];
        p = from;
        p.SetSelected(false);
        const QPoint delta = q - from.points[0];
        for (int k = 0; k < std::clamp(p.count, 0, RePolygon::kMaxPoints); ++k)
            p.points[k] = clampToScreen(from.points[k] + delta);
        break;
    }
    case 4: {
        Circle& c = s->circles[i];
        c = s->circles[src];
        const QRect& r = c.rect;
        shiftRectKeep(c.rect, q.x() - (r.left() + r.right()) / 2, q.y() - (r.top() + r.bottom()) / 2);
        c.UpdateAll();
        break;
    }
    default: {
        ClustomRect& c = s->rects[i];
        c = s->rects[src];
        const QRect& r = c.rect;
        shiftRectKeep(c.rect, q.x() - (r.left() + r.right()) / 2, q.y() - (r.top() + r.bottom()) / 2);
        break;
    }
    }
    s->shapeKind[i] = s->shapeKind[src];
    setSelectedMark(src, false);
    // The copy keeps the source's function and parameters, not the new-ROI rule's.
    s->funcType[i] = s->funcType[src];
    s->paramA[i] = s->paramA[src];
    s->paramB[i] = s->paramB[src];
    s->paramC[i] = s->paramC[src];
    if (d == 0)
        s->outN[n] = s->outN[m_view->curRoi];
    m_view->roiValue[d][n] = 0;
    refreshShape(i);
    setSelectedMark(i, true);
    s->setOrigin(d, n, -1);
    s->roiCount[d] = n + 1;
    setCurRoi(n);
    ShowHideROIPara();
    m_view->refreshView();
}

void RoiTouchEdit::saveIgnoreMask(int d)
{
    ViewImages(*m_view).SaveIgnorePoint(d);
}

void RoiTouchEdit::DeleteROI(int r)
{
    CammerSingleton* s = store();
    const int d = editDetection();
    const int n = s ? std::min(kR, s->roiCount[d]) : 0;
    if (r < 0 || r >= n)
        return;
    const int i = d * kR + r;
    // Clear the ignored points under the ROI, clipped to the frame.
    QRect box = s->shapeKind[i] == 2 ? s->polygons[i].imageBoundRect
                : s->shapeKind[i] == 4 ? s->circles[i].imageRect
                                       : s->rects[i].imageRect;
    box = box.normalized() & QRect(0, 0, m_view->imageWidth, m_view->imageHeight);
    PixelBuffer& ign = m_view->ignoreMasks[d];
    if (!box.isEmpty() && ign.size() >= size_t(m_view->imageWidth) * size_t(m_view->imageHeight)) {
        for (int y = box.top(); y <= box.bottom(); ++y)
            std::memset(ign.data() + size_t(y) * size_t(m_view->imageWidth) + size_t(box.left()), 0,
                        size_t(box.width()));
        saveIgnoreMask(d);
    }
    for (int k = r + 1; k < n; ++k) {
        const int a = d * kR + k - 1, b = d * kR + k;
        switch (s->shapeKind[b]) {
        case 2: s->polygons[a] = s->polygons[b]; break;
        case 4: s->circles[a] = s->circles[b]; break;
        default: s->rects[a] = s->rects[b]; break;
        }
        m_view->editMasks[d][k - 1] = m_view->editMasks[d][k];
        s->shapeKind[a] = s->shapeKind[b];
        s->paramC[a] = s->paramC[b];
        s->paramA[a] = s->paramA[b];
        s->paramB[a] = s->paramB[b];
        s->funcType[a] = s->funcType[b];
        s->setOrigin(d, k - 1, s->origin(d, k));
        if (d == 0)
            s->outN[k - 1] = s->outN[k];
    }
    s->roiCount[d] = n - 1;
}

void RoiTouchEdit::backMasks(CameraViewState& v)
{
    for (int d = 0; d < std::min(gDNum, CammerSingleton::kDetections); ++d)
        for (int r = 0; r < kR; ++r)
            v.editMasks[d][r] = v.liveMasks[d][r];
}

void RoiTouchEdit::restoreMasks(CameraViewState& v)
{
    for (int d = 0; d < std::min(gDNum, CammerSingleton::kDetections); ++d)
        for (int r = 0; r < kR; ++r)
            v.liveMasks[d][r] = v.editMasks[d][r];
}

// ------------------------------------------------------------ generation

namespace {

// One channel of a frame buffer: mono as it is, colour through grey or hue.
cv::Mat oneChannel(const CameraViewState& v, const unsigned char* data, PixelBuffer& scratch)
{
    if (!v.isColor)
        return cv::Mat(v.imageHeight, v.imageWidth, CV_8UC1, const_cast<unsigned char*>(data));
    if (scratch.size() != size_t(v.pixelCount))
        scratch.allocate(size_t(v.pixelCount));
    int* src = reinterpret_cast<int*>(const_cast<unsigned char*>(data));
    if (gisGrayHue)
        RGBA2Gray(scratch.data(), src, v.imageWidth, v.imageHeight);
    else
        RGBA2Hue(scratch.data(), src, v.imageWidth, v.imageHeight);
    return cv::Mat(v.imageHeight, v.imageWidth, CV_8UC1, scratch.data());
}

} // namespace

int RoiTouchEdit::GenROI()
{
    CammerSingleton* s = store();
    const int d = editDetection();
    CameraViewState& v = *m_view;
    // Generating belongs to the template page: elsewhere it would change the
    // edit copy behind the operator's back.
    if (!s || gSource != 0 || v.imageWidth <= 0 || v.templateImages[d].empty() || v.templateImages[d][0].isNull())
        return 0;
    const cv::Rect frame(0, 0, v.imageWidth, v.imageHeight);

    std::vector<std::unique_ptr<stru_RoiInfo>> patterns;
    std::vector<int> kinds;
    for (int r = 0; r < std::min(kR, s->roiCount[d]) && patterns.size() < 2; ++r) {
        const int i = d * kR + r;
        if (s->funcType[i] == 3)
            continue;
        auto p = std::make_unique<stru_RoiInfo>();
        QRect box = s->shapeKind[i] == 2 ? s->polygons[i].imageBoundRect
                    : s->shapeKind[i] == 4 ? s->circles[i].imageRect
                                           : s->rects[i].imageRect;
        box = box.normalized();
        p->header[0] = box.x(), p->header[1] = box.y(), p->header[2] = box.width(), p->header[3] = box.height();
        p->mask = v.editMasks[d][r].clone();
        p->rect = s->rects[i];
        p->circle = s->circles[i];
        p->polygon = s->polygons[i];
        patterns.push_back(std::move(p));
        kinds.push_back(s->shapeKind[i]);
    }
    if (patterns.empty())
        return 0;

    PixelBuffer modelScratch, searchScratch;
    const cv::Mat templ = oneChannel(v, v.templateImages[d][0].data(), modelScratch);
    const int shown = std::clamp(v.curTemplate, 0, int(v.templateImages[d].size()) - 1);
    const PixelBuffer& shownBuf = v.templateImages[d][size_t(shown)].isNull() ? v.templateImages[d][0]
                                                                              : v.templateImages[d][size_t(shown)];
    const cv::Mat search = v.isColor ? oneChannel(v, std::as_const(v.frameBuffer).data(), searchScratch)
                                     : oneChannel(v, shownBuf.data(), searchScratch);
    const int o = gpWPara ? gpWPara->offsetValue : 0;
    const int zoom = gpWPara ? gpWPara->zoomLayers : 0;
    const int contrast = (o >= 8001 && o <= 8254) ? o - 8000 : o <= 8000 ? 255 : 30;
    const int layers = (o <= 8000 && zoom == 0) ? 10 : zoom;

    int made = 0;
    for (size_t k = 0; k < patterns.size(); ++k) {
        const stru_RoiInfo& p = *patterns[k];
        const cv::Rect box(p.header[0], p.header[1], p.header[2], p.header[3]);
        const cv::Rect inside = box & frame;
        if (inside.area() <= 0)
            continue;
        const int cx = box.x + box.width / 2, cy = box.y + box.height / 2;
        LOG(INFO) << "Template positioning center x:" << cx << " y:" << cy;
        // The mask covers the ROI's box; keep the part inside the frame.
        cv::Mat mask;
        if (p.mask.cols == box.width && p.mask.rows == box.height)
            mask = p.mask(cv::Rect(inside.x - box.x, inside.y - box.y, inside.width, inside.height)).clone();
        FindShape finder;
        finder.CreateShape(templ(inside).clone(), 60.0, 0, gpWPara ? gpWPara->rotateAngle : 0, cx, cy, false, contrast,
                           mask, gpWPara ? gpWPara->matchAccuracy : 0, layers);
        if (!finder.IsValid())
            continue;
        cv::Rect area = frame;
        if (patterns.size() == 2)
            area = cv::Rect(int(k) * (v.imageWidth / 2), 0, v.imageWidth / 2, v.imageHeight);
        cv::Mat part = search(area).clone();
        int xs[100], ys[100];
        double found = 0, angles[100];
        if (!finder.Find(part, 100, xs, ys, &found, angles) || found <= 0)
            continue;
        LOG(INFO) << "Number of matching targets " << found;
        if (k == 0) {
            s->roiCount[d] = 0;
            setCurRoi(-1);
            ShowHideROIPara();
        }
        for (int m = 0; m < int(found) && m < 100; ++m) {
            const int n = s->roiCount[d];
            if (n >= kMaxRois)
                break;
            LOG(INFO) << "roi index: " << m << " x:" << xs[m] << " y:" << ys[m] << " a:" << angles[m];
            // Frame pixels to ROI coordinates.
            const int dx = qRound((area.x - xs[m]) * v.roiScaleX);
            const int dy = qRound((area.y - ys[m]) * v.roiScaleY);
            const int i = d * kR + n;
            switch (kinds[k]) {
            case 2:
                s->polygons[i] = p.polygon;
                for (int q = 0; q < std::clamp(p.polygon.count, 0, RePolygon::kMaxPoints); ++q)
                    s->polygons[i].points[q] = clampToScreen(p.polygon.points[q] + QPoint(dx, dy));
                break;
            case 4:
                s->circles[i] = p.circle;
                shiftRectKeep(s->circles[i].rect, dx, dy);
                s->circles[i].UpdateAll();
                break;
            default:
                s->rects[i] = p.rect;
                shiftRectKeep(s->rects[i].rect, dx, dy);
                break;
            }
            s->shapeKind[i] = kinds[k];
            setSelectedMark(i, false);
            refreshShape(i);
            s->setOrigin(d, n, -1);
            s->roiCount[d] = n + 1;
            ++made;
        }
    }
    m_view->refreshView();
    return made;
}

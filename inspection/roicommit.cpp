#include "inspection/roicommit.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammerrecong.h"
#include "inspection/cammersingleton.h"
#include "inspection/roitouchedit.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr int kR = CammerSingleton::kRois;

// Shapes compared without their editing state: the selected mark, the
// handle code and the last resize step change with every tap.
bool sameRect(ClustomRect a, ClustomRect b)
{
    for (ClustomRect* r : {&a, &b}) {
        r->selected = false;
        r->moveX = r->moveY = 0;
        r->ctrlCode = -1;
    }
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameCircle(Circle a, Circle b)
{
    for (Circle* c : {&a, &b}) {
        c->selected = false;
        c->ctrlCode = -1;
    }
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameBytes(const void* a, const void* b, std::size_t from, std::size_t to)
{
    return std::memcmp(static_cast<const char*>(a) + from, static_cast<const char*>(b) + from, to - from) == 0;
}

bool samePolygon(const RePolygon& a, const RePolygon& b)
{
    return sameBytes(&a, &b, 0, offsetof(RePolygon, selected)) && a.hand == b.hand &&
           sameBytes(&a, &b, offsetof(RePolygon, spareRect), offsetof(RePolygon, node));
}

QString m(int n)
{
    return messageText(n);
}

QString typeName(int t)
{
    switch (t) {
    case 0: return m(25);
    case 1: return m(15);
    case 2: return m(17);
    case 3: return m(21);
    case 7: return m(521);
    case 8: return m(626);
    case 9: return m(710);
    case 10: return m(583);
    default: return QString();
    }
}

QString shapeName(int kind)
{
    return m(kind == 1 ? 74 : kind == 4 ? 75 : 76);
}

bool positioningType(int t)
{
    return t == 3 || t == 10;
}

QString clause(int msg, int from, int to)
{
    return from == to ? QString() : m(msg).arg(from).arg(to);
}

bool detectionInUse(int d)
{
    return gpWPara && d >= 0 && d < 8 && gpWPara->detectEnabled[d] != 0;
}

} // namespace

bool RoiCommit::storesDiffer(const CammerSingleton& a, const CammerSingleton& b)
{
    if (a.cameraNo != b.cameraNo ||
        !sameBytes(&a, &b, offsetof(CammerSingleton, roiCount), offsetof(CammerSingleton, rects)) ||
        !sameBytes(&a, &b, offsetof(CammerSingleton, shapeKind), offsetof(CammerSingleton, selRoi)))
        return true;
    for (int i = 0; i < CammerSingleton::kAll; ++i)
        if (!sameRect(a.rects[i], b.rects[i]) || !sameCircle(a.circles[i], b.circles[i]) ||
            !samePolygon(a.polygons[i], b.polygons[i]))
            return true;
    return false;
}

QString RoiCommit::detectionName(int d)
{
    const int mode = gpWPara ? gpWPara->systemMode : 0;
    if (mode == 1 || mode == 2)
        return m(372 + std::clamp(d, 0, 3));
    if (mode == 3)
        return m(477 + std::clamp(d, 0, 7));
    return m(263 + std::clamp(d, 0, 1));
}

QStringList RoiCommit::changeRecords(int c, int d, const CammerSingleton& live, const CammerSingleton& edit,
                                     bool* positioning)
{
    QStringList out;
    const QString head = m(73).arg(c + 1).arg(detectionName(d));
    const int nOld = std::clamp(live.roiCount[d], 0, kR);
    const int nNew = std::clamp(edit.roiCount[d], 0, kR);
    // Each region of the edit copy is compared with the one it was (a
    // deletion moves the later ones up), never with the one that stood at
    // its number before; one that was none, or that another already claims,
    // is new.
    QVector<int> was(nNew, -1), now(nOld, -1);
    for (int r = 0; r < nNew; ++r) {
        const int o = edit.origin(d, r);
        if (o >= 0 && o < nOld && now[o] < 0) {
            was[r] = o;
            now[o] = r;
        }
    }
    for (int r = 0; r < std::max(nOld, nNew); ++r) {
        if (r < nOld && now[r] < 0) {
            const int i = d * kR + r;
            out << head + m(81).arg(shapeName(live.shapeKind[i])).arg(r + 1).arg(typeName(live.funcType[i]));
            *positioning |= positioningType(live.funcType[i]);
        }
        if (r >= nNew)
            continue;
        const int i = d * kR + r;
        const int tNew = edit.funcType[i];
        const int A = edit.paramA[i], B = edit.paramB[i], C = edit.paramC[i];
        if (was[r] < 0) {
            // Each value under its own name, in the texts' order: defect
            // detection keeps its area in B and its filter size in C; spot
            // detection its lower grey limit in C's low byte, the upper in
            // the second; positioning its accuracy in A, least match in B and
            // search speed in C (as the rows of a changed region name them).
            QString what;
            switch (tNew) {
            case 0: what = m(78).arg(A).arg(C).arg(B); break;
            case 1: what = m(77).arg(C & 255).arg((C >> 8) & 255).arg(A).arg(B); break;
            case 2: what = m(17); break;
            case 3: what = m(79).arg(C).arg(A).arg(B); break;
            case 10: what = m(583); break;
            default: break;
            }
            out << head + m(80).arg(shapeName(edit.shapeKind[i])).arg(r + 1).arg(what);
            *positioning |= positioningType(tNew);
            continue;
        }
        const int j = d * kR + was[r]; // the region as it was
        const int tOld = live.funcType[j];
        bool shapeChanged = live.shapeKind[j] != edit.shapeKind[i];
        if (!shapeChanged) {
            switch (edit.shapeKind[i]) {
            case 1: shapeChanged = !sameRect(live.rects[j], edit.rects[i]); break;
            case 4: shapeChanged = !sameCircle(live.circles[j], edit.circles[i]); break;
            default: shapeChanged = !samePolygon(live.polygons[j], edit.polygons[i]); break;
            }
        }
        QString func = m(84);
        if (tOld != tNew)
            func = m(82) + typeName(tOld) + m(83);
        *positioning |= positioningType(tOld) || positioningType(tNew);
        const int a0 = live.paramA[j], b0 = live.paramB[j], c0 = live.paramC[j];
        QString params;
        bool paramChanged = false;
        switch (tNew) {
        case 0:
            params = m(97).arg(clause(94, a0, A), clause(95, b0, B), clause(96, c0, C));
            paramChanged = a0 != A || b0 != B || c0 != C;
            break;
        case 1: {
            // The lower grey limit is the low byte, the upper the second (as added).
            const int hi0 = (c0 >> 8) & 255, hi = (C >> 8) & 255, lo0 = c0 & 255, lo = C & 255;
            params = m(89).arg(clause(85, lo0, lo), clause(86, hi0, hi), clause(87, a0, A), clause(88, b0, B));
            paramChanged = hi0 != hi || lo0 != lo || a0 != A || b0 != B;
            break;
        }
        case 3:
            params = m(93).arg(clause(90, a0, A), clause(91, b0, B), clause(92, c0, C));
            paramChanged = a0 != A || b0 != B || c0 != C;
            break;
        case 2: params = m(17); break;
        case 10: params = m(583); break;
        default: break;
        }
        // Named by the number the screen shows it under now, and the one it
        // had when it moved up.
        const QString number = QString::number(r + 1) + (was[r] != r ? m(913).arg(was[r] + 1) : QString());
        if (shapeChanged || paramChanged)
            out << head + m(99).arg(shapeName(edit.shapeKind[i]), number, func, params, shapeChanged ? m(98) : QString());
    }
    return out;
}

void RoiCommit::retrain(CameraViewState& v, int d)
{
    if (v.recong)
        v.recong->VarTrain(d);
}

void RoiCommit::rebuildPositioning(CameraViewState& v, int d)
{
    if (v.recong) {
        v.recong->CreateHomoShape(d);
        v.recong->CreateShape(d);
    }
}

void RoiCommit::copyStore(CammerSingleton& to, const CammerSingleton& from)
{
    // Page by page (assignFrom), so pages equal on both sides stay unbacked;
    // never a plain block copy, which would make all of the store resident.
    const int sel[6] = {to.selRoi, to.selType, to.selA, to.selB, to.selC, to.pad1};
    to.assignFrom(from);
    to.selRoi = sel[0], to.selType = sel[1], to.selA = sel[2];
    to.selB = sel[3], to.selC = sel[4], to.pad1 = sel[5];
    to.clearOrigins(); // each region is now the one at its number
}

int RoiCommit::SlotSaveData()
{
    const int cams = std::min<int>(numCamera, m_views.size());
    if (numCamera < 1)
        return 0;
    QVector<int> changed;
    for (int c = 0; c < std::min(cams, 8); ++c) {
        CameraViewState* v = m_views[c];
        if (v && v->liveStore && v->editStore && storesDiffer(*v->liveStore, *v->editStore))
            changed << c;
    }
    int saved = 0;
    if (!changed.isEmpty() && askOperator(72)) {
        const int dn = std::clamp(gDNum, 0, CammerSingleton::kDetections);
        for (int c : changed) {
            CameraViewState& v = *m_views[c];
            bool positioning = false;
            for (int d = 0; d < dn; ++d)
                for (const QString& text : changeRecords(c, d, *v.liveStore, *v.editStore, &positioning))
                    if (gpWin)
                        gpWin->InsertRecord(text, "set");
            copyStore(*v.liveStore, *v.editStore);
            v.editStore->clearOrigins();
            RoiTouchEdit::restoreMasks(v);
            v.liveStore->SaveDatatoFile();
            retrainPending[c] = true;
            ++saved;
            if (positioning)
                for (int d = 0; d < dn; ++d)
                    if (detectionInUse(d))
                        rebuildPositioning(v, d);
        }
    }
    for (int c = 0; c < std::min(cams, 8); ++c) {
        if (!retrainPending[c] || !m_views[c])
            continue;
        retrainPending[c] = false;
        for (int d = 0; d < std::clamp(gDNum, 0, 8); ++d)
            if (detectionInUse(d))
                retrain(*m_views[c], d);
    }
    return saved;
}

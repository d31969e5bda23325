#include "inspection/roipanellogic.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"

#include <algorithm>

namespace {

// The enable setting of each type (type 0 is the plain defect test).
int enableOf(int type, const WizardPara& p)
{
    switch (type) {
    case 0: return p.useDefect;
    case 1: return p.useSpot;
    case 2: return p.useIgnoreArea;
    case 3: return p.useManualLocate;
    case 4: return p.useBlackArea;
    case 5: return p.useWhiteArea;
    case 6: return p.useSimilarity;
    case 7: return p.useWhiteNumber;
    case 8: return p.useBlackNumber;
    case 9: return p.useColorSpots;
    case 10: return p.angleCorrect;
    default: return 0;
    }
}

constexpr int kPackedRange = 6553601; // low 16 bits 1, high 16 bits 100

} // namespace

int RoiPanelLogic::GetFuncInitParam(int type, int& a, int& b, int& c)
{
    switch (type) {
    case 1: a = 80; b = 500; c = 12800; return 1; // grey 0..50 in the two low bytes
    case 2: a = 0; b = 0; c = 30; return 1;
    case 3: a = 10; b = 0; c = 1; return 1;
    case 4: a = 50; b = 0; c = 1000; return 1;
    case 5: a = 200; b = 0; c = 1000; return 1;
    case 6: a = 80; return 1; // B and C stay as passed in
    case 7:
    case 8: a = 128; b = kPackedRange; c = 1; return 1;
    case 9: a = b = c = kPackedRange; return 1;
    case 10: a = b = c = 1; return 1;
    default: break;
    }
    a = 45;
    b = gpWPara ? gpWPara->alarmArea : 0;
    c = gpWPara ? gpWPara->filterSize : 0;
    return type == 0 ? 1 : 0;
}

bool RoiPanelLogic::typeEnabled(int type, const WizardPara& p)
{
    return enableOf(type, p) != 0;
}

int RoiPanelLogic::nextEnabledType(int type, const WizardPara& p)
{
    const int from = (type >= 0 && type < kTypes) ? type : 0;
    for (int k = 1; k <= kTypes; ++k) {
        const int t = (from + k) % kTypes;
        if (typeEnabled(t, p))
            return t;
    }
    return -1;
}

bool RoiPanelLogic::anyExtraTypeEnabled(const WizardPara& p)
{
    for (int t = 1; t < kTypes; ++t)
        if (typeEnabled(t, p))
            return true;
    return false;
}

int RoiPanelLogic::typeCaption(int type)
{
    static const int captions[kTypes] = {25, 15, 17, 21, 392, 393, 398, 521, 626, 710, 583};
    return (type >= 0 && type < kTypes) ? captions[type] : 25;
}

int RoiPanelLogic::withByteHalf(int v, bool second, int x)
{
    const unsigned u = static_cast<unsigned>(v);
    const unsigned b = static_cast<unsigned>(x) & 0xFFu;
    return static_cast<int>(second ? (u & ~0xFF00u) | (b << 8) : (u & ~0xFFu) | b);
}

int RoiPanelLogic::withWordHalf(int v, bool high, int x)
{
    const unsigned u = static_cast<unsigned>(v);
    const unsigned w = static_cast<unsigned>(x) & 0xFFFFu;
    return static_cast<int>(high ? (u & 0xFFFFu) | (w << 16) : (u & 0xFFFF0000u) | w);
}

void RoiPanelLogic::sliderSetups(int t, int a, int b, int c, SliderSetup out[3])
{
    auto set = [&](int i, int mn, int mx, int v, int msg) { out[i] = SliderSetup{mn, mx, v, msg}; };
    switch (t) {
    case 1:
        set(0, 0, 999999, a, 13);
        set(1, 0, 999999, b, 14);
        set(2, 0, 255, byteHalf(c, false), 10);
        break;
    case 2:
        set(0, 0, 255, a, 16);
        set(1, 0, 255, b, 16);
        set(2, 0, 255, c, 16);
        break;
    case 3:
        set(0, 0, 100, a, 16);
        set(1, 0, 10, b, 16);
        set(2, 0, 10, c, 16);
        break;
    case 4:
        set(0, 0, 255, a, 11);
        set(1, 0, 50000, b, 13);
        set(2, 0, 50000, c, 14);
        break;
    case 5:
        set(0, 0, 255, a, 10);
        set(1, 0, 50000, b, 13);
        set(2, 0, 50000, c, 14);
        break;
    case 6:
        set(0, 0, 100, a, 362);
        set(1, 0, 50000, b, 24);
        set(2, 0, 255, c, 16);
        break;
    case 7:
    case 8:
        set(0, 0, 255, a, t == 7 ? 10 : 11);
        set(1, 0, 100, wordHalf(b, false), 627);
        set(2, 1, 100, c, 22);
        break;
    case 9:
        set(0, 0, 255, wordHalf(a, false), 743);
        set(1, 0, 255, wordHalf(b, false), 745);
        set(2, 0, 255, wordHalf(c, false), 747);
        break;
    case 10:
        set(0, 1, 2, a, 16);
        set(1, 1, 2, b, 16);
        set(2, 1, 2, c, 16);
        break;
    default:
        set(0, 0, 100, a, 23);
        set(1, 0, 1000, b, 24);
        set(2, 1, 10, c, 22);
        break;
    }
}

int RoiPanelLogic::toggleSetups(int t, bool toggle, int a, int b, int c, SliderSetup out[3], int which[3])
{
    if (t == 1) {
        out[0] = SliderSetup{0, 255, byteHalf(c, toggle), toggle ? 11 : 10};
        which[0] = 2;
        return 1;
    }
    if (t == 7 || t == 8) {
        out[0] = SliderSetup{0, 100, wordHalf(b, toggle), toggle ? 628 : 627};
        which[0] = 1;
        return 1;
    }
    if (t == 9) {
        const int v[3] = {a, b, c};
        for (int i = 0; i < 3; ++i) {
            out[i] = SliderSetup{0, 255, wordHalf(v[i], toggle), (toggle ? 742 : 743) + 2 * i};
            which[i] = i;
        }
        return 3;
    }
    return 0;
}

RoiPanelLogic::Visibility RoiPanelLogic::sliderVisibility(int t, bool showAllParam)
{
    Visibility v;
    v.a = t != 2 && t != 3;
    v.b = !(t == 2 || t == 3 || t == 6) && (t != 0 || showAllParam);
    v.c = v.b;
    return v;
}

int RoiPanelLogic::panelTop(const RoiExtent& roi, int rows, int showH)
{
    const int h = rows * 51 + 20;
    if (h < roi.top - 40)
        return roi.top - h; // directly above
    if (rows * 51 + roi.bottom + 20 < showH - 70)
        return roi.bottom + 20; // below
    const int lowest = showH - 70 - rows * 51;
    if (roi.kind == 4)
        return h >= roi.ringRadius ? lowest : roi.ringCenterY - h;
    if (roi.kind == 2) {
        QVector<int> ys = roi.polygonYs;
        std::sort(ys.begin(), ys.end());
        if (ys.isEmpty())
            return lowest;
        if (h < ys.first())
            return ys.first() - h;
        for (int i = 1; i < ys.size(); ++i)
            if (ys[i] - ys[i - 1] > h)
                return ys[i] - h; // in the first gap tall enough
        return lowest;
    }
    return roi.top + 20;
}

QVector<QRect> RoiPanelLogic::buttonRow(int y, bool japanese)
{
    auto r = [y](int x1, int x2) { return QRect(QPoint(x1, y), QPoint(x2, y + 44)); };
    if (japanese)
        return {r(400, 479), r(483, 602), r(606, 785), r(789, 853), r(857, 1036),
                r(1040, 1129), r(1133, 1222), r(1226, 1315), r(1319, 1408), r(1412, 1501)};
    return {r(400, 479), r(483, 602), r(606, 725), r(729, 793), r(797, 916),
            r(920, 1009), r(1013, 1102), r(1106, 1195), r(1199, 1288), r(1292, 1381)};
}

QVector<QRect> RoiPanelLogic::bottomRow(int showH)
{
    const int y1 = showH - 80, y2 = showH - 6;
    auto r = [=](int x1, int x2) { return QRect(QPoint(x1, y1), QPoint(x2, y2)); };
    return {r(270, 439), r(450, 629), r(640, 819), r(830, 939), r(950, 1109),
            r(1120, 1279), r(1290, 1449), r(1460, 1619), r(1630, 1809)};
}

QVector<QRect> RoiPanelLogic::fitRow(const QVector<QRect>& row, int width)
{
    constexpr int kMargin = 4;
    return fitRow(row, kMargin, width - 1 - kMargin);
}

QVector<QRect> RoiPanelLogic::fitRow(const QVector<QRect>& row, int from, int limit)
{
    if (row.isEmpty())
        return row;
    const int left = row.first().left();
    const int right = row.last().right();
    if (left >= from && right <= limit)
        return row;
    QVector<QRect> out = row;
    const int shift = left < from ? from - left : limit - right;
    if (left + shift >= from && right + shift <= limit) {
        for (QRect& q : out)
            q.translate(shift, 0);
        return out;
    }
    // Spread over the range: every edge keeps its relative place.
    const double span = right - left + 1;
    const double avail = limit - from + 1;
    auto map = [&](int x) { return from + int((x - left) * avail / span); };
    for (int i = 0; i < out.size(); ++i) {
        const int x1 = map(row[i].left());
        const int x2 = map(row[i].right() + 1) - 1;
        out[i] = QRect(QPoint(x1, row[i].top()), QPoint(std::max(x1, x2), row[i].bottom()));
    }
    return out;
}

// Painting of the camera view: record, recent-NG, live and edit views.
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/imagetools.h"
#include "frame/messagetable.h"
#include "frame/pixelpairs.h"
#include "frame/wizardpara.h"
#include "inspection/ui/cammerwidget.h"

#include <QFontMetrics>
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include <QBackingStore>
#include <QPaintEngine>
#include <QPainter>
#include <QRegion>
#include <QTimer>

#include <opencv2/core.hpp>

#include <algorithm>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

QString msg(int n)
{
    return MessageTable::text(n);
}

constexpr quint32 kRed = 0xFFFF0000u;
constexpr quint32 kCyan = 0xFF00FFFFu;
const QColor kSalmon("#E9967A");

QFont viewFont(int px)
{
    QFont f("wqy-microhei");
    f.setWeight(50);
    f.setPixelSize(px);
    return f;
}

// A status text at its place, moved left as far as needed to stay whole on a
// narrow screen (logical width in the painter's current scale).
void drawFitted(QPainter& p, int x, int y, const QString& text, double logicalWidth)
{
    const int w = QFontMetrics(p.font()).horizontalAdvance(text);
    const int fit = int(logicalWidth) - w - 5;
    p.drawText(std::max(0, std::min(x, fit)), y, text);
}

int low16(int v)
{
    return int(unsigned(v) & 0xFFFFu);
}

int high16(int v)
{
    return int(unsigned(v) >> 16);
}

} // namespace

QString CammerWidget::detectionName(int d) const
{
    const int mode = gpWPara ? gpWPara->systemMode : 0;
    if (mode == 1 || mode == 2)
        return msg(372 + std::clamp(d, 0, 3));
    if (mode == 3)
        return msg(477 + std::clamp(d, 0, 7));
    return msg(263 + std::clamp(d, 0, 1));
}

QString CammerWidget::roiCaption(const CammerSingleton* store, int d, int r, bool editView) const
{
    const int i = d * kRois + r;
    const int t = store->funcType[i];
    const int a = store->paramA[i], b = store->paramB[i], c = store->paramC[i];
    const bool all = gpWPara && gpWPara->showAllParam;
    const int area = gpWPara ? gpWPara->alarmArea : 0;
    const int filter = gpWPara ? gpWPara->filterSize : 0;
    const int cmin = gpWPara ? gpWPara->colorAreaMin : 0;
    const int cmax = gpWPara ? gpWPara->colorAreaMax : 0;
    // The edit view shows the editor's own measurement, the live view the
    // decided one.
    const QString value = QString::number(editView ? roiValue[d][r] : shownValues()[d][r]);
    QString limit;
    if (!editView) {
        if (t == 0 && !all)
            limit = QString::number(area);
        else if (t == 1)
            limit = QString("%1--%2").arg(a).arg(b);
        else if (t == 4 || t == 5)
            limit = QString("%1--%2").arg(b).arg(c);
        else if (t == 6)
            limit = QString::number(a);
        else if (t == 7 || t == 8)
            limit = QString("%1--%2").arg(low16(b)).arg(high16(b));
        else if (t == 9)
            limit = QString("%1, %2").arg(cmin).arg(cmax);
        else
            limit = QString::number(b);
    } else {
        if (t == 0 && !all)
            limit = QString("%1, %2, %3").arg(a).arg(area).arg(filter);
        else if (t == 0)
            limit = QString("%1,%2,%3").arg(a).arg(b).arg(c);
        else if (t == 1)
            limit = QString("%1--%2,%3--%4").arg(a).arg(b).arg(c & 0xFF).arg((c >> 8) & 0xFF);
        else if (t == 4 || t == 5)
            limit = QString("%1, %2").arg(a & 0xFF).arg(b);
        else if (t == 6)
            limit = QString::number(a);
        else if (t == 7 || t == 8)
            limit = QString("%1,%2--%3,%4").arg(a & 0xFF).arg(low16(b)).arg(high16(b)).arg(c);
        else if (t == 9)
            limit = QString("%1, %2").arg(cmin).arg(cmax);
        else
            limit = QString::number(b);
    }
    QString caption = store->roiCount[d] > 36 ? QString("%1: %2").arg(r + 1).arg(value)
                                               : QString("%1: %2 / %3 ").arg(r + 1).arg(limit, value);
    // A matcher the engine could not train judges nothing useful: the
    // operator sees it where the region is set.
    const TrainStatus st = roiTrainStatus[d][r];
    if (editView && (t == 0 || t == 6) && st != TrainStatus::Trained && st != TrainStatus::Empty)
        caption += msg(782);
    return caption;
}

QString CammerWidget::statusText(int d, int* color) const
{
    if (resamplePending[d]) {
        *color = Qt::cyan;
        return msg(310);
    }
    if (gpWin && gpWin->runState == 3) {
        *color = Qt::red;
        return msg(311);
    }
    *color = Qt::green;
    if (gpWin && gpWin->reCheckFlag) {
        // Re-inspection runs on the mould-cavity detection (1).
        const int left = (gpWPara ? gpWPara->reCheckTimes : 0) - gpWin->reCheckCount[1];
        return msg(701).arg(left);
    }
    switch (gpWin ? gpWin->progressState : 0) {
    case 1: return msg(312);
    case 2: return msg(528);
    case 3: return msg(529);
    default: return QString();
    }
}

QString CammerWidget::countdownText() const
{
    if (!gpWin)
        return QString();
    for (int d = 0; d < std::min(gDNum, kDetections); ++d) {
        if (!gpWin->delayActive[d])
            continue;
        const float left = gpWin->delaySeconds[d];
        return left > 0.02f ? QString::number(double(left), 'g', 3) : QString();
    }
    return QString();
}

QPoint CammerWidget::roiAnchor(const CammerSingleton* store, int i) const
{
    switch (store->shapeKind[i]) {
    case 2:
        return store->polygons[i].count > 0 ? store->polygons[i].points[0] : QPoint();
    case 4:
        return store->circles[i].rect.topLeft();
    default:
        return store->rects[i].rect.topLeft();
    }
}

QColor CammerWidget::roiPen(const CammerSingleton* store, int d, int r) const
{
    if (store->funcType[d * kRois + r] == 2)
        return Qt::yellow;
    if ((gpWin ? gpWin->detectState : 0) == 0)
        return Qt::darkBlue;
    return (shownOK() || shownResults()[d][r] == 1) ? Qt::green : Qt::red;
}

std::pair<int, int> CammerWidget::textSpan() const
{
    const float sx = winScaleX > 0 ? winScaleX : 1.0f;
    const auto [left, right] = controlSpan();
    return {std::max(5, int(left / sx) + 1), int((right + 1) / sx) - 5};
}

int CammerWidget::legendBottom() const
{
    const bool rowOver = genButton && genButton->isVisibleTo(this) && genButton->geometry().left() < 360;
    const int h = winScaleY > 0 ? int(height() / winScaleY) : height();
    return h - 1 - (rowOver ? 80 : 0);
}

namespace {
constexpr int kHeaderRows = 3;
constexpr int kTextGap = 20;

// The top lines' baselines: the first at 40, each next one a line lower.
int headerBaseline(int row)
{
    return 40 + row * QFontMetrics(viewFont(35)).height();
}

int advanceOf(const QString& text, int px)
{
    return QFontMetrics(viewFont(px)).horizontalAdvance(text);
}

QRect boxOf(const CammerWidget::OverlayText& t)
{
    const QFontMetrics fm(viewFont(t.px));
    return QRect(t.at.x(), t.at.y() - fm.ascent(), fm.horizontalAdvance(t.text), fm.height());
}
} // namespace

int CammerWidget::editorHeaderBottom()
{
    return headerBaseline(kHeaderRows - 1) + QFontMetrics(viewFont(35)).descent() + 4;
}

QVector<CammerWidget::OverlayText> CammerWidget::editorTexts() const
{
    QVector<OverlayText> out;
    if (!editStore)
        return out;
    const CammerSingleton* store = editStore;
    const int d = std::clamp(gpWin ? gpWin->editDetect : 0, 0, kDetections - 1);
    const int count = std::clamp(store->roiCount[d], 0, int(kRois));
    const auto [left, right] = textSpan();

    // The top lines: the left-hand texts start each line, the right-hand
    // ones keep to the place the wide screen gives them while there is room
    // and otherwise go to the first line below with room, or shrink.
    int used[kHeaderRows] = {left, left, left};
    const auto atLeft = [&](int row, const QString& text, const QColor& pen) {
        if (text.isEmpty())
            return;
        out.append({text, 35, pen, QPoint(used[row], headerBaseline(row))});
        used[row] += advanceOf(text, 35) + kTextGap;
    };
    const auto atRight = [&](int row, int x, const QString& text, const QColor& pen) {
        if (text.isEmpty())
            return;
        int px = 35;
        int r = row;
        while (r < kHeaderRows && advanceOf(text, px) > right - used[r])
            ++r;
        if (r == kHeaderRows) {
            r = row;
            for (int k = row; k < kHeaderRows; ++k)
                if (used[k] < used[r])
                    r = k;
            px = boxpaint::fittedPixelSize(viewFont(px), text, right - used[r], px, 14);
        }
        const int w = advanceOf(text, px);
        const int at = std::max(used[r], std::min(x, right - w));
        out.append({text, px, pen, QPoint(at, headerBaseline(r))});
        used[r] = at + w + kTextGap;
    };
    int colour = Qt::green;
    const QString status = statusText(d, &colour);
    const QColor statusPen = QColor(Qt::GlobalColor(colour));
    atLeft(0, msg(313).arg(cameraIndex + 1).arg(detectionName(d), status), statusPen);
    atLeft(0, countdownText(), statusPen);
    atLeft(1, gTempTime, Qt::green);
    const QString selected = curRoi >= 0 && curRoi < count ? roiCaption(store, d, curRoi, true) : QString();
    atRight(0, 850, msg(315).arg(curTemplate + 1).arg(templateCount[d]).arg(selected), Qt::green);
    if (gpWin && cameraIndex == gpWin->editCamera && gpWin->detectState != 1 && isColor) {
        const unsigned rgb = gpWin->touchColor;
        atRight(1, 800,
                msg(712) + QString("%1, %2, %3").arg((rgb >> 16) & 0xFF).arg((rgb >> 8) & 0xFF).arg(rgb & 0xFF),
                Qt::green);
    }
    QVector<QRect> header;
    for (const OverlayText& t : out)
        header << boxOf(t);

    // The legend, bottom left (right of the panel when the panel is at the
    // left): each word shrinks to its 150 pixels rather than run into its
    // sample.
    const WizardPara* wp = gpWPara;
    const int hgt = legendBottom();
    const int dx = left - 5;
    const auto legendLine = [&](int top, int msgNo, int value, const QColor& pen) {
        const QString word = QString("%1 :").arg(msg(msgNo));
        const int px = boxpaint::fittedPixelSize(viewFont(30), word, 150, 30, 14);
        const QFontMetrics fm(viewFont(px));
        out.append({word, px, pen, QPoint(10 + dx, top + (30 - fm.height()) / 2 + fm.ascent())});
        if (wp && !wp->showAllParam) {
            const QFontMetrics vm(viewFont(30));
            out.append({QString::number(value), 30, pen, QPoint(205 + dx, top + (30 - vm.height()) / 2 + vm.ascent())});
        }
    };
    legendLine(hgt - 89, 22, wp ? wp->filterSize : 0, Qt::blue);
    legendLine(hgt - 44, 24, wp ? wp->alarmArea : 0, kSalmon);

    // The regions' captions hang above their regions; one that would run
    // into the top lines or off the screen goes inside, under the region's
    // top edge (below the top lines when the region reaches into them).
    if (curRoi >= 0)
        return out;
    const QFontMetrics fm(viewFont(30));
    for (int r = 0; r < count; ++r) {
        const int i = d * kRois + r;
        const QPoint anchor = roiAnchor(store, i);
        const QString text = roiCaption(store, d, r, true);
        const int w = fm.horizontalAdvance(text);
        QRect box(std::max(left, std::min(anchor.x(), right - w)), anchor.y() - 29 + (25 - fm.height()) / 2, w,
                  fm.height());
        const auto clash = [&header](const QRect& b) {
            for (const QRect& h : header)
                if (h.intersects(b))
                    return h.bottom() + 2;
            return -1;
        };
        if (box.top() < 0 || clash(box) >= 0) {
            box.moveTop(anchor.y() + 4);
            for (int below = clash(box); below >= 0; below = clash(box))
                box.moveTop(below);
        }
        out.append({text, 30, roiPen(store, d, r), QPoint(box.left(), box.top() + fm.ascent())});
    }
    return out;
}

QVector<CammerWidget::OverlayText> CammerWidget::liveHeader() const
{
    // The status line top left, the countdown under it, the counters at the
    // right end of the status line's row, or of the countdown's when the
    // status line leaves them no room there. Each ends a character short of
    // the visible right edge: in a grid of views the next view's status
    // line starts right there, and at a quarter scale 5 units are one
    // screen pixel. Under an overlay (the side bar) the visible edge is the
    // overlay's. A text too long for its room shrinks, and below the
    // smallest size is cut short.
    const int d = liveOverlays(false).d;
    int colour = Qt::green;
    const QString status = msg(313).arg(cameraIndex + 1).arg(detectionName(d), statusText(d, &colour));
    const QString countdown = countdownText();
    const int cam = std::clamp(cameraIndex, 0, 7);
    const QString counters = msg(316).arg(gFailCycleNum[cam]).arg(gAllCycleNum[cam]).arg(fps);
    const double logicalW = winScaleX > 0 ? width() / double(winScaleX) : width();
    const int visible = int(m_coveredRight > 0 && winScaleX > 0 ? (width() - m_coveredRight) / double(winScaleX)
                                                                : logicalW);
    const int gap = winScaleX > 0 ? std::max(5, int(std::ceil(8.0 / winScaleX))) : 5;
    const QString key = QStringList{status, countdown, counters, QString::number(colour), QString::number(visible),
                                    QString::number(gap)}.join(QLatin1Char('\n'));
    if (key == m_headerFor)
        return m_header;
    QVector<OverlayText> out;
    const int right = visible - gap;
    // Places the text between left and right, at x when it fits there;
    // returns where it ends (left when nothing of it fits).
    const auto place = [&](QString text, int px, const QColor& pen, int left, int x, int baseline) {
        const int room = right - left;
        px = boxpaint::fittedPixelSize(viewFont(px), text, room, px, 10);
        const QFontMetrics fm(viewFont(px));
        if (fm.horizontalAdvance(text) > room)
            text = room > 0 ? fm.elidedText(text, Qt::ElideRight, room) : QString();
        if (text.isEmpty())
            return left;
        const int w = fm.horizontalAdvance(text);
        const int at = std::max(left, std::min(x, right - w));
        out.append({text, px, pen, QPoint(at, baseline)});
        return at + w;
    };
    const QFontMetrics line(viewFont(35));
    const QColor statusPen = QColor(Qt::GlobalColor(colour));
    const int statusEnd = place(status, 35, statusPen, 5, 5, 40);
    // The second row starts where the first one's descent ends.
    int secondLeft = 0;
    if (!countdown.isEmpty())
        secondLeft = place(countdown, 45, statusPen, 5, 5, 40 + line.descent() + QFontMetrics(viewFont(45)).ascent())
                     + gap;
    if (statusEnd + gap + advanceOf(counters, 35) <= right)
        place(counters, 35, Qt::green, statusEnd + gap, 750, 40);
    else
        place(counters, 35, Qt::green, secondLeft, 750, 40 + line.height());
    m_headerFor = key;
    m_header = out;
    return out;
}

QVector<QRect> CammerWidget::keepClear() const
{
    QVector<QRect> out;
    for (QWidget* c : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (c->isVisible())
            out << c->geometry();
    const auto logical = [this](const QRect& r) {
        return QRect(int(r.left() * winScaleX), int(r.top() * winScaleY), int(std::ceil(r.width() * winScaleX)),
                     int(std::ceil(r.height() * winScaleY)));
    };
    // A handle takes a touch 20 px around its point.
    const auto handle = [&](QPoint at) { out << logical(QRect(at - QPoint(20, 20), QSize(41, 41))); };
    if (curRoiValid()) {
        const int i = detect() * kRois + curRoi;
        switch (editStore->shapeKind[i]) {
        case 2: {
            const RePolygon& pg = editStore->polygons[i];
            if (pg.IsSelected() && !pg.hand)
                for (int k = 0; k < std::clamp(pg.count, 0, RePolygon::kMaxPoints); ++k)
                    handle(pg.points[k]);
            break;
        }
        case 4: {
            const Circle& c = editStore->circles[i];
            if (c.IsSelected())
                for (QPoint at : {QPoint(c.cx, c.rect.top()), QPoint(c.rect.right(), c.cy),
                                  QPoint(c.cx, c.rect.bottom()), QPoint(c.rect.left(), c.cy)})
                    handle(at);
            break;
        }
        default: {
            const QRect& r = editStore->rects[i].rect;
            if (editStore->rects[i].IsSelected())
                for (QPoint at : {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()})
                    handle(at);
            break;
        }
        }
    }
    // The verdict as paintLiveView writes it: 100 px, baseline at 200.
    const QFontMetrics big(viewFont(100));
    out << logical(QRect(0, 200 - big.ascent(), 10 + big.horizontalAdvance(QStringLiteral("NG")), big.height()));
    return out;
}

void CammerWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setFont(viewFont(35));
    if (gSource == 3 || gSource == 4) {
        paintUnderlay(p);
        paintRecordView(p);
    } else if (gSource == 2) {
        paintUnderlay(p);
        paintRecentNgView(p);
    } else if (cameraIndex < numCamera && imageWidth > 0) {
        paintLiveView(p, gSource == 0);
    } else {
        paintUnderlay(p);
    }
}

void CammerWidget::paintUnderlay(QPainter& p) const
{
    // What the window would have laid under the view: nothing but a
    // background lies there (the views are their window's first children).
    QBrush under;
    for (const QWidget* w = this; w; w = w->parentWidget()) {
        if (w->autoFillBackground()) {
            under = w->palette().brush(w->backgroundRole());
            break;
        }
        if (w->isWindow()) {
            under = w->palette().brush(QPalette::Window);
            break;
        }
    }
    p.save();
    p.resetTransform();
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), under);
    p.restore();
}

void CammerWidget::applyZoom(QPainter& p) const
{
    if (!gpWin)
        return;
    p.translate(gpWin->zoomOffset);
    p.scale(gpWin->zoomFactor, gpWin->zoomFactor);
}

void CammerWidget::paintRecordView(QPainter& p)
{
    p.setFont(viewFont(35));
    p.setPen(Qt::green);
    if (!gpWin)
        return;
    if (gpWin->recordCount >= 1 && !gpWin->recordImage.isNull()) {
        p.save();
        applyZoom(p);
        p.drawImage(rect(), gpWin->recordImage);
        p.restore();
    }
    const QString name = detectionName(gpWin->editDetect);
    const QString head = msg(218).arg(gpWin->recordCamera + 1).arg(name);
    if (gLan != 3) {
        const QString label = msg(gSource == 3 ? 699 : 700);
        p.drawText(5, 40, head);
        drawFitted(p, 705, 40, QString("%1 %2 / %3").arg(label).arg(gpWin->recordIndex + 1).arg(gpWin->recordCount),
                   width());
        drawFitted(p, 1205, gpWin->recordFile.isEmpty() ? 40 : (width() < 1500 ? 80 : 40), gpWin->recordFile, width());
    } else {
        p.drawText(5, 40, head);
        drawFitted(p, 655, 85, gpWin->recordFile, width());
    }
}

namespace {

// Grey bytes [i, n) into opaque RGB32 pixels; Stream: past the cache (dst + i
// 16-byte aligned).
template <bool Stream>
void greyPixels(quint32* dst, const uchar* src, size_t i, size_t n)
{
#ifdef __SSE2__
    // Sixteen grey bytes become sixteen opaque pixels per step.
    const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
    auto put = [](__m128i* d, __m128i v) {
        if constexpr (Stream)
            _mm_stream_si128(d, v);
        else
            _mm_storeu_si128(d, v);
    };
    for (; i + 16 <= n; i += 16) {
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i lo = _mm_unpacklo_epi8(g, g);
        const __m128i hi = _mm_unpackhi_epi8(g, g);
        __m128i* d = reinterpret_cast<__m128i*>(dst + i);
        put(d + 0, _mm_or_si128(_mm_unpacklo_epi16(lo, lo), alpha));
        put(d + 1, _mm_or_si128(_mm_unpackhi_epi16(lo, lo), alpha));
        put(d + 2, _mm_or_si128(_mm_unpacklo_epi16(hi, hi), alpha));
        put(d + 3, _mm_or_si128(_mm_unpackhi_epi16(hi, hi), alpha));
    }
#endif
    for (; i < n; ++i)
        dst[i] = 0xFF000000u | quint32(src[i]) * 0x010101u;
}

// Pixels [i, n) of a frame into opaque RGB32 display pixels.
void toDisplayPixels(quint32* dst, const uchar* frame, bool colour, size_t i, size_t n)
{
    if (colour) {
        const quint32* src = reinterpret_cast<const quint32*>(frame);
#ifdef __SSE2__
        const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
        for (; i + 4 <= n; i += 4) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_or_si128(p, alpha));
        }
#endif
        for (; i < n; ++i)
            dst[i] = src[i] | 0xFF000000u;
    } else {
        greyPixels<false>(dst, frame, i, n);
    }
}

// n grey bytes as opaque grey pixels into the screen's image, which this
// process writes and never reads: the aligned part bypasses the cache (no
// read of the old pixels first, no eviction of the frame still being made).
void greyToScreen(quint32* dst, const uchar* src, int n)
{
    size_t i = 0;
#ifdef __SSE2__
    while (i < size_t(n) && (reinterpret_cast<quintptr>(dst + i) & 15))
        ++i;
    greyPixels<false>(dst, src, 0, i);
#endif
    greyPixels<true>(dst, src, i, size_t(n));
}

// Block means (rounded) of 2 x 1, 1 x 2 or 2 x 2 pixels of one or four
// channels: rows a and b (the same row for 2 x 1) into n bytes of o.
void halveRow(const uchar* a, const uchar* b, uchar* o, int n, int ch, bool inX)
{
    int i = 0;
#ifdef __SSE2__
    auto in16 = [](const uchar* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    auto out16 = [](uchar* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); };
#endif
    if (!inX) {
#ifdef __SSE2__
        for (; i + 16 <= n; i += 16)
            out16(o + i, _mm_avg_epu8(in16(a + i), in16(b + i)));
#endif
        for (; i < n; ++i)
            o[i] = uchar((a[i] + b[i] + 1) >> 1);
        return;
    }
#ifdef __SSE2__
    if (a == b) {
        // Across only (a frame less than twice the view's height): the mean
        // of two neighbours, rounded up, is the byte average, sixteen at once
        // from the even and the odd pixels side by side.
        if (ch == 1) {
            const __m128i low = _mm_set1_epi16(0xFF);
            for (; i + 16 <= n; i += 16) {
                const __m128i p = in16(a + 2 * i), q = in16(a + 2 * i + 16);
                const __m128i even = _mm_packus_epi16(_mm_and_si128(p, low), _mm_and_si128(q, low));
                const __m128i odd = _mm_packus_epi16(_mm_srli_epi16(p, 8), _mm_srli_epi16(q, 8));
                out16(o + i, _mm_avg_epu8(even, odd));
            }
        } else if (ch == 4) {
            for (; i + 16 <= n; i += 16) {
                const __m128 p = _mm_castsi128_ps(in16(a + 2 * i)), q = _mm_castsi128_ps(in16(a + 2 * i + 16));
                const __m128i even = _mm_castps_si128(_mm_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 2, 0)));
                const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 3, 1)));
                out16(o + i, _mm_avg_epu8(even, odd));
            }
        }
    }
    const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    if (ch == 1) {
        const __m128i low = _mm_set1_epi16(0xFF);
        for (; i + 8 <= n; i += 8) {
            const __m128i p = in16(a + 2 * i), q = in16(b + 2 * i);
            __m128i s = _mm_add_epi16(_mm_and_si128(p, low), _mm_srli_epi16(p, 8));
            s = _mm_add_epi16(s, _mm_add_epi16(_mm_and_si128(q, low), _mm_srli_epi16(q, 8)));
            s = _mm_srli_epi16(_mm_add_epi16(s, two), 2);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o + i), _mm_packus_epi16(s, s));
        }
    } else if (ch == 4) {
        // Four pixels in, two out: each pair's channels side by side.
        auto pairs = [&](const uchar* p) {
            const __m128i v = in16(p);
            const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
            return _mm_unpacklo_epi64(_mm_add_epi16(lo, _mm_srli_si128(lo, 8)), _mm_add_epi16(hi, _mm_srli_si128(hi, 8)));
        };
        for (; i + 8 <= n; i += 8) {
            const __m128i s = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(pairs(a + 2 * i), pairs(b + 2 * i)), two), 2);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o + i), _mm_packus_epi16(s, s));
        }
    }
#endif
    for (; i < n; ++i) {
        const int x = i / ch, j = 2 * x * ch + (i - x * ch);
        o[i] = uchar((a[j] + a[j + ch] + b[j] + b[j + ch] + 2) >> 2);
    }
}

// A halving of a whole frame (whole blocks only).
void halve(const cv::Mat& src, cv::Mat& dst, bool inX, bool inY)
{
    const int w = inX ? src.cols / 2 : src.cols, h = inY ? src.rows / 2 : src.rows;
    dst.create(h, w, src.type());
    for (int y = 0; y < h; ++y) {
        const uchar* a = src.ptr<uchar>(inY ? 2 * y : y);
        halveRow(a, inY ? src.ptr<uchar>(2 * y + 1) : a, dst.ptr<uchar>(y), w * src.channels(), src.channels(), inX);
    }
}

// The rows of a frame's last halving, each made when the bilinear pass first
// asks for it and kept while the next view row may need it again: the halved
// frame is never written whole.
class HalvedRows
{
public:
    HalvedRows(const cv::Mat& src, bool inX, bool inY, std::vector<uchar> (&store)[2])
        : m_src(src), m_inX(inX), m_inY(inY), m_buf(store)
    {
        m_n = (inX ? src.cols / 2 : src.cols) * src.channels();
        m_buf[0].resize(size_t(m_n));
        m_buf[1].resize(size_t(m_n));
    }
    int cols() const { return m_inX ? m_src.cols / 2 : m_src.cols; }
    int rows() const { return m_inY ? m_src.rows / 2 : m_src.rows; }
    // Row r, leaving the row `keep` in place.
    const uchar* row(int r, int keep)
    {
        for (int k = 0; k < 2; ++k)
            if (m_at[k] == r)
                return m_buf[k].data();
        const int k = m_at[0] == keep ? 1 : 0;
        const uchar* a = m_src.ptr<uchar>(m_inY ? 2 * r : r);
        halveRow(a, m_inY ? m_src.ptr<uchar>(2 * r + 1) : a, m_buf[k].data(), m_n, m_src.channels(), m_inX);
        m_at[k] = r;
        return m_buf[k].data();
    }

private:
    const cv::Mat& m_src;
    bool m_inX, m_inY;
    int m_n = 0;
    std::vector<uchar> (&m_buf)[2];
    int m_at[2] = {-1, -1};
};

// Where each of `to` view pixels samples a line of `from` frame pixels:
// the two neighbours and the second one's weight in 1/256, centres aligned.
struct Taps {
    std::vector<int> first, second;
    std::vector<short> weight;
    int beforeLast = 0; // view pixels up to the first one on the last frame pixel
    Taps(int from, int to) : first(size_t(to)), second(size_t(to)), weight(size_t(to))
    {
        const double r = double(from) / to;
        for (int o = 0; o < to; ++o) {
            const double at = std::clamp((o + 0.5) * r - 0.5, 0.0, double(from - 1));
            const int i = int(at);
            first[size_t(o)] = i;
            second[size_t(o)] = std::min(i + 1, from - 1);
            weight[size_t(o)] = short((at - i) * 256 + 0.5);
            beforeLast += i + 1 < from;
        }
    }
};

#ifdef __SSE2__
// Eight grey view pixels from their two frame neighbours each; every first
// neighbour has a second one right after it.
void eightGrey(const uchar* row, const int* first, const short* weight, uchar* out)
{
    const __m128i pairs = pixelpairs::eight(row, first);
    const __m128i wb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight));
    const __m128i wa = _mm_sub_epi16(_mm_set1_epi16(256), wb);
    const __m128i low = _mm_set1_epi16(0xFF);
    __m128i v = _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(pairs, low), wa), _mm_mullo_epi16(_mm_srli_epi16(pairs, 8), wb));
    v = _mm_srli_epi16(_mm_add_epi16(v, _mm_set1_epi16(128)), 8);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v, v));
}
#endif

// Row a * (256 - wb) + row b * wb, rounded, over n bytes.
void blendRows(const uchar* a, const uchar* b, int wb, uchar* out, int n)
{
    const int wa = 256 - wb;
    int i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128(), ma = _mm_set1_epi16(short(wa)), mb = _mm_set1_epi16(short(wb));
    const __m128i half = _mm_set1_epi16(128);
    auto mix = [&](__m128i p, __m128i q) {
        return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(p, ma), _mm_mullo_epi16(q, mb)), half), 8);
    };
    for (; i + 16 <= n; i += 16) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i lo = mix(_mm_unpacklo_epi8(p, zero), _mm_unpacklo_epi8(q, zero));
        const __m128i hi = mix(_mm_unpackhi_epi8(p, zero), _mm_unpackhi_epi8(q, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; i < n; ++i)
        out[i] = uchar((a[i] * wa + b[i] * wb + 128) >> 8);
}

// The frames halved whole before the last halving, one of each size, for
// all views: they are made one view after another on the GUI thread, and
// eight colour views of 2448 x 2048 would otherwise keep 5 MB each. A few
// sizes are kept (cameras of different sizes, a view filling the screen);
// the one used longest ago makes room.
cv::Mat& shrinkStep(int rows, int cols, int type)
{
    static thread_local std::vector<cv::Mat> steps;
    constexpr size_t kSizes = 6;
    for (auto it = steps.begin(); it != steps.end(); ++it) {
        if (it->rows == rows && it->cols == cols && it->type() == type) {
            std::rotate(it, it + 1, steps.end());
            return steps.back();
        }
    }
    if (steps.size() >= kSizes)
        steps.erase(steps.begin());
    steps.emplace_back(rows, cols, type);
    return steps.back();
}

} // namespace

void CammerWidget::prepareFrame()
{
    if (imageBits.size() < size_t(pixelCount) * 4 || displayBuffer.size() < size_t(frameBytes) || imageHeight <= 0)
        return;
    // The display image is opaque RGB32: the fourth byte must be 0xFF, or
    // composition treats the pixel as transparent. Frames carry 0 there.
    quint32* dst = reinterpret_cast<quint32*>(imageBits.data());
    const size_t w = size_t(imageWidth);
    ForRowBands(imageHeight, w, [&](int first, int last) {
        toDisplayPixels(dst, std::as_const(displayBuffer).data(), isColor, size_t(first) * w, size_t(last) * w);
    });
}

void CammerWidget::drawFrame(QPainter& p, bool zoom)
{
    p.save();
    if (zoom)
        applyZoom(p);
    p.setRenderHint(QPainter::SmoothPixmapTransform, imageWidth != gShowW || imageHeight != gShowH);
    p.drawImage(rect(), displayImage);
    p.restore();
}

bool CammerWidget::drawShownFrame(QPainter& p)
{
    // Painting the same frame again (a poll, a status text) blits what the
    // last paint made; only a new frame is scaled and converted, straight
    // from the frame to the view's size.
    if (!prepareShownFrame())
        return false;
    if (isColor || !putGreyOnDevice(p))
        p.drawImage(0, 0, m_shown);
    return true;
}

bool CammerWidget::putGreyOnDevice(QPainter& p) const
{
    // The painter would take the grey bytes into RGB32 through a buffer of
    // its own and copy that: on an image of 32-bit pixels the bytes are
    // written as opaque grey pixels straight where the painter would put
    // them, inside the area being painted. Anything else goes through the
    // painter.
    QPaintEngine* engine = p.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster || m_shown.format() != QImage::Format_Grayscale8)
        return false;
    QPaintDevice* device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return false;
    QImage* to = static_cast<QImage*>(device);
    const QImage::Format f = to->format();
    if ((f != QImage::Format_RGB32 && f != QImage::Format_ARGB32 && f != QImage::Format_ARGB32_Premultiplied) ||
        !to->isDetached() || to->devicePixelRatioF() != 1.0)
        return false;
    const QTransform t = p.deviceTransform();
    if (t.type() > QTransform::TxTranslate || p.hasClipping() || p.opacity() < 1.0 ||
        p.compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;
    const QPoint at(qRound(t.dx()), qRound(t.dy()));
    if (QPointF(at) != QPointF(t.dx(), t.dy()))
        return false;
    QRegion area = QRegion(QRect(at, m_shown.size())) & to->rect();
    const QRegion painted = engine->systemClip();
    if (!painted.isEmpty())
        area &= painted;
    // The window's image on the screen is only read by the display: it is
    // written past the cache. An image rendered into (a grab) is read next.
    QBackingStore* store = window()->backingStore();
    const bool screen = store && store->paintDevice() == device;
    p.beginNativePainting();
    uchar* bits = to->bits(); // not shared (above): no copy
    const qsizetype stride = to->bytesPerLine();
    for (const QRect& r : area)
        for (int y = r.top(); y <= r.bottom(); ++y) {
            quint32* dst = reinterpret_cast<quint32*>(bits + y * stride) + r.left();
            const uchar* src = m_shown.constScanLine(y - at.y()) + (r.left() - at.x());
            if (screen)
                greyToScreen(dst, src, r.width());
            else
                toDisplayPixels(dst, src, false, 0, size_t(r.width()));
        }
#ifdef __SSE2__
    if (screen)
        _mm_sfence();
#endif
    p.endNativePainting();
    return true;
}

bool CammerWidget::prepareShownFrame()
{
    const ShownKey key{std::as_const(displayBuffer).data(), displayBuffer.version(), size()};
    // A grey frame is shown as grey bytes: the painter puts them on the
    // screen as opaque grey pixels as fast as it copies RGB32, and there are
    // a quarter as many bytes to make.
    const QImage::Format format = isColor ? QImage::Format_RGB32 : QImage::Format_Grayscale8;
    if (m_shown.isNull() || !(key == m_shownKey) || m_shown.format() != format) {
        if (m_shown.size() != size() || m_shown.format() != format)
            m_shown = QImage(size(), format);
        if (!makeViewSized(m_shown))
            return false;
        m_shownKey = key;
    }
    return true;
}

bool CammerWidget::makeViewSized(QImage& out)
{
    if (displayBuffer.size() < size_t(frameBytes) || imageWidth <= 0 || imageHeight <= 0 || out.isNull())
        return false;
    const int ch = isColor ? 4 : 1;
    cv::Mat src(imageHeight, imageWidth, CV_8UC(ch), const_cast<uchar*>(std::as_const(displayBuffer).data()));
    const int ow = out.width(), oh = out.height();
    // Block means by halves while the frame is at least twice the view, then
    // bilinear over what is left (less than two, or an enlargement): every
    // frame pixel counts, so fine texture does not alias. On this thread in
    // one pass per step: the library's resize would wake its whole thread
    // pool for this small job, which costs more than the job. A dropped last
    // odd row or column is under half a view pixel. The last halving is made
    // row by row inside the bilinear pass.
    std::vector<std::pair<bool, bool>> halvings;
    for (int w = src.cols, h = src.rows; w >= 2 * ow || h >= 2 * oh;) {
        halvings.emplace_back(w >= 2 * ow, h >= 2 * oh);
        w = halvings.back().first ? w / 2 : w;
        h = halvings.back().second ? h / 2 : h;
    }
    for (size_t step = 0; step + 1 < halvings.size(); ++step) {
        const bool inX = halvings[step].first, inY = halvings[step].second;
        cv::Mat& to = shrinkStep(inY ? src.rows / 2 : src.rows, inX ? src.cols / 2 : src.cols, src.type());
        halve(src, to, inX, inY);
        src = to;
    }
    const bool last = !halvings.empty();
    HalvedRows rows(src, last && halvings.back().first, last && halvings.back().second, m_halvedRows);
    const auto frameRow = [&](int r, int keep) { return last ? rows.row(r, keep) : src.ptr<uchar>(r); };
    const int sw = last ? rows.cols() : src.cols, sh = last ? rows.rows() : src.rows;
    const Taps xs(sw, ow), ys(sh, oh);
    const bool sameWidth = sw == ow;
    const int n = sw * ch;
    m_blendRow.resize(size_t(n));
    for (int y = 0; y < oh; ++y) {
        const size_t yi = size_t(y);
        const uchar* row = frameRow(ys.first[yi], -1);
        if (sameWidth && ch == 1) {
            uchar* o = out.scanLine(y);
            if (ys.weight[yi] > 0)
                blendRows(row, frameRow(ys.second[yi], ys.first[yi]), ys.weight[yi], o, n);
            else
                std::memcpy(o, row, size_t(n));
            continue;
        }
        if (ys.weight[yi] > 0) {
            blendRows(row, frameRow(ys.second[yi], ys.first[yi]), ys.weight[yi], m_blendRow.data(), n);
            row = m_blendRow.data();
        }
        if (ch == 1) {
            uchar* o = out.scanLine(y);
            int x = 0;
#ifdef __SSE2__
            for (; x + 8 <= xs.beforeLast; x += 8)
                eightGrey(row, &xs.first[size_t(x)], &xs.weight[size_t(x)], o + x);
#endif
            for (; x < ow; ++x) {
                const size_t xi = size_t(x);
                const int wb = xs.weight[xi];
                o[x] = uchar((row[xs.first[xi]] * (256 - wb) + row[xs.second[xi]] * wb + 128) >> 8);
            }
            continue;
        }
        // Opaque RGB32: the frames carry 0 in the fourth byte.
        quint32* o = reinterpret_cast<quint32*>(out.scanLine(y));
        if (sameWidth) {
            toDisplayPixels(o, row, true, 0, size_t(ow));
            continue;
        }
        for (int x = 0; x < ow; ++x) {
            const size_t xi = size_t(x);
            const int wb = xs.weight[xi], wa = 256 - wb;
            const uchar* p = row + xs.first[xi] * ch;
            const uchar* q = row + xs.second[xi] * ch;
            quint32 v = 0xFF000000u;
            for (int c = 0; c < 3; ++c)
                v |= quint32((p[c] * wa + q[c] * wb + 128) >> 8) << (8 * c);
            o[x] = v;
        }
    }
    return true;
}

void CammerWidget::paintRecentNgView(QPainter& p)
{
    if (imageWidth <= 0)
        return;
    const int d = std::clamp(gpWin ? gpWin->editDetect : 0, 0, kDetections - 1);
    prepareFrame();
    drawFrame(p, true);
    QString status;
    if (resamplePending[d]) {
        p.setPen(Qt::cyan);
        status = msg(310);
    } else if (gpWin && gpWin->runState == 3) {
        p.setPen(Qt::red);
        status = msg(311);
    } else {
        p.setPen(Qt::green);
        status = msg(312);
    }
    p.setFont(viewFont(35));
    p.drawText(5, 40, msg(313).arg(cameraIndex + 1).arg(detectionName(d), status));
    p.setPen(Qt::green);
    const int shown = std::min(recentNgCount[d], int(kRecentNg));
    const int index = std::clamp(recentNgIndex[d], 0, kRecentNg - 1);
    drawFitted(p, 700, 40, msg(314).arg(detectionName(d)).arg(index + 1).arg(shown), width());
    p.drawText(5, 80, recentNgTimes[d][index]);
}

void CammerWidget::overlayBox(const QRect& box, const uchar* mask, quint32 colour)
{
    if (!mask || box.isEmpty())
        return;
    quint32* bits = reinterpret_cast<quint32*>(imageBits.data());
    for (int y = box.top(); y <= box.bottom(); ++y) {
        const size_t row = size_t(y) * size_t(imageWidth);
        for (int x = box.left(); x <= box.right(); ++x)
            if (mask[row + size_t(x)])
                bits[row + size_t(x)] = colour;
    }
}

void CammerWidget::overlayBoxes(const CammerSingleton* store, int d, const uchar* mask, quint32 colour, bool ngOnly)
{
    const int count = std::clamp(store->roiCount[d], 0, int(kRois));
    for (int r = 0; r < count; ++r)
        if (!ngOnly || shownResults()[d][r] == 0)
            overlayBox(frameBox(store, d * kRois + r), mask, colour);
}

CammerWidget::LiveOverlays CammerWidget::liveOverlays(bool editView) const
{
    LiveOverlays o;
    const CammerSingleton* store = editView ? editStore : liveStore;
    o.d = std::clamp(gpWin ? (editView ? gpWin->editDetect : gpWin->lastDetect) : 0, 0, kDetections - 1);
    if (!store)
        return o;
    const int d = o.d;
    const int ds = gpWin ? gpWin->detectState : 0;
    const bool live1 = gSource == 1;
    const bool zoomHere = gpWin && cameraIndex == gpWin->editCamera;
    const WizardPara* wp = gpWPara;
    const size_t pixels = size_t(pixelCount);
    const bool maskOk = defectMask.size() >= pixels;
    // The NG decision starts the view's blink timer: the defects show red
    // while it runs.
    const bool alarmRuns = (alarmTimer && alarmTimer->isActive()) || (gpWin && gpWin->ngAlarmActive);
    const bool ng = !shownOK();
    o.red = shownDefects().size() >= pixels && ng && (alarmRuns || (ds == 2 && live1 && overlayMode == 0));
    o.cyan = (editView || (ds == 2 && live1 && overlayMode == 2)) && ignoreMasks[d].size() >= pixels;
    o.test = testShown && curRoi >= 0 && curRoi < kRois && maskOk && editStore;
    o.blink = wp && wp->NgShowSwitch && ng && ds == 2 && live1 && overlayMode == 1 &&
              !templateImages[d].empty() && templateImages[d][0].size() >= size_t(frameBytes);
    o.zoomed = zoomHere && (gpWin->zoomFactor != 1.0 || !gpWin->zoomOffset.isNull());
    return o;
}

void CammerWidget::paintLiveView(QPainter& p, bool editView)
{
    const CammerSingleton* store = editView ? editStore : liveStore;
    if (!store || imageBits.isNull()) {
        paintUnderlay(p);
        return;
    }
    const LiveOverlays over = liveOverlays(editView);
    const int d = over.d;
    const int ds = gpWin ? gpWin->detectState : 0;
    const bool live1 = gSource == 1;
    const bool zoomHere = gpWin && cameraIndex == gpWin->editCamera;
    const WizardPara* wp = gpWPara;
    const bool red = over.red, cyan = over.cyan, test = over.test, blink = over.blink, zoomed = over.zoomed;

    // 1.-4. The frame and its overlays, only inside the region boxes.
    if (!over.any()) {
        if (!drawShownFrame(p))
            paintUnderlay(p);
    } else {
        // A zoomed frame may leave the view's edges open.
        if (zoomed)
            paintUnderlay(p);
        prepareFrame();
        if (red)
            overlayBoxes(store, d, shownDefects().data(), kRed, true);
        if (cyan)
            overlayBoxes(store, d, std::as_const(ignoreMasks[d]).data(), kCyan, false);
        if (test)
            overlayBox(frameBox(editStore, detect() * kRois + curRoi), std::as_const(defectMask).data(), kCyan);
    }

    // 5. The image (drawn above when plain), or the template in the NG blink.
    if (blink) {
        QImage tpl = isColor ? QImage(templateImages[d][0].data(), imageWidth, imageHeight, imageWidth * 4,
                                      QImage::Format_RGB32)
                             : QImage(templateImages[d][0].data(), imageWidth, imageHeight, imageWidth,
                                      QImage::Format_Grayscale8);
        if (isColor) {
            tpl = tpl.copy(); // opaque copy, the template itself stays as taught
            for (int y = 0; y < imageHeight; ++y) {
                quint32* row = reinterpret_cast<quint32*>(tpl.scanLine(y));
                for (int x = 0; x < imageWidth; ++x)
                    row[x] |= 0xFF000000u;
            }
        }
        p.save();
        if (zoomHere)
            applyZoom(p);
        p.setRenderHint(QPainter::SmoothPixmapTransform, imageWidth != gShowW || imageHeight != gShowH);
        p.drawImage(rect(), tpl);
        p.restore();
    } else if (red || cyan || test || zoomed) {
        drawFrame(p, zoomHere);
    }

    // 6. The big verdict, the decided one (as every verdict painted here).
    const bool ok = shownOK();
    if (ds == 1 || (live1 && ds >= 0 && ds <= 2)) {
        p.save();
        p.setFont(viewFont(100));
        p.scale(winScaleX, winScaleY);
        p.setPen(ok ? Qt::green : Qt::red);
        m_text.draw(p, 5, 200, ok ? QStringLiteral("OK") : QStringLiteral("NG"));
        p.restore();
    }

    // 7.-10. Regions.
    const bool drawRois = ds == 0 || ds == 1 || editView || (live1 && ds == 2);
    if (drawRois) {
        p.setFont(viewFont(30));
        if (editView) {
            // The legend's samples; its words come with the edit view's texts.
            const int hgt = legendBottom();
            const int dx = textSpan().first - 5;
            p.save();
            p.scale(winScaleX, winScaleY);
            p.fillRect(QRect(QPoint(160 + dx, hgt - 89), QPoint(189 + dx, hgt - 60)), Qt::blue);
            p.fillRect(QRect(QPoint(160 + dx, hgt - 44), QPoint(189 + dx, hgt - 15)), kSalmon);
            p.restore();
        }
        const int count = std::clamp(store->roiCount[d], 0, int(kRois));
        for (int r = 0; r < count; ++r) {
            const int i = d * kRois + r;
            const int t = store->funcType[i];
            const QRect box = frameBox(store, i);
            if (editView && (r == curRoi || curRoi < 0) && t != 3 && !box.isEmpty()) {
                const int x1 = box.left(), x2 = box.right(), y1 = box.top(), y2 = box.bottom();
                const int cx = (x1 + x2) / 2, q = (x2 - x1) / 4, cy = (y1 + y2) / 2;
                int f = 0, s = 0;
                if (wp && !wp->showAllParam) {
                    f = wp->filterSize;
                    s = int(std::sqrt(double(std::max(wp->alarmArea, 0))));
                } else if (t == 0) {
                    f = store->paramC[i];
                    s = int(std::sqrt(double(std::max(store->paramB[i], 0))));
                } else if (t == 7 || t == 8) {
                    f = 2 * store->paramC[i] + 1;
                }
                f = std::min(f, 4096);
                s = std::min(s, 4096);
                if (f > 0) {
                    const QPoint c(int((cx - q) * roiScaleX), int(cy * roiScaleY));
                    p.fillRect(QRect(c.x() - f / 2, c.y() - f / 2, f, f), Qt::blue);
                }
                if (s > 0) {
                    const QPoint c(int((cx + q) * roiScaleX), int(cy * roiScaleY));
                    p.fillRect(QRect(c.x() - s / 2, c.y() - s / 2, s, s), kSalmon);
                }
            }
            if (editView && wp && wp->continuationArea && curRoi >= 0 && gpWin &&
                (gpWin->drawTool == 1 || gpWin->drawTool == 4 || (gpWin->drawTool == 2 && gpWin->freeHand))) {
                const QString hint = msg(711);
                const QFontMetrics fm(p.font());
                const QPoint c(int(box.center().x() * roiScaleX), int(box.center().y() * roiScaleY));
                p.setPen(Qt::green);
                p.drawText(c.x() - fm.horizontalAdvance(hint) / 2, c.y() + fm.height() / 2, hint);
            }
            if (editView && curRoi >= 0 && r != curRoi && moveMode != 2)
                continue;

            p.save();
            p.scale(winScaleX, winScaleY);
            const QColor pen = roiPen(store, d, r);
            p.setPen(pen);
            switch (store->shapeKind[i]) {
            case 2: {
                const RePolygon& pg = store->polygons[i];
                pg.Draw(p);
                if (editView && r == curRoi && objectIndex >= 0 && objectIndex < pg.count &&
                    objectIndex < RePolygon::kMaxPoints) {
                    const QPoint v = pg.points[objectIndex];
                    p.save();
                    p.setPen(QPen(Qt::cyan, 2));
                    p.drawEllipse(QRect(QPoint(v.x() - 5, v.y() - 5), QPoint(v.x() + 4, v.y() + 4)));
                    p.restore();
                }
                break;
            }
            case 4:
                store->circles[i].Draw(p);
                break;
            default:
                store->rects[i].Draw(p);
                break;
            }
            // The edit view writes its captions with its other texts.
            if (!editView) {
                const QPoint anchor = roiAnchor(store, i);
                p.drawText(QRect(anchor.x(), anchor.y() - 26, 400, 25), Qt::AlignLeft | Qt::AlignVCenter,
                           roiCaption(store, d, r, false));
            }
            p.restore();
        }
    }

    // 11.-14. Status line, countdown, counters, colour readout.
    p.save();
    p.scale(winScaleX, winScaleY);
    if (editView) {
        for (const OverlayText& t : editorTexts()) {
            p.setFont(viewFont(t.px));
            p.setPen(t.pen);
            m_text.draw(p, t.at.x(), t.at.y(), t.text);
        }
        p.restore();
        paintDrawing(p);
        return;
    }
    for (const OverlayText& t : liveHeader()) {
        p.setFont(viewFont(t.px));
        p.setPen(t.pen);
        m_text.draw(p, t.at.x(), t.at.y(), t.text);
    }
    p.restore();

    // 15. The shape being drawn.
    paintDrawing(p);
}

void CammerWidget::paintDrawing(QPainter& p)
{
    if (editState != 1 || !gpWin)
        return;
    p.save();
    if (cameraIndex == gpWin->editCamera)
        applyZoom(p);
    p.setPen(Qt::green);
    const WizardPara* wp = gpWPara;
    const bool continuation = wp && wp->continuationArea;
    if (gpWin->drawTool == 4) {
        workCircle.Draw(p);
    } else if (gpWin->drawTool == 1) {
        workRect.Draw(p);
    } else if (gpWin->drawTool == 2 && drawPointCount >= 1) {
        const int n = std::min(drawPointCount, int(kMaxDrawPoints));
        p.setPen(QPen(Qt::green, 2));
        if (continuation && n > 2 && !gpWin->freeHand) {
            const QString hint = msg(711);
            const QFontMetrics fm(p.font());
            const QPoint c = getPointsCenter();
            p.drawText(c.x() - fm.horizontalAdvance(hint) / 2, c.y() + fm.height() / 2, hint);
        }
        if (continuation)
            p.setPen(QPen(Qt::magenta, 2));
        if (wp && wp->polygonStartPoint)
            p.drawPolyline(drawPoints.get(), n);
        else
            p.drawPolygon(drawPoints.get(), n, Qt::OddEvenFill);
        p.setPen(QPen(Qt::cyan, 2));
        const QPoint f = drawPoints[0];
        p.drawEllipse(QRect(QPoint(f.x() - 5, f.y() - 5), QPoint(f.x() + 4, f.y() + 4)));
    }
    p.restore();
}

#include "inspection/circle.h"
#include "inspection/clustomrect.h"
#include "inspection/repolygon.h"
#include "frame/globals.h"

#include <QImage>
#include <QPainter>
#include <QElapsedTimer>
#include <QtTest>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <vector>
#include <opencv2/imgproc.hpp>

namespace {

// Builds two shapes in memory that was dirty before (differently), as the
// ROI store's allocation may be; true when they are equal byte for byte.
template <typename T, typename... Args>
bool sameOverDirtyMemory(Args... args)
{
    std::vector<unsigned char> a(sizeof(T) + alignof(T), 0xAA), b(a.size(), 0x55);
    void* pa = a.data();
    void* pb = b.data();
    size_t sa = a.size(), sb = b.size();
    T* ta = new (std::align(alignof(T), sizeof(T), pa, sa)) T(args...);
    T* tb = new (std::align(alignof(T), sizeof(T), pb, sb)) T(args...);
    const bool same = std::memcmp(ta, tb, sizeof(T)) == 0;
    ta->~T();
    tb->~T();
    return same;
}

// Independent reference: OpenCV's point test on every pixel of the box.
cv::Mat referenceMask(const std::vector<cv::Point>& pts, const QRect& box)
{
    cv::Mat m = cv::Mat::zeros(box.height(), box.width(), CV_8UC1);
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c)
            if (cv::pointPolygonTest(pts, cv::Point2f(float(box.left() + c), float(box.top() + r)), false) > 0)
                m.at<uchar>(r, c) = 255;
    return m;
}

bool sameMat(const cv::Mat& a, const cv::Mat& b)
{
    if (a.size() != b.size() || a.type() != b.type())
        return false;
    return a.empty() || cv::countNonZero(a != b) == 0;
}

// A polygon whose image vertices are its view vertices over `scale`.
std::unique_ptr<RePolygon> polygonOf(const std::vector<cv::Point>& pts, float scale = 1.0f)
{
    std::vector<QPoint> q;
    for (const auto& p : pts)
        q.emplace_back(p.x, p.y);
    auto poly = std::make_unique<RePolygon>(int(q.size()), q.data());
    poly->setShowA(scale, scale);
    poly->setImageRect();
    return poly;
}

QRgb pixelAt(const QImage& img, int x, int y) { return img.pixel(x, y) & 0xffffff; }
QRgb rgbOf(Qt::GlobalColor c) { return QColor(c).rgb() & 0xffffff; }

bool contains(const RePolygon& poly, int x, int y)
{
    QPoint p(x, y);
    return poly.Contains(p);
}

struct Hit { QPoint p; int code; }; // code -1: no handle

// Each point hits the handle it names, or none, and the shape keeps that code.
template <typename Shape>
void checkHits(Shape& shape, std::initializer_list<Hit> hits)
{
    for (const Hit& h : hits) {
        int code = 99;
        const bool hit = shape.PtInCtrl(h.p, &code);
        QVERIFY2(hit == (h.code >= 0) && code == h.code && shape.ctrlCode == h.code,
                 qPrintable(QString("%1,%2: %3").arg(h.p.x()).arg(h.p.y()).arg(code)));
    }
}

// A ring as the owners set one up: centre and radii, then UpdateRect.
Circle ring(int cx, int cy, int radius, int inner = 0)
{
    Circle c;
    c.cx = cx;
    c.cy = cy;
    c.radius = radius;
    c.innerRadius = inner;
    c.UpdateRect();
    return c;
}

} // namespace

class TstShapes : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        gShowW = 1920;
        gShowH = 1080;
    }

    void layoutIsOneDefinedBlock()
    {
        // Two shapes built over differently dirty memory must compare equal
        // byte for byte, or the editor would see changes that are not there.
        QVERIFY(sameOverDirtyMemory<ClustomRect>());
        QVERIFY(sameOverDirtyMemory<Circle>());
        QPoint pts[3] = {{10, 10}, {50, 10}, {10, 50}};
        QVERIFY(sameOverDirtyMemory<RePolygon>(3, pts));
    }

    void rectHitTests()
    {
        ClustomRect r;
        r.rect.setCoords(100, 100, 107, 300); // width 8: edge tolerance 3
        checkHits(r, {{{100, 100}, -1}}); // not selected: no handles
        r.SetSelected(true);
        // Corners before edges; bottom-left before bottom-right; the left
        // edge's tolerance clamped up to 3 (8 / 4 = 2).
        checkHits(r, {{{100, 100}, 0}, {{107 + 19, 100 - 19}, 2}, {{104, 300}, 6}, {{120, 300}, 4},
                  {{98, 200}, 7}, {{97, 200}, -1}});

        ClustomRect w;
        w.SetSelected(true);
        w.rect.setCoords(100, 100, 499, 499); // width 400: tolerance 50 (100 clamped)
        // Exactly 20 pixels off a corner in x is no corner hit: the left edge
        // (tested before the top edge) answers instead. Edge hits need the
        // point within the edge's span.
        checkHits(w, {{{149, 300}, 7}, {{150, 300}, -1}, {{300, 451}, 5}, {{300, 140}, 1}, {{460, 300}, 3},
                  {{120, 100}, 7}, {{119, 100}, 0}, {{120, 549}, -1}, {{120, 548}, 5}});

        // Contains: grown by 20, border included.
        for (auto [at, in] : {std::pair{QPoint(80, 80), true}, {QPoint(519, 519), true}, {QPoint(79, 300), false},
                              {QPoint(300, 520), false}})
            QVERIFY2(w.Contains(at) == in, qPrintable(QString("%1,%2").arg(at.x()).arg(at.y())));
    }

    void rectResizeAndImage()
    {
        ClustomRect r;
        r.rect.setCoords(100, 100, 200, 200);
        // Each handle moves its own sides; codes out of range move nothing.
        // moveY stays as it was under the x-only handle 3.
        struct Step { int code; QPoint from, to; QRect rect; int moveX, moveY; };
        for (const Step& st : {Step{0, {0, 0}, {5, -7}, {QPoint(105, 93), QPoint(200, 200)}, 5, -7},
                               Step{3, {10, 10}, {13, 50}, {QPoint(105, 93), QPoint(203, 200)}, 3, -7},
                               Step{5, {0, 0}, {9, 4}, {QPoint(105, 93), QPoint(203, 204)}, 3, 4},
                               Step{6, {0, 0}, {-5, 1}, {QPoint(100, 93), QPoint(203, 205)}, -5, 1},
                               Step{2, {0, 0}, {1, 1}, {QPoint(100, 94), QPoint(204, 205)}, 1, 1},
                               Step{4, {0, 0}, {1, 1}, {QPoint(100, 94), QPoint(205, 206)}, 1, 1},
                               Step{1, {0, 0}, {1, 1}, {QPoint(100, 95), QPoint(205, 206)}, 1, 1},
                               Step{7, {0, 0}, {1, 1}, {QPoint(101, 95), QPoint(205, 206)}, 1, 1},
                               Step{8, {0, 0}, {30, 30}, {QPoint(101, 95), QPoint(205, 206)}, 1, 1},
                               Step{-1, {0, 0}, {30, 30}, {QPoint(101, 95), QPoint(205, 206)}, 1, 1}}) {
            r.Resize(st.code, st.from, st.to);
            QCOMPARE(r.rect, st.rect);
            QCOMPARE(QPoint(r.moveX, r.moveY), QPoint(st.moveX, st.moveY));
        }

        // Ties go to even: 5 / 2 = 2.5 -> 2, 7 / 2 = 3.5 -> 4; width 5 / 2 -> 2.
        ClustomRect t;
        t.rect.setCoords(5, 7, 9, 13); // width 5, height 7
        t.setShowA(2.0f, 2.0f);
        t.setImageRect();
        QCOMPARE(t.imageRect, QRect(QPoint(2, 4), QPoint(3, 7))); // w 2, h round(3.5)=4
        const cv::Mat m = t.UpdateMask();
        QVERIFY(m.size() == cv::Size(2, 4) && m.type() == CV_8UC1);
        QCOMPARE(cv::countNonZero(m == 255), 8);
        // Screen 1920 over a 2448 frame.
        ClustomRect f;
        f.rect.setCoords(50, 50, 100, 100);
        f.setShowA(1920.0f / 2448.0f, 1080.0f / 2048.0f);
        f.setImageRect();
        QCOMPARE(f.imageRect, QRect(64, 95, 65, 97)); // 63.75, 94.81, 65.03, 96.71
        // Empty rectangle, unset scale: defined empty mask.
        ClustomRect e;
        e.setShowA(0.0f, 0.0f);
        e.setImageRect();
        QVERIFY(e.UpdateMask().empty());
    }

    void ringClamps()
    {
        Circle c = ring(30, 400, 100, 150);
        // Inner clamped to the outer radius before the outer is cut to 30.
        QCOMPARE(c.radius, 30);
        QCOMPARE(c.innerRadius, 100);
        QCOMPARE(c.rect, QRect(QPoint(0, 370), QPoint(59, 429)));
        c.innerRadius = -5;
        c.UpdateRect();
        QCOMPARE(c.innerRadius, 0);
        // Top border.
        c = ring(500, 10, 50);
        QCOMPARE(c.radius, 10);
        QCOMPARE(c.rect.top(), 0);
        // A centre left of the view never gives a turned-over box.
        c = ring(-4, 100, 20);
        QCOMPARE(c.radius, 0);
        QVERIFY(c.rect.isEmpty());

        Circle a;
        a.rect.setCoords(100, 200, 180, 260); // w 81, h 61 -> r 30
        a.UpdateAll();
        QCOMPARE(QVector<int>({a.radius, a.cx, a.cy}), QVector<int>({30, 130, 230}));
        QCOMPARE(a.rect, QRect(QPoint(100, 200), QPoint(159, 259)));

        // Resize: distance to the pointer, truncated; centre gives 0.
        a.Resize(3, QPoint(0, 0), QPoint(130 + 3, 230 + 4));
        QCOMPARE(a.radius, 5);
        a.Resize(3, QPoint(0, 0), QPoint(130 + 10, 230 + 10)); // 14.14
        QCOMPARE(a.radius, 14);
        a.Resize(0, QPoint(0, 0), QPoint(130, 230));
        QCOMPARE(a.radius, 0);
        QVERIFY(a.rect.isEmpty());
        QCOMPARE(a.cx, 130);
    }

    void ringHitTests()
    {
        Circle c = ring(300, 300, 100);
        checkHits(c, {{{300, 400}, -1}});
        c.SetSelected(true);
        // Compass points, diagonals mirrored against the rectangle (0 is lower
        // left), and the band's edges: r + 20 and r - 20 included, beyond not.
        checkHits(c, {{{300, 400}, 5}, {{310, 200}, 1}, {{200, 310}, 7}, {{400, 290}, 3}, {{230, 370}, 0},
                      {{230, 230}, 6}, {{370, 370}, 2}, {{370, 230}, 4}, {{300, 420}, 5}, {{300, 421}, -1},
                      {{300, 380}, 5}, {{300, 379}, -1}});
        QVERIFY(c.Contains(QPoint(180, 180)));
        QVERIFY(!c.Contains(QPoint(179, 300)));
    }

    void ringImageAndMask()
    {
        Circle c = ring(400, 300, 100, 20);
        c.setShowA(2.0f, 0.5f);
        c.setImageRect();
        // outer (50 + 200) / 2 = 125, inner (10 + 40) / 2 = 25, centre (200, 600).
        QCOMPARE(QVector<int>({c.imageRadius, c.imageInnerRadius, c.imageCx, c.imageCy}),
                 QVector<int>({125, 25, 200, 600}));
        QCOMPARE(c.imageRect, QRect(QPoint(75, 475), QPoint(324, 724)));
        // Ties to even at scale 4: radius 6 gives 1.5 -> 2, radius 10 gives 2.5 -> 2.
        for (int radius : {6, 10}) {
            Circle t = ring(400, 400, radius);
            t.setShowA(4.0f, 4.0f);
            t.setImageRect();
            QCOMPARE(t.imageRadius, 2);
        }
        // Image clamp against the frame's left border.
        Circle l = ring(90, 300, 90);
        l.setShowA(3.0f, 1.0f); // cx' 30, outer (30 + 90) / 2 = 60 -> 30
        l.setImageRect();
        QCOMPARE(l.imageRadius, 30);
        QCOMPARE(l.imageRect.left(), 0);

        // Every radius pair of small rings, also an inner radius above the
        // outer one (possible after the image clamp), against the pixel rule.
        for (int ro = 1; ro <= 40; ++ro) {
            for (int rin = 0; rin <= ro + 2; ++rin) {
                Circle k;
                k.imageRadius = ro;
                k.imageInnerRadius = rin;
                const cv::Mat km = k.UpdateMask();
                QCOMPARE(km.rows, 2 * ro);
                for (int y = 0; y < km.rows; ++y)
                    for (int x = 0; x < km.cols; ++x) {
                        const int d2 = (x - ro) * (x - ro) + (y - ro) * (y - ro);
                        const bool in = rin * rin <= d2 && d2 < ro * ro;
                        if ((km.at<uchar>(y, x) == 255) != in)
                            QFAIL(qPrintable(QString("ring %1/%2 pixel %3,%4").arg(ro).arg(rin).arg(x).arg(y)));
                    }
            }
        }
        // Outer 0 gives an empty mask.
        Circle z;
        z.setImageRect();
        QVERIFY(z.UpdateMask().empty());
    }

    void polygonBoundsContainsResize()
    {
        const RePolygon narrow = *polygonOf({{100, 100}, {159, 100}, {159, 300}, {100, 300}});
        QCOMPARE(narrow.imageBoundRect, QRect(QPoint(100, 100), QPoint(158, 299)));
        QCOMPARE(narrow.boundRect, QRect(QPoint(80, 80), QPoint(158, 299)));
        // x2 - x1 = 78: answered by the rectangle, so a point left of the outline is in.
        QVERIFY(contains(narrow, 85, 200));
        QVERIFY(!contains(narrow, 159, 200));
        // One pixel wider and the outline answers.
        const RePolygon wider = *polygonOf({{100, 100}, {160, 100}, {160, 300}, {100, 300}});
        QVERIFY(!contains(wider, 85, 200));
        QVERIFY(contains(wider, 130, 200));

        RePolygon wide = *polygonOf({{100, 100}, {300, 100}, {100, 300}});
        QVERIFY(contains(wide, 150, 150));
        // Outside the rectangle, inside it but outside the triangle, on the outline.
        for (const QPoint& out : {QPoint(85, 200), QPoint(250, 250), QPoint(200, 200), QPoint(100, 150)})
            QVERIFY(!contains(wide, out.x(), out.y()));

        int code = 7;
        QVERIFY(!wide.PtInCtrl(QPoint(100, 100), &code));
        QCOMPARE(code, -1);
        wide.SetSelected(true);
        QVERIFY(wide.PtInCtrl(QPoint(295, 119), &code));
        QCOMPARE(code, 1);
        QCOMPARE(wide.node, 1);
        QVERIFY(!wide.PtInCtrl(QPoint(280, 100), &code));
        QCOMPARE(wide.node, -1);

        // Dragging a vertex.
        wide.Resize(1, QPoint(0, 0), QPoint(10, 5), 0.5f, 0.5f);
        QCOMPARE(wide.points[1], QPoint(310, 105));
        QCOMPARE(wide.imagePoints[1], QPoint(620, 210));
        // A vertex stays 3 pixels inside the screen: a drag past that is refused whole.
        struct Drag { int node; QPoint by, at; };
        for (const Drag& d : {Drag{0, {-98, 0}, {100, 100}}, Drag{0, {-97, 0}, {3, 100}},
                              Drag{2, {0, 1080 - 2 - 300}, {100, 300}}, Drag{2, {0, 1080 - 3 - 300}, {100, 1077}}}) {
            wide.Resize(d.node, QPoint(0, 0), d.by, 1.0f, 1.0f);
            QCOMPARE(wide.points[d.node], d.at);
            QCOMPARE(QPoint(wide.moveX, wide.moveY), d.by);
        }
        // Bounding rectangles are not recomputed by Resize.
        QCOMPARE(wide.imageBoundRect, QRect(QPoint(100, 100), QPoint(299, 299)));
        // Vertex index out of range: nothing moves.
        RePolygon copy = wide;
        wide.Resize(3, QPoint(0, 0), QPoint(1, 1), 1.0f, 1.0f);
        wide.Resize(-1, QPoint(0, 0), QPoint(1, 1), 1.0f, 1.0f);
        QCOMPARE(std::memcmp(wide.points, copy.points, sizeof(wide.points)), 0);

        // Rounding of image vertices: ties to even.
        const auto h = polygonOf({{5, 7}, {9, 11}, {3, 13}}, 2.0f);
        QCOMPARE(QVector<QPoint>(h->imagePoints, h->imagePoints + 3), QVector<QPoint>({{2, 4}, {4, 6}, {2, 6}}));
    }

    void polygonDegenerate()
    {
        const auto p1 = polygonOf({{40, 50}}, 2.0f);
        QCOMPARE(p1->imageBoundRect, QRect(QPoint(20, 25), QPoint(19, 24)));
        QCOMPARE(p1->boundRect, QRect(QPoint(20, 30), QPoint(39, 49)));
        QVERIFY(p1->UpdateMask().empty());

        const cv::Mat m2 = polygonOf({{10, 10}, {40, 30}})->UpdateMask();
        QVERIFY(m2.size() == cv::Size(30, 20));
        QCOMPARE(cv::countNonZero(m2), 0);

        RePolygon empty;
        empty.setImageRect();
        QVERIFY(empty.UpdateMask().empty());
        QVERIFY(!contains(empty, 0, 0));

        // Counts outside the arrays are clamped, never read past them.
        QPoint pts[3] = {{1, 1}, {5, 1}, {1, 5}};
        RePolygon neg(-3, pts);
        QCOMPARE(neg.count, 0);
        std::vector<QPoint> many(9000, QPoint(7, 7));
        QCOMPARE(RePolygon(9000, many.data()).count, RePolygon::kMaxPoints);
        RePolygon damaged(3, pts);
        damaged.count = 1 << 30;
        damaged.setImageRect();
        damaged.UpdateMask();
        int code = 0;
        damaged.SetSelected(true);
        damaged.PtInCtrl(QPoint(1000, 1000), &code);
        QCOMPARE(code, -1);
        QCOMPARE(RePolygon(5, nullptr).count, 0);
    }

    void polygonMaskMatchesReference()
    {
        std::mt19937 rng(20261206);
        int checked = 0;
        for (int iter = 0; iter < 400; ++iter) {
            std::uniform_int_distribution<int> nd(3, iter % 4 == 0 ? 40 : 9);
            const int n = nd(rng);
            // Small integer grids make collinear vertices, repeated vertices,
            // horizontal edges and self-crossings frequent.
            const int span = iter % 3 == 0 ? 8 : 40;
            std::uniform_int_distribution<int> cd(0, span);
            // Some polygons reach past the frame's top-left corner.
            const int off = iter % 5 == 0 ? -20 : 5;
            std::vector<cv::Point> pts;
            for (int i = 0; i < n; ++i)
                pts.emplace_back(off + cd(rng), off - 2 + cd(rng));
            auto poly = polygonOf(pts);
            const cv::Mat mask = poly->UpdateMask();
            const QRect box = poly->imageBoundRect;
            if (box.width() <= 0 || box.height() <= 0) {
                QVERIFY(mask.empty());
                continue;
            }
            const cv::Mat ref = referenceMask(pts, box);
            if (!sameMat(mask, ref)) {
                QString s;
                for (auto& p : pts) s += QString("(%1,%2) ").arg(p.x).arg(p.y);
                QFAIL(qPrintable("mask differs for polygon " + s));
            }
            ++checked;
        }
        QVERIFY(checked > 300);
    }

    void polygonMaskStaleAndHuge()
    {
        // Vertices dragged after the box was computed: edges that begin
        // above and left of the mask and end below and right of it.
        const std::vector<cv::Point> pts = {{50, 50}, {150, 60}, {120, 140}, {60, 120}};
        auto poly = polygonOf(pts);
        const QRect box = poly->imageBoundRect;
        poly->imagePoints[0] = QPoint(-40, -30);
        poly->imagePoints[2] = QPoint(300, 260);
        const std::vector<cv::Point> moved = {{-40, -30}, {150, 60}, {300, 260}, {60, 120}};
        QCOMPARE(poly->imageBoundRect, box);
        QVERIFY(sameMat(poly->UpdateMask(), referenceMask(moved, box)));

        // Vertices at the far ends of the coordinate range (damaged data):
        // exact, no overflow. The diagonal x = y is the outline.
        RePolygon huge;
        huge.count = 3;
        huge.imagePoints[0] = QPoint(-2147483520, -2147483520);
        huge.imagePoints[1] = QPoint(2147483520, 2147483520);
        huge.imagePoints[2] = QPoint(-2147483520, 2147483520);
        huge.imageBoundRect = QRect(QPoint(2147483000, 2147483000), QPoint(2147483099, 2147483099));
        const cv::Mat hm = huge.UpdateMask();
        QCOMPARE(hm.rows, 100);
        for (int r = 0; r < 100; ++r)
            for (int c = 0; c < 100; ++c)
                if ((hm.at<uchar>(r, c) == 255) != (c < r))
                    QFAIL(qPrintable(QString("huge triangle pixel %1,%2").arg(c).arg(r)));
    }

    void largestPolygonOnFullFrame()
    {
        // 8095 random-walk vertices over a 2448 x 2048 frame: a self-crossing
        // outline with many edges per row. Whole rows and scattered pixels are
        // checked against the per-pixel point test.
        std::mt19937 rng(8095);
        std::uniform_int_distribution<int> step(-60, 60);
        std::vector<cv::Point> pts;
        cv::Point p(1224, 1024);
        for (int i = 0; i < 8095; ++i) {
            p.x = std::clamp(p.x + step(rng), 0, 2447);
            p.y = std::clamp(p.y + step(rng), 0, 2047);
            pts.push_back(p);
        }
        pts[0] = cv::Point(0, 0);
        pts[1] = cv::Point(2447, 2047);
        auto poly = polygonOf(pts);
        QCOMPARE(poly->count, 8095);
        const QRect box = poly->imageBoundRect;
        QCOMPARE(box, QRect(QPoint(0, 0), QPoint(2446, 2046)));
        QElapsedTimer t;
        t.start();
        const cv::Mat mask = poly->UpdateMask();
        QVERIFY2(t.elapsed() < 2000, "mask must be built by rows, not by pixel tests");
        QCOMPARE(mask.rows, 2047);
        QCOMPARE(mask.cols, 2447);
        std::uniform_int_distribution<int> row(0, mask.rows - 1), col(0, mask.cols - 1);
        for (int k = 0; k < 4; ++k) {
            const int r = row(rng);
            QVERIFY2(sameMat(mask.row(r), referenceMask(pts, QRect(0, r, mask.cols, 1))), qPrintable(QString::number(r)));
        }
        for (int k = 0; k < 3000; ++k) {
            const int r = row(rng), c = col(rng);
            const bool in = cv::pointPolygonTest(pts, cv::Point2f(float(c), float(r)), false) > 0;
            QCOMPARE(mask.at<uchar>(r, c) == 255, in);
        }
    }

    void drawing()
    {
        struct Px { int x, y; Qt::GlobalColor c; };
        const auto expect = [](const QImage& img, std::initializer_list<Px> pixels) {
            for (const Px& p : pixels)
                QVERIFY2(pixelAt(img, p.x, p.y) == rgbOf(p.c), qPrintable(QString("%1,%2").arg(p.x).arg(p.y)));
        };
        QImage img(400, 400, QImage::Format_RGB32);
        img.fill(Qt::black);
        QPainter p(&img);
        p.setPen(QPen(Qt::green, 1));
        ClustomRect r;
        r.rect.setCoords(50, 50, 150, 150);
        r.Draw(p);
        // Selected, with the bottom-right corner hot.
        ClustomRect sel;
        sel.SetSelected(true);
        sel.rect.setCoords(200, 200, 350, 350);
        checkHits(sel, {{{350, 350}, 4}});
        sel.Draw(p);
        ring(100, 300, 60, 20).Draw(p);
        QCOMPARE(p.pen().width(), 1); // painter restored
        // Outline 3 wide (49..51); handles: the hot one yellow, the others magenta; both ring radii.
        expect(img, {{100, 50, Qt::green}, {100, 51, Qt::green}, {100, 52, Qt::black}, {340, 359, Qt::yellow},
                     {209, 195, Qt::magenta}, {275, 200, Qt::magenta}, {100, 280, Qt::yellow},
                     {100, 300, Qt::black}, {40, 300, Qt::green}});

        QImage img2(200, 200, QImage::Format_RGB32);
        img2.fill(Qt::black);
        QPainter p2(&img2);
        p2.setPen(QPen(Qt::cyan));
        QPoint tri[3] = {{40, 40}, {160, 40}, {40, 160}};
        RePolygon poly(3, tri);
        poly.SetSelected(true);
        poly.setNode(2);
        poly.Draw(p2);
        // Vertex 2 hot; the outline is not filled.
        expect(img2, {{49, 160, Qt::yellow}, {150, 45, Qt::magenta}, {100, 40, Qt::magenta}, {60, 60, Qt::black}});
        img2.fill(Qt::black);
        poly.SetHand(true);
        poly.SetSelected(false);
        poly.Draw(p2);
        expect(img2, {{100, 40, Qt::cyan}, {49, 169, Qt::black}});
    }
};

QTEST_GUILESS_MAIN(TstShapes)
#include "tst_shapes.moc"

// Draws the shared pictures of the touch screens: a dark panel look with
// light frames and amber accents. Pure raster drawing, no text, no fonts.
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

const QColor kPanelTop(0x34, 0x3b, 0x44);
const QColor kPanelBottom(0x15, 0x18, 0x1c);
const QColor kAmber(0xf5, 0xa6, 0x23);
const QColor kAmberDark(0xd9, 0x7a, 0x00);
const QColor kRim(0x8c, 0x96, 0xa0);
const QColor kWell(0x0d, 0x10, 0x13);

QImage canvas(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void background(QPainter& p, int w, int h)
{
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, kPanelTop);
    g.setColorAt(1, kPanelBottom);
    p.fillRect(0, 0, w, h, g);
    // faint brushed-metal lines
    p.setPen(QColor(255, 255, 255, 10));
    for (int y = 2; y < h; y += 4)
        p.drawLine(0, y, w, y);
}

void title(QPainter& p, int w, int h)
{
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(0x4a, 0x53, 0x5e));
    g.setColorAt(1, QColor(0x20, 0x25, 0x2b));
    p.fillRect(0, 0, w, h, g);
    p.fillRect(0, 0, w, 1, QColor(255, 255, 255, 70));
    p.fillRect(0, h - 4, w, 4, kAmber);
}

void line(QPainter& p, int w, int)
{
    p.fillRect(0, 1, w, 2, QColor(0xc8, 0xd0, 0xd8));
    p.fillRect(0, 3, w, 2, QColor(0, 0, 0, 120));
}

void roundedWell(QPainter& p, const QRectF& r, qreal radius, const QColor& rim, qreal rimWidth)
{
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0x05, 0x06, 0x08));
    g.setColorAt(0.25, kWell);
    g.setColorAt(1, QColor(0x1c, 0x21, 0x26));
    p.setBrush(g);
    p.setPen(QPen(rim, rimWidth));
    p.drawRoundedRect(r.adjusted(rimWidth / 2, rimWidth / 2, -rimWidth / 2, -rimWidth / 2), radius, radius);
}

void edit(QPainter& p, int w, int h)
{
    roundedWell(p, QRectF(0, 0, w, h), 6, kRim, 2);
}

void sliderTrack(QPainter& p, int w, int h)
{
    roundedWell(p, QRectF(0, 0, w, h), 8, QColor(0x5a, 0x64, 0x6e), 2);
}

void sliderFill(QPainter& p, int w, int h)
{
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(0xff, 0xc2, 0x4d));
    g.setColorAt(0.5, kAmber);
    g.setColorAt(1, kAmberDark);
    p.setBrush(g);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, w, h), 5, 5);
}

void sliderThumb(QPainter& p, int w, int h)
{
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, w, 0);
    g.setColorAt(0, QColor(0xf4, 0xf6, 0xf8));
    g.setColorAt(1, QColor(0x9c, 0xa6, 0xb0));
    p.setBrush(g);
    p.setPen(QPen(QColor(0x22, 0x22, 0x22), 1));
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 3, 3);
    p.setPen(QPen(QColor(0x55, 0x5d, 0x66), 1));
    for (int y = h / 2 - 6; y <= h / 2 + 6; y += 4)
        p.drawLine(QPointF(3, y), QPointF(w - 3, y));
}

void lamp(QPainter& p, int w, int h, bool on)
{
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(w / 2.0, h / 2.0);
    const qreal r = qMin(w, h) / 2.0 - 6;
    // bezel
    QLinearGradient bezel(0, c.y() - r - 5, 0, c.y() + r + 5);
    bezel.setColorAt(0, QColor(0xd0, 0xd6, 0xdc));
    bezel.setColorAt(1, QColor(0x40, 0x46, 0x4c));
    p.setPen(Qt::NoPen);
    p.setBrush(bezel);
    p.drawEllipse(c, r + 5, r + 5);
    QRadialGradient g(c - QPointF(r / 3, r / 3), r * 1.3);
    if (on) {
        g.setColorAt(0, QColor(0xd8, 0xff, 0xd0));
        g.setColorAt(0.35, QColor(0x3d, 0xe0, 0x4a));
        g.setColorAt(1, QColor(0x0c, 0x7a, 0x1c));
    } else {
        g.setColorAt(0, QColor(0x5a, 0x62, 0x5c));
        g.setColorAt(1, QColor(0x14, 0x1a, 0x16));
    }
    p.setBrush(g);
    p.setPen(QPen(QColor(0x10, 0x10, 0x10), 1.5));
    p.drawEllipse(c, r, r);
}

void spinner(QPainter& p, int w, int h)
{
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(w / 2.0, h / 2.0);
    const int n = 12;
    for (int i = 0; i < n; ++i) {
        const qreal a = 2 * M_PI * i / n;
        const QPointF d(c.x() + 22 * qCos(a), c.y() + 22 * qSin(a));
        QColor col = kAmber;
        col.setAlpha(40 + 215 * i / (n - 1));
        p.setPen(Qt::NoPen);
        p.setBrush(col);
        p.drawEllipse(d, 3 + 2.0 * i / n, 3 + 2.0 * i / n);
    }
}

void errorIcon(QPainter& p, int w, int h)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(QColor(0xd6, 0x30, 0x30));
    p.drawEllipse(QRectF(1, 1, w - 2, h - 2));
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    const qreal m = w * 0.3;
    p.drawLine(QPointF(m, m), QPointF(w - m, h - m));
    p.drawLine(QPointF(w - m, m), QPointF(m, h - m));
}

// The help button: a question mark on a blue disc (drawn as strokes: the
// tool runs without an application object, so without fonts).
void helpIcon(QPainter& p, int w, int h)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 3));
    p.setBrush(QColor(0x2a, 0x6f, 0xc9));
    p.drawEllipse(QRectF(2, 2, w - 4, h - 4));
    QPainterPath q;
    const QRectF arc(w * 0.34, h * 0.2, w * 0.32, h * 0.3);
    q.arcMoveTo(arc, 160);
    q.arcTo(arc, 160, -250);
    q.lineTo(w * 0.5, h * 0.62);
    p.setPen(QPen(Qt::white, w * 0.09, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(q);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(w * 0.5, h * 0.77), w * 0.06, w * 0.06);
}

// The status strip's drive icon: a USB stick.
void diskIcon(QPainter& p, int w, int h)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xe0, 0xe0, 0xe0), 2));
    p.setBrush(QColor(0x3a, 0x8d, 0xde));
    p.drawRoundedRect(QRectF(w * 0.22, h * 0.30, w * 0.56, h * 0.64), 4, 4);
    p.setBrush(QColor(0xc8, 0xc8, 0xc8));
    p.drawRect(QRectF(w * 0.32, h * 0.06, w * 0.36, h * 0.24));
    p.setBrush(QColor(0x40, 0x40, 0x40));
    p.drawRect(QRectF(w * 0.38, h * 0.12, w * 0.08, h * 0.08));
    p.drawRect(QRectF(w * 0.54, h * 0.12, w * 0.08, h * 0.08));
}

// The ROI editor's toggle that shows or hides the panel: an eye, struck
// through when checked.
void eyeIcon(QPainter& p, int w, int h, bool struck)
{
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(w * 0.12, h * 0.3, w * 0.76, h * 0.4);
    QPainterPath eye;
    eye.moveTo(r.left(), r.center().y());
    eye.quadTo(r.center().x(), r.top() - r.height() * 0.6, r.right(), r.center().y());
    eye.quadTo(r.center().x(), r.bottom() + r.height() * 0.6, r.left(), r.center().y());
    p.setPen(QPen(Qt::white, 3));
    p.setBrush(Qt::NoBrush);
    p.drawPath(eye);
    p.setBrush(Qt::white);
    p.drawEllipse(r.center(), h * 0.1, h * 0.1);
    if (struck) {
        p.setPen(QPen(QColor(0xd6, 0x30, 0x30), 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(w * 0.2, h * 0.8), QPointF(w * 0.8, h * 0.2));
    }
}

void chevron(QPainter& p, int w, int h, bool pointLeft)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xe8, 0xec, 0xf0), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const qreal x0 = w * 0.3, x1 = w * 0.7;
    if (pointLeft)
        p.drawPolyline(QPolygonF({QPointF(x1, h * 0.2), QPointF(x0, h * 0.5), QPointF(x1, h * 0.8)}));
    else
        p.drawPolyline(QPolygonF({QPointF(x0, h * 0.2), QPointF(x1, h * 0.5), QPointF(x0, h * 0.8)}));
}

void tick(QPainter& p, int w, int h, const QColor& c, qreal width)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(w * 0.2, h * 0.52), QPointF(w * 0.42, h * 0.74), QPointF(w * 0.8, h * 0.28)}));
}

void checkBox(QPainter& p, int w, int h, bool checked)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(checked ? QColor(0x00, 0xbc, 0xd4) : QColor(0, 0, 0, 60));
    p.drawRoundedRect(QRectF(2, 2, w - 4, h - 4), 4, 4);
    if (checked)
        tick(p, w, h, Qt::white, 4);
}

void arrow(QPainter& p, int w, int h, bool pointRight)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x22, 0x22, 0x22), 1.5));
    p.setBrush(QColor(0xe8, 0xec, 0xf0));
    const qreal m = w * 0.28;
    if (pointRight)
        p.drawPolygon(QPolygonF({QPointF(m, m), QPointF(w - m, h / 2.0), QPointF(m, h - m)}));
    else
        p.drawPolygon(QPolygonF({QPointF(w - m, m), QPointF(m, h / 2.0), QPointF(w - m, h - m)}));
}

// The side bar's logo: a camera eye looking into an open mould (two mould
// halves around a lens), with three bars in place of a name, on a clear face.
void logo(QPainter& p, int w, int h)
{
    p.setRenderHint(QPainter::Antialiasing);
    const qreal cy = h / 2.0;
    const qreal s = h - 16; // the mark's square
    const QRectF mark(8, 8, s, s);
    // mould halves
    p.setPen(Qt::NoPen);
    QLinearGradient steel(0, mark.top(), 0, mark.bottom());
    steel.setColorAt(0, QColor(0xd0, 0xd6, 0xdc));
    steel.setColorAt(1, QColor(0x6a, 0x74, 0x7e));
    p.setBrush(steel);
    p.drawRoundedRect(QRectF(mark.left(), mark.top(), s * 0.22, s), 4, 4);
    p.drawRoundedRect(QRectF(mark.right() - s * 0.22, mark.top(), s * 0.22, s), 4, 4);
    // lens
    const QPointF c(mark.center());
    const qreal r = s * 0.26;
    p.setBrush(kWell);
    p.setPen(QPen(kAmber, 4));
    p.drawEllipse(c, r, r);
    QRadialGradient glass(c - QPointF(r / 3, r / 3), r);
    glass.setColorAt(0, QColor(0x9f, 0xd8, 0xff));
    glass.setColorAt(1, QColor(0x12, 0x3a, 0x5c));
    p.setPen(Qt::NoPen);
    p.setBrush(glass);
    p.drawEllipse(c, r * 0.55, r * 0.55);
    // name bars
    const qreal x0 = mark.right() + 16;
    const qreal bw = w - x0 - 10;
    p.setBrush(QColor(0xe8, 0xec, 0xf0));
    p.drawRoundedRect(QRectF(x0, cy - 26, bw, 14), 7, 7);
    p.setBrush(kAmber);
    p.drawRoundedRect(QRectF(x0, cy - 6, bw * 0.72, 12), 6, 6);
    p.setBrush(QColor(0x8c, 0x96, 0xa0));
    p.drawRoundedRect(QRectF(x0, cy + 14, bw * 0.5, 10), 5, 5);
}

struct Picture {
    const char* file;
    int w, h;
    std::function<void(QPainter&, int, int)> draw;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkimages <output folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const Picture pictures[] = {
        {"background.png", 480, 270, background},
        {"title.png", 640, 60, title},
        {"line.png", 640, 6, line},
        {"edit.png", 100, 54, edit},
        {"sliderd.png", 320, 48, sliderTrack},
        {"slideru.png", 320, 32, sliderFill},
        {"slidert.png", 14, 48, sliderThumb},
        {"OUT0.png", 70, 80, [](QPainter& p, int w, int h) { lamp(p, w, h, false); }},
        {"OUT1.png", 70, 80, [](QPainter& p, int w, int h) { lamp(p, w, h, true); }},
        {"wait.png", 64, 64, spinner},
        {"error.png", 40, 40, errorIcon},
        {"hide.png", 25, 35, [](QPainter& p, int w, int h) { chevron(p, w, h, true); }},
        {"show.png", 25, 35, [](QPainter& p, int w, int h) { chevron(p, w, h, false); }},
        {"check.png", 32, 32, [](QPainter& p, int w, int h) { tick(p, w, h, QColor(0x1b, 0x8a, 0x2e), 4); }},
        {"CheckBox1.png", 32, 32, [](QPainter& p, int w, int h) { checkBox(p, w, h, false); }},
        {"CheckBox2.png", 32, 32, [](QPainter& p, int w, int h) { checkBox(p, w, h, true); }},
        {"left.png", 60, 60, [](QPainter& p, int w, int h) { arrow(p, w, h, false); }},
        {"right.png", 60, 60, [](QPainter& p, int w, int h) { arrow(p, w, h, true); }},
        {"logo2.png", 240, 96, logo},
        {"help.png", 70, 70, helpIcon},
        {"disk.png", 50, 50, diskIcon},
        {"ShowHide.png", 48, 48, [](QPainter& p, int w, int h) { eyeIcon(p, w, h, false); }},
        {"ShowHideChecked.png", 48, 48, [](QPainter& p, int w, int h) { eyeIcon(p, w, h, true); }},
    };
    int failed = 0;
    for (const Picture& pic : pictures) {
        QImage img = canvas(pic.w, pic.h);
        {
            QPainter p(&img);
            pic.draw(p, pic.w, pic.h);
        }
        const QString path = out + "/" + pic.file;
        if (!img.convertToFormat(QImage::Format_ARGB32).save(path, "PNG", 9)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failed;
        }
    }
    return failed ? 1 : 0;
}

#include "widgets/shapedtext.h"

#include <QFontMetrics>
#include <QGlyphRun>
#include <QPaintEngine>
#include <QPainter>
#include <QRect>
#include <QStyle>
#include <QTextDocument>
#include <QTextLine>

#include <algorithm>
#include <cmath>

namespace {

// An opaque background of every level in every channel, different for each
// k, for checking a kept line against the painter.
void fillPattern(QImage& img, int k)
{
    for (int y = 0; y < img.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        unsigned r = y * 101 + k * 85, g = y * 17 + k * 170 + 11, b = y * 71 + k * 43 + 201;
        for (int x = 0; x < img.width(); ++x, r += 37, g += 59, b += 13)
            row[x] = qRgb(int(r & 255), int(g & 255), int(b & 255));
    }
}

} // namespace

ShapedText::Line& ShapedText::line(QPainter& p, const QString& text)
{
    const QFont& font = p.font();
    const int dpi = p.device() ? p.device()->logicalDpiY() : 0;
    const Qt::LayoutDirection direction = p.layoutDirection();
    for (auto it = m_lines.begin(); it != m_lines.end(); ++it) {
        if (it->text == text && it->dpi == dpi && it->direction == direction && it->font == font) {
            std::rotate(it, it + 1, m_lines.end());
            noteUse();
            return m_lines.back();
        }
    }
    if (!m_lines.empty() && m_lines.size() >= m_kept)
        m_lines.erase(m_lines.begin());
    Line l;
    l.text = text;
    l.font = font;
    l.dpi = dpi;
    l.direction = direction;
    l.advance = QFontMetrics(font).horizontalAdvance(text);
    // Laid out as QPainter lays out a line it draws, without wrapping.
    l.layout = std::make_unique<QTextLayout>(text, font);
    QTextOption o;
    o.setTextDirection(direction);
    o.setWrapMode(QTextOption::NoWrap);
    l.layout->setTextOption(o);
    l.layout->setCacheEnabled(true); // keeps the shaping after the layout
    l.layout->beginLayout();
    QTextLine tl = l.layout->createLine();
    if (tl.isValid())
        tl.setLineWidth(0x01000000);
    l.layout->endLayout();
    m_lines.push_back(std::move(l));
    noteUse();
    return m_lines.back();
}

void ShapedText::noteUse()
{
    // The line just used (at the back) is stamped. Images are kept for the
    // lines of the last paints; lines no longer drawn, such as the counters
    // before the last cycle, keep only their shaping.
    m_lines.back().used = ++m_uses;
    for (Line& l : m_lines) {
        if (m_uses - l.used > kImageUses && !l.kept.image.isNull())
            l.kept = Line::Kept();
    }
}

bool ShapedText::drawKept(QPainter& p, Line& l, const QPointF& origin, const QRect* clip)
{
    // A line drawn again and again is drawn once into a transparent image
    // and that image laid on: an opaque solid pen leaves the colour times the
    // coverage on a transparent pixel, and laying that over a pixel adds the
    // pixel times what the coverage leaves, as drawing in place does. That
    // holds for opaque or premultiplied 32-bit pixels under a scale and a
    // move, at full opacity, without a clip of the painter's own (a line's
    // clip to its rectangle is drawn into the image), and where no two
    // letters' edges share a pixel; the image is checked against the painter
    // when it is made, and a line that does not give the painter's pixels is
    // drawn in place.
    QPaintEngine* engine = p.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster)
        return false;
    const QPaintDevice* device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return false;
    const QImage::Format f = static_cast<const QImage*>(device)->format();
    if (f != QImage::Format_RGB32 && f != QImage::Format_ARGB32_Premultiplied)
        return false;
    const QPen& pen = p.pen();
    if (p.hasClipping() || p.opacity() < 1.0 || p.compositionMode() != QPainter::CompositionMode_SourceOver ||
        pen.style() == Qt::NoPen || pen.brush().style() != Qt::SolidPattern || pen.color().alpha() != 255)
        return false;
    const QTransform t = p.deviceTransform();
    if (t.type() > QTransform::TxScale)
        return false;

    // Letters placed left of or above the device's first pixel are drawn
    // from other cached shapes than the same letters inside the image.
    const QPointF at = t.map(origin);
    if (at.x() < 0 || at.y() < 0)
        return false;
    const QPoint pixel(int(std::floor(at.x())), int(std::floor(at.y())));
    const QPointF within = at - QPointF(pixel);
    const QTransform scale(t.m11(), 0, 0, t.m22(), 0, 0);
    const QRgb colour = pen.color().rgba();
    const int hints = int(p.renderHints());
    // A clip to a rectangle on whole device pixels is drawn into the image
    // with the line: letters it cuts are not drawn as the uncut ones.
    QRect clipped;
    if (clip) {
        const QRectF c = t.mapRect(QRectF(*clip));
        if (c.isEmpty() || c.toAlignedRect() != c)
            return false;
        clipped = c.toAlignedRect().translated(-pixel);
    }
    Line::Kept& k = l.kept;
    if (!k.made || k.scale != scale || k.within != within || k.pen != colour || k.hints != hints ||
        k.format != f || k.clip != clipped) {
        // A line that changes each second (the clock) is not drawn often
        // enough to repay making and checking its image.
        if (++k.inPlace < kDrawsBeforeKept)
            return false;
        // The letters' own boxes, with a margin for hinting and the
        // antialiased edge.
        QRectF box;
        for (const QGlyphRun& run : l.layout->glyphRuns())
            box |= run.boundingRect();
        const QRect onDevice = t.mapRect(box.translated(origin)).toAlignedRect().adjusted(-3, -3, 3, 3);
        if (onDevice.isEmpty() || onDevice.width() > 4096 || onDevice.height() > 4096)
            return false;
        const QTransform there = t * QTransform::fromTranslate(-onDevice.left(), -onDevice.top());
        auto drawLine = [&](QImage& on) {
            QPainter q(&on);
            q.setRenderHints(q.renderHints(), false);
            q.setRenderHints(p.renderHints(), true);
            q.setPen(pen);
            q.setFont(p.font());
            q.setTransform(there);
            if (clip)
                q.setClipRect(*clip);
            l.layout->draw(&q, origin);
        };
        k.image = QImage(onDevice.size(), QImage::Format_ARGB32_Premultiplied);
        k.image.fill(Qt::transparent);
        drawLine(k.image);
        k.same = true;
        QImage inPlace(onDevice.size(), f), laidOn(onDevice.size(), f);
        for (int bg = 0; bg < 3 && k.same; ++bg) {
            fillPattern(inPlace, bg);
            fillPattern(laidOn, bg);
            drawLine(inPlace);
            QPainter(&laidOn).drawImage(0, 0, k.image);
            k.same = inPlace == laidOn;
        }
        // A line drawn in place holds no image.
        if (!k.same)
            k.image = QImage();
        k.made = true;
        k.inPlace = 0;
        k.scale = scale;
        k.within = within;
        k.pen = colour;
        k.hints = hints;
        k.format = f;
        k.clip = clipped;
        k.offset = onDevice.topLeft() - pixel;
    }
    if (!k.same)
        return false;
    // Laid on at whole device pixels, the same place within a pixel as it
    // was drawn at.
    p.save();
    p.setWorldTransform(QTransform());
    const QTransform d = p.deviceTransform();
    const bool whole = d.type() <= QTransform::TxTranslate && d.dx() == std::floor(d.dx()) && d.dy() == std::floor(d.dy());
    if (whole && !k.image.isNull())
        p.drawImage(QPointF(pixel + k.offset) - QPointF(d.dx(), d.dy()), k.image);
    p.restore();
    return whole;
}

void ShapedText::draw(QPainter& p, int x, int y, const QString& text)
{
    if (text.isEmpty())
        return;
    Line& l = line(p, text);
    const QTextLine tl = l.layout->lineAt(0);
    if (!tl.isValid())
        return;
    // The layout draws from the line's top: the baseline lands on y.
    const QPointF origin(x, y - tl.ascent());
    if (!drawKept(p, l, origin))
        l.layout->draw(&p, origin);
}

void ShapedText::draw(QPainter& p, const QRect& r, int flags, const QString& text)
{
    if (text.isEmpty())
        return;
    const bool oneLine = !text.contains(QLatin1Char('\n')) && !text.contains(QChar::LineSeparator) &&
                         !text.contains(QLatin1Char('&'));
    if (!oneLine || (flags & (Qt::TextWordWrap | Qt::TextWrapAnywhere | Qt::TextExpandTabs | Qt::TextShowMnemonic |
                              Qt::AlignJustify | Qt::TextJustificationForced))) {
        p.drawText(r, flags, text);
        return;
    }
    Line& l = line(p, text);
    const QTextLine tl = l.layout->lineAt(0);
    if (!tl.isValid())
        return;
    const qreal width = tl.horizontalAdvance(), height = tl.height();
    const Qt::Alignment h = QStyle::visualAlignment(l.direction, Qt::Alignment(flags));
    qreal xoff = 0, yoff = 0;
    if (flags & Qt::AlignBottom)
        yoff = r.height() - height;
    else if (flags & Qt::AlignVCenter)
        yoff = (r.height() - height) / 2;
    if (h & Qt::AlignRight)
        xoff = r.width() - width;
    else if (h & Qt::AlignHCenter)
        xoff = (r.width() - width) / 2;
    const bool clip = !(flags & Qt::TextDontClip) &&
                      (xoff < 0 || yoff < 0 || width > r.width() || height > r.height());
    const QPointF origin(r.x() + xoff, r.y() + yoff);
    if (drawKept(p, l, origin, clip ? &r : nullptr))
        return;
    if (clip) {
        p.save();
        p.setClipRect(r, Qt::IntersectClip);
    }
    l.layout->draw(&p, origin);
    if (clip)
        p.restore();
}

int ShapedText::advance(QPainter& p, const QString& text)
{
    return line(p, text).advance;
}

void ShapedLabel::paintEvent(QPaintEvent* e)
{
    const QString t = text();
    if (!isEnabled() || t.isEmpty() || textFormat() == Qt::RichText || (textFormat() == Qt::AutoText && Qt::mightBeRichText(t)) ||
        wordWrap() || frameWidth() > 0 || margin() != 0 || indent() > 0 || !pixmap(Qt::ReturnByValue).isNull()) {
        QLabel::paintEvent(e);
        return;
    }
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::Active, foregroundRole()));
    m_text.draw(p, contentsRect(), int(QStyle::visualAlignment(layoutDirection(), alignment())), t);
}

#include "widgets/shapedtext.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>
#include <QStyle>
#include <QTextDocument>
#include <QTextLine>

#include <algorithm>

ShapedText::Line& ShapedText::line(QPainter& p, const QString& text)
{
    const QFont& font = p.font();
    const int dpi = p.device() ? p.device()->logicalDpiY() : 0;
    const Qt::LayoutDirection direction = p.layoutDirection();
    for (auto it = m_lines.begin(); it != m_lines.end(); ++it) {
        if (it->text == text && it->dpi == dpi && it->direction == direction && it->font == font) {
            std::rotate(it, it + 1, m_lines.end());
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
    return m_lines.back();
}

void ShapedText::draw(QPainter& p, int x, int y, const QString& text)
{
    if (text.isEmpty())
        return;
    const Line& l = line(p, text);
    const QTextLine tl = l.layout->lineAt(0);
    if (!tl.isValid())
        return;
    // The layout draws from the line's top: the baseline lands on y.
    l.layout->draw(&p, QPointF(x, y - tl.ascent()));
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
    const Line& l = line(p, text);
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
    if (clip) {
        p.save();
        p.setClipRect(r, Qt::IntersectClip);
    }
    l.layout->draw(&p, QPointF(r.x() + xoff, r.y() + yoff));
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

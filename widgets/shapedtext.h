#pragma once
#include <QFont>
#include <QLabel>
#include <QString>
#include <QTextLayout>

#include <memory>
#include <vector>

class QPainter;
class QRect;

// Lines of text painted again and again (status lines, lamp captions, corner
// labels over the live views) shaped once and kept while they are drawn
// again: QPainter::drawText shapes its text on every call, and over views
// repainted with every frame that cost more than the drawing itself. The
// pixels are QPainter::drawText's.
class ShapedText
{
public:
    explicit ShapedText(size_t kept = 8) : m_kept(kept) {}

    // As QPainter::drawText(x, y, text): the baseline at (x, y).
    void draw(QPainter& p, int x, int y, const QString& text);
    // As QPainter::drawText(r, flags, text); a text of more than one line,
    // or flags that wrap or elide, go to QPainter as they are.
    void draw(QPainter& p, const QRect& r, int flags, const QString& text);
    // QFontMetrics(p.font()).horizontalAdvance(text).
    int advance(QPainter& p, const QString& text);

private:
    struct Line {
        QString text;
        QFont font;
        int dpi = 0;
        Qt::LayoutDirection direction = Qt::LeftToRight;
        int advance = 0;
        std::unique_ptr<QTextLayout> layout;
    };
    Line& line(QPainter& p, const QString& text);

    size_t m_kept;
    std::vector<Line> m_lines; // the last used at the back
};

// A QLabel of one line that paints through ShapedText: for the labels that
// sit over the live views and are repainted with every frame.
class ShapedLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    ShapedText m_text{2};
};

#pragma once
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QString>
#include <QTextLayout>
#include <QTransform>

#include <memory>
#include <vector>

class QPainter;
class QRect;

// Lines of text painted again and again (status lines, lamp captions, corner
// labels over the live views) shaped once and kept while they are drawn
// again: QPainter::drawText shapes its text on every call, and over views
// repainted with every frame that cost more than the drawing itself. Where
// it gives the same pixels, a kept line is also drawn once into an image
// that is laid on again. The pixels are QPainter::drawText's.
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

    // A line is drawn in place this many times before its image is made.
    static constexpr int kDrawsBeforeKept = 16;

private:
    struct Line {
        QString text;
        QFont font;
        int dpi = 0;
        Qt::LayoutDirection direction = Qt::LeftToRight;
        int advance = 0;
        quint64 used = 0; // the use of this ShapedText that last used it
        std::unique_ptr<QTextLayout> layout;
        // The line drawn into a transparent image (see drawKept), for the
        // scale, place within a device pixel, pen, hints, device format and
        // clip it was drawn for; `same` when laying it on gave the painter's
        // pixels.
        struct Kept {
            QImage image;
            QTransform scale;
            QPointF within;
            QRgb pen = 0;
            int hints = -1;
            QImage::Format format = QImage::Format_Invalid;
            QRect clip; // device pixels, from the origin's; none when null
            QPoint offset; // from the origin's device pixel to the image's
            int inPlace = 0; // draws in place since the line's image was last made
            bool made = false;
            bool same = false;
        } kept;
    };
    Line& line(QPainter& p, const QString& text);
    void noteUse();
    // Lines not used in this many uses drop their images. A paint uses far
    // fewer lines, so a line drawn in every paint keeps its image, and a
    // status that comes back with the next cycle mostly keeps it too.
    static constexpr quint64 kImageUses = 256;
    bool drawKept(QPainter& p, Line& l, const QPointF& origin, const QRect* clip = nullptr);

    size_t m_kept;
    quint64 m_uses = 0; // lines used (drawn or measured)
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

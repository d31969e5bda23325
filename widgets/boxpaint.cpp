#include "widgets/boxpaint.h"
#include "frame/globals.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QTextLayout>
#include <QTextOption>
#include <algorithm>

namespace boxpaint {

QRect boxGeometry()
{
    return QRect(gShowW / 2 - 375, gShowH / 2 - 185, 750, 370);
}

void drawBackground(QPainter& p, const QRect& r)
{
    // The pictures are loaded from ./images at start-up; a missing file must
    // not leave the box transparent or crash the paint.
    if (gpPixmapBG && !gpPixmapBG->isNull())
        p.drawPixmap(r, *gpPixmapBG, gpPixmapBG->rect());
    else
        p.fillRect(r, QColor(0x1f, 0x2a, 0x3a));
}

void drawFrame(QPainter& p, int width, int height)
{
    p.setPen(QPen(Qt::white, 5));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, width - 1, height - 1);
}

void drawPadFace(QPainter& p, const QRect& exposed, int width, int height)
{
    p.fillRect(exposed, QColor(255, 251, 240, 200));
    p.setPen(QPen(QColor("#191532"), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, width - 2, height - 2);
}

QFont houseFont(int pixelSize, const QString& family)
{
    QFont f(family);
    f.setPixelSize(pixelSize);
    return f;
}

void setTextColour(QWidget* w, const QColor& c)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::All, QPalette::WindowText, c);
    w->setPalette(pal);
}

int fittedPixelSize(const QFont& font, const QString& text, int width, int pixelSize, int minPixelSize)
{
    QFont f(font);
    int px = pixelSize;
    for (; px > minPixelSize; --px) {
        f.setPixelSize(px);
        if (QFontMetrics(f).horizontalAdvance(text) <= width)
            break;
    }
    return qMax(px, minPixelSize);
}

namespace {

// One paragraph (no line feed in it) broken to `width` in font f.
QStringList wrapAt(const QString& para, const QFont& f, int width)
{
    QStringList lines;
    QTextLayout layout(para, f);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        // The spaces at a break (and those the texts put around their own
        // breaks, " \r\n ") would push a centred line off the centre.
        lines.append(para.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines;
}

// A last line of one word or one or two glyphs under a full line reads as
// left over.
bool loneLast(const QStringList& lines)
{
    if (lines.size() < 2)
        return false;
    const QString& last = lines.last();
    const auto western = [](QChar c) { return c.unicode() < 0x2E80; }; // before the CJK blocks
    return !last.contains(QLatin1Char(' ')) && (last.size() <= 2 || std::all_of(last.begin(), last.end(), western));
}

void breakParagraph(const QString& para, const QFont& f, int width, QStringList* out)
{
    if (para.trimmed().isEmpty()) {
        *out << QString();
        return;
    }
    QStringList lines = wrapAt(para, f, width);
    // The narrowest width that keeps the number of lines balances them and
    // brings words down to a lone last one.
    if (loneLast(lines)) {
        int lo = 1, hi = width;
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            if (wrapAt(para, f, mid).size() <= lines.size())
                hi = mid;
            else
                lo = mid + 1;
        }
        const QStringList balanced = wrapAt(para, f, hi);
        if (!loneLast(balanced))
            lines = balanced;
    }
    *out << lines;
}

// From the top of the first line to the bottom of the last: the house
// font's line spacing is less than its height (a negative leading).
int blockHeight(const BoxLines& text)
{
    const QFontMetrics fm(text.font);
    return text.lines.isEmpty() ? 0 : (text.lines.size() - 1) * fm.lineSpacing() + fm.height();
}

} // namespace

BoxLines fitLines(const QFont& font, const QString& text, const QSize& area, int minPixelSize)
{
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList paragraphs = plain.split(QLatin1Char('\n'));
    BoxLines fitted;
    fitted.font = font;
    int px = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    for (;; --px) {
        fitted.font.setPixelSize(px);
        fitted.lines.clear();
        for (const QString& para : paragraphs)
            breakParagraph(para, fitted.font, area.width(), &fitted.lines);
        if (px <= minPixelSize || blockHeight(fitted) <= area.height())
            return fitted;
    }
}

void drawLines(QPainter& p, const QRect& area, const BoxLines& text, Qt::Alignment align)
{
    p.setFont(text.font);
    const QFontMetrics fm(text.font);
    const int height = blockHeight(text);
    int y = area.top() + (area.height() - height) / 2;
    if (align & Qt::AlignTop)
        y = area.top();
    else if (align & Qt::AlignBottom)
        y = area.bottom() + 1 - height;
    for (const QString& line : text.lines) {
        p.drawText(QRect(area.left(), y, area.width(), fm.height()), Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip,
                   line);
        y += fm.lineSpacing();
    }
}

QLabel* addUnitLabel(QLineEdit* field, const QString& unit)
{
    if (!field || unit.isEmpty())
        return nullptr;
    auto* label = new QLabel(unit, field);
    label->setFixedSize(unit.length() * 27 + 10, 50);
    label->setFont(houseFont(27));
    label->setAlignment(Qt::AlignCenter);
    field->setTextMargins(0, 0, label->width(), 0);
    auto* lay = new QHBoxLayout(field);
    lay->setSpacing(0);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addStretch();
    lay->addWidget(label);
    return label;
}

QString msg(int m)
{
    const int i = 4 * m + gLan;
    if (m < 0 || gLan < 0 || gLan > 3 || i >= kLanStrCount)
        return QString();
    return gaLanStr[i];
}

void AskingWindow::boxShown(QWidget* box)
{
    box->raise(); // over any page of the main window it was asked from
    QWidget* active = QApplication::activeWindow();
    if (active && active != box->window())
        m_asker = active;
    else if (QWidget* parent = box->parentWidget())
        m_asker = parent->window();
}

void AskingWindow::boxHidden()
{
    if (m_asker && m_asker->isVisible())
        m_asker->activateWindow();
    m_asker = nullptr;
}

} // namespace boxpaint

#include "widgets/colorbutton.h"
#include "frame/globals.h"
#include "widgets/boxpaint.h"

#include <QFontMetrics>

int ColorButton::fontSizeFor(int style)
{
    // Simplified Chinese glyphs need a bigger size to read as well as Latin text.
    switch (style) {
    case 3:
        return gLan == 0 ? 27 : 22;
    case 4:
        return gLan == 0 ? 33 : 30;
    default:
        return 25;
    }
}

ColorButton::ColorButton(const QString& caption, QWidget* parent, int style)
    : QPushButton(caption, parent)
    , m_style(style)
    , m_basePx(fontSizeFor(style))
{
    // The sheet sets the size; the family is the house one, as in the boxes.
    setFont(boxpaint::houseFont(m_basePx));
    applySheet(m_basePx);
    // No styled background of the widget's own: the button's panel already
    // draws the sheet's face (to the same pixels), and the help button over
    // the live views is repainted with every frame.
}

void ColorButton::applySheet(int px)
{
    m_fontPx = px;
    setStyleSheet(QStringLiteral(
        "QPushButton{outline:0px;border:none;font-size:%1px;color:white;background-color:#322f2f;border-radius: 8px;}"
        "QPushButton:checked{color:#ffffff;background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ed9d11, stop:1 #ff9900);}"
        "QPushButton:pressed{color:#ffffff;background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ed9d11, stop:1 #ff9900);}"
        "QPushButton:disabled {  background-color: gray;   color: white; }")
                      .arg(px));
}

void ColorButton::setCaption(const QString& caption)
{
    setText(caption);
    m_basePx = fontSizeFor(m_style);
    setFont(boxpaint::houseFont(m_basePx));
    applySheet(m_basePx);
}

void ColorButton::fitCaption()
{
    // A few pixels each side so the letters do not touch the rounded edge.
    const int px = boxpaint::fittedPixelSize(font(), text(), width() - 8, m_basePx);
    if (px != m_fontPx)
        applySheet(px);
}

void ColorButton::fitCaptionOnLines()
{
    // Below this a caption is no longer read at a glance from the machine.
    constexpr int kGlancePx = 18;
    const auto fit = [this](const QStringList& lines) {
        int px = m_basePx;
        for (const QString& line : lines)
            px = qMin(px, boxpaint::fittedPixelSize(font(), line, width() - 8, m_basePx));
        QFont f = font();
        for (f.setPixelSize(px); px > 12 && lines.size() * QFontMetrics(f).height() > height() - 4;)
            f.setPixelSize(--px);
        return px;
    };
    QStringList lines = text().split(QLatin1Char('\n'));
    int px = fit(lines);
    if (lines.size() == 1 && px < kGlancePx) {
        const QString one = lines.first();
        int space = -1;
        for (int i = 0; i < one.size(); ++i)
            if (one.at(i) == QLatin1Char(' ') && (space < 0 || qAbs(2 * i - one.size()) < qAbs(2 * space - one.size())))
                space = i;
        const QStringList two{one.left(space), one.mid(space + 1)};
        if (const int px2 = space > 0 ? fit(two) : 0; px2 > px) {
            setText(two.join(QLatin1Char('\n')));
            px = px2;
        }
    }
    if (px != m_fontPx)
        applySheet(px);
}

void ColorButton::SetRepeat()
{
    setAutoRepeat(true);
    setAutoRepeatDelay(300);
    setAutoRepeatInterval(50);
}

#pragma once
#include <QPixmap>
#include <QPushButton>

// The push button of every screen: white text in the house font on a dark
// rounded face, an orange gradient while pressed or checked, grey when
// disabled. The style number picks the text size (3 is the common one).
class ColorButton : public QPushButton
{
public:
    ColorButton(const QString& caption, QWidget* parent, int style);

    // Step buttons repeat while held: first repeat after 300 ms, then every 50 ms.
    void SetRepeat();

    // Kept for callers that attach a picture; the button does not draw it.
    void setPixmap(const QPixmap& pixmap) { m_pixmap = pixmap; }
    QPixmap pixmap() const { return m_pixmap; }

    int style() const { return m_style; }

    // A new caption at the text size of the style in the language in force:
    // a button made before the language was known takes it here.
    void setCaption(const QString& caption);

    // Text size in pixels for a style in the current language.
    static int fontSizeFor(int style);

    // Makes the caption fit the button's width: the style's text size when
    // it fits, else the largest smaller size that does (at least 12 px).
    // Callers that give a small button a caption of the message table (the
    // pads' function keys) call it after each change of caption or size.
    void fitCaption();
    // As fitCaption, for a caption of one or more lines in a button tall
    // enough for them: each line fits the width and all fit the height. A
    // one-line caption of several words that would shrink below a size read
    // at a glance goes on two lines, broken at the space nearest its middle,
    // when it reads larger so.
    void fitCaptionOnLines();
    int fontPixelSize() const { return m_fontPx; }

private:
    void applySheet(int px);

    int m_style;
    int m_basePx;
    int m_fontPx = 0;
    QPixmap m_pixmap;
};

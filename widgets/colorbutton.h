#pragma once
#include <QPixmap>
#include <QPushButton>

// The push button of every screen: white text on a dark rounded face, an
// orange gradient while pressed or checked, grey when disabled. The style
// number picks the text size (3 is the common one).
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

    // Text size in pixels for a style in the current language.
    static int fontSizeFor(int style);

private:
    int m_style;
    QPixmap m_pixmap;
};

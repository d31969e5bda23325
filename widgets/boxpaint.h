#pragma once
#include <QFont>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include <Qt>

class QColor;
class QLabel;
class QLineEdit;
class QPainter;
class QWidget;

// The house look shared by every box, pad and editor of the toolkit: the
// background picture stretched over a box (a plain dark face when the picture
// is missing), the white 5-pixel frame, the pads' light face, the house font
// at a pixel size, and the unit label inside a value field.
namespace boxpaint {

// The 750 x 370 message and login boxes, centred on the screen (gShowW x gShowH).
QRect boxGeometry();

void drawBackground(QPainter& p, const QRect& r);
void drawFrame(QPainter& p, int width, int height);
// The on-screen pads: a light, slightly translucent face with a thin dark rim.
void drawPadFace(QPainter& p, const QRect& exposed, int width, int height);

QFont houseFont(int pixelSize, const QString& family = QStringLiteral("wqy-microhei"));

// Text colour of a caption or label, in every palette group.
void setTextColour(QWidget* w, const QColor& c);

// The largest pixel size from `pixelSize` down to `minPixelSize` at which
// `text` (one line) fits into `width` pixels in the family of `font`; the
// minimum when even that does not fit. Captions are fixed texts of four
// languages in fixed places, and a shrunken caption reads better than a cut one.
int fittedPixelSize(const QFont& font, const QString& text, int width, int pixelSize, int minPixelSize = 12);

// A message as a box draws it: the lines it is broken into and the font
// they are drawn in.
struct BoxLines {
    QFont font;
    QStringList lines;
};

// Breaks `text` into lines no wider than `area`: at its own line breaks, then
// between words, between the characters of scripts written without spaces
// (as the Unicode line-breaking rules allow: no line starts with a closing
// comma or full stop), and inside a word that alone is wider than a line. When the lines
// are more than `area` holds at the size of `font`, a smaller size is taken,
// down to `minPixelSize`. The message texts come in four languages and
// carry figures and file names: no line may run out of its box.
BoxLines fitLines(const QFont& font, const QString& text, const QSize& area, int minPixelSize = 20);

// Draws the lines centred one under the other in `area`, the block placed by
// the vertical part of `align` (top, centre or bottom). Nothing is clipped.
void drawLines(QPainter& p, const QRect& area, const BoxLines& text, Qt::Alignment align);

// A unit (e.g. "ms") shown inside the right end of a value field, in the
// house font at 27 px, (length x 27 + 10) x 50 pixels; the field's text keeps
// clear of it. Returns the label, or null for an empty unit.
QLabel* addUnitLabel(QLineEdit* field, const QString& unit);

// Text of message m in the current language; empty when m is out of the table.
QString msg(int m);

// A shared box is a window of its own over the window that asked for it.
// Shown, it goes on top of that window, also of one raised after the box was
// made; closed, it hands that window back the activation it took, so its
// fields take the next touch as they did before the box.
class AskingWindow
{
public:
    void boxShown(QWidget* box);
    void boxHidden();

private:
    QPointer<QWidget> m_asker;
};

} // namespace boxpaint

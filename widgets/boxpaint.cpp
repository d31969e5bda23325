#include "widgets/boxpaint.h"
#include "frame/globals.h"

#include <QPainter>
#include <QPen>
#include <QPixmap>

namespace boxpaint {

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

QFont houseFont(int pixelSize, const QString& family)
{
    QFont f(family);
    f.setPixelSize(pixelSize);
    return f;
}

QString msg(int m)
{
    const int i = 4 * m + gLan;
    if (m < 0 || gLan < 0 || gLan > 3 || i >= kLanStrCount)
        return QString();
    return gaLanStr[i];
}

} // namespace boxpaint

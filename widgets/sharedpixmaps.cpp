#include "widgets/sharedpixmaps.h"
#include "frame/globals.h"

#include <QPixmap>

const char* const SharedPixmaps::kBackground = "background.png";
const char* const SharedPixmaps::kTitle = "title.png";
const char* const SharedPixmaps::kLine = "line.png";
const char* const SharedPixmaps::kEdit = "edit.png";
const char* const SharedPixmaps::kSliderUp = "slideru.png";
const char* const SharedPixmaps::kSliderDown = "sliderd.png";
const char* const SharedPixmaps::kSliderThumb = "slidert.png";
const char* const SharedPixmaps::kOutOn = "OUT1.png";
const char* const SharedPixmaps::kOutOff = "OUT0.png";

namespace {

void loadInto(QPixmap*& target, const QString& path)
{
    if (target)
        *target = QPixmap(path);
    else
        target = new QPixmap(path);
}

} // namespace

void SharedPixmaps::load(const QString& dir)
{
    QString d = dir;
    if (!d.isEmpty() && !d.endsWith('/'))
        d += '/';
    loadInto(gpPixmapBG, d + kBackground);
    loadInto(gpPixmapTitle, d + kTitle);
    loadInto(gpPixmapLine, d + kLine);
    loadInto(gpPixmapEdit, d + kEdit);
    loadInto(gpPixmapSlideru, d + kSliderUp);
    loadInto(gpPixmapSliderd, d + kSliderDown);
    loadInto(gpPixmapSlidert, d + kSliderThumb);
    // The status strip indexes the lamps by the line's bit: element 0 must be
    // the dark lamp "OUT0.png" and element 1 the lit "OUT1.png", or every idle
    // output would show as switched on.
    loadInto(gpPixmapOUT[0], d + kOutOff);
    loadInto(gpPixmapOUT[1], d + kOutOn);
}

int SharedPixmaps::missingCount()
{
    const QPixmap* all[] = {gpPixmapBG, gpPixmapTitle, gpPixmapLine, gpPixmapEdit, gpPixmapSlideru,
                            gpPixmapSliderd, gpPixmapSlidert, gpPixmapOUT[0], gpPixmapOUT[1]};
    int n = 0;
    for (const QPixmap* p : all)
        n += (!p || p->isNull()) ? 1 : 0;
    return n;
}

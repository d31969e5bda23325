#pragma once
#include <QFont>
#include <QRect>
#include <QString>

class QPainter;

// Drawing shared by the house boxes: the background picture stretched over the
// box (a plain dark face when the picture is missing), the white 5-pixel frame,
// and the house font at a pixel size.
namespace boxpaint {

void drawBackground(QPainter& p, const QRect& r);
void drawFrame(QPainter& p, int width, int height);
QFont houseFont(int pixelSize, const QString& family = QStringLiteral("wqy-microhei"));

// Text of message m in the current language; empty when m is out of the table.
QString msg(int m);

} // namespace boxpaint

#pragma once
#include <QString>

// The pictures every screen shares (background, title bar, separator, slider
// parts, output lamps), loaded once at start-up into the gpPixmap* globals.
// A missing file leaves a null pixmap; the screens still work.
class SharedPixmaps
{
public:
    // dir ends with "/". Loading again replaces the pictures in place, so
    // pointers already handed out stay valid.
    static void load(const QString& dir = QStringLiteral("./images/"));

    // How many of the shared pictures are null (0 when all loaded).
    static int missingCount();

    // File names, in the order of the globals.
    static const char* const kBackground;
    static const char* const kTitle;
    static const char* const kLine;
    static const char* const kEdit;
    static const char* const kSliderUp;
    static const char* const kSliderDown;
    static const char* const kSliderThumb;
    static const char* const kOutOn;  // gpPixmapOUT[1]: "OUT1.png", a lit lamp
    static const char* const kOutOff; // gpPixmapOUT[0]: "OUT0.png", a dark lamp
};

#pragma once
#include <QtGlobal>

// The largest image the station decodes or accepts as a camera frame: at
// most 16384 pixels a side and 32 million pixels (128 MB as 32-bit pixels);
// the largest camera in use has 5 million. Header only: the camera plug-ins
// state the same bound.
constexpr int kMaxImageSide = 16384;
constexpr qint64 kMaxImagePixels = 32LL * 1024 * 1024;

constexpr bool frameSizeAllowed(qint64 width, qint64 height)
{
    return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide
        && width * height <= kMaxImagePixels;
}

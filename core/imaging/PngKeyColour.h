// The one colour a PNG without an alpha channel may declare transparent (its
// tRNS chunk), for the layouts whose key Pictavo applies itself.
#pragma once

#include <QtGlobal>

class QImage;

// 16-bit samples as the file stores them.
struct PngKeyColour
{
    quint16 red = 0;
    quint16 green = 0;
    quint16 blue = 0;
};

// `picture` (16-bit RGB as Qt's PNG reader delivers it, Format_RGBX64) as
// Format_RGBA64 with every pixel whose three samples equal `key` exactly made
// transparent, the rest opaque; in place. False when a picture in another
// format could not be converted (no memory).
bool makeKeyColourTransparent(QImage& picture, const PngKeyColour& key);

#include "imaging/PngKeyColour.h"

#include <QImage>
#include <QRgba64>

bool makeKeyColourTransparent(QImage& picture, const PngKeyColour& key)
{
    // libpng fills the fourth sample of RGBX64 with 0xFFFF: the same bytes read
    // as RGBA64 are opaque, and no copy is made.
    if (picture.format() == QImage::Format_RGBX64)
        picture.reinterpretAsFormat(QImage::Format_RGBA64);
    else if (picture.format() != QImage::Format_RGBA64)
        picture.convertTo(QImage::Format_RGBA64);
    if (picture.isNull() || picture.format() != QImage::Format_RGBA64)
        return false;
    for (int y = 0; y < picture.height(); ++y) {
        auto* pixel = reinterpret_cast<QRgba64*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x, ++pixel)
            if (pixel->red() == key.red && pixel->green() == key.green && pixel->blue() == key.blue)
                pixel->setAlpha(0);
    }
    return true;
}

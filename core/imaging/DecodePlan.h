// How a picture is decoded when only `minimumSize` of it is needed, and the
// memory that takes, decided from its header alone. The decoder follows the plan;
// the parallel conversions reserve its memory before they start a picture.
#pragma once

#include "imaging/PictureHeader.h"

#include <QSize>

struct DecodePlan
{
    enum class Method
    {
        // Decoded at full size.
        Whole,
        // libjpeg decodes at 1/2, 1/4 or 1/8 (in the frequency domain).
        JpegScaled,
        // Qt's PNG reader averages the rows down while it reads them.
        PngScaled,
        // Decoded at full size in the reader's own format (one byte a pixel for
        // palette and grey pictures) and averaged down strip by strip, never
        // converted whole.
        Reduced,
        // libwebp scales the rows to readSize as they are decoded.
        WebpScaled,
        // libtiff reads strip by strip; each is converted and averaged down by
        // `factor` before the next is read (see TiffStripDecoder.h).
        TiffStrips,
        // A GIF's first frame decoded into its palette indices, one byte a
        // pixel, and averaged down (see GifReduction.h).
        GifReduced,
    };

    Method method = Method::Whole;
    // The size the decoder delivers for the scaled methods, as stored: for
    // JPEG libjpeg's output size at 1/factor, every side rounded up.
    QSize readSize;
    // The side of the blocks Reduced averages into one pixel; for JpegScaled
    // the denominator of libjpeg's scale (2, 4 or 8).
    int factor = 1;
    // The most memory the decode holds at once, besides the file's own bytes.
    qint64 memoryBytes = 0;
};

// The plan for `header` when the upright result must cover `minimumSize` (an
// invalid size asks for the whole picture). Nothing is reduced below
// minimumSize; reductions are whole factors, so averaged blocks are whole.
DecodePlan planDecode(const PictureHeader& header, QSize minimumSize);

// Bytes a pixel of `format` takes; 8 (the widest common format) when unknown.
int bytesPerPixel(QImage::Format format);

// TIFF pictures read through libtiff a strip at a time and averaged down
// while they are read: the whole picture is never held, only the compressed
// strip libtiff reads, the strip decoded, a band of rows and the reduced picture.
// A 16-bit source is brought into sRGB band by band at 16 bits before it is cut
// to 8, so a wide-gamut gradient keeps its fine steps.
//
// Reads the layouts TiffDirectory::readsInStrips() names; libtiff's handlers stay
// as TiffWarnings set them. Safe to call from several threads at once.
#pragma once

#include "imaging/FileFailure.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <optional>

class QIODevice;

struct TiffStripPicture
{
    // Reduced, upright (the Orientation tag applied), Format_RGB32 or, where
    // the picture has alpha, Format_ARGB32_Premultiplied; null when `problem`
    // says why.
    QImage picture;
    FileProblem problem = FileProblem::None;
    // The colours are sRGB already (a 16-bit source converted before the cut).
    bool inSrgb = false;
};

// The memory a decode of a picture of `stored` size at `factor` holds besides
// libtiff's strips (see TiffDirectory::readerBufferBytes) and the reduced
// picture: the band of rows and the sums.
qint64 tiffStripWorkBytes(QSize stored, int factor);

// The first picture of the TIFF on `device` (read from wherever libtiff asks;
// the position is restored), averaged down by `factor` and converted from
// `iccProfile` at 16 bits where it has 16. Nothing when libtiff finds a layout
// this decoder does not read (the caller's fallback reads it). Looks at the
// stop (see DecodeCancel.h) before every band.
std::optional<TiffStripPicture> decodeTiffStrips(QIODevice* device, int factor,
                                                 const QByteArray& iccProfile);

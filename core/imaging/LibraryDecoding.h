// The formats Pictavo decodes through their libraries itself rather than Qt's
// readers, reduced while they are decoded: WebP (see WebpDecoder.h) and the
// common TIFF layouts (see TiffStripDecoder.h).
#pragma once

#include "imaging/DecodePlan.h"
#include "imaging/PictureDecoder.h"

#include <QByteArray>

#include <optional>

class QIODevice;

// The picture decoded as `plan` says, upright and in sRGB, when the plan names
// one of these decoders; nothing when the picture is left to Qt's reader.
// `tiffDevice` reads the TIFF as libtiff is to see it (see TiffDirectory.h);
// `orientation` is the EXIF orientation left to Pictavo (see ExifOrientation.h).
std::optional<DecodedPicture> decodeThroughLibrary(const QByteArray& bytes, QIODevice* tiffDevice,
                                                   const DecodePlan& plan,
                                                   const QByteArray& iccProfile, int orientation);

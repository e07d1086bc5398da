// CMYK JPEGs that carry a CMYK colour profile, decoded by libjpeg into their
// inks and brought into sRGB through that profile. The CMYK JPEGs without one
// are turned into RGB by a formula that knows no profile (see JpegDecoder.h).
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// `jpeg` decoded by libjpeg at 1/`reduction` (1, 2, 4 or 8; the size
// DecodePlan computes), converted through `cmykProfile` into Format_RGB32 in
// sRGB; as stored, not turned. Null when the file is no CMYK JPEG, when the
// profile cannot convert it, and at any error or warning of libjpeg: the
// general JPEG decoder then decodes the file and judges what is wrong with it.
QImage decodeCmykJpeg(const QByteArray& jpeg, int reduction, const QByteArray& cmykProfile);

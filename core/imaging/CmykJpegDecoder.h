// CMYK JPEGs that carry a CMYK colour profile, decoded by libjpeg into their
// inks and brought into sRGB through that profile. Qt's reader turns CMYK into
// RGB by a formula that knows no profile; it still reads the CMYK JPEGs
// without one.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// `jpeg` decoded at libjpeg's smallest scale that covers `readSize` (the whole
// picture when that is invalid), scaled to `readSize` exactly, converted
// through `cmykProfile` into Format_RGB32 in sRGB; as stored, not turned. Null
// when the file is no CMYK JPEG, when the profile cannot convert it, and at
// any error or warning of libjpeg: Qt's reader then decodes the file and
// judges what is wrong with it.
QImage decodeCmykJpeg(const QByteArray& jpeg, QSize readSize, const QByteArray& cmykProfile);

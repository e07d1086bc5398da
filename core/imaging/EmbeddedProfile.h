// The ICC colour profile a picture file carries, read from the file's own
// structure, so that profiles Qt's colour space cannot parse (lookup tables,
// grey, broken ones) reach Little CMS as they are.
#pragma once

#include <QByteArray>

// The profile in `bytes`, a picture of Qt's format `format`: a JPEG's APP2
// ICC_PROFILE segments joined in their sequence numbers' order, a PNG's
// decompressed iCCP chunk, a WebP's ICCP chunk, the ICC tag of a TIFF's first
// page. Empty when there is none, or when its pieces are incomplete or
// inconsistent.
QByteArray embeddedIccProfile(const QByteArray& format, const QByteArray& bytes);

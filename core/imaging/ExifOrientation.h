// The EXIF orientation of PNG and WebP pictures. Qt's readers turn a JPEG, a
// TIFF and libheif a HEIF picture as its EXIF block says, but Qt's PNG and WebP
// readers ignore the block a PNG keeps in its eXIf chunk and a WebP in its EXIF
// chunk; Pictavo reads the orientation from there and turns the picture itself.
#pragma once

#include <QByteArray>
#include <QImage>

class QIODevice;

// The orientation (1 to 8, as in EXIF) of the first eXIf chunk of the PNG or
// the EXIF chunk of the extended WebP on `device`; 1 for any other file, and
// when the block holds none or one that cannot be read. The device's position
// is restored.
int containerExifOrientation(QIODevice* device);

// The orientation tag of an EXIF block (TIFF header first, or "Exif\0\0" in
// front of it) in its first directory; 1 when there is none.
int exifBlockOrientation(const QByteArray& block);

// `picture` as shown for `orientation`: turned and mirrored upright.
QImage orientedPicture(QImage picture, int orientation);

// Turns a block of bytes into a picture, refusing anything a decoder would have to
// guess at.
#pragma once

#include <QByteArray>
#include <QImage>

// Pictures with more pixels than this are refused before any pixel memory is
// taken: 128 megapixels leaves room for every camera photo up to 100 megapixels.
inline constexpr qint64 kMaxDecodedPixels = qint64(1) << 27;

// Decodes the first picture in `bytes` (JPEG, GIF, BMP, PNG and whatever else the
// installed Qt image plug-ins read, decided by content, not by name). The result is
// upright (a JPEG's EXIF orientation is applied) and is Format_RGB32, or
// Format_ARGB32_Premultiplied where the picture has transparent parts.
//
// Returns a null image when the bytes hold no picture, when the picture is larger
// than kMaxDecodedPixels, or when its data is incomplete or corrupt (a truncated or
// damaged JPEG, GIF or BMP, which Qt would otherwise fill with grey).
// Safe to call from several threads at once.
QImage decodePicture(const QByteArray& bytes);

// Like decodePicture, but a JPEG far larger than `minimumSize` is decoded at 1/2,
// 1/4 or 1/8 of its size (by libjpeg, which reduces in the frequency domain and
// so does not alias), the smallest of these that still covers minimumSize in
// both directions. Other formats, and an invalid minimumSize, decode in full.
QImage decodePicture(const QByteArray& bytes, QSize minimumSize);

// The size of the picture in `bytes`, upright, read from its header without
// decoding the pixels; invalid when the header does not tell.
QSize pictureSize(const QByteArray& bytes);

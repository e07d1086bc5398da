// WebP pictures through libwebp, scaled while they are decoded: libwebp's
// rescaler takes the rows as they leave the decoder, so a 24-megapixel photo
// needs no more than its compressed bytes, a few rows and the scaled picture
// (a lossless one holds its whole ARGB picture for back-references anyway).
//
// Safe to call from several threads at once: every call has a decoder of its own.
#pragma once

#include "imaging/PictureDecoder.h"

#include <QByteArray>
#include <QSize>

// Bytes a pixel of the whole picture that libwebp holds while it decodes the
// first frame of the WebP starting with `prefix`: 4 for a lossless picture (and
// for an animation, whose frames are not known from its start), 1 for the alpha
// plane of a lossy one, 0 for a plain lossy one.
double webpWholePictureBytesPerPixel(const QByteArray& prefix);

// The first frame of the WebP in `bytes`, scaled to `size` (as stored; an
// invalid size decodes in full), Format_RGB32 or, where the picture has alpha,
// Format_ARGB32_Premultiplied. Its colours and orientation are left as stored.
// Decoded in pieces, so a stop (see DecodeCancel.h) ends it before the next.
DecodedPicture decodeWebp(const QByteArray& bytes, QSize size);

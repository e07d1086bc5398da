// Decoding the first frame of a GIF averaged down by a whole factor without the
// 32-bit canvas Qt's reader paints: one byte a pixel for the frame's palette
// indices, plus the reduced picture.
#pragma once

#include <QByteArray>
#include <QImage>

// The picture reducePicture(<Qt's decode of `gif`>, factor) gives, pixel for
// pixel: the logical screen with the first frame on it, painted the way Qt's GIF
// reader paints a first frame (transparent index, background colour, colours
// beyond the palette), averaged in blocks of `factor` x `factor`.
// Format_ARGB32_Premultiplied when the frame has a transparent index, else
// Format_RGB32. `gif` must have passed gifIsComplete(); null otherwise, when
// `factor` < 1 or the memory cannot be had, and when the calling thread's decodes
// are stopped meanwhile (see DecodeCancel.h).
QImage decodeGifReduced(const QByteArray& gif, int factor);

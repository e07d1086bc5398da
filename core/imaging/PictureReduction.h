// Averaging a decoded picture down by a whole factor without ever converting
// it whole: the way a picture of one byte a pixel stays near one byte a pixel.
#pragma once

#include <QImage>

// `source` (any format) with every block of `factor` x `factor` pixels averaged
// into one; the blocks of the last column and row may be narrower, and average
// what they hold. The result is Format_RGB32, or Format_ARGB32_Premultiplied
// (averaged premultiplied, so transparent pixels lend no colour) where the source
// has an alpha channel. Only `factor` rows of the source are converted at a time.
// Null when `factor` < 1 or the memory cannot be had.
QImage reducePicture(const QImage& source, int factor);

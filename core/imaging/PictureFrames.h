// How many pictures a file holds: the frames of an animated GIF or WebP, the
// pages of a TIFF. Pictavo converts the first and tells the user the count.
// Counted from the file's structure alone, without decoding any frame and
// without handing the file to a library (libtiff would load every entry of
// every directory it walks).
#pragma once

#include <QByteArray>

// The frames or pages in `bytes`: at least 1, also for every other format and
// for a file whose structure ends early (then the frames seen so far, at least 1).
// TIFF directories marked as reduced copies of another (thumbnails) are not counted.
int pictureFrameCount(const QByteArray& bytes);

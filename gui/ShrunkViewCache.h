// A picture of the window's view shrunk to the size it is shown at, kept for
// the repaints that follow.
#pragma once

#include <QImage>
#include <QSize>

// Shrinks with the conversion's own resampler rather than the painter's
// bilinear filter, which lets fine detail through as moiré. Resamples only when
// the picture or the size it is shown at changes, so a repaint while scrolling
// or uncovering the window only copies pixels. GUI thread.
class ShrunkViewCache
{
public:
    // `picture` to be drawn at `size`: its shrunken copy when `size` is smaller
    // in either direction, else (or when memory runs out) the picture itself.
    const QImage& shown(const QImage& picture, QSize size);

private:
    qint64 m_pictureKey = 0;
    QSize m_size;
    QImage m_shrunk;
};

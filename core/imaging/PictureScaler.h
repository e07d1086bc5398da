// Stretching a decoded picture to an exact size and drawing it into a 24-bit picture.
#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>

// Returns `picture` stretched to exactly `size` by the Lanczos-3 resampler, in
// Format_RGB32, or Format_ARGB32_Premultiplied when it has alpha (those two are
// resampled without a copy). Null when out of memory.
QImage scalePicture(const QImage& picture, QSize size);

// Draws `picture` (Format_RGB32 or Format_ARGB32_Premultiplied) with its top-left
// corner at `position` into `target` (Format_BGR888), clipped to the target.
// Transparent parts let the target's pixels show through.
void drawPicture(QImage& target, const QImage& picture, QPoint position);

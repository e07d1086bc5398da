// Resampling a picture to an exact size with a Lanczos-3 filter.
#pragma once

#include <QImage>
#include <QSize>

// Returns `picture` (Format_RGB32 or Format_ARGB32_Premultiplied) resampled to
// exactly `size` by a separable Lanczos-3 filter: widened by the reduction
// factor when shrinking, so detail too fine for the result is filtered out
// instead of turning into moiré, and plain when enlarging. A flat area stays
// exactly flat; premultiplied colour never exceeds its alpha. Keeps one
// filtered row besides the result, so a huge source costs little memory.
// Null when `size` is empty or out of memory. Any thread.
QImage resampleLanczos3(const QImage& picture, QSize size);

// The highest JPEG quality whose file stays within a size limit.
//
// File size grows with the quality, though not strictly: the search assumes it
// does and may therefore end one step below the best quality that fits. It
// starts from the sizes at the chosen quality and at quality 1 and interpolates
// between the closest quality that fits and the closest that does not, falling
// back to halving the interval when interpolation gains little: on photographs
// about six encodings in all, never more than a dozen.
#pragma once

#include <QtGlobal>

#include <functional>

struct QualitySearch
{
    // The quality found; the chosen one when it fits, 1 when nothing fits.
    int quality = 0;
    // The file's bytes at `quality`.
    qint64 bytes = -1;
    // The limit holds at `quality`.
    bool fits = false;
    // How often `encodedBytes` was called, and the quality of its last call.
    int encodings = 0;
    int lastEncoded = 0;
};

// The highest quality from 1 to `chosen` (clamped to 1..100) whose
// `encodedBytes(quality)` is at most `limitBytes`. `encodedBytes` returns the
// whole file's size for a quality, or a negative number when it cannot encode.
QualitySearch findQualityWithin(qint64 limitBytes, int chosen,
                                const std::function<qint64(int quality)>& encodedBytes);

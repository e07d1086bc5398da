// JPEG pictures decoded by libjpeg-turbo directly: reduced while decoded by 1/2,
// 1/4 or 1/8 (the scales with SIMD code), written straight into the rows of a
// Format_RGB32 picture, with libjpeg's warnings and errors seen by Pictavo's own
// error manager. Whether a warning means damage is left to the caller (see
// JpegScanCheck.h).
#pragma once

#include "imaging/FileFailure.h"
#include "imaging/PictureHeader.h"

#include <QByteArray>
#include <QImage>

// True when `prefix` starts as every JPEG starts (the start-of-image marker).
bool looksLikeJpeg(const QByteArray& prefix);

struct JpegHeader
{
    // Format "jpeg"; without a size when libjpeg cannot read the header from
    // the bytes given. The decoded format is Format_RGB32 for every JPEG.
    PictureHeader picture;
    // The EXIF orientation of the first Exif APP1 segment, 1 to 8.
    int orientation = 1;
};

// The header of the JPEG whose first bytes are `prefix` (at least up to its
// frame header for the sizes). Safe to call from several threads at once.
JpegHeader readJpegHeader(const QByteArray& prefix);

struct JpegDecoding
{
    // As stored (not turned), Format_RGB32; null when libjpeg gave up.
    QImage picture;
    // libjpeg warned (also where it gave up): the data may be damaged.
    bool warned = false;
    // Why `picture` is null: OutOfMemory (libjpeg's or the picture's memory),
    // Cancelled (a stop reached the decode, see DecodeCancel.h), Undecodable
    // (any other error of libjpeg). None otherwise.
    FileProblem problem = FileProblem::None;
};

// `jpeg` decoded at 1/`reduction` (1, 2, 4 or 8; every side rounded up, as
// DecodePlan computes it). The bytes are handed to libjpeg in pieces of
// kJpegReadBytes, and the calling thread's stop is asked before each piece.
// CMYK and YCCK pictures are turned into RGB as inverted (Adobe) inks:
// R = C * K / 255 and so on. Safe to call from several threads at once.
JpegDecoding decodeJpeg(const QByteArray& jpeg, int reduction);

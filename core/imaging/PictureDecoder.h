// Turns a block of bytes into a picture, refusing anything a decoder would have to
// guess at, within memory known from the picture's header.
//
// What counts as damaged (and is refused, never shown half grey):
//  - a GIF or BMP whose structure or pixel data is incomplete or inconsistent
//    (see PictureIntegrity.h);
//  - a JPEG without an end-of-image marker after its first scan;
//  - a JPEG whose scan data ends early or whose entropy-coded data is corrupt:
//    libjpeg reports a premature end of the file or of a data segment, a bad
//    Huffman or arithmetic code, a restart marker out of place or an
//    inconsistent progression, or bytes other than padding between the coded
//    data and a marker (see JpegScanCheck.h);
//  - a HEIF or AVIF picture whose boxes or coded data libheif finds invalid or
//    ending early (libheif decodes strictly), or whose boxes declare sizes its
//    coded data contradicts (see HeifLayout.h);
//  - any picture Qt's reader fails on.
// Not damage: libjpeg's other warnings. A JPEG whose scans decode completely is
// whole even when libjpeg warns about padding before a marker (which cameras
// leave before the end marker), stray bytes between the segments before the
// first scan, an unknown JFIF revision, unusual scan parameters for a
// sequential file, or a bad ICC or Adobe marker. A JPEG whose scans libjpeg
// decodes completely but which it cannot turn into a picture is undecodable;
// libjpeg running out of memory is told as such.
#pragma once

#include "imaging/FileFailure.h"
#include "imaging/PictureHeader.h"

#include <QByteArray>
#include <QImage>

class QIODevice;

// Pictures with more pixels than this are refused before any pixel memory is
// taken: 128 megapixels leaves room for every camera photo up to 100 megapixels.
inline constexpr qint64 kMaxDecodedPixels = qint64(1) << 27;

struct DecodedPicture
{
    // Upright (a JPEG's EXIF orientation, a HEIF picture's rotation and mirror
    // are applied), in sRGB (an embedded colour profile is converted from),
    // Format_RGB32, or Format_ARGB32_Premultiplied where the picture has
    // transparent parts. Null when the picture could not be decoded.
    QImage picture;
    // Why `picture` is null: NotAPicture, TooManyPixels, Damaged, Undecodable or
    // OutOfMemory; FileProblem::None when it is not.
    FileProblem problem = FileProblem::None;
};

// Decodes the first picture in `bytes` (JPEG, GIF, BMP, PNG, WebP, TIFF and
// whatever else the installed Qt image plug-ins read; HEIC, HEIF and AVIF
// through libheif; decided by content, not by name) so that it
// still covers `minimumSize` upright: a picture at least twice as large in both
// directions is reduced while it is decoded where the format allows (JPEG at 1/2,
// 1/4 or 1/8 by libjpeg; 8-bit colour PNG by Qt's reader; GIF from its palette
// indices; WebP by libwebp's scaling; TIFF strip by strip, see LibraryDecoding.h)
// and otherwise averaged down by a whole factor right after decoding
// (see DecodePlan.h). Then an embedded colour profile is converted from (see
// ColourConversion.h). An invalid
// minimumSize decodes in full. Safe to call from several threads at once.
DecodedPicture decodePictureChecked(const QByteArray& bytes, QSize minimumSize);

// decodePictureChecked's picture, in full size.
QImage decodePicture(const QByteArray& bytes);

// decodePictureChecked's picture.
QImage decodePicture(const QByteArray& bytes, QSize minimumSize);

// The header of the picture file open on `device` at its start (see
// PictureHeader.h), reading no more than its first megabyte (of a HEIF file, its
// boxes' headers and metadata, wherever they lie); the device is back at its
// start afterwards.
PictureHeader probePicture(QIODevice* device);

// The size of the picture in `bytes`, upright, read from its header without
// decoding the pixels; invalid when the header does not tell.
QSize pictureSize(const QByteArray& bytes);

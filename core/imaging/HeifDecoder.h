// HEIC, HEIF and AVIF pictures, read through libheif.
//
// libheif cannot decode at a reduced scale: a HEIF picture is always decoded
// whole, so its header is read first (from the file's boxes, without decoding)
// and the memory of the whole decode is known before any of it is taken. The
// picture's own rotation and mirror properties (irot, imir) are applied by
// libheif while decoding; an EXIF orientation inside the file is not applied on
// top of them. Safe to call from several threads at once: every call works on
// a libheif context of its own.
#pragma once

#include "imaging/FileFailure.h"
#include "imaging/PictureHeader.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>

class QIODevice;

// True when `prefix` (the file's first bytes, at least 12) starts like a HEIF
// or AVIF file.
bool looksLikeHeif(const QByteArray& prefix);

// The header of the HEIF file open on `device`, read from its boxes only, with
// format "heif". The stored size is the size after rotation and mirroring (so
// `turned` stays false). Unknown when the file cannot be parsed or holds no
// picture.
PictureHeader readHeifHeader(QIODevice* device);

struct HeifPicture
{
    // Upright, 8 bits a channel: Format_RGB888, or Format_RGBA8888 when the
    // picture has an alpha channel. The pixels live in libheif's buffer, which
    // the image owns. Null when decoding failed.
    QImage picture;
    // The picture's colour as an ICC profile: the embedded one, or one made from
    // its colour description (nclx); empty when the picture says nothing.
    QByteArray iccProfile;
    FileProblem problem = FileProblem::None;
};

// Decodes the primary picture of the HEIF file in `bytes` in full size.
HeifPicture decodeHeif(const QByteArray& bytes);

// The extensions of the HEIF pictures this build decodes ("heic", "heif",
// "avif"), depending on the decoders libheif has.
QStringList heifExtensions();

// A PNG file as its decoders are to see it. libpng inflates every text chunk it
// meets (each up to 8 MB, a thousand of them kept at once) and every byte of
// compressed picture data, however small the picture; exiv2 inflates the text
// chunks again. A file of a few megabytes can so take minutes and gigabytes.
// Pictavo needs of a PNG its picture, its colour profile and the capture data
// exiv2 finds in an eXIf chunk or in the text chunks ImageMagick writes EXIF
// into ("Raw profile type exif" / "APP1"). So the decoders get the file without
// the chunks beyond the limits below, and a file with more compressed picture
// data than its declared picture can take is refused before anything is
// inflated.
#pragma once

#include "imaging/PngKeyColour.h"

#include <QByteArray>

#include <optional>

class QIODevice;

// Text kept, counted as the decoders get it (inflated): text that may carry
// capture data, and any other text, each up to this. Once a kind is full, its
// later chunks are left out without being inflated.
inline constexpr qint64 kMaxPngTextBytes = qint64(1) << 20;
// The first iCCP and the first eXIf chunk are kept up to this size; libpng
// inflates no profile beyond 8 MB anyway.
inline constexpr qint64 kMaxPngProfileChunkBytes = qint64(4) << 20;
// All other ancillary chunks (private ones, sPLT, animation frames, ...)
// together. The small chunks that change the picture (tRNS, gAMA, cHRM, sRGB,
// sBIT, bKGD, pHYs, oFFs) are kept once each, outside this.
inline constexpr qint64 kMaxPngOtherChunkBytes = qint64(1) << 20;

bool looksLikePng(const QByteArray& prefix);

// The PNG starting with `prefix` has a whole IHDR chunk that libpng refuses (a
// side of 0, a colour type and depth that do not go together, an unknown
// compression, filter or interlace method). Such a file is undecodable before
// any reader sees it: Qt's reader would log libpng's complaints on stderr.
bool pngHeaderIsRefused(const QByteArray& prefix);

struct PngForReaders
{
    // The file without the chunks left out; the very same bytes (no copy) when
    // nothing is left out or the file is no PNG.
    QByteArray bytes;
    // The compressed picture data is more than any zlib stream of the declared
    // picture can be (or the chunks left out and kept alternate absurdly often):
    // the file is damaged, `bytes` is empty.
    bool damaged = false;
    // The key colour of 16-bit RGB, taken out of `bytes` with its tRNS chunk:
    // Qt's reader would leave half of each row unwritten, so the decoder
    // applies the key to the picture Qt reads without it.
    std::optional<PngKeyColour> keyColour;
};

// `bytes` as the decoders (Qt's reader, libpng, exiv2) are to read them.
PngForReaders pngForReaders(const QByteArray& bytes);

// The PNG on `device` cut down to what tells its size and the format Qt's reader
// decodes into: the signature, IHDR, PLTE, the first tRNS and the first IDAT
// chunk's header, nothing of the rest read. Empty when the chunks before the
// picture data are incomplete or one of them is critical and unknown (libpng
// refuses those). The device's position is restored.
QByteArray pngHeaderOnly(QIODevice* device);

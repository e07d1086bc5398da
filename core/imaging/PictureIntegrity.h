// Byte-level integrity checks that run before a picture is handed to QImageReader.
//
// Qt's GIF and BMP readers fill whatever they cannot decode with grey and still
// report success, so a truncated or damaged file would quietly turn into a
// half-grey photo. Pictavo loads a picture only when its pixel data is complete
// and consistent: a decoder must never have to guess. These checks walk the file
// structure without decoding colours, never read outside the array and never
// allocate memory in proportion to sizes claimed by the file.
#pragma once

#include <QByteArray>

#include <cstdint>

// Largest GIF logical screen (in pixels) accepted. Qt composes every GIF frame
// onto a 32-bit canvas the size of the logical screen, even when the frame itself
// is tiny, so the screen is what decides the memory a GIF needs. This matches the
// decoder's limit of 2^27 pixels.
inline constexpr std::uint64_t kGifMaxScreenPixels = std::uint64_t(1) << 27;

// True when `data` is a GIF87a/GIF89a file whose block structure is complete up
// to the trailer, whose frames all lie on the logical screen and have a colour
// table, and whose first frame's LZW stream is valid and yields exactly
// width * height pixels. False too when the calling thread's decodes are
// stopped meanwhile (see DecodeCancel.h).
bool gifIsComplete(const QByteArray& data);

// True when `data` is a Windows/OS/2 BMP whose headers are consistent and whose
// pixel data (uncompressed, RLE8 or RLE4) is fully present, stays inside the
// picture and only uses palette entries that exist.
bool bmpIsComplete(const QByteArray& data);

// True when `data` starts with a JPEG SOI, its marker segments lead to a start of
// scan, and the end-of-image marker FF D9 follows somewhere after that scan.
bool jpegHasEndOfImage(const QByteArray& data);

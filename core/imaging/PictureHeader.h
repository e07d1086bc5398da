// What a picture's header tells before any pixel is decoded: its format and
// size, and what decoding it will take, so that the memory a decode needs is
// known before that memory is taken.
#pragma once

#include "imaging/FileFailure.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

class QImageReader;

struct PictureHeader
{
    // Qt's name for the format ("jpeg", "png", "gif", "bmp", ...), "heif" for
    // HEIC, HEIF and AVIF; empty when no reader knows the bytes.
    QByteArray format;
    // Width and height as stored, before the picture's own orientation; invalid
    // when the header does not tell.
    QSize storedSize;
    // The picture is shown turned by a quarter (EXIF orientations 5 to 8).
    bool turned = false;
    // The picture has an orientation other than as stored: the reader makes an
    // oriented copy of what it decoded.
    bool oriented = false;
    // The format the decoder delivers at full size (Qt's reader's, Format_RGB32
    // for every JPEG); Format_Invalid when unknown.
    QImage::Format decodedFormat = QImage::Format_Invalid;
    // Qt's PNG reader reduces this picture row by row while reading it (8-bit
    // colour or grey with alpha, not interlaced).
    bool pngReducesWhileReading = false;
    // For a JPEG that libjpeg must hold whole as coefficients before it can
    // give any row (progressive, or several scans): the bytes of those
    // coefficients per pixel of the picture. 0 otherwise.
    double jpegCoefficientBytesPerPixel = 0;
    // For a HEIF picture: the bytes a pixel takes in the planes libheif decodes
    // into before it makes the 8-bit RGB picture, counting the coded padding and
    // the tiles that overhang a grid. 0 otherwise.
    double heifPlaneBytesPerPixel = 0;
    // For a WebP picture: the bytes a pixel of the whole picture that libwebp
    // holds while it decodes (see WebpDecoder.h). 0 otherwise.
    double webpPictureBytesPerPixel = 0;
    // For a TIFF: its layout is one TiffStripDecoder reads.
    bool tiffReadsInStrips = false;
    // Why the picture is refused from its header alone, before anything of it is
    // decoded; so far told for HEIF pictures (see HeifLayout.h): Damaged when its
    // boxes contradict each other or its coded data, Undecodable when decoding
    // would take what no camera's file takes, OutOfMemory when not even the
    // header could be read. None otherwise.
    FileProblem problem = FileProblem::None;
    // What the format's library holds beside the picture while it decodes: for
    // a TIFF, the strip or tile it reads whole (see TiffDirectory.h). 0 otherwise.
    qint64 readerBufferBytes = 0;

    bool isKnown() const { return !format.isEmpty(); }
    // storedSize, turned as shown.
    QSize uprightSize() const { return turned ? storedSize.transposed() : storedSize; }
    // Pixels of the stored size; 0 when it is not known.
    qint64 pixels() const;
};

// Reads the header through `reader` (autoTransform already set as wanted);
// `prefix` holds the file's first bytes. The reader can read the picture
// afterwards. JPEG headers are read without Qt (see JpegDecoder.h).
PictureHeader readPictureHeader(QImageReader& reader, const QByteArray& prefix);

// Sets jpegCoefficientBytesPerPixel from the JPEG frame and first scan header
// found in `prefix`.
void addJpegDetails(PictureHeader& header, const QByteArray& prefix);

// How much of a file a header read needs at most: a JPEG's frame header lies
// behind its EXIF, ICC and other segments, and a megabyte reaches past them in
// every camera's file.
inline constexpr qint64 kPictureHeaderPrefixBytes = 1 << 20;

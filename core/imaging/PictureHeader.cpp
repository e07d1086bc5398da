#include "imaging/PictureHeader.h"

#include "imaging/WebpDecoder.h"

#include <QImageReader>

#include <cstdint>

namespace {

struct JpegFrame
{
    bool found = false;
    bool progressive = false;
    int components = 0;
    int componentsInFirstScan = 0;
    // Sum over the components of their share of the picture's samples.
    double sampleShare = 0;
};

int byteAt(const QByteArray& bytes, qsizetype index)
{
    return index < bytes.size() ? std::uint8_t(bytes[index]) : -1;
}

bool isFrameMarker(int marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

void readFrame(const QByteArray& bytes, qsizetype at, int marker, JpegFrame& frame)
{
    // length(2) precision(1) height(2) width(2) count(1), then id, HxV, table
    const int count = byteAt(bytes, at + 7);
    if (count <= 0)
        return;
    frame.found = true;
    frame.progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
    frame.components = count;
    int maxH = 1, maxV = 1;
    for (int i = 0; i < count; ++i) {
        const int factors = byteAt(bytes, at + 8 + 3 * i + 1);
        if (factors < 0)
            return;
        maxH = std::max(maxH, factors >> 4);
        maxV = std::max(maxV, factors & 0x0F);
    }
    for (int i = 0; i < count; ++i) {
        const int factors = byteAt(bytes, at + 8 + 3 * i + 1);
        frame.sampleShare += double(factors >> 4) * (factors & 0x0F) / (maxH * maxV);
    }
}

// Walks the marker segments up to the first start of scan.
JpegFrame readJpegFrame(const QByteArray& bytes)
{
    JpegFrame frame;
    qsizetype at = 2;
    while (at + 4 <= bytes.size()) {
        if (byteAt(bytes, at) != 0xFF) {
            ++at;
            continue;
        }
        const int marker = byteAt(bytes, at + 1);
        if (marker == 0xFF || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            at += marker == 0xFF ? 1 : 2;
            continue;
        }
        const qsizetype start = at + 2;
        const int length = (byteAt(bytes, start) << 8) | byteAt(bytes, start + 1);
        if (isFrameMarker(marker))
            readFrame(bytes, start, marker, frame);
        if (marker == 0xDA) {
            frame.componentsInFirstScan = byteAt(bytes, start + 2);
            break;
        }
        at = start + std::max(length, 2);
    }
    return frame;
}

} // namespace

void addJpegDetails(PictureHeader& header, const QByteArray& prefix)
{
    const JpegFrame frame = readJpegFrame(prefix);
    const bool wholeImage =
        !frame.found || frame.progressive || frame.componentsInFirstScan < frame.components;
    if (!wholeImage)
        return;
    // Two bytes a coefficient, 64 coefficients a block of 64 samples. Without
    // a frame in reach, four full-size components are assumed.
    header.jpegCoefficientBytesPerPixel = 2.0 * (frame.found ? frame.sampleShare : 4.0);
}

namespace {

void addPngDetails(PictureHeader& header, const QByteArray& prefix)
{
    // The interlace method is the last byte of IHDR, at offset 28.
    const bool interlaced = byteAt(prefix, 28) != 0;
    const bool eightBitColour = header.decodedFormat == QImage::Format_RGB32 ||
                                header.decodedFormat == QImage::Format_ARGB32;
    header.pngReducesWhileReading = eightBitColour && !interlaced;
}

} // namespace

qint64 PictureHeader::pixels() const
{
    return storedSize.isValid() ? qint64(storedSize.width()) * storedSize.height() : 0;
}

PictureHeader readPictureHeader(QImageReader& reader, const QByteArray& prefix)
{
    PictureHeader header;
    header.format = reader.format();
    if (header.format.isEmpty())
        return header;
    header.storedSize = reader.size();
    if (reader.autoTransform()) {
        const QImageIOHandler::Transformations transformation = reader.transformation();
        header.turned = transformation & QImageIOHandler::TransformationRotate90;
        header.oriented = transformation != QImageIOHandler::TransformationNone;
    }
    // Qt's JPEG reader answers a file that ends inside its header with a format it
    // never set: only a value that names a format is taken.
    const int format = static_cast<int>(reader.imageFormat());
    header.decodedFormat = format > QImage::Format_Invalid && format < QImage::NImageFormats
                               ? QImage::Format(format)
                               : QImage::Format_Invalid;
    if (header.format == "png")
        addPngDetails(header, prefix);
    else if (header.format == "webp")
        header.webpPictureBytesPerPixel = webpWholePictureBytesPerPixel(prefix);
    return header;
}

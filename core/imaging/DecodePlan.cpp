#include "imaging/DecodePlan.h"

#include "imaging/PictureDecoder.h"
#include "imaging/TiffStripDecoder.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

qint64 pixelsOf(QSize size)
{
    return size.isValid() ? qint64(size.width()) * size.height() : 0;
}

// What libwebp keeps for each column of a lossy picture while it decodes: the
// luma and chroma rows of a macroblock row and the filter's context (about 40
// bytes), the rescaler's sums of four channels (32).
constexpr qint64 kWebpRowBytesPerColumn = 96;

// `size` divided by `factor`, every side rounded up.
QSize dividedSize(QSize size, int factor)
{
    return QSize((size.width() + factor - 1) / factor, (size.height() + factor - 1) / factor);
}

// The largest of libjpeg's reductions 8, 4 and 2 that still covers `minimum`
// (as stored); 1 when none does.
int jpegReduction(QSize stored, QSize minimum)
{
    for (const int reduction : {8, 4, 2}) {
        const QSize reduced = dividedSize(stored, reduction);
        if (reduced.width() >= minimum.width() && reduced.height() >= minimum.height())
            return reduction;
    }
    return 1;
}

// The largest whole factor that still covers `minimum` (as stored).
int wholeReduction(QSize stored, QSize minimum)
{
    const qint64 across = stored.width() / std::max(1, minimum.width());
    const qint64 down = stored.height() / std::max(1, minimum.height());
    int factor = int(std::clamp<qint64>(std::min(across, down), 1, 1 << 20));
    // Rounding up may leave a side one short of the minimum; step back then.
    while (factor > 1) {
        const QSize reduced = dividedSize(stored, factor);
        if (reduced.width() >= minimum.width() && reduced.height() >= minimum.height())
            break;
        --factor;
    }
    return factor;
}

// What the reader's result costs once it is there: the oriented copy the reader
// makes, and the conversion to the 32-bit format the program works in.
qint64 afterReading(const PictureHeader& header, qint64 pixels, int readBytes)
{
    qint64 bytes = pixels * readBytes;
    if (header.oriented)
        bytes += pixels * readBytes;
    if (header.decodedFormat != QImage::Format_RGB32 &&
        header.decodedFormat != QImage::Format_ARGB32_Premultiplied)
        bytes += pixels * 4;
    return bytes;
}

} // namespace

int bytesPerPixel(QImage::Format format)
{
    if (format == QImage::Format_Invalid)
        return 8;
    return std::max(1, QImage::toPixelFormat(format).bitsPerPixel() / 8);
}

namespace {

DecodePlan planForPixels(const PictureHeader& header, QSize minimumSize)
{
    DecodePlan plan;
    const QSize stored = header.storedSize;
    if (!stored.isValid()) {
        // Nothing to plan with: as much as the largest picture may take.
        plan.memoryBytes = kMaxDecodedPixels * 8;
        return plan;
    }
    const qint64 wholePixels = pixelsOf(stored);
    const int readBytes = bytesPerPixel(header.decodedFormat);
    const QSize minimum = header.turned ? minimumSize.transposed() : minimumSize;
    int factor = 1;
    if (minimumSize.isValid() && !minimumSize.isEmpty())
        factor = header.format == "jpeg" ? jpegReduction(stored, minimum)
                                         : wholeReduction(stored, minimum);

    if (header.format == "jpeg") {
        const qint64 coefficients =
            qint64(std::ceil(double(wholePixels) * header.jpegCoefficientBytesPerPixel));
        plan.method = factor > 1 ? DecodePlan::Method::JpegScaled : DecodePlan::Method::Whole;
        plan.factor = factor;
        plan.readSize = dividedSize(stored, factor);
        plan.memoryBytes = coefficients + afterReading(header, pixelsOf(plan.readSize), readBytes);
        return plan;
    }
    if (header.format == "heif") {
        // libheif holds its decoded planes (twice while it turns or mirrors
        // them) beside the 8-bit RGB picture it makes of them.
        const qint64 decoded =
            qint64(std::ceil(double(wholePixels) * header.heifPlaneBytesPerPixel * 2)) +
            wholePixels * readBytes;
        plan.method = factor > 1 ? DecodePlan::Method::Reduced : DecodePlan::Method::Whole;
        plan.factor = factor;
        plan.memoryBytes = decoded + (factor > 1 ? qint64(stored.width()) * factor * 4 +
                                                       pixelsOf(dividedSize(stored, factor)) * 4
                                                 : wholePixels * 4);
        return plan;
    }
    if (header.format == "webp") {
        // libwebp's rows in flight (a lossy macroblock row with its filter
        // context, the rescaler's accumulators) beside the scaled picture, and
        // what it keeps of the whole picture.
        plan.method = DecodePlan::Method::WebpScaled;
        plan.readSize = dividedSize(stored, factor);
        const qint64 rows = qint64(stored.width()) * kWebpRowBytesPerColumn;
        const qint64 whole =
            qint64(std::ceil(double(wholePixels) * header.webpPictureBytesPerPixel));
        plan.memoryBytes = rows + whole + pixelsOf(plan.readSize) * 4 * (header.oriented ? 2 : 1);
        return plan;
    }
    if (header.tiffReadsInStrips) {
        plan.method = DecodePlan::Method::TiffStrips;
        plan.factor = factor;
        plan.memoryBytes = tiffStripWorkBytes(stored, factor) +
                           pixelsOf(dividedSize(stored, factor)) * 4 * (header.oriented ? 2 : 1);
        return plan;
    }
    if (factor > 1 && header.pngReducesWhileReading) {
        plan.method = DecodePlan::Method::PngScaled;
        plan.readSize = dividedSize(stored, factor);
        plan.memoryBytes =
            afterReading(header, pixelsOf(plan.readSize), 4) + qint64(stored.width()) * 12;
        return plan;
    }
    if (factor > 1 && header.format == "gif") {
        plan.method = DecodePlan::Method::GifReduced;
        plan.factor = factor;
        plan.memoryBytes = wholePixels + pixelsOf(dividedSize(stored, factor)) * 4 +
                           qint64(stored.width()) / factor * 32;
        return plan;
    }
    // Qt's GIF reader keeps a second canvas for frames that restore the previous one.
    const qint64 canvases = header.format == "gif" ? 2 : 1;
    if (factor > 1) {
        plan.method = DecodePlan::Method::Reduced;
        plan.factor = factor;
        const qint64 decoded = wholePixels * readBytes * canvases * (header.oriented ? 2 : 1);
        const qint64 strip = qint64(stored.width()) * factor * 4;
        plan.memoryBytes = decoded + strip + pixelsOf(dividedSize(stored, factor)) * 4;
        return plan;
    }
    plan.memoryBytes =
        afterReading(header, wholePixels, readBytes) + wholePixels * readBytes * (canvases - 1);
    return plan;
}

} // namespace

DecodePlan planDecode(const PictureHeader& header, QSize minimumSize)
{
    DecodePlan plan = planForPixels(header, minimumSize);
    plan.memoryBytes += std::min(header.readerBufferBytes,
                                 std::numeric_limits<qint64>::max() - plan.memoryBytes);
    return plan;
}

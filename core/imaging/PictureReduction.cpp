#include "imaging/PictureReduction.h"

#include <algorithm>
#include <vector>

namespace {

// Sums the pixels of `strip` (32-bit, four channels) column block by column block.
void addStrip(const QImage& strip, int factor, std::vector<quint64>& sums)
{
    const int width = strip.width();
    for (int y = 0; y < strip.height(); ++y) {
        const uchar* in = strip.constScanLine(y);
        for (int x0 = 0, block = 0; x0 < width; x0 += factor, ++block) {
            quint64* sum = &sums[std::size_t(block) * 4];
            const int x1 = std::min(width, x0 + factor);
            for (int x = x0; x < x1; ++x) {
                const uchar* pixel = in + std::size_t(x) * 4;
                sum[0] += pixel[0];
                sum[1] += pixel[1];
                sum[2] += pixel[2];
                sum[3] += pixel[3];
            }
        }
    }
}

} // namespace

QImage reducePicture(const QImage& source, int factor)
{
    if (source.isNull() || factor < 1)
        return {};
    const bool alpha = source.hasAlphaChannel();
    const QImage::Format format =
        alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    const int width = source.width();
    const int height = source.height();
    const int outWidth = (width + factor - 1) / factor;
    const int outHeight = (height + factor - 1) / factor;
    QImage reduced(outWidth, outHeight, format);
    if (reduced.isNull())
        return {};
    std::vector<quint64> sums(std::size_t(outWidth) * 4);
    for (int outY = 0; outY < outHeight; ++outY) {
        const int y0 = outY * factor;
        const int rows = std::min(factor, height - y0);
        const QImage strip = source.copy(0, y0, width, rows).convertToFormat(format);
        if (strip.isNull())
            return {};
        std::fill(sums.begin(), sums.end(), 0);
        addStrip(strip, factor, sums);
        auto* out = reinterpret_cast<quint32*>(reduced.scanLine(outY));
        for (int outX = 0; outX < outWidth; ++outX) {
            const quint64 count = quint64(rows) * quint64(std::min(factor, width - outX * factor));
            const quint64* sum = &sums[std::size_t(outX) * 4];
            uchar* pixel = reinterpret_cast<uchar*>(out + outX);
            for (int c = 0; c < 4; ++c)
                pixel[c] = uchar((sum[c] + count / 2) / count);
        }
        if (!alpha) {
            for (int outX = 0; outX < outWidth; ++outX)
                out[outX] |= 0xff000000u;
        }
    }
    return reduced;
}

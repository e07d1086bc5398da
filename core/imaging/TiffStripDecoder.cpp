#include "imaging/TiffStripDecoder.h"

#include "imaging/ColourConversion.h"
#include "imaging/DecodeCancel.h"
#include "imaging/ExifOrientation.h"
#include "imaging/SrgbProfile.h"
#include "imaging/TiffWarnings.h"

#include <QIODevice>

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct TiffClose
{
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using Tiff = std::unique_ptr<TIFF, TiffClose>;

// Rows converted at once: enough pixels that Little CMS works in bands on
// several threads, few enough to stay small beside the reduced picture.
constexpr qint64 kBandPixels = qint64(1) << 19;

int bandRows(qint64 width, int factor)
{
    const qint64 groups = std::max<qint64>(1, kBandPixels / std::max<qint64>(1, width * factor));
    return int(std::min<qint64>(groups * factor, 1 << 20));
}

// libtiff reads the device through these; it seeks before every read.
QIODevice* deviceOf(thandle_t handle)
{
    return static_cast<QIODevice*>(handle);
}

tmsize_t readFrom(thandle_t handle, void* data, tmsize_t size)
{
    qint64 done = 0;
    while (done < size) {
        const qint64 got = deviceOf(handle)->read(static_cast<char*>(data) + done, size - done);
        if (got <= 0)
            break;
        done += got;
    }
    return tmsize_t(done);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t)
{
    return 0;
}

toff_t seekTo(thandle_t handle, toff_t offset, int whence)
{
    QIODevice* device = deviceOf(handle);
    qint64 target = qint64(offset);
    if (whence == SEEK_CUR)
        target += device->pos();
    else if (whence == SEEK_END)
        target += device->size();
    return target >= 0 && device->seek(target) ? toff_t(target) : toff_t(-1);
}

int closeNothing(thandle_t)
{
    return 0;
}

toff_t sizeOf(thandle_t handle)
{
    return toff_t(deviceOf(handle)->size());
}

int mapNothing(thandle_t, void**, toff_t*)
{
    return 0;
}

void unmapNothing(thandle_t, void*, toff_t) {}

struct Layout
{
    int width = 0;
    int height = 0;
    int bits = 8;
    int samples = 1;
    quint16 photometric = PHOTOMETRIC_RGB;
    bool alpha = false;
    // Colour samples multiplied by alpha (TIFF's associated alpha).
    bool associated = false;
    // A palette picture's colours, 16 bits each.
    std::array<std::vector<quint16>, 3> palette;
    quint16 orientation = ORIENTATION_TOPLEFT;
};

// A palette written with 8-bit values in TIFF's 16-bit fields, as some
// programs do, is taken as 8-bit (libtiff's RGBA reader does the same).
void widenEightBitPalette(Layout& layout)
{
    for (const std::vector<quint16>& channel : layout.palette)
        if (std::any_of(channel.begin(), channel.end(), [](quint16 v) { return v > 255; }))
            return;
    for (std::vector<quint16>& channel : layout.palette)
        for (quint16& value : channel)
            value = quint16(value * 257);
}

bool readPalette(TIFF* tiff, Layout& layout)
{
    quint16* red = nullptr;
    quint16* green = nullptr;
    quint16* blue = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue))
        return false;
    layout.palette = {std::vector<quint16>(red, red + 256),
                      std::vector<quint16>(green, green + 256),
                      std::vector<quint16>(blue, blue + 256)};
    widenEightBitPalette(layout);
    return true;
}

// The layout, when it is one this decoder reads.
std::optional<Layout> readLayout(TIFF* tiff)
{
    Layout layout;
    quint32 width = 0;
    quint32 height = 0;
    quint16 bits = 0;
    quint16 samples = 0;
    quint16 planar = 0;
    quint16 sampleFormat = 0;
    quint16 extraCount = 0;
    quint16* extraTypes = nullptr;
    if (TIFFIsTiled(tiff) || !TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) ||
        !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.photometric) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &layout.orientation))
        return std::nullopt;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
        planar != PLANARCONFIG_CONTIG || sampleFormat != SAMPLEFORMAT_UINT ||
        (bits != 8 && bits != 16))
        return std::nullopt;
    layout.width = int(width);
    layout.height = int(height);
    layout.bits = bits;
    layout.samples = samples;
    const int colours = layout.photometric == PHOTOMETRIC_RGB ? 3 : 1;
    if (layout.photometric == PHOTOMETRIC_PALETTE) {
        if (bits != 8 || samples != 1 || !readPalette(tiff, layout))
            return std::nullopt;
    } else if (layout.photometric != PHOTOMETRIC_RGB &&
               layout.photometric != PHOTOMETRIC_MINISBLACK) {
        return std::nullopt;
    }
    if (samples != colours && samples != colours + 1)
        return std::nullopt;
    if (samples == colours + 1) {
        const quint16 type =
            extraCount > 0 && extraTypes != nullptr ? extraTypes[0] : EXTRASAMPLE_UNSPECIFIED;
        // An unspecified fourth sample of RGB is associated alpha, as libtiff's
        // RGBA reader (and so Qt's) takes it; of grey it is ignored.
        layout.associated =
            type == EXTRASAMPLE_ASSOCALPHA || (type == EXTRASAMPLE_UNSPECIFIED && colours == 3);
        layout.alpha = layout.associated || type == EXTRASAMPLE_UNASSALPHA;
    }
    if (layout.orientation < ORIENTATION_TOPLEFT || layout.orientation > ORIENTATION_LEFTBOT)
        layout.orientation = ORIENTATION_TOPLEFT;
    return layout;
}

template <typename Sample> void widenRow(const Sample* in, quint16* out, const Layout& layout)
{
    const quint32 scale = sizeof(Sample) == 1 ? 257 : 1;
    const int step = layout.samples;
    const int width = layout.width;
    if (layout.photometric == PHOTOMETRIC_PALETTE) {
        for (int x = 0; x < width; ++x, ++in, out += 4) {
            out[0] = layout.palette[0][*in];
            out[1] = layout.palette[1][*in];
            out[2] = layout.palette[2][*in];
            out[3] = 0xFFFF;
        }
        return;
    }
    // Grey spreads its one sample over the three colours.
    const int green = layout.photometric == PHOTOMETRIC_RGB ? 1 : 0;
    const int blue = green * 2;
    const int alpha = green * 2 + 1;
    for (int x = 0; x < width; ++x, in += step, out += 4) {
        out[0] = quint16(in[0] * scale);
        out[1] = quint16(in[green] * scale);
        out[2] = quint16(in[blue] * scale);
        out[3] = layout.alpha ? quint16(in[alpha] * scale) : quint16(0xFFFF);
    }
}

// Colour samples divided by their alpha: the band is converted and averaged
// as straight samples.
void unassociate(quint16* row, int width)
{
    for (int x = 0; x < width; ++x, row += 4) {
        const quint32 alpha = row[3];
        for (int c = 0; c < 3; ++c)
            row[c] =
                alpha == 0
                    ? 0
                    : quint16(std::min<quint32>(0xFFFF, (row[c] * 0xFFFFu + alpha / 2) / alpha));
    }
}

// Adds a row's blocks of `factor` pixels (straight RGBA, 16 bits) to `sums`,
// colours weighted by their alpha where the picture has alpha.
template <bool Alpha> void addRow(const quint16* in, int width, int factor, quint64* sums)
{
    for (int x0 = 0; x0 < width; x0 += factor, sums += 4) {
        const int x1 = std::min(width, x0 + factor);
        quint64 red = 0, green = 0, blue = 0, alpha = 0;
        for (const quint16* pixel = in + std::size_t(x0) * 4; pixel < in + std::size_t(x1) * 4;
             pixel += 4) {
            const quint64 weight = Alpha ? pixel[3] : 1;
            red += pixel[0] * weight;
            green += pixel[1] * weight;
            blue += pixel[2] * weight;
            alpha += pixel[3];
        }
        sums[0] += red;
        sums[1] += green;
        sums[2] += blue;
        sums[3] += alpha;
    }
}

// Averages `rows` rows of `band` from `first` on into one row of `out`,
// premultiplied where the picture has alpha.
void averageInto(const QImage& band, int first, int rows, int factor, bool alpha, QRgb* out)
{
    const int width = band.width();
    const int outWidth = (width + factor - 1) / factor;
    thread_local std::vector<quint64> sums;
    sums.assign(std::size_t(outWidth) * 4, 0);
    for (int y = first; y < first + rows; ++y) {
        const auto* in = reinterpret_cast<const quint16*>(band.constScanLine(y));
        if (alpha)
            addRow<true>(in, width, factor, sums.data());
        else
            addRow<false>(in, width, factor, sums.data());
    }
    for (int outX = 0; outX < outWidth; ++outX) {
        const quint64 count = quint64(rows) * quint64(std::min(factor, width - outX * factor));
        const quint64* sum = &sums[std::size_t(outX) * 4];
        // 16-bit sums (times 16-bit alpha where premultiplied) to 8-bit averages.
        const quint64 colourScale = count * 257 * (alpha ? 0xFFFF : 1);
        const auto level = [](quint64 value, quint64 scale) {
            return int((value + scale / 2) / scale);
        };
        const int a = alpha ? level(sum[3], count * 257) : 255;
        out[outX] =
            qRgba(std::min(a, level(sum[0], colourScale)), std::min(a, level(sum[1], colourScale)),
                  std::min(a, level(sum[2], colourScale)), a);
    }
}

TiffStripPicture refusedWith(FileProblem problem)
{
    return {QImage(), problem, false};
}

TiffStripPicture readReduced(TIFF* tiff, const Layout& layout, int factor,
                             const QByteArray& iccProfile)
{
    const int outWidth = (layout.width + factor - 1) / factor;
    const int outHeight = (layout.height + factor - 1) / factor;
    QImage reduced(outWidth, outHeight,
                   layout.alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    const int rowsPerBand = std::min(bandRows(layout.width, factor), layout.height);
    QImage band(layout.width, rowsPerBand, QImage::Format_RGBA64);
    // Whole strips, so that libtiff may inflate each in one go (with libdeflate
    // where it has it, twice as fast as row by row through zlib).
    const tmsize_t scanlineBytes = TIFFScanlineSize(tiff);
    const tmsize_t stripBytes = TIFFStripSize(tiff);
    quint32 rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<quint32>(rowsPerStrip, 1, quint32(layout.height));
    if (reduced.isNull() || band.isNull() || scanlineBytes <= 0 || stripBytes <= 0)
        return refusedWith(FileProblem::OutOfMemory);
    if (qint64(stripBytes) < qint64(scanlineBytes) * rowsPerStrip)
        return refusedWith(FileProblem::Damaged);
    std::vector<uchar> strip(static_cast<std::size_t>(stripBytes));
    qint64 stripRead = -1;
    const bool convertAt16Bits = layout.bits == 16 && layout.photometric == PHOTOMETRIC_RGB &&
                                 !iccProfile.isEmpty() && !isSrgbProfile(iccProfile);
    bool converted = false;
    for (int top = 0; top < layout.height; top += rowsPerBand) {
        if (decodeCancelled())
            return refusedWith(FileProblem::Cancelled);
        const int rows = std::min(rowsPerBand, layout.height - top);
        for (int y = 0; y < rows; ++y) {
            const quint32 source = quint32(top + y);
            if (source / rowsPerStrip != stripRead) {
                stripRead = source / rowsPerStrip;
                if (TIFFReadEncodedStrip(tiff, quint32(stripRead), strip.data(), stripBytes) < 0)
                    return refusedWith(FileProblem::Damaged);
            }
            const uchar* scanline = strip.data() + (source % rowsPerStrip) * scanlineBytes;
            auto* row = reinterpret_cast<quint16*>(band.scanLine(y));
            if (layout.bits == 16)
                widenRow(reinterpret_cast<const quint16*>(scanline), row, layout);
            else
                widenRow(scanline, row, layout);
            if (layout.associated)
                unassociate(row, layout.width);
        }
        if (convertAt16Bits) {
            QImage rowsOnly(band.bits(), band.width(), rows, band.bytesPerLine(),
                            QImage::Format_RGBA64);
            converted = convertToSrgb16(rowsOnly, iccProfile);
        }
        for (int first = 0; first < rows; first += factor)
            averageInto(band, first, std::min(factor, rows - first), factor, layout.alpha,
                        reinterpret_cast<QRgb*>(reduced.scanLine((top + first) / factor)));
    }
    return {orientedPicture(std::move(reduced), layout.orientation), FileProblem::None, converted};
}

} // namespace

qint64 tiffStripWorkBytes(QSize stored, int factor)
{
    if (!stored.isValid())
        return 0;
    const qint64 width = stored.width();
    const qint64 rows = std::min<qint64>(bandRows(width, std::max(1, factor)), stored.height());
    // The band at 8 bytes a pixel, the sums.
    return width * rows * 8 + (width / std::max(1, factor) + 1) * 32;
}

std::optional<TiffStripPicture> decodeTiffStrips(QIODevice* device, int factor,
                                                 const QByteArray& iccProfile)
{
    quietTiffLibrary();
    const qint64 start = device->pos();
    // libtiff reads the file's header from where the device stands.
    if (!device->seek(0))
        return std::nullopt;
    const Tiff tiff(TIFFClientOpen("picture", "rm", device, readFrom, writeNothing, seekTo,
                                   closeNothing, sizeOf, mapNothing, unmapNothing));
    std::optional<TiffStripPicture> decoded;
    if (!tiff)
        ; // what libtiff cannot open is left to the fallback to judge
    else if (const std::optional<Layout> layout = readLayout(tiff.get()))
        decoded = readReduced(tiff.get(), *layout, std::max(1, factor), iccProfile);
    device->seek(start);
    return decoded;
}

#include "imaging/Adjustments.h"

#include "imaging/CPicture.h"
#include "effects/EffectHost.h"
#include "imaging/PixelRect.h"

#include <QColor>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// The fields take any 32-bit number. A tone (a channel after brightness and
// contrast) is exact in 64 bits unless both brightness and contrast are huge;
// beyond +-2^61 it is held there, which still ends as 0 or 255 unless black and
// white mixes it with another such tone.
constexpr std::int64_t kToneLimit = std::int64_t(1) << 61;
constexpr double kStepLimit = 4611686018427387904.0; // 2^62
// Black and white looks the result up by the sum of the three tones while their
// spread allows a table of moderate size (the spin arrows' range needs about
// 3,000 entries).
constexpr std::int64_t kMaxTableSpread = 1 << 14;

// A channel's tone for each byte value; the same table serves all three channels.
using ToneTable = std::array<std::int64_t, 256>;
// A channel's final byte for each byte value, when no black and white mixes them.
using ByteTable = std::array<uchar, 256>;

// The per-channel offsets, in the pixels' byte order (blue, green, red).
struct Offsets
{
    std::int64_t blue;
    std::int64_t green;
    std::int64_t red;
};

// Rows of three-byte pixels, `stride` bytes apart.
struct PixelRows
{
    uchar* bits;
    qsizetype stride;
    int width;
    int height;

    uchar* row(int y) const { return bits + y * stride; }
};

std::int64_t toneOf(int channel, std::int32_t brightness, std::int32_t contrast, double factor)
{
    std::int64_t tone = channel;
    if (brightness != 0)
        tone = tone * (100 + std::int64_t(brightness)) / 100;
    if (contrast != 0) {
        // The conversion truncates towards zero.
        const double step =
            std::clamp(std::trunc(double(tone - 128) * factor), -kStepLimit, kStepLimit);
        tone = contrast > 0 ? tone + std::int64_t(step) : tone - std::int64_t(step);
    }
    return std::clamp(tone, -kToneLimit, kToneLimit);
}

ToneTable toneTable(const ConversionSettings& settings)
{
    // Computed once per call.
    const double factor = double(settings.m_nContrast) * double(settings.m_nContrast) * 0.0001;
    ToneTable table;
    for (int channel = 0; channel < 256; ++channel)
        table[channel] = toneOf(channel, settings.m_nBrightness, settings.m_nContrast, factor);
    return table;
}

Offsets offsetsOf(const ConversionSettings& settings)
{
    return {settings.m_nBlue, settings.m_nGreen, settings.m_nRed};
}

uchar clampToByte(std::int64_t value)
{
    return uchar(std::clamp<std::int64_t>(value, 0, 255));
}

ByteTable byteTable(const ToneTable& tones, std::int64_t offset)
{
    ByteTable table;
    for (int channel = 0; channel < 256; ++channel)
        table[channel] = clampToByte(tones[channel] + offset);
    return table;
}

void adjustColourRow(uchar* pixel, int width, const ByteTable& blue, const ByteTable& green,
                     const ByteTable& red)
{
    for (int x = 0; x < width; ++x, pixel += 3) {
        pixel[0] = blue[pixel[0]];
        pixel[1] = green[pixel[1]];
        pixel[2] = red[pixel[2]];
    }
}

void adjustColour(const PixelRows& rows, const ToneTable& tones, const Offsets& offsets)
{
    const ByteTable blue = byteTable(tones, offsets.blue);
    const ByteTable green = byteTable(tones, offsets.green);
    const ByteTable red = byteTable(tones, offsets.red);
    for (int y = 0; y < rows.height; ++y)
        adjustColourRow(rows.row(y), rows.width, blue, green, red);
}

// Black and white for any tones, computed pixel by pixel.
void adjustGreyRow(uchar* pixel, int width, const ToneTable& tones, const Offsets& offsets)
{
    for (int x = 0; x < width; ++x, pixel += 3) {
        // Integer division by 3 truncates towards zero, also for negative sums.
        const std::int64_t mean = (tones[pixel[0]] + tones[pixel[1]] + tones[pixel[2]]) / 3;
        pixel[0] = clampToByte(mean + offsets.blue);
        pixel[1] = clampToByte(mean + offsets.green);
        pixel[2] = clampToByte(mean + offsets.red);
    }
}

// Black and white by table: tones shifted so that the smallest is 0, and for
// every sum of three shifted tones the final blue, green and red bytes.
struct GreyTables
{
    std::array<int, 256> shifted;
    std::vector<std::array<uchar, 3>> bytes;
};

GreyTables greyTables(const ToneTable& tones, std::int64_t lowest, std::int64_t highest,
                      const Offsets& offsets)
{
    GreyTables tables;
    for (int channel = 0; channel < 256; ++channel)
        tables.shifted[channel] = int(tones[channel] - lowest);
    tables.bytes.resize(std::size_t(3 * (highest - lowest) + 1));
    for (std::size_t sum = 0; sum < tables.bytes.size(); ++sum) {
        const std::int64_t mean = (std::int64_t(sum) + 3 * lowest) / 3;
        tables.bytes[sum] = {clampToByte(mean + offsets.blue), clampToByte(mean + offsets.green),
                             clampToByte(mean + offsets.red)};
    }
    return tables;
}

void adjustGreyRowByTable(uchar* pixel, int width, const GreyTables& tables)
{
    for (int x = 0; x < width; ++x, pixel += 3) {
        const int sum =
            tables.shifted[pixel[0]] + tables.shifted[pixel[1]] + tables.shifted[pixel[2]];
        std::memcpy(pixel, tables.bytes[std::size_t(sum)].data(), 3);
    }
}

void adjustGrey(const PixelRows& rows, const ToneTable& tones, const Offsets& offsets)
{
    const auto [lowest, highest] = std::minmax_element(tones.begin(), tones.end());
    if (*highest - *lowest > kMaxTableSpread) {
        for (int y = 0; y < rows.height; ++y)
            adjustGreyRow(rows.row(y), rows.width, tones, offsets);
        return;
    }
    const GreyTables tables = greyTables(tones, *lowest, *highest, offsets);
    for (int y = 0; y < rows.height; ++y)
        adjustGreyRowByTable(rows.row(y), rows.width, tables);
}

// Brightness, contrast, black and white and the offsets in one pass; nothing is
// clamped before the end.
void adjustPixels(const PixelRows& rows, const ConversionSettings& settings)
{
    const ToneTable tones = toneTable(settings);
    const Offsets offsets = offsetsOf(settings);
    if (settings.m_bGrayscale != 0)
        adjustGrey(rows, tones, offsets);
    else
        adjustColour(rows, tones, offsets);
}

// The effect number to run, or 0 when none is selected or the number names no
// loaded effect.
int runnableEffect(const ConversionSettings& settings, const EffectHost* effects)
{
    if (effects == nullptr || settings.m_nEffect < 1 || settings.m_nEffect > effects->effectCount())
        return 0;
    return settings.m_nEffect;
}

void runEffect(const EffectHost& effects, int effect, const PixelRows& rows, int phase)
{
    EffectImage image{std::int32_t(rows.width * 3), 0, rows.width, rows.height};
    effects.RunEffect(effect, image, rows.bits, phase);
}

std::vector<uchar> packRows(const QImage& picture)
{
    const qsizetype rowBytes = qsizetype(picture.width()) * 3;
    std::vector<uchar> packed(std::size_t(rowBytes * picture.height()));
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(packed.data() + y * rowBytes, picture.constScanLine(y), std::size_t(rowBytes));
    return packed;
}

void unpackRows(const std::vector<uchar>& packed, QImage& picture)
{
    const qsizetype rowBytes = qsizetype(picture.width()) * 3;
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(picture.scanLine(y), packed.data() + y * rowBytes, std::size_t(rowBytes));
}

// The effect's two phases around the colour adjustments. Effects see the rows
// packed without padding; the copy is made only when an effect runs on a
// picture whose rows are padded, since the adjustments work row by row anyway.
void adjustColours(QImage& picture, const ConversionSettings& settings, const EffectHost* effects)
{
    const int effect = runnableEffect(settings, effects);
    if (effect == 0 && !settings.hasColourAdjustments())
        return;

    const qsizetype packedRow = qsizetype(picture.width()) * 3;
    const bool repack = effect != 0 && picture.bytesPerLine() != packedRow;
    std::vector<uchar> packed;
    PixelRows rows{picture.bits(), picture.bytesPerLine(), picture.width(), picture.height()};
    if (repack) {
        packed = packRows(picture);
        rows = PixelRows{packed.data(), packedRow, picture.width(), picture.height()};
    }

    if (effect != 0)
        runEffect(*effects, effect, rows, 0);
    if (settings.hasColourAdjustments())
        adjustPixels(rows, settings);
    if (effect != 0)
        runEffect(*effects, effect, rows, 1);

    if (repack)
        unpackRows(packed, picture);
}

void mirrorRow(uchar* row, int width)
{
    uchar* left = row;
    uchar* right = row + qsizetype(width - 1) * 3;
    for (; left < right; left += 3, right -= 3)
        std::swap_ranges(left, left + 3, right);
}

void mirrorLeftToRight(QImage& picture)
{
    for (int y = 0; y < picture.height(); ++y)
        mirrorRow(picture.scanLine(y), picture.width());
}

void flipVertically(QImage& picture)
{
    const qsizetype rowBytes = qsizetype(picture.width()) * 3;
    for (int top = 0, bottom = picture.height() - 1; top < bottom; ++top, --bottom) {
        uchar* upper = picture.scanLine(top);
        std::swap_ranges(upper, upper + rowBytes, picture.scanLine(bottom));
    }
}

// The orientation left after the quarter turn, by bits 1 and 2 of the code:
// half turn (2, 3), mirror (4, 5) or vertical flip (6, 7).
void orient(QImage& picture, std::int32_t orientation)
{
    switch (orientation & 6) {
    case 2:
        mirrorLeftToRight(picture);
        flipVertically(picture);
        break;
    case 4:
        mirrorLeftToRight(picture);
        break;
    case 6:
        flipVertically(picture);
        break;
    default:
        break;
    }
}

// White with a black one-pixel frame: the background the turned source is drawn on.
void paintFramedWhite(QImage& picture)
{
    picture.fill(Qt::white);
    const qsizetype rowBytes = qsizetype(picture.width()) * 3;
    std::memset(picture.scanLine(0), 0, std::size_t(rowBytes));
    std::memset(picture.scanLine(picture.height() - 1), 0, std::size_t(rowBytes));
    for (int y = 0; y < picture.height(); ++y) {
        uchar* row = picture.scanLine(y);
        std::memset(row, 0, 3);
        std::memset(row + rowBytes - 3, 0, 3);
    }
}

// target(x, y) = upright(y, upright.height() - 1 - x): upright turned a quarter
// turn clockwise. Works in bands of output rows so that the source is read in
// short runs and the target written along its rows.
void turnClockwise(const QImage& upright, QImage& target)
{
    constexpr int kBand = 16;
    const int last = upright.height() - 1;
    uchar* const bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    for (int top = 0; top < target.height(); top += kBand) {
        const int rows = std::min(kBand, target.height() - top);
        for (int x = 0; x < target.width(); ++x) {
            const uchar* from = upright.constScanLine(last - x) + qsizetype(top) * 3;
            uchar* to = bits + top * stride + qsizetype(x) * 3;
            for (int y = 0; y < rows; ++y, from += 3, to += stride)
                std::memcpy(to, from, 3);
        }
    }
}

} // namespace

void ApplyQuarterTurn(QImage& target, const CPicture& source, const ConversionSettings& settings)
{
    if ((settings.m_nOrientation & 1) == 0 || target.isNull())
        return;
    Q_ASSERT(target.format() == QImage::Format_BGR888);
    QImage upright(target.height(), target.width(), QImage::Format_BGR888);
    if (upright.isNull())
        return;
    if (settings.m_nBackground >= 0)
        upright.fill(QColor(QRgb(settings.m_nBackground)));
    else
        paintFramedWhite(upright);
    // Nothing drawn (no picture loaded) leaves the framed white to be turned.
    source.Render(&upright, PixelRect{0, 0, upright.width(), upright.height()}, false, false);
    turnClockwise(upright, target);
}

void ApplyAdjustments(QImage& picture, const ConversionSettings& settings,
                      const EffectHost* effects)
{
    if (picture.isNull())
        return;
    Q_ASSERT(picture.format() == QImage::Format_BGR888);
    adjustColours(picture, settings, effects);
    orient(picture, settings.m_nOrientation);
}

void ApplyHalfTurnOrMirror(QImage& picture, std::int32_t orientation)
{
    if (picture.isNull())
        return;
    Q_ASSERT(picture.format() == QImage::Format_BGR888);
    orient(picture, orientation);
}

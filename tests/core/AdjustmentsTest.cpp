// Colour adjustments and orientation of 24-bit pictures: the integer arithmetic
// of every step, clamping only at the end, padded rows, the eight orientation
// codes together with the quarter turn, and pictures left alone when nothing is
// selected.
#include "imaging/Adjustments.h"
#include "imaging/CPicture.h"
#include "effects/EffectHost.h"
#include "effekt/TwoEffects.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <ostream>
#include <random>
#include <vector>

namespace {

struct Rgb
{
    int r;
    int g;
    int b;
    bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rgb& c)
{
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Rgb pixelAt(const QImage& picture, int x, int y)
{
    const uchar* p = picture.constScanLine(y) + x * 3;
    return {p[2], p[1], p[0]};
}

void setPixel(QImage& picture, int x, int y, Rgb c)
{
    uchar* p = picture.scanLine(y) + x * 3;
    p[0] = uchar(c.b);
    p[1] = uchar(c.g);
    p[2] = uchar(c.r);
}

QImage rowOf(const std::vector<Rgb>& pixels)
{
    QImage picture(int(pixels.size()), 1, QImage::Format_BGR888);
    for (int x = 0; x < picture.width(); ++x)
        setPixel(picture, x, 0, pixels[std::size_t(x)]);
    return picture;
}

std::vector<Rgb> pixelsOf(const QImage& picture)
{
    std::vector<Rgb> pixels;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            pixels.push_back(pixelAt(picture, x, y));
    return pixels;
}

std::vector<Rgb> adjusted(const std::vector<Rgb>& pixels, const ConversionSettings& settings)
{
    QImage picture = rowOf(pixels);
    ApplyAdjustments(picture, settings, nullptr);
    return pixelsOf(picture);
}

QImage randomPicture(int width, int height, std::mt19937& random)
{
    QImage picture(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y)
        std::generate_n(picture.scanLine(y), width * 3, [&] { return uchar(random()); });
    return picture;
}

// The adjustments written out directly from their definition, pixel by pixel in
// 64-bit integers, to hold the tabled implementation against.
Rgb referenceAdjusted(Rgb in, const ConversionSettings& s)
{
    const double factor = double(s.m_nContrast) * s.m_nContrast * 0.0001;
    std::int64_t channels[3] = {in.r, in.g, in.b};
    for (std::int64_t& c : channels) {
        if (s.m_nBrightness != 0)
            c = c * (100 + std::int64_t(s.m_nBrightness)) / 100;
        if (s.m_nContrast != 0) {
            const auto d = std::int64_t((c - 128) * factor);
            c = s.m_nContrast > 0 ? c + d : c - d;
        }
    }
    if (s.m_bGrayscale != 0) {
        const std::int64_t mean = (channels[0] + channels[1] + channels[2]) / 3;
        std::fill(std::begin(channels), std::end(channels), mean);
    }
    const std::int64_t offsets[3] = {s.m_nRed, s.m_nGreen, s.m_nBlue};
    for (int i = 0; i < 3; ++i)
        channels[i] = std::clamp<std::int64_t>(channels[i] + offsets[i], 0, 255);
    return {int(channels[0]), int(channels[1]), int(channels[2])};
}

// Every pixel of `adjusted` against the reference applied to `source`.
void expectMatchesReference(const QImage& source, const QImage& adjusted,
                            const ConversionSettings& s)
{
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) {
            const Rgb in = pixelAt(source, x, y);
            ASSERT_EQ(pixelAt(adjusted, x, y), referenceAdjusted(in, s))
                << "pixel " << in << " brightness " << s.m_nBrightness << " contrast "
                << s.m_nContrast << " grey " << s.m_bGrayscale << " offsets " << s.m_nRed << ","
                << s.m_nGreen << "," << s.m_nBlue;
        }
}

// Only the pixel bytes: padding bytes of a row carry no meaning.
bool samePixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        if (!std::equal(a.constScanLine(y), a.constScanLine(y) + a.width() * 3, b.constScanLine(y)))
            return false;
    return true;
}

std::unique_ptr<CPicture> pictureFromPng(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    auto picture = std::make_unique<CPicture>();
    EXPECT_TRUE(picture->LoadFromMemory(png.constData(), png.size()));
    return picture;
}

// The output of a conversion for `orientation`, as the conversion does it: the
// quarter turn (or the plain drawing) while scaling, then the adjustments.
QImage oriented(const CPicture& source, int orientation)
{
    ConversionSettings settings;
    settings.m_nOrientation = orientation;
    const bool quarter = (orientation & 1) != 0;
    QImage target(quarter ? source.m_cyPixels : source.m_cxPixels,
                  quarter ? source.m_cxPixels : source.m_cyPixels, QImage::Format_BGR888);
    target.fill(Qt::blue);
    if (quarter)
        ApplyQuarterTurn(target, source, settings);
    else
        source.Render(&target, PixelRect{0, 0, target.width(), target.height()}, false, false);
    ApplyAdjustments(target, settings, nullptr);
    return target;
}

} // namespace

TEST(AdjustColours, BrightnessScalesEveryChannelTruncating)
{
    const std::vector<Rgb> in = {{10, 100, 200}, {255, 1, 0}, {201, 3, 99}};
    EXPECT_EQ(adjusted(in, {.m_nBrightness = -100}),
              (std::vector<Rgb>{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}));
    EXPECT_EQ(adjusted(in, {.m_nBrightness = 100}),
              (std::vector<Rgb>{{20, 200, 255}, {255, 2, 0}, {255, 6, 198}}));
    // 201 x 0.5 = 100.5 and 3 x 0.5 = 1.5 truncate.
    EXPECT_EQ(adjusted(in, {.m_nBrightness = -50}),
              (std::vector<Rgb>{{5, 50, 100}, {127, 0, 0}, {100, 1, 49}}));
}

TEST(AdjustColours, ContrastStretchesAboutTheMiddle)
{
    const std::vector<Rgb> in = {{50, 200, 128}, {100, 150, 0}};
    EXPECT_EQ(adjusted(in, {.m_nContrast = -50}),
              (std::vector<Rgb>{{69, 182, 128}, {107, 145, 32}}));
    // +50: 50 - 19.5 truncates to 50 - 19.
    EXPECT_EQ(adjusted(in, {.m_nContrast = 50}), (std::vector<Rgb>{{31, 218, 128}, {93, 155, 0}}));
    EXPECT_EQ(adjusted(in, {.m_nContrast = 100}), (std::vector<Rgb>{{0, 255, 128}, {72, 172, 0}}));
    EXPECT_EQ(adjusted(in, {.m_nContrast = -100}),
              (std::vector<Rgb>{{128, 128, 128}, {128, 128, 128}}));
}

TEST(AdjustColours, ClampsOnlyAtTheEnd)
{
    // 200 brightened by 50 is 300; contrast -50 works on 300 (300 - 43 = 257), not
    // on 255 (which would give 224), and the red offset on 300 too.
    EXPECT_EQ(adjusted({{200, 200, 200}}, {.m_nBrightness = 50, .m_nContrast = -50}),
              (std::vector<Rgb>{{255, 255, 255}}));
    EXPECT_EQ(adjusted({{200, 200, 200}}, {.m_nBrightness = 50, .m_nRed = -100, .m_nGreen = -50}),
              (std::vector<Rgb>{{200, 250, 255}}));
    // Below zero likewise: 100 - 150 = -50 stays -50 until the offset.
    EXPECT_EQ(adjusted({{100, 100, 100}}, {.m_nRed = -150, .m_nGreen = 60, .m_nBlue = 300}),
              (std::vector<Rgb>{{0, 160, 255}}));
    EXPECT_EQ(adjusted({{100, 0, 0}}, {.m_nBrightness = 100, .m_nContrast = -100, .m_nRed = -10}),
              (std::vector<Rgb>{{118, 128, 128}}));
}

TEST(AdjustColours, BlackAndWhiteIsThePlainMeanBeforeTheOffsets)
{
    EXPECT_EQ(adjusted({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}, {.m_bGrayscale = 1}),
              (std::vector<Rgb>{{85, 85, 85}, {85, 85, 85}, {85, 85, 85}}));
    EXPECT_EQ(adjusted({{255, 0, 0}}, {.m_nRed = 10, .m_bGrayscale = 1}),
              (std::vector<Rgb>{{95, 85, 85}}));
    // Brightness -150 makes (3, 3, 0) into (-1, -1, 0); the mean -2 / 3 truncates
    // to 0 (not -1), so the offsets of 1 show.
    EXPECT_EQ(
        adjusted(
            {{3, 3, 0}},
            {.m_nBrightness = -150, .m_nRed = 1, .m_nGreen = 1, .m_nBlue = 1, .m_bGrayscale = 1}),
        (std::vector<Rgb>{{1, 1, 1}}));
}

TEST(AdjustColours, MatchesTheDefinitionForRandomSettings)
{
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> value(-300, 300);
    std::uniform_int_distribution<int> coin(0, 2);
    // Each setting is off a third of the time, so every combination of steps occurs.
    const auto maybe = [&] { return coin(random) == 0 ? 0 : value(random); };
    const QImage source = randomPicture(61, 17, random);
    for (int round = 0; round < 300; ++round) {
        const ConversionSettings s{.m_nBrightness = maybe(),
                                   .m_nContrast = maybe(),
                                   .m_nRed = maybe(),
                                   .m_nGreen = maybe(),
                                   .m_nBlue = maybe(),
                                   .m_bGrayscale = coin(random) == 0 ? 1 : 0};
        QImage picture = source.copy();
        ApplyAdjustments(picture, s, nullptr);
        expectMatchesReference(source, picture, s);
        if (HasFatalFailure())
            return;
    }
}

TEST(AdjustColours, ExtremeSettingsNeitherOverflowNorLoseTheirSign)
{
    std::mt19937 random(7);
    const QImage source = randomPicture(256, 3, random);
    // Exact 64-bit results exist when brightness and contrast are not both huge.
    const std::int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -46341, -1000000, 1000000,
                                     46341,     INT32_MAX,     -101,   333};
    for (std::int32_t big : extremes)
        for (std::int32_t offset : {INT32_MIN, -300, 0, 200, INT32_MAX})
            for (int grey : {0, 1})
                for (bool onContrast : {false, true}) {
                    ConversionSettings s{.m_nRed = offset,
                                         .m_nGreen = offset / -3,
                                         .m_nBlue = 17,
                                         .m_bGrayscale = grey};
                    (onContrast ? s.m_nContrast : s.m_nBrightness) = big;
                    (onContrast ? s.m_nBrightness : s.m_nContrast) = onContrast ? 40 : -70;
                    QImage picture = source.copy();
                    ApplyAdjustments(picture, s, nullptr);
                    expectMatchesReference(source, picture, s);
                    if (HasFatalFailure())
                        return;
                }

    // Both huge: 0 becomes far negative, every other value far positive.
    const ConversionSettings both{.m_nBrightness = INT32_MAX, .m_nContrast = INT32_MAX};
    EXPECT_EQ(adjusted({{0, 1, 255}}, both), (std::vector<Rgb>{{0, 255, 255}}));
    // In black and white the far tones keep their sign against any offset.
    ConversionSettings bothGrey = both;
    bothGrey.m_bGrayscale = 1;
    bothGrey.m_nRed = INT32_MIN;
    bothGrey.m_nGreen = INT32_MAX;
    EXPECT_EQ(adjusted({{0, 1, 255}, {0, 0, 0}}, bothGrey),
              (std::vector<Rgb>{{255, 255, 255}, {0, 0, 0}}));
}

TEST(AdjustColours, PaddedRowsGiveTheSameResultAsPackedOnes)
{
    std::mt19937 random(101);
    const QImage wide = randomPicture(101, 9, random);
    ASSERT_NE(wide.bytesPerLine(), 101 * 3);
    const QImage packedSource = wide.copy(0, 0, 100, 9);
    ASSERT_EQ(packedSource.bytesPerLine(), 100 * 3);

    for (int grey : {0, 1}) {
        const ConversionSettings s{.m_nBrightness = 30,
                                   .m_nContrast = -70,
                                   .m_nRed = 12,
                                   .m_nGreen = -40,
                                   .m_nBlue = 5,
                                   .m_bGrayscale = grey};
        QImage padded = wide.copy();
        QImage packed = packedSource.copy();
        ApplyAdjustments(padded, s, nullptr);
        ApplyAdjustments(packed, s, nullptr);
        expectMatchesReference(wide, padded, s);
        EXPECT_TRUE(samePixels(padded.copy(0, 0, 100, 9), packed));
    }
}

TEST(AdjustColours, NothingSelectedLeavesThePictureUnchanged)
{
    std::mt19937 random(3);
    const QImage source = randomPicture(33, 7, random);
    EffectHost noLibraries;
    for (int orientation : {0, 1})
        for (int effect : {0, 1, 5}) {
            const ConversionSettings s{.m_nOrientation = orientation, .m_nEffect = effect};
            QImage picture = source.copy();
            ApplyAdjustments(picture, s, nullptr);
            EXPECT_TRUE(samePixels(picture, source)) << orientation << " " << effect;
            ApplyAdjustments(picture, s, &noLibraries);
            EXPECT_TRUE(samePixels(picture, source)) << orientation << " " << effect;
        }
    QImage empty;
    ApplyAdjustments(empty, {.m_nBrightness = 10, .m_nOrientation = 6}, nullptr);
    EXPECT_TRUE(empty.isNull());
}

TEST(AdjustOrientation, EveryCodeTurnsThenMirrors)
{
    // Distinct colours, and rows padded both ways round (15 and 9 bytes).
    constexpr int w = 5;
    constexpr int h = 3;
    const auto colourAt = [](int x, int y) {
        return Rgb{40 + 50 * x, 30 + 80 * y, 7 * x + 11 * y};
    };
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixelColor(x, y, QColor(colourAt(x, y).r, colourAt(x, y).g, colourAt(x, y).b));
    const auto source = pictureFromPng(image);

    // For each code, the source pixel that output (x, y) shows.
    using Map = QPoint (*)(int x, int y);
    const Map expected[8] = {
        [](int x, int y) { return QPoint(x, y); },                 // unchanged
        [](int x, int y) { return QPoint(y, h - 1 - x); },         // 90 degrees clockwise
        [](int x, int y) { return QPoint(w - 1 - x, h - 1 - y); }, // 180
        [](int x, int y) { return QPoint(w - 1 - y, x); },         // 270 clockwise
        [](int x, int y) { return QPoint(w - 1 - x, y); },         // mirrored
        [](int x, int y) { return QPoint(y, x); },                 // 90, mirrored: the diagonal
        [](int x, int y) { return QPoint(x, h - 1 - y); },         // 180, mirrored
        [](int x, int y) { return QPoint(w - 1 - y, h - 1 - x); }, // 270, mirrored
    };
    for (int code = 0; code < 8; ++code) {
        const QImage out = oriented(*source, code);
        ASSERT_EQ(out.size(), (code & 1) ? QSize(h, w) : QSize(w, h)) << "code " << code;
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x) {
                const QPoint from = expected[code](x, y);
                EXPECT_EQ(pixelAt(out, x, y), colourAt(from.x(), from.y()))
                    << "code " << code << " at " << x << "," << y;
            }
    }
}

TEST(AdjustOrientation, QuarterTurnShowsFramedWhiteWhereTheSourceIsTransparent)
{
    QImage clear(7, 4, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    const auto source = pictureFromPng(clear);
    ASSERT_TRUE(source->m_picture.hasAlphaChannel());

    QImage target(4, 7, QImage::Format_BGR888);
    target.fill(Qt::blue);
    ApplyQuarterTurn(target, *source, {.m_nOrientation = 3});
    for (int y = 0; y < target.height(); ++y)
        for (int x = 0; x < target.width(); ++x) {
            const bool frame =
                x == 0 || y == 0 || x == target.width() - 1 || y == target.height() - 1;
            EXPECT_EQ(pixelAt(target, x, y), (frame ? Rgb{0, 0, 0} : Rgb{255, 255, 255}))
                << x << "," << y;
        }

    // Without bit 0 the target is left alone.
    QImage untouched(4, 7, QImage::Format_BGR888);
    untouched.fill(Qt::blue);
    const QImage before = untouched.copy();
    for (int code : {0, 2, 4, 6}) {
        ApplyQuarterTurn(untouched, *source, {.m_nOrientation = code});
        EXPECT_TRUE(samePixels(untouched, before)) << "code " << code;
    }
}

// The selected effect runs once before the colour adjustments (phase 0) and once
// after them (phase 1), with its index inside its own library, on packed rows.
TEST(AdjustEffects, EffectRunsOncePerPhaseAroundTheAdjustments)
{
    const QString path = QStringLiteral(PICTAVO_BINARY_DIR "/TwoEffects.dll");
    ASSERT_TRUE(QFileInfo::exists(path)) << "the recording effects library is not built";
    EffectHost host;
    ASSERT_TRUE(host.LoadEffectPlugin(QFile::encodeName(path).constData()));
    QLibrary library(path);
    ASSERT_TRUE(library.load());
    const auto callNumber =
        reinterpret_cast<TwoEffectsCallNumberProc>(library.resolve("TwoEffectsCallNumber"));
    const auto lastCall =
        reinterpret_cast<TwoEffectsLastCallProc>(library.resolve("TwoEffectsLastCall"));
    ASSERT_NE(callNumber, nullptr);
    ASSERT_NE(lastCall, nullptr);

    // A grey picture with padded rows; brightness +50 lifts its bytes from 100.
    QImage picture(101, 9, QImage::Format_BGR888);
    picture.fill(QColor(100, 100, 100));
    ASSERT_NE(picture.bytesPerLine(), 101 * 3);
    const ConversionSettings brighter{.m_nBrightness = 50, .m_nEffect = 2};
    QImage expected = picture.copy();
    ApplyAdjustments(expected, {.m_nBrightness = 50}, nullptr);
    const int adjustedByte = expected.constScanLine(0)[0];
    ASSERT_NE(adjustedByte, 100);

    const int before = lastCall()->calls;
    ApplyAdjustments(picture, brighter, &host);
    ASSERT_EQ(lastCall()->calls, before + 2) << "the effect did not run exactly twice";
    const TwoEffectsCall first = *callNumber(before + 1);
    const TwoEffectsCall second = *callNumber(before + 2);
    EXPECT_EQ(first.index, 1); // effect 2 is "Zwei", index 1 of the library
    EXPECT_EQ(first.phase, 0);
    EXPECT_EQ(first.firstByte, 100) << "phase 0 came after the adjustments";
    EXPECT_EQ(second.index, 1);
    EXPECT_EQ(second.phase, 1);
    EXPECT_EQ(second.firstByte, adjustedByte) << "phase 1 came before the adjustments";
    for (const TwoEffectsCall& call : {first, second})
        EXPECT_EQ(call.rowBytes, 101 * 3) << "phase " << call.phase << " was handed padded rows";
    EXPECT_TRUE(samePixels(picture, expected));

    // Without adjustments the effect still runs, once per phase; without an
    // effect, or with a number past the last one, nothing is called.
    ApplyAdjustments(picture, {.m_nEffect = 1}, &host);
    ASSERT_EQ(lastCall()->calls, before + 4);
    EXPECT_EQ(callNumber(before + 3)->index, 0);
    EXPECT_EQ(callNumber(before + 3)->phase, 0);
    EXPECT_EQ(callNumber(before + 4)->phase, 1);
    for (const int effect : {0, 3})
        ApplyAdjustments(picture, {.m_nBrightness = 10, .m_nEffect = effect}, &host);
    EXPECT_EQ(lastCall()->calls, before + 4);
}

// Effekt's line drawing reads neighbouring rows, so it only gives the same result
// on padded rows as on packed ones when it is handed them packed.
TEST(AdjustEffects, EffectSeesPackedRows)
{
    const QString path = QStringLiteral(PICTAVO_BINARY_DIR "/" EFFEKT_LIBRARY_NAME);
    if (!QFileInfo::exists(path))
        GTEST_SKIP() << "Effekt is not built at " << path.toStdString();
    EffectHost host;
    ASSERT_TRUE(host.LoadEffectPlugin(QFile::encodeName(path).constData()));
    const int lines = int(host.effectNames().indexOf(QStringLiteral("Strich"))) + 1;
    ASSERT_GT(lines, 0);

    std::mt19937 random(5);
    const QImage source = randomPicture(101, 9, random);
    ASSERT_NE(source.bytesPerLine(), 101 * 3);
    std::vector<uchar> packedBytes(101 * 3 * 9);
    for (int y = 0; y < 9; ++y)
        std::copy_n(source.constScanLine(y), 101 * 3, packedBytes.data() + y * 101 * 3);
    QImage packed(packedBytes.data(), 101, 9, 101 * 3, QImage::Format_BGR888);
    ASSERT_EQ(packed.bytesPerLine(), 101 * 3);
    const ConversionSettings withLines{.m_nContrast = 30, .m_nEffect = lines};
    QImage padded = source.copy();
    ApplyAdjustments(padded, withLines, &host);
    ApplyAdjustments(packed, withLines, &host);
    EXPECT_TRUE(samePixels(padded, packed));
    QImage withoutEffect = source.copy();
    ApplyAdjustments(withoutEffect, {.m_nContrast = 30}, nullptr);
    EXPECT_FALSE(samePixels(padded, withoutEffect));
}

// Drawing a picture into a 24-bit picture: the keep-aspect and centre arithmetic,
// the 1-pixel minimum, resampling without aliasing and transparency; the
// Lanczos-3 resampler against a double-precision one.
#include "imaging/CPicture.h"
#include "imaging/LanczosResampler.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <vector>

namespace {

std::unique_ptr<CPicture> pictureOf(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    auto picture = std::make_unique<CPicture>();
    EXPECT_TRUE(picture->LoadFromMemory(png.constData(), png.size()));
    return picture;
}

QImage filled(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_BGR888);
    image.fill(colour);
    return image;
}

// The rectangle of pixels in `target` that differ from `background`.
QRect paintedArea(const QImage& target, QColor background)
{
    QRect area;
    for (int y = 0; y < target.height(); ++y)
        for (int x = 0; x < target.width(); ++x)
            if (target.pixelColor(x, y) != background)
                area |= QRect(x, y, 1, 1);
    return area;
}

} // namespace

TEST(PictureRender, KeepAspectAndCentreFollowTheIntegerArithmetic)
{
    struct Case
    {
        QSize picture;
        PixelRect rect;
        bool centre;
        QRect painted;
    };
    const Case cases[] = {
        // Width limits (ties too): height = dx * H / W, top = (top + bottom - height) / 2.
        {{200, 100}, {0, 0, 400, 400}, true, QRect(0, 100, 400, 200)},
        {{200, 100}, {0, 0, 200, 100}, true, QRect(0, 0, 200, 100)},
        {{200, 100}, {0, 0, 400, 400}, false, QRect(0, 0, 400, 200)},
        // Height limits: width = dy * W / H, truncated.
        {{100, 200}, {0, 0, 400, 400}, true, QRect(100, 0, 200, 400)},
        {{3, 7}, {0, 0, 10, 10}, true, QRect(3, 0, 4, 10)},
        {{3, 7}, {5, 5, 15, 15}, true, QRect(8, 5, 4, 10)},
    };
    for (const Case& c : cases) {
        const auto picture = pictureOf(filled(c.picture.width(), c.picture.height(), Qt::white)
                                           .convertToFormat(QImage::Format_RGB32));
        QImage target = filled(40 * 10, 40 * 10, Qt::blue);
        ASSERT_TRUE(picture->Render(&target, c.rect, true, c.centre));
        EXPECT_EQ(paintedArea(target, Qt::blue), c.painted)
            << c.picture.width() << "x" << c.picture.height() << " into " << c.rect.left << ","
            << c.rect.top << "," << c.rect.right << "," << c.rect.bottom;
    }
}

TEST(PictureRender, EmptyOrInvertedRectanglesStillDrawOnePixel)
{
    const auto picture = pictureOf(filled(8, 8, Qt::white));
    for (const PixelRect rect : {PixelRect{3, 3, 3, 3}, PixelRect{3, 3, 1, 0}}) {
        QImage target = filled(10, 10, Qt::blue);
        ASSERT_TRUE(picture->Render(&target, rect, false, false));
        EXPECT_EQ(paintedArea(target, Qt::blue), QRect(3, 3, 1, 1));
    }
}

TEST(PictureRender, StretchesToExactlyTheRectangleAndClipsToTheTarget)
{
    QImage source(4, 2, QImage::Format_RGB32);
    source.fill(Qt::red);
    for (int y = 0; y < 2; ++y)
        for (int x = 2; x < 4; ++x)
            source.setPixelColor(x, y, Qt::green);
    const auto picture = pictureOf(source);
    QImage target = filled(30, 30, Qt::blue);
    ASSERT_TRUE(picture->Render(&target, {15, 10, 35, 20}, false, false));
    EXPECT_EQ(paintedArea(target, Qt::blue), QRect(15, 10, 15, 10));
    // Near the middle, the filter's lobes tint the colours a little.
    EXPECT_NEAR(target.pixelColor(16, 15).red(), 255, 10);
    EXPECT_NEAR(target.pixelColor(16, 15).green(), 0, 10);
    EXPECT_NEAR(target.pixelColor(28, 15).red(), 0, 10);
    EXPECT_NEAR(target.pixelColor(28, 15).green(), 255, 10);
}

TEST(PictureRender, ShrinkingAFineCheckerboardGivesEvenGrey)
{
    QImage board(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            board.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    const auto picture = pictureOf(board);
    for (const int size : {32, 16}) {
        QImage target = filled(size, size, Qt::blue);
        ASSERT_TRUE(picture->Render(&target, {0, 0, size, size}, false, false));
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QColor c = target.pixelColor(x, y);
                // The filter's lobes reach past the edges, where it is cut
                // short and renormalised, so the outer rows are not quite even.
                const bool edge = std::min({x, y, size - 1 - x, size - 1 - y}) < 3;
                const int tolerance = edge ? 6 : 2;
                ASSERT_NEAR(c.red(), 128, tolerance) << size << " at " << x << "," << y;
                ASSERT_NEAR(c.green(), 128, tolerance);
                ASSERT_NEAR(c.blue(), 128, tolerance);
            }
    }
}

TEST(PictureRender, TransparentPartsKeepWhatTheTargetHeld)
{
    QImage source(10, 10, QImage::Format_ARGB32);
    source.fill(Qt::transparent);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 5; ++x)
            source.setPixelColor(x, y, Qt::green);
    const auto picture = pictureOf(source);
    QImage target = filled(10, 10, Qt::red);
    ASSERT_TRUE(picture->Render(&target, {0, 0, 10, 10}, false, false));
    EXPECT_EQ(target.pixelColor(1, 5), QColor(Qt::green));
    EXPECT_EQ(target.pixelColor(8, 5), QColor(Qt::red));
}

TEST(PictureRender, NothingToDrawOrNowhereToDrawIsRefused)
{
    CPicture empty;
    QImage target = filled(4, 4, Qt::blue);
    EXPECT_FALSE(empty.Render(&target, {0, 0, 4, 4}, false, false));
    const auto picture = pictureOf(filled(4, 4, Qt::white));
    EXPECT_FALSE(picture->Render(nullptr, {0, 0, 4, 4}, false, false));
    QImage null;
    EXPECT_FALSE(picture->Render(&null, {0, 0, 4, 4}, false, false));
    EXPECT_EQ(paintedArea(target, Qt::blue), QRect());
}

namespace {

double lanczos3(double x)
{
    const auto sinc = [](double t) {
        return t == 0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
    };
    return std::abs(x) < 3 ? sinc(x) * sinc(x / 3) : 0.0;
}

// Weights[i][j]: how much source sample j gives target sample i; the part of
// the filter beyond the edges is left out and the rest renormalised.
std::vector<std::vector<double>> referenceWeights(int from, int to)
{
    const double scale = double(from) / to;
    const double stretch = std::max(1.0, scale);
    std::vector<std::vector<double>> weights(static_cast<size_t>(to),
                                             std::vector<double>(static_cast<size_t>(from)));
    for (int i = 0; i < to; ++i) {
        double sum = 0;
        for (int j = 0; j < from; ++j)
            sum += weights[i][j] = lanczos3((j + 0.5 - (i + 0.5) * scale) / stretch);
        for (double& w : weights[i])
            w /= sum;
    }
    return weights;
}

// Channel `c` (0..3 in memory order) of `source` resampled to `size` in doubles.
std::vector<double> referenceResample(const QImage& source, QSize size, int c)
{
    const auto across = referenceWeights(source.width(), size.width());
    const auto down = referenceWeights(source.height(), size.height());
    std::vector<double> rows(size_t(source.height()) * size.width());
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            for (int j = 0; j < source.width(); ++j)
                rows[y * size.width() + x] += across[x][j] * source.constScanLine(y)[j * 4 + c];
    std::vector<double> out(size_t(size.width()) * size.height());
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            for (int j = 0; j < source.height(); ++j)
                out[y * size.width() + x] += down[y][j] * rows[j * size.width() + x];
    return out;
}

QImage generated(QSize size, QImage::Format format, const std::function<QRgb(int, int)>& pixel)
{
    QImage image(size, format);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            reinterpret_cast<QRgb*>(image.scanLine(y))[x] = pixel(x, y);
    return image;
}

// cos(pi k r^2) about the top-left corner: the local frequency k r rises to half
// a cycle per pixel at the far end of the top row.
QImage zonePlate(int side)
{
    const double k = 0.5 / side;
    return generated({side, side}, QImage::Format_RGB32, [k](int x, int y) {
        const int v =
            int(std::lround(127.5 + 127 * std::cos(std::numbers::pi * k * (x * x + y * y))));
        return qRgb(v, v, v);
    });
}

} // namespace

TEST(LanczosResampler, FollowsTheDoublePrecisionFilterWithinOneLevel)
{
    const QImage edge = generated({37, 29}, QImage::Format_RGB32, [](int x, int y) {
        return x + y / 3 < 18 ? qRgb(10, 200, 30) : qRgb(240, 20, 128);
    });
    const QImage plate = zonePlate(64);
    const struct
    {
        const QImage* source;
        QSize size;
    } cases[] = {{&edge, {11, 9}},   {&edge, {18, 29}},  {&edge, {80, 50}},
                 {&plate, {16, 16}}, {&plate, {23, 41}}, {&plate, {100, 70}}};
    for (const auto& test : cases) {
        const QImage result = resampleLanczos3(*test.source, test.size);
        ASSERT_EQ(result.size(), test.size);
        for (int c = 0; c < 3; ++c) {
            const std::vector<double> expected = referenceResample(*test.source, test.size, c);
            for (int y = 0; y < test.size.height(); ++y)
                for (int x = 0; x < test.size.width(); ++x) {
                    const double want = std::clamp(expected[y * test.size.width() + x], 0.0, 255.0);
                    ASSERT_NEAR(result.constScanLine(y)[x * 4 + c], want, 1.0)
                        << test.size.width() << "x" << test.size.height() << " at " << x << "," << y
                        << " channel " << c;
                }
        }
    }
}

TEST(LanczosResampler, AFlatFieldStaysExactlyFlat)
{
    for (const QRgb colour : {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(1, 254, 77)})
        for (const QSize size : {QSize(7, 300), QSize(250, 3), QSize(1, 1), QSize(999, 401)}) {
            QImage source(123, 89, QImage::Format_RGB32);
            source.fill(colour);
            const QImage result = resampleLanczos3(source, size);
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    ASSERT_EQ(reinterpret_cast<const QRgb*>(result.constScanLine(y))[x],
                              colour | 0xff000000u)
                        << size.width() << "x" << size.height() << " at " << x << "," << y;
        }
}

// A zone plate shrunk four times: the rings between 0.8 and 1.2 cycles per
// result pixel are too fine to keep and must not come back as moiré, the rings
// at 0.3 cycles must keep most of their contrast (of 127).
TEST(LanczosResampler, DetailBeyondTheResultsReachDoesNotAlias)
{
    constexpr int kSide = 512;
    constexpr int kResult = kSide / 4;
    const QImage result = resampleLanczos3(zonePlate(kSide), {kResult, kResult});
    // sqrt(2) times the RMS about the mean: a sine's amplitude.
    const auto bandAmplitude = [&](double low, double high) {
        double sum = 0, squares = 0;
        int count = 0;
        for (int y = 3; y < kResult - 3; ++y)
            for (int x = 3; x < kResult - 3; ++x) {
                const double cycles = 4 * std::hypot(4 * x + 2, 4 * y + 2) * 0.5 / kSide;
                if (cycles < low || cycles > high)
                    continue;
                const double value = result.constScanLine(y)[x * 4];
                sum += value;
                squares += value * value;
                ++count;
            }
        return std::sqrt(2 * (squares / count - (sum / count) * (sum / count)));
    };
    EXPECT_LE(bandAmplitude(0.8, 1.2), 3);
    EXPECT_GE(bandAmplitude(0.28, 0.32), 100);
}

TEST(LanczosResampler, PremultipliedColourNeverExceedsAlpha)
{
    // Half-transparent white stripes between opaque black ones: beside each
    // edge the colour's lobe rises where the alpha's dips.
    const QImage source =
        generated({45, 45}, QImage::Format_ARGB32_Premultiplied, [](int x, int) -> QRgb {
            return (x / 3) % 2 ? qRgba(128, 128, 128, 128) : qRgba(0, 0, 0, 255);
        });
    for (const QSize size : {QSize(13, 17), QSize(90, 60)}) {
        const QImage result = resampleLanczos3(source, size);
        ASSERT_EQ(result.format(), QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const uchar* pixel = result.constScanLine(y) + x * 4;
                for (int c = 0; c < 3; ++c)
                    ASSERT_LE(pixel[c], pixel[3]) << x << "," << y;
            }
    }
}

// Drawing a picture into a 24-bit picture: the keep-aspect and centre arithmetic,
// the 1-pixel minimum, resampling without aliasing and transparency.
#include "imaging/CPicture.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>

#include <memory>

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
        const auto picture = pictureOf(filled(c.picture.width(), c.picture.height(), Qt::white).convertToFormat(QImage::Format_RGB32));
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
    EXPECT_EQ(target.pixelColor(16, 15), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(28, 15), QColor(Qt::green));
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
                ASSERT_NEAR(c.red(), 128, 2) << size << " at " << x << "," << y;
                ASSERT_NEAR(c.green(), 128, 2);
                ASSERT_NEAR(c.blue(), 128, 2);
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

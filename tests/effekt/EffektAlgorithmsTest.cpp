// Effekt's effect table and its effects, checked through the library's exports
// against the plain implementations in EffectReference.h.
#include "EffektLibrary.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>

using reference::Picture;
using reference::samePixels;

namespace {

Picture filled(int width, int height, std::array<unsigned char, 3> pixel)
{
    Picture picture(width, height);
    reference::forEachByte(
        picture, [&](int x, int y, int c) { picture.at(x, y, c) = pixel[std::size_t(c)]; });
    return picture;
}

Picture randomPicture(int width, int height, unsigned seed = 1)
{
    std::mt19937 random(seed);
    return reference::randomPicture(width, height, reference::Values::Full, random);
}

std::string nameOf(int index)
{
    std::array<char, 256> buffer;
    buffer.fill('x');
    effekt()->getName(index, buffer.data());
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

bool changes(int index, const Picture& picture, int phase)
{
    return !samePixels(picture, runEffekt(index, picture, phase));
}

} // namespace

TEST(EffektTable, AnnouncesEightEffectsInOrder)
{
    REQUIRE_EFFEKT();
    EXPECT_EQ(effekt()->effectCount, 8);
    for (int index = 0; index < 9; ++index)
        EXPECT_EQ(nameOf(index), reference::effects()[std::size_t(index)].name)
            << "index " << index;

    EffectHost host;
    ASSERT_TRUE(host.LoadEffectPlugin());
    const QStringList names = host.effectNames();
    EXPECT_EQ(names.size(), 8);
    EXPECT_FALSE(names.contains(QStringLiteral("Test")));
    EXPECT_EQ(names.front(), QStringLiteral("Strich"));
    EXPECT_EQ(names.back(), QStringLiteral("Goblin"));
}

TEST(EffektTable, IndicesOutsideTheTableAreUnknown)
{
    REQUIRE_EFFEKT();
    EXPECT_EQ(nameOf(9), "Unbekannt");
    EXPECT_EQ(nameOf(-1), "Unbekannt");

    const Picture picture = randomPicture(7, 5);
    for (const int index : {9, -1, 1000})
        for (const int phase : {0, 1})
            EXPECT_TRUE(samePixels(picture, runEffekt(index, picture, phase))) << "index " << index;
}

TEST(EffektTable, UnannouncedEffectEightWorksWhenCalled)
{
    REQUIRE_EFFEKT();
    const Picture picture = randomPicture(9, 4);
    const Picture result = runEffekt(8, picture, 0);
    EXPECT_TRUE(changes(8, picture, 0));
    EXPECT_TRUE(samePixels(reference::threshold(picture), result));
}

// Every effect works in the phases of its parts and leaves the block untouched in
// the other one; on a random picture each of them changes something.
TEST(EffektTable, EffectsWorkOnlyInTheirPhases)
{
    REQUIRE_EFFEKT();
    // Bit p set: the effect works in phase p.
    constexpr std::array<int, 9> kPhases{0b01, 0b01, 0b11, 0b10, 0b10, 0b01, 0b01, 0b01, 0b01};
    const Picture picture = randomPicture(8, 6);
    for (int index = 0; index < 9; ++index) {
        SCOPED_TRACE(nameOf(index));
        for (const int phase : {0, 1}) {
            const bool works = ((kPhases[std::size_t(index)] >> phase) & 1) != 0;
            EXPECT_EQ(works, changes(index, picture, phase)) << "phase " << phase;
        }
    }
}

// Each effect in both phases against the reference, on random pictures of many
// shapes: thin ones where the neighbour rules break down, sizes around the
// block and chunk boundaries of the library's loops, odd and even widths.
class EffektAlgorithms : public testing::TestWithParam<int>
{
};

TEST_P(EffektAlgorithms, MatchesReference)
{
    REQUIRE_EFFEKT();
    constexpr int kWidths[] = {1, 1, 9, 2, 2, 7, 3, 3, 8, 4, 5, 13, 10, 3, 33, 64, 101, 2};
    constexpr int kHeights[] = {1, 9, 1, 2, 7, 2, 3, 8, 3, 4, 7, 9, 11, 40, 5, 6, 7, 1};
    static_assert(std::size(kWidths) == std::size(kHeights));
    const int index = GetParam();
    std::mt19937 random(unsigned(index) + 17);
    for (std::size_t size = 0; size < std::size(kWidths); ++size) {
        const int width = kWidths[size];
        const int height = kHeights[size];
        for (const auto values :
             {reference::Values::Full, reference::Values::Close, reference::Values::Extremes})
            for (const int phase : {0, 1}) {
                const Picture picture = reference::randomPicture(width, height, values, random);
                EXPECT_TRUE(samePixels(reference::run(index, picture, phase),
                                       runEffekt(index, picture, phase)))
                    << width << " x " << height << ", values " << int(values) << ", phase "
                    << phase;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(AllEffects, EffektAlgorithms, testing::Range(0, 9),
                         [](const testing::TestParamInfo<int>& info) {
                             std::string name = reference::effects()[std::size_t(info.param)].name;
                             std::erase(name, ' ');
                             return name;
                         });

TEST(EffektEdgeCases, LineDrawingOfAUniformPicture)
{
    REQUIRE_EFFEKT();
    const Picture result = runEffekt(0, filled(6, 5, {10, 200, 77}), 0);
    reference::forEachByte(result, [&](int x, int y, int c) {
        const bool border = x == 0 || y == 0 || x == 5 || y == 4;
        EXPECT_EQ(result.at(x, y, c), border ? 0 : 128) << x << ", " << y;
    });
}

TEST(EffektEdgeCases, LineDrawingOfASingleBrightPixel)
{
    REQUIRE_EFFEKT();
    Picture picture = filled(5, 5, {0, 0, 0});
    for (int c = 0; c < 3; ++c)
        picture.at(2, 2, c) = 200;
    const Picture result = runEffekt(0, picture, 0);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(result.at(2, 2, c), 255);
        EXPECT_EQ(result.at(1, 2, c), 0);
        EXPECT_EQ(result.at(3, 2, c), 0);
        EXPECT_EQ(result.at(2, 1, c), 0);
        EXPECT_EQ(result.at(2, 3, c), 0);
    }
}

// Blurring keeps linear ramps, so the picture rises with the square of x: the
// middle column (20 + y) becomes the mean (0 + 20 + 80) / 3 + y, rounded down.
TEST(EffektEdgeCases, BoxBlurOfAPictureThreeWide)
{
    REQUIRE_EFFEKT();
    Picture picture(3, 6);
    reference::forEachByte(picture, [&](int x, int y, int c) {
        picture.at(x, y, c) = static_cast<unsigned char>(20 * x * x + y + c);
    });
    const Picture result = runEffekt(5, picture, 0);
    reference::forEachByte(result, [&](int x, int y, int c) {
        const bool inner = x == 1 && y >= 1 && y <= 4;
        EXPECT_EQ(result.at(x, y, c), inner ? 33 + y + c : picture.at(x, y, c)) << x << ", " << y;
    });
}

TEST(EffektEdgeCases, InvertTwiceRestoresThePicture)
{
    REQUIRE_EFFEKT();
    const Picture picture = randomPicture(11, 3);
    const Picture once = runEffekt(3, picture, 1);
    EXPECT_EQ(once.at(4, 1, 2), 255 - picture.at(4, 1, 2));
    EXPECT_TRUE(samePixels(picture, runEffekt(3, once, 1)));
}

TEST(EffektEdgeCases, FewColoursKeepsTheTopThreeBits)
{
    REQUIRE_EFFEKT();
    const Picture picture = filled(3, 3, {31, 32, 255});
    const Picture result = runEffekt(4, picture, 1);
    EXPECT_EQ(result.at(1, 1, 0), 0);
    EXPECT_EQ(result.at(1, 1, 1), 32);
    EXPECT_EQ(result.at(1, 1, 2), 224);
    reference::forEachByte(result, [&](int x, int y, int c) {
        if (x != 1 || y != 1) {
            EXPECT_EQ(result.at(x, y, c), picture.at(x, y, c)) << "frame pixel " << x << ", " << y;
        }
    });
    for (const auto& [width, height] : {std::pair{2, 6}, {6, 2}}) {
        const Picture thin = filled(width, height, {31, 100, 255});
        EXPECT_TRUE(samePixels(thin, runEffekt(4, thin, 1)));
    }
}

TEST(EffektEdgeCases, ReliefOfAUniformGreyPicture)
{
    REQUIRE_EFFEKT();
    for (const int v : {0, 100, 171, 200, 255}) {
        const auto grey = static_cast<unsigned char>(v);
        const Picture result = runEffekt(6, filled(5, 4, {grey, grey, grey}), 0);
        reference::forEachByte(result, [&](int x, int y, int c) {
            EXPECT_EQ(result.at(x, y, c), y < 3 ? 128 : std::clamp(3 * v - 512, 0, 255))
                << "grey " << v << " at " << x << ", " << y;
        });
    }
}

TEST(EffektEdgeCases, HalftoneOfWhiteGreyAndBlackBlocks)
{
    REQUIRE_EFFEKT();
    // One block (x = 0); the last column lies in none and keeps its value.
    const auto block = [](unsigned char value) {
        return runEffekt(7, filled(3, 2, {value, value, value}), 0);
    };
    const Picture white = block(255);
    const Picture grey = block(128);
    const Picture black = block(0);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(white.at(0, 0, c), 0);
        EXPECT_EQ(white.at(1, 0, c), 255);
        EXPECT_EQ(white.at(0, 1, c), 255);
        EXPECT_EQ(white.at(1, 1, c), 255);
        EXPECT_EQ(white.at(2, 0, c), 255);
        // s = 512: top right at 1024 - 1020, bottom right at 516, bottom left at 1028.
        EXPECT_EQ(grey.at(0, 0, c), 0);
        EXPECT_EQ(grey.at(1, 0, c), 255);
        EXPECT_EQ(grey.at(1, 1, c), 0);
        EXPECT_EQ(grey.at(0, 1, c), 255);
    }
    EXPECT_TRUE(samePixels(filled(3, 2, {0, 0, 0}), black));
}

TEST(EffektEdgeCases, ThresholdOfRisingValues)
{
    REQUIRE_EFFEKT();
    for (const int first : {100, 128, 129}) {
        Picture picture(4, 5);
        reference::forEachByte(picture, [&](int x, int y, int c) {
            picture.at(x, y, c) = static_cast<unsigned char>(first + y * 4 + x);
        });
        const Picture result = runEffekt(8, picture, 0);
        reference::forEachByte(result, [&](int x, int y, int c) {
            const bool isFirst = x == 0 && y == 0;
            EXPECT_EQ(result.at(x, y, c), isFirst && first <= 128 ? 255 : 0)
                << first << " at " << x << ", " << y;
        });
    }
}

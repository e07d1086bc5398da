// Effekt's effects written out pixel by pixel from their defining formulas, as
// slowly and plainly as possible, to check the library's optimised code against.
#pragma once

#include "EffectImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <random>
#include <utility>
#include <vector>

namespace reference {

// A packed picture as the host hands it over: rows of width * 3 bytes, top row
// first, no padding. The block has exactly the picture's size, so that
// AddressSanitizer reports any byte an effect touches outside it.
struct Picture
{
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bytes;

    Picture(int w, int h) : width(w), height(h), bytes(std::size_t(w) * std::size_t(h) * 3) {}

    unsigned char& at(int x, int y, int c) { return bytes[(std::size_t(y) * width + x) * 3 + c]; }
    int at(int x, int y, int c) const { return bytes[(std::size_t(y) * width + x) * 3 + c]; }
    EffectImage image() const { return EffectImage{width * 3, 0, width, height}; }
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

// Calls f(x, y, channel) for every byte in memory order.
template <typename F> void forEachByte(const Picture& picture, F f)
{
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            for (int c = 0; c < 3; ++c)
                f(x, y, c);
}

inline unsigned char clampByte(int value)
{
    return static_cast<unsigned char>(std::clamp(value, 0, 255));
}

// Below 2 pixels in either direction the neighbour rules do not apply; such a
// picture is left as it is.
inline Picture lineDrawing(const Picture& in)
{
    Picture out = in;
    if (in.width < 2 || in.height < 2)
        return out;
    forEachByte(in, [&](int x, int y, int c) {
        int sum = 0;
        int count = 0;
        for (const auto& [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}}) {
            if (in.inside(x + dx, y + dy)) {
                sum += in.at(x + dx, y + dy, c);
                ++count;
            }
        }
        const int mean = sum / count;
        const int value = in.at(x, y, c);
        const bool border = x == 0 || y == 0 || x == in.width - 1 || y == in.height - 1;
        out.at(x, y, c) = mean < value ? 255 : (mean > value || border) ? 0 : 128;
    });
    return out;
}

inline Picture boxBlur(const Picture& in)
{
    Picture out = in;
    for (int y = 1; y < in.height - 1; ++y)
        for (int x = 1; x < in.width - 1; ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        sum += in.at(x + dx, y + dy, c);
                out.at(x, y, c) = static_cast<unsigned char>(sum / 9);
            }
    return out;
}

inline Picture invert(const Picture& in)
{
    Picture out = in;
    forEachByte(in, [&](int x, int y, int c) {
        out.at(x, y, c) = static_cast<unsigned char>(255 - in.at(x, y, c));
    });
    return out;
}

// Only the inner pixels; the one-pixel frame keeps its values.
inline Picture fewColours(const Picture& in)
{
    Picture out = in;
    for (int y = 1; y < in.height - 1; ++y)
        for (int x = 1; x < in.width - 1; ++x)
            for (int c = 0; c < 3; ++c)
                out.at(x, y, c) = static_cast<unsigned char>(in.at(x, y, c) & 0xE0);
    return out;
}

// The partner of (x, y) is (x + 1, y + 1); at the end of a row it is the first
// pixel two rows down. The last pixel of the row above the last has no partner
// inside the block and is paired with itself.
inline Picture relief(const Picture& in)
{
    Picture out = in;
    for (int y = 0; y + 1 < in.height; ++y)
        for (int x = 0; x < in.width; ++x)
            for (int c = 0; c < 3; ++c) {
                int partner = in.at(x, y, c);
                if (x + 1 < in.width)
                    partner = in.at(x + 1, y + 1, c);
                else if (y + 2 < in.height)
                    partner = in.at(0, y + 2, c);
                out.at(x, y, c) = clampByte(in.at(x, y, c) - partner + 128);
            }
    const int last = in.height - 1;
    for (int x = 0; x < in.width; ++x) {
        const unsigned char grey =
            clampByte(in.at(x, last, 0) + in.at(x, last, 1) + in.at(x, last, 2) - 512);
        for (int c = 0; c < 3; ++c)
            out.at(x, last, c) = grey;
    }
    return out;
}

inline Picture blockHalftone(const Picture& in)
{
    Picture out = in;
    for (int y = 0; y < in.height - 1; y += 2)
        for (int x = 0; x < in.width - 2; x += 2)
            for (int c = 0; c < 3; ++c) {
                const int s = in.at(x, y, c) + in.at(x + 1, y, c) + in.at(x, y + 1, c) +
                              in.at(x + 1, y + 1, c);
                int e = s;
                out.at(x, y, c) = 0;
                for (const auto& [dx, dy] : {std::pair{1, 0}, {1, 1}, {0, 1}}) {
                    e += s;
                    const bool white = e > 1019;
                    out.at(x + dx, y + dy, c) = white ? 255 : 0;
                    if (white)
                        e -= 1020;
                }
            }
    return out;
}

inline Picture threshold(const Picture& in)
{
    Picture out = in;
    int previous[3] = {128, 128, 128};
    forEachByte(in, [&](int x, int y, int c) {
        out.at(x, y, c) = in.at(x, y, c) <= previous[c] ? 255 : 0;
        previous[c] = in.at(x, y, c);
    });
    return out;
}

using Step = Picture (*)(const Picture&);

struct Effect
{
    const char* name;
    std::vector<Step> phase0;
    std::vector<Step> phase1;
};

// Effekt's table: what each index does in phase 0 and in phase 1.
inline const std::array<Effect, 9>& effects()
{
    static const std::array<Effect, 9> table{{
        {"Strich", {lineDrawing}, {}},
        {"Strichzeichnen 2", {boxBlur, lineDrawing}, {}},
        {"Strichzeichnen 3", {boxBlur, boxBlur, lineDrawing}, {fewColours}},
        {"Negativ", {}, {invert}},
        {"Wenig Farben", {}, {fewColours}},
        {"Weichzeichnen", {boxBlur}, {}},
        {"Hammerschlag", {relief}, {}},
        {"Goblin", {blockHalftone}, {}},
        {"Test", {threshold}, {}},
    }};
    return table;
}

inline Picture run(int index, Picture picture, int phase)
{
    const Effect& effect = effects()[std::size_t(index)];
    for (const Step step : phase == 0 ? effect.phase0 : effect.phase1)
        picture = step(picture);
    return picture;
}

// Random pictures: full-range values, values so close together that equal
// neighbours and equal means are common, or only black and white.
enum class Values
{
    Full,
    Close,
    Extremes
};

inline Picture randomPicture(int width, int height, Values values, std::mt19937& random)
{
    Picture picture(width, height);
    std::uniform_int_distribution<int> full(0, 255);
    std::uniform_int_distribution<int> close(100, 103);
    std::bernoulli_distribution white;
    for (unsigned char& byte : picture.bytes) {
        switch (values) {
        case Values::Full:
            byte = static_cast<unsigned char>(full(random));
            break;
        case Values::Close:
            byte = static_cast<unsigned char>(close(random));
            break;
        case Values::Extremes:
            byte = white(random) ? 255 : 0;
            break;
        }
    }
    return picture;
}

// Equal pictures, or the first byte where they differ.
inline testing::AssertionResult samePixels(const Picture& expected, const Picture& actual)
{
    if (expected.width != actual.width || expected.height != actual.height)
        return testing::AssertionFailure() << "the pictures differ in size";
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            for (int c = 0; c < 3; ++c)
                if (expected.at(x, y, c) != actual.at(x, y, c))
                    return testing::AssertionFailure()
                           << "first difference at (" << x << ", " << y << ") channel " << c
                           << ": expected " << expected.at(x, y, c) << ", got "
                           << actual.at(x, y, c);
    return testing::AssertionSuccess();
}

} // namespace reference

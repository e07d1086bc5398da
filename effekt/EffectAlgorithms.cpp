#include "EffectAlgorithms.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace effekt {
namespace {

// Row loops run in chunks of this many bytes. The loop over one chunk has a
// constant count and gathers its results in a local array, so the compiler turns
// it into vector code at -O2 without checking whether the pointers overlap.
constexpr std::size_t kChunk = 32;

// Stores valueAt(i) into dst[i] for every i in [begin, end), in increasing order.
// A chunk computes all its values before it stores any, and every store at i
// comes after the values up to i are computed: valueAt(i) may therefore read dst
// at any index from i on and still sees the values from before the call.
template <typename T, typename ValueAt>
void storeEach(T* dst, std::size_t begin, std::size_t end, ValueAt valueAt)
{
    std::size_t i = begin;
    for (; i + kChunk <= end; i += kChunk) {
        T values[kChunk];
        for (std::size_t k = 0; k < kChunk; ++k)
            values[k] = static_cast<T>(valueAt(i + k));
        std::memcpy(dst + i, values, sizeof values);
    }
    for (; i < end; ++i)
        dst[i] = static_cast<T>(valueAt(i));
}

int clampByte(int value)
{
    return std::clamp(value, 0, 255);
}

// s / 9 for every sum of nine bytes, as a multiplication and a shift.
constexpr unsigned kNinth = 7282;
constexpr unsigned kMaxNineSum = 9 * 255;

constexpr bool ninthIsExact()
{
    for (unsigned s = 0; s <= kMaxNineSum; ++s) {
        if (((s * kNinth) >> 16) != s / 9)
            return false;
    }
    return true;
}
static_assert(ninthIsExact(), "(s * 7282) >> 16 must equal s / 9 for every sum of nine bytes");

// Line drawing of one byte, from its value, the sum of its `count` neighbours and
// whether its pixel lies on the border. With M = floor(sum / count):
// M < value exactly when sum < value * count, and M > value exactly when
// sum >= (value + 1) * count, so no division is needed.
inline int lineByte(int value, int sum, int count, bool border)
{
    if (sum < value * count)
        return 255;
    if (border || sum >= (value + 1) * count)
        return 0;
    return 128;
}

// Line drawing of one row. `row` is the row's input, `above` and `below` the
// input rows next to it (null outside the picture); the result goes to `out`.
// The picture is at least 2 pixels wide, so rowBytes >= 6.
void lineDrawingRow(const unsigned char* above, const unsigned char* row,
                    const unsigned char* below, unsigned char* out, std::size_t rowBytes)
{
    const auto borderByte = [=](std::size_t i) {
        int sum = 0;
        int count = 0;
        if (i >= 3) {
            sum += row[i - 3];
            ++count;
        }
        if (i + 3 < rowBytes) {
            sum += row[i + 3];
            ++count;
        }
        if (above != nullptr) {
            sum += above[i];
            ++count;
        }
        if (below != nullptr) {
            sum += below[i];
            ++count;
        }
        return lineByte(row[i], sum, count, count < 4);
    };
    if (above == nullptr || below == nullptr) {
        storeEach(out, 0, rowBytes, borderByte);
        return;
    }
    storeEach(out, 0, 3, borderByte);
    storeEach(out, 3, rowBytes - 3, [=](std::size_t i) {
        return lineByte(row[i], row[i - 3] + row[i + 3] + above[i] + below[i], 4, false);
    });
    storeEach(out, rowBytes - 3, rowBytes, borderByte);
}

// The four bytes of one channel of a 2 x 2 block: top left, top right, bottom
// left, bottom right. The top left one always turns black; the others turn white
// in the order top right, bottom right, bottom left whenever the sum carried on
// from the block's brightness passes 1019.
void halftoneBlock(unsigned char& topLeft, unsigned char& topRight, unsigned char& bottomLeft,
                   unsigned char& bottomRight)
{
    const int sum = topLeft + topRight + bottomLeft + bottomRight;
    int carried = sum;
    const auto next = [&carried, sum]() -> unsigned char {
        carried += sum;
        if (carried > 1019) {
            carried -= 1020;
            return 255;
        }
        return 0;
    };
    topLeft = 0;
    topRight = next();
    bottomRight = next();
    bottomLeft = next();
}

std::size_t blockBytes(const EffectImage& image)
{
    return static_cast<std::size_t>(image.rowBytes) * static_cast<std::size_t>(image.height);
}

} // namespace

// Line drawing needs two pixels in each direction for its neighbour rules; a
// picture only 1 pixel wide or high is left unchanged.
//
// Every output depends only on the input. Rather than computing into a copy of the
// whole block, each row is worked in place, keeping only what that overwrites and
// is still needed: the input of the row above and of the row itself. The rows
// below are still the input when their turn comes.
void lineDrawing(const EffectImage& image, unsigned char* pixels)
{
    if (image.width < 2 || image.height < 2)
        return;
    const std::size_t rowBytes = static_cast<std::size_t>(image.rowBytes);
    std::vector<unsigned char> above(rowBytes);
    std::vector<unsigned char> current(rowBytes);
    for (int y = 0; y < image.height; ++y) {
        unsigned char* row = pixels + static_cast<std::size_t>(y) * rowBytes;
        std::memcpy(current.data(), row, rowBytes);
        const unsigned char* below = y + 1 < image.height ? row + rowBytes : nullptr;
        lineDrawingRow(y > 0 ? above.data() : nullptr, current.data(), below, row, rowBytes);
        std::swap(above, current);
    }
}

// Works row by row in place like lineDrawing, keeping the input of the row above.
// The three rows are first summed per byte (column sums), then three column sums
// a pixel apart give the 3 x 3 sum of each inner pixel.
void boxBlur(const EffectImage& image, unsigned char* pixels)
{
    if (image.width < 3 || image.height < 3)
        return;
    const std::size_t rowBytes = static_cast<std::size_t>(image.rowBytes);
    std::vector<unsigned char> above(pixels, pixels + rowBytes);
    std::vector<std::uint16_t> columnSums(rowBytes);
    for (int y = 1; y + 1 < image.height; ++y) {
        unsigned char* row = pixels + static_cast<std::size_t>(y) * rowBytes;
        const unsigned char* up = above.data();
        const unsigned char* below = row + rowBytes;
        storeEach(columnSums.data(), 0, rowBytes,
                  [=](std::size_t i) { return up[i] + row[i] + below[i]; });
        std::memcpy(above.data(), row, rowBytes);
        const std::uint16_t* sums = columnSums.data();
        storeEach(row, 3, rowBytes - 3, [=](std::size_t i) {
            const unsigned sum = sums[i - 3] + sums[i] + sums[i + 3];
            return (sum * kNinth) >> 16;
        });
    }
}

void invert(const EffectImage& image, unsigned char* pixels)
{
    storeEach(pixels, 0, blockBytes(image), [=](std::size_t i) { return 255 - pixels[i]; });
}

// Changes the (width - 2) * (height - 2) inner pixels; the one-pixel frame keeps
// its values, so a picture with fewer than 3 columns or rows is left unchanged.
void fewColours(const EffectImage& image, unsigned char* pixels)
{
    if (image.width < 3 || image.height < 3)
        return;
    const std::size_t rowBytes = static_cast<std::size_t>(image.rowBytes);
    for (int y = 1; y + 1 < image.height; ++y) {
        unsigned char* row = pixels + static_cast<std::size_t>(y) * rowBytes;
        storeEach(row, 3, rowBytes - 3, [=](std::size_t i) { return row[i] & 0xE0; });
    }
}

// Works forwards in memory order. Every byte of the rows above the last is paired
// with the byte rowBytes + 3 further on: the same channel of the pixel below
// right, or for the last pixel of a row the first pixel two rows down. Pairs only
// ever look forwards, so the partner is still the input.
//
// For the last pixel of the row above the last, the partner would lie past the
// block. That pixel is paired with itself and so becomes 128, no relief.
void relief(const EffectImage& image, unsigned char* pixels)
{
    const std::size_t rowBytes = static_cast<std::size_t>(image.rowBytes);
    const std::size_t lastRow = blockBytes(image) - rowBytes;
    const std::size_t partner = rowBytes + 3;
    const std::size_t paired = image.height > 1 ? lastRow - 3 : 0;
    storeEach(pixels, 0, paired,
              [=](std::size_t i) { return clampByte(pixels[i] - pixels[i + partner] + 128); });
    std::fill(pixels + paired, pixels + lastRow, static_cast<unsigned char>(128));

    for (std::size_t i = lastRow; i < lastRow + rowBytes; i += 3) {
        const int grey = clampByte(pixels[i] + pixels[i + 1] + pixels[i + 2] - 512);
        std::fill(pixels + i, pixels + i + 3, static_cast<unsigned char>(grey));
    }
}

// Blocks start at every even x below width - 2 and every even y below height - 1;
// pixels in no block keep their values.
void blockHalftone(const EffectImage& image, unsigned char* pixels)
{
    const std::size_t rowBytes = static_cast<std::size_t>(image.rowBytes);
    for (int y = 0; y + 1 < image.height; y += 2) {
        unsigned char* top = pixels + static_cast<std::size_t>(y) * rowBytes;
        unsigned char* bottom = top + rowBytes;
        for (std::size_t i = 0; i + 6 < rowBytes; i += 6) {
            for (std::size_t c = i; c < i + 3; ++c)
                halftoneBlock(top[c], top[c + 3], bottom[c], bottom[c + 3]);
        }
    }
}

// Compares every byte with the input byte of the same channel one pixel before it
// in memory order, across row ends; the first pixel is compared with 128.
void threshold(const EffectImage& image, unsigned char* pixels)
{
    unsigned char previous[3] = {128, 128, 128};
    const std::size_t bytes = blockBytes(image);
    for (std::size_t i = 0; i < bytes; i += 3) {
        for (std::size_t c = 0; c < 3; ++c) {
            const unsigned char input = pixels[i + c];
            pixels[i + c] = input <= previous[c] ? 255 : 0;
            previous[c] = input;
        }
    }
}

} // namespace effekt

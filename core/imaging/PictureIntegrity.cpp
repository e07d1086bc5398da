#include "imaging/PictureIntegrity.h"

#include "imaging/DecodeCancel.h"

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace {

// Reads little-endian numbers from a byte array; every read is bounds-checked
// and yields nothing past the end.
class ByteReader
{
public:
    explicit ByteReader(const QByteArray& data)
        : m_data(reinterpret_cast<const std::uint8_t*>(data.constData()))
        , m_size(std::size_t(data.size()))
    {
    }

    std::size_t size() const { return m_size; }
    std::size_t position() const { return m_position; }
    bool atEnd() const { return m_position >= m_size; }
    bool has(std::size_t count) const { return count <= m_size - m_position; }

    bool seek(std::uint64_t position)
    {
        if (position > m_size)
            return false;
        m_position = std::size_t(position);
        return true;
    }

    bool skip(std::uint64_t count)
    {
        if (count > m_size - m_position)
            return false;
        m_position += std::size_t(count);
        return true;
    }

    std::optional<std::uint8_t> u8()
    {
        if (!has(1))
            return std::nullopt;
        return m_data[m_position++];
    }

    std::optional<std::uint16_t> u16()
    {
        if (!has(2))
            return std::nullopt;
        const std::uint16_t value = std::uint16_t(m_data[m_position] | (m_data[m_position + 1] << 8));
        m_position += 2;
        return value;
    }

    std::optional<std::uint32_t> u32()
    {
        if (!has(4))
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | m_data[m_position + std::size_t(i)];
        m_position += 4;
        return value;
    }

    std::uint8_t at(std::size_t position) const { return m_data[position]; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

// ---------------------------------------------------------------- GIF

// The LZW codes of one GIF frame, read least significant bit first from the
// concatenated data sub-blocks.
class GifCodeReader
{
public:
    explicit GifCodeReader(const QByteArray& stream) : m_stream(stream) {}

    std::optional<int> next(int bits)
    {
        if (m_bitPosition + std::uint64_t(bits) > std::uint64_t(m_stream.size()) * 8)
            return std::nullopt;
        int code = 0;
        for (int i = 0; i < bits; ++i, ++m_bitPosition) {
            const auto byte = std::uint8_t(m_stream[qsizetype(m_bitPosition / 8)]);
            code |= ((byte >> (m_bitPosition % 8)) & 1) << i;
        }
        return code;
    }

private:
    const QByteArray& m_stream;
    std::uint64_t m_bitPosition = 0;
};

// Follows the LZW stream of one frame to its end code (or the end of its data)
// and tells whether it is valid and yields exactly `pixelCount` pixels: fewer
// would leave a part of the frame undefined, more means the frame's size or its
// data is wrong. Only the length of each table entry is kept, which is all the
// count needs.
bool lzwYieldsPixels(const QByteArray& stream, int minimumCodeSize, std::uint64_t pixelCount)
{
    constexpr int kMaxCodes = 4096;
    const int clearCode = 1 << minimumCodeSize;
    const int endCode = clearCode + 1;
    std::array<std::uint32_t, kMaxCodes> length{};
    for (int code = 0; code < clearCode; ++code)
        length[std::size_t(code)] = 1;

    GifCodeReader reader(stream);
    int codeSize = minimumCodeSize + 1;
    int nextCode = endCode + 1;
    int previous = -1;
    std::uint64_t produced = 0;
    for (std::uint32_t codes = 1;; ++codes) {
        // A stop (see DecodeCancel.h) ends the walk; the caller asks why it failed.
        if (codes % 4096 == 0 && decodeCancelled())
            return false;
        const std::optional<int> read = reader.next(codeSize);
        if (!read || *read == endCode)
            return produced == pixelCount;
        const int code = *read;
        if (code == clearCode) {
            codeSize = minimumCodeSize + 1;
            nextCode = endCode + 1;
            previous = -1;
            continue;
        }
        if (previous < 0) {
            if (code >= clearCode)
                return false;
            if (++produced > pixelCount)
                return false;
            previous = code;
            continue;
        }
        std::uint32_t codeLength = 0;
        if (code < nextCode)
            codeLength = length[std::size_t(code)];
        else if (code == nextCode && nextCode < kMaxCodes)
            codeLength = length[std::size_t(previous)] + 1; // the KwKwK case
        else
            return false;
        produced += codeLength;
        if (produced > pixelCount)
            return false;
        if (nextCode < kMaxCodes) {
            length[std::size_t(nextCode)] = length[std::size_t(previous)] + 1;
            ++nextCode;
            if (nextCode == (1 << codeSize) && codeSize < 12)
                ++codeSize;
        }
        previous = code;
    }
}

// Skips a chain of data sub-blocks up to and including its terminating empty
// block, appending their contents to `collected` when given.
bool readSubBlocks(ByteReader& reader, QByteArray* collected)
{
    for (;;) {
        const std::optional<std::uint8_t> length = reader.u8();
        if (!length)
            return false;
        if (*length == 0)
            return true;
        if (!reader.has(*length))
            return false;
        if (collected != nullptr) {
            for (int i = 0; i < *length; ++i)
                collected->append(char(reader.at(reader.position() + std::size_t(i))));
        }
        reader.skip(*length);
    }
}

std::uint64_t colourTableBytes(std::uint8_t packedFields)
{
    return 3ull << ((packedFields & 0x07) + 1);
}

// ---------------------------------------------------------------- BMP

enum BmpCompression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

struct BmpLayout
{
    std::int64_t width = 0;
    std::int64_t height = 0; // rows, always positive here
    bool topDown = false;
    int bitCount = 0;
    std::uint32_t compression = kRgb;
    std::uint32_t colours = 0; // palette entries present, for 1 to 8 bits a pixel
    std::uint64_t pixelOffset = 0;
};

// Walks RLE8 or RLE4 data: every run stays inside its row and the picture, every
// index names a palette entry, and the data ends with the end-of-picture code.
bool rleIsComplete(ByteReader& reader, const BmpLayout& layout)
{
    const bool fourBit = layout.compression == kRle4;
    const auto indexExists = [&](std::uint8_t index) { return index < layout.colours; };
    std::int64_t x = 0;
    std::int64_t y = 0;
    for (;;) {
        const std::optional<std::uint8_t> count = reader.u8();
        const std::optional<std::uint8_t> value = reader.u8();
        if (!count || !value)
            return false;
        if (*count > 0) {
            if (y >= layout.height || x + *count > layout.width)
                return false;
            if (fourBit) {
                if (!indexExists(*value >> 4) || (*count > 1 && !indexExists(*value & 0x0F)))
                    return false;
            } else if (!indexExists(*value)) {
                return false;
            }
            x += *count;
            continue;
        }
        switch (*value) {
        case 0: // end of line
            x = 0;
            ++y;
            if (y > layout.height)
                return false;
            break;
        case 1: // end of picture
            return true;
        case 2: { // move right and down
            const std::optional<std::uint8_t> dx = reader.u8();
            const std::optional<std::uint8_t> dy = reader.u8();
            if (!dx || !dy)
                return false;
            x += *dx;
            y += *dy;
            if (x > layout.width || y > layout.height)
                return false;
            break;
        }
        default: { // a literal run of *value pixels, padded to a 16-bit boundary
            const int pixels = *value;
            if (y >= layout.height || x + pixels > layout.width)
                return false;
            const int bytes = fourBit ? (pixels + 1) / 2 : pixels;
            if (!reader.has(std::size_t(bytes)))
                return false;
            for (int i = 0; i < pixels; ++i) {
                const std::uint8_t byte = reader.at(reader.position() + std::size_t(fourBit ? i / 2 : i));
                const std::uint8_t index = fourBit ? ((i % 2 == 0) ? byte >> 4 : byte & 0x0F) : byte;
                if (!indexExists(index))
                    return false;
            }
            if (!reader.skip(std::uint64_t(bytes + (bytes % 2))))
                return false;
            x += pixels;
            break;
        }
        }
    }
}

bool uncompressedIsComplete(ByteReader& reader, const BmpLayout& layout)
{
    const std::uint64_t rowBits = std::uint64_t(layout.width) * std::uint64_t(layout.bitCount);
    const std::uint64_t rowStride = (rowBits + 31) / 32 * 4;
    const std::uint64_t lastRowBytes = (rowBits + 7) / 8;
    // Some writers leave out the padding after the last row; the pixels are all there.
    const std::uint64_t needed = rowStride * std::uint64_t(layout.height - 1) + lastRowBytes;
    if (layout.pixelOffset > reader.size() || needed > reader.size() - layout.pixelOffset)
        return false;
    if (layout.bitCount > 8 || layout.colours >= (1u << layout.bitCount))
        return true;

    // A palette shorter than the pixel size allows: every index must name an entry.
    const int perByte = 8 / layout.bitCount;
    const std::uint8_t mask = std::uint8_t((1u << layout.bitCount) - 1);
    for (std::int64_t row = 0; row < layout.height; ++row) {
        const std::uint64_t rowStart = layout.pixelOffset + std::uint64_t(row) * rowStride;
        for (std::int64_t column = 0; column < layout.width; ++column) {
            const std::uint8_t byte = reader.at(std::size_t(rowStart + std::uint64_t(column / perByte)));
            const int shift = 8 - layout.bitCount * int(column % perByte + 1);
            if (((byte >> shift) & mask) >= layout.colours)
                return false;
        }
    }
    return true;
}

std::optional<BmpLayout> readBmpLayout(ByteReader& reader)
{
    if (reader.size() < 2 || reader.at(0) != 'B' || reader.at(1) != 'M')
        return std::nullopt;
    reader.seek(10);
    const std::optional<std::uint32_t> pixelOffset = reader.u32();
    const std::optional<std::uint32_t> headerSize = reader.u32();
    if (!pixelOffset || !headerSize)
        return std::nullopt;

    BmpLayout layout;
    layout.pixelOffset = *pixelOffset;
    std::uint32_t coloursUsed = 0;
    int paletteEntryBytes = 4;
    if (*headerSize == 12) {
        const auto width = reader.u16();
        const auto height = reader.u16();
        const auto planes = reader.u16();
        const auto bitCount = reader.u16();
        if (!bitCount || *planes != 1)
            return std::nullopt;
        layout.width = *width;
        layout.height = *height;
        layout.bitCount = *bitCount;
        paletteEntryBytes = 3;
    } else if (*headerSize == 40 || *headerSize == 52 || *headerSize == 56 || *headerSize == 64
               || *headerSize == 108 || *headerSize == 124) {
        const auto width = reader.u32();
        const auto height = reader.u32();
        const auto planes = reader.u16();
        const auto bitCount = reader.u16();
        const auto compression = reader.u32();
        reader.skip(12); // image size and density: often wrong, never needed
        const auto used = reader.u32();
        if (!used || *planes != 1)
            return std::nullopt;
        const auto signedHeight = std::int32_t(*height);
        if (signedHeight == 0 || signedHeight == INT_MIN)
            return std::nullopt;
        layout.width = std::int32_t(*width);
        layout.topDown = signedHeight < 0;
        layout.height = layout.topDown ? -std::int64_t(signedHeight) : signedHeight;
        layout.bitCount = *bitCount;
        layout.compression = *compression;
        coloursUsed = *used;
    } else {
        return std::nullopt;
    }
    if (layout.width <= 0 || layout.height <= 0)
        return std::nullopt;
    switch (layout.bitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return std::nullopt;
    }
    switch (layout.compression) {
    case kRgb: break;
    case kRle8: if (layout.bitCount != 8 || layout.topDown) return std::nullopt; break;
    case kRle4: if (layout.bitCount != 4 || layout.topDown) return std::nullopt; break;
    case kBitFields: if (layout.bitCount != 16 && layout.bitCount != 32) return std::nullopt; break;
    default: return std::nullopt;
    }

    std::uint64_t paletteStart = 14 + std::uint64_t(*headerSize);
    if (*headerSize == 40 && layout.compression == kBitFields)
        paletteStart += 12; // the three colour masks follow the short header
    if (layout.bitCount <= 8) {
        const std::uint32_t possible = 1u << layout.bitCount;
        if (coloursUsed > possible)
            return std::nullopt;
        layout.colours = coloursUsed == 0 ? possible : coloursUsed;
        const std::uint64_t paletteEnd = paletteStart + std::uint64_t(layout.colours) * std::uint64_t(paletteEntryBytes);
        if (paletteEnd > reader.size())
            return std::nullopt;
        paletteStart = paletteEnd;
    } else if (paletteStart > reader.size()) {
        return std::nullopt;
    }
    if (layout.pixelOffset < 14 + std::uint64_t(*headerSize) || layout.pixelOffset >= reader.size())
        return std::nullopt;
    return layout;
}

} // namespace

bool gifIsComplete(const QByteArray& data)
{
    ByteReader reader(data);
    if (!data.startsWith("GIF87a") && !data.startsWith("GIF89a"))
        return false;
    reader.seek(6);
    const auto screenWidth = reader.u16();
    const auto screenHeight = reader.u16();
    const auto screenFlags = reader.u8();
    if (!reader.skip(2) || !screenFlags || *screenWidth == 0 || *screenHeight == 0)
        return false;
    if (std::uint64_t(*screenWidth) * *screenHeight > kGifMaxScreenPixels)
        return false;
    const bool globalTable = (*screenFlags & 0x80) != 0;
    if (globalTable && !reader.skip(colourTableBytes(*screenFlags)))
        return false;

    bool firstFrame = true;
    for (;;) {
        const std::optional<std::uint8_t> introducer = reader.u8();
        if (!introducer)
            return false;
        if (*introducer == 0x3B) // trailer
            return !firstFrame;
        if (*introducer == 0x21) { // extension: label, then sub-blocks
            if (!reader.skip(1) || !readSubBlocks(reader, nullptr))
                return false;
            continue;
        }
        if (*introducer != 0x2C)
            return false;
        const auto left = reader.u16();
        const auto top = reader.u16();
        const auto width = reader.u16();
        const auto height = reader.u16();
        const auto flags = reader.u8();
        if (!flags || *width == 0 || *height == 0 || *left + *width > *screenWidth
            || *top + *height > *screenHeight)
            return false;
        const bool localTable = (*flags & 0x80) != 0;
        if (!localTable && !globalTable)
            return false;
        if (localTable && !reader.skip(colourTableBytes(*flags)))
            return false;
        const std::optional<std::uint8_t> minimumCodeSize = reader.u8();
        if (!minimumCodeSize || *minimumCodeSize < 2 || *minimumCodeSize > 8)
            return false;
        QByteArray stream;
        if (!readSubBlocks(reader, firstFrame ? &stream : nullptr))
            return false;
        if (firstFrame
            && !lzwYieldsPixels(stream, *minimumCodeSize, std::uint64_t(*width) * *height))
            return false;
        firstFrame = false;
    }
}

bool bmpIsComplete(const QByteArray& data)
{
    ByteReader reader(data);
    const std::optional<BmpLayout> layout = readBmpLayout(reader);
    if (!layout)
        return false;
    if (layout->compression == kRle8 || layout->compression == kRle4) {
        reader.seek(layout->pixelOffset);
        return rleIsComplete(reader, *layout);
    }
    return uncompressedIsComplete(reader, *layout);
}

bool jpegHasEndOfImage(const QByteArray& data)
{
    ByteReader reader(data);
    if (data.size() < 4 || reader.at(0) != 0xFF || reader.at(1) != 0xD8)
        return false;
    reader.seek(2);
    // Walk the marker segments up to the first start of scan.
    for (;;) {
        std::optional<std::uint8_t> byte = reader.u8();
        if (!byte)
            return false;
        if (*byte != 0xFF)
            continue; // stray bytes between segments; libjpeg skips them too
        std::optional<std::uint8_t> marker = reader.u8();
        while (marker && *marker == 0xFF) // fill bytes
            marker = reader.u8();
        if (!marker)
            return false;
        if (*marker == 0xD9)
            return false; // end of image before any scan
        if (*marker == 0x01 || (*marker >= 0xD0 && *marker <= 0xD8) || *marker == 0x00)
            continue; // markers without a segment
        const std::optional<std::uint8_t> high = reader.u8();
        const std::optional<std::uint8_t> low = reader.u8();
        if (!high || !low)
            return false;
        const int length = (*high << 8) | *low;
        // libjpeg reads a length below 2 as an empty segment, and so do we.
        if (length > 2 && !reader.skip(std::uint64_t(length - 2)))
            return false;
        if (*marker == 0xDA)
            break;
    }
    // Inside entropy-coded data every 0xFF is followed by 0x00 or a restart
    // marker, so the first FF D9 from here on is the end of the picture.
    const QByteArray endOfImage("\xFF\xD9", 2);
    return data.indexOf(endOfImage, qsizetype(reader.position())) >= 0;
}

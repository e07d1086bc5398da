#include "imaging/PictureFrames.h"

#include <algorithm>
#include <cstdint>
#include <set>

namespace {

// A TIFF's directories form a chain through the file; a damaged one can loop
// or be absurdly long, and no scanner makes more pages than this.
constexpr int kMaxTiffDirectories = 65535;

class Bytes
{
public:
    explicit Bytes(const QByteArray& data, bool bigEndian = false)
        : m_data(reinterpret_cast<const std::uint8_t*>(data.constData())),
          m_size(std::uint64_t(data.size())), m_bigEndian(bigEndian)
    {}

    bool has(std::uint64_t offset, std::uint64_t count) const
    {
        return offset <= m_size && count <= m_size - offset;
    }
    std::uint64_t size() const { return m_size; }
    std::uint8_t u8(std::uint64_t offset) const { return m_data[offset]; }
    // Unsigned of `count` bytes at `offset` in the file's byte order; the
    // caller has checked has(offset, count).
    std::uint64_t number(std::uint64_t offset, int count) const
    {
        std::uint64_t value = 0;
        for (int i = 0; i < count; ++i) {
            const int index = m_bigEndian ? i : count - 1 - i;
            value = (value << 8) | m_data[offset + std::uint64_t(index)];
        }
        return value;
    }

private:
    const std::uint8_t* m_data;
    std::uint64_t m_size;
    bool m_bigEndian;
};

// Image descriptors up to the trailer; extensions and each frame's data are
// skipped by their sub-block lengths.
int gifFrames(const QByteArray& data)
{
    const Bytes bytes(data);
    const auto tableBytes = [](std::uint8_t flags) {
        return std::uint64_t(3) << ((flags & 7) + 1);
    };
    std::uint64_t at = 13;
    if (!bytes.has(0, at))
        return 1;
    if ((bytes.u8(10) & 0x80) != 0)
        at += tableBytes(bytes.u8(10));
    const auto skipSubBlocks = [&]() {
        while (bytes.has(at, 1)) {
            const std::uint8_t length = bytes.u8(at++);
            if (length == 0)
                return true;
            at += length;
        }
        return false;
    };
    int frames = 0;
    while (bytes.has(at, 1)) {
        const std::uint8_t introducer = bytes.u8(at++);
        if (introducer == 0x21) {
            ++at; // the label
            if (!skipSubBlocks())
                break;
        } else if (introducer == 0x2C) {
            if (!bytes.has(at, 10))
                break;
            ++frames;
            const std::uint8_t flags = bytes.u8(at + 8);
            at += 10; // position, size, flags, and the LZW code size
            if ((flags & 0x80) != 0)
                at += tableBytes(flags);
            if (!skipSubBlocks())
                break;
        } else {
            break; // the trailer, or something no frame follows
        }
    }
    return std::max(frames, 1);
}

// Directories of the chain from the header's first one, classic TIFF or BigTIFF.
int tiffPages(const QByteArray& data)
{
    const bool bigEndian = data.startsWith("MM");
    const Bytes bytes(data, bigEndian);
    const bool big = bytes.has(0, 16) && bytes.number(2, 2) == 43;
    const int offsetBytes = big ? 8 : 4;
    const int countBytes = big ? 8 : 2;
    const int entryBytes = big ? 20 : 12;
    std::uint64_t next = bytes.number(big ? 8 : 4, offsetBytes);
    std::set<std::uint64_t> seen;
    int pages = 0;
    while (next != 0 && seen.size() < std::size_t(kMaxTiffDirectories) &&
           seen.insert(next).second && bytes.has(next, std::uint64_t(countBytes))) {
        const std::uint64_t entries = bytes.number(next, countBytes);
        const std::uint64_t first = next + std::uint64_t(countBytes);
        if (entries > (bytes.size() - first) / std::uint64_t(entryBytes))
            break;
        bool reducedCopy = false;
        for (std::uint64_t i = 0; i < entries; ++i) {
            const std::uint64_t entry = first + i * std::uint64_t(entryBytes);
            // NewSubfileType, bit 0: a reduced-resolution copy of another page.
            if (bytes.number(entry, 2) == 254)
                reducedCopy =
                    (bytes.number(entry + std::uint64_t(big ? 12 : 8), big ? 8 : 4) & 1) != 0;
        }
        if (!reducedCopy)
            ++pages;
        const std::uint64_t link = first + entries * std::uint64_t(entryBytes);
        if (!bytes.has(link, std::uint64_t(offsetBytes)))
            break;
        next = bytes.number(link, offsetBytes);
    }
    return std::max(pages, 1);
}

// ANMF chunks of the RIFF container: one per frame of an animation.
int webpFrames(const QByteArray& data)
{
    const Bytes bytes(data);
    int frames = 0;
    std::uint64_t at = 12;
    while (bytes.has(at, 8)) {
        const std::uint64_t length = bytes.number(at + 4, 4);
        if (data.mid(qsizetype(at), 4) == "ANMF")
            ++frames;
        at += 8 + length + (length & 1);
    }
    return std::max(frames, 1);
}

} // namespace

int pictureFrameCount(const QByteArray& bytes)
{
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return gifFrames(bytes);
    const QByteArray start = bytes.left(4);
    if (bytes.size() >= 8 && (start == QByteArray("II*\0", 4) || start == QByteArray("MM\0*", 4) ||
                              start == QByteArray("II+\0", 4) || start == QByteArray("MM\0+", 4)))
        return tiffPages(bytes);
    if (bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP")
        return webpFrames(bytes);
    return 1;
}

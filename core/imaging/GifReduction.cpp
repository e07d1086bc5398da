#include "imaging/GifReduction.h"

#include "imaging/DecodeCancel.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

// What Qt's reader gives a pixel without a colour: white, fully transparent.
constexpr QRgb kNoColour = 0x00ffffffu;

struct FirstFrame
{
    int screenWidth = 0;
    int screenHeight = 0;
    bool globalTable = false;
    int background = -1;
    int transparent = -1;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool interlaced = false;
    int minimumCodeSize = 0;
    // The colours of the frame's table (local, else global); the declared
    // count, so that an index past it has no colour.
    std::vector<QRgb> colours;
    QByteArray codes;

    QRgb colour(int index) const
    {
        if (index < 0 || index >= int(colours.size()))
            return kNoColour;
        const QRgb colour = colours[std::size_t(index)];
        return index == transparent ? (colour & kNoColour) : colour;
    }
};

class Bytes
{
public:
    explicit Bytes(const QByteArray& data) : m_data(data) {}

    std::optional<int> u8()
    {
        if (m_at >= m_data.size())
            return std::nullopt;
        return std::uint8_t(m_data[m_at++]);
    }
    std::optional<int> u16()
    {
        const auto low = u8();
        const auto high = u8();
        if (!low || !high)
            return std::nullopt;
        return *low | (*high << 8);
    }
    bool colourTable(int count, std::vector<QRgb>& table)
    {
        if (m_data.size() - m_at < qsizetype(count) * 3)
            return false;
        table.resize(std::size_t(count));
        for (QRgb& colour : table) {
            colour = qRgb(std::uint8_t(m_data[m_at]), std::uint8_t(m_data[m_at + 1]),
                          std::uint8_t(m_data[m_at + 2]));
            m_at += 3;
        }
        return true;
    }
    // Reads a chain of sub-blocks, appending them to `into` when given.
    bool subBlocks(QByteArray* into)
    {
        for (auto length = u8(); length; length = u8()) {
            if (*length == 0)
                return true;
            if (m_data.size() - m_at < *length)
                return false;
            if (into != nullptr)
                into->append(m_data.constData() + m_at, *length);
            m_at += *length;
        }
        return false;
    }

private:
    const QByteArray& m_data;
    qsizetype m_at = 6;
};

std::optional<FirstFrame> readFirstFrame(const QByteArray& gif)
{
    Bytes bytes(gif);
    FirstFrame frame;
    const auto width = bytes.u16();
    const auto height = bytes.u16();
    const auto flags = bytes.u8();
    const auto background = bytes.u8();
    if (!width || !height || !flags || !background || !bytes.u8())
        return std::nullopt;
    frame.screenWidth = *width;
    frame.screenHeight = *height;
    frame.globalTable = (*flags & 0x80) != 0;
    std::vector<QRgb> global;
    if (frame.globalTable) {
        frame.background = *background;
        if (!bytes.colourTable(2 << (*flags & 0x07), global))
            return std::nullopt;
    }
    for (auto introducer = bytes.u8(); introducer; introducer = bytes.u8()) {
        if (*introducer == 0x21) {
            const auto label = bytes.u8();
            if (label && *label == 0xF9) {
                QByteArray control;
                if (!bytes.subBlocks(&control) || control.size() < 4)
                    return std::nullopt;
                frame.transparent = (control[0] & 0x01) ? std::uint8_t(control[3]) : -1;
            } else if (!label || !bytes.subBlocks(nullptr)) {
                return std::nullopt;
            }
            continue;
        }
        if (*introducer != 0x2C)
            return std::nullopt;
        const auto left = bytes.u16();
        const auto top = bytes.u16();
        const auto frameWidth = bytes.u16();
        const auto frameHeight = bytes.u16();
        const auto frameFlags = bytes.u8();
        if (!left || !top || !frameWidth || !frameHeight || !frameFlags)
            return std::nullopt;
        frame.left = *left;
        frame.top = *top;
        frame.width = *frameWidth;
        frame.height = *frameHeight;
        frame.interlaced = (*frameFlags & 0x40) != 0;
        if (*frameFlags & 0x80) {
            if (!bytes.colourTable(2 << (*frameFlags & 0x07), frame.colours))
                return std::nullopt;
        } else {
            frame.colours = global;
        }
        const auto codeSize = bytes.u8();
        if (!codeSize || *codeSize < 2 || *codeSize > 8 || !bytes.subBlocks(&frame.codes))
            return std::nullopt;
        frame.minimumCodeSize = *codeSize;
        return frame;
    }
    return std::nullopt;
}

// The rows of an interlaced frame in the order they are stored.
class RowOrder
{
public:
    RowOrder(int height, bool interlaced) : m_height(height), m_interlaced(interlaced) {}

    int row() const { return m_row; }
    void next()
    {
        static constexpr std::array<int, 4> kStart = {0, 4, 2, 1};
        static constexpr std::array<int, 4> kStep = {8, 8, 4, 2};
        if (!m_interlaced) {
            ++m_row;
            return;
        }
        m_row += kStep[std::size_t(m_pass)];
        while (m_row >= m_height && m_pass < 3)
            m_row = kStart[std::size_t(++m_pass)];
    }

private:
    int m_height;
    bool m_interlaced;
    int m_pass = 0;
    int m_row = 0;
};

// Decodes the frame's LZW codes into its palette indices, row by row; false on
// bad codes and when a stop comes (looked at after every row).
bool decodeIndices(const FirstFrame& frame, std::vector<std::uint8_t>& indices)
{
    constexpr int kMaxCodes = 4096;
    const int clearCode = 1 << frame.minimumCodeSize;
    const int endCode = clearCode + 1;
    std::vector<std::uint16_t> prefix(kMaxCodes);
    std::vector<std::uint8_t> suffix(kMaxCodes);
    std::vector<std::uint8_t> stack;
    stack.reserve(kMaxCodes);
    for (int code = 0; code < clearCode; ++code)
        suffix[std::size_t(code)] = std::uint8_t(code);

    RowOrder rows(frame.height, frame.interlaced);
    int x = 0;
    bool stopped = false;
    const auto put = [&](std::uint8_t index) {
        if (rows.row() >= frame.height)
            return;
        indices[std::size_t(rows.row()) * std::size_t(frame.width) + std::size_t(x)] = index;
        if (++x == frame.width) {
            x = 0;
            rows.next();
            stopped = decodeCancelled();
        }
    };

    int codeSize = frame.minimumCodeSize + 1;
    int nextCode = endCode + 1;
    int previous = -1;
    std::uint8_t first = 0;
    std::uint64_t bitPosition = 0;
    const std::uint64_t bitCount = std::uint64_t(frame.codes.size()) * 8;
    const auto* data = reinterpret_cast<const std::uint8_t*>(frame.codes.constData());
    while (bitPosition + std::uint64_t(codeSize) <= bitCount) {
        if (stopped)
            return false;
        int code = 0;
        for (int i = 0; i < codeSize; ++i, ++bitPosition)
            code |= ((data[bitPosition / 8] >> (bitPosition % 8)) & 1) << i;
        if (code == endCode)
            break;
        if (code == clearCode) {
            codeSize = frame.minimumCodeSize + 1;
            nextCode = endCode + 1;
            previous = -1;
            continue;
        }
        if (previous < 0) {
            if (code >= clearCode)
                return false;
            first = std::uint8_t(code);
            put(first);
            previous = code;
            continue;
        }
        int walk = code;
        if (code >= nextCode) {
            if (code > nextCode)
                return false;
            stack.push_back(first);
            walk = previous;
        }
        while (walk >= clearCode) {
            stack.push_back(suffix[std::size_t(walk)]);
            walk = prefix[std::size_t(walk)];
        }
        first = std::uint8_t(walk);
        stack.push_back(first);
        if (nextCode < kMaxCodes) {
            prefix[std::size_t(nextCode)] = std::uint16_t(previous);
            suffix[std::size_t(nextCode)] = first;
            if (++nextCode == (1 << codeSize) && codeSize < 12)
                ++codeSize;
        }
        previous = code;
        while (!stack.empty()) {
            put(stack.back());
            stack.pop_back();
        }
    }
    return true;
}

} // namespace

QImage decodeGifReduced(const QByteArray& gif, int factor)
{
    const std::optional<FirstFrame> frame = readFirstFrame(gif);
    if (!frame || factor < 1)
        return {};
    std::vector<std::uint8_t> indices;
    try {
        indices.assign(std::size_t(frame->width) * std::size_t(frame->height), 0);
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (!decodeIndices(*frame, indices))
        return {};

    // Qt clears a new canvas to 0 and, where the frame leaves room, paints it in
    // the transparent or the background colour.
    QRgb outside = 0;
    if (frame->transparent >= 0)
        outside = frame->colour(frame->transparent);
    else if (frame->background >= 0)
        outside = frame->colour(frame->background);
    const bool alpha = frame->transparent >= 0;
    const auto premultiplied = [alpha](QRgb colour) {
        return alpha ? qPremultiply(colour) : (colour | 0xff000000u);
    };
    const QRgb outsidePixel = premultiplied(outside);

    const int width = frame->screenWidth;
    const int height = frame->screenHeight;
    const int outWidth = (width + factor - 1) / factor;
    const int outHeight = (height + factor - 1) / factor;
    QImage reduced(outWidth, outHeight,
                   alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (reduced.isNull())
        return {};
    std::vector<QRgb> palette(256);
    for (int index = 0; index < 256; ++index)
        palette[std::size_t(index)] = premultiplied(frame->colour(index));
    std::vector<std::uint64_t> sums(std::size_t(outWidth) * 4);
    for (int outY = 0; outY < outHeight; ++outY) {
        if (decodeCancelled())
            return {};
        std::fill(sums.begin(), sums.end(), 0);
        const int y0 = outY * factor;
        const int rows = std::min(factor, height - y0);
        for (int y = y0; y < y0 + rows; ++y) {
            const int frameRow = y - frame->top;
            const bool rowInFrame = frameRow >= 0 && frameRow < frame->height;
            const std::uint8_t* row =
                rowInFrame ? &indices[std::size_t(frameRow) * std::size_t(frame->width)] : nullptr;
            for (int x = 0; x < width; ++x) {
                const int frameColumn = x - frame->left;
                const QRgb pixel = rowInFrame && frameColumn >= 0 && frameColumn < frame->width
                                       ? palette[row[frameColumn]]
                                       : outsidePixel;
                std::uint64_t* sum = &sums[std::size_t(x / factor) * 4];
                sum[0] += qBlue(pixel);
                sum[1] += qGreen(pixel);
                sum[2] += qRed(pixel);
                sum[3] += qAlpha(pixel);
            }
        }
        auto* out = reinterpret_cast<QRgb*>(reduced.scanLine(outY));
        for (int outX = 0; outX < outWidth; ++outX) {
            const std::uint64_t count =
                std::uint64_t(rows) * std::uint64_t(std::min(factor, width - outX * factor));
            const std::uint64_t* sum = &sums[std::size_t(outX) * 4];
            const auto average = [&](int c) { return int((sum[c] + count / 2) / count); };
            out[outX] = qRgba(average(2), average(1), average(0), alpha ? average(3) : 255);
        }
    }
    return reduced;
}

#include "imaging/PngChunks.h"

#include <QIODevice>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
constexpr qint64 kSignatureBytes = 8;
// Length, type and CRC around a chunk's data.
constexpr qint64 kChunkFrameBytes = 12;
constexpr quint32 kMaxChunkLength = 0x7FFFFFFF;
// A real file interleaves kept and left-out chunks a handful of times; a file
// that does so more often is built to make the copy expensive.
constexpr std::size_t kMaxLeftOutRuns = 1 << 16;
// The small chunks that change the picture are at most this long (a palette's
// tRNS: 256 bytes).
constexpr quint32 kMaxSmallChunkBytes = 1024;
// Chunks read before the picture data when only the header is wanted.
constexpr int kMaxChunksBeforePicture = 1 << 20;

constexpr quint32 chunkType(const char (&name)[5])
{
    return quint32(quint8(name[0])) << 24 | quint32(quint8(name[1])) << 16 |
           quint32(quint8(name[2])) << 8 | quint32(quint8(name[3]));
}

constexpr quint32 kIHDR = chunkType("IHDR");
constexpr quint32 kPLTE = chunkType("PLTE");
constexpr quint32 kIDAT = chunkType("IDAT");
constexpr quint32 kIEND = chunkType("IEND");
constexpr quint32 kTRNS = chunkType("tRNS");
constexpr quint32 kTEXT = chunkType("tEXt");
constexpr quint32 kZTXT = chunkType("zTXt");
constexpr quint32 kITXT = chunkType("iTXt");
constexpr quint32 kICCP = chunkType("iCCP");
constexpr quint32 kEXIF = chunkType("eXIf");
constexpr std::array kSmallPictureChunks{
    kTRNS,
    chunkType("gAMA"),
    chunkType("cHRM"),
    chunkType("sRGB"),
    chunkType("sBIT"),
    chunkType("bKGD"),
    chunkType("pHYs"),
    chunkType("oFFs"),
};

// The fifth bit of the first letter is clear in a critical chunk's type.
bool isCritical(quint32 type)
{
    return (type & 0x20000000u) == 0;
}

quint32 bigEndian32(const char* at)
{
    return qFromBigEndian<quint32>(at);
}

qint64 saturatedProduct(qint64 a, qint64 b)
{
    if (a != 0 && b > std::numeric_limits<qint64>::max() / a)
        return std::numeric_limits<qint64>::max();
    return a * b;
}

qint64 saturatedSum(qint64 a, qint64 b)
{
    return b > std::numeric_limits<qint64>::max() - a ? std::numeric_limits<qint64>::max() : a + b;
}

// What the declared picture takes before compression: every row of every
// interlace pass with its filter byte, and the number of those rows.
struct RawPicture
{
    qint64 bytes = -1;
    qint64 rows = 0;
};

int channelsOf(int colourType, int depth)
{
    const auto depthIsOneOf = [depth](std::initializer_list<int> depths) {
        return std::find(depths.begin(), depths.end(), depth) != depths.end();
    };
    switch (colourType) {
    case 0:
        return depthIsOneOf({1, 2, 4, 8, 16}) ? 1 : 0;
    case 2:
        return depthIsOneOf({8, 16}) ? 3 : 0;
    case 3:
        return depthIsOneOf({1, 2, 4, 8}) ? 1 : 0;
    case 4:
        return depthIsOneOf({8, 16}) ? 2 : 0;
    case 6:
        return depthIsOneOf({8, 16}) ? 4 : 0;
    default:
        return 0;
    }
}

// From IHDR's 13 bytes; bytes -1 when they describe no picture libpng reads.
RawPicture rawPictureOf(const char* ihdr)
{
    const qint64 width = bigEndian32(ihdr);
    const qint64 height = bigEndian32(ihdr + 4);
    const int depth = quint8(ihdr[8]);
    const int channels = channelsOf(quint8(ihdr[9]), depth);
    const int interlace = quint8(ihdr[12]);
    RawPicture raw;
    if (width == 0 || height == 0 || width > kMaxChunkLength || height > kMaxChunkLength ||
        channels == 0 || interlace > 1)
        return raw;
    const qint64 bitsPerPixel = qint64(channels) * depth;
    const auto rowBytes = [bitsPerPixel](qint64 pixels) {
        return (pixels * bitsPerPixel + 7) / 8 + 1;
    };
    if (interlace == 0) {
        raw.bytes = saturatedProduct(height, rowBytes(width));
        raw.rows = height;
        return raw;
    }
    // Adam7: first column and row of each pass, and its steps.
    constexpr int kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                   {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    raw.bytes = 0;
    for (const auto& pass : kPasses) {
        const qint64 columns = width > pass[0] ? (width - pass[0] + pass[2] - 1) / pass[2] : 0;
        const qint64 rows = height > pass[1] ? (height - pass[1] + pass[3] - 1) / pass[3] : 0;
        if (columns == 0 || rows == 0)
            continue;
        raw.bytes = saturatedSum(raw.bytes, saturatedProduct(rows, rowBytes(columns)));
        raw.rows += rows;
    }
    return raw;
}

// The most compressed data an encoder can make of `raw`: fixed-code literals
// take at most 9 bits a byte, a flush after every row adds an empty block, and
// the stream's frame and the last block's padding are far below the slack.
qint64 largestStream(const RawPicture& raw)
{
    constexpr qint64 kSlack = 64 * 1024;
    constexpr qint64 kFlushBytesPerRow = 16;
    return saturatedSum(saturatedSum(saturatedSum(raw.bytes, raw.bytes / 8),
                                     saturatedProduct(raw.rows, kFlushBytesPerRow)),
                        kSlack);
}

// The bytes `compressed` inflates to, counted up to a little beyond `limit`.
qint64 inflatedBytes(const char* compressed, qint64 size, qint64 limit)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return limit + 1;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed));
    stream.avail_in = uInt(size);
    std::array<Bytef, 64 * 1024> scratch{};
    qint64 produced = 0;
    int status = Z_OK;
    while (status == Z_OK && produced <= limit) {
        stream.next_out = scratch.data();
        stream.avail_out = uInt(scratch.size());
        status = inflate(&stream, Z_NO_FLUSH);
        produced += qint64(scratch.size() - stream.avail_out);
    }
    inflateEnd(&stream);
    return produced;
}

bool carriesCaptureData(const QByteArray& keyword)
{
    return keyword.compare("Raw profile type exif", Qt::CaseInsensitive) == 0 ||
           keyword.compare("Raw profile type APP1", Qt::CaseInsensitive) == 0;
}

// Which chunks of a PNG its decoders get.
class ChunkSelection
{
public:
    bool keeps(quint32 type, const char* data, quint32 length)
    {
        if (isCritical(type))
            return true;
        if (type == kTEXT || type == kZTXT || type == kITXT)
            return keepsText(type, data, length);
        if (type == kICCP)
            return keepsOnce(m_profileSeen, length, kMaxPngProfileChunkBytes);
        if (type == kEXIF)
            return keepsOnce(m_exifSeen, length, kMaxPngProfileChunkBytes);
        const auto small = std::find(kSmallPictureChunks.begin(), kSmallPictureChunks.end(), type);
        if (small != kSmallPictureChunks.end())
            return keepsOnce(m_smallSeen[std::size_t(small - kSmallPictureChunks.begin())], length,
                             kMaxSmallChunkBytes);
        if (length > m_otherLeft)
            return false;
        m_otherLeft -= length;
        return true;
    }

private:
    struct TextBudget
    {
        qint64 left = kMaxPngTextBytes;
        bool full = false;
    };

    static bool keepsOnce(bool& seen, quint32 length, qint64 limit)
    {
        if (seen || length > limit)
            return false;
        seen = true;
        return true;
    }

    bool keepsText(quint32 type, const char* data, quint32 length)
    {
        const char* end = data + length;
        const char* keywordEnd = std::find(data, end, '\0');
        const QByteArray keyword(data, qsizetype(keywordEnd - data));
        TextBudget& budget = carriesCaptureData(keyword) ? m_captureText : m_otherText;
        if (budget.full)
            return false;
        const qint64 text = textBytes(type, data, keywordEnd, end, budget.left);
        if (text > budget.left) {
            budget.full = true;
            return false;
        }
        budget.left -= text;
        return true;
    }

    // The chunk's text as libpng gives it, inflated where it is compressed
    // (zTXt: keyword, 0, method, data; iTXt: keyword, 0, flag, method,
    // language, 0, translated keyword, 0, text).
    static qint64 textBytes(quint32 type, const char* data, const char* keywordEnd, const char* end,
                            qint64 limit)
    {
        const char* compressed = nullptr;
        if (type == kZTXT && end - keywordEnd >= 2) {
            compressed = keywordEnd + 2;
        } else if (type == kITXT && end - keywordEnd >= 3 && keywordEnd[1] != 0) {
            const char* language = std::find(keywordEnd + 3, end, '\0');
            const char* translated = language == end ? end : std::find(language + 1, end, '\0');
            compressed = translated == end ? end : translated + 1;
        }
        if (compressed == nullptr)
            return end - data;
        return (compressed - data) + inflatedBytes(compressed, end - compressed, limit);
    }

    TextBudget m_captureText;
    TextBudget m_otherText;
    bool m_profileSeen = false;
    bool m_exifSeen = false;
    std::array<bool, kSmallPictureChunks.size()> m_smallSeen{};
    qint64 m_otherLeft = kMaxPngOtherChunkBytes;
};

// Runs of left-out chunks, [from, to) in the file.
using Runs = std::vector<std::pair<qint64, qint64>>;

QByteArray withoutRuns(const QByteArray& bytes, const Runs& leftOut)
{
    qint64 leftOutBytes = 0;
    for (const auto& [from, to] : leftOut)
        leftOutBytes += to - from;
    QByteArray kept;
    kept.reserve(bytes.size() - leftOutBytes);
    qint64 at = 0;
    for (const auto& [from, to] : leftOut) {
        kept.append(bytes.constData() + at, from - at);
        at = to;
    }
    kept.append(bytes.constData() + at, bytes.size() - at);
    return kept;
}

} // namespace

bool looksLikePng(const QByteArray& prefix)
{
    return prefix.startsWith(QByteArrayView(kSignature, kSignatureBytes));
}

bool pngHeaderIsRefused(const QByteArray& prefix)
{
    const char* data = prefix.constData();
    if (!looksLikePng(prefix) || prefix.size() < kSignatureBytes + kChunkFrameBytes + 13 ||
        bigEndian32(data + 8) != 13 || bigEndian32(data + 12) != kIHDR)
        return false;
    const char* ihdr = data + 16;
    return rawPictureOf(ihdr).bytes < 0 || ihdr[10] != 0 || ihdr[11] != 0;
}

PngForReaders pngForReaders(const QByteArray& bytes)
{
    PngForReaders result{bytes, false, std::nullopt};
    const qint64 size = bytes.size();
    const char* data = bytes.constData();
    // Whatever does not start with a whole IHDR is libpng's to refuse.
    if (!looksLikePng(bytes) || size < kSignatureBytes + kChunkFrameBytes + 13 ||
        bigEndian32(data + 8) != 13 || bigEndian32(data + 12) != kIHDR)
        return result;
    const RawPicture raw = rawPictureOf(data + 16);
    // Colour type 2 at 16 bits; libpng takes a tRNS chunk only before the picture data.
    const bool keyedColour = quint8(data[24]) == 16 && quint8(data[25]) == 2;
    bool pictureStarted = false;

    ChunkSelection selection;
    Runs leftOut;
    qint64 pictureData = 0;
    qint64 at = kSignatureBytes;
    for (;;) {
        const qint64 rest = size - at;
        const quint32 length = rest >= kChunkFrameBytes ? bigEndian32(data + at) : 0;
        if (rest < kChunkFrameBytes || length > kMaxChunkLength ||
            length > rest - kChunkFrameBytes) {
            // libpng reads on into what does not fit as a chunk, maybe as picture data.
            pictureData += rest;
            break;
        }
        const quint32 type = bigEndian32(data + at + 4);
        const qint64 next = at + kChunkFrameBytes + length;
        if (type == kIDAT) {
            pictureData += length;
            pictureStarted = true;
        }
        bool kept = selection.keeps(type, data + at + 8, length);
        if (kept && type == kTRNS && keyedColour && !pictureStarted && length == 6) {
            const char* key = data + at + 8;
            result.keyColour =
                PngKeyColour{qFromBigEndian<quint16>(key), qFromBigEndian<quint16>(key + 2),
                             qFromBigEndian<quint16>(key + 4)};
            kept = false;
        }
        if (!kept) {
            if (!leftOut.empty() && leftOut.back().second == at) {
                leftOut.back().second = next;
            } else if (leftOut.size() < kMaxLeftOutRuns) {
                leftOut.emplace_back(at, next);
            } else {
                return {QByteArray(), true, std::nullopt};
            }
        }
        at = next;
        if (type == kIEND)
            break;
    }
    if (raw.bytes >= 0 && pictureData > largestStream(raw))
        return {QByteArray(), true, std::nullopt};
    if (!leftOut.empty())
        result.bytes = withoutRuns(bytes, leftOut);
    return result;
}

QByteArray pngHeaderOnly(QIODevice* device)
{
    const qint64 start = device->pos();
    const auto readAt = [device](qint64 offset, qint64 size) {
        // Past the end Qt would warn on stderr about the seek.
        if (offset > device->size() || !device->seek(offset))
            return QByteArray();
        QByteArray read = device->read(size);
        return read.size() == size ? read : QByteArray();
    };
    QByteArray header = readAt(0, kSignatureBytes);
    bool complete = false;
    bool transparencySeen = false;
    if (looksLikePng(header)) {
        qint64 at = kSignatureBytes;
        for (int chunk = 0; chunk < kMaxChunksBeforePicture; ++chunk) {
            const QByteArray frame = readAt(at, 8);
            if (frame.isEmpty())
                break;
            const quint32 length = bigEndian32(frame.constData());
            const quint32 type = bigEndian32(frame.constData() + 4);
            if (length > kMaxChunkLength || (chunk == 0 && type != kIHDR))
                break;
            if (type == kIDAT) {
                header += QByteArray("\0\0\0\0IDAT", 8);
                complete = true;
                break;
            }
            const bool wanted =
                type == kIHDR || type == kPLTE || (type == kTRNS && !transparencySeen);
            if (wanted) {
                const QByteArray whole = length <= kMaxSmallChunkBytes
                                             ? readAt(at, kChunkFrameBytes + length)
                                             : QByteArray();
                if (whole.isEmpty())
                    break;
                header += whole;
                transparencySeen = transparencySeen || type == kTRNS;
            } else if (isCritical(type)) {
                break;
            }
            at += kChunkFrameBytes + length;
        }
    }
    device->seek(start);
    return complete ? header : QByteArray();
}

#include "imaging/EmbeddedProfile.h"

#include <QtEndian>

#include <zlib.h>

#include <cstdint>
#include <map>

namespace {

// No real profile comes near this; a compressed one that claims more is a
// decompression bomb, refused before it takes the memory, and a stored one is
// not copied.
constexpr qsizetype kMaxProfileBytes = 16 << 20;

int byteAt(const QByteArray& bytes, qsizetype index)
{
    return index >= 0 && index < bytes.size() ? std::uint8_t(bytes[index]) : -1;
}

quint32 bigEndian32(const QByteArray& bytes, qsizetype at)
{
    return qFromBigEndian<quint32>(bytes.constData() + at);
}

// APP2 segments "ICC_PROFILE\0", sequence number (1-based), count, data; the
// walk ends at the first scan.
QByteArray jpegProfile(const QByteArray& bytes)
{
    static const QByteArray kTag("ICC_PROFILE", 12);
    std::map<int, QByteArray> chunks;
    int count = 0;
    qsizetype at = 2;
    while (at + 4 <= bytes.size() && byteAt(bytes, at) == 0xFF) {
        const int marker = byteAt(bytes, at + 1);
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break;
        const int length = (byteAt(bytes, at + 2) << 8) | byteAt(bytes, at + 3);
        if (length < 2 || at + 2 + length > bytes.size())
            break;
        if (marker == 0xE2 && length >= 16 && bytes.mid(at + 4, 12) == kTag) {
            const int sequence = byteAt(bytes, at + 16);
            const int total = byteAt(bytes, at + 17);
            if (sequence < 1 || sequence > total || (count != 0 && total != count))
                return {};
            count = total;
            chunks[sequence] = bytes.mid(at + 18, length - 16);
        }
        at += 2 + length;
    }
    if (count == 0 || int(chunks.size()) != count)
        return {};
    QByteArray profile;
    for (const auto& [sequence, chunk] : chunks)
        profile += chunk;
    return profile;
}

// `compressed` (a zlib stream) inflated; empty when it is broken or would
// exceed kMaxProfileBytes.
QByteArray inflated(const QByteArray& compressed)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = uInt(compressed.size());
    QByteArray result;
    int status = Z_OK;
    while (status == Z_OK && result.size() < kMaxProfileBytes) {
        const qsizetype done = result.size();
        result.resize(std::min(kMaxProfileBytes, done + 64 * 1024));
        stream.next_out = reinterpret_cast<Bytef*>(result.data() + done);
        stream.avail_out = uInt(result.size() - done);
        status = inflate(&stream, Z_NO_FLUSH);
        result.resize(result.size() - qsizetype(stream.avail_out));
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? result : QByteArray();
}

// Chunks: length, type, data, CRC. iCCP holds a name, a zero, the method (0 =
// zlib) and the compressed profile.
QByteArray pngProfile(const QByteArray& bytes)
{
    qsizetype at = 8;
    while (at + 12 <= bytes.size()) {
        const quint32 length = bigEndian32(bytes, at);
        const QByteArray type = bytes.mid(at + 4, 4);
        if (length > quint32(bytes.size() - at - 12) || type == "IDAT" || type == "IEND")
            break;
        if (type == "iCCP") {
            const QByteArray data = bytes.mid(at + 8, length);
            const qsizetype zero = data.indexOf('\0');
            if (zero < 0 || zero + 2 > data.size() || data[zero + 1] != 0)
                return {};
            return inflated(data.mid(zero + 2));
        }
        at += 12 + length;
    }
    return {};
}

// RIFF chunks: four-character code, little-endian length, data padded to even.
QByteArray webpProfile(const QByteArray& bytes)
{
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const quint32 length = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        if (length > quint32(bytes.size() - at - 8))
            break;
        if (bytes.mid(at, 4) == "ICCP")
            return length <= quint32(kMaxProfileBytes) ? bytes.mid(at + 8, length) : QByteArray();
        at += 8 + length + (length & 1);
    }
    return {};
}

// The first image file directory's tag 34675 (InterColorProfile, UNDEFINED).
QByteArray tiffProfile(const QByteArray& bytes)
{
    if (bytes.size() < 8)
        return {};
    const bool little = bytes.startsWith("II");
    const auto read16 = [&](qsizetype at) {
        return little ? qFromLittleEndian<quint16>(bytes.constData() + at)
                      : qFromBigEndian<quint16>(bytes.constData() + at);
    };
    const auto read32 = [&](qsizetype at) {
        return little ? qFromLittleEndian<quint32>(bytes.constData() + at)
                      : qFromBigEndian<quint32>(bytes.constData() + at);
    };
    const quint32 directory = read32(4);
    if (directory > quint32(bytes.size() - 2))
        return {};
    const int entries = read16(directory);
    for (int i = 0; i < entries; ++i) {
        const qsizetype entry = qsizetype(directory) + 2 + 12 * qsizetype(i);
        if (entry + 12 > bytes.size())
            return {};
        if (read16(entry) != 34675)
            continue;
        const quint32 count = read32(entry + 4);
        const quint32 offset = count <= 4 ? quint32(entry + 8) : read32(entry + 8);
        if (offset > quint32(bytes.size()) || count > quint32(bytes.size()) - offset ||
            count > quint32(kMaxProfileBytes))
            return {};
        return bytes.mid(offset, count);
    }
    return {};
}

} // namespace

QByteArray embeddedIccProfile(const QByteArray& format, const QByteArray& bytes)
{
    if (format == "jpeg")
        return jpegProfile(bytes);
    if (format == "png")
        return pngProfile(bytes);
    if (format == "webp")
        return webpProfile(bytes);
    if (format == "tiff")
        return tiffProfile(bytes);
    return {};
}

#include "imaging/CodedPictureSize.h"

#include <QByteArray>

#include <climits>
#include <cstdint>

namespace {

// Reads bits most significant first; reading past the end marks it failed and
// gives zeros.
class BitReader
{
public:
    explicit BitReader(QByteArrayView bytes) : m_bytes(bytes) {}

    quint64 bits(int count)
    {
        quint64 value = 0;
        for (int i = 0; i < count; ++i) {
            if (m_position >= qint64(m_bytes.size()) * 8) {
                m_failed = true;
                return 0;
            }
            const auto byte = std::uint8_t(m_bytes[m_position / 8]);
            value = (value << 1) | ((byte >> (7 - m_position % 8)) & 1);
            ++m_position;
        }
        return value;
    }

    void skip(int count)
    {
        m_position += count;
        if (m_position > qint64(m_bytes.size()) * 8)
            m_failed = true;
    }

    // ue(v) of HEVC: values up to 2^32 - 2.
    quint64 unsignedGolomb()
    {
        int zeros = 0;
        while (bits(1) == 0 && !m_failed)
            if (++zeros > 31) {
                m_failed = true;
                return 0;
            }
        return (quint64(1) << zeros) - 1 + bits(zeros);
    }

    // uvlc() of AV1.
    quint64 variableLength()
    {
        int zeros = 0;
        while (bits(1) == 0 && !m_failed)
            ++zeros;
        if (zeros >= 32)
            return (quint64(1) << 32) - 1;
        return bits(zeros) + (quint64(1) << zeros) - 1;
    }

    bool failed() const { return m_failed; }

private:
    QByteArrayView m_bytes;
    qint64 m_position = 0;
    bool m_failed = false;
};

// The NAL unit's payload with its emulation prevention bytes (the 3 of every
// 0 0 3) taken out.
QByteArray rawPayload(QByteArrayView payload)
{
    QByteArray raw;
    raw.reserve(payload.size());
    int zeros = 0;
    for (const char c : payload) {
        if (zeros >= 2 && c == 3) {
            zeros = 0;
            continue;
        }
        zeros = c == 0 ? zeros + 1 : 0;
        raw.append(c);
    }
    return raw;
}

// profile_tier_level(1, maxSubLayersMinus1): fixed general fields, then for
// every sub-layer two flags that say which optional fields follow.
void skipProfileTierLevel(BitReader& reader, int maxSubLayersMinus1)
{
    reader.skip(2 + 1 + 5 + 32 + 48 + 8);
    bool profilePresent[8] = {};
    bool levelPresent[8] = {};
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = reader.bits(1) != 0;
        levelPresent[i] = reader.bits(1) != 0;
    }
    if (maxSubLayersMinus1 > 0)
        reader.skip(2 * (8 - maxSubLayersMinus1));
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i])
            reader.skip(2 + 1 + 5 + 32 + 48);
        if (levelPresent[i])
            reader.skip(8);
    }
}

std::optional<QSize> sizeOf(quint64 width, quint64 height)
{
    if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX)
        return std::nullopt;
    return QSize(int(width), int(height));
}

quint32 bigEndian16(QByteArrayView bytes, qsizetype at)
{
    return (quint32(std::uint8_t(bytes[at])) << 8) | std::uint8_t(bytes[at + 1]);
}

} // namespace

std::optional<QSize> hevcCodedSize(QByteArrayView nal)
{
    if (nal.size() < 3 || ((std::uint8_t(nal[0]) >> 1) & 0x3F) != kHevcSequenceParameterSet)
        return std::nullopt;
    const QByteArray raw = rawPayload(nal.sliced(2));
    BitReader reader(raw);
    reader.skip(4); // sps_video_parameter_set_id
    const int maxSubLayersMinus1 = int(reader.bits(3));
    if (maxSubLayersMinus1 > 6)
        return std::nullopt;
    reader.skip(1); // sps_temporal_id_nesting_flag
    skipProfileTierLevel(reader, maxSubLayersMinus1);
    if (reader.unsignedGolomb() > 15) // sps_seq_parameter_set_id
        return std::nullopt;
    const quint64 chromaFormat = reader.unsignedGolomb();
    if (chromaFormat > 3)
        return std::nullopt;
    if (chromaFormat == 3)
        reader.skip(1); // separate_colour_plane_flag
    const quint64 width = reader.unsignedGolomb();
    const quint64 height = reader.unsignedGolomb();
    if (reader.failed())
        return std::nullopt;
    return sizeOf(width, height);
}

std::optional<std::vector<QSize>> hevcConfigSizes(QByteArrayView hvcC)
{
    // 22 bytes of profile, level and format, then the count of NAL arrays.
    constexpr qsizetype kArraysAt = 22;
    if (hvcC.size() <= kArraysAt)
        return std::nullopt;
    std::vector<QSize> sizes;
    const int arrays = std::uint8_t(hvcC[kArraysAt]);
    qsizetype at = kArraysAt + 1;
    for (int array = 0; array < arrays; ++array) {
        if (at + 3 > hvcC.size())
            return std::nullopt;
        const quint32 units = bigEndian16(hvcC, at + 1);
        at += 3;
        for (quint32 unit = 0; unit < units; ++unit) {
            if (at + 2 > hvcC.size())
                return std::nullopt;
            const qsizetype length = bigEndian16(hvcC, at);
            at += 2;
            if (at + length > hvcC.size())
                return std::nullopt;
            const QByteArrayView nal = hvcC.sliced(at, length);
            at += length;
            if (nal.isEmpty() || ((std::uint8_t(nal[0]) >> 1) & 0x3F) != kHevcSequenceParameterSet)
                continue;
            const std::optional<QSize> size = hevcCodedSize(nal);
            if (!size)
                return std::nullopt;
            sizes.push_back(*size);
        }
    }
    return sizes;
}

std::optional<Av1Unit> av1Unit(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return std::nullopt;
    const auto first = std::uint8_t(bytes[0]);
    if ((first & 0x80) != 0) // obu_forbidden_bit
        return std::nullopt;
    Av1Unit unit;
    unit.type = (first >> 3) & 0x0F;
    unit.headerBytes = (first & 0x04) != 0 ? 2 : 1;
    if ((first & 0x02) == 0)
        return bytes.size() >= unit.headerBytes ? std::optional(unit) : std::nullopt;
    // leb128, at most eight bytes, at most 2^32 - 1
    quint64 size = 0;
    for (int i = 0;; ++i) {
        if (i == 8 || unit.headerBytes >= bytes.size())
            return std::nullopt;
        const auto byte = std::uint8_t(bytes[unit.headerBytes++]);
        size |= quint64(byte & 0x7F) << (7 * i);
        if ((byte & 0x80) == 0)
            break;
    }
    if (size > UINT32_MAX)
        return std::nullopt;
    unit.payloadBytes = qint64(size);
    return unit;
}

std::optional<QSize> av1MaxFrameSize(QByteArrayView sequenceHeader)
{
    BitReader reader(sequenceHeader);
    reader.skip(3 + 1); // seq_profile, still_picture
    const bool reducedStillPictureHeader = reader.bits(1) != 0;
    if (reducedStillPictureHeader) {
        reader.skip(5); // seq_level_idx[0]
    } else {
        const bool timingInfo = reader.bits(1) != 0;
        bool decoderModelInfo = false;
        int bufferDelayLength = 0;
        if (timingInfo) {
            reader.skip(32 + 32);    // num_units_in_display_tick, time_scale
            if (reader.bits(1) != 0) // equal_picture_interval
                reader.variableLength();
            decoderModelInfo = reader.bits(1) != 0;
            if (decoderModelInfo) {
                bufferDelayLength = int(reader.bits(5)) + 1;
                reader.skip(32 + 5 + 5);
            }
        }
        const bool initialDisplayDelay = reader.bits(1) != 0;
        const int operatingPoints = int(reader.bits(5)) + 1;
        for (int i = 0; i < operatingPoints && !reader.failed(); ++i) {
            reader.skip(12);        // operating_point_idc
            if (reader.bits(5) > 7) // seq_level_idx
                reader.skip(1);     // seq_tier
            if (decoderModelInfo && reader.bits(1) != 0)
                reader.skip(2 * bufferDelayLength + 1);
            if (initialDisplayDelay && reader.bits(1) != 0)
                reader.skip(4);
        }
    }
    const int widthBits = int(reader.bits(4)) + 1;
    const int heightBits = int(reader.bits(4)) + 1;
    const quint64 width = reader.bits(widthBits) + 1;
    const quint64 height = reader.bits(heightBits) + 1;
    if (reader.failed())
        return std::nullopt;
    return sizeOf(width, height);
}

std::optional<std::vector<QSize>> av1ConfigSizes(QByteArrayView av1C)
{
    // marker and version, profile and level, tier and format, presentation delay
    constexpr qsizetype kObusAt = 4;
    if (av1C.size() < kObusAt)
        return std::nullopt;
    std::vector<QSize> sizes;
    QByteArrayView rest = av1C.sliced(kObusAt);
    while (!rest.isEmpty()) {
        const std::optional<Av1Unit> unit = av1Unit(rest);
        if (!unit)
            return std::nullopt;
        const qint64 available = rest.size() - unit->headerBytes;
        const qint64 payloadBytes = unit->payloadBytes < 0 ? available : unit->payloadBytes;
        if (payloadBytes > available)
            return std::nullopt;
        const QByteArrayView payload = rest.sliced(unit->headerBytes, payloadBytes);
        if (unit->type == kAv1SequenceHeader) {
            const std::optional<QSize> size = av1MaxFrameSize(payload);
            if (!size)
                return std::nullopt;
            sizes.push_back(*size);
        }
        rest = rest.sliced(unit->headerBytes + payloadBytes);
    }
    return sizes;
}

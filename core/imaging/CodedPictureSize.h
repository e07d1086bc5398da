// The size a HEVC or AV1 decoder allocates for a picture, read from the
// stream's own headers (the HEVC sequence parameter set, the AV1 sequence
// header) without decoding anything. A HEIF file declares its pictures' sizes
// in boxes beside the stream; HeifLayout compares the two, because the decoders
// follow the stream and the memory estimate follows the boxes.
#pragma once

#include <QByteArrayView>
#include <QSize>

#include <optional>
#include <vector>

// The NAL unit type of a HEVC sequence parameter set, in bits 1 to 6 of the
// unit's first byte.
inline constexpr int kHevcSequenceParameterSet = 33;

// pic_width_in_luma_samples and pic_height_in_luma_samples of a HEVC sequence
// parameter set: `nal` is the whole NAL unit as stored (two-byte header,
// emulation prevention bytes included). Nullopt when it is no sequence
// parameter set, or is cut short or malformed.
std::optional<QSize> hevcCodedSize(QByteArrayView nal);

// The sizes of the sequence parameter sets in the NAL arrays of an hvcC box
// (its payload, after the box header); an empty list when it holds none.
// Nullopt when the box is cut short or a parameter set is malformed.
std::optional<std::vector<QSize>> hevcConfigSizes(QByteArrayView hvcC);

// One OBU header of an AV1 stream.
struct Av1Unit
{
    int type = 0;
    // Bytes of the header, size field included.
    int headerBytes = 0;
    // Bytes of the payload; -1 when the OBU has no size field and runs to the
    // end of its data.
    qint64 payloadBytes = -1;
};

inline constexpr int kAv1SequenceHeader = 1;

// The OBU header at the start of `bytes` (at least its first ten bytes when
// there are so many); nullopt when it is cut short or malformed.
std::optional<Av1Unit> av1Unit(QByteArrayView bytes);

// max_frame_width and max_frame_height of an AV1 sequence header OBU's payload
// (after the OBU header). Nullopt when it is cut short or malformed.
std::optional<QSize> av1MaxFrameSize(QByteArrayView sequenceHeader);

// The sizes of the sequence headers among the configOBUs of an av1C box (its
// payload, after the box header); an empty list when it carries none. Nullopt
// when the box is cut short or a sequence header is malformed.
std::optional<std::vector<QSize>> av1ConfigSizes(QByteArrayView av1C);

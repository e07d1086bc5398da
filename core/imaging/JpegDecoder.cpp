#include "imaging/JpegDecoder.h"

#include "imaging/DecodeCancel.h"
#include "imaging/ExifOrientation.h"

#include <QtEndian>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
// After jpeglib.h, whose configuration decides its list of messages.
#include <jerror.h>

namespace {

// Qt's Format_RGB32 is 0xffRRGGBB in native order; libjpeg-turbo fills the
// unused byte with 0xFF.
constexpr J_COLOR_SPACE kRgb32ColourSpace =
    Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;

// libjpeg returns at most its own row group a call; a few rows a call save calls.
constexpr int kRowsPerRead = 16;

struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jumpBack;
    int warnings;
};

[[noreturn]] void jumpBack(j_common_ptr record)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(record->err)->jumpBack, 1);
}

// Warnings are judged by the caller, never shown.
void countWarning(j_common_ptr record, int level)
{
    if (level < 0)
        ++reinterpret_cast<ErrorManager*>(record->err)->warnings;
}

void sayNothing(j_common_ptr) {}

// Hands the bytes over in pieces and asks for a stop before each one. libjpeg
// decodes all it holds before it asks again, and a hostile progressive JPEG
// packs a pass over the whole picture into a dozen bytes: small pieces keep the
// next question near. They also keep libjpeg-turbo off its fast Huffman path,
// which needs 512 bytes at hand and takes a bad code for zero without a word.
struct PieceSource
{
    jpeg_source_mgr pub;
    const JOCTET* data;
    std::size_t size;
    std::size_t offset;
    std::size_t piece;
    bool cancellable;
    bool stopped;
};

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

PieceSource& sourceOf(j_decompress_ptr record)
{
    return *reinterpret_cast<PieceSource*>(record->src);
}

void startSource(j_decompress_ptr) {}

void endSource(j_decompress_ptr) {}

// At the end of the data, and after a stop, libjpeg finds an end-of-image
// marker; only the real end is worth a warning.
boolean fillPiece(j_decompress_ptr record)
{
    PieceSource& source = sourceOf(record);
    if (source.cancellable && !source.stopped && decodeCancelled())
        source.stopped = true;
    if (source.stopped || source.offset >= source.size) {
        if (!source.stopped)
            WARNMS(record, JWRN_JPEG_EOF);
        source.pub.next_input_byte = kEndOfImage;
        source.pub.bytes_in_buffer = sizeof kEndOfImage;
        return TRUE;
    }
    const std::size_t count = std::min(source.piece, source.size - source.offset);
    source.pub.next_input_byte = source.data + source.offset;
    source.pub.bytes_in_buffer = count;
    source.offset += count;
    return TRUE;
}

// Skips by position: a segment's length may reach far past the pieces.
void skipBytes(j_decompress_ptr record, long count)
{
    if (count <= 0)
        return;
    PieceSource& source = sourceOf(record);
    const auto skipped = static_cast<std::size_t>(count);
    if (skipped <= source.pub.bytes_in_buffer) {
        source.pub.next_input_byte += skipped;
        source.pub.bytes_in_buffer -= skipped;
        return;
    }
    const std::size_t beyond = skipped - source.pub.bytes_in_buffer;
    source.offset = source.pub.next_input_byte == kEndOfImage
                        ? source.size
                        : std::min(source.size, source.offset + beyond);
    source.pub.bytes_in_buffer = 0;
}

// libjpeg's record with its error manager and source; released whether it was
// made or not (a zeroed record holds nothing to release).
struct Decompressor
{
    jpeg_decompress_struct record{};
    ErrorManager errors{};
    PieceSource source{};

    Decompressor(const QByteArray& bytes, std::size_t piece, bool cancellable)
    {
        record.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = &jumpBack;
        errors.pub.emit_message = &countWarning;
        errors.pub.output_message = &sayNothing;
        source.pub.init_source = &startSource;
        source.pub.fill_input_buffer = &fillPiece;
        source.pub.skip_input_data = &skipBytes;
        source.pub.resync_to_restart = &jpeg_resync_to_restart;
        source.pub.term_source = &endSource;
        source.data = reinterpret_cast<const JOCTET*>(bytes.constData());
        source.size = std::size_t(bytes.size());
        source.piece = piece;
        source.cancellable = cancellable;
    }
    ~Decompressor() { jpeg_destroy_decompress(&record); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    bool outOfMemory() const { return errors.pub.msg_code == JERR_OUT_OF_MEMORY; }
};

// The setjmp functions below hold no objects with destructors: the error
// manager jumps back into them from inside libjpeg.

bool readHeader(Decompressor& d)
{
    if (setjmp(d.errors.jumpBack) != 0)
        return false;
    jpeg_create_decompress(&d.record);
    d.record.src = &d.source.pub;
    jpeg_save_markers(&d.record, JPEG_APP0 + 1, 0xFFFF);
    return jpeg_read_header(&d.record, TRUE) == JPEG_HEADER_OK;
}

bool startDecoding(Decompressor& d, int reduction)
{
    if (setjmp(d.errors.jumpBack) != 0)
        return false;
    const bool inks =
        d.record.jpeg_color_space == JCS_CMYK || d.record.jpeg_color_space == JCS_YCCK;
    d.record.out_color_space = inks ? JCS_CMYK : kRgb32ColourSpace;
    d.record.scale_num = 1;
    d.record.scale_denom = unsigned(reduction);
    d.record.dct_method = JDCT_ISLOW;
    d.record.do_fancy_upsampling = TRUE;
    return jpeg_start_decompress(&d.record) == TRUE;
}

// Inverted inks, as Adobe writes them and as Qt's reader takes every CMYK JPEG.
void inksToRgb32(uchar* row, JDIMENSION width)
{
    auto* pixel = reinterpret_cast<QRgb*>(row);
    for (JDIMENSION x = 0; x < width; ++x, row += 4) {
        const int k = row[3];
        pixel[x] = qRgb(k * row[0] / 255, k * row[1] / 255, k * row[2] / 255);
    }
}

bool readRows(Decompressor& d, uchar* bits, qsizetype bytesPerLine)
{
    if (setjmp(d.errors.jumpBack) != 0)
        return false;
    const bool inks = d.record.out_color_space == JCS_CMYK;
    JSAMPROW rows[kRowsPerRead];
    while (d.record.output_scanline < d.record.output_height && !d.source.stopped) {
        const JDIMENSION first = d.record.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowsPerRead, d.record.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = bits + qsizetype(first + i) * bytesPerLine;
        const JDIMENSION read = jpeg_read_scanlines(&d.record, rows, count);
        if (inks)
            for (JDIMENSION i = 0; i < read; ++i)
                inksToRgb32(rows[i], d.record.output_width);
    }
    if (d.source.stopped)
        return false;
    jpeg_finish_decompress(&d.record);
    return true;
}

int exifOrientationOf(const jpeg_decompress_struct& record)
{
    for (jpeg_saved_marker_ptr marker = record.marker_list; marker != nullptr;
         marker = marker->next) {
        if (marker->marker != JPEG_APP0 + 1 || marker->data_length < 6 ||
            std::memcmp(marker->data, "Exif\0\0", 6) != 0)
            continue;
        return exifBlockOrientation(QByteArray::fromRawData(
            reinterpret_cast<const char*>(marker->data), qsizetype(marker->data_length)));
    }
    return 1;
}

JpegDecoding failed(const Decompressor& d, FileProblem problem)
{
    JpegDecoding decoding;
    decoding.warned = d.errors.warnings > 0;
    decoding.problem = d.source.stopped ? FileProblem::Cancelled : problem;
    return decoding;
}

FileProblem libraryProblem(const Decompressor& d)
{
    return d.outOfMemory() ? FileProblem::OutOfMemory : FileProblem::Undecodable;
}

} // namespace

bool looksLikeJpeg(const QByteArray& prefix)
{
    return prefix.startsWith("\xFF\xD8");
}

JpegHeader readJpegHeader(const QByteArray& prefix)
{
    JpegHeader header;
    header.picture.format = "jpeg";
    Decompressor d(prefix, std::size_t(prefix.size()), false);
    if (!readHeader(d)) {
        if (d.outOfMemory())
            header.picture.problem = FileProblem::OutOfMemory;
        return header;
    }
    header.picture.storedSize = QSize(int(d.record.image_width), int(d.record.image_height));
    header.picture.decodedFormat = QImage::Format_RGB32;
    header.orientation = exifOrientationOf(d.record);
    header.picture.turned = header.orientation >= 5;
    header.picture.oriented = header.orientation != 1;
    addJpegDetails(header.picture, prefix);
    return header;
}

JpegDecoding decodeJpeg(const QByteArray& jpeg, int reduction)
{
    Decompressor d(jpeg, std::size_t(kJpegReadBytes), true);
    // A stop while a progressive picture's scans are read shows only here.
    if (!readHeader(d) || !startDecoding(d, reduction) || d.source.stopped)
        return failed(d, libraryProblem(d));
    QImage picture(int(d.record.output_width), int(d.record.output_height), QImage::Format_RGB32);
    if (picture.isNull())
        return failed(d, FileProblem::OutOfMemory);
    if (!readRows(d, picture.bits(), picture.bytesPerLine()))
        return failed(d, libraryProblem(d));
    JpegDecoding decoding;
    decoding.picture = std::move(picture);
    decoding.warned = d.errors.warnings > 0;
    return decoding;
}

#include "imaging/JpegScanCheck.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h, whose configuration decides its list of messages.
#include <jerror.h>

namespace {

struct CheckErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jumpBack;
    bool damaged;
};

bool isDamageWarning(int code)
{
    switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_BOGUS_PROGRESSION:
        return true;
    default:
        return false;
    }
}

void jumpBack(j_common_ptr record)
{
    auto* manager = reinterpret_cast<CheckErrorManager*>(record->err);
    manager->damaged = true;
    std::longjmp(manager->jumpBack, 1);
}

// Sees every warning, not only the first one libjpeg's default would show.
void noteMessage(j_common_ptr record, int level)
{
    auto* manager = reinterpret_cast<CheckErrorManager*>(record->err);
    if (level < 0 && isDamageWarning(manager->pub.msg_code))
        manager->damaged = true;
}

void noOutput(j_common_ptr) {}

// libjpeg-turbo decodes Huffman codes on a fast path while its buffer holds
// 512 bytes or more, and that path takes a bad code for zero without a word.
// Handing the data over in smaller pieces keeps it on the path that reports.
constexpr std::size_t kPieceBytes = 256;

struct PieceSource
{
    jpeg_source_mgr pub;
    const JOCTET* data;
    std::size_t size;
    std::size_t offset;
};

void startSource(j_decompress_ptr) {}
void endSource(j_decompress_ptr) {}

boolean nextPiece(j_decompress_ptr record)
{
    static const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};
    auto* source = reinterpret_cast<PieceSource*>(record->src);
    if (source->offset >= source->size) {
        // As libjpeg's own sources do: a fake end marker, and a warning.
        WARNMS(record, JWRN_JPEG_EOF);
        source->pub.next_input_byte = kEndOfImage;
        source->pub.bytes_in_buffer = 2;
        return TRUE;
    }
    const std::size_t count = std::min(kPieceBytes, source->size - source->offset);
    source->pub.next_input_byte = source->data + source->offset;
    source->pub.bytes_in_buffer = count;
    source->offset += count;
    return TRUE;
}

void skipBytes(j_decompress_ptr record, long count)
{
    auto* source = reinterpret_cast<PieceSource*>(record->src);
    while (count > long(source->pub.bytes_in_buffer)) {
        count -= long(source->pub.bytes_in_buffer);
        nextPiece(record);
    }
    if (count > 0) {
        source->pub.next_input_byte += count;
        source->pub.bytes_in_buffer -= std::size_t(count);
    }
}

// Kept free of objects with destructors: the error handler jumps back into it.
// `row` holds one output row of at least width x components bytes at 1/8 scale.
bool decodeAllScans(jpeg_decompress_struct& record, CheckErrorManager& errors, PieceSource& source,
                    std::vector<JSAMPLE>& row)
{
    if (setjmp(errors.jumpBack) != 0)
        return false;
    jpeg_create_decompress(&record);
    record.src = &source.pub;
    jpeg_read_header(&record, TRUE);
    record.scale_num = 1;
    record.scale_denom = 8;
    record.dct_method = JDCT_IFAST;
    record.do_fancy_upsampling = FALSE;
    jpeg_calc_output_dimensions(&record);
    const std::size_t rowBytes =
        std::size_t(record.output_width) * std::size_t(record.out_color_components);
    if (row.size() < rowBytes)
        return false; // the caller sizes the row; a larger one means a changed header
    jpeg_start_decompress(&record);
    JSAMPROW rows[1] = {row.data()};
    while (record.output_scanline < record.output_height)
        jpeg_read_scanlines(&record, rows, 1);
    jpeg_finish_decompress(&record);
    return true;
}

} // namespace

bool jpegScanDataIsDamaged(const QByteArray& jpeg)
{
    jpeg_decompress_struct record{};
    CheckErrorManager errors{};
    record.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = &jumpBack;
    errors.pub.emit_message = &noteMessage;
    errors.pub.output_message = &noOutput;
    PieceSource source{};
    source.pub.init_source = &startSource;
    source.pub.fill_input_buffer = &nextPiece;
    source.pub.skip_input_data = &skipBytes;
    source.pub.resync_to_restart = &jpeg_resync_to_restart;
    source.pub.term_source = &endSource;
    source.data = reinterpret_cast<const JOCTET*>(jpeg.constData());
    source.size = std::size_t(jpeg.size());
    // 65535 / 8 pixels of up to four components: the widest row at 1/8 scale.
    std::vector<JSAMPLE> row(8192 * 4);
    const bool decoded = decodeAllScans(record, errors, source, row);
    jpeg_destroy_decompress(&record);
    return !decoded || errors.damaged;
}

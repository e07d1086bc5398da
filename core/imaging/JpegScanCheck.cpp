#include "imaging/JpegScanCheck.h"

#include "imaging/DecodeCancel.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <new>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h, whose configuration decides its list of messages.
#include <jerror.h>

namespace {

struct CheckErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jumpBack;
    // From the end of the header on, stray bytes before a marker follow coded data.
    bool scansBegun;
    bool damaged;
    bool outOfMemory;
};

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

// Whether the `count` bytes libjpeg skipped before the marker it just found are
// padding. They end where the source stands: libjpeg warns right after the last
// of them. It counts a byte once and a stuffed pair 0xFF 0x00 twice, leaving out
// further 0xFF bytes before the pair, so the bytes are walked back by its count.
bool skippedBytesArePadding(j_decompress_ptr record, int count)
{
    const auto* source = reinterpret_cast<const PieceSource*>(record->src);
    const JOCTET* end = source->pub.next_input_byte;
    if (count > kMaxJpegPaddingBytes || end < source->data || end > source->data + source->size)
        return false; // also past the end of the data, where the source fakes an end marker
    const JOCTET* at = end;
    for (int counted = 0; counted < count;) {
        if (at == source->data)
            return false;
        --at;
        if (*at != 0x00 && *at != 0xFF)
            return false;
        if (*at == 0x00 && at > source->data && at[-1] == 0xFF) {
            while (at > source->data && at[-1] == 0xFF)
                --at;
            counted += 2;
        } else {
            ++counted;
        }
    }
    return true;
}

void jumpBack(j_common_ptr record)
{
    auto* manager = reinterpret_cast<CheckErrorManager*>(record->err);
    if (manager->pub.msg_code == JERR_OUT_OF_MEMORY)
        manager->outOfMemory = true;
    else
        manager->damaged = true;
    std::longjmp(manager->jumpBack, 1);
}

// Sees every warning, not only the first one libjpeg's default would show.
void noteMessage(j_common_ptr record, int level)
{
    auto* manager = reinterpret_cast<CheckErrorManager*>(record->err);
    if (level >= 0)
        return;
    const int code = manager->pub.msg_code;
    if (isDamageWarning(code))
        manager->damaged = true;
    else if (code == JWRN_EXTRANEOUS_DATA && manager->scansBegun &&
             !skippedBytesArePadding(reinterpret_cast<j_decompress_ptr>(record),
                                     manager->pub.msg_parm.i[0]))
        manager->damaged = true;
}

void noOutput(j_common_ptr) {}

void startSource(j_decompress_ptr) {}
void endSource(j_decompress_ptr) {}

boolean nextPiece(j_decompress_ptr record)
{
    static const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};
    auto* source = reinterpret_cast<PieceSource*>(record->src);
    // A stop ends the data early (see DecodeCancel.h); the caller asks why.
    if (source->offset >= source->size || decodeCancelled()) {
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
    errors.scansBegun = true;
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

JpegScans checkJpegScans(const QByteArray& jpeg)
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
    std::vector<JSAMPLE> row;
    try {
        // 65535 / 8 pixels of up to four components: the widest row at 1/8 scale.
        row.resize(8192 * 4);
    } catch (const std::bad_alloc&) {
        return JpegScans::OutOfMemory;
    }
    const bool decoded = decodeAllScans(record, errors, source, row);
    jpeg_destroy_decompress(&record);
    // Damage seen before memory ran out is damage all the same.
    if (errors.damaged)
        return JpegScans::Damaged;
    if (errors.outOfMemory)
        return JpegScans::OutOfMemory;
    return decoded ? JpegScans::Intact : JpegScans::Damaged;
}

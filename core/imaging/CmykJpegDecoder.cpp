#include "imaging/CmykJpegDecoder.h"

#include "imaging/ColourConversion.h"
#include "imaging/DecodeCancel.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jumpBack;
    bool warned;
};

void jumpBack(j_common_ptr record)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(record->err)->jumpBack, 1);
}

void noteMessage(j_common_ptr record, int level)
{
    if (level < 0)
        reinterpret_cast<ErrorManager*>(record->err)->warned = true;
}

void noOutput(j_common_ptr) {}

// libjpeg's record, released whether it was made or not (a zeroed record holds
// nothing to release).
struct Decompressor
{
    jpeg_decompress_struct record{};
    Decompressor() = default;
    ~Decompressor() { jpeg_destroy_decompress(&record); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

// Kept free of objects with destructors: the error handler jumps back into it.
// `picture` is made once the output size is known; its pixels take the four
// ink bytes. Also false when the picture could not be had or a stop came.
bool decodeInks(jpeg_decompress_struct& record, ErrorManager& errors, const QByteArray& jpeg,
                int reduction, QImage& picture, bool& inverted)
{
    if (setjmp(errors.jumpBack) != 0)
        return false;
    jpeg_create_decompress(&record);
    jpeg_mem_src(&record, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                 static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&record, TRUE);
    if (record.jpeg_color_space != JCS_CMYK && record.jpeg_color_space != JCS_YCCK)
        return false;
    record.out_color_space = JCS_CMYK;
    record.scale_num = 1;
    record.scale_denom = unsigned(reduction);
    jpeg_start_decompress(&record);
    picture = QImage(int(record.output_width), int(record.output_height), QImage::Format_RGB32);
    if (picture.isNull())
        return false;
    while (record.output_scanline < record.output_height) {
        if (decodeCancelled())
            return false;
        JSAMPROW row = picture.scanLine(int(record.output_scanline));
        jpeg_read_scanlines(&record, &row, 1);
    }
    jpeg_finish_decompress(&record);
    inverted = record.saw_Adobe_marker != 0;
    return !errors.warned;
}

} // namespace

QImage decodeCmykJpeg(const QByteArray& jpeg, int reduction, const QByteArray& cmykProfile)
{
    Decompressor decompressor;
    ErrorManager errors{};
    decompressor.record.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = &jumpBack;
    errors.pub.emit_message = &noteMessage;
    errors.pub.output_message = &noOutput;
    QImage picture;
    bool inverted = false;
    if (!decodeInks(decompressor.record, errors, jpeg, reduction, picture, inverted) ||
        !convertCmykToSrgb(picture, cmykProfile, inverted))
        return {};
    return picture;
}

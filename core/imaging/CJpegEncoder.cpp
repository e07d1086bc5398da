#include "imaging/CJpegEncoder.h"

#include <algorithm>
#include <new>

#include <jerror.h>

namespace {

// Appends without letting an exception pass through the library's C frames.
bool appendBytes(QByteArray& bytes, const JOCTET* data, std::size_t count) noexcept
{
    try {
        bytes.append(reinterpret_cast<const char*>(data), qsizetype(count));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

// libjpeg ends the process on a fatal error unless told otherwise. Pictavo's error
// manager jumps back into Encode, which reports the failure to its caller.
void CJpegEncoder::jumpBackOnError(j_common_ptr record)
{
    auto* manager = reinterpret_cast<ErrorManager*>(record->err);
    std::longjmp(manager->jumpBack, 1);
}

CJpegEncoder::CJpegEncoder()
{
    m_record.err = jpeg_std_error(&m_errorManager.pub);
    m_errorManager.pub.error_exit = &CJpegEncoder::jumpBackOnError;
    jpeg_create_compress(&m_record);
    m_record.in_color_space = JCS_EXT_BGR;
    m_record.input_components = 3;
    jpeg_set_defaults(&m_record);
}

CJpegEncoder::~CJpegEncoder()
{
    jpeg_destroy_compress(&m_record);
    if (m_stream != nullptr)
        std::fclose(m_stream);
}

int CJpegEncoder::SetQuality(int quality)
{
    quality = std::clamp(quality, 0, 100);
    jpeg_set_quality(&m_record, quality, TRUE);
    return quality;
}

void CJpegEncoder::SetDensity(int dpi)
{
    m_resolution = dpi;
}

void CJpegEncoder::setDensityFields()
{
    m_record.write_JFIF_header = TRUE;
    if (m_resolution > 0) {
        // The JFIF fields hold 16 bits; a larger resolution is recorded as the largest.
        const auto dpi = UINT16(std::min(m_resolution, 65535));
        m_record.density_unit = 1;
        m_record.X_density = dpi;
        m_record.Y_density = dpi;
    } else {
        m_record.density_unit = 0;
        m_record.X_density = 72;
        m_record.Y_density = 72;
    }
}

void CJpegEncoder::startBlock(j_compress_ptr record)
{
    auto* destination = reinterpret_cast<MemoryDestination*>(record->dest);
    destination->pub.next_output_byte = destination->block;
    destination->pub.free_in_buffer = sizeof destination->block;
}

boolean CJpegEncoder::passOnBlock(j_compress_ptr record)
{
    auto* destination = reinterpret_cast<MemoryDestination*>(record->dest);
    if (!appendBytes(*destination->bytes, destination->block, sizeof destination->block))
        ERREXIT(record, JERR_OUT_OF_MEMORY);
    startBlock(record);
    return TRUE;
}

void CJpegEncoder::passOnRest(j_compress_ptr record)
{
    auto* destination = reinterpret_cast<MemoryDestination*>(record->dest);
    const std::size_t used = sizeof destination->block - destination->pub.free_in_buffer;
    if (!appendBytes(*destination->bytes, destination->block, used))
        ERREXIT(record, JERR_OUT_OF_MEMORY);
}

// Kept free of objects with destructors: the library's error handler jumps back
// into it with longjmp.
bool CJpegEncoder::compress(const unsigned char* bits, std::size_t stride)
{
    if (setjmp(m_errorManager.jumpBack) != 0) {
        m_record.err->format_message(reinterpret_cast<j_common_ptr>(&m_record), m_lastError);
        jpeg_abort_compress(&m_record);
        return false;
    }
    jpeg_start_compress(&m_record, TRUE);
    if (!m_exifSegment.isEmpty())
        jpeg_write_marker(&m_record, JPEG_APP0 + 1,
                          reinterpret_cast<const JOCTET*>(m_exifSegment.constData()),
                          unsigned(m_exifSegment.size()));
    const unsigned char* row = bits;
    while (m_record.next_scanline < m_record.image_height) {
        auto* rowPointer = const_cast<JSAMPROW>(row);
        jpeg_write_scanlines(&m_record, &rowPointer, 1);
        row += stride;
    }
    jpeg_finish_compress(&m_record);
    return true;
}

std::size_t CJpegEncoder::prepare(int width, int height, std::size_t stride)
{
    m_lastError[0] = '\0';
    m_record.image_width = JDIMENSION(std::max(width, 0));
    m_record.image_height = JDIMENSION(std::max(height, 0));
    m_record.input_components = 3;
    m_record.in_color_space = JCS_EXT_BGR;
    jpeg_default_colorspace(&m_record);
    m_record.data_precision = 8;
    setDensityFields();
    if (stride == 0)
        stride = (std::size_t(std::max(width, 0)) * 3 + 3) & ~std::size_t(3);
    return stride;
}

int CJpegEncoder::EncodeToMemory(const unsigned char* bits, int width, int height,
                                 QByteArray& bytes, std::size_t stride)
{
    bytes.clear();
    stride = prepare(width, height, stride);
    MemoryDestination destination{};
    destination.bytes = &bytes;
    destination.pub.init_destination = &CJpegEncoder::startBlock;
    destination.pub.empty_output_buffer = &CJpegEncoder::passOnBlock;
    destination.pub.term_destination = &CJpegEncoder::passOnRest;
    m_record.dest = &destination.pub;
    const bool encoded = compress(bits, stride);
    m_record.dest = nullptr;
    if (!encoded) {
        bytes.clear();
        return -2;
    }
    return 0;
}

int CJpegEncoder::Encode(const unsigned char* bits, int width, int height, const char* path,
                         std::size_t stride)
{
    m_lastError[0] = '\0';
    m_stream = std::fopen(path, "wb");
    if (m_stream == nullptr)
        return -1;
    stride = prepare(width, height, stride);
    jpeg_stdio_dest(&m_record, m_stream);

    bool written = compress(bits, stride);
    // A full disk may only show when the last buffered bytes reach the file.
    if (std::fclose(m_stream) != 0 && written) {
        written = false;
        std::snprintf(m_lastError, sizeof m_lastError, "Output file write error");
    }
    m_stream = nullptr;
    return written ? 0 : -2;
}

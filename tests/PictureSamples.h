// Pictures in every format Pictavo reads, made at test time from a QImage: Qt's
// writers for PNG, WebP, TIFF and JPEG, libheif's encoders for HEIC and AVIF
// (with a rotation property, an EXIF block, an ICC or nclx colour description
// as asked), HEIC grids of such pictures, and PNG and WebP files given an EXIF
// block.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

namespace samples {

// `picture` written by Qt's writer for `format` ("png", "webp", "tiff", "jpeg"),
// with its colour space as a profile where the writer embeds one.
inline QByteArray qtBytes(const QImage& picture, const char* format, int quality = 95)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    return writer.write(picture) ? bytes : QByteArray();
}

// An EXIF block (TIFF header first) holding only an orientation, big-endian
// ("MM") unless asked otherwise.
inline QByteArray exifWithOrientation(int orientation, bool littleEndian = false)
{
    const char block[] = {'M',  'M',  0, 42, 0, 0, 0, 8, // header, IFD at 8
                          0,    1,                       // one entry
                          0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, char(orientation), 0, 0, // orientation
                          0,    0,    0, 0};                                         // no next IFD
    QByteArray bytes(block, sizeof block);
    if (littleEndian) {
        bytes.replace(0, 2, "II");
        // Each number's bytes reversed: the magic, the offset, count, tag, type,
        // value count and value.
        constexpr std::pair<int, int> kNumbers[] = {{2, 2},  {4, 4},  {8, 2}, {10, 2},
                                                    {12, 2}, {14, 4}, {18, 2}};
        for (const auto& [at, size] : kNumbers)
            std::reverse(bytes.begin() + at, bytes.begin() + at + size);
    }
    return bytes;
}

struct HeifOptions
{
    bool avif = false;
    // EXIF orientation numbers; libheif writes the first as irot/imir boxes.
    heif_orientation rotation = heif_orientation_normal;
    int exifOrientation = 0; // 0: no EXIF block
    QByteArray iccProfile;
    // nclx colour primaries (H.273); 0: none written.
    int nclxPrimaries = 0;
};

// `picture` (any format, made 8-bit RGB) encoded as HEIC or AVIF; empty when the
// encoder is missing or fails.
inline QByteArray heifBytes(const QImage& picture, const HeifOptions& options = {})
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(),
                                                                         heif_context_free);
    heif_image* raw = nullptr;
    if (heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB,
                          heif_chroma_interleaved_RGB, &raw)
            .code != heif_error_Ok)
        return {};
    const std::unique_ptr<heif_image, void (*)(const heif_image*)> image(raw, heif_image_release);
    heif_image_add_plane(image.get(), heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + std::size_t(y) * stride, rgb.constScanLine(y),
                    std::size_t(rgb.width()) * 3);
    if (!options.iccProfile.isEmpty())
        heif_image_set_raw_color_profile(image.get(), "prof", options.iccProfile.constData(),
                                         std::size_t(options.iccProfile.size()));
    const std::unique_ptr<heif_color_profile_nclx, void (*)(heif_color_profile_nclx*)> nclx(
        heif_nclx_color_profile_alloc(), heif_nclx_color_profile_free);
    if (options.nclxPrimaries != 0) {
        heif_nclx_color_profile_set_color_primaries(nclx.get(), uint16_t(options.nclxPrimaries));
        heif_nclx_color_profile_set_transfer_characteristics(nclx.get(), 13);
        heif_nclx_color_profile_set_matrix_coefficients(nclx.get(), 6);
        nclx->full_range_flag = 1;
        heif_image_set_nclx_color_profile(image.get(), nclx.get());
    }
    heif_encoder* encoderRaw = nullptr;
    if (heif_context_get_encoder_for_format(
            context.get(), options.avif ? heif_compression_AV1 : heif_compression_HEVC, &encoderRaw)
            .code != heif_error_Ok)
        return {};
    const std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoder(encoderRaw,
                                                                         heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder.get(), 90);
    const std::unique_ptr<heif_encoding_options, void (*)(heif_encoding_options*)> encoding(
        heif_encoding_options_alloc(), heif_encoding_options_free);
    encoding->image_orientation = options.rotation;
    if (options.nclxPrimaries != 0) {
        encoding->output_nclx_profile = nclx.get();
        encoding->macOS_compatibility_workaround_no_nclx_profile = 0;
    }
    heif_image_handle* handle = nullptr;
    if (heif_context_encode_image(context.get(), image.get(), encoder.get(), encoding.get(),
                                  &handle)
            .code != heif_error_Ok)
        return {};
    if (options.exifOrientation != 0) {
        const QByteArray exif = exifWithOrientation(options.exifOrientation);
        heif_context_add_exif_metadata(context.get(), handle, exif.constData(), int(exif.size()));
    }
    heif_image_handle_release(handle);
    QByteArray bytes;
    heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* target) {
                           static_cast<QByteArray*>(target)->append(static_cast<const char*>(data),
                                                                    qsizetype(size));
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
                       }};
    if (heif_context_write(context.get(), &writer, &bytes).code != heif_error_Ok)
        return {};
    return bytes;
}

namespace detail {

inline void appendBigEndian(QByteArray& bytes, quint32 value, int size)
{
    for (int shift = (size - 1) * 8; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xFF));
}

inline QByteArray isoBox(const char* type, const QByteArray& contents, int fullBoxVersion = -1)
{
    QByteArray box;
    appendBigEndian(box, quint32(8 + (fullBoxVersion >= 0 ? 4 : 0) + contents.size()), 4);
    box.append(type, 4);
    if (fullBoxVersion >= 0)
        appendBigEndian(box, quint32(fullBoxVersion) << 24, 4);
    return box + contents;
}

// The box of `type` in `file`, whole, found by its name; empty when missing.
inline QByteArray boxNamed(const QByteArray& file, const char* type)
{
    const qsizetype at = file.indexOf(QByteArray(type, 4));
    if (at < 4)
        return {};
    const auto* size = reinterpret_cast<const uchar*>(file.constData() + at - 4);
    return file.mid(at - 4, (size[0] << 24) | (size[1] << 16) | (size[2] << 8) | size[3]);
}

inline quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

inline QByteArray littleEndian(quint32 value, int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes += char((value >> (8 * i)) & 0xFF);
    return bytes;
}
} // namespace detail

// `png` with an eXIf chunk holding `exif` right behind its IHDR.
inline QByteArray pngWithExif(const QByteArray& png, const QByteArray& exif)
{
    const QByteArray typed = "eXIf" + exif;
    QByteArray chunk;
    detail::appendBigEndian(chunk, quint32(exif.size()), 4);
    chunk += typed;
    detail::appendBigEndian(chunk, detail::crc32(typed), 4);
    constexpr int kAfterHeader = 8 + 25; // signature, IHDR
    return png.left(kAfterHeader) + chunk + png.mid(kAfterHeader);
}

// `webp` as Qt writes an opaque picture of `size` (one VP8 or VP8L chunk),
// brought into the extended format with an EXIF chunk holding `exif` at its
// end, where libwebp's muxer puts it.
inline QByteArray webpWithExif(const QByteArray& webp, QSize size, const QByteArray& exif)
{
    using detail::littleEndian;
    const QByteArray extended = "VP8X" + littleEndian(10, 4) + char(0x08) + QByteArray(3, '\0') +
                                littleEndian(quint32(size.width() - 1), 3) +
                                littleEndian(quint32(size.height() - 1), 3);
    QByteArray exifChunk = "EXIF" + littleEndian(quint32(exif.size()), 4) + exif;
    if (exif.size() % 2 != 0)
        exifChunk += '\0';
    const QByteArray body = "WEBP" + extended + webp.mid(12) + exifChunk;
    return "RIFF" + littleEndian(quint32(body.size()), 4) + body;
}

// A HEIC grid of `columns` x `rows` tiles that all share the coded picture of
// `tileFile` (heifBytes of a `tileSide` square), as cameras store large photos.
inline QByteArray heifGrid(const QByteArray& tileFile, int tileSide, int columns, int rows)
{
    using detail::appendBigEndian;
    using detail::isoBox;
    const QByteArray configuration = detail::boxNamed(tileFile, "hvcC");
    const QByteArray coded = detail::boxNamed(tileFile, "mdat").mid(8);
    const int tiles = columns * rows;
    QByteArray items, references, associations;
    appendBigEndian(items, quint32(tiles + 1), 2);
    items += isoBox("infe", QByteArray("\0\1\0\0grid\0", 9), 2);
    appendBigEndian(references, 1, 2);
    appendBigEndian(references, quint32(tiles), 2);
    appendBigEndian(associations, quint32(tiles + 1), 4);
    associations += QByteArray("\0\1\1\3", 4); // the grid: its size
    for (int tile = 2; tile < tiles + 2; ++tile) {
        QByteArray item;
        appendBigEndian(item, quint32(tile), 2);
        items += isoBox("infe", item + QByteArray("\0\0hvc1\0", 7), 2);
        appendBigEndian(references, quint32(tile), 2);
        associations += item + QByteArray("\2\x81\2", 3); // configuration, size
    }
    QByteArray tileSize, gridSize, grid("\0\0", 2);
    appendBigEndian(tileSize, quint32(tileSide), 4);
    appendBigEndian(tileSize, quint32(tileSide), 4);
    appendBigEndian(gridSize, quint32(tileSide * columns), 4);
    appendBigEndian(gridSize, quint32(tileSide * rows), 4);
    grid += char(rows - 1);
    grid += char(columns - 1);
    appendBigEndian(grid, quint32(tileSide * columns), 2);
    appendBigEndian(grid, quint32(tileSide * rows), 2);
    // Every tile's data is the one coded picture at `dataAt`.
    const auto meta = [&](quint32 dataAt) {
        QByteArray locations("\x44\0", 2); // 4-byte offsets and lengths
        appendBigEndian(locations, quint32(tiles + 1), 2);
        locations += QByteArray("\0\1\0\1\0\0\0\1\0\0\0\0", 12); // the grid, in idat
        appendBigEndian(locations, quint32(grid.size()), 4);
        for (int tile = 2; tile < tiles + 2; ++tile) {
            appendBigEndian(locations, quint32(tile), 2);
            locations += QByteArray("\0\0\0\0\0\1", 6);
            appendBigEndian(locations, dataAt, 4);
            appendBigEndian(locations, quint32(coded.size()), 4);
        }
        const QByteArray properties = isoBox("ipco", configuration + isoBox("ispe", tileSize, 0) +
                                                         isoBox("ispe", gridSize, 0));
        return isoBox("meta",
                      isoBox("hdlr", QByteArray(4, '\0') + "pict" + QByteArray(13, '\0'), 0) +
                          isoBox("pitm", QByteArray("\0\1", 2), 0) + isoBox("iinf", items, 0) +
                          isoBox("iref", isoBox("dimg", references), 0) +
                          isoBox("iprp", properties + isoBox("ipma", associations, 0)) +
                          isoBox("idat", grid) + isoBox("iloc", locations, 1),
                      0);
    };
    const QByteArray head = isoBox("ftyp", QByteArray("heic\0\0\0\0mif1heic", 16));
    const quint32 dataAt = quint32(head.size() + meta(0).size() + 8);
    return head + meta(dataAt) + isoBox("mdat", coded);
}

} // namespace samples

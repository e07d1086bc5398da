#include "imaging/HeifDecoder.h"

#include "imaging/ColourConversion.h"

#include <QIODevice>

#include <libheif/heif.h>

#include <algorithm>
#include <memory>

namespace {

struct ContextRelease
{
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleRelease
{
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct OptionsRelease
{
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
struct NclxRelease
{
    void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};
using Context = std::unique_ptr<heif_context, ContextRelease>;
using Handle = std::unique_ptr<heif_image_handle, HandleRelease>;

// Loads libheif's decoder plug-ins once for the whole program.
void ensureHeifInitialised()
{
    static const bool initialised = [] {
        heif_init(nullptr);
        return true;
    }();
    Q_UNUSED(initialised);
}

Context newContext()
{
    ensureHeifInitialised();
    Context context(heif_context_alloc());
    // Larger pictures are refused by their pixel count before decoding; this
    // only keeps libheif from taking memory for absurd sizes while parsing.
    if (context)
        heif_context_set_maximum_image_size_limit(context.get(), 1 << 16);
    return context;
}

Handle primaryHandle(heif_context* context)
{
    heif_image_handle* handle = nullptr;
    if (heif_context_get_primary_image_handle(context, &handle).code != heif_error_Ok)
        return {};
    return Handle(handle);
}

// libheif's reader callbacks over a QIODevice, so that a header is read from
// the file's boxes without reading the whole file.
int64_t devicePosition(void* device)
{
    return static_cast<QIODevice*>(device)->pos();
}

int deviceRead(void* data, size_t size, void* device)
{
    return static_cast<QIODevice*>(device)->read(static_cast<char*>(data), qint64(size)) ==
                   qint64(size)
               ? 0
               : -1;
}

int deviceSeek(int64_t position, void* device)
{
    return static_cast<QIODevice*>(device)->seek(position) ? 0 : -1;
}

heif_reader_grow_status deviceGrow(int64_t targetSize, void* device)
{
    return targetSize <= static_cast<QIODevice*>(device)->size()
               ? heif_reader_grow_status_size_reached
               : heif_reader_grow_status_size_beyond_eof;
}

constexpr heif_reader kDeviceReader = {1, devicePosition, deviceRead, deviceSeek, deviceGrow};

// The picture's colour description as an ICC profile; empty for sRGB and for
// what cannot be described (HDR transfer curves).
QByteArray nclxProfile(const heif_image_handle* handle)
{
    heif_color_profile_nclx* raw = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &raw).code != heif_error_Ok)
        return {};
    const std::unique_ptr<heif_color_profile_nclx, NclxRelease> nclx(raw);
    const auto primaries = nclx->color_primaries;
    if (primaries == heif_color_primaries_unspecified)
        return {};
    ToneCurve curve;
    switch (nclx->transfer_characteristics) {
    case heif_transfer_characteristic_IEC_61966_2_1:
    case heif_transfer_characteristic_unspecified:
        if (primaries == heif_color_primaries_ITU_R_BT_709_5)
            return {};
        curve = ToneCurve::Srgb;
        break;
    case heif_transfer_characteristic_ITU_R_BT_709_5:
    case heif_transfer_characteristic_ITU_R_BT_601_6:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit:
        curve = ToneCurve::Bt709;
        break;
    case heif_transfer_characteristic_linear:
        curve = ToneCurve::Linear;
        break;
    default:
        return {};
    }
    const Chromaticities chromaticities{nclx->color_primary_red_x,   nclx->color_primary_red_y,
                                        nclx->color_primary_green_x, nclx->color_primary_green_y,
                                        nclx->color_primary_blue_x,  nclx->color_primary_blue_y,
                                        nclx->color_primary_white_x, nclx->color_primary_white_y};
    return rgbIccProfile(chromaticities, curve);
}

QByteArray colourProfile(const heif_image_handle* handle)
{
    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(handle);
    if (iccSize > 0) {
        QByteArray icc(qsizetype(iccSize), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok)
            return icc;
    }
    return nclxProfile(handle);
}

void releaseHeifImage(void* image)
{
    heif_image_release(static_cast<heif_image*>(image));
}

// Invalid input and data that ends early are damage; a missing decoder or an
// unsupported feature is not.
FileProblem problemOf(const heif_error& error)
{
    switch (error.code) {
    case heif_error_Memory_allocation_error:
        return FileProblem::OutOfMemory;
    case heif_error_Unsupported_filetype:
    case heif_error_Unsupported_feature:
    case heif_error_Plugin_loading_error:
        return FileProblem::Undecodable;
    case heif_error_Decoder_plugin_error:
        return error.subcode == heif_suberror_End_of_data ? FileProblem::Damaged
                                                          : FileProblem::Undecodable;
    default:
        return FileProblem::Damaged;
    }
}

HeifPicture failed(FileProblem problem)
{
    HeifPicture result;
    result.problem = problem;
    return result;
}

HeifPicture decodeHandle(const heif_image_handle* handle)
{
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    const std::unique_ptr<heif_decoding_options, OptionsRelease> options(
        heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    options->strict_decoding = 1;
    heif_image* image = nullptr;
    const heif_error error = heif_decode_image(
        handle, &image, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    if (error.code != heif_error_Ok)
        return failed(problemOf(error));
    int stride = 0;
    const uint8_t* pixels = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image, heif_channel_interleaved);
    const int height = heif_image_get_height(image, heif_channel_interleaved);
    if (pixels == nullptr || width <= 0 || height <= 0) {
        heif_image_release(image);
        return failed(FileProblem::Undecodable);
    }
    HeifPicture result;
    result.picture =
        QImage(pixels, width, height, stride,
               alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888, releaseHeifImage, image);
    result.iccProfile = colourProfile(handle);
    return result;
}

} // namespace

bool looksLikeHeif(const QByteArray& prefix)
{
    if (prefix.size() < 12)
        return false;
    const heif_filetype_result type =
        heif_check_filetype(reinterpret_cast<const uint8_t*>(prefix.constData()),
                            int(std::min<qsizetype>(prefix.size(), 64)));
    return type == heif_filetype_yes_supported || type == heif_filetype_yes_unsupported;
}

PictureHeader readHeifHeader(QIODevice* device)
{
    PictureHeader header;
    const Context context = newContext();
    if (!context || device == nullptr || !device->seek(0))
        return header;
    if (heif_context_read_from_reader(context.get(), &kDeviceReader, device, nullptr).code !=
        heif_error_Ok)
        return header;
    const Handle handle = primaryHandle(context.get());
    if (!handle)
        return header;
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    header.format = "heif";
    header.storedSize = QSize(heif_image_handle_get_width(handle.get()),
                              heif_image_handle_get_height(handle.get()));
    header.decodedFormat = alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
    const int bits = std::max(heif_image_handle_get_luma_bits_per_pixel(handle.get()), 8);
    header.heifPlaneBytesPerPixel = 3.0 * ((bits + 7) / 8) + (alpha ? 1 : 0);
    return header;
}

HeifPicture decodeHeif(const QByteArray& bytes)
{
    const Context context = newContext();
    if (!context)
        return failed(FileProblem::OutOfMemory);
    const heif_error read = heif_context_read_from_memory_without_copy(
        context.get(), bytes.constData(), size_t(bytes.size()), nullptr);
    if (read.code != heif_error_Ok)
        return failed(problemOf(read));
    const Handle handle = primaryHandle(context.get());
    if (!handle)
        return failed(FileProblem::Damaged);
    return decodeHandle(handle.get());
}

QStringList heifExtensions()
{
    ensureHeifInitialised();
    QStringList extensions;
    if (heif_have_decoder_for_format(heif_compression_HEVC))
        extensions << QStringLiteral("heic") << QStringLiteral("heif");
    if (heif_have_decoder_for_format(heif_compression_AV1))
        extensions << QStringLiteral("avif");
    return extensions;
}

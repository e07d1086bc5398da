#include "imaging/HeifDecoder.h"

#include "imaging/ColourConversion.h"
#include "imaging/DecodeCancel.h"
#include "imaging/HeifLayout.h"

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
    // libheif's own limit, set so that it stays whatever libheif's default: the
    // layout check refuses longer sides before libheif sees them, this keeps
    // libheif from taking memory for them should anything get past it (the
    // sizes of thumbnails and other images Pictavo does not decode, say).
    if (context)
        heif_context_set_maximum_image_size_limit(context.get(), kMaxHeifSide);
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

// The same over the bytes being decoded, for a stop (see DecodeCancel.h). A
// read never fails: libheif 1.15 asserts that its reads succeed. It asks for
// the data's size before it reads a coded picture or a tile of a grid, though,
// from its decoding threads as well, and ends the decode with an error at the
// first "beyond the end": there the stop answers.
int stoppableRead(void* data, size_t size, void* device)
{
    return static_cast<CancellableDevice*>(device)->readWhole(static_cast<char*>(data),
                                                              qint64(size))
               ? 0
               : -1;
}

int64_t stoppablePosition(void* device)
{
    return static_cast<CancellableDevice*>(device)->pos();
}

int stoppableSeek(int64_t position, void* device)
{
    return static_cast<CancellableDevice*>(device)->seek(position) ? 0 : -1;
}

heif_reader_grow_status stoppableGrow(int64_t targetSize, void* device)
{
    return static_cast<CancellableDevice*>(device)->reaches(targetSize)
               ? heif_reader_grow_status_size_reached
               : heif_reader_grow_status_size_beyond_eof;
}

constexpr heif_reader kStoppableReader = {1, stoppablePosition, stoppableRead, stoppableSeek,
                                          stoppableGrow};

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
// unsupported feature is not. libheif reports its security limits (sizes, box
// and item counts beyond reason) as allocation errors: they are what the file
// claims, never a shortage of memory.
FileProblem problemOf(const heif_error& error)
{
    switch (error.code) {
    case heif_error_Memory_allocation_error:
        return error.subcode == heif_suberror_Security_limit_exceeded ? FileProblem::Damaged
                                                                      : FileProblem::OutOfMemory;
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
    if (device == nullptr || !device->seek(0))
        return header;
    header.format = "heif";
    // The boxes are checked before libheif parses them: its parsing of a grid
    // of many tiles alone takes long.
    const HeifLayout layout = readHeifLayout(device);
    header.storedSize = layout.declaredSize;
    header.problem = layout.problem;
    if (layout.problem != FileProblem::None)
        return header;
    const Context context = newContext();
    if (!context) {
        header.problem = FileProblem::OutOfMemory;
        return header;
    }
    if (!device->seek(0)) {
        header.problem = FileProblem::ReadError;
        return header;
    }
    const heif_error read =
        heif_context_read_from_reader(context.get(), &kDeviceReader, device, nullptr);
    const Handle handle = read.code == heif_error_Ok ? primaryHandle(context.get()) : Handle();
    if (!handle) {
        header.problem = read.code == heif_error_Ok ? FileProblem::Damaged : problemOf(read);
        return header;
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    header.storedSize = QSize(heif_image_handle_get_width(handle.get()),
                              heif_image_handle_get_height(handle.get()));
    header.decodedFormat = alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
    const int bits = std::max(heif_image_handle_get_luma_bits_per_pixel(handle.get()), 8);
    // The decoders fill planes of the coded size, which the declared size
    // (what the estimate counts in) may fall short of by the padding.
    const double declaredPixels =
        double(layout.declaredSize.width()) * double(layout.declaredSize.height());
    const double codedShare = std::max(1.0, double(layout.codedPixels) / declaredPixels);
    header.heifPlaneBytesPerPixel = 3.0 * ((bits + 7) / 8) * codedShare + (alpha ? 1 : 0);
    return header;
}

HeifPicture decodeHeif(const QByteArray& bytes)
{
    // libheif reads each coded picture, each tile of a grid, through the reader
    // again when it decodes it, so a stop ends a grid's decode at the next tile
    // of each decoding thread. Outlives the context.
    CancellableDevice device(bytes);
    // What libheif will decode must be what the boxes declare (see HeifLayout.h).
    if (const FileProblem problem = readHeifLayout(&device).problem; problem != FileProblem::None)
        return failed(device.refusedRead() ? FileProblem::Cancelled : problem);
    const Context context = newContext();
    if (!context)
        return failed(FileProblem::OutOfMemory);
    if (!device.seek(0))
        return failed(device.refusedRead() ? FileProblem::Cancelled : FileProblem::ReadError);
    const heif_error read =
        heif_context_read_from_reader(context.get(), &kStoppableReader, &device, nullptr);
    if (read.code != heif_error_Ok)
        return failed(device.refusedRead() ? FileProblem::Cancelled : problemOf(read));
    const Handle handle = primaryHandle(context.get());
    if (!handle)
        return failed(FileProblem::Damaged);
    HeifPicture decoded = decodeHandle(handle.get());
    if (device.refusedRead())
        return failed(FileProblem::Cancelled);
    return decoded;
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

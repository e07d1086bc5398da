#include "imaging/WebpDecoder.h"

#include "imaging/DecodeCancel.h"
#include "imaging/PictureReduction.h"

#include <QPainter>

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <memory>

namespace {

struct DemuxDelete
{
    void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};
struct IteratorRelease
{
    void operator()(WebPIterator* iterator) const { WebPDemuxReleaseIterator(iterator); }
};
struct IncrementalDelete
{
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};
using Demuxer = std::unique_ptr<WebPDemuxer, DemuxDelete>;
using Incremental = std::unique_ptr<WebPIDecoder, IncrementalDelete>;

// Pieces handed to the decoder between two looks at the stop: a 24-megapixel
// lossy photo takes a few milliseconds for one.
constexpr size_t kPieceBytes = 64 * 1024;

FileProblem problemOf(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OK:
        return FileProblem::None;
    case VP8_STATUS_OUT_OF_MEMORY:
        return FileProblem::OutOfMemory;
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return FileProblem::Undecodable;
    default:
        return FileProblem::Damaged;
    }
}

// The coded frame (a VP8 or VP8L bitstream, with its ALPH chunk) decoded into
// `picture`, whose size the output is scaled to. The picture's own buffer takes
// the rows: B, G, R, A in memory is Qt's 32-bit layout on little-endian machines.
FileProblem decodeInto(const uint8_t* data, size_t size, QImage& picture, QSize stored)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return FileProblem::Undecodable;
    if (picture.size() != stored) {
        config.options.use_scaling = 1;
        config.options.scaled_width = picture.width();
        config.options.scaled_height = picture.height();
    }
    // Lossy pictures filter and emit their rows on a second thread meanwhile.
    config.options.use_threads = 1;
    config.output.colorspace =
        picture.format() == QImage::Format_ARGB32_Premultiplied ? MODE_bgrA : MODE_BGRA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = picture.bits();
    config.output.u.RGBA.stride = int(picture.bytesPerLine());
    config.output.u.RGBA.size = size_t(picture.sizeInBytes());
    const Incremental decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder)
        return FileProblem::OutOfMemory;
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    for (size_t given = 0; given < size && status == VP8_STATUS_SUSPENDED;) {
        if (decodeCancelled())
            return FileProblem::Cancelled;
        given = std::min(size, given + kPieceBytes);
        status = WebPIUpdate(decoder.get(), data, given);
    }
    // All bytes given and the decoder still waits: the file ends early.
    return status == VP8_STATUS_SUSPENDED ? FileProblem::Damaged : problemOf(status);
}

QSize validOr(QSize size, QSize otherwise)
{
    return size.isValid() && !size.isEmpty() ? size : otherwise;
}

QImage newPicture(QSize size, bool alpha)
{
    return QImage(size, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

// A first frame that covers only part of the canvas (animations may start so)
// is decoded in full onto the transparent canvas, then averaged down.
DecodedPicture decodePartialFrame(const WebPIterator& frame, QSize canvas, QSize size)
{
    QImage part = newPicture({frame.width, frame.height}, true);
    QImage whole = newPicture(canvas, true);
    if (part.isNull() || whole.isNull())
        return {QImage(), FileProblem::OutOfMemory};
    const FileProblem problem =
        decodeInto(frame.fragment.bytes, frame.fragment.size, part, part.size());
    if (problem != FileProblem::None)
        return {QImage(), problem};
    whole.fill(Qt::transparent);
    {
        QPainter painter(&whole);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(frame.x_offset, frame.y_offset, part);
    }
    if (size == canvas)
        return {std::move(whole), FileProblem::None};
    const int factor = (canvas.width() + size.width() - 1) / size.width();
    QImage reduced = reducePicture(whole, factor);
    if (!reduced.isNull() && reduced.size() != size)
        reduced = reduced.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return {std::move(reduced), reduced.isNull() ? FileProblem::OutOfMemory : FileProblem::None};
}

} // namespace

double webpWholePictureBytesPerPixel(const QByteArray& prefix)
{
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(reinterpret_cast<const uint8_t*>(prefix.constData()), size_t(prefix.size()),
                        &features) != VP8_STATUS_OK)
        return 4;
    if (features.has_animation || features.format != 1)
        return 4;
    return features.has_alpha ? 1 : 0;
}

DecodedPicture decodeWebp(const QByteArray& bytes, QSize size)
{
    const WebPData data{reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())};
    const Demuxer demuxer(WebPDemux(&data));
    if (!demuxer)
        return {QImage(), FileProblem::Damaged};
    const QSize canvas(int(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH)),
                       int(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT)));
    WebPIterator frame{};
    if (!WebPDemuxGetFrame(demuxer.get(), 1, &frame))
        return {QImage(), FileProblem::Damaged};
    const std::unique_ptr<WebPIterator, IteratorRelease> frameOwner(&frame);
    const QSize wanted = validOr(size, canvas);
    if (frame.x_offset != 0 || frame.y_offset != 0 || QSize(frame.width, frame.height) != canvas)
        return decodePartialFrame(frame, canvas, wanted);
    WebPBitstreamFeatures features;
    const VP8StatusCode status =
        WebPGetFeatures(frame.fragment.bytes, frame.fragment.size, &features);
    if (status != VP8_STATUS_OK)
        return {QImage(), problemOf(status)};
    QImage picture = newPicture(wanted, features.has_alpha != 0);
    if (picture.isNull())
        return {QImage(), FileProblem::OutOfMemory};
    const FileProblem problem =
        decodeInto(frame.fragment.bytes, frame.fragment.size, picture, canvas);
    if (problem != FileProblem::None)
        return {QImage(), problem};
    return {std::move(picture), FileProblem::None};
}

#include "PictureDecoder.h"

#include "PictureIntegrity.h"

#include <QBuffer>
#include <QImageReader>

#include <atomic>
#include <cstdio>

namespace {

// Qt's image readers allocate through one process-wide limit; the pixel count
// check below comes first, so this only has to leave room for 16-bit pictures.
constexpr int kAllocationLimitMegabytes = 1100;

// libjpeg reports damaged data ("Corrupt JPEG data: premature end of data
// segment") as a warning that Qt passes on as a log message of this category and
// then returns the damaged picture as if it were whole. Pictavo listens for it.
constexpr char kJpegLogCategory[] = "qt.gui.imageio.jpeg";

thread_local int t_decodeDepth = 0;
thread_local bool t_jpegDataCorrupt = false;
std::atomic<QtMessageHandler> g_previousHandler{nullptr};

void decoderMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (t_decodeDepth > 0) {
        // What a decoder says while it works on our bytes is judged here; a user
        // has no use for libjpeg's or libpng's chatter.
        if (context.category != nullptr && qstrcmp(context.category, kJpegLogCategory) == 0)
            t_jpegDataCorrupt = true;
        return;
    }
    if (QtMessageHandler previous = g_previousHandler.load())
        previous(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

// Installs the listener, again if someone replaced it since; chains to whatever
// handler was there before.
void ensureDecoderMessageHandler()
{
    static const bool limitSet = [] {
        QImageReader::setAllocationLimit(kAllocationLimitMegabytes);
        return true;
    }();
    Q_UNUSED(limitSet);
    const QtMessageHandler previous = qInstallMessageHandler(decoderMessageHandler);
    if (previous != decoderMessageHandler)
        g_previousHandler.store(previous);
}

class DecodeScope
{
public:
    DecodeScope()
    {
        ++t_decodeDepth;
        t_jpegDataCorrupt = false;
    }
    ~DecodeScope() { --t_decodeDepth; }
    DecodeScope(const DecodeScope&) = delete;
    DecodeScope& operator=(const DecodeScope&) = delete;

    bool jpegDataCorrupt() const { return t_jpegDataCorrupt; }
};

bool structureIsComplete(const QByteArray& format, const QByteArray& bytes)
{
    if (format == "jpeg")
        return jpegHasEndOfImage(bytes);
    if (format == "gif")
        return gifIsComplete(bytes);
    if (format == "bmp")
        return bmpIsComplete(bytes);
    return true; // the other readers fail on damaged data themselves
}

QImage normalised(QImage image)
{
    const QImage::Format wanted =
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image.format() != wanted)
        image.convertTo(wanted);
    return image;
}

// The size libjpeg decodes a picture of `size` to at 1 / reduction: every side
// rounded up.
QSize reducedSize(QSize size, int reduction)
{
    return QSize((size.width() + reduction - 1) / reduction,
                 (size.height() + reduction - 1) / reduction);
}

// The largest of the reductions 1/8, 1/4 and 1/2 that libjpeg decodes directly
// (Qt passes them on exactly when the requested size is the reduced one) whose
// upright result still covers `minimumSize`; 1 when none does.
int jpegReductionFor(QSize storedSize, QImageIOHandler::Transformations transformation,
                     QSize minimumSize)
{
    const bool turned = transformation & QImageIOHandler::TransformationRotate90;
    for (const int reduction : {8, 4, 2}) {
        QSize reduced = reducedSize(storedSize, reduction);
        if (turned)
            reduced.transpose();
        if (reduced.width() >= minimumSize.width() && reduced.height() >= minimumSize.height())
            return reduction;
    }
    return 1;
}

} // namespace

QImage decodePicture(const QByteArray& bytes)
{
    return decodePicture(bytes, QSize());
}

QImage decodePicture(const QByteArray& bytes, QSize minimumSize)
{
    if (bytes.isEmpty())
        return {};
    ensureDecoderMessageHandler();
    DecodeScope scope;

    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);

    const QByteArray format = reader.format();
    if (format.isEmpty())
        return {};
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxDecodedPixels)
        return {};
    if (!structureIsComplete(format, bytes))
        return {};
    if (format == "jpeg" && size.isValid() && minimumSize.isValid()) {
        const int reduction = jpegReductionFor(size, reader.transformation(), minimumSize);
        if (reduction > 1)
            reader.setScaledSize(reducedSize(size, reduction));
    }

    QImage image = reader.read();
    if (image.isNull() || scope.jpegDataCorrupt())
        return {};
    if (qint64(image.width()) * image.height() > kMaxDecodedPixels)
        return {};
    return normalised(std::move(image));
}

QSize pictureSize(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (size.isValid() && (reader.transformation() & QImageIOHandler::TransformationRotate90))
        size.transpose();
    return size;
}

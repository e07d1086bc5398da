#include "imaging/ConversionPipeline.h"

#include "imaging/Adjustments.h"
#include "imaging/CJpegExport.h"
#include "imaging/DecodePlan.h"
#include "imaging/NativeNames.h"
#include "imaging/PendingFile.h"
#include "imaging/PictureFrames.h"
#include "imaging/PictureDecoder.h"
#include "imaging/SourceFile.h"
#include "imaging/TemporaryPictureFile.h"
#include "imaging/SampleResource.h"
#include "imaging/SizeLimit.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// What a conversion holds per pixel of its output besides the decoded source:
// the scaled picture, an upright copy for a quarter turn, the preview decoded
// twice, the adjusted view, the scaler's own 32-bit copy and the encoded bytes.
constexpr qint64 kBytesPerOutputPixel = 32;
// Row buffers, tables and the libraries' own state.
constexpr qint64 kFixedBytes = qint64(16) << 20;

bool hasQuarterTurn(const ConversionSettings& settings)
{
    return (settings.m_nOrientation & 1) != 0;
}

// Two plans that give the same pixels.
bool sameDecode(const DecodePlan& a, const DecodePlan& b)
{
    return a.method == b.method && a.readSize == b.readSize && a.factor == b.factor;
}

PictureHeader headerOf(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    return buffer.open(QIODevice::ReadOnly) ? probePicture(&buffer) : PictureHeader();
}

// The name of `path` without folder and without its last extension.
QString nameWithoutExtension(const QString& path)
{
    const QString fileName = path.section(u'/', -1);
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? fileName : fileName.left(dot);
}

} // namespace

QSize outputSizeFor(QSize sourceSize, int targetSize)
{
    const qint64 width = sourceSize.width();
    const qint64 height = sourceSize.height();
    if (width <= 0 || height <= 0)
        return {};
    const qint64 target = std::clamp<qint64>(targetSize, 1, kMaxOutputSide);
    qint64 outWidth = 0;
    qint64 outHeight = 0;
    if (width > height) {
        outWidth = target;
        outHeight = height * target / width;
    } else {
        outWidth = width * target / height;
        outHeight = target;
    }
    return QSize(int(std::clamp<qint64>(outWidth, 1, kMaxOutputSide)),
                 int(std::clamp<qint64>(outHeight, 1, kMaxOutputSide)));
}

QSize convertedSize(QSize uprightSize, const ConversionSettings& settings)
{
    const QSize turned = (settings.m_nOrientation & 1) != 0 ? uprightSize.transposed() : uprightSize;
    int target = settings.m_nTargetSize;
    if (settings.m_bNoEnlarge != 0 && turned.isValid())
        target = std::min(target, std::max(turned.width(), turned.height()));
    return outputSizeFor(turned, target);
}

int viewBoxOtherSide(int targetSize, QSize previewSize)
{
    const qint64 longer = std::max(previewSize.width(), previewSize.height());
    const qint64 shorter = std::min(previewSize.width(), previewSize.height());
    if (longer <= 0 || shorter <= 0)
        return targetSize;
    return int(qint64(targetSize) * shorter / longer);
}

QString printFormatText(QSize outputSize, int dpi)
{
    if (dpi == 0)
        return QStringLiteral("Automatisch");
    // QString::asprintf formats numbers in the C locale: a decimal point always.
    return QString::asprintf("%.1f x %.1f cm", outputSize.width() * 2.54 / dpi,
                             outputSize.height() * 2.54 / dpi);
}

std::int32_t backgroundFor(const QByteArray& format, std::int32_t chosen)
{
    if (chosen >= 0)
        return chosen & 0xFFFFFF;
    return format == "gif" ? -1 : 0xFFFFFF;
}

QString temporaryPicturePath(int number)
{
    const QString folder =
        qEnvironmentVariableIsEmpty("TEMP") ? QDir::tempPath() : qEnvironmentVariable("TEMP");
    return QStringLiteral("%1/%2%3.jpg").arg(folder, QStringLiteral("Temppic.jpg")).arg(number);
}

QString directoryOutputPath(const QString& folder, const QString& sourcePath, QSize outputSize)
{
    QString base = folder;
    if (base.endsWith(u'/') && base.size() > 1)
        base.chop(1);
    return QStringLiteral("%1/%2 %3x%4.jpg")
        .arg(base, nameWithoutExtension(sourcePath))
        .arg(outputSize.width())
        .arg(outputSize.height());
}

ConversionPipeline::ConversionPipeline(const EffectHost* effects) : m_effects(effects) {}

ConversionPipeline::~ConversionPipeline() = default;

QSize ConversionPipeline::sourceDrawingSize(QSize outputSize, const ConversionSettings& settings)
{
    return hasQuarterTurn(settings) ? outputSize.transposed() : outputSize;
}

QSize ConversionPipeline::decodeMinimum(QSize drawingSize)
{
    return QSize(int(std::ceil(drawingSize.width() * kDecodeMargin)),
                 int(std::ceil(drawingSize.height() * kDecodeMargin)));
}

// The size a source of `uprightSize` must at least be decoded at for `settings`.
QSize ConversionPipeline::minimumForSource(QSize uprightSize, const ConversionSettings& settings)
{
    if (!uprightSize.isValid())
        return {};
    return decodeMinimum(sourceDrawingSize(convertedSize(uprightSize, settings), settings));
}

MemoryEstimate ConversionPipeline::estimateMemory(const QString& sourcePath,
                                                  const ConversionSettings& settings)
{
    MemoryEstimate estimate;
    SourceFile file(sourcePath);
    estimate.failure = file.failure();
    if (estimate.failure.failed())
        return estimate;
    const PictureHeader header = probePicture(file.device());
    if (!header.isKnown()) {
        // Unknown for want of memory, or no picture Pictavo reads.
        estimate.failure.problem =
            header.problem != FileProblem::None ? header.problem : FileProblem::NotAPicture;
        return estimate;
    }
    if (header.pixels() > kMaxDecodedPixels) {
        estimate.failure.problem = FileProblem::TooManyPixels;
        return estimate;
    }
    if (header.problem != FileProblem::None) {
        estimate.failure.problem = header.problem;
        return estimate;
    }
    const QSize minimum = minimumForSource(header.uprightSize(), settings);
    QSize output = convertedSize(header.uprightSize(), settings);
    if (output.isEmpty())
        output = QSize(settings.m_nTargetSize, settings.m_nTargetSize);
    estimate.bytes = file.size() + planDecode(header, minimum).memoryBytes
                     + qint64(output.width()) * output.height() * kBytesPerOutputPixel
                     + kFixedBytes;
    return estimate;
}

QSize ConversionPipeline::expectedOutputSize(const ConversionSettings& settings) const
{
    return convertedSize(m_sourceSize, settings);
}

void ConversionPipeline::loadSample(ConversionResult& result)
{
    auto sample = std::make_unique<CPicture>();
    if (!sample->LoadFromResource(IDR_SAMPLE_JPG, "JPG"))
        result.messages << sample->lastError();
    m_pSource = std::move(sample);
    m_strLoaded.clear();
    m_sourceIsSample = true;
    m_sourceBytes.clear();
    m_captureData.reset();
    m_sourceHeader = PictureHeader();
    m_sourceFrames = 1;
    m_sourceSize = QSize(m_pSource->m_cxPixels, m_pSource->m_cyPixels);
}

// Reads and decodes into a picture of its own, so that a source that fails
// leaves the one loaded before as it was.
bool ConversionPipeline::loadSource(const QString& sourcePath, const ConversionSettings& settings,
                                    QString& originalSizeText, ConversionResult& result)
{
    if (sourcePath.isEmpty()) {
        loadSample(result);
        return true;
    }
    SourceFile file(sourcePath);
    const QByteArray bytes = file.readAll();
    if (file.failure().failed()) {
        result.readFailure = file.failure();
        return false;
    }
    // A picture is decoded only as large as this conversion needs; its bytes stay
    // at hand, because another output size may need another reduction.
    const QSize headerSize = pictureSize(bytes);
    const QSize minimum = minimumForSource(headerSize, settings);
    auto picture = std::make_unique<CPicture>();
    FileProblem problem = FileProblem::None;
    if (!picture->LoadFromBytes(bytes, minimum, &problem)) {
        result.readFailure.problem = problem;
        return false;
    }
    m_pSource = std::move(picture);
    m_strLoaded = sourcePath;
    m_sourceIsSample = false;
    result.sourceLoaded = true;
    originalSizeText = QStringLiteral("Original Dateigrösse: %1 Kb").arg(bytes.size() / 1000);
    const QSize decoded(m_pSource->m_cxPixels, m_pSource->m_cyPixels);
    m_sourceSize = headerSize.isValid() ? headerSize : decoded;
    m_sourceHeader = headerOf(bytes);
    m_sourceFrames = pictureFrameCount(bytes);
    m_decodePlan = planDecode(m_sourceHeader, minimum);
    m_sourceBytes = bytes;
    m_captureData.reset();
    return true;
}

QByteArray ConversionPipeline::exifSegmentFor(QSize pixelSize, const ConversionSettings& settings)
{
    if (settings.m_bKeepExif == 0)
        return {};
    // Read once per source, and only when asked for.
    if (!m_captureData)
        m_captureData = CaptureData::fromPicture(m_sourceBytes);
    return m_captureData->exifSegment(pixelSize);
}

void ConversionPipeline::ensureDecodeFor(QSize drawingSize)
{
    if (m_sourceBytes.isEmpty())
        return;
    // The decode follows from the source and this output alone, never from what
    // was converted before, so every run of these settings gives the bytes a
    // fresh pipeline gives.
    const QSize minimum = decodeMinimum(drawingSize);
    const DecodePlan plan = planDecode(m_sourceHeader, minimum);
    if (sameDecode(plan, m_decodePlan))
        return;
    // Should the new decode fail (memory), the picture decoded before serves.
    auto picture = std::make_unique<CPicture>();
    if (!picture->LoadFromBytes(m_sourceBytes, minimum))
        return;
    m_pSource = std::move(picture);
    m_decodePlan = plan;
}

QImage ConversionPipeline::scaledSource(QSize outputSize, const ConversionSettings& settings) const
{
    QImage picture(outputSize, QImage::Format_BGR888);
    if (picture.isNull())
        return picture;
    // The source is blended onto the background as it is drawn: the one place
    // its transparency is resolved, at the output's size. Without a background
    // a fresh picture is black, as a new 24-bit bitmap is (white within a black
    // frame behind a quarter turn).
    ConversionSettings drawing = settings;
    drawing.m_nBackground = backgroundFor(m_sourceHeader.format, settings.m_nBackground);
    picture.fill(drawing.m_nBackground >= 0 ? QColor(QRgb(drawing.m_nBackground))
                                            : QColor(Qt::black));
    if (hasQuarterTurn(settings))
        ApplyQuarterTurn(picture, *m_pSource, drawing);
    else
        m_pSource->Render(&picture, {0, 0, outputSize.width(), outputSize.height()}, false, false);
    return picture;
}

// Encodes the picture, shows the user the encoding's own losses with the
// adjustments on top, and encodes that again: the result's bytes.
void ConversionPipeline::encodeTwice(const QImage& converted, const ConversionSettings& settings,
                                     ConversionResult& result)
{
    const QByteArray first =
        CJpegExport::EncodeJpeg(converted, settings.m_nQuality, -1, -1, settings.m_nDpi);
    m_firstDecode.LoadFromBytes(first, QSize());
    RedrawView(settings);
    if (first.isEmpty() || m_view.isNull())
        return;
    result.jpeg = CJpegExport::EncodeJpeg(m_view, settings.m_nQuality, -1, -1, settings.m_nDpi,
                                          exifSegmentFor(m_view.size(), settings));
}

ConversionResult ConversionPipeline::Convert(const QString& sourcePath,
                                             const ConversionSettings& settings,
                                             const QString& destinationFolder,
                                             const QString& outputPath,
                                             const QString& temporaryPath)
{
    ConversionResult result;
    // Lives until the run ends, as the temporary file does.
    TemporaryPictureFile preview;
    if (!m_pSource)
        m_pSource = std::make_unique<CPicture>();
    QString originalSizeText;
    if (sourcePath != m_strLoaded) {
        bool loaded = false;
        try {
            loaded = loadSource(sourcePath, settings, originalSizeText, result);
        } catch (const std::bad_alloc&) {
            result.readFailure.problem = FileProblem::OutOfMemory;
        }
        if (!loaded) {
            if (!temporaryPath.isEmpty())
                QFile::remove(temporaryPath);
            return result;
        }
    }
    m_nOrigWidth = m_sourceSize.width();
    m_nOrigHeight = m_sourceSize.height();

    result.outputSize = convertedSize(m_sourceSize, settings);
    result.usedSample = m_sourceIsSample;
    result.frames = m_sourceFrames;

    const bool keepFile = !destinationFolder.isEmpty() || !outputPath.isEmpty();

    // Pictures beyond what the decoder accepts could not be shown again; refuse
    // them before allocating anything.
    const bool fits = !result.outputSize.isEmpty()
                      && qint64(result.outputSize.width()) * result.outputSize.height()
                             <= kMaxDecodedPixels;
    try {
        if (fits)
            convertWithinLimit(settings, result);
    } catch (const std::bad_alloc&) {
        result.jpeg.clear();
    }
    // Named after the size the picture got.
    result.outputPath = temporaryPath;
    if (!destinationFolder.isEmpty())
        result.outputPath = directoryOutputPath(destinationFolder, sourcePath, result.outputSize);
    if (!outputPath.isEmpty())
        result.outputPath = outputPath;
    if (!result.converted()) {
        if (!result.outputSize.isEmpty())
            result.messages << QStringLiteral("CPicture Error: Can not allocate enough memory");
        result.writeFailure.problem = FileProblem::OutOfMemory;
        m_firstDecode.Clear();
        m_preview.Clear();
        m_previewJpeg.clear();
        m_view = QImage();
        m_scaledSource = QImage();
    } else {
        result.fileBytes = result.jpeg.size();
        if (keepFile && result.limitMissed) {
            // Never a file above the limit the user set.
            result.writeFailure.problem = FileProblem::AboveSizeLimit;
        } else if (keepFile) {
            result.writeFailure = writeFileReplacing(result.outputPath, result.jpeg);
            result.written = !result.writeFailure.failed();
        } else if (!temporaryPath.isEmpty()) {
            // The preview is the real file: its size is the one on the disk.
            result.fileBytes = preview.write(temporaryPath, result.jpeg);
        }
    }

    result.kilobytes = int(std::max<qint64>(result.fileBytes, 0) / 1000);
    result.title =
        QStringLiteral("%1 (%2 Kb)").arg(shownName(sourcePath.section(u'/', -1))).arg(result.kilobytes);
    result.information = QStringLiteral("%1\r\nAngepasste Dateigrösse: %2 Kb\r\nBildformat: %3")
                             .arg(originalSizeText)
                             .arg(result.kilobytes)
                             .arg(printFormatText(result.outputSize, settings.m_nDpi));
    if (result.frames > 1)
        result.information += QStringLiteral("\r\n(erstes von %1 Bildern)").arg(result.frames);
    if (settings.m_nMaxKb > 0 && result.converted()) {
        result.information += result.limitMissed
                                  ? QStringLiteral("\r\nHöchstens %1 Kb nicht erreichbar (Qualität 1: %2 Kb)")
                                        .arg(settings.m_nMaxKb)
                                        .arg(result.bytesAtLowestQuality / 1000)
                                  : QStringLiteral("\r\nQualität automatisch: %1 %").arg(result.qualityUsed);
        if (result.shrunk)
            result.information += QStringLiteral("\r\nVerkleinert auf %1 x %2 Pixel")
                                      .arg(result.outputSize.width())
                                      .arg(result.outputSize.height());
    }
    if (!temporaryPath.isEmpty())
        QFile::remove(temporaryPath);
    return result;
}

// Converts at the asked size and quality, or, with a size limit, at the highest
// quality whose file fits (see SizeLimit.h); when even quality 1 does not fit
// and the user allows it, at the largest size found to fit.
void ConversionPipeline::convertWithinLimit(const ConversionSettings& settings,
                                            ConversionResult& result)
{
    QImage converted;
    // Kept after the run, shared with `converted`; freed first so that it never
    // adds to the memory a run takes.
    m_scaledSource = QImage();
    const auto scaleTo = [&](QSize size) {
        converted = QImage();
        m_scaledSource = QImage();
        ensureDecodeFor(sourceDrawingSize(size, settings));
        converted = scaledSource(size, settings);
        m_scaledSource = converted;
        return !converted.isNull();
    };
    if (!scaleTo(result.outputSize))
        return;
    // The preview is the result decoded again: made once, for the bytes kept.
    const auto showResult = [&] {
        m_preview.Clear();
        m_previewJpeg = result.jpeg;
    };
    if (settings.m_nMaxKb <= 0) {
        encodeTwice(converted, settings, result);
        result.qualityUsed = settings.m_nQuality;
        showResult();
        return;
    }
    const qint64 limit = qint64(settings.m_nMaxKb) * 1000;
    ConversionSettings trial = settings;
    const auto bytesAt = [&](int quality) -> qint64 {
        trial.m_nQuality = quality;
        result.jpeg.clear();
        encodeTwice(converted, trial, result);
        return result.converted() ? result.jpeg.size() : -1;
    };
    // Below this longer side a picture shows nothing worth mailing.
    constexpr int kSmallestSide = 16;
    // With shrinking allowed, the picture gives up pixels rather than quality
    // below this one (or the chosen one, when that is lower): see docs/DESIGN.md.
    const int cleanQuality = std::clamp(settings.m_nQuality, 1, kLowestCleanQuality);
    const bool tradePixels = settings.m_bShrinkToFit != 0;
    for (;;) {
        const QualitySearch search = findQualityWithin(limit, settings.m_nQuality, bytesAt);
        const int longer = std::max(result.outputSize.width(), result.outputSize.height());
        const bool clean = search.fits && search.quality >= cleanQuality;
        if (clean || search.bytes < 0 || !tradePixels || longer <= kSmallestSide) {
            if (search.lastEncoded != search.quality)
                bytesAt(search.quality);
            result.qualityUsed = search.quality;
            result.limitMissed = !search.fits;
            if (!search.fits)
                result.bytesAtLowestQuality = search.bytes;
            showResult();
            return;
        }
        // The bytes follow the pixels roughly: aim a little below the share
        // at which the clean quality should fit, then look again.
        const qint64 cleanBytes = search.quality == cleanQuality ? search.bytes : bytesAt(cleanQuality);
        if (cleanBytes < 0)
            return;
        const double share = std::sqrt(double(limit) / double(cleanBytes)) * 0.95;
        const int smaller = std::max(kSmallestSide, std::min(longer - 1, int(longer * std::min(share, 0.95))));
        result.outputSize =
            outputSizeFor(hasQuarterTurn(settings) ? m_sourceSize.transposed() : m_sourceSize, smaller);
        result.shrunk = true;
        if (!scaleTo(result.outputSize))
            return;
    }
}

const CPicture& ConversionPipeline::preview() const
{
    if (!m_previewJpeg.isEmpty()) {
        m_preview.LoadFromBytes(m_previewJpeg, QSize());
        m_previewJpeg.clear();
    }
    return m_preview;
}

QImage ConversionPipeline::sourceView(const ConversionSettings& settings) const
{
    if (m_scaledSource.isNull() || m_view.isNull() || m_scaledSource.size() != m_view.size())
        return {};
    QImage source = m_scaledSource;
    // The quarter turn is in the scaled source already.
    ApplyHalfTurnOrMirror(source, settings.m_nOrientation);
    return source;
}

void ConversionPipeline::RedrawView(const ConversionSettings& settings)
{
    // Drawn from the first encoding as it decoded, before any adjustment: this is
    // the very step a conversion with `settings` takes before its second encoding.
    const QSize size(m_firstDecode.m_cxPixels, m_firstDecode.m_cyPixels);
    if (size.isEmpty()) {
        m_view = QImage();
        return;
    }
    if (m_view.size() != size)
        m_view = QImage(size, QImage::Format_BGR888);
    if (m_view.isNull())
        return;
    m_view.fill(Qt::black);
    m_firstDecode.Render(&m_view, {0, 0, size.width(), size.height()}, true, true);
    ApplyAdjustments(m_view, settings, m_effects);
}

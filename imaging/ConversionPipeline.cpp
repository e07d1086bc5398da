#include "ConversionPipeline.h"

#include "Adjustments.h"
#include "CJpegExport.h"
#include "MessageSink.h"
#include "PictureDecoder.h"
#include "resource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

bool hasQuarterTurn(const ConversionSettings& settings)
{
    return (settings.m_nOrientation & 1) != 0;
}

// The name of `path` without folder and without its last extension.
QString nameWithoutExtension(const QString& path)
{
    const QString fileName = path.section(u'/', -1);
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? fileName : fileName.left(dot);
}

qint64 fileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
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

void ConversionPipeline::loadSource(const QString& sourcePath, const ConversionSettings& settings,
                                    QString& originalSizeText, ConversionResult& result)
{
    m_strLoaded = sourcePath;
    m_sourceBytes.clear();
    QByteArray bytes;
    {
        QFile file(sourcePath);
        if (!sourcePath.isEmpty() && file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
    }
    // A JPEG is decoded only as large as this conversion needs; its bytes stay
    // at hand in case a later conversion of the same source needs more.
    const QSize headerSize = pictureSize(bytes);
    QSize minimum;
    if (headerSize.isValid()) {
        QSize upright = headerSize;
        if (hasQuarterTurn(settings))
            upright.transpose();
        minimum = decodeMinimum(sourceDrawingSize(outputSizeFor(upright, settings.m_nTargetSize), settings));
    }
    if (!bytes.isEmpty() && m_pSource->LoadFromBytes(bytes, minimum)) {
        m_sourceIsSample = false;
        result.sourceLoaded = true;
        originalSizeText = QStringLiteral("Original Dateigrösse: %1 Kb").arg(bytes.size() / 1000);
        const QSize decoded(m_pSource->m_cxPixels, m_pSource->m_cyPixels);
        const bool reduced = headerSize.isValid() && decoded.width() < headerSize.width()
                             && decoded.height() < headerSize.height();
        m_sourceSize = reduced ? headerSize : decoded;
        if (reduced)
            m_sourceBytes = bytes;
        return;
    }
    m_sourceIsSample = true;
    m_pSource->LoadFromResource(IDR_SAMPLE_JPG, "JPG");
    m_sourceSize = QSize(m_pSource->m_cxPixels, m_pSource->m_cyPixels);
}

void ConversionPipeline::ensureSourceCovers(QSize drawingSize)
{
    if (m_sourceBytes.isEmpty())
        return;
    const QSize minimum = decodeMinimum(drawingSize);
    if (m_pSource->m_cxPixels >= minimum.width() && m_pSource->m_cyPixels >= minimum.height())
        return;
    // Decoded too small for this size: decode again, larger, from the kept bytes.
    if (!m_pSource->LoadFromBytes(m_sourceBytes, minimum)) {
        m_sourceBytes.clear();
        m_sourceIsSample = true;
        m_pSource->LoadFromResource(IDR_SAMPLE_JPG, "JPG");
        m_sourceSize = QSize(m_pSource->m_cxPixels, m_pSource->m_cyPixels);
        return;
    }
    if (m_pSource->m_cxPixels >= m_sourceSize.width())
        m_sourceBytes.clear(); // now decoded in full; nothing more to gain
}

QImage ConversionPipeline::scaledSource(QSize outputSize, const ConversionSettings& settings) const
{
    QImage picture(outputSize, QImage::Format_BGR888);
    if (picture.isNull())
        return picture;
    // A fresh picture is black, as a new 24-bit bitmap is; transparent parts of
    // the source stay black (or white behind a quarter turn).
    picture.fill(Qt::black);
    if (hasQuarterTurn(settings))
        ApplyQuarterTurn(picture, *m_pSource, settings);
    else
        m_pSource->Render(&picture, {0, 0, outputSize.width(), outputSize.height()}, false, false);
    return picture;
}

ConversionResult ConversionPipeline::Convert(const QString& sourcePath,
                                             const ConversionSettings& settings,
                                             const QString& destinationFolder,
                                             const QString& outputPath,
                                             const QString& temporaryPath)
{
    ConversionResult result;
    if (!m_pSource)
        m_pSource = std::make_unique<CPicture>();
    QString originalSizeText;
    if (sourcePath != m_strLoaded)
        loadSource(sourcePath, settings, originalSizeText, result);
    m_nOrigWidth = m_sourceSize.width();
    m_nOrigHeight = m_sourceSize.height();

    QSize sourceSize(m_nOrigWidth, m_nOrigHeight);
    if (hasQuarterTurn(settings))
        sourceSize.transpose();
    result.outputSize = outputSizeFor(sourceSize, settings.m_nTargetSize);
    if (!result.outputSize.isEmpty())
        ensureSourceCovers(sourceDrawingSize(result.outputSize, settings));
    result.usedSample = m_sourceIsSample;

    result.outputPath = temporaryPath;
    if (!destinationFolder.isEmpty())
        result.outputPath = directoryOutputPath(destinationFolder, sourcePath, result.outputSize);
    if (!outputPath.isEmpty())
        result.outputPath = outputPath;

    // Pictures beyond what the decoder accepts could not be shown again; refuse
    // them before allocating anything.
    const bool fits = !result.outputSize.isEmpty()
                      && qint64(result.outputSize.width()) * result.outputSize.height()
                             <= kMaxDecodedPixels;
    const QImage converted = fits ? scaledSource(result.outputSize, settings) : QImage();
    if (converted.isNull()) {
        if (!result.outputSize.isEmpty())
            showMessage(QStringLiteral("Can not allocate enough memory\t"),
                        QStringLiteral("CPicture Error"), MessageIcon::Stop);
        m_preview.Clear();
        m_view = QImage();
    } else {
        CJpegExport writer;
        bool written = writer.SaveAsJpeg(result.outputPath, converted, settings.m_nQuality, -1,
                                         -1, settings.m_nDpi);
        m_preview.LoadFromFile(result.outputPath);
        RedrawView(settings);
        written = written && !m_view.isNull()
                  && writer.SaveAsJpeg(result.outputPath, m_view, settings.m_nQuality, -1, -1,
                                       settings.m_nDpi);
        m_preview.LoadFromFile(result.outputPath);
        result.written = written;
    }

    result.fileBytes = fileSize(result.outputPath);
    result.kilobytes = int(std::max<qint64>(result.fileBytes, 0) / 1000);
    result.title = QStringLiteral("%1 (%2 Kb)").arg(sourcePath.section(u'/', -1)).arg(result.kilobytes);
    result.information = QStringLiteral("%1\r\nAngepasste Dateigrösse: %2 Kb\r\nBildformat: %3")
                             .arg(originalSizeText)
                             .arg(result.kilobytes)
                             .arg(printFormatText(result.outputSize, settings.m_nDpi));
    if (!temporaryPath.isEmpty())
        QFile::remove(temporaryPath);
    return result;
}

void ConversionPipeline::RedrawView(const ConversionSettings& settings)
{
    const QSize size(m_preview.m_cxPixels, m_preview.m_cyPixels);
    if (size.isEmpty()) {
        m_view = QImage();
        return;
    }
    if (m_view.size() != size)
        m_view = QImage(size, QImage::Format_BGR888);
    if (m_view.isNull())
        return;
    m_view.fill(Qt::black);
    m_preview.Render(&m_view, {0, 0, size.width(), size.height()}, true, true);
    ApplyAdjustments(m_view, settings, m_effects);
}

#include "imaging/CJpegExport.h"

#include "imaging/CJpegEncoder.h"
#include "imaging/PendingFile.h"

#include <cerrno>

QByteArray CJpegExport::EncodeJpeg(const QImage& picture, int quality, int maxHeight,
                                   int maxWidth, int dpi, const QByteArray& exifSegment)
{
    if (picture.isNull())
        return {};
    int width = picture.width();
    int height = picture.height();
    if (maxWidth > 0 && maxWidth < width)
        width = maxWidth;
    if (maxHeight > 0 && maxHeight < height)
        height = maxHeight;

    const QImage rows = picture.format() == QImage::Format_BGR888
                            ? picture
                            : picture.convertToFormat(QImage::Format_BGR888);
    if (rows.isNull())
        return {};
    QByteArray bytes;
    CJpegEncoder encoder;
    encoder.SetQuality(quality);
    encoder.SetDensity(dpi);
    encoder.SetExifSegment(exifSegment);
    encoder.EncodeToMemory(rows.constBits(), width, height, bytes,
                           std::size_t(rows.bytesPerLine()));
    return bytes;
}

bool CJpegExport::SaveAsJpeg(const QString& path, const QImage& picture, int quality,
                             int maxHeight, int maxWidth, int dpi)
{
    m_lastFailure = {};
    if (path.isEmpty()) {
        m_lastFailure = {FileProblem::NotFound, ENOENT};
        return false;
    }
    if (picture.isNull()) {
        m_lastFailure.problem = FileProblem::OutOfMemory;
        return false;
    }
    const QByteArray bytes = EncodeJpeg(picture, quality, maxHeight, maxWidth, dpi);
    if (bytes.isEmpty()) {
        m_lastFailure.problem = FileProblem::OutOfMemory;
        return false;
    }
    m_lastFailure = writeFileReplacing(path, bytes);
    return !m_lastFailure.failed();
}

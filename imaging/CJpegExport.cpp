#include "CJpegExport.h"

#include "CJpegEncoder.h"
#include "FileReplace.h"

#include <QFile>

bool CJpegExport::SaveAsJpeg(const QString& path, const QImage& picture, int quality,
                             int maxHeight, int maxWidth, int dpi)
{
    if (path.isEmpty() || picture.isNull())
        return false;
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
        return false;

    const QString temporary = createTemporarySibling(path);
    if (temporary.isEmpty())
        return false;
    bool saved = false;
    {
        CJpegEncoder encoder;
        encoder.SetQuality(quality);
        encoder.SetDensity(dpi);
        saved = encoder.Encode(rows.constBits(), width, height,
                               QFile::encodeName(temporary).constData(),
                               std::size_t(rows.bytesPerLine())) == 0;
    }
    if (saved)
        saved = replaceFile(temporary, path);
    if (!saved)
        QFile::remove(temporary);
    return saved;
}

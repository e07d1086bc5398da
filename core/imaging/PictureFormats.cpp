#include "imaging/PictureFormats.h"

#include "imaging/HeifDecoder.h"

#include <QImageReader>
#include <QSet>

namespace {

struct KnownFormat
{
    const char* name;
    // Qt's name for the reader; null for the formats libheif reads.
    const char* qtFormat;
    QStringList extensions;
};

const std::vector<KnownFormat>& photoFormats()
{
    static const std::vector<KnownFormat> formats = {
        {"JPEG", "jpeg", {"jpg", "jpeg", "jpe"}},
        {"GIF", "gif", {"gif"}},
        {"BMP", "bmp", {"bmp"}},
        {"PNG", "png", {"png"}},
        {"WebP", "webp", {"webp"}},
        {"TIFF", "tiff", {"tif", "tiff"}},
        {"HEIC/HEIF", nullptr, {"heic", "heif"}},
        {"AVIF", nullptr, {"avif"}},
    };
    return formats;
}

bool isReadable(const KnownFormat& format, const QList<QByteArray>& qtFormats,
                const QStringList& heif)
{
    if (format.qtFormat != nullptr)
        return qtFormats.contains(QByteArray(format.qtFormat));
    return heif.contains(format.extensions.first());
}

} // namespace

std::vector<PictureFormat> readablePictureFormats()
{
    const QList<QByteArray> qtFormats = QImageReader::supportedImageFormats();
    const QStringList heif = heifExtensions();
    std::vector<PictureFormat> formats;
    QSet<QString> listed;
    for (const KnownFormat& known : photoFormats()) {
        // Qt's names for these formats ("jpg", "tif") are spellings, not formats.
        for (const QString& extension : known.extensions)
            listed.insert(extension);
        if (isReadable(known, qtFormats, heif))
            formats.push_back({QString::fromLatin1(known.name), known.extensions});
    }
    for (const QByteArray& qtFormat : qtFormats) {
        const QString extension = QString::fromLatin1(qtFormat).toLower();
        if (listed.contains(extension))
            continue;
        listed.insert(extension);
        formats.push_back({extension.toUpper(), {extension}});
    }
    return formats;
}

QStringList readablePictureExtensions()
{
    QStringList extensions;
    for (const PictureFormat& format : readablePictureFormats())
        extensions << format.extensions;
    return extensions;
}

QStringList folderPicturePatterns()
{
    return {QStringLiteral("*.jpg"),  QStringLiteral("*.jpe"),  QStringLiteral("*.jpeg"),
            QStringLiteral("*.gif"),  QStringLiteral("*.bmp"),  QStringLiteral("*.png"),
            QStringLiteral("*.webp"), QStringLiteral("*.tif"),  QStringLiteral("*.tiff"),
            QStringLiteral("*.heic"), QStringLiteral("*.heif"), QStringLiteral("*.avif")};
}

QString openDialogFilter()
{
    return QStringLiteral("Bilder (*.jpg *.jpeg *.jpe *.gif *.bmp);;%1;;Alle Dateien (*)")
        .arg(allPicturesFilter());
}

QString allPicturesFilter()
{
    QStringList patterns;
    for (const QString& extension : readablePictureExtensions())
        patterns << QStringLiteral("*.") + extension;
    return QStringLiteral("Alle Bilder (%1)").arg(patterns.join(u' '));
}

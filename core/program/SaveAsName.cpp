#include "program/SaveAsName.h"

#include "imaging/ConversionPipeline.h"
#include "imaging/NativeNames.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <iterator>

#include <sys/stat.h>

namespace {

// Picture formats whose readers may be missing here but whose names a user
// would still recognise.
constexpr const char* kOtherPictureExtensions[] = {
    "png", "gif", "bmp", "dib", "tif", "tiff", "webp", "heic", "heif", "avif", "jxl", "jp2", "ico",
    "tga", "psd", "xcf", "svg", "ppm", "pgm",  "pbm",  "pnm",  "dng",  "cr2",  "nef", "arw"};

constexpr const char* kJpegExtensions[] = {"jpg", "jpeg", "jpe", "jfif"};

bool isJpegExtension(const QString& suffix)
{
    return std::any_of(std::begin(kJpegExtensions), std::end(kJpegExtensions),
                       [&](const char* jpeg) { return suffix == QLatin1String(jpeg); });
}

bool isPictureExtension(const QString& suffix)
{
    if (std::any_of(std::begin(kOtherPictureExtensions), std::end(kOtherPictureExtensions),
                    [&](const char* known) { return suffix == QLatin1String(known); }))
        return true;
    return QImageReader::supportedImageFormats().contains(suffix.toLatin1());
}

} // namespace

QString proposedSaveName(const QString& sourcePath, QSize outputSize)
{
    if (sourcePath.isEmpty())
        return {};
    const QFileInfo source(sourcePath);
    QString proposal = directoryOutputPath(source.absolutePath(), sourcePath, outputSize);
    for (int copy = 2; isSameFile(proposal, sourcePath); ++copy) {
        proposal = directoryOutputPath(source.absolutePath(), sourcePath, outputSize);
        proposal.insert(proposal.size() - 4, QStringLiteral(" (%1)").arg(copy));
    }
    return proposal;
}

QString jpegSavePath(const QString& chosen)
{
    const QString suffix = QFileInfo(chosen).suffix().toLower();
    if (suffix.isEmpty() || isJpegExtension(suffix) || !isPictureExtension(suffix))
        return chosen;
    return chosen + QStringLiteral(".jpg");
}

bool isSameFile(const QString& a, const QString& b)
{
    struct stat first
    {
    };
    struct stat second
    {
    };
    if (::stat(nativeName(a).constData(), &first) != 0 ||
        ::stat(nativeName(b).constData(), &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

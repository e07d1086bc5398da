// Writes the sources of bench/formats.sh into a folder, from the shared mosaic
// photograph: photo12.png (4032 x 3024, for heif-enc), photo24.jpg (6000 x 4000,
// untagged, quality 90) and photo24-p3.jpg (the same photograph in Display P3,
// tagged with its profile: the same pixel count and file shape, only the
// colour conversion is extra).
#include <QColorSpace>
#include <QCoreApplication>
#include <QDir>
#include <QImage>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: pictavo_make_format_sources FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const QImage mosaic(QStringLiteral(PICTAVO_TESTDATA_DIR "/photos-large/mosaic_6528x4896.jpg"));
    if (mosaic.isNull()) {
        std::fprintf(stderr, "cannot read the mosaic photograph\n");
        return 1;
    }
    const QImage photo12 =
        mosaic.scaled(4032, 3024, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage photo24 = mosaic.scaled(6000, 4000, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    bool written = photo12.save(folder.filePath(QStringLiteral("photo12.png")), "PNG", 90) &&
                   photo24.save(folder.filePath(QStringLiteral("photo24.jpg")), "JPEG", 90);
    photo24.setColorSpace(QColorSpace::SRgb);
    photo24.convertToColorSpace(QColorSpace::DisplayP3);
    written =
        written && photo24.save(folder.filePath(QStringLiteral("photo24-p3.jpg")), "JPEG", 90);
    if (!written) {
        std::fprintf(stderr, "cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}

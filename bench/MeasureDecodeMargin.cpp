// How much a reduced JPEG decode changes the converted picture. For every photo
// and a few output sizes it compares the output scaled from the full decode with
// the output scaled from a decode reduced to 1/2, 1/4 or 1/8 as long as that
// still covers `margin` times the output size, and prints the PSNR in dB and the
// reduction chosen. ConversionPipeline::kDecodeMargin is chosen from this table.
#include "imaging/ConversionPipeline.h"
#include "imaging/PictureDecoder.h"
#include "imaging/PictureScaler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cmath>
#include <cstdio>

namespace {

double psnr(const QImage& a, const QImage& b)
{
    double squares = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const double dr = qRed(p[x]) - qRed(q[x]);
            const double dg = qGreen(p[x]) - qGreen(q[x]);
            const double db = qBlue(p[x]) - qBlue(q[x]);
            squares += dr * dr + dg * dg + db * db;
        }
    }
    const double mean = squares / (3.0 * a.width() * a.height());
    return mean == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mean);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : QStringLiteral(PICTAVO_TESTDATA_DIR "/photos");
    const double margins[] = {1.0, 1.25, 1.5, 2.0};
    std::printf("%-40s %5s", "photo", "out");
    for (double margin : margins)
        std::printf("   m=%.2f (1/n)", margin);
    std::printf("\n");
    for (const QFileInfo& info : QDir(folder).entryInfoList({"*.jpg"}, QDir::Files, QDir::Name)) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        const QImage full = decodePicture(bytes);
        if (full.isNull())
            continue;
        for (int target : {640, 800, 1600}) {
            const QSize output = outputSizeFor(full.size(), target);
            const QImage reference = scalePicture(full, output);
            std::printf("%-40s %5d", qPrintable(info.fileName().left(40)), target);
            for (double margin : margins) {
                const QSize minimum(int(std::ceil(output.width() * margin)),
                                    int(std::ceil(output.height() * margin)));
                const QImage reduced = decodePicture(bytes, minimum);
                const int reduction = full.width() / reduced.width();
                std::printf("   %6.2f (%d)  ", psnr(reference, scalePicture(reduced, output)),
                            reduction);
            }
            std::printf("\n");
        }
    }
    return 0;
}

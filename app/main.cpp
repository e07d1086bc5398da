// Pictavo's entry point. The main window is not built yet; until it is, the
// program shows that its picture path works: it decodes the built-in sample
// photograph, writes it as a JPEG file into the temporary folder and prints where.
#include "CJpegExport.h"
#include "CPicture.h"
#include "resource.h"

#include <QDir>
#include <QCoreApplication>
#include <QImage>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvendel AG"));
    QCoreApplication::setApplicationName(QStringLiteral("Pictavo"));

    CPicture sample;
    if (!sample.LoadFromResource(IDR_SAMPLE_JPG, "JPG"))
        return 1;
    QImage picture(sample.m_cxPixels, sample.m_cyPixels, QImage::Format_BGR888);
    picture.fill(Qt::white);
    sample.Render(&picture, {0, 0, picture.width(), picture.height()}, false, false);

    const QString tempDir = qEnvironmentVariableIsSet("TEMP") ? qEnvironmentVariable("TEMP")
                                                              : QDir::tempPath();
    const QString path = QDir(tempDir).filePath(QStringLiteral("Pictavo-sample.jpg"));
    if (!CJpegExport().SaveAsJpeg(path, picture, 60, -1, -1, 90)) {
        std::fprintf(stderr, "Pictavo: could not write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("%s\n", qPrintable(QDir::toNativeSeparators(path)));
    return 0;
}

// The conversion of one picture: output size, file naming, the texts the user
// reads, the source cache, unreadable sources, the sample photograph and the
// temporary file.
#include "imaging/ConversionPipeline.h"
#include "imaging/SettingsSummary.h"
#include "imaging/SizeLimit.h"
#include "PictureSamples.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>

#include <clocale>

#include <exiv2/exiv2.hpp>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A picture with a different colour in each quarter, so that turns and mirrors show.
QImage quarters(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            image.setPixel(x, y, right ? (bottom ? 0xff0000ff : 0xff00ff00)
                                       : (bottom ? 0xffffff00 : 0xffff0000));
        }
    return image;
}

QString saved(const QTemporaryDir& dir, const QString& name, const QImage& image, const char* format)
{
    const QString path = dir.filePath(name);
    EXPECT_TRUE(image.save(path, format));
    return path;
}

QImage loaded(const QString& path)
{
    return QImage(path);
}

TEST(ConversionPipeline, OutputSizeKeepsProportionsInIntegers)
{
    EXPECT_EQ(outputSizeFor({1600, 1200}, 800), QSize(800, 600));
    EXPECT_EQ(outputSizeFor({1200, 1600}, 800), QSize(600, 800));
    EXPECT_EQ(outputSizeFor({1000, 1000}, 800), QSize(800, 800));
    EXPECT_EQ(outputSizeFor({3000, 10}, 100), QSize(100, 1));
    EXPECT_EQ(outputSizeFor({10, 3000}, 100), QSize(1, 100));
    EXPECT_EQ(outputSizeFor({303, 240}, 2000), QSize(2000, 1584)); // enlarging is allowed
    EXPECT_EQ(outputSizeFor({4000, 3000}, 0), QSize(1, 1));
    // Products beyond 32 bits and sides beyond what JPEG stores.
    EXPECT_EQ(outputSizeFor({60000, 50000}, 1000000000), QSize(65500, 54583));
    EXPECT_EQ(outputSizeFor({0, 100}, 640), QSize());

    EXPECT_EQ(viewBoxOtherSide(800, {800, 600}), 600);
    EXPECT_EQ(viewBoxOtherSide(641, {600, 800}), 480);
    EXPECT_EQ(viewBoxOtherSide(500, {300, 300}), 500);
    EXPECT_EQ(viewBoxOtherSide(500, {0, 0}), 500); // no preview: no division by zero
}

TEST(ConversionPipeline, PrintFormatAlwaysUsesADecimalPoint)
{
    EXPECT_EQ(printFormatText({800, 600}, 96), QStringLiteral("21.2 x 15.9 cm"));
    EXPECT_EQ(printFormatText({800, 600}, 72), QStringLiteral("28.2 x 21.2 cm"));
    EXPECT_EQ(printFormatText({800, 600}, 0), QStringLiteral("Automatisch"));

    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(printFormatText({800, 600}, 96), QStringLiteral("21.2 x 15.9 cm"));
    if (german != nullptr)
        std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(previous);
}

TEST(ConversionPipeline, NamesFollowTheSourceAndTheOutputSize)
{
    qputenv("TEMP", "/var/tmp/pictavo-test");
    EXPECT_EQ(temporaryPicturePath(9), QStringLiteral("/var/tmp/pictavo-test/Temppic.jpg9.jpg"));
    qunsetenv("TEMP");
    EXPECT_EQ(temporaryPicturePath(3), QDir::tempPath() + QStringLiteral("/Temppic.jpg3.jpg"));

    EXPECT_EQ(directoryOutputPath("/out", "/pics/Urlaub.bmp", {800, 600}),
              QStringLiteral("/out/Urlaub 800x600.jpg"));
    EXPECT_EQ(directoryOutputPath("/out/", "/pics/a.b.jpeg", {1, 2}),
              QStringLiteral("/out/a.b 1x2.jpg"));
    EXPECT_EQ(directoryOutputPath("/out", "/pics/README", {5, 5}),
              QStringLiteral("/out/README 5x5.jpg"));
}

TEST(ConversionPipeline, DirectoryConversionWritesNamedFileAndReportsIt)
{
    QTemporaryDir dir;
    QTemporaryDir out;
    const QString source = saved(dir, "Urlaub.bmp", quarters(1600, 1200), "BMP");
    const QString temporary = dir.filePath("Temppic.jpg1.jpg");
    ConversionSettings settings;
    settings.m_nTargetSize = 800;
    settings.m_nQuality = 60;
    settings.m_nDpi = 96;

    ConversionPipeline pipeline;
    const ConversionResult result = pipeline.Convert(source, settings, out.path(), {}, temporary);
    EXPECT_EQ(result.outputPath, out.filePath("Urlaub 800x600.jpg"));
    EXPECT_TRUE(result.written);
    EXPECT_TRUE(result.sourceLoaded);
    EXPECT_FALSE(result.usedSample);
    EXPECT_EQ(loaded(result.outputPath).size(), QSize(800, 600));
    EXPECT_EQ(result.fileBytes, QFileInfo(result.outputPath).size());
    EXPECT_EQ(result.kilobytes, int(result.fileBytes / 1000));
    EXPECT_EQ(result.title, QStringLiteral("Urlaub.bmp (%1 Kb)").arg(result.kilobytes));
    EXPECT_EQ(result.information,
              QStringLiteral("Original Dateigrösse: %1 Kb\r\nAngepasste Dateigrösse: %2 Kb\r\n"
                             "Bildformat: 21.2 x 15.9 cm")
                  .arg(QFileInfo(source).size() / 1000)
                  .arg(result.kilobytes));
    EXPECT_FALSE(QFileInfo::exists(temporary));
    EXPECT_EQ(pipeline.preview().m_cxPixels, 800);
    EXPECT_EQ(pipeline.view().size(), QSize(800, 600));
    EXPECT_EQ(pipeline.originalSize(), QSize(1600, 1200));

    // The colours of the quarters arrive where they belong.
    const QImage output = loaded(result.outputPath);
    EXPECT_GT(qRed(output.pixel(200, 150)), 200);
    EXPECT_GT(qGreen(output.pixel(600, 150)), 200);
    EXPECT_GT(qBlue(output.pixel(600, 450)), 200);
}

TEST(ConversionPipeline, SourceIsLoadedOnceAndUnreadableSourcesChangeNothing)
{
    QTemporaryDir dir;
    const QString first = saved(dir, "first.png", quarters(400, 300), "PNG");
    const QString second = saved(dir, "second.jpg", quarters(300, 400), "JPEG");
    const QString missing = dir.filePath("missing.jpg");
    const QString temporary = dir.filePath("Temppic.jpg7.jpg");
    ConversionSettings settings;
    settings.m_nTargetSize = 200;
    ConversionPipeline pipeline;

    ConversionResult result = pipeline.Convert(first, settings, {}, {}, temporary);
    EXPECT_TRUE(result.sourceLoaded);
    EXPECT_TRUE(result.information.startsWith(QStringLiteral("Original Dateigrösse: ")));
    EXPECT_EQ(result.outputPath, temporary);
    EXPECT_FALSE(QFileInfo::exists(temporary)); // the preview's file lives for its run only
    EXPECT_EQ(result.fileBytes, result.jpeg.size());
    EXPECT_EQ(pipeline.preview().m_cxPixels, 200);

    // Same path: nothing is loaded, the first line stays empty. Even a changed
    // file is not read again.
    ASSERT_TRUE(quarters(100, 100).save(first, "PNG"));
    result = pipeline.Convert(first, settings, {}, {}, temporary);
    EXPECT_FALSE(result.sourceLoaded);
    EXPECT_TRUE(result.information.startsWith(QStringLiteral("\r\nAngepasste Dateigrösse: ")));
    EXPECT_EQ(pipeline.preview().m_cxPixels, 200);
    EXPECT_EQ(pipeline.preview().m_cyPixels, 150);

    // A different path loads again.
    result = pipeline.Convert(second, settings, {}, {}, temporary);
    EXPECT_TRUE(result.sourceLoaded);
    EXPECT_EQ(pipeline.preview().m_cxPixels, 150);

    // A missing file is reported, silently, and changes nothing: no sample, no
    // file, the picture before stays loaded.
    const QString output = dir.filePath("out.jpg");
    result = pipeline.Convert(missing, settings, {}, output, temporary);
    EXPECT_EQ(result.readFailure.problem, FileProblem::NotFound);
    EXPECT_FALSE(result.converted());
    EXPECT_FALSE(result.written);
    EXPECT_FALSE(result.usedSample);
    EXPECT_FALSE(QFileInfo::exists(output));
    EXPECT_EQ(pipeline.loadedPath(), second);
    EXPECT_EQ(pipeline.originalSize(), QSize(300, 400));
    EXPECT_EQ(pipeline.preview().m_cxPixels, 150);
    EXPECT_TRUE(result.messages.isEmpty());

    // The failed path is not remembered: once the file is there, it loads.
    ASSERT_TRUE(quarters(64, 64).save(missing, "JPEG"));
    result = pipeline.Convert(missing, settings, {}, {}, temporary);
    EXPECT_TRUE(result.sourceLoaded);
    EXPECT_EQ(pipeline.originalSize(), QSize(64, 64));

    // Only an empty path asks for the sample photograph (303 x 240).
    result = pipeline.Convert(QString(), settings, {}, {}, temporary);
    EXPECT_TRUE(result.usedSample);
    EXPECT_EQ(pipeline.originalSize(), QSize(303, 240));
}

TEST(ConversionPipeline, QuarterTurnSwapsTheOutputAndOrientationsTurnThePicture)
{
    QTemporaryDir dir;
    const QString source = saved(dir, "landscape.png", quarters(160, 120), "PNG");
    ConversionSettings settings;
    settings.m_nTargetSize = 80;
    settings.m_nQuality = 95;

    const auto convert = [&](int orientation) {
        settings.m_nOrientation = orientation;
        ConversionPipeline pipeline;
        const QString output = dir.filePath(QStringLiteral("turned%1.jpg").arg(orientation));
        pipeline.Convert(source, settings, {}, output, {});
        return loaded(output);
    };
    // Corners of the source: red top left, green top right, yellow bottom left,
    // blue bottom right.
    const QImage turned90 = convert(1);
    ASSERT_EQ(turned90.size(), QSize(60, 80));
    // A quarter turn clockwise: red top right, green bottom right, blue bottom
    // left, yellow top left.
    EXPECT_GT(qRed(turned90.pixel(50, 5)), 200);
    EXPECT_LT(qGreen(turned90.pixel(50, 5)), 60);
    EXPECT_GT(qGreen(turned90.pixel(50, 75)), 200);
    EXPECT_LT(qRed(turned90.pixel(50, 75)), 60);
    EXPECT_GT(qBlue(turned90.pixel(5, 75)), 200);
    EXPECT_GT(qRed(turned90.pixel(5, 5)), 200);
    EXPECT_GT(qGreen(turned90.pixel(5, 5)), 200);
    const QImage turned180 = convert(2);
    ASSERT_EQ(turned180.size(), QSize(80, 60));
    EXPECT_GT(qBlue(turned180.pixel(5, 5)), 200);
    const QImage mirrored = convert(4);
    EXPECT_GT(qGreen(mirrored.pixel(5, 5)), 200);
    EXPECT_LT(qRed(mirrored.pixel(5, 5)), 60);
    const QImage transposed = convert(5); // output (x, y) = source (y, x)
    ASSERT_EQ(transposed.size(), QSize(60, 80));
    EXPECT_GT(qRed(transposed.pixel(5, 5)), 200);
    EXPECT_LT(qGreen(transposed.pixel(5, 5)), 60);
    EXPECT_GT(qGreen(transposed.pixel(50, 5)), 200); // yellow: the source's bottom left
    EXPECT_GT(qRed(transposed.pixel(50, 5)), 200);
    EXPECT_GT(qGreen(transposed.pixel(5, 75)), 200); // green: the source's top right
    EXPECT_LT(qRed(transposed.pixel(5, 75)), 60);
}

TEST(ConversionPipeline, SameSettingsGiveTheSameBytes)
{
    QTemporaryDir dir;
    const QString source = saved(dir, "source.jpg", quarters(640, 480), "JPEG");
    ConversionSettings settings;
    settings.m_nTargetSize = 333;
    settings.m_nBrightness = 20;
    settings.m_nContrast = -30;
    settings.m_bGrayscale = 1;
    settings.m_nOrientation = 3;
    ConversionPipeline first;
    ConversionPipeline second;
    first.Convert(source, settings, {}, dir.filePath("a.jpg"), {});
    second.Convert(source, settings, {}, dir.filePath("b.jpg"), {});
    first.Convert(source, settings, {}, dir.filePath("c.jpg"), {}); // from the cached source
    const QByteArray a = readAll(dir.filePath("a.jpg"));
    ASSERT_FALSE(a.isEmpty());
    EXPECT_EQ(a, readAll(dir.filePath("b.jpg")));
    EXPECT_EQ(a, readAll(dir.filePath("c.jpg")));
}

TEST(ConversionPipeline, OversizedOutputIsRefusedWithAMessage)
{
    QTemporaryDir dir;
    const QString source = saved(dir, "square.png", quarters(50, 50), "PNG");
    const QString output = dir.filePath("huge.jpg");
    ConversionSettings settings;
    settings.m_nTargetSize = 60000; // 3.6 gigapixels
    ConversionPipeline pipeline;
    const ConversionResult result = pipeline.Convert(source, settings, {}, output, {});
    EXPECT_FALSE(result.written);
    EXPECT_FALSE(QFileInfo::exists(output));
    EXPECT_EQ(result.messages, QStringList{"CPicture Error: Can not allocate enough memory"});
    EXPECT_EQ(result.kilobytes, 0);
}

TEST(ConversionPipeline, RedrawAppliesTheCurrentAdjustments)
{
    QTemporaryDir dir;
    const QString source = saved(dir, "grey.png", quarters(100, 100), "PNG");
    ConversionSettings settings;
    settings.m_nTargetSize = 50;
    ConversionPipeline pipeline;
    pipeline.Convert(source, settings, {}, {}, dir.filePath("t.jpg"));
    ASSERT_EQ(pipeline.view().size(), QSize(50, 50));
    EXPECT_GT(qRed(pipeline.view().pixel(5, 5)), 200);

    settings.m_nBrightness = -100;
    pipeline.RedrawView(settings);
    for (int y = 0; y < 50; y += 7)
        for (int x = 0; x < 50; x += 7)
            EXPECT_EQ(pipeline.view().pixel(x, y), 0xff000000u) << x << "," << y;
}

// Fine detail everywhere, so that every reduced decode and every scale leaves
// its own trace in the bytes.
QImage textured(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 state = 12345;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 26);
            row[x] = qRgb((x * 255 / width + noise) & 0xff, (y * 255 / height + noise) & 0xff,
                          ((x ^ y) + noise) & 0xff);
        }
    }
    return image;
}

double meanLevel(const QImage& image)
{
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qGray(image.pixel(x, y));
    return sum / (double(image.width()) * image.height());
}

// The file depends on the source and the settings only: a conversion after a
// larger one (a finer decode kept) or a smaller one (a coarser decode kept)
// writes what a fresh pipeline writes.
TEST(ConversionPipeline, BytesDoNotDependOnEarlierConversions)
{
    QTemporaryDir dir;
    const QString jpeg = saved(dir, "photo.jpg", textured(1600, 1200), "JPEG");
    const QString png = saved(dir, "photo.png", textured(1200, 900), "PNG");
    const struct
    {
        QString source;
        int earlier;
        int target;
        int orientation;
    } cases[] = {{jpeg, 1600, 300, 0}, {jpeg, 1000, 250, 0}, {jpeg, 100, 300, 0},
                 {jpeg, 1600, 300, 1}, {jpeg, 120, 700, 3},  {png, 1200, 200, 0},
                 {png, 90, 250, 0}};
    for (const auto& c : cases) {
        ConversionSettings settings;
        settings.m_nOrientation = c.orientation;
        settings.m_nTargetSize = c.target;
        const QString fresh = dir.filePath("fresh.jpg");
        const QString later = dir.filePath("later.jpg");
        ConversionPipeline().Convert(c.source, settings, {}, fresh, {});

        ConversionPipeline pipeline;
        ConversionSettings before = settings;
        before.m_nTargetSize = c.earlier;
        pipeline.Convert(c.source, before, {}, {}, {});
        pipeline.Convert(c.source, settings, {}, later, {});
        const QByteArray expected = readAll(fresh);
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_TRUE(readAll(later) == expected)
            << c.source.toStdString() << " " << c.earlier << " then " << c.target;
    }
}

// The quick redraw of kinds 2 and 3 starts from the unadjusted first encoding:
// it shows exactly the picture the next conversion encodes a second time, and it
// never moves away from where the user is heading.
TEST(ConversionPipeline, QuickRedrawShowsWhatTheNextConversionEncodes)
{
    QTemporaryDir dir;
    const QString source = saved(dir, "photo.png", textured(400, 300), "PNG");
    const struct
    {
        const char* change;
        void (*from)(ConversionSettings&);
        void (*to)(ConversionSettings&);
    } cases[] = {
        {"brightness lowered", [](ConversionSettings& s) { s.m_nBrightness = 40; },
         [](ConversionSettings& s) { s.m_nBrightness = 20; }},
        {"contrast kept", [](ConversionSettings& s) { s.m_nContrast = 50; },
         [](ConversionSettings& s) { s.m_nContrast = 50; }},
        {"half turn kept", [](ConversionSettings& s) { s.m_nOrientation = 2; },
         [](ConversionSettings& s) { s.m_nOrientation = 2; }},
        {"black and white off", [](ConversionSettings& s) { s.m_bGrayscale = 1; },
         [](ConversionSettings& s) { s.m_nRed = 30; }},
    };
    for (const auto& c : cases) {
        ConversionSettings from;
        from.m_nTargetSize = 200;
        c.from(from);
        ConversionSettings to;
        to.m_nTargetSize = 200;
        c.to(to);
        ConversionPipeline pipeline;
        pipeline.Convert(source, from, {}, {}, {});
        const QImage converted = pipeline.view();
        pipeline.RedrawView(to);
        const QImage quick = pipeline.view();
        pipeline.Convert(source, to, {}, {}, {});
        ASSERT_FALSE(quick.isNull()) << c.change;
        EXPECT_EQ(quick, pipeline.view()) << c.change;
        if (to.m_nBrightness < from.m_nBrightness) {
            EXPECT_LT(meanLevel(quick), meanLevel(converted)) << c.change;
        }
    }
}

} // namespace

namespace {

// A photograph tagged with capture data, a location, maker notes and a
// thumbnail, as a phone writes it; `format` is "JPG", "PNG" or "WEBP", tagged
// by exiv2, or "eXIf", a PNG with the block in an eXIf chunk.
QString taggedPhoto(const QTemporaryDir& dir, const char* format)
{
    const bool exifChunk = qstrcmp(format, "eXIf") == 0;
    const char* written = exifChunk ? "PNG" : format;
    const QImage photo(QString::fromStdString(testdata::path("photos/Sumo_Museum.jpg").string()));
    const QString path = dir.filePath(QStringLiteral("tagged.") + QString::fromLatin1(written).toLower());
    EXPECT_TRUE(photo.scaledToWidth(400).save(path, written));
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Orvendel";
    exif["Exif.Image.Model"] = "Reisekamera 7";
    exif["Exif.Image.Orientation"] = uint16_t(6);
    exif["Exif.Image.Copyright"] = "Anna Muster";
    exif["Exif.Image.Artist"] = "Anna Muster";
    exif["Exif.Photo.DateTimeOriginal"] = "2026:07:14 10:31:07";
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(50, 1);
    exif["Exif.Photo.BodySerialNumber"] = "SN123456";
    exif["Exif.Photo.MakerNote"] = "secret";
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = "47/1 22/1 0/1";
    exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
    exif["Exif.GPSInfo.GPSLongitude"] = "8/1 32/1 0/1";
    Exiv2::ExifThumb(exif).setJpegThumbnail(
        reinterpret_cast<const Exiv2::byte*>(readAll(path).constData()), 0);
    if (exifChunk) {
        Exiv2::Blob block;
        Exiv2::ExifParser::encode(block, Exiv2::bigEndian, exif);
        QFile file(path);
        const QByteArray png = readAll(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(samples::pngWithExif(
            png, QByteArray(reinterpret_cast<const char*>(block.data()), qsizetype(block.size()))));
        return path;
    }
    auto image = Exiv2::ImageFactory::open(path.toStdString());
    image->setExifData(exif);
    image->writeMetadata();
    return path;
}

Exiv2::ExifData exifOf(const QByteArray& bytes)
{
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                           long(bytes.size()));
    image->readMetadata();
    return image->exifData();
}

TEST(ConversionPipeline, CaptureDataIsKeptOnRequestButNeverTheLocation)
{
    for (const char* format : {"JPG", "PNG", "WEBP", "eXIf"}) {
        SCOPED_TRACE(format);
        QTemporaryDir dir;
        const QString source = taggedPhoto(dir, format);
        ConversionSettings settings;
        settings.m_nTargetSize = 200;

        ConversionPipeline plain;
        const QByteArray untagged = plain.Convert(source, settings, {}, dir.filePath("plain.jpg"), {}).jpeg;
        EXPECT_FALSE(untagged.contains(QByteArray("Exif\0\0", 6))) << "kept without being asked";

        settings.m_bKeepExif = 1;
        ConversionPipeline keeping;
        const ConversionResult result = keeping.Convert(source, settings, {}, dir.filePath("kept.jpg"), {});
        const QByteArray& jpeg = result.jpeg;
        ASSERT_GT(jpeg.size(), 30);
        // SOI, the JFIF header of 16 bytes, then the EXIF block.
        EXPECT_EQ(jpeg.mid(0, 4), QByteArray("\xFF\xD8\xFF\xE0"));
        EXPECT_EQ(jpeg.mid(20, 2), QByteArray("\xFF\xE1"));
        EXPECT_EQ(jpeg.mid(24, 6), QByteArray("Exif\0\0", 6));
        EXPECT_EQ(readAll(result.outputPath), jpeg);

        const Exiv2::ExifData exif = exifOf(jpeg);
        const auto text = [&](const char* key) {
            const auto found = exif.findKey(Exiv2::ExifKey(key));
            return found == exif.end() ? std::string("(none)") : found->toString();
        };
        EXPECT_EQ(text("Exif.Image.Make"), "Orvendel");
        EXPECT_EQ(text("Exif.Image.Model"), "Reisekamera 7");
        EXPECT_EQ(text("Exif.Image.Copyright"), "Anna Muster");
        EXPECT_EQ(text("Exif.Image.Artist"), "Anna Muster");
        EXPECT_EQ(text("Exif.Photo.DateTimeOriginal"), "2026:07:14 10:31:07");
        EXPECT_EQ(text("Exif.Photo.ISOSpeedRatings"), "200");
        EXPECT_EQ(text("Exif.Photo.ExposureTime"), "1/250");
        EXPECT_EQ(text("Exif.Photo.FocalLength"), "50/1");
        // The pixels are upright and of the output's size. Viewers ignore EXIF
        // in a PNG's text chunks, where exiv2 writes it: that PNG stays as stored.
        const QImage output = QImage::fromData(jpeg);
        const bool turned = QByteArray(format) != "PNG";
        EXPECT_EQ(turned ? output.height() : output.width(), 200)
            << "the source's orientation 6 turns it upright";
        EXPECT_LT(turned ? output.width() : output.height(), 200);
        EXPECT_EQ(text("Exif.Image.Orientation"), "1");
        EXPECT_EQ(text("Exif.Photo.PixelXDimension"), std::to_string(output.width()));
        EXPECT_EQ(text("Exif.Photo.PixelYDimension"), std::to_string(output.height()));
        for (const Exiv2::Exifdatum& datum : exif) {
            EXPECT_NE(datum.groupName(), "GPSInfo") << datum.key();
            EXPECT_NE(datum.groupName(), "Thumbnail") << datum.key();
            EXPECT_NE(datum.key(), "Exif.Photo.MakerNote");
            EXPECT_NE(datum.key(), "Exif.Photo.BodySerialNumber");
        }
    }
}

} // namespace

namespace {

TEST(SizeLimit, SearchFindsTheHighestQualityThatFits)
{
    struct Case
    {
        const char* name;
        qint64 limit;
        int chosen;
        int expected;
        bool fits;
    };
    // Sizes that grow with the quality, faster towards the top, as JPEG's do.
    const auto bytes = [](int quality) { return qint64(1000 + quality * quality * 10); };
    const Case cases[] = {
        {"chosen quality fits", 1'000'000, 70, 70, true},
        {"limit between two qualities", 1000 + 42 * 42 * 10 + 5, 90, 42, true},
        {"limit exactly at a quality", 1000 + 17 * 17 * 10, 100, 17, true},
        {"only quality 1 fits", 1010, 60, 1, true},
        {"nothing fits", 999, 60, 1, false},
        {"chosen above 100 searches from 100", 1000 + 99 * 99 * 10, 150, 99, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QualitySearch search = findQualityWithin(c.limit, c.chosen, bytes);
        EXPECT_EQ(search.quality, c.expected);
        EXPECT_EQ(search.fits, c.fits);
        EXPECT_EQ(search.bytes, bytes(c.expected));
        EXPECT_LE(search.encodings, 12) << "far fewer encodings than qualities";
    }
}

// The real files: the quality found is within one step of the best one an
// exhaustive search finds, the file never exceeds the limit, and a limit that
// cannot be reached is named and writes nothing.
TEST(SizeLimit, ConversionKeepsTheLimitOrSaysItCannot)
{
    QTemporaryDir dir;
    for (const char* photo : {"photos/Sumo_Museum.jpg", "photos/cameratrap_domestic_dog.jpg",
                              "photos/libjxl_flower.jpg"}) {
        SCOPED_TRACE(photo);
        const QString source = QString::fromStdString(testdata::path(photo).string());
        ConversionSettings settings;
        settings.m_nQuality = 60;
        const qint64 limit = 30'000;
        ConversionPipeline pipeline;
        int best = 0;
        for (int quality = 1; quality <= settings.m_nQuality; ++quality) {
            ConversionSettings plain = settings;
            plain.m_nQuality = quality;
            if (pipeline.Convert(source, plain, {}, {}, {}).jpeg.size() <= limit)
                best = quality;
        }
        ASSERT_GT(best, 1);

        settings.m_nMaxKb = int(limit / 1000);
        const QString output = dir.filePath(QStringLiteral("limited.jpg"));
        const ConversionResult result = ConversionPipeline().Convert(source, settings, {}, output, {});
        ASSERT_TRUE(result.written);
        EXPECT_LE(QFileInfo(output).size(), limit);
        EXPECT_GE(result.qualityUsed, best - 1);
        EXPECT_LE(result.qualityUsed, best);
        EXPECT_TRUE(result.information.endsWith(
            QStringLiteral("\r\nQualität automatisch: %1 %").arg(result.qualityUsed)));
    }

    const QString source = QString::fromStdString(testdata::path("photos/Sumo_Museum.jpg").string());
    const QString existing = dir.filePath(QStringLiteral("existing.jpg"));
    QFile(existing).open(QIODevice::WriteOnly);
    ConversionSettings settings;
    settings.m_nMaxKb = 1;
    const ConversionResult missed = ConversionPipeline().Convert(source, settings, {}, existing, {});
    EXPECT_TRUE(missed.limitMissed);
    EXPECT_FALSE(missed.written);
    EXPECT_EQ(missed.writeFailure.problem, FileProblem::AboveSizeLimit);
    EXPECT_EQ(QFileInfo(existing).size(), 0) << "the file there before stays";
    EXPECT_TRUE(missed.information.endsWith(QStringLiteral("\r\nHöchstens 1 Kb nicht erreichbar (Qualität 1: %1 Kb)")
                                                .arg(missed.bytesAtLowestQuality / 1000)));
    EXPECT_GT(missed.bytesAtLowestQuality, 1000);

    settings.m_bShrinkToFit = 1;
    const ConversionResult shrunk = ConversionPipeline().Convert(source, settings, dir.path(), {}, {});
    ASSERT_TRUE(shrunk.written);
    EXPECT_TRUE(shrunk.shrunk);
    EXPECT_LE(QFileInfo(shrunk.outputPath).size(), 1000);
    EXPECT_LT(shrunk.outputSize.width(), 640);
    EXPECT_EQ(QImage(shrunk.outputPath).size(), shrunk.outputSize);
    EXPECT_TRUE(shrunk.information.contains(
        QStringLiteral("Verkleinert auf %1 x %2 Pixel").arg(shrunk.outputSize.width()).arg(shrunk.outputSize.height())));

    // A limit that fits at full size only below the clean quality takes pixels
    // instead; the chosen quality stays the ceiling.
    settings.m_nTargetSize = 1024;
    settings.m_nMaxKb = 30;
    for (const int chosen : {80, 40}) {
        settings.m_nQuality = chosen;
        const ConversionResult traded = ConversionPipeline().Convert(source, settings, dir.path(), {}, {});
        ASSERT_TRUE(traded.written);
        EXPECT_TRUE(traded.shrunk);
        EXPECT_LE(QFileInfo(traded.outputPath).size(), 30000);
        EXPECT_GE(traded.qualityUsed, std::min(chosen, kLowestCleanQuality));
        EXPECT_LE(traded.qualityUsed, chosen);
    }
}

TEST(ConversionPipeline, NoEnlargeKeepsASmallSourcesSize)
{
    ConversionSettings settings;
    settings.m_nTargetSize = 640;
    EXPECT_EQ(convertedSize(QSize(400, 300), settings), QSize(640, 480));
    settings.m_bNoEnlarge = 1;
    EXPECT_EQ(convertedSize(QSize(400, 300), settings), QSize(400, 300));
    EXPECT_EQ(convertedSize(QSize(300, 400), settings), QSize(300, 400));
    EXPECT_EQ(convertedSize(QSize(1600, 1200), settings), QSize(640, 480));
}

} // namespace

namespace {

TEST(SettingsSummary, NamesWhatDiffersFromTheStart)
{
    ConversionSettings start;
    start.m_nTargetSize = 800;
    start.m_nQuality = 60;
    ConversionSettings turned = start;
    turned.m_nOrientation = 1 + 4;
    ConversionSettings busy = start;
    busy.m_nOrientation = 2;
    busy.m_bGrayscale = 1;
    busy.m_nBrightness = -20;
    busy.m_nGreen = 5;
    busy.m_nEffect = 4;
    busy.m_nMaxKb = 200;
    busy.m_bShrinkToFit = 1;
    const struct
    {
        ConversionSettings settings;
        const char* effect;
        const char* expected;
    } cases[] = {
        {start, "", "800 px, Qualität 60 %"},
        {turned, "", "800 px, Qualität 60 %, gedreht 90°, gespiegelt"},
        {busy, "Negativ",
         "800 px, Qualität 60 %, höchstens 200 Kb, notfalls verkleinert, gedreht 180°, schwarzweiss, "
         "Helligkeit -20, Grün +5, Effekt Negativ"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(settingsSummary(c.settings, QString::fromUtf8(c.effect)).toStdString(), c.expected);
}

} // namespace

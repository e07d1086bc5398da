// pictavo-cli: reading the command line, and whole runs of the built program on
// real pictures: names, sizes and reports of the results, pictures that cannot be
// read, files that must survive, and the same bytes with one thread or several.
#include "CliOptions.h"
#include "InputList.h"
#include "JsonLine.h"
#include "imaging/ConversionPipeline.h"
#include "imaging/NativeNames.h"
#include "PictureSamples.h"
#include "TestData.h"

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// ---- the command line ------------------------------------------------------

QStringList words(const char* line)
{
    return QString::fromLatin1(line).split(u' ', Qt::SkipEmptyParts);
}

CliOptions parsed(const QStringList& arguments)
{
    QString error;
    const std::optional<CliOptions> options = parseCliArguments(arguments, error);
    EXPECT_TRUE(options.has_value()) << error.toStdString();
    return options.value_or(CliOptions());
}

TEST(CliOptions, DefaultsMatchTheUsage)
{
    const CliOptions options = parsed({QStringLiteral("a.jpg")});
    EXPECT_EQ(options.action, CliAction::Convert);
    EXPECT_EQ(options.settings.m_nTargetSize, 640);
    EXPECT_EQ(options.settings.m_nQuality, 60);
    EXPECT_EQ(options.settings.m_nDpi, 90);
    EXPECT_FALSE(options.settings.hasColourAdjustments());
    EXPECT_EQ(options.settings.m_nOrientation, 0);
    EXPECT_TRUE(options.effect.isEmpty());
    EXPECT_TRUE(options.destination.isEmpty());
    EXPECT_TRUE(options.output.isEmpty());
    EXPECT_EQ(options.jobs, int(std::max(1u, std::thread::hardware_concurrency())));
    EXPECT_EQ(options.inputs, QStringList{QStringLiteral("a.jpg")});
}

TEST(CliOptions, EveryOptionReachesItsSetting)
{
    const CliOptions options = parsed(words("-s 800 --quality=85 --dpi 0 --brightness -20"
                                            " --contrast 30 --red 5 --green=-6 --blue 7 --bw"
                                            " --rotate 270 --mirror --effect Negativ -j3 -d out"
                                            " --memory=512 --keep-exif -r --files-from=list"
                                            " --null --shard 2/3 --skip-existing --json"
                                            " a.jpg -- -b.gif -"));
    const ConversionSettings& s = options.settings;
    EXPECT_EQ(s.m_nTargetSize, 800);
    EXPECT_EQ(s.m_nQuality, 85);
    EXPECT_EQ(s.m_nDpi, 0);
    EXPECT_EQ(s.m_nBrightness, -20);
    EXPECT_EQ(s.m_nContrast, 30);
    EXPECT_EQ(s.m_nRed, 5);
    EXPECT_EQ(s.m_nGreen, -6);
    EXPECT_EQ(s.m_nBlue, 7);
    EXPECT_NE(s.m_bGrayscale, 0);
    EXPECT_NE(s.m_bKeepExif, 0);
    EXPECT_EQ(s.m_nOrientation, 3 + 4);
    EXPECT_EQ(options.effect, QStringLiteral("Negativ"));
    EXPECT_EQ(options.jobs, 3);
    EXPECT_EQ(options.memoryMegabytes, 512);
    EXPECT_EQ(options.destination, QStringLiteral("out"));
    EXPECT_EQ(options.inputs, (QStringList{"a.jpg", "-b.gif", "-"}));
    EXPECT_TRUE(options.recursive);
    EXPECT_EQ(options.filesFrom, QStringLiteral("list"));
    EXPECT_TRUE(options.nullSeparated);
    EXPECT_EQ(options.shard.index, 1);
    EXPECT_EQ(options.shard.count, 3);
    EXPECT_TRUE(options.skipExisting);
    EXPECT_TRUE(options.json);
    // A list alone is enough to convert.
    EXPECT_EQ(parsed({"--files-from", "-"}).inputs, QStringList());
}

TEST(CliOptions, ValuesAreReadAndLimitedAsDocumented)
{
    EXPECT_EQ(parsed({"--rotate", "90", "a"}).settings.m_nOrientation, 1);
    EXPECT_EQ(parsed({"--rotate", "180", "a"}).settings.m_nOrientation, 2);
    EXPECT_EQ(parsed({"--mirror", "a"}).settings.m_nOrientation, 4);
    EXPECT_EQ(parsed({"a"}).settings.m_nBackground, -1);
    EXPECT_EQ(parsed({"--background", "white", "a"}).settings.m_nBackground, 0xFFFFFF);
    EXPECT_EQ(parsed({"--background=#0080fF", "a"}).settings.m_nBackground, 0x0080FF);
    EXPECT_EQ(parsed({"-q", "150", "a"}).settings.m_nQuality, 100);
    EXPECT_EQ(parsed({"-q", "-5", "a"}).settings.m_nQuality, 0);
    EXPECT_EQ(parsed({"-s", "1", "a"}).settings.m_nTargetSize, 1);
    EXPECT_EQ(parsed({"--size=65500", "a"}).settings.m_nTargetSize, 65500);
    EXPECT_EQ(parsed({"-s", "100", "-s", "200", "a"}).settings.m_nTargetSize, 200);
    EXPECT_EQ(parsed({"-o", "x.jpg", "a"}).output, QStringLiteral("x.jpg"));
    EXPECT_EQ(parsed({"--list-effects"}).action, CliAction::ListEffects);
    EXPECT_EQ(parsed({"--list-formats"}).action, CliAction::ListFormats);
    // Help and version are shown whatever follows them.
    EXPECT_EQ(parsed({"-h", "--size", "abc"}).action, CliAction::Help);
    EXPECT_EQ(parsed({"--version", "--size", "abc"}).action, CliAction::Version);
}

TEST(CliOptions, BadCommandLinesAreRefusedWithTheOptionNamed)
{
    // Each command line with the word its message must contain.
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"-s 0 a", "-s"},
        {"--size 65501 a", "--size"},
        {"-s 12px a", "-s"},
        {"-s", "-s"},
        {"--quality 1.5 a", "--quality"},
        {"--dpi -1 a", "--dpi"},
        {"--dpi 65536 a", "--dpi"},
        {"--rotate 45 a", "--rotate"},
        {"--rotate 360 a", "--rotate"},
        {"--background #12345 a", "--background"},
        {"--background transparent a", "--background"},
        {"--background nocolour a", "--background"},
        {"-j 0 a", "-j"},
        {"--memory 0 a", "--memory"},
        {"--memory lots a", "--memory"},
        {"--brightness 3000000000 a", "--brightness"},
        {"--bw=1 a", "--bw"},
        {"--dest= a", "--dest"},
        {"--sharpen a", "--sharpen"},
        {"-x a", "-x"},
        {"-o x.jpg a b", "--output"},
        {"-o x.jpg -d out a", "--dest"},
        {"-q 80", "picture"},
        {"--shard 0/2 a", "--shard"},
        {"--shard 3/2 a", "--shard"},
        {"--shard 1/0 a", "--shard"},
        {"--shard 1 a", "--shard"},
        {"--null a", "--files-from"},
        {"-o x.jpg --shard 1/2 a", "--output"},
        {"-o x.jpg -r a", "--output"}};
    for (const auto& [line, named] : cases) {
        QString error;
        EXPECT_FALSE(parseCliArguments(words(line), error).has_value()) << line;
        EXPECT_TRUE(error.contains(QLatin1String(named))) << error.toStdString();
    }
}

// Names reach the list and the records with every byte: a list split at its
// separator only, and JSON that escapes what it must and keeps a byte that is
// not UTF-8 as the surrogate escape \udcXX.
TEST(CliOptions, ListsAndRecordsKeepEveryName)
{
    EXPECT_EQ(splitInputList("a.jpg\nb c.jpg\n\nd\\e.jpg", '\n'),
              (QStringList{"a.jpg", "b c.jpg", "d\\e.jpg"}));
    EXPECT_EQ(splitInputList(QByteArray("x\ny.jpg\0z.jpg\0", 14), '\0'),
              (QStringList{"x\ny.jpg", "z.jpg"}));
    EXPECT_EQ(nativeName(splitInputList("M\xfcller.jpg", '\n').value(0)), "M\xfcller.jpg");
    const std::vector<std::pair<QString, QByteArray>> cases = {
        {QStringLiteral("plain.jpg"), "\"plain.jpg\""},
        {QStringLiteral("a \"b\"\\c"), "\"a \\\"b\\\"\\\\c\""},
        {QStringLiteral("line\nbreak\x01"), "\"line\\nbreak\\u0001\""},
        {QStringLiteral("Müller 😀"), "\"M\xc3\xbcller \xf0\x9f\x98\x80\""},
        {nameFromNative("M\xfcller"), "\"M\\udcfcller\""}};
    for (const auto& [text, json] : cases)
        EXPECT_EQ(jsonString(text), json) << text.toStdString();
    EXPECT_EQ(JsonLine().add("a", 1).add("b", QStringLiteral("x")).text(), "{\"a\":1,\"b\":\"x\"}");
}

TEST(CliOptions, EffectsAreFoundByNumberOrExactName)
{
    const QStringList names = {"Strich", "Negativ", "Goblin"};
    QString error;
    EXPECT_EQ(effectNumber(QString(), names, error), 0);
    EXPECT_EQ(effectNumber("0", names, error), 0);
    EXPECT_EQ(effectNumber("3", names, error), 3);
    EXPECT_EQ(effectNumber("Negativ", names, error), 2);
    for (const char* unknown : {"4", "-1", "negativ", "Negativ "}) {
        error.clear();
        EXPECT_FALSE(effectNumber(unknown, names, error).has_value()) << unknown;
        EXPECT_TRUE(error.contains("3 Goblin")) << error.toStdString();
    }
    EXPECT_FALSE(effectNumber("1", {}, error).has_value());
}

// ---- runs of the program ---------------------------------------------------

struct CliRun
{
    int exitCode = -1;
    QStringList out;
    QString err;
};

CliRun runCli(const QStringList& arguments, const QString& workingFolder = {})
{
    QProcess process;
    // Qt's libraries are not built for ThreadSanitizer, so the thread pool Qt
    // scales pictures with would be reported from inside them; races in
    // Pictavo's own code are still found.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TSAN_OPTIONS"),
                       environment.value(QStringLiteral("TSAN_OPTIONS")) +
                           QStringLiteral(" ignore_noninstrumented_modules=1"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingFolder.isEmpty() ? QDir::currentPath() : workingFolder);
    process.start(QStringLiteral(PICTAVO_BINARY_DIR "/pictavo-cli"), arguments);
    CliRun run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        run.err = QStringLiteral("pictavo-cli did not finish: ") + process.errorString();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString picture(const std::string& relative)
{
    return QString::fromStdString(testdata::path(relative).string());
}

// Copies `source` into `folder`, writable, under `name` (its own by default).
QString copyInto(const QString& folder, const QString& source, QString name = {})
{
    if (name.isEmpty())
        name = QFileInfo(source).fileName();
    const QString target = QDir(folder).filePath(name);
    EXPECT_TRUE(QFile::copy(source, target)) << target.toStdString();
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The picture's size as shown, after its EXIF orientation.
QSize uprightSize(const QString& path)
{
    QImageReader reader(path);
    const QSize size = reader.size();
    return reader.transformation().testFlag(QImageIOHandler::TransformationRotate90)
               ? size.transposed()
               : size;
}

// Longer side `longer`, the other in proportion, truncated.
QSize scaledTo(QSize size, int longer)
{
    return size.width() > size.height() ? QSize(longer, size.height() * longer / size.width())
                                        : QSize(size.width() * longer / size.height(), longer);
}

QString resultName(const QString& source, QSize size)
{
    return QStringLiteral("%1 %2x%3.jpg")
        .arg(QFileInfo(source).completeBaseName())
        .arg(size.width())
        .arg(size.height());
}

// Mean absolute difference per channel of two pictures of one size.
double meanDifference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    if (x.size() != y.size())
        return 255;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int byte = 0; byte < 3 * x.width(); ++byte)
            sum += std::abs(int(x.constScanLine(row)[byte]) - int(y.constScanLine(row)[byte]));
    return sum / (3.0 * x.width() * x.height());
}

TEST(CliRun, ConvertsPicturesWithDirectoryNamingAndReportsEach)
{
    REQUIRE_TESTDATA();
    QTemporaryDir dest;
    const QStringList sources = {picture("photos/libjxl_flower.jpg"),
                                 picture("formats/exif-orientation/Portrait_6.jpg"),
                                 picture("formats/gif/generated/chelsea_transparent.gif"),
                                 picture("formats/extensions/hat.BMP")};
    const CliRun run = runCli(QStringList{"-d", dest.path()} + sources);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.err, QStringLiteral("4 converted, 0 skipped, 0 failed\n"));
    ASSERT_EQ(run.out.size(), sources.size());
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const QSize size = scaledTo(uprightSize(sources[i]), 640);
        const QString output = QDir(dest.path()).filePath(resultName(sources[i], size));
        EXPECT_EQ(QImage(output).size(), size) << output.toStdString();
        EXPECT_EQ(run.out[i], QStringLiteral("%1 -> %2 (%3 Kb)")
                                  .arg(sources[i], output)
                                  .arg(QFileInfo(output).size() / 1000));
    }
    EXPECT_EQ(filesIn(dest.path()).size(), sources.size());
}

// Every photo format through a folder run, in the folder's order, and a
// ProPhoto RGB source whose result is an untagged JFIF in sRGB, as the sRGB
// source's is.
TEST(CliRun, ReadsEveryPhotoFormatAndWritesUntaggedSrgb)
{
    REQUIRE_TESTDATA();
    const CliRun list = runCli({"--list-formats"});
    ASSERT_EQ(list.exitCode, 0);
    for (const char* line : {"JPEG: jpg jpeg jpe", "PNG: png", "WebP: webp", "TIFF: tif tiff",
                             "HEIC/HEIF: heic heif", "AVIF: avif"})
        EXPECT_TRUE(list.out.contains(QString::fromLatin1(line))) << line;

    const QImage photo = QImage(picture("photos/libjxl_flower.jpg"))
                             .scaled(240, 160, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage wide = photo;
    wide.setColorSpace(QColorSpace::SRgb);
    wide.convertToColorSpace(QColorSpace::ProPhotoRgb);
    samples::HeifOptions avif;
    avif.avif = true;
    const std::vector<std::pair<QString, QByteArray>> files = {
        {"a.png", samples::qtBytes(photo, "png")},   {"b.png", samples::qtBytes(wide, "png")},
        {"c.webp", samples::qtBytes(photo, "webp")}, {"d.tif", samples::qtBytes(photo, "tiff")},
        {"e.heic", samples::heifBytes(photo)},       {"f.avif", samples::heifBytes(photo, avif)}};
    QTemporaryDir source, dest;
    for (const auto& [name, bytes] : files) {
        QFile file(source.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
            << name.toStdString();
    }
    const CliRun run = runCli({"-s", "120", "-q", "95", "-d", dest.path(), source.path()});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_EQ(run.out.size(), qsizetype(files.size()));
    const QImage fromSrgb(QDir(dest.path()).filePath("a 120x80.jpg"));
    for (std::size_t i = 0; i < files.size(); ++i) {
        const QString output = QDir(dest.path()).filePath(resultName(files[i].first, {120, 80}));
        EXPECT_TRUE(
            run.out[qsizetype(i)].startsWith(source.filePath(files[i].first) + " -> " + output));
        const QByteArray jpeg = contents(output);
        EXPECT_TRUE(jpeg.startsWith("\xFF\xD8\xFF\xE0\x00\x10JFIF")) << output.toStdString();
        EXPECT_FALSE(jpeg.contains("ICC_PROFILE")) << output.toStdString();
        // The ProPhoto RGB source comes out as the sRGB one does, not as its
        // stored numbers.
        EXPECT_LT(meanDifference(QImage(output), fromSrgb), 2.5) << output.toStdString();
    }
    EXPECT_GT(meanDifference(wide, photo), 8.0);
}

// An 8 x 8 GIF of `frames` frames, each a blue 4 x 4 square amid pixels of the
// transparent index (white in the palette). Its codes stay 3 bits wide: a clear
// code before every pixel keeps the table from growing.
QByteArray transparentGif(int frames)
{
    QByteArray gif("GIF89a\x08\0\x08\0\x81\0\0", 13);
    gif += QByteArray("\xFF\xFF\xFF\0\0\xFF\0\0\0\0\0\0", 12);
    for (int frame = 0; frame < frames; ++frame) {
        gif += QByteArray("\x21\xF9\x04\x01\0\0\0\0", 8); // transparent index 0
        gif += QByteArray("\x2C\0\0\0\0\x08\0\x08\0\0\x02", 11);
        QByteArray codes;
        quint32 bits = 0;
        int count = 0;
        const auto put = [&](quint32 code) {
            bits |= code << count;
            for (count += 3; count >= 8; count -= 8, bits >>= 8)
                codes += char(bits & 0xFF);
        };
        for (int i = 0; i < 64; ++i) {
            put(4);
            put((i / 8 >= 2 && i / 8 < 6 && i % 8 >= 2 && i % 8 < 6) ? 1 : 0);
        }
        put(5);
        if (count > 0)
            codes += char(bits & 0xFF);
        for (qsizetype at = 0; at < codes.size(); at += 255) {
            const QByteArray block = codes.mid(at, 255);
            gif += char(block.size()) + block;
        }
        gif += '\0';
    }
    return gif + ';';
}

// An 8 x 8 grey TIFF of `pages` pages written as a scanner does, the first with
// a camera's rating tags, which libtiff does not know, when asked for.
QByteArray greyTiff(int pages, bool ratingTags)
{
    QByteArray tiff("II*\0", 4);
    const auto put = [&tiff](quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            tiff += char((value >> (8 * i)) & 0xFF);
    };
    put(8, 4);
    for (int page = 0; page < pages; ++page) {
        std::vector<std::array<quint32, 3>> entries = {
            {256, 3, 8}, {257, 3, 8}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
            {273, 4, 0}, {277, 3, 1}, {278, 3, 8}, {279, 4, 64}};
        if (ratingTags && page == 0)
            entries.insert(entries.end(), {{18246, 3, 3}, {18249, 3, 50}});
        const quint32 directory = quint32(tiff.size());
        const quint32 data = directory + 2 + 12 * quint32(entries.size()) + 4;
        entries[5][2] = data;
        put(quint32(entries.size()), 2);
        for (const auto& [tag, type, value] : entries) {
            put(tag, 2);
            put(type, 2);
            put(1, 4);
            put(value, 4);
        }
        put(page + 1 < pages ? data + 64 : 0, 4);
        tiff += QByteArray(64, char(96 + 64 * page));
    }
    return tiff;
}

// Transparent parts come out white, black for a GIF, or in the colour asked for;
// a file of several pictures gives its first and says so; what the readers
// warn about files they read whole stays off the terminal.
TEST(CliRun, TransparencyFramesAndReaderWarnings)
{
    QImage square(8, 8, QImage::Format_ARGB32);
    square.fill(Qt::transparent);
    for (int y = 2; y < 6; ++y)
        for (int x = 2; x < 6; ++x)
            square.setPixel(x, y, qRgb(0, 0, 255));
    struct Case
    {
        const char* name;
        QByteArray bytes;
        QStringList options;
        QRgb corner;
        QRgb centre;
        const char* told; // in the reported line; empty: nothing told
    };
    const std::vector<Case> cases = {
        {"alpha.png", samples::qtBytes(square, "png"), {}, 0xFFFFFF, 0x0000FF, ""},
        {"alpha.webp", samples::qtBytes(square, "webp", 100), {}, 0xFFFFFF, 0x0000FF, ""},
        {"alpha.tif", samples::qtBytes(square, "tiff"), {}, 0xFFFFFF, 0x0000FF, ""},
        {"red.png", samples::qtBytes(square, "png"), {"--background", "#ff0000"}, 0xFF0000,
         0x0000FF, ""},
        {"turned.png", samples::qtBytes(square, "png"), {"--rotate", "90"}, 0xFFFFFF, 0x0000FF,
         ""},
        {"alpha.gif", transparentGif(1), {}, 0x000000, 0x0000FF, ""},
        {"white.gif", transparentGif(1), {"--background", "white"}, 0xFFFFFF, 0x0000FF, ""},
        {"moving.gif", transparentGif(3), {}, 0x000000, 0x0000FF, "first of 3 frames"},
        {"pages.tif", greyTiff(2, false), {}, 0x606060, 0x606060, "first of 2 frames"},
        {"rated.tif", greyTiff(1, true), {}, 0x606060, 0x606060, ""},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        const QString source = dir.filePath(QString::fromLatin1(c.name));
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(c.bytes) == c.bytes.size())
            << c.name;
        file.close();
        const QString output = source + ".jpg";
        const CliRun run =
            runCli(c.options + QStringList{"-s", "64", "-q", "95", "-o", output, source});
        ASSERT_EQ(run.exitCode, 0) << c.name << ": " << run.err.toStdString();
        EXPECT_EQ(run.err.trimmed().toStdString(), "1 converted, 0 skipped, 0 failed") << c.name;
        ASSERT_EQ(run.out.size(), 1) << c.name;
        EXPECT_EQ(run.out[0].contains(QLatin1String("frames")), *c.told != '\0') << c.name;
        EXPECT_TRUE(run.out[0].contains(QLatin1String(c.told))) << run.out[0].toStdString();
        const QImage result(output);
        ASSERT_EQ(result.size(), QSize(64, 64)) << c.name;
        // Enlarged eight times, the filter's outer lobes reach the square's centre
        // from the background two source pixels away and tint it a little.
        for (const auto& [where, expected] :
             {std::pair{QPoint(3, 60), c.corner}, {QPoint(32, 32), c.centre}}) {
            const QRgb got = result.pixel(where);
            EXPECT_LE(std::abs(qRed(got) - qRed(expected))
                          + std::abs(qGreen(got) - qGreen(expected))
                          + std::abs(qBlue(got) - qBlue(expected)),
                      60)
                << c.name << " at " << where.x() << "," << where.y() << ": " << std::hex << got;
        }
        if (!c.options.isEmpty())
            continue;
        // The window's defaults give the same file, and its text tells the count.
        ConversionSettings settings;
        settings.m_nTargetSize = 64;
        settings.m_nQuality = 95;
        const ConversionResult window = ConversionPipeline().Convert(source, settings, {}, {}, {});
        EXPECT_EQ(window.jpeg, contents(output)) << c.name;
        EXPECT_EQ(window.information.contains(QStringLiteral("Bildern")), *c.told != '\0');
        EXPECT_TRUE(window.information.endsWith(
            QStringLiteral("\r\n(erstes von %1 Bildern)").arg(window.frames)) == (window.frames > 1))
            << window.information.toStdString();
    }
}

TEST(CliRun, SettingsShapeTheResult)
{
    REQUIRE_TESTDATA();
    QTemporaryDir dest;
    const QString source = picture("photos/cameratrap_domestic_dog.jpg");
    auto convert = [&](const QString& name, const QStringList& options) {
        const QString output = QDir(dest.path()).filePath(name);
        const CliRun run = runCli(options + QStringList{"-s", "256", "-o", output, source});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return output;
    };
    const QImage plain(convert("plain.jpg", {}));
    const QImage turned(convert("turned.jpg", {"--rotate", "90"}));
    const QImage half(convert("half.jpg", {"--rotate", "180"}));
    const QImage mirrored(convert("mirrored.jpg", {"--mirror"}));
    const QImage grey(convert("grey.jpg", {"--bw"}));
    ASSERT_EQ(plain.size(), QSize(256, 192));
    EXPECT_EQ(turned.size(), QSize(192, 256));
    EXPECT_LT(meanDifference(half, plain.mirrored(true, true)), 2.0);
    EXPECT_LT(meanDifference(mirrored, plain.mirrored(true, false)), 2.0);
    EXPECT_GT(meanDifference(mirrored, plain), 10.0);
    // Qt's grey of a pixel whose channels are equal is that value again.
    EXPECT_LT(meanDifference(grey, grey.convertToFormat(QImage::Format_Grayscale8)), 1.0);
    EXPECT_GT(meanDifference(plain, plain.convertToFormat(QImage::Format_Grayscale8)), 5.0);

    const QByteArray low = contents(convert("low.jpg", {"-q", "20", "--dpi", "144"}));
    const QByteArray high = contents(convert("high.jpg", {"-q", "95", "--dpi", "0"}));
    EXPECT_LT(low.size(), high.size());
    ASSERT_GT(low.size(), 18);
    EXPECT_EQ(low[13], 1); // density in dots per inch
    EXPECT_EQ((uchar(low[14]) << 8) | uchar(low[15]), 144);
    EXPECT_EQ(high[13], 0);
}

// The command-line tool runs the window's conversion unit: the same settings give
// the same bytes as the pipeline writing into a folder directly.
TEST(CliRun, WritesTheBytesOfTheConversionUnit)
{
    REQUIRE_TESTDATA();
    QTemporaryDir cli;
    QTemporaryDir direct;
    const QString source = picture("photos/Sumo_Museum.jpg");
    const CliRun run =
        runCli({"-d", cli.path(), "-s", "500", "-q", "75", "--dpi", "72", "--brightness", "20",
                "--contrast", "-30", "--red", "10", "--rotate", "270", "--mirror", source});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ConversionSettings settings;
    settings.m_nTargetSize = 500;
    settings.m_nQuality = 75;
    settings.m_nDpi = 72;
    settings.m_nBrightness = 20;
    settings.m_nContrast = -30;
    settings.m_nRed = 10;
    settings.m_nOrientation = 3 + 4;
    const ConversionResult result =
        ConversionPipeline().Convert(source, settings, direct.path(), QString(), QString());
    ASSERT_TRUE(result.written);
    const QString name = QFileInfo(result.outputPath).fileName();
    EXPECT_EQ(filesIn(cli.path()), QStringList{name});
    EXPECT_EQ(contents(QDir(cli.path()).filePath(name)), contents(result.outputPath));
}

TEST(CliRun, UnreadablePicturesAreNamedAndSkipped)
{
    REQUIRE_TESTDATA();
    QTemporaryDir folder;
    const QString broken =
        copyInto(folder.path(), picture("bad/generated/text_file.jpg"), "broken.jpg");
    const QString truncated = picture("bad/generated/dog_trunc_50pct_scan.jpg");
    const QString good = copyInto(folder.path(), picture("formats/extensions/peacock.jpe"));
    const QString missing = QDir(folder.path()).filePath("missing.jpg");
    // Neither may block or be read: a pipe without a writer, an endless
    // device and a sparse file of 40 GiB.
    const QString pipe = QDir(folder.path()).filePath("pipe.jpg");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString giant = QDir(folder.path()).filePath("giant.jpg");
    {
        QFile file(giant);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(40) << 30));
    }
    const QString zero = QStringLiteral("/dev/zero");
    // Without --dest the results go into the current folder.
    const CliRun run =
        runCli({broken, truncated, missing, pipe, zero, giant, good, missing}, folder.path());
    EXPECT_EQ(run.exitCode, 1);
    const std::vector<std::pair<QString, const char*>> reasons = {
        {broken, "cannot be read as a picture"},
        {truncated, "the picture data is incomplete or damaged"},
        {missing, "no such file"},
        {pipe, "is a pipe"},
        {zero, "is a device"},
        {giant, "larger than 2 GiB"},
    };
    for (const auto& [bad, reason] : reasons)
        EXPECT_TRUE(run.err.contains(QStringLiteral("pictavo-cli: %1: ").arg(bad) + reason))
            << reason << "\n" << run.err.toStdString();
    const QString result = resultName(good, scaledTo(uprightSize(good), 640));
    ASSERT_EQ(run.out.size(), 1);
    EXPECT_TRUE(run.out[0].startsWith(good + " -> " + result + " (")) << run.out[0].toStdString();
    QStringList expected = {"broken.jpg", "giant.jpg", "peacock.jpe", result};
    expected.sort();
    QStringList written = filesIn(folder.path()); // the pipe is no file to list
    written.sort();
    EXPECT_EQ(written, expected); // nothing from the sample, no leftovers
}

// Runs pictavo-cli with arguments as bytes, as a shell passes a name that is not
// UTF-8 (QProcess would pass it changed); what it writes, as bytes too.
struct RawRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

RawRun runCliWithBytes(QList<QByteArray> arguments)
{
    QTemporaryDir logs;
    arguments.prepend(PICTAVO_BINARY_DIR "/pictavo-cli");
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray out = QFile::encodeName(logs.filePath("out"));
    const QByteArray err = QFile::encodeName(logs.filePath("err"));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    RawRun run;
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
        waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    posix_spawn_file_actions_destroy(&actions);
    run.out = contents(logs.filePath("out"));
    run.err = contents(logs.filePath("err"));
    return run;
}

QByteArray contentsByBytes(const QByteArray& path)
{
    QFile file;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)
               ? file.readAll()
               : QByteArray();
}

// Every entry of `folder`, hidden ones too, by name.
QList<QByteArray> namesByBytes(const QByteArray& folder)
{
    QList<QByteArray> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.toStdString()))
        names << QByteArray::fromStdString(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Names that are not UTF-8, as old cameras and zip archives leave them, named on
// the command line beside their UTF-8 look-alike and written into a folder whose
// name is not UTF-8 either: each is converted under its own bytes and reported
// with them.
TEST(CliRun, NamesThatAreNotUtf8KeepTheirBytes)
{
    REQUIRE_TESTDATA();
    QTemporaryDir dir;
    const QString photo = picture("photos/keep.jpg.jpg");
    const QSize size = scaledTo(uprightSize(photo), 64);
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray destination = folder + "/Ziel\xe9";
    const QList<QByteArray> stems = {"M\xfcller", "M\xc3\xbcller", "Bild\xe4\xff-mitte"};
    QList<QByteArray> arguments = {"-s", "64", "-d", destination};
    for (const QByteArray& stem : stems) {
        arguments << folder + '/' + stem + ".jpg";
        ASSERT_TRUE(QFile::copy(photo, dir.filePath("copy")));
        ASSERT_EQ(::rename(QFile::encodeName(dir.filePath("copy")).constData(),
                           arguments.constLast().constData()),
                  0);
    }
    const RawRun run = runCliWithBytes(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QByteArray> lines = run.out.split('\n');
    ASSERT_EQ(lines.size(), stems.size() + 1) << run.out.toStdString();
    const QByteArray suffix =
        QStringLiteral(" %1x%2.jpg").arg(size.width()).arg(size.height()).toLatin1();
    QList<QByteArray> results;
    for (qsizetype i = 0; i < stems.size(); ++i) {
        results << stems[i] + suffix;
        const QByteArray result = destination + '/' + results.constLast();
        EXPECT_TRUE(lines[i].startsWith(arguments[4 + i] + " -> " + result + " ("))
            << lines[i].toStdString();
        EXPECT_EQ(QImage::fromData(contentsByBytes(result)).size(), size) << result.toStdString();
    }
    std::sort(results.begin(), results.end());
    EXPECT_EQ(namesByBytes(destination), results); // nothing else, no leftovers
    // QTemporaryDir removes by Qt's names and would leave these behind.
    std::filesystem::remove_all(folder.toStdString());
}

// A run killed at any moment leaves complete results only, and after the next
// run in that folder no other file of its own.
TEST(CliRun, KilledRunLeavesNoFileBehind)
{
    REQUIRE_TESTDATA();
    QTemporaryDir sources;
    QTemporaryDir dest;
    for (const char* name : {"photos/cameratrap_human.jpg", "photos/T-45A_Goshawk_03.jpg",
                             "photos/Sumo_Museum.jpg", "photos/libjxl_flower.jpg"})
        copyInto(sources.path(), picture(name));
    const QStringList arguments = {"-j", "2", "-s", "1600", "-d", dest.path(), sources.path()};
    for (const int milliseconds : {150, 400, 700}) {
        QProcess process;
        process.start(QStringLiteral(PICTAVO_BINARY_DIR "/pictavo-cli"), arguments);
        ASSERT_TRUE(process.waitForStarted());
        QThread::msleep(milliseconds);
        kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished();
        for (const QString& name : filesIn(dest.path())) {
            if (name.startsWith(u'.'))
                continue; // a hidden leftover; the next run must take it away
            EXPECT_FALSE(QImage(QDir(dest.path()).filePath(name)).isNull()) << name.toStdString();
        }
    }
    const CliRun last = runCli(arguments);
    ASSERT_EQ(last.exitCode, 0) << last.err.toStdString();
    EXPECT_EQ(filesIn(dest.path()).size(), 4) << filesIn(dest.path()).join(' ').toStdString();
}

// Ctrl+C and kill stop a run in the middle of a picture that takes long to
// decode (a HEIC grid, as cameras write large photos): the decode ends at once,
// the run says it stopped, exits with 1, and leaves no file. A run that did not
// end by itself would be cut short 0.75 s after the signal with only
// "pictavo-cli: stopped", without the closing line.
TEST(CliRun, StopSignalEndsTheRunMidPictureWithoutAFile)
{
    QTemporaryDir folder;
    const QString source = QDir(folder.path()).filePath("grid.heic");
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QImage tile(512, 512, QImage::Format_RGB32);
        for (int y = 0; y < tile.height(); ++y)
            for (int x = 0; x < tile.width(); ++x)
                tile.setPixel(x, y, qRgb((x * 7) & 0xFF, (y * 5) & 0xFF, ((x ^ y) * 3) & 0xFF));
        file.write(samples::heifGrid(samples::heifBytes(tile), 512, 10, 10));
    }
    const QString destination = QDir(folder.path()).filePath("out");
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        QProcess process;
        process.start(QStringLiteral(PICTAVO_BINARY_DIR "/pictavo-cli"),
                      {"-s", "800", "-d", destination, source});
        ASSERT_TRUE(process.waitForStarted());
        // Well into the decode, which takes seconds.
        ASSERT_FALSE(process.waitForFinished(500));
        kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 1);
        EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
        const QString err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_TRUE(err.contains("pictavo-cli: stopped; 1 of 1 pictures not converted\n"
                                 "0 converted, 1 skipped, 0 failed"))
            << err.toStdString();
        EXPECT_TRUE(filesIn(destination).isEmpty()) << filesIn(destination).join(' ').toStdString();
    }
}

// A size the core refuses to allocate: its message is passed on with the
// picture's name, and nothing is written.
TEST(CliRun, ConversionsTheCoreRefusesAreReported)
{
    REQUIRE_TESTDATA();
    QTemporaryDir folder;
    const QString source = picture("photos/libjxl_flower.jpg");
    const CliRun run = runCli({"-s", "65500", "-d", folder.path(), source});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("CPicture Error: ")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(source + ": ")) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(filesIn(folder.path()).isEmpty());
}

// The sample photograph that stands in for an unreadable picture would get a
// name of its own size; a file of that name, or the explicit output, is kept.
// A size limit that even quality 1 cannot reach is named, writes nothing and
// fails the run, unless the picture may be made smaller; a reachable one
// reports the quality it took.
TEST(CliRun, SizeLimitIsKeptOrNamed)
{
    REQUIRE_TESTDATA();
    QTemporaryDir folder;
    const QString source = picture("photos/Sumo_Museum.jpg");
    const CliRun missed = runCli({"--max-kb", "1", "-d", folder.path(), source});
    EXPECT_EQ(missed.exitCode, 1);
    EXPECT_TRUE(missed.err.contains(source + ": at most 1 Kb cannot be reached (quality 1: "))
        << missed.err.toStdString();
    EXPECT_TRUE(filesIn(folder.path()).isEmpty());

    const CliRun shrunk = runCli({"--max-kb", "1", "--shrink", "-d", folder.path(), source});
    EXPECT_EQ(shrunk.exitCode, 0) << shrunk.err.toStdString();
    ASSERT_EQ(shrunk.out.size(), 1);
    EXPECT_TRUE(shrunk.out[0].contains(", made ")) << shrunk.out[0].toStdString();
    ASSERT_EQ(filesIn(folder.path()).size(), 1);
    EXPECT_LE(QFileInfo(QDir(folder.path()).filePath(filesIn(folder.path())[0])).size(), 1000);

    const CliRun fitted = runCli({"--max-kb", "30", "-q", "90", "-o", QDir(folder.path()).filePath("fit.jpg"), source});
    EXPECT_EQ(fitted.exitCode, 0);
    ASSERT_EQ(fitted.out.size(), 1);
    EXPECT_TRUE(fitted.out[0].contains(", quality ")) << fitted.out[0].toStdString();
    EXPECT_LE(QFileInfo(QDir(folder.path()).filePath("fit.jpg")).size(), 30000);
}

TEST(CliRun, FailedConversionsLeaveExistingFilesAlone)
{
    REQUIRE_TESTDATA();
    QTemporaryDir folder;
    const QString broken =
        copyInto(folder.path(), picture("bad/generated/random_bytes.jpg"), "x.jpg");
    const QSize sampleSize = scaledTo(uprightSize(picture("sample/sample_303x240.jpg")), 640);
    const QString named = QDir(folder.path()).filePath(resultName(broken, sampleSize));
    const QString explicitOutput = QDir(folder.path()).filePath("keep.jpg");
    for (const QString& path : {named, explicitOutput}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("the user's own file");
    }
    EXPECT_EQ(runCli({"-d", folder.path(), broken}).exitCode, 1);
    EXPECT_EQ(runCli({"-o", explicitOutput, broken}).exitCode, 1);
    EXPECT_EQ(contents(named), QByteArray("the user's own file"));
    EXPECT_EQ(contents(explicitOutput), QByteArray("the user's own file"));
    EXPECT_EQ(filesIn(folder.path()).size(), 3);

    const CliRun replaced = runCli({"-o", explicitOutput, picture("photos/libjxl_flower.jpg")});
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err.toStdString();
    EXPECT_EQ(QImage(explicitOutput).size(), QSize(640, 426));
}

TEST(CliRun, UsageErrorsExitWithTwoAndWriteNothing)
{
    REQUIRE_TESTDATA();
    QTemporaryDir folder;
    const QString a = picture("photos/libjxl_flower.jpg");
    const QString b = picture("photos/Sumo_Museum.jpg");
    const QString nowhere = QDir(folder.path()).filePath("no/such/folder");
    QTemporaryDir elsewhere;
    const QString own = copyInto(elsewhere.path(), a);
    const std::vector<QStringList> cases = {
        {"-o", QDir(folder.path()).filePath("x.jpg"), a, b},
        {"-o", QDir(folder.path()).filePath("x.jpg"), folder.path()},
        {"-o", QDir(nowhere).filePath("x.jpg"), a},
        {"-o", own, own},
        {"-d", folder.path(), "--effect", "Nebel", a},
        {"--size", "big", a},
        {},
    };
    for (const QStringList& arguments : cases) {
        const CliRun run = runCli(arguments, folder.path());
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("pictavo-cli --help")) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_TRUE(filesIn(folder.path()).isEmpty());
    EXPECT_EQ(filesIn(elsewhere.path()), QStringList{QFileInfo(a).fileName()});
    EXPECT_EQ(contents(own), contents(a));

    // A destination that cannot take files: one line, nothing read. A missing
    // one is made.
    const CliRun refused = runCli({"-d", "/proc", a});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, QStringLiteral("pictavo-cli: cannot write into the folder '/proc': "
                                          "permission denied\n"));
    const CliRun made = runCli({"-d", nowhere, a});
    EXPECT_EQ(made.exitCode, 0) << made.err.toStdString();
    EXPECT_TRUE(made.err.startsWith(QStringLiteral("pictavo-cli: created the folder '%1'\n")
                                        .arg(nowhere)))
        << made.err.toStdString();
    EXPECT_EQ(filesIn(nowhere).size(), 1);
}

TEST(CliRun, EffectsAreListedAndChosenByNumberOrName)
{
    REQUIRE_TESTDATA();
    const CliRun list = runCli({"--list-effects"});
    ASSERT_EQ(list.exitCode, 0) << list.err.toStdString();
    ASSERT_EQ(list.out.size(), 8);
    EXPECT_EQ(list.out.first(), QStringLiteral("1 Strich"));
    EXPECT_EQ(list.out[3], QStringLiteral("4 Negativ"));
    EXPECT_EQ(list.out.last(), QStringLiteral("8 Goblin"));

    QTemporaryDir folder;
    const QString source = picture("photos/cameratrap_vehicle.jpg");
    auto convert = [&](const QString& name, const QString& effect) {
        const QString output = QDir(folder.path()).filePath(name);
        EXPECT_EQ(runCli({"-s", "160", "--effect", effect, "-o", output, source}).exitCode, 0);
        return contents(output);
    };
    const QByteArray byName = convert("name.jpg", "Negativ");
    const QByteArray none = convert("none.jpg", "0");
    EXPECT_EQ(byName, convert("number.jpg", "4"));
    EXPECT_GT(meanDifference(QImage::fromData(byName), QImage::fromData(none)), 30.0);
}

// ---- several pictures at once ----------------------------------------------

QString folderOfPictures(const QTemporaryDir& dir)
{
    for (const char* name :
         {"photos/libjxl_flower.jpg", "photos/cameratrap_human.jpg", "photos/T-45A_Goshawk_03.jpg",
          "formats/gif/generated/chelsea_interlaced.gif",
          "formats/bmp/generated/generated_domestic_dog_1024x768_8bit_rle8.bmp",
          "formats/exif-orientation/Landscape_5.jpg", "formats/extensions/peacock.JPG"})
        copyInto(dir.path(), picture(name));
    return dir.path();
}

TEST(CliParallel, TwoJobsWriteTheSameFilesAndReportAsOne)
{
    REQUIRE_TESTDATA();
    QTemporaryDir sources;
    QTemporaryDir one;
    QTemporaryDir two;
    const QString folder = folderOfPictures(sources);
    const CliRun serial = runCli({"-j", "1", "-d", one.path(), folder});
    const CliRun parallel = runCli({"-j", "2", "-d", two.path(), folder});
    ASSERT_EQ(serial.exitCode, 0) << serial.err.toStdString();
    ASSERT_EQ(parallel.exitCode, 0) << parallel.err.toStdString();
    ASSERT_EQ(serial.out.size(), 7);
    EXPECT_EQ(parallel.out.join('\n').replace(two.path(), "DEST"),
              serial.out.join('\n').replace(one.path(), "DEST"));
    const QStringList names = filesIn(one.path());
    ASSERT_EQ(names, filesIn(two.path()));
    for (const QString& name : names)
        EXPECT_EQ(contents(QDir(one.path()).filePath(name)),
                  contents(QDir(two.path()).filePath(name)))
            << name.toStdString();
}

// An 8-bit RLE bitmap of side x side whose every row is filled with runs: about
// a megabyte that Qt decodes into side x side bytes.
QByteArray filledRleBomb(int side)
{
    QByteArray rows;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; x += 255) {
            rows.append(char(std::min(255, side - x)));
            rows.append(char((x / 255 + y) % 16));
        }
        rows.append(QByteArray("\x00\x00", 2));
    }
    rows.append(QByteArray("\x00\x01", 2));
    QByteArray bmp("BM");
    const auto add = [&bmp](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            bmp.append(char((value >> (8 * i)) & 0xFF));
    };
    const quint32 offset = 14 + 40 + 16 * 4;
    add(offset + quint32(rows.size()), 4);
    add(0, 4);
    add(offset, 4);
    add(40, 4);
    add(quint32(side), 4);
    add(quint32(side), 4);
    add(1, 2);
    add(8, 2);
    add(1, 4); // RLE8
    add(quint32(rows.size()), 4);
    add(2835, 4);
    add(2835, 4);
    add(16, 4);
    add(0, 4);
    for (quint32 colour = 0; colour < 16; ++colour)
        add(colour * 0x111111u, 4);
    return bmp + rows;
}

struct MeasuredRun
{
    int exitCode = -1;
    long peakKilobytes = 0;
};

// Runs pictavo-cli and takes the peak resident memory of that one process.
MeasuredRun runMeasured(const QStringList& arguments)
{
    std::vector<QByteArray> words = {QByteArray(PICTAVO_BINARY_DIR "/pictavo-cli")};
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    MeasuredRun run;
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) {
            run.exitCode = WEXITSTATUS(status);
            run.peakKilobytes = usage.ru_maxrss;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

// Six pictures of 121 megapixels in a megabyte each, with six jobs: within a
// budget that holds one of them, they take no more memory than one.
TEST(CliParallel, MemoryBudgetKeepsJobsFromMultiplyingBombs)
{
    QTemporaryDir sources;
    QTemporaryDir budgeted;
    QTemporaryDir unlimited;
    const QByteArray bomb = filledRleBomb(11000);
    for (int i = 0; i < 6; ++i) {
        QFile file(QDir(sources.path()).filePath(QStringLiteral("bomb%1.bmp").arg(i)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bomb);
    }
    const MeasuredRun one =
        runMeasured({"-j", "6", "--memory", "200", "-d", budgeted.path(), sources.path()});
    const MeasuredRun all =
        runMeasured({"-j", "6", "--memory", "4000", "-d", unlimited.path(), sources.path()});
    ASSERT_EQ(one.exitCode, 0);
    ASSERT_EQ(all.exitCode, 0);
    EXPECT_EQ(filesIn(budgeted.path()).size(), 6);
#if !defined(__SANITIZE_ADDRESS__)
    // One decodes in one byte a pixel, about 120 MB.
    EXPECT_LT(one.peakKilobytes, 260 * 1024);
    EXPECT_GT(all.peakKilobytes, 2 * one.peakKilobytes);
#endif
}

// A folder converted into itself, twice: the second run adds no file and
// changes none; a photo that only has a result's name keeps its bytes, and the
// result meant for that name takes the next free one and says so.
TEST(CliParallel, OwnResultsAreNotConvertedAgain)
{
    REQUIRE_TESTDATA();
    QTemporaryDir dir;
    const QString folder = folderOfPictures(dir);
    const QString hat = copyInto(folder, picture("formats/extensions/hat.GIF"));
    const QString hatResult = resultName(hat, scaledTo(uprightSize(hat), 640));
    const QString lookAlike =
        copyInto(folder, picture("photos/cameratrap_vehicle.jpg"), hatResult);
    const QStringList originals = filesIn(folder);
    CliRun run = runCli({"-j", "2", "-d", folder, folder});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.size(), originals.size());
    const QStringList afterFirst = filesIn(folder);
    EXPECT_EQ(afterFirst.size(), 2 * originals.size());
    EXPECT_EQ(contents(lookAlike), contents(picture("photos/cameratrap_vehicle.jpg")));
    const QString renamed = QStringLiteral("%1 -> %2 (").arg(hat, QDir(folder).filePath(
        QFileInfo(hatResult).completeBaseName() + " (2).jpg"));
    EXPECT_EQ(run.out.filter(renamed).size(), 1) << run.out.join('\n').toStdString();
    EXPECT_TRUE(run.out.filter(renamed).value(0).endsWith(
        QStringLiteral(", '%1' is taken)").arg(hatResult)));

    std::map<QString, QByteArray> sums;
    for (const QString& name : afterFirst)
        sums[name] = contents(QDir(folder).filePath(name));
    run = runCli({"-j", "2", "-d", folder, folder});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(filesIn(folder), afterFirst);
    for (const auto& [name, bytes] : sums)
        EXPECT_EQ(contents(QDir(folder).filePath(name)), bytes) << name.toStdString();
    EXPECT_TRUE(run.err.endsWith(QStringLiteral("%1 converted, %1 skipped, 0 failed\n")
                                     .arg(originals.size())))
        << run.err.toStdString();
}

} // namespace

// Loading pictures: every format and variant a user's camera or program writes,
// the built-in sample, and everything malformed, truncated or hostile.
#include "imaging/CPicture.h"
#include "imaging/DecodeCancel.h"
#include "imaging/EmbeddedProfile.h"
#include "imaging/PictureDecoder.h"
#include "PictureSamples.h"
#include "TestData.h"
#include "imaging/SampleResource.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

namespace fs = std::filesystem;

namespace {

QString qpath(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

std::vector<fs::path> filesUnder(const std::string& relative)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(testdata::path(relative)))
        if (entry.is_regular_file() && entry.path().extension() != ".txt")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Mean of each channel over the picture, as a rough fingerprint of its colours.
std::array<double, 3> meanColour(const QImage& picture)
{
    const QImage small = picture.scaled(64, 64, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    std::array<double, 3> sum{};
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x) {
            const QRgb pixel = small.pixel(x, y);
            sum[0] += qRed(pixel);
            sum[1] += qGreen(pixel);
            sum[2] += qBlue(pixel);
        }
    for (double& channel : sum)
        channel /= 64.0 * 64.0;
    return sum;
}

// Mean absolute difference of two pictures of the same size, scaled down.
double meanDifference(const QImage& a, const QImage& b)
{
    const QImage sa = a.scaled(90, 60, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage sb = b.scaled(90, 60, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double total = 0;
    for (int y = 0; y < sa.height(); ++y)
        for (int x = 0; x < sa.width(); ++x) {
            const QRgb p = sa.pixel(x, y);
            const QRgb q = sb.pixel(x, y);
            total += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                     std::abs(qBlue(p) - qBlue(q));
        }
    return total / (3.0 * sa.width() * sa.height());
}

// A photo-like picture: smooth gradients with a fine pattern on top.
QImage patterned(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = qRgb((x * 255 / width + (x ^ y) % 17) & 0xFF,
                          (y * 255 / height + (x * y) % 13) & 0xFF, ((x + y) / 8) & 0xFF);
    }
    return picture;
}

QByteArray written(const QImage& picture, const char* format, int compression, bool progressive,
                   int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setCompression(compression);
    writer.setProgressiveScanWrite(progressive);
    writer.setQuality(quality);
    return writer.write(picture) ? bytes : QByteArray();
}

// A GIF of grey levels, every code a literal and a clear code whenever the
// table would need a tenth bit: large, and quick to make.
QByteArray literalGif(int width, int height)
{
    QByteArray gif("GIF89a");
    const auto twoBytes = [&gif](int value) {
        gif += char(value & 0xFF);
        gif += char(value >> 8);
    };
    twoBytes(width);
    twoBytes(height);
    gif += QByteArray("\xF7\0\0", 3);
    for (int level = 0; level < 256; ++level)
        gif += QByteArray(3, char(level));
    gif += ',';
    for (const int value : {0, 0, width, height})
        twoBytes(value);
    gif += QByteArray("\0\x08", 2);
    QByteArray codes;
    quint32 bits = 0;
    int count = 0;
    const auto put = [&](int code) {
        bits |= quint32(code) << count;
        for (count += 9; count >= 8; count -= 8, bits >>= 8)
            codes += char(bits & 0xFF);
    };
    for (qint64 pixel = 0; pixel < qint64(width) * height; ++pixel) {
        if (pixel % 254 == 0)
            put(256);
        put(int(((pixel % width) ^ (pixel / width)) & 0xFF));
    }
    put(257);
    if (count > 0)
        codes += char(bits & 0xFF);
    for (qsizetype at = 0; at < codes.size(); at += 255) {
        gif += char(std::min<qsizetype>(255, codes.size() - at));
        gif += codes.mid(at, 255);
    }
    return gif + QByteArray("\0;", 2);
}

} // namespace

TEST(PictureLoading, DecodesEveryJpegVariantTheLibraryKnows)
{
    REQUIRE_TESTDATA();
    // Valid JPEG processes that 8-bit libjpeg does not decode at all.
    const std::set<std::string> unsupported = {"monkey12.jpg", "testimgl_lossless.jpg"};
    int decoded = 0;
    for (const fs::path& file : filesUnder("formats/jpeg")) {
        CPicture picture;
        const bool ok = picture.LoadFromFile(qpath(file));
        if (unsupported.count(file.filename().string())) {
            EXPECT_FALSE(ok) << file;
            EXPECT_EQ(picture.m_cxPixels, 0);
            continue;
        }
        ASSERT_TRUE(ok) << file;
        QImageReader header(qpath(file));
        header.setAutoTransform(true);
        const QSize stored = header.size();
        const QSize upright = (header.transformation() & QImageIOHandler::TransformationRotate90)
                                  ? stored.transposed()
                                  : stored;
        EXPECT_EQ(QSize(picture.m_cxPixels, picture.m_cyPixels), upright) << file;
        EXPECT_EQ(picture.m_picture.format(), QImage::Format_RGB32) << file;
        // Qt's reader runs the same libjpeg with the same IDCT and upsampling: at
        // full size every colour space, CMYK's formula and every orientation must
        // give its pixels exactly (a profile would convert ours).
        QFile bytes(qpath(file));
        ASSERT_TRUE(bytes.open(QIODevice::ReadOnly));
        if (embeddedIccProfile("jpeg", bytes.readAll()).isEmpty()) {
            EXPECT_EQ(picture.m_picture, header.read().convertToFormat(QImage::Format_RGB32))
                << file;
        }
        ++decoded;
    }
    EXPECT_GE(decoded, 50);
}

TEST(PictureLoading, CmykAndGrayscaleJpegsShowTheirRealColours)
{
    REQUIRE_TESTDATA();
    CPicture colour, cmyk, grey;
    ASSERT_TRUE(colour.LoadFromFile(qpath(testdata::path("photos/cameratrap_african_elephants.jpg"))));
    ASSERT_TRUE(cmyk.LoadFromFile(qpath(testdata::path("formats/jpeg/cameratrap/african_elephants_cmyk.jpg"))));
    ASSERT_TRUE(grey.LoadFromFile(qpath(testdata::path("formats/jpeg/cameratrap/african_elephants_bw.jpg"))));
    // An Adobe CMYK file read without inverting would come out as a negative.
    EXPECT_LT(meanDifference(colour.m_picture, cmyk.m_picture), 12.0);
    const auto greyMean = meanColour(grey.m_picture);
    EXPECT_NEAR(greyMean[0], greyMean[1], 0.5);
    EXPECT_NEAR(greyMean[1], greyMean[2], 0.5);
    EXPECT_LT(meanDifference(colour.m_picture, grey.m_picture), 40.0);
}

TEST(PictureLoading, ExifOrientationComesOutUpright)
{
    REQUIRE_TESTDATA();
    for (const char* kind : {"Landscape", "Portrait"}) {
        CPicture reference;
        ASSERT_TRUE(reference.LoadFromFile(
            qpath(testdata::path(std::string("formats/exif-orientation/") + kind + "_1.jpg"))));
        for (int orientation = 0; orientation <= 8; ++orientation) {
            const std::string name = std::string(kind) + "_" + std::to_string(orientation) + ".jpg";
            CPicture picture;
            ASSERT_TRUE(picture.LoadFromFile(qpath(testdata::path("formats/exif-orientation/" + name))));
            EXPECT_EQ(picture.m_picture.size(), reference.m_picture.size()) << name;
            // Only the orientation number in the middle differs between the files.
            EXPECT_LT(meanDifference(picture.m_picture, reference.m_picture), 8.0) << name;
        }
    }
}

TEST(PictureLoading, GifGivesItsFirstFrameWithTransparencyKept)
{
    REQUIRE_TESTDATA();
    CPicture animated;
    ASSERT_TRUE(animated.LoadFromFile(qpath(testdata::path("formats/gif/wuffs/gifplayer-muybridge.gif"))));
    QImageReader frames(qpath(testdata::path("formats/gif/wuffs/gifplayer-muybridge.gif")));
    const QImage firstFrame = frames.read().convertToFormat(animated.m_picture.format());
    EXPECT_EQ(animated.m_picture, firstFrame);

    CPicture transparent;
    ASSERT_TRUE(transparent.LoadFromFile(qpath(testdata::path("formats/gif/generated/chelsea_transparent.gif"))));
    EXPECT_EQ(transparent.m_picture.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(qAlpha(transparent.m_picture.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(transparent.m_picture.pixel(transparent.m_cxPixels / 2, transparent.m_cyPixels / 2)), 255);
}

TEST(PictureLoading, DecodesBmpVariantsAndPng)
{
    REQUIRE_TESTDATA();
    for (const std::string folder : {"formats/bmp/bmpsuite/g", "formats/bmp/generated",
                                     "formats/bmp/pillow", "formats/bmp/wuffs",
                                     "formats/bmp/libjpeg-turbo"}) {
        for (const fs::path& file : filesUnder(folder)) {
            CPicture picture;
            EXPECT_TRUE(picture.LoadFromFile(qpath(file))) << file;
            EXPECT_GT(picture.m_cxPixels, 0) << file;
        }
    }
    CPicture png;
    ASSERT_TRUE(png.LoadFromFile(qpath(testdata::path("formats/png/generated/chelsea_rgba_radial_alpha.png"))));
    EXPECT_TRUE(png.m_picture.hasAlphaChannel());
}

TEST(PictureLoading, EmptyAndNonPictureFilesFailSilently)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString empty = dir.filePath("empty.jpg");
    const QString text = dir.filePath("letter.jpg");
    QFile(empty).open(QIODevice::WriteOnly);
    {
        QFile file(text);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Dear customer, this is not a picture.\n");
    }
    for (const QString& path : {empty, text, dir.filePath("missing.jpg"), dir.path()}) {
        CPicture picture;
        EXPECT_FALSE(picture.LoadFromFile(path)) << qPrintable(path);
        EXPECT_EQ(picture.m_cxPixels, 0);
        EXPECT_EQ(picture.m_cyPixels, 0);
        EXPECT_TRUE(picture.m_picture.isNull());
        EXPECT_TRUE(picture.lastError().isEmpty());
    }
}

// Files of the bad/ folder that are whole pictures after all: their defects lie
// in metadata or fields a decoder does not need, their marker order is unusual
// but legal, stray bytes between their segments only make libjpeg warn, or only
// their name is wrong. Everything else there must fail.
TEST(PictureLoading, MalformedFilesFailWithoutCrashingAndIntactOnesLoad)
{
    REQUIRE_TESTDATA();
    const std::map<std::string, QSize> intact = {
        {"jpeg/pillow_exif-dpi-zerodivision.jpg", {200, 200}},
        {"jpeg/pillow_invalid-exif-without-x-resolution.jpg", {300, 200}},
        {"jpeg/pillow_invalid-exif.jpg", {200, 200}},
        {"jpeg/pillow_jpeg_ff00_header.jpg", {300, 225}},
        {"jpeg/pillow_junk_jpeg_header.jpg", {1024, 768}},
        {"jpeg/pillow_truncated_app14.jpg", {100, 100}},
        {"jpeg/pillow_sugarshack_bad_mpo_header.jpg", {640, 480}},
        {"jpeg/wuffs_hippopotamus-bad-comment-length.jpeg", {36, 28}},
        {"jpeg/wuffs_hippopotamus-sof-dht-swap.jpeg", {36, 28}},
        {"bmp/bmpsuite-b/badbitssize.bmp", {127, 64}},
        {"bmp/bmpsuite-b/baddens1.bmp", {127, 64}},
        {"bmp/bmpsuite-b/baddens2.bmp", {127, 64}},
        {"bmp/bmpsuite-b/badfilesize.bmp", {127, 64}},
        {"gif/image-rs_issue_1455_undersized.gif", {100, 100}},
        {"png/pillow_png_decompression_dos.png", {1, 1}},
        {"misnamed/bmp_content_named.jpg", {127, 64}},
        {"misnamed/gif_content_named.jpg", {90, 112}},
        {"misnamed/jpeg_content_named.bmp", {90, 112}},
        {"misnamed/jpeg_content_named.gif", {90, 112}},
        {"misnamed/png_content_named.jpg", {128, 128}},
    };
    int refused = 0;
    for (const fs::path& file : filesUnder("bad")) {
        const std::string relative = fs::relative(file, testdata::path("bad")).generic_string();
        CPicture picture;
        const bool ok = picture.LoadFromFile(qpath(file));
        const auto expected = intact.find(relative);
        if (expected != intact.end()) {
            EXPECT_TRUE(ok) << relative;
            EXPECT_EQ(QSize(picture.m_cxPixels, picture.m_cyPixels), expected->second) << relative;
        } else {
            EXPECT_FALSE(ok) << relative << " loaded as " << picture.m_cxPixels << "x"
                             << picture.m_cyPixels;
            EXPECT_EQ(picture.m_cxPixels, 0) << relative;
            EXPECT_EQ(picture.m_cyPixels, 0) << relative;
            EXPECT_TRUE(picture.lastError().isEmpty()) << relative;
            ++refused;
        }
    }
    EXPECT_GE(refused, 90);
}

TEST(PictureLoading, HugeClaimedSizesFailWithoutTakingTheMemory)
{
    REQUIRE_TESTDATA();
    for (const char* bomb :
         {"bad/generated/hibiscus_claims_60000x60000.bmp", "bad/generated/hibiscus_sof_claims_65500x65500.jpg",
          "bad/generated/peacock_sof_claims_40000x30000.jpg", "bad/jpeg/sharp_giant-image_20000x14000.jpg",
          "bad/bmp/bmpsuite-b/reallybig.bmp", "bad/generated/hibiscus_screen_claims_65535x65535.gif",
          "bad/bmp/image-rs_Bad_unusual_extend_buffer_usage.bmp"}) {
        CPicture picture;
        EXPECT_FALSE(picture.LoadFromFile(qpath(testdata::path(bomb)))) << bomb;
    }
#if !defined(__SANITIZE_ADDRESS__)
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_SELF, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "peak resident kilobytes";
#endif
}

TEST(PictureLoading, HundredMegapixelPhotoDecodes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage big(10000, 10000, QImage::Format_RGB32);
    for (int y = 0; y < big.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(big.scanLine(y));
        for (int x = 0; x < big.width(); ++x)
            row[x] = qRgb(x & 255, y & 255, (x / 40) & 255);
    }
    const QString path = dir.filePath("hundred.jpg");
    ASSERT_TRUE(big.save(path, "JPEG", 50));
    big = QImage();
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(path));
    EXPECT_EQ(picture.m_cxPixels, 10000);
    EXPECT_EQ(picture.m_cyPixels, 10000);
}

TEST(PictureLoading, SamplePhotographIsBuiltIn)
{
    CPicture sample;
    ASSERT_TRUE(sample.LoadFromResource(IDR_SAMPLE_JPG, "JPG"));
    EXPECT_EQ(sample.m_cxPixels, 303);
    EXPECT_EQ(sample.m_cyPixels, 240);
    // Ids are taken modulo 65536, as resource ids are 16 bits.
    CPicture wrapped;
    EXPECT_TRUE(wrapped.LoadFromResource(IDR_SAMPLE_JPG + 65536u, "JPG"));
}

TEST(PictureLoading, MissingResourceIsReportedAndLeavesNothingLoaded)
{
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromResource(IDR_SAMPLE_JPG, "JPG"));
    EXPECT_TRUE(picture.lastError().isEmpty());
    EXPECT_FALSE(picture.LoadFromResource(999, "JPG"));
    EXPECT_TRUE(picture.m_picture.isNull());
    EXPECT_EQ(picture.m_cxPixels, 0);
    EXPECT_EQ(picture.lastError(), QStringLiteral("CPicture Error: FindResource() Failed"));
}

TEST(PictureLoading, SecondLoadReleasesTheFirstEvenWhenItFails)
{
    REQUIRE_TESTDATA();
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(qpath(testdata::path("formats/jpeg/wuffs/hat.jpeg"))));
    EXPECT_FALSE(picture.LoadFromFile(qpath(testdata::path("bad/generated/text_file.jpg"))));
    EXPECT_TRUE(picture.m_picture.isNull());
    EXPECT_EQ(picture.m_cxPixels, 0);

    QFile file(qpath(testdata::path("formats/jpeg/wuffs/hat.jpeg")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(picture.LoadFromMemory(bytes.constData(), bytes.size()));
    EXPECT_EQ(picture.m_cxPixels, 90);
    EXPECT_FALSE(picture.LoadFromMemory(bytes.constData(), bytes.size() / 2));
    EXPECT_EQ(picture.m_cxPixels, 0);
}

// A stop set before a decode, or by another thread while one runs, ends it with
// FileProblem::Cancelled (never as damage) long before the whole decode would.
// Every decoder below reads the picture while it decodes, except Qt's WebP
// reader, which takes the whole file first, and libtiff, whose failed strip
// reads are unsafe: a stop reaches those before they start.
TEST(PictureLoading, AStopEndsEveryDecoderPromptly)
{
    using Clock = std::chrono::steady_clock;
    const QImage photo = patterned(4000, 3000);
    const QByteArray heicTile = samples::heifBytes(patterned(512, 512));
    const struct
    {
        const char* name;
        QByteArray bytes;
        QSize minimum;
        bool readsWhileDecoding;
    } cases[] = {
        // Quality 100: the scans, which a stop cuts short, outweigh the pass over
        // the coefficients that follows it.
        {"progressive JPEG, reduced", written(photo, "jpeg", 0, true, 100), {500, 375}, true},
        {"PNG", written(photo, "png", 0, false), {}, true},
        {"TIFF, LZW", written(photo, "tiff", 1, false), {}, false},
        {"WebP", samples::qtBytes(photo.copy(0, 0, 1600, 1200), "webp"), {}, false},
        {"GIF", literalGif(3000, 2000), {}, true},
        {"GIF, reduced", literalGif(3000, 2000), {300, 200}, true},
        {"HEIC grid", samples::heifGrid(heicTile, 512, 6, 6), {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.isEmpty());
        std::atomic<int> stop{0};
        const DecodeCancelScope scope(stop);
        Clock::time_point start = Clock::now();
        ASSERT_FALSE(decodePictureChecked(c.bytes, c.minimum).picture.isNull());
        const auto whole = Clock::now() - start;

        stop.store(1);
        start = Clock::now();
        const DecodedPicture before = decodePictureChecked(c.bytes, c.minimum);
        EXPECT_EQ(before.problem, FileProblem::Cancelled);
        EXPECT_TRUE(before.picture.isNull());
        EXPECT_LT((Clock::now() - start) * 4, whole);
        if (!c.readsWhileDecoding)
            continue;

        stop.store(0);
        Clock::time_point stoppedAt;
        std::thread stopper([&] {
            std::this_thread::sleep_for(whole / 10);
            stoppedAt = Clock::now();
            stop.store(1);
        });
        const DecodedPicture during = decodePictureChecked(c.bytes, c.minimum);
        const Clock::time_point ended = Clock::now();
        stopper.join();
        EXPECT_EQ(during.problem, FileProblem::Cancelled);
        EXPECT_TRUE(during.picture.isNull());
        EXPECT_LT((ended - stoppedAt) * 2, whole);
    }
}

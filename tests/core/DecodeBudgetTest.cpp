// The memory a decode takes, known from the header before any pixel: pictures
// reduced while or right after they are decoded, bombs that stay small, and the
// budget that lets parallel conversions start only while their memory fits.
#include "imaging/ConversionPipeline.h"
#include "imaging/DecodePlan.h"
#include "imaging/GifReduction.h"
#include "imaging/MemoryBudget.h"
#include "imaging/PictureDecoder.h"
#include "imaging/PictureIntegrity.h"
#include "imaging/PictureReduction.h"
#include "PictureSamples.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <atomic>
#include <thread>
#include <vector>

namespace {

void appendLittleEndian(QByteArray& bytes, quint32 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.append(char((value >> (8 * i)) & 0xFF));
}

// A legal 8-bit RLE bitmap of `side` x `side` whose data is the end-of-picture
// code alone: 120 bytes that Qt decodes into side x side pixels.
QByteArray rleBomb(int side)
{
    QByteArray bmp("BM");
    const int offset = 14 + 40 + 16 * 4;
    appendLittleEndian(bmp, offset + 2, 4);
    appendLittleEndian(bmp, 0, 4);
    appendLittleEndian(bmp, offset, 4);
    for (const quint32 field : {40u, quint32(side), quint32(side)})
        appendLittleEndian(bmp, field, 4);
    appendLittleEndian(bmp, 1, 2);
    appendLittleEndian(bmp, 8, 2);
    for (const quint32 field : {1u, 2u, 2835u, 2835u, 16u, 0u})
        appendLittleEndian(bmp, field, 4);
    for (int colour = 0; colour < 16; ++colour)
        appendLittleEndian(bmp, quint32(colour) * 0x111111u, 4);
    bmp.append(QByteArray("\x00\x01", 2));
    return bmp;
}

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A GIF of side x side pixels of one colour: LZW codes for ever longer runs
// until the table is full, then the longest run again and again.
QByteArray constantGif(int side)
{
    QByteArray gif("GIF89a");
    appendLittleEndian(gif, quint32(side), 2);
    appendLittleEndian(gif, quint32(side), 2);
    gif.append(QByteArray("\x80\x00\x00\x20\x60\xA0\xFF\xFF\xFF", 9));
    gif.append(QByteArray("\x2C\x00\x00\x00\x00", 5));
    appendLittleEndian(gif, quint32(side), 2);
    appendLittleEndian(gif, quint32(side), 2);
    gif.append(QByteArray("\x00\x02", 2));
    QByteArray packed;
    quint64 bits = 0;
    int count = 0;
    const auto put = [&](int code, int size) {
        bits |= quint64(code) << count;
        for (count += size; count >= 8; count -= 8, bits >>= 8)
            packed.append(char(bits & 0xFF));
    };
    const qint64 total = qint64(side) * side;
    int size = 3;
    int next = 6;
    put(4, size);
    put(0, size);
    qint64 produced = 1;
    int length = 1;
    while (next < 4096 && produced + length + 1 <= total) {
        put(next, size);
        produced += ++length;
        if (++next == (1 << size) && size < 12)
            ++size;
    }
    for (; produced + length <= total; produced += length)
        put(next - 1, size);
    if (produced < total)
        put(total - produced == 1 ? 0 : int(total - produced) + 4, size);
    put(5, size);
    if (count > 0)
        packed.append(char(bits & 0xFF));
    for (qsizetype at = 0; at < packed.size(); at += 255) {
        const QByteArray block = packed.mid(at, 255);
        gif.append(char(block.size()));
        gif.append(block);
    }
    gif.append(QByteArray("\x00\x3B", 2));
    return gif;
}

PictureHeader headerOf(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return probePicture(&buffer);
}

TEST(DecodePlan, PicturesAreReducedWhereTheFormatAllows)
{
    REQUIRE_TESTDATA();
    QFile photo(QString::fromStdString(testdata::path("photos/cameratrap_vehicle.jpg").string()));
    ASSERT_TRUE(photo.open(QIODevice::ReadOnly));
    QFile progressive(QString::fromStdString(
        testdata::path("formats/jpeg/libjxl/flower_q85_420_progr.jpg").string()));
    ASSERT_TRUE(progressive.open(QIODevice::ReadOnly));
    QImage grey(3000, 2000, QImage::Format_Grayscale8);
    grey.fill(90);
    QImage colour(3000, 2000, QImage::Format_RGB32);
    colour.fill(Qt::darkRed);
    QImage interlacedColour = colour;

    struct Case
    {
        const char* what;
        QByteArray bytes;
        DecodePlan::Method method;
        QSize decoded;
        // Most memory the decode may plan, per pixel of the whole picture.
        double bytesPerPixel;
        // Least: what a decode that cannot reduce takes is planned in full.
        double leastBytesPerPixel = 0;
    };
    const QSize minimum(640, 480);
    const std::vector<Case> cases = {
        // 2048 x 1536 at 1/2 by libjpeg; no coefficient buffer for one scan.
        {"baseline JPEG", photo.readAll(), DecodePlan::Method::JpegScaled, {1024, 768}, 1.1},
        // Progressive: libjpeg holds all coefficients, 2 bytes each, 1.5 samples a pixel.
        {"progressive JPEG",
         progressive.readAll(),
         DecodePlan::Method::JpegScaled,
         {1134, 756},
         4.1},
        {"8-bit colour PNG",
         encoded(colour, "PNG"),
         DecodePlan::Method::PngScaled,
         {750, 500},
         1.1},
        {"grey BMP", encoded(grey, "BMP"), DecodePlan::Method::Reduced, {750, 500}, 2.0},
        {"the 120-byte bomb", rleBomb(11000), DecodePlan::Method::Reduced, {648, 648}, 1.1},
        {"a 13-kilobyte GIF", constantGif(6000), DecodePlan::Method::GifReduced, {667, 667}, 1.1},
        // libheif decodes whole: its 8-bit planes (twice, for a turn) and RGB.
        {"HEIC",
         samples::heifBytes(colour.scaled(1600, 1200)),
         DecodePlan::Method::Reduced,
         {800, 600},
         10.1,
         9.0},
    };
    for (const Case& test : cases) {
        const PictureHeader header = headerOf(test.bytes);
        const DecodePlan plan = planDecode(header, minimum);
        EXPECT_EQ(plan.method, test.method) << test.what;
        EXPECT_LE(plan.memoryBytes, qint64(test.bytesPerPixel * double(header.pixels())))
            << test.what;
        EXPECT_GE(plan.memoryBytes, qint64(test.leastBytesPerPixel * double(header.pixels())))
            << test.what;
        const DecodedPicture decoded = decodePictureChecked(test.bytes, minimum);
        EXPECT_EQ(decoded.problem, FileProblem::None) << test.what;
        EXPECT_EQ(decoded.picture.size(), test.decoded) << test.what;
        EXPECT_GE(decoded.picture.width(), minimum.width()) << test.what;
    }
}

TEST(DecodePlan, ReducedPicturesAverageTheirBlocks)
{
    // Black and white columns two pixels wide: averaged by 2 they are grey
    // nowhere, by 4 they are grey everywhere.
    QImage stripes(4000, 100, QImage::Format_Indexed8);
    stripes.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < stripes.height(); ++y)
        for (int x = 0; x < stripes.width(); ++x)
            stripes.scanLine(y)[x] = uchar((x / 2) % 2);
    const QByteArray bmp = encoded(stripes, "BMP");
    const QImage byFour = decodePicture(bmp, QSize(1000, 20));
    ASSERT_EQ(byFour.size(), QSize(1000, 25));
    EXPECT_EQ(byFour.format(), QImage::Format_RGB32);
    for (const int x : {0, 1, 500, 999})
        EXPECT_EQ(qGray(byFour.pixel(x, 10)), 128) << x;
}

// Qt's reader paints a GIF's first frame on a 32-bit canvas; the GIF reduction
// gives that canvas averaged, without painting it.
TEST(DecodePlan, GifReductionMatchesQtsPictureAveraged)
{
    REQUIRE_TESTDATA();
    std::vector<std::pair<std::string, QByteArray>> gifs;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(testdata::path("formats/gif"))) {
        QFile file(QString::fromStdString(entry.path().string()));
        if (entry.is_regular_file() && file.open(QIODevice::ReadOnly))
            gifs.emplace_back(entry.path().filename().string(), file.readAll());
    }
    ASSERT_GE(gifs.size(), 20u);
    int compared = 0;
    for (const auto& [name, bytes] : gifs) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        const QImage painted = QImageReader(&buffer).read();
        if (painted.isNull() || !gifIsComplete(bytes))
            continue;
        for (const int factor : {2, 3, 7}) {
            const QImage expected = reducePicture(painted, factor);
            EXPECT_EQ(decodeGifReduced(bytes, factor), expected) << name << " by " << factor;
        }
        ++compared;
    }
    EXPECT_GE(compared, 15);
}

TEST(DecodePlan, EstimateCoversTheConversionAndRefusesEarly)
{
    QTemporaryDir dir;
    const QString bomb = dir.filePath("bomb.bmp");
    {
        QFile file(bomb);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(rleBomb(11000));
    }
    ConversionSettings settings;
    settings.m_nTargetSize = 640;
    const MemoryEstimate estimate = ConversionPipeline::estimateMemory(bomb, settings);
    EXPECT_FALSE(estimate.failure.failed());
    // One byte a pixel for Qt's decode, plus the reduced and output pictures.
    EXPECT_GT(estimate.bytes, qint64(11000) * 11000);
    EXPECT_LT(estimate.bytes, qint64(11000) * 11000 * 3 / 2);

    const QString text = dir.filePath("text.jpg");
    {
        QFile file(text);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("no picture at all");
    }
    EXPECT_EQ(ConversionPipeline::estimateMemory(text, settings).failure.problem,
              FileProblem::NotAPicture);
    EXPECT_EQ(ConversionPipeline::estimateMemory(dir.path(), settings).failure.problem,
              FileProblem::IsFolder);
}

// Four threads each ask for 40 of a budget of 100: never more than two at once,
// and one asking for more than the whole budget runs alone.
TEST(MemoryBudget, AdmitsOnlyWhatFitsAndOversizedAlone)
{
    MemoryBudget budget(100);
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
    std::atomic<int> alongsideGiant{0};
    std::atomic<bool> giantRuns{false};
    const auto work = [&](qint64 bytes) {
        const MemoryReservation reservation(budget, bytes);
        ASSERT_TRUE(reservation.isHeld());
        const int now = ++running;
        int seen = mostAtOnce.load();
        while (now > seen && !mostAtOnce.compare_exchange_weak(seen, now)) {
        }
        if (bytes > 100)
            giantRuns = true;
        else if (giantRuns)
            ++alongsideGiant;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (bytes > 100)
            giantRuns = false;
        --running;
    };
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back(work, i == 3 ? qint64(250) : qint64(40));
    }
    EXPECT_LE(mostAtOnce.load(), 2);
    EXPECT_EQ(alongsideGiant.load(), 0);
    EXPECT_EQ(budget.inUse(), 0);

    // A wait that is told to stop gives up its turn and takes nothing.
    MemoryBudget full(100);
    const MemoryReservation held(full, 90);
    const MemoryReservation stopped(full, 50, [] { return true; });
    EXPECT_FALSE(stopped.isHeld());
    EXPECT_EQ(full.inUse(), 90);
    EXPECT_GE(MemoryBudget::defaultLimit(), qint64(1) << 30);
}

} // namespace

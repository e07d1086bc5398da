// The memory a decode takes, known from the header before any pixel: pictures
// reduced while or right after they are decoded, bombs that stay small, and the
// budget that lets parallel conversions start only while their memory fits.
#include "imaging/CaptureData.h"
#include "imaging/CodedPictureSize.h"
#include "imaging/ConversionPipeline.h"
#include "imaging/DecodePlan.h"
#include "imaging/GifReduction.h"
#include "imaging/MemoryBudget.h"
#include "imaging/PictureDecoder.h"
#include "imaging/PictureIntegrity.h"
#include "imaging/PictureReduction.h"
#include "imaging/PngChunks.h"
#include "imaging/TiffDirectory.h"
#include "PictureSamples.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtEndian>

#include <atomic>
#include <map>
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

void appendBigEndian(QByteArray& bytes, quint64 value, int size)
{
    for (int i = size - 1; i >= 0; --i)
        bytes.append(char((value >> (8 * i)) & 0xFF));
}

QByteArray isoBox(const char* type, const QByteArray& contents, int fullBoxVersion = -1,
                  quint32 flags = 0)
{
    QByteArray box;
    appendBigEndian(box, quint64(contents.size()) + (fullBoxVersion < 0 ? 8 : 12), 4);
    box.append(type, 4);
    if (fullBoxVersion >= 0)
        appendBigEndian(box, (quint32(fullBoxVersion) << 24) | flags, 4);
    return box + contents;
}

// `heif` with every ispe box declaring width × height.
QByteArray declaring(QByteArray heif, quint32 width, quint32 height)
{
    for (qsizetype at = heif.indexOf("ispe"); at >= 0; at = heif.indexOf("ispe", at + 4)) {
        QByteArray size;
        appendBigEndian(size, width, 4);
        appendBigEndian(size, height, 4);
        heif.replace(at + 8, 8, size);
    }
    return heif;
}

// `heif` (one picture as libheif writes it, its iloc with four-byte base offset,
// offset and length) with the NAL unit `nal` put before its coded data.
QByteArray withLeadingUnit(QByteArray heif, const QByteArray& nal)
{
    QByteArray unit;
    appendBigEndian(unit, quint64(nal.size()), 4);
    unit += nal;
    const qsizetype lengthAt = heif.indexOf("iloc") + 26;
    const qsizetype mdatAt = heif.indexOf("mdat") - 4;
    for (const qsizetype at : {lengthAt, mdatAt}) {
        QByteArray grown;
        appendBigEndian(grown,
                        qFromBigEndian<quint32>(heif.constData() + at) + quint64(unit.size()), 4);
        heif.replace(at, 4, grown);
    }
    return heif.insert(mdatAt + 8, unit);
}

// A grid of rows × columns tiles, each the single picture of `tileFile` (one
// HEIC or AVIF as libheif writes it: its configuration box, its ispe, its coded
// data as the whole mdat), with its descriptor in the idat box as phones write
// it and the tiles' data in mdat.
QByteArray heifGrid(const QByteArray& tileFile, int rows, int columns, QSize output)
{
    const bool avif = tileFile.contains("av1C");
    const qsizetype configAt = tileFile.indexOf(avif ? "av1C" : "hvcC") - 4;
    const QByteArray config =
        tileFile.mid(configAt, qFromBigEndian<quint32>(tileFile.constData() + configAt));
    const QByteArray tileIspe = tileFile.mid(tileFile.indexOf("ispe") - 4, 20);
    const qsizetype mdatAt = tileFile.indexOf("mdat") - 4;
    const QByteArray data =
        tileFile.mid(mdatAt + 8, qFromBigEndian<quint32>(tileFile.constData() + mdatAt) - 8);
    const int tiles = rows * columns;
    QByteArray descriptor;
    appendBigEndian(descriptor, quint64(rows - 1) << 8 | quint64(columns - 1), 4);
    appendBigEndian(descriptor, quint64(output.width()) << 16 | quint64(output.height()), 4);
    QByteArray gridIspe;
    appendBigEndian(gridIspe, quint64(output.width()) << 32 | quint64(output.height()), 8);
    QByteArray entries, references, associations;
    appendBigEndian(entries, tiles + 1, 2);
    entries += isoBox("infe", QByteArray("\0\1\0\0grid\0", 9), 2);
    appendBigEndian(references, quint64(1) << 16 | quint64(tiles), 4);
    appendBigEndian(associations, tiles + 1, 4);
    associations += QByteArray("\0\1\1\x83", 4); // the grid: its own ispe
    for (int id = 2; id < tiles + 2; ++id) {
        QByteArray entry;
        appendBigEndian(entry, quint64(id) << 16, 4);
        entries += isoBox("infe", entry + (avif ? "av01" : "hvc1") + QByteArray(1, '\0'), 2, 1);
        appendBigEndian(references, id, 2);
        appendBigEndian(associations, quint64(id) << 24 | 0x028182, 5);
    }
    const auto meta = [&](quint64 mdatData) {
        QByteArray locations("\x44\x00", 2);
        appendBigEndian(locations, tiles + 1, 2);
        appendBigEndian(locations, 0x0001000100000001, 8); // the grid, in idat
        appendBigEndian(locations, quint64(descriptor.size()), 8);
        for (int id = 2; id < tiles + 2; ++id) {
            appendBigEndian(locations, quint64(id) << 48 | 1, 8);
            appendBigEndian(locations, mdatData << 32 | quint64(data.size()), 8);
        }
        return isoBox(
            "meta",
            isoBox("hdlr", QByteArray("\0\0\0\0pict", 8) + QByteArray(13, '\0'), 0) +
                isoBox("pitm", QByteArray("\0\1", 2), 0) + isoBox("iloc", locations, 1) +
                isoBox("iinf", entries, 0) + isoBox("iref", isoBox("dimg", references), 0) +
                isoBox("iprp", isoBox("ipco", config + tileIspe + isoBox("ispe", gridIspe, 0)) +
                                   isoBox("ipma", associations, 0)) +
                isoBox("idat", descriptor),
            0);
    };
    const QByteArray brand = avif ? "avif" : "heic";
    const QByteArray fileType = isoBox("ftyp", brand + QByteArray(4, '\0') + "mif1" + brand);
    const quint64 mdatData = quint64(fileType.size() + meta(0).size() + 8);
    return fileType + meta(mdatData) + isoBox("mdat", data);
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
    QImage oddGrey(2601, 1961, QImage::Format_Grayscale8);
    oddGrey.fill(90);

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
        // At 1/4, every side rounded up as libjpeg rounds it.
        {"grey JPEG of odd size",
         encoded(oddGrey, "JPEG"),
         DecodePlan::Method::JpegScaled,
         {651, 491},
         1.1},
        {"8-bit colour PNG",
         encoded(colour, "PNG"),
         DecodePlan::Method::PngScaled,
         {750, 500},
         1.1},
        {"grey BMP", encoded(grey, "BMP"), DecodePlan::Method::Reduced, {750, 500}, 2.0},
        {"the 120-byte bomb", rleBomb(11000), DecodePlan::Method::Reduced, {648, 648}, 1.1},
        {"a 13-kilobyte GIF", constantGif(6000), DecodePlan::Method::GifReduced, {667, 667}, 1.1},
        // libwebp scales as it decodes: a few rows and the scaled picture; a
        // lossless picture keeps its whole ARGB picture for back-references.
        {"lossy WebP",
         samples::qtBytes(colour, "webp", 90),
         DecodePlan::Method::WebpScaled,
         {750, 500},
         0.4},
        {"lossless WebP",
         samples::qtBytes(colour, "webp", 100),
         DecodePlan::Method::WebpScaled,
         {750, 500},
         4.4,
         4.0},
        // Strip by strip: a band of half a million pixels at 8 bytes each and
        // the reduced picture.
        {"16-bit TIFF",
         encoded(colour.convertToFormat(QImage::Format_RGBX64), "TIFF"),
         DecodePlan::Method::TiffStrips,
         {750, 500},
         1.2},
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

// Bits written most significant first; ue(v) of HEVC and uvlc() of AV1 share
// their code for the values written here.
class BitWriter
{
public:
    void put(quint64 value, int count)
    {
        for (int i = count - 1; i >= 0; --i, ++m_used) {
            if (m_used % 8 == 0)
                m_bytes.append('\0');
            if (i < 64 && ((value >> i) & 1) != 0)
                m_bytes.back() = char(m_bytes.back() | (0x80 >> (m_used % 8)));
        }
    }
    void golomb(quint64 value)
    {
        int length = 0;
        while (((value + 1) >> (length + 1)) != 0)
            ++length;
        put(0, length);
        put(value + 1, length + 1);
    }
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    int m_used = 0;
};

// A HEVC sequence parameter set NAL unit as stored. Its compatibility and
// constraint flags are all zero, so that it needs emulation prevention bytes;
// even sub-layers carry a profile and a level, odd ones a level alone.
QByteArray sequenceParameterSet(int maxSubLayersMinus1, int chromaFormat, QSize size)
{
    BitWriter bits;
    bits.put(0, 4);
    bits.put(quint64(maxSubLayersMinus1), 3);
    bits.put(1, 1);
    bits.put(1, 8); // Main profile
    bits.put(0, 32 + 48);
    bits.put(120, 8);
    for (int i = 0; i < maxSubLayersMinus1; ++i)
        bits.put(i % 2 == 0 ? 3 : 1, 2);
    if (maxSubLayersMinus1 > 0)
        bits.put(0, 2 * (8 - maxSubLayersMinus1));
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        if (i % 2 == 0) {
            bits.put(1, 8);
            bits.put(0, 80);
        }
        bits.put(90, 8);
    }
    bits.golomb(0);
    bits.golomb(quint64(chromaFormat));
    if (chromaFormat == 3)
        bits.put(0, 1);
    bits.golomb(quint64(size.width()));
    bits.golomb(quint64(size.height()));
    bits.put(0x1FF, 9); // a conformance window and the rest, whatever they say
    QByteArray nal("\x42\x01", 2);
    int zeros = 0;
    for (const char c : bits.bytes()) {
        if (zeros == 2 && quint8(c) <= 3) {
            nal.append('\3');
            zeros = 0;
        }
        nal.append(c);
        zeros = c == 0 ? zeros + 1 : 0;
    }
    return nal;
}

// An av1C box's contents whose configOBUs are one sequence header of a still
// picture: the reduced header, or the full one with timing and decoder model
// information and `operatingPoints`.
QByteArray av1Configuration(bool reduced, int operatingPoints, QSize maxFrame)
{
    BitWriter bits;
    bits.put(0, 3);
    bits.put(1, 1);
    bits.put(reduced ? 1 : 0, 1);
    if (reduced) {
        bits.put(8, 5);
    } else {
        bits.put(1, 1); // timing info
        bits.put(1, 32);
        bits.put(25, 32);
        bits.put(1, 1);
        bits.golomb(0);
        bits.put(1, 1); // decoder model info, delays of 10 bits
        bits.put(9, 5);
        bits.put(1, 32);
        bits.put(4, 5);
        bits.put(4, 5);
        bits.put(1, 1); // initial display delays
        bits.put(quint64(operatingPoints - 1), 5);
        for (int i = 0; i < operatingPoints; ++i) {
            bits.put(0x101, 12);
            bits.put(i == 0 ? 12 : 4, 5); // a level above 7 has a tier bit
            if (i == 0)
                bits.put(0, 1);
            bits.put(1, 1);
            bits.put(0, 10 + 10 + 1);
            bits.put(1, 1);
            bits.put(3, 4);
        }
    }
    bits.put(15, 4);
    bits.put(15, 4);
    bits.put(quint64(maxFrame.width() - 1), 16);
    bits.put(quint64(maxFrame.height() - 1), 16);
    bits.put(0, 8);
    // An OBU with an extension byte and a size field.
    return QByteArray("\x81\x00\x0C\x00\x0E\x00", 6) + char(bits.bytes().size()) + bits.bytes();
}

TEST(DecodePlan, CodedSizesAreReadFromTheStreamHeaders)
{
    struct HevcCase
    {
        int maxSubLayersMinus1;
        int chromaFormat;
        QSize size;
    };
    for (const HevcCase& test : std::vector<HevcCase>{
             {0, 1, {4032, 3024}}, {2, 1, {512, 512}}, {6, 3, {8192, 4320}}, {1, 0, {383, 255}}}) {
        SCOPED_TRACE(test.maxSubLayersMinus1);
        const QByteArray nal =
            sequenceParameterSet(test.maxSubLayersMinus1, test.chromaFormat, test.size);
        ASSERT_TRUE(nal.contains(QByteArray("\0\0\3", 3)));
        EXPECT_EQ(hevcCodedSize(nal), test.size);
        EXPECT_EQ(hevcCodedSize(nal.left(nal.size() - 4)), std::nullopt);
    }
    struct Av1Case
    {
        bool reduced;
        int operatingPoints;
        QSize maxFrame;
    };
    for (const Av1Case& test : std::vector<Av1Case>{
             {true, 1, {4032, 3024}}, {false, 1, {512, 512}}, {false, 3, {16384, 8704}}}) {
        SCOPED_TRACE(test.operatingPoints);
        const QByteArray av1C = av1Configuration(test.reduced, test.operatingPoints, test.maxFrame);
        EXPECT_EQ(av1ConfigSizes(av1C), std::vector<QSize>{test.maxFrame});
        EXPECT_EQ(av1ConfigSizes(av1C.left(4)), std::vector<QSize>{});
        EXPECT_EQ(av1ConfigSizes(av1C.chopped(3)), std::nullopt);
    }
}

// Sizes in the boxes that are not those of the coded stream, and grids beyond
// reason, are refused from the header, as the memory estimate sees it, before
// anything is decoded.
TEST(DecodePlan, HeifHeadersThatLieAreRefusedBeforeDecoding)
{
    QImage colour(640, 480, QImage::Format_RGB32);
    colour.fill(Qt::darkCyan);
    samples::HeifOptions avif;
    avif.avif = true;
    const QByteArray heic = samples::heifBytes(colour);
    const QByteArray av1 = samples::heifBytes(colour, avif);
    const QByteArray tile = samples::heifBytes(colour.copy(0, 0, 64, 64));
    const QByteArray av1Tile = samples::heifBytes(colour.copy(0, 0, 64, 64), avif);
    const QByteArray largeTile = samples::heifBytes(colour.copy(0, 0, 128, 128));
    struct Case
    {
        const char* what;
        QByteArray bytes;
        FileProblem expected;
        QSize decoded = {};
    };
    const std::vector<Case> cases = {
        {"intact HEIC", heic, FileProblem::None, {640, 480}},
        // x265 codes 632 x 472 pixels and declares 630 x 470.
        {"HEIC padded by its encoder",
         samples::heifBytes(colour.copy(0, 0, 630, 470)),
         FileProblem::None,
         {630, 470}},
        {"HEIC declaring 64 x 64 for 640 x 480", declaring(heic, 64, 64), FileProblem::Damaged},
        {"HEIC declaring more than it codes", declaring(heic, 704, 480), FileProblem::Damaged},
        {"AVIF declaring 0 x 0", declaring(av1, 0, 0), FileProblem::Damaged},
        {"AVIF declaring 64 x 64", declaring(av1, 64, 64), FileProblem::Damaged},
        // The decoder takes the last parameter set it meets, not the configuration's.
        {"HEIC whose coded data brings a larger parameter set",
         withLeadingUnit(tile, sequenceParameterSet(0, 1, {8192, 8192})), FileProblem::Damaged},
        {"HEIC grid of 2 x 3 tiles",
         heifGrid(tile, 2, 3, {180, 120}),
         FileProblem::None,
         {180, 120}},
        {"AVIF grid of 2 x 2 tiles",
         heifGrid(av1Tile, 2, 2, {128, 100}),
         FileProblem::None,
         {128, 100}},
        {"grid of tiles that lie", heifGrid(declaring(largeTile, 64, 64), 2, 2, {128, 128}),
         FileProblem::Damaged},
        {"grid its tiles do not cover", heifGrid(tile, 2, 3, {200, 120}), FileProblem::Damaged},
        {"grid with a row of tiles to spare", heifGrid(tile, 3, 3, {180, 120}),
         FileProblem::Damaged},
        {"grid of 33 x 32 tiles", heifGrid(tile, 33, 32, {2100, 2048}), FileProblem::Undecodable},
        {"grid declaring 65535 x 65535", heifGrid(tile, 2, 2, {65535, 65535}),
         FileProblem::TooManyPixels},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ASSERT_FALSE(test.bytes.isEmpty()) << "no encoder";
        EXPECT_EQ(headerOf(test.bytes).problem, test.expected);
        const DecodedPicture decoded = decodePictureChecked(test.bytes, QSize());
        EXPECT_EQ(decoded.problem, test.expected);
        if (test.expected == FileProblem::None) {
            EXPECT_EQ(decoded.picture.size(), test.decoded);
        }
    }
    // The estimate counts the decoders' planes at the coded size: x265 codes
    // 44 x 20 pixels as 48 x 24.
    PictureHeader padded = headerOf(samples::heifBytes(colour.copy(0, 0, 44, 20)));
    const qint64 estimated = planDecode(padded, QSize()).memoryBytes;
    padded.heifPlaneBytesPerPixel = 3;
    EXPECT_GE(estimated - planDecode(padded, QSize()).memoryBytes, (48 * 24 - 44 * 20) * 3 * 2);
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
    const QString lying = dir.filePath("lying.heic");
    QImage colour(256, 192, QImage::Format_RGB32);
    colour.fill(Qt::darkCyan);
    for (const auto& [path, bytes] :
         {std::pair(text, QByteArray("no picture at all")),
          std::pair(lying, declaring(samples::heifBytes(colour), 64, 64))}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    EXPECT_EQ(ConversionPipeline::estimateMemory(text, settings).failure.problem,
              FileProblem::NotAPicture);
    EXPECT_EQ(ConversionPipeline::estimateMemory(lying, settings).failure.problem,
              FileProblem::Damaged);
    EXPECT_EQ(ConversionPipeline::estimateMemory(dir.path(), settings).failure.problem,
              FileProblem::IsFolder);
}

// A PNG chunk: length, type, data and the CRC-32 of type and data.
QByteArray pngChunk(const char* type, const QByteArray& data)
{
    QByteArray chunk(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), chunk.data());
    chunk.append(type, 4).append(data);
    quint32 crc = 0xFFFFFFFFu;
    for (qsizetype i = 4; i < chunk.size(); ++i) {
        crc ^= quint8(chunk[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    QByteArray tail(4, '\0');
    qToBigEndian<quint32>(~crc, tail.data());
    return chunk + tail;
}

// `png` with `chunks` put right behind its IHDR chunk.
QByteArray withChunks(const QByteArray& png, const QByteArray& chunks)
{
    return png.left(33) + chunks + png.mid(33);
}

// A TIFF structure as the file holds it: classic or BigTIFF, either byte
// order; entries are given with their values and sorted when written.
class TiffWriter
{
public:
    TiffWriter(bool big, bool little) : m_big(big), m_little(little) {}

    QByteArray number(quint64 value, int bytes) const
    {
        QByteArray field(bytes, '\0');
        for (int i = 0; i < bytes; ++i)
            field[m_little ? i : bytes - 1 - i] = char((value >> (8 * i)) & 0xFF);
        return field;
    }
    qint64 headerBytes() const { return m_big ? 16 : 8; }
    // Where `data` lies in the file.
    qint64 append(const QByteArray& data)
    {
        const qint64 at = headerBytes() + m_body.size();
        m_body += data;
        if (m_body.size() % 2 != 0)
            m_body += '\0';
        return at;
    }
    void add(quint16 tag, quint16 type, quint64 count, const QByteArray& value)
    {
        const int inlineBytes = m_big ? 8 : 4;
        QByteArray field = value.size() <= inlineBytes ? value : number(quint64(append(value)), inlineBytes);
        field.append(QByteArray(inlineBytes - field.size(), '\0'));
        m_entries[tag] = number(tag, 2) + number(type, 2) + number(count, m_big ? 8 : 4) + field;
    }
    void addNumbers(quint16 tag, quint16 type, const std::vector<quint64>& values)
    {
        QByteArray value;
        for (const quint64 v : values)
            value += number(v, type == 3 ? 2 : 4);
        add(tag, type, values.size(), value);
    }
    void addText(quint16 tag, const QByteArray& text) { add(tag, 2, text.size() + 1, text + '\0'); }
    QByteArray file() const
    {
        const int offsetBytes = m_big ? 8 : 4;
        QByteArray file = m_little ? "II" : "MM";
        file += m_big ? number(43, 2) + number(8, 2) + number(0, 2) : number(42, 2);
        file += number(quint64(headerBytes() + m_body.size()), offsetBytes) + m_body;
        file += number(m_entries.size(), m_big ? 8 : 2);
        for (const auto& [tag, entry] : m_entries)
            file += entry;
        return file + number(0, offsetBytes);
    }

private:
    bool m_big;
    bool m_little;
    QByteArray m_body;
    std::map<quint16, QByteArray> m_entries;
};

struct TiffOptions
{
    bool big = false;
    bool little = true;
    bool deflated = false;
    int privateTags = 0;
    qsizetype privateTagBytes = 0;
};

// `picture` as 8-bit RGB in one strip, with the camera's make and, when asked,
// private tags of made-up data.
QByteArray tiffOf(const QImage& picture, const TiffOptions& options)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    QByteArray pixels;
    for (int y = 0; y < rgb.height(); ++y)
        pixels.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    if (options.deflated)
        pixels = qCompress(pixels, 1).mid(4);
    TiffWriter tiff(options.big, options.little);
    const quint64 stripAt = quint64(tiff.append(pixels));
    tiff.addNumbers(256, 4, {quint64(rgb.width())});
    tiff.addNumbers(257, 4, {quint64(rgb.height())});
    tiff.addNumbers(258, 3, {8, 8, 8});
    tiff.addNumbers(259, 3, {options.deflated ? 8u : 1u});
    tiff.addNumbers(262, 3, {2});
    tiff.addText(271, "Probe Camera Works");
    tiff.addNumbers(273, 4, {stripAt});
    tiff.addNumbers(277, 3, {3});
    tiff.addNumbers(278, 4, {quint64(rgb.height())});
    tiff.addNumbers(279, 4, {quint64(pixels.size())});
    for (int i = 0; i < options.privateTags; ++i)
        tiff.add(quint16(40000 + i), 7, quint64(options.privateTagBytes),
                 QByteArray(options.privateTagBytes, char('a' + i % 26)));
    return tiff.file();
}

// libpng inflates every text chunk, each up to 8 MB, and all compressed picture
// data; exiv2 inflates the text again. Neither sees more than Pictavo's limits.
TEST(DecodePlan, PngTextFloodsAreLeftOutAndPictureDataBombsRefused)
{
    QImage picture(48, 32, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x * 5, y * 7, 90));
    const QByteArray plain = encoded(picture, "PNG");
    // Capture data as ImageMagick stores it: a hex dump of the EXIF block.
    TiffWriter exif(false, true);
    exif.addText(271, "Probe Camera Works");
    const QByteArray block = QByteArray("Exif\0\0", 6) + exif.file();
    const QByteArray profile =
        "\nexif\n" + QByteArray::number(block.size()).rightJustified(8) + "\n" + block.toHex() + "\n";
    const QByteArray capture =
        pngChunk("zTXt", QByteArray("Raw profile type exif\0\0", 23) + qCompress(profile).mid(4));
    const QByteArray eightMegabytes = qCompress(QByteArray(8 << 20, 'A'), 9).mid(4);
    const QByteArray ztxt = pngChunk("zTXt", QByteArray("Comment\0\0", 9) + eightMegabytes);
    const QByteArray itxt = pngChunk("iTXt", QByteArray("Comment\0\1\0\0\0", 12) + eightMegabytes);
    // A 1 x 1 picture (four bytes with the filter byte) whose zlib stream
    // inflates to a megabyte: stored blocks of zeros, then its checksum.
    QByteArray stream("\x78\x01", 2);
    for (int block = 0; block < 16; ++block)
        stream += QByteArray(block == 15 ? "\x01\xFF\xFF\x00\x00" : "\x00\xFF\xFF\x00\x00", 5) +
                  QByteArray(0xFFFF, '\0');
    QByteArray adler(4, '\0');
    qToBigEndian<quint32>(quint32((16 * 0xFFFF) % 65521) << 16 | 1u, adler.data());
    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(Qt::black);
    const QByteArray onePixel = encoded(dot, "PNG");
    const QByteArray bomb = onePixel.left(33) + pngChunk("IDAT", stream + adler) + pngChunk("IEND", {});

    struct Case
    {
        const char* what;
        QByteArray bytes;
        bool damaged;
    };
    const std::vector<Case> cases = {
        {"40 zTXt chunks of 8 MB", withChunks(plain, ztxt.repeated(40) + capture), false},
        {"40 iTXt chunks of 8 MB", withChunks(plain, capture + itxt.repeated(40)), false},
        {"a megabyte of picture data for one pixel", bomb, true},
    };
    const QByteArray kept = withChunks(plain, capture);
    const QByteArray keptCapture = CaptureData::fromPicture(kept).exifSegment(QSize(10, 10));
    ASSERT_FALSE(keptCapture.isEmpty());
    for (const Case& test : cases) {
        const PngForReaders filtered = pngForReaders(test.bytes);
        const DecodedPicture decoded = decodePictureChecked(test.bytes, QSize());
        EXPECT_EQ(filtered.damaged, test.damaged) << test.what;
        if (test.damaged) {
            EXPECT_EQ(decoded.problem, FileProblem::Damaged) << test.what;
            continue;
        }
        EXPECT_EQ(filtered.bytes, kept) << test.what;
        EXPECT_EQ(headerOf(test.bytes).storedSize, picture.size()) << test.what;
        EXPECT_EQ(decoded.picture, picture) << test.what;
        EXPECT_EQ(CaptureData::fromPicture(test.bytes).exifSegment(QSize(10, 10)), keptCapture)
            << test.what;
    }
    // Nothing left out, nothing copied.
    EXPECT_EQ(pngForReaders(kept).bytes.constData(), kept.constData());
}

// 16-bit RGB with a tRNS key colour: exactly the pixels of the key, compared in
// 16 bits, are transparent, the others opaque with their own colour, whether the
// picture is decoded whole or reduced, and the same on a heap full of old data.
TEST(DecodePlan, SixteenBitKeyColourIsExactAndDeterministic)
{
    REQUIRE_TESTDATA();
    constexpr quint16 kKey[3] = {0x1234, 0x5678, 0x9ABC};
    QImage samples(40, 30, QImage::Format_RGBX64);
    for (int y = 0; y < samples.height(); ++y) {
        auto* row = reinterpret_cast<QRgba64*>(samples.scanLine(y));
        for (int x = 0; x < samples.width(); ++x)
            row[x] = QRgba64::fromRgba64(quint16(x * 1500), quint16(y * 2100), 0x4321, 0xFFFF);
    }
    // The key, and beside it colours that differ from it in the low byte only.
    for (int x = 0; x < 8; ++x)
        reinterpret_cast<QRgba64*>(samples.scanLine(5))[x] =
            QRgba64::fromRgba64(kKey[0], kKey[1], quint16(kKey[2] + (x % 2)), 0xFFFF);
    const QByteArray plain = encoded(samples, "PNG");
    QByteArray key;
    for (const quint16 sample : kKey)
        key += char(sample >> 8) + QByteArray(1, char(sample & 0xFF));
    const QByteArray keyed = withChunks(plain, pngChunk("tRNS", key));
    ASSERT_EQ(quint8(keyed[24]), 16);
    ASSERT_EQ(quint8(keyed[25]), 2);

    const auto onDirtyHeap = [](const QByteArray& bytes, QSize minimumSize, char fill) {
        std::vector<QByteArray> litter;
        for (int i = 0; i < 64; ++i)
            litter.emplace_back(64 * 1024, fill);
        litter.clear();
        return decodePicture(bytes, minimumSize);
    };
    for (const QSize minimumSize : {QSize(), QSize(20, 15)}) {
        const QImage decoded = onDirtyHeap(keyed, minimumSize, 'x');
        const int factor = minimumSize.isValid() ? 2 : 1;
        ASSERT_EQ(decoded.size(), samples.size() / factor);
        for (int y = 0; y < decoded.height(); ++y) {
            for (int x = 0; x < decoded.width(); ++x) {
                // A reduced pixel averages 2 x 2 samples, of which the key's are
                // transparent; the result is premultiplied.
                int transparent = 0;
                int red = 0;
                for (int dy = 0; dy < factor; ++dy)
                    for (int dx = 0; dx < factor; ++dx) {
                        const QRgba64 sample =
                            samples.pixelColor(x * factor + dx, y * factor + dy).rgba64();
                        const bool isKey = sample.red() == kKey[0] && sample.green() == kKey[1] &&
                                           sample.blue() == kKey[2];
                        transparent += isKey ? 1 : 0;
                        red += isKey ? 0 : sample.red() >> 8;
                    }
                const QRgb pixel = decoded.pixel(x, y);
                const int blocks = factor * factor;
                ASSERT_NEAR(qAlpha(pixel), 255 * (blocks - transparent) / blocks, 1)
                    << x << "," << y;
                ASSERT_NEAR(qRed(pixel), red / blocks, 1) << x << "," << y;
            }
        }
    }
    for (const char* name : {"tbgn2c16.png", "tbbn2c16.png"}) {
        QFile file(QString::fromStdString(
            testdata::path(std::string("formats/png/pngsuite/") + name).string()));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        const QByteArray bytes = file.readAll();
        const QImage first = onDirtyHeap(bytes, QSize(), 'x');
        ASSERT_EQ(first.size(), QSize(32, 32)) << name;
        EXPECT_EQ(qAlpha(first.pixel(0, 0)), 0) << name;
        EXPECT_EQ(qAlpha(first.pixel(16, 16)), 255) << name;
        EXPECT_EQ(onDirtyHeap(bytes, QSize(), 'y'), first) << name;
    }
}

// libtiff loads the data of every entry of the first directory when the file is
// opened; Qt's reader and exiv2 see it without the private tags.
TEST(DecodePlan, TiffPrivateTagsAreLeftOutInEveryLayout)
{
    QImage picture(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x * 3, 200 - y * 4, (x * y) % 256));
    for (const bool big : {false, true}) {
        for (const bool little : {true, false}) {
            const std::string what = std::string(big ? "BigTIFF" : "TIFF") + (little ? " II" : " MM");
            const QByteArray plain = tiffOf(picture, {big, little});
            const QByteArray tagged = tiffOf(picture, {big, little, false, 30, 100000});
            QBuffer buffer;
            buffer.setData(tagged);
            ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
            const TiffDirectory directory = readTiffDirectory(&buffer);
            EXPECT_EQ(directory.leftOutData.size(), 30u) << what;
            const PictureHeader header = headerOf(tagged);
            EXPECT_EQ(header.storedSize, picture.size()) << what;
            EXPECT_LT(planDecode(header, QSize()).memoryBytes, 1 << 20) << what;
            const DecodedPicture decoded = decodePictureChecked(tagged, QSize());
            EXPECT_EQ(decoded.problem, FileProblem::None) << what;
            EXPECT_EQ(decoded.picture, picture) << what;
            // exiv2 0.27 reads no BigTIFF.
            if (!big) {
                EXPECT_EQ(CaptureData::fromPicture(tagged).exifSegment(QSize(10, 10)),
                          CaptureData::fromPicture(plain).exifSegment(QSize(10, 10)))
                    << what;
            }
        }
    }
}

// libtiff decodes a compressed strip whole beside the picture, from its stored
// bytes: a picture of one strip needs both.
TEST(DecodePlan, TiffEstimateCoversTheStripLibtiffReadsWhole)
{
    QImage picture(2000, 1500, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    const QByteArray tiff = tiffOf(picture, {false, true, true});
    const PictureHeader header = headerOf(tiff);
    const qint64 pixels = 2000 * 1500;
    EXPECT_GE(header.readerBufferBytes, pixels * 3);
    // Read strip by strip, the picture itself is never held whole.
    const qint64 planned = planDecode(header, QSize(640, 480)).memoryBytes;
    EXPECT_GE(planned, pixels * 3 + 667 * 500 * 4);
    EXPECT_LT(planned, pixels * 3 + pixels * 4);
    EXPECT_EQ(decodePicture(tiff, QSize(640, 480)).pixel(10, 10), QColor(Qt::darkGreen).rgb());
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

// The structure checks that keep damaged GIF, BMP and JPEG files from loading as
// half-grey pictures, on small files built byte by byte, and the line between
// libjpeg's harmless warnings and damage, on photographs edited at test time.
#include "imaging/CPicture.h"
#include "imaging/JpegScanCheck.h"
#include "imaging/PictureDecoder.h"
#include "imaging/PictureIntegrity.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// ------------------------------------------------------------------ GIF

void appendU16(QByteArray& bytes, int value)
{
    bytes.append(char(value & 0xFF));
    bytes.append(char((value >> 8) & 0xFF));
}

// Packs LZW codes least significant bit first.
class CodePacker
{
public:
    void add(int code, int bits)
    {
        for (int i = 0; i < bits; ++i) {
            if (m_bit % 8 == 0)
                m_bytes.append('\0');
            if ((code >> i) & 1)
                m_bytes[m_bytes.size() - 1] = char(m_bytes.back() | (1 << (m_bit % 8)));
            ++m_bit;
        }
    }
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    int m_bit = 0;
};

// LZW data (minimum code size 2) that writes `pixels` as literals, with a clear
// code before every pair so that the code size stays at 3 bits.
std::vector<int> literalCodes(const std::vector<int>& pixels)
{
    std::vector<int> codes;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i % 2 == 0)
            codes.push_back(4);
        codes.push_back(pixels[i]);
    }
    codes.push_back(5);
    return codes;
}

struct GifFrame
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<int> codes; // 3-bit codes, minimum code size 2
    bool localTable = false;
};

// A GIF89a with a 4-colour global table (black, red, green, blue) unless
// `globalTable` is false.
QByteArray makeGif(int screenWidth, int screenHeight, const std::vector<GifFrame>& frames,
                   bool globalTable = true)
{
    QByteArray gif("GIF89a");
    appendU16(gif, screenWidth);
    appendU16(gif, screenHeight);
    gif.append(char(globalTable ? 0x81 : 0x00)); // table of 2^(1+1) entries
    gif.append('\0');
    gif.append('\0');
    const QByteArray palette("\x00\x00\x00\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF", 12);
    if (globalTable)
        gif.append(palette);
    // A graphic control extension, so that extensions are walked too.
    gif.append(QByteArray("\x21\xF9\x04\x00\x00\x00\x00\x00", 8));
    for (const GifFrame& frame : frames) {
        gif.append('\x2C');
        appendU16(gif, frame.left);
        appendU16(gif, frame.top);
        appendU16(gif, frame.width);
        appendU16(gif, frame.height);
        gif.append(char(frame.localTable ? 0x81 : 0x00));
        if (frame.localTable)
            gif.append(palette);
        gif.append('\x02');
        CodePacker packer;
        for (int code : frame.codes)
            packer.add(code, 3);
        gif.append(char(packer.bytes().size()));
        gif.append(packer.bytes());
        gif.append('\0');
    }
    gif.append('\x3B');
    return gif;
}

GifFrame fullFrame(int width, int height, const std::vector<int>& pixels)
{
    return GifFrame{0, 0, width, height, literalCodes(pixels), false};
}

QImage decoded(const QByteArray& bytes)
{
    CPicture picture;
    if (!picture.LoadFromMemory(bytes.constData(), bytes.size()))
        return {};
    return picture.m_picture;
}

TEST(GifIntegrity, CompleteFileLoadsAndEveryTruncationIsRefused)
{
    const QByteArray gif = makeGif(3, 2, {fullFrame(3, 2, {1, 2, 3, 0, 1, 2})});
    ASSERT_TRUE(gifIsComplete(gif));
    const QImage image = decoded(gif);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(1, 0), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(2, 0), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(0, 1), QColor(Qt::black));

    for (qsizetype length = 0; length < gif.size(); ++length)
        EXPECT_FALSE(gifIsComplete(gif.left(length))) << "cut after " << length << " bytes";
}

TEST(GifIntegrity, LzwStreamIsFollowedCodeByCode)
{
    // clear, 1, then code 6 while 6 is the next free entry: "1 1" (the KwKwK case).
    const QByteArray kwkwk = makeGif(3, 1, {GifFrame{0, 0, 3, 1, {4, 1, 6, 5}, false}});
    EXPECT_TRUE(gifIsComplete(kwkwk));
    const QImage image = decoded(kwkwk);
    ASSERT_FALSE(image.isNull());
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(image.pixelColor(x, 0), QColor(Qt::red)) << x;

    // Code 7 names an entry that does not exist yet.
    EXPECT_FALSE(gifIsComplete(makeGif(3, 1, {GifFrame{0, 0, 3, 1, {4, 1, 7, 5}, false}})));
    // A table code straight after a clear code has nothing to refer to.
    EXPECT_FALSE(gifIsComplete(makeGif(3, 1, {GifFrame{0, 0, 3, 1, {4, 6, 5}, false}})));
    // Five pixels for a frame of six.
    EXPECT_FALSE(gifIsComplete(makeGif(3, 2, {fullFrame(3, 2, {1, 2, 3, 0, 1})})));
    EXPECT_TRUE(decoded(makeGif(3, 2, {fullFrame(3, 2, {1, 2, 3, 0, 1})})).isNull());
}

TEST(GifIntegrity, FramesMustLieOnTheScreenAndHaveColours)
{
    const std::vector<int> four = {1, 1, 1, 1};
    EXPECT_TRUE(gifIsComplete(makeGif(4, 4, {GifFrame{2, 2, 2, 2, literalCodes(four), false}})));
    EXPECT_FALSE(gifIsComplete(makeGif(4, 4, {GifFrame{3, 2, 2, 2, literalCodes(four), false}})));
    EXPECT_FALSE(gifIsComplete(makeGif(4, 4, {GifFrame{0, 0, 0, 2, literalCodes({}), false}})));
    EXPECT_FALSE(gifIsComplete(makeGif(0, 4, {fullFrame(2, 2, four)})));
    // No global table: a frame needs its own.
    EXPECT_FALSE(gifIsComplete(makeGif(2, 2, {fullFrame(2, 2, four)}, false)));
    GifFrame local = fullFrame(2, 2, four);
    local.localTable = true;
    EXPECT_TRUE(gifIsComplete(makeGif(2, 2, {local}, false)));
    // A later frame is checked for its place too, though only the first is shown.
    EXPECT_FALSE(gifIsComplete(
        makeGif(2, 2, {fullFrame(2, 2, four), GifFrame{1, 1, 2, 2, literalCodes(four), false}})));
    // A screen larger than any picture Pictavo decodes is refused before decoding.
    EXPECT_FALSE(gifIsComplete(makeGif(60000, 60000, {fullFrame(2, 2, four)})));
}

// ------------------------------------------------------------------ BMP

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

void appendU32(QByteArray& bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.append(char((value >> (8 * i)) & 0xFF));
}

// An 8-bit RLE bitmap of the given size with `colours` palette entries (grey
// levels 0, 1, 2, ...), followed by `rle`.
QByteArray makeRle8(int width, int height, int colours, std::initializer_list<int> rle)
{
    QByteArray header;
    const int offset = 14 + 40 + 4 * colours;
    header.append("BM");
    appendU32(header, std::uint32_t(offset + int(rle.size())));
    appendU32(header, 0);
    appendU32(header, std::uint32_t(offset));
    appendU32(header, 40);
    appendU32(header, std::uint32_t(width));
    appendU32(header, std::uint32_t(height));
    appendU16(header, 1);
    appendU16(header, 8);
    appendU32(header, 1); // RLE8
    appendU32(header, 0);
    appendU32(header, 2835);
    appendU32(header, 2835);
    appendU32(header, std::uint32_t(colours));
    appendU32(header, 0);
    for (int i = 0; i < colours; ++i)
        appendU32(header, std::uint32_t(i * 0x404040));
    for (int byte : rle)
        header.append(char(byte));
    return header;
}

TEST(BmpIntegrity, UncompressedPixelsMustAllBePresent)
{
    QImage image(4, 3, QImage::Format_RGB888); // 12 bytes a row: no padding to hide in
    image.fill(Qt::darkCyan);
    const QByteArray bmp = encoded(image, "BMP");
    ASSERT_TRUE(bmpIsComplete(bmp));
    EXPECT_FALSE(decoded(bmp).isNull());
    for (qsizetype length = 0; length < bmp.size(); ++length)
        EXPECT_FALSE(bmpIsComplete(bmp.left(length))) << "cut after " << length << " bytes";

    // Nonsense in the header: no width, two planes.
    QByteArray noWidth = bmp;
    noWidth[18] = noWidth[19] = noWidth[20] = noWidth[21] = '\0';
    EXPECT_FALSE(bmpIsComplete(noWidth));
    QByteArray twoPlanes = bmp;
    twoPlanes[26] = '\x02';
    EXPECT_FALSE(bmpIsComplete(twoPlanes));
    // A file size field that lies does not matter; the pixels are all there.
    QByteArray wrongSize = bmp;
    wrongSize[2] = '\x01';
    EXPECT_TRUE(bmpIsComplete(wrongSize));
}

TEST(BmpIntegrity, PaletteIndicesMustNameExistingColours)
{
    // 8 bits a pixel with 2 colours, the second row using index 2.
    QByteArray bmp;
    bmp.append("BM");
    appendU32(bmp, 0);
    appendU32(bmp, 0);
    appendU32(bmp, 14 + 40 + 8);
    appendU32(bmp, 40);
    appendU32(bmp, 4);
    appendU32(bmp, 2);
    appendU16(bmp, 1);
    appendU16(bmp, 8);
    for (int i = 0; i < 4; ++i)
        appendU32(bmp, 0);
    appendU32(bmp, 2);
    appendU32(bmp, 0);
    appendU32(bmp, 0x000000);
    appendU32(bmp, 0xFFFFFF);
    bmp.append(QByteArray("\x00\x01\x01\x00", 4));
    QByteArray valid = bmp + QByteArray("\x01\x00\x00\x01", 4);
    QByteArray outOfRange = bmp + QByteArray("\x01\x00\x02\x01", 4);
    EXPECT_TRUE(bmpIsComplete(valid));
    EXPECT_FALSE(bmpIsComplete(outOfRange));
}

TEST(BmpIntegrity, RunLengthDataMustStayInsideThePictureAndEnd)
{
    // Two rows of four: a run of 4, end of line, a literal run of 4, end of picture.
    const QByteArray valid = makeRle8(4, 2, 3, {4, 1, 0, 0, 0, 4, 0, 1, 2, 1, 0, 1});
    ASSERT_TRUE(bmpIsComplete(valid));
    const QImage image = decoded(valid);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(4, 2));

    for (qsizetype length = 0; length < valid.size(); ++length)
        EXPECT_FALSE(bmpIsComplete(valid.left(length))) << "cut after " << length << " bytes";
    // A run of five in a row of four.
    EXPECT_FALSE(bmpIsComplete(makeRle8(4, 2, 3, {5, 1, 0, 0, 0, 4, 0, 1, 2, 1, 0, 1})));
    // A third row in a picture of two.
    EXPECT_FALSE(bmpIsComplete(makeRle8(4, 2, 3, {4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 1})));
    // A move past the bottom.
    EXPECT_FALSE(bmpIsComplete(makeRle8(4, 2, 3, {0, 2, 0, 3, 0, 1})));
    // Index 3 with three colours.
    EXPECT_FALSE(bmpIsComplete(makeRle8(4, 2, 3, {4, 3, 0, 1})));
    // Stopping early with the end code is allowed: the rest stays background.
    EXPECT_TRUE(bmpIsComplete(makeRle8(4, 2, 3, {2, 1, 0, 1})));
}

// ------------------------------------------------------------------ JPEG

TEST(JpegIntegrity, EndOfImageMustFollowTheScan)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    const QByteArray jpeg = encoded(image, "JPEG");
    ASSERT_TRUE(jpeg.endsWith("\xFF\xD9"));
    EXPECT_TRUE(jpegHasEndOfImage(jpeg));
    EXPECT_FALSE(jpegHasEndOfImage(jpeg.left(jpeg.size() - 1)));
    EXPECT_FALSE(jpegHasEndOfImage(jpeg.left(jpeg.size() / 2)));
    // The header alone, cut right after the start of scan.
    const qsizetype scan = jpeg.indexOf("\xFF\xDA");
    ASSERT_GT(scan, 0);
    EXPECT_FALSE(jpegHasEndOfImage(jpeg.left(scan + 2)));
    // Not a JPEG at all, or an end marker before any scan.
    EXPECT_FALSE(jpegHasEndOfImage(QByteArray("GIF89a\xFF\xD9", 8)));
    EXPECT_FALSE(jpegHasEndOfImage(QByteArray("\xFF\xD8\xFF\xD9", 4)));
    // Data trailing the end of the picture does no harm.
    EXPECT_TRUE(jpegHasEndOfImage(jpeg + QByteArray(100, 'x')));
}

// Real photographs edited the way cameras, programs and damage change them. A
// JPEG whose scans decode completely is whole, whatever libjpeg warns about.
TEST(JpegIntegrity, WarningsAreDamageOnlyWhenScanDataIsLost)
{
    REQUIRE_TESTDATA();
    QFile file(QString::fromStdString(testdata::path("photos/libjxl_flower.jpg").string()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray photo = file.readAll();
    // The JFIF segment follows the start marker; its major revision is byte 11.
    ASSERT_EQ(photo.mid(6, 5), QByteArray("JFIF\0", 5));
    const qsizetype scan = photo.indexOf("\xFF\xDA");
    ASSERT_GT(scan, 0);
    const auto newerRevision = [](QByteArray bytes) {
        bytes[11] = 2;
        return bytes;
    };
    const auto cut = [](const QByteArray& bytes) { return bytes.left(bytes.size() * 6 / 10); };
    // Stuffed 0xFF bytes in the middle of the scan: runs of one bits, which no
    // Huffman code is.
    const auto corrupt = [](QByteArray bytes) {
        for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 2048; i += 2) {
            bytes[i] = char(0xFF);
            bytes[i + 1] = 0;
        }
        return bytes;
    };
    const QByteArray endMarker("\xFF\xD9", 2);
    struct Case
    {
        const char* edit;
        QByteArray bytes;
        FileProblem expected;
    };
    // The Huffman decoder loses step at this bit, shifts the lower 40 % of the
    // picture and stops two bytes before the end marker.
    QFile dogFile(QString::fromStdString(testdata::path("photos/cameratrap_domestic_dog.jpg").string()));
    ASSERT_TRUE(dogFile.open(QIODevice::ReadOnly));
    QByteArray dogWithFlippedBit = dogFile.readAll();
    ASSERT_GT(dogWithFlippedBit.size(), 418548);
    dogWithFlippedBit[418548] = char(dogWithFlippedBit[418548] ^ 1);
    QByteArray unusualScan = photo;
    unusualScan[scan + 12] = char(0x3E); // end of spectral selection, 63 in a sequential file
    const std::vector<Case> cases = {
        {"zero padding before the end marker",
         photo.chopped(2) + QByteArray(kMaxJpegPaddingBytes, '\0') + endMarker, FileProblem::None},
        {"stuffed 0xFF padding before the end marker",
         photo.chopped(2) + QByteArray("\xFF\0", 2).repeated(kMaxJpegPaddingBytes / 2) + endMarker,
         FileProblem::None},
        // Coded data the scan did not use, as a Huffman decoder out of step leaves it.
        {"text before the end marker", photo.chopped(2) + "written by a camera" + endMarker,
         FileProblem::Damaged},
        {"more zeros than padding before the end marker",
         photo.chopped(2) + QByteArray(200, '\0') + endMarker, FileProblem::Damaged},
        {"one bit flipped in the dog's scan", dogWithFlippedBit, FileProblem::Damaged},
        {"a newer JFIF revision", newerRevision(photo), FileProblem::None},
        {"unusual scan parameters", unusualScan, FileProblem::None},
        {"cut at 60 %", cut(photo), FileProblem::Damaged},
        {"cut at 60 % with an end marker", cut(photo) + endMarker, FileProblem::Damaged},
        {"corrupt entropy-coded data", corrupt(photo), FileProblem::Damaged},
        // libjpeg shows only a file's first warning; the harmless one must not
        // hide the damage behind it.
        {"a newer revision and corrupt data", corrupt(newerRevision(photo)), FileProblem::Damaged},
        {"a newer revision, cut, with an end marker", cut(newerRevision(photo)) + endMarker,
         FileProblem::Damaged},
    };
    for (const Case& test : cases) {
        const DecodedPicture decoded = decodePictureChecked(test.bytes, QSize());
        EXPECT_EQ(decoded.problem, test.expected) << test.edit;
        EXPECT_EQ(decoded.picture.isNull(), test.expected != FileProblem::None) << test.edit;
        if (test.expected == FileProblem::None) {
            EXPECT_EQ(decoded.picture.size(), QSize(2268, 1512)) << test.edit;
        }
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Holds the process to the address space it has now and `headroom` more, so
// that a large allocation fails as on a machine out of memory.
class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(rlim_t headroom)
    {
        long pages = 0;
        if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
            m_known = std::fscanf(statm, "%ld", &pages) == 1;
            std::fclose(statm);
        }
        if (!m_known || getrlimit(RLIMIT_AS, &m_old) != 0)
            return;
        rlimit limited = m_old;
        limited.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + headroom;
        m_limitSet = setrlimit(RLIMIT_AS, &limited) == 0;
    }
    ~AddressSpaceLimit()
    {
        if (m_limitSet)
            setrlimit(RLIMIT_AS, &m_old);
    }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;

    bool active() const { return m_limitSet; }

private:
    rlimit m_old{};
    bool m_known = false;
    bool m_limitSet = false;
};

// A progressive JPEG keeps all its coefficients while it decodes: 8000 x 8000
// pixels take 190 MB before the first scan is read, a small one next to nothing.
TEST(JpegIntegrity, MemoryRunningOutIsNoDamage)
{
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray small;
    QBuffer buffer(&small);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    ASSERT_TRUE(writer.write(image));
    const qsizetype frame = small.indexOf("\xFF\xC2");
    ASSERT_GT(frame, 0);
    QByteArray huge = small;
    huge.replace(frame + 5, 4, QByteArray("\x1F\x40\x1F\x40", 4)); // height and width 8000
    JpegScans hugeScans = JpegScans::Intact;
    JpegScans smallScans = JpegScans::Damaged;
    {
        const AddressSpaceLimit limit(16 << 20);
        ASSERT_TRUE(limit.active());
        hugeScans = checkJpegScans(huge);
        smallScans = checkJpegScans(small);
    }
    EXPECT_EQ(hugeScans, JpegScans::OutOfMemory);
    EXPECT_EQ(smallScans, JpegScans::Intact);
}
#endif

} // namespace

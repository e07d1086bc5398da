// Saving pictures as JPEG: the files match what libjpeg's own cjpeg writes, the
// JFIF header carries the resolution, the pixels come back where they were, and a
// failed save never damages the file that was there before.
#include "imaging/CJpegEncoder.h"
#include "imaging/CJpegExport.h"
#include "TestData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <random>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// Offsets in a JFIF file: SOI, APP0 marker and length, "JFIF\0", version, then
// the density unit and the horizontal and vertical density (16 bits, big endian).
constexpr int kUnitsOffset = 13;
constexpr int kXDensityOffset = 14;
constexpr int kYDensityOffset = 16;
constexpr int kDensityEnd = 18;

// A smooth gradient with noise on top, so every quantisation table and Huffman
// code path gets real work. The odd width leaves a padding byte at each row end.
QImage noisyGradient(int width, int height, std::uint32_t seed)
{
    QImage picture(width, height, QImage::Format_BGR888);
    std::mt19937 noise(seed);
    for (int y = 0; y < height; ++y) {
        uchar* row = picture.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const int n = int(noise() % 41) - 20;
            row[3 * x + 0] = uchar(std::clamp(255 * y / height + n, 0, 255));       // blue
            row[3 * x + 1] = uchar(std::clamp(128 + n, 0, 255));                    // green
            row[3 * x + 2] = uchar(std::clamp(255 * x / width - n, 0, 255));        // red
        }
    }
    return picture;
}

QImage filled(int width, int height, QColor colour)
{
    QImage picture(width, height, QImage::Format_BGR888);
    picture.fill(colour);
    return picture;
}

void paint(QImage& picture, const QRect& area, QColor colour)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            picture.setPixelColor(x, y, colour);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Binary PPM, the input cjpeg reads without any conversion of its own.
bool writePpm(const QImage& picture, const QString& path)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QStringLiteral("P6\n%1 %2\n255\n").arg(rgb.width()).arg(rgb.height()).toLatin1());
    for (int y = 0; y < rgb.height(); ++y)
        file.write(reinterpret_cast<const char*>(rgb.constScanLine(y)), 3 * rgb.width());
    return file.flush();
}

QStringList leftoverTemporaries(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.tmp")}, QDir::Files | QDir::Hidden);
}

bool isRed(QColor c) { return c.red() > 200 && c.green() < 50 && c.blue() < 50; }
bool isBlue(QColor c) { return c.blue() > 200 && c.red() < 50 && c.green() < 50; }

bool save(const QString& path, const QImage& picture, int quality, int dpi = 0,
          int maxHeight = -1, int maxWidth = -1)
{
    return CJpegExport().SaveAsJpeg(path, picture, quality, maxHeight, maxWidth, dpi);
}

// Limits the size of any file this process writes, the way a nearly full disk
// would, and puts the old limit and SIGXFSZ handling back when it goes away.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        m_signalSet = sigaction(SIGXFSZ, &ignore, &m_oldAction) == 0;
        if (!m_signalSet || getrlimit(RLIMIT_FSIZE, &m_old) != 0)
            return;
        rlimit limited = m_old;
        limited.rlim_cur = bytes; // the hard limit stays, so the old one can come back
        m_limitSet = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        if (m_limitSet)
            setrlimit(RLIMIT_FSIZE, &m_old);
        if (m_signalSet)
            sigaction(SIGXFSZ, &m_oldAction, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active() const { return m_limitSet; }

private:
    rlimit m_old{};
    struct sigaction m_oldAction = {};
    bool m_signalSet = false;
    bool m_limitSet = false;
};

} // namespace

TEST(JpegWriter, MatchesCjpegByteForByteExceptDensity)
{
    const QString cjpeg = QStandardPaths::findExecutable(QStringLiteral("cjpeg"));
    if (cjpeg.isEmpty()) {
        if (testdata::runningInCi())
            FAIL() << "cjpeg (libjpeg-turbo-progs) is missing in CI";
        GTEST_SKIP() << "cjpeg not found; install libjpeg-turbo-progs";
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage picture = noisyGradient(101, 67, 1);
    const QString ppm = dir.filePath(QStringLiteral("in.ppm"));
    ASSERT_TRUE(writePpm(picture, ppm));

    for (int quality : {1, 10, 25, 60, 75, 100}) {
        SCOPED_TRACE(quality);
        const QString reference = dir.filePath(QStringLiteral("cjpeg-%1.jpg").arg(quality));
        const QString ours = dir.filePath(QStringLiteral("ours-%1.jpg").arg(quality));
        // The writer forces baseline tables; cjpeg needs -baseline to do the same
        // below quality 25, where table entries would otherwise exceed 255.
        QProcess process;
        process.start(cjpeg, {QStringLiteral("-quality"), QString::number(quality),
                              QStringLiteral("-baseline"), QStringLiteral("-outfile"), reference,
                              ppm});
        ASSERT_TRUE(process.waitForFinished(30000));
        ASSERT_EQ(process.exitStatus(), QProcess::NormalExit);
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        ASSERT_TRUE(save(ours, picture, quality));

        QByteArray expected = contents(reference);
        QByteArray actual = contents(ours);
        ASSERT_GT(expected.size(), kDensityEnd);
        ASSERT_EQ(actual.size(), expected.size());
        // cjpeg records density 1:1, the writer 72:72 without a unit; both mean
        // square pixels, so only those bytes may differ.
        for (QByteArray* bytes : {&expected, &actual})
            std::fill(bytes->begin() + kUnitsOffset, bytes->begin() + kDensityEnd, '\0');
        EXPECT_TRUE(actual == expected) << "first difference at byte "
                                        << std::mismatch(actual.begin(), actual.end(),
                                                         expected.begin()).first - actual.begin();
    }
}

TEST(JpegWriter, RecordsResolutionInJfifHeader)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage picture = noisyGradient(16, 16, 2);
    struct Case
    {
        int dpi;
        char units;
        int density;
    };
    // No resolution: unit 0 (aspect ratio only) with square pixels. Values beyond
    // the 16-bit fields are recorded as the largest that fits.
    for (const Case& c : {Case{0, 0, 72}, Case{-3, 0, 72}, Case{96, 1, 96}, Case{300, 1, 300},
                          Case{70000, 1, 65535}}) {
        SCOPED_TRACE(c.dpi);
        const QString path = dir.filePath(QStringLiteral("dpi.jpg"));
        ASSERT_TRUE(save(path, picture, 75, c.dpi));
        const QByteArray bytes = contents(path);
        ASSERT_GT(bytes.size(), kDensityEnd);
        ASSERT_EQ(bytes.mid(0, 4), QByteArray("\xFF\xD8\xFF\xE0", 4));
        ASSERT_EQ(bytes.mid(6, 5), QByteArray("JFIF\0", 5));
        const auto u16 = [&](int at) { return (uchar(bytes[at]) << 8) | uchar(bytes[at + 1]); };
        EXPECT_EQ(bytes[kUnitsOffset], c.units);
        EXPECT_EQ(u16(kXDensityOffset), c.density);
        EXPECT_EQ(u16(kYDensityOffset), c.density);
    }
}

TEST(JpegWriter, ClampsQualityToZeroToHundred)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage picture = noisyGradient(64, 48, 3);
    const auto encoded = [&](int quality) {
        const QString path = dir.filePath(QStringLiteral("q%1.jpg").arg(quality));
        EXPECT_TRUE(save(path, picture, quality)) << quality;
        return contents(path);
    };
    EXPECT_EQ(encoded(-5), encoded(0));
    EXPECT_EQ(encoded(150), encoded(100));
    // Quality has to matter at all, or the two checks above prove nothing.
    EXPECT_NE(encoded(0), encoded(50));
    EXPECT_NE(encoded(99), encoded(100));

    CJpegEncoder encoder;
    EXPECT_EQ(encoder.SetQuality(-5), 0);
    EXPECT_EQ(encoder.SetQuality(150), 100);
    EXPECT_EQ(encoder.SetQuality(42), 42);
}

TEST(JpegWriter, DecodedPictureKeepsGeometryAndChannelOrder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // 101 pixels of three bytes leave a padding byte per row: a writer that got
    // the row distance wrong would shear the line and mix up the channels.
    QImage picture = filled(101, 67, Qt::white);
    paint(picture, QRect(0, 0, 20, 67), Qt::red);
    paint(picture, QRect(81, 0, 20, 67), Qt::blue);
    paint(picture, QRect(50, 0, 1, 67), Qt::black);
    const QString path = dir.filePath(QStringLiteral("lines.jpg"));
    ASSERT_TRUE(save(path, picture, 95));

    const QImage decoded(path);
    ASSERT_FALSE(decoded.isNull());
    ASSERT_EQ(decoded.size(), QSize(101, 67));
    for (int y = 0; y < decoded.height(); ++y) {
        int darkest = -1;
        int darkestValue = 256;
        for (int x = 30; x <= 70; ++x) {
            const int value = qGray(decoded.pixel(x, y));
            if (value < darkestValue) {
                darkest = x;
                darkestValue = value;
            }
        }
        EXPECT_EQ(darkest, 50) << "row " << y;
        EXPECT_TRUE(isRed(decoded.pixelColor(8, y))) << "row " << y;
        EXPECT_TRUE(isBlue(decoded.pixelColor(92, y))) << "row " << y;
    }

    // The encoder's own default row distance is that of a 4-byte aligned picture.
    const QString direct = dir.filePath(QStringLiteral("direct.jpg"));
    CJpegEncoder encoder;
    encoder.SetQuality(95);
    encoder.SetDensity(0);
    ASSERT_EQ(encoder.Encode(picture.constBits(), 101, 67, QFile::encodeName(direct).constData()), 0);
    EXPECT_STREQ(encoder.LastError(), "");
    EXPECT_EQ(contents(direct), contents(path));
}

TEST(JpegWriter, MaxWidthAndHeightKeepTopLeftCorner)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage picture = noisyGradient(101, 67, 4);
    paint(picture, QRect(0, 0, 10, 10), Qt::red);    // the corner that stays
    paint(picture, QRect(40, 20, 10, 10), Qt::blue); // last columns and rows kept
    const QString path = dir.filePath(QStringLiteral("cut.jpg"));

    ASSERT_TRUE(save(path, picture, 90, 0, 30, 50));
    const QImage cut(path);
    ASSERT_EQ(cut.size(), QSize(50, 30));
    EXPECT_TRUE(isRed(cut.pixelColor(4, 4)));
    EXPECT_TRUE(isBlue(cut.pixelColor(45, 25)));
    // Cutting while saving gives exactly the file of the picture cut beforehand.
    const QString copied = dir.filePath(QStringLiteral("copied.jpg"));
    ASSERT_TRUE(save(copied, picture.copy(0, 0, 50, 30), 90));
    EXPECT_EQ(contents(path), contents(copied));

    // -1, or a limit at or beyond the picture's size, keeps that direction whole.
    // Each limit counts against its own direction only: 80 lies between this
    // picture's height and width, so it cuts columns but never rows.
    ASSERT_TRUE(save(path, picture, 90, 0, -1, 80));
    EXPECT_EQ(QImage(path).size(), QSize(80, 67));
    ASSERT_TRUE(save(path, picture, 90, 0, 30, -1));
    EXPECT_EQ(QImage(path).size(), QSize(101, 30));
    ASSERT_TRUE(save(path, picture, 90, 0, 67, 101));
    EXPECT_EQ(QImage(path).size(), QSize(101, 67));
    ASSERT_TRUE(save(path, picture, 90, 0, 80, 500));
    EXPECT_EQ(QImage(path).size(), QSize(101, 67));
}

TEST(JpegWriter, CreatesOrReplacesTargetWithoutLeftovers)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    ASSERT_FALSE(QFileInfo::exists(path));
    ASSERT_TRUE(save(path, noisyGradient(101, 67, 5), 80));
    EXPECT_EQ(QImage(path).size(), QSize(101, 67));
    const QByteArray first = contents(path);

    ASSERT_TRUE(save(path, noisyGradient(40, 30, 6), 80));
    EXPECT_EQ(QImage(path).size(), QSize(40, 30));
    EXPECT_NE(contents(path).size(), first.size());
    EXPECT_EQ(leftoverTemporaries(dir.path()), QStringList());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("photo.jpg")});
}

TEST(JpegWriter, RefusesMissingInputOrUnusableFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage picture = noisyGradient(32, 32, 7);
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));

    EXPECT_FALSE(save(path, QImage(), 80));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(save(QString(), picture, 80));

    EXPECT_FALSE(save(dir.filePath(QStringLiteral("missing/photo.jpg")), picture, 80));
    // A file where the folder should be.
    ASSERT_TRUE(save(path, picture, 80));
    EXPECT_FALSE(save(path + QStringLiteral("/photo.jpg"), picture, 80));
    EXPECT_EQ(leftoverTemporaries(dir.path()), QStringList());

    CJpegEncoder encoder;
    encoder.SetQuality(80);
    const QByteArray missing = QFile::encodeName(dir.filePath(QStringLiteral("missing/x.jpg")));
    EXPECT_EQ(encoder.Encode(picture.constBits(), 32, 32, missing.constData(),
                             std::size_t(picture.bytesPerLine())),
              -1);
}

TEST(JpegWriter, ReadOnlyFolderLeavesExistingTargetAlone)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders regardless";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    ASSERT_TRUE(save(path, noisyGradient(32, 32, 8), 80));
    const QByteArray before = contents(path);

    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner |
                                                      QFile::ReadGroup | QFile::ExeGroup |
                                                      QFile::ReadOther | QFile::ExeOther));
    const bool saved = save(path, noisyGradient(40, 30, 9), 80);
    const bool savedNew = save(dir.filePath(QStringLiteral("new.jpg")), noisyGradient(8, 8, 10), 80);
    // Writable again, so QTemporaryDir can clean up even when a check fails.
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    EXPECT_FALSE(saved);
    EXPECT_FALSE(savedNew);
    EXPECT_EQ(contents(path), before);
    EXPECT_EQ(leftoverTemporaries(dir.path()), QStringList());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("new.jpg"))));
}

TEST(JpegWriter, FullDiskLeavesExistingTargetIntact)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    ASSERT_TRUE(save(path, noisyGradient(101, 67, 11), 80));
    const QByteArray before = contents(path);
    // Far more than the limit below once compressed, whatever the buffering.
    const QImage large = noisyGradient(800, 600, 12);
    const QByteArray direct = QFile::encodeName(dir.filePath(QStringLiteral("direct.jpg")));

    bool limited = false;
    bool saved = true;
    int encoded = 0;
    std::string message;
    {
        // Nothing in this block may report through gtest: its output could itself
        // hit the limit.
        FileSizeLimit limit(4096);
        limited = limit.active();
        if (limited) {
            saved = save(path, large, 95);
            CJpegEncoder encoder;
            encoder.SetQuality(95);
            encoded = encoder.Encode(large.constBits(), large.width(), large.height(),
                                     direct.constData(), std::size_t(large.bytesPerLine()));
            message = encoder.LastError();
        }
    }
    ASSERT_TRUE(limited) << "could not limit the file size";

    EXPECT_FALSE(saved);
    EXPECT_EQ(contents(path), before);
    EXPECT_EQ(QImage(path).size(), QSize(101, 67));
    EXPECT_EQ(leftoverTemporaries(dir.path()), QStringList());
    EXPECT_EQ(encoded, -2);
    EXPECT_FALSE(message.empty());

    // With the limit gone the same save works again.
    EXPECT_TRUE(save(path, large, 95));
    EXPECT_EQ(QImage(path).size(), QSize(800, 600));
}

// Today's photo formats and colour profiles through the loader: PNG, WebP, TIFF,
// HEIC and AVIF made at test time from a shared photo, and sources tagged with
// Display P3, Adobe RGB, linear grey and broken profiles and a CMYK JPEG, whose
// colours must arrive in sRGB.
#include "PictureSamples.h"
#include "TestData.h"
#include "imaging/ColourConversion.h"
#include "imaging/PictureDecoder.h"

#include <QColorSpace>
#include <QFile>
#include <QTransform>
#include <QtEndian>

#include <lcms2.h>

#include <functional>

namespace {

// The shared flower photo, small enough for quick encoders.
QImage flower(QSize size)
{
    static const QImage photo(
        QString::fromStdString(testdata::path("photos/libjxl_flower.jpg").string()));
    return photo.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

// Mean absolute channel difference of two pictures of one size.
double meanDifference(const QImage& a, const QImage& b)
{
    const QImage ra = a.convertToFormat(QImage::Format_RGB32);
    const QImage rb = b.convertToFormat(QImage::Format_RGB32);
    double total = 0;
    for (int y = 0; y < ra.height(); ++y)
        for (int x = 0; x < ra.width(); ++x) {
            const QRgb p = ra.pixel(x, y), q = rb.pixel(x, y);
            total += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                     std::abs(qBlue(p) - qBlue(q));
        }
    return total / (3.0 * ra.width() * ra.height());
}

// Mean CIEDE2000 difference of two pictures of one size, both read as sRGB.
double meanDeltaE2000(const QImage& a, const QImage& b)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(srgb, TYPE_BGRA_8, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    const QImage ra = a.convertToFormat(QImage::Format_RGB32);
    const QImage rb = b.convertToFormat(QImage::Format_RGB32);
    std::vector<cmsCIELab> la(std::size_t(ra.width())), lb(la.size());
    double total = 0;
    for (int y = 0; y < ra.height(); ++y) {
        cmsDoTransform(toLab, ra.constScanLine(y), la.data(), cmsUInt32Number(ra.width()));
        cmsDoTransform(toLab, rb.constScanLine(y), lb.data(), cmsUInt32Number(rb.width()));
        for (std::size_t x = 0; x < la.size(); ++x)
            total += cmsCIE2000DeltaE(&la[x], &lb[x], 1, 1, 1);
    }
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return total / (double(ra.width()) * ra.height());
}

// Display P3 with its curve as a long table: a profile of about 60 KB.
QByteArray largeDisplayP3Profile()
{
    std::vector<cmsUInt16Number> table(30000);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double v = double(i) / double(table.size() - 1);
        const double linear = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        table[i] = cmsUInt16Number(std::lround(linear * 65535));
    }
    cmsToneCurve* curve =
        cmsBuildTabulatedToneCurve16(nullptr, cmsUInt32Number(table.size()), table.data());
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const cmsCIExyY white{0.3127, 0.3290, 1};
    const cmsCIExyYTRIPLE primaries{{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

// `jpeg` with `profile` inserted after its start marker as APP2 ICC_PROFILE
// segments of at most 30000 bytes each.
QByteArray withIccSegments(const QByteArray& jpeg, const QByteArray& profile)
{
    const int chunkSize = 30000;
    const int count = int((profile.size() + chunkSize - 1) / chunkSize);
    QByteArray segments;
    for (int i = 0; i < count; ++i) {
        const QByteArray chunk = profile.mid(qsizetype(i) * chunkSize, chunkSize);
        QByteArray length(2, '\0');
        qToBigEndian<quint16>(quint16(chunk.size() + 16), length.data());
        segments += QByteArray("\xFF\xE2", 2) + length + QByteArray("ICC_PROFILE", 12) +
                    char(i + 1) + char(count) + chunk;
    }
    return jpeg.left(2) + segments + jpeg.mid(2);
}

QImage tagged(const QImage& original, const QColorSpace& space)
{
    QImage copy = original;
    copy.setColorSpace(QColorSpace::SRgb);
    return copy.convertedToColorSpace(space);
}

// The flower, smoothed (so that lossy codecs keep its colours) and its colours
// strengthened (so that a source shown in the wrong colour space differs
// clearly), in sRGB.
QImage vividFlower(QSize size)
{
    QImage picture = flower(size / 6).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < picture.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const QColor colour = QColor::fromRgb(row[x]).toHsv();
            row[x] = QColor::fromHsvF(colour.hsvHueF(), std::min(1.0f, colour.hsvSaturationF() * 3),
                                      colour.valueF())
                         .rgb();
        }
    }
    return picture;
}

struct FormatCase
{
    const char* name;
    QByteArray bytes;
    QSize upright;
    // The picture as it must come out; the source unless the file turns it.
    QImage expected;
    // Mean channel difference the format's compression may cause.
    double tolerance;
};

} // namespace

TEST(PhotoFormats, EveryFormatDecodesUprightReducedAndRefusesTruncation)
{
    REQUIRE_TESTDATA();
    const QImage source = flower({384, 256});
    const QImage turned = source.transformed(QTransform().rotate(90));
    samples::HeifOptions rotatedOnce;
    rotatedOnce.rotation = heif_orientation_rotate_90_cw;
    // The EXIF block says the same: the picture must be turned once, not twice.
    rotatedOnce.exifOrientation = 6;
    samples::HeifOptions avif;
    avif.avif = true;
    const std::vector<FormatCase> cases = {
        {"png", samples::qtBytes(source, "png"), {384, 256}, source, 0.01},
        {"webp", samples::qtBytes(source, "webp", 90), {384, 256}, source, 4},
        {"tiff", samples::qtBytes(source, "tiff"), {384, 256}, source, 0.01},
        {"heic", samples::heifBytes(source), {384, 256}, source, 4},
        {"heic turned", samples::heifBytes(source, rotatedOnce), {256, 384}, turned, 4},
        {"avif", samples::heifBytes(source, avif), {384, 256}, source, 4},
    };
    for (const FormatCase& format : cases) {
        SCOPED_TRACE(format.name);
        ASSERT_FALSE(format.bytes.isEmpty()) << "no writer or encoder";
        EXPECT_EQ(pictureSize(format.bytes), format.upright);
        const DecodedPicture whole = decodePictureChecked(format.bytes, QSize());
        ASSERT_EQ(whole.problem, FileProblem::None);
        ASSERT_EQ(whole.picture.size(), format.upright);
        EXPECT_LT(meanDifference(whole.picture, format.expected), format.tolerance);

        const QSize quarter = format.upright / 4;
        const DecodedPicture reduced = decodePictureChecked(format.bytes, quarter);
        ASSERT_EQ(reduced.problem, FileProblem::None);
        EXPECT_EQ(reduced.picture.size(), quarter);
        EXPECT_LT(
            meanDifference(reduced.picture, format.expected.scaled(quarter, Qt::IgnoreAspectRatio,
                                                                   Qt::SmoothTransformation)),
            format.tolerance + 3);

        const DecodedPicture truncated =
            decodePictureChecked(format.bytes.left(format.bytes.size() * 2 / 3), QSize());
        EXPECT_TRUE(truncated.picture.isNull());
        EXPECT_NE(truncated.problem, FileProblem::None);
    }
}

struct ColourCase
{
    const char* name;
    QByteArray bytes;
    // The pixels as stored, in the tagged colour space; null for a source whose
    // profile must be ignored.
    QImage storedPixels;
    // The pixels in sRGB; null for the original photo.
    QImage reference = {};
};

// A grey profile whose tone curve is linear: grey values are light itself.
QByteArray linearGreyProfile()
{
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), linear);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(linear);
    return bytes;
}

// `grey` (linear light) as sRGB encodes it.
QImage srgbEncoded(const QImage& grey)
{
    QImage encoded = grey.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < encoded.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(encoded.scanLine(y));
        for (int x = 0; x < encoded.width(); ++x) {
            const double v = qRed(row[x]) / 255.0;
            const double e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
            const int level = int(std::lround(e * 255));
            row[x] = qRgb(level, level, level);
        }
    }
    return encoded;
}

TEST(PhotoFormats, TaggedColoursArriveInSrgbAndBrokenProfilesAreIgnored)
{
    REQUIRE_TESTDATA();
    const QImage original = vividFlower({252, 168});
    const QImage p3 = tagged(original, QColorSpace::DisplayP3);
    const QImage adobe = tagged(original, QColorSpace::AdobeRgb);
    QImage untaggedP3 = p3;
    untaggedP3.setColorSpace(QColorSpace());
    const QByteArray plainP3Jpeg = samples::qtBytes(untaggedP3, "jpeg", 100);
    samples::HeifOptions nclxP3;
    nclxP3.nclxPrimaries = 12; // Display P3 (SMPTE EG 432-1)
    samples::HeifOptions iccAdobe;
    iccAdobe.avif = true;
    iccAdobe.iccProfile = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    QByteArray brokenProfile = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    brokenProfile.truncate(100);
    const QImage linearGrey = original.convertToFormat(QImage::Format_Grayscale8);

    const std::vector<ColourCase> cases = {
        {"Display P3 PNG", samples::qtBytes(p3, "png"), p3},
        {"Display P3 PNG with alpha",
         samples::qtBytes(p3.convertToFormat(QImage::Format_ARGB32), "png"), p3},
        {"linear grey JPEG",
         withIccSegments(samples::qtBytes(linearGrey, "jpeg", 100), linearGreyProfile()),
         linearGrey, srgbEncoded(linearGrey)},
        {"Adobe RGB TIFF", samples::qtBytes(adobe, "tiff"), adobe},
        {"Adobe RGB WebP", samples::qtBytes(adobe, "webp", 100), adobe},
        {"Display P3 JPEG, profile in three segments",
         withIccSegments(plainP3Jpeg, largeDisplayP3Profile()), p3},
        {"Display P3 HEIC (nclx)", samples::heifBytes(untaggedP3, nclxP3), p3},
        {"Adobe RGB AVIF (ICC)", samples::heifBytes(adobe, iccAdobe), adobe},
        {"JPEG with a broken profile", withIccSegments(plainP3Jpeg, brokenProfile), {}},
    };
    for (const ColourCase& colour : cases) {
        SCOPED_TRACE(colour.name);
        ASSERT_FALSE(colour.bytes.isEmpty()) << "no writer or encoder";
        const DecodedPicture decoded = decodePictureChecked(colour.bytes, QSize());
        ASSERT_EQ(decoded.problem, FileProblem::None);
        ASSERT_EQ(decoded.picture.size(), original.size());
        if (colour.storedPixels.isNull()) {
            EXPECT_EQ(decoded.picture, decodePicture(plainP3Jpeg));
            continue;
        }
        const QImage& reference = colour.reference.isNull() ? original : colour.reference;
        // Shown unconverted, the tagged pixels would miss the mark.
        EXPECT_GT(meanDeltaE2000(colour.storedPixels, reference), 2.0);
        EXPECT_LE(meanDeltaE2000(decoded.picture, reference), 2.0);
    }
    // A large picture is converted in bands on several threads: every row alike.
    QImage large(1500, 1000, QImage::Format_RGB32);
    large.fill(qRgb(200, 40, 40));
    ASSERT_TRUE(convertToSrgb(large, QColorSpace(QColorSpace::DisplayP3).iccProfile()));
    EXPECT_NE(large.pixel(0, 0), qRgb(200, 40, 40));
    for (int y = 1; y < large.height(); ++y)
        ASSERT_EQ(std::memcmp(large.constScanLine(y), large.constScanLine(0), 1500 * 4), 0) << y;
    // Adobe's inverted CMYK without a profile, against the RGB file of the photo.
    const auto decodedFile = [](const char* relative) {
        QFile file(QString::fromStdString(testdata::path(relative).string()));
        return file.open(QIODevice::ReadOnly) ? decodePicture(file.readAll(), {512, 384})
                                              : QImage();
    };
    const QImage rgb = decodedFile("photos/cameratrap_african_elephants.jpg");
    const QImage cmyk = decodedFile("formats/jpeg/cameratrap/african_elephants_cmyk.jpg");
    ASSERT_EQ(cmyk.size(), rgb.size());
    EXPECT_LE(meanDeltaE2000(cmyk, rgb), 2.0);
}

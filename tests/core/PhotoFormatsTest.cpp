// Today's photo formats and colour profiles through the loader: PNG, WebP, TIFF,
// HEIC and AVIF made at test time from a shared photo (PNG and WebP also in all
// eight EXIF orientations), and sources tagged with
// Display P3, Adobe RGB, linear grey, sRGB and broken profiles (some over soft
// alpha) and CMYK JPEGs with and without a CMYK profile, whose colours must
// arrive in sRGB.
#include "PictureSamples.h"
#include "TestData.h"
#include "imaging/ColourConversion.h"
#include "imaging/EmbeddedProfile.h"
#include "imaging/PictureDecoder.h"
#include "imaging/PictureReduction.h"
#include "imaging/SrgbProfile.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTransform>
#include <QtEndian>

#include <lcms2.h>

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>

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

// Mean CIEDE2000 difference of two pictures of one size, both read as sRGB and
// laid over black, so that a pixel counts as much as it shows.
double meanDeltaE2000(const QImage& a, const QImage& b)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(srgb, TYPE_BGRA_8, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    const QImage ra = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage rb = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
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
    std::string name;
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
    std::vector<FormatCase> cases = {
        {"png", samples::qtBytes(source, "png"), {384, 256}, source, 0.01},
        {"webp", samples::qtBytes(source, "webp", 90), {384, 256}, source, 4},
        {"tiff", samples::qtBytes(source, "tiff"), {384, 256}, source, 0.01},
        {"heic", samples::heifBytes(source), {384, 256}, source, 4},
        {"heic turned", samples::heifBytes(source, rotatedOnce), {256, 384}, turned, 4},
        {"avif", samples::heifBytes(source, avif), {384, 256}, source, 4},
    };
    // Qt's PNG and WebP readers ignore the EXIF block of these two; each of the
    // eight orientations must still come out upright, turned exactly once.
    const QTransform shown[] = {
        {},
        QTransform::fromScale(-1, 1),
        QTransform().rotate(180),
        QTransform::fromScale(1, -1),
        QTransform(0, 1, 1, 0, 0, 0),
        QTransform().rotate(90),
        QTransform(0, -1, -1, 0, 0, 0),
        QTransform().rotate(270),
    };
    const QByteArray png = samples::qtBytes(source, "png");
    const QByteArray webp = samples::qtBytes(source, "webp", 90);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QImage upright = source.transformed(shown[orientation - 1]);
        cases.push_back({"png eXIf " + std::to_string(orientation),
                         samples::pngWithExif(png, samples::exifWithOrientation(orientation)),
                         upright.size(), upright, 0.01});
        const QByteArray littleEndian = samples::exifWithOrientation(orientation, true);
        cases.push_back({"webp EXIF " + std::to_string(orientation),
                         samples::webpWithExif(webp, source.size(), littleEndian), upright.size(),
                         upright, 4});
    }
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

// `picture` with its opacity falling from left to right, from whole to almost
// nothing.
QImage fading(const QImage& picture)
{
    QImage faded = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < faded.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(faded.scanLine(y));
        for (int x = 0; x < faded.width(); ++x)
            row[x] = (row[x] & 0xFFFFFFu) | (quint32(255 - 250 * x / (faded.width() - 1)) << 24);
    }
    return faded;
}

QByteArray savedProfile(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// A made-up press whose ink spreads: a nominal coverage i prints as 1 - (1 - i)².
// The light the paper then gives back is read as sRGB.
double spread(double ink)
{
    return 1 - (1 - ink) * (1 - ink);
}

int pressToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void* toLab)
{
    const double k = spread(in[3] / 65535.0);
    double rgb[3];
    for (int i = 0; i < 3; ++i)
        rgb[i] = (1 - spread(in[i] / 65535.0)) * (1 - k);
    cmsCIELab lab;
    cmsDoTransform(toLab, rgb, &lab, 1);
    cmsFloat2LabEncoded(out, &lab);
    return TRUE;
}

// The CMYK output profile of that press, as a lookup table from ink to Lab.
QByteArray pressProfile()
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* table = cmsStageAllocCLut16bit(nullptr, 11, 4, 3, nullptr);
    cmsStageSampleCLut16bit(table, pressToLab, toLab, 0);
    // Stored as curves, table, curves, the shortest form the tag allows.
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(lut, cmsAT_END, table);
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(lut);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return savedProfile(profile);
}

// `picture` (sRGB) as the press must print it, written by libjpeg as Adobe's
// programs write CMYK: 255 is no ink, with an Adobe marker.
QByteArray pressJpeg(const QImage& picture)
{
    jpeg_compress_struct record{};
    jpeg_error_mgr errors{};
    record.err = jpeg_std_error(&errors);
    jpeg_create_compress(&record);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&record, &out, &size);
    record.image_width = JDIMENSION(picture.width());
    record.image_height = JDIMENSION(picture.height());
    record.input_components = 4;
    record.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&record);
    jpeg_set_quality(&record, 100, TRUE);
    jpeg_start_compress(&record, TRUE);
    const auto nominal = [](double printed) { return 1 - std::sqrt(1 - printed); };
    std::vector<JSAMPLE> row(std::size_t(picture.width()) * 4);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            const double light = std::max({qRed(p), qGreen(p), qBlue(p)}) / 255.0;
            const double inks[4] = {light > 0 ? 1 - qRed(p) / 255.0 / light : 0,
                                    light > 0 ? 1 - qGreen(p) / 255.0 / light : 0,
                                    light > 0 ? 1 - qBlue(p) / 255.0 / light : 0, 1 - light};
            for (int i = 0; i < 4; ++i)
                row[std::size_t(x) * 4 + std::size_t(i)] =
                    JSAMPLE(255 - std::lround(nominal(inks[i]) * 255));
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&record, rows, 1);
    }
    jpeg_finish_compress(&record);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    jpeg_destroy_compress(&record);
    std::free(out);
    return bytes;
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
    // The least mean difference of the stored pixels from the reference, shown
    // unconverted; 0 where they are sRGB already.
    double unconvertedMiss = 2.0;
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
    QImage fadingSrgb = fading(original);
    fadingSrgb.setColorSpace(QColorSpace::fromIccProfile(savedProfile(cmsCreate_sRGBProfile())));
    QImage fadingP3 = fading(p3);
    fadingP3.setColorSpace(QColorSpace::fromIccProfile(rgbIccProfile(
        {0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290}, ToneCurve::Srgb)));
    QImage fadingAdobe = fading(adobe);
    const QByteArray plainPressJpeg = pressJpeg(original);

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
        {"sRGB PNG with soft alpha", samples::qtBytes(fadingSrgb, "png"), fadingSrgb,
         fading(original), 0},
        {"Display P3 PNG with soft alpha", samples::qtBytes(fadingP3, "png"), fadingP3,
         fading(original), 1.0},
        {"Adobe RGB TIFF with soft alpha", samples::qtBytes(fadingAdobe, "tiff"), fadingAdobe,
         fading(original), 1.0},
        {"CMYK JPEG with its press profile", withIccSegments(plainPressJpeg, pressProfile()),
         decodePicture(plainPressJpeg)},
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
        if (colour.unconvertedMiss > 0) {
            EXPECT_GT(meanDeltaE2000(colour.storedPixels, reference), colour.unconvertedMiss);
        }
        EXPECT_LE(meanDeltaE2000(decoded.picture, reference), 2.0);
        const QImage quarter = decodePicture(colour.bytes, original.size() / 4);
        ASSERT_EQ(quarter.size(), original.size() / 4);
        EXPECT_LE(meanDeltaE2000(quarter, reference.scaled(quarter.size(), Qt::IgnoreAspectRatio,
                                                           Qt::SmoothTransformation)),
                  2.5);
    }
    // The CMYK path turns the picture as its EXIF block says, like Qt's reader.
    const QByteArray exif = QByteArray("Exif\0\0", 6) + samples::exifWithOrientation(6);
    QByteArray exifLength(2, '\0');
    qToBigEndian<quint16>(quint16(exif.size() + 2), exifLength.data());
    const QByteArray turnedPress = withIccSegments(plainPressJpeg.left(2) + "\xFF\xE1" +
                                                       exifLength + exif + plainPressJpeg.mid(2),
                                                   pressProfile());
    const QImage turnedPicture = original.transformed(QTransform().rotate(90));
    const QImage turnedDecoded = decodePicture(turnedPress);
    ASSERT_EQ(turnedDecoded.size(), turnedPicture.size());
    EXPECT_LE(meanDeltaE2000(turnedDecoded, turnedPicture), 2.0);
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

// A 16-bit wide-gamut gradient keeps its fine steps: converted to sRGB before it
// is cut to 8 bits, neighbouring pixels differ by at most one level. Cut first,
// the conversion stretches the 8-bit steps to two or three levels (banding).
TEST(PhotoFormats, SixteenBitGradientsAreConvertedBeforeTheyAreCut)
{
    constexpr int kWidth = 4096;
    QImage ramp(kWidth, 4, QImage::Format_RGBX64);
    for (int y = 0; y < ramp.height(); ++y) {
        auto* row = reinterpret_cast<quint16*>(ramp.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            const double t = double(x) / (kWidth - 1);
            row[4 * x + 0] = quint16(std::lround(65535 * t * 0.5));
            row[4 * x + 1] = quint16(std::lround(65535 * t));
            row[4 * x + 2] = quint16(std::lround(65535 * t * 0.25));
            row[4 * x + 3] = 65535;
        }
    }
    const Chromaticities proPhoto{0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001, 0.3457, 0.3585};
    ramp.setColorSpace(QColorSpace::fromIccProfile(rgbIccProfile(proPhoto, ToneCurve::Srgb)));
    const QByteArray png = samples::qtBytes(ramp, "png");
    ASSERT_FALSE(png.isEmpty());

    const QImage decoded = decodePicture(png);
    ASSERT_EQ(decoded.size(), ramp.size());
    int largestStep = 0;
    int levels = 0;
    for (int x = 1; x < kWidth; ++x) {
        const QRgb left = decoded.pixel(x - 1, 1);
        const QRgb right = decoded.pixel(x, 1);
        largestStep = std::max({largestStep, std::abs(qRed(right) - qRed(left)),
                                std::abs(qGreen(right) - qGreen(left)),
                                std::abs(qBlue(right) - qBlue(left))});
        levels += qGreen(right) != qGreen(left) ? 1 : 0;
    }
    EXPECT_LE(largestStep, 1);
    EXPECT_GE(levels, 200);
}

// `picture` as the pipeline lays it out: over white, as much as it shows.
QImage overWhite(const QImage& picture)
{
    QImage flat(picture.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, picture);
    return flat;
}

// Pictavo's own WebP and TIFF decoders reduce while they decode. What they give
// is what Qt's reader gives, brought into sRGB by Qt and averaged down
// afterwards: layout by layout, at 16 bits before the cut.
TEST(PhotoFormats, ScaledWebpAndStripReadTiffMatchAWholeDecodeReduced)
{
    REQUIRE_TESTDATA();
    const QImage source = flower({384, 256});
    const QImage translucent = fading(source);
    const QImage wide16 =
        tagged(source.convertToFormat(QImage::Format_RGBX64), QColorSpace::ProPhotoRgb);
    const QImage translucent16 =
        tagged(translucent.convertToFormat(QImage::Format_RGBA64), QColorSpace::AdobeRgb);
    QByteArray turnedTiff;
    {
        QBuffer buffer(&turnedTiff);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "tiff");
        writer.setTransformation(QImageIOHandler::TransformationRotate90);
        ASSERT_TRUE(writer.write(source));
    }
    const std::vector<std::pair<std::string, QByteArray>> cases = {
        {"lossy WebP", samples::qtBytes(source, "webp", 90)},
        {"lossless WebP", samples::qtBytes(source, "webp", 100)},
        {"WebP with alpha", samples::qtBytes(translucent, "webp", 90)},
        {"RGB TIFF", samples::qtBytes(source, "tiff")},
        {"RGB TIFF with alpha", samples::qtBytes(translucent, "tiff")},
        {"grey TIFF", samples::qtBytes(source.convertToFormat(QImage::Format_Grayscale8), "tiff")},
        {"16-bit grey TIFF",
         samples::qtBytes(source.convertToFormat(QImage::Format_Grayscale16), "tiff")},
        {"palette TIFF", samples::qtBytes(source.convertToFormat(QImage::Format_Indexed8), "tiff")},
        {"16-bit ProPhoto TIFF", samples::qtBytes(wide16, "tiff")},
        {"16-bit Adobe RGB TIFF with alpha", samples::qtBytes(translucent16, "tiff")},
        {"TIFF turned by its Orientation tag", turnedTiff},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(bytes.isEmpty());
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setAutoTransform(true);
        QImage whole = reader.read();
        ASSERT_FALSE(whole.isNull());
        if (whole.colorSpace().isValid())
            whole.convertToColorSpace(QColorSpace::SRgb);
        const QImage reference = reducePicture(whole, 4);
        const DecodedPicture reduced = decodePictureChecked(bytes, whole.size() / 4);
        ASSERT_EQ(reduced.problem, FileProblem::None);
        ASSERT_EQ(reduced.picture.size(), reference.size());
        EXPECT_EQ(reduced.picture.hasAlphaChannel(), reference.hasAlphaChannel());
        // libwebp scales a lossy picture's luma and chroma planes before it
        // makes RGB of them: a little further from averaging RGB.
        const double tolerance = name.starts_with("lossy") ? 1.5 : 1.0;
        EXPECT_LT(meanDifference(overWhite(reduced.picture), overWhite(reference)), tolerance);
    }
}

// A profile that describes sRGB itself is taken as it is, without a transform;
// everything else still converts.
TEST(PhotoFormats, SrgbProfilesAreRecognisedAndOthersConvert)
{
    REQUIRE_TESTDATA();
    const auto photoProfile = [](const char* relative) {
        QFile file(QString::fromStdString(testdata::path(relative).string()));
        return file.open(QIODevice::ReadOnly) ? embeddedIccProfile("jpeg", file.readAll())
                                              : QByteArray();
    };
    const Chromaticities srgbPrimaries{0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};
    QByteArray truncated = savedProfile(cmsCreate_sRGBProfile());
    truncated.truncate(200);
    const std::vector<std::tuple<std::string, QByteArray, bool>> verdicts = {
        {"Little CMS's sRGB", savedProfile(cmsCreate_sRGBProfile()), true},
        {"Qt's sRGB", QColorSpace(QColorSpace::SRgb).iccProfile(), true},
        {"sRGB made from its primaries", rgbIccProfile(srgbPrimaries, ToneCurve::Srgb), true},
        {"the Sumo photo's sRGB", photoProfile("photos/Sumo_Museum.jpg"), true},
        {"the T-45A photo's camera RGB", photoProfile("photos/T-45A_Goshawk_03.jpg"), false},
        {"Display P3", QColorSpace(QColorSpace::DisplayP3).iccProfile(), false},
        {"Adobe RGB", QColorSpace(QColorSpace::AdobeRgb).iccProfile(), false},
        {"sRGB primaries with BT.709's curve", rgbIccProfile(srgbPrimaries, ToneCurve::Bt709),
         false},
        {"sRGB primaries, linear", rgbIccProfile(srgbPrimaries, ToneCurve::Linear), false},
        {"CMYK", pressProfile(), false},
        {"a truncated sRGB", truncated, false},
    };
    const QImage picture = flower({64, 48});
    for (const auto& [name, profile, srgb] : verdicts) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(profile.isEmpty());
        EXPECT_EQ(isSrgbProfile(profile), srgb);
        EXPECT_EQ(isSrgbProfile(profile), srgb) << "asked again";
        QImage converted = picture;
        const bool transformed = convertToSrgb(converted, profile);
        if (srgb) {
            EXPECT_FALSE(transformed);
            EXPECT_EQ(converted, picture);
        }
    }
}

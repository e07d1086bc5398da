#include "imaging/PictureDecoder.h"

#include "imaging/CmykJpegDecoder.h"
#include "imaging/ColourConversion.h"
#include "imaging/DecodeCancel.h"
#include "imaging/DecodePlan.h"
#include "imaging/EmbeddedProfile.h"
#include "imaging/ExifOrientation.h"
#include "imaging/GifReduction.h"
#include "imaging/HeifDecoder.h"
#include "imaging/JpegDecoder.h"
#include "imaging/JpegScanCheck.h"
#include "imaging/LibraryDecoding.h"
#include "imaging/PictureHeader.h"
#include "imaging/PictureIntegrity.h"
#include "imaging/PictureReduction.h"
#include "imaging/PngChunks.h"
#include "imaging/PngKeyColour.h"
#include "imaging/TiffDirectory.h"
#include "imaging/TiffWarnings.h"

#include <QBuffer>
#include <QImageReader>

#include <new>

namespace {

// Qt's image readers allocate through one process-wide limit; the pixel count
// check below comes first, so this only has to leave room for 16-bit pictures.
constexpr int kAllocationLimitMegabytes = 1100;

// What every reader needs set once in the process before its first picture.
void prepareReaders()
{
    static const bool prepared = [] {
        QImageReader::setAllocationLimit(kAllocationLimitMegabytes);
        quietTiffLibrary();
        return true;
    }();
    Q_UNUSED(prepared);
}

bool structureIsComplete(const QByteArray& format, const QByteArray& bytes)
{
    if (format == "gif")
        return gifIsComplete(bytes);
    if (format == "bmp")
        return bmpIsComplete(bytes);
    return true; // the other readers fail on damaged data themselves
}

QImage normalised(QImage image)
{
    const QImage::Format wanted =
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image.format() != wanted)
        image.convertTo(wanted);
    return image;
}

bool tooManyPixels(QSize size)
{
    return size.isValid() && qint64(size.width()) * size.height() > kMaxDecodedPixels;
}

DecodedPicture refused(FileProblem problem)
{
    return {QImage(), problem};
}

// The reduction the plan asks for, or the conversion to the program's format.
QImage reducedOrNormalised(QImage image, const DecodePlan& plan)
{
    if (plan.method == DecodePlan::Method::Reduced || plan.method == DecodePlan::Method::TiffStrips)
        return reducePicture(image, plan.factor);
    return normalised(std::move(image));
}

// Colours are brought into sRGB after the reduced decode, where the fewest
// pixels are left, and before anything else works on them.
DecodedPicture inSrgb(QImage image, const QByteArray& iccProfile)
{
    if (image.isNull())
        return refused(FileProblem::OutOfMemory);
    convertToSrgb(image, iccProfile);
    return {std::move(image), FileProblem::None};
}

// Qt's PNG and WebP readers leave the EXIF orientation to Pictavo (see
// ExifOrientation.h); the header says so, and the orientation is returned for
// the decode to apply. 1 where the reader orients the picture itself.
int addOrientationLeftToPictavo(PictureHeader& header, QIODevice* device)
{
    if (header.oriented || (header.format != "png" && header.format != "webp"))
        return 1;
    const int orientation = containerExifOrientation(device);
    header.turned = orientation >= 5;
    header.oriented = orientation != 1;
    return orientation;
}

PictureHeader heifHeaderOf(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    return buffer.open(QIODevice::ReadOnly) ? readHeifHeader(&buffer) : PictureHeader();
}

// libheif decodes only in full size: the size is checked against the limit
// before, and the picture is averaged down right after.
DecodedPicture decodeHeifFollowingPlan(const QByteArray& bytes, QSize minimumSize)
{
    const PictureHeader header = heifHeaderOf(bytes);
    if (!header.isKnown())
        return refused(FileProblem::Damaged);
    if (tooManyPixels(header.storedSize))
        return refused(FileProblem::TooManyPixels);
    // Boxes that lie or contradict each other are damage known before any
    // decoding; a header that could not be read for want of memory is not.
    if (header.problem != FileProblem::None)
        return refused(header.problem);
    HeifPicture heif = decodeHeif(bytes);
    if (heif.picture.isNull())
        return refused(heif.problem);
    QImage image = reducedOrNormalised(std::move(heif.picture), planDecode(header, minimumSize));
    return inSrgb(std::move(image), heif.iccProfile);
}

// libjpeg decodes every JPEG straight into the program's format, reduced by
// the plan's factor. Its warnings are not damage by themselves: a warning, or a
// failure, sends the bytes through libjpeg's own pass over the scans, which
// tells damage from the harmless (see JpegScanCheck.h).
DecodedPicture decodeJpegFollowingPlan(const QByteArray& bytes, QSize minimumSize)
{
    const JpegHeader header = readJpegHeader(bytes);
    if (header.picture.problem != FileProblem::None)
        return refused(header.picture.problem);
    if (tooManyPixels(header.picture.storedSize))
        return refused(FileProblem::TooManyPixels);
    if (!jpegHasEndOfImage(bytes))
        return refused(FileProblem::Damaged);
    const DecodePlan plan = planDecode(header.picture, minimumSize);
    const QByteArray iccProfile = embeddedIccProfile("jpeg", bytes);
    if (isCmykProfile(iccProfile)) {
        QImage inks = decodeCmykJpeg(bytes, plan.factor, iccProfile);
        if (!inks.isNull())
            return {orientedPicture(std::move(inks), header.orientation), FileProblem::None};
    }
    JpegDecoding decoded = decodeJpeg(bytes, plan.factor);
    if (decoded.problem == FileProblem::Cancelled || decoded.problem == FileProblem::OutOfMemory)
        return refused(decoded.problem);
    if (decoded.warned || decoded.picture.isNull()) {
        const JpegScans scans = checkJpegScans(bytes);
        if (scans == JpegScans::Damaged)
            return refused(FileProblem::Damaged);
        if (scans == JpegScans::OutOfMemory)
            return refused(FileProblem::OutOfMemory);
    }
    if (decoded.picture.isNull() || decoded.picture.size() != plan.readSize)
        return refused(FileProblem::Undecodable);
    // Turned after the reduction, on the fewest pixels.
    return inSrgb(orientedPicture(std::move(decoded.picture), header.orientation), iccProfile);
}

DecodedPicture decodeFollowingPlan(const QByteArray& fileBytes, QSize minimumSize)
{
    if (looksLikeHeif(fileBytes))
        return decodeHeifFollowingPlan(fileBytes, minimumSize);
    if (looksLikeJpeg(fileBytes))
        return decodeJpegFollowingPlan(fileBytes, minimumSize);
    if (pngHeaderIsRefused(fileBytes))
        return refused(FileProblem::Undecodable);
    // A PNG without the chunks beyond Pictavo's limits, or refused before
    // anything of it is inflated (see PngChunks.h).
    const PngForReaders png = pngForReaders(fileBytes);
    if (png.damaged)
        return refused(FileProblem::Damaged);
    const QByteArray& bytes = png.bytes;
    // Read piecewise, so that a stop ends the decode at its next read.
    CancellableDevice buffer(bytes);
    // A TIFF without the entries of its first directory that libtiff would load
    // for nothing (see TiffDirectory.h).
    const TiffReadingDevice tiff(&buffer);
    QImageReader reader(tiff.device());
    reader.setAutoTransform(true);
    PictureHeader header = readPictureHeader(reader, bytes);
    header.tiffReadsInStrips = header.format == "tiff" && tiff.directory().readsInStrips();
    QBuffer whole;
    whole.setData(bytes);
    whole.open(QIODevice::ReadOnly);
    const int orientationLeft = addOrientationLeftToPictavo(header, &whole);
    if (!header.isKnown())
        return refused(FileProblem::NotAPicture);
    if (tooManyPixels(header.storedSize))
        return refused(FileProblem::TooManyPixels);
    if (!structureIsComplete(header.format, bytes))
        return refused(FileProblem::Damaged);

    const DecodePlan plan = planDecode(header, minimumSize);
    if (plan.method == DecodePlan::Method::GifReduced) {
        QImage reduced = decodeGifReduced(bytes, plan.factor);
        if (reduced.isNull())
            return refused(FileProblem::Undecodable);
        return {std::move(reduced), FileProblem::None};
    }
    const QByteArray iccProfile = embeddedIccProfile(header.format, bytes);
    if (plan.method == DecodePlan::Method::PngScaled)
        reader.setScaledSize(plan.readSize);
    if (header.format == "tiff") {
        if (decodeCancelled())
            return refused(FileProblem::Cancelled);
        buffer.serveAfterStop();
    }
    if (std::optional<DecodedPicture> direct =
            decodeThroughLibrary(bytes, tiff.device(), plan, iccProfile, orientationLeft))
        return *std::move(direct);
    QImage image = reader.read();
    if (buffer.refusedRead())
        return refused(FileProblem::Cancelled);
    if (image.isNull())
        return refused(FileProblem::Undecodable);
    if (tooManyPixels(image.size()))
        return refused(FileProblem::TooManyPixels);
    if (png.keyColour && !makeKeyColourTransparent(image, *png.keyColour))
        return refused(FileProblem::OutOfMemory);
    // A 16-bit source is converted before it is cut to 8 bits, at full size
    // (it is decoded whole anyway): cut first, a wide-gamut gradient shows steps.
    const bool convertedAt16Bits = convertToSrgb16(image, iccProfile);
    // Turned after the reduction, on the fewest pixels.
    return inSrgb(orientedPicture(reducedOrNormalised(std::move(image), plan), orientationLeft),
                  convertedAt16Bits ? QByteArray() : iccProfile);
}

// The header as Qt's reader tells it, without what the reader need not parse
// for it: of a PNG only the chunks that tell its size and format, of a TIFF its
// first directory without the entries left out.
PictureHeader readHeaderLeanly(QIODevice* device, const QByteArray& prefix)
{
    if (looksLikeJpeg(prefix))
        return readJpegHeader(prefix).picture;
    if (pngHeaderIsRefused(prefix)) {
        PictureHeader header;
        header.format = "png";
        return header;
    }
    if (looksLikePng(prefix)) {
        const QByteArray headerOnly = pngHeaderOnly(device);
        QBuffer buffer;
        buffer.setData(headerOnly);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setAutoTransform(true);
        PictureHeader header = readPictureHeader(reader, headerOnly);
        addOrientationLeftToPictavo(header, device);
        return header;
    }
    const TiffReadingDevice tiff(device);
    QImageReader reader(tiff.device());
    reader.setAutoTransform(true);
    PictureHeader header = readPictureHeader(reader, prefix);
    addOrientationLeftToPictavo(header, device);
    header.readerBufferBytes =
        tiff.directory().readerBufferBytes(header.decodedFormat, device->size());
    header.tiffReadsInStrips = header.format == "tiff" && tiff.directory().readsInStrips();
    return header;
}

} // namespace

DecodedPicture decodePictureChecked(const QByteArray& bytes, QSize minimumSize)
{
    if (bytes.isEmpty())
        return refused(FileProblem::NotAPicture);
    prepareReaders();
    DecodedPicture decoded;
    try {
        decoded = decodeFollowingPlan(bytes, minimumSize);
    } catch (const std::bad_alloc&) {
        decoded = refused(FileProblem::OutOfMemory);
    }
    // A decoder that a stop cut short fails in its own way; none of it is damage.
    if (decoded.picture.isNull() && decodeCancelled())
        decoded.problem = FileProblem::Cancelled;
    return decoded;
}

QImage decodePicture(const QByteArray& bytes)
{
    return decodePictureChecked(bytes, QSize()).picture;
}

QImage decodePicture(const QByteArray& bytes, QSize minimumSize)
{
    return decodePictureChecked(bytes, minimumSize).picture;
}

PictureHeader probePicture(QIODevice* device)
{
    if (device == nullptr || !device->seek(0))
        return {};
    prepareReaders();
    PictureHeader header;
    QByteArray prefix;
    try {
        prefix = device->peek(kPictureHeaderPrefixBytes);
        if (looksLikeHeif(prefix)) {
            header = readHeifHeader(device);
            device->seek(0);
            return header;
        }
        header = readHeaderLeanly(device, prefix);
    } catch (const std::bad_alloc&) {
        header = {};
        header.problem = FileProblem::OutOfMemory;
    }
    device->seek(0);
    return header;
}

QSize pictureSize(const QByteArray& bytes)
{
    if (looksLikeHeif(bytes))
        return heifHeaderOf(bytes).storedSize;
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    return probePicture(&buffer).uprightSize();
}

#include "imaging/CaptureData.h"

#include "imaging/PngChunks.h"
#include "imaging/TiffMetadataBytes.h"

#include <exiv2/exiv2.hpp>

#include <array>
#include <mutex>

namespace {

// What the converted file keeps. Everything else of the source's block stays
// behind, among it the GPS directory, the thumbnail (IFD1), the maker notes and
// any unique camera or lens serial number.
constexpr std::array kKeptTags{
    "Exif.Image.Make",
    "Exif.Image.Model",
    "Exif.Image.DateTime",
    "Exif.Image.Artist",
    "Exif.Image.Copyright",
    "Exif.Photo.DateTimeOriginal",
    "Exif.Photo.DateTimeDigitized",
    "Exif.Photo.OffsetTime",
    "Exif.Photo.OffsetTimeOriginal",
    "Exif.Photo.OffsetTimeDigitized",
    "Exif.Photo.SubSecTimeOriginal",
    "Exif.Photo.ExposureTime",
    "Exif.Photo.FNumber",
    "Exif.Photo.ExposureProgram",
    "Exif.Photo.ExposureBiasValue",
    "Exif.Photo.ExposureMode",
    "Exif.Photo.MeteringMode",
    "Exif.Photo.Flash",
    "Exif.Photo.ISOSpeedRatings",
    "Exif.Photo.FocalLength",
    "Exif.Photo.FocalLengthIn35mmFilm",
    "Exif.Photo.LensMake",
    "Exif.Photo.LensModel",
    "Exif.Photo.WhiteBalance",
};

// A JPEG segment holds at most 65533 bytes after its length field.
constexpr qsizetype kMaxSegmentPayload = 65533;

void prepareLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // The library's warnings about odd blocks would reach standard error;
        // a block it cannot read simply keeps nothing.
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        // Reading a JPEG also reads its XMP, whose parser must be set up once
        // before threads use it.
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true);
    });
}

} // namespace

struct CaptureData::Tags
{
    Exiv2::ExifData exif;
};

CaptureData::CaptureData() = default;
CaptureData::~CaptureData() = default;
CaptureData::CaptureData(const CaptureData&) = default;
CaptureData& CaptureData::operator=(const CaptureData&) = default;

CaptureData CaptureData::fromPicture(const QByteArray& fileBytes)
{
    CaptureData data;
    if (fileBytes.isEmpty())
        return data;
    prepareLibrary();
    // exiv2 inflates every text chunk of a PNG and copies every entry of a
    // TIFF's first directory: it reads what the decoders read.
    const QByteArray bytes = pngForReaders(fileBytes).bytes;
    const TiffMetadataBytes readable(bytes);
    if (readable.data() == nullptr || readable.size() == 0)
        return data;
    try {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(readable.data()),
                                               long(readable.size()));
        if (image.get() == nullptr)
            return data;
        image->readMetadata();
        const Exiv2::ExifData& source = image->exifData();
        auto tags = std::make_shared<Tags>();
        for (const char* name : kKeptTags) {
            const auto found = source.findKey(Exiv2::ExifKey(name));
            if (found != source.end())
                tags->exif.add(*found);
        }
        if (!tags->exif.empty())
            data.m_tags = std::move(tags);
    } catch (const std::exception&) {
        // No readable block: nothing to keep.
    }
    return data;
}

bool CaptureData::isEmpty() const
{
    return m_tags == nullptr;
}

QByteArray CaptureData::exifSegment(QSize pixelSize) const
{
    if (isEmpty() || pixelSize.isEmpty())
        return {};
    try {
        Exiv2::ExifData exif = m_tags->exif;
        exif["Exif.Image.Orientation"] = uint16_t(1);
        exif["Exif.Photo.PixelXDimension"] = uint32_t(pixelSize.width());
        exif["Exif.Photo.PixelYDimension"] = uint32_t(pixelSize.height());
        Exiv2::Blob tiff;
        Exiv2::ExifParser::encode(tiff, Exiv2::littleEndian, exif);
        QByteArray segment("Exif\0\0", 6);
        segment.append(reinterpret_cast<const char*>(tiff.data()), qsizetype(tiff.size()));
        return segment.size() <= kMaxSegmentPayload ? segment : QByteArray();
    } catch (const std::exception&) {
        return {};
    }
}

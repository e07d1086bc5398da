#include "imaging/LibraryDecoding.h"

#include "imaging/ColourConversion.h"
#include "imaging/ExifOrientation.h"
#include "imaging/TiffStripDecoder.h"
#include "imaging/WebpDecoder.h"

namespace {

// Colours are brought into sRGB on the reduced picture, the fewest pixels.
DecodedPicture inSrgb(QImage picture, const QByteArray& iccProfile)
{
    convertToSrgb(picture, iccProfile);
    return {std::move(picture), FileProblem::None};
}

} // namespace

std::optional<DecodedPicture> decodeThroughLibrary(const QByteArray& bytes, QIODevice* tiffDevice,
                                                   const DecodePlan& plan,
                                                   const QByteArray& iccProfile, int orientation)
{
    if (plan.method == DecodePlan::Method::WebpScaled) {
        DecodedPicture webp = decodeWebp(bytes, plan.readSize);
        if (webp.picture.isNull())
            return webp;
        return inSrgb(orientedPicture(std::move(webp.picture), orientation), iccProfile);
    }
    if (plan.method == DecodePlan::Method::TiffStrips) {
        std::optional<TiffStripPicture> tiff =
            decodeTiffStrips(tiffDevice, plan.factor, iccProfile);
        if (!tiff)
            return std::nullopt;
        if (tiff->picture.isNull())
            return DecodedPicture{QImage(), tiff->problem};
        return inSrgb(std::move(tiff->picture), tiff->inSrgb ? QByteArray() : iccProfile);
    }
    return std::nullopt;
}

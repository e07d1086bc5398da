#include "imaging/ColourConversion.h"

#include "imaging/SrgbProfile.h"

#include <QColorSpace>

#include <lcms2.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

namespace {

struct ProfileClose
{
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
struct TransformDelete
{
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
struct CurveFree
{
    void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};
using Profile = std::unique_ptr<void, ProfileClose>;
using Transform = std::shared_ptr<void>;
using Curve = std::unique_ptr<cmsToneCurve, CurveFree>;

// A broken profile is a normal case here (it is ignored), not worth a line on
// standard error.
void keepLittleCmsQuiet()
{
    static const bool quiet = [] {
        cmsSetLogErrorHandler(nullptr);
        return true;
    }();
    Q_UNUSED(quiet);
}

// A grey picture arrives as RGB32 with equal channels: the blue byte is read as
// grey, the three bytes after it are passed over.
constexpr cmsUInt32Number kGreyInBgra =
    COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | EXTRA_SH(3) | BYTES_SH(1);

// What the pixels handed to a transform hold.
enum class Samples
{
    // RGB or grey in Format_RGB32 or Format_ARGB32 (straight alpha).
    Rgb,
    // CMYK, one byte a channel, ink as a number (0 is no ink).
    Cmyk,
    // CMYK as Adobe's programs write it into a JPEG: 255 is no ink.
    CmykInverted,
    // RGB in Format_RGBX64 or Format_RGBA64 (straight alpha), 16 bits a channel.
    Rgb16,
};

cmsUInt32Number inputFormat(cmsColorSpaceSignature space, Samples samples)
{
    switch (samples) {
    case Samples::Rgb:
        return space == cmsSigGrayData ? kGreyInBgra : TYPE_BGRA_8;
    case Samples::Cmyk:
        return TYPE_CMYK_8;
    case Samples::CmykInverted:
        return TYPE_CMYK_8_REV;
    case Samples::Rgb16:
        return TYPE_RGBA_16;
    }
    return 0;
}

bool usable(cmsHPROFILE profile, Samples samples)
{
    const cmsColorSpaceSignature space = cmsGetColorSpace(profile);
    const cmsProfileClassSignature kind = cmsGetDeviceClass(profile);
    const bool spaceFits = samples == Samples::Rgb
                               ? space == cmsSigRgbData || space == cmsSigGrayData
                           : samples == Samples::Rgb16 ? space == cmsSigRgbData
                                                       : space == cmsSigCmykData;
    return spaceFits && (kind == cmsSigInputClass || kind == cmsSigDisplayClass ||
                         kind == cmsSigOutputClass || kind == cmsSigColorSpaceClass);
}

Curve toneCurve(ToneCurve curve)
{
    switch (curve) {
    case ToneCurve::Srgb: {
        const double srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        return Curve(cmsBuildParametricToneCurve(nullptr, 4, srgb));
    }
    case ToneCurve::Bt709: {
        const double bt709[5] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
        return Curve(cmsBuildParametricToneCurve(nullptr, 4, bt709));
    }
    case ToneCurve::Linear:
        return Curve(cmsBuildGamma(nullptr, 1.0));
    }
    return {};
}

// The transform from `iccProfile` to sRGB for these samples; null when the
// profile cannot be used.
Transform newTransform(const QByteArray& iccProfile, Samples samples)
{
    keepLittleCmsQuiet();
    const Profile source(
        cmsOpenProfileFromMem(iccProfile.constData(), cmsUInt32Number(iccProfile.size())));
    const Profile srgb(cmsCreate_sRGBProfile());
    if (!source || !srgb || !usable(source.get(), samples))
        return {};
    const cmsUInt32Number intent =
        cmsIsIntentSupported(source.get(), INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT)
            ? INTENT_PERCEPTUAL
            : INTENT_RELATIVE_COLORIMETRIC;
    const cmsColorSpaceSignature space = cmsGetColorSpace(source.get());
    // Extra channels are neither read nor written, so alpha stays where it is
    // while the transform works on the picture in place (four bytes a pixel in
    // and out, CMYK too). Without the one-pixel cache, threads may share the
    // transform.
    void* transform =
        cmsCreateTransform(source.get(), inputFormat(space, samples), srgb.get(),
                           samples == Samples::Rgb16 ? TYPE_RGBA_16 : TYPE_BGRA_8, intent,
                           cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE);
    return transform != nullptr ? Transform(transform, TransformDelete()) : Transform();
}

// Photos of one camera or phone share their profile, and making a transform
// costs about as much as running it over a reduced photo: the last few are
// kept. Any thread may ask.
Transform cachedTransform(const QByteArray& iccProfile, Samples samples)
{
    static std::mutex mutex;
    static std::vector<std::tuple<QByteArray, Samples, Transform>> recent;
    constexpr std::size_t kKept = 8;
    {
        const std::lock_guard lock(mutex);
        for (const auto& [profile, kind, transform] : recent)
            if (kind == samples && profile == iccProfile)
                return transform;
    }
    Transform transform = newTransform(iccProfile, samples);
    if (!transform)
        return {};
    const std::lock_guard lock(mutex);
    if (recent.size() == kKept)
        recent.erase(recent.begin());
    recent.emplace_back(iccProfile, samples, transform);
    return transform;
}

// Runs `transform` over the rows in place, a large picture in bands on
// several threads (the transform keeps no per-call state), so that a profile
// costs the conversion little time beside the decode.
void transformInBands(void* transform, uchar* bits, int width, int height, qsizetype stride)
{
    constexpr qint64 kPixelsPerBand = 1 << 18;
    const int bands =
        int(std::clamp<qint64>(qint64(width) * height / kPixelsPerBand, 1,
                               std::clamp(std::thread::hardware_concurrency(), 1u, 4u)));
    const auto run = [=](int first, int last) {
        cmsDoTransformLineStride(transform, bits + first * stride, bits + first * stride,
                                 cmsUInt32Number(width), cmsUInt32Number(last - first),
                                 cmsUInt32Number(stride), cmsUInt32Number(stride), 0, 0);
    };
    std::vector<std::thread> helpers;
    int band = 1;
    try {
        for (; band < bands; ++band)
            helpers.emplace_back(run, height * band / bands, height * (band + 1) / bands);
    } catch (const std::system_error&) {
        // No thread to be had (memory runs short): the bands left run here.
        run(height * band / bands, height);
    }
    run(0, height / bands);
    for (std::thread& helper : helpers)
        helper.join();
}

// Runs `transform` over `picture` in place. Little CMS 2.14 gets premultiplied
// samples wrong where alpha is neither 0 nor 255: a `premultiplied` picture is
// converted as `straight` and premultiplied again.
bool convertStraight(QImage& picture, const Transform& transform, QImage::Format premultiplied,
                     QImage::Format straight)
{
    if (!transform || picture.bits() == nullptr) // bits() detaches a shared picture first
        return false;
    const bool wasPremultiplied = picture.format() == premultiplied;
    if (wasPremultiplied)
        picture.convertTo(straight);
    transformInBands(transform.get(), picture.bits(), picture.width(), picture.height(),
                     picture.bytesPerLine());
    if (wasPremultiplied)
        picture.convertTo(premultiplied);
    picture.setColorSpace(QColorSpace::SRgb);
    return true;
}

// Whether the picture's colours are taken as they are: no profile, or one that
// describes sRGB itself.
bool alreadySrgb(const QByteArray& iccProfile)
{
    keepLittleCmsQuiet();
    return iccProfile.isEmpty() || isSrgbProfile(iccProfile);
}

} // namespace

bool convertToSrgb(QImage& picture, const QByteArray& iccProfile)
{
    if (picture.isNull() || alreadySrgb(iccProfile))
        return false;
    const QImage::Format format = picture.format();
    if (format != QImage::Format_ARGB32_Premultiplied && format != QImage::Format_RGB32)
        return false;
    return convertStraight(picture, cachedTransform(iccProfile, Samples::Rgb),
                           QImage::Format_ARGB32_Premultiplied, QImage::Format_ARGB32);
}

bool convertToSrgb16(QImage& picture, const QByteArray& iccProfile)
{
    if (picture.isNull() || alreadySrgb(iccProfile))
        return false;
    const QImage::Format format = picture.format();
    if (format != QImage::Format_RGBA64_Premultiplied && format != QImage::Format_RGBA64 &&
        format != QImage::Format_RGBX64)
        return false;
    return convertStraight(picture, cachedTransform(iccProfile, Samples::Rgb16),
                           QImage::Format_RGBA64_Premultiplied, QImage::Format_RGBA64);
}

bool isCmykProfile(const QByteArray& iccProfile)
{
    keepLittleCmsQuiet();
    const Profile profile(
        cmsOpenProfileFromMem(iccProfile.constData(), cmsUInt32Number(iccProfile.size())));
    return profile && cmsGetColorSpace(profile.get()) == cmsSigCmykData;
}

bool convertCmykToSrgb(QImage& picture, const QByteArray& cmykProfile, bool inverted)
{
    if (cmykProfile.isEmpty() || picture.isNull() || picture.format() != QImage::Format_RGB32)
        return false;
    const Transform transform =
        cachedTransform(cmykProfile, inverted ? Samples::CmykInverted : Samples::Cmyk);
    if (!transform || picture.bits() == nullptr)
        return false;
    transformInBands(transform.get(), picture.bits(), picture.width(), picture.height(),
                     picture.bytesPerLine());
    // The alpha byte still holds black ink; Format_RGB32 wants it opaque.
    for (int y = 0; y < picture.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            row[x] |= 0xFF000000u;
    }
    picture.setColorSpace(QColorSpace::SRgb);
    return true;
}

QByteArray rgbIccProfile(const Chromaticities& c, ToneCurve curve)
{
    keepLittleCmsQuiet();
    const cmsCIExyY white{c.whiteX, c.whiteY, 1.0};
    const cmsCIExyYTRIPLE primaries{
        {c.redX, c.redY, 1.0}, {c.greenX, c.greenY, 1.0}, {c.blueX, c.blueY, 1.0}};
    const Curve tone = toneCurve(curve);
    if (!tone)
        return {};
    cmsToneCurve* curves[3] = {tone.get(), tone.get(), tone.get()};
    const Profile profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0)
        return {};
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size))
        return {};
    return bytes;
}

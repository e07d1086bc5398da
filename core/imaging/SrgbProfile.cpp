#include "imaging/SrgbProfile.h"

#include <QHash>

#include <lcms2.h>

#include <array>
#include <cmath>
#include <memory>
#include <mutex>

namespace {

struct ProfileClose
{
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileClose>;

// Colorants are PCS values with four decimals as cameras write them (Apple's
// sRGB profile differs from Little CMS's by 0.0003); a colorant off by this much
// moves a colour by well under a tenth of a level.
constexpr double kColorantTolerance = 0.0015;
// A tenth of an 8-bit level: below what the 8-bit output can show.
constexpr double kCurveTolerance = 0.1 / 255;

constexpr std::array<cmsTagSignature, 3> kColorantTags = {
    cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
constexpr std::array<cmsTagSignature, 3> kCurveTags = {cmsSigRedTRCTag, cmsSigGreenTRCTag,
                                                       cmsSigBlueTRCTag};
// Tables that a transform would take before the colorants and curves.
constexpr std::array<cmsTagSignature, 4> kTableTags = {cmsSigAToB0Tag, cmsSigAToB1Tag,
                                                       cmsSigAToB2Tag, cmsSigDToB0Tag};

double srgbDecoded(double encoded)
{
    return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

bool colorantsMatch(cmsHPROFILE profile, cmsHPROFILE srgb)
{
    for (const cmsTagSignature tag : kColorantTags) {
        const auto* given = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tag));
        const auto* wanted = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb, tag));
        if (given == nullptr || wanted == nullptr ||
            std::abs(given->X - wanted->X) > kColorantTolerance ||
            std::abs(given->Y - wanted->Y) > kColorantTolerance ||
            std::abs(given->Z - wanted->Z) > kColorantTolerance)
            return false;
    }
    return true;
}

// Every curve against sRGB's at points spread over the range, the dark end
// (where a plain gamma 2.2 parts from sRGB most) included.
bool curvesMatch(cmsHPROFILE profile)
{
    constexpr int kPoints = 64;
    for (const cmsTagSignature tag : kCurveTags) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag));
        if (curve == nullptr)
            return false;
        for (int i = 0; i <= kPoints; ++i) {
            const double encoded = double(i) / kPoints;
            const double decoded = cmsEvalToneCurveFloat(curve, cmsFloat32Number(encoded));
            if (std::abs(decoded - srgbDecoded(encoded)) > kCurveTolerance)
                return false;
        }
    }
    return true;
}

bool describesSrgb(const QByteArray& iccProfile)
{
    const Profile profile(
        cmsOpenProfileFromMem(iccProfile.constData(), cmsUInt32Number(iccProfile.size())));
    const Profile srgb(cmsCreate_sRGBProfile());
    if (!profile || !srgb || cmsGetColorSpace(profile.get()) != cmsSigRgbData)
        return false;
    for (const cmsTagSignature tag : kTableTags)
        if (cmsIsTag(profile.get(), tag))
            return false;
    return colorantsMatch(profile.get(), srgb.get()) && curvesMatch(profile.get());
}

} // namespace

bool isSrgbProfile(const QByteArray& iccProfile)
{
    if (iccProfile.isEmpty())
        return false;
    // A run of photos from one camera asks about the same bytes again and again.
    static std::mutex mutex;
    static QHash<QByteArray, bool> verdicts;
    constexpr qsizetype kKept = 64;
    {
        const std::lock_guard lock(mutex);
        const auto known = verdicts.constFind(iccProfile);
        if (known != verdicts.constEnd())
            return known.value();
    }
    const bool srgb = describesSrgb(iccProfile);
    const std::lock_guard lock(mutex);
    if (verdicts.size() >= kKept)
        verdicts.clear();
    verdicts.insert(iccProfile, srgb);
    return srgb;
}

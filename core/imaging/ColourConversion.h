// Bringing a picture's colours into sRGB, the colour space of the JPEG files
// Pictavo writes (they carry no profile, and untagged means sRGB), through
// Little CMS.
//
// Safe to call from several threads at once: the transforms of the last few
// profiles are kept and shared.
#pragma once

#include <QByteArray>
#include <QImage>

// Chromaticities (CIE xy) of an RGB colour space's primaries and white point.
struct Chromaticities
{
    double redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY;
};

enum class ToneCurve
{
    Srgb,
    Bt709,
    Linear,
};

// Converts `picture` (Format_RGB32 or Format_ARGB32_Premultiplied) in place from
// the colour space `iccProfile` describes to sRGB, perceptually where the
// profile offers that intent and relative colorimetrically otherwise, with
// black-point compensation. RGB and grey profiles are used; an empty profile,
// one that cannot be parsed, one of another colour space (CMYK, Lab) and one
// that describes sRGB itself (see SrgbProfile.h) leave the picture as it is,
// which then counts as sRGB. True when the colours were
// converted; the picture's colour space then says sRGB.
bool convertToSrgb(QImage& picture, const QByteArray& iccProfile);

// The same for a picture of 16 bits a channel (Format_RGBX64, Format_RGBA64 or
// Format_RGBA64_Premultiplied) and an RGB profile, so that a wide-gamut source
// keeps its fine steps until it is reduced to 8 bits after the conversion.
bool convertToSrgb16(QImage& picture, const QByteArray& iccProfile);

// Whether `iccProfile` parses as a profile of CMYK colours.
bool isCmykProfile(const QByteArray& iccProfile);

// Converts `picture`, a Format_RGB32 picture whose four bytes a pixel hold C, M,
// Y and K in this order (as libjpeg gives them; 255 means no ink when
// `inverted`, as in Adobe's JPEGs), in place from the CMYK colour space
// `cmykProfile` describes to opaque sRGB. False, with the picture untouched,
// when the profile is not a usable CMYK profile.
bool convertCmykToSrgb(QImage& picture, const QByteArray& cmykProfile, bool inverted);

// An ICC profile for the RGB colour space with these primaries and tone curve;
// empty when Little CMS cannot make one.
QByteArray rgbIccProfile(const Chromaticities& chromaticities, ToneCurve curve);

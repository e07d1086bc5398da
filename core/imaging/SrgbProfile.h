// Whether an embedded ICC profile describes sRGB itself, so that converting
// through it would give back the pixels it was handed: most cameras and phones
// tag their JPEGs with such a profile, and building a transform for each photo
// costs more than decoding a reduced one.
#pragma once

#include <QByteArray>

// True when `iccProfile` is an RGB matrix-and-curves profile whose colorants and
// tone curves are sRGB's within a tenth of an 8-bit level. Profiles with lookup
// tables, grey and CMYK profiles and those that do not parse are not sRGB.
// The verdict is kept per profile bytes; any thread may ask.
bool isSrgbProfile(const QByteArray& iccProfile);

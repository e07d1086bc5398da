// The interface between Pictavo and an effects library such as Effekt.
//
// This header is the only thing a library and the program share. It must stay
// plain C-compatible layout: the library may be built by someone else, with
// another compiler, and is bound at run time by the four exported names below.
#pragma once

#include <cstdint>

// The image record handed to EffRun together with a packed pixel block:
// `height` rows of `rowBytes` bytes, top row first, three bytes a pixel in the
// order blue, green, red, no padding between rows (rowBytes == width * 3).
struct EffectImage
{
    std::int32_t rowBytes;
    std::int32_t reserved; // always 0; no effect reads it
    std::int32_t width;
    std::int32_t height;
};
static_assert(sizeof(EffectImage) == 16, "EffectImage is four 32-bit integers without gaps");

#if defined(_WIN32) && defined(_M_IX86)
#define EFFEKT_CALL __cdecl
#else
#define EFFEKT_CALL
#endif

#if defined(_WIN32)
#define EFFEKT_EXPORT __declspec(dllexport)
#else
#define EFFEKT_EXPORT __attribute__((visibility("default")))
#endif

// The plug-in's file name on every platform; the contract names it so.
#define EFFEKT_LIBRARY_NAME "Effekt.dll"

extern "C" {
// Number of effects the library offers; the host lists indices 0 .. result - 1.
typedef int(EFFEKT_CALL* GetAnzEffProc)(void);
// Writes the name of effect `index`, NUL-terminated, into `buffer` (256 bytes).
typedef int(EFFEKT_CALL* EffGetNameProc)(int index, char* buffer);
// Set-up of one effect. The host resolves it but never calls it.
typedef int(EFFEKT_CALL* EffSetupProc)(int index);
// Applies effect `index` to `pixels` in place. `phase` is 0 before the host's
// colour adjustments and 1 after them; an effect works in the phase that suits it.
typedef int(EFFEKT_CALL* EffRunProc)(int index, EffectImage* image, unsigned char* pixels,
                                     int phase);
}

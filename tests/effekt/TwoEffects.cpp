// A complete effects library with two effects, "Eins" and "Zwei", that record
// their calls instead of changing the pixels.
#include "TwoEffects.h"

#include <cstdio>

namespace {
TwoEffectsCall lastCall{};
constexpr int kKept = 16;
TwoEffectsCall recent[kKept]{};
}

extern "C" {

EFFEKT_EXPORT int EFFEKT_CALL GetAnzEff(void)
{
    return 2;
}

EFFEKT_EXPORT int EFFEKT_CALL EffGetName(int index, char* buffer)
{
    const char* names[] = {"Eins", "Zwei"};
    std::snprintf(buffer, 256, "%s", index == 0 || index == 1 ? names[index] : "Unbekannt");
    return 0;
}

EFFEKT_EXPORT int EFFEKT_CALL EffSetup(int)
{
    return 0;
}

EFFEKT_EXPORT int EFFEKT_CALL EffRun(int index, EffectImage* image, unsigned char* pixels,
                                     int phase)
{
    const int rowBytes = image != nullptr ? image->rowBytes : 0;
    const int firstByte = pixels != nullptr ? pixels[0] : -1;
    lastCall = TwoEffectsCall{lastCall.calls + 1, index, phase, image, pixels, rowBytes, firstByte};
    recent[lastCall.calls % kKept] = lastCall;
    return 0;
}

EFFEKT_EXPORT const TwoEffectsCall* EFFEKT_CALL TwoEffectsLastCall(void)
{
    return &lastCall;
}

EFFEKT_EXPORT const TwoEffectsCall* EFFEKT_CALL TwoEffectsCallNumber(int n)
{
    if (n < 1 || n > lastCall.calls || n <= lastCall.calls - kKept)
        return nullptr;
    return &recent[n % kKept];
}

} // extern "C"

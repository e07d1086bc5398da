// A complete effects library with two effects, "Eins" and "Zwei", that record
// their calls instead of changing the pixels.
#include "TwoEffects.h"

#include <cstdio>

namespace {
TwoEffectsCall lastCall{};
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
    lastCall = TwoEffectsCall{lastCall.calls + 1, index, phase, image, pixels};
    return 0;
}

EFFEKT_EXPORT const TwoEffectsCall* EFFEKT_CALL TwoEffectsLastCall(void)
{
    return &lastCall;
}

} // extern "C"

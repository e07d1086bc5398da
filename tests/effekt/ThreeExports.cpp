// An effects library that lacks EffSetup; the host must reject it as a whole.
#include "EffectImage.h"

#include <cstdio>

extern "C" {

EFFEKT_EXPORT int EFFEKT_CALL GetAnzEff(void)
{
    return 1;
}

EFFEKT_EXPORT int EFFEKT_CALL EffGetName(int, char* buffer)
{
    std::snprintf(buffer, 256, "Unvollständig");
    return 0;
}

EFFEKT_EXPORT int EFFEKT_CALL EffRun(int, EffectImage*, unsigned char*, int)
{
    return 0;
}

} // extern "C"

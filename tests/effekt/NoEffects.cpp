// An effects library with all four exports that offers no effect; the host must
// free it again.
#include "EffectImage.h"

#include <cstdio>

extern "C" {

EFFEKT_EXPORT int EFFEKT_CALL GetAnzEff(void)
{
    return 0;
}

EFFEKT_EXPORT int EFFEKT_CALL EffGetName(int, char* buffer)
{
    std::snprintf(buffer, 256, "Unbekannt");
    return 0;
}

EFFEKT_EXPORT int EFFEKT_CALL EffSetup(int)
{
    return 0;
}

EFFEKT_EXPORT int EFFEKT_CALL EffRun(int, EffectImage*, unsigned char*, int)
{
    return 0;
}

} // extern "C"

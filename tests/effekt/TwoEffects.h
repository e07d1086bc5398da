// TwoEffects.dll, a test library with two effects that do nothing but record how
// they were called, so that tests can see which library and index the host chose.
#pragma once

#include "EffectImage.h"

// The last call of EffRun and how many calls there were, whatever their index.
struct TwoEffectsCall
{
    int calls;
    int index;
    int phase;
    const EffectImage* image;
    const unsigned char* pixels;
};

// The library's fifth export, "TwoEffectsLastCall".
typedef const TwoEffectsCall*(EFFEKT_CALL* TwoEffectsLastCallProc)(void);

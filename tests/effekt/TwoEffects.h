// TwoEffects.dll, a test library with two effects that do nothing but record how
// they were called, so that tests can see which library, index and phase the host
// chose, and what the pixels held at that moment.
#pragma once

#include "EffectImage.h"

// One call of EffRun, and how many calls there were up to it, whatever their index.
struct TwoEffectsCall
{
    int calls;
    int index;
    int phase;
    const EffectImage* image;
    const unsigned char* pixels;
    // What the block held when the call began: its row length and first byte.
    int rowBytes;
    int firstByte;
};

// The library's fifth export, "TwoEffectsLastCall".
typedef const TwoEffectsCall*(EFFEKT_CALL* TwoEffectsLastCallProc)(void);

// The sixth, "TwoEffectsCallNumber": call number `n` (counted from 1 since the
// library was loaded), or null when it has not happened or is no longer kept
// (the last 16 are).
typedef const TwoEffectsCall*(EFFEKT_CALL* TwoEffectsCallNumberProc)(int n);

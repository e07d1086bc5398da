// Effekt as the tests reach it: loaded by the program's own loader from the
// folder the tests run in, its effects run through the library's EffRun export.
#pragma once

#include "effects/EffectHost.h"
#include "EffectReference.h"

// The loaded library, or null when it cannot be found. It stays loaded until the
// test program ends.
inline const EffectPlugin* effekt()
{
    static EffectHost host;
    static const bool loaded = host.LoadEffectPlugin();
    return loaded ? &host.plugins().front() : nullptr;
}

// Runs effect `index` on a copy of `picture` in the given phase, by index within
// the library, so that the unannounced effect 8 is reachable too.
inline reference::Picture runEffekt(int index, reference::Picture picture, int phase)
{
    EffectImage image = picture.image();
    effekt()->run(index, &image, picture.bytes.data(), phase);
    EXPECT_EQ(image.rowBytes, picture.width * 3) << "the effect changed the image record";
    EXPECT_EQ(image.width, picture.width) << "the effect changed the image record";
    EXPECT_EQ(image.height, picture.height) << "the effect changed the image record";
    return picture;
}

#define REQUIRE_EFFEKT() ASSERT_NE(effekt(), nullptr) << "Effekt.dll not found beside the tests"

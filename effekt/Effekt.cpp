// The four exports of Effekt, the effects library that Pictavo loads at run time.
//
// The library keeps no state: every call works only on its arguments, so EffRun
// may run on any thread as long as no two calls share a pixel block. GetAnzEff,
// EffGetName and EffSetup are called by the host's GUI thread.

#include "EffectAlgorithms.h"
#include "EffectImage.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QThread>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace {

using Algorithm = void (*)(const EffectImage&, unsigned char*);

// One effect: its name and the basic effects it runs, in order, in phase 0
// (before the host's colour adjustments) and in phase 1 (after them).
struct Effect
{
    const char* name;
    std::span<const Algorithm> phase0;
    std::span<const Algorithm> phase1;
};

using namespace effekt;

constexpr Algorithm kLineDrawing[] = {lineDrawing};
constexpr Algorithm kBlurThenLines[] = {boxBlur, lineDrawing};
constexpr Algorithm kBlurTwiceThenLines[] = {boxBlur, boxBlur, lineDrawing};
constexpr Algorithm kInvert[] = {invert};
constexpr Algorithm kFewColours[] = {fewColours};
constexpr Algorithm kBoxBlur[] = {boxBlur};
constexpr Algorithm kRelief[] = {relief};
constexpr Algorithm kBlockHalftone[] = {blockHalftone};
constexpr Algorithm kThreshold[] = {threshold};

// Indexed as passed to EffGetName and EffRun. The last one works when called but
// is not announced by GetAnzEff.
constexpr std::array<Effect, 9> kEffects{{
    {"Strich", kLineDrawing, {}},
    {"Strichzeichnen 2", kBlurThenLines, {}},
    {"Strichzeichnen 3", kBlurTwiceThenLines, kFewColours},
    {"Negativ", {}, kInvert},
    {"Wenig Farben", {}, kFewColours},
    {"Weichzeichnen", kBoxBlur, {}},
    {"Hammerschlag", kRelief, {}},
    {"Goblin", kBlockHalftone, {}},
    {"Test", kThreshold, {}},
}};
constexpr int kAnnouncedEffects = 8;

const Effect* effectAt(int index)
{
    if (index < 0 || index >= static_cast<int>(kEffects.size()))
        return nullptr;
    return &kEffects[static_cast<std::size_t>(index)];
}

// A block the effects can work on: at least one pixel and rows without padding.
bool isWorkable(const EffectImage* image, const unsigned char* pixels)
{
    return image != nullptr && pixels != nullptr && image->width > 0 && image->height > 0 &&
           static_cast<std::int64_t>(image->rowBytes) == std::int64_t{image->width} * 3;
}

} // namespace

extern "C" {

EFFEKT_EXPORT int EFFEKT_CALL GetAnzEff(void)
{
    return kAnnouncedEffects;
}

// `buffer` holds 256 bytes; every name is far shorter.
EFFEKT_EXPORT int EFFEKT_CALL EffGetName(int index, char* buffer)
{
    if (buffer == nullptr)
        return 0;
    const Effect* effect = effectAt(index);
    std::snprintf(buffer, 256, "%s", effect != nullptr ? effect->name : "Unbekannt");
    return 0;
}

// Shows which effect was asked for in a plain message box. Widgets exist only in a
// GUI application and only on its thread; anywhere else nothing is shown.
EFFEKT_EXPORT int EFFEKT_CALL EffSetup(int index)
{
    const auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr || QThread::currentThread() != app->thread())
        return 0;
    char text[64];
    std::snprintf(text, sizeof text, "Setup für Funktion Nr %i", index);
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Effekt"), QString::fromUtf8(text),
                    QMessageBox::Ok);
    box.exec();
    return 0;
}

// Runs effect `index` in place when it works in `phase`; returns at once for an
// unknown index, another phase or a block it cannot work on.
EFFEKT_EXPORT int EFFEKT_CALL EffRun(int index, EffectImage* image, unsigned char* pixels,
                                     int phase)
{
    const Effect* effect = effectAt(index);
    if (effect == nullptr || !isWorkable(image, pixels))
        return 0;
    const std::span<const Algorithm> steps = phase == 0   ? effect->phase0
                                             : phase == 1 ? effect->phase1
                                                          : std::span<const Algorithm>{};
    for (const Algorithm step : steps)
        step(*image, pixels);
    return 0;
}

} // extern "C"

// Throughput of Effekt's effects: each of the nine runs through the loaded
// library, as the program calls it (phase 0, then phase 1), over a packed block of
// 6000 x 4000 pixels, the size of a 24-megapixel photograph. The effects are
// single-threaded, so this is the speed of one core. "MP/s" is megapixels per
// wall-clock second.
#include "effects/EffectHost.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr int kEffects = 9; // the eight announced ones and the unannounced ninth

// Effekt, loaded once from the program's folder; null when it is missing.
const EffectPlugin* effekt()
{
    static EffectHost host;
    static const bool loaded = host.LoadEffectPlugin();
    return loaded ? &host.plugins().front() : nullptr;
}

// Something like a photograph: smooth gradients with a little noise, different
// in each channel, so that comparisons go either way as in a real picture.
const std::vector<unsigned char>& photograph()
{
    static const std::vector<unsigned char> block = [] {
        std::vector<unsigned char> bytes(std::size_t(kWidth) * kHeight * 3);
        std::uint32_t noise = 12345;
        std::size_t i = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c) {
                    noise = noise * 1664525u + 1013904223u;
                    const int smooth = (x * (c + 1) / 47 + y / (c + 13)) % 224;
                    bytes[i++] = static_cast<unsigned char>(smooth + (noise >> 28));
                }
        return bytes;
    }();
    return block;
}

void benchEffect(benchmark::State& state)
{
    const EffectPlugin* plugin = effekt();
    if (plugin == nullptr) {
        state.SkipWithError("Effekt.dll not found beside the program");
        return;
    }
    const int index = static_cast<int>(state.range(0));
    std::array<char, 256> name{};
    plugin->getName(index, name.data());
    state.SetLabel(name.data());

    std::vector<unsigned char> pixels = photograph();
    for (auto _ : state) {
        // Every pass starts from the same picture; restoring it is not timed.
        state.PauseTiming();
        pixels = photograph();
        state.ResumeTiming();
        EffectImage image{kWidth * 3, 0, kWidth, kHeight};
        plugin->run(index, &image, pixels.data(), 0);
        plugin->run(index, &image, pixels.data(), 1);
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    state.counters["MP/s"] = benchmark::Counter(
        double(kWidth) * kHeight / 1e6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(benchEffect)
    ->Name("Effect")
    ->DenseRange(0, kEffects - 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

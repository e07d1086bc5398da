// Throughput of the colour adjustments and the quarter turn on synthetic
// pictures. "MP/s" counts the megapixels of the adjusted or produced picture.
//
// Adjust/All: brightness, contrast, black and white and three offsets over a
// 6000 x 4000 picture; Adjust/Colour: the same without black and white;
// Adjust/Brightness: brightness alone. The adjustments run on the calling thread
// only, so their rates are per second of that thread's CPU time, which a busy
// machine does not distort. AdjustQuarterTurn/1600: a 1600 x 1200 source drawn
// turned into a 1200 x 1600 target (frame, drawing and turn), per wall-clock
// second, with the process's CPU time beside it.
#include "imaging/Adjustments.h"
#include "imaging/CPicture.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <random>

namespace {

// Noise, so that the table lookups see every byte value.
QImage noisePicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_BGR888);
    std::mt19937 random(1);
    for (int y = 0; y < height; ++y) {
        uchar* row = picture.scanLine(y);
        for (int i = 0; i < width * 3; ++i)
            row[i] = uchar(random());
    }
    return picture;
}

void benchAdjust(benchmark::State& state, const ConversionSettings& settings)
{
    QImage picture = noisePicture(6000, 4000);
    for (auto _ : state) {
        ApplyAdjustments(picture, settings, nullptr);
        benchmark::DoNotOptimize(picture.constBits());
        benchmark::ClobberMemory();
    }
    const double megapixels = double(picture.width()) * picture.height() / 1e6;
    state.counters["MP/s"] =
        benchmark::Counter(megapixels * double(state.iterations()), benchmark::Counter::kIsRate);
}

void benchQuarterTurn(benchmark::State& state)
{
    const int longer = int(state.range(0));
    const int shorter = longer * 3 / 4;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    noisePicture(longer, shorter).save(&buffer, "PNG");
    CPicture source;
    if (!source.LoadFromMemory(png.constData(), png.size())) {
        state.SkipWithError("cannot decode the source");
        return;
    }

    QImage target(shorter, longer, QImage::Format_BGR888);
    const ConversionSettings settings{.m_nOrientation = 1};
    for (auto _ : state) {
        ApplyQuarterTurn(target, source, settings);
        benchmark::DoNotOptimize(target.constBits());
        benchmark::ClobberMemory();
    }
    const double megapixels = double(target.width()) * target.height() / 1e6;
    state.counters["MP/s"] =
        benchmark::Counter(megapixels * double(state.iterations()), benchmark::Counter::kIsRate);
}

const ConversionSettings kAll{.m_nBrightness = 20,
                              .m_nContrast = -35,
                              .m_nRed = 10,
                              .m_nGreen = -5,
                              .m_nBlue = 7,
                              .m_bGrayscale = 1};
const ConversionSettings kColour{
    .m_nBrightness = 20, .m_nContrast = -35, .m_nRed = 10, .m_nGreen = -5, .m_nBlue = 7};
const ConversionSettings kBrightness{.m_nBrightness = 20};

} // namespace

BENCHMARK_CAPTURE(benchAdjust, All, kAll)->Name("Adjust/All")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(benchAdjust, Colour, kColour)
    ->Name("Adjust/Colour")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(benchAdjust, Brightness, kBrightness)
    ->Name("Adjust/Brightness")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(benchQuarterTurn)
    ->Name("AdjustQuarterTurn")
    ->Arg(1600)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

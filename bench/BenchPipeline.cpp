// The slider case: a full conversion of an already loaded large photo, as the
// main window runs it after every change of the size slider.
#include "imaging/ConversionPipeline.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

void BM_SliderConversion(benchmark::State& state)
{
    const QString photo =
        QStringLiteral(PICTAVO_TESTDATA_DIR "/photos-large/mosaic_6528x4896.jpg");
    if (!QFileInfo::exists(photo)) {
        state.SkipWithError("photos-large/mosaic_6528x4896.jpg not found");
        return;
    }
    QTemporaryDir dir;
    const QString temporary = dir.filePath(QStringLiteral("Temppic.jpg1.jpg"));
    ConversionSettings settings;
    settings.m_nTargetSize = int(state.range(0));
    settings.m_nQuality = 60;
    ConversionPipeline pipeline;
    pipeline.Convert(photo, settings, {}, {}, temporary); // loads the source
    for (auto _ : state) {
        const ConversionResult result = pipeline.Convert(photo, settings, {}, {}, temporary);
        benchmark::DoNotOptimize(result.fileBytes);
    }
}
BENCHMARK(BM_SliderConversion)
    ->Name("SliderConversion")
    ->Arg(800)
    ->Arg(640)
    ->Arg(1600)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

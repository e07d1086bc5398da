// Throughput of the picture path on the shared test photographs: decoding a file,
// stretching the picture into a 24-bit target, writing that target as JPEG, and
// the three together as the program does them for one output size.
//
// Every benchmark measures wall-clock time (Qt's smooth scaling may spread its
// work over a thread pool) and reports process CPU time beside it. Rates are
// megapixels per wall-clock second: "MP/s" counts the pixels a step takes in,
// "out_MP/s" the pixels it produces.
#include "imaging/CJpegExport.h"
#include "imaging/CPicture.h"
#include "imaging/ConversionPipeline.h"
#include "imaging/PictureDecoder.h"
#include "imaging/PictureScaler.h"
#include "imaging/PixelRect.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kQuality = 60;
constexpr int kDpi = 90;
constexpr double kMinSeconds = 0.2;
constexpr int kPipelinePasses = 3;
constexpr int kLongerSides[] = {640, 1600};

QStringList g_photoPaths;
QString g_outputDir;

QString photosDir()
{
    const char* override = std::getenv("PICTAVO_TESTDATA_DIR");
    const QString root = override != nullptr && *override != '\0'
        ? QString::fromLocal8Bit(override)
        : QStringLiteral(PICTAVO_TESTDATA_DIR);
    return QDir(root).filePath(QStringLiteral("photos"));
}

QStringList findPhotos(const QString& dir)
{
    QStringList paths;
    const QFileInfoList entries = QDir(dir).entryInfoList(
        {QStringLiteral("*.jpg"), QStringLiteral("*.jpeg")}, QDir::Files, QDir::Name);
    for (const QFileInfo& entry : entries)
        paths.append(entry.absoluteFilePath());
    return paths;
}

// The size whose longer side is `longer`, keeping the picture's proportions with
// the shorter side truncated, as the program sizes its output.
QSize fittedSize(int width, int height, int longer)
{
    if (width >= height)
        return QSize(longer, std::max(1, int(qint64(longer) * height / width)));
    return QSize(std::max(1, int(qint64(longer) * width / height)), longer);
}

double megapixels(QSize size)
{
    return double(size.width()) * size.height() / 1e6;
}

QImage makeTarget(QSize size)
{
    QImage target(size, QImage::Format_BGR888);
    target.fill(Qt::white);
    return target;
}

PixelRect wholeOf(const QImage& target)
{
    return PixelRect{0, 0, target.width(), target.height()};
}

// The photographs decoded once, for the benchmarks that start from a picture.
const std::vector<std::unique_ptr<CPicture>>& decodedPhotos()
{
    static const std::vector<std::unique_ptr<CPicture>> photos = [] {
        std::vector<std::unique_ptr<CPicture>> loaded;
        for (const QString& path : g_photoPaths) {
            auto picture = std::make_unique<CPicture>();
            if (!picture->LoadFromFile(path)) {
                std::fprintf(stderr, "cannot decode %s\n", qPrintable(path));
                std::exit(1);
            }
            loaded.push_back(std::move(picture));
        }
        return loaded;
    }();
    return photos;
}

// Each photograph stretched to `longer`, ready to be written.
std::vector<QImage> renderedPhotos(int longer)
{
    std::vector<QImage> targets;
    for (const auto& photo : decodedPhotos()) {
        QImage target = makeTarget(fittedSize(photo->m_cxPixels, photo->m_cyPixels, longer));
        if (!photo->Render(&target, wholeOf(target), false, false)) {
            std::fprintf(stderr, "cannot render a photograph at %d\n", longer);
            std::exit(1);
        }
        targets.push_back(std::move(target));
    }
    return targets;
}

void benchDecode(benchmark::State& state, const QString& path)
{
    const qint64 fileBytes = QFileInfo(path).size();
    CPicture picture;
    double pixels = 0;
    for (auto _ : state) {
        if (!picture.LoadFromFile(path)) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(picture.m_picture.constBits());
        pixels += double(picture.m_cxPixels) * picture.m_cyPixels;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * fileBytes);
    state.counters["MP/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsRate);
}

// One iteration stretches every photograph into its own target.
void benchRender(benchmark::State& state, int longer)
{
    const auto& photos = decodedPhotos();
    std::vector<QImage> targets;
    double sourcePixels = 0;
    double targetPixels = 0;
    for (const auto& photo : photos) {
        targets.push_back(makeTarget(fittedSize(photo->m_cxPixels, photo->m_cyPixels, longer)));
        sourcePixels += megapixels(photo->m_picture.size());
        targetPixels += megapixels(targets.back().size());
    }

    bool failed = false;
    for (auto _ : state) {
        for (std::size_t i = 0; i < photos.size() && !failed; ++i) {
            failed = !photos[i]->Render(&targets[i], wholeOf(targets[i]), false, false);
            benchmark::DoNotOptimize(targets[i].constBits());
        }
        benchmark::ClobberMemory();
        if (failed) {
            state.SkipWithError("rendering failed");
            break;
        }
    }
    const double passes = double(state.iterations());
    state.counters["MP/s"] = benchmark::Counter(sourcePixels * passes, benchmark::Counter::kIsRate);
    state.counters["out_MP/s"] =
        benchmark::Counter(targetPixels * passes, benchmark::Counter::kIsRate);
}

// One iteration resamples every photograph from the reduced decode a conversion
// to `longer` starts from to the output size: the resampler's share of a run.
void benchResample(benchmark::State& state, int longer)
{
    std::vector<QImage> sources;
    std::vector<QSize> sizes;
    double sourcePixels = 0;
    double targetPixels = 0;
    for (const QString& path : std::as_const(g_photoPaths)) {
        QFile file(path);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const QSize full = decodePicture(bytes).size();
        sizes.push_back(fittedSize(full.width(), full.height(), longer));
        const double margin = ConversionPipeline::kDecodeMargin;
        sources.push_back(decodePicture(bytes, QSize(int(std::ceil(sizes.back().width() * margin)),
                                                     int(std::ceil(sizes.back().height() * margin)))));
        sourcePixels += megapixels(sources.back().size());
        targetPixels += megapixels(sizes.back());
    }
    for (auto _ : state) {
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const QImage result = scalePicture(sources[i], sizes[i]);
            benchmark::DoNotOptimize(result.constBits());
        }
    }
    const double passes = double(state.iterations());
    state.counters["MP/s"] = benchmark::Counter(sourcePixels * passes, benchmark::Counter::kIsRate);
    state.counters["out_MP/s"] =
        benchmark::Counter(targetPixels * passes, benchmark::Counter::kIsRate);
}

// One iteration shrinks every photograph's 24-bit view of `longer` pixels to the
// 1000 pixels of a window, as the main window does once per picture and size.
void benchShrinkView(benchmark::State& state, int longer)
{
    const std::vector<QImage> views = renderedPhotos(longer);
    for (auto _ : state) {
        for (const QImage& view : views) {
            const QImage shown = scalePicture(view, view.size().scaled(1000, 1000, Qt::KeepAspectRatio));
            benchmark::DoNotOptimize(shown.constBits());
        }
    }
    state.counters["views/s"] = benchmark::Counter(double(views.size()) * double(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}

// One iteration writes every photograph, already stretched, to the same file.
void benchEncode(benchmark::State& state, int longer)
{
    const std::vector<QImage> pictures = renderedPhotos(longer);
    double pixels = 0;
    for (const QImage& picture : pictures)
        pixels += megapixels(picture.size());
    const QString output = QDir(g_outputDir).filePath(QStringLiteral("encode-%1.jpg").arg(longer));

    // A first, untimed pass checks that writing works and gives the size of what one
    // pass writes; every pass writes the same bytes.
    CJpegExport exporter;
    qint64 bytesPerPass = 0;
    for (const QImage& picture : pictures) {
        if (!exporter.SaveAsJpeg(output, picture, kQuality, -1, -1, kDpi)) {
            state.SkipWithError("writing the JPEG failed");
            return;
        }
        bytesPerPass += QFileInfo(output).size();
    }

    bool failed = false;
    for (auto _ : state) {
        for (const QImage& picture : pictures)
            failed |= !exporter.SaveAsJpeg(output, picture, kQuality, -1, -1, kDpi);
        if (failed) {
            state.SkipWithError("writing the JPEG failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytesPerPass);
    state.counters["MP/s"] =
        benchmark::Counter(pixels * double(state.iterations()), benchmark::Counter::kIsRate);
}

// One iteration is what the program does for every photograph at one output size:
// read and decode the file, stretch it into a fresh target, write the JPEG.
void benchPipeline(benchmark::State& state, int longer)
{
    std::vector<QString> outputs;
    double sourcePixels = 0;
    for (const QString& path : g_photoPaths)
        outputs.push_back(QDir(g_outputDir).filePath(
            QStringLiteral("%1-%2.jpg").arg(QFileInfo(path).completeBaseName()).arg(longer)));

    CJpegExport exporter;
    bool failed = false;
    for (auto _ : state) {
        for (qsizetype i = 0; i < g_photoPaths.size() && !failed; ++i) {
            CPicture picture;
            if (!picture.LoadFromFile(g_photoPaths[i])) {
                failed = true;
                break;
            }
            QImage target =
                makeTarget(fittedSize(picture.m_cxPixels, picture.m_cyPixels, longer));
            failed = !picture.Render(&target, wholeOf(target), false, false) ||
                !exporter.SaveAsJpeg(outputs[std::size_t(i)], target, kQuality, -1, -1, kDpi);
            sourcePixels += megapixels(picture.m_picture.size());
        }
        if (failed) {
            state.SkipWithError("decoding, rendering or writing failed");
            break;
        }
    }
    const double passes = double(state.iterations());
    state.counters["MP/s"] = benchmark::Counter(sourcePixels, benchmark::Counter::kIsRate);
    state.counters["photos/s"] = benchmark::Counter(
        double(g_photoPaths.size()) * passes, benchmark::Counter::kIsRate);
}

std::string nameOf(const QString& path)
{
    return QFileInfo(path).fileName().toStdString();
}

// Wall-clock time in milliseconds, with the whole process's CPU time beside it:
// Qt's smooth scaling may use more than one core.
void timedLikeTheOthers(benchmark::internal::Benchmark* bench)
{
    bench->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const QString dir = photosDir();
    g_photoPaths = findPhotos(dir);
    if (g_photoPaths.isEmpty()) {
        std::fprintf(stderr, "no photographs found in %s (set PICTAVO_TESTDATA_DIR)\n",
                     qPrintable(dir));
        return 1;
    }
    const QTemporaryDir outputDir;
    if (!outputDir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    g_outputDir = outputDir.path();

    // Decode everything once before timing: loads Qt's image plug-ins and brings the
    // files into the page cache, so the first benchmark does not pay for either.
    decodedPhotos();

    for (const QString& path : std::as_const(g_photoPaths)) {
        benchmark::RegisterBenchmark(("Decode/" + nameOf(path)).c_str(), benchDecode, path)
            ->Apply(timedLikeTheOthers)
            ->MinTime(kMinSeconds);
    }
    for (const int longer : kLongerSides) {
        benchmark::RegisterBenchmark(("Render/" + std::to_string(longer)).c_str(), benchRender,
                                     longer)
            ->Apply(timedLikeTheOthers)
            ->MinTime(kMinSeconds);
    }
    for (const int longer : kLongerSides) {
        benchmark::RegisterBenchmark(("Resample/" + std::to_string(longer)).c_str(),
                                     benchResample, longer)
            ->Apply(timedLikeTheOthers)
            ->MinTime(kMinSeconds);
    }
    benchmark::RegisterBenchmark("ShrinkView/3000", benchShrinkView, 3000)
        ->Apply(timedLikeTheOthers)
        ->MinTime(kMinSeconds);
    for (const int longer : kLongerSides) {
        benchmark::RegisterBenchmark(("Encode/" + std::to_string(longer)).c_str(), benchEncode,
                                     longer)
            ->Apply(timedLikeTheOthers)
            ->MinTime(kMinSeconds);
    }
    for (const int longer : kLongerSides) {
        benchmark::RegisterBenchmark(("Pipeline/" + std::to_string(longer)).c_str(),
                                     benchPipeline, longer)
            ->Apply(timedLikeTheOthers)
            ->Iterations(kPipelinePasses);
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Picture quality against a reference, for bench/quality.sh.
//
//   pictavo_measure_quality ssim SOURCE RESULT...
//     For each RESULT (a JPEG of SOURCE at some size) prints its bytes and the
//     luma SSIM against SOURCE decoded in full and resampled to RESULT's size by
//     a double-precision Lanczos-3 (edges renormalised). SSIM: Gaussian window
//     11x11, sigma 1.5, K1 0.01, K2 0.03, mean over the windows inside the picture.
//   pictavo_measure_quality zoneplate OUT.png
//     Writes a 4096x4096 grey zone plate cos(pi k r^2) about the top-left corner,
//     whose local frequency k r reaches 2 cycles per pixel at r = 4096 once the
//     plate is shrunk to 640 pixels.
//   pictavo_measure_quality bands RESULT...
//     For each RESULT (the zone plate shrunk) prints the amplitude (sqrt 2 times
//     the RMS about the mean) of the rings at 0.30-0.45 cycles per result pixel,
//     which must survive, and at 0.8-1.2, which no picture of that size can hold.
#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <vector>

namespace {

constexpr int kPlateSide = 4096;
constexpr double kPlateK = 2.0 * 640 / (double(kPlateSide) * kPlateSide);

struct Plane
{
    int width = 0;
    int height = 0;
    std::vector<double> v;
    double at(int x, int y) const { return v[size_t(y) * width + x]; }
};

Plane lumaOf(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(0);
    const QImage image = reader.read().convertToFormat(QImage::Format_RGB32);
    Plane plane{image.width(), image.height(), {}};
    plane.v.reserve(size_t(image.width()) * image.height());
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            plane.v.push_back(0.299 * qRed(row[x]) + 0.587 * qGreen(row[x]) +
                              0.114 * qBlue(row[x]));
    }
    return plane;
}

double lanczos3(double x)
{
    const auto sinc = [](double t) {
        return t == 0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
    };
    return std::abs(x) < 3 ? sinc(x) * sinc(x / 3) : 0.0;
}

// Plane `in` resampled along x to `width`, the result transposed, so that
// calling it twice resamples both axes.
Plane resampleRowsTransposed(const Plane& in, int width)
{
    const double scale = double(in.width) / width;
    const double stretch = std::max(1.0, scale);
    Plane out{in.height, width, std::vector<double>(size_t(in.height) * width)};
    for (int x = 0; x < width; ++x) {
        const double centre = (x + 0.5) * scale;
        const int first = std::max(0, int(std::floor(centre - 3 * stretch)));
        const int last = std::min(in.width - 1, int(std::ceil(centre + 3 * stretch)));
        std::vector<double> weights;
        double sum = 0;
        for (int j = first; j <= last; ++j)
            sum += weights.emplace_back(lanczos3((j + 0.5 - centre) / stretch));
        for (int y = 0; y < in.height; ++y) {
            double value = 0;
            for (int j = first; j <= last; ++j)
                value += weights[size_t(j - first)] * in.at(j, y);
            out.v[size_t(x) * in.height + y] = value / sum;
        }
    }
    return out;
}

Plane reference(const Plane& full, int width, int height)
{
    Plane out = resampleRowsTransposed(resampleRowsTransposed(full, width), height);
    for (double& value : out.v)
        value = std::clamp(value, 0.0, 255.0);
    return out;
}

// `in` blurred by the 11-tap Gaussian of sigma 1.5 in both axes, keeping only
// the windows that lie inside.
Plane gaussian(const Plane& in)
{
    double kernel[11];
    double sum = 0;
    for (int i = 0; i < 11; ++i)
        sum += kernel[i] = std::exp(-(i - 5) * (i - 5) / (2 * 1.5 * 1.5));
    Plane across{in.width - 10, in.height, std::vector<double>(size_t(in.width - 10) * in.height)};
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < across.width; ++x) {
            double value = 0;
            for (int i = 0; i < 11; ++i)
                value += kernel[i] * in.at(x + i, y);
            across.v[size_t(y) * across.width + x] = value / sum;
        }
    Plane out{across.width, in.height - 10,
              std::vector<double>(size_t(across.width) * (in.height - 10))};
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            double value = 0;
            for (int i = 0; i < 11; ++i)
                value += kernel[i] * across.at(x, y + i);
            out.v[size_t(y) * out.width + x] = value / sum;
        }
    return out;
}

Plane product(const Plane& a, const Plane& b)
{
    Plane out = a;
    for (size_t i = 0; i < out.v.size(); ++i)
        out.v[i] *= b.v[i];
    return out;
}

double ssim(const Plane& a, const Plane& b)
{
    const double c1 = std::pow(0.01 * 255, 2);
    const double c2 = std::pow(0.03 * 255, 2);
    const Plane ma = gaussian(a), mb = gaussian(b);
    const Plane aa = gaussian(product(a, a)), bb = gaussian(product(b, b)),
                ab = gaussian(product(a, b));
    double total = 0;
    for (size_t i = 0; i < ma.v.size(); ++i) {
        const double mu = ma.v[i] * mb.v[i];
        const double va = aa.v[i] - ma.v[i] * ma.v[i];
        const double vb = bb.v[i] - mb.v[i] * mb.v[i];
        const double cov = ab.v[i] - mu;
        total += (2 * mu + c1) * (2 * cov + c2) /
                 ((ma.v[i] * ma.v[i] + mb.v[i] * mb.v[i] + c1) * (va + vb + c2));
    }
    return total / double(ma.v.size());
}

int printSsim(const QString& source, const QStringList& results)
{
    const Plane full = lumaOf(source);
    if (full.v.empty())
        return 1;
    std::map<std::pair<int, int>, Plane> references;
    for (const QString& path : results) {
        const Plane result = lumaOf(path);
        const auto key = std::make_pair(result.width, result.height);
        if (!references.contains(key))
            references.emplace(key, reference(full, result.width, result.height));
        std::printf("%lld %.5f %s\n", QFileInfo(path).size(), ssim(references.at(key), result),
                    qPrintable(path));
    }
    return 0;
}

int writeZonePlate(const QString& path)
{
    QImage plate(kPlateSide, kPlateSide, QImage::Format_Grayscale8);
    for (int y = 0; y < kPlateSide; ++y) {
        uchar* row = plate.scanLine(y);
        for (int x = 0; x < kPlateSide; ++x)
            row[x] = uchar(std::lround(127.5 + 127 * std::cos(std::numbers::pi * kPlateK *
                                                              (double(x) * x + double(y) * y))));
    }
    return plate.save(path, "PNG", 0) ? 0 : 1;
}

// Amplitude of the rings whose frequency in cycles per result pixel lies in
// [low, high], within a quarter circle of the source's side.
double bandAmplitude(const Plane& result, double low, double high)
{
    const double scale = double(kPlateSide) / result.width;
    double sum = 0, squares = 0;
    long count = 0;
    for (int y = 0; y < result.height; ++y)
        for (int x = 0; x < result.width; ++x) {
            const double r = std::hypot((x + 0.5) * scale, (y + 0.5) * scale);
            const double cycles = kPlateK * r * scale;
            if (cycles < low || cycles > high || r > kPlateSide)
                continue;
            sum += result.at(x, y);
            squares += result.at(x, y) * result.at(x, y);
            ++count;
        }
    const double mean = sum / double(count);
    return std::sqrt(2 * std::max(0.0, squares / double(count) - mean * mean));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QStringList args = application.arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (command == QLatin1String("ssim") && args.size() >= 2)
        return printSsim(args.takeFirst(), args);
    if (command == QLatin1String("zoneplate") && args.size() == 1)
        return writeZonePlate(args.first());
    if (command == QLatin1String("bands") && !args.isEmpty()) {
        for (const QString& path : args) {
            const Plane result = lumaOf(path);
            std::printf("%.1f %.1f %s\n", bandAmplitude(result, 0.30, 0.45),
                        bandAmplitude(result, 0.8, 1.2), qPrintable(path));
        }
        return 0;
    }
    std::fprintf(stderr, "usage: %s ssim SOURCE RESULT... | zoneplate OUT.png | bands RESULT...\n",
                 argv[0]);
    return 2;
}

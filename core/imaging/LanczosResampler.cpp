#include "imaging/LanczosResampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <numbers>
#include <vector>

// Fixed point throughout: weights carry 14 fraction bits and sum to exactly
// 1 << 14, so a flat area comes out as it went in; the rows between the two
// passes carry 6 fraction bits in 16-bit integers, enough to keep the ringing of
// the negative lobes and small enough that both passes multiply 16-bit numbers,
// which the compiler turns into vector code.
namespace {

constexpr int kWeightBits = 14;
constexpr int kRowBits = 6;
constexpr int kHorizontalShift = kWeightBits - kRowBits;
constexpr int kVerticalShift = kWeightBits + kRowBits;
constexpr double kLobes = 3.0;

double sinc(double x)
{
    if (x == 0.0)
        return 1.0;
    const double a = std::numbers::pi * x;
    return std::sin(a) / a;
}

double lanczos3(double x)
{
    return std::abs(x) < kLobes ? sinc(x) * sinc(x / kLobes) : 0.0;
}

// Which source samples make each target sample along one axis, and how much.
// Every target sample reads the same number of taps from `first` on, so the
// loops have no edge cases: at the picture's edges the window is moved inside
// and the weights of samples outside the filter's reach are zero.
struct AxisFilter
{
    int taps = 0;
    std::vector<int> first;
    std::vector<int16_t> weights;
};

// Rounds `exact` to fixed point so that the weights sum to exactly one; the
// rounding error goes to the largest weight, where it matters least.
void quantise(const double* exact, int16_t* out, int taps)
{
    int sum = 0;
    int largest = 0;
    for (int k = 0; k < taps; ++k) {
        out[k] = int16_t(std::lround(exact[k] * (1 << kWeightBits)));
        sum += out[k];
        if (out[k] > out[largest])
            largest = k;
    }
    out[largest] = int16_t(out[largest] + (1 << kWeightBits) - sum);
}

AxisFilter makeAxisFilter(int sourceLength, int targetLength)
{
    const double scale = double(sourceLength) / targetLength;
    const double stretch = std::max(1.0, scale);
    const double support = kLobes * stretch;
    AxisFilter filter;
    filter.taps = std::min(sourceLength, int(std::ceil(2 * support)) + 1);
    filter.first.resize(size_t(targetLength));
    filter.weights.resize(size_t(targetLength) * size_t(filter.taps));
    std::vector<double> exact(size_t(filter.taps));
    for (int i = 0; i < targetLength; ++i) {
        const double centre = (i + 0.5) * scale;
        const int reach = int(std::floor(centre - support - 0.5)) + 1;
        const int first = std::clamp(reach, 0, sourceLength - filter.taps);
        double sum = 0;
        for (int k = 0; k < filter.taps; ++k) {
            exact[size_t(k)] = lanczos3((first + k + 0.5 - centre) / stretch);
            sum += exact[size_t(k)];
        }
        // Near an edge part of the filter falls outside: the rest is renormalised.
        for (double& weight : exact)
            weight /= sum;
        filter.first[size_t(i)] = first;
        quantise(exact.data(), &filter.weights[size_t(i) * size_t(filter.taps)], filter.taps);
    }
    return filter;
}

// One source row (4 bytes a pixel) filtered along its length into `out`.
void filterRow(const uchar* in, int16_t* out, const AxisFilter& filter)
{
    const int taps = filter.taps;
    const size_t count = filter.first.size();
    for (size_t x = 0; x < count; ++x) {
        const uchar* pixel = in + size_t(filter.first[x]) * 4;
        const int16_t* weight = &filter.weights[x * size_t(taps)];
        int32_t sum[4] = {1 << (kHorizontalShift - 1), 1 << (kHorizontalShift - 1),
                          1 << (kHorizontalShift - 1), 1 << (kHorizontalShift - 1)};
        for (int k = 0; k < taps; ++k, pixel += 4)
            for (int c = 0; c < 4; ++c)
                sum[c] += int32_t(pixel[c]) * weight[k];
        for (int c = 0; c < 4; ++c)
            out[x * 4 + size_t(c)] = int16_t(sum[c] >> kHorizontalShift);
    }
}

// Adds one filtered row times `weight` to the sums of a target row: a loop over
// contiguous 16-bit samples, which the compiler vectorises.
void accumulateRow(int32_t* __restrict sums, const int16_t* __restrict row, int32_t weight,
                   size_t count)
{
    for (size_t i = 0; i < count; ++i)
        sums[i] += weight * row[i];
}

void storeRow(uchar* __restrict out, const int32_t* __restrict sums, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        out[i] = uchar(std::clamp(sums[i] >> kVerticalShift, 0, 255));
}

// Negative lobes may push a colour above its alpha, which premultiplied pixels
// cannot hold; an opaque picture keeps its filler byte at 255.
void fixAlpha(uchar* row, int width, bool premultiplied)
{
    for (int x = 0; x < width; ++x, row += 4) {
        if (!premultiplied) {
            row[3] = 255;
            continue;
        }
        for (int c = 0; c < 3; ++c)
            row[c] = std::min(row[c], row[3]);
    }
}

// Horizontal first, into a ring of as many filtered rows as the vertical filter
// reads for one target row; each source row is filtered once.
void resample(const QImage& source, QImage& target)
{
    const AxisFilter across = makeAxisFilter(source.width(), target.width());
    const AxisFilter down = makeAxisFilter(source.height(), target.height());
    const size_t samples = size_t(target.width()) * 4;
    const int ringRows = down.taps;
    std::vector<int16_t> ring(samples * size_t(ringRows));
    std::vector<int32_t> sums(samples);
    const bool premultiplied = source.format() == QImage::Format_ARGB32_Premultiplied;
    int nextRow = 0;
    for (int y = 0; y < target.height(); ++y) {
        const int first = down.first[size_t(y)];
        for (nextRow = std::max(nextRow, first); nextRow < first + ringRows; ++nextRow)
            filterRow(source.constScanLine(nextRow), &ring[size_t(nextRow % ringRows) * samples],
                      across);
        std::fill(sums.begin(), sums.end(), 1 << (kVerticalShift - 1));
        const int16_t* weight = &down.weights[size_t(y) * size_t(ringRows)];
        for (int k = 0; k < ringRows; ++k)
            accumulateRow(sums.data(), &ring[size_t((first + k) % ringRows) * samples], weight[k],
                          samples);
        uchar* out = target.scanLine(y);
        storeRow(out, sums.data(), samples);
        fixAlpha(out, target.width(), premultiplied);
    }
}

} // namespace

QImage resampleLanczos3(const QImage& picture, QSize size)
{
    Q_ASSERT(picture.format() == QImage::Format_RGB32 ||
             picture.format() == QImage::Format_ARGB32_Premultiplied);
    if (size.isEmpty() || picture.isNull())
        return QImage();
    QImage target(size, picture.format());
    if (target.isNull())
        return target;
    try {
        resample(picture, target);
    } catch (const std::bad_alloc&) {
        return QImage();
    }
    return target;
}

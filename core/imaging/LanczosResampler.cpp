#include "imaging/LanczosResampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <numbers>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Fixed point throughout: weights carry 14 fraction bits and sum to exactly
// 1 << 14, so a flat area comes out as it went in; the rows between the two
// passes carry 6 fraction bits in 16-bit integers, enough to keep the ringing of
// the negative lobes and small enough that both passes multiply 16-bit numbers,
// which the compiler turns into vector code.
namespace {

// The two passes are built twice, for AVX2 and for any x86-64, and the
// processor's best is chosen when the program starts: twice the lanes where
// the processor has them, and still running where it has not. Not in the
// thread-sanitised build, whose runtime is not ready when the choice is made.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define PICTAVO_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define PICTAVO_VECTOR_CLONES
#endif

constexpr int kWeightBits = 14;
constexpr int kRowBits = 6;
constexpr int kDownShift = kWeightBits - kRowBits;
constexpr int kAcrossShift = kWeightBits + kRowBits;
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

// Target row `y` filtered down from the source rows the filter reads, for
// every source column, into `out`: contiguous bytes times one weight a row,
// in blocks small enough that the sums stay in the first-level cache.
PICTAVO_VECTOR_CLONES void filterDown(const QImage& source, const AxisFilter& down, int y, int16_t* out)
{
    constexpr size_t kBlock = 1024;
    const size_t samples = size_t(source.width()) * 4;
    const int16_t* weights = &down.weights[size_t(y) * size_t(down.taps)];
    const int first = down.first[size_t(y)];
    int32_t sums[kBlock];
    for (size_t start = 0; start < samples; start += kBlock) {
        const size_t count = std::min(kBlock, samples - start);
        std::fill_n(sums, count, 1 << (kDownShift - 1));
        // Two rows at a time halve the traffic through the sums.
        int k = 0;
        for (; k + 1 < down.taps; k += 2) {
            const uchar* __restrict upper = source.constScanLine(first + k) + start;
            const uchar* __restrict lower = source.constScanLine(first + k + 1) + start;
            const int16_t upperWeight = weights[k];
            const int16_t lowerWeight = weights[k + 1];
            for (size_t i = 0; i < count; ++i)
                sums[i] += int32_t(upperWeight) * int16_t(upper[i]) +
                           int32_t(lowerWeight) * int16_t(lower[i]);
        }
        if (k < down.taps) {
            const uchar* __restrict row = source.constScanLine(first + k) + start;
            const int16_t weight = weights[k];
            for (size_t i = 0; i < count; ++i)
                sums[i] += int32_t(weight) * int16_t(row[i]);
        }
        for (size_t i = 0; i < count; ++i)
            out[start + i] = int16_t(sums[i] >> kDownShift);
    }
}

// One filtered row (4 samples a pixel) filtered along its length into the
// target's row, clamped to bytes.
#if defined(__SSE2__)
// Two taps at a time: the samples of two neighbouring pixels interleaved
// channel by channel, so that one multiply-add (pmaddwd) weighs both and sums
// them for all four channels.
void filterAcross(const int16_t* in, uchar* out, const AxisFilter& across)
{
    const int taps = across.taps;
    const size_t count = across.first.size();
    const __m128i rounding = _mm_set1_epi32(1 << (kAcrossShift - 1));
    for (size_t x = 0; x < count; ++x) {
        const int16_t* pixel = in + size_t(across.first[x]) * 4;
        const int16_t* weight = &across.weights[x * size_t(taps)];
        __m128i sum = rounding;
        int k = 0;
        for (; k + 1 < taps; k += 2, pixel += 8) {
            const __m128i pair = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel));
            const __m128i interleaved = _mm_unpacklo_epi16(pair, _mm_srli_si128(pair, 8));
            const __m128i weights =
                _mm_set1_epi32(int32_t(uint16_t(weight[k])) | (int32_t(weight[k + 1]) << 16));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(interleaved, weights));
        }
        if (k < taps) {
            const __m128i last = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel));
            const __m128i interleaved = _mm_unpacklo_epi16(last, _mm_setzero_si128());
            sum = _mm_add_epi32(sum, _mm_madd_epi16(interleaved, _mm_set1_epi32(uint16_t(weight[k]))));
        }
        const __m128i shifted = _mm_srai_epi32(sum, kAcrossShift);
        const __m128i words = _mm_packs_epi32(shifted, shifted);
        const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        std::memcpy(out + x * 4, &bytes, 4);
    }
}
#else
void filterAcross(const int16_t* in, uchar* out, const AxisFilter& across)
{
    const int taps = across.taps;
    const size_t count = across.first.size();
    for (size_t x = 0; x < count; ++x) {
        const int16_t* pixel = in + size_t(across.first[x]) * 4;
        const int16_t* weight = &across.weights[x * size_t(taps)];
        int32_t sum[4] = {1 << (kAcrossShift - 1), 1 << (kAcrossShift - 1), 1 << (kAcrossShift - 1),
                          1 << (kAcrossShift - 1)};
        for (int k = 0; k < taps; ++k, pixel += 4)
            for (int c = 0; c < 4; ++c)
                sum[c] += int32_t(pixel[c]) * weight[k];
        for (int c = 0; c < 4; ++c)
            out[x * 4 + size_t(c)] = uchar(std::clamp(sum[c] >> kAcrossShift, 0, 255));
    }
}
#endif

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

// Vertical first: the pass over every source pixel reads whole rows of bytes,
// which vectorises best, and the pass along the rows, which gathers, runs only
// on the target's rows. Besides the result it keeps one row of the source's width.
void resample(const QImage& source, QImage& target)
{
    const AxisFilter across = makeAxisFilter(source.width(), target.width());
    const AxisFilter down = makeAxisFilter(source.height(), target.height());
    std::vector<int16_t> row(size_t(source.width()) * 4);
    const bool premultiplied = source.format() == QImage::Format_ARGB32_Premultiplied;
    for (int y = 0; y < target.height(); ++y) {
        filterDown(source, down, y, row.data());
        uchar* out = target.scanLine(y);
        filterAcross(row.data(), out, across);
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

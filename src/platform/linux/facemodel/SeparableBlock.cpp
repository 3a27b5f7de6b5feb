#include "platform/linux/facemodel/SeparableBlock.h"

#include <algorithm>
#include <cstddef>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TAVRINE_SEPARABLE_BLOCK_AVX2 1
#endif

namespace tavrine {

namespace {

#ifdef TAVRINE_SEPARABLE_BLOCK_AVX2

constexpr int kTaps = 9;
// A band holds about this many outputs of each channel: enough for the 1x1 convolution's 16-wide steps,
// few enough that the band stays in the cache between the two convolutions.
constexpr int kBandValues = 512;

// The depthwise convolution of rows [y0, y1) of every channel, into band[c * n + (y - y0) * width + x]
// (n = (y1 - y0) * width). Each channel's rows y0 - 1 to y1 are first copied into `padded` with a zero
// column on either side (and as zero rows outside the map), so every output is the same nine sums.
__attribute__((target("avx2,fma"))) void depthwiseBand(const SeparableBlock& b, const float* in, int height,
                                                       int width, int y0, int y1, float* band,
                                                       float* padded) {
    const int paddedWidth = width + 2, n = (y1 - y0) * width;
    for (int c = 0; c < b.channels; ++c) {
        const float* plane = in + static_cast<std::ptrdiff_t>(c) * height * width;
        for (int y = y0 - 1; y <= y1; ++y) {
            float* row = padded + static_cast<std::ptrdiff_t>(y - y0 + 1) * paddedWidth;
            row[0] = row[width + 1] = 0.0f;
            if (y < 0 || y >= height) {
                std::fill_n(row + 1, width, 0.0f);
            } else {
                std::copy_n(plane + static_cast<std::ptrdiff_t>(y) * width, width, row + 1);
            }
        }
        const float* k = b.depthwise.data() + static_cast<std::ptrdiff_t>(c) * kTaps;
        const float bias = b.depthwiseBias[static_cast<std::size_t>(c)];
        const __m256 k0 = _mm256_set1_ps(k[0]), k1 = _mm256_set1_ps(k[1]), k2 = _mm256_set1_ps(k[2]),
                     k3 = _mm256_set1_ps(k[3]), k4 = _mm256_set1_ps(k[4]), k5 = _mm256_set1_ps(k[5]),
                     k6 = _mm256_set1_ps(k[6]), k7 = _mm256_set1_ps(k[7]), k8 = _mm256_set1_ps(k[8]),
                     vb = _mm256_set1_ps(bias);
        for (int y = y0; y < y1; ++y) {
            const float* r0 = padded + static_cast<std::ptrdiff_t>(y - y0) * paddedWidth;
            const float* r1 = r0 + paddedWidth;
            const float* r2 = r1 + paddedWidth;
            float* out =
                band + static_cast<std::ptrdiff_t>(c) * n + static_cast<std::ptrdiff_t>(y - y0) * width;
            int x = 0;
            for (; x + 8 <= width; x += 8) {
                __m256 s = _mm256_fmadd_ps(_mm256_loadu_ps(r0 + x), k0, vb);
                s = _mm256_fmadd_ps(_mm256_loadu_ps(r0 + x + 1), k1, s);
                s = _mm256_fmadd_ps(_mm256_loadu_ps(r0 + x + 2), k2, s);
                s = _mm256_fmadd_ps(_mm256_loadu_ps(r1 + x), k3, s);
                s = _mm256_fmadd_ps(_mm256_loadu_ps(r1 + x + 1), k4, s);
                s = _mm256_fmadd_ps(_mm256_loadu_ps(r1 + x + 2), k5, s);
                s = _mm256_fmadd_ps(_mm256_loadu_ps(r2 + x), k6, s);
                s = _mm256_fmadd_ps(_mm256_loadu_ps(r2 + x + 1), k7, s);
                s = _mm256_fmadd_ps(_mm256_loadu_ps(r2 + x + 2), k8, s);
                _mm256_storeu_ps(out + x, s);
            }
            for (; x < width; ++x) {
                out[x] = bias + k[0] * r0[x] + k[1] * r0[x + 1] + k[2] * r0[x + 2] + k[3] * r1[x] +
                         k[4] * r1[x + 1] + k[5] * r1[x + 2] + k[6] * r2[x] + k[7] * r2[x + 1] +
                         k[8] * r2[x + 2];
            }
        }
    }
}

// One output vector of the 1x1 convolution at `at`: the input added back and the clamp, then stored.
__attribute__((target("avx2,fma"))) inline void finish(const SeparableBlock& b, const float* in, float* out,
                                                       int o, std::ptrdiff_t at, __m256 sum) {
    if (b.addInput && o < b.channels) {
        sum = _mm256_add_ps(sum, _mm256_loadu_ps(in + at));
    }
    if (b.clampAtZero) {
        // maxps gives its second operand where either is not a number: a NaN stays a NaN, as in OpenCV's
        // own layer, and a damaged model still shows as one.
        sum = _mm256_max_ps(_mm256_setzero_ps(), sum);
    }
    _mm256_storeu_ps(out + at, sum);
}

// The 1x1 convolution of the band's n outputs per channel, the input added back and the clamp, written at
// `offset` of each output plane.
__attribute__((target("avx2,fma"))) void pointwiseBand(const SeparableBlock& b, const float* in, float* out,
                                                       std::ptrdiff_t plane, std::ptrdiff_t offset, int n,
                                                       const float* band) {
    const int channels = b.channels;
    const float* weights = b.pointwise.data();
    auto one = [&](int o, int x) {
        float sum = b.pointwiseBias[static_cast<std::size_t>(o)];
        for (int c = 0; c < channels; ++c) {
            sum += weights[o * channels + c] * band[static_cast<std::ptrdiff_t>(c) * n + x];
        }
        const std::ptrdiff_t at = o * plane + offset + x;
        sum += b.addInput && o < b.channels ? in[at] : 0.0f;
        out[at] = b.clampAtZero ? std::max(sum, 0.0f) : sum;
    };
    int o = 0;
    // Four outputs by sixteen values: eight accumulators, each weight loaded once for 16 values.
    for (; o + 4 <= b.outChannels; o += 4) {
        const float* w0 = weights + static_cast<std::ptrdiff_t>(o) * channels;
        const float* w1 = w0 + channels;
        const float* w2 = w1 + channels;
        const float* w3 = w2 + channels;
        int x = 0;
        for (; x + 16 <= n; x += 16) {
            __m256 a0 = _mm256_set1_ps(b.pointwiseBias[static_cast<std::size_t>(o)]), a1 = a0;
            __m256 b0 = _mm256_set1_ps(b.pointwiseBias[static_cast<std::size_t>(o + 1)]), b1 = b0;
            __m256 c0 = _mm256_set1_ps(b.pointwiseBias[static_cast<std::size_t>(o + 2)]), c1 = c0;
            __m256 d0 = _mm256_set1_ps(b.pointwiseBias[static_cast<std::size_t>(o + 3)]), d1 = d0;
            const float* v = band + x;
            for (int c = 0; c < channels; ++c, v += n) {
                const __m256 lo = _mm256_loadu_ps(v), hi = _mm256_loadu_ps(v + 8);
                __m256 w = _mm256_set1_ps(w0[c]);
                a0 = _mm256_fmadd_ps(w, lo, a0);
                a1 = _mm256_fmadd_ps(w, hi, a1);
                w = _mm256_set1_ps(w1[c]);
                b0 = _mm256_fmadd_ps(w, lo, b0);
                b1 = _mm256_fmadd_ps(w, hi, b1);
                w = _mm256_set1_ps(w2[c]);
                c0 = _mm256_fmadd_ps(w, lo, c0);
                c1 = _mm256_fmadd_ps(w, hi, c1);
                w = _mm256_set1_ps(w3[c]);
                d0 = _mm256_fmadd_ps(w, lo, d0);
                d1 = _mm256_fmadd_ps(w, hi, d1);
            }
            finish(b, in, out, o, o * plane + offset + x, a0);
            finish(b, in, out, o, o * plane + offset + x + 8, a1);
            finish(b, in, out, o + 1, (o + 1) * plane + offset + x, b0);
            finish(b, in, out, o + 1, (o + 1) * plane + offset + x + 8, b1);
            finish(b, in, out, o + 2, (o + 2) * plane + offset + x, c0);
            finish(b, in, out, o + 2, (o + 2) * plane + offset + x + 8, c1);
            finish(b, in, out, o + 3, (o + 3) * plane + offset + x, d0);
            finish(b, in, out, o + 3, (o + 3) * plane + offset + x + 8, d1);
        }
        for (; x < n; ++x) {
            for (int i = 0; i < 4; ++i) {
                one(o + i, x);
            }
        }
    }
    for (; o < b.outChannels; ++o) {
        for (int x = 0; x < n; ++x) {
            one(o, x);
        }
    }
}

#endif

} // namespace

bool SeparableBlock::supported() {
#ifdef TAVRINE_SEPARABLE_BLOCK_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return avx2;
#else
    return false;
#endif
}

void SeparableBlock::run(const float* in, float* out, int height, int width) const {
#ifdef TAVRINE_SEPARABLE_BLOCK_AVX2
    if (height <= 0 || width <= 0) {
        return;
    }
    const int rows = std::clamp(kBandValues / width, 1, height);
    band_.resize(static_cast<std::size_t>(channels) * rows * width);
    padded_.resize(static_cast<std::size_t>(rows + 2) * (width + 2));
    const std::ptrdiff_t plane = static_cast<std::ptrdiff_t>(height) * width;
    for (int y0 = 0; y0 < height; y0 += rows) {
        const int y1 = std::min(height, y0 + rows);
        depthwiseBand(*this, in, height, width, y0, y1, band_.data(), padded_.data());
        pointwiseBand(*this, in, out, plane, static_cast<std::ptrdiff_t>(y0) * width, (y1 - y0) * width,
                      band_.data());
    }
#else
    (void)in;
    (void)out;
    (void)height;
    (void)width;
#endif
}

} // namespace tavrine

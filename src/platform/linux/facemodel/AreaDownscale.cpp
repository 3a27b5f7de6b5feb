#include "platform/linux/facemodel/AreaDownscale.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tavrine {

namespace {

struct Tap {
    int source;
    float weight;
};

// For each of `to` output positions, the source positions its area covers and their shares of it:
// firsts[d] to firsts[d + 1] in taps.
void areaTaps(int from, int to, std::vector<int>& firsts, std::vector<Tap>& taps) {
    const double scale = static_cast<double>(from) / to;
    firsts.assign(1, 0);
    taps.clear();
    for (int d = 0; d < to; ++d) {
        const double begin = d * scale, end = std::min<double>(begin + scale, from);
        for (int s = static_cast<int>(std::floor(begin)); s < from && s < end; ++s) {
            const double covered = std::min<double>(end, s + 1) - std::max<double>(begin, s);
            // Edges that fall on a whole pixel but for rounding add nothing.
            if (covered > 1e-6) {
                taps.push_back({s, static_cast<float>(covered / scale)});
            }
        }
        firsts.push_back(static_cast<int>(taps.size()));
    }
}

template <int C> void downscale(const cv::Mat& src, cv::Mat& dst) {
    std::vector<int> colFirsts, rowFirsts;
    std::vector<Tap> colTaps, rowTaps;
    areaTaps(src.cols, dst.cols, colFirsts, colTaps);
    areaTaps(src.rows, dst.rows, rowFirsts, rowTaps);
    const std::size_t rowValues = static_cast<std::size_t>(dst.cols) * C;
    // Source rows reduced across, kept while the output rows that read them are made: an output row reads
    // at most ceil(ratio) + 1 consecutive rows, and the ring keeps more than that.
    const int slots = 4 + static_cast<int>(std::ceil(static_cast<double>(src.rows) / dst.rows));
    std::vector<float> across(static_cast<std::size_t>(slots) * rowValues);
    std::vector<int> rowIn(static_cast<std::size_t>(slots), -1);
    std::vector<float> sum(rowValues);
    auto reduced = [&](int y) -> const float* {
        const std::size_t slot = static_cast<std::size_t>(y % slots);
        float* out = across.data() + slot * rowValues;
        if (rowIn[slot] != y) {
            rowIn[slot] = y;
            const unsigned char* row = src.ptr<unsigned char>(y);
            const Tap* tap = colTaps.data();
#ifdef __SSE2__
            if constexpr (C == 4) {
                // A pixel's four values widened to floats in one register.
                const __m128i zero = _mm_setzero_si128();
                for (int x = 0; x < dst.cols; ++x) {
                    __m128 acc = _mm_setzero_ps();
                    for (const Tap* end = colTaps.data() + colFirsts[static_cast<std::size_t>(x) + 1];
                         tap < end; ++tap) {
                        int bytes;
                        std::memcpy(&bytes, row + static_cast<std::ptrdiff_t>(tap->source) * 4, 4);
                        const __m128i wide =
                            _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
                        acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(tap->weight), _mm_cvtepi32_ps(wide)));
                    }
                    _mm_storeu_ps(out + static_cast<std::ptrdiff_t>(x) * 4, acc);
                }
                return out;
            }
#endif
            for (int x = 0; x < dst.cols; ++x) {
                float acc[C] = {};
                for (const Tap* end = colTaps.data() + colFirsts[static_cast<std::size_t>(x) + 1]; tap < end;
                     ++tap) {
                    const unsigned char* px = row + static_cast<std::ptrdiff_t>(tap->source) * C;
                    for (int c = 0; c < C; ++c) {
                        acc[c] += tap->weight * static_cast<float>(px[c]);
                    }
                }
                for (int c = 0; c < C; ++c) {
                    out[static_cast<std::ptrdiff_t>(x) * C + c] = acc[c];
                }
            }
        }
        return out;
    };
    for (int y = 0; y < dst.rows; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (int t = rowFirsts[static_cast<std::size_t>(y)]; t < rowFirsts[static_cast<std::size_t>(y) + 1];
             ++t) {
            const Tap& tap = rowTaps[static_cast<std::size_t>(t)];
            const float* row = reduced(tap.source);
            float* acc = sum.data();
            std::size_t i = 0;
#ifdef __SSE2__
            const __m128 w = _mm_set1_ps(tap.weight);
            for (; i + 4 <= rowValues; i += 4) {
                _mm_storeu_ps(acc + i,
                              _mm_add_ps(_mm_loadu_ps(acc + i), _mm_mul_ps(w, _mm_loadu_ps(row + i))));
            }
#endif
            for (; i < rowValues; ++i) {
                acc[i] += tap.weight * row[i];
            }
        }
        unsigned char* out = dst.ptr<unsigned char>(y);
        for (std::size_t i = 0; i < rowValues; ++i) {
            out[i] = cv::saturate_cast<unsigned char>(sum[i]);
        }
    }
}

} // namespace

void areaDownscale(const cv::Mat& src, cv::Mat& dst) {
    CV_Assert(src.depth() == CV_8U && src.type() == dst.type() && src.channels() <= 4 && !dst.empty() &&
              !src.empty());
    if (dst.cols >= src.cols || dst.rows >= src.rows) {
        cv::Mat scaled;
        cv::resize(src, scaled, dst.size(), 0, 0, cv::INTER_AREA);
        scaled.copyTo(dst);
        return;
    }
    switch (src.channels()) {
    case 1:
        return downscale<1>(src, dst);
    case 2:
        return downscale<2>(src, dst);
    case 3:
        return downscale<3>(src, dst);
    default:
        return downscale<4>(src, dst);
    }
}

} // namespace tavrine

#include "platform/linux/facemodel/StemConvolution.h"

#include "platform/linux/facemodel/SeparableBlock.h"

#include <algorithm>
#include <cstddef>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TAVRINE_STEM_AVX2 1
#endif

namespace tavrine {

namespace {

constexpr int kC = StemConvolution::inChannels;
constexpr int kK = StemConvolution::taps;
// Four output maps at a time, each with its own broadcast weight per tap.
constexpr int kGroup = 4;

#ifdef TAVRINE_STEM_AVX2

// Output columns [x, x + 8 * V) of the row whose taps' input rows are even[c * kK + ky] (the even columns
// of that row) and odd[...], for maps [o0, o0 + 4). `w`: the group's weights, tap by tap, four per tap.
template <int V>
__attribute__((target("avx2,fma"))) inline void columns(const float* const* even, const float* const* odd,
                                                        const float* w, const float* bias, int x,
                                                        float* const* rows, bool clamp) {
    __m256 acc[kGroup][V];
    for (int j = 0; j < kGroup; ++j) {
        for (int v = 0; v < V; ++v) {
            acc[j][v] = _mm256_set1_ps(bias[j]);
        }
    }
    for (int c = 0; c < kC; ++c) {
#pragma GCC unroll 5
        for (int ky = 0; ky < kK; ++ky) {
            const float* e = even[c * kK + ky] + x;
            const float* o = odd[c * kK + ky] + x;
#pragma GCC unroll 5
            for (int kx = 0; kx < kK; ++kx) {
                // Input column 2 * (x + i) + kx: an even column for even kx, an odd one for odd kx.
                const float* src = (kx % 2 == 0 ? e : o) + kx / 2;
                __m256 in[V];
                for (int v = 0; v < V; ++v) {
                    in[v] = _mm256_loadu_ps(src + 8 * v);
                }
#pragma GCC unroll 4
                for (int j = 0; j < kGroup; ++j) {
                    const __m256 wj = _mm256_broadcast_ss(w + j);
                    for (int v = 0; v < V; ++v) {
                        acc[j][v] = _mm256_fmadd_ps(wj, in[v], acc[j][v]);
                    }
                }
                w += kGroup;
            }
        }
    }
    const __m256 zero = _mm256_setzero_ps();
    for (int j = 0; j < kGroup; ++j) {
        for (int v = 0; v < V; ++v) {
            // max(0, NaN) is NaN in this operand order, as the clamp layer leaves it. (A sum of minus
            // infinity gives 0 where the clamp layer gives NaN: the check at load finds such a model and
            // keeps OpenCV's layers.)
            _mm256_storeu_ps(rows[j] + x + 8 * v, clamp ? _mm256_max_ps(zero, acc[j][v]) : acc[j][v]);
        }
    }
}

__attribute__((target("avx2,fma"))) void runRows(const StemConvolution& s, const float* in, int height,
                                                 int width, float* out, const float* even, const float* odd,
                                                 int half, const float* grouped) {
    const int outHeight = (height - kK) / 2 + 1, outWidth = (width - kK) / 2 + 1;
    const std::size_t plane = static_cast<std::size_t>(outHeight) * outWidth;
    const float* evenRows[kC * kK];
    const float* oddRows[kC * kK];
    float* rows[kGroup];
    const int vectors = outWidth / 8 * 8;
    for (int oy = 0; oy < outHeight; ++oy) {
        for (int c = 0; c < kC; ++c) {
            for (int ky = 0; ky < kK; ++ky) {
                const std::size_t row = (static_cast<std::size_t>(c) * height + 2 * oy + ky) * half;
                evenRows[c * kK + ky] = even + row;
                oddRows[c * kK + ky] = odd + row;
            }
        }
        for (int o0 = 0; o0 < s.outChannels; o0 += kGroup) {
            const float* w = grouped + static_cast<std::size_t>(o0) * kC * kK * kK;
            for (int j = 0; j < kGroup; ++j) {
                rows[j] = out + (o0 + j) * plane + static_cast<std::size_t>(oy) * outWidth;
            }
            int x = 0;
            for (; x + 24 <= vectors; x += 24) {
                columns<3>(evenRows, oddRows, w, s.bias.data() + o0, x, rows, s.clampAtZero);
            }
            for (; x < vectors; x += 8) {
                columns<1>(evenRows, oddRows, w, s.bias.data() + o0, x, rows, s.clampAtZero);
            }
            // The last columns, fewer than 8, one at a time.
            for (; x < outWidth; ++x) {
                for (int j = 0; j < kGroup; ++j) {
                    const int o = o0 + j;
                    float sum = s.bias[static_cast<std::size_t>(o)];
                    for (int c = 0; c < kC; ++c) {
                        for (int ky = 0; ky < kK; ++ky) {
                            const float* r =
                                in + (static_cast<std::size_t>(c) * height + 2 * oy + ky) * width;
                            for (int kx = 0; kx < kK; ++kx) {
                                sum +=
                                    s.weights[((static_cast<std::size_t>(o) * kC + c) * kK + ky) * kK + kx] *
                                    r[2 * x + kx];
                            }
                        }
                    }
                    rows[j][x] = s.clampAtZero && sum < 0.0f ? 0.0f : sum;
                }
            }
        }
    }
}

#endif

bool allOf(const std::vector<std::size_t>& values, std::size_t size, std::size_t value) {
    return values.size() == size &&
           std::all_of(values.begin(), values.end(), [&](std::size_t v) { return v == value; });
}

} // namespace

bool StemConvolution::supported() {
    // The same vectors as the blocks.
    return SeparableBlock::supported();
}

void StemConvolution::run(const float* in, int height, int width, float* out) const {
#ifdef TAVRINE_STEM_AVX2
    if (height < kK || width < kK || outChannels <= 0 || outChannels % kGroup != 0) {
        return;
    }
    // Each input row split into its even and its odd columns, then zeros as a margin (no tap reads past
    // the row's own columns).
    const int half = (width + 1) / 2 + 8;
    const std::size_t rows = static_cast<std::size_t>(kC) * height;
    even_.resize(rows * half);
    odd_.resize(rows * half);
    for (std::size_t r = 0; r < rows; ++r) {
        const float* src = in + r * width;
        float* e = even_.data() + r * half;
        float* o = odd_.data() + r * half;
        int i = 0;
        for (; 2 * i + 1 < width; ++i) {
            e[i] = src[2 * i];
            o[i] = src[2 * i + 1];
        }
        std::fill(o + i, o + half, 0.0f);
        if (2 * i < width) {
            e[i] = src[2 * i];
            ++i;
        }
        std::fill(e + i, e + half, 0.0f);
    }
    // The weights of each group of four maps, tap by tap, the four maps' weights of a tap side by side.
    const std::size_t perMap = static_cast<std::size_t>(kC) * kK * kK;
    grouped_.resize(weights.size());
    for (int o0 = 0; o0 < outChannels; o0 += kGroup) {
        for (std::size_t t = 0; t < perMap; ++t) {
            for (int j = 0; j < kGroup; ++j) {
                grouped_[o0 * perMap + t * kGroup + j] = weights[(o0 + j) * perMap + t];
            }
        }
    }
    runRows(*this, in, height, width, out, even_.data(), odd_.data(), half, grouped_.data());
#else
    (void)in;
    (void)height;
    (void)width;
    (void)out;
#endif
}

cv::Ptr<cv::dnn::Layer> StemConvolutionLayer::createFor(const cv::dnn::LayerParams& params,
                                                        const cv::Ptr<cv::dnn::BaseConvolutionLayer>& own) {
    if (!StemConvolution::supported() || params.blobs.empty()) {
        return nullptr;
    }
    const cv::Mat& w = params.blobs[0];
    const int maps = w.dims == 4 ? w.size[0] : 0;
    const bool shape = w.type() == CV_32F && w.isContinuous() && maps > 0 && maps % kGroup == 0 &&
                       w.size[1] == kC && w.size[2] == kK && w.size[3] == kK &&
                       params.get<int>("group", 1) == 1;
    const bool plain = own->padMode.empty() && allOf(own->kernel_size, 2, kK) && allOf(own->strides, 2, 2) &&
                       allOf(own->dilations, 2, 1) && allOf(own->pads_begin, 2, 0) &&
                       allOf(own->pads_end, 2, 0);
    const bool bias = params.blobs.size() < 2 ||
                      (params.blobs[1].type() == CV_32F && static_cast<int>(params.blobs[1].total()) == maps);
    if (!shape || !plain || !bias) {
        return nullptr;
    }
    StemConvolution stem;
    stem.outChannels = maps;
    stem.weights.assign(w.ptr<float>(), w.ptr<float>() + w.total());
    if (params.blobs.size() > 1) {
        const cv::Mat b = params.blobs[1].reshape(1, 1);
        stem.bias.assign(b.ptr<float>(), b.ptr<float>() + b.total());
    } else {
        stem.bias.assign(static_cast<std::size_t>(maps), 0.0f);
    }
    return cv::Ptr<cv::dnn::Layer>(new StemConvolutionLayer(params, own, std::move(stem)));
}

StemConvolutionLayer::StemConvolutionLayer(const cv::dnn::LayerParams& params,
                                           cv::Ptr<cv::dnn::BaseConvolutionLayer> own, StemConvolution stem)
    : StandInLayer(params, std::move(own)), stem_(std::move(stem)) {}

void StemConvolutionLayer::finalize(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs) {
    // A network set up again fuses its layers again.
    stem_.clampAtZero = false;
    own_->finalize(inputs, outputs);
}

bool StemConvolutionLayer::tryFuse(cv::Ptr<cv::dnn::Layer>& top) {
    const auto relu = top.dynamicCast<cv::dnn::ReLULayer>();
    if (stem_.clampAtZero || !relu || relu->negativeSlope != 0.0f ||
        preferableTarget != cv::dnn::DNN_TARGET_CPU) {
        return false;
    }
    stem_.clampAtZero = true;
    return true;
}

void StemConvolutionLayer::forward(cv::InputArrayOfArrays inputsArr, cv::OutputArrayOfArrays outputsArr,
                                   cv::OutputArrayOfArrays internalsArr) {
    std::vector<cv::Mat> inputs, outputs;
    if (!ourRun(preferableTarget == cv::dnn::DNN_TARGET_CPU, inputsArr, outputsArr, internalsArr, inputs,
                outputs)) {
        return;
    }
    CV_Assert(inputs.size() == 1 && outputs.size() == 1 && inputs[0].dims == 4 && outputs[0].dims == 4 &&
              inputs[0].size[1] == kC && inputs[0].size[2] >= kK && inputs[0].size[3] >= kK &&
              outputs[0].size[0] == inputs[0].size[0] && outputs[0].size[1] == stem_.outChannels &&
              outputs[0].size[2] == (inputs[0].size[2] - kK) / 2 + 1 &&
              outputs[0].size[3] == (inputs[0].size[3] - kK) / 2 + 1 && outputs[0].type() == CV_32F &&
              inputs[0].isContinuous() && outputs[0].isContinuous());
    const cv::Mat in = apartFrom(inputs[0], outputs[0]);
    const int height = in.size[2], width = in.size[3];
    const std::size_t inImage = static_cast<std::size_t>(kC) * height * width;
    const std::size_t outImage =
        static_cast<std::size_t>(stem_.outChannels) * outputs[0].size[2] * outputs[0].size[3];
    for (int n = 0; n < in.size[0]; ++n) {
        stem_.run(in.ptr<float>() + n * inImage, height, width, outputs[0].ptr<float>() + n * outImage);
    }
}

} // namespace tavrine

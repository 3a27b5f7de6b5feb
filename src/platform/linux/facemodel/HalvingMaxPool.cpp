#include "platform/linux/facemodel/HalvingMaxPool.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tavrine {

namespace {

bool allOf(const std::vector<std::size_t>& values, std::size_t size, std::size_t value) {
    return values.size() == size &&
           std::all_of(values.begin(), values.end(), [&](std::size_t v) { return v == value; });
}

} // namespace

cv::Ptr<cv::dnn::Layer> HalvingMaxPoolLayer::createFor(const cv::dnn::LayerParams& params) {
    std::string pool = params.get<cv::String>("pool", "max");
    std::transform(pool.begin(), pool.end(), pool.begin(), [](unsigned char c) { return std::tolower(c); });
    const cv::Ptr<cv::dnn::PoolingLayer> own = cv::dnn::PoolingLayer::create(params);
    const bool halving = pool == "max" && !own->globalPooling && own->padMode.empty() && !own->ceilMode &&
                         allOf(own->kernel_size, 2, 2) && allOf(own->strides, 2, 2) &&
                         allOf(own->pads_begin, 2, 0) && allOf(own->pads_end, 2, 0);
    if (!halving) {
        return nullptr;
    }
    return cv::Ptr<cv::dnn::Layer>(new HalvingMaxPoolLayer(params, own));
}

void HalvingMaxPoolLayer::halve(const float* in, int height, int width, float* out) {
    const int outHeight = height / 2, outWidth = width / 2;
    for (int y = 0; y < outHeight; ++y) {
        const float* r0 = in + static_cast<std::ptrdiff_t>(2 * y) * width;
        const float* r1 = r0 + width;
        float* o = out + static_cast<std::ptrdiff_t>(y) * outWidth;
        int x = 0;
#ifdef __SSE2__
        // Eight values of each row give four outputs: the rows' maxima, then those of the pairs.
        for (; x + 4 <= outWidth; x += 4) {
            const __m128 lo = _mm_max_ps(_mm_loadu_ps(r0 + 2 * x), _mm_loadu_ps(r1 + 2 * x));
            const __m128 hi = _mm_max_ps(_mm_loadu_ps(r0 + 2 * x + 4), _mm_loadu_ps(r1 + 2 * x + 4));
            _mm_storeu_ps(o + x, _mm_max_ps(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)),
                                            _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))));
        }
#endif
        for (; x < outWidth; ++x) {
            o[x] = std::max(std::max(r0[2 * x], r0[2 * x + 1]), std::max(r1[2 * x], r1[2 * x + 1]));
        }
    }
}

HalvingMaxPoolLayer::HalvingMaxPoolLayer(const cv::dnn::LayerParams& params,
                                         cv::Ptr<cv::dnn::PoolingLayer> own)
    : StandInLayer(params, std::move(own)) {}

void HalvingMaxPoolLayer::finalize(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs) {
    own_->finalize(inputs, outputs);
}

void HalvingMaxPoolLayer::forward(cv::InputArrayOfArrays inputsArr, cv::OutputArrayOfArrays outputsArr,
                                  cv::OutputArrayOfArrays internalsArr) {
    std::vector<cv::Mat> inputs, outputs;
    if (inputsArr.depth() == CV_32F && preferableTarget == cv::dnn::DNN_TARGET_CPU) {
        inputsArr.getMatVector(inputs);
        outputsArr.getMatVector(outputs);
    }
    // Only the plain case: one map of floats in, one out, no positions of the maxima asked for.
    const bool plain = inputs.size() == 1 && outputs.size() == 1 && inputs[0].dims == 4 &&
                       outputs[0].dims == 4 && outputs[0].type() == CV_32F && inputs[0].isContinuous() &&
                       outputs[0].isContinuous() && outputs[0].size[0] == inputs[0].size[0] &&
                       outputs[0].size[1] == inputs[0].size[1] &&
                       outputs[0].size[2] == inputs[0].size[2] / 2 &&
                       outputs[0].size[3] == inputs[0].size[3] / 2 && inputs[0].data != outputs[0].data;
    if (!plain) {
        own_->forward(inputsArr, outputsArr, internalsArr);
        return;
    }
    const int planes = inputs[0].size[0] * inputs[0].size[1];
    const int height = inputs[0].size[2], width = inputs[0].size[3];
    const std::size_t inPlane = static_cast<std::size_t>(height) * width;
    const std::size_t outPlane = static_cast<std::size_t>(height / 2) * (width / 2);
    for (int p = 0; p < planes; ++p) {
        halve(inputs[0].ptr<float>() + p * inPlane, height, width, outputs[0].ptr<float>() + p * outPlane);
    }
}

} // namespace tavrine

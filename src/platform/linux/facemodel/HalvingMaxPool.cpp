#include "platform/linux/facemodel/HalvingMaxPool.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <limits>
#include <string>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tavrine {

namespace {

constexpr float kLowest = -std::numeric_limits<float>::max();

bool allOf(const std::vector<std::size_t>& values, std::size_t size, std::size_t value) {
    return values.size() == size &&
           std::all_of(values.begin(), values.end(), [&](std::size_t v) { return v == value; });
}

} // namespace

cv::Ptr<cv::dnn::Layer> HalvingMaxPoolLayer::create(cv::dnn::LayerParams& params) {
    std::string pool = params.get<cv::String>("pool", "max");
    std::transform(pool.begin(), pool.end(), pool.begin(), [](unsigned char c) { return std::tolower(c); });
    const cv::Ptr<cv::dnn::PoolingLayer> own = cv::dnn::PoolingLayer::create(params);
    const bool halving = pool == "max" && !own->globalPooling && own->padMode.empty() && !own->ceilMode &&
                         allOf(own->kernel_size, 2, 2) && allOf(own->strides, 2, 2) &&
                         allOf(own->pads_begin, 2, 0) && allOf(own->pads_end, 2, 0);
    if (!halving) {
        return own;
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
        // Each maximum starts from the lowest finite float and takes a value only where it is larger:
        // maxps gives its second operand when the first is not a number, and so does std::max.
#ifdef __SSE2__
        // Eight values of each row give four outputs: the rows' maxima, then those of the pairs.
        const __m128 lowest = _mm_set1_ps(kLowest);
        for (; x + 4 <= outWidth; x += 4) {
            const __m128 lo =
                _mm_max_ps(_mm_loadu_ps(r1 + 2 * x), _mm_max_ps(_mm_loadu_ps(r0 + 2 * x), lowest));
            const __m128 hi =
                _mm_max_ps(_mm_loadu_ps(r1 + 2 * x + 4), _mm_max_ps(_mm_loadu_ps(r0 + 2 * x + 4), lowest));
            _mm_storeu_ps(o + x, _mm_max_ps(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)),
                                            _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))));
        }
#endif
        for (; x < outWidth; ++x) {
            float largest = kLowest;
            for (const float v : {r0[2 * x], r0[2 * x + 1], r1[2 * x], r1[2 * x + 1]}) {
                largest = std::max(largest, v);
            }
            o[x] = largest;
        }
    }
}

HalvingMaxPoolLayer::HalvingMaxPoolLayer(const cv::dnn::LayerParams& params,
                                         cv::Ptr<cv::dnn::PoolingLayer> own)
    : StandInLayer(params, std::move(own)) {}

void HalvingMaxPoolLayer::finalize(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs) {
    own_->finalize(inputs, outputs);
    std::vector<cv::Mat> ins, outs;
    inputs.getMatVector(ins);
    outputs.getMatVector(outs);
    // A pooling whose positions of the maxima are asked for (a second output) stays OpenCV's.
    mine_ = ins.size() == 1 && outs.size() == 1 && ins[0].dims == 4 && outs[0].dims == 4 &&
            outs[0].size[0] == ins[0].size[0] && outs[0].size[1] == ins[0].size[1] &&
            outs[0].size[2] == ins[0].size[2] / 2 && outs[0].size[3] == ins[0].size[3] / 2;
}

void HalvingMaxPoolLayer::forward(cv::InputArrayOfArrays inputsArr, cv::OutputArrayOfArrays outputsArr,
                                  cv::OutputArrayOfArrays internalsArr) {
    std::vector<cv::Mat> inputs, outputs;
    if (!ourRun(mine_ && preferableTarget == cv::dnn::DNN_TARGET_CPU, inputsArr, outputsArr, internalsArr,
                inputs, outputs)) {
        return;
    }
    CV_Assert(inputs.size() == 1 && outputs.size() == 1 && inputs[0].dims == 4 && outputs[0].dims == 4 &&
              outputs[0].type() == CV_32F && inputs[0].isContinuous() && outputs[0].isContinuous() &&
              outputs[0].size[0] == inputs[0].size[0] && outputs[0].size[1] == inputs[0].size[1] &&
              outputs[0].size[2] == inputs[0].size[2] / 2 && outputs[0].size[3] == inputs[0].size[3] / 2 &&
              inputs[0].data != outputs[0].data);
    const int planes = inputs[0].size[0] * inputs[0].size[1];
    const int height = inputs[0].size[2], width = inputs[0].size[3];
    const std::size_t inPlane = static_cast<std::size_t>(height) * width;
    const std::size_t outPlane = static_cast<std::size_t>(height / 2) * (width / 2);
    for (int p = 0; p < planes; ++p) {
        halve(inputs[0].ptr<float>() + p * inPlane, height, width, outputs[0].ptr<float>() + p * outPlane);
    }
}

} // namespace tavrine

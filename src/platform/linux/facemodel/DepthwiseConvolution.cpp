#include "platform/linux/facemodel/DepthwiseConvolution.h"

#include "platform/linux/facemodel/HalvingMaxPool.h"
#include "platform/linux/facemodel/StemConvolution.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/dnn/all_layers.hpp>
#include <opencv2/dnn/layer.hpp>

#include <algorithm>
#include <cmath>

namespace tavrine {

namespace {

constexpr int kTaps = 3;
// Room after a padded plane for the stride-2 loads, which read one column past their last tap.
constexpr int kSlack = 8;

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}

// Whether the Scope alive (the registry's mutex held) lets its layers fuse blocks.
bool scopeFusesBlocks = false;

bool allOf(const std::vector<std::size_t>& values, std::size_t size, std::size_t low, std::size_t high) {
    return values.size() == size &&
           std::all_of(values.begin(), values.end(), [&](std::size_t v) { return v >= low && v <= high; });
}

} // namespace

bool DepthwiseConvolution::standsIn() {
    return cv::getVersionMajor() == 4 && cv::getVersionMinor() == 6;
}

DepthwiseConvolution::Scope::Scope(bool fuseBlocks) : lock_(registryMutex()) {
    if (standsIn()) {
        scopeFusesBlocks = fuseBlocks;
        cv::dnn::LayerFactory::registerLayer("Convolution", &DepthwiseConvolution::create);
        if (fuseBlocks) {
            try {
                cv::dnn::LayerFactory::registerLayer("Pooling", &HalvingMaxPoolLayer::create);
            } catch (...) {
                // The destructor of a Scope not made does not run: leave the registry as it was.
                cv::dnn::LayerFactory::unregisterLayer("Convolution");
                scopeFusesBlocks = false;
                throw;
            }
        }
    }
}

DepthwiseConvolution::Scope::~Scope() {
    if (standsIn()) {
        cv::dnn::LayerFactory::unregisterLayer("Convolution");
        if (scopeFusesBlocks) {
            cv::dnn::LayerFactory::unregisterLayer("Pooling");
        }
        scopeFusesBlocks = false;
    }
}

cv::dnn::Net DepthwiseConvolution::readChecked(const std::function<cv::dnn::Net()>& read,
                                               const std::vector<int>& inputShape,
                                               const std::vector<std::string>& outputs, bool& agreed) {
    cv::Mat input(inputShape, CV_32F);
    cv::RNG rng(1973);
    rng.fill(input, cv::RNG::UNIFORM, -1.0, 1.0);
    const std::vector<cv::String> names(outputs.begin(), outputs.end());
    auto run = [&](cv::dnn::Net& net) {
        net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        net.setInput(input);
        std::vector<cv::Mat> outs;
        net.forward(outs, names);
        return outs;
    };
    cv::dnn::Net ours;
    std::vector<cv::Mat> got;
    {
        // The layers are made while the network is read, and fused when its first run sets it up.
        const Scope scope(true);
        ours = read();
        if (ours.empty()) {
            agreed = true;
            return ours;
        }
        got = run(ours);
    }
    agreed = true;
    const auto layers = layersOf(ours);
    if (std::none_of(layers.begin(), layers.end(), [](const auto& l) { return l->layersTakenIn() > 0; }) &&
        layersOf<StemConvolutionLayer>(ours).empty() && layersOf<HalvingMaxPoolLayer>(ours).empty()) {
        return ours;
    }
    // Read under the registry's lock too, so that no Scope of another thread gives it this layer.
    std::unique_lock registry(registryMutex());
    cv::dnn::Net opencvs = read();
    const std::vector<cv::Mat> expected = run(opencvs);
    registry.unlock();
    agreed = got.size() == expected.size();
    for (std::size_t i = 0; agreed && i < got.size(); ++i) {
        agreed = got[i].size == expected[i].size && got[i].type() == CV_32F && expected[i].type() == CV_32F &&
                 got[i].isContinuous() && expected[i].isContinuous();
        if (!agreed) {
            break;
        }
        const float* g = got[i].ptr<float>();
        const float* e = expected[i].ptr<float>();
        const std::size_t count = expected[i].total();
        float scale = 1.0f;
        for (std::size_t k = 0; k < count; ++k) {
            scale = std::isfinite(e[k]) ? std::max(scale, std::abs(e[k])) : scale;
        }
        // The sums only differ in their order: a few thousandths on outputs of a few units. Values that are
        // not numbers (a damaged model, which its loader reports) must be so at the same places.
        for (std::size_t k = 0; agreed && k < count; ++k) {
            agreed = std::isfinite(g[k]) == std::isfinite(e[k]) &&
                     (!std::isfinite(e[k]) || std::abs(g[k] - e[k]) <= 1e-3f * scale);
        }
    }
    return agreed ? ours : opencvs;
}

cv::Ptr<cv::dnn::Layer> DepthwiseConvolution::create(cv::dnn::LayerParams& params) {
    cv::Ptr<cv::dnn::BaseConvolutionLayer> own = cv::dnn::ConvolutionLayer::create(params);
    if (params.blobs.empty()) {
        return own;
    }
    const cv::Mat& w = params.blobs[0];
    const int channels = w.dims == 4 ? w.size[0] : 0;
    const bool depthwise = w.type() == CV_32F && w.isContinuous() && channels > 0 && w.size[1] == 1 &&
                           w.size[2] == kTaps && w.size[3] == kTaps &&
                           params.get<int>("group", 1) == channels;
    const bool plain = own->kernel_size.size() == 2 && own->padMode.empty() &&
                       allOf(own->dilations, 2, 1, 1) && allOf(own->strides, 2, 1, 2) &&
                       own->strides[0] == own->strides[1] && allOf(own->pads_begin, 2, 0, kTaps - 1) &&
                       allOf(own->pads_end, 2, 0, kTaps - 1);
    const bool bias = params.blobs.size() < 2 || (params.blobs[1].type() == CV_32F &&
                                                  static_cast<int>(params.blobs[1].total()) == channels);
    if (!depthwise && scopeFusesBlocks) {
        // The network's first layer, which a fusing Scope also runs itself.
        if (cv::Ptr<cv::dnn::Layer> stem = StemConvolutionLayer::createFor(params, own)) {
            return stem;
        }
    }
    if (!depthwise || !plain || !bias) {
        return own;
    }
    return cv::Ptr<cv::dnn::Layer>(new DepthwiseConvolution(params, own, scopeFusesBlocks));
}

DepthwiseConvolution::DepthwiseConvolution(const cv::dnn::LayerParams& params,
                                           cv::Ptr<cv::dnn::BaseConvolutionLayer> own, bool fuseBlocks)
    : StandInLayer(params, std::move(own)), weights_(params.blobs[0].clone()),
      bias_(params.blobs.size() > 1 ? params.blobs[1].clone().reshape(1, 1)
                                    : cv::Mat::zeros(1, params.blobs[0].size[0], CV_32F)),
      channels_(params.blobs[0].size[0]), stride_(static_cast<int>(own_->strides[0])),
      padTop_(static_cast<int>(own_->pads_begin[0])), padLeft_(static_cast<int>(own_->pads_begin[1])),
      padBottom_(static_cast<int>(own_->pads_end[0])), padRight_(static_cast<int>(own_->pads_end[1])),
      fuseBlocks_(fuseBlocks) {}

void DepthwiseConvolution::finalize(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs) {
    // A network set up again (other outputs, another input size) runs unfused: only the first set-up is
    // the one its reader checked.
    block_.reset();
    fuseBlocks_ = fuseBlocks_ && ++setups_ == 1;
    own_->finalize(inputs, outputs);
    std::vector<cv::Mat> outs;
    outputs.getMatVector(outs);
    mine_ = outs.size() == 1 && outs[0].dims == 4 && outs[0].size[2] * outs[0].size[3] <= largestPlane;
}

bool DepthwiseConvolution::tryFuse(cv::Ptr<cv::dnn::Layer>& top) {
    if (!block_) {
        // The 1x1 convolution of the block, on this layer's every channel, the map's size kept.
        // (A transposed convolution is a BaseConvolutionLayer too, and even a ConvolutionLayer: its type
        // tells it apart.)
        const auto conv = top.dynamicCast<cv::dnn::BaseConvolutionLayer>();
        if (!fuseBlocks_ || preferableTarget != cv::dnn::DNN_TARGET_CPU || stride_ != 1 || padTop_ != 1 ||
            padLeft_ != 1 || padBottom_ != 1 || padRight_ != 1 || !conv || conv->type != "Convolution" ||
            conv->blobs.empty() || !SeparableBlock::supported()) {
            return false;
        }
        const cv::Mat& w = conv->blobs[0];
        const bool shape = w.dims == 4 && w.type() == CV_32F && w.isContinuous() && w.size[0] > 0 &&
                           w.size[1] == channels_ && w.size[2] == 1 && w.size[3] == 1;
        const bool plain = shape && conv->padMode.empty() && allOf(conv->kernel_size, 2, 1, 1) &&
                           allOf(conv->strides, 2, 1, 1) && allOf(conv->dilations, 2, 1, 1) &&
                           allOf(conv->pads_begin, 2, 0, 0) && allOf(conv->pads_end, 2, 0, 0);
        const bool bias = conv->blobs.size() < 2 || (conv->blobs[1].type() == CV_32F &&
                                                     static_cast<int>(conv->blobs[1].total()) == w.size[0]);
        if (!plain || !bias) {
            return false;
        }
        SeparableBlock block;
        block.channels = channels_;
        block.outChannels = w.size[0];
        block.depthwise.assign(weights_.ptr<float>(), weights_.ptr<float>() + weights_.total());
        block.depthwiseBias.assign(bias_.ptr<float>(), bias_.ptr<float>() + bias_.total());
        block.pointwise.assign(w.ptr<float>(), w.ptr<float>() + w.total());
        if (conv->blobs.size() > 1) {
            const cv::Mat b = conv->blobs[1].reshape(1, 1);
            block.pointwiseBias.assign(b.ptr<float>(), b.ptr<float>() + b.total());
        } else {
            block.pointwiseBias.assign(static_cast<std::size_t>(block.outChannels), 0.0f);
        }
        block_ = std::move(block);
        return true;
    }
    // Then the sum with the block's input, padded with channels of zeros when the block widens the map
    // (BlazeFace's only two-input layer after a 1x1 convolution; the loader checks the fused network against
    // OpenCV's own), and the clamp at zero.
    if (!block_->addInput && !block_->clampAtZero && block_->outChannels >= channels_ &&
        top->type == "Eltwise" && top.dynamicCast<cv::dnn::EltwiseLayer>()) {
        block_->addInput = true;
        return true;
    }
    const auto relu = top.dynamicCast<cv::dnn::ReLULayer>();
    if (!block_->clampAtZero && relu && relu->negativeSlope == 0.0f) {
        block_->clampAtZero = true;
        return true;
    }
    return false;
}

void DepthwiseConvolution::forward(cv::InputArrayOfArrays inputsArr, cv::OutputArrayOfArrays outputsArr,
                                   cv::OutputArrayOfArrays internalsArr) {
    if (block_) {
        std::vector<cv::Mat> inputs, outputs;
        inputsArr.getMatVector(inputs);
        outputsArr.getMatVector(outputs);
        // Fused only on the processor, in single precision.
        CV_Assert(inputs.size() == 1 && inputs[0].type() == CV_32F && outputs.size() == 1 &&
                  inputs[0].dims == 4 && outputs[0].dims == 4 && inputs[0].size[1] == channels_ &&
                  outputs[0].size[0] == inputs[0].size[0] && outputs[0].size[1] == block_->outChannels &&
                  outputs[0].size[2] == inputs[0].size[2] && outputs[0].size[3] == inputs[0].size[3] &&
                  outputs[0].type() == CV_32F && inputs[0].isContinuous() && outputs[0].isContinuous());
        const int height = inputs[0].size[2], width = inputs[0].size[3];
        // The block reads rows of its input after writing the rows before them.
        const cv::Mat in = apartFrom(inputs[0], outputs[0]);
        const std::size_t inImage = static_cast<std::size_t>(channels_) * height * width;
        const std::size_t outImage = static_cast<std::size_t>(block_->outChannels) * height * width;
        for (int n = 0; n < in.size[0]; ++n) {
            block_->run(in.ptr<float>() + n * inImage, outputs[0].ptr<float>() + n * outImage, height, width);
        }
        return;
    }
    std::vector<cv::Mat> inputs, outputs;
    if (!ourRun(mine_, inputsArr, outputsArr, internalsArr, inputs, outputs)) {
        return;
    }
    CV_Assert(inputs.size() == 1 && outputs.size() == 1 && inputs[0].dims == 4 && outputs[0].dims == 4 &&
              inputs[0].size[1] == channels_ && outputs[0].size[1] == channels_ &&
              outputs[0].type() == CV_32F && inputs[0].isContinuous() && outputs[0].isContinuous());
    const cv::Mat& in = inputs[0];
    cv::Mat& out = outputs[0];
    const int height = in.size[2], width = in.size[3], outHeight = out.size[2], outWidth = out.size[3];
    const int paddedHeight = height + padTop_ + padBottom_, paddedWidth = width + padLeft_ + padRight_;
    CV_Assert(outHeight == (paddedHeight - kTaps) / stride_ + 1 &&
              outWidth == (paddedWidth - kTaps) / stride_ + 1);
    // Each plane is copied into a zeroed frame first, so that every output is the same nine sums.
    padded_.assign(static_cast<std::size_t>(paddedHeight) * paddedWidth + kSlack, 0.0f);
    const float* weights = weights_.ptr<float>();
    const float* bias = bias_.ptr<float>();
    for (int n = 0; n < in.size[0]; ++n) {
        for (int c = 0; c < channels_; ++c) {
            const std::size_t plane = static_cast<std::size_t>(n) * channels_ + c;
            const float* src = in.ptr<float>() + plane * height * width;
            for (int y = 0; y < height; ++y) {
                std::copy_n(src + static_cast<std::ptrdiff_t>(y) * width, width,
                            padded_.data() + static_cast<std::ptrdiff_t>(y + padTop_) * paddedWidth +
                                padLeft_);
            }
            convolvePlane(padded_.data(), paddedWidth, out.ptr<float>() + plane * outHeight * outWidth,
                          outHeight, outWidth, weights + c * kTaps * kTaps, bias[c], stride_);
        }
    }
}

void DepthwiseConvolution::convolvePlane(const float* padded, int paddedWidth, float* out, int outHeight,
                                         int outWidth, const float* w, float bias, int stride) {
    for (int y = 0; y < outHeight; ++y) {
        const float* r0 = padded + static_cast<std::ptrdiff_t>(y) * stride * paddedWidth;
        const float* r1 = r0 + paddedWidth;
        const float* r2 = r1 + paddedWidth;
        float* o = out + static_cast<std::ptrdiff_t>(y) * outWidth;
        int x = 0;
#if CV_SIMD128
        const cv::v_float32x4 w0 = cv::v_setall_f32(w[0]), w1 = cv::v_setall_f32(w[1]),
                              w2 = cv::v_setall_f32(w[2]), w3 = cv::v_setall_f32(w[3]),
                              w4 = cv::v_setall_f32(w[4]), w5 = cv::v_setall_f32(w[5]),
                              w6 = cv::v_setall_f32(w[6]), w7 = cv::v_setall_f32(w[7]),
                              w8 = cv::v_setall_f32(w[8]), b = cv::v_setall_f32(bias);
        if (stride == 1) {
            for (; x + 4 <= outWidth; x += 4) {
                cv::v_float32x4 s = b;
                s = cv::v_muladd(cv::v_load(r0 + x), w0, s);
                s = cv::v_muladd(cv::v_load(r0 + x + 1), w1, s);
                s = cv::v_muladd(cv::v_load(r0 + x + 2), w2, s);
                s = cv::v_muladd(cv::v_load(r1 + x), w3, s);
                s = cv::v_muladd(cv::v_load(r1 + x + 1), w4, s);
                s = cv::v_muladd(cv::v_load(r1 + x + 2), w5, s);
                s = cv::v_muladd(cv::v_load(r2 + x), w6, s);
                s = cv::v_muladd(cv::v_load(r2 + x + 1), w7, s);
                s = cv::v_muladd(cv::v_load(r2 + x + 2), w8, s);
                cv::v_store(o + x, s);
            }
        } else {
            // Stride 2: the even and odd columns of 8, and the even ones of the 8 two columns on, are the
            // three taps of 4 outputs. The second load reads one column past the last tap: the padded plane
            // has room for it.
            for (; x + 4 <= outWidth; x += 4) {
                const int c = 2 * x;
                cv::v_float32x4 s = b, even, odd, even2, odd2;
                cv::v_load_deinterleave(r0 + c, even, odd);
                cv::v_load_deinterleave(r0 + c + 2, even2, odd2);
                s = cv::v_muladd(even, w0, s);
                s = cv::v_muladd(odd, w1, s);
                s = cv::v_muladd(even2, w2, s);
                cv::v_load_deinterleave(r1 + c, even, odd);
                cv::v_load_deinterleave(r1 + c + 2, even2, odd2);
                s = cv::v_muladd(even, w3, s);
                s = cv::v_muladd(odd, w4, s);
                s = cv::v_muladd(even2, w5, s);
                cv::v_load_deinterleave(r2 + c, even, odd);
                cv::v_load_deinterleave(r2 + c + 2, even2, odd2);
                s = cv::v_muladd(even, w6, s);
                s = cv::v_muladd(odd, w7, s);
                s = cv::v_muladd(even2, w8, s);
                cv::v_store(o + x, s);
            }
        }
#endif
        for (; x < outWidth; ++x) {
            const int c = x * stride;
            o[x] = bias + w[0] * r0[c] + w[1] * r0[c + 1] + w[2] * r0[c + 2] + w[3] * r1[c] +
                   w[4] * r1[c + 1] + w[5] * r1[c + 2] + w[6] * r2[c] + w[7] * r2[c + 1] + w[8] * r2[c + 2];
        }
    }
}

} // namespace tavrine

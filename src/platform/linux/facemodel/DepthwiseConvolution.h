#pragma once

#include <opencv2/dnn.hpp>
#include <opencv2/dnn/all_layers.hpp>

#include "platform/linux/facemodel/SeparableBlock.h"
#include "platform/linux/facemodel/StandInLayer.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavrine {

// A 3x3 depthwise convolution (one filter per channel, no dilation) for OpenCV's DNN module, on small maps.
//
// OpenCV 4.6 runs such a layer through its general convolution, which pays a fixed cost per channel: on
// the 16x16 and 8x8 maps of the BlazeFace networks a 96-channel layer took 0.19 ms for 55 thousand
// multiply-adds, and the depthwise layers on those maps made a third of the short-range network's time.
// This layer does the same sums with 4-wide vectors on one thread: 0.02 ms for that layer. On maps larger
// than 32x32 OpenCV's own layer, which uses the widest vectors of the machine, is as fast or faster:
// there it runs in this layer's place.
//
// A stride-1 layer read by readChecked also takes in, where the processor can run a SeparableBlock, the
// 1x1 convolution that follows it and then the addition of its input and the clamp at zero that close the
// block: the whole block then runs in one pass, at any map size.
//
// That fusion is only safe as checked. OpenCV plans the network's memory on the layers as they were read,
// then lets the fused layer write the sum's output where the depthwise layer ran: a layer running between
// the two whose memory the sum's output reuses would read it overwritten, and nothing in a layer tells
// which map the sum adds or whether it adds at all. So the fused network is compared once with OpenCV's
// own, for the outputs and the input size it will run with, and a network set up again (other outputs,
// another size) runs its blocks unfused. A network read by readChecked also gets a StemConvolutionLayer
// for its first layer and HalvingMaxPoolLayers for its 2x2 max poolings, checked with the rest.
class DepthwiseConvolution final : public StandInLayer<cv::dnn::BaseConvolutionLayer> {
  public:
    // Whether this OpenCV is the one these layers were written against (4.6): they stand in for OpenCV's
    // own layers only there. Later versions plan and fuse their layers otherwise (and run depthwise
    // convolutions faster themselves).
    static bool standsIn();

    // While a Scope lives, networks read in this process get this layer for their 3x3 depthwise
    // convolutions (where standsIn()); every other convolution stays OpenCV's own. With `fuseBlocks`
    // (readChecked only), the layers also take in the block after them on their first set-up, a stem
    // convolution gets a StemConvolutionLayer and a halving max pooling a HalvingMaxPoolLayer. Scopes are
    // taken one at a time: the layer registry is global to the process.
    class Scope {
      public:
        explicit Scope(bool fuseBlocks = false);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        std::unique_lock<std::mutex> lock_;
    };

    // Reads a network with `read` inside a fusing Scope and runs it once on a fixed pseudo-random input of
    // `inputShape`; where blocks were fused or any layer of ours taken, reads it again without them and
    // compares their `outputs`. A network where they differ beyond rounding, or not at the same places
    // where values are not numbers, gets OpenCV's own layers, and `agreed` says so. The network returned must
    // then run with those outputs and that input size, as a face model does.
    static cv::dnn::Net readChecked(const std::function<cv::dnn::Net()>& read,
                                    const std::vector<int>& inputShape,
                                    const std::vector<std::string>& outputs, bool& agreed);

    // The layers of `net` that are this layer (or another of ours: StemConvolutionLayer,
    // HalvingMaxPoolLayer), in the network's order.
    template <class L = DepthwiseConvolution> static std::vector<cv::Ptr<L>> layersOf(cv::dnn::Net& net) {
        std::vector<cv::Ptr<L>> layers;
        for (const cv::String& name : net.getLayerNames()) {
            if (auto layer = net.getLayer(net.getLayerId(name)).template dynamicCast<L>()) {
                layers.push_back(layer);
            }
        }
        return layers;
    }

    // The largest output map (height x width) this layer computes itself.
    static constexpr int largestPlane = 32 * 32;

    // OpenCV's own convolution for whatever this layer does not do.
    static cv::Ptr<cv::dnn::Layer> create(cv::dnn::LayerParams& params);

    // Whether this layer does the sums itself (known once the network is set up) or OpenCV's own layer does.
    bool computesItself() const { return mine_ || block_.has_value(); }
    // How many of the layers after it it runs: 0, the 1x1 convolution, then the addition of its input and
    // the clamp at zero (3: the whole block).
    int layersTakenIn() const {
        return block_ ? 1 + (block_->addInput ? 1 : 0) + (block_->clampAtZero ? 1 : 0) : 0;
    }

    void finalize(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs) override;
    // Called by OpenCV once the network is set up, while this layer's output (or that of the last layer
    // taken in) feeds one layer only: with that layer, which may have other inputs too.
    bool tryFuse(cv::Ptr<cv::dnn::Layer>& top) override;
    void forward(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs,
                 cv::OutputArrayOfArrays internals) override;

    // One channel, zero padding already in place: output (y, x) is the sum of the 3x3 window at
    // (y * stride, x * stride) of `padded`, weighted by `w` (row by row), plus `bias`. For stride 2 the
    // plane must be readable 8 floats past its end.
    static void convolvePlane(const float* padded, int paddedWidth, float* out, int outHeight, int outWidth,
                              const float* w, float bias, int stride);

  private:
    DepthwiseConvolution(const cv::dnn::LayerParams& params, cv::Ptr<cv::dnn::BaseConvolutionLayer> own,
                         bool fuseBlocks);

    cv::Mat weights_; // channels x 1 x 3 x 3
    cv::Mat bias_;    // 1 x channels
    int channels_;
    int stride_;
    int padTop_, padLeft_, padBottom_, padRight_;
    bool mine_ = false; // decided once the map's size is known
    std::vector<float> padded_;
    bool fuseBlocks_; // made in a fusing Scope and not yet set up twice
    int setups_ = 0;
    std::optional<SeparableBlock> block_; // the layers taken in, from the 1x1 convolution on
};

} // namespace tavrine

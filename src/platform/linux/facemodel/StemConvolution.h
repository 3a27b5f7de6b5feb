#pragma once

#include <opencv2/dnn.hpp>
#include <opencv2/dnn/all_layers.hpp>

#include "platform/linux/facemodel/StandInLayer.h"

#include <vector>

namespace tavrine {

// The first layer of the BlazeFace networks: a 5x5 convolution with stride 2 from the three colour channels
// to a multiple of four maps, optionally with negative values cut to zero. The networks pad the image
// with a layer of their own before it, so it adds no padding.
//
// OpenCV 4.6 runs it through its general convolution, which with three input channels multiplies short
// rows: it was the full-range network's costliest layer (1.8 ms of 9.9) and a fifth of the short-range
// network's. Here each output row is four maps by 24 columns at a time in twelve 8-wide sums, reading the
// input's even and odd columns split apart once, so that every tap is one plain load: half the time.
struct StemConvolution {
    static constexpr int inChannels = 3;
    static constexpr int taps = 5;
    int outChannels = 0;        // a multiple of 4
    std::vector<float> weights; // outChannels x inChannels x taps x taps
    std::vector<float> bias;    // outChannels
    bool clampAtZero = false;

    // Whether this processor runs it (x86-64 with AVX2 and FMA).
    static bool supported();

    // in: inChannels x height x width floats; out: outChannels x outHeight x outWidth, where
    // outHeight = (height - taps) / 2 + 1 and outWidth likewise; they must not overlap. Only where
    // supported(), with height and width at least `taps`.
    void run(const float* in, int height, int width, float* out) const;

  private:
    mutable std::vector<float> even_, odd_, grouped_;
};

// The layer that runs a StemConvolution in a network in place of OpenCV's own convolution (given at
// creation, which still plans the memory and runs it where the input is not single precision), and takes
// in the clamp at zero after it.
class StemConvolutionLayer final : public StandInLayer<cv::dnn::BaseConvolutionLayer> {
  public:
    // The layer for a convolution that is such a stem, on a processor that runs it; null otherwise.
    static cv::Ptr<cv::dnn::Layer> createFor(const cv::dnn::LayerParams& params,
                                             const cv::Ptr<cv::dnn::BaseConvolutionLayer>& own);

    bool clampsAtZero() const { return stem_.clampAtZero; }

    void finalize(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs) override;
    bool tryFuse(cv::Ptr<cv::dnn::Layer>& top) override;
    void forward(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs,
                 cv::OutputArrayOfArrays internals) override;

  private:
    StemConvolutionLayer(const cv::dnn::LayerParams& params, cv::Ptr<cv::dnn::BaseConvolutionLayer> own,
                         StemConvolution stem);

    StemConvolution stem_;
};

} // namespace tavrine

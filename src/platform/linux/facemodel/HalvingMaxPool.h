#pragma once

#include <opencv2/dnn.hpp>
#include <opencv2/dnn/all_layers.hpp>

#include "platform/linux/facemodel/StandInLayer.h"

namespace tavrine {

// The 2x2 max pooling with stride 2 that halves the maps of the BlazeFace networks' widening blocks (the
// branch that carries a block's input past its stride-2 convolution).
//
// OpenCV 4.6's pooling layer works one output at a time through its general windows: 0.23 ms to halve
// the full-range network's 24 maps of 128x128, as long as the stride-2 convolution beside it. Here four
// outputs come from two rows of eight values in a few vector maxima.
//
// The layer stands in for OpenCV's own only in a network read by DepthwiseConvolution::readChecked, which
// compares it with OpenCV's; OpenCV's layer still plans its memory, and runs where the pooling asks for
// the positions of its maxima or its input is not single precision. As OpenCV's, it passes over values
// that are not numbers and gives the lowest finite float for a block of minus infinities.
class HalvingMaxPoolLayer final : public StandInLayer<cv::dnn::PoolingLayer> {
  public:
    // This layer for a 2x2, stride-2 max pooling without padding, OpenCV's own for any other pooling.
    static cv::Ptr<cv::dnn::Layer> create(cv::dnn::LayerParams& params);

    // Whether the layer halves its maps itself (known once the network is set up) or OpenCV's layer does.
    bool halvesItself() const { return mine_; }

    // One plane: out (height / 2 x width / 2) holds the largest of each 2x2 block of in (height x width),
    // an odd last row or column left out.
    static void halve(const float* in, int height, int width, float* out);

    void finalize(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs) override;
    void forward(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs,
                 cv::OutputArrayOfArrays internals) override;

  private:
    HalvingMaxPoolLayer(const cv::dnn::LayerParams& params, cv::Ptr<cv::dnn::PoolingLayer> own);

    bool mine_ = false; // one output, the plain halved map
};

} // namespace tavrine

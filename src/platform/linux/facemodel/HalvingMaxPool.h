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
// compares it with OpenCV's; OpenCV's layer (given at creation) still plans its memory, and runs where the
// pooling is any other or asks for the positions of its maxima.
class HalvingMaxPoolLayer final : public StandInLayer<cv::dnn::PoolingLayer> {
  public:
    // The layer for a 2x2, stride-2 max pooling without padding; null for any other pooling.
    static cv::Ptr<cv::dnn::Layer> createFor(const cv::dnn::LayerParams& params);

    // One plane: out (height / 2 x width / 2) holds the largest of each 2x2 block of in (height x width),
    // an odd last row or column left out.
    static void halve(const float* in, int height, int width, float* out);

    void finalize(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs) override;
    void forward(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs,
                 cv::OutputArrayOfArrays internals) override;

  private:
    HalvingMaxPoolLayer(const cv::dnn::LayerParams& params, cv::Ptr<cv::dnn::PoolingLayer> own);
};

} // namespace tavrine

#pragma once

#include <opencv2/dnn.hpp>

#include <utility>
#include <vector>

namespace tavrine {

// A layer of ours in a network in place of OpenCV's own of the same kind (`Own`, made from the same
// parameters), which still plans the layer's memory and runs wherever ours does not: on other backends'
// data, other precisions, other shapes.
template <class Own> class StandInLayer : public cv::dnn::Layer {
  public:
    bool supportBackend(int backendId) override { return backendId == cv::dnn::DNN_BACKEND_OPENCV; }

    bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int requiredOutputs,
                         std::vector<cv::dnn::MatShape>& outputs,
                         std::vector<cv::dnn::MatShape>& internals) const override {
        return own_->getMemoryShapes(inputs, requiredOutputs, outputs, internals);
    }

  protected:
    StandInLayer(const cv::dnn::LayerParams& params, cv::Ptr<Own> own)
        : cv::dnn::Layer(params), own_(std::move(own)) {}

    cv::Ptr<Own> own_;
};

} // namespace tavrine

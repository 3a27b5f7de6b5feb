#pragma once

#include <opencv2/dnn.hpp>

#include <opencv2/core/mat.hpp>

#include <cstdint>
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
    // The start of a run: where `ours` is false or the input is not single precision, OpenCV's layer runs
    // it and this returns false; otherwise the maps are unpacked for ours.
    bool ourRun(bool ours, cv::InputArrayOfArrays inputsArr, cv::OutputArrayOfArrays outputsArr,
                cv::OutputArrayOfArrays internalsArr, std::vector<cv::Mat>& inputs,
                std::vector<cv::Mat>& outputs) {
        if (!ours || inputsArr.depth() != CV_32F) {
            own_->forward(inputsArr, outputsArr, internalsArr);
            return false;
        }
        inputsArr.getMatVector(inputs);
        outputsArr.getMatVector(outputs);
        return true;
    }

    // The input of floats itself, or a copy of it where the output lies over it: our layers write some
    // outputs before they have read all of the input. Both maps are continuous floats.
    cv::Mat apartFrom(const cv::Mat& input, const cv::Mat& output) {
        CV_DbgAssert(input.isContinuous() && output.isContinuous() && input.depth() == CV_32F &&
                     output.depth() == CV_32F);
        const auto in = reinterpret_cast<std::uintptr_t>(input.ptr<float>());
        const auto out = reinterpret_cast<std::uintptr_t>(output.ptr<float>());
        if (in < out + output.total() * sizeof(float) && out < in + input.total() * sizeof(float)) {
            input.copyTo(inputCopy_);
            return inputCopy_;
        }
        return input;
    }

    StandInLayer(const cv::dnn::LayerParams& params, cv::Ptr<Own> own)
        : cv::dnn::Layer(params), own_(std::move(own)) {}

    cv::Ptr<Own> own_;

  private:
    cv::Mat inputCopy_;
};

} // namespace tavrine

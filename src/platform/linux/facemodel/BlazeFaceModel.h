#pragma once

#include "platform/linux/facemodel/BlazeFaceCandidate.h"

#include <opencv2/core/mat.hpp>
#include <opencv2/dnn.hpp>

#include <memory>
#include <string>
#include <vector>

namespace tavrine {

// One BlazeFace network (the 256x256 full-range or the 128x128 short-range model): runs it on a square
// RGB image and decodes its anchors into merged face candidates. Not thread-safe.
class BlazeFaceModel {
  public:
    // Reads the ONNX file and checks its outputs with one dry run. Null and a readable error on failure.
    static std::unique_ptr<BlazeFaceModel> load(const std::string& path, int inputSize, std::string& error);

    // rgbSquare: CV_8UC3, RGB, square (resized to the input size when needed). Candidates at or above
    // minScore, overlapping ones merged, in unit coordinates of rgbSquare.
    std::vector<BlazeFaceCandidate> detect(const cv::Mat& rgbSquare, float minScore);

    // The candidates of the last detect() once more, at another score, without running the network again.
    std::vector<BlazeFaceCandidate> again(float minScore) const;

    int inputSize() const { return size_; }

    // How many of the network's layers are DepthwiseConvolution rather than OpenCV's own, how many of those
    // run a whole block, and how many are a StemConvolutionLayer (tests).
    int ownDepthwiseLayers();
    int wholeBlocks();
    int stemLayers();

    // Merges candidates that overlap the best remaining one (IoU >= minIou) into their score-weighted
    // average, keeping the best score. Result sorted by score, best first.
    static std::vector<BlazeFaceCandidate> mergeOverlapping(std::vector<BlazeFaceCandidate> candidates,
                                                            float minIou);
    static float iou(const cv::Rect2f& a, const cv::Rect2f& b);

  private:
    BlazeFaceModel(cv::dnn::Net net, int inputSize);
    std::vector<cv::Mat> run(const cv::Mat& rgbSquare);

    cv::dnn::Net net_;
    int size_;
    std::vector<cv::Point2f> anchors_; // 16x16 grid x 2, then 8x8 grid x 6
    cv::Mat input_;                    // reused float buffer, NHWC
    std::vector<cv::Mat> last_;        // the outputs of the last run
};

} // namespace tavrine

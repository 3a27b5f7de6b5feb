#pragma once

#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tavrine {

// dlib's 68-point shape predictor on one face. Not thread-safe.
class FaceLandmarker {
  public:
    static constexpr int pointCount = 68;

    // Null and a readable error when the model file is missing or corrupt.
    static std::unique_ptr<FaceLandmarker> load(const std::string& path, std::string& error);
    ~FaceLandmarker();

    // How many of the predictor's cascades place the points well enough to frame a box on them: the first
    // few make the large moves, the rest refine.
    static constexpr std::size_t placingCascades = 4;

    // gray: CV_8UC1 frame; box: the face in frame pixels. The 68 points in frame pixels, after the first
    // `cascades` cascades (all of them by default).
    std::vector<cv::Point2f> fit(const cv::Mat& gray, const cv::Rect2f& box,
                                 std::size_t cascades = static_cast<std::size_t>(-1)) const;

    // The square box on which the predictor starts with its mean shape's eye centres, nose tip and mouth
    // centre nearest (least squares) to the given points, in that order: the predictor was trained on
    // boxes centred on the features, so a turned face fits far better from such a box than from one
    // centred on the whole head.
    cv::Rect2f boxFor(const std::array<cv::Point2f, 4>& eyesNoseMouth) const;

    // The same with all 68 points of a fit: the box the predictor would have started from had its training
    // seen this face.
    cv::Rect2f boxForFit(const std::vector<cv::Point2f>& points) const;

  private:
    struct Impl;
    explicit FaceLandmarker(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace tavrine

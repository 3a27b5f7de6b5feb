#pragma once

#include <opencv2/core/types.hpp>

#include <array>

namespace tavrine {

// One face found by a BlazeFace model. Coordinates are fractions of the model's square input (top-left
// origin) until the detector maps them into frame pixels.
struct BlazeFaceCandidate {
    // Image-left eye, image-right eye, nose tip, mouth centre, image-left ear, image-right ear.
    static constexpr int keypointCount = 6;

    cv::Rect2f box;
    std::array<cv::Point2f, keypointCount> keypoints;
    float score = 0.0f;
};

} // namespace tavrine

#pragma once

#include "platform/linux/facemodel/BlazeFaceCandidate.h"

#include <opencv2/core/types.hpp>

#include <array>
#include <optional>

namespace tavrine {

// Head rotation from the six BlazeFace keypoints, fitted to a generic 3-D face with a pinhole camera
// whose focal length is the frame width.
struct HeadPose {
    double yawDegrees = 0;   // positive when the face turns towards the image's right side
    double pitchDegrees = 0; // positive when the face tilts up
    double rollDegrees = 0;

    // keypoints in frame pixels; nothing when the fit fails.
    static std::optional<HeadPose>
    estimate(const std::array<cv::Point2f, BlazeFaceCandidate::keypointCount>& keypoints, cv::Size frameSize);
};

} // namespace tavrine

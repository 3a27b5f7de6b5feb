#pragma once

#include "core/detection/FaceObservation.h"
#include "core/detection/VideoFrame.h"

#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>

namespace tavrine {

// An image scaled (aspect kept) into the middle of a black camera-sized BGRA frame, as the camera would
// deliver it, with the way back to the image's own pixels.
struct LetterboxedFrame {
    VideoFrame frame;
    double scale = 1;
    double offsetX = 0;
    double offsetY = 0;

    // image: CV_8UC3 BGR or CV_8UC4 BGRA.
    static LetterboxedFrame make(const cv::Mat& image, int width = 640, int height = 480);
    // A normalized lower-left-origin box of the frame, in the image's pixels with a top-left origin.
    cv::Rect2d toImage(const FaceObservation::Rect& box) const;
};

} // namespace tavrine

#include "platform/linux/facemodel/LetterboxedFrame.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tavrine {

LetterboxedFrame LetterboxedFrame::make(const cv::Mat& image, int width, int height) {
    if (image.empty() || (image.type() != CV_8UC3 && image.type() != CV_8UC4)) {
        throw std::invalid_argument("letterbox: expected a non-empty 8-bit BGR or BGRA image");
    }
    LetterboxedFrame out;
    out.scale = std::min(static_cast<double>(width) / image.cols, static_cast<double>(height) / image.rows);
    const int w = std::clamp(static_cast<int>(std::lround(image.cols * out.scale)), 1, width);
    const int h = std::clamp(static_cast<int>(std::lround(image.rows * out.scale)), 1, height);
    const cv::Rect inner((width - w) / 2, (height - h) / 2, w, h);
    out.offsetX = inner.x;
    out.offsetY = inner.y;

    cv::Mat bgra(height, width, CV_8UC4, cv::Scalar(0, 0, 0, 255));
    cv::Mat scaled;
    cv::resize(image, scaled, inner.size(), 0, 0, out.scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    if (scaled.type() == CV_8UC3) {
        cv::cvtColor(scaled, bgra(inner), cv::COLOR_BGR2BGRA);
    } else {
        scaled.copyTo(bgra(inner));
    }
    out.frame.width = width;
    out.frame.height = height;
    out.frame.stride = width * 4;
    out.frame.pixels = std::make_shared<const std::vector<std::uint8_t>>(bgra.datastart, bgra.dataend);
    return out;
}

cv::Rect2d LetterboxedFrame::toImage(const FaceObservation::Rect& box) const {
    const double left = box.x * frame.width;
    const double top = (1.0 - box.y - box.height) * frame.height;
    return {(left - offsetX) / scale, (top - offsetY) / scale, box.width * frame.width / scale,
            box.height * frame.height / scale};
}

} // namespace tavrine

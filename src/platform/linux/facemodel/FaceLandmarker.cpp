#include "platform/linux/facemodel/FaceLandmarker.h"

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv/cv_image.h>
#include <dlib/serialize.h>

#include <cmath>
#include <filesystem>

namespace tavrine {

struct FaceLandmarker::Impl {
    dlib::shape_predictor predictor;
};

FaceLandmarker::FaceLandmarker(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FaceLandmarker::~FaceLandmarker() = default;

std::unique_ptr<FaceLandmarker> FaceLandmarker::load(const std::string& path, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "landmark model not found: " + path + " (Debian package libdlib-data)";
        return nullptr;
    }
    try {
        auto impl = std::make_unique<Impl>();
        dlib::deserialize(path) >> impl->predictor;
        if (impl->predictor.num_parts() != pointCount) {
            error = "landmark model has " + std::to_string(impl->predictor.num_parts()) +
                    " points, not 68: " + path;
            return nullptr;
        }
        return std::unique_ptr<FaceLandmarker>(new FaceLandmarker(std::move(impl)));
    } catch (const std::exception& e) {
        error = "landmark model is corrupt or unreadable: " + path + " (" + e.what() + ")";
    }
    return nullptr;
}

std::vector<cv::Point2f> FaceLandmarker::fit(const cv::Mat& gray, const cv::Rect2f& box) const {
    dlib::cv_image<unsigned char> image(gray);
    const dlib::rectangle rect(std::lround(box.x), std::lround(box.y), std::lround(box.x + box.width),
                               std::lround(box.y + box.height));
    const dlib::full_object_detection shape = impl_->predictor(image, rect);
    std::vector<cv::Point2f> points;
    points.reserve(shape.num_parts());
    for (unsigned long i = 0; i < shape.num_parts(); ++i) {
        points.emplace_back(static_cast<float>(shape.part(i).x()), static_cast<float>(shape.part(i).y()));
    }
    return points;
}

} // namespace tavrine

// The landmark fitting against dlib's own shape predictor on the same model: the same 68 points, to the
// pixel, for faces, boxes reaching out of the image and boxes on no face at all.
#include "platform/linux/facemodel/FaceLandmarker.h"
#include "platform/linux/facemodel/FaceModelPaths.h"

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv/cv_image.h>
#include <dlib/serialize.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace tavrine;

namespace {

const std::filesystem::path kFaceData = TAVRINE_FACEDATA_DIR;

std::string landmarkModel() {
    return FaceModelPaths::locate().landmarks;
}

std::vector<cv::Rect2f> boxesFor(const cv::Mat& gray) {
    const float w = static_cast<float>(gray.cols), h = static_cast<float>(gray.rows);
    return {
        {w * 0.3f, h * 0.2f, w * 0.4f, h * 0.5f},   // the middle, where portraits have the face
        {w * 0.1f, h * 0.1f, w * 0.25f, w * 0.25f}, // off the face
        {-w * 0.2f, -h * 0.1f, w * 0.5f, h * 0.5f}, // half out of the image at the top left
        {w * 0.8f, h * 0.7f, w * 0.4f, h * 0.4f},   // half out at the bottom right
        {w * 0.5f, h * 0.5f, 6.0f, 6.0f},           // a few pixels
    };
}

TEST(FaceLandmarker, GivesTheSamePointsAsDlibsOwnPredictor) {
    if (!std::filesystem::is_directory(kFaceData / "dlib_faces")) {
        GTEST_SKIP() << "face data not found at " << kFaceData;
    }
    std::string error;
    auto landmarker = FaceLandmarker::load(landmarkModel(), error);
    ASSERT_NE(landmarker, nullptr) << error;
    dlib::shape_predictor reference;
    dlib::deserialize(landmarkModel()) >> reference;

    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kFaceData / "dlib_faces")) {
        if (entry.path().extension() != ".jpg") {
            continue;
        }
        cv::Mat gray = cv::imread(entry.path().string(), cv::IMREAD_GRAYSCALE);
        ASSERT_FALSE(gray.empty()) << entry.path();
        const dlib::cv_image<unsigned char> image(gray);
        for (const cv::Rect2f& box : boxesFor(gray)) {
            const std::vector<cv::Point2f> points = landmarker->fit(gray, box);
            const dlib::rectangle rect(std::lround(box.x), std::lround(box.y), std::lround(box.x + box.width),
                                       std::lround(box.y + box.height));
            const dlib::full_object_detection expected = reference(image, rect);
            ASSERT_EQ(points.size(), expected.num_parts());
            for (unsigned long i = 0; i < expected.num_parts(); ++i) {
                // dlib rounds its points to whole pixels; ours keep the fraction.
                ASSERT_NEAR(points[i].x, static_cast<float>(expected.part(i).x()), 0.501f)
                    << entry.path().filename() << " box " << box << " point " << i;
                ASSERT_NEAR(points[i].y, static_cast<float>(expected.part(i).y()), 0.501f)
                    << entry.path().filename() << " box " << box << " point " << i;
            }
            ++compared;
        }
    }
    EXPECT_GE(compared, 5 * 5);
}

TEST(FaceLandmarker, ATruncatedOrAlteredModelIsAnErrorNotACrash) {
    std::ifstream in(landmarkModel(), std::ios::binary);
    ASSERT_TRUE(in) << landmarkModel();
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(whole.size(), 1000000u);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tavrine-landmarker-test";
    std::filesystem::create_directories(dir);
    auto attempt = [&](const std::string& bytes) {
        const std::filesystem::path file = dir / "model.dat";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        std::string error;
        auto landmarker = FaceLandmarker::load(file.string(), error);
        EXPECT_EQ(landmarker, nullptr);
        return error;
    };
    // Cut inside the header, inside the trees, and just before the end.
    for (std::size_t cut : {std::size_t{3}, whole.size() / 2, whole.size() - 16}) {
        const std::string error = attempt(whole.substr(0, cut));
        EXPECT_NE(error.find("landmark model is corrupt"), std::string::npos)
            << "cut at " << cut << ": " << error;
    }
    // Another version number in the first bytes.
    std::string altered = whole;
    altered[1] = static_cast<char>(altered[1] + 1);
    EXPECT_NE(attempt(altered).find("landmark model"), std::string::npos);
    std::filesystem::remove_all(dir);
}

} // namespace

// Prints the 68 landmark points of the widest face of each image, as the live analysis fits them (the
// image letterboxed into a 640x480 camera frame, the face found by the detector, dlib's predictor on its
// box). Input of bench/vision/fit_head_model.py. Usage: tavrine_landmark_dump IMAGE...
// Output (CSV): file,frame_w,frame_h,box_x,box_y,box_w,box_h,x0,y0,...,x67,y67 in frame pixels; images
// without a face print nothing.
#include "platform/linux/facemodel/BlazeFaceDetector.h"
#include "platform/linux/facemodel/FaceModelPaths.h"
#include "platform/linux/facemodel/LetterboxedFrame.h"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

using namespace tavrine;

int main(int argc, char** argv) {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    const FaceModelPaths paths = FaceModelPaths::locate();
    BlazeFaceDetector::Loaded loaded = BlazeFaceDetector::load(paths);
    if (!loaded.detector) {
        std::cerr << "tavrine_landmark_dump: " << loaded.error << "\n";
        return 3;
    }
    for (int i = 1; i < argc; ++i) {
        const cv::Mat image = cv::imread(argv[i], cv::IMREAD_COLOR);
        if (image.empty()) {
            std::cerr << "tavrine_landmark_dump: cannot read " << argv[i] << "\n";
            continue;
        }
        const LetterboxedFrame frame = LetterboxedFrame::make(image);
        const cv::Mat bgra(frame.frame.height, frame.frame.width, CV_8UC4,
                           const_cast<std::uint8_t*>(frame.frame.pixels->data()));
        cv::Mat gray;
        cv::cvtColor(bgra, gray, cv::COLOR_BGRA2GRAY);
        loaded.detector->reset();
        const auto faces = loaded.detector->findFaces(bgra);
        const auto widest = std::max_element(faces.begin(), faces.end(), [](const auto& a, const auto& b) {
            return a.box.width < b.box.width;
        });
        if (widest == faces.end()) {
            continue;
        }
        const cv::Rect2f& box = widest->box;
        std::printf("%s,%d,%d,%.2f,%.2f,%.2f,%.2f", argv[i], frame.frame.width, frame.frame.height, box.x,
                    box.y, box.width, box.height);
        for (const cv::Point2f& p : loaded.detector->fitLandmarks(gray, *widest)) {
            std::printf(",%.2f,%.2f", p.x, p.y);
        }
        std::printf("\n");
    }
    return 0;
}

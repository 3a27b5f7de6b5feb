#pragma once

#include <string>

namespace tavrine {

// Where the three model files of the face stack are.
struct FaceModelPaths {
    static constexpr const char* fullRangeFile = "face_detection_back_256x256_barracuda.onnx";
    static constexpr const char* shortRangeFile = "face_detection_front_128x128_barracuda.onnx";

    std::string fullRange;  // BlazeFace 256x256 (full range)
    std::string shortRange; // BlazeFace 128x128 (short range), the false-face re-check
    std::string landmarks;  // dlib 68-point shape predictor

    // The ONNX models from the first of: $TAVRINE_MODEL_DIR, ../share/tavrine/models from a program
    // in a bin folder, the build tree's models folder, <prefix>/share/tavrine/models that holds the
    // full-range model (the first candidate when none
    // does, so the error names a sensible place). The landmark model from $TAVRINE_LANDMARK_MODEL or
    // the libdlib-data location.
    static FaceModelPaths locate();
    static FaceModelPaths inDirectory(const std::string& modelDir, const std::string& landmarks);
};

} // namespace tavrine

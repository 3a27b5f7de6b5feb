#pragma once

#include <optional>
#include <vector>

namespace tavrine {

// One detected face, as the analyzer needs it from the detector.
struct FaceObservation {
    struct Rect {
        double x = 0, y = 0, width = 0, height = 0; // fractions of the frame, origin lower-left
    };
    struct Point {
        double x = 0, y = 0; // fractions of the face box, origin lower-left
    };
    struct Landmarks {
        std::optional<std::vector<Point>> leftEye;
        std::optional<std::vector<Point>> rightEye;
        std::optional<std::vector<Point>> nose;
    };

    Rect boundingBox;
    std::optional<double> yaw;   // radians, positive when the face turns towards the image's right
    std::optional<double> pitch; // radians, positive when the face looks up, negative when it looks down
    std::optional<Landmarks> landmarks;
};

} // namespace tavrine

#pragma once

#include <optional>
#include <vector>

namespace tavrine {

// The head's rotation from the 68 face landmarks (dlib's layout), read by fitting a mean 3-D head to them
// under weak perspective: scale, position and the three rotations are solved for together, so the angles
// do not depend on how large the face is in the frame. The pitch also weighs heights of the nose, brows,
// chin and jaw across the eye line. The model and its terms come from bench/vision/fit_head_model.py.
struct HeadPoseReading {
    double yawDegrees = 0;   // positive when the face turns towards the image's right side
    double pitchDegrees = 0; // positive when the face looks up, negative when it looks down
    double rollDegrees = 0;  // positive when the head leans towards the image's right side (clockwise)
};

class HeadPoseSolver {
  public:
    static constexpr std::size_t pointCount = 68;
    struct Point {
        double x = 0, y = 0; // frame pixels, y down
    };

    // Nothing when there are not 68 finite points, they are degenerate (all in one place or on one
    // line, or the mouth on the eye line), or no fit turns less than 83 degrees either way.
    static std::optional<HeadPoseReading> solve(const std::vector<Point>& points);

    // The model's points with the head rotated by these angles (its geometry, before the fitted terms that
    // turn rotations into readings), projected as the solver sees them (tests, fitting checks).
    static std::vector<Point> project(const HeadPoseReading& rotation, double scale, Point centre);
};

} // namespace tavrine

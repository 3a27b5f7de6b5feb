#include "core/detection/PitchBaseline.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <vector>

using namespace tavrine;

// Frames of (yaw, pitch) in stretches at 10 frames a second (or another rate), and the pitch read relative
// to the baseline on the last frame.
TEST(PitchBaseline, LearnsHowTheUserFacesTheScreen) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        std::vector<std::array<double, 3>> stretches; // frames, yaw, pitch
        double lastRelative;
        int fps = 10;
    } cases[] = {
        // Until a second has taught it, the camera's own pitch is reported. The first three seconds teach
        // it whatever they show, so a glance at the keyboard first is outvoted.
        {"nine frames teach nothing yet", {{9, 0, 18}}, 18},
        {"ten frames do", {{10, 0, 18}}, 0},
        {"a glance at the keyboard first", {{10, 0, -15}, {20, 0, 18}, {1, 0, 18}}, 0},
        {"a keyboard glance once learned", {{30, 0, 18}, {10, 0, -15}}, -33},
        // A laptop camera below the eyes: facing reads 0, looking down at a phone reads far past 25, for as
        // long as it lasts, and facing again reads 0.
        {"a long read on the phone", {{50, 0, 18}, {1199, 3, -15}}, -33},
        {"back from a long read", {{50, 0, 18}, {1199, 3, -15}, {1, 2, 18}}, 0},
        {"two long reads with a glance up between",
         {{50, 0, 18}, {700, 3, -15}, {1, 2, 18}, {700, 3, -15}},
         -33},
        {"turned faces do not teach", {{30, 35, -20}, {1, 35, -20}}, -20},
        {"not a number teaches nothing", {{5, 0, nan}, {1, nan, 3}, {11, 0, 12}}, 0},
        // A baseline stays within 25 degrees of level.
        {"clamped above", {{40, 0, 35}}, 10},
        {"clamped below", {{40, 0, -32}}, -7},
        // Small moves within 15 degrees follow the user.
        {"follows small moves", {{100, 0, 10}, {200, 0, 20}}, 0},
        // The camera moved: after two minutes of disagreeing frontal frames it learns again.
        {"relearns after the camera moved", {{50, 0, 18}, {1199, 0, -10}}, -28},
        {"relearned after the camera moved", {{50, 0, 18}, {1200, 0, -10}, {30, 0, -10}}, 0},
        {"two minutes at 15 frames a second", {{50, 0, 18}, {1799, 0, -10}}, -28, 15},
        {"relearned at 15 frames a second", {{50, 0, 18}, {1800, 0, -10}, {45, 0, -10}}, 0, 15},
    };
    for (const auto& c : cases) {
        PitchBaseline baseline(c.fps);
        double relative = 0;
        for (const auto& [frames, yaw, pitch] : c.stretches) {
            for (int i = 0; i < frames; ++i) {
                relative = baseline.relative(yaw, pitch);
            }
        }
        EXPECT_NEAR(relative, c.lastRelative, 1e-9) << c.name;
    }
}

// The median of the last three frames: one slipped frame does not flip the verdict, two in a row do.
TEST(PitchBaseline, SmoothsOverThreeFrames) {
    PitchBaseline baseline;
    // Each frame's yaw, and the smoothed yaw it reads.
    for (auto [yaw, smoothed] :
         {std::pair{35, 35}, {36, 36}, {27, 35}, {38, 36}, {26, 27}, {25, 26}, {24, 25}}) {
        EXPECT_DOUBLE_EQ(baseline.smoothed({double(yaw), 0}).yaw, smoothed) << "yaw " << yaw;
    }
    baseline.forgetRecent();
    EXPECT_DOUBLE_EQ(baseline.smoothed({40, -30}).pitch, -30) << "a new run starts unsmoothed";
}

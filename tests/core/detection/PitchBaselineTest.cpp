#include "core/detection/PitchBaseline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace tavrine;

namespace {

struct Stretch {
    int frames;
    double yaw, pitch;
};

struct Case {
    std::string name;
    std::vector<Stretch> stretches;
    double lastRelative; // the pitch read relative to the baseline on the last frame
};

} // namespace

class PitchBaselineCases : public ::testing::TestWithParam<Case> {};

TEST_P(PitchBaselineCases, LearnsHowTheUserFacesTheScreen) {
    PitchBaseline baseline;
    double relative = 0;
    for (const Stretch& s : GetParam().stretches) {
        for (int i = 0; i < s.frames; ++i) {
            relative = baseline.relative(s.yaw, s.pitch);
        }
    }
    EXPECT_NEAR(relative, GetParam().lastRelative, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Stretches, PitchBaselineCases,
    ::testing::Values(
        // Until ten frames have taught it, the camera's own pitch is reported.
        Case{"NineFramesTeachNothingYet", {{9, 0, 18}}, 18}, Case{"TenFramesDo", {{10, 0, 18}}, 0},
        // A laptop camera below the eyes: facing reads 0, looking down at a phone reads far past 25, for as
        // long as it lasts, and facing again reads 0.
        Case{"PhoneUnderALaptopCamera", {{50, 0, 18}, {250, 3, -15}}, -33},
        Case{"BackFromThePhone", {{50, 0, 18}, {250, 3, -15}, {1, 2, 18}}, 0},
        // Turned faces teach nothing.
        Case{"TurnedFacesDoNotTeach", {{30, 35, -20}, {1, 35, -20}}, -20},
        // A baseline stays within 25 degrees of level.
        Case{"ClampedAbove", {{40, 0, 35}}, 10}, Case{"ClampedBelow", {{40, 0, -32}}, -7},
        // Small moves within 15 degrees follow the user.
        Case{"FollowsSmallMoves", {{100, 0, 10}, {200, 0, 20}}, 0},
        // The camera moved: after 300 disagreeing frontal frames it learns again.
        Case{"RelearnsAfterTheCameraMoved", {{50, 0, 18}, {299, 0, -10}}, -28},
        Case{"RelearnedAfterTheCameraMoved", {{50, 0, 18}, {300, 0, -10}, {10, 0, -10}}, 0}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(PitchBaseline, NotANumberNeverReachesTheBaseline) {
    PitchBaseline baseline;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int i = 0; i < 20; ++i) {
        baseline.relative(0, 12);
    }
    EXPECT_TRUE(std::isnan(baseline.relative(nan, 3)) == false);
    EXPECT_TRUE(std::isnan(baseline.relative(0, nan)));
    EXPECT_DOUBLE_EQ(baseline.baseline(), 12);
    EXPECT_DOUBLE_EQ(baseline.relative(0, 12), 0);
}

// The median of the last three frames: one slipped frame does not flip the verdict, two in a row do.
TEST(PitchBaseline, SmoothsOverThreeFrames) {
    struct Step {
        double yaw, expected;
    };
    PitchBaseline baseline;
    const Step steps[] = {{35, 35}, {36, 36}, {27, 35}, {38, 36}, {26, 27}, {25, 26}, {24, 25}};
    for (const Step& s : steps) {
        EXPECT_DOUBLE_EQ(baseline.smoothed({s.yaw, 0}).yaw, s.expected) << "yaw " << s.yaw;
    }
    baseline.forgetRecent();
    EXPECT_DOUBLE_EQ(baseline.smoothed({40, -30}).pitch, -30) << "a new run starts unsmoothed";
}

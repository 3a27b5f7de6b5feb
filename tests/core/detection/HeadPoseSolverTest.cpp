#include "core/detection/HeadPoseSolver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace tavrine;

namespace {

struct Pose {
    double yaw, pitch, roll;
};

HeadPoseReading readAt(const Pose& rotation, double scale, HeadPoseSolver::Point centre) {
    const auto read = HeadPoseSolver::solve(
        HeadPoseSolver::project({rotation.yaw, rotation.pitch, rotation.roll}, scale, centre));
    EXPECT_TRUE(read) << rotation.yaw << "/" << rotation.pitch << " at scale " << scale;
    return read.value_or(HeadPoseReading{});
}

} // namespace

// The head model rotated and projected at face spreads of about 8, 15, 22 and 30 % of a 640-px frame, at
// different places, reads the same at every size: the angles must not depend on how large the face is.
// Landmarks carry a pixel or two of noise at webcam sizes: the reading moves by a few degrees, not tens.
TEST(HeadPoseSolver, ReadsTheSamePoseAtEverySizeAndUnderNoise) {
    const Pose rotations[] = {{0, 0, 0},     {38, 0, 0},    {-38, 0, 0}, {0, -35, 0}, {0, 30, 0},
                              {20, -20, 10}, {-45, 15, -8}, {55, 0, 0},  {10, -40, 0}};
    const struct {
        double scale;
        HeadPoseSolver::Point centre;
    } sizes[] = {{18, {100, 90}}, {34, {320, 240}}, {50, {480, 300}}, {68, {300, 200}}};
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> jitter(-1.0, 1.0);
    for (const Pose& rotation : rotations) {
        const HeadPoseReading first = readAt(rotation, sizes[0].scale, sizes[0].centre);
        for (const auto& size : sizes) {
            const HeadPoseReading read = readAt(rotation, size.scale, size.centre);
            EXPECT_NEAR(read.yawDegrees, first.yawDegrees, 0.01) << rotation.yaw << "/" << rotation.pitch;
            EXPECT_NEAR(read.pitchDegrees, first.pitchDegrees, 0.01) << rotation.yaw << "/" << rotation.pitch;
            EXPECT_NEAR(read.rollDegrees, rotation.roll, 0.05);
        }
        auto points = HeadPoseSolver::project({rotation.yaw, rotation.pitch, rotation.roll}, 34, {320, 240});
        for (auto& p : points) {
            p.x += jitter(rng);
            p.y += jitter(rng);
        }
        const auto noisy = HeadPoseSolver::solve(points);
        ASSERT_TRUE(noisy);
        EXPECT_NEAR(noisy->yawDegrees, first.yawDegrees, 4.0) << rotation.yaw << "/" << rotation.pitch;
        EXPECT_NEAR(noisy->pitchDegrees, first.pitchDegrees, 4.0) << rotation.yaw << "/" << rotation.pitch;
    }
}

// Readings follow the rotation: yaw and pitch grow with it, and a head turned 35 degrees reads past the
// 30-degree limit, one tilted 35 degrees down or up past the 25-degree limit, a level one well inside both.
// Which way is which in the image: a face turned towards the image's right (positive yaw) moves its nose
// tip (point 30) right of the eyes' midpoint; one looking down (negative pitch) moves it down.
TEST(HeadPoseSolver, ReadingsFollowTheRotationPastTheLimits) {
    auto noseFromEyes = [](const Pose& rotation) {
        const auto p = HeadPoseSolver::project({rotation.yaw, rotation.pitch, rotation.roll}, 40, {320, 240});
        return HeadPoseSolver::Point{p[30].x - (p[36].x + p[45].x) / 2, p[30].y - (p[36].y + p[45].y) / 2};
    };
    const HeadPoseReading level = readAt({0, 0, 0}, 34, {320, 240});
    EXPECT_LT(std::abs(level.yawDegrees), 1.0);
    EXPECT_LT(std::abs(level.pitchDegrees), 12.0);
    const HeadPoseSolver::Point front = noseFromEyes({0, 0, 0});
    HeadPoseReading last{-90, -90, 0};
    for (const double angle : {-35.0, -20.0, 20.0, 35.0, 50.0}) {
        const double yaw = readAt({angle, 0, 0}, 34, {320, 240}).yawDegrees;
        const double pitch = readAt({0, angle, 0}, 34, {320, 240}).pitchDegrees;
        EXPECT_GT(yaw, last.yawDegrees) << angle;
        EXPECT_GT(pitch, last.pitchDegrees) << angle;
        if (std::abs(angle) == 35.0) {
            EXPECT_GE(std::abs(yaw), 30.0) << angle;
            EXPECT_GE(std::abs(pitch), 25.0) << angle;
        }
        EXPECT_GT((noseFromEyes({angle, 0, 0}).x - front.x) * angle, 0) << angle;
        EXPECT_LT((noseFromEyes({0, angle, 0}).y - front.y) * angle, 0) << angle;
        last = {yaw, pitch, 0};
    }
}

TEST(HeadPoseSolver, RefusesWhatCannotBeAFace) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto good = HeadPoseSolver::project({0, 0, 0}, 34, {320, 240}); // read in the tests above

    std::vector<HeadPoseSolver::Point> tooFew(good.begin(), good.begin() + 67);
    auto withNan = good;
    withNan[30].y = nan;
    std::vector<HeadPoseSolver::Point> onePlace(68, {100, 100});
    std::vector<HeadPoseSolver::Point> oneLine;
    for (int i = 0; i < 68; ++i) {
        oneLine.push_back({10.0 + i, 20.0 + 2.0 * i});
    }
    // Heights across the eye line are measured in eye-to-mouth units: with the mouth's corners on that
    // line, or a pixel under it, there is no unit.
    auto mouthOnEyes = good, mouthByEyes = good;
    mouthOnEyes[48].y = mouthOnEyes[36].y;
    mouthOnEyes[54].y = mouthOnEyes[45].y;
    mouthByEyes[48].y = mouthByEyes[36].y + 1;
    mouthByEyes[54].y = mouthByEyes[45].y + 1;
    for (const auto& points : {tooFew, withNan, onePlace, oneLine, mouthOnEyes, mouthByEyes,
                               std::vector<HeadPoseSolver::Point>{}}) {
        EXPECT_FALSE(HeadPoseSolver::solve(points)) << points.size() << " points";
    }
}

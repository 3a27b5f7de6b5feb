#include "core/detection/HeadPoseSolver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

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
TEST(HeadPoseSolver, ReadsTheSamePoseAtEverySize) {
    const Pose rotations[] = {{0, 0, 0},     {38, 0, 0},    {-38, 0, 0}, {0, -35, 0}, {0, 30, 0},
                              {20, -20, 10}, {-45, 15, -8}, {55, 0, 0},  {10, -40, 0}};
    const struct {
        double scale;
        HeadPoseSolver::Point centre;
    } sizes[] = {{18, {100, 90}}, {34, {320, 240}}, {50, {480, 300}}, {68, {300, 200}}};
    for (const Pose& rotation : rotations) {
        const HeadPoseReading first = readAt(rotation, sizes[0].scale, sizes[0].centre);
        for (const auto& size : sizes) {
            const HeadPoseReading read = readAt(rotation, size.scale, size.centre);
            EXPECT_NEAR(read.yawDegrees, first.yawDegrees, 0.01) << rotation.yaw << "/" << rotation.pitch;
            EXPECT_NEAR(read.pitchDegrees, first.pitchDegrees, 0.01) << rotation.yaw << "/" << rotation.pitch;
            EXPECT_NEAR(read.rollDegrees, rotation.roll, 0.05);
        }
    }
}

// Readings follow the rotation: yaw grows with the turn (past the 30-degree limit for a 35-degree turn), a
// head tilted 35 degrees down or up reads past the 25-degree limit, a level head well inside it.
TEST(HeadPoseSolver, ReadingsFollowTheRotation) {
    const HeadPoseSolver::Point centre{320, 240};
    const HeadPoseReading level = readAt({0, 0, 0}, 34, centre);
    EXPECT_LT(std::abs(level.yawDegrees), 1.0);
    EXPECT_LT(std::abs(level.pitchDegrees), 12.0);
    double lastYaw = -1;
    for (const double yaw : {0.0, 10.0, 20.0, 30.0, 40.0, 50.0}) {
        const double read = readAt({yaw, 0, 0}, 34, centre).yawDegrees;
        EXPECT_GT(read, lastYaw) << yaw;
        lastYaw = read;
    }
    EXPECT_GE(readAt({35, 0, 0}, 34, centre).yawDegrees, 30.0);
    EXPECT_LE(readAt({-35, 0, 0}, 34, centre).yawDegrees, -30.0);
    EXPECT_LE(readAt({0, -35, 0}, 34, centre).pitchDegrees, -25.0);
    EXPECT_GE(readAt({0, 35, 0}, 34, centre).pitchDegrees, 25.0);
}

// Which way is which in the image: a face turned towards the image's right moves its nose tip (point 30)
// right of the eyes' midpoint; a face looking down moves it down (y grows downwards).
TEST(HeadPoseSolver, SignsFollowTheImage) {
    auto noseOffset = [](const Pose& rotation) {
        const auto p = HeadPoseSolver::project({rotation.yaw, rotation.pitch, rotation.roll}, 40, {320, 240});
        const double eyesX = (p[36].x + p[45].x) / 2, eyesY = (p[36].y + p[45].y) / 2;
        return HeadPoseSolver::Point{p[30].x - eyesX, p[30].y - eyesY};
    };
    const auto front = noseOffset({0, 0, 0});
    EXPECT_GT(noseOffset({30, 0, 0}).x, front.x + 5);
    EXPECT_LT(noseOffset({-30, 0, 0}).x, front.x - 5);
    EXPECT_GT(noseOffset({0, -30, 0}).y, front.y + 3);
    EXPECT_LT(noseOffset({0, 30, 0}).y, front.y - 3);
}

// Landmarks carry a pixel or two of noise at webcam sizes: the reading moves by a few degrees, not tens.
TEST(HeadPoseSolver, NoisyLandmarksMoveTheReadingLittle) {
    for (const Pose& rotation : {Pose{0, 0, 0}, Pose{40, 0, 0}, Pose{0, -35, 0}}) {
        const HeadPoseReading clean = readAt(rotation, 34, {320, 240});
        auto points = HeadPoseSolver::project({rotation.yaw, rotation.pitch, rotation.roll}, 34, {320, 240});
        unsigned seed = 7;
        for (auto& p : points) {
            seed = seed * 1103515245u + 12345u;
            p.x += static_cast<double>((seed >> 16) % 200) / 100.0 - 1.0;
            seed = seed * 1103515245u + 12345u;
            p.y += static_cast<double>((seed >> 16) % 200) / 100.0 - 1.0;
        }
        const auto read = HeadPoseSolver::solve(points);
        ASSERT_TRUE(read);
        EXPECT_NEAR(read->yawDegrees, clean.yawDegrees, 4.0);
        EXPECT_NEAR(read->pitchDegrees, clean.pitchDegrees, 4.0);
    }
}

TEST(HeadPoseSolver, RefusesWhatCannotBeAFace) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto good = HeadPoseSolver::project({0, 0, 0}, 34, {320, 240});
    EXPECT_TRUE(HeadPoseSolver::solve(good));

    std::vector<HeadPoseSolver::Point> tooFew(good.begin(), good.begin() + 67);
    auto withNan = good;
    withNan[30].y = nan;
    std::vector<HeadPoseSolver::Point> onePlace(68, {100, 100});
    std::vector<HeadPoseSolver::Point> oneLine;
    for (int i = 0; i < 68; ++i) {
        oneLine.push_back({10.0 + i, 20.0 + 2.0 * i});
    }
    for (const auto& points : {tooFew, withNan, onePlace, oneLine, std::vector<HeadPoseSolver::Point>{}}) {
        EXPECT_FALSE(HeadPoseSolver::solve(points)) << points.size() << " points";
    }
}

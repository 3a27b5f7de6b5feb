#include "core/detection/HeadPoseSolver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tavrine;

namespace {

struct Pose {
    double yaw, pitch, roll;
};

} // namespace

// The head model projected at a known pose reads back as that pose at every face size and place: the
// angles must not depend on how large the face is in the frame.
TEST(HeadPoseSolver, ReadsTheSamePoseAtEverySize) {
    const Pose poses[] = {{0, 0, 0},     {38, 0, 0},    {-38, 0, 0}, {0, -35, 0}, {0, 30, 0},
                          {20, -20, 10}, {-45, 15, -8}, {55, 0, 0},  {10, -40, 0}};
    // Face spreads of about 8, 15, 22 and 30 % of a 640-px frame, at different places.
    const struct {
        double scale;
        HeadPoseSolver::Point centre;
    } sizes[] = {{18, {100, 90}}, {34, {320, 240}}, {50, {480, 300}}, {68, {300, 200}}};
    for (const Pose& pose : poses) {
        for (const auto& size : sizes) {
            const auto points =
                HeadPoseSolver::project({pose.yaw, pose.pitch, pose.roll}, size.scale, size.centre);
            const auto read = HeadPoseSolver::solve(points);
            ASSERT_TRUE(read) << pose.yaw << "/" << pose.pitch << " at " << size.scale;
            EXPECT_NEAR(read->yawDegrees, pose.yaw, 0.05)
                << "pitch " << pose.pitch << ", scale " << size.scale;
            EXPECT_NEAR(read->pitchDegrees, pose.pitch, 0.05)
                << "yaw " << pose.yaw << ", scale " << size.scale;
            EXPECT_NEAR(read->rollDegrees, pose.roll, 0.05);
        }
    }
}

// Which way is which: a face turned towards the image's right moves its nose tip (point 30) right of the
// eyes' midpoint; a face looking down moves it down (y grows downwards).
TEST(HeadPoseSolver, SignsFollowTheImage) {
    auto noseOffset = [](const Pose& pose) {
        const auto p = HeadPoseSolver::project({pose.yaw, pose.pitch, pose.roll}, 40, {320, 240});
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
    for (const Pose& pose : {Pose{0, 0, 0}, Pose{40, 0, 0}, Pose{0, -35, 0}}) {
        auto points = HeadPoseSolver::project({pose.yaw, pose.pitch, pose.roll}, 34, {320, 240});
        unsigned seed = 7;
        for (auto& p : points) {
            seed = seed * 1103515245u + 12345u;
            p.x += static_cast<double>((seed >> 16) % 200) / 100.0 - 1.0;
            seed = seed * 1103515245u + 12345u;
            p.y += static_cast<double>((seed >> 16) % 200) / 100.0 - 1.0;
        }
        const auto read = HeadPoseSolver::solve(points);
        ASSERT_TRUE(read);
        EXPECT_NEAR(read->yawDegrees, pose.yaw, 4.0);
        EXPECT_NEAR(read->pitchDegrees, pose.pitch, 4.0);
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

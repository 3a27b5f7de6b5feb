#include "core/overlay/FlashLoop.h"
#include "core/util/VirtualExecutor.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using tavrine::FlashLoop;
using tavrine::VirtualExecutor;

namespace {

struct FlashLoopTest : ::testing::Test {
    VirtualExecutor ex{0};
    std::vector<std::pair<std::int64_t, double>> frames;
    std::unique_ptr<FlashLoop> flash =
        std::make_unique<FlashLoop>(ex, ex, [this] { frames.emplace_back(ex.nowMs(), flash->flashAlpha()); });

    double valueAfter(std::int64_t ms) {
        ex.advanceBy(ms);
        return flash->flashAlpha();
    }
};

} // namespace

TEST_F(FlashLoopTest, CyclesRiseToPointThreeAndFallToZeroInPointEightSecondsOfElapsedTimeUntilStopped) {
    flash->start();
    EXPECT_TRUE(flash->isLooping());
    EXPECT_DOUBLE_EQ(valueAfter(0), 0.0);
    const double quarter = valueAfter(200);
    EXPECT_GT(quarter, 0.1);
    EXPECT_LT(quarter, 0.2);
    EXPECT_DOUBLE_EQ(valueAfter(200), 0.3);
    EXPECT_DOUBLE_EQ(valueAfter(400), 0.0);
    EXPECT_DOUBLE_EQ(valueAfter(400), 0.3); // second cycle
    // Rising frames go up, falling frames go down: between the ends above, none leaves the 0..0.3 band.
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const auto [t, v] = frames[i];
        const auto prev = frames[i - 1].second;
        if (t % 800 > 0 && t % 800 <= 400) {
            EXPECT_GE(v, prev) << "at " << t;
        } else {
            EXPECT_LE(v, prev) << "at " << t;
        }
    }
    // Frames run at the frame interval while animating (1.2 s so far), plus the last one of each ramp.
    const std::size_t expected = 1200 / FlashLoop::kFrameIntervalMs;
    EXPECT_GE(frames.size(), expected);
    EXPECT_LE(frames.size(), expected + 4);
    // The executor's timers follow elapsed time while its wall clock steps back mid-fall.
    ex.advanceBy(200);
    ex.setNowMs(ex.nowMs() - 3'600'000);
    EXPECT_NEAR(valueAfter(200), 0.0, 0.02);
    const double before = valueAfter(400);
    EXPECT_NEAR(before, 0.3, 0.02);
    // A stop then fades out within 0.3 s, after which nothing runs, also when a fall is already under way.
    flash->stop();
    EXPECT_FALSE(flash->isLooping());
    const double mid = valueAfter(150);
    EXPECT_GT(mid, 0.0);
    EXPECT_LT(mid, before * 0.5); // ease-out: most of the fall happens early
    EXPECT_DOUBLE_EQ(valueAfter(150), 0.0);
    EXPECT_EQ(ex.pendingCount(), 0u) << "nothing runs after the fade-out";
    flash->start();
    ex.advanceBy(450); // falling since 400 ms, at 0 by 800 ms
    flash->stop();
    EXPECT_DOUBLE_EQ(valueAfter(300), 0.0) << "the fade-out replaces a fall already under way";
}

// Off and on again within a fifth of a second leaves one loop; a restart while falling rises again from
// where it was; a loop destroyed leaves nothing behind.
TEST_F(FlashLoopTest, OnOffOnLeavesOneLoopARestartRisesFromWhereItWasAndDestroyingItEndsIt) {
    flash->start();
    ex.advanceBy(100);
    flash->stop();
    ex.advanceBy(50);
    flash->start();
    ex.advanceBy(50);
    // The restarted loop owns the rhythm: peak 0.4 s after it started, trough 0.8 s after.
    EXPECT_DOUBLE_EQ(valueAfter(350), 0.3);
    EXPECT_DOUBLE_EQ(valueAfter(400), 0.0);
    for (int cycle = 0; cycle < 20; ++cycle) {
        ex.advanceBy(800);
        EXPECT_LE(ex.pendingCount(), 2u); // one sleep and one animation frame: no second loop
    }
    EXPECT_DOUBLE_EQ(flash->flashAlpha(), 0.0);
    EXPECT_DOUBLE_EQ(valueAfter(400), 0.3);
    const double falling = valueAfter(200);
    const std::size_t from = frames.size();
    flash->start();
    EXPECT_DOUBLE_EQ(valueAfter(400), 0.3);
    // No jump back to 0: the rise continues from the value reached (less the few ms still falling).
    for (std::size_t i = from; i < frames.size(); ++i) {
        EXPECT_GT(frames[i].second, falling - 0.02) << "at " << frames[i].first;
    }
    EXPECT_LE(ex.pendingCount(), 2u);
    const auto count = frames.size();
    flash.reset();
    ex.advanceBy(2000);
    EXPECT_EQ(frames.size(), count);
    EXPECT_EQ(ex.pendingCount(), 0u);
}

#include "UiFixture.h"

#include "ui/shared/AnimatedEyeLogo.h"
#include "ui/shared/EyeRenderer.h"
#include "ui/shared/Tween.h"

#include <QPainter>

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

namespace {} // namespace

TEST(AnimatedEyeLogo, OpensWithASpringThenBlinksAtTheStatedTimes) {
    UiFixture f;
    AnimatedEyeLogo logo(f.executor, f.executor, 64, true, false, AnimatedEyeLogo::Mode::idle);
    EXPECT_EQ(logo.params().openAmount, 0.0);
    logo.show();
    f.executor.advanceBy(1500);
    EXPECT_DOUBLE_EQ(logo.params().openAmount, 1.0);
    f.executor.advanceBy(2500 + 110 - 1500);
    EXPECT_NEAR(logo.params().openAmount, AnimatedEyeLogo::blinkClosedAmount, 1e-9);
    f.executor.advanceBy(180);
    EXPECT_DOUBLE_EQ(logo.params().openAmount, 1.0);
    // Open until the next blink starts at 2610 + 5000 ms.
    f.executor.advanceBy(7610 - 2790 - 16);
    EXPECT_DOUBLE_EQ(logo.params().openAmount, 1.0);
    f.executor.advanceBy(16 + 110);
    EXPECT_NEAR(logo.params().openAmount, AnimatedEyeLogo::blinkClosedAmount, 1e-9);
    EXPECT_EQ(logo.params().pulseScale, 1.0);
}

TEST(AnimatedEyeLogo, CalibratingPulsesAndNeverBlinks) {
    UiFixture f;
    AnimatedEyeLogo logo(f.executor, f.executor, 72, true, false, AnimatedEyeLogo::Mode::calibrating);
    logo.show();
    double minOpen = 1.0;
    double maxPulse = 0, minPulse = 2;
    f.executor.advanceBy(1500);
    for (int t = 0; t < 12000; t += 16) {
        f.executor.advanceBy(16);
        minOpen = std::min(minOpen, logo.params().openAmount);
        maxPulse = std::max(maxPulse, logo.params().pulseScale);
        minPulse = std::min(minPulse, logo.params().pulseScale);
    }
    EXPECT_GT(minOpen, 0.99);
    EXPECT_NEAR(maxPulse, AnimatedEyeLogo::pulseHigh, 2e-3);
    EXPECT_NEAR(minPulse, AnimatedEyeLogo::pulseLow, 2e-3);
}

TEST(AnimatedEyeLogo, LeavingTheScreenStopsTheLoopAndComingBackRestartsInTheNewMode) {
    UiFixture f;
    AnimatedEyeLogo logo(f.executor, f.executor, 40, true, false, AnimatedEyeLogo::Mode::idle);
    logo.show();
    f.executor.advanceBy(2000);
    logo.hide();
    EXPECT_FALSE(logo.isLooping());
    f.executor.advanceBy(20000);
    EXPECT_EQ(f.executor.pendingCount(), 0u) << "a hidden logo leaves no timer behind";
    EXPECT_DOUBLE_EQ(logo.params().openAmount, 1.0);
    logo.setMode(AnimatedEyeLogo::Mode::calibrating);
    logo.show();
    f.executor.advanceBy(800);
    EXPECT_NEAR(logo.params().pulseScale, AnimatedEyeLogo::pulseHigh, 1e-9);
}

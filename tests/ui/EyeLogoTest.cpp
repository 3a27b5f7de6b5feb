#include "UiFixture.h"

#include "ui/shared/AnimatedEyeLogo.h"

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;
using Mode = AnimatedEyeLogo::Mode;

// On screen the logo opens, then blinks every 5 s; calibrating, it pulses and never blinks. Hidden, it
// leaves no timer behind, and it comes back in the mode set meanwhile.
TEST(AnimatedEyeLogo, BlinksOrPulsesOnlyWhileOnScreen) {
    UiFixture f;
    AnimatedEyeLogo logo(f.executor, f.executor, 64, true, false, Mode::idle);
    EXPECT_EQ(logo.params().openAmount, 0.0);
    logo.show();
    f.executor.advanceBy(2500 + 110);
    EXPECT_NEAR(logo.params().openAmount, AnimatedEyeLogo::blinkClosedAmount, 1e-9) << "the first blink";
    f.executor.advanceBy(5000 - 16);
    EXPECT_DOUBLE_EQ(logo.params().openAmount, 1.0) << "open until the next blink";
    f.executor.advanceBy(16 + 110);
    EXPECT_NEAR(logo.params().openAmount, AnimatedEyeLogo::blinkClosedAmount, 1e-9) << "the second blink";
    logo.hide();
    EXPECT_FALSE(logo.isLooping());
    f.executor.advanceBy(20000);
    EXPECT_EQ(f.executor.pendingCount(), 0u) << "a hidden logo leaves no timer behind";

    logo.setMode(Mode::calibrating);
    logo.show();
    double minOpen = 1.0, minPulse = 2.0, maxPulse = 0.0;
    for (int t = 0; t < 12000; t += 16) {
        f.executor.advanceBy(16);
        minOpen = std::min(minOpen, logo.params().openAmount);
        minPulse = std::min(minPulse, logo.params().pulseScale);
        maxPulse = std::max(maxPulse, logo.params().pulseScale);
    }
    EXPECT_GT(minOpen, 0.99) << "no blink while calibrating";
    EXPECT_NEAR(maxPulse, AnimatedEyeLogo::pulseHigh, 2e-3);
    EXPECT_NEAR(minPulse, AnimatedEyeLogo::pulseLow, 2e-3);
}

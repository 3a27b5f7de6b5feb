#include "UiFixture.h"

#include "ui/panels/StatsView.h"
#include "ui/shared/StatCard.h"

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

TEST(StatsView, ProtectedTimeInHoursAndWholeMinutes) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0m"},       {59, "0m"},        {3599, "59m"},
        {3600, "1h 0m"}, {90061, "25h 1m"}, {3600LL * 1000000 + 120, "1000000h 2m"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(StatsView::formatTime(seconds), QString::fromUtf8(text)) << seconds;
    }
}

TEST(StatsView, LargeCountersShrinkOnOneLineInsteadOfWrapping) {
    UiFixture f;
    f.stats.stats = FilterStats{1234567890123LL, 98765, 3600LL * 4321 + 59 * 60};
    StatsView view(f.ctx);
    view.resize(360, 440);
    view.show();
    grab(view, "stats-large");
    EXPECT_EQ(view.alertsCard()->value(), QStringLiteral("1234567890123"));
    EXPECT_EQ(view.timeCard()->value(), QStringLiteral("4321h 59m"));
    EXPECT_LT(view.alertsCard()->valuePixelSize(), 48);
    EXPECT_GE(view.alertsCard()->valuePixelSize(), 24);
    // Small values keep the full sizes.
    f.stats.stats = FilterStats{3, 2, 60};
    EXPECT_EQ(view.alertsCard()->valuePixelSize(), 48);
    EXPECT_EQ(view.sessionsCard()->valuePixelSize(), 36);
}

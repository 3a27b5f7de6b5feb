#include "UiFixture.h"

#include "ui/panels/StatsView.h"
#include "ui/shared/StatCard.h"

#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

TEST(StatsView, FormatTime) {
    EXPECT_EQ(StatsView::formatTime(0), QStringLiteral("0m"));
    EXPECT_EQ(StatsView::formatTime(59), QStringLiteral("0m"));
    EXPECT_EQ(StatsView::formatTime(2700), QStringLiteral("45m"));
    EXPECT_EQ(StatsView::formatTime(3599), QStringLiteral("59m"));
    EXPECT_EQ(StatsView::formatTime(3600), QStringLiteral("1h 0m"));
    EXPECT_EQ(StatsView::formatTime(7500), QStringLiteral("2h 5m"));
    EXPECT_EQ(StatsView::formatTime(90061), QStringLiteral("25h 1m"));
    EXPECT_EQ(StatsView::formatTime(3600LL * 1000000 + 120), QStringLiteral("1000000h 2m"));
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

TEST(StatsView, ConfirmedResetZeroesEveryCard) {
    UiFixture f;
    f.countOneOfEach();
    StatsView view(f.ctx);
    view.show();
    EXPECT_EQ(view.timeCard()->value(), QStringLiteral("1h 6m"));
    EXPECT_EQ(view.locksCard()->value(), QStringLiteral("1"));
    grab(view, "stats-with-locks");
    QTest::mouseClick(view.resetButton(), Qt::LeftButton);
    ASSERT_TRUE(view.resetConfirmation()->isVisible());
    grab(view, "stats-reset-confirmation");
    QTest::mouseClick(view.confirmResetButton(), Qt::LeftButton);
    EXPECT_EQ(view.alertsCard()->value(), QStringLiteral("1")) << "the reset runs as a posted task";
    f.turn();
    EXPECT_EQ(view.alertsCard()->value(), QStringLiteral("0"));
    EXPECT_EQ(view.sessionsCard()->value(), QStringLiteral("0"));
    EXPECT_EQ(view.timeCard()->value(), QStringLiteral("0m"));
    EXPECT_EQ(view.locksCard()->value(), QStringLiteral("0"));
    EXPECT_EQ(f.store.readInt("stats_total_active_seconds"), 0);
    EXPECT_EQ(f.store.readInt("stats_lock_count"), 0);
    grab(view, "stats-after-reset");
}

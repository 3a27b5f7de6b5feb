#include "UiFixture.h"

#include "ui/panels/AboutView.h"
#include "ui/panels/PanelRow.h"
#include "ui/panels/StatsView.h"
#include "ui/panels/TrayPanel.h"
#include "ui/shared/AppColors.h"
#include "ui/shared/StatCard.h"
#include "ui/shared/ToggleSwitch.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

namespace {

struct StateCase {
    const char* name;
    FilterState state;
    const char* text;
    QColor color;
    bool analysisUnavailable = false;
};

} // namespace

TEST(TrayPanel, StatusLineTextAndColourForEveryState) {
    const std::vector<StateCase> cases = {
        {"inactive", FilterState::inactive(), "Protection désactivée", AppColors::textSecondary()},
        {"nominal", FilterState::nominal(3), "Protection active", AppColors::success()},
        {"inattention", FilterState::inattention(3), "Protection active", AppColors::success()},
        {"alert", FilterState::alert(), "Regard indiscret détecté", AppColors::error()},
        {"paused", FilterState::autoPaused(PauseReason::screenOff()), "En pause", AppColors::textSecondary()},
        {"battery", FilterState::autoPaused(PauseReason::lowBattery()), "En pause",
         AppColors::textSecondary()},
        {"camera-busy", FilterState::cameraBusy(5000), "Caméra indisponible", AppColors::warning()},
        // The face models failed to load: the service stopped the filter and says why.
        {"analysis-unavailable", FilterState::inactive(),
         "Analyse du visage indisponible\nRéinstallez Tavrine", AppColors::error(), true},
    };
    for (const auto& c : cases) {
        UiFixture f;
        f.filter.state = c.state;
        f.filter.active = !c.state.is(FilterState::Kind::inactive);
        f.filter.alert = c.state.is(FilterState::Kind::alert);
        f.filter.blind = c.analysisUnavailable;
        TrayPanel view(f.ctx);
        view.show();
        f.executor.advanceBy(1500); // the logo has opened
        const QImage img = grab(view, QStringLiteral("panel-%1").arg(c.name));
        EXPECT_EQ(view.statusLine()->text(), QString::fromUtf8(c.text)) << c.name;
        // The status text is drawn in its colour, and not in the other two status colours.
        const QRect line = rectIn(view.statusLine(), &view);
        EXPECT_GT(countNear(img, line, c.color, 40), 3) << c.name;
        for (const QColor& other : {AppColors::success(), AppColors::error()}) {
            if (colorDistance(other, c.color) > 60) {
                EXPECT_EQ(countNear(img, line, other, 40), 0) << c.name;
            }
        }
        EXPECT_EQ(view.activeSwitch()->isChecked(), f.filter.active.get()) << c.name;
    }
}

TEST(TrayPanel, TimeLeftInWholeMinutesRoundedUp) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {15 * 60'000, "15\u00a0min"},
        {14 * 60'000 + 1, "15\u00a0min"},
        {1, "1\u00a0min"},
        {0, "0\u00a0min"},
        {59 * 60'000 + 30'000, "1\u00a0h"},
        {61 * 60'000, "1\u00a0h\u00a001"},
        {(7 * 60 + 5) * 60'000, "7\u00a0h\u00a005"},
        {25 * 3'600'000, "25\u00a0h"},
    };
    for (const auto& [ms, text] : cases) {
        EXPECT_EQ(TrayPanel::timeLeftText(ms), QString::fromUtf8(text)) << ms;
    }
}

// The pause button is there but disabled while the filter is off; each entry of its menu stops the
// running filter (as a posted task) until its end, and "Reprendre maintenant" takes its place.
TEST(TrayPanel, EachPauseEntryStopsTheRunningFilterForItsLength) {
    const std::pair<const char*, std::int64_t> entries[] = {
        {"Suspendre 15\u00a0min", 15 * 60'000},
        {"Suspendre 1\u00a0h", 60 * 60'000},
        {"Suspendre jusqu\u2019\u00e0 demain", -1},
    };
    UiFixture f;
    TrayPanel view(f.ctx);
    view.show();
    EXPECT_TRUE(view.pauseButton()->isVisible());
    EXPECT_FALSE(view.pauseButton()->isEnabled());
    for (int i = 0; i < int(std::size(entries)); ++i) {
        const auto& [text, lengthMs] = entries[i];
        f.filter.start({});
        f.turn();
        EXPECT_TRUE(view.pauseButton()->isEnabled()) << text;
        EXPECT_FALSE(view.resumeRow()->isVisible()) << text;
        QTest::mouseClick(view.pauseButton(), Qt::LeftButton);
        ASSERT_TRUE(view.pauseMenu()->isVisible());
        QAction* action = view.pauseMenu()->actions().at(i);
        EXPECT_EQ(action->text(), QString::fromUtf8(text));
        const std::int64_t now = f.executor.nowMs();
        const int stops = f.filter.stops;
        action->trigger();
        EXPECT_EQ(f.filter.stops, stops) << "the pause is posted";
        f.turn();
        EXPECT_EQ(f.filter.stops, stops + 1) << text;
        const std::int64_t length = lengthMs > 0 ? lengthMs : nextMorningMs(now) - now;
        EXPECT_EQ(f.timedPause.status.get().resumeAtMs, now + length) << text;
        EXPECT_EQ(view.statusLine()->text(), TrayPanel::pausedStatusText(length));
        EXPECT_FALSE(view.activeSwitch()->isChecked());
        EXPECT_FALSE(view.pauseButton()->isVisible());
        EXPECT_TRUE(view.resumeRow()->isVisible());
        grab(view, QStringLiteral("panel-paused-%1").arg(i));
        view.pauseMenu()->hide();
        f.timedPause.resumeNow();
        f.turn();
    }
}

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

TEST(TrayPanel, SwitchOnWithAFailingCameraFallsBackToOff) {
    UiFixture f;
    f.filter.cameraWorks = false;
    TrayPanel view(f.ctx);
    view.show();
    QTest::mouseClick(view.activeSwitch(), Qt::LeftButton);
    EXPECT_FALSE(view.activeSwitch()->isChecked()) << "the switch never moves by itself";
    f.turn();
    f.turn();
    EXPECT_EQ(f.filter.starts, 1);
    EXPECT_FALSE(view.activeSwitch()->isChecked());
    EXPECT_EQ(view.statusLine()->text(), QStringLiteral("Caméra indisponible"));
    ASSERT_TRUE(view.notice()->isVisible()) << "the panel says what to do";
    EXPECT_EQ(view.notice()->text(),
              QString::fromUtf8("Branchez une caméra ou fermez l’application qui l’utilise, "
                                "puis réactivez la protection."));
    f.filter.cameraWorks = true;
    QTest::mouseClick(view.activeSwitch(), Qt::LeftButton);
    f.turn();
    f.turn();
    EXPECT_TRUE(view.activeSwitch()->isChecked());
    EXPECT_FALSE(view.notice()->isVisible()) << "gone once the camera works";
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

TEST(TrayPanel, PauseEntriesNeedARunningFilter) {
    UiFixture f;
    TrayPanel view(f.ctx);
    view.show();
    ASSERT_NE(view.pauseButton(), nullptr);
    EXPECT_TRUE(view.pauseButton()->isVisible());
    EXPECT_FALSE(view.pauseButton()->isEnabled());
    EXPECT_FALSE(view.resumeRow()->isVisible());
    f.filter.start({});
    f.turn();
    EXPECT_TRUE(view.pauseButton()->isEnabled());
}

TEST(TrayPanel, EachPauseEntryStopsTheFilterForItsLength) {
    const std::pair<const char*, std::int64_t> entries[] = {
        {"Suspendre 15\u00a0min", 15 * 60'000},
        {"Suspendre 1\u00a0h", 60 * 60'000},
        {"Suspendre jusqu\u2019\u00e0 demain", -1},
    };
    for (std::size_t i = 0; i < std::size(entries); ++i) {
        UiFixture f;
        f.filter.start({});
        f.turn();
        TrayPanel view(f.ctx);
        view.show();
        // The button sits beside the switch, on its left.
        const QRect button = rectIn(view.pauseButton(), &view);
        const QRect toggle = rectIn(view.activeSwitch(), &view);
        EXPECT_LT(button.right(), toggle.left());
        EXPECT_TRUE(button.top() < toggle.bottom() && toggle.top() < button.bottom());
        QTest::mouseClick(view.pauseButton(), Qt::LeftButton);
        ASSERT_TRUE(view.pauseMenu()->isVisible());
        const QList<QAction*> actions = view.pauseMenu()->actions();
        ASSERT_EQ(actions.size(), 3);
        EXPECT_EQ(actions[int(i)]->text(), QString::fromUtf8(entries[i].first));
        const std::int64_t now = f.executor.nowMs();
        actions[int(i)]->trigger();
        EXPECT_EQ(f.filter.stops, 0) << "the pause is posted";
        f.turn();
        EXPECT_EQ(f.filter.stops, 1);
        const std::int64_t length = entries[i].second > 0 ? entries[i].second : nextMorningMs(now) - now;
        EXPECT_EQ(f.timedPause.status.get().resumeAtMs, now + length) << entries[i].first;
        EXPECT_EQ(view.statusLine()->text(), TrayPanel::pausedStatusText(length));
        EXPECT_FALSE(view.activeSwitch()->isChecked());
        EXPECT_FALSE(view.pauseButton()->isVisible());
        EXPECT_TRUE(view.resumeRow()->isVisible());
        grab(view, QStringLiteral("panel-paused-%1").arg(i));
    }
}

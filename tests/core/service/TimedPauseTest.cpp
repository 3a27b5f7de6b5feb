// The timed pause over the running filter of core/fakes/ServiceRig.h, in virtual time.
#include "core/service/TimedPause.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace tavrine {
namespace {

using namespace tavrine::testing;

constexpr std::int64_t minute = 60'000;

struct PauseRig : Rig {
    std::optional<TimedPause> pause;
    PauseRig() {
        pause.emplace(TimedPause::Dependencies{exec, exec, svc().isActive, [this] { svc().stop(); },
                                               [this] { svc().start(); }, events});
        start();
    }
    ~PauseRig() { pause.reset(); }
    bool paused() { return pause->status.get().paused; }
    bool filterRuns() { return svc().isActive.get() && source->running() && overlay.isShowing.get(); }
    bool filterStopped() { return !svc().isActive.get() && !source->running() && !overlay.isShowing.get(); }
    std::int64_t sessions() { return stats.stats.get().sessionCount; }
};

struct LengthCase {
    const char* name;
    TimedPause::Length length;
    std::int64_t ms;
};

class TimedPauseLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(TimedPauseLength, StopsTheFilterAndStartsItAgainAtTheExactEnd) {
    const LengthCase& c = GetParam();
    PauseRig r;
    const std::int64_t t0 = r.exec.nowMs();
    r.pause->pause(c.length);
    r.settle();
    EXPECT_TRUE(r.filterStopped()) << "camera released, overlay hidden";
    EXPECT_EQ(r.pause->status.get(), (TimedPause::Status{true, t0 + c.ms, c.ms}));

    r.advance(c.ms - 1);
    EXPECT_TRUE(r.paused());
    EXPECT_TRUE(r.filterStopped());
    EXPECT_EQ(r.pause->status.get().remainingMs,
              c.ms - (c.ms - 1) / TimedPause::clockCheckMs * TimedPause::clockCheckMs)
        << "the time left follows the clock checks";
    r.advance(1);
    EXPECT_FALSE(r.paused());
    EXPECT_TRUE(r.filterRuns());
    EXPECT_EQ(r.state(), FilterState::nominal(3));
    EXPECT_EQ(r.sessions(), 2);
    r.advance(2 * c.ms);
    EXPECT_EQ(r.sessions(), 2) << "one start per pause";
}

INSTANTIATE_TEST_SUITE_P(Lengths, TimedPauseLength,
                         ::testing::Values(LengthCase{"fifteenMinutes", TimedPause::Length::fifteenMinutes,
                                                      15 * minute},
                                           LengthCase{"oneHour", TimedPause::Length::oneHour, 60 * minute}),
                         [](const auto& info) { return std::string(info.param.name); });

// A suspend of the machine: the wall clock jumps, the running-time timers do not move.
struct SuspendCase {
    const char* name;
    std::optional<SystemEventMonitor::Event> wake; // how the wake shows, if at all
    std::int64_t resumedWithinMs;                  // after the wake
};

class TimedPauseSuspend : public ::testing::TestWithParam<SuspendCase> {};

TEST_P(TimedPauseSuspend, AcrossTheEndResumesByTheWallClockAtWake) {
    const SuspendCase& c = GetParam();
    PauseRig r;
    r.pause->pause(TimedPause::Length::fifteenMinutes);
    r.advance(5 * minute);
    r.exec.setNowMs(r.exec.nowMs() + 40 * minute); // asleep 40 minutes, 30 past the end
    if (c.wake) {
        r.events.fire(*c.wake);
    }
    r.settle();
    if (c.resumedWithinMs > 0) {
        EXPECT_TRUE(r.paused()) << "nothing reads the clock before the next check";
        r.advance(c.resumedWithinMs - 1);
        EXPECT_TRUE(r.paused());
        r.advance(1);
    }
    EXPECT_FALSE(r.paused());
    EXPECT_TRUE(r.filterRuns());
    r.advance(15 * minute);
    EXPECT_EQ(r.sessions(), 2) << "the running-time timer, due later, starts nothing more";
}

INSTANTIATE_TEST_SUITE_P(
    Wakes, TimedPauseSuspend,
    ::testing::Values(SuspendCase{"displayWakes", SystemEventMonitor::Event::displayAwake, 0},
                      SuspendCase{"sessionBack", SystemEventMonitor::Event::sessionActive, 0},
                      SuspendCase{"noWakeSignal", std::nullopt, TimedPause::clockCheckMs}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TimedPause, ASleepEndingBeforeTheEndKeepsThePauseToItsWallClockEnd) {
    PauseRig r;
    const std::int64_t end = r.exec.nowMs() + 15 * minute;
    r.pause->pause(TimedPause::Length::fifteenMinutes);
    r.advance(2 * minute);
    r.exec.setNowMs(r.exec.nowMs() + 10 * minute);
    r.events.fire(SystemEventMonitor::Event::displayAwake);
    r.settle();
    EXPECT_TRUE(r.paused());
    EXPECT_EQ(r.pause->status.get().remainingMs, 3 * minute) << "the time left counts the sleep";
    r.advance(3 * minute - 1);
    EXPECT_TRUE(r.paused());
    r.advance(TimedPause::clockCheckMs);
    EXPECT_FALSE(r.paused()) << "ended by the first clock check past " << end;
    EXPECT_TRUE(r.filterRuns());
}

TEST(TimedPause, AClockSetBackDoesNotStretchThePauseBeyondItsLength) {
    PauseRig r;
    r.pause->pause(TimedPause::Length::fifteenMinutes);
    r.advance(minute);
    r.exec.setNowMs(r.exec.nowMs() - 120 * minute);
    r.advance(14 * minute);
    EXPECT_FALSE(r.paused());
    EXPECT_TRUE(r.filterRuns());
}

TEST(TimedPause, StartingTheFilterOtherwiseForgetsThePause) {
    PauseRig r;
    r.pause->pause(TimedPause::Length::oneHour);
    r.settle();
    r.start(); // the switch or the shortcut
    EXPECT_FALSE(r.paused());
    r.svc().stop(); // then switched off by hand
    r.advance(2 * 60 * minute);
    EXPECT_TRUE(r.filterStopped()) << "the forgotten pause starts nothing at its old end";
    EXPECT_EQ(r.sessions(), 2);
}

TEST(TimedPause, ResumeNowStartsAtOnceAndOnlyOnce) {
    PauseRig r;
    r.pause->pause(TimedPause::Length::fifteenMinutes);
    r.advance(minute);
    r.pause->resumeNow();
    r.settle();
    EXPECT_FALSE(r.paused());
    EXPECT_TRUE(r.filterRuns());
    r.pause->resumeNow();
    r.advance(30 * minute);
    EXPECT_EQ(r.sessions(), 2);
}

TEST(TimedPause, ANewPauseReplacesTheRunningOne) {
    PauseRig r;
    r.pause->pause(TimedPause::Length::fifteenMinutes);
    r.advance(minute);
    r.pause->pause(TimedPause::Length::oneHour);
    r.advance(30 * minute);
    EXPECT_TRUE(r.paused());
    EXPECT_TRUE(r.filterStopped());
    r.advance(30 * minute);
    EXPECT_FALSE(r.paused());
    EXPECT_EQ(r.sessions(), 2);
}

TEST(TimedPause, GoneWithThePauseNothingStartsLater) {
    PauseRig r;
    r.pause->pause(TimedPause::Length::fifteenMinutes);
    r.settle();
    r.pause.reset(); // quitting forgets the pause
    r.advance(60 * minute);
    EXPECT_TRUE(r.filterStopped());
    EXPECT_EQ(r.sessions(), 1);
}

// Local times of Paris, which has daylight-saving time.
class ParisTime : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) {
            saved_ = tz;
        }
        ::setenv("TZ", "Europe/Paris", 1);
        ::tzset();
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("TZ", saved_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::optional<std::string> saved_;
};

TEST_F(ParisTime, UntilTomorrowEndsAtEightOnTheComingMorning) {
    struct Case {
        const char* now;
        std::int64_t nowS;
        std::int64_t morningS;
    };
    // Seconds since 1970 of Paris times (date -d with TZ=Europe/Paris).
    const Case cases[] = {
        {"2026-12-06 22:24, evening", 1796592240, 1796626800},
        {"2026-12-07 02:00, still the night", 1796605200, 1796626800},
        {"2026-12-07 03:59:59, last second of the night", 1796612399, 1796626800},
        {"2026-12-07 04:00, a new day", 1796612400, 1796713200},
        {"2026-12-07 08:00, at eight already", 1796626800, 1796713200},
        {"2026-12-31 23:00, new year", 1798754400, 1798786800},
        {"2026-03-28 22:00, clocks go forward overnight (9 h)", 1774731600, 1774764000},
        {"2026-10-24 22:00, clocks go back overnight (11 h)", 1792872000, 1792911600},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nextMorningMs(c.nowS * 1000 + 250), c.morningS * 1000) << c.now;
    }
}

} // namespace
} // namespace tavrine

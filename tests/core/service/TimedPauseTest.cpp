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

struct PauseRig : Rig {
    std::optional<TimedPause> pause;
    PauseRig() {
        pause.emplace(TimedPause::Dependencies{exec, exec, svc().isActive, [this] { svc().stop(); },
                                               [this] { svc().start(); },
                                               [this] { return svc().retryStart(); }, events});
        // As the application wires it.
        svc().shortcutEndsAWait = [this] {
            return pause && pause->endWaitForCamera(svc().fsmState.get(), svc().isActive.get());
        };
        start();
    }

    void run(const std::string& script) {
        using Length = TimedPause::Length;
        testing::run(
            *this, script,
            {{"pause",
              [this](Rig&, std::int64_t min) {
                  pause->pause(min == 15 ? Length::fifteenMinutes : Length::oneHour);
              }},
             {"resume", [this](Rig&, auto) { pause->resumeNow(); }},
             {"forget", [this](Rig&, auto) { pause.reset(); }}, // quitting forgets the pause
             {"giveup", [this](Rig&, auto) { pause->stopAwaitingCamera(); }}},
            {{"paused", [this](Rig&) -> std::int64_t { return pause->status.get().paused; }},
             {"awaiting", [this](Rig&) -> std::int64_t { return pause->status.get().awaitingCamera; }},
             // The time left as last seen by a clock check, and until the wall clock's end.
             {"left", [this](Rig&) { return pause->status.get().remainingMs; }},
             {"endsin", [this](Rig& r) { return pause->status.get().resumeAtMs - r.exec.nowMs(); }},
             // Of the filter's flag, the camera and the overlay, how many are on.
             {"on", [](Rig& r) -> std::int64_t {
                  return r.svc().isActive.get() + r.source->running() + r.overlay.isShowing.get();
              }}});
    }
};

class TimedPauseScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(TimedPauseScenario, FollowsTheScript) {
    PauseRig r;
    r.run(GetParam().script);
}

// A pause stops the filter (camera released, overlay hidden) and starts it again, once, at its exact end;
// the time left follows the clock checks, every 15 s.
const Scenario pauseScenarios[] = {
    {"FifteenMinutes", "pause15 on=0 paused=1 left=900000 endsin=900000 +899999 paused=1 on=0 left=15000 "
                       "+1 paused=0 on=3 state=N sessions=2 +1800000 sessions=2"},
    // A suspend of 40 minutes across the end: resumed by the wall clock at the wake, or at the next clock
    // check without a wake signal; the running-time timer, due later, starts nothing more.
    {"SuspendAcrossTheEndDisplayWakes", "pause15 +300000 clock40 wake paused=0 on=3 +900000 sessions=2"},
    {"SuspendAcrossTheEndSessionBack", "pause15 +300000 clock40 switchback paused=0 on=3 +900000 sessions=2"},
    {"SuspendAcrossTheEndNoWakeSignal",
     "pause15 +300000 clock40 paused=1 +14999 paused=1 +1 paused=0 on=3 +900000 sessions=2"},
    // A sleep ending before the end keeps the pause to its wall-clock end, ended by the first check past it.
    {"ASleepBeforeTheEnd",
     "pause15 +120000 clock10 wake paused=1 left=180000 +179999 paused=1 +15000 paused=0 on=3"},
    // Nor the time it says is left.
    {"AClockSetBackDoesNotStretchThePause",
     "pause15 +60000 clock-120 +15000 left=825000 +825000 paused=0 on=3"},
    // Started otherwise (the switch, the shortcut), the pause is forgotten: nothing starts at its old end.
    {"StartingTheFilterForgetsThePause", "pause60 start paused=0 stop +7200000 on=0 sessions=2"},
    {"ResumeNowStartsAtOnceAndOnlyOnce", "pause15 +60000 resume paused=0 on=3 resume +1800000 sessions=2"},
    {"ANewPauseReplacesTheRunningOne",
     "pause15 +60000 pause60 +1800000 paused=1 on=0 +1800000 paused=0 sessions=2"},
    {"GoneWithThePauseNothingStartsLater", "pause15 forget +3600000 on=0 sessions=1"},
    // A call running past the pause holds the camera: tried again every 5 s, as the same session, until
    // the filter runs; switched off meanwhile, it stays off.
    {"ACameraTakenAtTheEndIsTriedAgain", "pause15 fail fail +900000 paused=0 awaiting=1 on=0 state=C +4999 "
                                         "state=C +1 state=C awaiting=1 +5000 on=3 "
                                         "awaiting=0 user state=N sessions=2"},
    {"SwitchedOffWhileTheCameraIsTakenStaysOff",
     "pause15 fail fail +900000 state=C +5000 stop +60000 on=0 state=X awaiting=0 sessions=2"},
    // Given up from the panel: the wait ends at once and nothing starts later.
    {"GivingUpTheTriesLeavesTheFilterOff",
     "pause15 fail fail fail +900000 awaiting=1 state=C giveup awaiting=0 state=X +60000 on=0 state=X "
     "sessions=2"},
    // The shortcut too: it turns the awaited protection off, and starts the filter during the pause.
    {"TheShortcutTurnsOffTheAwaitedStart",
     "pause15 fail fail fail +900000 awaiting=1 state=C press awaiting=0 state=X +60000 on=0 sessions=2"},
    {"TheShortcutDuringThePauseStarts", "pause15 press paused=0 on=3 +1800000 sessions=2"},
    // While the start at the end still opens (here it waits for the face models), a press leaves it be.
    {"TheShortcutWhileTheStartOpensLetsItRun",
     "pause15 modelsloading +900000 awaiting=1 state=X press awaiting=1 modelsloaded state=N on=3 awaiting=0 "
     "sessions=2"},
    // Nobody in front of a sleeping display or a session switched away: the camera is not tried for them;
    // it is at once when they are back.
    {"NoTriesWhileTheDisplaySleeps", "pause15 fail fail +900000 awaiting=1 starts=2 sleep +60000 starts=2 "
                                     "wake starts=3 state=C +5000 on=3 awaiting=0 sessions=2"},
    {"NoTriesWhileTheSessionIsAway",
     "pause15 fail fail +900000 awaiting=1 starts=2 switchaway +60000 starts=2 "
     "switchback starts=3 state=C +5000 on=3 awaiting=0 sessions=2"},
    // Nor does the end of the pause: it holds, with nothing left, until they are back; also when the wall
    // clock was set back meanwhile, and when the machine resumes with another session in front.
    {"TheEndWaitsForTheDisplayToWake",
     "pause15 sleep +900000 paused=1 left=0 on=0 starts=1 +60000 on=0 wake paused=0 on=3 sessions=2"},
    {"TheEndWaitsForTheSessionToComeBack",
     "pause15 switchaway +960000 paused=1 on=0 switchback paused=0 on=3"},
    {"TheEndWaitsAcrossAClockSetBack", "pause15 sleep clock-120 +900000 paused=1 on=0 wake paused=0 on=3"},
    {"ResumedWithAnotherSessionInFront",
     "pause15 +300000 clock40 switchaway wake paused=1 on=0 switchback paused=0 on=3 sessions=2"},
    // An end that comes with the user back, the camera taken: one start then, the next try 5 s later.
    {"BackAtTheEndOneStartNotTwo",
     "pause15 fail fail sleep +900000 starts=1 wake starts=2 state=C awaiting=1 +4999 starts=2 +1 starts=3 "
     "+5000 on=3"},
    {"AwakeAgainButStillAwayNoTry",
     "pause15 fail +900000 sleep switchaway +10000 wake +10000 starts=2 awaiting=1 switchback on=3"},
    // A camera free at the end: nothing is awaited; a second resume or a give-up then does nothing.
    {"ACameraFreeAtTheEndAwaitsNothing", "pause15 +900000 awaiting=0 on=3 giveup on=3 sessions=2"},
};

INSTANTIATE_TEST_SUITE_P(Table, TimedPauseScenario, ::testing::ValuesIn(pauseScenarios), scenarioName);

TEST(UntilTomorrow, EndsAtEightOnTheComingMorningOfParis) {
    // Unset and set to nothing are two zones (local time, UTC): both are restored as they were.
    const char* saved = std::getenv("TZ");
    const std::optional<std::string> before = saved ? std::optional<std::string>(saved) : std::nullopt;
    ::setenv("TZ", "Europe/Paris", 1); // which has daylight-saving time
    ::tzset();
    // Seconds since 1970 of Paris times (date -d with TZ=Europe/Paris).
    const struct {
        const char* now;
        std::int64_t nowS, morningS;
    } cases[] = {
        {"2026-12-06 22:24, evening", 1796592240, 1796626800},
        {"2026-12-07 02:00, still the night", 1796605200, 1796626800},
        {"2026-12-07 03:59:59, last second of the night", 1796612399, 1796626800},
        {"2026-12-07 04:00, a new day", 1796612400, 1796713200},
        {"2026-12-07 08:00, at eight already", 1796626800, 1796713200},
        {"2026-12-31 23:00, new year", 1798754400, 1798786800},
        {"2026-03-28 22:00, clocks go forward overnight (9 h)", 1774731600, 1774764000},
        {"2026-10-24 22:00, clocks go back overnight (11 h)", 1792872000, 1792911600},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nextMorningMs(c.nowS * 1000 + 250), c.morningS * 1000) << c.now;
    }
    before ? ::setenv("TZ", before->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
}

} // namespace
} // namespace tavrine

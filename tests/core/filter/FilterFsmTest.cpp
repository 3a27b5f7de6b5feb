#include "core/filter/FilterFsm.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace tavrine {
namespace {

using Event = FilterFsm::SystemEvent;
using testing::stateOf;
constexpr std::int64_t t0 = 1'700'000'000'000;

// Without a yaw, the faces are counted but none is primary.
DetectionInput face(std::int64_t t, std::optional<float> yaw, float pitch = 0.0f, std::int64_t count = 1) {
    return {t, count, yaw ? std::optional(FaceData{*yaw, pitch, 0.2f}) : std::nullopt};
}

template <typename T> FilterSettings with(FilterSettings s, T FilterSettings::*field, T value) {
    s.*field = value;
    return s;
}

// Runs a script of space-separated steps "<op><number>[=<state>]": the number is a time after start for
// frames (a attentive, w looking away, n no face, 2 two faces, 1 a face counted without a primary face), the
// strength for G, the inattention delay for T (1500 ms unless set), the pause length for P; A/D
// activate/deactivate; events S screen off, O screen on, B low battery, K battery fine, C camera busy, V
// camera back. "=state" checks the state after the step. Also checks that the machine never publishes the
// same state twice in a row.
void runScript(FilterFsm& fsm, const std::string& script, std::int64_t start = t0) {
    std::vector<FilterState> published;
    auto sub = fsm.state.subscribe([&](const FilterState& s) { published.push_back(s); });
    std::istringstream steps(script);
    std::string step;
    while (steps >> step) {
        const std::size_t eq = step.find('=');
        const std::string body = step.substr(0, eq);
        const std::int64_t n = body.size() > 1 ? std::stoll(body.substr(1)) : 0;
        const std::int64_t t = start + n;
        const std::map<char, std::function<void()>> ops = {
            {'A', [&] { fsm.activate(); }},
            {'D', [&] { fsm.deactivate(); }},
            {'G', [&] { fsm.updateSettings(with(fsm.settings(), &FilterSettings::filterStrength, int(n))); }},
            {'T', [&] { fsm.updateSettings(with(fsm.settings(), &FilterSettings::inattentionDelayMs, n)); }},
            {'P', [&] { fsm.onSystemEvent(Event::userPause(n)); }},
            {'S', [&] { fsm.onSystemEvent(Event::screenOff()); }},
            {'O', [&] { fsm.onSystemEvent(Event::screenOn()); }},
            {'B', [&] { fsm.onSystemEvent(Event::lowBattery()); }},
            {'K', [&] { fsm.onSystemEvent(Event::batteryOk()); }},
            {'C', [&] { fsm.onSystemEvent(Event::cameraBusy()); }},
            {'V', [&] { fsm.onSystemEvent(Event::cameraAvailable()); }},
            {'a', [&] { fsm.onDetectionInput(face(t, 0.0f)); }},
            {'w', [&] { fsm.onDetectionInput(face(t, 45.0f)); }},
            {'n', [&] { fsm.onDetectionInput(face(t, std::nullopt, 0.0f, 0)); }},
            {'1', [&] { fsm.onDetectionInput(face(t, std::nullopt)); }},
            {'2', [&] { fsm.onDetectionInput(face(t, 0.0f, 0.0f, 2)); }}};
        ASSERT_TRUE(ops.contains(body[0])) << "unknown step " << step;
        ops.at(body[0])();
        if (eq != std::string::npos) {
            ASSERT_EQ(fsm.state.get(), stateOf(step.substr(eq + 1))) << "after " << step;
        }
    }
    for (std::size_t i = 1; i < published.size(); ++i) {
        EXPECT_NE(published[i], published[i - 1]) << "published twice";
    }
}

class FilterFsmScripts : public ::testing::TestWithParam<testing::Scenario> {};

TEST_P(FilterFsmScripts, FollowTheScript) {
    FilterFsm fsm;
    runScript(fsm, GetParam().script);
}

// Recovery from an alert at t: one calm frame, then one when the 3 s hold is over.
std::string bounce(std::int64_t t) {
    return "2" + std::to_string(t) + "=L a" + std::to_string(t + 1) + " a" + std::to_string(t + 3001) + "=N ";
}
// An alert entry at t while locked, back in nominal through a screen off/on.
std::string lockedEntry(std::int64_t t) {
    return "2" + std::to_string(t) + "=L S O=N ";
}

const testing::Scenario kScripts[] = {
    {"FramesIgnoredUntilActivated", "w0=X 21=X A=N A=N D=X D=X"},
    {"InattentionDelayFromSettings", "T500 A w0 w499=N w500=I"},
    {"FacelessFramesNeitherStopNorRestartTheLookAway", "A w0 n500 n1000=N w1500=I"},
    {"AttentiveFrameRestartsTheDelay", "A w0 a1000 w1100 w2599=N w2600=I"},
    {"InNominalAFaceWithoutPrimaryChangesNothing", "A 10 11500=N"},
    {"InInattentionAttentiveReturnsAndTheLookAwayStartsAfresh", "A w0 w1500=I a1600=N w1700 w3199=N w3200=I"},
    {"InInattentionLosingTheFaceAlerts", "A w0 w1500=I n1600=L"},
    {"InInattentionAFaceWithoutPrimaryAlerts", "A w0 w1500=I 11600=L"},
    {"AlertHolds2999msOfCalm", "A 20=L a100 n1000 w3099=L n3100=N"},
    {"TwoFacesRestartTheHold", "A 20 a100 22000 a2100 a5099=L a5100=N"},
    {"LeavingAlertLooksAwayAfresh", "A w0 21000=L w1100 w4100=N w4200 w5699=N w5700=I"},
    {"ThirdEntryLocksForThirtySeconds",
     "A " + bounce(0) + bounce(5000) + "210000=L a10100 a20000 a39999=L a40000 a42999=L a43000=N"},
    {"EntryAtFifteenSecondsIsInTheWindow",
     "A " + bounce(0) + bounce(4000) + "215000 a15100 a44999=L a45000 a48000=N"},
    {"EntryPastFifteenSecondsOpensANewWindow", "A " + bounce(0) + bounce(4000) + bounce(15001) +
                                                   bounce(19001) + "223001 a23100 a53000=L a53001 a56001=N"},
    // The lock keeps the window it fell in, and entries after it count from zero again: at 15.5 s the
    // window of 0 s is over, so the third entry since the lock opens a new one and does not lock again.
    {"FlapLockKeepsItsWindowAndLaterEntriesCountAfresh",
     "A " + bounce(0) + bounce(4000) + "28000=L S O=N " + lockedEntry(9000) + lockedEntry(10000) +
         "215500=L a15600 a37999=L a38000 a40999=L a41000=N"},
    {"FlapLockSurvivesAStopAndRestart",
     "A " + bounce(0) + bounce(4000) + "28000 D A 29000 a9100 a37999=L a38000 a41000=N"},
    {"AClockSetBackEndsNoDelayOrHoldEarly", "A w0 w-60000=N w1500=I 22000 a2100 a-100000=L a5100=N"},
    {"AClockSetBackKeepsTheLockLength",
     "A " + bounce(0) + bounce(4000) +
         "28000=L a8100 a-3591800=L a-3561901=L a-3561900 a-3558901=L a-3558900=N"},
    {"AClockSetBackKeepsTheFlapWindow",
     "A 20=L a1 a3001=N a4000 a-3596000 2-3590000=L a-3589999 a-3586999=N "
     "2-3580000=L a-3579999 a-3576999=N 2-3570000=L a-3569999 a-3566999=N"},
    {"SettingsApplyAtTheNextEntry", "A G5=N w0 w1500=I5 a1600=N5"},
    {"NominalWithAnOldStrengthIsReentered", "A G1 O=N C=C V=N1"},
    {"FramesIgnoredWhilePausedOrBusy", "A S 20=Z C 2100=C"},
    {"EventsResetTheLookAwayOnlyThroughNominal", "A w0 O V w1500=I S O=N w1600 w3099=N"},
};

INSTANTIATE_TEST_SUITE_P(Table, FilterFsmScripts, ::testing::ValuesIn(kScripts), testing::scenarioName);

// Every event in every state: the resulting state, from the rows' start states and the columns' events
// P1000 P2000 S O B K C V.
TEST(FilterFsmEvents, EveryEventInEveryState) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"D", "X U1000 U2000 Z X B X C X"},          {"A", "N U1000 U2000 Z N B N C N"},
        {"A w0 w5000", "I U1000 U2000 Z I B I C I"}, {"A 20", "L U1000 U2000 Z L B L C L"},
        {"C", "C U1000 U2000 Z C B C C N"},          {"S", "Z U1000 U2000 Z N B Z C Z"},
        {"B", "B U1000 U2000 Z N B N C B"},          {"P1000", "U1000 U1000 U2000 Z N B U1000 C U1000"},
    };
    const char* events[] = {"P1000", "P2000", "S", "O", "B", "K", "C", "V"};
    for (const auto& [setup, results] : rows) {
        std::istringstream expected(results);
        std::string start, result;
        expected >> start;
        for (const char* event : events) {
            expected >> result;
            SCOPED_TRACE(setup + " then " + event);
            FilterFsm fsm;
            // Twice: a repeated event changes nothing.
            runScript(fsm, setup + "=" + start + " " + event + "=" + result + " " + event + "=" + result);
        }
    }
}

TEST(FilterFsmLimits, AttentionLimitsAreStrictOnBothAxesAndNaNLooksAway) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float yaw, pitch;
        bool attentive;
    } cases[] = {{29.99f, 0.0f, true},  {-29.99f, 24.99f, true}, {30.0f, 0.0f, false},
                 {-30.0f, 0.0f, false}, {0.0f, 25.0f, false},    {0.0f, -25.0f, false},
                 {nan, 0.0f, false},    {0.0f, nan, false},      {INFINITY, 0.0f, false}};
    for (const auto& c : cases) {
        FilterFsm m;
        m.updateSettings(with(FilterSettings{}, &FilterSettings::inattentionDelayMs, std::int64_t{0}));
        m.activate();
        m.onDetectionInput(face(t0, c.yaw, c.pitch));
        EXPECT_EQ(m.state.get().is(FilterState::Kind::nominal), c.attentive) << c.yaw << " " << c.pitch;
    }
}

TEST(FilterFsmLimits, ExtremeTimestampsDoNotOverflow) {
    const auto max = std::numeric_limits<std::int64_t>::max();
    const std::string end = std::to_string(max),
                      start = std::to_string(std::numeric_limits<std::int64_t>::min() + 1);
    FilterFsm fsm, late;
    runScript(fsm, "A w" + start + " w" + end + "=I 2" + end + "=L a1 a" + end + "=N", 0);
    // Three entries near the end of time lock until the end of time rather than wrapping around.
    runScript(late, "A 20 a1 a3001=N 25000 a5001 a8001=N 210000 a10001 a13001=L", max - 14000);
}

TEST(FilterAlpha, FollowsTheTableInSinglePrecisionAndIdleStatesAreClear) {
    const float nominal[] = {0.3025f, 0.3575f, 0.4125f, 0.4675f, 0.5225f};
    const float inattention[] = {0.44f, 0.52f, 0.60f, 0.68f, 0.76f};
    const float alert[] = {0.55f, 0.65f, 0.75f, 0.80f, 0.80f};
    for (int strength = 1; strength <= 5; ++strength) {
        EXPECT_FLOAT_EQ(filterAlpha(FilterState::nominal(1), strength), nominal[strength - 1]);
        EXPECT_FLOAT_EQ(filterAlpha(FilterState::inattention(9), strength), inattention[strength - 1]);
        EXPECT_FLOAT_EQ(filterAlpha(FilterState::alert(), strength), alert[strength - 1]);
    }
    EXPECT_EQ(filterAlpha(FilterState::nominal(5), 2), 0.65f * 0.55f); // the float product the overlay gets
    for (int strength : {0, 6, -1, std::numeric_limits<int>::min()}) {
        EXPECT_FLOAT_EQ(filterAlpha(FilterState::nominal(3), strength), 0.4125f);
    }
    for (const FilterState& s : {FilterState::inactive(), FilterState::cameraBusy(5000),
                                 FilterState::autoPaused(PauseReason::userPaused(1))}) {
        EXPECT_EQ(filterAlpha(s, 5), 0.0f) << toString(s);
    }
}

} // namespace
} // namespace tavrine

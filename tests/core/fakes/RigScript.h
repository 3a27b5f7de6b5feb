#pragma once

// Scripts over the rig of ServiceRig.h: a table row names what happens and what must hold, step by step.

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <numbers>
#include <sstream>
#include <string>

namespace tavrine {
inline void PrintTo(const FilterState& state, std::ostream* os) {
    *os << toString(state);
}
} // namespace tavrine

namespace tavrine::testing {

// An action gets the number written after its name ("battery5": 5), or 0.
using RigActions = std::map<std::string, std::function<void(Rig&, std::int64_t)>>;
using RigReadings = std::map<std::string, std::function<std::int64_t(Rig&)>>;

inline FaceObservation face(double width, double yawDegrees = 0.0) {
    FaceObservation o;
    o.boundingBox = {0.3, 0.3, width, width};
    o.yaw = yawDegrees * std::numbers::pi / 180.0;
    return o;
}

inline const std::vector<FaceObservation> userOnly{face(0.1)};
inline const std::vector<FaceObservation> userAndOnlooker{face(0.1), face(0.06)};

// "N" nominal(3), "N5" nominal(5), "I" inattention(3), "L" alert, "X" inactive, "C" camera busy, "Z" paused
// for the screen or the session, "B" paused for the battery, "U<ms>" paused by the user.
inline FilterState stateOf(const std::string& code) {
    const std::int64_t n = code.size() > 1 ? std::stoll(code.substr(1)) : 3;
    const std::map<char, FilterState> states = {{'N', FilterState::nominal(static_cast<int>(n))},
                                                {'I', FilterState::inattention(static_cast<int>(n))},
                                                {'L', FilterState::alert()},
                                                {'X', FilterState::inactive()},
                                                {'C', FilterState::cameraBusy(FilterFsm::cameraRetryMs)},
                                                {'Z', FilterState::autoPaused(PauseReason::screenOff())},
                                                {'B', FilterState::autoPaused(PauseReason::lowBattery())},
                                                {'U', FilterState::autoPaused(PauseReason::userPaused(n))}};
    return states.at(code[0]);
}

// Two faces at the present time, as an analyzer would deliver them.
inline DetectionInput onlookerInput(Rig& r) {
    return DetectionInput{r.exec.nowMs(), 2, FaceData{0.0f, 0.0f, 0.1f}};
}

// What a step does to the rig. A step runs the queues until idle afterwards unless it ends with "!";
// "." only runs them. "+<ms>" lets virtual time pass; a frame step "<faces>*<ms>" repeats for that long.
inline const RigActions actions = {
    {"+", [](Rig& r, std::int64_t ms) { r.advance(ms); }},
    {".", [](Rig&, auto) {}},
    {"start", [](Rig& r, auto) { ASSERT_TRUE(r.start()); }},
    {"stop", [](Rig& r, auto) { r.svc().stop(); }},
    // A stop while the camera is still starting.
    {"startstop",
     [](Rig& r, auto) {
         bool done = false;
         r.svc().start([&done] { done = true; });
         r.svc().stop();
         r.settle();
         EXPECT_TRUE(done) << "a start always completes";
     }},
    {"fail", [](Rig& r, auto) { r.source->failNextStart(CameraError::noCameraAvailable); }},
    {"user", [](Rig& r, auto) { r.see(userOnly); }},
    {"onlooker", [](Rig& r, auto) { r.see(userAndOnlooker); }},
    {"away", [](Rig& r, auto) { r.see({face(0.1, 60.0)}); }},
    {"nobody", [](Rig& r, auto) { r.see({}); }},
    // Straight into the machine, with no side-effect pass run yet.
    {"twofaces", [](Rig& r, auto) { r.svc().fsm().onDetectionInput(onlookerInput(r)); }},
    {"sleep", [](Rig& r, auto) { r.events.fire(SystemEventMonitor::Event::displayAsleep); }},
    {"wake", [](Rig& r, auto) { r.events.fire(SystemEventMonitor::Event::displayAwake); }},
    {"switchaway", [](Rig& r, auto) { r.events.fire(SystemEventMonitor::Event::sessionInactive); }},
    {"switchback", [](Rig& r, auto) { r.events.fire(SystemEventMonitor::Event::sessionActive); }},
    // The screen saver already on when the filter starts.
    {"asleepbefore", [](Rig& r, auto) { r.events.screensAsleep = true; }},
    {"battery",
     [](Rig& r, std::int64_t n) {
         r.power.reading = BatteryReading{true, static_cast<int>(n), false};
     }},
    {"lose", [](Rig& r, auto) { r.source->interrupt(true); }},
    {"back", [](Rig& r, auto) { r.source->interrupt(false); }},
    {"press", [](Rig& r, auto) { r.shortcut.pressFromOtherThread(); }},
    {"modelsfail", [](Rig& r, auto) { r.detector->failed = r.modelMissing = true; }},
    {"modelsok", [](Rig& r, auto) { r.detector->failed = r.modelMissing = false; }},
    {"strength",
     [](Rig& r, std::int64_t n) { r.change([n](FilterSettings& s) { s.filterStrength = int(n); }); }},
    {"fps", [](Rig& r, std::int64_t n) { r.change([n](FilterSettings& s) { s.captureFps = int(n); }); }},
    {"noshortcut",
     [](Rig& r, auto) { r.change([](FilterSettings& s) { s.globalShortcutEnabled = false; }); }},
    // A face a tenth of the frame wide is then 100 cm away.
    {"coefficient",
     [](Rig& r, std::int64_t n) {
         r.change([n](FilterSettings& s) { s.privacyMatrixCoefficient = float(n); });
     }},
    // The wall clock moved by n minutes (set by hand, or a suspend): the running-time timers do not move.
    {"clock", [](Rig& r, std::int64_t n) { r.exec.setNowMs(r.exec.nowMs() + n * 60'000); }},
};

inline const RigReadings readings = {
    {"active", [](Rig& r) -> std::int64_t { return r.svc().isActive.get(); }},
    {"isalert", [](Rig& r) -> std::int64_t { return r.svc().isAlert.get(); }},
    {"unavailable", [](Rig& r) -> std::int64_t { return r.svc().analysisUnavailable.get(); }},
    {"showing", [](Rig& r) -> std::int64_t { return r.overlay.isShowing.get(); }},
    {"alertmode", [](Rig& r) -> std::int64_t { return r.overlay.isAlertMode.get(); }},
    {"distance", [](Rig& r) { return r.overlay.matrixDistanceCm.get(); }},
    {"running", [](Rig& r) -> std::int64_t { return r.source->running(); }},
    {"starts", [](Rig& r) -> std::int64_t { return r.source->starts(); }},
    {"sessions", [](Rig& r) { return r.stats.stats.get().sessionCount; }},
    {"alerts", [](Rig& r) { return r.stats.stats.get().alertCount; }},
    {"seconds", [](Rig& r) { return r.stats.stats.get().totalActiveSeconds; }},
    {"posts", [](Rig& r) -> std::int64_t { return std::ssize(r.notifier.posts); }},
    {"removals",
     [](Rig& r) -> std::int64_t {
         return std::ranges::count_if(r.notifier.log, [](auto& e) { return e.starts_with("remove"); });
     }},
    {"pulses", [](Rig& r) -> std::int64_t { return r.haptics.pulses; }},
    {"reads", [](Rig& r) -> std::int64_t { return r.power.reads; }},
    {"shortcut", [](Rig& r) -> std::int64_t { return r.shortcut.handler != nullptr; }},
    {"installs", [](Rig& r) -> std::int64_t { return r.shortcut.installs; }},
    // The analyzer attached to the camera, the ones made so far and those still alive.
    {"attached", [](Rig& r) -> std::int64_t { return r.analyzer() != nullptr; }},
    {"analyzers", [](Rig& r) -> std::int64_t { return std::ssize(r.analyzers); }},
    {"alive",
     [](Rig& r) -> std::int64_t {
         return std::ranges::count_if(r.analyzers, [](auto& a) { return !a.expired(); });
     }},
    {"suspended", [](Rig& r) -> std::int64_t { return r.analyzer() && r.analyzer()->isSuspended.load(); }},
    {"interval", [](Rig& r) -> std::int64_t { return r.analyzer()->minIntervalMs(); }},
};

// Runs the steps; "key=value" checks a reading, "state=<code>" the machine's state. After every step what
// the service publishes agrees with its machine, and the overlay's alpha with the state and live strength.
// A test adds the steps and readings of its own unit.
inline void run(Rig& r, const std::string& script, const RigActions& moreActions = {},
                const RigReadings& moreReadings = {}) {
    auto find = [](const auto& mine, const auto& common, const std::string& name) {
        return mine.contains(name) ? mine.at(name) : common.contains(name) ? common.at(name) : nullptr;
    };
    std::istringstream tokens(script);
    std::string token;
    while (tokens >> token) {
        SCOPED_TRACE("at " + token);
        const auto eq = token.find('=');
        if (eq != std::string::npos) {
            const std::string key = token.substr(0, eq), value = token.substr(eq + 1);
            if (key == "state") {
                EXPECT_EQ(r.state(), stateOf(value));
            } else {
                const auto reading = find(moreReadings, readings, key);
                ASSERT_TRUE(reading) << "unknown reading";
                EXPECT_EQ(reading(r), std::stoll(value, nullptr, 0));
            }
            continue;
        }
        const bool settle = token.back() != '!';
        const std::string step = settle ? token : token.substr(0, token.size() - 1);
        const auto star = step.find('*'), digits = std::min(step.find_first_of("-0123456789", 1), star);
        const auto action = find(moreActions, actions, step.substr(0, digits));
        ASSERT_TRUE(action) << "unknown step";
        const std::int64_t n = digits < star ? std::stoll(step.substr(digits)) : 0;
        const std::int64_t forMs = star == std::string::npos ? 1 : std::stoll(step.substr(star + 1));
        for (std::int64_t t = 0; t < forMs; t += 200) {
            action(r, n);
        }
        if (settle) {
            r.settle();
        }
        if (r.service) {
            ASSERT_EQ(r.svc().fsmState.get(), r.state()) << "published state";
            ASSERT_FLOAT_EQ(r.overlay.currentAlpha.get(), filterAlpha(r.state(), r.live().filterStrength));
        }
    }
}

// One row of a table of scripts.
struct Scenario {
    const char* name;
    std::string script;
};

inline void PrintTo(const Scenario& row, std::ostream* os) {
    *os << row.script;
}

inline std::string scenarioName(const ::testing::TestParamInfo<Scenario>& info) {
    return info.param.name;
}

} // namespace tavrine::testing

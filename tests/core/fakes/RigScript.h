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

namespace tavrine::testing {

using RigActions = std::map<std::string, std::function<void(Rig&)>>;
using RigReadings = std::map<std::string, std::function<std::int64_t(Rig&)>>;

inline FaceObservation face(double width, double yawDegrees = 0.0) {
    FaceObservation o;
    o.boundingBox = {0.3, 0.3, width, width};
    o.yaw = yawDegrees * std::numbers::pi / 180.0;
    return o;
}

inline const std::vector<FaceObservation> userOnly{face(0.1)};
inline const std::vector<FaceObservation> userAndOnlooker{face(0.1), face(0.06)};

// "N" nominal(3), "I" inattention(3), "L" alert, "X" inactive, "C" camera busy, "Z" paused for the screen or
// the session, "B" paused for the battery.
inline FilterState stateOf(const std::string& code) {
    const std::map<std::string, FilterState> states = {
        {"N", FilterState::nominal(3)},
        {"I", FilterState::inattention(3)},
        {"L", FilterState::alert()},
        {"X", FilterState::inactive()},
        {"C", FilterState::cameraBusy(5000)},
        {"Z", FilterState::autoPaused(PauseReason::screenOff())},
        {"B", FilterState::autoPaused(PauseReason::lowBattery())}};
    return states.at(code);
}

// What a step does to the rig. A step runs the queues until idle afterwards unless it ends with "!";
// "." only runs them. "+<ms>" lets virtual time pass; a frame step "<faces>*<ms>" repeats for that long.
inline const RigActions actions = {
    {"start", [](Rig& r) { ASSERT_TRUE(r.start()); }},
    {"stop", [](Rig& r) { r.svc().stop(); }},
    // A stop while the camera is still starting.
    {"startstop",
     [](Rig& r) {
         bool done = false;
         r.svc().start([&done] { done = true; });
         r.svc().stop();
         r.settle();
         EXPECT_TRUE(done) << "a start always completes";
     }},
    {"fail", [](Rig& r) { r.source->failNextStart(CameraError::noCameraAvailable); }},
    {"user", [](Rig& r) { r.see(userOnly); }},
    {"onlooker", [](Rig& r) { r.see(userAndOnlooker); }},
    {"away", [](Rig& r) { r.see({face(0.1, 60.0)}); }},
    {"nobody", [](Rig& r) { r.see({}); }},
    {"sleep", [](Rig& r) { r.events.fire(SystemEventMonitor::Event::displayAsleep); }},
    {"wake", [](Rig& r) { r.events.fire(SystemEventMonitor::Event::displayAwake); }},
    {"switchaway", [](Rig& r) { r.events.fire(SystemEventMonitor::Event::sessionInactive); }},
    {"switchback", [](Rig& r) { r.events.fire(SystemEventMonitor::Event::sessionActive); }},
    // States already true when the filter starts.
    {"asleepbefore", [](Rig& r) { r.events.screensAsleep = true; }},
    {"awaybefore", [](Rig& r) { r.events.sessionInactive = true; }},
    {"battery5", [](Rig& r) { r.power.setBattery(5, false); }},
    {"battery50", [](Rig& r) { r.power.setBattery(50, false); }},
    {"lose", [](Rig& r) { r.source->interrupt(true); }},
    {"back", [](Rig& r) { r.source->interrupt(false); }},
    {"press", [](Rig& r) { r.shortcut.pressFromOtherThread(); }},
    {"modelsfail",
     [](Rig& r) {
         r.detector->failModels();
         r.modelMissing = true; // as the loader's factory after a failed load
     }},
    {"modelsok",
     [](Rig& r) {
         r.detector->failModels(false);
         r.modelMissing = false;
     }},
    {"strength5", [](Rig& r) { r.change([](FilterSettings& s) { s.filterStrength = 5; }); }},
    {"fps2", [](Rig& r) { r.change([](FilterSettings& s) { s.captureFps = 2; }); }},
    {"noshortcut", [](Rig& r) { r.change([](FilterSettings& s) { s.globalShortcutEnabled = false; }); }},
    {"clockback", [](Rig& r) { r.exec.setNowMs(r.exec.nowMs() - 3'600'000); }},
    {".", [](Rig&) {}},
};

inline const RigReadings readings = {
    {"active", [](Rig& r) -> std::int64_t { return r.svc().isActive.get(); }},
    {"isalert", [](Rig& r) -> std::int64_t { return r.svc().isAlert.get(); }},
    {"unavailable", [](Rig& r) -> std::int64_t { return r.svc().analysisUnavailable.get(); }},
    {"showing", [](Rig& r) -> std::int64_t { return r.overlay.isShowing.get(); }},
    {"alertmode", [](Rig& r) -> std::int64_t { return r.overlay.isAlertMode.get(); }},
    {"running", [](Rig& r) -> std::int64_t { return r.source->running(); }},
    {"starts", [](Rig& r) -> std::int64_t { return r.source->starts(); }},
    {"sessions", [](Rig& r) { return r.stats.stats.get().sessionCount; }},
    {"alerts", [](Rig& r) { return r.stats.stats.get().alertCount; }},
    {"seconds", [](Rig& r) { return r.stats.stats.get().totalActiveSeconds; }},
    {"posts", [](Rig& r) -> std::int64_t { return std::ssize(r.notifier.posts); }},
    {"removals", [](Rig& r) -> std::int64_t { return r.notifier.removals(); }},
    {"pulses", [](Rig& r) -> std::int64_t { return r.haptics.pulses; }},
    {"reads", [](Rig& r) -> std::int64_t { return r.power.reads; }},
    {"shortcut", [](Rig& r) -> std::int64_t { return r.shortcut.installed(); }},
    {"installs", [](Rig& r) -> std::int64_t { return r.shortcut.installs; }},
    // The analyzer attached to the camera, the ones made so far and those still alive.
    {"attached", [](Rig& r) -> std::int64_t { return r.analyzer() != nullptr; }},
    {"analyzers", [](Rig& r) -> std::int64_t { return std::ssize(r.analyzers); }},
    {"alive",
     [](Rig& r) -> std::int64_t {
         return std::count_if(r.analyzers.begin(), r.analyzers.end(), [](auto& a) { return !a.expired(); });
     }},
    {"suspended", [](Rig& r) -> std::int64_t { return r.analyzer() && r.analyzer()->isSuspended.load(); }},
    {"fps", [](Rig& r) -> std::int64_t { return r.analyzerFps.back(); }},
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
                EXPECT_EQ(reading(r), std::stoll(value));
            }
            continue;
        }
        const bool settle = token.back() != '!';
        const std::string step = settle ? token : token.substr(0, token.size() - 1);
        if (step[0] == '+') {
            r.advance(std::stoll(step.substr(1)));
        } else {
            const auto star = step.find('*');
            const auto action = find(moreActions, actions, step.substr(0, star));
            ASSERT_TRUE(action) << "unknown step";
            const std::int64_t forMs = star == std::string::npos ? 1 : std::stoll(step.substr(star + 1));
            for (std::int64_t t = 0; t < forMs; t += 200) {
                action(r);
            }
        }
        if (settle) {
            r.settle();
        }
        ASSERT_EQ(r.svc().fsmState.get(), r.state()) << "published state";
        ASSERT_FLOAT_EQ(r.overlay.currentAlpha.get(), filterAlpha(r.state(), r.live().filterStrength));
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

#pragma once

// The running filter on fakes at the platform seams only: the real camera session over a fake frame
// source, real analyzers over a scripted detector, the real overlay manager over a recording window
// system, the real repositories over an in-memory store, and virtual time for every timer. Scripts over it:
// a table row names what happens and what must hold, step by step.

#include "core/detection/FrameSource.h"
#include "core/fakes/RecordingKeyValueStore.h"
#include "core/service/AlertAnnouncer.h"
#include "core/service/PrivacyFilterService.h"
#include "core/util/VirtualExecutor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace tavrine {
inline void PrintTo(const FilterState& state, std::ostream* os) {
    *os << toString(state);
}
} // namespace tavrine

namespace tavrine::testing {

// A camera frame (its pixels are never looked at).
inline const VideoFrame kFrame{640, 480, 640 * 4, std::make_shared<const std::vector<std::uint8_t>>(4, 0)};
// A frame of a covered lens: black throughout.
inline const VideoFrame kDarkFrame{640, 480, 640 * 4,
                                   std::make_shared<const std::vector<std::uint8_t>>(640 * 480 * 4, 0)};

// A frame source driven by the test: it answers the access questions as told, fails the next starts on
// request and pushes frames and interruptions on the test's command, from whichever thread calls it.
class FakeFrameSource final : public FrameSource {
  public:
    std::atomic<Access> access = Access::authorized;
    std::atomic<bool> promptAnswer = true;
    std::atomic<int> prompts = 0;
    std::atomic<int> starts = 0;
    std::atomic<int> failingStarts = 0; // that many next starts find no camera

    Access accessStatus() override { return access; }
    bool requestAccess() override {
        ++prompts;
        access = promptAnswer ? Access::authorized : Access::denied;
        return promptAnswer;
    }
    std::optional<CameraError> start(FrameHandler onFrame) override {
        std::lock_guard lock(mutex_);
        ++starts;
        // A device whose rights were taken away while the access answer was kept (a reopening).
        if (access == Access::denied) {
            return CameraError::permissionDenied;
        }
        if (failingStarts > 0) {
            --failingStarts;
            return CameraError::noCameraAvailable;
        }
        onFrame_ = std::move(onFrame);
        return std::nullopt;
    }
    void stop() override {
        locked([&] { onFrame_ = nullptr; });
    }
    void setInterruptionHandler(InterruptionHandler handler) override {
        locked([&] { onInterruption_ = std::move(handler); });
    }
    std::string describe() const override { return "fake"; }

    // Delivers a frame as the streaming thread would, if the source is running.
    void pushFrame(const VideoFrame& frame) {
        if (const FrameHandler handler = locked([&] { return onFrame_; })) {
            handler(frame);
        }
    }
    void interrupt(bool interrupted) {
        if (const InterruptionHandler handler = locked([&] { return onInterruption_; })) {
            handler(interrupted);
        }
    }

    bool running() const {
        return locked([&] { return static_cast<bool>(onFrame_); });
    }
    bool hasInterruptionHandler() const {
        return locked([&] { return static_cast<bool>(onInterruption_); });
    }

  private:
    template <typename F> auto locked(F f) const -> decltype(f()) {
        std::lock_guard lock(mutex_);
        return f();
    }

    mutable std::mutex mutex_;
    FrameHandler onFrame_;
    InterruptionHandler onInterruption_;
};

// Answers every frame with the scripted faces or, with `faces` empty, a failed detection; `failed` makes it
// a detector whose models failed to load. The test may hold the worker inside detect() until it opens the
// gate; a frame's width tags it, so the test sees which frames were detected.
class FakeDetector final : public FaceDetector {
  public:
    std::optional<std::vector<FaceObservation>> detect(const VideoFrame& frame) override {
        std::unique_lock lock(mutex);
        seenWidths.push_back(frame.width);
        entered.notify_all();
        gate.wait(lock, [this] { return open; });
        return failed ? std::nullopt : faces;
    }
    bool isUnavailable() const override { return failed; }
    void setOpen(bool value) {
        std::lock_guard lock(mutex);
        open = value;
        gate.notify_all();
    }
    void waitForCalls(std::size_t n) {
        std::unique_lock lock(mutex);
        entered.wait(lock, [&] { return seenWidths.size() >= n; });
    }

    std::mutex mutex;
    std::condition_variable gate, entered;
    bool open = true;
    std::vector<int> seenWidths; // read once the worker is idle
    // Set only while the analysis is idle (Rig::see): handing the frame over orders it before the detection.
    std::optional<std::vector<FaceObservation>> faces = std::vector<FaceObservation>{};
    std::atomic<bool> failed = false;
};

// Records every window-system call: "create 2", "front 2", "frame 2 1280,0 1920x1080", "out 2", "destroy 2".
struct RecordingWindowSystem final : WindowSystem {
    struct Window final : OverlayWindow {
        Window(std::vector<std::string>& log, ScreenId id) : log(log), id(std::to_string(id)) {}
        ~Window() override { log.push_back("destroy " + id); }
        void show() override { log.push_back("front " + id); }
        void hide() override { log.push_back("out " + id); }
        void setFrame(const ScreenRect& f) override {
            log.push_back("frame " + id + " " + std::to_string(f.x) + "," + std::to_string(f.y) + " " +
                          std::to_string(f.width) + "x" + std::to_string(f.height));
        }
        std::vector<std::string>& log;
        std::string id;
    };

    std::vector<ScreenInfo> screens() const override { return connected; }
    std::unique_ptr<OverlayWindow> createOverlayWindow(const ScreenInfo& screen,
                                                       OverlayWindowManager&) override {
        log.push_back("create " + std::to_string(screen.id));
        return std::make_unique<Window>(log, screen.id);
    }
    Subscription observeScreenChanges(std::function<void()> onChange) override {
        return changes.subscribe(std::move(onChange));
    }

    bool showsTransparency() const override { return compositor; }
    bool windowsShowByArea() const override { return byArea; }
    Subscription observeTransparencyChanges(std::function<void()> onChange) override {
        return transparency.subscribe(std::move(onChange));
    }

    std::vector<ScreenInfo> connected{ScreenInfo{1, ScreenRect{0, 0, 1280, 800}}};
    std::vector<std::string> log;
    Signal<> changes;
    Signal<> transparency;
    bool compositor = true;
    bool byArea = true;
};

class FakeNotifier final : public Notifier {
  public:
    struct Post {
        std::string identifier, title, body;
    };
    void post(const std::string& identifier, const std::string& title, const std::string& body) override {
        posts.push_back({identifier, title, body});
        log.push_back("post " + identifier);
    }
    void remove(const std::string& identifier) override { log.push_back("remove " + identifier); }
    std::vector<Post> posts;
    std::vector<std::string> log;
};

class FakeHaptics final : public Haptics {
  public:
    void pulse() override { ++pulses; }
    int pulses = 0;
};

class FakeSystemEvents final : public SystemEventMonitor {
  public:
    Subscription observe(std::function<void(Event)> handler) override {
        if (screensAsleep) {
            handler(Event::displayAsleep);
        }
        return signal.subscribe(std::move(handler));
    }
    void fire(Event e) { signal.notify(e); }
    Signal<Event> signal;
    // Already true, heard by each new observer.
    bool screensAsleep = false;
};

class FakePowerSource final : public PowerSource {
  public:
    std::optional<BatteryReading> battery() override {
        ++reads;
        return reading;
    }
    Subscription observeUpdates(std::function<void()> onUpdate) override {
        return updates.subscribe(onUpdate);
    }
    std::optional<BatteryReading> reading;
    int reads = 0;
    Signal<> updates;
};

class FakeShortcut final : public GlobalShortcut {
  public:
    // Removing an older installation leaves a newer one in place.
    Subscription install(std::function<void()> onPressed) override {
        handler = std::move(onPressed);
        return Subscription([this, id = ++installs] {
            if (id == installs) {
                handler = nullptr;
            }
        });
    }
    std::function<void()> handler;
    int installs = 0;
};

struct Rig {
    VirtualExecutor exec;
    std::shared_ptr<FakeFrameSource> source = std::make_shared<FakeFrameSource>();
    CameraSession camera{source, exec};
    RecordingWindowSystem windows;
    OverlayWindowManager overlay{windows};
    RecordingKeyValueStore store;
    FakeLoginItem loginItem;
    std::ostringstream diagnostics;
    SettingsRepository settings{store, loginItem, diagnostics};
    StatsRepository stats{store};
    std::shared_ptr<FakeDetector> detector = std::make_shared<FakeDetector>();
    FakeNotifier notifier;
    FakeHaptics haptics;
    FakeSystemEvents events;
    FakePowerSource power;
    FakeShortcut shortcut;
    KeyLocalizer localizer;
    std::vector<std::weak_ptr<FaceAnalyzer>> analyzers;
    bool modelMissing = false; // as the loader's factory after a failed load: no analyzer
    bool modelsLoading = false;
    std::vector<std::function<void()>> waitingForModels;
    std::unique_ptr<PrivacyFilterService> service;

    Rig() {
        settings.settings = FilterSettings{};
        service = std::make_unique<PrivacyFilterService>(PrivacyFilterService::Dependencies{
            exec, exec, camera, overlay, settings, stats,
            [this](int fps) -> std::shared_ptr<FaceAnalyzer> {
                if (modelMissing) {
                    return nullptr;
                }
                auto analyzer = FaceAnalyzer::create(fps, detector, exec, exec);
                analyzers.push_back(analyzer);
                return analyzer;
            },
            notifier, haptics, events, power, shortcut, localizer,
            [this](std::function<void()> ready) {
                if (modelsLoading) {
                    waitingForModels.push_back(std::move(ready));
                }
                return !modelsLoading;
            }});
    }
    ~Rig() {
        service.reset();
        settle();
    }

    PrivacyFilterService& svc() { return *service; }
    FilterState state() { return svc().fsm().state.get(); }
    std::shared_ptr<FaceAnalyzer> analyzer() { return camera.analyzer(); }
    FilterSettings live() { return settings.settings.get(); }
    template <typename T> void set(T FilterSettings::*field, std::type_identity_t<T> value) {
        FilterSettings s = live();
        s.*field = value;
        settings.settings = s;
    }

    // Runs the camera queue, the analysis workers and the main-thread tasks due now until all are idle.
    void settle() {
        for (int round = 0; round < 100; ++round) {
            camera.drainForTests();
            if (service) {
                service->drainForTests();
            }
            for (auto& weak : analyzers) {
                if (auto a = weak.lock()) {
                    a->drainForTests();
                }
            }
            if (exec.runPending() == 0) {
                return;
            }
        }
    }
    // Starts the filter (stopped again at once, while the camera is still starting, if asked); true when the
    // start completed.
    bool start(bool stopAtOnce = false) {
        bool done = false;
        svc().start([&done] { done = true; });
        if (stopAtOnce) {
            svc().stop();
        }
        settle();
        return done;
    }
    // One analysed frame with these faces, after `stepMs` of virtual time.
    void see(const std::vector<FaceObservation>& faces, std::int64_t stepMs = 200,
             const VideoFrame& frame = kFrame) {
        advance(stepMs);
        detector->faces = faces;
        source->pushFrame(frame);
        settle();
    }
    void advance(std::int64_t ms) {
        exec.advanceBy(ms);
        settle();
    }
};

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
    {"shutdown", [](Rig& r, auto) { r.svc().shutDown(); }},
    // A start asked for as the switch or the shortcut does, its completion not awaited.
    {"request", [](Rig& r, auto) { r.svc().start({}); }},
    {"arm", [](Rig& r, auto) { r.svc().armShortcut(); }},
    // The statistics reset from their sheet.
    {"resetstats", [](Rig& r, auto) { r.stats.reset(); }},
    {"startstop", [](Rig& r, auto) { EXPECT_TRUE(r.start(true)) << "a start always completes"; }},
    {"fail", [](Rig& r, auto) { ++r.source->failingStarts; }},
    // A second screen, and the setting that keeps the overlay to the main one.
    {"twoscreens",
     [](Rig& r, auto) {
         r.windows.connected.push_back(ScreenInfo{2, ScreenRect{1280, 0, 1280, 800}});
         r.windows.changes.notify();
     }},
    {"mainscreen", [](Rig& r, auto) { r.set(&FilterSettings::coverAllScreens, false); }},
    {"allscreens", [](Rig& r, auto) { r.set(&FilterSettings::coverAllScreens, true); }},
    {"deny", [](Rig& r, auto) { r.source->access = FrameSource::Access::denied; }},
    {"allow", [](Rig& r, auto) { r.source->access = FrameSource::Access::authorized; }},
    {"user", [](Rig& r, auto) { r.see(userOnly); }},
    {"onlooker", [](Rig& r, auto) { r.see(userAndOnlooker); }},
    {"away", [](Rig& r, auto) { r.see({face(0.1, 60.0)}); }},
    {"nobody", [](Rig& r, auto) { r.see({}); }},
    // The lens covered; a face found all the same in such a frame.
    {"dark", [](Rig& r, auto) { r.see({}, 200, kDarkFrame); }},
    {"darkuser", [](Rig& r, auto) { r.see(userOnly, 200, kDarkFrame); }},
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
    // The power source announces a change: the charger plugged in, or pulled out at that level.
    {"charger",
     [](Rig& r, auto) {
         r.power.reading = BatteryReading{true, r.power.reading ? r.power.reading->percent : 50, true};
         r.power.updates.notify();
     }},
    {"unplugged",
     [](Rig& r, std::int64_t n) {
         r.power.reading = BatteryReading{true, static_cast<int>(n), false};
         r.power.updates.notify();
     }},
    {"lose", [](Rig& r, auto) { r.source->interrupt(true); }},
    {"back", [](Rig& r, auto) { r.source->interrupt(false); }},
    // The keys pressed, heard on another thread as a platform hook may.
    {"press",
     [](Rig& r, auto) {
         if (r.shortcut.handler) {
             std::thread(r.shortcut.handler).join();
         }
     }},
    {"modelsfail", [](Rig& r, auto) { r.detector->failed = r.modelMissing = true; }},
    {"modelsok", [](Rig& r, auto) { r.detector->failed = r.modelMissing = false; }},
    {"modelsloading", [](Rig& r, auto) { r.modelsLoading = true; }},
    {"modelsloaded",
     [](Rig& r, auto) {
         r.modelsLoading = false;
         for (auto& ready : std::exchange(r.waitingForModels, {})) {
             r.exec.post(std::move(ready));
         }
     }},
    {"strength", [](Rig& r, std::int64_t n) { r.set(&FilterSettings::filterStrength, int(n)); }},
    {"fps", [](Rig& r, std::int64_t n) { r.set(&FilterSettings::captureFps, int(n)); }},
    {"noshortcut", [](Rig& r, auto) { r.set(&FilterSettings::globalShortcutEnabled, false); }},
    {"shortcuton", [](Rig& r, auto) { r.set(&FilterSettings::globalShortcutEnabled, true); }},
    {"nocompositor", [](Rig& r, auto) { r.windows.compositor = false; }},
    {"compositor", [](Rig& r, auto) { r.windows.compositor = true; }},
    // The compositing manager's window went away: it quit, or another manager replaced it.
    {"compositorgone",
     [](Rig& r, auto) {
         r.windows.compositor = false;
         r.windows.transparency.notify();
     }},
    {"compositorswap", [](Rig& r, auto) { r.windows.transparency.notify(); }},
    // A face a tenth of the frame wide is then 100 cm away.
    {"coefficient",
     [](Rig& r, std::int64_t n) { r.set(&FilterSettings::privacyMatrixCoefficient, float(n)); }},
    // The wall clock moved by n minutes (set by hand, or a suspend): the running-time timers do not move.
    {"clock", [](Rig& r, std::int64_t n) { r.exec.setNowMs(r.exec.nowMs() + n * 60'000); }},
};

// How often the notifier was asked to do `what` ("post", "remove") with the notification `id`.
inline std::function<std::int64_t(Rig&)> logged(const char* what, const char* id) {
    return
        [entry = std::string(what) + " " + id](Rig& r) { return std::ranges::count(r.notifier.log, entry); };
}

inline const RigReadings readings = {
    {"active", [](Rig& r) { return r.svc().isActive.get(); }},
    {"isalert", [](Rig& r) { return r.svc().isAlert.get(); }},
    {"unavailable", [](Rig& r) { return r.svc().analysisUnavailable.get(); }},
    {"refused", [](Rig& r) { return r.svc().cameraAccessRefused.get(); }},
    {"showing", [](Rig& r) { return r.overlay.isShowing.get(); }},
    {"windows", [](Rig& r) -> std::int64_t { return std::int64_t(r.overlay.windowCount()); }},
    {"alertmode", [](Rig& r) { return r.overlay.isAlertMode.get(); }},
    {"distance", [](Rig& r) { return r.overlay.matrixDistanceCm.get(); }},
    {"running", [](Rig& r) { return r.source->running(); }},
    {"starts", [](Rig& r) { return r.source->starts.load(); }},
    {"sessions", [](Rig& r) { return r.stats.stats.get().sessionCount; }},
    {"alerts", [](Rig& r) { return r.stats.stats.get().alertCount; }},
    {"seconds", [](Rig& r) { return r.stats.stats.get().totalActiveSeconds; }},
    {"posts", [](Rig& r) { return std::ssize(r.notifier.posts); }},
    {"sightless", [](Rig& r) { return r.svc().cameraSeesNothing.get(); }},
    {"sightposts", logged("post", PrivacyFilterService::sightNotificationId)},
    {"sightremovals", logged("remove", PrivacyFilterService::sightNotificationId)},
    {"cameraposts", logged("post", PrivacyFilterService::cameraNotificationId)},
    {"cameraremovals", logged("remove", PrivacyFilterService::cameraNotificationId)},
    // The alert's notice is on screen: posted last after any removal.
    {"alertshown",
     [](Rig& r) {
         const auto posted = std::ranges::find(r.notifier.log.rbegin(), r.notifier.log.rend(),
                                               std::string("post ") + AlertAnnouncer::notificationId);
         return posted != r.notifier.log.rend() &&
                std::find(r.notifier.log.rbegin(), posted,
                          std::string("remove ") + AlertAnnouncer::notificationId) == posted;
     }},
    {"removals",
     [](Rig& r) {
         return std::ranges::count_if(r.notifier.log, [](auto& e) { return e.starts_with("remove"); });
     }},
    {"pulses", [](Rig& r) { return r.haptics.pulses; }},
    {"reads", [](Rig& r) { return r.power.reads; }},
    {"shortcut", [](Rig& r) { return r.shortcut.handler != nullptr; }},
    {"installs", [](Rig& r) { return r.shortcut.installs; }},
    // The analyzer attached to the camera, the ones made so far and those still alive.
    {"attached", [](Rig& r) { return r.analyzer() != nullptr; }},
    {"analyzers", [](Rig& r) { return std::ssize(r.analyzers); }},
    {"alive",
     [](Rig& r) { return std::ranges::count_if(r.analyzers, [](auto& a) { return !a.expired(); }); }},
    {"suspended", [](Rig& r) { return r.analyzer() && r.analyzer()->isSuspended.load(); }},
    {"interval", [](Rig& r) { return r.analyzer()->minIntervalMs(); }},
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

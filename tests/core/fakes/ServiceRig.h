#pragma once

// The running filter on fakes at the platform seams only: the real camera session over a fake frame
// source, real analyzers over a scripted detector, the real overlay manager over a recording window
// system, the real repositories over an in-memory store, and virtual time for every timer.

#include "core/fakes/FakeFrameSource.h"
#include "core/fakes/RecordingKeyValueStore.h"
#include "core/service/PrivacyFilterService.h"
#include "core/util/VirtualExecutor.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tavrine::testing {

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
        {
            std::lock_guard lock(mutex);
            open = value;
        }
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

    std::vector<ScreenInfo> connected{ScreenInfo{1, ScreenRect{0, 0, 1280, 800}}};
    std::vector<std::string> log;
    Signal<> changes;
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
        Subscription s = signal.subscribe([handler](const Event& e) { handler(e); });
        if (screensAsleep) {
            handler(Event::displayAsleep);
        }
        return s;
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
    // Presses the keys from another thread, as a platform hook may.
    void pressFromOtherThread() {
        if (handler) {
            std::thread(handler).join();
        }
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
    // What the analyzers run: the scripted detector unless a test puts a real one in its place.
    std::shared_ptr<FaceDetector> analysisDetector = detector;
    FakeNotifier notifier;
    FakeHaptics haptics;
    FakeSystemEvents events;
    FakePowerSource power;
    FakeShortcut shortcut;
    KeyLocalizer localizer;
    std::vector<std::weak_ptr<FaceAnalyzer>> analyzers;
    bool modelMissing = false; // as the loader's factory after a failed load: no analyzer
    std::unique_ptr<PrivacyFilterService> service;

    Rig() {
        settings.settings = FilterSettings{};
        service = std::make_unique<PrivacyFilterService>(PrivacyFilterService::Dependencies{
            exec, exec, camera, overlay, settings, stats,
            [this](int fps) -> std::shared_ptr<FaceAnalyzer> {
                if (modelMissing) {
                    return nullptr;
                }
                auto analyzer = FaceAnalyzer::create(fps, analysisDetector, exec, exec);
                analyzers.push_back(analyzer);
                return analyzer;
            },
            notifier, haptics, events, power, shortcut, localizer});
    }
    ~Rig() {
        service.reset();
        settle();
    }

    PrivacyFilterService& svc() { return *service; }
    FilterState state() { return svc().fsm().state.get(); }
    std::shared_ptr<FaceAnalyzer> analyzer() { return camera.analyzer(); }
    FilterSettings live() { return settings.settings.get(); }
    void change(const std::function<void(FilterSettings&)>& edit) {
        FilterSettings s = live();
        edit(s);
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
    bool start() {
        bool done = false;
        svc().start([&done] { done = true; });
        settle();
        return done;
    }
    // One analysed frame with these faces, after `stepMs` of virtual time.
    void see(const std::vector<FaceObservation>& faces, std::int64_t stepMs = 200) {
        advance(stepMs);
        detector->faces = faces;
        source->pushFrame(
            VideoFrame{640, 480, 640 * 4, std::make_shared<const std::vector<std::uint8_t>>(4, 0)});
        settle();
    }
    void advance(std::int64_t ms) {
        exec.advanceBy(ms);
        settle();
    }
};

} // namespace tavrine::testing

#pragma once

// The running filter on fakes at the platform seams only: the real camera manager over a fake frame
// source, real analyzers over a scripted detector, the real overlay manager over a recording window
// system, the real repositories over an in-memory store, and virtual time for every timer.

#include "core/fakes/FakeFrameSource.h"
#include "core/fakes/RecordingKeyValueStore.h"
#include "core/service/PrivacyFilterService.h"
#include "core/util/VirtualExecutor.h"

#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tavrine::testing {

using MemoryStore = RecordingKeyValueStore;

class FakeDetector final : public FaceDetector {
  public:
    std::optional<std::vector<FaceObservation>> detect(const VideoFrame&) override {
        std::lock_guard lock(mutex_);
        if (modelsFailed_) {
            return std::nullopt;
        }
        return faces_;
    }
    bool isUnavailable() const override {
        std::lock_guard lock(mutex_);
        return modelsFailed_;
    }
    void set(std::vector<FaceObservation> faces) {
        std::lock_guard lock(mutex_);
        faces_ = std::move(faces);
    }
    // As a detector whose models failed to load: no detection ever again.
    void failModels(bool failed = true) {
        std::lock_guard lock(mutex_);
        modelsFailed_ = failed;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<FaceObservation> faces_;
    bool modelsFailed_ = false;
};

// Records every window-system call; windows note what the manager held when they were created.
struct RecordingWindowSystem final : WindowSystem {
    struct Snapshot {
        float alpha;
        bool alert;
        bool matrixEnabled;
        std::int64_t distanceCm;
        std::uint64_t colorArgb;
        float stripeAlpha;
    };
    struct Window final : OverlayWindow {
        Window(RecordingWindowSystem& ws, ScreenInfo s, Snapshot v) : ws(ws), screen(s), values(v) {}
        ~Window() override { ws.log.push_back("destroy " + std::to_string(screen.id)); }
        void show() override { ws.log.push_back("front " + std::to_string(screen.id)); }
        void hide() override { ws.log.push_back("out " + std::to_string(screen.id)); }
        void setFrame(const ScreenRect& f) override {
            frame = f;
            ws.log.push_back("frame " + std::to_string(screen.id) + " " + std::to_string(f.width) + "x" +
                             std::to_string(f.height));
        }
        RecordingWindowSystem& ws;
        ScreenInfo screen;
        Snapshot values;
        ScreenRect frame = screen.frame;
    };

    std::vector<ScreenInfo> screens() const override { return connected; }
    std::unique_ptr<OverlayWindow> createOverlayWindow(const ScreenInfo& screen,
                                                       OverlayWindowManager& m) override {
        log.push_back("create " + std::to_string(screen.id));
        auto w =
            std::make_unique<Window>(*this, screen,
                                     Snapshot{m.currentAlpha, m.isAlertMode, m.matrixEnabled,
                                              m.matrixDistanceCm, m.matrixColorArgb, m.matrixStripeAlpha});
        windows.push_back(w.get());
        return w;
    }
    Subscription observeScreenChanges(std::function<void()> onChange) override {
        ++observeCalls;
        return changes.subscribe([cb = std::move(onChange)](const int&) { cb(); });
    }
    void announce() { changes.notify(0); }

    std::vector<ScreenInfo> connected{ScreenInfo{1, ScreenRect{0, 0, 1280, 800}}};
    std::vector<std::string> log;
    std::vector<Window*> windows; // every window ever created, in order (do not dereference dropped ones)
    int observeCalls = 0;
    Signal<int> changes;
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
    int removals() const {
        int n = 0;
        for (const auto& entry : log) {
            n += entry.rfind("remove", 0) == 0 ? 1 : 0;
        }
        return n;
    }
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
        if (sessionInactive) {
            handler(Event::sessionInactive);
        }
        return s;
    }
    void fire(Event e) { signal.notify(e); }
    Signal<Event> signal;
    // States already true, heard by each new observer.
    bool screensAsleep = false;
    bool sessionInactive = false;
};

class FakePowerSource final : public PowerSource {
  public:
    std::optional<BatteryReading> battery() override {
        ++reads;
        return reading;
    }
    Subscription observeUpdates(std::function<void()> onUpdate) override {
        return updates.subscribe([onUpdate] { onUpdate(); });
    }
    void setBattery(int percent, bool charging) { reading = BatteryReading{true, percent, charging}; }
    std::optional<BatteryReading> reading;
    int reads = 0;
    Signal<> updates;
};

class FakeShortcut final : public GlobalShortcut {
  public:
    Subscription install(std::function<void()> onPressed) override {
        ++installs;
        handler_ = std::make_shared<std::function<void()>>(std::move(onPressed));
        std::weak_ptr<std::function<void()>> weak = handler_;
        return Subscription([this, weak] {
            if (weak.lock() == handler_) {
                handler_.reset();
            }
        });
    }
    bool installed() const { return handler_ != nullptr; }
    // Presses the keys from another thread, as a platform hook may.
    void pressFromOtherThread() {
        auto handler = handler_;
        if (handler) {
            std::thread([handler] { (*handler)(); }).join();
        }
    }
    int installs = 0;

  private:
    std::shared_ptr<std::function<void()>> handler_;
};

struct Rig {
    VirtualExecutor exec;
    std::shared_ptr<FakeFrameSource> source = std::make_shared<FakeFrameSource>();
    CameraSession camera{source, exec};
    RecordingWindowSystem windows;
    OverlayWindowManager overlay{windows};
    MemoryStore store;
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
    std::vector<int> analyzerFps;
    bool modelMissing = false;
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
                analyzerFps.push_back(fps);
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
        exec.advanceBy(stepMs);
        settle();
        detector->set(faces);
        VideoFrame frame{640, 480, 640 * 4, std::make_shared<const std::vector<std::uint8_t>>(4, 0)};
        source->pushFrame(frame);
        settle();
    }
    void advance(std::int64_t ms) {
        exec.advanceBy(ms);
        settle();
    }
};

} // namespace tavrine::testing

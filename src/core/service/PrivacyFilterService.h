#pragma once

#include "core/detection/CameraSession.h"
#include "core/detection/FaceAnalyzer.h"
#include "core/domain/FilterState.h"
#include "core/filter/FilterFsm.h"
#include "core/overlay/OverlayWindowManager.h"
#include "core/persistence/SettingsRepository.h"
#include "core/persistence/StatsRepository.h"
#include "core/service/GlobalShortcut.h"
#include "core/service/Haptics.h"
#include "core/service/Notifier.h"
#include "core/service/PowerSource.h"
#include "core/service/SystemEventMonitor.h"
#include "core/util/Clock.h"
#include "core/util/Executor.h"
#include "core/util/Localizer.h"
#include "core/util/Published.h"
#include "core/util/Signal.h"

#include <functional>
#include <memory>
#include <optional>

namespace tavrine {

// Runs the filter: camera, analyzer, state machine, overlay, settings, statistics and system monitors;
// the battery watch and the alert announcer are its own parts. Main thread only.
class PrivacyFilterService {
  public:
    using AnalyzerFactory = std::function<std::shared_ptr<FaceAnalyzer>(int fpsLimit)>;

    struct Dependencies {
        Executor& executor;
        const Clock& clock;
        CameraSession& cameraManager;
        OverlayWindowManager& overlayManager;
        SettingsRepository& settingsRepo;
        StatsRepository& statsRepo;
        AnalyzerFactory makeAnalyzer;
        Notifier& notifier;
        Haptics& haptics;
        SystemEventMonitor& systemEvents;
        PowerSource& powerSource;
        GlobalShortcut& globalShortcut;
        const Localizer& localizer;
        // Whether the face analysis can run now. When it cannot yet (its models still load) it answers
        // false and runs `ready` on the main thread once it can, or once it never will; empty: always.
        std::function<bool(std::function<void()> ready)> awaitAnalysis;
    };

    static constexpr const char* analysisNotificationId = "tavrine.analysis";
    static constexpr const char* overlayNotificationId = "tavrine.overlay";
    static constexpr const char* sightNotificationId = "tavrine.sight";
    static constexpr const char* cameraNotificationId = "tavrine.camera";

    explicit PrivacyFilterService(Dependencies deps);
    ~PrivacyFilterService();
    PrivacyFilterService(const PrivacyFilterService&) = delete;
    PrivacyFilterService& operator=(const PrivacyFilterService&) = delete;

    Published<FilterState> fsmState{FilterState::inactive()};
    Published<bool> isActive{false};
    Published<bool> isAlert{false};
    // Every analysed frame that reaches the main thread, after the machine has seen it.
    Signal<DetectionInput> detections;
    // True once the face analysis cannot run (its models failed to load): the filter is stopped, since a
    // filter that sees nothing protects nothing, and the user is told once. Cleared by a start that gets
    // a working analyzer.
    Published<bool> analysisUnavailable{false};
    // True while the camera stays shut because this user may not open it (the last start or reopening
    // was refused access), as opposed to a camera missing or taken. Cleared once frames come, by a start
    // that opens it and by a stop.
    Published<bool> cameraAccessRefused{false};
    // True while the running filter's camera has seen nothing for 3 s of analysed frames (a closed shutter,
    // a covered lens, a dark room): no onlooker can be seen. The user is told once per run; cleared (and the
    // notification withdrawn) by a frame with something in it, a pause, a camera lost and a stop.
    Published<bool> cameraSeesNothing{false};
    static constexpr std::int64_t seesNothingAfterMs = 3000;
    // Analysed frames further apart than this (a pause, a camera reopened) start a new spell.
    static constexpr std::int64_t maxSightGapMs = 2000;

    // Asynchronous; done (optional) runs on the main thread once the camera started or failed. While the
    // face models still load, the start waits for them: no camera, no stripes, nothing claimed, until
    // the analysis can watch.
    void start(std::function<void()> done = {});
    // A start that found the camera taken leaves the filter waiting for it without running. This starts
    // it again as the same session (counted once). True while such a start waits or one is on its way;
    // false once the filter runs or was stopped: whoever retries knows when to give up.
    bool retryStart();
    void stop();
    // Asked when the shortcut is pressed while the filter does not run: true when it ended a wait for
    // the camera that the user sees as protection on its way (a start after a timed pause), so the press
    // switches that off rather than starting a run of its own. Empty: every such press starts.
    std::function<bool()> shortcutEndsAWait;
    // Installs the shortcut without starting the filter (the first launch, before the user allowed the
    // camera): the keys are the way to start it, as after a stop. Nothing while the filter runs or starts.
    void armShortcut();
    // The last stop, as the application ends: a start still due (the launch's, a pause's end, a key
    // press in the same turn) does nothing after it, so the camera is not opened on the way out.
    void shutDown();

    FilterFsm& fsm() { return fsm_; }
    // Blocks until the analyzers dropped so far are destroyed (tests).
    void drainForTests();

  private:
    struct Impl;
    FilterFsm fsm_;
    // Shared so that callbacks and posted tasks can hold it weakly and do nothing once the service is gone.
    std::shared_ptr<Impl> impl_;
};

} // namespace tavrine

#include "core/service/PrivacyFilterService.h"

#include "core/service/AlertAnnouncer.h"
#include "core/service/BatteryWatch.h"
#include "core/service/ViewingDistance.h"
#include "core/util/SerialQueue.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace tavrine {

struct PrivacyFilterService::Impl : std::enable_shared_from_this<PrivacyFilterService::Impl> {
    Impl(PrivacyFilterService& owner, Dependencies d)
        : self(owner), deps(std::move(d)),
          announcer(AlertAnnouncer::Dependencies{deps.clock, deps.notifier, deps.haptics, deps.statsRepo,
                                                 deps.localizer}),
          battery(BatteryWatch::Dependencies{
              deps.executor, deps.powerSource,
              [this] { return deps.settingsRepo.settings.get().batteryThresholdPercent; },
              [this](bool low) {
                  batteryLow = low;
                  updatePause();
              }}) {}

    PrivacyFilterService& self;
    Dependencies deps;
    // Lasts as long as the service: the spacing of alert notifications holds across stops and starts.
    AlertAnnouncer announcer;
    BatteryWatch battery;

    std::shared_ptr<FaceAnalyzer> analyzer;
    // The run's protected time: the spells in which the filter watched (a pause or a lost camera protect
    // nothing), on the monotonic clock (a suspend or a clock set by hand adds nothing). Since when the
    // current spell counts, if one is under way, and what the spells before it add up to; a reset of the
    // statistics during the run starts both afresh.
    std::optional<std::int64_t> watchingSinceMs;
    std::int64_t watchedMs = 0;
    Subscription statsResets;
    // From a start until its camera answered: a second start meanwhile is the same run.
    bool cameraStarting = false;
    Subscription settingsSubscription;
    Subscription fsmSubscription;
    bool analysisFailureNotified = false;
    Subscription globalMonitor;
    // While stopped, the kept shortcut follows its setting (see stop()).
    Subscription idleShortcutSetting;
    Subscription systemEventObserver;
    Subscription cameraInterruptionObserver;
    // While the filter runs: the desktop's compositing manager, without which the overlay hides the screen.
    Subscription canShowObserver;
    // Bumped by every stop(): a camera start or a retry begun before it must not revive the run.
    std::uint64_t runGeneration = 0;
    // The camera reported an interruption and no frame has come since. Only frames end it.
    bool cameraLost = false;
    // The user was told of the loss; frames coming back or a stop take the notice back.
    bool cameraLossNotified = false;
    // Since when the camera has seen nothing, while it has, and the last analysed frame's time.
    std::optional<std::int64_t> seeingNothingSinceMs;
    std::int64_t lastSightMs = 0;
    // The user is told once per run; the tray follows every spell.
    bool sightNotified = false;
    bool shutDown = false;
    // The run's reasons to pause, as last reported. They overlap (a suspend while switched away, the
    // charger plugged in under a sleeping display): the filter resumes only once none holds.
    bool displayAsleep = false;
    bool sessionAway = false;
    bool batteryLow = false;
    // The one pending camera retry, if any.
    std::optional<TaskHandle> cameraRetry;
    // Dropped analyzers are destroyed here: that waits for a detection in progress or a model load.
    SerialQueue disposal{"disposal"};

    FilterFsm& fsm() { return self.fsm_; }
    std::weak_ptr<Impl> weak() { return weak_from_this(); }

    void start(std::function<void()> done, bool newSession = true);
    void finishStart(std::optional<CameraError> error, const FilterSettings& snapshot,
                     std::uint64_t generation);
    void stop();
    void countWatching(const FilterState& state);

    void handleDetectionInput(const DetectionInput& input);
    void analysisUnavailable();
    void sight(std::int64_t timestampMs, bool seesNothing);
    void clearSight();
    void clearCameraLoss();
    void overlayUnavailable();
    void observeSettings();
    void observeFsm();
    void handleFsmSideEffects(const FilterState& state);
    void scheduleCameraRetry(std::int64_t delayMs);
    void cancelCameraRetry();
    void restartCamera();
    void replaceAnalyzer(std::shared_ptr<FaceAnalyzer> next);

    void observeSystemEvents();
    void removeSystemEventObservers();
    void onSystemEvent(SystemEventMonitor::Event event);
    void screenDidSleep();
    void screenDidWake();
    void onSessionInactive();
    void onSessionActive();
    void updatePause();
    void cameraInterrupted();
    void cameraResumed();

    void registerGlobalShortcut();
    void unregisterGlobalShortcut();
    void followShortcutSetting();
};

void PrivacyFilterService::Impl::start(std::function<void()> done, bool newSession) {
    if (shutDown || deps.cameraManager.isRunning.get() || cameraStarting) {
        if (done) {
            done();
        }
        return;
    }
    if (!deps.overlayManager.canShow()) {
        overlayUnavailable();
        if (done) {
            done();
        }
        return;
    }
    if (deps.awaitAnalysis) {
        // The same run until the models are there; a stop meanwhile ends it.
        auto waiting = std::make_shared<std::function<void()>>(std::move(done));
        const bool ready =
            deps.awaitAnalysis([weakSelf = weak(), generation = runGeneration, waiting, newSession] {
                auto impl = weakSelf.lock();
                if (!impl || impl->runGeneration != generation) {
                    if (*waiting) {
                        (*waiting)();
                    }
                    return;
                }
                impl->cameraStarting = false;
                impl->start(std::move(*waiting), newSession);
            });
        if (!ready) {
            cameraStarting = true;
            return;
        }
        done = std::move(*waiting);
    }
    idleShortcutSetting.cancel();
    watchedMs = 0;
    watchingSinceMs.reset();
    statsResets = deps.statsRepo.resets.subscribe([weakSelf = weak()] {
        if (auto impl = weakSelf.lock()) {
            impl->watchedMs = 0;
            if (impl->watchingSinceMs) {
                impl->watchingSinceMs = impl->deps.clock.elapsedMs();
            }
        }
    });
    if (newSession) {
        deps.statsRepo.incrementSessions();
    }

    const FilterSettings snapshot = deps.settingsRepo.settings.get();
    fsm().updateSettings(snapshot);

    auto newAnalyzer = deps.makeAnalyzer ? deps.makeAnalyzer(snapshot.captureFps) : nullptr;
    if (!newAnalyzer) {
        // No analyzer (the face model did not load) leaves nothing to run.
        analysisUnavailable();
        if (done) {
            done();
        }
        return;
    }
    self.analysisUnavailable = false;
    std::weak_ptr<Impl> weakSelf = weak();
    newAnalyzer->onUnavailable = [weakSelf] {
        if (auto impl = weakSelf.lock()) {
            impl->analysisUnavailable();
        }
    };
    // The analyzer delivers its results on the main thread already.
    newAnalyzer->onResult = [weakSelf](const DetectionInput& input) {
        if (auto impl = weakSelf.lock()) {
            impl->handleDetectionInput(input);
        }
    };
    newAnalyzer->onSight = [weakSelf](std::int64_t timestampMs, bool seesNothing) {
        if (auto impl = weakSelf.lock()) {
            impl->sight(timestampMs, seesNothing);
        }
    };
    replaceAnalyzer(newAnalyzer);

    const std::uint64_t generation = runGeneration;
    cameraStarting = true;
    deps.cameraManager.startSession(
        [weakSelf, snapshot, generation, done = std::move(done)](std::optional<CameraError> error) {
            if (auto impl = weakSelf.lock()) {
                impl->finishStart(error, snapshot, generation);
            }
            if (done) {
                done();
            }
        });
}

void PrivacyFilterService::Impl::finishStart(std::optional<CameraError> error, const FilterSettings& snapshot,
                                             std::uint64_t generation) {
    if (generation != runGeneration) {
        // stop() ran while the camera was starting; its stop of the camera comes after this start on the
        // camera queue, so the run is over already.
        return;
    }
    cameraStarting = false;
    self.cameraAccessRefused = error == CameraError::permissionDenied;
    if (error) {
        // The filter does not run: the wait for a camera protects nothing (the session stays counted, with
        // no time: nothing was watched).
        // No observer runs yet: publish the machine's state here, or the tray and the panel would read
        // "inactive" while the machine waits for the camera.
        fsm().onSystemEvent(FilterFsm::SystemEvent::cameraBusy());
        self.fsmState = fsm().state.get();
        // The start let go of the setting: a shortcut installed before (armed, or kept from a run) follows
        // it again.
        followShortcutSetting();
        return;
    }
    cameraLost = false;
    fsm().activate();
    deps.overlayManager.setCoversAllScreens(snapshot.coverAllScreens);
    deps.overlayManager.show();
    observeSettings();
    observeFsm();
    observeSystemEvents();
    canShowObserver = deps.overlayManager.observeCanShow([weakSelf = weak()] {
        auto impl = weakSelf.lock();
        if (impl && !impl->deps.overlayManager.canShow()) {
            impl->overlayUnavailable();
        }
    });
    // A machine left waiting for the camera by a failed start leaves it once frames come; they may have
    // come before the observer above was there.
    if (fsm().state.get().is(FilterState::Kind::cameraBusy) && !deps.cameraManager.awaitingFrames()) {
        cameraResumed();
    }
    battery.start();
    if (snapshot.globalShortcutEnabled) {
        registerGlobalShortcut();
    } else {
        unregisterGlobalShortcut();
    }
    self.isActive = true;
}

void PrivacyFilterService::Impl::stop() {
    ++runGeneration;
    countWatching(FilterState::inactive());
    const std::int64_t elapsedSeconds = watchedMs / 1000;
    watchedMs = 0;
    std::weak_ptr<Impl> weakSelf = weak();
    deps.executor.post([weakSelf, elapsedSeconds] {
        if (auto impl = weakSelf.lock()) {
            impl->deps.statsRepo.addActiveSeconds(elapsedSeconds);
        }
    });

    statsResets.cancel();
    cameraStarting = false;
    self.fsmState = FilterState::inactive();
    self.isActive = false;
    self.isAlert = false;
    self.cameraAccessRefused = false;
    clearSight();
    sightNotified = false;

    fsm().deactivate();
    deps.overlayManager.hide();
    announcer.withdraw();

    replaceAnalyzer(nullptr);
    deps.cameraManager.stopSession();
    cancelCameraRetry();
    clearCameraLoss();

    settingsSubscription.cancel();
    fsmSubscription.cancel();
    canShowObserver.cancel();
    battery.stop();
    // The shortcut stays installed: it is also the way to start the filter again.
    followShortcutSetting();
    removeSystemEventObservers();
}

// While the filter is stopped the installed shortcut follows its setting at once (switched off, the keys
// are given back to the desktop; switched on, they start the filter); a start reads it again, and the end
// of the service removes it.
void PrivacyFilterService::Impl::followShortcutSetting() {
    idleShortcutSetting = deps.settingsRepo.settings.subscribeDistinct(
        [weakSelf = weak(), was = std::optional<bool>()](const FilterSettings& s) mutable {
            auto impl = weakSelf.lock();
            const bool on = s.globalShortcutEnabled;
            if (!impl || was == on) {
                return;
            }
            if (!on) {
                impl->unregisterGlobalShortcut();
            } else if (was) {
                impl->registerGlobalShortcut();
            }
            was = on;
        });
}

// A camera that sees nothing (a covered lens, darkness) cannot see an onlooker either: past a short spell,
// which a hand passing in front of the lens does not reach, the tray says so and the user is told once.
void PrivacyFilterService::Impl::sight(std::int64_t timestampMs, bool seesNothing) {
    if (!self.isActive.get()) {
        return;
    }
    // A gap in the analysis (a pause, a camera reopened, a clock that jumped) starts the spell afresh: the
    // 3 s are 3 s of frames seen.
    const std::int64_t sinceLast = timestampMs - lastSightMs;
    lastSightMs = timestampMs;
    if (!seesNothing) {
        clearSight();
        return;
    }
    if (!seeingNothingSinceMs || sinceLast < 0 || sinceLast > maxSightGapMs) {
        seeingNothingSinceMs = timestampMs;
    }
    if (!self.cameraSeesNothing.get() && timestampMs - *seeingNothingSinceMs >= seesNothingAfterMs) {
        self.cameraSeesNothing = true;
        if (!sightNotified) {
            sightNotified = true;
            deps.notifier.post(sightNotificationId, deps.localizer.text("notif_sees_nothing_title"),
                               deps.localizer.text("notif_sees_nothing_text"));
        }
    }
}

void PrivacyFilterService::Impl::clearSight() {
    seeingNothingSinceMs.reset();
    if (self.cameraSeesNothing.get()) {
        self.cameraSeesNothing = false;
        deps.notifier.remove(sightNotificationId);
    }
}

// The models failed to load, before this start or while the run waited for them: the camera would only
// feed a blind analyzer, and an overlay at its nominal strength would claim a protection that no longer
// exists. The run stops (camera released, overlay gone, the state and the tray say "not protecting")
// and the user learns why, once per process.
void PrivacyFilterService::Impl::analysisUnavailable() {
    stop();
    self.analysisUnavailable = true;
    if (analysisFailureNotified) {
        return;
    }
    analysisFailureNotified = true;
    deps.notifier.post(analysisNotificationId, deps.localizer.text("notif_analysis_unavailable_title"),
                       deps.localizer.text("notif_analysis_unavailable_text"));
}

// An X server without a compositing manager draws the overlay's transparent pixels black: the filter would
// hide the screen from its user. Nothing starts (no camera, no session counted), or a run whose compositing
// manager left stops; the state and the tray say "not protecting", and each attempt says why.
void PrivacyFilterService::Impl::overlayUnavailable() {
    stop();
    deps.notifier.post(overlayNotificationId, deps.localizer.text("notif_overlay_unavailable_title"),
                       deps.localizer.text("notif_overlay_unavailable_text"));
}

void PrivacyFilterService::Impl::handleDetectionInput(const DetectionInput& input) {
    fsm().onDetectionInput(input);
    self.detections.notify(input);
    if (!input.primaryFace) {
        return;
    }
    const FilterSettings& s = deps.settingsRepo.settings.get();
    const auto distance =
        estimateViewingDistanceCm(input.primaryFace->boundingBoxRatio, s.privacyMatrixCoefficient);
    OverlayWindowManager& overlay = deps.overlayManager;
    if (!distance || !viewingDistanceMoved(*distance, overlay.lastDistanceCm.get())) {
        return;
    }
    overlay.updateMatrixConfig(s.privacyMatrixEnabled, *distance, s.matrixColorArgb, s.matrixStripeAlpha);
}

void PrivacyFilterService::Impl::observeSettings() {
    std::weak_ptr<Impl> weakSelf = weak();
    settingsSubscription = deps.settingsRepo.settings.subscribeDistinct([weakSelf](const FilterSettings& s) {
        auto impl = weakSelf.lock();
        if (!impl) {
            return;
        }
        OverlayWindowManager& overlay = impl->deps.overlayManager;
        impl->fsm().updateSettings(s);
        overlay.setAlpha(filterAlpha(impl->fsm().state.get(), s.filterStrength));
        overlay.updateMatrixConfig(s.privacyMatrixEnabled, overlay.lastDistanceCm.get(), s.matrixColorArgb,
                                   s.matrixStripeAlpha);
        overlay.setCoversAllScreens(s.coverAllScreens);
    });
}

void PrivacyFilterService::Impl::observeFsm() {
    std::weak_ptr<Impl> weakSelf = weak();
    fsmSubscription = fsm().state.subscribe([weakSelf](const FilterState& st) {
        auto impl = weakSelf.lock();
        if (!impl) {
            return;
        }
        impl->self.fsmState = st;
        impl->countWatching(st);
        const int strength = impl->deps.settingsRepo.settings.get().filterStrength;
        impl->deps.overlayManager.setAlpha(filterAlpha(st, strength));
        impl->deps.executor.post([weakSelf, st] {
            if (auto inner = weakSelf.lock()) {
                inner->handleFsmSideEffects(st);
            }
        });
    });
}

void PrivacyFilterService::Impl::countWatching(const FilterState& state) {
    const bool watching = state.is(FilterState::Kind::nominal) || state.is(FilterState::Kind::inattention) ||
                          state.is(FilterState::Kind::alert);
    if (watching && !watchingSinceMs) {
        watchingSinceMs = deps.clock.elapsedMs();
    } else if (!watching && watchingSinceMs) {
        watchedMs += std::max<std::int64_t>(0, deps.clock.elapsedMs() - *watchingSinceMs);
        watchingSinceMs.reset();
    }
}

void PrivacyFilterService::Impl::replaceAnalyzer(std::shared_ptr<FaceAnalyzer> next) {
    std::shared_ptr<FaceAnalyzer> previous = std::move(analyzer);
    std::shared_ptr<FaceAnalyzer> attached = deps.cameraManager.analyzer();
    analyzer = next;
    deps.cameraManager.setAnalyzer(std::move(next));
    // The last references go on the disposal worker, so the main thread never waits for the analysis
    // worker to finish.
    disposal.submit([previous = std::move(previous), attached = std::move(attached)]() mutable {
        previous.reset();
        attached.reset();
    });
}

void PrivacyFilterService::Impl::handleFsmSideEffects(const FilterState& state) {
    OverlayWindowManager& overlay = deps.overlayManager;
    const auto watching = [](const FilterState& s) {
        return s.is(FilterState::Kind::nominal) || s.is(FilterState::Kind::inattention) ||
               s.is(FilterState::Kind::alert);
    };
    if (watching(state) && cameraLost) {
        // A pause that ends while the camera gives no frames: the filter cannot watch. Unless the machine
        // has paused again since this pass was posted: that pause holds.
        if (watching(fsm().state.get())) {
            fsm().onSystemEvent(FilterFsm::SystemEvent::cameraBusy());
        }
        return;
    }
    switch (state.kind) {
    case FilterState::Kind::nominal:
    case FilterState::Kind::inattention:
        self.isAlert = false;
        if (analyzer) {
            analyzer->isSuspended = false;
        }
        overlay.setAlertMode(false);
        if (!overlay.isShowing.get()) {
            overlay.show();
        }
        announcer.alertOver();
        break;
    case FilterState::Kind::alert:
        self.isAlert = true;
        if (analyzer) {
            analyzer->isSuspended = false;
        }
        if (!overlay.isShowing.get()) {
            overlay.show();
        }
        overlay.setAlertMode(true);
        announcer.alertStarted(deps.settingsRepo.settings.get().hapticOnAlert);
        break;
    case FilterState::Kind::autoPaused:
        self.isAlert = false;
        clearSight();
        overlay.setAlertMode(false);
        overlay.hide();
        // The alert's notice says the filter was strengthened: with the overlay gone, it would say so
        // of a screen nothing covers. It comes back if the alert goes on after the pause.
        announcer.takeDown();
        if (analyzer) {
            analyzer->isSuspended = true;
        }
        break;
    case FilterState::Kind::cameraBusy:
        self.isAlert = false;
        clearSight();
        overlay.setAlertMode(false);
        announcer.takeDown();
        // A camera lost during the run (unplugged, stalled, taken by another program) ends the watch with
        // nothing on screen to show it but the tray: the user is told once per loss.
        if (cameraLost && !cameraLossNotified) {
            cameraLossNotified = true;
            deps.notifier.post(cameraNotificationId, deps.localizer.text("notif_camera_lost_title"),
                               deps.localizer.text("notif_camera_lost_text"));
        }
        scheduleCameraRetry(state.retryInMs);
        break;
    case FilterState::Kind::inactive:
        self.isAlert = false;
        overlay.setAlertMode(false);
        overlay.hide();
        announcer.withdraw();
        break;
    }
}

void PrivacyFilterService::Impl::scheduleCameraRetry(std::int64_t delayMs) {
    if (cameraRetry && !cameraRetry->isCancelled()) {
        return; // one retry at a time
    }
    std::weak_ptr<Impl> weakSelf = weak();
    const std::uint64_t generation = runGeneration;
    TaskHandle timer;
    cameraRetry = timer;
    deps.executor.postAfter(delayMs, [weakSelf, generation, timer] {
        auto impl = weakSelf.lock();
        if (!impl || impl->runGeneration != generation || timer.isCancelled()) {
            return;
        }
        impl->cameraRetry.reset();
        // Side effects run only while the service runs (its start succeeded): the camera was open.
        if (impl->fsm().state.get().is(FilterState::Kind::cameraBusy)) {
            impl->restartCamera();
        }
    });
}

void PrivacyFilterService::Impl::cancelCameraRetry() {
    if (cameraRetry) {
        cameraRetry->cancel();
        cameraRetry.reset();
    }
}

// The camera gave no frame: tear it down and open it again. The machine stays in cameraBusy until a
// frame arrives (cameraResumed); until then another restart follows every retry interval.
void PrivacyFilterService::Impl::restartCamera() {
    std::weak_ptr<Impl> weakSelf = weak();
    const std::uint64_t generation = runGeneration;
    deps.cameraManager.restartSession([weakSelf, generation](std::optional<CameraError> error) {
        auto impl = weakSelf.lock();
        if (!impl || impl->runGeneration != generation) {
            return;
        }
        if (error) {
            impl->self.cameraAccessRefused = error == CameraError::permissionDenied;
        }
        const FilterState& state = impl->fsm().state.get();
        if (state.is(FilterState::Kind::cameraBusy)) {
            impl->scheduleCameraRetry(state.retryInMs);
        }
    });
}

void PrivacyFilterService::Impl::observeSystemEvents() {
    std::weak_ptr<Impl> weakSelf = weak();
    systemEventObserver = deps.systemEvents.observe([weakSelf](SystemEventMonitor::Event event) {
        if (auto impl = weakSelf.lock()) {
            impl->onSystemEvent(event);
        }
    });
    cameraInterruptionObserver = deps.cameraManager.interruptions.subscribe([weakSelf](bool interrupted) {
        auto impl = weakSelf.lock();
        if (!impl) {
            return;
        }
        if (interrupted) {
            impl->cameraInterrupted();
        } else {
            impl->cameraResumed();
        }
    });
}

void PrivacyFilterService::Impl::removeSystemEventObservers() {
    systemEventObserver.cancel();
    cameraInterruptionObserver.cancel();
    displayAsleep = sessionAway = batteryLow = false;
}

void PrivacyFilterService::Impl::onSystemEvent(SystemEventMonitor::Event event) {
    switch (event) {
    case SystemEventMonitor::Event::displayAsleep:
        screenDidSleep();
        break;
    case SystemEventMonitor::Event::displayAwake:
        screenDidWake();
        break;
    case SystemEventMonitor::Event::sessionInactive:
        onSessionInactive();
        break;
    case SystemEventMonitor::Event::sessionActive:
        onSessionActive();
        break;
    }
}

void PrivacyFilterService::Impl::screenDidSleep() {
    displayAsleep = true;
    updatePause();
    // No frame is analysed from now on, before the pause's side effects run.
    if (analyzer) {
        analyzer->isSuspended = true;
    }
}

void PrivacyFilterService::Impl::screenDidWake() {
    displayAsleep = false;
    updatePause();
    if (analyzer && !fsm().state.get().is(FilterState::Kind::autoPaused)) {
        analyzer->isSuspended = false;
    }
}

void PrivacyFilterService::Impl::onSessionInactive() {
    sessionAway = true;
    updatePause();
}

void PrivacyFilterService::Impl::onSessionActive() {
    sessionAway = false;
    updatePause();
}

// One pause for all its reasons: the screens' (a sleeping display, another session in front) outweighs
// the battery's, and the filter watches again only when the last reason ends.
void PrivacyFilterService::Impl::updatePause() {
    const FilterState& state = fsm().state.get();
    const FilterState screensPause = FilterState::autoPaused(PauseReason::screenOff());
    if (displayAsleep || sessionAway) {
        if (state != screensPause) {
            fsm().onSystemEvent(FilterFsm::SystemEvent::screenOff());
        }
    } else if (batteryLow) {
        fsm().onSystemEvent(FilterFsm::SystemEvent::lowBattery());
    } else if (state == screensPause) {
        fsm().onSystemEvent(FilterFsm::SystemEvent::screenOn());
    } else {
        fsm().onSystemEvent(FilterFsm::SystemEvent::batteryOk());
    }
}

void PrivacyFilterService::Impl::cameraInterrupted() {
    cameraLost = true;
    // While paused nothing is watched: the loss shows when the pause ends.
    if (!fsm().state.get().is(FilterState::Kind::autoPaused)) {
        fsm().onSystemEvent(FilterFsm::SystemEvent::cameraBusy());
    }
}

void PrivacyFilterService::Impl::clearCameraLoss() {
    cameraLost = false;
    if (cameraLossNotified) {
        cameraLossNotified = false;
        deps.notifier.remove(cameraNotificationId);
    }
}

void PrivacyFilterService::Impl::cameraResumed() {
    clearCameraLoss();
    self.cameraAccessRefused = false;
    cancelCameraRetry();
    fsm().onSystemEvent(FilterFsm::SystemEvent::cameraAvailable());
}

void PrivacyFilterService::Impl::registerGlobalShortcut() {
    std::weak_ptr<Impl> weakSelf = weak();
    Executor& executor = deps.executor;
    // The shortcut may fire on any thread: the toggle itself always runs as a main-thread task.
    globalMonitor = deps.globalShortcut.install([weakSelf, &executor] {
        if (weakSelf.expired()) {
            return;
        }
        executor.post([weakSelf] {
            auto impl = weakSelf.lock();
            if (!impl) {
                return;
            }
            if (impl->self.isActive.get()) {
                impl->stop();
            } else if (!impl->self.shortcutEndsAWait || !impl->self.shortcutEndsAWait()) {
                impl->start({});
            }
        });
    });
}

void PrivacyFilterService::Impl::unregisterGlobalShortcut() {
    globalMonitor.cancel();
}

PrivacyFilterService::PrivacyFilterService(Dependencies deps)
    : impl_(std::make_shared<Impl>(*this, std::move(deps))) {}

PrivacyFilterService::~PrivacyFilterService() {
    // Subscriptions and timers go with the implementation, before the machine they observe.
    impl_.reset();
}

void PrivacyFilterService::start(std::function<void()> done) {
    impl_->start(std::move(done));
}

bool PrivacyFilterService::retryStart() {
    if (impl_->cameraStarting) {
        return true;
    }
    // A start that found no camera it could open leaves the machine waiting for one while nothing runs;
    // starting again from there continues the session that start counted.
    if (!fsm_.state.get().is(FilterState::Kind::cameraBusy) || isActive.get()) {
        return false;
    }
    impl_->start({}, false);
    return true;
}

void PrivacyFilterService::stop() {
    impl_->stop();
}

void PrivacyFilterService::armShortcut() {
    if (impl_->shutDown || isActive.get() || impl_->cameraStarting) {
        return;
    }
    if (impl_->deps.settingsRepo.settings.get().globalShortcutEnabled) {
        impl_->registerGlobalShortcut();
    }
    impl_->followShortcutSetting();
}

void PrivacyFilterService::shutDown() {
    impl_->shutDown = true;
    impl_->stop();
}

void PrivacyFilterService::drainForTests() {
    impl_->disposal.drain();
}

} // namespace tavrine

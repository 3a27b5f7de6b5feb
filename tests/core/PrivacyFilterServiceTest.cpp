// The whole running filter on the rig of core/fakes/ServiceRig.h: fakes at the platform seams only.
#include "core/service/PrivacyFilterService.h"

#include "core/fakes/ServiceRig.h"
#include "core/util/VirtualExecutor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <numbers>
#include <sstream>
#include <thread>

namespace tavrine {
namespace {

using namespace tavrine::testing;

FaceObservation face(double width, double yawDegrees = 0.0) {
    FaceObservation o;
    o.boundingBox = {0.3, 0.3, width, width};
    o.yaw = yawDegrees * std::numbers::pi / 180.0;
    return o;
}

const std::vector<FaceObservation> userOnly{face(0.1)};
const std::vector<FaceObservation> userAndOnlooker{face(0.1), face(0.06)};
const std::vector<FaceObservation> userLookingAway{face(0.1, 60.0)};

float nominalAlpha(int strength = 3) {
    return filterAlpha(FilterState::nominal(strength), strength);
}

TEST(PrivacyFilterServiceStart, SuccessActivatesEverythingInOrder) {
    Rig r;
    EXPECT_TRUE(r.start());
    EXPECT_TRUE(r.svc().isActive.get());
    EXPECT_EQ(r.state(), FilterState::nominal(3));
    EXPECT_EQ(r.svc().fsmState.get(), FilterState::nominal(3));
    EXPECT_TRUE(r.overlay.isShowing.get());
    EXPECT_FLOAT_EQ(r.overlay.currentAlpha.get(), nominalAlpha());
    EXPECT_EQ(r.stats.stats.get().sessionCount, 1);
    EXPECT_TRUE(r.camera.isRunning.get());
    ASSERT_NE(r.analyzer(), nullptr);
    EXPECT_EQ(r.analyzerFps, std::vector<int>{10});
    EXPECT_TRUE(r.shortcut.installed());
    EXPECT_EQ(r.events.signal.subscriberCount(), 1u);
    EXPECT_EQ(r.camera.interruptions.subscriberCount(), 1u);
    // The nominal side-effect pass withdrew any leftover alert notification.
    EXPECT_EQ(r.notifier.removals(), 1);
}

TEST(PrivacyFilterServiceStart, WhileCameraRunsChangesNothing) {
    Rig r;
    ASSERT_TRUE(r.start());
    const auto sessions = r.stats.stats.get().sessionCount;
    const auto starts = r.source->starts();
    EXPECT_TRUE(r.start()); // completes at once
    EXPECT_EQ(r.stats.stats.get().sessionCount, sessions);
    EXPECT_EQ(r.source->starts(), starts);
    EXPECT_EQ(r.analyzers.size(), 1u);
    EXPECT_EQ(r.shortcut.installs, 1);
}

TEST(PrivacyFilterServiceStart, CameraFailureParksTheMachineInCameraBusyAndInstallsNothing) {
    Rig r;
    r.source->failNextStart(CameraError::configurationFailed);
    EXPECT_TRUE(r.start());
    EXPECT_EQ(r.stats.stats.get().sessionCount, 1);
    EXPECT_FALSE(r.svc().isActive.get());
    EXPECT_EQ(r.state(), FilterState::cameraBusy(5000));
    EXPECT_EQ(r.svc().fsmState.get(), FilterState::inactive());
    EXPECT_FALSE(r.overlay.isShowing.get());
    EXPECT_FALSE(r.shortcut.installed());
    EXPECT_EQ(r.events.signal.subscriberCount(), 0u);
    // The new analyzer stays attached; no retry is scheduled without the state observer.
    EXPECT_NE(r.analyzer(), nullptr);
    r.advance(60'000);
    EXPECT_EQ(r.state(), FilterState::cameraBusy(5000));
    EXPECT_EQ(r.source->starts(), 1);
    EXPECT_EQ(r.power.reads, 0);
}

// Face models that failed to load before the start (no analyzer) or while the run waited for them (the
// detector says so): the run stops instead of showing a nominal overlay over a blind analysis, the service
// says why, and one notification tells the user. Trying again (the switch, the shortcut) starts no camera
// and notifies no more; nothing retries by itself. A start with working models clears the flag.
class PrivacyFilterServiceModelFailure : public ::testing::TestWithParam<bool> {};

TEST_P(PrivacyFilterServiceModelFailure, StopsTheRunAndTellsTheUserOnce) {
    const bool failsAfterStart = GetParam();
    Rig r;
    if (failsAfterStart) {
        ASSERT_TRUE(r.start());
        r.see(userOnly);
        ASSERT_EQ(r.svc().fsmState.get(), FilterState::nominal(3));
        r.detector->failModels();
        r.modelMissing = true; // as the loader's factory after a failed load
        r.see(userOnly);
    } else {
        r.modelMissing = true;
        EXPECT_TRUE(r.start());
    }
    EXPECT_TRUE(r.svc().analysisUnavailable.get());
    EXPECT_FALSE(r.svc().isActive.get());
    EXPECT_EQ(r.svc().fsmState.get(), FilterState::inactive());
    EXPECT_EQ(r.state(), FilterState::inactive());
    EXPECT_FALSE(r.overlay.isShowing.get());
    EXPECT_FALSE(r.camera.isRunning.get());
    EXPECT_EQ(r.analyzer(), nullptr);
    const int cameraStarts = r.source->starts();
    EXPECT_EQ(cameraStarts, failsAfterStart ? 1 : 0);
    ASSERT_EQ(r.notifier.posts.size(), 1u);
    EXPECT_EQ(r.notifier.posts[0].identifier, PrivacyFilterService::analysisNotificationId);
    EXPECT_EQ(r.notifier.posts[0].title, "notif_analysis_unavailable_title");
    EXPECT_EQ(r.notifier.posts[0].body, "notif_analysis_unavailable_text");

    EXPECT_TRUE(r.start());
    r.shortcut.pressFromOtherThread();
    r.advance(60'000);
    EXPECT_EQ(r.notifier.posts.size(), 1u);
    EXPECT_EQ(r.source->starts(), cameraStarts);
    EXPECT_EQ(r.state(), FilterState::inactive());
    EXPECT_TRUE(r.svc().analysisUnavailable.get());

    r.modelMissing = false;
    r.detector->failModels(false);
    ASSERT_TRUE(r.start());
    EXPECT_FALSE(r.svc().analysisUnavailable.get());
    EXPECT_EQ(r.svc().fsmState.get(), FilterState::nominal(3));
}

INSTANTIATE_TEST_SUITE_P(WhenTheModelsFail, PrivacyFilterServiceModelFailure, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("AfterTheStart") : std::string("BeforeTheStart");
                         });

TEST(PrivacyFilterServiceStart, SuccessAfterFailureShowsTheBusyOverlayUntilFramesCome) {
    Rig r;
    r.source->failNextStart(CameraError::noCameraAvailable);
    ASSERT_TRUE(r.start());
    ASSERT_TRUE(r.start());
    EXPECT_TRUE(r.svc().isActive.get());
    EXPECT_TRUE(r.overlay.isShowing.get());
    EXPECT_EQ(r.svc().fsmState.get(), FilterState::cameraBusy(5000));
    EXPECT_FLOAT_EQ(r.overlay.currentAlpha.get(), 0.0f);
    EXPECT_EQ(r.stats.stats.get().sessionCount, 2);

    // No frame yet: the retry opens the camera again and the machine keeps waiting.
    r.advance(5000);
    EXPECT_EQ(r.state(), FilterState::cameraBusy(5000));
    EXPECT_EQ(r.source->starts(), 3);
    r.see(userOnly);
    EXPECT_EQ(r.state(), FilterState::nominal(3));
    EXPECT_FLOAT_EQ(r.overlay.currentAlpha.get(), nominalAlpha());
    EXPECT_EQ(r.stats.stats.get().sessionCount, 2) << "a restart is not a session";
}

TEST(PrivacyFilterServiceStart, StopWhileTheCameraStartsLeavesTheServiceStopped) {
    Rig r;
    bool done = false;
    r.svc().start([&done] { done = true; });
    r.svc().stop();
    r.settle();
    EXPECT_TRUE(done);
    EXPECT_FALSE(r.svc().isActive.get());
    EXPECT_EQ(r.state(), FilterState::inactive());
    EXPECT_FALSE(r.overlay.isShowing.get());
    EXPECT_FALSE(r.camera.isRunning.get());
    EXPECT_EQ(r.events.signal.subscriberCount(), 0u);
}

TEST(PrivacyFilterServiceStop, WithoutStartAddsNothingHidesAndWithdraws) {
    Rig r;
    r.svc().stop();
    r.settle();
    EXPECT_EQ(r.stats.stats.get().totalActiveSeconds, 0);
    EXPECT_FALSE(r.overlay.isShowing.get());
    EXPECT_EQ(r.notifier.log, std::vector<std::string>{"remove tavrine.alert"});
    EXPECT_EQ(r.state(), FilterState::inactive());
}

TEST(PrivacyFilterServiceStop, AddsWholeSecondsAndTearsEverythingDown) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.advance(65'700);
    r.svc().stop();
    EXPECT_EQ(r.stats.stats.get().totalActiveSeconds, 0) << "the seconds are added by a posted task";
    r.settle();
    EXPECT_EQ(r.stats.stats.get().totalActiveSeconds, 65);
    EXPECT_FALSE(r.svc().isActive.get());
    EXPECT_FALSE(r.svc().isAlert.get());
    EXPECT_EQ(r.svc().fsmState.get(), FilterState::inactive());
    EXPECT_EQ(r.state(), FilterState::inactive());
    EXPECT_FALSE(r.overlay.isShowing.get());
    EXPECT_FLOAT_EQ(r.overlay.currentAlpha.get(), 0.0f);
    EXPECT_EQ(r.analyzer(), nullptr);
    EXPECT_FALSE(r.camera.isRunning.get());
    EXPECT_EQ(r.events.signal.subscriberCount(), 0u);
    EXPECT_EQ(r.camera.interruptions.subscriberCount(), 0u);

    // No battery check, no retry and no settings reaction after the stop.
    r.power.setBattery(5, false);
    const int reads = r.power.reads;
    r.advance(120'000);
    EXPECT_EQ(r.power.reads, reads);
    r.change([](FilterSettings& s) { s.filterStrength = 5; });
    EXPECT_FLOAT_EQ(r.overlay.currentAlpha.get(), 0.0f);

    // A second stop adds nothing more.
    r.svc().stop();
    r.settle();
    EXPECT_EQ(r.stats.stats.get().totalActiveSeconds, 65);
}

TEST(PrivacyFilterServiceStop, ClockSetBackDuringTheSessionAddsNoNegativeTime) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.stats.addActiveSeconds(100);
    r.exec.setNowMs(r.exec.nowMs() - 3'600'000);
    r.svc().stop();
    r.settle();
    EXPECT_EQ(r.stats.stats.get().totalActiveSeconds, 100);
}

TEST(PrivacyFilterServiceStop, ThenStartAgainCountsASecondSessionWithAFreshAnalyzer) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.svc().stop();
    r.settle();
    ASSERT_TRUE(r.start());
    EXPECT_EQ(r.stats.stats.get().sessionCount, 2);
    EXPECT_EQ(r.analyzers.size(), 2u);
    EXPECT_TRUE(r.analyzers.front().expired());
    EXPECT_EQ(r.state(), FilterState::nominal(3));
    EXPECT_TRUE(r.overlay.isShowing.get());
}

TEST(PrivacyFilterServiceDistance, AFrameWithoutAFaceLeavesTheMatrixAlone) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.overlay.updateMatrixConfig(true, 500, 0x11223344ULL, 0.5f);
    int deliveries = 0;
    auto sub = r.overlay.matrixDistanceCm.subscribe([&deliveries](const std::int64_t&) { ++deliveries; });
    deliveries = 0;
    r.see({});
    EXPECT_EQ(deliveries, 0);
    EXPECT_EQ(r.overlay.lastDistanceCm.get(), 500);
}

TEST(PrivacyFilterServiceDistance, ResultsAfterStopAreIgnoredByTheMachineButMayRetuneTheMatrix) {
    Rig r;
    r.change([](FilterSettings& s) { s.privacyMatrixCoefficient = 1.0f; });
    ASSERT_TRUE(r.start());
    auto analyzer = r.analyzer();
    r.svc().stop();
    // A result already on its way when the filter stopped.
    analyzer->onResult(DetectionInput{r.exec.nowMs(), 2, FaceData{0.0f, 0.0f, 0.1f}});
    r.settle();
    EXPECT_EQ(r.state(), FilterState::inactive());
    EXPECT_EQ(r.overlay.lastDistanceCm.get(), 100);
    EXPECT_FALSE(r.svc().isAlert.get());
    EXPECT_TRUE(r.notifier.posts.empty());
}

TEST(PrivacyFilterServiceSettings, EqualSettingsDeliverNothing) {
    Rig r;
    ASSERT_TRUE(r.start());
    int deliveries = 0;
    auto sub = r.overlay.matrixColorArgb.subscribe([&deliveries](const std::uint64_t&) { ++deliveries; });
    deliveries = 0;
    r.settings.settings = r.live();
    r.settings.settings = r.live();
    EXPECT_EQ(deliveries, 0);
}

TEST(PrivacyFilterServiceSettings, ColourChangeAppliesAtOnceAndKeepsTheLastDistance) {
    Rig r;
    r.change([](FilterSettings& s) { s.privacyMatrixCoefficient = 1.0f; });
    ASSERT_TRUE(r.start());
    r.see(userOnly);
    ASSERT_EQ(r.overlay.lastDistanceCm.get(), 100);
    r.change([](FilterSettings& s) { s.matrixColorArgb = 0xFF336699ULL; });
    EXPECT_EQ(r.overlay.matrixColorArgb.get(), 0xFF336699ULL);
    EXPECT_EQ(r.overlay.matrixDistanceCm.get(), 100);
    EXPECT_EQ(r.overlay.lastDistanceCm.get(), 100);
}

TEST(PrivacyFilterServiceSettings, StrengthChangeRetunesTheAlphaAndTheMachine) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.change([](FilterSettings& s) {
        s.filterStrength = 5;
        s.privacyMatrixEnabled = false;
        s.matrixStripeAlpha = 0.3f;
    });
    EXPECT_FLOAT_EQ(r.overlay.currentAlpha.get(), filterAlpha(r.state(), 5));
    EXPECT_FALSE(r.overlay.matrixEnabled.get());
    EXPECT_FLOAT_EQ(r.overlay.matrixStripeAlpha.get(), 0.3f);
    EXPECT_EQ(r.svc().fsm().settings().filterStrength, 5);
}

TEST(PrivacyFilterServiceSettings, FpsAndShortcutChangesWaitForTheNextStart) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.change([](FilterSettings& s) {
        s.captureFps = 2;
        s.globalShortcutEnabled = false;
    });
    r.settle();
    EXPECT_EQ(r.analyzer()->minIntervalMs(), 100);
    EXPECT_TRUE(r.shortcut.installed());
    EXPECT_EQ(r.analyzers.size(), 1u);

    r.svc().stop();
    r.settle();
    ASSERT_TRUE(r.start());
    EXPECT_EQ(r.analyzerFps.back(), 2);
    EXPECT_EQ(r.analyzer()->minIntervalMs(), 500);
    EXPECT_FALSE(r.shortcut.installed());
}

TEST(PrivacyFilterServiceStates, AlertSetsAlertModeNotifiesAndClearsOnReturn) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.see(userAndOnlooker);
    EXPECT_EQ(r.svc().fsmState.get(), FilterState::alert());
    EXPECT_TRUE(r.svc().isAlert.get());
    EXPECT_TRUE(r.overlay.isAlertMode.get());
    EXPECT_FLOAT_EQ(r.overlay.currentAlpha.get(), filterAlpha(FilterState::alert(), 3));
    ASSERT_EQ(r.notifier.posts.size(), 1u);
    EXPECT_EQ(r.notifier.posts[0].identifier, "tavrine.alert");
    EXPECT_EQ(r.notifier.posts[0].title, "Regard indiscret");
    EXPECT_EQ(r.notifier.posts[0].body, "Quelqu'un regarde votre écran.");
    EXPECT_EQ(r.haptics.pulses, 1);
    EXPECT_EQ(r.stats.stats.get().alertCount, 1);

    const int removals = r.notifier.removals();
    r.seeFor(userOnly, 3400);
    EXPECT_EQ(r.state(), FilterState::nominal(3));
    EXPECT_FALSE(r.svc().isAlert.get());
    EXPECT_FALSE(r.overlay.isAlertMode.get());
    EXPECT_TRUE(r.overlay.isShowing.get());
    EXPECT_EQ(r.notifier.removals(), removals + 1);
    EXPECT_EQ(r.notifier.log.back(), "remove tavrine.alert");
}

TEST(PrivacyFilterServiceStates, InattentionRaisesTheAlphaAndKeepsTheOverlay) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.seeFor(userLookingAway, 2000);
    EXPECT_EQ(r.svc().fsmState.get(), FilterState::inattention(3));
    EXPECT_FLOAT_EQ(r.overlay.currentAlpha.get(), filterAlpha(FilterState::inattention(3), 3));
    EXPECT_TRUE(r.overlay.isShowing.get());
    EXPECT_FALSE(r.overlay.isAlertMode.get());
}

TEST(PrivacyFilterServiceStates, SideEffectsRunOncePerChangeInOrderWithTheirOwnState) {
    Rig r;
    ASSERT_TRUE(r.start());
    // Two changes before any side-effect task runs: alert, then the display sleeps.
    r.svc().fsm().onDetectionInput(DetectionInput{r.exec.nowMs(), 2, FaceData{0.0f, 0.0f, 0.1f}});
    ASSERT_EQ(r.state(), FilterState::alert());
    EXPECT_EQ(r.svc().fsmState.get(), FilterState::alert()) << "mirrored synchronously";
    EXPECT_FALSE(r.svc().isAlert.get()) << "side effects wait for their own task";
    r.events.fire(SystemEventMonitor::Event::displayAsleep);
    EXPECT_EQ(r.svc().fsmState.get(), FilterState::autoPaused(PauseReason::screenOff()));
    r.settle();
    // The alert pass ran (notification, count), then the pause pass cleared it and hid the overlay.
    EXPECT_EQ(r.notifier.posts.size(), 1u);
    EXPECT_EQ(r.stats.stats.get().alertCount, 1);
    EXPECT_FALSE(r.svc().isAlert.get());
    EXPECT_FALSE(r.overlay.isAlertMode.get());
    EXPECT_FALSE(r.overlay.isShowing.get());
}

TEST(PrivacyFilterServiceSystemEvents, DisplaySleepDuringAlertPausesAndWakeResumes) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.see(userAndOnlooker);
    ASSERT_EQ(r.state(), FilterState::alert());
    r.events.fire(SystemEventMonitor::Event::displayAsleep);
    EXPECT_TRUE(r.analyzer()->isSuspended.load()) << "the handler suspends at once";
    r.settle();
    EXPECT_EQ(r.state(), FilterState::autoPaused(PauseReason::screenOff()));
    EXPECT_FALSE(r.overlay.isShowing.get());
    EXPECT_FALSE(r.svc().isAlert.get());
    EXPECT_FALSE(r.overlay.isAlertMode.get());
    EXPECT_FLOAT_EQ(r.overlay.currentAlpha.get(), 0.0f);

    r.events.fire(SystemEventMonitor::Event::displayAwake);
    EXPECT_FALSE(r.analyzer()->isSuspended.load());
    r.settle();
    EXPECT_EQ(r.state(), FilterState::nominal(3));
    EXPECT_TRUE(r.overlay.isShowing.get());
}

TEST(PrivacyFilterServiceSystemEvents, SessionSwitchPausesAndResumesThroughTheSideEffects) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.events.fire(SystemEventMonitor::Event::sessionInactive);
    EXPECT_EQ(r.svc().fsmState.get(), FilterState::autoPaused(PauseReason::screenOff()));
    EXPECT_FALSE(r.analyzer()->isSuspended.load()) << "only the side-effect pass suspends";
    r.settle();
    EXPECT_TRUE(r.analyzer()->isSuspended.load());
    EXPECT_FALSE(r.overlay.isShowing.get());

    r.events.fire(SystemEventMonitor::Event::sessionActive);
    EXPECT_EQ(r.state(), FilterState::nominal(3));
    EXPECT_TRUE(r.analyzer()->isSuspended.load());
    r.settle();
    EXPECT_FALSE(r.analyzer()->isSuspended.load());
    EXPECT_TRUE(r.overlay.isShowing.get());
}

TEST(PrivacyFilterServiceSystemEvents, PausedAnalyzerDeliversNothing) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.events.fire(SystemEventMonitor::Event::displayAsleep);
    r.settle();
    r.see(userAndOnlooker);
    EXPECT_EQ(r.state(), FilterState::autoPaused(PauseReason::screenOff()));
    EXPECT_TRUE(r.notifier.posts.empty());
}

TEST(PrivacyFilterServiceSystemEvents, CameraLossRestartsTheCameraEveryRetryUntilFramesCome) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.see(userOnly);
    r.source->interrupt(true);
    r.settle();
    EXPECT_EQ(r.state(), FilterState::cameraBusy(5000));
    EXPECT_TRUE(r.overlay.isShowing.get());
    EXPECT_FLOAT_EQ(r.overlay.currentAlpha.get(), 0.0f);
    // The source saying it is back ends nothing; neither does time: each retry reopens the camera, gone
    // (the device is absent) or silent (it opens but sends nothing).
    r.source->interrupt(false);
    r.source->failNextStart(CameraError::noCameraAvailable);
    r.source->failNextStart(CameraError::noCameraAvailable);
    for (int retry = 1; retry <= 4; ++retry) {
        r.advance(4999);
        EXPECT_EQ(r.source->starts(), retry) << "retry " << retry;
        r.advance(1);
        EXPECT_EQ(r.source->starts(), retry + 1) << "retry " << retry;
        EXPECT_EQ(r.state(), FilterState::cameraBusy(5000)) << "retry " << retry;
        EXPECT_EQ(r.svc().fsmState.get(), FilterState::cameraBusy(5000));
    }
    EXPECT_EQ(r.camera.analyzer(), r.analyzers.back().lock()) << "the analyzer stays attached";
    // Frames again: the machine leaves cameraBusy and the frames are analysed.
    r.see(userAndOnlooker);
    r.see(userAndOnlooker);
    EXPECT_EQ(r.state(), FilterState::alert());
    EXPECT_EQ(r.notifier.posts.size(), 1u);
    const int starts = r.source->starts();
    r.advance(20'000);
    EXPECT_EQ(r.source->starts(), starts) << "no restart once frames flow";
    EXPECT_EQ(r.stats.stats.get().sessionCount, 1);
}

TEST(PrivacyFilterServiceSystemEvents, CameraLostDuringAPauseShowsWhenThePauseEnds) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.events.fire(SystemEventMonitor::Event::displayAsleep);
    r.settle();
    r.source->interrupt(true);
    r.settle();
    EXPECT_EQ(r.state(), FilterState::autoPaused(PauseReason::screenOff()));
    r.advance(20'000);
    EXPECT_EQ(r.source->starts(), 1) << "nothing is retried while paused";
    r.events.fire(SystemEventMonitor::Event::displayAwake);
    r.settle();
    EXPECT_EQ(r.state(), FilterState::cameraBusy(5000)) << "the filter cannot watch: it says so";
    r.advance(5000);
    EXPECT_EQ(r.source->starts(), 2);
    r.see(userOnly);
    EXPECT_EQ(r.state(), FilterState::nominal(3));
}

TEST(PrivacyFilterServiceStop, AnAnalyzerBusyDetectingDoesNotHoldUpTheMainThread) {
    // A detection that takes as long as the test wants.
    struct SlowDetector final : FaceDetector {
        std::optional<std::vector<FaceObservation>> detect(const VideoFrame&) override {
            std::unique_lock lock(mutex);
            running = true;
            cv.notify_all();
            cv.wait(lock, [this] { return released; });
            return std::vector<FaceObservation>{};
        }
        std::mutex mutex;
        std::condition_variable cv;
        bool running = false;
        bool released = false;
    };
    Rig r;
    auto slow = std::make_shared<SlowDetector>();
    r.analysisDetector = slow;
    ASSERT_TRUE(r.start());
    VideoFrame frame{640, 480, 640 * 4, std::make_shared<const std::vector<std::uint8_t>>(4, 0)};
    r.exec.advanceBy(200);
    r.source->pushFrame(frame);
    {
        std::unique_lock lock(slow->mutex);
        ASSERT_TRUE(slow->cv.wait_for(lock, std::chrono::seconds(10), [&] { return slow->running; }));
    }
    std::weak_ptr<FaceAnalyzer> dropped = r.analyzer();
    auto stopping = std::async(std::launch::async, [&r] { r.svc().stop(); });
    // A deadlock guard, not a speed check: stop() waiting for the detection would never return.
    const bool returned = stopping.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    {
        std::lock_guard lock(slow->mutex);
        slow->released = true;
        slow->cv.notify_all();
    }
    stopping.wait();
    EXPECT_TRUE(returned) << "stop() waited for the detection in progress";
    r.settle();
    EXPECT_TRUE(dropped.expired()) << "the analyzer is destroyed once its detection ends";
}

TEST(PrivacyFilterServiceSystemEvents, FramesEndingAnInterruptionBeforeTheRetryNeedNoRestart) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.source->interrupt(true);
    r.settle();
    r.see(userOnly);
    EXPECT_EQ(r.state(), FilterState::nominal(3));
    r.advance(10'000);
    EXPECT_EQ(r.state(), FilterState::nominal(3));
    EXPECT_EQ(r.source->starts(), 1);
}

TEST(PrivacyFilterServiceSystemEvents, RetryPendingAtStopDoesNotReviveALaterRun) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.source->interrupt(true);
    r.settle();
    ASSERT_EQ(r.state(), FilterState::cameraBusy(5000));
    r.svc().stop();
    r.settle();
    r.source->failNextStart(CameraError::configurationFailed);
    ASSERT_TRUE(r.start());
    ASSERT_EQ(r.state(), FilterState::cameraBusy(5000));
    const int starts = r.source->starts();
    r.advance(10'000);
    EXPECT_EQ(r.state(), FilterState::cameraBusy(5000));
    EXPECT_EQ(r.source->starts(), starts);
}

// A desktop already locked, switched away or on a low battery when the filter starts.
struct AlreadyTrueCase {
    const char* name;
    const char* what;
    bool screensAsleep;
    bool sessionInactive;
    std::optional<int> batteryPercent;
    FilterState expected;
    SystemEventMonitor::Event ending;
};

class PrivacyFilterServiceAtStart : public ::testing::TestWithParam<AlreadyTrueCase> {};

TEST_P(PrivacyFilterServiceAtStart, AStateAlreadyTruePausesAtOnceAndItsEndResumes) {
    const AlreadyTrueCase& c = GetParam();
    Rig r;
    r.events.screensAsleep = c.screensAsleep;
    r.events.sessionInactive = c.sessionInactive;
    if (c.batteryPercent) {
        r.power.setBattery(*c.batteryPercent, false);
    }
    ASSERT_TRUE(r.start());
    EXPECT_EQ(r.state(), c.expected) << c.what;
    EXPECT_EQ(r.svc().fsmState.get(), c.expected) << c.what;
    EXPECT_FALSE(r.overlay.isShowing.get()) << c.what;
    ASSERT_TRUE(r.analyzer());
    EXPECT_TRUE(r.analyzer()->isSuspended.load()) << c.what;
    r.see(userAndOnlooker);
    EXPECT_TRUE(r.notifier.posts.empty()) << c.what << ": nothing is watched while paused";
    if (c.batteryPercent) {
        r.power.setBattery(50, false);
        r.advance(30'000);
    } else {
        r.events.fire(c.ending);
        r.settle();
    }
    EXPECT_EQ(r.state(), FilterState::nominal(3)) << c.what;
    EXPECT_TRUE(r.overlay.isShowing.get()) << c.what;
    EXPECT_FALSE(r.analyzer()->isSuspended.load()) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrivacyFilterServiceAtStart,
    ::testing::Values(AlreadyTrueCase{"ScreenSaverActive", "screen saver active", true, false, std::nullopt,
                                      FilterState::autoPaused(PauseReason::screenOff()),
                                      SystemEventMonitor::Event::displayAwake},
                      AlreadyTrueCase{"SessionInactive", "session inactive", false, true, std::nullopt,
                                      FilterState::autoPaused(PauseReason::screenOff()),
                                      SystemEventMonitor::Event::sessionActive},
                      AlreadyTrueCase{"BatteryLow", "battery at 5 % under the 10 % threshold", false, false,
                                      5, FilterState::autoPaused(PauseReason::lowBattery()),
                                      SystemEventMonitor::Event::displayAwake}),
    [](const ::testing::TestParamInfo<AlreadyTrueCase>& info) { return std::string(info.param.name); });

TEST(PrivacyFilterServiceShortcut, TogglesFromAnyThreadThroughAMainThreadTask) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.shortcut.pressFromOtherThread();
    EXPECT_TRUE(r.svc().isActive.get()) << "the toggle waits for its main-thread task";
    r.settle();
    EXPECT_FALSE(r.svc().isActive.get());
    EXPECT_FALSE(r.camera.isRunning.get());
    // Still installed after the stop, so the same keys start the filter again.
    ASSERT_TRUE(r.shortcut.installed());
    r.shortcut.pressFromOtherThread();
    r.settle();
    EXPECT_TRUE(r.svc().isActive.get());
    EXPECT_EQ(r.state(), FilterState::nominal(3));
    EXPECT_EQ(r.stats.stats.get().sessionCount, 2);
}

TEST(PrivacyFilterServiceShortcut, DisabledAtStartInstallsNothing) {
    Rig r;
    r.change([](FilterSettings& s) { s.globalShortcutEnabled = false; });
    ASSERT_TRUE(r.start());
    EXPECT_EQ(r.shortcut.installs, 0);
    EXPECT_FALSE(r.shortcut.installed());
}

TEST(PrivacyFilterServiceShortcut, GoneWithTheService) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.service.reset();
    EXPECT_FALSE(r.shortcut.installed());
}

TEST(PrivacyFilterServiceAlerts, SpacingHoldsAcrossStopAndStart) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.see(userAndOnlooker);
    ASSERT_EQ(r.notifier.posts.size(), 1u);
    r.svc().stop();
    r.settle();
    r.advance(5000);
    ASSERT_TRUE(r.start());
    r.see(userAndOnlooker);
    ASSERT_EQ(r.state(), FilterState::alert());
    EXPECT_EQ(r.notifier.posts.size(), 1u);
    EXPECT_EQ(r.stats.stats.get().alertCount, 1);
}

TEST(PrivacyFilterServiceAlerts, StopWithdrawsTheNotification) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.see(userAndOnlooker);
    r.notifier.log.clear();
    r.svc().stop();
    EXPECT_EQ(r.notifier.log, std::vector<std::string>{"remove tavrine.alert"});
    EXPECT_FALSE(r.svc().isAlert.get());
    r.settle(); // the inactive pass withdraws once more
    EXPECT_FALSE(r.overlay.isAlertMode.get());
}

TEST(PrivacyFilterServiceLifetime, TasksAndCallbacksOutlivingTheServiceDoNothing) {
    Rig r;
    ASSERT_TRUE(r.start());
    auto analyzer = r.analyzer();
    r.events.fire(SystemEventMonitor::Event::displayAsleep); // a side-effect pass is now pending
    r.service.reset();
    analyzer->onResult(DetectionInput{r.exec.nowMs(), 2, FaceData{0.0f, 0.0f, 0.1f}});
    r.advance(60'000);
    EXPECT_TRUE(r.overlay.isShowing.get()) << "the pending pause pass did not run";
    EXPECT_TRUE(r.notifier.posts.empty());
    EXPECT_EQ(r.events.signal.subscriberCount(), 0u);
}

} // namespace
} // namespace tavrine

// The whole running filter on the rig of core/fakes/ServiceRig.h: fakes at the platform seams only.
#include "core/service/PrivacyFilterService.h"

#include "core/fakes/ServiceRig.h"
#include "core/util/SharedInstance.h"
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

// Enters alert with an onlooker and leaves it again after the recovery hold.
void alertAndBack(Rig& r) {
    r.see(userAndOnlooker);
    r.seeFor(userOnly, 3400);
}

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
    r.power.battery(5, false);
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

struct DistanceCase {
    float ratio;
    float coefficient;
    std::int64_t expectedCm;
};

class PrivacyFilterServiceDistance : public ::testing::TestWithParam<DistanceCase> {};

TEST_P(PrivacyFilterServiceDistance, FaceWidthGivesTheClampedViewingDistance) {
    const DistanceCase c = GetParam();
    Rig r;
    r.change([&c](FilterSettings& s) { s.privacyMatrixCoefficient = c.coefficient; });
    ASSERT_TRUE(r.start());
    r.overlay.updateMatrixConfig(true, 500, 0xFF000000ULL, 0.5f);
    // Straight into the analyzer's callback: faces under 0.04 of the frame never leave a real analysis.
    r.analyzer()->onResult(DetectionInput{r.exec.nowMs(), 1, FaceData{0.0f, 0.0f, c.ratio}});
    r.settle();
    EXPECT_EQ(r.overlay.lastDistanceCm.get(), c.expectedCm);
    EXPECT_EQ(r.overlay.matrixDistanceCm.get(), c.expectedCm);
    EXPECT_FLOAT_EQ(r.overlay.matrixStripeAlpha.get(), r.live().matrixStripeAlpha);
}

INSTANTIATE_TEST_SUITE_P(Cases, PrivacyFilterServiceDistance,
                         ::testing::Values(DistanceCase{0.1f, 1.0f, 100}, DistanceCase{0.02f, 1.0f, 200},
                                           DistanceCase{1.0f, 1.0f, 20}, DistanceCase{0.02f, 2.0f, 300},
                                           DistanceCase{0.045f, 1.0f, 200}, DistanceCase{0.9f, 0.5f, 20},
                                           DistanceCase{0.1f, 2.0f, 200}, DistanceCase{0.1f, -1.0f, 20}),
                         [](const ::testing::TestParamInfo<DistanceCase>& info) {
                             // e.g. Ratio0_045Coefficient1Gives200cm
                             auto number = [](float v) {
                                 std::string text = std::to_string(v);
                                 text.erase(text.find_last_not_of('0') + 1);
                                 if (!text.empty() && text.back() == '.') {
                                     text.pop_back();
                                 }
                                 for (char& ch : text) {
                                     ch = ch == '.' ? '_' : ch == '-' ? 'm' : ch;
                                 }
                                 return text;
                             };
                             const DistanceCase& c = info.param;
                             return "Ratio" + number(c.ratio) + "Coefficient" + number(c.coefficient) +
                                    "Gives" + std::to_string(c.expectedCm) + "cm";
                         });

TEST(PrivacyFilterServiceDistanceBand, TenCentimetresAwayIsIgnoredElevenApplied) {
    Rig r;
    r.change([](FilterSettings& s) { s.privacyMatrixCoefficient = 1.0f; });
    ASSERT_TRUE(r.start());
    for (std::int64_t last : {90, 110}) {
        r.overlay.updateMatrixConfig(true, last, 0xFF000000ULL, 0.5f);
        r.see(userOnly); // r = 0.1 → 100 cm
        EXPECT_EQ(r.overlay.lastDistanceCm.get(), last) << "from " << last;
    }
    for (std::int64_t last : {89, 111}) {
        r.overlay.updateMatrixConfig(true, last, 0xFF000000ULL, 0.5f);
        r.see(userOnly);
        EXPECT_EQ(r.overlay.lastDistanceCm.get(), 100) << "from " << last;
    }
}

TEST(PrivacyFilterServiceDistanceBand, NoFaceOrNoWidthLeavesTheMatrixAlone) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.overlay.updateMatrixConfig(true, 500, 0x11223344ULL, 0.5f);
    int deliveries = 0;
    auto sub = r.overlay.matrixDistanceCm.subscribe([&deliveries](const std::int64_t&) { ++deliveries; });
    deliveries = 0;
    r.see({});
    DetectionInput zero{r.exec.nowMs(), 1, FaceData{0.0f, 0.0f, 0.0f}};
    DetectionInput negative{r.exec.nowMs(), 1, FaceData{0.0f, 0.0f, -0.3f}};
    DetectionInput nan{r.exec.nowMs(), 1, FaceData{0.0f, 0.0f, std::nanf("")}};
    // Inputs straight through the analyzer's callback, as the analysis worker would deliver them.
    for (const auto& input : {zero, negative, nan}) {
        r.analyzer()->onResult(input);
        r.settle();
    }
    EXPECT_EQ(deliveries, 0);
    EXPECT_EQ(r.overlay.lastDistanceCm.get(), 500);
}

TEST(PrivacyFilterServiceDistanceBand, ResultsAfterStopAreIgnoredByTheMachineButMayRetuneTheMatrix) {
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
    std::optional<std::int64_t> batteryPercent;
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
        r.power.battery(*c.batteryPercent, false);
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
        r.power.battery(50, false);
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

TEST(PrivacyFilterServiceAtStartBattery, APowerSourceWithoutAReadingYetIsCheckedAtItsFirstOne) {
    Rig r;
    ASSERT_TRUE(r.start());
    EXPECT_EQ(r.state(), FilterState::nominal(3));
    r.power.updates.emit(); // an update that still says nothing
    r.power.battery(5, false);
    r.power.updates.emit();
    r.settle();
    EXPECT_EQ(r.state(), FilterState::autoPaused(PauseReason::lowBattery())) << "no 30 s wait";
    const int reads = r.power.reads;
    r.power.updates.emit();
    EXPECT_EQ(r.power.reads, reads) << "only the first reading is awaited";
    EXPECT_EQ(r.power.updates.subscriberCount(), 0u);
}

struct BatteryRig : Rig {
    BatteryRig(int threshold) {
        change([threshold](FilterSettings& s) { s.batteryThresholdPercent = threshold; });
        EXPECT_TRUE(start());
    }
    FilterState afterCheck() {
        advance(30'000);
        return state();
    }
};

const FilterState lowBatteryPause = FilterState::autoPaused(PauseReason::lowBattery());

TEST(PrivacyFilterServiceBattery, BelowThresholdPausesAtTheNextCheckAndResumesAtOrAbove) {
    BatteryRig r(20);
    r.power.battery(19, false);
    r.advance(29'999);
    EXPECT_EQ(r.state(), FilterState::nominal(3)) << "no periodic check before 30 s";
    EXPECT_EQ(r.power.reads, 1) << "only the one at start, when the battery was not low yet";
    r.advance(1);
    EXPECT_EQ(r.state(), lowBatteryPause);
    EXPECT_FALSE(r.overlay.isShowing.get());
    EXPECT_TRUE(r.analyzer()->isSuspended.load());

    r.power.battery(20, false);
    EXPECT_EQ(r.afterCheck(), FilterState::nominal(3));
    EXPECT_TRUE(r.overlay.isShowing.get());
    EXPECT_FALSE(r.analyzer()->isSuspended.load());
}

TEST(PrivacyFilterServiceBattery, ChargingNeverPausesAndEndsAPause) {
    BatteryRig r(20);
    r.power.battery(5, true);
    EXPECT_EQ(r.afterCheck(), FilterState::nominal(3));
    r.power.battery(5, false);
    EXPECT_EQ(r.afterCheck(), lowBatteryPause);
    r.power.battery(5, true);
    EXPECT_EQ(r.afterCheck(), FilterState::nominal(3));
}

TEST(PrivacyFilterServiceBattery, ThresholdZeroOrBelowDisablesThePause) {
    for (int threshold : {0, -5}) {
        BatteryRig r(threshold);
        r.power.battery(0, false);
        EXPECT_EQ(r.afterCheck(), FilterState::nominal(3)) << threshold;
    }
    BatteryRig r(20);
    r.power.battery(3, false);
    ASSERT_EQ(r.afterCheck(), lowBatteryPause);
    r.change([](FilterSettings& s) { s.batteryThresholdPercent = 0; });
    EXPECT_EQ(r.afterCheck(), FilterState::nominal(3));
}

TEST(PrivacyFilterServiceBattery, MissingOrMistypedValuesUseTheirDefaults) {
    BatteryRig r(20);
    r.power.sources = std::vector<PowerSourceDescription>{{{"Is Charging", false}}};
    EXPECT_EQ(r.afterCheck(), FilterState::nominal(3)) << "no capacity counts as 100";
    r.power.sources =
        std::vector<PowerSourceDescription>{{{"Current Capacity", 5.0}, {"Is Charging", false}}};
    EXPECT_EQ(r.afterCheck(), FilterState::nominal(3)) << "a non-integer capacity counts as 100";
    r.power.sources = std::vector<PowerSourceDescription>{
        {{"Current Capacity", std::int64_t{5}}, {"Is Charging", std::string("yes")}}};
    EXPECT_EQ(r.afterCheck(), lowBatteryPause) << "a non-boolean charging flag counts as not charging";
}

TEST(PrivacyFilterServiceBattery, OnlyTheFirstSourceCounts) {
    BatteryRig r(20);
    r.power.sources =
        std::vector<PowerSourceDescription>{{{"Current Capacity", std::int64_t{80}}, {"Is Charging", false}},
                                            {{"Current Capacity", std::int64_t{5}}, {"Is Charging", false}}};
    EXPECT_EQ(r.afterCheck(), FilterState::nominal(3));
    std::swap(r.power.sources->at(0), r.power.sources->at(1));
    EXPECT_EQ(r.afterCheck(), lowBatteryPause);
}

TEST(PrivacyFilterServiceBattery, NoInformationOrNoBatterySendsNoEvent) {
    BatteryRig r(20);
    r.power.battery(5, false);
    ASSERT_EQ(r.afterCheck(), lowBatteryPause);
    r.power.sources.reset();
    EXPECT_EQ(r.afterCheck(), lowBatteryPause) << "no information keeps the state";
    r.power.sources = std::vector<PowerSourceDescription>{};
    EXPECT_EQ(r.afterCheck(), lowBatteryPause) << "no battery keeps the state";
    EXPECT_EQ(r.power.reads, 4) << "one check at start, then one per 30 s";
}

TEST(PrivacyFilterServiceBattery, ChecksRepeatEveryThirtySeconds) {
    BatteryRig r(20);
    r.power.battery(80, false);
    r.advance(30'000 * 4 + 29'999);
    EXPECT_EQ(r.power.reads, 5) << "one check at start, then one per 30 s";
}

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

TEST(PrivacyFilterServiceAlerts, TwoAlertsTenSecondsApartNotifyOnceThirtySecondsLaterAgain) {
    Rig r;
    ASSERT_TRUE(r.start());
    const std::int64_t t0 = r.exec.nowMs();
    alertAndBack(r);
    // The first alert began (and notified) one frame after t0; the second begins 10 s after it.
    r.advance(10'000 - (r.exec.nowMs() - t0));
    alertAndBack(r);
    EXPECT_EQ(r.notifier.posts.size(), 1u);
    EXPECT_EQ(r.haptics.pulses, 1);
    EXPECT_EQ(r.stats.stats.get().alertCount, 1);

    r.advance(30'000 - (r.exec.nowMs() - t0));
    r.see(userAndOnlooker);
    ASSERT_EQ(r.state(), FilterState::alert());
    EXPECT_EQ(r.notifier.posts.size(), 2u);
    EXPECT_EQ(r.haptics.pulses, 2);
    EXPECT_EQ(r.stats.stats.get().alertCount, 2);
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

TEST(PrivacyFilterServiceAlerts, WithoutHapticsStillNotifiesAndCounts) {
    Rig r;
    r.change([](FilterSettings& s) { s.hapticOnAlert = false; });
    ASSERT_TRUE(r.start());
    r.see(userAndOnlooker);
    EXPECT_EQ(r.haptics.pulses, 0);
    EXPECT_EQ(r.notifier.posts.size(), 1u);
    EXPECT_EQ(r.stats.stats.get().alertCount, 1);
}

TEST(PrivacyFilterServiceAlerts, ClockSetBackDoesNotSilenceAlerts) {
    Rig r;
    ASSERT_TRUE(r.start());
    alertAndBack(r);
    r.exec.setNowMs(r.exec.nowMs() - 3'600'000);
    alertAndBack(r);
    EXPECT_EQ(r.notifier.posts.size(), 2u);
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

TEST(PrivacyFilterServiceShared, ComesFromTheInstalledFactory) {
    Rig r;
    PrivacyFilterService* created = nullptr;
    SharedInstance<PrivacyFilterService>::setFactory([&r, &created] {
        auto s = std::make_unique<PrivacyFilterService>(PrivacyFilterService::Dependencies{r.exec,
                                                                                           r.exec,
                                                                                           r.camera,
                                                                                           r.overlay,
                                                                                           r.settings,
                                                                                           r.stats,
                                                                                           {},
                                                                                           r.notifier,
                                                                                           r.haptics,
                                                                                           r.events,
                                                                                           r.power,
                                                                                           r.shortcut,
                                                                                           r.localizer});
        created = s.get();
        return s;
    });
    EXPECT_EQ(&PrivacyFilterService::shared(), created);
    EXPECT_EQ(&PrivacyFilterService::shared(), created);
    SharedInstance<PrivacyFilterService>::resetForTests();
}

} // namespace
} // namespace tavrine

// The whole running filter on the rig of core/fakes/ServiceRig.h: fakes at the platform seams only.
#include "core/service/PrivacyFilterService.h"

#include "core/fakes/RigScript.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>

namespace tavrine {
namespace {

using namespace tavrine::testing;
using Event = SystemEventMonitor::Event;

class PrivacyFilterServiceScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(PrivacyFilterServiceScenario, FollowsTheScript) {
    Rig r;
    run(r, GetParam().script);
}

const Scenario scenarios[] = {
    // Start and stop. The nominal side-effect pass withdraws any leftover alert notification.
    {"StartRunsEverything",
     "start active=1 state=N showing=1 sessions=1 running=1 attached=1 fps=10 shortcut=1 "
     "removals=1 reads=1"},
    {"StartWhileRunningChangesNothing", "start start sessions=1 starts=1 analyzers=1 installs=1"},
    {"StopWithoutStartHidesAndWithdraws", "stop seconds=0 showing=0 removals=1 state=X"},
    // Everything torn down: no monitor, no battery check, no retry, no settings reaction after the stop.
    {"StopAddsWholeSecondsAndTearsDown",
     "start onlooker +65500 stop seconds=65 active=0 isalert=0 alertmode=0 showing=0 attached=0 alive=0 "
     "running=0 sleep lose battery5 +120000 reads=3 starts=1 state=X strength5 stop seconds=65"},
    {"ClockSetBackAddsNoNegativeTime", "start +100000 stop seconds=100 start clockback stop seconds=100"},
    {"StartAgainIsASecondSessionWithAFreshAnalyzer",
     "start stop start sessions=2 analyzers=2 alive=1 state=N"},
    {"StopWhileTheCameraStarts", "startstop active=0 state=X showing=0 running=0 sleep state=X"},
    {"StopWithdrawsTheAlertAtOnce", "start onlooker removals=1 stop! removals=2 isalert=0 . alertmode=0"},
    // A camera that refuses: the machine waits in cameraBusy, the service says so, installs nothing and
    // retries nothing; a later start shows the busy overlay until frames come, and a stop ends the wait.
    {"FailedStartParksTheMachine", "fail start sessions=1 active=0 state=C showing=0 shortcut=0 attached=1 "
                                   "sleep +60000 state=C starts=1 reads=0"},
    {"FailedStartThenStopIsInactive", "fail start state=C stop state=X active=0"},
    {"FailedTwiceThenStarted",
     "fail start fail start state=C start active=1 showing=1 state=C sessions=3 +5000 state=C starts=4 user "
     "state=N sessions=3"},
    // The camera lost while running: each retry reopens it, gone or silent, until frames come.
    {"CameraLossRetriesUntilFramesCome",
     "start user lose state=C showing=1 back fail fail +4999 starts=1 +1 starts=2 state=C +4999 starts=2 +1 "
     "starts=3 +5000 starts=4 +5000 starts=5 state=C attached=1 onlooker onlooker state=L posts=1 +20000 "
     "starts=5 sessions=1"},
    {"CameraLostDuringAPauseShowsWhenItEnds",
     "start sleep lose state=Z +20000 starts=1 wake state=C +5000 starts=2 user state=N"},
    {"FramesBeforeTheRetryNeedNoRestart", "start lose user state=N +10000 state=N starts=1"},
    {"RetryPendingAtStopDoesNotReviveALaterRun",
     "start lose state=C stop fail start state=C +10000 starts=2"},
    // States and their side effects.
    {"AlertNotifiesAndClearsOnReturn",
     "start onlooker state=L isalert=1 alertmode=1 posts=1 pulses=1 alerts=1 user*3400 state=N isalert=0 "
     "alertmode=0 showing=1 removals=2"},
    {"InattentionKeepsTheOverlay", "start away*2000 state=I showing=1 alertmode=0"},
    {"AlertSpacingHoldsAcrossStopAndStart",
     "start onlooker posts=1 stop +5000 start onlooker state=L posts=1 alerts=1"},
    // The display sleep suspends the analyzer at once; the session switch only through the side effects.
    {"DisplaySleepDuringAlertPausesAndWakeResumes",
     "start onlooker sleep! suspended=1 . state=Z showing=0 isalert=0 alertmode=0 onlooker posts=1 wake! "
     "suspended=0 . state=N showing=1"},
    {"SessionSwitchPausesAndResumes",
     "start switchaway! state=Z suspended=0 . suspended=1 showing=0 switchback! state=N suspended=1 . "
     "suspended=0 showing=1"},
    // Already true when the filter starts: paused at once, nothing watched, and the end resumes.
    {"ScreenSaverActiveAtStart",
     "asleepbefore start state=Z showing=0 suspended=1 onlooker posts=0 wake state=N showing=1 suspended=0"},
    {"SessionInactiveAtStart",
     "awaybefore start state=Z showing=0 suspended=1 onlooker posts=0 switchback state=N showing=1 "
     "suspended=0"},
    {"BatteryLowAtStart",
     "battery5 start state=B showing=0 suspended=1 onlooker posts=0 battery50 +30000 state=N showing=1 "
     "suspended=0"},
    // The shortcut toggles through a main-thread task and stays installed to start the filter again.
    {"ShortcutToggles",
     "start press! active=1 . active=0 running=0 shortcut=1 press active=1 state=N sessions=2"},
    {"ShortcutDisabledAtStartInstallsNothing", "noshortcut start installs=0 shortcut=0"},
    {"FpsAndShortcutChangesWaitForTheNextStart",
     "start fps2 noshortcut interval=100 shortcut=1 analyzers=1 stop start fps=2 interval=500 shortcut=0"},
    // Face models that failed to load before the start (no analyzer) or during the run (the detector says
    // so): the run stops, the user is told once, retries start no camera; working models start again.
    {"ModelsFailBeforeTheStart",
     "modelsfail start unavailable=1 active=0 state=X showing=0 running=0 attached=0 starts=0 posts=1 start "
     "press +60000 posts=1 starts=0 state=X unavailable=1 modelsok start unavailable=0 state=N"},
    {"ModelsFailAfterTheStart",
     "start user state=N modelsfail user unavailable=1 active=0 state=X showing=0 running=0 attached=0 "
     "starts=1 posts=1 start press +60000 posts=1 starts=1 modelsok start unavailable=0 state=N"},
};

INSTANTIATE_TEST_SUITE_P(Table, PrivacyFilterServiceScenario, ::testing::ValuesIn(scenarios), scenarioName);

TEST(PrivacyFilterService, TheModelFailureNotificationSaysWhy) {
    Rig r;
    run(r, "modelsfail start posts=1");
    EXPECT_EQ(r.notifier.posts[0].identifier, PrivacyFilterService::analysisNotificationId);
    EXPECT_EQ(r.notifier.posts[0].title, "notif_analysis_unavailable_title");
    EXPECT_EQ(r.notifier.posts[0].body, "notif_analysis_unavailable_text");
}

TEST(PrivacyFilterService, StopAddsTheSecondsInAPostedTask) {
    Rig r;
    run(r, "start +2000 stop! seconds=0 . seconds=2");
}

TEST(PrivacyFilterService, SettingsFollowAtOnceAndKeepTheLastDistance) {
    Rig r;
    r.change([](FilterSettings& s) { s.privacyMatrixCoefficient = 1.0f; });
    run(r, "start user");
    ASSERT_EQ(r.overlay.lastDistanceCm.get(), 100);
    int deliveries = 0;
    auto sub = r.overlay.matrixColorArgb.subscribe([&deliveries](const std::uint64_t&) { ++deliveries; });
    r.settings.settings = r.live();
    r.see({}); // no face: the matrix is left alone
    EXPECT_EQ(deliveries, 1) << "equal settings and faceless frames deliver nothing";
    r.change([](FilterSettings& s) {
        s.filterStrength = 5;
        s.matrixColorArgb = 0xFF336699ULL;
        s.privacyMatrixEnabled = false;
        s.matrixStripeAlpha = 0.3f;
    });
    EXPECT_EQ(r.overlay.matrixColorArgb.get(), 0xFF336699ULL);
    EXPECT_FALSE(r.overlay.matrixEnabled.get());
    EXPECT_FLOAT_EQ(r.overlay.matrixStripeAlpha.get(), 0.3f);
    EXPECT_EQ(r.overlay.matrixDistanceCm.get(), 100);
    EXPECT_EQ(r.svc().fsm().settings().filterStrength, 5);
    run(r, ".");
}

TEST(PrivacyFilterService, ResultsAfterStopAreIgnoredByTheMachineButMayRetuneTheMatrix) {
    Rig r;
    r.change([](FilterSettings& s) { s.privacyMatrixCoefficient = 1.0f; });
    run(r, "start");
    auto analyzer = r.analyzer();
    r.svc().stop();
    analyzer->onResult(DetectionInput{r.exec.nowMs(), 2, FaceData{0.0f, 0.0f, 0.1f}}); // already on its way
    run(r, ". state=X isalert=0 posts=0");
    EXPECT_EQ(r.overlay.lastDistanceCm.get(), 100);
}

TEST(PrivacyFilterService, SideEffectsRunOncePerChangeInOrderWithTheirOwnState) {
    Rig r;
    run(r, "start");
    // Two changes before any side-effect task runs: alert, then the display sleeps.
    r.svc().fsm().onDetectionInput(DetectionInput{r.exec.nowMs(), 2, FaceData{0.0f, 0.0f, 0.1f}});
    run(r, "state=L isalert=0 sleep! state=Z");
    // The alert pass ran (notification, count), then the pause pass cleared it and hid the overlay.
    run(r, ". posts=1 alerts=1 isalert=0 alertmode=0 showing=0");
}

TEST(PrivacyFilterService, TasksAndCallbacksOutlivingTheServiceDoNothing) {
    Rig r;
    run(r, "start sleep!"); // a side-effect pass is now pending
    auto analyzer = r.analyzer();
    r.service.reset();
    EXPECT_FALSE(r.shortcut.installed());
    analyzer->onResult(DetectionInput{r.exec.nowMs(), 2, FaceData{0.0f, 0.0f, 0.1f}});
    r.events.fire(Event::displayAsleep);
    r.advance(60'000);
    EXPECT_TRUE(r.overlay.isShowing.get()) << "the pending pause pass did not run";
    EXPECT_TRUE(r.notifier.posts.empty());
}

TEST(PrivacyFilterService, AnAnalyzerBusyDetectingDoesNotHoldUpStop) {
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
    r.exec.advanceBy(200);
    r.source->pushFrame(
        VideoFrame{640, 480, 640 * 4, std::make_shared<const std::vector<std::uint8_t>>(4, 0)});
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

} // namespace
} // namespace tavrine

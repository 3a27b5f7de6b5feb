#include "core/service/PrivacyFilterService.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <future>

namespace tavrine {
namespace {

using namespace tavrine::testing;

const RigActions serviceActions = {
    // The analyzer's result already on its way when the filter stops.
    {"stoplate",
     [](Rig& r, auto) {
         auto analyzer = r.analyzer();
         r.svc().stop();
         analyzer->onResult(onlookerInput(r));
     }},
    // The service destroyed with a side-effect pass pending; its analyzer and the system still call.
    {"destroy",
     [](Rig& r, auto) {
         auto analyzer = r.analyzer();
         r.service.reset();
         analyzer->onResult(onlookerInput(r));
         r.events.fire(SystemEventMonitor::Event::displayAsleep);
     }},
    {"restyle",
     [](Rig& r, auto) {
         r.set(&FilterSettings::matrixColorArgb, 0xFF336699ULL);
         r.set(&FilterSettings::privacyMatrixEnabled, false);
         r.set(&FilterSettings::matrixStripeAlpha, 0.5f);
     }},
};

const RigReadings matrixReadings = {
    {"matrixon", [](Rig& r) -> std::int64_t { return r.overlay.matrixEnabled.get(); }},
    {"color", [](Rig& r) -> std::int64_t { return r.overlay.matrixColorArgb.get(); }},
    {"stripepct",
     [](Rig& r) -> std::int64_t { return std::lround(r.overlay.matrixStripeAlpha.get() * 100); }},
    {"fsmstrength", [](Rig& r) -> std::int64_t { return r.svc().fsm().settings().filterStrength; }},
    // Posts under the face analysis's own notification (its text is checked on the desktop).
    {"blindposts",
     [](Rig& r) -> std::int64_t {
         return std::ranges::count(r.notifier.log,
                                   std::string("post ") + PrivacyFilterService::analysisNotificationId);
     }},
};

class PrivacyFilterServiceScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(PrivacyFilterServiceScenario, FollowsTheScript) {
    Rig r;
    run(r, GetParam().script, serviceActions, matrixReadings);
}

const Scenario scenarios[] = {
    // Start and stop. The nominal side-effect pass withdraws any leftover alert notification.
    {"StartRunsEverything",
     "start active=1 state=N showing=1 sessions=1 running=1 attached=1 interval=100 shortcut=1 removals=1 "
     "reads=1"},
    // The switch clicked while the camera is still opening, or once it runs: the same run, not a second one.
    {"StartWhileOpeningOrRunningChangesNothing",
     "request! request start sessions=1 starts=1 analyzers=1 installs=1 active=1"},
    // Reset during a run, the statistics count the run's time from the reset on; a clock set back adds
    // no negative time.
    {"AResetDuringARunCountsFromThen",
     "start +3600000 resetstats +60000 stop seconds=60 sessions=0 start clock-60 stop seconds=60"},
    // Everything torn down: no monitor, no battery check, no retry, no settings reaction after the stop.
    // The seconds are added by a posted task.
    {"StopAddsWholeSecondsAndTearsDown",
     "start onlooker +65500 stop! seconds=0 . seconds=65 active=0 isalert=0 alertmode=0 showing=0 attached=0 "
     "alive=0 running=0 sleep lose battery5 +120000 reads=3 starts=1 state=X strength5 stop seconds=65"},
    // Switched off and on again (or the shortcut pressed twice) before the camera has stopped: the
    // second start is a new run on the camera reopened after the stop, not swallowed by the closing one.
    {"StartBeforeTheCameraHasStopped", "start stop! request! . active=1 state=N running=1 starts=2 "
                                       "sessions=2 attached=1 showing=1 user state=N"},
    // The application ends: the start the launch posted, a pause's end or a key press due in the same
    // turn opens no camera on the way out.
    {"NoStartAfterTheShutDown",
     "start shutdown active=0 running=0 request press +60000 active=0 running=0 starts=1 sessions=1"},
    {"StopWhileTheCameraStarts", "startstop active=0 state=X showing=0 running=0 sleep state=X"},
    {"StopWithdrawsTheAlertAtOnce", "start onlooker removals=1 stop! removals=2 isalert=0 . alertmode=0"},
    // A camera that refuses: the machine waits in cameraBusy, the service says so, installs nothing and
    // retries nothing, and a stop ends the wait; a later start shows the busy overlay until frames come.
    {"FailedStartParksTheMachine", "fail start sessions=1 active=0 state=C showing=0 shortcut=0 attached=1 "
                                   "sleep +60000 state=C starts=1 reads=0 stop state=X active=0 seconds=0"},
    {"FailedTwiceThenStarted",
     "fail start fail start state=C start active=1 showing=1 state=C sessions=3 +5000 state=C starts=4 user "
     "state=N sessions=3"},
    // A camera this user may not open is told apart from one missing or taken, at a start and at a
    // reopening after a loss, until frames come or the filter stops.
    {"RefusedAccessIsToldApartFromAMissingCamera",
     "deny start state=C active=0 refused=1 allow fail start state=C refused=0 start active=1 refused=0 user "
     "lose deny +5000 state=C refused=1 allow +5000 refused=1 user state=N refused=0 lose deny +5000 "
     "refused=1 "
     "stop refused=0"},
    // A camera that sees nothing for 3 s is told, the notification once per run, and taken back when it sees
    // again (a face found in the dark counts); the machine's state is left alone. A stop clears it.
    {"ACameraThatSeesNothingIsToldAfterThreeSeconds",
     "start user dark*2800 sightless=0 sightposts=0 dark*400 sightless=1 sightposts=1 state=N dark*5000 "
     "sightposts=1 darkuser sightless=0 sightremovals=1 dark*3400 sightless=1 sightposts=1 onlooker "
     "sightless=0 state=L sightremovals=2 dark*3400 sightless=1 stop sightless=0 sightremovals=3 dark*4000 "
     "start dark*3200 sightless=1 sightposts=2"},
    // The 3 s are of frames seen: a pause, a clock that jumped or a camera lost starts them afresh, and the
    // loss takes the notice back.
    {"ASpellOfNothingStartsAfreshAfterAGap",
     "start user dark*2000 sleep +600000 wake dark sightless=0 dark*2000 clock1 dark sightless=0 dark*3000 "
     "sightless=1 lose state=C sightless=0 sightremovals=1"},
    // The camera lost while running: each retry reopens it, gone or silent, until frames come.
    {"CameraLossRetriesUntilFramesCome",
     "start user lose state=C showing=1 back fail fail +4999 starts=1 +1 starts=2 state=C +4999 starts=2 +1 "
     "starts=3 +5000 starts=4 +5000 starts=5 state=C attached=1 onlooker onlooker state=L posts=2 +20000 "
     "starts=5 sessions=1"},
    // A camera lost during the run is told once per loss, however many reopenings fail, and taken back when
    // frames come or the filter stops; a start that finds no camera tells nothing (the switch stays off and
    // the tray says why), nor does a loss under a pause until the pause ends.
    {"ALostCameraIsToldOncePerLoss",
     "fail start state=C cameraposts=0 stop start user lose state=C cameraposts=1 user state=N "
     "cameraremovals=1 lose cameraposts=2 +20000 state=C cameraposts=2 stop cameraremovals=2 start "
     "sleep lose cameraposts=2 wake state=C cameraposts=3 switchaway switchback state=C cameraposts=3 +5000 "
     "user state=N cameraremovals=3"},
    // The alert's notice says the filter was strengthened: a pause or a lost camera, which leave nothing on
    // screen, take it back.
    // An alert that goes on after a short pause or loss is the same alert: its notice comes back, neither
    // counted nor pulsed again; after a return to nominal, the next alert within 30 s passes silently.
    {"AnAlertGoingOnAfterAShortPauseIsShownAgain",
     "start onlooker state=L alertshown=1 alerts=1 sleep alertshown=0 wake +3000 onlooker state=L "
     "alertshown=1 "
     "alerts=1 pulses=1 user*3400 state=N alertshown=0 onlooker state=L alertshown=0 alerts=1 posts=2"},
    {"AnAlertGoingOnAfterALossIsShownAgain",
     "start onlooker state=L alertshown=1 lose state=C alertshown=0 +2000 back onlooker state=L alertshown=1 "
     "alerts=1 pulses=1 stop start onlooker state=L alertshown=0 posts=3"},
    {"APauseOrALostCameraTakesTheAlertNoticeBack",
     "start onlooker state=L alertshown=1 sleep state=Z alertshown=0 wake +30000 onlooker state=L "
     "alertshown=1 "
     "lose state=C alertshown=0 back +30000 onlooker state=L alertshown=1 switchaway alertshown=0"},
    // Protected time is the time the filter watched: not a pause, not a lost camera, not a suspend or a
    // clock set by hand (the monotonic clock stands still in a suspend and never jumps).
    {"OnlyTheTimeWatchedCounts",
     "start +10000 sleep +600000 wake +5000 stop seconds=15 start +10000 clock600 clock-900 +5000 stop "
     "seconds=30 start +10000 lose +60000 user +5000 stop seconds=45 start +10000 resetstats +7000 sleep "
     "+60000 stop seconds=7 start +10000 sleep +20000 resetstats +40000 wake +5000 stop seconds=5"},
    {"CameraLostDuringAPauseShowsWhenItEnds",
     "start sleep lose state=Z +20000 starts=1 wake state=C +5000 starts=2 user state=N"},
    // The display wakes and sleeps again in one turn: the pause holds, and no retry brings the filter
    // back under the sleeping display.
    {"CameraLostAndAWakeTooShortKeepThePause",
     "start sleep lose wake! sleep! . state=Z +5000 user state=Z showing=0 suspended=1"},
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
    // Two changes before any side-effect pass runs: each pass runs once, in order, with its own state (the
    // alert pass notifies and counts, the pause pass clears it and hides the overlay).
    {"SideEffectsRunOncePerChangeInOrder",
     "start twofaces! state=L isalert=0 sleep! state=Z . posts=1 alerts=1 isalert=0 alertmode=0 showing=0"},
    // The display sleep suspends the analyzer at once; the session switch only through the side effects.
    {"DisplaySleepDuringAlertPausesAndWakeResumes",
     "start onlooker sleep! suspended=1 . state=Z showing=0 isalert=0 alertmode=0 onlooker posts=1 wake! "
     "suspended=0 . state=N showing=1"},
    {"SessionSwitchPausesAndResumes",
     "start switchaway! state=Z suspended=0 . suspended=1 showing=0 switchback! state=N suspended=1 . "
     "suspended=0 showing=1"},
    // Pauses that overlap end together: the filter watches again only once the display is awake, the
    // session in front and the battery fine, whichever ends first. A suspend heard while switched away,
    // switching back onto the lock screen, the charger plugged in under a sleeping display.
    {"AWakeWhileSwitchedAwayKeepsThePause", "start switchaway sleep wake state=Z showing=0 suspended=1 "
                                            "onlooker posts=0 switchback state=N showing=1 "
                                            "suspended=0"},
    {"SwitchingBackOntoTheLockScreenKeepsThePause",
     "start sleep switchaway switchback state=Z showing=0 suspended=1 wake state=N showing=1"},
    {"TheChargerUnderASleepingDisplayKeepsThePause",
     "start sleep battery5 +30000 state=Z battery50 +30000 state=Z showing=0 suspended=1 wake state=N "
     "showing=1"},
    // The charger plugged in resumes the filter at once, and pulled out on a low battery pauses it at once:
    // the power source's announcements are read as they come, not at the next 30 s check.
    {"TheChargerActsAtOnce", "start battery5 +30000 state=B charger state=N showing=1 unplugged5 state=B "
                             "showing=0 unplugged50 state=N"},
    {"WakingOnALowBatteryStaysPausedForTheBattery", "start battery5 +30000 state=B sleep state=Z wake "
                                                    "state=B showing=0 suspended=1 battery50 +30000 state=N"},
    // Already true when the filter starts: paused at once, nothing watched, and the end resumes.
    {"ScreenSaverActiveAtStart",
     "asleepbefore start state=Z showing=0 suspended=1 onlooker posts=0 wake state=N showing=1 suspended=0"},
    {"BatteryLowAtStart",
     "battery5 start state=B showing=0 suspended=1 onlooker posts=0 battery50 +30000 state=N showing=1 "
     "suspended=0"},
    // The shortcut toggles through a main-thread task and stays installed to start the filter again.
    {"ShortcutToggles",
     "start press! active=1 . active=0 running=0 shortcut=1 press active=1 state=N sessions=2"},
    // Without a compositing manager the overlay would black out the screen: nothing starts and each
    // attempt says why; with one, the filter starts.
    {"NoCompositorStartsNothing",
     "nocompositor start active=0 state=X running=0 showing=0 sessions=0 posts=1 start posts=2 compositor "
     "start active=1 state=N showing=1 sessions=1 posts=2"},
    // A compositing manager that leaves during the run stops it and says why; one replaced by another
    // changes nothing, and once stopped the filter no longer listens.
    {"CompositorLeavingStopsTheRun",
     "start user state=N compositorswap active=1 showing=1 posts=0 compositorgone active=0 state=X running=0 "
     "showing=0 sessions=1 posts=1 compositor start active=1 sessions=2 stop compositorgone posts=1"},
    // Stopped, the kept shortcut follows its setting at once: switched off, the keys do nothing; on
    // again, they start the filter. Other settings changes do not install it again.
    {"ShortcutFollowsItsSettingWhileStopped",
     "start stop noshortcut shortcut=0 press active=0 strength5 installs=1 shortcuton shortcut=1 installs=2 "
     "strength3 installs=2 press active=1 sessions=2"},
    // Installed before any run (the first launch, the camera not allowed yet): the keys start the filter,
    // and the shortcut follows its setting as after a stop. Nothing is installed twice, nor after the end.
    {"AShortcutArmedBeforeAnyRunStartsTheFilter",
     "arm shortcut=1 running=0 active=0 press active=1 starts=1 sessions=1 arm installs=2 press active=0 "
     "noshortcut shortcut=0 arm shortcut=0 press active=0 shortcuton shortcut=1 press active=1"},
    // A start that finds the camera taken leaves the installed shortcut following its setting, and one
    // switched on meanwhile installs it.
    {"AFailedStartLeavesTheShortcutFollowingItsSetting",
     "arm fail request state=C noshortcut shortcut=0 press active=0 fail request shortcuton shortcut=1 press "
     "active=1"},
    {"NoShortcutArmedWhenOffOrAfterTheEnd",
     "noshortcut arm shortcut=0 installs=0 shortcuton shortcut=1 shutdown arm installs=1"},
    {"FpsAndShortcutChangesWaitForTheNextStart", "start fps2 noshortcut interval=100 shortcut=1 analyzers=1 "
                                                 "stop start interval=500 shortcut=0 installs=1"},
    // Face models still loading: the start waits for them, with no camera, stripes or state claiming a
    // watch the analysis cannot keep; a second start is the same run, and a stop meanwhile ends it.
    {"AStartWaitsForTheModels",
     "modelsloading request request active=0 state=X showing=0 running=0 starts=0 sessions=0 modelsloaded "
     "active=1 state=N showing=1 starts=1 sessions=1 analyzers=1"},
    {"AStopWhileTheModelsLoadEndsTheStart",
     "modelsloading request stop modelsloaded active=0 state=X starts=0 sessions=0 request active=1 state=N"},
    // Face models that failed to load before the start (no analyzer) or during the run (the detector says
    // so): the run stops, the user is told once, retries start no camera; working models start again.
    {"ModelsFailBeforeTheStart",
     "modelsfail start unavailable=1 active=0 state=X showing=0 running=0 attached=0 starts=0 blindposts=1 "
     "start press +60000 posts=1 starts=0 state=X unavailable=1 modelsok start unavailable=0 state=N"},
    {"ModelsFailAfterTheStart",
     "start user state=N modelsfail user unavailable=1 active=0 state=X showing=0 running=0 attached=0 "
     "starts=1 blindposts=1 start press +60000 posts=1 starts=1 modelsok start unavailable=0 state=N"},
    // "Couvrir tous les écrans" switched off keeps the overlay to the main screen, at a start and at once
    // while running; switched on again, every screen.
    {"CoverAllScreensFollowsItsSetting", "twoscreens mainscreen start windows=1 allscreens windows=2 "
                                         "mainscreen windows=1 stop windows=0 allscreens "
                                         "start windows=2"},
    // Settings reach the overlay at once; the matrix keeps the last distance, which only a face moves
    // (a tenth of the frame wide is 100 cm at coefficient 1).
    {"SettingsFollowAtOnceAndKeepTheLastDistance", "coefficient1 start user distance=100 nobody distance=100 "
                                                   "strength5! restyle! fsmstrength=5 distance=100 "
                                                   "matrixon=0 color=0xFF336699 stripepct=50"},
    // A late result moves nothing in the machine, though it may still retune the matrix.
    {"ResultsAfterStopAreIgnoredByTheMachine",
     "coefficient1 start stoplate . state=X isalert=0 posts=0 distance=100"},
    // Tasks and callbacks outliving the service do nothing: the pending pause pass does not hide the
    // overlay, and no alert is announced.
    {"NothingRunsAfterTheServiceIsGone", "start sleep! destroy shortcut=0 +60000 showing=1 posts=0"},
};

INSTANTIATE_TEST_SUITE_P(Table, PrivacyFilterServiceScenario, ::testing::ValuesIn(scenarios), scenarioName);

TEST(PrivacyFilterService, EqualSettingsAndUnmovedFacesDeliverNothingToTheOverlay) {
    Rig r;
    run(r, "coefficient1 start user");
    int deliveries = 0;
    auto sub = r.overlay.matrixColorArgb.subscribe([&deliveries](const std::uint64_t&) { ++deliveries; });
    r.settings.settings = r.live();
    run(r, "nobody user"); // the same distance, within the band
    EXPECT_EQ(deliveries, 1) << "only the current value, delivered to a new subscriber";
}

TEST(PrivacyFilterService, AnAnalyzerBusyDetectingDoesNotHoldUpStop) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.detector->setOpen(false);
    r.source->pushFrame(kFrame);
    r.detector->waitForCalls(1);
    std::weak_ptr<FaceAnalyzer> dropped = r.analyzer();
    auto stopping = std::async(std::launch::async, [&r] { r.svc().stop(); });
    // A deadlock guard, not a speed check: a stop() waiting for the detection would never return.
    const bool returned = stopping.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    r.detector->setOpen(true);
    stopping.wait();
    EXPECT_TRUE(returned) << "stop() waited for the detection in progress";
    r.settle();
    EXPECT_TRUE(dropped.expired()) << "the analyzer is destroyed once its detection ends";
}

} // namespace
} // namespace tavrine

#include "core/service/AbsenceLock.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <optional>

namespace tavrine {
namespace {

using namespace tavrine::testing;

class FakeLocker final : public SessionLocker {
  public:
    void lockSession(std::function<void(bool)> done) override {
        ++requests;
        done(accepts);
    }
    int requests = 0;
    bool accepts = true;
};

struct LockRig : Rig {
    FakeLocker locker;
    bool calibrating = false;
    std::optional<AbsenceLock> absenceLock;

    LockRig() {
        set(&FilterSettings::lockOnAbsence, true);
        set(&FilterSettings::lockDelayMs, 30'000);
        absenceLock.emplace(AbsenceLock::Dependencies{exec, settings, stats, notifier, locker, svc().fsmState,
                                                      svc().detections, [this] { return calibrating; }});
        start();
        see(userOnly);
    }

    void run(const std::string& script) {
        const std::string id = AbsenceLock::notificationId;
        testing::run(
            *this, script,
            {{"calibrating", [this](Rig&, auto) { calibrating = true; }},
             {"calibrated", [this](Rig&, auto) { calibrating = false; }},
             {"refuse", [this](Rig&, auto) { locker.accepts = false; }},
             {"lockoff", [](Rig& r, auto) { r.set(&FilterSettings::lockOnAbsence, false); }},
             {"delay", [](Rig& r, std::int64_t ms) { r.set(&FilterSettings::lockDelayMs, ms); }}},
            {{"warnings",
              [this, id](Rig&) -> std::int64_t { return std::ranges::count(notifier.log, "post " + id); }},
             // The last lock warning posted has been removed since: no stale countdown on the way back.
             {"withdrawn",
              [this, id](Rig&) -> std::int64_t {
                  const auto posted = std::find(notifier.log.rbegin(), notifier.log.rend(), "post " + id);
                  return std::find(notifier.log.rbegin(), posted, "remove " + id) != posted;
              }},
             {"requests", [this](Rig&) -> std::int64_t { return locker.requests; }},
             {"locks", [](Rig& r) { return r.stats.stats.get().lockCount; }}});
    }
};

class AbsenceLockScenario : public ::testing::TestWithParam<Scenario> {};

// Every warning says when and how to cancel.
TEST_P(AbsenceLockScenario, FollowsTheScript) {
    LockRig r;
    r.run(GetParam().script);
    for (const auto& post : r.notifier.posts) {
        if (post.identifier != AbsenceLock::notificationId) {
            continue; // the filter's own notices (a camera lost)
        }
        EXPECT_EQ(post.title + " | " + post.body, "Verrouillage de la session | Verrouillage dans 10\u00a0s "
                                                  "\u2014 revenez devant l\u2019\u00e9cran pour annuler");
    }
}

// The count starts at the first frame without a face; the warning comes after the delay, the lock ten
// seconds later.
const Scenario lockScenarios[] = {
    {"WarnsAfterThirtySecondsAndLocksTenLater",
     "nobody +29999 warnings=0 +1 warnings=1 +9999 requests=0 +1 requests=1 withdrawn=1 locks=1"},
    {"WarnsAfterTwoMinutes", "delay120000 nobody +119999 warnings=0 +1 warnings=1 +10000 requests=1"},
    // A damaged setting.
    {"ADamagedDelayNeverLocksSoonerThanThirtySeconds", "delay5 nobody +29999 warnings=0 +1 warnings=1"},
    {"OffNeverLocks", "lockoff nobody*180000 warnings=0 requests=0"},
    {"AFaceBackAfter9900MsCancelsAndAFreshAbsenceCountsAgain",
     "nobody +30000 warnings=1 +9700 user withdrawn=1 +60000 requests=0 locks=0 nobody +40000 requests=1"},
    {"AFaceBeforeTheWarningRestartsTheCount", "nobody +29000 user nobody +29999 warnings=0 +1 warnings=1"},
    {"LocksOncePerAbsenceThenAgainAfterAFace",
     "nobody*180000 requests=1 warnings=1 user nobody*41000 requests=2 locks=2"},
    {"ARefusedLockIsNotCounted", "refuse nobody*41000 requests=1 locks=0"},
    // Something happens 5 s into the countdown: the warning withdrawn at once (a calibration is seen when
    // the lock would come), and no lock.
    {"DisplayAsleepDuringTheCountdown", "nobody +35000 warnings=1 sleep! withdrawn=1 +10000 requests=0"},
    {"CameraTakenDuringTheCountdown", "nobody +35000 warnings=1 lose withdrawn=1 +10000 requests=0"},
    {"CalibratingDuringTheCountdown", "nobody +35000 warnings=1 calibrating +10000 requests=0 withdrawn=1"},
    {"FilterStoppedDuringTheCountdown", "nobody +35000 warnings=1 stop withdrawn=1 +10000 requests=0"},
    {"SettingOffDuringTheCountdown", "nobody +35000 warnings=1 lockoff withdrawn=1 +10000 requests=0"},
    // Nothing counts while the display sleeps or a calibration runs: the count starts again at the first
    // empty frame after.
    {"NothingCountsWhileTheDisplaySleeps",
     "nobody sleep nobody*120000 warnings=0 wake nobody +29999 warnings=0 +1 warnings=1"},
    {"ACalibrationUnderWayHoldsTheCountBack",
     "nobody +10000 calibrating +30000 warnings=0 requests=0 user nobody*60000 warnings=0 calibrated nobody "
     "+40000 requests=1"},
};

INSTANTIATE_TEST_SUITE_P(Table, AbsenceLockScenario, ::testing::ValuesIn(lockScenarios), scenarioName);

} // namespace
} // namespace tavrine

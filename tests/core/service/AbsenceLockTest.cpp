// Locking the session when the user leaves, over the running filter of core/fakes/ServiceRig.h, in
// virtual time.
#include "core/service/AbsenceLock.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>

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

FaceObservation faceOfWidth(double width) {
    FaceObservation o;
    o.boundingBox = {0.3, 0.3, width, width};
    return o;
}

const std::vector<FaceObservation> user{faceOfWidth(0.1)};
const std::vector<FaceObservation> nobody{};

struct LockRig : Rig {
    FakeLocker locker;
    bool calibrating = false;
    std::optional<AbsenceLock> absenceLock;

    explicit LockRig(bool enabled = true, std::int64_t delayMs = 30'000) {
        change([&](FilterSettings& s) {
            s.lockOnAbsence = enabled;
            s.lockDelayMs = delayMs;
        });
        absenceLock.emplace(AbsenceLock::Dependencies{exec, settings, stats, notifier, locker, svc().fsmState,
                                                      svc().detections, [this] { return calibrating; }});
        start();
        see(user);
    }
    ~LockRig() { absenceLock.reset(); }

    int warnings() const {
        return int(std::count_if(notifier.posts.begin(), notifier.posts.end(),
                                 [](const FakeNotifier::Post& p) { return p.identifier == "tavrine.lock"; }));
    }
    // The last lock warning posted has been removed since.
    bool warningWithdrawn() const {
        const auto posted = std::find(notifier.log.rbegin(), notifier.log.rend(), "post tavrine.lock");
        return std::find(notifier.log.rbegin(), posted, "remove tavrine.lock") != posted;
    }
    std::int64_t lockCount() { return stats.stats.get().lockCount; }
};

class AbsenceLockDelay : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(AbsenceLockDelay, WarnsAfterTheExactDelayAndLocksTenSecondsLater) {
    const std::int64_t delay = GetParam();
    LockRig r(true, delay);
    r.see(nobody); // the first frame without a face starts the count
    r.advance(delay - 1);
    EXPECT_EQ(r.warnings(), 0);
    r.advance(1);
    ASSERT_EQ(r.warnings(), 1);
    EXPECT_EQ(r.notifier.posts.back().title, "Verrouillage de la session");
    EXPECT_EQ(r.notifier.posts.back().body,
              "Verrouillage dans 10\u00a0s \u2014 revenez devant l\u2019\u00e9cran pour annuler");
    r.advance(AbsenceLock::warningMs - 1);
    EXPECT_EQ(r.locker.requests, 0);
    r.advance(1);
    EXPECT_EQ(r.locker.requests, 1);
    EXPECT_TRUE(r.warningWithdrawn()) << "no stale countdown on the way back";
    EXPECT_EQ(r.lockCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(OfferedDelays, AbsenceLockDelay, ::testing::Values(30'000, 60'000, 120'000));

TEST(AbsenceLock, AFaceBackAfter9900MsCancelsAndWithdrawsTheWarning) {
    LockRig r;
    r.see(nobody);
    r.advance(30'000);
    ASSERT_EQ(r.warnings(), 1);
    r.advance(9'700);
    r.see(user); // 200 ms later: 9.9 s into the countdown
    EXPECT_TRUE(r.warningWithdrawn());
    r.advance(60'000);
    EXPECT_EQ(r.locker.requests, 0);
    EXPECT_EQ(r.lockCount(), 0);
    // A new absence counts from its own first empty frame.
    r.see(nobody);
    r.advance(30'000 + AbsenceLock::warningMs);
    EXPECT_EQ(r.locker.requests, 1);
}

TEST(AbsenceLock, AFaceBeforeTheWarningRestartsTheCount) {
    LockRig r;
    r.see(nobody);
    r.advance(29'000);
    r.see(user);
    r.see(nobody);
    r.advance(29'999);
    EXPECT_EQ(r.warnings(), 0);
    r.advance(1);
    EXPECT_EQ(r.warnings(), 1);
}

TEST(AbsenceLock, LocksOncePerAbsenceThenAgainAfterAFace) {
    LockRig r;
    r.seeFor(nobody, 3 * 60'000);
    EXPECT_EQ(r.locker.requests, 1);
    EXPECT_EQ(r.warnings(), 1);
    r.see(user);
    r.seeFor(nobody, 41'000);
    EXPECT_EQ(r.locker.requests, 2);
    EXPECT_EQ(r.lockCount(), 2);
}

TEST(AbsenceLock, ARefusedLockIsNotCounted) {
    LockRig r;
    r.locker.accepts = false;
    r.seeFor(nobody, 41'000);
    EXPECT_EQ(r.locker.requests, 1);
    EXPECT_EQ(r.lockCount(), 0);
}

TEST(AbsenceLock, OffByDefaultAndADamagedDelayNeverLocksSoonerThanThirtySeconds) {
    {
        LockRig r(false);
        r.seeFor(nobody, 3 * 60'000);
        EXPECT_EQ(r.warnings(), 0);
        EXPECT_EQ(r.locker.requests, 0);
    }
    LockRig r(true, 5);
    r.see(nobody);
    r.advance(29'999);
    EXPECT_EQ(r.warnings(), 0);
    r.advance(1);
    EXPECT_EQ(r.warnings(), 1);
}

struct InterruptionCase {
    const char* name;
    std::function<void(LockRig&)> interrupt;
};

class AbsenceLockInterrupted : public ::testing::TestWithParam<InterruptionCase> {};

// Something happens 5 s into the countdown: no lock when it would have come, the warning withdrawn.
TEST_P(AbsenceLockInterrupted, NeverLocks) {
    LockRig r;
    r.see(nobody);
    r.advance(30'000 + 5'000);
    ASSERT_EQ(r.warnings(), 1);
    GetParam().interrupt(r);
    r.advance(AbsenceLock::warningMs);
    EXPECT_EQ(r.locker.requests, 0);
    EXPECT_TRUE(r.warningWithdrawn());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AbsenceLockInterrupted,
    ::testing::Values(
        InterruptionCase{"displayAsleep",
                         [](LockRig& r) { r.events.fire(SystemEventMonitor::Event::displayAsleep); }},
        InterruptionCase{"cameraTaken", [](LockRig& r) { r.source->interrupt(true); }},
        InterruptionCase{"calibrating", [](LockRig& r) { r.calibrating = true; }},
        InterruptionCase{"filterStopped", [](LockRig& r) { r.svc().stop(); }},
        InterruptionCase{"settingOff",
                         [](LockRig& r) { r.change([](FilterSettings& s) { s.lockOnAbsence = false; }); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AbsenceLock, NothingCountsWhileTheDisplaySleeps) {
    LockRig r;
    r.see(nobody);
    r.events.fire(SystemEventMonitor::Event::displayAsleep);
    r.seeFor(nobody, 2 * 60'000);
    EXPECT_EQ(r.warnings(), 0);
    r.events.fire(SystemEventMonitor::Event::displayAwake);
    r.see(nobody);
    r.advance(29'999);
    EXPECT_EQ(r.warnings(), 0) << "counted again from the first empty frame after the wake";
    r.advance(1);
    EXPECT_EQ(r.warnings(), 1);
}

TEST(AbsenceLock, ACalibrationUnderWayHoldsTheCountBack) {
    LockRig r;
    r.see(nobody);
    r.advance(10'000);
    r.calibrating = true; // begun while no frame comes in
    r.advance(20'000 + AbsenceLock::warningMs);
    EXPECT_EQ(r.warnings(), 0);
    EXPECT_EQ(r.locker.requests, 0);
    r.see(user);
    r.seeFor(nobody, 60'000);
    EXPECT_EQ(r.warnings(), 0);
    r.calibrating = false;
    r.see(nobody);
    r.advance(30'000 + AbsenceLock::warningMs);
    EXPECT_EQ(r.locker.requests, 1) << "counted from the first empty frame after the calibration";
}

} // namespace
} // namespace tavrine

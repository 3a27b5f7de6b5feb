#include "core/service/BatteryWatch.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace tavrine {
namespace {

using namespace tavrine::testing;

// The watch on the rig's clock and power source (its filter stays stopped).
struct WatchRig : Rig {
    int threshold = 20;
    // What each check reported: true for low.
    std::vector<bool> reports;
    std::unique_ptr<BatteryWatch> watch = std::make_unique<BatteryWatch>(BatteryWatch::Dependencies{
        exec, power, [this] { return threshold; }, [this](bool low) { reports.push_back(low); }});
};

TEST(BatteryWatch, TheCheckAtStartReportsLowOnlyWhenDischargingBelowTheThreshold) {
    const struct {
        const char* name;
        std::optional<BatteryReading> reading;
        int threshold;
        std::vector<bool> reports;
    } cases[] = {
        {"below the threshold", BatteryReading{true, 19, false}, 20, {true}},
        {"at the threshold", BatteryReading{true, 20, false}, 20, {false}},
        {"charging is never low", BatteryReading{true, 5, true}, 20, {false}},
        {"threshold 0 disables the pause", BatteryReading{true, 0, false}, 0, {false}},
        {"no battery reports nothing", BatteryReading{false, 5, false}, 20, {}},
        {"no information reports nothing", std::nullopt, 20, {}},
    };
    for (const auto& c : cases) {
        WatchRig r;
        r.power.reading = c.reading;
        r.threshold = c.threshold;
        r.watch->start();
        EXPECT_EQ(r.reports, c.reports) << c.name;
    }
}

// A source without a reading yet is checked at its first one, without waiting 30 s, and every update it
// announces after that is checked at once (the charger plugged in, the level crossing the threshold); from
// the start on, a check every 30 s with the live threshold, until stopped.
TEST(BatteryWatch, ChecksAtEveryUpdateAndEveryThirtySecondsUntilStopped) {
    WatchRig r;
    r.watch->start();
    r.power.updates.notify(); // an update that still says nothing
    r.power.reading = BatteryReading{true, 50, false};
    r.power.updates.notify();
    r.power.reading = BatteryReading{true, 15, false};
    r.power.updates.notify(); // below the threshold: told at once
    r.power.reading = BatteryReading{true, 15, true};
    r.power.updates.notify(); // the charger plugged in: told at once
    r.exec.advanceBy(29'999);
    EXPECT_EQ(r.power.reads, 5) << "no periodic check before 30 s";
    EXPECT_EQ(r.reports, (std::vector<bool>{false, true, false}));
    r.power.reading = BatteryReading{true, 50, false};
    r.exec.advanceBy(1); // the first periodic check, at the old threshold
    r.threshold = 60;
    r.exec.advanceBy(30'000 * 3);
    EXPECT_EQ(r.power.reads, 9);
    EXPECT_EQ(r.reports, (std::vector<bool>{false, true, false, false, true, true, true}));

    r.watch->start();
    r.exec.advanceBy(30'000);
    EXPECT_EQ(r.power.reads, 11) << "a second start replaces the periodic check";
    r.power.updates.notify();
    EXPECT_EQ(r.power.reads, 12) << "and the update watch: one read per update";
    r.watch->stop();
    r.exec.advanceBy(120'000);
    r.power.updates.notify();
    EXPECT_EQ(r.power.reads, 12) << "stopped, updates are not read";
    r.watch->start(); // one check at the start, after none while stopped
    r.watch.reset();
    r.exec.advanceBy(120'000);
    r.power.updates.notify();
    EXPECT_EQ(r.power.reads, 13) << "a watch gone leaves no check behind";
}

} // namespace
} // namespace tavrine

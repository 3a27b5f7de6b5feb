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

// A source without a reading yet is checked at its first one, without waiting 30 s, and only that one is
// awaited; from the start on, a check every 30 s with the live threshold, until stopped.
TEST(BatteryWatch, ChecksAtTheFirstReadingThenEveryThirtySecondsUntilStopped) {
    WatchRig r;
    r.watch->start();
    r.power.updates.notify(); // an update that still says nothing
    r.power.reading = BatteryReading{true, 50, false};
    r.power.updates.notify();
    r.power.updates.notify(); // not read: the first reading has come
    r.exec.advanceBy(29'999);
    EXPECT_EQ(r.power.reads, 3) << "no periodic check before 30 s";
    r.exec.advanceBy(1); // the first periodic check, at the old threshold
    r.threshold = 60;
    r.exec.advanceBy(30'000 * 3);
    EXPECT_EQ(r.power.reads, 7);
    EXPECT_EQ(r.reports, (std::vector<bool>{false, false, true, true, true}));

    r.watch->start();
    r.exec.advanceBy(30'000);
    EXPECT_EQ(r.power.reads, 9) << "a second start replaces the periodic check";
    r.watch->stop();
    r.exec.advanceBy(120'000);
    r.watch->start(); // one check at the start, after none while stopped
    r.watch.reset();
    r.exec.advanceBy(120'000);
    EXPECT_EQ(r.power.reads, 10) << "a watch gone leaves no check behind";
}

} // namespace
} // namespace tavrine

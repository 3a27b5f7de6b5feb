#pragma once

#include "core/service/PowerSource.h"
#include "core/util/Executor.h"
#include "core/util/Subscription.h"

#include <cstdint>
#include <functional>

namespace tavrine {

// Watches the battery while the filter runs: reads it at start, at every update the power source announces
// (its first reading, the charger plugged in or out, a new level), and every 30 s, and reports whether
// each reading is low. Readings without information or without a battery report nothing. Main thread only.
class BatteryWatch {
  public:
    static constexpr std::int64_t checkIntervalMs = 30'000;

    struct Dependencies {
        Executor& executor;
        PowerSource& power;
        // The pause threshold in percent, read at each check; below 1 the battery is never low.
        std::function<int()> thresholdPercent;
        std::function<void(bool low)> onReading;
    };

    explicit BatteryWatch(Dependencies deps);
    ~BatteryWatch();
    BatteryWatch(const BatteryWatch&) = delete;
    BatteryWatch& operator=(const BatteryWatch&) = delete;

    // Checks now and starts the periodic checks; a second start replaces the first.
    void start();
    void stop();

    // A battery that is present, not charging and below a threshold of at least 1 %.
    static bool isLow(const BatteryReading& reading, int thresholdPercent);

  private:
    void scheduleTick(TaskHandle timer);
    void check();

    Dependencies deps_;
    TaskHandle timer_;
    // The power source's announcements, for as long as the watch runs.
    Subscription updates_;
};

} // namespace tavrine

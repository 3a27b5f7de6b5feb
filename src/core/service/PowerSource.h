#pragma once

#include "core/util/Subscription.h"

#include <functional>
#include <optional>

namespace tavrine {

// What the power source says of the battery.
struct BatteryReading {
    // False on a machine without a battery: the rest says nothing then.
    bool present = false;
    // Whole percent; 100 when the source does not say.
    int percent = 100;
    bool charging = false;

    bool operator==(const BatteryReading&) const = default;
};

// Battery information for the low-battery pause.
class PowerSource {
  public:
    virtual ~PowerSource() = default;
    // Nothing while no information is available.
    virtual std::optional<BatteryReading> battery() = 0;
    // Calls onUpdate on the main thread whenever fresh information arrives, until the handle is cancelled
    // (a source read asynchronously may have none yet when asked first). None by default.
    virtual Subscription observeUpdates(std::function<void()> onUpdate) {
        (void)onUpdate;
        return {};
    }
};

} // namespace tavrine

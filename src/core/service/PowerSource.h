#pragma once

#include "core/util/Subscription.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tavrine {

using PowerValue = std::variant<std::int64_t, bool, double, std::string>;
// One power source, keyed like "Current Capacity" (integer percent) and "Is Charging" (boolean).
using PowerSourceDescription = std::map<std::string, PowerValue>;

// Battery information for the low-battery pause.
class PowerSource {
  public:
    virtual ~PowerSource() = default;
    // Nothing when no information is available; an empty list on a machine without a battery.
    virtual std::optional<std::vector<PowerSourceDescription>> powerSources() = 0;
    // Calls onUpdate on the main thread whenever fresh information arrives, until the handle is cancelled
    // (a source read asynchronously may have none yet when asked first). None by default.
    virtual Subscription observeUpdates(std::function<void()> onUpdate) {
        (void)onUpdate;
        return {};
    }
};

} // namespace tavrine

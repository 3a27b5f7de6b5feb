#pragma once

#include <cstdint>
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
};

} // namespace tavrine

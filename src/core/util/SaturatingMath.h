#pragma once

#include <cstdint>
#include <limits>

namespace tavrine {

// Timestamps come from a wall clock that may hold any value; these keep the arithmetic on them
// defined (no signed overflow) by clamping to the int64 range.
constexpr std::int64_t saturatingSub(std::int64_t a, std::int64_t b) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    if (b < 0 && a > max + b) {
        return max;
    }
    if (b > 0 && a < min + b) {
        return min;
    }
    return a - b;
}

constexpr std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    if (b > 0 && a > max - b) {
        return max;
    }
    if (b < 0 && a < min - b) {
        return min;
    }
    return a + b;
}

} // namespace tavrine

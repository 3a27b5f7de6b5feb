#pragma once

#include <cstdint>

namespace tavrine {

// Lifetime statistics of the filter. No equality on purpose.
struct FilterStats {
    std::int64_t alertCount = 0;
    std::int64_t sessionCount = 0;
    std::int64_t totalActiveSeconds = 0;
    // Sessions locked because the user had left (added later: older files lack the key).
    std::int64_t lockCount = 0;
};

} // namespace tavrine

#pragma once

#include <cstdint>

namespace tavrine {

// Wall-clock time in milliseconds since 1970-01-01 00:00 UTC. Not monotonic: it may step backwards.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::int64_t nowMs() const = 0;
};

// The system clock (std::chrono::system_clock).
class SystemClock final : public Clock {
  public:
    std::int64_t nowMs() const override;
};

} // namespace tavrine

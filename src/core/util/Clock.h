#pragma once

#include <cstdint>

namespace tavrine {

// Wall-clock time in milliseconds since 1970-01-01 00:00 UTC. Not monotonic: it may step backwards.
// elapsedMs() measures durations: it never steps, and it stands still while the machine is suspended.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::int64_t nowMs() const = 0;
    // Milliseconds from an unspecified origin, for differences only.
    virtual std::int64_t elapsedMs() const = 0;
};

// The system clock (std::chrono::system_clock), and the monotonic one (std::chrono::steady_clock,
// CLOCK_MONOTONIC, which does not count a suspend) for durations.
class SystemClock final : public Clock {
  public:
    std::int64_t nowMs() const override;
    std::int64_t elapsedMs() const override;
};

} // namespace tavrine

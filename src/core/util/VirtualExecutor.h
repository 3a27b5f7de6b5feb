#pragma once

#include "core/util/Clock.h"
#include "core/util/DueTaskQueue.h"
#include "core/util/Executor.h"

#include <cstdint>
#include <mutex>
#include <utility>

namespace tavrine {

// Deterministic executor with virtual time, for tests. Nothing runs until the test asks: runPending()
// runs what is due now, advanceBy(ms) moves the clock forward and runs every task that falls due, in
// due-time order (ties in posting order), each with the clock set to its due time. It is also the
// Clock of the test, so timestamps and timers agree. post() is thread-safe; running is not.
//
// Timers follow elapsed time, like the event loop's monotonic timers: setNowMs() moves the wall clock
// (also backwards) without bringing any timer nearer or pushing it further away.
class VirtualExecutor final : public Executor, public Clock {
  public:
    explicit VirtualExecutor(std::int64_t startMs = 1'700'000'000'000) : wallOffsetMs_(startMs) {}

    TaskHandle post(Task task) override { return postAfter(0, std::move(task)); }
    TaskHandle postAfter(std::int64_t delayMs, Task task) override;

    std::int64_t nowMs() const override;
    // The time the timers follow: what advanceBy() moves, not setNowMs().
    std::int64_t elapsedMs() const override;
    void setNowMs(std::int64_t ms); // jumps the clock (also backwards) without running anything

    // Runs every task due at the current time, including tasks that those tasks post for now.
    // Returns the number of tasks run.
    int runPending();
    // Advances the clock by ms, running due tasks in order on the way. Returns the number run.
    int advanceBy(std::int64_t ms);
    // Runs until no task is left, advancing the clock as needed (bounded by maxTasks).
    int runAll(int maxTasks = 100000);

    // Tasks not yet run and not cancelled.
    std::size_t pendingCount() const;

  private:
    // Takes the first task due at or before limitMs; false when there is none. ran tells whether it
    // ran or had been cancelled.
    bool runOneDueAt(std::int64_t limitMs, bool& ran);

    mutable std::mutex mutex_;
    std::int64_t elapsedMs_ = 0;    // monotonic: what the timers count
    std::int64_t wallOffsetMs_ = 0; // wall clock = elapsed + offset
    DueTaskQueue queue_;
};

} // namespace tavrine

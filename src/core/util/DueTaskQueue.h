#pragma once

#include "core/util/Executor.h"

#include <cstdint>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace tavrine {

// The pending tasks of an executor, ordered by due time and then by posting order, so that two tasks due
// at the same time run in the order they were posted. The executor decides what time is and when to run;
// this only keeps the order. Thread-safe.
class DueTaskQueue {
  public:
    using Task = Executor::Task;
    struct Entry {
        std::int64_t dueMs = 0;
        Task task;
        TaskHandle handle;
    };

    TaskHandle push(std::int64_t dueMs, Task task);

    // Removes and returns the first task due at or before limitMs among those pushed before `mark` (see
    // nextMark()); a cancelled task is returned too, for the caller to skip. Nothing when none is due.
    std::optional<Entry> takeDue(std::int64_t limitMs,
                                 std::uint64_t mark = std::numeric_limits<std::uint64_t>::max());
    // What the next push will not be before: a turn that takes only tasks pushed before it cannot be
    // prolonged by the tasks it posts.
    std::uint64_t nextMark() const;
    // The due time of the first task that is not cancelled (cancelled ones ahead of it are dropped).
    std::optional<std::int64_t> firstDue();
    // Tasks not yet run and not cancelled.
    std::size_t pendingCount() const;

  private:
    mutable std::mutex mutex_;
    std::uint64_t seq_ = 0;
    std::map<std::pair<std::int64_t, std::uint64_t>, Entry> queue_;
};

} // namespace tavrine

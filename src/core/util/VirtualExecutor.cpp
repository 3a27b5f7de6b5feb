#include "core/util/VirtualExecutor.h"

#include "core/util/SaturatingMath.h"

#include <limits>

namespace tavrine {

TaskHandle VirtualExecutor::postAfter(std::int64_t delayMs, Task task) {
    std::int64_t due;
    {
        std::lock_guard lock(mutex_);
        due = saturatingAdd(elapsedMs_, delayMs > 0 ? delayMs : 0);
    }
    return queue_.push(due, std::move(task));
}

std::int64_t VirtualExecutor::nowMs() const {
    std::lock_guard lock(mutex_);
    return saturatingAdd(elapsedMs_, wallOffsetMs_);
}

std::int64_t VirtualExecutor::elapsedMs() const {
    std::lock_guard lock(mutex_);
    return elapsedMs_;
}

void VirtualExecutor::setNowMs(std::int64_t ms) {
    std::lock_guard lock(mutex_);
    wallOffsetMs_ = saturatingSub(ms, elapsedMs_);
}

bool VirtualExecutor::runOneDueAt(std::int64_t limitMs, bool& ran) {
    ran = false;
    auto entry = queue_.takeDue(limitMs);
    if (!entry) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (entry->dueMs > elapsedMs_) {
            elapsedMs_ = entry->dueMs;
        }
    }
    if (!entry->handle.isCancelled()) {
        ran = true;
        entry->task();
    }
    return true;
}

int VirtualExecutor::runPending() {
    std::int64_t limit;
    {
        std::lock_guard lock(mutex_);
        limit = elapsedMs_;
    }
    int n = 0;
    for (bool ran = false; runOneDueAt(limit, ran);) {
        n += ran ? 1 : 0;
    }
    return n;
}

int VirtualExecutor::advanceBy(std::int64_t ms) {
    std::int64_t target;
    {
        std::lock_guard lock(mutex_);
        target = saturatingAdd(elapsedMs_, ms > 0 ? ms : 0);
    }
    int n = 0;
    for (bool ran = false; runOneDueAt(target, ran);) {
        n += ran ? 1 : 0;
    }
    std::lock_guard lock(mutex_);
    if (target > elapsedMs_) {
        elapsedMs_ = target;
    }
    return n;
}

int VirtualExecutor::runAll(int maxTasks) {
    int n = 0;
    for (bool ran = false; n < maxTasks && runOneDueAt(std::numeric_limits<std::int64_t>::max(), ran);) {
        n += ran ? 1 : 0;
    }
    return n;
}

std::size_t VirtualExecutor::pendingCount() const {
    return queue_.pendingCount();
}

} // namespace tavrine

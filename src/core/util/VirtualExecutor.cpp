#include "core/util/VirtualExecutor.h"

#include "core/util/SaturatingMath.h"

#include <limits>

namespace tavrine {

TaskHandle VirtualExecutor::postAfter(std::int64_t delayMs, Task task) {
    TaskHandle handle;
    std::lock_guard lock(mutex_);
    const std::int64_t due = saturatingAdd(elapsedMs_, delayMs > 0 ? delayMs : 0);
    queue_.emplace(std::make_pair(due, seq_++), Item{std::move(task), handle});
    return handle;
}

std::int64_t VirtualExecutor::nowMs() const {
    std::lock_guard lock(mutex_);
    return saturatingAdd(elapsedMs_, wallOffsetMs_);
}

void VirtualExecutor::setNowMs(std::int64_t ms) {
    std::lock_guard lock(mutex_);
    wallOffsetMs_ = saturatingSub(ms, elapsedMs_);
}

bool VirtualExecutor::runOneDueAt(std::int64_t limitMs, bool& ran) {
    ran = false;
    Item item;
    {
        std::lock_guard lock(mutex_);
        auto it = queue_.begin();
        if (it == queue_.end() || it->first.first > limitMs) {
            return false;
        }
        if (it->first.first > elapsedMs_) {
            elapsedMs_ = it->first.first;
        }
        item = std::move(it->second);
        queue_.erase(it);
    }
    if (!item.handle.isCancelled()) {
        ran = true;
        item.task();
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
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& [key, item] : queue_) {
        n += item.handle.isCancelled() ? 0 : 1;
    }
    return n;
}

} // namespace tavrine

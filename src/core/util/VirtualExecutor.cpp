#include "core/util/VirtualExecutor.h"

namespace tavrine {

TaskHandle VirtualExecutor::postAfter(std::int64_t delayMs, Task task) {
    TaskHandle handle;
    std::lock_guard lock(mutex_);
    const std::int64_t due = now_ + (delayMs > 0 ? delayMs : 0);
    queue_.emplace(std::make_pair(due, seq_++), Item{std::move(task), handle});
    return handle;
}

std::int64_t VirtualExecutor::nowMs() const {
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualExecutor::setNowMs(std::int64_t ms) {
    std::lock_guard lock(mutex_);
    now_ = ms;
}

bool VirtualExecutor::runOneDueAt(std::int64_t limitMs) {
    Item item;
    {
        std::lock_guard lock(mutex_);
        auto it = queue_.begin();
        if (it == queue_.end() || it->first.first > limitMs) {
            return false;
        }
        if (it->first.first > now_) {
            now_ = it->first.first;
        }
        item = std::move(it->second);
        queue_.erase(it);
    }
    if (!item.handle.isCancelled()) {
        item.task();
    }
    return true;
}

int VirtualExecutor::runPending() {
    int n = 0;
    while (runOneDueAt(nowMs())) {
        ++n;
    }
    return n;
}

int VirtualExecutor::advanceBy(std::int64_t ms) {
    const std::int64_t target = nowMs() + ms;
    int n = 0;
    while (runOneDueAt(target)) {
        ++n;
    }
    setNowMs(target);
    return n;
}

int VirtualExecutor::runAll(int maxTasks) {
    int n = 0;
    while (n < maxTasks && runOneDueAt(INT64_MAX)) {
        ++n;
    }
    return n;
}

std::size_t VirtualExecutor::pendingCount() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

} // namespace tavrine

#include "core/util/DueTaskQueue.h"

#include <algorithm>

namespace tavrine {

TaskHandle DueTaskQueue::push(std::int64_t dueMs, Task task) {
    TaskHandle handle;
    std::lock_guard lock(mutex_);
    queue_.emplace(std::make_pair(dueMs, seq_++), Entry{dueMs, std::move(task), handle});
    return handle;
}

std::optional<DueTaskQueue::Entry> DueTaskQueue::takeDue(std::int64_t limitMs, std::uint64_t mark) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(queue_.begin(), queue_.end(),
                           [mark](const auto& entry) { return entry.first.second < mark; });
    if (it == queue_.end() || it->first.first > limitMs) {
        return std::nullopt;
    }
    Entry entry = std::move(it->second);
    queue_.erase(it);
    return entry;
}

std::uint64_t DueTaskQueue::nextMark() const {
    std::lock_guard lock(mutex_);
    return seq_;
}

std::optional<std::int64_t> DueTaskQueue::firstDue() {
    std::lock_guard lock(mutex_);
    while (!queue_.empty() && queue_.begin()->second.handle.isCancelled()) {
        queue_.erase(queue_.begin());
    }
    if (queue_.empty()) {
        return std::nullopt;
    }
    return queue_.begin()->first.first;
}

std::size_t DueTaskQueue::pendingCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(
        queue_.begin(), queue_.end(), [](const auto& entry) { return !entry.second.handle.isCancelled(); }));
}

} // namespace tavrine

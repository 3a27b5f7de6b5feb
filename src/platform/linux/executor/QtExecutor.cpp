#include "platform/linux/executor/QtExecutor.h"

#include "core/util/SaturatingMath.h"

#include <QMetaObject>

#include <algorithm>
#include <limits>
#include <vector>

namespace tavrine {

QtExecutor::QtExecutor(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    // Coarse timers may fire up to 5 % late and out of step with each other; ours keep their order.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &QtExecutor::runDue);
}

QtExecutor::~QtExecutor() = default;

std::int64_t QtExecutor::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin_).count();
}

std::int64_t QtExecutor::nowMsRoundedUp() const {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin_).count();
    return (us + 999) / 1000;
}

TaskHandle QtExecutor::post(Task task) {
    return postAfter(0, std::move(task));
}

TaskHandle QtExecutor::postAfter(std::int64_t delayMs, Task task) {
    TaskHandle handle;
    {
        std::lock_guard lock(mutex_);
        // Rounded up to the next whole millisecond: a task never runs before its full delay has passed.
        const std::int64_t due = saturatingAdd(nowMsRoundedUp(), delayMs > 0 ? delayMs : 0);
        queue_.emplace(std::make_pair(due, seq_++), Item{std::move(task), handle});
    }
    // One queued wake-up at a time is enough: it re-arms for whatever is then first in the queue.
    if (!wakeRequested_.exchange(true)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                wakeRequested_ = false;
                rearm();
            },
            Qt::QueuedConnection);
    }
    return handle;
}

void QtExecutor::runDue() {
    const std::int64_t now = nowMs();
    std::uint64_t lastSeq;
    {
        std::lock_guard lock(mutex_);
        lastSeq = seq_;
    }
    for (;;) {
        Item item;
        {
            std::lock_guard lock(mutex_);
            auto it = std::find_if(queue_.begin(), queue_.end(),
                                   [lastSeq](const auto& entry) { return entry.first.second < lastSeq; });
            if (it == queue_.end() || it->first.first > now) {
                break;
            }
            item = std::move(it->second);
            queue_.erase(it);
        }
        if (!item.handle.isCancelled()) {
            item.task();
        }
    }
    rearm();
}

void QtExecutor::rearm() {
    std::int64_t firstDue;
    {
        std::lock_guard lock(mutex_);
        // Cancelled tasks at the front need no wake-up of their own.
        while (!queue_.empty() && queue_.begin()->second.handle.isCancelled()) {
            queue_.erase(queue_.begin());
        }
        if (queue_.empty()) {
            timer_.stop();
            return;
        }
        firstDue = queue_.begin()->first.first;
    }
    const std::int64_t wait = saturatingSub(firstDue, nowMs());
    const int ms = wait <= 0 ? 0
                             : (wait > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                                       : static_cast<int>(wait));
    timer_.start(ms);
}

std::size_t QtExecutor::pendingCount() const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& [key, item] : queue_) {
        n += item.handle.isCancelled() ? 0 : 1;
    }
    return n;
}

} // namespace tavrine

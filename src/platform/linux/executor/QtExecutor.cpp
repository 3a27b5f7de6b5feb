#include "platform/linux/executor/QtExecutor.h"

#include "core/util/SaturatingMath.h"

#include <QMetaObject>

#include <limits>

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
    // Rounded up to the next whole millisecond: a task never runs before its full delay has passed.
    TaskHandle handle =
        queue_.push(saturatingAdd(nowMsRoundedUp(), delayMs > 0 ? delayMs : 0), std::move(task));
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
    runTasksDueBy(nowMs());
    rearm();
}

void QtExecutor::runPosted() {
    // A task posted now was given the next whole millisecond.
    runTasksDueBy(nowMsRoundedUp());
}

void QtExecutor::runTasksDueBy(std::int64_t limitMs) {
    // Only the tasks posted before this turn began: one that re-posts itself waits for the next turn.
    const std::uint64_t mark = queue_.nextMark();
    while (auto entry = queue_.takeDue(limitMs, mark)) {
        if (!entry->handle.isCancelled()) {
            entry->task();
        }
    }
}

void QtExecutor::rearm() {
    // Cancelled tasks at the front need no wake-up of their own.
    const std::optional<std::int64_t> firstDue = queue_.firstDue();
    if (!firstDue) {
        timer_.stop();
        return;
    }
    const std::int64_t wait = saturatingSub(*firstDue, nowMs());
    const int ms = wait <= 0 ? 0
                             : (wait > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                                       : static_cast<int>(wait));
    timer_.start(ms);
}

std::size_t QtExecutor::pendingCount() const {
    return queue_.pendingCount();
}

} // namespace tavrine

#pragma once

#include "core/util/DueTaskQueue.h"
#include "core/util/Executor.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <utility>

namespace tavrine {

// The Executor of the running application: tasks run on the thread that owns this object (create it
// on the main thread, after the QCoreApplication), from its event loop.
//
// All tasks, immediate or delayed, from any thread, share one queue ordered by due time and then by
// posting order, so two tasks posted from one thread run in that order, and a delayed task never
// overtakes an earlier-posted one due at the same time. Delays count on the monotonic clock: a change
// of the wall clock neither advances nor holds back a timer. One event-loop turn runs only the tasks
// that were due when it began, so a task that re-posts itself cannot starve the event loop.
//
// Destroy it on its own thread once no other thread posts any more; tasks still queued are dropped.
class QtExecutor final : public QObject, public Executor {
    Q_OBJECT
  public:
    explicit QtExecutor(QObject* parent = nullptr);
    ~QtExecutor() override;

    TaskHandle post(Task task) override;
    TaskHandle postAfter(std::int64_t delayMs, Task task) override;

    // Tasks not yet run and not cancelled.
    std::size_t pendingCount() const;

    // Runs at once the tasks posted so far to run now (not those delayed to later): for the end of the
    // process, after the event loop has returned for good, when what a stop posted (the statistics of the
    // run) must still happen.
    void runPosted();

  private:
    using Clock = std::chrono::steady_clock;

    void runDue();
    void runTasksDueBy(std::int64_t limitMs);
    void rearm();
    std::int64_t nowMs() const;
    std::int64_t nowMsRoundedUp() const;

    DueTaskQueue queue_;
    std::atomic<bool> wakeRequested_{false};
    Clock::time_point origin_ = Clock::now();
    QTimer timer_;
};

} // namespace tavrine

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace tavrine {

// Handle of a posted task. cancel() prevents a task that has not started from running and lets a
// running loop notice the request at its next check. Copies share the same flag.
class TaskHandle {
  public:
    TaskHandle() : flag_(std::make_shared<std::atomic<bool>>(false)) {}
    void cancel() const { flag_->store(true); }
    bool isCancelled() const { return flag_->load(); }

  private:
    std::shared_ptr<std::atomic<bool>> flag_;
};

// Runs tasks on the main thread, in posting order; delayed tasks run in order of their due time, then of
// posting. post() and postAfter() may be called from any thread.
class Executor {
  public:
    using Task = std::function<void()>;
    virtual ~Executor() = default;

    virtual TaskHandle post(Task task) = 0;
    virtual TaskHandle postAfter(std::int64_t delayMs, Task task) = 0;
};

} // namespace tavrine

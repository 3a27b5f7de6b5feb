#include "core/util/SerialQueue.h"

namespace tavrine {

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), shared_(std::make_shared<Shared>()), thread_([s = shared_] { run(s); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->tasks.clear();
    }
    shared_->cv.notify_all();
    shared_->idleCv.notify_all();
    if (thread_.joinable()) {
        if (isCurrentThread()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

void SerialQueue::submit(std::function<void()> task) {
    // Notify under the lock: once it is released the task may already run and destroy this queue, so
    // nothing of `this` may be touched afterwards.
    std::lock_guard lock(shared_->mutex);
    if (shared_->stopping) {
        return;
    }
    shared_->tasks.push_back(std::move(task));
    shared_->cv.notify_one();
}

void SerialQueue::drain() {
    if (isCurrentThread()) {
        return;
    }
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    s.idleCv.wait(lock, [&s] { return (s.tasks.empty() && !s.busy) || s.stopping; });
}

void SerialQueue::run(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(s.mutex);
            s.cv.wait(lock, [&s] { return s.stopping || !s.tasks.empty(); });
            if (s.stopping) {
                s.busy = false;
                s.idleCv.notify_all();
                return;
            }
            task = std::move(s.tasks.front());
            s.tasks.pop_front();
            s.busy = true;
        }
        task();
        // Destroy the task's captures before reporting idle, so drain() means "all effects done".
        task = nullptr;
        {
            std::lock_guard lock(s.mutex);
            s.busy = false;
        }
        s.idleCv.notify_all();
    }
}

} // namespace tavrine

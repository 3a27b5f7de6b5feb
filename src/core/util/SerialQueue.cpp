#include "core/util/SerialQueue.h"

namespace tavrine {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), thread_([this] { run(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    cv_.notify_all();
    if (thread_.joinable()) {
        if (isCurrentThread()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

void SerialQueue::submit(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        tasks_.push_back(std::move(task));
    }
    cv_.notify_one();
}

void SerialQueue::drain() {
    std::unique_lock lock(mutex_);
    idleCv_.wait(lock, [this] { return (tasks_.empty() && !busy_) || stopping_; });
}

void SerialQueue::run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_) {
                busy_ = false;
                idleCv_.notify_all();
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
            busy_ = true;
        }
        task();
        {
            std::lock_guard lock(mutex_);
            busy_ = false;
        }
        idleCv_.notify_all();
    }
}

} // namespace tavrine

#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tavrine {

// One worker thread running submitted tasks one at a time, in submission order. The destructor lets
// the running task finish, drops the tasks not yet started, and joins the thread.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void submit(std::function<void()> task);
    // Blocks until every task submitted before this call has run (tests, shutdown).
    void drain();
    const std::string& label() const { return label_; }
    bool isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::condition_variable idleCv_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    bool busy_ = false;
    std::thread thread_;
};

} // namespace tavrine

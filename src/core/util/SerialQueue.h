#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tavrine {

// One worker thread running submitted tasks one at a time, in submission order. The destructor lets
// the running task finish, drops the tasks not yet started, and joins the thread. A task may destroy
// its own queue: the thread is then detached and finishes on its own.
class SerialQueue {
  public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void submit(std::function<void()> task);
    // Blocks until every task submitted before this call has run (tests, shutdown). Returns at once
    // when called from a task of this queue, which would otherwise wait for itself.
    void drain();
    const std::string& label() const { return label_; }
    bool isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  private:
    // Shared with the worker thread, so that it outlives a queue destroyed by one of its own tasks.
    struct Shared {
        std::mutex mutex;
        std::condition_variable cv;
        std::condition_variable idleCv;
        std::deque<std::function<void()>> tasks;
        bool stopping = false;
        bool busy = false;
    };
    static void run(std::shared_ptr<Shared> shared);

    std::string label_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace tavrine

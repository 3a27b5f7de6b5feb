#pragma once

#include "core/detection/FrameSource.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavrine::testing {

// A frame source driven by the test: it records every call (with the calling thread), answers the
// access questions as told, fails the next starts on request and pushes frames and interruptions on
// the test's command, from whichever thread the test calls it.
class FakeFrameSource final : public FrameSource {
  public:
    Access access = Access::authorized;
    bool promptAnswer = true;
    std::optional<CameraError> startError;

    Access accessStatus() override {
        std::lock_guard lock(mutex_);
        log_.push_back("status");
        return access;
    }
    bool requestAccess() override {
        std::lock_guard lock(mutex_);
        log_.push_back("prompt");
        ++prompts_;
        if (promptAnswer) {
            access = Access::authorized;
        } else {
            access = Access::denied;
        }
        return promptAnswer;
    }
    std::optional<CameraError> start(FrameHandler onFrame) override {
        std::lock_guard lock(mutex_);
        log_.push_back("start");
        startThreads_.push_back(std::this_thread::get_id());
        ++starts_;
        if (!failures_.empty()) {
            const CameraError error = failures_.front();
            failures_.erase(failures_.begin());
            return error;
        }
        if (startError) {
            return startError;
        }
        onFrame_ = std::move(onFrame);
        running_ = true;
        return std::nullopt;
    }
    void stop() override {
        std::lock_guard lock(mutex_);
        log_.push_back("stop");
        stopThreads_.push_back(std::this_thread::get_id());
        ++stops_;
        running_ = false;
        onFrame_ = nullptr;
    }
    void setInterruptionHandler(InterruptionHandler handler) override {
        std::lock_guard lock(mutex_);
        onInterruption_ = std::move(handler);
    }
    std::string describe() const override { return "fake"; }

    // Delivers a frame as the streaming thread would; false when the source is not running.
    bool pushFrame(const VideoFrame& frame) {
        FrameHandler handler;
        {
            std::lock_guard lock(mutex_);
            if (!running_) {
                return false;
            }
            handler = onFrame_;
        }
        handler(frame);
        return true;
    }
    // The next start fails with this error (queued after earlier requests); later starts go as before.
    void failNextStart(CameraError error) {
        std::lock_guard lock(mutex_);
        failures_.push_back(error);
    }
    void interrupt(bool interrupted) {
        InterruptionHandler handler;
        {
            std::lock_guard lock(mutex_);
            handler = onInterruption_;
        }
        if (handler) {
            handler(interrupted);
        }
    }

    std::vector<std::string> log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    int prompts() const {
        std::lock_guard lock(mutex_);
        return prompts_;
    }
    int starts() const {
        std::lock_guard lock(mutex_);
        return starts_;
    }
    int stops() const {
        std::lock_guard lock(mutex_);
        return stops_;
    }
    bool running() const {
        std::lock_guard lock(mutex_);
        return running_;
    }
    bool hasInterruptionHandler() const {
        std::lock_guard lock(mutex_);
        return static_cast<bool>(onInterruption_);
    }
    std::vector<std::thread::id> startThreads() const {
        std::lock_guard lock(mutex_);
        return startThreads_;
    }
    std::vector<std::thread::id> stopThreads() const {
        std::lock_guard lock(mutex_);
        return stopThreads_;
    }

  private:
    std::vector<CameraError> failures_;
    mutable std::mutex mutex_;
    std::vector<std::string> log_;
    std::vector<std::thread::id> startThreads_;
    std::vector<std::thread::id> stopThreads_;
    int prompts_ = 0;
    int starts_ = 0;
    int stops_ = 0;
    bool running_ = false;
    FrameHandler onFrame_;
    InterruptionHandler onInterruption_;
};

} // namespace tavrine::testing

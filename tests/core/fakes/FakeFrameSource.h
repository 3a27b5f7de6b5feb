#pragma once

#include "core/detection/FrameSource.h"

#include <mutex>
#include <string>
#include <vector>

namespace tavrine::testing {

// A frame source driven by the test: it counts prompts and starts, answers the access questions as told,
// fails the next starts on request and pushes frames and interruptions on the test's command, from
// whichever thread the test calls it.
class FakeFrameSource final : public FrameSource {
  public:
    Access access = Access::authorized;
    bool promptAnswer = true;

    Access accessStatus() override {
        std::lock_guard lock(mutex_);
        return access;
    }
    bool requestAccess() override {
        std::lock_guard lock(mutex_);
        ++prompts_;
        access = promptAnswer ? Access::authorized : Access::denied;
        return promptAnswer;
    }
    std::optional<CameraError> start(FrameHandler onFrame) override {
        std::lock_guard lock(mutex_);
        ++starts_;
        if (!failures_.empty()) {
            const CameraError error = failures_.front();
            failures_.erase(failures_.begin());
            return error;
        }
        onFrame_ = std::move(onFrame);
        return std::nullopt;
    }
    void stop() override {
        std::lock_guard lock(mutex_);
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
            handler = onFrame_;
        }
        if (!handler) {
            return false;
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

    int prompts() const {
        std::lock_guard lock(mutex_);
        return prompts_;
    }
    int starts() const {
        std::lock_guard lock(mutex_);
        return starts_;
    }
    bool running() const {
        std::lock_guard lock(mutex_);
        return static_cast<bool>(onFrame_);
    }
    bool hasInterruptionHandler() const {
        std::lock_guard lock(mutex_);
        return static_cast<bool>(onInterruption_);
    }

  private:
    mutable std::mutex mutex_;
    std::vector<CameraError> failures_;
    int prompts_ = 0;
    int starts_ = 0;
    FrameHandler onFrame_;
    InterruptionHandler onInterruption_;
};

} // namespace tavrine::testing

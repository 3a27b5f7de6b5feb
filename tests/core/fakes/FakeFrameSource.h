#pragma once

#include "core/detection/FrameSource.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace tavrine::testing {

// A frame source driven by the test: it answers the access questions as told, fails the next starts on
// request and pushes frames and interruptions on the test's command, from whichever thread calls it.
class FakeFrameSource final : public FrameSource {
  public:
    std::atomic<Access> access = Access::authorized;
    std::atomic<bool> promptAnswer = true;
    std::atomic<int> prompts = 0;

    Access accessStatus() override { return access; }
    bool requestAccess() override {
        ++prompts;
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
        locked([&] { onFrame_ = nullptr; });
    }
    void setInterruptionHandler(InterruptionHandler handler) override {
        locked([&] { onInterruption_ = std::move(handler); });
    }
    std::string describe() const override { return "fake"; }

    // Delivers a frame as the streaming thread would; false when the source is not running.
    bool pushFrame(const VideoFrame& frame) {
        const FrameHandler handler = locked([&] { return onFrame_; });
        if (handler) {
            handler(frame);
        }
        return static_cast<bool>(handler);
    }
    // The next start fails with this error (queued after earlier requests); later starts go as before.
    void failNextStart(CameraError error) {
        locked([&] { failures_.push_back(error); });
    }
    void interrupt(bool interrupted) {
        if (const InterruptionHandler handler = locked([&] { return onInterruption_; })) {
            handler(interrupted);
        }
    }

    int starts() const {
        return locked([&] { return starts_; });
    }
    bool running() const {
        return locked([&] { return static_cast<bool>(onFrame_); });
    }
    bool hasInterruptionHandler() const {
        return locked([&] { return static_cast<bool>(onInterruption_); });
    }

  private:
    template <typename F> auto locked(F f) const -> decltype(f()) {
        std::lock_guard lock(mutex_);
        return f();
    }

    mutable std::mutex mutex_;
    std::vector<CameraError> failures_;
    int starts_ = 0;
    FrameHandler onFrame_;
    InterruptionHandler onInterruption_;
};

} // namespace tavrine::testing

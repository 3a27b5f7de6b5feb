#pragma once

#include "core/overlay/TimingCurve.h"
#include "core/util/Clock.h"
#include "core/util/Executor.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace tavrine {

// The red alert flash of one overlay window: a loop that raises the flash opacity to 0.3 and lowers it
// back to 0 in 0.8 s, until stopped; stopping fades it out in 0.3 s. The loop looks at its cancellation
// only at the top of each cycle: a cancelled loop cuts its sleeps short and finishes its cycle with the
// fall to 0, which costs nothing when the fade-out or a restarted loop already leads elsewhere.
//
// Everything runs on the executor: animation frames are posted every kFrameIntervalMs while a value is
// moving and never otherwise. onFrame is called after each change of flashAlpha(). Main thread only.
class FlashLoop {
  public:
    static constexpr double kPeakAlpha = 0.3;
    static constexpr std::int64_t kHalfCycleMs = 400;
    static constexpr std::int64_t kFadeOutMs = 300;
    // 30 frames a second: smooth enough for a faint 0.4 s ramp, and half the repaints of 60.
    static constexpr std::int64_t kFrameIntervalMs = 33;

    FlashLoop(Executor& executor, const Clock& clock, std::function<void()> onFrame);
    ~FlashLoop();
    FlashLoop(const FlashLoop&) = delete;
    FlashLoop& operator=(const FlashLoop&) = delete;

    // Cancels a running loop and starts a new one.
    void start();
    // Cancels the loop and fades the flash out.
    void stop();

    double flashAlpha() const { return value_; }
    // A loop is held (the flash task of the window).
    bool isLooping() const { return static_cast<bool>(loop_); }
    // A value is moving: animation frames are being posted.
    bool isAnimating() const { return animating_; }

  private:
    struct LoopState {
        TaskHandle cancelled;
        TaskHandle sleep;
        bool rising = false; // asleep after the rise (true) or after the fall (false)
    };

    void runTop(const std::shared_ptr<LoopState>& loop);
    void afterRise(const std::shared_ptr<LoopState>& loop);
    void sleepThen(const std::shared_ptr<LoopState>& loop,
                   void (FlashLoop::*next)(const std::shared_ptr<LoopState>&));
    void cancelLoop();
    void animateTo(double target, std::int64_t durationMs, TimingCurve curve, bool restart = false);
    double valueAt(std::int64_t nowMs) const;
    void tick();
    template <typename F> TaskHandle post(std::int64_t delayMs, F&& f);

    Executor& executor_;
    const Clock& clock_;
    std::function<void()> onFrame_;
    std::shared_ptr<LoopState> loop_;

    double value_ = 0.0;
    double from_ = 0.0;
    double target_ = 0.0;
    std::int64_t startMs_ = 0;
    std::int64_t lastMs_ = 0;
    std::int64_t durationMs_ = 0;
    TimingCurve curve_ = TimingCurve::easeInOut();
    bool animating_ = false;
    TaskHandle frameTask_;

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace tavrine

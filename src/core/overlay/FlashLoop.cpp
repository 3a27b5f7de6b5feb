#include "core/overlay/FlashLoop.h"

#include <utility>

namespace tavrine {

FlashLoop::FlashLoop(Executor& executor, const Clock& clock, std::function<void()> onFrame)
    : executor_(executor), clock_(clock), onFrame_(std::move(onFrame)) {}

FlashLoop::~FlashLoop() {
    // Tasks already posted check the alive flag; cancelling them as well spares the executor the work.
    if (loop_) {
        loop_->cancelled.cancel();
        loop_->sleep.cancel();
    }
    frameTask_.cancel();
}

template <typename F> TaskHandle FlashLoop::post(std::int64_t delayMs, F&& f) {
    std::weak_ptr<bool> alive = alive_;
    return executor_.postAfter(delayMs, [alive, f = std::forward<F>(f)]() mutable {
        if (alive.lock()) {
            f();
        }
    });
}

void FlashLoop::start() {
    cancelLoop();
    auto loop = std::make_shared<LoopState>();
    loop_ = loop;
    loop->sleep = post(0, [this, loop] { runTop(loop); });
}

void FlashLoop::stop() {
    cancelLoop();
    // The fade-out replaces a fall already under way, so the flash is gone within kFadeOutMs.
    animateTo(0.0, kFadeOutMs, TimingCurve::easeOut(), true);
}

void FlashLoop::cancelLoop() {
    if (!loop_) {
        return;
    }
    std::shared_ptr<LoopState> loop = std::exchange(loop_, nullptr);
    loop->cancelled.cancel();
    // Cut the current sleep short: the loop resumes at once, finishes its cycle and ends at its top.
    loop->sleep.cancel();
    if (loop->rising) {
        loop->sleep = post(0, [this, loop] { afterRise(loop); });
    } else {
        loop->sleep = post(0, [this, loop] { runTop(loop); });
    }
}

void FlashLoop::runTop(const std::shared_ptr<LoopState>& loop) {
    if (loop->cancelled.isCancelled()) {
        return;
    }
    animateTo(kPeakAlpha, kHalfCycleMs, TimingCurve::easeInOut());
    loop->rising = true;
    sleepThen(loop, &FlashLoop::afterRise);
}

void FlashLoop::afterRise(const std::shared_ptr<LoopState>& loop) {
    animateTo(0.0, kHalfCycleMs, TimingCurve::easeInOut());
    loop->rising = false;
    sleepThen(loop, &FlashLoop::runTop);
}

void FlashLoop::sleepThen(const std::shared_ptr<LoopState>& loop,
                          void (FlashLoop::*next)(const std::shared_ptr<LoopState>&)) {
    const std::int64_t delay = loop->cancelled.isCancelled() ? 0 : kHalfCycleMs;
    loop->sleep = post(delay, [this, loop, next] { (this->*next)(loop); });
}

double FlashLoop::valueAt(std::int64_t nowMs) const {
    if (!animating_) {
        return value_;
    }
    const std::int64_t elapsed = nowMs - startMs_;
    if (durationMs_ <= 0 || elapsed >= durationMs_) {
        return target_;
    }
    const double t = elapsed <= 0 ? 0.0 : static_cast<double>(elapsed) / static_cast<double>(durationMs_);
    return from_ + (target_ - from_) * curve_.valueAt(t);
}

void FlashLoop::animateTo(double target, std::int64_t durationMs, TimingCurve curve, bool restart) {
    const bool settled = !animating_ && value_ == target;
    if (settled || (animating_ && target_ == target && !restart)) {
        // Assigning the value already targeted is no change: the running animation goes on.
        return;
    }
    const std::int64_t now = clock_.nowMs();
    from_ = valueAt(now);
    value_ = from_;
    target_ = target;
    startMs_ = now;
    lastMs_ = now;
    durationMs_ = durationMs;
    curve_ = curve;
    if (!animating_) {
        animating_ = true;
        frameTask_ = post(kFrameIntervalMs, [this] { tick(); });
    }
}

void FlashLoop::tick() {
    std::int64_t now = clock_.nowMs();
    if (now < lastMs_) {
        // The wall clock stepped back: keep the progress made so far.
        startMs_ -= lastMs_ - now;
    }
    lastMs_ = now;
    const bool done = now - startMs_ >= durationMs_;
    value_ = valueAt(now);
    if (done) {
        animating_ = false;
        value_ = target_;
    } else {
        // The last frame lands exactly on the end of the animation.
        const std::int64_t remaining = startMs_ + durationMs_ - now;
        frameTask_ = post(remaining < kFrameIntervalMs ? remaining : kFrameIntervalMs, [this] { tick(); });
    }
    if (onFrame_) {
        onFrame_();
    }
}

} // namespace tavrine

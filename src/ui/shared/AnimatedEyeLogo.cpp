#include "ui/shared/AnimatedEyeLogo.h"

namespace tavrine {

AnimatedEyeLogo::AnimatedEyeLogo(Executor& executor, const Clock& clock, int size, bool isActive,
                                 bool isAlert, Mode mode, QWidget* parent)
    : EyeLogo(isActive, isAlert, size, 0.0, 1.0, parent), executor_(executor), mode_(mode),
      open_(executor, clock, 0.0, [this](double v) { setOpenAmount(v); }),
      pulse_(executor, clock, 1.0, [this](double v) { setPulseScale(v); }) {}

AnimatedEyeLogo::~AnimatedEyeLogo() {
    cancelLoop();
}

void AnimatedEyeLogo::showEvent(QShowEvent* event) {
    EyeLogo::showEvent(event);
    startAnimations();
}

void AnimatedEyeLogo::hideEvent(QHideEvent* event) {
    EyeLogo::hideEvent(event);
    cancelLoop();
}

void AnimatedEyeLogo::startAnimations() {
    open_.animate(1.0, 0, Tween::Curve::spring);
    cancelLoop();
    loopTask_ = std::make_unique<TaskHandle>();
    if (mode_ == Mode::idle) {
        schedule(firstBlinkDelayMs, &AnimatedEyeLogo::blinkStep);
    } else {
        schedule(0, &AnimatedEyeLogo::pulseStep);
    }
}

void AnimatedEyeLogo::cancelLoop() {
    if (loopTask_) {
        loopTask_->cancel();
        loopTask_.reset();
    }
    pendingStep_.cancel();
}

void AnimatedEyeLogo::schedule(std::int64_t delayMs, void (AnimatedEyeLogo::*step)()) {
    std::weak_ptr<bool> alive = alive_;
    TaskHandle loop = *loopTask_;
    pendingStep_ = executor_.postAfter(delayMs, [this, alive, loop, step] {
        if (!alive.lock() || loop.isCancelled()) {
            return;
        }
        (this->*step)();
    });
}

// Shut to 0.04 in 0.11 s, open again in 0.18 s, rest 5 s: a blink every 5.11 s.
void AnimatedEyeLogo::blinkStep() {
    open_.animate(blinkClosedAmount, blinkCloseMs, Tween::Curve::easeIn);
    std::weak_ptr<bool> alive = alive_;
    TaskHandle loop = *loopTask_;
    pendingStep_ = executor_.postAfter(blinkCloseMs, [this, alive, loop] {
        if (!alive.lock() || loop.isCancelled()) {
            return;
        }
        open_.animate(1.0, blinkOpenMs, Tween::Curve::easeOut);
        schedule(blinkRestMs, &AnimatedEyeLogo::blinkStep);
    });
}

// Out to 1.14 and back to 0.88, 0.8 s each way.
void AnimatedEyeLogo::pulseStep() {
    pulse_.animate(pulseHigh, pulseHalfMs, Tween::Curve::easeInOut);
    std::weak_ptr<bool> alive = alive_;
    TaskHandle loop = *loopTask_;
    pendingStep_ = executor_.postAfter(pulseHalfMs, [this, alive, loop] {
        if (!alive.lock() || loop.isCancelled()) {
            return;
        }
        pulse_.animate(pulseLow, pulseHalfMs, Tween::Curve::easeInOut);
        schedule(pulseHalfMs, &AnimatedEyeLogo::pulseStep);
    });
}

} // namespace tavrine

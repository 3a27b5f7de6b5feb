#pragma once

#include "core/util/Clock.h"
#include "core/util/Executor.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace tavrine {

// Animates one number towards a target on the Executor, one step per display frame, so that tests drive
// it with virtual time. A new animate() replaces the running one and starts from the current value.
class Tween {
  public:
    enum class Curve { easeIn, easeOut, easeInOut, spring };
    static constexpr std::int64_t frameMs = 16;
    // The spring of the logo's opening: 0.65 s response, damping fraction 0.6.
    static constexpr double springResponseS = 0.65;
    static constexpr double springDamping = 0.6;

    Tween(Executor& executor, const Clock& clock, double initial, std::function<void(double)> apply);
    ~Tween();
    Tween(const Tween&) = delete;
    Tween& operator=(const Tween&) = delete;

    // durationMs is ignored by the spring, which runs until it has settled.
    void animate(double to, std::int64_t durationMs, Curve curve);
    void stop();

    double value() const { return value_; }
    double target() const { return to_; }
    bool isRunning() const { return running_; }

    // Progress (0..1, the spring may overshoot) of a curve at time t (ms) of a run of durationMs.
    static double progress(Curve curve, double tMs, double durationMs);

  private:
    void step();

    Executor& executor_;
    const Clock& clock_;
    std::function<void(double)> apply_;
    double value_;
    double from_ = 0;
    double to_;
    std::int64_t startMs_ = 0;
    std::int64_t durationMs_ = 0;
    Curve curve_ = Curve::easeInOut;
    bool running_ = false;
    TaskHandle pending_;
    std::shared_ptr<bool> alive_;
};

} // namespace tavrine

#pragma once

#include "core/util/Clock.h"
#include "core/util/Executor.h"
#include "ui/shared/EyeLogo.h"
#include "ui/shared/Tween.h"

#include <memory>

namespace tavrine {

// The eye that opens with a spring when it comes on screen, then blinks (idle) or pulses its iris
// (calibrating) until it leaves the screen. Every step runs on the Executor.
class AnimatedEyeLogo : public EyeLogo {
    Q_OBJECT
  public:
    enum class Mode { idle, calibrating };

    static constexpr std::int64_t firstBlinkDelayMs = 2500;
    static constexpr std::int64_t blinkCloseMs = 110;
    static constexpr std::int64_t blinkOpenMs = 180;
    static constexpr std::int64_t blinkRestMs = 5000;
    static constexpr double blinkClosedAmount = 0.04;
    static constexpr std::int64_t pulseHalfMs = 800;
    static constexpr double pulseHigh = 1.14;
    static constexpr double pulseLow = 0.88;

    AnimatedEyeLogo(Executor& executor, const Clock& clock, int size, bool isActive, bool isAlert, Mode mode,
                    QWidget* parent = nullptr);
    ~AnimatedEyeLogo() override;

    // Read when the logo comes on screen: a change takes effect at its next appearance.
    void setMode(Mode mode) { mode_ = mode; }
    Mode mode() const { return mode_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void startAnimations();
    void cancelLoop();
    void blinkStep();
    void pulseStep();
    void schedule(std::int64_t delayMs, void (AnimatedEyeLogo::*step)());

    Executor& executor_;
    Mode mode_;
    Tween open_;
    Tween pulse_;
    // One flag for the whole loop; each scheduled step checks it, and the pending timer is cancelled too.
    std::unique_ptr<TaskHandle> loopTask_;
    TaskHandle pendingStep_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace tavrine

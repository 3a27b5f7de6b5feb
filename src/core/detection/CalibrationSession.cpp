#include "core/detection/CalibrationSession.h"

#include <algorithm>
#include <cmath>

namespace tavrine {

namespace {
constexpr std::int64_t countdownStepMs = 1000;
constexpr std::int64_t measuringMs = 3000;
constexpr int countdownFrom = 3;
constexpr std::size_t minimumSamples = 3;
constexpr int nearestCm = 30;
constexpr int farthestCm = 200;
} // namespace

std::shared_ptr<CalibrationSession> CalibrationSession::create(Executor& executor, CameraSession& camera,
                                                               SettingsRepository& settings,
                                                               std::function<bool()> suspendedByUser) {
    return std::shared_ptr<CalibrationSession>(
        new CalibrationSession(executor, camera, settings, std::move(suspendedByUser)));
}

CalibrationSession::CalibrationSession(Executor& executor, CameraSession& camera,
                                       SettingsRepository& settings, std::function<bool()> suspendedByUser)
    : executor_(executor), camera_(camera), settings_(settings),
      suspendedByUser_(std::move(suspendedByUser)) {}

void CalibrationSession::start() {
    if (phase.get().kind != Phase::Kind::idle) {
        return;
    }
    samples_.clear();
    startCountdown();
}

void CalibrationSession::startCountdown() {
    // The phase only leaves idle when the countdown first runs, so two starts in the same turn both get
    // here: the earlier countdown is stopped, or cancel() would leave it running unseen.
    if (countdownTask_) {
        countdownTask_->cancel();
    }
    TaskHandle task;
    countdownTask_ = task;
    std::weak_ptr<CalibrationSession> weak = weak_from_this();
    executor_.post([weak, task] {
        if (auto self = weak.lock()) {
            self->countdownTick(task, countdownFrom);
        }
    });
}

void CalibrationSession::countdownTick(TaskHandle task, int remaining) {
    if (task.isCancelled()) {
        return;
    }
    if (remaining == 0) {
        beginMeasuring();
        return;
    }
    phase = Phase::counting(remaining);
    std::weak_ptr<CalibrationSession> weak = weak_from_this();
    executor_.postAfter(countdownStepMs, [weak, task, remaining] {
        if (auto self = weak.lock()) {
            self->countdownTick(task, remaining - 1);
        }
    });
}

void CalibrationSession::beginMeasuring() {
    phase = Phase::measuring();
    std::weak_ptr<CalibrationSession> weak = weak_from_this();
    if (auto analyzer = camera_.analyzer()) {
        Executor* executor = &executor_;
        sampling_ = analyzer->calibrationSamples.subscribe([weak, executor](double width) {
            executor->post([weak, width] {
                auto self = weak.lock();
                // The median needs a total order: a width that is not a number is no measurement.
                if (self && std::isfinite(width)) {
                    self->samples_.push_back(width);
                }
            });
        });
    }
    TaskHandle task;
    pollTask_ = task;
    executor_.postAfter(measuringMs, [weak, task] {
        auto self = weak.lock();
        if (self && !task.isCancelled()) {
            self->finalizeMeasurement();
        }
    });
}

void CalibrationSession::finalizeMeasurement() {
    sampling_.cancel();
    if (samples_.size() < minimumSamples) {
        const std::shared_ptr<FaceAnalyzer> analyzer = camera_.analyzer();
        const bool suspended = !analyzer && suspendedByUser_ && suspendedByUser_();
        phase = Phase::failed(suspended                                              ? suspendedMessage
                              : !analyzer                                            ? filterOffMessage
                              : analyzer->isSuspended                                ? pausedMessage
                              : !camera_.isRunning.get() || camera_.awaitingFrames() ? noCameraMessage
                                                                                     : noFaceMessage);
        return;
    }
    std::vector<double> sorted = samples_;
    std::sort(sorted.begin(), sorted.end());
    phase = Phase::done(distanceForMedianWidth(sorted[sorted.size() / 2]));
}

int CalibrationSession::distanceForMedianWidth(double medianWidth) {
    // A face of width w (fraction of a 1280-pixel-wide view) sits about 12600 / (w * 1280) cm away.
    const double d = std::round(12600.0 / (medianWidth * 1280.0));
    // Clamped as a double: a zero or unusable width must not reach the integer conversion.
    if (std::isnan(d) || d > farthestCm) {
        return farthestCm;
    }
    if (d < nearestCm) {
        return nearestCm;
    }
    return static_cast<int>(d);
}

void CalibrationSession::cancel() {
    if (countdownTask_) {
        countdownTask_->cancel();
    }
    if (pollTask_) {
        pollTask_->cancel();
    }
    sampling_.cancel();
    phase = Phase::idle();
}

void CalibrationSession::accept(int distanceCm) {
    FilterSettings updated = settings_.settings.get();
    updated.calibrationDistanceCm = distanceCm;
    updated.isCalibrated = true;
    settings_.save(updated);
    phase = Phase::idle();
}

} // namespace tavrine

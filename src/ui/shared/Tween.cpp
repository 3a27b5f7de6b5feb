#include "ui/shared/Tween.h"

#include <QEasingCurve>
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tavrine {
namespace {

QEasingCurve bezier(double x1, double y1, double x2, double y2) {
    QEasingCurve c(QEasingCurve::BezierSpline);
    c.addCubicBezierSegment(QPointF(x1, y1), QPointF(x2, y2), QPointF(1, 1));
    return c;
}

// An under-damped spring released from rest; settled once its envelope is below 1/1000.
double springAt(double tS) {
    const double w0 = 2 * std::numbers::pi / Tween::springResponseS;
    const double z = Tween::springDamping;
    const double wd = w0 * std::sqrt(1 - z * z);
    return 1 - std::exp(-z * w0 * tS) * (std::cos(wd * tS) + (z * w0 / wd) * std::sin(wd * tS));
}

double springSettleMs() {
    const double w0 = 2 * std::numbers::pi / Tween::springResponseS;
    return 1000.0 * std::log(1000.0) / (Tween::springDamping * w0);
}

} // namespace

Tween::Tween(Executor& executor, const Clock& clock, double initial, std::function<void(double)> apply)
    : executor_(executor), clock_(clock), apply_(std::move(apply)), value_(initial), to_(initial),
      alive_(std::make_shared<bool>(true)) {}

Tween::~Tween() {
    pending_.cancel();
}

double Tween::progress(Curve curve, double tMs, double durationMs) {
    if (curve == Curve::spring) {
        return tMs >= springSettleMs() ? 1.0 : springAt(tMs / 1000.0);
    }
    if (durationMs <= 0 || tMs >= durationMs) {
        return 1.0;
    }
    const double x = tMs / durationMs;
    static const QEasingCurve in = bezier(0.42, 0, 1, 1);
    static const QEasingCurve out = bezier(0, 0, 0.58, 1);
    static const QEasingCurve inOut = bezier(0.42, 0, 0.58, 1);
    switch (curve) {
    case Curve::easeIn:
        return in.valueForProgress(x);
    case Curve::easeOut:
        return out.valueForProgress(x);
    case Curve::easeInOut:
    case Curve::spring:
        break;
    }
    return inOut.valueForProgress(x);
}

void Tween::animate(double to, std::int64_t durationMs, Curve curve) {
    pending_.cancel();
    // A run whose time is up counts as finished even if its last frame has not been drawn yet.
    if (running_ && clock_.nowMs() - startMs_ >= durationMs_) {
        value_ = to_;
    }
    from_ = value_;
    to_ = to;
    curve_ = curve;
    durationMs_ = curve == Curve::spring ? std::int64_t(std::ceil(springSettleMs())) : durationMs;
    startMs_ = clock_.nowMs();
    running_ = true;
    step();
}

void Tween::stop() {
    pending_.cancel();
    running_ = false;
}

void Tween::step() {
    const std::int64_t elapsed = clock_.nowMs() - startMs_;
    const bool finished = elapsed >= durationMs_ || elapsed < 0;
    value_ = finished ? to_ : from_ + (to_ - from_) * progress(curve_, double(elapsed), double(durationMs_));
    apply_(value_);
    if (finished) {
        running_ = false;
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    // The last frame falls exactly on the end of the run.
    const std::int64_t next = std::min(frameMs, durationMs_ - elapsed);
    pending_ = executor_.postAfter(next, [this, alive] {
        if (alive.lock()) {
            step();
        }
    });
}

} // namespace tavrine

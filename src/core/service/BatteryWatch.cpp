#include "core/service/BatteryWatch.h"

#include <utility>

namespace tavrine {

BatteryWatch::BatteryWatch(Dependencies deps) : deps_(std::move(deps)) {
    timer_.cancel();
}

BatteryWatch::~BatteryWatch() {
    stop();
}

bool BatteryWatch::isLow(const BatteryReading& reading, int thresholdPercent) {
    return reading.present && !reading.charging && thresholdPercent >= 1 &&
           reading.percent < thresholdPercent;
}

void BatteryWatch::start() {
    stop();
    TaskHandle timer;
    timer_ = timer;
    scheduleTick(timer);
    // A battery already low pauses at once, not at the first periodic check; a power source that has no
    // reading yet is checked as soon as it has one, and the charger plugged in resumes the filter at once.
    check();
    updates_ = deps_.power.observeUpdates([this, timer] {
        if (!timer.isCancelled()) {
            check();
        }
    });
}

void BatteryWatch::stop() {
    timer_.cancel();
    updates_.cancel();
}

void BatteryWatch::scheduleTick(TaskHandle timer) {
    // The handle is cancelled by stop() and by the destructor: a tick that finds it so touches nothing.
    deps_.executor.postAfter(checkIntervalMs, [this, timer] {
        if (timer.isCancelled()) {
            return;
        }
        scheduleTick(timer);
        check();
    });
}

void BatteryWatch::check() {
    const auto reading = deps_.power.battery();
    if (reading && reading->present) {
        deps_.onReading(isLow(*reading, deps_.thresholdPercent()));
    }
}

} // namespace tavrine

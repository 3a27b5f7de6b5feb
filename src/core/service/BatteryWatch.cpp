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
    // reading yet is checked as soon as it has one.
    if (!check()) {
        firstReading_ = deps_.power.observeUpdates([this, timer] {
            if (!timer.isCancelled() && check()) {
                firstReading_.cancel();
            }
        });
    }
}

void BatteryWatch::stop() {
    timer_.cancel();
    firstReading_.cancel();
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

bool BatteryWatch::check() {
    const auto reading = deps_.power.battery();
    if (!reading) {
        return false;
    }
    if (reading->present) {
        deps_.onReading(isLow(*reading, deps_.thresholdPercent()));
    }
    return true;
}

} // namespace tavrine

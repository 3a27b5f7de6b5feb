#include "core/service/AbsenceLock.h"

#include <algorithm>
#include <utility>

namespace tavrine {

AbsenceLock::AbsenceLock(Dependencies deps) : deps_(std::move(deps)) {
    // Deliveries come before the published values read back: keep the delivered ones.
    stateSub_ = deps_.filterState.subscribe([this](const FilterState& state) {
        state_ = state;
        if (!mayLock()) {
            cancelCountdown();
        }
    });
    settingsSub_ = deps_.settingsRepo.settings.subscribe([this](const FilterSettings& settings) {
        enabled_ = settings.lockOnAbsence;
        delayMs_ = std::max(settings.lockDelayMs, shortestDelayMs);
        if (!mayLock()) {
            cancelCountdown();
        }
    });
    detectionSub_ = deps_.detections.subscribe([this](const DetectionInput& input) { onDetection(input); });
}

AbsenceLock::~AbsenceLock() {
    cancelCountdown();
}

bool AbsenceLock::mayLock() const {
    const bool running = state_.is(FilterState::Kind::nominal) || state_.is(FilterState::Kind::inattention) ||
                         state_.is(FilterState::Kind::alert);
    return enabled_ && running && !(deps_.isCalibrating && deps_.isCalibrating());
}

void AbsenceLock::onDetection(const DetectionInput& input) {
    if (input.faceCount > 0) {
        // The user is back (or never left): the countdown stops and the next absence may lock again.
        cancelCountdown();
        lockedThisAbsence_ = false;
        return;
    }
    if (!mayLock()) {
        cancelCountdown();
        return;
    }
    if (timer_ || lockedThisAbsence_) {
        return;
    }
    timer_ = deps_.executor.postAfter(delayMs_, [this] {
        timer_.reset();
        warn();
    });
}

void AbsenceLock::warn() {
    if (!mayLock()) {
        return;
    }
    deps_.notifier.post(notificationId, notificationTitle, notificationBody);
    warned_ = true;
    timer_ = deps_.executor.postAfter(warningMs, [this] {
        timer_.reset();
        lock();
    });
}

void AbsenceLock::lock() {
    cancelCountdown();
    if (!mayLock()) {
        return;
    }
    lockedThisAbsence_ = true;
    std::weak_ptr<bool> alive = alive_;
    StatsRepository& stats = deps_.statsRepo;
    deps_.locker.lockSession([alive, &stats](bool locked) {
        // Only a lock the session manager accepted counts.
        if (locked && alive.lock()) {
            stats.incrementLocks();
        }
    });
}

void AbsenceLock::cancelCountdown() {
    if (timer_) {
        timer_->cancel();
        timer_.reset();
    }
    if (warned_) {
        warned_ = false;
        deps_.notifier.remove(notificationId);
    }
}

} // namespace tavrine

#include "core/filter/FilterFsm.h"

#include "core/util/SaturatingMath.h"

#include <cmath>

namespace tavrine {

void FilterFsm::setState(const FilterState& next) {
    if (state.get() == next) {
        return;
    }
    state = next;
}

void FilterFsm::activate() {
    if (state.get().is(FilterState::Kind::inactive)) {
        enterNominal();
    }
}

void FilterFsm::deactivate() {
    setState(FilterState::inactive());
}

void FilterFsm::updateSettings(const FilterSettings& settings) {
    settings_ = settings;
}

void FilterFsm::onDetectionInput(const DetectionInput& input) {
    const std::int64_t t = input.timestampMs;
    if (lastInputMs_ && t < *lastInputMs_) {
        // The wall clock was set back: the running delays, hold and lock move back with it, so the step
        // neither lengthens nor shortens them.
        const std::int64_t back = saturatingSub(*lastInputMs_, t);
        if (inattentionStartMs_ != 0) {
            inattentionStartMs_ = saturatingSub(inattentionStartMs_, back);
        }
        if (alertRecoveryStartMs_) {
            alertRecoveryStartMs_ = saturatingSub(*alertRecoveryStartMs_, back);
        }
        alertFlapWindowStartMs_ = saturatingSub(alertFlapWindowStartMs_, back);
        alertLockedUntilMs_ = saturatingSub(alertLockedUntilMs_, back);
    }
    lastInputMs_ = t;
    switch (state.get().kind) {
    case FilterState::Kind::nominal:
        handleNominal(input);
        break;
    case FilterState::Kind::inattention:
        handleInattention(input);
        break;
    case FilterState::Kind::alert:
        handleAlert(input);
        break;
    case FilterState::Kind::autoPaused:
    case FilterState::Kind::cameraBusy:
    case FilterState::Kind::inactive:
        break;
    }
}

void FilterFsm::onSystemEvent(const SystemEvent& event) {
    const FilterState& current = state.get();
    switch (event.kind) {
    case SystemEvent::Kind::userPause:
        setState(FilterState::autoPaused(PauseReason::userPaused(event.durationMs)));
        break;
    case SystemEvent::Kind::screenOff:
        setState(FilterState::autoPaused(PauseReason::screenOff()));
        break;
    case SystemEvent::Kind::screenOn:
        if (current.is(FilterState::Kind::autoPaused)) {
            enterNominal();
        }
        break;
    case SystemEvent::Kind::lowBattery:
        setState(FilterState::autoPaused(PauseReason::lowBattery()));
        break;
    case SystemEvent::Kind::batteryOk:
        if (current == FilterState::autoPaused(PauseReason::lowBattery())) {
            enterNominal();
        }
        break;
    case SystemEvent::Kind::cameraBusy:
        setState(FilterState::cameraBusy(cameraRetryMs));
        break;
    case SystemEvent::Kind::cameraAvailable:
        if (current.is(FilterState::Kind::cameraBusy)) {
            enterNominal();
        }
        break;
    }
}

void FilterFsm::enterNominal() {
    const FilterState target = FilterState::nominal(settings_.filterStrength);
    // Already there: a look-away in progress keeps counting.
    if (state.get() == target) {
        return;
    }
    inattentionStartMs_ = 0;
    setState(target);
}

void FilterFsm::enterAlert(std::int64_t t) {
    recordAlertEntry(t);
    if (!state.get().is(FilterState::Kind::alert)) {
        // Each alert's recovery hold starts from its own first calm frame.
        alertRecoveryStartMs_.reset();
        setState(FilterState::alert());
    }
}

void FilterFsm::recordAlertEntry(std::int64_t t) {
    if (saturatingSub(t, alertFlapWindowStartMs_) > flapWindowMs) {
        alertFlapCount_ = 0;
        alertFlapWindowStartMs_ = t;
    }
    ++alertFlapCount_;
    if (alertFlapCount_ >= flapLimit) {
        // The window start stays: later entries of the same window count again from zero.
        alertLockedUntilMs_ = saturatingAdd(t, flapLockMs);
        alertFlapCount_ = 0;
    }
}

bool FilterFsm::isAttentive(const DetectionInput& input) {
    if (!input.primaryFace) {
        return false;
    }
    // Written as "less than" so that a NaN angle counts as looking away.
    return std::fabs(input.primaryFace->eulerY) < attentionYawLimit &&
           std::fabs(input.primaryFace->eulerX) < attentionPitchLimit;
}

void FilterFsm::handleNominal(const DetectionInput& input) {
    const std::int64_t t = input.timestampMs;
    if (input.faceCount >= onlookerFaceCount) {
        enterAlert(t);
        return;
    }
    // A faceless frame neither stops nor restarts a look-away in progress.
    if (!input.primaryFace) {
        return;
    }
    if (isAttentive(input)) {
        inattentionStartMs_ = 0;
        return;
    }
    if (inattentionStartMs_ == 0) {
        inattentionStartMs_ = t;
    }
    if (saturatingSub(t, inattentionStartMs_) < settings_.inattentionDelayMs) {
        return;
    }
    setState(FilterState::inattention(settings_.filterStrength));
}

void FilterFsm::handleInattention(const DetectionInput& input) {
    // Losing the face while looking away counts as an onlooker.
    if (input.faceCount >= onlookerFaceCount || !input.primaryFace) {
        enterAlert(input.timestampMs);
        return;
    }
    if (isAttentive(input)) {
        enterNominal();
    }
}

void FilterFsm::handleAlert(const DetectionInput& input) {
    const std::int64_t t = input.timestampMs;
    if (input.faceCount >= onlookerFaceCount || t < alertLockedUntilMs_) {
        alertRecoveryStartMs_.reset();
        return;
    }
    if (!alertRecoveryStartMs_) {
        alertRecoveryStartMs_ = t;
    }
    if (saturatingSub(t, *alertRecoveryStartMs_) < alertRecoveryHoldMs) {
        return;
    }
    alertRecoveryStartMs_.reset();
    enterNominal();
}

float filterAlpha(const FilterState& state, int strength) {
    float base = 0.75f;
    switch (strength) {
    case 1:
        base = 0.55f;
        break;
    case 2:
        base = 0.65f;
        break;
    case 3:
        base = 0.75f;
        break;
    case 4:
        base = 0.85f;
        break;
    case 5:
        base = 0.95f;
        break;
    default:
        break;
    }
    switch (state.kind) {
    case FilterState::Kind::nominal:
        return base * 0.55f;
    case FilterState::Kind::inattention:
        return base * 0.8f;
    case FilterState::Kind::alert:
        return base < 0.8f ? base : 0.8f;
    case FilterState::Kind::autoPaused:
    case FilterState::Kind::cameraBusy:
    case FilterState::Kind::inactive:
        return 0.0f;
    }
    return 0.0f;
}

} // namespace tavrine

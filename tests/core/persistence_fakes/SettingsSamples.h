#pragma once

#include "core/domain/FilterSettings.h"

namespace tavrine::testing {

// Every stored field away from its fallback, so a round trip that drops or mixes up a field shows.
// launchAtLogin stays at its fallback: it lives in the login item, not in the store.
inline FilterSettings everyFieldChanged() {
    FilterSettings s;
    s.filterStrength = 5;
    s.sensitivity = 1;
    s.inattentionDelayMs = 3000;
    s.captureFps = 15;
    s.hapticOnAlert = false;
    s.batteryThresholdPercent = 0;
    s.glassesCompat = false;
    s.overlayOnCameraBusy = true;
    s.privacyMatrixEnabled = false;
    s.privacyMatrixCoefficient = 3.5f;
    s.matrixColorArgb = 0xFF112233ULL;
    s.matrixStripeAlpha = 0.55f;
    s.globalShortcutEnabled = false;
    s.coverAllScreens = false;
    s.calibrationDistanceCm = 47;
    s.isCalibrated = true;
    s.lockOnAbsence = true;
    s.lockDelayMs = 120'000;
    return s;
}

} // namespace tavrine::testing

#pragma once

#include <cstdint>
#include <string>

namespace tavrine {

// Every user setting. A plain value; the writers keep the ranges (captureFps >= 1, strength 1..5).
struct FilterSettings {
    int filterStrength = 3;
    int sensitivity = 3;
    std::int64_t inattentionDelayMs = 1500;
    int captureFps = 10;
    bool hapticOnAlert = true;
    bool launchAtLogin = false;
    int batteryThresholdPercent = 10;
    bool glassesCompat = true;
    bool overlayOnCameraBusy = false;
    bool privacyMatrixEnabled = true;
    float privacyMatrixCoefficient = 2.0f;
    std::uint64_t matrixColorArgb = 0xFF000000ULL;
    float matrixStripeAlpha = 0.72f;
    bool globalShortcutEnabled = true;
    bool coverAllScreens = true;
    int calibrationDistanceCm = 60;
    bool isCalibrated = false;
    // Lock the session after this long without a face in view (added later: older files lack the keys).
    bool lockOnAbsence = false;
    std::int64_t lockDelayMs = 60'000;

    bool operator==(const FilterSettings&) const = default;
};

// The keys under which the settings live in the store.
enum class SettingsKey {
    filterStrength,
    sensitivity,
    inattentionDelayMs,
    captureFps,
    hapticOnAlert,
    launchAtLogin,
    batteryThreshold,
    glassesCompat,
    overlayOnCameraBusy,
    privacyMatrixEnabled,
    privacyMatrixCoefficient,
    matrixColorArgb,
    matrixStripeAlpha,
    globalShortcutEnabled,
    coverAllScreens,
    hasCompletedOnboarding,
    calibrationDistanceCm,
    isCalibrated,
    lockOnAbsence,
    lockDelayMs,
};

// The stored key string, e.g. "battery_threshold".
const char* rawValue(SettingsKey key);

} // namespace tavrine

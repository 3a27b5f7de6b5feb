#include "core/domain/FilterSettings.h"

namespace tavrine {

const char* rawValue(SettingsKey key) {
    switch (key) {
    case SettingsKey::filterStrength:
        return "filter_strength";
    case SettingsKey::sensitivity:
        return "sensitivity";
    case SettingsKey::inattentionDelayMs:
        return "inattention_delay_ms";
    case SettingsKey::captureFps:
        return "capture_fps";
    case SettingsKey::hapticOnAlert:
        return "haptic_on_alert";
    case SettingsKey::launchAtLogin:
        return "launch_at_login";
    case SettingsKey::batteryThreshold:
        return "battery_threshold";
    case SettingsKey::glassesCompat:
        return "glasses_compat";
    case SettingsKey::overlayOnCameraBusy:
        return "overlay_on_camera_busy";
    case SettingsKey::privacyMatrixEnabled:
        return "privacy_matrix_enabled";
    case SettingsKey::privacyMatrixCoefficient:
        return "privacy_matrix_coefficient";
    case SettingsKey::matrixColorArgb:
        return "matrix_color_argb";
    case SettingsKey::matrixStripeAlpha:
        return "matrix_stripe_alpha";
    case SettingsKey::globalShortcutEnabled:
        return "global_shortcut_enabled";
    case SettingsKey::coverAllScreens:
        return "cover_all_screens";
    case SettingsKey::hasCompletedOnboarding:
        return "has_completed_onboarding";
    case SettingsKey::calibrationDistanceCm:
        return "calibration_distance_cm";
    case SettingsKey::isCalibrated:
        return "is_calibrated";
    case SettingsKey::lockOnAbsence:
        return "lock_on_absence";
    case SettingsKey::lockDelayMs:
        return "lock_delay_ms";
    }
    return "";
}

} // namespace tavrine

#include "core/persistence/SettingsRepository.h"

#include "core/persistence/StoredValueConversion.h"

#include <limits>

namespace tavrine {

namespace {

// An integer read: 0 (missing or not a number) gives the fallback, and so does a number that an int
// field cannot hold.
int integerOr(const KeyValueStore& store, SettingsKey key, int fallback) {
    const std::int64_t v = store.readInt(rawValue(key));
    if (v == 0 || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
        return fallback;
    }
    return static_cast<int>(v);
}

std::int64_t integer64Or(const KeyValueStore& store, SettingsKey key, std::int64_t fallback) {
    const std::int64_t v = store.readInt(rawValue(key));
    return v == 0 ? fallback : v;
}

template <typename Convert>
auto objectOr(const KeyValueStore& store, SettingsKey key, Convert convert,
              decltype(*convert(StoredValue{})) fallback) -> std::decay_t<decltype(fallback)> {
    const auto stored = store.read(rawValue(key));
    if (!stored) {
        return fallback;
    }
    return convert(*stored).value_or(fallback);
}

} // namespace

SettingsRepository::SettingsRepository(KeyValueStore& defaults, LoginItem& loginItem,
                                       std::ostream& diagnostics)
    : defaults_(defaults), loginItem_(loginItem), diagnostics_(diagnostics) {
    load();
}

void SettingsRepository::load() {
    const KeyValueStore& d = defaults_;
    FilterSettings s;
    s.filterStrength = integerOr(d, SettingsKey::filterStrength, 3);
    s.sensitivity = integerOr(d, SettingsKey::sensitivity, 3);
    s.inattentionDelayMs = integer64Or(d, SettingsKey::inattentionDelayMs, 1500);
    s.captureFps = integerOr(d, SettingsKey::captureFps, 10);
    // The analyzer divides 1000 by the rate: a rate below 1 from a damaged file would stall or
    // invert frame admission, so it reads as the fallback like 0 does.
    if (s.captureFps < 1) {
        s.captureFps = 10;
    }
    s.hapticOnAlert = objectOr(d, SettingsKey::hapticOnAlert, storedBool, true);
    s.launchAtLogin = loginItem_.isEnabled();
    s.batteryThresholdPercent = objectOr(d, SettingsKey::batteryThreshold, storedInt, 10);
    // A stored 0 (pause off) survives; a negative threshold can only come from a damaged file.
    if (s.batteryThresholdPercent < 0) {
        s.batteryThresholdPercent = 10;
    }
    s.glassesCompat = objectOr(d, SettingsKey::glassesCompat, storedBool, true);
    s.overlayOnCameraBusy = d.readBool(rawValue(SettingsKey::overlayOnCameraBusy));
    s.privacyMatrixEnabled = objectOr(d, SettingsKey::privacyMatrixEnabled, storedBool, true);
    s.privacyMatrixCoefficient = objectOr(d, SettingsKey::privacyMatrixCoefficient, storedFloat, 2.0f);
    // Stored as a signed 64-bit integer; the bit pattern is the colour.
    const auto argb = static_cast<std::uint64_t>(d.readInt(rawValue(SettingsKey::matrixColorArgb)));
    s.matrixColorArgb = argb == 0 ? 0xFF000000ULL : argb;
    s.matrixStripeAlpha = objectOr(d, SettingsKey::matrixStripeAlpha, storedFloat, 0.42f);
    s.globalShortcutEnabled = objectOr(d, SettingsKey::globalShortcutEnabled, storedBool, true);
    s.coverAllScreens = objectOr(d, SettingsKey::coverAllScreens, storedBool, true);
    s.calibrationDistanceCm = integerOr(d, SettingsKey::calibrationDistanceCm, 60);
    s.isCalibrated = d.readBool(rawValue(SettingsKey::isCalibrated));
    s.lockOnAbsence = d.readBool(rawValue(SettingsKey::lockOnAbsence));
    s.lockDelayMs = integer64Or(d, SettingsKey::lockDelayMs, 60'000);
    settings = s;
}

void SettingsRepository::save(const FilterSettings& newSettings) {
    const bool previousLaunchAtLogin = settings.get().launchAtLogin;
    // Subscribers hear of the new record before anything is written.
    settings = newSettings;

    KeyValueStore& d = defaults_;
    const FilterSettings& s = newSettings;
    d.setInteger(rawValue(SettingsKey::filterStrength), s.filterStrength);
    d.setInteger(rawValue(SettingsKey::sensitivity), s.sensitivity);
    d.setInteger(rawValue(SettingsKey::inattentionDelayMs), s.inattentionDelayMs);
    d.setInteger(rawValue(SettingsKey::captureFps), s.captureFps);
    d.setBool(rawValue(SettingsKey::hapticOnAlert), s.hapticOnAlert);
    d.setInteger(rawValue(SettingsKey::batteryThreshold), s.batteryThresholdPercent);
    d.setBool(rawValue(SettingsKey::glassesCompat), s.glassesCompat);
    d.setBool(rawValue(SettingsKey::overlayOnCameraBusy), s.overlayOnCameraBusy);
    d.setBool(rawValue(SettingsKey::privacyMatrixEnabled), s.privacyMatrixEnabled);
    d.setFloat(rawValue(SettingsKey::privacyMatrixCoefficient), s.privacyMatrixCoefficient);
    d.setInteger(rawValue(SettingsKey::matrixColorArgb), static_cast<std::int64_t>(s.matrixColorArgb));
    d.setFloat(rawValue(SettingsKey::matrixStripeAlpha), s.matrixStripeAlpha);
    d.setBool(rawValue(SettingsKey::globalShortcutEnabled), s.globalShortcutEnabled);
    d.setBool(rawValue(SettingsKey::coverAllScreens), s.coverAllScreens);
    d.setInteger(rawValue(SettingsKey::calibrationDistanceCm), s.calibrationDistanceCm);
    d.setBool(rawValue(SettingsKey::isCalibrated), s.isCalibrated);
    d.setBool(rawValue(SettingsKey::lockOnAbsence), s.lockOnAbsence);
    d.setInteger(rawValue(SettingsKey::lockDelayMs), s.lockDelayMs);
    if (const bool lost = !d.flush(); lost != keptForSessionOnly.get()) {
        keptForSessionOnly = lost;
    }

    if (s.launchAtLogin != previousLaunchAtLogin) {
        applyLaunchAtLogin(s.launchAtLogin);
    }
}

std::optional<std::string> SettingsRepository::setLaunchAtLogin(bool enabled) {
    if (settings.get().launchAtLogin != enabled) {
        FilterSettings s = settings.get();
        s.launchAtLogin = enabled;
        settings = s;
    }
    return applyLaunchAtLogin(enabled);
}

void SettingsRepository::refreshLaunchAtLogin() {
    const bool registered = loginItem_.isEnabled();
    if (settings.get().launchAtLogin != registered) {
        FilterSettings s = settings.get();
        s.launchAtLogin = registered;
        settings = s;
    }
    // The record now shows the item as it is: a refusal has nothing left to explain.
    if (!loginItemError.get().empty()) {
        loginItemError = std::string();
    }
}

std::optional<std::string> SettingsRepository::applyLaunchAtLogin(bool enabled) {
    std::optional<std::string> error;
    if (loginItem_.isEnabled() != enabled) {
        error = loginItem_.setEnabled(enabled);
    }
    if (error) {
        diagnostics_ << "autostart error: " << *error << std::endl;
    }
    // Published as text, empty for none: a refusal that gives no reason still reads as one.
    const std::string told = !error ? std::string() : error->empty() ? std::string("refused") : *error;
    if (told != loginItemError.get()) {
        loginItemError = told;
    }
    return error;
}

} // namespace tavrine

#include "core/domain/FilterSettingsCoding.h"

#include "core/domain/JsonFields.h"

#include <cmath>

namespace tavrine {

namespace {

// One list of (key, member) for both directions, so they cannot drift apart.
template <typename Settings, typename F> void forEachField(Settings& s, F&& f) {
    f("filterStrength", s.filterStrength);
    f("sensitivity", s.sensitivity);
    f("inattentionDelayMs", s.inattentionDelayMs);
    f("captureFps", s.captureFps);
    f("hapticOnAlert", s.hapticOnAlert);
    f("launchAtLogin", s.launchAtLogin);
    f("batteryThresholdPercent", s.batteryThresholdPercent);
    f("glassesCompat", s.glassesCompat);
    f("overlayOnCameraBusy", s.overlayOnCameraBusy);
    f("privacyMatrixEnabled", s.privacyMatrixEnabled);
    f("privacyMatrixCoefficient", s.privacyMatrixCoefficient);
    f("matrixColorArgb", s.matrixColorArgb);
    f("matrixStripeAlpha", s.matrixStripeAlpha);
    f("globalShortcutEnabled", s.globalShortcutEnabled);
    f("coverAllScreens", s.coverAllScreens);
    f("calibrationDistanceCm", s.calibrationDistanceCm);
    f("isCalibrated", s.isCalibrated);
}

// Fields added after the first version: a record that lacks them decodes with their defaults.
template <typename Settings, typename F> void forEachLaterField(Settings& s, F&& f) {
    f("lockOnAbsence", s.lockOnAbsence);
    f("lockDelayMs", s.lockDelayMs);
}

} // namespace

CodingResult<std::string> encodeFilterSettings(const FilterSettings& settings) {
    nlohmann::json object = nlohmann::json::object();
    std::string error;
    auto encode = [&](const char* key, const auto& value) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_floating_point_v<T>) {
            if (!std::isfinite(value) && error.empty()) {
                error = std::string(key) + ": a non-finite number cannot be encoded";
            }
        }
        object[key] = value;
    };
    forEachField(settings, encode);
    forEachLaterField(settings, encode);
    if (!error.empty()) {
        return CodingResult<std::string>::failure(error);
    }
    return CodingResult<std::string>::success(object.dump());
}

CodingResult<FilterSettings> decodeFilterSettings(std::string_view json) {
    nlohmann::json object;
    if (auto error = jsonfields::parseObject(json, object)) {
        return CodingResult<FilterSettings>::failure(*error);
    }
    FilterSettings settings;
    std::optional<std::string> error;
    forEachField(settings, [&](const char* key, auto& value) {
        if (!error) {
            error = jsonfields::read(object, key, value);
        }
    });
    forEachLaterField(settings, [&](const char* key, auto& value) {
        if (!error && object.contains(key)) {
            error = jsonfields::read(object, key, value);
        }
    });
    if (error) {
        return CodingResult<FilterSettings>::failure(*error);
    }
    return CodingResult<FilterSettings>::success(settings);
}

} // namespace tavrine

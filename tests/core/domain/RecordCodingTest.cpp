#include "core/domain/FilterSettingsCoding.h"
#include "core/domain/FilterStatsCoding.h"
#include "core/fakes/RecordingKeyValueStore.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <limits>
#include <string>
#include <vector>

using namespace tavrine;
using nlohmann::json;

namespace {

const std::vector<std::string> settingsKeys = {
    "filterStrength",      "sensitivity",           "inattentionDelayMs",       "captureFps",
    "hapticOnAlert",       "launchAtLogin",         "batteryThresholdPercent",  "glassesCompat",
    "overlayOnCameraBusy", "privacyMatrixEnabled",  "privacyMatrixCoefficient", "matrixColorArgb",
    "matrixStripeAlpha",   "globalShortcutEnabled", "coverAllScreens",          "calibrationDistanceCm",
    "isCalibrated"};
// Added later: optional when decoding.
const std::vector<std::string> laterSettingsKeys = {"lockOnAbsence", "lockDelayMs"};

FilterSettings unusualSettings() {
    FilterSettings s = tavrine::testing::everyFieldChanged();
    s.launchAtLogin = true;
    s.matrixColorArgb = 0xFFFFFFFFFFFFFFFFULL;
    return s;
}

json encodedDefaults() {
    return json::parse(*encodeFilterSettings(FilterSettings()));
}

} // namespace

TEST(FilterSettingsCoding, RoundTripsDefaultAndUnusualRecordsExactly) {
    for (const FilterSettings& s : {FilterSettings(), unusualSettings()}) {
        const auto encoded = encodeFilterSettings(s);
        ASSERT_TRUE(encoded) << encoded.error();
        const auto decoded = decodeFilterSettings(*encoded);
        ASSERT_TRUE(decoded) << decoded.error();
        EXPECT_EQ(*decoded, s);
    }
    FilterSettings extremes;
    extremes.inattentionDelayMs = std::numeric_limits<std::int64_t>::min();
    extremes.filterStrength = std::numeric_limits<int>::max();
    extremes.privacyMatrixCoefficient = std::numeric_limits<float>::max();
    extremes.matrixStripeAlpha = std::numeric_limits<float>::denorm_min();
    const auto decoded = decodeFilterSettings(*encodeFilterSettings(extremes));
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(*decoded, extremes);
}

TEST(FilterSettingsCoding, EveryKeyIsRequired) {
    for (const auto& key : settingsKeys) {
        json j = encodedDefaults();
        j.erase(key);
        const auto decoded = decodeFilterSettings(j.dump());
        EXPECT_FALSE(decoded) << key;
        EXPECT_NE(decoded.error().find(key), std::string::npos) << decoded.error();
    }
}

TEST(FilterSettingsCoding, ARecordWithoutTheLaterKeysDecodesWithTheirDefaultsButAWrongTypeIsAnError) {
    json j = json::parse(*encodeFilterSettings(unusualSettings()));
    for (const auto& key : laterSettingsKeys) {
        j.erase(key);
    }
    const auto decoded = decodeFilterSettings(j.dump());
    ASSERT_TRUE(decoded) << decoded.error();
    FilterSettings expected = unusualSettings();
    expected.lockOnAbsence = false;
    expected.lockDelayMs = 60'000;
    EXPECT_EQ(*decoded, expected);
    j["lockOnAbsence"] = 1;
    EXPECT_FALSE(decodeFilterSettings(j.dump()));
}

TEST(FilterSettingsCoding, WrongTypesAreErrors) {
    const std::vector<std::pair<std::string, json>> cases = {
        {"captureFps", "10"},
        {"captureFps", 10.5},
        {"captureFps", true},
        {"captureFps", nullptr},
        {"filterStrength", 3000000000LL},
        {"filterStrength", json::array({3})},
        {"hapticOnAlert", 1},
        {"hapticOnAlert", "true"},
        {"matrixColorArgb", -1},
        {"matrixColorArgb", 1.0},
        {"matrixStripeAlpha", "0.42"},
        {"matrixStripeAlpha", 1e300},
        {"inattentionDelayMs", 18446744073709551615ULL},
        {"isCalibrated", json::object()},
    };
    for (const auto& [key, value] : cases) {
        json j = encodedDefaults();
        j[key] = value;
        const auto decoded = decodeFilterSettings(j.dump());
        EXPECT_FALSE(decoded) << key << " = " << value.dump();
        EXPECT_NE(decoded.error().find(key), std::string::npos) << decoded.error();
    }
}

TEST(FilterSettingsCoding, MalformedTextIsAnErrorNotACrash) {
    for (const char* text : {"", "{", "[]", "null", "42", "{\"filterStrength\":", "\xff\xfe garbage", "{}"}) {
        const auto decoded = decodeFilterSettings(text);
        EXPECT_FALSE(decoded) << text;
        EXPECT_FALSE(decoded.error().empty());
    }
}

TEST(FilterStatsCoding, EveryKeyIsRequiredAndMustBeAnInteger) {
    for (const char* key : {"alertCount", "sessionCount", "totalActiveSeconds"}) {
        json j = json::parse(encodeFilterStats({}));
        j.erase(key);
        EXPECT_FALSE(decodeFilterStats(j.dump())) << key;
        j[key] = "5";
        EXPECT_FALSE(decodeFilterStats(j.dump())) << key;
        j[key] = 5.5;
        EXPECT_FALSE(decodeFilterStats(j.dump())) << key;
        j[key] = 5;
        EXPECT_TRUE(decodeFilterStats(j.dump())) << key;
    }
    // Added later: a record without it counts no lock, a mistyped one is an error.
    json j = json::parse(encodeFilterStats({1, 2, 3, 4}));
    j.erase("lockCount");
    const auto decoded = decodeFilterStats(j.dump());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->lockCount, 0);
    j["lockCount"] = "4";
    EXPECT_FALSE(decodeFilterStats(j.dump()));
    EXPECT_FALSE(decodeFilterStats("not json"));
}

#include "core/domain/FilterSettingsCoding.h"
#include "core/domain/FilterStatsCoding.h"
#include "core/fakes/RecordingKeyValueStore.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <limits>
#include <optional>
#include <string>
#include <vector>

using namespace tavrine;
using nlohmann::json;

TEST(FilterSettingsCoding, RoundTripsRecordsExactly) {
    FilterSettings unusual = tavrine::testing::everyFieldChanged();
    unusual.launchAtLogin = true;
    unusual.matrixColorArgb = 0xFFFFFFFFFFFFFFFFULL;
    FilterSettings extremes;
    extremes.inattentionDelayMs = std::numeric_limits<std::int64_t>::min();
    extremes.filterStrength = std::numeric_limits<int>::max();
    extremes.privacyMatrixCoefficient = std::numeric_limits<float>::max();
    extremes.matrixStripeAlpha = std::numeric_limits<float>::denorm_min();
    for (const FilterSettings& s : {FilterSettings(), unusual, extremes}) {
        const auto encoded = encodeFilterSettings(s);
        ASSERT_TRUE(encoded) << encoded.error();
        const auto decoded = decodeFilterSettings(*encoded);
        ASSERT_TRUE(decoded) << decoded.error();
        EXPECT_EQ(*decoded, s);
    }
}

// Every key of the first version is required and strictly typed, and the error names it; the keys added
// later may be missing (their defaults then) but not mistyped.
TEST(FilterSettingsCoding, EveryKeyIsRequiredWithItsType) {
    const std::pair<std::string, std::vector<std::string>> wrongTypes[] = {
        {"captureFps", {"\"10\"", "10.5", "true", "null"}},
        {"filterStrength", {"3000000000", "[3]"}},
        {"hapticOnAlert", {"1", "\"true\""}},
        {"matrixColorArgb", {"-1", "1.0"}},
        {"matrixStripeAlpha", {"\"0.42\"", "1e300"}},
        {"inattentionDelayMs", {"18446744073709551615"}},
        {"isCalibrated", {"{}"}},
        {"lockOnAbsence", {"1"}},
        {"lockDelayMs", {"\"60000\""}}};
    // That value instead of the encoded one, or the key left out.
    const auto expectError = [](const std::string& key, const std::optional<std::string>& value) {
        json j = json::parse(*encodeFilterSettings(FilterSettings()));
        if (value) {
            j[key] = json::parse(*value);
        } else {
            j.erase(key);
        }
        const auto decoded = decodeFilterSettings(j.dump());
        ASSERT_FALSE(decoded) << key << " = " << value.value_or("(missing)");
        EXPECT_NE(decoded.error().find(key), std::string::npos) << decoded.error();
    };
    for (const auto& [key, values] : wrongTypes) {
        for (const std::string& value : values) {
            expectError(key, value);
        }
    }
    const json encoded = json::parse(*encodeFilterSettings(FilterSettings()));
    for (const auto& item : encoded.items()) {
        if (item.key() != "lockOnAbsence" && item.key() != "lockDelayMs") {
            expectError(item.key(), std::nullopt);
        }
    }
    json old = json::parse(*encodeFilterSettings(tavrine::testing::everyFieldChanged()));
    old.erase("lockOnAbsence");
    old.erase("lockDelayMs");
    FilterSettings expected = tavrine::testing::everyFieldChanged();
    expected.lockOnAbsence = false;
    expected.lockDelayMs = 60'000;
    const auto decoded = decodeFilterSettings(old.dump());
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(*decoded, expected);
    // Text that is no record at all is an error too, not a crash.
    for (const char* text : {"", "{", "[]", "null", "42", "{\"filterStrength\":", "\xff\xfe garbage", "{}"}) {
        const auto malformed = decodeFilterSettings(text);
        EXPECT_FALSE(malformed) << text;
        EXPECT_FALSE(malformed.error().empty());
    }
}

// Every count is an integer; only the lock count, added later, may be missing (no lock then).
TEST(FilterStatsCoding, EveryCountIsAnIntegerAndOnlyTheLockCountMayBeMissing) {
    EXPECT_FALSE(decodeFilterStats("not json"));
    EXPECT_TRUE(decodeFilterStats(encodeFilterStats({1, 2, 3, 4})));
    for (const std::string key : {"alertCount", "sessionCount", "totalActiveSeconds", "lockCount"}) {
        json j = json::parse(encodeFilterStats({1, 2, 3, 4}));
        j.erase(key);
        const auto missing = decodeFilterStats(j.dump());
        ASSERT_EQ(missing.ok(), key == "lockCount") << key;
        if (missing) {
            EXPECT_EQ(missing->lockCount, 0);
        }
        for (const json& wrong : {json("5"), json(5.5)}) {
            j[key] = wrong;
            EXPECT_FALSE(decodeFilterStats(j.dump())) << key << " = " << wrong.dump();
        }
    }
}

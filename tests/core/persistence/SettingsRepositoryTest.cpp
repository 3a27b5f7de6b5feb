#include "core/persistence/SettingsRepository.h"
#include "core/fakes/RecordingKeyValueStore.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

using namespace tavrine;
using tavrine::testing::everyFieldChanged;
using tavrine::testing::FakeLoginItem;
using tavrine::testing::RecordingKeyValueStore;

namespace {

class SettingsRepositoryTest : public ::testing::Test {
  protected:
    RecordingKeyValueStore store;
    FakeLoginItem login;
    std::ostringstream diagnostics;
};

} // namespace

TEST_F(SettingsRepositoryTest, AnEmptyStoreLoadsTheFallbacksWithStripeAlpha042) {
    login.enabled = true;
    SettingsRepository repo(store, login, diagnostics);
    const FilterSettings& s = repo.settings.get();
    FilterSettings expected;
    expected.matrixStripeAlpha = 0.42f;
    expected.launchAtLogin = true;
    EXPECT_EQ(s, expected);
    EXPECT_TRUE(store.writes.empty()) << "loading must not write";
}

TEST_F(SettingsRepositoryTest, SaveAndReloadRoundTripsAChangedRecord) {
    SettingsRepository repo(store, login, diagnostics);
    repo.save(everyFieldChanged());
    SettingsRepository reloaded(store, login, diagnostics);
    EXPECT_EQ(reloaded.settings.get(), everyFieldChanged());
}

TEST_F(SettingsRepositoryTest, AStoreWrittenBeforeTheLockSettingLoadsItOffWithOneMinute) {
    SettingsRepository writer(store, login, diagnostics);
    writer.save(everyFieldChanged());
    store.values.erase("lock_on_absence");
    store.values.erase("lock_delay_ms");
    SettingsRepository repo(store, login, diagnostics);
    FilterSettings expected = everyFieldChanged();
    expected.lockOnAbsence = false;
    expected.lockDelayMs = 60'000;
    EXPECT_EQ(repo.settings.get(), expected);
}

TEST_F(SettingsRepositoryTest, IntegerReadKeysTurnAStoredZeroIntoTheFallbackButObjectReadsKeepIt) {
    SettingsRepository repo(store, login, diagnostics);
    FilterSettings s;
    s.batteryThresholdPercent = 0;
    s.filterStrength = 0;
    s.calibrationDistanceCm = 0;
    s.sensitivity = 0;
    s.inattentionDelayMs = 0;
    s.captureFps = 0;
    s.matrixColorArgb = 0;
    s.hapticOnAlert = false;
    s.privacyMatrixCoefficient = 0.0f;
    repo.save(s);
    repo.load();
    const FilterSettings& r = repo.settings.get();
    EXPECT_EQ(r.batteryThresholdPercent, 0);
    EXPECT_EQ(r.filterStrength, 3);
    EXPECT_EQ(r.calibrationDistanceCm, 60);
    EXPECT_EQ(r.sensitivity, 3);
    EXPECT_EQ(r.inattentionDelayMs, 1500);
    EXPECT_EQ(r.captureFps, 10);
    EXPECT_EQ(r.matrixColorArgb, 0xFF000000ULL);
    EXPECT_FALSE(r.hapticOnAlert);
    EXPECT_EQ(r.privacyMatrixCoefficient, 0.0f);
}

TEST_F(SettingsRepositoryTest, UnconvertibleObjectsFallBackAndTextNeverCountsAsABoolean) {
    store.values["haptic_on_alert"] = std::string("no");
    store.values["glasses_compat"] = std::int64_t{7};
    store.values["privacy_matrix_enabled"] = std::int64_t{0}; // a boxed 0 is false
    store.values["battery_threshold"] = 12.5;
    store.values["matrix_stripe_alpha"] = std::string("0.5");
    store.values["privacy_matrix_coefficient"] = std::numeric_limits<double>::quiet_NaN();
    store.values["global_shortcut_enabled"] = 1.0;
    store.values["cover_all_screens"] = false;
    store.values["overlay_on_camera_busy"] = std::string("yes");
    SettingsRepository repo(store, login, diagnostics);
    const FilterSettings& s = repo.settings.get();
    EXPECT_TRUE(s.hapticOnAlert);
    EXPECT_TRUE(s.glassesCompat);
    EXPECT_FALSE(s.privacyMatrixEnabled);
    EXPECT_EQ(s.batteryThresholdPercent, 10);
    EXPECT_EQ(s.matrixStripeAlpha, 0.42f);
    EXPECT_EQ(s.privacyMatrixCoefficient, 2.0f);
    EXPECT_TRUE(s.globalShortcutEnabled);
    EXPECT_FALSE(s.coverAllScreens);
    EXPECT_FALSE(s.overlayOnCameraBusy);
}

TEST_F(SettingsRepositoryTest, NumbersOutsideWhatTheAppCouldHaveWrittenFallBack) {
    store.values["filter_strength"] = std::int64_t{1} << 40;
    store.values["capture_fps"] = std::int64_t{-5};
    store.values["battery_threshold"] = std::int64_t{-1};
    store.values["calibration_distance_cm"] = std::numeric_limits<std::int64_t>::min();
    store.values["matrix_stripe_alpha"] = 1e300;
    store.values["inattention_delay_ms"] = std::numeric_limits<std::int64_t>::max();
    SettingsRepository repo(store, login, diagnostics);
    const FilterSettings& s = repo.settings.get();
    EXPECT_EQ(s.filterStrength, 3);
    EXPECT_EQ(s.captureFps, 10);
    EXPECT_EQ(s.batteryThresholdPercent, 10);
    EXPECT_EQ(s.calibrationDistanceCm, 60);
    EXPECT_EQ(s.matrixStripeAlpha, 0.42f);
    EXPECT_EQ(s.inattentionDelayMs, std::numeric_limits<std::int64_t>::max()); // int64 field: kept as is
}

TEST_F(SettingsRepositoryTest, TheLoginItemIsTouchedOnlyWhenLaunchAtLoginChanges) {
    SettingsRepository repo(store, login, diagnostics);
    repo.save(everyFieldChanged());
    EXPECT_TRUE(login.requests.empty());
    FilterSettings on = everyFieldChanged();
    on.launchAtLogin = true;
    repo.save(on);
    repo.save(on);
    on.launchAtLogin = false;
    repo.save(on);
    EXPECT_EQ(login.requests, (std::vector<bool>{true, false}));
    EXPECT_TRUE(diagnostics.str().empty());
}

TEST_F(SettingsRepositoryTest, ALoginItemFailureIsOneDiagnosticLineAndTheRecordKeepsTheRequest) {
    login.failWith = "permission denied";
    SettingsRepository repo(store, login, diagnostics);
    FilterSettings on;
    on.launchAtLogin = true;
    repo.save(on);
    EXPECT_EQ(diagnostics.str(), "autostart error: permission denied\n");
    EXPECT_TRUE(repo.settings.get().launchAtLogin);
    EXPECT_EQ(store.writes.size(), 19u) << "the 18 keys and the flush were still written";
    repo.load();
    EXPECT_FALSE(repo.settings.get().launchAtLogin); // the real status again
}

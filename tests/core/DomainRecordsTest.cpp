#include "core/domain/DetectionInput.h"
#include "core/domain/FaceData.h"
#include "core/domain/FilterSettings.h"
#include "core/domain/FilterState.h"

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <string>

using namespace tavrine;

TEST(FaceData, EqualityIsFieldByFieldAndANaNFieldIsNeverEqual) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ((FaceData{1.0f, 2.0f, 0.3f}), (FaceData{1.0f, 2.0f, 0.3f}));
    EXPECT_NE((FaceData{1.0f, 2.0f, 0.3f}), (FaceData{1.0f, 2.0f, 0.31f}));
    EXPECT_EQ((FaceData{0.0f, -0.0f, 0.0f}), (FaceData{-0.0f, 0.0f, 0.0f}));
    for (const FaceData& f : {FaceData{nan, 0, 0}, FaceData{0, nan, 0}, FaceData{0, 0, nan}}) {
        const FaceData copy = f;
        EXPECT_FALSE(copy == f);
        EXPECT_TRUE(copy != f);
    }
}

TEST(DetectionInput, AFrameWithoutAKeptFaceHasNoPrimaryFace) {
    const DetectionInput empty{1000, 0, std::nullopt};
    EXPECT_EQ(empty.faceCount, 0);
    EXPECT_FALSE(empty.primaryFace.has_value());
    const DetectionInput defaulted{};
    EXPECT_FALSE(defaulted.primaryFace.has_value());
}

TEST(FilterState, EqualityIsStructuralOverCaseAndPayload) {
    using P = PauseReason;
    EXPECT_NE(FilterState::nominal(3), FilterState::nominal(4));
    EXPECT_NE(FilterState::nominal(3), FilterState::inattention(3));
    EXPECT_NE(FilterState::autoPaused(P::userPaused(1000)), FilterState::autoPaused(P::userPaused(2000)));
    EXPECT_EQ(FilterState::cameraBusy(5000), FilterState::cameraBusy(5000));
    EXPECT_NE(FilterState::cameraBusy(5000), FilterState::cameraBusy(4999));
    EXPECT_NE(FilterState::autoPaused(P::screenOff()), FilterState::autoPaused(P::lowBattery()));
    EXPECT_NE(FilterState::autoPaused(P::userPaused(0)), FilterState::autoPaused(P::screenOff()));
    EXPECT_EQ(FilterState::inactive(), FilterState{});
    EXPECT_NE(P::userPaused(0), P::screenOff());
    // Payload-less cases never differ by a stray payload.
    EXPECT_EQ(FilterState::alert(), FilterState::alert());
    EXPECT_NE(FilterState::alert(), FilterState::inactive());
}

TEST(FilterState, EveryCaseHasItsOwnReadableName) {
    using P = PauseReason;
    const FilterState all[] = {FilterState::nominal(3),
                               FilterState::inattention(3),
                               FilterState::autoPaused(P::userPaused(1000)),
                               FilterState::autoPaused(P::screenOff()),
                               FilterState::autoPaused(P::lowBattery()),
                               FilterState::cameraBusy(5000),
                               FilterState::inactive(),
                               FilterState::alert()};
    std::set<std::string> names;
    for (const FilterState& s : all) {
        names.insert(toString(s));
    }
    EXPECT_EQ(names.size(), std::size(all));
    EXPECT_EQ(toString(FilterState::autoPaused(P::userPaused(1000))), "autoPaused(userPaused(1000))");
}

TEST(FilterSettings, DefaultRecordMatchesTheDocumentedDefaults) {
    const FilterSettings expected{3,    3,     1500,  10,    true,          false, 10,
                                  true, false, true,  2.0f,  0xFF000000ULL, 0.72f, true,
                                  true, 60,    false, false, 60'000};
    EXPECT_EQ(FilterSettings(), expected);
}

TEST(FilterSettings, EveryFieldTakesPartInEquality) {
    const FilterSettings base;
    auto differs = [&](auto mutate) {
        FilterSettings other = base;
        mutate(other);
        return !(other == base);
    };
    EXPECT_TRUE(differs([](FilterSettings& s) { s.filterStrength = 4; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.sensitivity = 1; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.inattentionDelayMs = 500; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.captureFps = 5; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.hapticOnAlert = false; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.launchAtLogin = true; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.batteryThresholdPercent = 0; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.glassesCompat = false; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.overlayOnCameraBusy = true; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.privacyMatrixEnabled = false; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.privacyMatrixCoefficient = 2.5f; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.matrixColorArgb = 0xFFFF0000ULL; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.matrixStripeAlpha = 0.42f; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.globalShortcutEnabled = false; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.coverAllScreens = false; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.calibrationDistanceCm = 61; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.isCalibrated = true; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.lockOnAbsence = true; }));
    EXPECT_TRUE(differs([](FilterSettings& s) { s.lockDelayMs = 30'000; }));
    EXPECT_TRUE(
        differs([](FilterSettings& s) { s.matrixStripeAlpha = std::numeric_limits<float>::quiet_NaN(); }));
}

TEST(SettingsKey, RawValuesAreTheStoredKeyStringsInCaseOrder) {
    const char* expected[] = {"filter_strength",
                              "sensitivity",
                              "inattention_delay_ms",
                              "capture_fps",
                              "haptic_on_alert",
                              "launch_at_login",
                              "battery_threshold",
                              "glasses_compat",
                              "overlay_on_camera_busy",
                              "privacy_matrix_enabled",
                              "privacy_matrix_coefficient",
                              "matrix_color_argb",
                              "matrix_stripe_alpha",
                              "global_shortcut_enabled",
                              "cover_all_screens",
                              "has_completed_onboarding",
                              "calibration_distance_cm",
                              "is_calibrated",
                              "lock_on_absence",
                              "lock_delay_ms"};
    for (int i = 0; i < 20; ++i) {
        EXPECT_STREQ(rawValue(static_cast<SettingsKey>(i)), expected[i]) << i;
    }
}

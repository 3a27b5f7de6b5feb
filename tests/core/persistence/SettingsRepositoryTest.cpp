#include "core/persistence/SettingsRepository.h"
#include "core/fakes/RecordingKeyValueStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

using namespace tavrine;
using namespace tavrine::testing;

// Every key is written under its stored name, then flushed, and reloads the same record. The login item is
// asked only when the choice changes. A failure is one diagnostic line; every key is still written, and
// the record keeps the request until the next load reads the real status.
TEST(SettingsRepository, SaveWritesEveryKeyAndAsksTheLoginItemOnlyWhenItsChoiceChanges) {
    RecordingKeyValueStore store;
    FakeLoginItem login;
    std::ostringstream diagnostics;
    SettingsRepository repo(store, login, diagnostics);
    FilterSettings s = everyFieldChanged();
    repo.save(s);
    EXPECT_EQ(store.writes.back(), "flush");
    std::ranges::sort(store.writes);
    EXPECT_EQ(store.writes,
              (std::vector<std::string>{"battery_threshold=0", "calibration_distance_cm=47", "capture_fps=15",
                                        "cover_all_screens=false", "filter_strength=5", "flush",
                                        "glasses_compat=false", "global_shortcut_enabled=false",
                                        "haptic_on_alert=false", "inattention_delay_ms=3000",
                                        "is_calibrated=true", "lock_delay_ms=120000", "lock_on_absence=true",
                                        "matrix_color_argb=4279312947", "matrix_stripe_alpha=0.550000",
                                        "overlay_on_camera_busy=true", "privacy_matrix_coefficient=3.500000",
                                        "privacy_matrix_enabled=false", "sensitivity=1"}));
    EXPECT_EQ(SettingsRepository(store, login, diagnostics).settings.get(), s);
    s.launchAtLogin = true;
    repo.save(s);
    repo.save(s);

    login.failWith = "permission denied";
    s.launchAtLogin = false;
    store.writes.clear();
    repo.save(s);
    EXPECT_EQ(login.requests, (std::vector<bool>{true, false}));
    EXPECT_EQ(diagnostics.str(), "autostart error: permission denied\n");
    EXPECT_EQ(store.writes.size(), 19u);
    EXPECT_FALSE(repo.settings.get().launchAtLogin);
    repo.load();
    s.launchAtLogin = true;
    EXPECT_EQ(repo.settings.get(), s);
}

// What a save could not do is published for the preferences to say, and each report is taken back by the
// next save that goes through: values that reach memory only (each save asks the store again), and a login
// item that refused a change (a save that does not touch the login item leaves its report as it was; one
// that asks for the state the item is already in clears it).
TEST(SettingsRepository, WhatASaveCouldNotDoIsPublishedUntilASaveGoesThrough) {
    RecordingKeyValueStore store;
    FakeLoginItem login;
    std::ostringstream diagnostics;
    SettingsRepository repo(store, login, diagnostics);
    std::vector<std::string> heard;
    Subscription a = repo.keptForSessionOnly.subscribe(
        [&](bool lost) { heard.push_back(lost ? "session only" : "saved"); });
    Subscription b = repo.loginItemError.subscribe(
        [&](const std::string& e) { heard.push_back(!e.empty() ? "login: " + e : "login ok"); });
    FilterSettings s;
    const struct {
        bool flushFails;
        std::optional<std::string> loginFails;
        bool launchAtLogin;
        std::vector<std::string> heard; // what the save publishes, beyond the record itself
    } steps[] = {
        {false, std::nullopt, false, {}},       {true, std::nullopt, false, {"session only"}},
        {true, std::nullopt, false, {}},        {true, "read-only", true, {"login: read-only"}},
        {false, std::nullopt, true, {"saved"}}, // the login item is not asked again: its report stays
        {false, "full", false, {"login ok"}},   // back as the item already is: nothing was refused
        {false, "full", true, {"login: full"}}, {false, "full", false, {"login ok"}},
    };
    heard.clear();
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        store.flushFails = steps[i].flushFails;
        login.failWith = steps[i].loginFails;
        s.launchAtLogin = steps[i].launchAtLogin;
        s.filterStrength = 1 + int(i % 5);
        repo.save(s);
        EXPECT_EQ(heard, steps[i].heard) << "save " << i;
        heard.clear();
    }
    EXPECT_FALSE(repo.keptForSessionOnly.get());
    EXPECT_EQ(repo.loginItemError.get(), "");
    login.failWith.reset();
    EXPECT_EQ(repo.setLaunchAtLogin(true), std::nullopt);
    login.failWith = "gone";
    EXPECT_EQ(repo.setLaunchAtLogin(false), std::optional<std::string>("gone"));
    EXPECT_EQ(heard, (std::vector<std::string>{"login: gone"})) << "the onboarding's request is told too";
    repo.refreshLaunchAtLogin();
    EXPECT_TRUE(repo.settings.get().launchAtLogin) << "the item stayed registered";
    EXPECT_EQ(repo.loginItemError.get(), "") << "the switch shows the truth again";
}

// One stored value at a time: what loads, or the field's fallback. Integer reads take a stored 0 for the
// fallback, object reads keep it; numbers a field cannot hold, or that the application could not have
// written, fall back; booleans come only from booleans and the numbers 0 and 1, never from text.
TEST(SettingsRepository, EachStoredValueLoadsOrFallsBack) {
    RecordingKeyValueStore store;
    FakeLoginItem login;
    std::ostringstream diagnostics;
    using S = FilterSettings;
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    const std::int64_t zero = 0;
    const struct {
        const char* key;
        StoredValue stored;
        std::function<void(S&)> expect; // nothing: the fallback
    } cases[] = {
        {"filter_strength", zero, {}},
        {"sensitivity", zero, {}},
        {"inattention_delay_ms", zero, {}},
        {"capture_fps", zero, {}},
        {"calibration_distance_cm", zero, {}},
        {"matrix_color_argb", zero, {}},
        {"battery_threshold", zero, [](S& s) { s.batteryThresholdPercent = 0; }},
        {"privacy_matrix_coefficient", 0.0, [](S& s) { s.privacyMatrixCoefficient = 0; }},
        {"haptic_on_alert", false, [](S& s) { s.hapticOnAlert = false; }},
        {"matrix_color_argb", std::int64_t{-1}, [](S& s) { s.matrixColorArgb = 0xFFFFFFFFFFFFFFFFULL; }},
        {"filter_strength", std::int64_t{1} << 40, {}},
        {"capture_fps", std::int64_t{-5}, {}},
        {"battery_threshold", std::int64_t{-1}, {}},
        {"calibration_distance_cm", std::numeric_limits<std::int64_t>::min(), {}},
        {"inattention_delay_ms", std::numeric_limits<std::int64_t>::max(),
         [](S& s) { s.inattentionDelayMs = std::numeric_limits<std::int64_t>::max(); }},
        {"privacy_matrix_enabled", zero, [](S& s) { s.privacyMatrixEnabled = false; }},
        {"global_shortcut_enabled", 0.0, [](S& s) { s.globalShortcutEnabled = false; }},
        {"cover_all_screens", false, [](S& s) { s.coverAllScreens = false; }},
        {"haptic_on_alert", std::string("no"), {}},
        {"haptic_on_alert", 0.5, {}},
        {"cover_all_screens", nan, {}},
        {"overlay_on_camera_busy", std::string("yes"), {}},
        {"battery_threshold", true, [](S& s) { s.batteryThresholdPercent = 1; }},
        {"battery_threshold", 20.0, [](S& s) { s.batteryThresholdPercent = 20; }},
        {"battery_threshold", 12.5, {}},
        {"battery_threshold", (std::int64_t{1} << 32) + 20, {}},
        {"battery_threshold", 1e12, {}},
        {"battery_threshold", nan, {}},
        {"battery_threshold", std::string("20"), {}},
        {"privacy_matrix_coefficient", std::int64_t{3}, [](S& s) { s.privacyMatrixCoefficient = 3; }},
        {"privacy_matrix_coefficient", nan, {}},
        {"privacy_matrix_coefficient", -inf, {}},
        {"matrix_stripe_alpha", 0.5, [](S& s) { s.matrixStripeAlpha = 0.5f; }},
        {"matrix_stripe_alpha", 1e39, {}},
        {"matrix_stripe_alpha", std::string("0.5"), {}},
    };
    login.enabled = true;
    S fallbacks;
    fallbacks.matrixStripeAlpha = 0.42f;
    fallbacks.launchAtLogin = true; // the login item's own status
    EXPECT_EQ(SettingsRepository(store, login, diagnostics).settings.get(), fallbacks) << "an empty store";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + (" = " + ::testing::PrintToString(c.stored)));
        store.values = {{c.key, c.stored}};
        S expected = fallbacks;
        if (c.expect) {
            c.expect(expected);
        }
        EXPECT_EQ(SettingsRepository(store, login, diagnostics).settings.get(), expected);
    }
    EXPECT_TRUE(store.writes.empty()) << "loading must not write";
}

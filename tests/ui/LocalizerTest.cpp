#include "platform/linux/i18n/QtLocalizer.h"

#include <gtest/gtest.h>

using namespace tavrine;

TEST(QtLocalizer, EveryKeyHasItsFrenchText) {
    QtLocalizer l;
    ASSERT_TRUE(l.isLoaded());
    const char* keys[] = {"home_status_active",
                          "home_status_inactive",
                          "home_open_stats",
                          "home_open_settings",
                          "about_title",
                          "notif_alert_title",
                          "notif_alert_text",
                          "stats_title",
                          "stats_header",
                          "stats_alerts_label",
                          "stats_sessions_label",
                          "stats_time_label",
                          "stats_locks_label",
                          "stats_back",
                          "stats_reset",
                          "stats_reset_confirm",
                          "stats_reset_yes",
                          "stats_reset_cancel",
                          "onboarding_camera_title",
                          "onboarding_camera_body",
                          "onboarding_grant",
                          "onboarding_skip",
                          "onboarding_overlay_title",
                          "onboarding_notif_title",
                          "onboarding_notif_body",
                          "about_version",
                          "about_developer_title",
                          "about_developer_body",
                          "about_project_title",
                          "about_project_body",
                          "about_privacy_title",
                          "about_privacy_body"};
    for (const char* key : keys) {
        const std::string text = l.text(key);
        EXPECT_NE(text, key) << key;
        EXPECT_FALSE(text.empty()) << key;
    }
    EXPECT_EQ(l.text("notif_alert_title"), "Regard indiscret détecté");
    EXPECT_EQ(l.text("⌘⇧C"), "Super+Maj+C");
    EXPECT_EQ(l.text("about_version"), "Version %1");
}

TEST(QtLocalizer, AMissingEntryShowsTheKey) {
    QtLocalizer l;
    EXPECT_EQ(l.text("no_such_key"), "no_such_key");
    EXPECT_EQ(l.text(""), "");
    EXPECT_EQ(l.text("Tavrine"), "Tavrine");
}

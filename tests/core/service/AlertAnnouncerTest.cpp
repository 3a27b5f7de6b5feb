#include "core/service/AlertAnnouncer.h"

#include "core/fakes/ServiceRig.h"
#include "core/util/VirtualExecutor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tavrine {
namespace {

using namespace tavrine::testing;

struct SpacingCase {
    const char* name;
    // When each alert begins, in ms of wall clock from the first one (negative: the clock was set back).
    std::vector<std::int64_t> alertsAtMs;
    std::vector<bool> announced;
    bool withHaptics = true;
};

class AlertAnnouncerSpacing : public ::testing::TestWithParam<SpacingCase> {};

TEST_P(AlertAnnouncerSpacing, AnnouncesAtMostOncePer30Seconds) {
    const SpacingCase& c = GetParam();
    VirtualExecutor clock;
    FakeNotifier notifier;
    FakeHaptics haptics;
    MemoryStore store;
    StatsRepository stats{store};
    KeyLocalizer localizer;
    AlertAnnouncer announcer(AlertAnnouncer::Dependencies{clock, notifier, haptics, stats, localizer});
    const std::int64_t t0 = clock.nowMs();
    std::vector<bool> announced;
    for (std::int64_t at : c.alertsAtMs) {
        clock.setNowMs(t0 + at);
        announced.push_back(announcer.alertStarted(c.withHaptics));
    }
    EXPECT_EQ(announced, c.announced);
    const auto count = static_cast<std::int64_t>(std::count(announced.begin(), announced.end(), true));
    EXPECT_EQ(static_cast<std::int64_t>(notifier.posts.size()), count);
    EXPECT_EQ(haptics.pulses, c.withHaptics ? count : 0);
    EXPECT_EQ(stats.stats.get().alertCount, count);
    for (const auto& post : notifier.posts) {
        EXPECT_EQ(post.identifier, AlertAnnouncer::notificationId);
        EXPECT_EQ(post.title, "notif_alert_title");
        EXPECT_EQ(post.body, "notif_alert_text");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AlertAnnouncerSpacing,
    ::testing::Values(
        SpacingCase{"TenSecondsApartOnceThirtyLaterAgain", {0, 10'000, 30'000}, {true, false, true}},
        SpacingCase{"JustUnderTheSpacingIsSilent", {0, 29'999, 30'000}, {true, false, true}},
        SpacingCase{
            "CountsFromTheLastAnnouncedAlert", {0, 20'000, 40'000, 60'000}, {true, false, true, false}},
        SpacingCase{"ClockSetBackDoesNotSilence", {0, -3'600'000, -3'590'000}, {true, true, false}},
        SpacingCase{"WithoutHapticsStillNotifiesAndCounts", {0, 10'000}, {true, false}, false}),
    [](const ::testing::TestParamInfo<SpacingCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace tavrine

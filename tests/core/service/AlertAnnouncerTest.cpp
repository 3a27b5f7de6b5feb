#include "core/service/AlertAnnouncer.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tavrine {
namespace {

using namespace tavrine::testing;

TEST(AlertAnnouncer, AnnouncesAtMostOncePer30Seconds) {
    const struct {
        const char* name;
        // When each alert begins, in ms of wall clock from the first one (negative: the clock was set back).
        std::vector<std::int64_t> alertsAtMs;
        std::vector<bool> announced;
        bool withHaptics = true;
    } cases[] = {
        {"just under the spacing is silent", {0, 29'999, 30'000}, {true, false, true}},
        {"counts from the last announced alert", {0, 20'000, 40'000, 60'000}, {true, false, true, false}},
        {"a clock set back does not silence", {0, -3'600'000, -3'590'000}, {true, true, false}},
        {"without haptics still notifies and counts", {0, 10'000}, {true, false}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r; // its filter stays stopped
        AlertAnnouncer announcer(
            AlertAnnouncer::Dependencies{r.exec, r.notifier, r.haptics, r.stats, r.localizer});
        const std::int64_t t0 = r.exec.nowMs();
        std::vector<bool> announced;
        for (std::int64_t at : c.alertsAtMs) {
            r.exec.setNowMs(t0 + at);
            announced.push_back(announcer.alertStarted(c.withHaptics));
        }
        EXPECT_EQ(announced, c.announced);
        const auto count = std::ranges::count(announced, true);
        EXPECT_EQ(std::ssize(r.notifier.posts), count);
        EXPECT_EQ(r.haptics.pulses, c.withHaptics ? count : 0);
        EXPECT_EQ(r.stats.stats.get().alertCount, count);
        for (const auto& post : r.notifier.posts) {
            EXPECT_EQ(post.identifier, AlertAnnouncer::notificationId);
            EXPECT_EQ(post.title, "notif_alert_title");
            EXPECT_EQ(post.body, "notif_alert_text");
        }
    }
}

} // namespace
} // namespace tavrine

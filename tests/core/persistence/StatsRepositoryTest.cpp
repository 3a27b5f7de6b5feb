#include "core/persistence/StatsRepository.h"
#include "core/fakes/RecordingKeyValueStore.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace tavrine;

// The counts survive a restart, a damaged huge figure saturates instead of overflowing, and a reset
// publishes one zero record and writes the four keys.
TEST(StatsRepository, CountsSurviveARestartSaturateAndReset) {
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    tavrine::testing::RecordingKeyValueStore store;
    store.values["stats_lock_count"] = std::int64_t{2};
    store.values["stats_total_active_seconds"] = max - 5;
    store.values["stats_alert_count"] = max;
    {
        StatsRepository repo(store);
        repo.incrementSessions();
        repo.addActiveSeconds(90);
        repo.incrementAlerts();
    }
    StatsRepository repo(store);
    std::vector<std::vector<std::int64_t>> published;
    auto sub = repo.stats.subscribe([&](const FilterStats& s) {
        published.push_back({s.alertCount, s.sessionCount, s.totalActiveSeconds, s.lockCount});
    });
    store.writes.clear();
    repo.reset();
    EXPECT_EQ(published, (std::vector<std::vector<std::int64_t>>{{max, 1, max, 2}, {0, 0, 0, 0}}));
    EXPECT_EQ(store.writes,
              (std::vector<std::string>{"stats_alert_count=0", "stats_session_count=0",
                                        "stats_total_active_seconds=0", "stats_lock_count=0", "flush"}));
}

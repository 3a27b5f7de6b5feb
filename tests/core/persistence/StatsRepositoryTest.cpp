#include "core/persistence/StatsRepository.h"
#include "core/fakes/RecordingKeyValueStore.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace tavrine;
using tavrine::testing::RecordingKeyValueStore;

TEST(StatsRepository, CountsSurviveARestart) {
    RecordingKeyValueStore store;
    {
        StatsRepository repo(store);
        repo.incrementAlerts();
        repo.incrementAlerts();
        repo.incrementSessions();
    }
    StatsRepository again(store);
    EXPECT_EQ(again.stats.get().alertCount, 2);
    EXPECT_EQ(again.stats.get().sessionCount, 1);
}

TEST(StatsRepository, ResetPublishesOneZeroRecordAndWritesTheFourKeysInOrder) {
    RecordingKeyValueStore store;
    store.values["stats_lock_count"] = std::int64_t{2};
    store.values["stats_alert_count"] = std::int64_t{4};
    store.values["stats_session_count"] = std::int64_t{9};
    store.values["stats_total_active_seconds"] = std::int64_t{3600};
    StatsRepository repo(store);
    EXPECT_EQ(repo.stats.get().totalActiveSeconds, 3600);
    EXPECT_EQ(repo.stats.get().lockCount, 2);
    int publications = 0;
    auto sub = repo.stats.subscribe([&](const FilterStats& s) {
        ++publications;
        if (publications == 2) {
            EXPECT_EQ(s.alertCount + s.sessionCount + s.totalActiveSeconds + s.lockCount, 0);
        }
    });
    repo.reset();
    EXPECT_EQ(publications, 2);
    EXPECT_EQ(store.writes,
              (std::vector<std::string>{"stats_alert_count=0", "stats_session_count=0",
                                        "stats_total_active_seconds=0", "stats_lock_count=0", "flush"}));
}

TEST(StatsRepository, ADamagedHugeFigureSaturatesInsteadOfOverflowing) {
    RecordingKeyValueStore store;
    store.values["stats_total_active_seconds"] = std::numeric_limits<std::int64_t>::max() - 5;
    store.values["stats_alert_count"] = std::numeric_limits<std::int64_t>::max();
    StatsRepository repo(store);
    repo.addActiveSeconds(90);
    repo.incrementAlerts();
    EXPECT_EQ(repo.stats.get().totalActiveSeconds, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(repo.stats.get().alertCount, std::numeric_limits<std::int64_t>::max());
}

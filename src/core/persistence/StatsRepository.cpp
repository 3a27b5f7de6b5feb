#include "core/persistence/StatsRepository.h"

#include "core/util/SaturatingMath.h"

namespace tavrine {

namespace {
constexpr const char* alertCountKey = "stats_alert_count";
constexpr const char* sessionCountKey = "stats_session_count";
constexpr const char* totalActiveSecondsKey = "stats_total_active_seconds";
constexpr const char* lockCountKey = "stats_lock_count";
} // namespace

StatsRepository::StatsRepository(KeyValueStore& defaults) : defaults_(defaults) {
    load();
}

void StatsRepository::load() {
    stats = FilterStats{defaults_.readInt(alertCountKey), defaults_.readInt(sessionCountKey),
                        defaults_.readInt(totalActiveSecondsKey), defaults_.readInt(lockCountKey)};
}

// The counters never clamp in practice; the saturating sums only keep a damaged stored figure near the
// int64 limit from overflowing.
void StatsRepository::incrementAlerts() {
    stats.modify([](FilterStats& s) { s.alertCount = saturatingAdd(s.alertCount, 1); });
    defaults_.setInteger(alertCountKey, stats.get().alertCount);
    defaults_.flush();
}

void StatsRepository::incrementSessions() {
    stats.modify([](FilterStats& s) { s.sessionCount = saturatingAdd(s.sessionCount, 1); });
    defaults_.setInteger(sessionCountKey, stats.get().sessionCount);
    defaults_.flush();
}

void StatsRepository::addActiveSeconds(std::int64_t seconds) {
    stats.modify(
        [seconds](FilterStats& s) { s.totalActiveSeconds = saturatingAdd(s.totalActiveSeconds, seconds); });
    defaults_.setInteger(totalActiveSecondsKey, stats.get().totalActiveSeconds);
    defaults_.flush();
}

void StatsRepository::incrementLocks() {
    stats.modify([](FilterStats& s) { s.lockCount = saturatingAdd(s.lockCount, 1); });
    defaults_.setInteger(lockCountKey, stats.get().lockCount);
    defaults_.flush();
}

void StatsRepository::reset() {
    stats = FilterStats{};
    defaults_.setInteger(alertCountKey, 0);
    defaults_.setInteger(sessionCountKey, 0);
    defaults_.setInteger(totalActiveSecondsKey, 0);
    defaults_.setInteger(lockCountKey, 0);
    defaults_.flush();
    resets.notify();
}

} // namespace tavrine

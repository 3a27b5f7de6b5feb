#pragma once

#include "core/domain/FilterStats.h"
#include "core/persistence/KeyValueStore.h"
#include "core/util/Published.h"
#include "core/util/Signal.h"

#include <cstdint>

namespace tavrine {

// Lifetime statistics, mirrored into the store at every change. Main thread only.
class StatsRepository {
  public:
    explicit StatsRepository(KeyValueStore& defaults);
    StatsRepository(const StatsRepository&) = delete;
    StatsRepository& operator=(const StatsRepository&) = delete;

    // Assigning directly publishes but persists nothing.
    Published<FilterStats> stats{FilterStats{}};

    void incrementAlerts();
    void incrementSessions();
    void addActiveSeconds(std::int64_t seconds);
    void incrementLocks();
    void reset();
    // After each reset: a run going on counts its time from then on.
    Signal<> resets;

  private:
    void load();

    KeyValueStore& defaults_;
};

} // namespace tavrine

#pragma once

#include "core/persistence/StatsRepository.h"
#include "core/service/Haptics.h"
#include "core/service/Notifier.h"
#include "core/util/Clock.h"
#include "core/util/Localizer.h"

#include <cstdint>
#include <optional>

namespace tavrine {

// Tells the user of an alert: a notification, a haptic pulse when they asked for one, and one more alert
// in the statistics; alerts that begin less than 30 s after the last announced one pass silently. Main
// thread only.
class AlertAnnouncer {
  public:
    static constexpr const char* notificationId = "tavrine.alert";
    static constexpr std::int64_t spacingMs = 30'000;

    struct Dependencies {
        const Clock& clock;
        Notifier& notifier;
        Haptics& haptics;
        StatsRepository& statsRepo;
        const Localizer& localizer;
    };

    explicit AlertAnnouncer(Dependencies deps) : deps_(deps) {}

    // An alert began; withHaptics: the user's setting. True when it was announced.
    bool alertStarted(bool withHaptics);
    // The alert is over or the filter stopped: its notification goes.
    void withdraw() { deps_.notifier.remove(notificationId); }

  private:
    Dependencies deps_;
    // None stands for the distant past: the first alert of the process always notifies.
    std::optional<std::int64_t> lastAnnouncedAtMs_;
};

} // namespace tavrine

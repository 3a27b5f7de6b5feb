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
    // The filter stopped: the notification goes, and so does any alert taken down by a pause.
    void withdraw() {
        takenDown_ = false;
        deps_.notifier.remove(notificationId);
    }
    // The filter watches and sees no onlooker: the notification goes. An alert taken down by a pause is not
    // over yet (the filter passes through this state on its way back from the pause): it stays so.
    void alertOver() { deps_.notifier.remove(notificationId); }
    // The filter paused or lost its camera during an alert: the notification goes, as nothing covers the
    // screen, and comes back if the alert goes on once the filter watches again, within the spacing: the
    // same alert, neither counted nor pulsed again.
    void takeDown() {
        takenDown_ = lastAnnouncedAtMs_.has_value();
        deps_.notifier.remove(notificationId);
    }

  private:
    Dependencies deps_;
    bool takenDown_ = false;
    // None stands for the distant past: the first alert of the process always notifies.
    std::optional<std::int64_t> lastAnnouncedAtMs_;
};

} // namespace tavrine

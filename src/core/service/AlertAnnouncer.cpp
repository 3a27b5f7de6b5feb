#include "core/service/AlertAnnouncer.h"

#include <utility>

namespace tavrine {

bool AlertAnnouncer::alertStarted(bool withHaptics) {
    const std::int64_t now = deps_.clock.nowMs();
    if (lastAnnouncedAtMs_) {
        const std::int64_t interval = now - *lastAnnouncedAtMs_;
        // A clock set backwards gives a negative interval: it says nothing about the spacing, so it
        // does not hold back the notification.
        if (interval >= 0 && interval < spacingMs) {
            if (std::exchange(takenDown_, false)) {
                deps_.notifier.post(notificationId, deps_.localizer.text("notif_alert_title"),
                                    deps_.localizer.text("notif_alert_text"));
            }
            return false;
        }
    }
    lastAnnouncedAtMs_ = now;
    takenDown_ = false;
    if (withHaptics) {
        deps_.haptics.pulse();
    }
    deps_.notifier.post(notificationId, deps_.localizer.text("notif_alert_title"),
                        deps_.localizer.text("notif_alert_text"));
    deps_.statsRepo.incrementAlerts();
    return true;
}

} // namespace tavrine

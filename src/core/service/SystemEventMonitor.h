#pragma once

#include "core/util/Subscription.h"

#include <functional>

namespace tavrine {

// Display sleep and wake, and the login session resigning or becoming active.
class SystemEventMonitor {
  public:
    enum class Event { displayAsleep, displayAwake, sessionInactive, sessionActive };
    virtual ~SystemEventMonitor() = default;
    // Delivers on the main thread until the handle is cancelled. A new observer first hears, at once, the
    // states already true: displayAsleep while the screens sleep, sessionInactive while the
    // session is inactive.
    virtual Subscription observe(std::function<void(Event)> handler) = 0;
};

} // namespace tavrine

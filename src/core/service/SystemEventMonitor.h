#pragma once

#include "core/util/Subscription.h"

#include <functional>

namespace tavrine {

// Display sleep and wake, and the login session resigning or becoming active.
class SystemEventMonitor {
public:
    enum class Event { screensDidSleep, screensDidWake, sessionDidResignActive, sessionDidBecomeActive };
    virtual ~SystemEventMonitor() = default;
    // Delivers on the main thread until the handle is cancelled. A new observer first hears, at once, the
    // states already true: screensDidSleep while the screens sleep, sessionDidResignActive while the
    // session is inactive.
    virtual Subscription observe(std::function<void(Event)> handler) = 0;
};

} // namespace tavrine

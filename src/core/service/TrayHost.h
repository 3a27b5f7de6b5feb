#pragma once

#include "core/util/Subscription.h"

#include <functional>

namespace tavrine {

// The desktop's tray: whether a host is there to show the icon, and word when one may have appeared.
class TrayHost {
  public:
    virtual ~TrayHost() = default;
    // Whether any host is there: a StatusNotifierItem host or an XEmbed tray.
    virtual bool available() = 0;
    // Whether a StatusNotifierItem host is there (items exported by name over the session bus).
    virtual bool statusNotifierHost() = 0;
    // Calls onAppeared on the main thread whenever a host registers, until the handle is cancelled.
    virtual Subscription watch(std::function<void()> onAppeared) = 0;
};

} // namespace tavrine

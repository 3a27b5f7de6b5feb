#pragma once

#include "core/util/Subscription.h"

#include <functional>

namespace tavrine {

// The desktop's tray: whether a host is there to show the icon, and word when one may have appeared.
class TrayHost {
  public:
    virtual ~TrayHost() = default;
    virtual bool available() = 0;
    // Calls onAppeared on the main thread whenever a host registers, until the handle is cancelled.
    virtual Subscription watch(std::function<void()> onAppeared) = 0;
};

} // namespace tavrine

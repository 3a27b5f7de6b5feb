#pragma once

#include "core/util/Subscription.h"

#include <functional>

namespace tavrine {

// The global toggle shortcut (Super+Shift+C). onPressed may run on any thread; the caller posts.
class GlobalShortcut {
  public:
    virtual ~GlobalShortcut() = default;
    // Installs the shortcut; the returned handle removes it. A failed install is reported by the
    // implementation once and yields an inert handle.
    virtual Subscription install(std::function<void()> onPressed) = 0;
};

} // namespace tavrine

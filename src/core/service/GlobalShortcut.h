#pragma once

#include "core/util/Published.h"
#include "core/util/Subscription.h"

#include <functional>

namespace tavrine {

// What the global shortcut can do in this session, as the preferences tell the user.
enum class ShortcutStatus {
    idle,           // not installed (yet)
    waiting,        // asked for; the desktop has not answered (it may be asking the user)
    working,        // the keys toggle the filter wherever the focus is
    x11WindowsOnly, // a Wayland session without a shortcut service: only keys typed into X11 windows reach it
    unsupported,    // nothing in this session can deliver a global shortcut
    refused,        // the desktop refused it, or the user declined it
    taken,          // another program holds the keys
};

// The global toggle shortcut (Super+Shift+C). onPressed may run on any thread; the caller posts.
class GlobalShortcut {
  public:
    virtual ~GlobalShortcut() = default;
    // Installs the shortcut; the returned handle removes it. A failed install is reported by the
    // implementation once and yields an inert handle.
    virtual Subscription install(std::function<void()> onPressed) = 0;

    // Set by the implementation on the main thread as installs succeed or fail.
    Published<ShortcutStatus>& status() { return status_; }

  protected:
    Published<ShortcutStatus> status_{ShortcutStatus::idle};
};

} // namespace tavrine

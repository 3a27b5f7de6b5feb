#pragma once

#include "core/util/Subscription.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tavrine {

class OverlayWindowManager;

// Identity of a screen as the window system reports it: equal ids are the same screen object.
using ScreenId = std::uint64_t;

struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0; // global coordinates, logical pixels
    bool operator==(const ScreenRect&) const = default;
};

struct ScreenInfo {
    ScreenId id = 0;
    ScreenRect frame;
};

// One overlay window. Destroying it removes it from the screen.
class OverlayWindow {
  public:
    virtual ~OverlayWindow() = default;
    virtual void show() = 0;
    virtual void hide() = 0;
    // Moves and resizes the window to cover `frame` (its screen's new geometry), keeping its content.
    virtual void setFrame(const ScreenRect& frame) = 0;
};

// The desktop's windowing services used by the overlay.
class WindowSystem {
  public:
    virtual ~WindowSystem() = default;
    // The connected screens, in the system's order, the main one first (Qt lists the primary screen first; on
    // a layer-shell desktop, which has none, the first output stands for it).
    virtual std::vector<ScreenInfo> screens() const = 0;
    // A borderless, transparent, click-through window above every ordinary window covering `screen`,
    // whose content draws from `manager`. Not yet ordered front.
    virtual std::unique_ptr<OverlayWindow> createOverlayWindow(const ScreenInfo& screen,
                                                               OverlayWindowManager& manager) = 0;
    // Whether a window shows on every screen that displays its area (X11: a mirrored screen shows the
    // window of the screen it mirrors), rather than only on the output it was made for (layer shell,
    // where outputs may all report the same place).
    virtual bool windowsShowByArea() const { return true; }
    // Calls back on the main thread when screens are added, removed or changed (geometry included).
    virtual Subscription observeScreenChanges(std::function<void()> onChange) = 0;
    // Whether overlay windows show their transparency: not on an X server without a compositing manager,
    // where their transparent pixels draw black and would hide the screen from its user.
    virtual bool showsTransparency() const { return true; }
    // Calls back on the main thread when that answer may have changed (a compositing manager quit or was
    // replaced). Systems whose answer cannot change never call.
    virtual Subscription observeTransparencyChanges(std::function<void()> /*onChange*/) { return {}; }
};

} // namespace tavrine

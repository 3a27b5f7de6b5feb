#pragma once

#include "core/service/GlobalShortcut.h"

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <vector>

struct xcb_connection_t;

namespace tavrine {

// Super+Shift+C on an X11 display: a passive key grab on the root window, whatever other modifiers
// are held too (Caps Lock, Num Lock, Ctrl, Alt, AltGr), read in a native event filter of the running Qt
// application. Held-down auto-repeat does
// not toggle again. Without an X connection (offscreen, Wayland without XWayland) installing does
// nothing; a grab held by another program is reported once on the diagnostics stream.
class X11GlobalShortcut final : public GlobalShortcut, public QAbstractNativeEventFilter {
  public:
    // Uses the X connection of the running QGuiApplication, if any.
    explicit X11GlobalShortcut(std::ostream& diagnostics);
    // Uses the given connection (null for none) and its first screen's root window.
    X11GlobalShortcut(xcb_connection_t* connection, std::ostream& diagnostics);
    ~X11GlobalShortcut() override;

    Subscription install(std::function<void()> onPressed) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    bool isGrabbed() const { return !grabbedModifiers_.empty(); }

    // In a Wayland session the connection is XWayland's: the grab then sees only the keys typed into
    // X11 windows, and a successful grab reports x11WindowsOnly instead of working.
    void setOnlyX11Windows(bool only) { onlyX11Windows_ = only; }

  private:
    void grab();
    void ungrab();

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::ostream& diagnostics_;
    bool reportedFailure_ = false;
    bool onlyX11Windows_ = false;
    bool filterInstalled_ = false;
    std::uint8_t keycode_ = 0;
    std::vector<std::uint16_t> grabbedModifiers_;
    std::function<void()> onPressed_;
    std::uint64_t installation_ = 0;
    std::uint32_t lastReleaseTime_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace tavrine

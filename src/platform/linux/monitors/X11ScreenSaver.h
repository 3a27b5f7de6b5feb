#pragma once

#include <QAbstractNativeEventFilter>
#include <QByteArray>

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>

namespace tavrine {

// The X server's own screen saver (the MIT-SCREEN-SAVER extension: its timeout, `xset s activate`, a
// locker that only blanks through it): whether it is on (its state On or Cycle) and word of each change
// (ScreenSaverNotify on the first screen's root, heard through the application's native event filter,
// each one a cue to read the state again). Does nothing without a connection or on a server without the
// extension.
class X11ScreenSaver final : public QAbstractNativeEventFilter {
  public:
    X11ScreenSaver(xcb_connection_t* conn, std::function<void(bool active)> onChange);
    ~X11ScreenSaver() override;
    X11ScreenSaver(const X11ScreenSaver&) = delete;
    X11ScreenSaver& operator=(const X11ScreenSaver&) = delete;

    // Whether the screen saver was on at the last word from the server.
    bool active() const { return active_; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    // Reads the state from the server: whether it changed.
    bool read();

    std::function<void(bool)> onChange_;
    xcb_connection_t* conn_ = nullptr;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    // The extension's ScreenSaverNotify event code; 0 while not followed.
    std::uint8_t notifyEvent_ = 0;
    bool active_ = false;
};

} // namespace tavrine

#pragma once

#include "core/service/GlobalShortcut.h"

#include <QDBusConnection>

#include <iosfwd>
#include <memory>

namespace tavrine {

// The shortcut this session can have, chosen once at start (in a Wayland session when the portal answers
// whether it offers GlobalShortcuts, without waiting for it; meanwhile the status is `waiting`):
//   - an X11 session: the key grab on the root window;
//   - a Wayland session whose desktop portal offers GlobalShortcuts: the portal;
//   - a Wayland session without it, the application on XWayland: the key grab, which there sees only the
//     keys typed into X11 windows (status x11WindowsOnly);
//   - anything else: none (status unsupported).
// The session is Wayland when XDG_SESSION_TYPE says so or WAYLAND_DISPLAY is set. Every choice but the
// plain X11 one is told in one line on the diagnostics stream.
std::unique_ptr<GlobalShortcut> chooseGlobalShortcut(const QDBusConnection& sessionBus,
                                                     std::ostream& diagnostics);

} // namespace tavrine

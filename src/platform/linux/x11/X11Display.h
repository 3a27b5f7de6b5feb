#pragma once

#include <xcb/xcb.h>

namespace tavrine::x11 {

// The connection of the running Qt application to its X server, or null when the application does not
// run on X11 (Wayland, offscreen) or there is none yet.
xcb_connection_t* connection();

// The window that owns the selection `name` (a manager selection such as _NET_WM_CM_S0), or
// XCB_WINDOW_NONE when nobody owns it. A name the server has never heard of has no owner.
xcb_window_t selectionOwner(xcb_connection_t* conn, const char* name);

} // namespace tavrine::x11

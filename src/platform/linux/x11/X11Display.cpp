#include "platform/linux/x11/X11Display.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tavrine::x11 {

xcb_connection_t* connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t selectionOwner(xcb_connection_t* conn, const char* name) {
    if (!conn) {
        return XCB_WINDOW_NONE;
    }
    // Only an existing atom: asking must not create one on the server.
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        conn, xcb_intern_atom(conn, 1, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    if (!atom) {
        return XCB_WINDOW_NONE;
    }
    xcb_window_t owner = XCB_WINDOW_NONE;
    if (atom->atom != XCB_ATOM_NONE) {
        if (auto* reply =
                xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, atom->atom), nullptr)) {
            owner = reply->owner;
            std::free(reply);
        }
    }
    std::free(atom);
    return owner;
}

} // namespace tavrine::x11

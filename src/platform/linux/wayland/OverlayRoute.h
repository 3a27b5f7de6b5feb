#pragma once

#include <string>

namespace tavrine {

// How the overlay windows reach the screen, decided once at start, before the QApplication exists:
//   x11         an X11 session (no WAYLAND_DISPLAY): Qt's windows on the X server, as always;
//   layerShell  the Wayland compositor offers the layer-shell protocol: layer surfaces of our own;
//   xwayland    it does not (GNOME's Mutter): Qt's windows on XWayland, above the Wayland windows.
// Outside an X11 session the rest of the application (panel, preferences) runs on XWayland as well when
// there is one, so that its windows open where they are placed, as on X11, and on Qt's Wayland backend
// when there is none; a QT_QPA_PLATFORM the user set is left alone.
struct OverlayRoute {
    enum class Kind { x11, layerShell, xwayland };

    Kind kind = Kind::x11;
    // One line for the log saying which way and why; empty in an X11 session.
    std::string line;

    // Probes WAYLAND_DISPLAY's compositor and sets QT_QPA_PLATFORM accordingly.
    static OverlayRoute choose();
};

} // namespace tavrine

#include "platform/linux/wayland/OverlayRoute.h"

#include "platform/linux/wayland/LayerShellProtocol.h"

#include <wayland-client.h>

#include <cstdlib>
#include <cstring>

namespace tavrine {

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

enum class Probe { unreachable, withLayerShell, withoutLayerShell };

Probe probeCompositor() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return Probe::unreachable;
    }
    bool found = false;
    wl_registry* registry = wl_display_get_registry(display);
    static const wl_registry_listener listener{
        [](void* found, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
            if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
                *static_cast<bool*>(found) = true;
            }
        },
        [](void*, wl_registry*, std::uint32_t) {}};
    wl_registry_add_listener(registry, &listener, &found);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (!answered) {
        return Probe::unreachable;
    }
    return found ? Probe::withLayerShell : Probe::withoutLayerShell;
}

} // namespace

OverlayRoute OverlayRoute::choose() {
    OverlayRoute route;
    if (!isSet("WAYLAND_DISPLAY")) {
        return route;
    }
    const bool userPlatform = isSet("QT_QPA_PLATFORM");
    const bool xwayland = isSet("DISPLAY");
    const Probe probe = probeCompositor();
    if (probe == Probe::withLayerShell) {
        route.kind = Kind::layerShell;
        route.line = "tavrine\u00a0: calque en surfaces layer-shell (le compositeur Wayland offre "
                     "zwlr_layer_shell_v1)";
    } else if (xwayland) {
        route.kind = Kind::xwayland;
        route.line = probe == Probe::unreachable
                         ? "tavrine\u00a0: calque par XWayland (le compositeur Wayland ne répond pas)"
                         : "tavrine\u00a0: calque par XWayland (le compositeur Wayland n’offre pas "
                           "zwlr_layer_shell_v1)";
    } else {
        route.line =
            "tavrine\u00a0: ni layer-shell ni XWayland\u00a0: le calque s’ouvre en fenêtres ordinaires";
    }
    if (xwayland && !userPlatform) {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        route.line += "\u202f; fenêtres par XWayland";
    } else if (!xwayland && !userPlatform) {
        // No X server at all: Qt's own default would look for one.
        setenv("QT_QPA_PLATFORM", "wayland", 1);
        route.line += "\u202f; fenêtres Wayland (pas de XWayland)";
    } else if (route.kind == Kind::xwayland && std::strncmp(std::getenv("QT_QPA_PLATFORM"), "xcb", 3) != 0) {
        route.line +=
            "\u202f; QT_QPA_PLATFORM ne nomme pas xcb\u00a0: le calque s’ouvrira en fenêtres ordinaires";
    }
    return route;
}

} // namespace tavrine

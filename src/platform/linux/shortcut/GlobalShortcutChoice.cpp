#include "platform/linux/shortcut/GlobalShortcutChoice.h"

#include "platform/linux/shortcut/PortalGlobalShortcut.h"
#include "platform/linux/shortcut/X11GlobalShortcut.h"

#include <QGuiApplication>
#include <QtGlobal>

#include <ostream>

namespace tavrine {

namespace {

// Where nothing can deliver a global shortcut: installs nothing and says so.
class NoGlobalShortcut final : public GlobalShortcut {
  public:
    NoGlobalShortcut() { status_ = ShortcutStatus::unsupported; }
    Subscription install(std::function<void()>) override { return {}; }
};

bool waylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

std::unique_ptr<GlobalShortcut> chooseGlobalShortcut(const QDBusConnection& sessionBus,
                                                     std::ostream& diagnostics) {
    const bool onX = QGuiApplication::platformName() == QLatin1String("xcb");
    if (!waylandSession()) {
        return std::make_unique<X11GlobalShortcut>(diagnostics);
    }
    if (PortalGlobalShortcut::offered(sessionBus)) {
        diagnostics << "Tavrine: shortcut through the desktop portal (Wayland session)." << std::endl;
        return std::make_unique<PortalGlobalShortcut>(sessionBus, diagnostics);
    }
    if (onX) {
        diagnostics << "Tavrine: shortcut through an XWayland key grab, which sees only keys typed into X11 "
                       "windows (Wayland session without the GlobalShortcuts portal)."
                    << std::endl;
        auto grab = std::make_unique<X11GlobalShortcut>(diagnostics);
        grab->setOnlyX11Windows(true);
        return grab;
    }
    diagnostics << "Tavrine: no global shortcut in this session (Wayland without the GlobalShortcuts portal)."
                << std::endl;
    return std::make_unique<NoGlobalShortcut>();
}

} // namespace tavrine

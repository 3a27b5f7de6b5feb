#include "platform/linux/trayhost/DesktopTrayHost.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

namespace tavrine {
namespace {

// Looks for an XEmbed tray ourselves: asking Qt would make it remember "no StatusNotifier host" for
// the rest of the process, and a host appearing later could no longer be used.
bool xembedTrayPresent() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* conn = x11 ? x11->connection() : nullptr;
    if (!conn) {
        return false;
    }
    const QByteArray name = "_NET_SYSTEM_TRAY_S0";
    auto atomCookie = xcb_intern_atom(conn, 1, uint16_t(name.size()), name.constData());
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(conn, atomCookie, nullptr);
    if (!atom) {
        return false;
    }
    bool present = false;
    if (atom->atom != XCB_ATOM_NONE) {
        auto ownerCookie = xcb_get_selection_owner(conn, atom->atom);
        if (auto* owner = xcb_get_selection_owner_reply(conn, ownerCookie, nullptr)) {
            present = owner->owner != XCB_WINDOW_NONE;
            std::free(owner);
        }
    }
    std::free(atom);
    return present;
}

} // namespace

DesktopTrayHost::DesktopTrayHost(QDBusConnection sessionBus) : bus_(std::move(sessionBus)) {}

bool DesktopTrayHost::statusNotifierHost() {
    return bus_.isConnected() && bus_.interface() &&
           bus_.interface()->isServiceRegistered(QString::fromLatin1(watcherService)).value();
}

bool DesktopTrayHost::available() {
    return statusNotifierHost() || xembedTrayPresent();
}

Subscription DesktopTrayHost::watch(std::function<void()> onAppeared) {
    if (!bus_.isConnected()) {
        return {};
    }
    auto* watcher = new QDBusServiceWatcher(QString::fromLatin1(watcherService), bus_,
                                            QDBusServiceWatcher::WatchForRegistration);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceRegistered, watcher,
                     [onAppeared = std::move(onAppeared)] { onAppeared(); });
    return Subscription([watcher] { delete watcher; });
}

} // namespace tavrine

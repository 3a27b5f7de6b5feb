#include "platform/linux/trayhost/DesktopTrayHost.h"

#include "platform/linux/x11/X11Display.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>

namespace tavrine {
namespace {

// Looks for an XEmbed tray ourselves: asking Qt would make it remember "no StatusNotifier host" for
// the rest of the process, and a host appearing later could no longer be used.
bool xembedTrayPresent() {
    return x11::selectionOwner(x11::connection(), "_NET_SYSTEM_TRAY_S0") != XCB_WINDOW_NONE;
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

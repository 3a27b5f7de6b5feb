#include "platform/linux/shortcut/PortalHostRegistry.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace tavrine {

void registerWithPortal(const QDBusConnection& bus, const QString& appId, std::ostream& diagnostics) {
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.host.portal.Registry"), QStringLiteral("Register"));
    call << appId << QVariantMap();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [&diagnostics, appId](QDBusPendingCallWatcher* done) {
                         done->deleteLater();
                         const QDBusPendingReply<> reply = *done;
                         if (!reply.isError()) {
                             return;
                         }
                         // No portal, or one from before the registry: nothing to register with.
                         const QDBusError::ErrorType type = reply.error().type();
                         if (type == QDBusError::ServiceUnknown || type == QDBusError::UnknownMethod ||
                             type == QDBusError::UnknownInterface || type == QDBusError::UnknownObject) {
                             return;
                         }
                         diagnostics << "tavrine\u00a0: le portail du bureau refuse l\u2019identifiant "
                                     << appId.toStdString() << " (" << reply.error().message().toStdString()
                                     << ")\u202f; le raccourci global peut lui être refusé." << std::endl;
                     });
}

} // namespace tavrine

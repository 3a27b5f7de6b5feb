#include "platform/linux/notifications/FreedesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QStringList>
#include <QVariantMap>

namespace tavrine {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

FreedesktopNotifier::FreedesktopNotifier(QDBusConnection sessionBus, QString appName, QObject* parent)
    : QObject(parent), bus_(std::move(sessionBus)), appName_(std::move(appName)) {
    if (bus_.isConnected()) {
        bus_.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                     SLOT(onNotificationClosed(uint, uint)));
        // A daemon that restarted knows none of our notifications: an id of the old one would replace or
        // close whatever the new one numbered so.
        auto* watcher =
            new QDBusServiceWatcher(service, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] {
            for (auto& [identifier, entry] : entries_) {
                entry.serverId = 0;
            }
        });
    }
}

void FreedesktopNotifier::post(const std::string& identifier, const std::string& title,
                               const std::string& body) {
    if (!bus_.isConnected()) {
        return;
    }
    Entry& entry = entries_[identifier];
    entry.closeWhenKnown = false;

    QVariantMap hints;
    // The daemon plays its usual sound for this event name when it plays sounds at all.
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(1)));
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(desktopEntry));

    QDBusMessage msg = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    msg << appName_ << entry.serverId << QString::fromLatin1(appIcon) << QString::fromStdString(title)
        << QString::fromStdString(body) << QStringList() << hints << -1;
    ++entry.postsInFlight;

    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(msg), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, identifier](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                QDBusPendingReply<uint> reply = *w;
                Entry& e = entries_[identifier];
                --e.postsInFlight;
                if (reply.isError()) {
                    return;
                }
                const uint id = reply.value();
                if (e.closeWhenKnown) {
                    close(id);
                    if (e.postsInFlight == 0) {
                        e.closeWhenKnown = false;
                    }
                    return;
                }
                e.serverId = id;
                Q_EMIT posted(QString::fromStdString(identifier), id);
            });
}

void FreedesktopNotifier::remove(const std::string& identifier) {
    auto it = entries_.find(identifier);
    if (it == entries_.end()) {
        return;
    }
    Entry& entry = it->second;
    if (entry.serverId != 0) {
        close(entry.serverId);
        entry.serverId = 0;
    }
    if (entry.postsInFlight > 0) {
        entry.closeWhenKnown = true;
    }
}

void FreedesktopNotifier::close(uint serverId) {
    QDBusMessage msg =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("CloseNotification"));
    msg << serverId;
    // Fire and forget: the answer carries nothing we need, and an error means it is gone already.
    bus_.asyncCall(msg);
}

void FreedesktopNotifier::onNotificationClosed(uint id, uint /*reason*/) {
    for (auto& [identifier, entry] : entries_) {
        if (entry.serverId == id) {
            entry.serverId = 0;
        }
    }
}

} // namespace tavrine

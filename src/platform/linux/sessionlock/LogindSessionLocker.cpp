#include "platform/linux/sessionlock/LogindSessionLocker.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

#include <utility>

namespace tavrine {

LogindSessionLocker::LogindSessionLocker(QDBusConnection systemBus, std::function<QString()> sessionPath,
                                         QObject* parent)
    : QObject(parent), systemBus_(std::move(systemBus)), sessionPath_(std::move(sessionPath)) {}

void LogindSessionLocker::lockSession(std::function<void(bool locked)> done) {
    const QString path = sessionPath_ ? sessionPath_() : QString();
    if (!systemBus_.isConnected() || path.isEmpty()) {
        // Answered from the event loop like a bus reply, never inside the caller.
        QTimer::singleShot(0, this, [done = std::move(done)] {
            if (done) {
                done(false);
            }
        });
        return;
    }
    const QDBusMessage msg = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"), path,
                                                            QStringLiteral("org.freedesktop.login1.Session"),
                                                            QStringLiteral("Lock"));
    auto* watcher = new QDBusPendingCallWatcher(systemBus_.asyncCall(msg), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done)](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<> reply = *w;
                if (done) {
                    done(!reply.isError());
                }
            });
}

} // namespace tavrine

#pragma once

#include "core/service/Notifier.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <map>
#include <string>

namespace tavrine {

// User notifications through org.freedesktop.Notifications. Every call is asynchronous; a missing
// daemon or a failed call is ignored. A new notification of an identifier replaces the last one still
// on screen, and remove() closes it, also when the daemon has not yet answered the post. Ids of a daemon
// that restarted since are forgotten.
class FreedesktopNotifier final : public QObject, public Notifier {
    Q_OBJECT
  public:
    // The installed icon (data/icons/tavrine.svg in hicolor) and the desktop file's id: the daemon shows
    // the icon and groups the notifications under the application.
    static constexpr const char* appIcon = "tavrine";
    static constexpr const char* desktopEntry = "expert.brightfen.Tavrine";

    explicit FreedesktopNotifier(QDBusConnection sessionBus, QString appName = QStringLiteral("Tavrine"),
                                 QObject* parent = nullptr);

    void post(const std::string& identifier, const std::string& title, const std::string& body) override;
    void remove(const std::string& identifier) override;

  Q_SIGNALS:
    // The daemon answered a post (tests).
    void posted(const QString& identifier, uint serverId);

  private Q_SLOTS:
    void onNotificationClosed(uint id, uint reason);

  private:
    struct Entry {
        uint serverId = 0;           // the daemon's id of the notification on screen, 0 when none
        int postsInFlight = 0;       // posts sent and not answered yet
        bool closeWhenKnown = false; // removed while a post was in flight
    };
    void close(uint serverId);

    QDBusConnection bus_;
    QString appName_;
    std::map<std::string, Entry> entries_;
};

} // namespace tavrine

#pragma once

#include "core/service/SystemEventMonitor.h"
#include "core/util/Signal.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>

class QDBusServiceWatcher;
struct xcb_connection_t;

namespace tavrine {

class X11ScreenSaver;

// Display sleep and wake from logind (PrepareForSleep, system bus), from the screen savers
// (org.freedesktop.ScreenSaver and org.gnome.ScreenSaver ActiveChanged, session bus; on an X server given
// to it, the server's own screen saver) and from the LockedHint property of our logind session, which
// lockers that announce nothing else set; session switches from the session's Active property. The
// screens count as asleep while the machine prepares for sleep, any screen saver is active or the session
// is locked; each change of that, and of the session's activity, becomes
// one event; states already true when we start (a screen saver active, the session locked or inactive)
// count as changes from awake and active. The lock is forgotten when the session ends, logind leaves or
// the hint can no longer be read. A bus or service that is missing simply never reports anything.
class DBusSystemEventMonitor final : public QObject, public SystemEventMonitor {
    Q_OBJECT
  public:
    // x11: the connection to the X server the session runs on, whose screen saver counts too; null on
    // Wayland (XWayland's screen saver knows nothing of the user's input).
    DBusSystemEventMonitor(QDBusConnection systemBus, QDBusConnection sessionBus,
                           xcb_connection_t* x11 = nullptr, QObject* parent = nullptr);
    ~DBusSystemEventMonitor() override;

    Subscription observe(std::function<void(Event)> handler) override;

    // The logind session object whose Active property is watched, once found (empty before).
    QString sessionPath() const { return sessionPath_; }

  Q_SIGNALS:
    // Emitted once the session lookup has finished, found or not (tests wait for it).
    void ready();

  private Q_SLOTS:
    void onPrepareForSleep(bool start);
    void onFreedesktopSaverActiveChanged(bool active);
    void onGnomeSaverActiveChanged(bool active);
    void onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                    const QStringList& invalidated);
    void onSaverVanished(const QString& service);
    void fetchSaverActive(const QString& service);
    void onSessionRemoved(const QString& id, const QDBusObjectPath& path);
    void onLogindVanished();

  private:
    void lookUpSessionByPid();
    void lookUpSessionById(const QString& id);
    void lookUpDisplaySession();
    void watchSession(const QString& path);
    void fetchSessionActive();
    void setSessionActive(bool active);
    void fetchSessionLocked();
    void setSessionLocked(bool locked);
    void updateScreens();

    QDBusConnection systemBus_;
    QDBusConnection sessionBus_;
    QDBusServiceWatcher* saverWatcher_ = nullptr;
    std::unique_ptr<X11ScreenSaver> x11Saver_;
    Signal<Event> events_;

    bool preparingForSleep_ = false;
    bool freedesktopSaverActive_ = false;
    bool gnomeSaverActive_ = false;
    bool x11SaverActive_ = false;
    bool sessionLocked_ = false;
    bool screensAsleep_ = false;

    QString sessionPath_;
    std::optional<bool> sessionActive_;
};

} // namespace tavrine

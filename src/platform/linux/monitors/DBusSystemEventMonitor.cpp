#include "platform/linux/monitors/DBusSystemEventMonitor.h"

#include "platform/linux/monitors/X11ScreenSaver.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include <unistd.h>

namespace tavrine {

namespace {

const QString login1Service = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString login1Manager = QStringLiteral("org.freedesktop.login1.Manager");
const QString login1Session = QStringLiteral("org.freedesktop.login1.Session");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString freedesktopSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString gnomeSaver = QStringLiteral("org.gnome.ScreenSaver");

// Runs f(watcher) on the context's thread once the call has an answer (or failed).
template <typename F> void whenFinished(const QDBusPendingCall& call, QObject* context, F f) {
    auto* watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [f = std::move(f)](QDBusPendingCallWatcher* w) {
                         f(*w);
                         w->deleteLater();
                     });
}

QDBusPendingCall getProperty(QDBusConnection& bus, const QString& service, const QString& path,
                             const QString& interface, const QString& name) {
    QDBusMessage msg =
        QDBusMessage::createMethodCall(service, path, propertiesInterface, QStringLiteral("Get"));
    msg << interface << name;
    return bus.asyncCall(msg);
}

} // namespace

DBusSystemEventMonitor::DBusSystemEventMonitor(QDBusConnection systemBus, QDBusConnection sessionBus,
                                               xcb_connection_t* x11, QObject* parent)
    : QObject(parent), systemBus_(std::move(systemBus)), sessionBus_(std::move(sessionBus)) {
    x11Saver_ = std::make_unique<X11ScreenSaver>(x11, [this](bool active) {
        x11SaverActive_ = active;
        updateScreens();
    });
    // Already on when we start: counts like one that turns on.
    x11SaverActive_ = x11Saver_->active();
    updateScreens();
    if (systemBus_.isConnected()) {
        systemBus_.connect(login1Service, login1Path, login1Manager, QStringLiteral("PrepareForSleep"), this,
                           SLOT(onPrepareForSleep(bool)));
        systemBus_.connect(login1Service, login1Path, login1Manager, QStringLiteral("SessionRemoved"), this,
                           SLOT(onSessionRemoved(QString, QDBusObjectPath)));
        // A lock known from a logind that went away holds no more.
        auto* logindWatcher = new QDBusServiceWatcher(login1Service, systemBus_,
                                                      QDBusServiceWatcher::WatchForUnregistration, this);
        connect(logindWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
                &DBusSystemEventMonitor::onLogindVanished);
    }
    if (sessionBus_.isConnected()) {
        // KDE publishes the freedesktop interface under two paths; duplicates change nothing.
        for (const QString& path :
             {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")}) {
            sessionBus_.connect(freedesktopSaver, path, freedesktopSaver, QStringLiteral("ActiveChanged"),
                                this, SLOT(onFreedesktopSaverActiveChanged(bool)));
        }
        sessionBus_.connect(gnomeSaver, QStringLiteral("/org/gnome/ScreenSaver"), gnomeSaver,
                            QStringLiteral("ActiveChanged"), this, SLOT(onGnomeSaverActiveChanged(bool)));
        // A screen saver that goes away while active must not keep the filter paused.
        saverWatcher_ = new QDBusServiceWatcher(this);
        saverWatcher_->setConnection(sessionBus_);
        saverWatcher_->setWatchMode(QDBusServiceWatcher::WatchForRegistration |
                                    QDBusServiceWatcher::WatchForUnregistration);
        saverWatcher_->setWatchedServices({freedesktopSaver, gnomeSaver});
        connect(saverWatcher_, &QDBusServiceWatcher::serviceUnregistered, this,
                &DBusSystemEventMonitor::onSaverVanished);
        connect(saverWatcher_, &QDBusServiceWatcher::serviceRegistered, this,
                &DBusSystemEventMonitor::fetchSaverActive);
        // A screen saver already active when we start counts like one that turns on.
        fetchSaverActive(freedesktopSaver);
        fetchSaverActive(gnomeSaver);
    }
    lookUpSessionByPid();
}

void DBusSystemEventMonitor::fetchSaverActive(const QString& service) {
    const QString path = service == gnomeSaver ? QStringLiteral("/org/gnome/ScreenSaver")
                                               : QStringLiteral("/org/freedesktop/ScreenSaver");
    QDBusMessage msg = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("GetActive"));
    whenFinished(sessionBus_.asyncCall(msg), this, [this, service](QDBusPendingCallWatcher& w) {
        QDBusPendingReply<bool> reply = w;
        if (reply.isError()) {
            return; // no such screen saver
        }
        if (service == gnomeSaver) {
            onGnomeSaverActiveChanged(reply.value());
        } else {
            onFreedesktopSaverActiveChanged(reply.value());
        }
    });
}

DBusSystemEventMonitor::~DBusSystemEventMonitor() = default;

Subscription DBusSystemEventMonitor::observe(std::function<void(Event)> handler) {
    Subscription subscription = events_.subscribe([handler](const Event& e) { handler(e); });
    if (screensAsleep_) {
        handler(Event::displayAsleep);
    }
    if (sessionActive_ == false) {
        handler(Event::sessionInactive);
    }
    return subscription;
}

void DBusSystemEventMonitor::lookUpSessionByPid() {
    if (!systemBus_.isConnected()) {
        Q_EMIT ready();
        return;
    }
    QDBusMessage msg = QDBusMessage::createMethodCall(login1Service, login1Path, login1Manager,
                                                      QStringLiteral("GetSessionByPID"));
    msg << static_cast<quint32>(::getpid());
    whenFinished(systemBus_.asyncCall(msg), this, [this](QDBusPendingCallWatcher& w) {
        QDBusPendingReply<QDBusObjectPath> reply = w;
        if (!reply.isError() && !reply.value().path().isEmpty()) {
            watchSession(reply.value().path());
            return;
        }
        // Processes started outside the session (a user service, a terminal multiplexer) have none.
        const QString id = qEnvironmentVariable("XDG_SESSION_ID");
        if (!id.isEmpty()) {
            lookUpSessionById(id);
        } else {
            lookUpDisplaySession();
        }
    });
}

void DBusSystemEventMonitor::lookUpSessionById(const QString& id) {
    QDBusMessage msg = QDBusMessage::createMethodCall(login1Service, login1Path, login1Manager,
                                                      QStringLiteral("GetSession"));
    msg << id;
    whenFinished(systemBus_.asyncCall(msg), this, [this](QDBusPendingCallWatcher& w) {
        QDBusPendingReply<QDBusObjectPath> reply = w;
        if (!reply.isError() && !reply.value().path().isEmpty()) {
            watchSession(reply.value().path());
        } else {
            lookUpDisplaySession();
        }
    });
}

void DBusSystemEventMonitor::lookUpDisplaySession() {
    const QDBusPendingCall call =
        getProperty(systemBus_, login1Service, QStringLiteral("/org/freedesktop/login1/user/self"),
                    QStringLiteral("org.freedesktop.login1.User"), QStringLiteral("Display"));
    whenFinished(call, this, [this](QDBusPendingCallWatcher& w) {
        QDBusPendingReply<QDBusVariant> reply = w;
        QString path;
        if (!reply.isError()) {
            const QVariant value = reply.value().variant();
            if (value.canConvert<QDBusArgument>()) {
                const auto arg = value.value<QDBusArgument>();
                QString id;
                QDBusObjectPath objectPath;
                arg.beginStructure();
                arg >> id >> objectPath;
                arg.endStructure();
                path = objectPath.path();
            }
        }
        if (path.isEmpty() || path == QStringLiteral("/")) {
            Q_EMIT ready();
            return;
        }
        watchSession(path);
    });
}

void DBusSystemEventMonitor::watchSession(const QString& path) {
    sessionPath_ = path;
    systemBus_.connect(login1Service, path, propertiesInterface, QStringLiteral("PropertiesChanged"), this,
                       SLOT(onSessionPropertiesChanged(QString, QVariantMap, QStringList)));
    fetchSessionActive();
    fetchSessionLocked();
    Q_EMIT ready();
}

void DBusSystemEventMonitor::fetchSessionActive() {
    const QDBusPendingCall call =
        getProperty(systemBus_, login1Service, sessionPath_, login1Session, QStringLiteral("Active"));
    whenFinished(call, this, [this](QDBusPendingCallWatcher& w) {
        QDBusPendingReply<QDBusVariant> reply = w;
        if (reply.isError()) {
            return;
        }
        // Until the first reading the session counts as active: one found inactive is a switch away.
        setSessionActive(reply.value().variant().toBool());
    });
}

void DBusSystemEventMonitor::onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                        const QStringList& invalidated) {
    if (interface != login1Session) {
        return;
    }
    if (auto it = changed.find(QStringLiteral("Active")); it != changed.end()) {
        setSessionActive(it->toBool());
    } else if (invalidated.contains(QStringLiteral("Active"))) {
        fetchSessionActive();
    }
    if (auto it = changed.find(QStringLiteral("LockedHint")); it != changed.end()) {
        setSessionLocked(it->toBool());
    } else if (invalidated.contains(QStringLiteral("LockedHint"))) {
        fetchSessionLocked();
    }
}

void DBusSystemEventMonitor::fetchSessionLocked() {
    const QDBusPendingCall call =
        getProperty(systemBus_, login1Service, sessionPath_, login1Session, QStringLiteral("LockedHint"));
    whenFinished(call, this, [this](QDBusPendingCallWatcher& w) {
        QDBusPendingReply<QDBusVariant> reply = w;
        // A hint that cannot be read (the session gone, an older logind) locks nothing.
        setSessionLocked(!reply.isError() && reply.value().variant().toBool());
    });
}

void DBusSystemEventMonitor::setSessionLocked(bool locked) {
    sessionLocked_ = locked;
    updateScreens();
}

void DBusSystemEventMonitor::onSessionRemoved(const QString& /*id*/, const QDBusObjectPath& path) {
    if (!sessionPath_.isEmpty() && path.path() == sessionPath_) {
        setSessionLocked(false);
    }
}

void DBusSystemEventMonitor::onLogindVanished() {
    setSessionLocked(false);
}

void DBusSystemEventMonitor::setSessionActive(bool active) {
    const bool was = sessionActive_.value_or(true);
    sessionActive_ = active;
    if (was == active) {
        return;
    }
    events_.notify(active ? Event::sessionActive : Event::sessionInactive);
}

void DBusSystemEventMonitor::onPrepareForSleep(bool start) {
    preparingForSleep_ = start;
    updateScreens();
}

void DBusSystemEventMonitor::onFreedesktopSaverActiveChanged(bool active) {
    freedesktopSaverActive_ = active;
    updateScreens();
}

void DBusSystemEventMonitor::onGnomeSaverActiveChanged(bool active) {
    gnomeSaverActive_ = active;
    updateScreens();
}

void DBusSystemEventMonitor::onSaverVanished(const QString& service) {
    if (service == freedesktopSaver) {
        freedesktopSaverActive_ = false;
    } else if (service == gnomeSaver) {
        gnomeSaverActive_ = false;
    }
    updateScreens();
}

void DBusSystemEventMonitor::updateScreens() {
    const bool asleep = preparingForSleep_ || freedesktopSaverActive_ || gnomeSaverActive_ ||
                        x11SaverActive_ || sessionLocked_;
    if (asleep == screensAsleep_) {
        return;
    }
    screensAsleep_ = asleep;
    events_.notify(asleep ? Event::displayAsleep : Event::displayAwake);
}

} // namespace tavrine

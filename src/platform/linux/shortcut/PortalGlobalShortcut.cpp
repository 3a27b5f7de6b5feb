#include "platform/linux/shortcut/PortalGlobalShortcut.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QList>
#include <QPointer>

#include <ostream>
#include <string>
#include <utility>

namespace {

// One entry of the shortcut lists the portal takes and returns: an id and its properties, a(sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
using PortalShortcutList = QList<PortalShortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)
Q_DECLARE_METATYPE(PortalShortcutList)

namespace tavrine {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// Request and session objects live under a path element made of the caller's unique name without its
// colon and with its dots as underscores (":1.42" -> "1_42").
QString senderElement(const QDBusConnection& bus) {
    QString name = bus.baseService();
    if (name.startsWith(QLatin1Char(':'))) {
        name.remove(0, 1);
    }
    return name.replace(QLatin1Char('.'), QLatin1Char('_'));
}

// The session handle comes as a string in the portal's documentation, as an object path from some
// desktops.
QString pathValue(const QVariant& value) {
    if (value.userType() == qMetaTypeId<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    return value.toString();
}

// A list of another type (a faulty portal) is no list: reading it as a(sa{sv}) would crash in libdbus.
PortalShortcutList shortcutList(const QVariant& value) {
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        return argument.currentSignature() == QLatin1String("a(sa{sv})")
                   ? qdbus_cast<PortalShortcutList>(argument)
                   : PortalShortcutList{};
    }
    return value.value<PortalShortcutList>();
}

std::string responseText(uint response) {
    switch (response) {
    case 1:
        return "l\u2019utilisateur l\u2019a refusé";
    case 2:
        return "le bureau a mis fin à la demande";
    default:
        return "le bureau a répondu " + std::to_string(response);
    }
}

} // namespace

QDBusMessage PortalGlobalShortcut::offerQuery() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        portalService, portalPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << shortcutsInterface << QStringLiteral("version");
    return get;
}

bool PortalGlobalShortcut::offersShortcuts(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toUInt() >= 1;
}

bool PortalGlobalShortcut::offered(const QDBusConnection& bus, int timeoutMs) {
    return bus.isConnected() && offersShortcuts(bus.call(offerQuery(), QDBus::Block, timeoutMs));
}

PortalGlobalShortcut::PortalGlobalShortcut(QDBusConnection bus, std::ostream& diagnostics)
    : bus_(std::move(bus)), diagnostics_(diagnostics) {
    // The slots' argument types must be known by name before the signals are connected.
    qRegisterMetaType<QDBusObjectPath>();
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcutList>();
    bus_.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
                 SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
}

PortalGlobalShortcut::~PortalGlobalShortcut() {
    unwatchRequest();
    closeSession();
}

Subscription PortalGlobalShortcut::install(std::function<void()> onPressed) {
    const std::uint64_t installation = ++installation_;
    onPressed_ = std::move(onPressed);
    // A session that is being made or already bound serves the new handler. After a refusal the desktop
    // is not asked again by this process (every start of the filter would put the question to the user
    // once more); the next launch asks.
    if (step_ == Step::none) {
        createSession();
    }
    return Subscription([this, alive = QPointer<PortalGlobalShortcut>(this), installation] {
        // A handle of an earlier installation must not remove a later one.
        if (!alive || installation != installation_) {
            return;
        }
        onPressed_ = nullptr;
        unwatchRequest();
        closeSession();
        step_ = Step::none;
        status_ = ShortcutStatus::idle;
    });
}

QString PortalGlobalShortcut::nextToken(const char* stem) {
    return QStringLiteral("tavrine_%1%2").arg(QLatin1String(stem)).arg(++tokens_);
}

void PortalGlobalShortcut::createSession() {
    if (!bus_.isConnected()) {
        fail("pas de bus de session");
        return;
    }
    step_ = Step::creating;
    status_ = ShortcutStatus::waiting;
    const QString token = nextToken("create");
    const QString sessionToken = nextToken("session");
    // Known before the answer, so that a removal while the desktop still asks closes it too.
    sessionPath_ =
        portalPath + QStringLiteral("/session/") + senderElement(bus_) + QLatin1Char('/') + sessionToken;
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("session_handle_token"), sessionToken);
    request(QStringLiteral("CreateSession"), {options}, token);
}

void PortalGlobalShortcut::bindShortcut() {
    step_ = Step::binding;
    const QString token = nextToken("bind");
    QVariantMap properties;
    properties.insert(QStringLiteral("description"), QStringLiteral("Activer / désactiver le filtre"));
    properties.insert(QStringLiteral("preferred_trigger"), QString::fromLatin1(preferredTrigger));
    const PortalShortcutList shortcuts{{QString::fromLatin1(shortcutId), properties}};
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(sessionPath_)), QVariant::fromValue(shortcuts), QString(),
             options},
            token);
}

void PortalGlobalShortcut::request(const QString& method, const QVariantList& arguments,
                                   const QString& token) {
    const QString expected =
        portalPath + QStringLiteral("/request/") + senderElement(bus_) + QLatin1Char('/') + token;
    watchRequest(expected);
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
    call.setArguments(arguments);
    const Step step = step_;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this, [this, step, method](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            if (step_ != step) {
                return; // cancelled meanwhile, or already answered
            }
            const QDBusPendingReply<QDBusObjectPath> reply = *w;
            if (reply.isError()) {
                unwatchRequest();
                fail("échec de " + method.toStdString() + "\u00a0: " + reply.error().message().toStdString());
                return;
            }
            // A portal older than handle tokens answers on a path of its own choosing.
            const QString actual = reply.value().path();
            if (actual != requestPath_) {
                watchRequest(actual);
            }
        });
}

void PortalGlobalShortcut::watchRequest(const QString& path) {
    unwatchRequest();
    requestPath_ = path;
    bus_.connect(portalService, requestPath_, requestInterface, QStringLiteral("Response"), this,
                 SLOT(onResponse(uint, QVariantMap)));
}

void PortalGlobalShortcut::unwatchRequest() {
    if (requestPath_.isEmpty()) {
        return;
    }
    bus_.disconnect(portalService, requestPath_, requestInterface, QStringLiteral("Response"), this,
                    SLOT(onResponse(uint, QVariantMap)));
    requestPath_.clear();
}

void PortalGlobalShortcut::onResponse(uint response, const QVariantMap& results) {
    unwatchRequest();
    if (step_ == Step::creating) {
        const QString session = pathValue(results.value(QStringLiteral("session_handle")));
        if (!session.isEmpty()) {
            sessionPath_ = session;
        }
        if (response != 0 || session.isEmpty()) {
            fail("aucune session de raccourci\u00a0: " +
                 (response != 0 ? responseText(response)
                                : std::string("le bureau n\u2019en a ouvert aucune")));
            return;
        }
        watchSession(true);
        bindShortcut();
        return;
    }
    if (step_ != Step::binding) {
        return;
    }
    if (response != 0) {
        fail("raccourci non attribué\u00a0: " + responseText(response));
        return;
    }
    // The answer lists the shortcuts the desktop bound; one left out has no trigger.
    if (results.contains(QStringLiteral("shortcuts"))) {
        bool bound = false;
        for (const PortalShortcut& s : shortcutList(results.value(QStringLiteral("shortcuts")))) {
            bound = bound || s.id == QLatin1String(shortcutId);
        }
        if (!bound) {
            fail("le bureau n\u2019y a lié aucune touche");
            return;
        }
    }
    step_ = Step::bound;
    status_ = ShortcutStatus::working;
}

void PortalGlobalShortcut::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                       const QVariantMap&) {
    if (step_ != Step::bound || session.path() != sessionPath_ || id != QLatin1String(shortcutId)) {
        return;
    }
    if (auto handler = onPressed_) {
        handler();
    }
}

void PortalGlobalShortcut::onSessionClosed(const QVariantMap&) {
    // Ended by the desktop: nothing to close on our side any more.
    watchSession(false);
    sessionPath_.clear();
    fail("le bureau a mis fin à la session du raccourci");
}

void PortalGlobalShortcut::watchSession(bool watch) {
    const QString name = QStringLiteral("Closed");
    const char* slot = SLOT(onSessionClosed(QVariantMap));
    if (watch) {
        bus_.connect(portalService, sessionPath_, sessionInterface, name, this, slot);
    } else {
        bus_.disconnect(portalService, sessionPath_, sessionInterface, name, this, slot);
    }
}

void PortalGlobalShortcut::closeSession() {
    if (sessionPath_.isEmpty()) {
        return;
    }
    watchSession(false);
    if (bus_.isConnected()) {
        bus_.send(QDBusMessage::createMethodCall(portalService, sessionPath_, sessionInterface,
                                                 QStringLiteral("Close")));
    }
    sessionPath_.clear();
}

void PortalGlobalShortcut::fail(const std::string& why) {
    closeSession();
    step_ = Step::failed;
    status_ = ShortcutStatus::refused;
    if (!reportedFailure_) {
        reportedFailure_ = true;
        diagnostics_ << "tavrine\u00a0: raccourci Super+Maj+C indisponible (" << why
                     << ")\u202f; il reste désactivé." << std::endl;
    }
}

} // namespace tavrine

#pragma once

#include "core/service/GlobalShortcut.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <iosfwd>

namespace tavrine {

// Super+Shift+C through the desktop's GlobalShortcuts portal (org.freedesktop.portal.GlobalShortcuts),
// the way a Wayland session offers global keys: the first install creates a portal session and binds one
// shortcut in it with Super+Shift+C as its preferred trigger. The desktop may ask the user once and may
// let them pick other keys; from then on every Activated signal of that shortcut in that session calls
// the handler. Each portal call answers later, through the Response signal of a request object whose
// path follows from this connection's unique name and the handle token we pass: the signal is watched
// before the call goes out, so an early answer is not lost.
//
// A refusal (the call fails, the user cancels, the desktop binds no trigger) is reported once on the
// diagnostics stream and as the refused status; it is never taken for success, and the desktop is not
// asked again before the next launch. Removing the installation closes the portal session, which frees
// the keys. A session the desktop ends (the user took the permission back) is a refusal as well.
class PortalGlobalShortcut final : public QObject, public GlobalShortcut {
    Q_OBJECT
  public:
    static constexpr const char* shortcutId = "toggle-filter";
    // Super+Shift+C in the notation of the freedesktop shortcuts specification.
    static constexpr const char* preferredTrigger = "LOGO+SHIFT+c";

    // The question whether the desktop portal offers GlobalShortcuts, and whether a reply to it says so
    // (an error or no reply does not).
    static QDBusMessage offerQuery();
    static bool offersShortcuts(const QDBusMessage& reply);
    // The same asked while waiting, at most timeoutMs.
    static bool offered(const QDBusConnection& bus, int timeoutMs = 3000);

    PortalGlobalShortcut(QDBusConnection bus, std::ostream& diagnostics);
    ~PortalGlobalShortcut() override;

    Subscription install(std::function<void()> onPressed) override;

  private Q_SLOTS:
    void onResponse(uint response, const QVariantMap& results);
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);
    void onSessionClosed(const QVariantMap& details);

  private:
    enum class Step { none, creating, binding, bound, failed };

    void createSession();
    void bindShortcut();
    // Sends a portal call whose answer comes as a Response on the request object of `token`.
    void request(const QString& method, const QVariantList& arguments, const QString& token);
    void watchRequest(const QString& path);
    void unwatchRequest();
    void watchSession(bool watch);
    void closeSession();
    void fail(const std::string& why);
    QString nextToken(const char* stem);

    QDBusConnection bus_;
    std::ostream& diagnostics_;
    Step step_ = Step::none;
    QString requestPath_;
    QString sessionPath_;
    std::function<void()> onPressed_;
    std::uint64_t installation_ = 0;
    unsigned tokens_ = 0;
    bool reportedFailure_ = false;
};

} // namespace tavrine

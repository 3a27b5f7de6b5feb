#include "platform/linux/shortcut/GlobalShortcutChoice.h"

#include "platform/linux/shortcut/PortalGlobalShortcut.h"
#include "platform/linux/shortcut/X11GlobalShortcut.h"

#include <QDBusPendingCallWatcher>
#include <QGuiApplication>
#include <QtGlobal>

#include <ostream>
#include <utility>

namespace tavrine {

namespace {

// Where nothing can deliver a global shortcut: installs nothing and says so.
class NoGlobalShortcut final : public GlobalShortcut {
  public:
    NoGlobalShortcut() { status_ = ShortcutStatus::unsupported; }
    Subscription install(std::function<void()>) override { return {}; }
};

bool waylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The choice in a Wayland session once it is known whether the portal offers GlobalShortcuts.
std::unique_ptr<GlobalShortcut> chooseForWayland(bool portalOffers, const QDBusConnection& sessionBus,
                                                 std::ostream& diagnostics) {
    if (portalOffers) {
        diagnostics << "tavrine\u00a0: raccourci Super+Maj+C par le portail du bureau (session Wayland)."
                    << std::endl;
        return std::make_unique<PortalGlobalShortcut>(sessionBus, diagnostics);
    }
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        diagnostics
            << "tavrine\u00a0: raccourci Super+Maj+C par une capture de touches XWayland, qui ne voit que "
               "les touches tapées dans des fenêtres X11 (session Wayland sans le portail GlobalShortcuts)."
            << std::endl;
        auto grab = std::make_unique<X11GlobalShortcut>(diagnostics);
        grab->setOnlyX11Windows(true);
        return grab;
    }
    diagnostics << "tavrine\u00a0: aucun raccourci global dans cette session (Wayland sans le portail "
                   "GlobalShortcuts)."
                << std::endl;
    return std::make_unique<NoGlobalShortcut>();
}

// A Wayland session: asks the portal whether it offers GlobalShortcuts without waiting for the answer.
// Until it comes the status is `waiting` and an install is only remembered; then the chosen shortcut is
// made, its status followed, and the remembered install made on it.
class ProbingGlobalShortcut final : public GlobalShortcut {
  public:
    ProbingGlobalShortcut(const QDBusConnection& sessionBus, std::ostream& diagnostics) {
        status_ = ShortcutStatus::waiting;
        if (!sessionBus.isConnected()) {
            choose(false, sessionBus, diagnostics);
            return;
        }
        auto* watcher = new QDBusPendingCallWatcher(
            sessionBus.asyncCall(PortalGlobalShortcut::offerQuery(), probeTimeoutMs), &probe_);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &probe_,
                         [this, sessionBus, &diagnostics](QDBusPendingCallWatcher* call) {
                             call->deleteLater();
                             choose(PortalGlobalShortcut::offersShortcuts(call->reply()), sessionBus,
                                    diagnostics);
                         });
    }

    Subscription install(std::function<void()> onPressed) override {
        auto installation = std::make_shared<Installation>();
        if (chosen_) {
            installation->made = chosen_->install(std::move(onPressed));
        } else {
            installation->onPressed = std::move(onPressed);
            pending_ = installation;
        }
        return Subscription([installation] {
            installation->onPressed = nullptr;
            installation->made.cancel();
        });
    }

  private:
    static constexpr int probeTimeoutMs = 3000;

    struct Installation {
        std::function<void()> onPressed; // until the choice is made
        Subscription made;
    };

    void choose(bool portalOffers, const QDBusConnection& sessionBus, std::ostream& diagnostics) {
        chosen_ = chooseForWayland(portalOffers, sessionBus, diagnostics);
        statusSub_ = chosen_->status().subscribe([this](ShortcutStatus status) { status_ = status; });
        if (const auto installation = pending_.lock(); installation && installation->onPressed) {
            installation->made = chosen_->install(std::exchange(installation->onPressed, nullptr));
        }
    }

    QObject probe_; // parent of the pending question; destroyed with it
    std::unique_ptr<GlobalShortcut> chosen_;
    std::weak_ptr<Installation> pending_;
    Subscription statusSub_;
};

} // namespace

std::unique_ptr<GlobalShortcut> chooseGlobalShortcut(const QDBusConnection& sessionBus,
                                                     std::ostream& diagnostics) {
    if (!waylandSession()) {
        return std::make_unique<X11GlobalShortcut>(diagnostics);
    }
    return std::make_unique<ProbingGlobalShortcut>(sessionBus, diagnostics);
}

} // namespace tavrine

#include "platform/linux/overlay/QtWindowSystem.h"

#include "platform/linux/overlay/QtOverlayWindow.h"
#include "platform/linux/x11/X11Display.h"

#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>
#include <iostream>

namespace tavrine {

QtWindowSystem::QtWindowSystem(Executor& executor, QString badgeText, const Clock& clock)
    : executor_(executor), clock_(clock), badgeText_(std::move(badgeText)), stackingGuard_(executor),
      compositorWatch_(executor) {
    for (QScreen* screen : QGuiApplication::screens()) {
        watch(screen);
    }
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watch(screen);
        announce();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this](QScreen* screen) {
        ids_.erase(screen);
        announce();
    });
    // A new primary screen, listed first from then on, takes the overlay kept to the main screen.
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, [this] { announce(); });
}

QtWindowSystem::~QtWindowSystem() {
    pending_.cancel();
}

const Clock& QtWindowSystem::systemClock() {
    static const SystemClock clock;
    return clock;
}

void QtWindowSystem::watch(QScreen* screen) {
    if (ids_.count(screen) != 0) {
        return;
    }
    ids_[screen] = nextId_++;
    connect(screen, &QScreen::geometryChanged, this, [this] { announce(); });
}

void QtWindowSystem::announce() {
    // Qt reports a removal before its screen list settles and a mode switch as several signals: one
    // posted notification reads the final list once.
    if (announcing_) {
        return;
    }
    announcing_ = true;
    pending_ = executor_.post([this] {
        announcing_ = false;
        screensChanged_.notify();
    });
}

namespace {
// Wayland surfaces, or an XWayland server: the Wayland compositor blends them (it need not own the X
// selection).
bool waylandBlends() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return wayland && *wayland;
}
} // namespace

bool QtWindowSystem::showsTransparency() const {
    if (waylandBlends() || !x11::connection()) {
        return true;
    }
    const bool owned = compositorWatch_.present();
    if (!owned) {
        std::cerr
            << "tavrine\u00a0: aucun compositeur sur ce serveur X (_NET_WM_CM_S0 sans propriétaire)\u00a0: "
               "le calque n’est pas affiché\n";
    }
    return owned;
}

Subscription QtWindowSystem::observeTransparencyChanges(std::function<void()> onChange) {
    if (waylandBlends()) {
        return {};
    }
    return compositorWatch_.observe(std::move(onChange));
}

std::vector<ScreenInfo> QtWindowSystem::screens() const {
    std::vector<ScreenInfo> out;
    for (QScreen* screen : QGuiApplication::screens()) {
        auto it = ids_.find(screen);
        if (it == ids_.end()) {
            continue; // not announced yet: the coming notification covers it
        }
        const QRect g = screen->geometry();
        out.push_back(ScreenInfo{it->second, ScreenRect{g.x(), g.y(), g.width(), g.height()}});
    }
    return out;
}

QScreen* QtWindowSystem::screenFor(ScreenId id) const {
    for (const auto& [screen, sid] : ids_) {
        if (sid == id) {
            return screen;
        }
    }
    return nullptr;
}

std::unique_ptr<OverlayWindow> QtWindowSystem::createOverlayWindow(const ScreenInfo& screen,
                                                                   OverlayWindowManager& manager) {
    return std::make_unique<QtOverlayWindow>(screenFor(screen.id), screen.frame, manager, executor_, clock_,
                                             badgeText_);
}

Subscription QtWindowSystem::observeScreenChanges(std::function<void()> onChange) {
    return screensChanged_.subscribe(std::move(onChange));
}

} // namespace tavrine

#include "core/overlay/OverlayWindowManager.h"

#include <cstdint>
#include <set>

namespace tavrine {

namespace {

bool inside(const ScreenRect& a, const ScreenRect& b) {
    return a.x >= b.x && a.y >= b.y && std::int64_t{a.x} + a.width <= std::int64_t{b.x} + b.width &&
           std::int64_t{a.y} + a.height <= std::int64_t{b.y} + b.height;
}

// The screens to cover, one window each. Where windows show by area, a mirrored screen (the same frame as
// another, the first kept) or one shown inside another's area is covered by that one's window already, and
// a second window there would stack the stripes and darken them beyond the state's strength.
std::vector<ScreenInfo> screensToCover(const WindowSystem& system, bool all) {
    std::vector<ScreenInfo> screens = system.screens();
    if (!all && !screens.empty()) {
        screens.resize(1);
        return screens;
    }
    if (!system.windowsShowByArea()) {
        return screens;
    }
    std::vector<ScreenInfo> kept;
    for (std::size_t i = 0; i < screens.size(); ++i) {
        bool covered = false;
        for (std::size_t j = 0; j < screens.size() && !covered; ++j) {
            const ScreenRect& a = screens[i].frame;
            const ScreenRect& b = screens[j].frame;
            covered = j != i && inside(a, b) && (a != b || j < i);
        }
        if (!covered) {
            kept.push_back(screens[i]);
        }
    }
    return kept;
}

} // namespace

OverlayWindowManager::OverlayWindowManager(WindowSystem& windowSystem) : windowSystem_(windowSystem) {}

void OverlayWindowManager::show() {
    if (isShowing.get()) {
        return;
    }
    for (const ScreenInfo& screen : screensToCover(windowSystem_, coversAllScreens_)) {
        createWindow(screen);
    }
    isShowing = true;
    screenObserver_ = windowSystem_.observeScreenChanges([this] { screensChanged(); });
}

void OverlayWindowManager::hide() {
    for (auto& [id, covered] : overlayWindows_) {
        covered.window->hide();
    }
    overlayWindows_.clear();
    isShowing = false;
    screenObserver_.cancel();
}

void OverlayWindowManager::screensChanged() {
    const std::vector<ScreenInfo> current = screensToCover(windowSystem_, coversAllScreens_);
    std::set<ScreenId> currentIds;
    for (const ScreenInfo& screen : current) {
        currentIds.insert(screen.id);
    }
    for (auto it = overlayWindows_.begin(); it != overlayWindows_.end();) {
        if (currentIds.count(it->first) == 0) {
            it->second.window->hide();
            it = overlayWindows_.erase(it);
        } else {
            ++it;
        }
    }
    for (const ScreenInfo& screen : current) {
        auto known = overlayWindows_.find(screen.id);
        if (known == overlayWindows_.end()) {
            createWindow(screen);
        } else if (known->second.frame != screen.frame) {
            // A window left at the old frame would leave part of a grown or moved screen uncovered.
            // Resizing keeps the window and its content (and a running flash) instead of rebuilding it.
            known->second.window->setFrame(screen.frame);
            known->second.frame = screen.frame;
        }
    }
}

void OverlayWindowManager::createWindow(const ScreenInfo& screen) {
    std::unique_ptr<OverlayWindow> window = windowSystem_.createOverlayWindow(screen, *this);
    if (!window) {
        return;
    }
    window->show();
    overlayWindows_[screen.id] = CoveredScreen{screen.frame, std::move(window)};
}

void OverlayWindowManager::setAlpha(float alpha) {
    currentAlpha = alpha > 0.8f ? 0.8f : alpha;
}

void OverlayWindowManager::setCoversAllScreens(bool all) {
    if (all == coversAllScreens_) {
        return;
    }
    coversAllScreens_ = all;
    if (isShowing.get()) {
        screensChanged();
    }
}

void OverlayWindowManager::setAlertMode(bool on) {
    isAlertMode = on;
}

void OverlayWindowManager::updateMatrixConfig(bool enabled, std::int64_t distanceCm, std::uint64_t colorArgb,
                                              float stripeAlpha) {
    matrixEnabled = enabled;
    matrixDistanceCm = distanceCm;
    matrixColorArgb = colorArgb;
    matrixStripeAlpha = stripeAlpha;
    lastDistanceCm = distanceCm;
}

} // namespace tavrine

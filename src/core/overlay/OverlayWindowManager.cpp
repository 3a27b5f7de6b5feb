#include "core/overlay/OverlayWindowManager.h"

#include <set>

namespace tavrine {

OverlayWindowManager::OverlayWindowManager(WindowSystem& windowSystem) : windowSystem_(windowSystem) {}

void OverlayWindowManager::show() {
    if (isShowing.get()) {
        return;
    }
    for (const ScreenInfo& screen : windowSystem_.screens()) {
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
    const std::vector<ScreenInfo> current = windowSystem_.screens();
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

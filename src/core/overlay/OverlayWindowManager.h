#pragma once

#include "core/overlay/WindowSystem.h"
#include "core/util/Published.h"
#include "core/util/Subscription.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace tavrine {

// One overlay window per screen and the values their content draws from. Main thread only.
// The published values are readable by everyone; write them only through the operations below.
class OverlayWindowManager {
  public:
    explicit OverlayWindowManager(WindowSystem& windowSystem);
    // Whether the windows can be shown as the filter needs them: see-through between the stripes.
    bool canShow() const { return windowSystem_.showsTransparency(); }
    // Calls back when canShow() may have changed.
    Subscription observeCanShow(std::function<void()> onChange) {
        return windowSystem_.observeTransparencyChanges(std::move(onChange));
    }
    OverlayWindowManager(const OverlayWindowManager&) = delete;
    OverlayWindowManager& operator=(const OverlayWindowManager&) = delete;

    Published<bool> isShowing{false};
    Published<bool> isAlertMode{false};
    Published<float> currentAlpha{0.0f};
    Published<std::int64_t> lastDistanceCm{80};
    Published<bool> matrixEnabled{true};
    Published<std::int64_t> matrixDistanceCm{80};
    Published<std::uint64_t> matrixColorArgb{0xFF000000ULL};
    Published<float> matrixStripeAlpha{0.42f};

    void show();
    void hide();
    void setAlpha(float alpha);
    void setAlertMode(bool on);
    // All connected screens (the default), or only the main one: a projector or a screen turned to an
    // audience stays clear. Takes effect at once while showing.
    void setCoversAllScreens(bool all);
    void updateMatrixConfig(bool enabled, std::int64_t distanceCm, std::uint64_t colorArgb,
                            float stripeAlpha);

    std::size_t windowCount() const { return overlayWindows_.size(); }
    bool isObservingScreens() const { return screenObserver_.isActive(); }

  private:
    void screensChanged();
    void createWindow(const ScreenInfo& screen);

    struct CoveredScreen {
        ScreenRect frame; // the frame the window was last given
        std::unique_ptr<OverlayWindow> window;
    };

    WindowSystem& windowSystem_;
    std::map<ScreenId, CoveredScreen> overlayWindows_;
    Subscription screenObserver_;
    bool coversAllScreens_ = true;
};

} // namespace tavrine

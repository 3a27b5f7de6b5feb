#pragma once

#include "core/overlay/WindowSystem.h"
#include "core/util/Clock.h"
#include "core/util/Executor.h"

#include <QObject>
#include <QString>

#include <memory>

namespace tavrine {

// The overlay's window system on a Wayland compositor that offers the layer-shell protocol: a connection
// of its own to the compositor, read on the Qt event loop, one screen per wl_output and, per overlay window,
// a layer surface on the overlay layer of its output, anchored to every edge, reserving no space, taking
// neither keyboard nor pointer (its input region is empty). Its pixels come from the overlay's painter
// through shared-memory buffers, painted only when the content changes and at most once per frame the
// compositor shows. badgeText is the text of the shortcut badge.
class LayerShellWindowSystem final : public QObject, public WindowSystem {
    Q_OBJECT
  public:
    LayerShellWindowSystem(Executor& executor, QString badgeText, const Clock& clock);
    ~LayerShellWindowSystem() override;

    // False when WAYLAND_DISPLAY's compositor could not be reached or offers no layer-shell.
    bool isConnected() const;

    std::vector<ScreenInfo> screens() const override;
    std::unique_ptr<OverlayWindow> createOverlayWindow(const ScreenInfo& screen,
                                                       OverlayWindowManager& manager) override;
    Subscription observeScreenChanges(std::function<void()> onChange) override;
    // A layer surface shows on its own output only, and outputs may all report the place (0, 0).
    bool windowsShowByArea() const override { return false; }

    // How many buffers the overlay windows have handed to the compositor so far.
    long framesPresented() const;

    struct Impl;

  Q_SIGNALS:
    void screensChanged();

  private:
    std::unique_ptr<Impl> impl_;
};

} // namespace tavrine

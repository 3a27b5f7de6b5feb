#pragma once

#include "core/overlay/WindowSystem.h"
#include "core/util/Clock.h"
#include "core/util/Executor.h"
#include "core/util/Signal.h"
#include "platform/linux/overlay/X11CompositorWatch.h"
#include "platform/linux/overlay/X11StackingGuard.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <vector>

class QScreen;

namespace tavrine {

// The overlay's window system on Qt: the screens of QGuiApplication, one QtOverlayWindow per screen,
// and screen hotplug and geometry changes reported once per burst, on the executor.
// badgeText is the text of the shortcut badge (the translation of the key "⌘⇧C").
class QtWindowSystem final : public QObject, public WindowSystem {
    Q_OBJECT
  public:
    QtWindowSystem(Executor& executor, QString badgeText, const Clock& clock = systemClock());
    ~QtWindowSystem() override;

    std::vector<ScreenInfo> screens() const override;
    std::unique_ptr<OverlayWindow> createOverlayWindow(const ScreenInfo& screen,
                                                       OverlayWindowManager& manager) override;
    Subscription observeScreenChanges(std::function<void()> onChange) override;
    // On an X11 desktop, whether a compositing manager holds the _NET_WM_CM_S0 selection; on Wayland and
    // XWayland always.
    bool showsTransparency() const override;
    // On X11, each time the compositing manager's window goes away (it quit, died or was replaced).
    Subscription observeTransparencyChanges(std::function<void()> onChange) override;

    QScreen* screenFor(ScreenId id) const;

    static const Clock& systemClock();

  private:
    void watch(QScreen* screen);
    void announce();

    Executor& executor_;
    const Clock& clock_;
    QString badgeText_;
    // Ids are handed out once per screen object, so a new screen never takes the id of a removed one
    // even when Qt reuses its address.
    std::map<QScreen*, ScreenId> ids_;
    ScreenId nextId_ = 1;
    Signal<> screensChanged_;
    TaskHandle pending_;
    X11StackingGuard stackingGuard_;
    X11CompositorWatch compositorWatch_;
    bool announcing_ = false;
};

} // namespace tavrine

#pragma once

#include "core/util/Executor.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>

namespace tavrine {

// Keeps the overlay windows above every other window on X11. The overlays bypass the window manager, so
// nothing else keeps them on top: any window mapped or restacked later would cover them. The guard
// listens to the root window's structure events and raises the overlays again, once per burst of events
// (posted on the executor), and does nothing on other platforms or while no overlay is visible.
class X11StackingGuard final : public QAbstractNativeEventFilter {
  public:
    explicit X11StackingGuard(Executor& executor);
    ~X11StackingGuard() override;
    X11StackingGuard(const X11StackingGuard&) = delete;
    X11StackingGuard& operator=(const X11StackingGuard&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    bool isActive() const { return active_; }

  private:
    void raiseOverlays();

    Executor& executor_;
    bool active_ = false;
    bool raisePending_ = false;
    TaskHandle pending_;
};

} // namespace tavrine

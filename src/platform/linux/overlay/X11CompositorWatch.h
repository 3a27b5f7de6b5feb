#pragma once

#include "core/util/Executor.h"
#include "core/util/Signal.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>

#include <xcb/xcb.h>

#include <functional>

namespace tavrine {

// Whether an X11 compositing manager is there to blend the overlay, and word when it leaves. A manager
// holds the _NET_WM_CM_S0 selection with a window of its own, which the server destroys when the manager
// quits or dies. While observed, the watch listens for that window's destruction and, once per burst of
// events (posted on the executor), tells its observers to look again: a manager replaced by another is
// still a manager, one that left is not. Does nothing without an X11 connection.
class X11CompositorWatch final : public QAbstractNativeEventFilter {
  public:
    explicit X11CompositorWatch(Executor& executor);
    ~X11CompositorWatch() override;
    X11CompositorWatch(const X11CompositorWatch&) = delete;
    X11CompositorWatch& operator=(const X11CompositorWatch&) = delete;

    // Whether a compositing manager owns the selection now.
    bool present() const;
    // Calls back on the main thread each time the manager's window went away.
    Subscription observe(std::function<void()> onChange);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    // Reads the owner and asks the server to report its window's destruction.
    void follow();
    // Follows the selection again and tells the observers, once per burst.
    void lookAgain();

    Executor& executor_;
    xcb_connection_t* conn_;
    xcb_window_t owner_ = XCB_WINDOW_NONE;
    bool filterInstalled_ = false;
    bool lookPending_ = false;
    TaskHandle pending_;
    Signal<> changed_;
};

} // namespace tavrine

#include "platform/linux/overlay/X11CompositorWatch.h"

#include "platform/linux/x11/X11Display.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

namespace tavrine {

namespace {
constexpr const char* compositorSelection = "_NET_WM_CM_S0";
} // namespace

X11CompositorWatch::X11CompositorWatch(Executor& executor) : executor_(executor), conn_(x11::connection()) {}

X11CompositorWatch::~X11CompositorWatch() {
    pending_.cancel();
    if (filterInstalled_ && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool X11CompositorWatch::present() const {
    return x11::selectionOwner(conn_, compositorSelection) != XCB_WINDOW_NONE;
}

Subscription X11CompositorWatch::observe(std::function<void()> onChange) {
    if (!conn_) {
        return {};
    }
    if (!filterInstalled_ && QCoreApplication::instance()) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        filterInstalled_ = true;
    }
    follow();
    return changed_.subscribe(std::move(onChange));
}

void X11CompositorWatch::follow() {
    owner_ = x11::selectionOwner(conn_, compositorSelection);
    if (owner_ == XCB_WINDOW_NONE) {
        return;
    }
    // A checked request: if the window is already gone its error comes back here, not to Qt's log.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (xcb_generic_error_t* error = xcb_request_check(
            conn_, xcb_change_window_attributes_checked(conn_, owner_, XCB_CW_EVENT_MASK, &mask))) {
        std::free(error);
        owner_ = XCB_WINDOW_NONE;
        lookAgain();
    }
}

void X11CompositorWatch::lookAgain() {
    if (lookPending_) {
        return;
    }
    lookPending_ = true;
    pending_ = executor_.post([this] {
        lookPending_ = false;
        follow();
        changed_.notify();
    });
}

bool X11CompositorWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || owner_ == XCB_WINDOW_NONE) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_DESTROY_NOTIFY ||
        reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window != owner_) {
        return false;
    }
    // The window can be reported twice (its own structure and its parent's): one look serves both.
    lookAgain();
    return false;
}

} // namespace tavrine

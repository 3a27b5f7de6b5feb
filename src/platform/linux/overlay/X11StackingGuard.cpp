#include "platform/linux/overlay/X11StackingGuard.h"

#include "platform/linux/overlay/OverlayContentView.h"
#include "platform/linux/x11/X11Display.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>

namespace tavrine {

namespace {

bool isOverlay(xcb_window_t window) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<OverlayContentView*>(w) && w->internalWinId() == window) {
            return true;
        }
    }
    return false;
}

} // namespace

X11StackingGuard::X11StackingGuard(Executor& executor) : executor_(executor) {
    xcb_connection_t* c = x11::connection();
    if (!c) {
        return;
    }
    const xcb_setup_t* setup = xcb_get_setup(c);
    for (auto it = xcb_setup_roots_iterator(setup); it.rem; xcb_screen_next(&it)) {
        const xcb_window_t root = it.data->root;
        // Add structure events of the root's children to what this client already selects there.
        xcb_get_window_attributes_reply_t* attrs =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, root), nullptr);
        const std::uint32_t mask = (attrs ? attrs->your_event_mask : 0) | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        std::free(attrs);
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    }
    xcb_flush(c);
    active_ = true;
    qApp->installNativeEventFilter(this);
}

X11StackingGuard::~X11StackingGuard() {
    pending_.cancel();
    if (active_ && qApp) {
        qApp->removeNativeEventFilter(this);
    }
}

bool X11StackingGuard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    xcb_window_t window = XCB_WINDOW_NONE;
    switch (event->response_type & 0x7F) {
    case XCB_MAP_NOTIFY:
        window = reinterpret_cast<const xcb_map_notify_event_t*>(event)->window;
        break;
    case XCB_CONFIGURE_NOTIFY:
        window = reinterpret_cast<const xcb_configure_notify_event_t*>(event)->window;
        break;
    case XCB_CIRCULATE_NOTIFY:
        window = reinterpret_cast<const xcb_circulate_notify_event_t*>(event)->window;
        break;
    default:
        return false;
    }
    // Our own raises come back as configure events: they must not start another round.
    if (!raisePending_ && !isOverlay(window)) {
        raisePending_ = true;
        pending_ = executor_.post([this] { raiseOverlays(); });
    }
    return false;
}

void X11StackingGuard::raiseOverlays() {
    raisePending_ = false;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<OverlayContentView*>(w) && w->isVisible()) {
            w->raise();
        }
    }
}

} // namespace tavrine

#include "platform/linux/monitors/X11ScreenSaver.h"

#include <QCoreApplication>

#include <xcb/screensaver.h>

#include <cstdlib>

namespace tavrine {

namespace {

bool isOn(std::uint8_t state) {
    return state == XCB_SCREENSAVER_STATE_ON || state == XCB_SCREENSAVER_STATE_CYCLE;
}

} // namespace

X11ScreenSaver::X11ScreenSaver(xcb_connection_t* conn, std::function<void(bool active)> onChange)
    : onChange_(std::move(onChange)) {
    if (!conn || !QCoreApplication::instance()) {
        return;
    }
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(conn, &xcb_screensaver_id);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(conn)).data;
    if (!extension || !extension->present || !screen) {
        return;
    }
    // Selected before the state is read: a change in between is heard, not lost.
    xcb_screensaver_select_input(conn, screen->root,
                                 XCB_SCREENSAVER_EVENT_NOTIFY_MASK | XCB_SCREENSAVER_EVENT_CYCLE_MASK);
    conn_ = conn;
    root_ = screen->root;
    notifyEvent_ = static_cast<std::uint8_t>(extension->first_event + XCB_SCREENSAVER_NOTIFY);
    QCoreApplication::instance()->installNativeEventFilter(this);
    read();
}

X11ScreenSaver::~X11ScreenSaver() {
    if (notifyEvent_ != 0 && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool X11ScreenSaver::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || notifyEvent_ == 0) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) == notifyEvent_) {
        // The event's own state may be older than what was last read (events queue up while the state is
        // read, or while the event loop is busy): the server is asked again.
        if (read()) {
            onChange_(active_);
        }
    }
    return false;
}

bool X11ScreenSaver::read() {
    xcb_screensaver_query_info_reply_t* info =
        xcb_screensaver_query_info_reply(conn_, xcb_screensaver_query_info(conn_, root_), nullptr);
    if (!info) {
        return false;
    }
    const bool was = active_;
    active_ = isOn(info->state);
    std::free(info);
    return active_ != was;
}

} // namespace tavrine

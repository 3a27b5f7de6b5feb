#include "platform/linux/shortcut/X11GlobalShortcut.h"

#include "platform/linux/x11/X11Display.h"

#include <QCoreApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <ostream>

namespace tavrine {

namespace {

constexpr std::uint32_t keysymC = 0x0063;
constexpr std::uint16_t shortcutModifiers = XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT;

// Every keycode that produces `keysym` in some column of the keyboard mapping.
std::vector<std::uint8_t> keycodesFor(xcb_connection_t* c, std::uint32_t keysym) {
    std::vector<std::uint8_t> found;
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto* reply = xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr);
    if (!reply) {
        return found;
    }
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perCode = reply->keysyms_per_keycode;
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < perCode; ++j) {
            if (syms[i * perCode + j] == keysym) {
                found.push_back(static_cast<std::uint8_t>(setup->min_keycode + i));
                break;
            }
        }
    }
    std::free(reply);
    return found;
}

} // namespace

X11GlobalShortcut::X11GlobalShortcut(std::ostream& diagnostics)
    : X11GlobalShortcut(x11::connection(), diagnostics) {}

X11GlobalShortcut::X11GlobalShortcut(xcb_connection_t* connection, std::ostream& diagnostics)
    : connection_(connection), diagnostics_(diagnostics) {
    if (!connection_ || xcb_connection_has_error(connection_)) {
        connection_ = nullptr;
        return;
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    const auto codes = keycodesFor(connection_, keysymC);
    if (!codes.empty()) {
        keycode_ = codes.front();
    }
}

X11GlobalShortcut::~X11GlobalShortcut() {
    ungrab();
    if (filterInstalled_ && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

Subscription X11GlobalShortcut::install(std::function<void()> onPressed) {
    if (!connection_ || keycode_ == 0) {
        status_ = ShortcutStatus::unsupported;
        return {};
    }
    const std::uint64_t installation = ++installation_;
    onPressed_ = std::move(onPressed);
    if (!isGrabbed()) {
        grab();
    }
    if (!filterInstalled_ && QCoreApplication::instance()) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        filterInstalled_ = true;
    }
    std::weak_ptr<bool> alive = alive_;
    return Subscription([this, alive, installation] {
        // A handle of an earlier installation must not remove a later one.
        if (alive.expired() || installation != installation_) {
            return;
        }
        onPressed_ = nullptr;
        ungrab();
        status_ = ShortcutStatus::idle;
        if (filterInstalled_ && QCoreApplication::instance()) {
            QCoreApplication::instance()->removeNativeEventFilter(this);
        }
        filterInstalled_ = false;
    });
}

void X11GlobalShortcut::grab() {
    // The toggle looks at Super, Shift and C only: the shortcut is grabbed with every combination of the
    // other modifiers (Caps Lock, Ctrl, Alt, Num Lock, AltGr...), not with AnyModifier, which would also
    // take C pressed alone away from every other program.
    constexpr std::uint16_t others[] = {XCB_MOD_MASK_LOCK, XCB_MOD_MASK_CONTROL, XCB_MOD_MASK_1,
                                        XCB_MOD_MASK_2,    XCB_MOD_MASK_3,       XCB_MOD_MASK_5};
    constexpr unsigned combinations = 1u << std::size(others);
    const auto modifiersOf = [&others](unsigned bits) {
        std::uint16_t mods = shortcutModifiers;
        for (std::size_t i = 0; i < std::size(others); ++i) {
            if (bits & (1u << i)) {
                mods = static_cast<std::uint16_t>(mods | others[i]);
            }
        }
        return mods;
    };
    std::vector<xcb_void_cookie_t> cookies;
    cookies.reserve(combinations);
    for (unsigned bits = 0; bits < combinations; ++bits) {
        cookies.push_back(xcb_grab_key_checked(connection_, 0, root_, modifiersOf(bits), keycode_,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    bool plainTaken = false;
    for (unsigned bits = 0; bits < combinations; ++bits) {
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookies[bits])) {
            // A combination with extra modifiers held by another program stays theirs.
            plainTaken = plainTaken || bits == 0;
            std::free(error);
        } else {
            grabbedModifiers_.push_back(modifiersOf(bits));
        }
    }
    xcb_flush(connection_);
    if (plainTaken) {
        status_ = ShortcutStatus::taken;
    } else {
        status_ = onlyX11Windows_ ? ShortcutStatus::x11WindowsOnly : ShortcutStatus::working;
    }
    if (plainTaken && !reportedFailure_) {
        reportedFailure_ = true;
        diagnostics_
            << "tavrine\u00a0: le raccourci Super+Maj+C est pris par un autre programme\u202f; il reste "
               "désactivé."
            << std::endl;
    }
}

void X11GlobalShortcut::ungrab() {
    if (!connection_ || grabbedModifiers_.empty()) {
        return;
    }
    for (std::uint16_t mods : grabbedModifiers_) {
        xcb_ungrab_key(connection_, keycode_, root_, mods);
    }
    grabbedModifiers_.clear();
    xcb_flush(connection_);
}

bool X11GlobalShortcut::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* /*result*/) {
    if (eventType != "xcb_generic_event_t" || !message || !isGrabbed()) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & ~0x80;
    if (type == XCB_KEY_RELEASE) {
        const auto* key = static_cast<const xcb_key_release_event_t*>(message);
        if (key->detail == keycode_) {
            lastReleaseTime_ = key->time;
        }
        return false;
    }
    if (type != XCB_KEY_PRESS) {
        return false;
    }
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    if (key->detail != keycode_ || (key->state & shortcutModifiers) != shortcutModifiers) {
        return false;
    }
    // X auto-repeat sends a release and a press with the same time stamp for a key held down.
    if (lastReleaseTime_ != 0 && key->time == lastReleaseTime_) {
        return true;
    }
    if (auto handler = onPressed_) {
        handler();
    }
    return true;
}

} // namespace tavrine

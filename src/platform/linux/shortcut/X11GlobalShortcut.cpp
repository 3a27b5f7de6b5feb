#include "platform/linux/shortcut/X11GlobalShortcut.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>

namespace tavrine {

namespace {

constexpr std::uint32_t keysymC = 0x0063;
constexpr std::uint32_t keysymNumLock = 0xff7f;
constexpr std::uint16_t shortcutModifiers = XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT;

xcb_connection_t* qtConnection() {
    auto* app = qGuiApp;
    if (!app) {
        return nullptr;
    }
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

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
    : X11GlobalShortcut(qtConnection(), diagnostics) {}

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
        if (filterInstalled_ && QCoreApplication::instance()) {
            QCoreApplication::instance()->removeNativeEventFilter(this);
        }
        filterInstalled_ = false;
    });
}

std::uint16_t X11GlobalShortcut::numLockMask() const {
    const auto numLockCodes = keycodesFor(connection_, keysymNumLock);
    if (numLockCodes.empty()) {
        return 0;
    }
    auto* reply = xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr);
    if (!reply) {
        return 0;
    }
    std::uint16_t mask = 0;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply);
    const int perModifier = reply->keycodes_per_modifier;
    for (int mod = 0; mod < 8 && mask == 0; ++mod) {
        for (int k = 0; k < perModifier; ++k) {
            const xcb_keycode_t code = codes[mod * perModifier + k];
            if (code != 0 &&
                std::find(numLockCodes.begin(), numLockCodes.end(), code) != numLockCodes.end()) {
                mask = static_cast<std::uint16_t>(1u << mod);
                break;
            }
        }
    }
    std::free(reply);
    return mask;
}

void X11GlobalShortcut::grab() {
    const std::uint16_t numLock = numLockMask();
    std::vector<std::uint16_t> variants{shortcutModifiers,
                                        static_cast<std::uint16_t>(shortcutModifiers | XCB_MOD_MASK_LOCK)};
    if (numLock != 0) {
        variants.push_back(static_cast<std::uint16_t>(shortcutModifiers | numLock));
        variants.push_back(static_cast<std::uint16_t>(shortcutModifiers | numLock | XCB_MOD_MASK_LOCK));
    }
    bool failed = false;
    for (std::uint16_t mods : variants) {
        const auto cookie = xcb_grab_key_checked(connection_, 0, root_, mods, keycode_, XCB_GRAB_MODE_ASYNC,
                                                 XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
            failed = true;
            std::free(error);
        } else {
            grabbedModifiers_.push_back(mods);
        }
    }
    xcb_flush(connection_);
    if (failed && !reportedFailure_) {
        reportedFailure_ = true;
        diagnostics_ << "Tavrine: the shortcut Super+Shift+C is taken by another program; it stays off."
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

#include "platform/linux/shortcut/X11GlobalShortcut.h"

#include "MockShell.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace tavrine {
namespace {

using testing::settleBus;
using testing::waitFor;

bool onX11() {
    return QGuiApplication::platformName() == QStringLiteral("xcb");
}

int countLines(const std::string& s) {
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
}

bool xdotool(const std::string& keys) {
    return std::system(("xdotool key " + keys).c_str()) == 0;
}

// Another X client, as a program that holds the same shortcut would be.
class OtherClient {
  public:
    OtherClient() : c_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~OtherClient() { xcb_disconnect(c_); }
    // True when the grab of Super+Shift+<keycode> succeeded.
    bool grab(std::uint8_t keycode) {
        auto cookie = xcb_grab_key_checked(c_, 0, root_, XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT, keycode,
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t* error = xcb_request_check(c_, cookie);
        const bool ok = error == nullptr;
        std::free(error);
        return ok;
    }
    std::uint8_t keycodeOfC() {
        const xcb_setup_t* setup = xcb_get_setup(c_);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto* reply = xcb_get_keyboard_mapping_reply(
            c_, xcb_get_keyboard_mapping(c_, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr);
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
        std::uint8_t found = 0;
        for (int i = 0; i < count && found == 0; ++i) {
            if (syms[i * reply->keysyms_per_keycode] == 0x63) {
                found = static_cast<std::uint8_t>(setup->min_keycode + i);
            }
        }
        std::free(reply);
        return found;
    }

  private:
    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
};

TEST(X11GlobalShortcutWithoutX, InstallsNothingAndNeverCrashes) {
    std::ostringstream diagnostics;
    X11GlobalShortcut none(nullptr, diagnostics);
    int presses = 0;
    Subscription s = none.install([&presses] { ++presses; });
    EXPECT_FALSE(s.isActive());
    EXPECT_FALSE(none.isGrabbed());
    s.cancel();
    if (!onX11()) {
        // The application's own connection is null on the offscreen platform.
        X11GlobalShortcut fromApp(diagnostics);
        EXPECT_FALSE(fromApp.install([] {}).isActive());
    }
    EXPECT_TRUE(diagnostics.str().empty());
}

class X11GlobalShortcutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!onX11()) {
            GTEST_SKIP() << "needs an X server (run-in-session.sh)";
        }
    }
    std::ostringstream diagnostics;
};

TEST_F(X11GlobalShortcutTest, SuperShiftCFiresOtherCombinationsDoNot) {
    X11GlobalShortcut shortcut(diagnostics);
    int presses = 0;
    Subscription s = shortcut.install([&presses] { ++presses; });
    ASSERT_TRUE(shortcut.isGrabbed());
    EXPECT_EQ(shortcut.status().get(), ShortcutStatus::working);
    ASSERT_TRUE(xdotool("super+shift+c"));
    ASSERT_TRUE(waitFor([&] { return presses == 1; }));
    ASSERT_TRUE(xdotool("super+c"));
    ASSERT_TRUE(xdotool("shift+c"));
    ASSERT_TRUE(xdotool("c"));
    // With Caps Lock on, and then a plain press again: exactly two more.
    ASSERT_TRUE(xdotool("Caps_Lock super+shift+c Caps_Lock"));
    ASSERT_TRUE(xdotool("super+shift+c"));
    ASSERT_TRUE(waitFor([&] { return presses >= 3; }));
    settleBus();
    EXPECT_EQ(presses, 3);
    EXPECT_TRUE(diagnostics.str().empty());
}

TEST_F(X11GlobalShortcutTest, CancellingReleasesTheKeysForOthers) {
    OtherClient other;
    {
        X11GlobalShortcut shortcut(diagnostics);
        int presses = 0;
        Subscription s = shortcut.install([&presses] { ++presses; });
        ASSERT_TRUE(shortcut.isGrabbed());
        s.cancel();
        EXPECT_FALSE(shortcut.isGrabbed());
        ASSERT_TRUE(xdotool("super+shift+c"));
        settleBus();
        EXPECT_EQ(presses, 0);
    }
    EXPECT_TRUE(other.grab(other.keycodeOfC()));
}

TEST_F(X11GlobalShortcutTest, KeysHeldByAnotherProgramAreReportedOnceAndNothingBreaks) {
    OtherClient other;
    ASSERT_TRUE(other.grab(other.keycodeOfC()));
    X11GlobalShortcut shortcut(diagnostics);
    int presses = 0;
    Subscription first = shortcut.install([&presses] { ++presses; });
    first.cancel();
    Subscription second = shortcut.install([&presses] { ++presses; });
    EXPECT_EQ(shortcut.status().get(), ShortcutStatus::taken);
    EXPECT_EQ(countLines(diagnostics.str()), 1) << diagnostics.str();
    EXPECT_NE(diagnostics.str().find("Super+Shift+C"), std::string::npos);
    ASSERT_TRUE(xdotool("super+shift+c"));
    settleBus();
    EXPECT_EQ(presses, 0);
}

// Also on XWayland, where the grab is told to see only X11 windows' keys.
TEST_F(X11GlobalShortcutTest, AnEarlierHandleDoesNotRemoveALaterInstallation) {
    X11GlobalShortcut shortcut(diagnostics);
    shortcut.setOnlyX11Windows(true);
    int firstPresses = 0;
    int secondPresses = 0;
    Subscription first = shortcut.install([&firstPresses] { ++firstPresses; });
    Subscription second = shortcut.install([&secondPresses] { ++secondPresses; });
    first.cancel();
    EXPECT_TRUE(shortcut.isGrabbed());
    EXPECT_EQ(shortcut.status().get(), ShortcutStatus::x11WindowsOnly);
    ASSERT_TRUE(xdotool("super+shift+c"));
    ASSERT_TRUE(waitFor([&] { return secondPresses == 1; }));
    EXPECT_EQ(firstPresses, 0);
}

} // namespace
} // namespace tavrine

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    const auto* unit = ::testing::UnitTest::GetInstance();
    std::printf("%d passed, %d failed\n", unit->successful_test_count(), unit->failed_test_count());
    return rc;
}

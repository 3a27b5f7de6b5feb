// The global shortcut as the desktop offers it: an X key grab, or the desktop portal's GlobalShortcuts.
#include "platform/linux/shortcut/GlobalShortcutChoice.h"
#include "platform/linux/shortcut/PortalGlobalShortcut.h"
#include "platform/linux/shortcut/PortalHostRegistry.h"
#include "platform/linux/shortcut/X11GlobalShortcut.h"

#include "platform/PlatformTestSupport.h"

#include <QDBusConnection>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <sstream>
#include <string>

using namespace tavrine;
using namespace tavrine::testing;

bool onX11() {
    return QGuiApplication::platformName() == QStringLiteral("xcb");
}

bool xdotool(const std::string& keys) {
    return std::system(("xdotool key " + keys).c_str()) == 0;
}

TEST(X11GlobalShortcutWithoutX, InstallsNothingAndNeverCrashes) {
    std::ostringstream diagnostics;
    X11GlobalShortcut none(nullptr, diagnostics);
    Subscription s = none.install([] {});
    EXPECT_FALSE(s.isActive());
    EXPECT_FALSE(none.isGrabbed());
    if (!onX11()) {
        // The application's own connection is null on the offscreen platform.
        X11GlobalShortcut fromApp(diagnostics);
        EXPECT_FALSE(fromApp.install([] {}).isActive());
    }
    EXPECT_TRUE(diagnostics.str().empty());
}

// Super+Shift+C fires, with Caps Lock on too, and no other combination does; cancelling gives the keys back
// to other programs, and keys another program holds are reported once, never pressed. (That a handle of an
// earlier installation does not remove a later one, the desktop scenario `shortcut` sees.)
TEST(X11GlobalShortcut, SuperShiftCFiresWhileInstalledAndKeysHeldByOthersAreReportedOnce) {
    if (!onX11()) {
        GTEST_SKIP() << "needs an X server (run-in-session.sh)";
    }
    std::ostringstream diagnostics;
    X11GlobalShortcut shortcut(diagnostics);
    int presses = 0;
    Subscription installed = shortcut.install([&presses] { ++presses; });
    ASSERT_TRUE(shortcut.isGrabbed());
    EXPECT_EQ(shortcut.status().get(), ShortcutStatus::working);
    ASSERT_TRUE(xdotool("super+shift+c super+c shift+c c Caps_Lock super+shift+c Caps_Lock"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return presses >= 2; }));
    settleBus();
    EXPECT_EQ(presses, 2);
    installed.cancel();
    EXPECT_FALSE(shortcut.isGrabbed());
    ASSERT_TRUE(xdotool("super+shift+c"));
    settleBus();
    EXPECT_EQ(presses, 2);

    // Another program, on its own connection, can now take the keys.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    {
        std::ostringstream unused;
        X11GlobalShortcut otherProgram(other, unused);
        Subscription held = otherProgram.install([] {});
        Subscription taken = shortcut.install([&presses] { ++presses; });
        taken.cancel();
        taken = shortcut.install([&presses] { ++presses; });
        EXPECT_EQ(shortcut.status().get(), ShortcutStatus::taken);
        EXPECT_EQ(std::ranges::count(diagnostics.str(), '\n'), 1) << diagnostics.str();
        EXPECT_NE(diagnostics.str().find("Super+Maj+C"), std::string::npos);
        ASSERT_TRUE(xdotool("super+shift+c"));
        settleBus();
        EXPECT_EQ(presses, 2);
    }
    xcb_disconnect(other);
}

// The portal mock sends Activated(session, id) as the desktop would.
std::string activated(const std::string& session, const std::string& id) {
    return "mock_emit session \"$PORTAL_NAME\" \"$PORTAL_PATH\" org.freedesktop.portal.GlobalShortcuts "
           "Activated osta{sv} \"[<objectpath \\\"" +
           session + "\\\">, <\\\"" + id + "\\\">, <uint64 1>, <@a{sv} {}>]\"";
}

class PortalGlobalShortcutTest : public MockSessionTest {};

// A current portal grants shortcuts only to a registered application id, which must look like one; an
// older portal has no registry and no portal at all answers nothing: both are fine and said nowhere. The
// registration is once per connection, so each case has its own.
TEST_F(PortalGlobalShortcutTest, RegistersTheApplicationIdWithThePortal) {
    const struct {
        const char* portal; // "": none; else the mock's registry
        const char* appId;
        const char* registered; // what the portal then holds
        bool told;
    } cases[] = {
        {"", "expert.brightfen.Tavrine", "", false},
        {"absent", "expert.brightfen.Tavrine", "", false},
        {"required", "expert.brightfen.Tavrine", "expert.brightfen.Tavrine\n", false},
        {"required", "tavrine", "", true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.portal) + " " + c.appId);
        ASSERT_TRUE(mockOk(std::string("mock_stop_all") + (*c.portal ? "; mock_shortcuts_portal 0 " : "") +
                           c.portal));
        const QString name = QStringLiteral("registry-%1").arg(++n);
        {
            QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
            std::ostringstream diagnostics;
            registerWithPortal(bus, QString::fromLatin1(c.appId), diagnostics);
            if (c.told) {
                EXPECT_TRUE(QTest::qWaitFor([&] { return !diagnostics.str().empty(); }));
                EXPECT_NE(diagnostics.str().find("refuse l\u2019identifiant tavrine"), std::string::npos)
                    << diagnostics.str();
            } else {
                settleBus();
                EXPECT_EQ(diagnostics.str(), "");
            }
            if (*c.portal) {
                EXPECT_EQ(mockShell("portal_app_ids"), c.registered);
            }
        }
        QDBusConnection::disconnectFromBus(name);
    }
}

// Without a portal, or with one that lacks the interface (as the wlroots backend's), the portal shortcut is
// not offered. A Wayland session asks the portal without waiting: an install made before it answers is made
// on the portal's shortcut once it does, and the status waits until then. Whatever the desktop answers, the
// binding asks for Super+Shift+C under our id; only an accepted binding counts as working, and only its own
// Activated signals press the keys.
TEST_F(PortalGlobalShortcutTest, BindsSuperShiftCAndReportsTheAnswer) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    EXPECT_FALSE(PortalGlobalShortcut::offered(bus));
    ASSERT_TRUE(mockOk("mock_start bare_portal session \"$PORTAL_NAME\" \"$PORTAL_NAME\" \"$PORTAL_PATH\" "
                       "org.freedesktop.portal.Screenshot"));
    EXPECT_FALSE(PortalGlobalShortcut::offered(bus));
    // The mock's answer to BindShortcuts, and a word of the one diagnostics line of a refusal.
    const std::pair<std::string, std::string> answers[] = {{"0", ""},
                                                           {"1", "refusé"},
                                                           {"2", "mis fin à la demande"},
                                                           {"unbound", "aucune touche"},
                                                           {"error", "not allowed"},
                                                           {"malformed", "aucune touche"}};
    for (const auto& [answer, reported] : answers) {
        SCOPED_TRACE(answer);
        ASSERT_TRUE(mockOk("mock_stop_all; mock_shortcuts_portal " + answer));
        std::ostringstream diagnostics;
        qputenv("XDG_SESSION_TYPE", "wayland");
        const auto shortcut = chooseGlobalShortcut(bus, diagnostics);
        qunsetenv("XDG_SESSION_TYPE");
        int presses = 0;
        Subscription s = shortcut->install([&presses] { ++presses; });
        EXPECT_EQ(shortcut->status().get(), ShortcutStatus::waiting);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shortcut->status().get() != ShortcutStatus::waiting; }));
        EXPECT_EQ(shortcut->status().get(),
                  reported.empty() ? ShortcutStatus::working : ShortcutStatus::refused);

        const std::string bind =
            mockShell("mock_calls session \"$PORTAL_NAME\" \"$PORTAL_PATH\" BindShortcuts");
        EXPECT_NE(bind.find("[[\"toggle-filter\", {"), std::string::npos) << bind;
        EXPECT_NE(bind.find("\"preferred_trigger\": \"LOGO+SHIFT+c\""), std::string::npos) << bind;

        if (reported.empty()) {
            // Another session's or another shortcut's activation is not ours.
            ASSERT_TRUE(
                mockOk(activated("/org/freedesktop/portal/desktop/session/1_1/other", "toggle-filter") +
                       " && " + activated("$(portal_sessions)", "other") +
                       " && portal_press toggle-filter && portal_press toggle-filter"));
            EXPECT_TRUE(QTest::qWaitFor([&] { return presses >= 2; }));
            settleBus();
            EXPECT_EQ(presses, 2);
            // Removing the shortcut closes the portal session: the keys are free again.
            s.cancel();
            EXPECT_EQ(shortcut->status().get(), ShortcutStatus::idle);
            EXPECT_TRUE(QTest::qWaitFor([&] { return mockShell("portal_sessions").empty(); }));
            // Installed again, it asks again; when the desktop later ends the session, that is said once and
            // the status no longer claims a working shortcut.
            Subscription again = shortcut->install([&presses] { ++presses; });
            ASSERT_TRUE(QTest::qWaitFor([&] { return shortcut->status().get() == ShortcutStatus::working; }));
            ASSERT_TRUE(
                mockOk("mock_call session \"$PORTAL_NAME\" \"$PORTAL_PATH\" \"$MOCK_IFACE.EndSessions\""));
            EXPECT_TRUE(QTest::qWaitFor([&] { return shortcut->status().get() == ShortcutStatus::refused; }));
            EXPECT_NE(diagnostics.str().find("mis fin à la session du raccourci"), std::string::npos)
                << diagnostics.str();
        } else {
            // A refusal is said once, is not taken for success, and leaves no session behind.
            EXPECT_NE(diagnostics.str().find(reported), std::string::npos) << diagnostics.str();
            EXPECT_TRUE(QTest::qWaitFor([&] { return mockShell("portal_sessions").empty(); }));
            // The next start of the filter installs again: the user is not asked a second time.
            Subscription again = shortcut->install([&presses] { ++presses; });
            settleBus();
            EXPECT_EQ(shortcut->status().get(), ShortcutStatus::refused);
            EXPECT_EQ(mockShell("mock_count_calls session \"$PORTAL_NAME\" \"$PORTAL_PATH\" CreateSession"),
                      "1\n");
            EXPECT_EQ(presses, 0);
        }
        // The choice is told in one line, the refusal or the end of the session in one more.
        EXPECT_NE(diagnostics.str().find("portail du bureau"), std::string::npos) << diagnostics.str();
        EXPECT_EQ(std::ranges::count(diagnostics.str(), '\n'), 2) << diagnostics.str();
    }
}

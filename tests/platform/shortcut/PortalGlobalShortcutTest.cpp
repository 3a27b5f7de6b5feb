#include "platform/linux/shortcut/PortalGlobalShortcut.h"

#include "platform/linux/shortcut/GlobalShortcutChoice.h"

#include "MockShell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

namespace tavrine {
namespace {

using testing::mockOk;
using testing::mockShell;
using testing::settleBus;
using testing::waitFor;

const char* const portalCalls = "mock_calls session \"$PORTAL_NAME\" \"$PORTAL_PATH\" BindShortcuts";

struct PortalCase {
    const char* answer; // the mock's answer to BindShortcuts
    ShortcutStatus status;
    const char* reported; // a word of the one diagnostics line, "" for none
};

int lineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// The portal mock sends Activated(session, id) as the desktop would.
bool emitActivated(QDBusConnection& bus, const QString& session, const QString& id) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("EmitSignal"));
    call << QStringLiteral("org.freedesktop.portal.GlobalShortcuts") << QStringLiteral("Activated")
         << QStringLiteral("osta{sv}")
         << QVariantList{QVariant::fromValue(QDBusObjectPath(session)), id,
                         QVariant::fromValue(qulonglong(1)), QVariantMap()};
    return bus.call(call).type() == QDBusMessage::ReplyMessage;
}

class PortalGlobalShortcutTest : public testing::MockSessionTest,
                                 public ::testing::WithParamInterface<PortalCase> {};

// Whatever the desktop answers, the binding asks for Super+Shift+C under our id; only an accepted
// binding counts as working, and only its own Activated signals press the keys.
TEST_P(PortalGlobalShortcutTest, BindsSuperShiftCAndReportsTheAnswer) {
    const PortalCase& c = GetParam();
    ASSERT_TRUE(mockOk(std::string("mock_shortcuts_portal ") + c.answer));
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(PortalGlobalShortcut::offered(bus));
    std::ostringstream diagnostics;
    PortalGlobalShortcut shortcut(bus, diagnostics);
    int presses = 0;
    Subscription s = shortcut.install([&presses] { ++presses; });
    EXPECT_EQ(shortcut.status().get(), ShortcutStatus::waiting);
    ASSERT_TRUE(waitFor([&] { return shortcut.status().get() != ShortcutStatus::waiting; }));
    EXPECT_EQ(shortcut.status().get(), c.status);

    const std::string bind = mockShell(portalCalls);
    EXPECT_NE(bind.find("[[\"toggle-filter\", {"), std::string::npos) << bind;
    EXPECT_NE(bind.find("\"preferred_trigger\": \"LOGO+SHIFT+c\""), std::string::npos) << bind;

    if (c.status == ShortcutStatus::working) {
        EXPECT_TRUE(diagnostics.str().empty()) << diagnostics.str();
        // Another session's or another shortcut's activation is not ours.
        const std::string session = mockShell("portal_sessions");
        const QString other = QStringLiteral("/org/freedesktop/portal/desktop/session/1_1/other");
        ASSERT_TRUE(emitActivated(bus, other, QStringLiteral("toggle-filter")));
        ASSERT_TRUE(emitActivated(bus, QString::fromStdString(session).trimmed(), QStringLiteral("other")));
        ASSERT_TRUE(mockOk("portal_press toggle-filter"));
        EXPECT_TRUE(waitFor([&] { return presses == 1; }));
        ASSERT_TRUE(mockOk("portal_press toggle-filter"));
        EXPECT_TRUE(waitFor([&] { return presses == 2; }));
        settleBus();
        EXPECT_EQ(presses, 2);
        // Removing the shortcut closes the portal session: the keys are free again.
        s.cancel();
        EXPECT_EQ(shortcut.status().get(), ShortcutStatus::idle);
        EXPECT_TRUE(waitFor([&] { return mockShell("portal_sessions").empty(); })) << session;
        // Installed again, it asks again; when the desktop later ends the session, that is said once and
        // the status no longer claims a working shortcut.
        Subscription again = shortcut.install([&presses] { ++presses; });
        ASSERT_TRUE(waitFor([&] { return shortcut.status().get() == ShortcutStatus::working; }));
        ASSERT_TRUE(
            mockOk("mock_call session \"$PORTAL_NAME\" \"$PORTAL_PATH\" \"$MOCK_IFACE.EndSessions\""));
        EXPECT_TRUE(waitFor([&] { return shortcut.status().get() == ShortcutStatus::refused; }));
        EXPECT_NE(diagnostics.str().find("ended the shortcut session"), std::string::npos)
            << diagnostics.str();
        EXPECT_EQ(lineCount(diagnostics.str()), 1);
    } else {
        // A refusal is said once, is not taken for success, and leaves no session behind.
        EXPECT_NE(diagnostics.str().find(c.reported), std::string::npos) << diagnostics.str();
        EXPECT_EQ(lineCount(diagnostics.str()), 1);
        EXPECT_TRUE(waitFor([&] { return mockShell("portal_sessions").empty(); }));
        // The next start of the filter installs again: the user is not asked a second time.
        Subscription again = shortcut.install([&presses] { ++presses; });
        settleBus();
        EXPECT_EQ(shortcut.status().get(), ShortcutStatus::refused);
        EXPECT_EQ(mockShell("mock_count_calls session \"$PORTAL_NAME\" \"$PORTAL_PATH\" CreateSession"),
                  "1\n");
        EXPECT_EQ(lineCount(diagnostics.str()), 1);
        EXPECT_EQ(presses, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, PortalGlobalShortcutTest,
                         ::testing::Values(PortalCase{"0", ShortcutStatus::working, ""},
                                           PortalCase{"1", ShortcutStatus::refused, "declined"},
                                           PortalCase{"2", ShortcutStatus::refused, "ended"},
                                           PortalCase{"unbound", ShortcutStatus::refused, "no keys"},
                                           PortalCase{"error", ShortcutStatus::refused, "not allowed"}));

class PortalAbsentTest : public testing::MockSessionTest {};

TEST_F(PortalAbsentTest, NoPortalOrOneWithoutGlobalShortcutsIsNotOffered) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    EXPECT_FALSE(PortalGlobalShortcut::offered(bus));
    // A portal service that lacks the interface (as the wlroots backend does).
    ASSERT_TRUE(mockOk("mock_start bare_portal session \"$PORTAL_NAME\" \"$PORTAL_NAME\" \"$PORTAL_PATH\" "
                       "org.freedesktop.portal.Screenshot"));
    EXPECT_FALSE(PortalGlobalShortcut::offered(bus));
    ASSERT_TRUE(mockOk("mock_stop bare_portal && mock_shortcuts_portal"));
    EXPECT_TRUE(PortalGlobalShortcut::offered(bus));
}

class ShortcutChoiceTest : public testing::MockSessionTest {};

// A Wayland session asks the portal without waiting: an install made before it answers is made on the
// portal's shortcut once it does, and the status waits until then.
TEST_F(ShortcutChoiceTest, AnInstallBeforeThePortalAnswersIsMadeOnItsShortcut) {
    ASSERT_TRUE(mockOk("mock_shortcuts_portal 0"));
    qputenv("XDG_SESSION_TYPE", "wayland");
    std::ostringstream diagnostics;
    const auto shortcut = chooseGlobalShortcut(QDBusConnection::sessionBus(), diagnostics);
    qunsetenv("XDG_SESSION_TYPE");
    Subscription s = shortcut->install([] {});
    EXPECT_EQ(shortcut->status().get(), ShortcutStatus::waiting);
    ASSERT_TRUE(waitFor([&] { return shortcut->status().get() == ShortcutStatus::working; }));
    EXPECT_NE(diagnostics.str().find("desktop portal"), std::string::npos);
}

} // namespace
} // namespace tavrine

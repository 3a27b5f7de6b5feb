#include "platform/linux/notifications/FreedesktopNotifier.h"

#include "MockShell.h"

#include <QDBusConnection>
#include <QSignalSpy>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace tavrine {
namespace {

using nlohmann::json;
using testing::mockOk;
using testing::mockShell;
using testing::settleBus;
using testing::waitFor;

// The calls the notification daemon mock received, in order.
std::vector<json> daemonCalls() {
    std::istringstream lines(mockShell("mock_calls session \"$NOTIFY_NAME\" \"$NOTIFY_PATH\""));
    std::vector<json> calls;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            calls.push_back(json::parse(line));
        }
    }
    return calls;
}

std::vector<json> callsOf(const std::string& method) {
    std::vector<json> out;
    for (auto& c : daemonCalls()) {
        if (c["method"] == method) {
            out.push_back(c);
        }
    }
    return out;
}

class FreedesktopNotifierTest : public testing::MockSessionTest {
  protected:
    uint postAndWait(FreedesktopNotifier& n, const std::string& title = "Regard indiscret",
                     const std::string& body = "Quelqu'un regarde votre écran.") {
        QSignalSpy spy(&n, &FreedesktopNotifier::posted);
        n.post("tavrine.alert", title, body);
        if (!spy.wait(5000)) {
            ADD_FAILURE() << "no answer from the daemon";
            return 0;
        }
        return spy.takeFirst().at(1).toUInt();
    }
};

TEST_F(FreedesktopNotifierTest, PostsWithTheAppNameIconTextsAndSoundAndReplacesItsLastOne) {
    ASSERT_TRUE(mockOk("mock_notifications"));
    FreedesktopNotifier notifier(QDBusConnection::sessionBus());
    const uint first = postAndWait(notifier);
    ASSERT_NE(first, 0u);
    postAndWait(notifier, "Encore", "Toujours là");
    auto notifies = callsOf("Notify");
    ASSERT_EQ(notifies.size(), 2u);
    const json& a = notifies[0]["args"];
    EXPECT_EQ(a[0], "Tavrine");
    EXPECT_EQ(a[1], 0);
    EXPECT_EQ(a[3], "Regard indiscret");
    EXPECT_EQ(a[4], "Quelqu'un regarde votre écran.");
    EXPECT_EQ(a[6]["sound-name"], "message-new-instant");
    EXPECT_EQ(a[7], -1);
    EXPECT_EQ(notifies[1]["args"][1], first) << "the second replaces the first";
    EXPECT_EQ(notifies[1]["args"][3], "Encore");
    for (const json& notify : notifies) {
        EXPECT_EQ(notify["args"][2], "tavrine") << "every notification carries the application's icon";
        EXPECT_EQ(notify["args"][6]["desktop-entry"], "tavrine");
    }
}

TEST_F(FreedesktopNotifierTest, RemoveBeforeTheDaemonAnsweredStillCloses) {
    ASSERT_TRUE(mockOk("mock_notifications"));
    FreedesktopNotifier notifier(QDBusConnection::sessionBus());
    notifier.post("tavrine.alert", "t", "b");
    notifier.remove("tavrine.alert");
    ASSERT_TRUE(waitFor([] { return callsOf("CloseNotification").size() == 1; }));
    auto notifies = callsOf("Notify");
    ASSERT_EQ(notifies.size(), 1u);
}

TEST_F(FreedesktopNotifierTest, NotificationClosedByTheUserIsNotReplaced) {
    ASSERT_TRUE(mockOk("mock_notifications"));
    FreedesktopNotifier notifier(QDBusConnection::sessionBus());
    const uint id = postAndWait(notifier);
    ASSERT_TRUE(mockOk("notifications_close " + std::to_string(id)));
    settleBus();
    postAndWait(notifier);
    EXPECT_EQ(callsOf("Notify").back()["args"][1], 0);
    // And removing then closes nothing that is gone already.
    notifier.remove("tavrine.alert");
    ASSERT_TRUE(waitFor([] { return callsOf("CloseNotification").size() == 1; }));
    EXPECT_NE(callsOf("CloseNotification")[0]["args"][0], id);
}

TEST_F(FreedesktopNotifierTest, MissingDaemonIsIgnoredAndOneThatComesLaterIsUsed) {
    FreedesktopNotifier notifier(QDBusConnection::sessionBus());
    notifier.post("tavrine.alert", "t", "b");
    notifier.remove("tavrine.alert");
    notifier.post("tavrine.alert", "t", "b");
    settleBus();
    // A daemon that comes later works at once.
    ASSERT_TRUE(mockOk("mock_notifications"));
    EXPECT_NE(postAndWait(notifier), 0u);
}

} // namespace
} // namespace tavrine

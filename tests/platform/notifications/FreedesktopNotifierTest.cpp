#include "platform/linux/notifications/FreedesktopNotifier.h"

#include "platform/PlatformTestSupport.h"

#include <QDBusConnection>
#include <QSignalSpy>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

using namespace tavrine;
using namespace tavrine::testing;

using nlohmann::json;

// The calls of `method` the notification daemon mock received, in order.
std::vector<json> callsOf(const std::string& method) {
    std::istringstream lines(mockShell("mock_calls session \"$NOTIFY_NAME\" \"$NOTIFY_PATH\" " + method));
    std::vector<json> calls;
    for (std::string line; std::getline(lines, line);) {
        calls.push_back(json::parse(line));
    }
    return calls;
}

using FreedesktopNotifierTest = MockSessionTest;

// Without a daemon posts and removals are dropped, and one that comes later is used at once. Each
// notification carries the application's icon, desktop entry and sound and replaces our last one,
// unless the user closed that one; a removal closes the one shown, even when the daemon has not answered
// its post yet.
TEST_F(FreedesktopNotifierTest, PostsReplaceTheLastOneShownAndRemovalsCloseIt) {
    FreedesktopNotifier notifier(QDBusConnection::sessionBus());
    const auto postAndWait = [&notifier] {
        QSignalSpy spy(&notifier, &FreedesktopNotifier::posted);
        notifier.post("tavrine.alert", "t", "b");
        return spy.wait(5000) ? spy.takeFirst().at(1).toUInt() : 0u;
    };
    notifier.post("tavrine.alert", "t", "b");
    notifier.remove("tavrine.alert");
    notifier.post("tavrine.alert", "t", "b");
    settleBus();
    ASSERT_TRUE(mockOk("mock_notifications"));
    const uint first = postAndWait();
    ASSERT_NE(first, 0u);
    const uint second = postAndWait();
    auto notifies = callsOf("Notify");
    ASSERT_EQ(notifies.size(), 2u);
    const json& a = notifies[0]["args"];
    EXPECT_EQ(a[1], 0);
    EXPECT_EQ(a[6]["sound-name"], "message-new-instant");
    EXPECT_EQ(a[7], -1);
    EXPECT_EQ(a[2], "tavrine");
    EXPECT_EQ(a[6]["desktop-entry"], "expert.brightfen.Tavrine");
    EXPECT_EQ(notifies[1]["args"][1], first) << "the second replaces the first";

    ASSERT_TRUE(mockOk("notifications_close " + std::to_string(second)));
    settleBus();
    const uint third = postAndWait();
    EXPECT_EQ(callsOf("Notify").back()["args"][1], 0) << "the one the user closed is not replaced";
    notifier.remove("tavrine.alert");
    ASSERT_TRUE(QTest::qWaitFor([] { return callsOf("CloseNotification").size() == 1; }));
    EXPECT_EQ(callsOf("CloseNotification")[0]["args"][0], third);

    notifier.post("tavrine.alert", "t", "b");
    notifier.remove("tavrine.alert");
    ASSERT_TRUE(QTest::qWaitFor([] { return callsOf("CloseNotification").size() == 2; }));
    EXPECT_EQ(callsOf("Notify").size(), 4u);
}

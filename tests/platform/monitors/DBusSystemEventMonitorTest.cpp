#include "platform/linux/monitors/DBusSystemEventMonitor.h"

#include "MockShell.h"

#include <QDBusConnection>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <vector>

namespace tavrine {
namespace {

using Event = SystemEventMonitor::Event;
using testing::inSession;
using testing::mockOk;
using testing::settleBus;
using testing::waitFor;

class DBusSystemEventMonitorTest : public testing::MockSessionTest {
  protected:
    void TearDown() override {
        subscription.cancel();
        monitor.reset();
        MockSessionTest::TearDown();
    }
    void makeMonitor() {
        monitor = std::make_unique<DBusSystemEventMonitor>(QDBusConnection::systemBus(),
                                                           QDBusConnection::sessionBus());
        QSignalSpy ready(monitor.get(), &DBusSystemEventMonitor::ready);
        subscription = monitor->observe([this](Event e) { events.push_back(e); });
        ASSERT_TRUE(ready.count() > 0 || ready.wait(5000));
    }
    bool waitForEvents(std::size_t n) {
        return waitFor([&] { return events.size() >= n; });
    }

    std::unique_ptr<DBusSystemEventMonitor> monitor;
    Subscription subscription;
    std::vector<Event> events;
};

TEST_F(DBusSystemEventMonitorTest, WithoutAnyServiceNothingHappens) {
    makeMonitor();
    EXPECT_TRUE(monitor->sessionPath().isEmpty());
    settleBus();
    EXPECT_TRUE(events.empty());
}

TEST_F(DBusSystemEventMonitorTest, PrepareForSleepPutsTheScreensToSleepAndBack) {
    ASSERT_TRUE(mockOk("mock_logind"));
    makeMonitor();
    ASSERT_TRUE(mockOk("logind_prepare_for_sleep true"));
    ASSERT_TRUE(waitForEvents(1));
    ASSERT_TRUE(mockOk("logind_prepare_for_sleep true && logind_prepare_for_sleep false"));
    ASSERT_TRUE(waitForEvents(2));
    settleBus();
    EXPECT_EQ(events, (std::vector<Event>{Event::displayAsleep, Event::displayAwake}));
}

TEST_F(DBusSystemEventMonitorTest, SessionActivityFollowsOurLogindSession) {
    ASSERT_TRUE(mockOk("mock_logind"));
    makeMonitor();
    EXPECT_EQ(monitor->sessionPath(), QStringLiteral("/org/freedesktop/login1/session/c1"));
    settleBus(); // the baseline reading arrives
    ASSERT_TRUE(mockOk("logind_set_session_active false"));
    ASSERT_TRUE(waitForEvents(1));
    // A repeated value is not a switch.
    ASSERT_TRUE(mockOk("logind_set_session_active false && logind_set_session_active true"));
    ASSERT_TRUE(waitForEvents(2));
    settleBus();
    EXPECT_EQ(events, (std::vector<Event>{Event::sessionInactive, Event::sessionActive}));
}

TEST_F(DBusSystemEventMonitorTest, EitherScreenSaverCountsAndTheScreensWakeWhenNoneIsActive) {
    ASSERT_TRUE(mockOk("mock_gnome_screensaver && mock_fdo_screensaver"));
    makeMonitor();
    const std::string gnome =
        "mock_emit session org.gnome.ScreenSaver /org/gnome/ScreenSaver org.gnome.ScreenSaver "
        "ActiveChanged b ";
    const std::string fdo = "mock_emit session org.freedesktop.ScreenSaver /org/freedesktop/ScreenSaver "
                            "org.freedesktop.ScreenSaver ActiveChanged b ";
    ASSERT_TRUE(mockOk(fdo + "\"[<true>]\""));
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(events.back(), Event::displayAsleep);
    ASSERT_TRUE(mockOk(gnome + "\"[<true>]\""));
    ASSERT_TRUE(mockOk(fdo + "\"[<false>]\""));
    settleBus();
    EXPECT_EQ(events.size(), 1u) << "the GNOME screen saver is still active";
    ASSERT_TRUE(mockOk(gnome + "\"[<false>]\""));
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events.back(), Event::displayAwake);
}

TEST_F(DBusSystemEventMonitorTest, ScreenSaverAndSleepOverlapAsOneNight) {
    ASSERT_TRUE(mockOk("mock_logind && mock_gnome_screensaver"));
    makeMonitor();
    const std::string gnome =
        "mock_emit session org.gnome.ScreenSaver /org/gnome/ScreenSaver org.gnome.ScreenSaver "
        "ActiveChanged b ";
    ASSERT_TRUE(mockOk(gnome + "\"[<true>]\""));
    ASSERT_TRUE(waitForEvents(1));
    ASSERT_TRUE(mockOk("logind_prepare_for_sleep true && logind_prepare_for_sleep false"));
    settleBus();
    EXPECT_EQ(events.size(), 1u) << "resuming from sleep behind the lock screen does not wake the filter";
    ASSERT_TRUE(mockOk(gnome + "\"[<false>]\""));
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events.back(), Event::displayAwake);
}

TEST_F(DBusSystemEventMonitorTest, ScreenSaverThatVanishesWhileActiveWakesTheScreens) {
    ASSERT_TRUE(mockOk("mock_gnome_screensaver"));
    makeMonitor();
    ASSERT_TRUE(mockOk("mock_emit session org.gnome.ScreenSaver /org/gnome/ScreenSaver org.gnome.ScreenSaver "
                       "ActiveChanged b \"[<true>]\""));
    ASSERT_TRUE(waitForEvents(1));
    ASSERT_TRUE(mockOk("mock_stop gnome_screensaver"));
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events.back(), Event::displayAwake);
}

// The desktop as the filter may find it at start: each state already true is heard at once, also by an
// observer that subscribes later, and its end wakes the filter as usual.
TEST_F(DBusSystemEventMonitorTest, StatesAlreadyTrueAtStartAreHeardFirst) {
    struct Case {
        const char* setup;
        Event already;
        const char* ending;
        Event ended;
    };
    for (const Case& c : {Case{"mock_logind false", Event::sessionInactive, "logind_set_session_active true",
                               Event::sessionActive},
                          Case{"mock_fdo_screensaver && screensaver_set_active true", Event::displayAsleep,
                               "screensaver_set_active false", Event::displayAwake},
                          Case{"mock_gnome_screensaver && screensaver_set_active true", Event::displayAsleep,
                               "screensaver_set_active false", Event::displayAwake}}) {
        SCOPED_TRACE(c.setup);
        ASSERT_TRUE(mockOk(c.setup));
        events.clear();
        makeMonitor();
        ASSERT_TRUE(waitForEvents(1));
        settleBus();
        EXPECT_EQ(events, std::vector<Event>{c.already});
        std::vector<Event> later;
        Subscription late = monitor->observe([&later](Event e) { later.push_back(e); });
        EXPECT_EQ(later, std::vector<Event>{c.already}) << "a later observer hears it at once";
        ASSERT_TRUE(mockOk(c.ending));
        ASSERT_TRUE(waitForEvents(2));
        EXPECT_EQ(events.back(), c.ended);
        late.cancel();
        subscription.cancel();
        monitor.reset();
        ASSERT_TRUE(mockOk("mock_stop_all"));
    }
}

TEST_F(DBusSystemEventMonitorTest, CancelledObserverHearsNothing) {
    ASSERT_TRUE(mockOk("mock_logind"));
    makeMonitor();
    std::vector<Event> second;
    auto other = monitor->observe([&second](Event e) { second.push_back(e); });
    subscription.cancel();
    ASSERT_TRUE(mockOk("logind_prepare_for_sleep true"));
    ASSERT_TRUE(waitFor([&] { return !second.empty(); }));
    EXPECT_TRUE(events.empty());
}

} // namespace
} // namespace tavrine

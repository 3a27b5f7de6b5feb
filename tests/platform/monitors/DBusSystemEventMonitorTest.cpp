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

} // namespace
} // namespace tavrine

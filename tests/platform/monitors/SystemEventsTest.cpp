// The desktop's system events as the filter hears them: the battery from UPower, the screens' sleep and
// wake from the screen savers and logind.
#include "platform/linux/monitors/DBusSystemEventMonitor.h"
#include "platform/linux/monitors/UPowerSource.h"
#include "platform/linux/x11/X11Display.h"

#include "platform/PlatformTestSupport.h"

#include <QDBusConnection>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace tavrine;
using namespace tavrine::testing;

QVariantMap device(uint type, uint state, double percentage, bool present) {
    return {{"Type", type}, {"State", state}, {"Percentage", percentage}, {"IsPresent", present}};
}

TEST(UPowerSourceDescribe, TheDisplayDeviceGivesOneTypedReading) {
    const struct {
        const char* what;
        QVariantMap device;
        BatteryReading expected;
    } cases[] = {
        {"charging, whole percent", device(2, 1, 19.4, true), {true, 19, true}},
        {"rounded as the desktop shows it", device(2, 2, 19.6, true), {true, 20, false}},
        {"pending charge is not charging", device(2, 5, 50.0, true), {true, 50, false}},
        {"not present", device(2, 2, 50.0, false), {}},
        {"line power", device(1, 0, 0.0, true), {}},
        {"unknown device", device(0, 0, 0.0, false), {}},
        {"nothing at all", {}, {}},
        {"no percentage or state", {{"Type", 2u}, {"IsPresent", true}}, {true, 100, false}},
        {"percentage not a number", device(2, 2, std::nan(""), true), {true, 100, false}},
        {"percentage out of range", device(2, 2, -3.0, true), {true, 100, false}},
        {"percentage far out of range", device(2, 2, 1e30, true), {true, 100, false}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UPowerSource::describe(c.device), c.expected) << c.what;
    }
}

class UPowerSourceBus : public MockSessionTest {};

// Without UPower there is nothing to read; an observer hears the first reading without asking, and the
// source follows the battery's changes, UPower leaving and coming back, on a desktop without a battery.
TEST_F(UPowerSourceBus, ReadsTheDisplayDeviceAndFollowsUPowerAndTheBattery) {
    {
        UPowerSource absent(QDBusConnection::systemBus());
        QSignalSpy updated(&absent, &UPowerSource::updated);
        // As the battery watch does until it has a reading: read again on every update.
        Subscription reader = absent.observeUpdates([&] { EXPECT_FALSE(absent.battery().has_value()); });
        ASSERT_TRUE(updated.wait(5000)) << "the first reading, even of nothing, is announced";
        QTest::qWait(500);
        EXPECT_EQ(updated.count(), 1) << "no news, no update: the bus is not asked in a loop";
    }
    {
        // A damaged level (not a number) read again on every update is no news either.
        ASSERT_TRUE(mockOk("mock_upower_device 2 2 nan 40.0 50.0 10.0 3600 0 true battery-good 1"));
        UPowerSource damaged(QDBusConnection::systemBus());
        QSignalSpy updated(&damaged, &UPowerSource::updated);
        Subscription reader = damaged.observeUpdates([&] { damaged.battery(); });
        ASSERT_TRUE(updated.wait(5000));
        QTest::qWait(500);
        EXPECT_EQ(updated.count(), 1) << "no news, no update: the bus is not asked in a loop";
        EXPECT_EQ(damaged.battery(), (BatteryReading{true, BatteryReading{}.percent, false}))
            << "the level unknown";
        ASSERT_TRUE(mockOk("mock_stop upower"));
    }
    ASSERT_TRUE(mockOk("mock_upower 80 2"));
    UPowerSource source(QDBusConnection::systemBus());
    std::optional<BatteryReading> firstHeard;
    Subscription first = source.observeUpdates([&] {
        firstHeard = source.battery();
        first.cancel();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstHeard.has_value(); }));
    EXPECT_EQ(*firstHeard, (BatteryReading{true, 80, false}));
    ASSERT_TRUE(mockOk("upower_set_battery 19 1"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return source.battery() == BatteryReading{true, 19, true}; }));
    ASSERT_TRUE(mockOk("mock_stop upower"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !source.battery().has_value(); }));
    ASSERT_TRUE(mockOk("mock_upower_no_battery"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return source.battery() == BatteryReading{}; }));
}

using Event = SystemEventMonitor::Event;
const Event asleep = Event::displayAsleep;
const Event awake = Event::displayAwake;

// The ActiveChanged signal of GNOME's or the freedesktop screen saver.
std::string saver(const std::string& desktop, bool active) {
    const std::string name = "org." + desktop + ".ScreenSaver";
    return "mock_emit session " + name + " /org/" + desktop + "/ScreenSaver " + name +
           " ActiveChanged b \"[<" + (active ? "true" : "false") + ">]\"";
}

class DBusSystemEventMonitorTest : public MockSessionTest {};

// Either screen saver counts, and so does the session's LockedHint (a locker that announces nothing else);
// the screens wake only when none of them holds; resuming from sleep behind the lock screen does not wake
// the filter; a screen saver that vanishes while active, a session that ends, a logind that leaves or a
// hint that can no longer be read wakes it. On X11 the server's own screen saver counts as well.
TEST_F(DBusSystemEventMonitorTest, TheScreensSleepAndWakeOnce) {
    const std::string gnomeOn = saver("gnome", true);
    const std::string gnomeOff = saver("gnome", false);
    const std::string lock = "logind_set_locked true";
    const std::string unlock = "logind_set_locked false";
    const std::string xOn = "xset s activate";
    const std::string xOff = "xset s reset";
    const struct {
        std::string mocks;
        // What the desktop does, through the mocks, and every event heard so far.
        std::vector<std::pair<std::string, std::vector<Event>>> steps;
    } nights[] = {
        {"mock_gnome_screensaver && mock_fdo_screensaver",
         {{saver("freedesktop", true), {asleep}},
          {gnomeOn + " && " + saver("freedesktop", false), {asleep}},
          {gnomeOff, {asleep, awake}}}},
        {"mock_logind && mock_gnome_screensaver",
         {{gnomeOn, {asleep}},
          {"logind_prepare_for_sleep true && logind_prepare_for_sleep false", {asleep}},
          {gnomeOff, {asleep, awake}}}},
        {"mock_gnome_screensaver", {{gnomeOn, {asleep}}, {"mock_stop gnome_screensaver", {asleep, awake}}}},
        {"mock_logind && " + lock,
         {{"true", {asleep}}, {unlock, {asleep, awake}}, {lock, {asleep, awake, asleep}}}},
        // One source a step where they overlap: two buses, or a bus and the X server, may be heard in
        // either order.
        {"mock_logind && mock_gnome_screensaver",
         {{lock, {asleep}},
          {gnomeOn, {asleep}},
          {unlock, {asleep}},
          {lock, {asleep}},
          {gnomeOff, {asleep}},
          {unlock, {asleep, awake}}}},
        {"mock_logind",
         {{"logind_invalidate_locked true", {asleep}},
          {"logind_invalidate_locked", {asleep}},
          {"logind_invalidate_locked false", {asleep, awake}}}},
        {"mock_logind", {{lock, {asleep}}, {"logind_remove_session", {asleep, awake}}}},
        {"mock_logind",
         {{lock, {asleep}}, {"logind_remove_session quietly && logind_invalidate_locked", {asleep, awake}}}},
        {"mock_logind", {{lock, {asleep}}, {"mock_stop logind", {asleep, awake}}}},
        // A blank over by the time its news is read is no blank.
        {xOn,
         {{"true", {asleep}},
          {xOff, {asleep, awake}},
          {xOn + " && " + xOff, {asleep, awake}},
          {xOn, {asleep, awake, asleep}}}},
        {"mock_logind && mock_gnome_screensaver",
         {{xOn, {asleep}},
          {gnomeOn, {asleep}},
          {xOff, {asleep}},
          {lock, {asleep}},
          {gnomeOff, {asleep}},
          {xOn, {asleep}},
          {unlock, {asleep}},
          {xOff, {asleep, awake}}}},
    };
    for (const auto& night : nights) {
        SCOPED_TRACE(night.mocks);
        ASSERT_TRUE(mockOk("mock_stop_all; " + xOff + " && " + night.mocks));
        settleBus(); // what the X server says of the night's start goes to no monitor: it must be read
        std::vector<Event> events;
        DBusSystemEventMonitor monitor(QDBusConnection::systemBus(), QDBusConnection::sessionBus(),
                                       x11::connection());
        QSignalSpy ready(&monitor, &DBusSystemEventMonitor::ready);
        Subscription subscription = monitor.observe([&events](Event e) { events.push_back(e); });
        ASSERT_TRUE(ready.count() > 0 || ready.wait(5000));
        for (const auto& [shell, heard] : night.steps) {
            SCOPED_TRACE(shell);
            ASSERT_TRUE(mockOk(shell)); // runs no event loop: nothing is heard meanwhile
            if (heard.size() > events.size()) {
                ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() >= heard.size(); }));
            } else {
                settleBus();
            }
            EXPECT_EQ(events, heard);
        }
    }
}

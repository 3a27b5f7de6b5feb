// The desktop's system events as the filter hears them: the battery from UPower, the screens' sleep and
// wake from the screen savers and logind.
#include "platform/linux/monitors/DBusSystemEventMonitor.h"
#include "platform/linux/monitors/UPowerSource.h"

#include "platform/PlatformTestSupport.h"

#include <QDBusConnection>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tavrine {
namespace {

using namespace testing;

QVariantMap device(uint type, uint state, double percentage, bool present) {
    return {{"Type", type}, {"State", state}, {"Percentage", percentage}, {"IsPresent", present}};
}

const double notANumber = std::nan("");

struct DescribeCase {
    const char* what;
    QVariantMap device;
    BatteryReading expected;
};

class UPowerSourceDescribe : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(UPowerSourceDescribe, TheDisplayDeviceGivesOneTypedReading) {
    EXPECT_EQ(UPowerSource::describe(GetParam().device), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UPowerSourceDescribe,
    ::testing::Values(
        DescribeCase{"charging, whole percent", device(2, 1, 19.4, true), {true, 19, true}},
        DescribeCase{"rounded as the desktop shows it", device(2, 2, 19.6, true), {true, 20, false}},
        DescribeCase{"pending charge is not charging", device(2, 5, 50.0, true), {true, 50, false}},
        DescribeCase{"not present", device(2, 2, 50.0, false), {}},
        DescribeCase{"line power", device(1, 0, 0.0, true), {}},
        DescribeCase{"unknown device", device(0, 0, 0.0, false), {}}, DescribeCase{"nothing at all", {}, {}},
        DescribeCase{"no percentage or state", {{"Type", 2u}, {"IsPresent", true}}, {true, 100, false}},
        DescribeCase{"percentage not a number", device(2, 2, notANumber, true), {true, 100, false}},
        DescribeCase{"percentage out of range", device(2, 2, -3.0, true), {true, 100, false}},
        DescribeCase{"percentage far out of range", device(2, 2, 1e30, true), {true, 100, false}}));

class UPowerSourceBus : public testing::MockSessionTest {};

// Without UPower there is nothing to read; an observer hears the first reading without asking, and the
// source follows the battery's changes, UPower leaving and coming back, on a desktop without a battery.
TEST_F(UPowerSourceBus, ReadsTheDisplayDeviceAndFollowsUPowerAndTheBattery) {
    {
        UPowerSource absent(QDBusConnection::systemBus());
        QSignalSpy updated(&absent, &UPowerSource::updated);
        ASSERT_TRUE(updated.wait(5000)) << "the first reading, even of nothing, is announced";
        EXPECT_FALSE(absent.battery().has_value());
    }
    ASSERT_TRUE(mockOk("mock_upower 80 2"));
    UPowerSource source(QDBusConnection::systemBus());
    std::optional<BatteryReading> firstHeard;
    Subscription first = source.observeUpdates([&] {
        firstHeard = source.battery();
        first.cancel();
    });
    ASSERT_TRUE(waitFor([&] { return firstHeard.has_value(); }));
    EXPECT_EQ(*firstHeard, (BatteryReading{true, 80, false}));
    ASSERT_TRUE(mockOk("upower_set_battery 19 1"));
    ASSERT_TRUE(waitFor([&] { return source.battery() == BatteryReading{true, 19, true}; }));
    ASSERT_TRUE(mockOk("mock_stop upower"));
    ASSERT_TRUE(waitFor([&] { return !source.battery().has_value(); }));
    ASSERT_TRUE(mockOk("mock_upower_no_battery"));
    ASSERT_TRUE(waitFor([&] { return source.battery() == BatteryReading{}; }));
}

using Event = SystemEventMonitor::Event;

std::string screenSaver(const std::string& name, const std::string& path, bool active) {
    return "mock_emit session " + name + " " + path + " " + name + " ActiveChanged b \"[<" +
           (active ? "true" : "false") + ">]\"";
}
const std::string gnomeOn = screenSaver("org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", true);
const std::string gnomeOff = screenSaver("org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", false);
const std::string fdoOn = screenSaver("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", true);
const std::string fdoOff = screenSaver("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", false);

struct Step {
    std::string shell;         // what the desktop does, through the mocks
    std::vector<Event> events; // every event heard so far
};

struct NightCase {
    const char* name;
    std::string mocks;
    std::vector<Step> steps;
};

void PrintTo(const NightCase& c, std::ostream* os) {
    *os << c.name;
}

class DBusSystemEventMonitorTest : public testing::MockSessionTest,
                                   public ::testing::WithParamInterface<NightCase> {};

TEST_P(DBusSystemEventMonitorTest, TheScreensSleepAndWakeOnce) {
    ASSERT_TRUE(mockOk(GetParam().mocks));
    std::vector<Event> events;
    {
        DBusSystemEventMonitor monitor(QDBusConnection::systemBus(), QDBusConnection::sessionBus());
        QSignalSpy ready(&monitor, &DBusSystemEventMonitor::ready);
        Subscription subscription = monitor.observe([&events](Event e) { events.push_back(e); });
        ASSERT_TRUE(ready.count() > 0 || ready.wait(5000));
        for (const Step& step : GetParam().steps) {
            SCOPED_TRACE(step.shell);
            const std::size_t before = events.size();
            ASSERT_TRUE(mockOk(step.shell));
            if (step.events.size() > before) {
                ASSERT_TRUE(waitFor([&] { return events.size() >= step.events.size(); }));
            } else {
                settleBus();
            }
            EXPECT_EQ(events, step.events);
        }
    }
}

const Event asleep = Event::displayAsleep;
const Event awake = Event::displayAwake;

INSTANTIATE_TEST_SUITE_P(
    Nights, DBusSystemEventMonitorTest,
    ::testing::Values(
        // Either screen saver counts; the screens wake only when neither is active.
        NightCase{"EitherScreenSaver",
                  "mock_gnome_screensaver && mock_fdo_screensaver",
                  {{fdoOn, {asleep}}, {gnomeOn + " && " + fdoOff, {asleep}}, {gnomeOff, {asleep, awake}}}},
        // Resuming from sleep behind the lock screen does not wake the filter.
        NightCase{"SleepBehindTheScreenSaver",
                  "mock_logind && mock_gnome_screensaver",
                  {{gnomeOn, {asleep}},
                   {"logind_prepare_for_sleep true && logind_prepare_for_sleep false", {asleep}},
                   {gnomeOff, {asleep, awake}}}},
        NightCase{"ScreenSaverVanishesWhileActive",
                  "mock_gnome_screensaver",
                  {{gnomeOn, {asleep}}, {"mock_stop gnome_screensaver", {asleep, awake}}}}),
    [](const ::testing::TestParamInfo<NightCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace tavrine

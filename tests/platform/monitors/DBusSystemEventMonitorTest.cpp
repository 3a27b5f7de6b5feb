#include "platform/linux/monitors/DBusSystemEventMonitor.h"

#include "MockShell.h"

#include <QDBusConnection>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <vector>

namespace tavrine {
namespace {

using Event = SystemEventMonitor::Event;
using testing::mockOk;
using testing::settleBus;
using testing::waitFor;

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

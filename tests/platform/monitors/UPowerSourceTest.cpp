#include "platform/linux/monitors/UPowerSource.h"

#include "MockShell.h"

#include <QDBusConnection>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace tavrine {
namespace {

using testing::inSession;
using testing::mockOk;
using testing::waitFor;

QVariantMap device(uint type, uint state, double percentage, bool present) {
    return {{"Type", type}, {"State", state}, {"Percentage", percentage}, {"IsPresent", present}};
}

std::int64_t capacityOf(const PowerSourceDescription& d) {
    return std::get<std::int64_t>(d.at("Current Capacity"));
}
bool chargingOf(const PowerSourceDescription& d) {
    return std::get<bool>(d.at("Is Charging"));
}

TEST(UPowerSourceDescribe, BatteryGivesOneSourceWithWholePercentAndCharging) {
    auto sources = UPowerSource::describe(device(2, 1, 19.4, true));
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(capacityOf(sources[0]), 19);
    EXPECT_TRUE(chargingOf(sources[0]));
    sources = UPowerSource::describe(device(2, 2, 19.6, true));
    EXPECT_EQ(capacityOf(sources[0]), 20) << "rounded as the desktop shows it";
    EXPECT_FALSE(chargingOf(sources[0]));
}

TEST(UPowerSourceDescribe, OnlyStateChargingCountsAsCharging) {
    for (uint state : {0u, 2u, 3u, 4u, 5u, 6u}) {
        auto sources = UPowerSource::describe(device(2, state, 50.0, true));
        ASSERT_EQ(sources.size(), 1u);
        EXPECT_FALSE(chargingOf(sources[0])) << state;
    }
}

TEST(UPowerSourceDescribe, NoBatteryGivesNoSource) {
    EXPECT_TRUE(UPowerSource::describe(device(2, 2, 50.0, false)).empty()) << "not present";
    EXPECT_TRUE(UPowerSource::describe(device(1, 0, 0.0, true)).empty()) << "line power";
    EXPECT_TRUE(UPowerSource::describe(device(0, 0, 0.0, false)).empty()) << "unknown";
    EXPECT_TRUE(UPowerSource::describe({}).empty()) << "nothing at all";
}

class UPowerSourceBus : public testing::MockSessionTest {
  protected:
    // Waits for the source to have read UPower's answer.
    static std::optional<std::vector<PowerSourceDescription>> readAfterUpdate(UPowerSource& source) {
        QSignalSpy spy(&source, &UPowerSource::updated);
        source.powerSources();
        spy.wait(5000);
        return source.powerSources();
    }
};

TEST_F(UPowerSourceBus, DesktopWithoutBatteryGivesAnEmptyList) {
    ASSERT_TRUE(mockOk("mock_upower_no_battery"));
    UPowerSource source(QDBusConnection::systemBus());
    auto sources = readAfterUpdate(source);
    ASSERT_TRUE(sources.has_value());
    EXPECT_TRUE(sources->empty());
}

TEST_F(UPowerSourceBus, UPowerLeavingOrArrivingLaterIsFollowed) {
    UPowerSource source(QDBusConnection::systemBus());
    EXPECT_FALSE(readAfterUpdate(source).has_value());
    ASSERT_TRUE(mockOk("mock_upower 55 2"));
    ASSERT_TRUE(waitFor([&] {
        auto s = source.powerSources();
        return s && s->size() == 1 && capacityOf(s->front()) == 55;
    }));
    ASSERT_TRUE(mockOk("mock_stop upower"));
    ASSERT_TRUE(waitFor([&] { return !source.powerSources().has_value(); }));
}

} // namespace
} // namespace tavrine

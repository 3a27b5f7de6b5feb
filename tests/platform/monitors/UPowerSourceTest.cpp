#include "platform/linux/monitors/UPowerSource.h"

#include "MockShell.h"

#include <QDBusConnection>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>

namespace tavrine {
namespace {

using testing::mockOk;
using testing::waitFor;

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

class UPowerSourceBus : public testing::MockSessionTest {
  protected:
    // Waits for the source to have read UPower's answer.
    static std::optional<BatteryReading> readAfterUpdate(UPowerSource& source) {
        QSignalSpy spy(&source, &UPowerSource::updated);
        source.battery();
        spy.wait(5000);
        return source.battery();
    }
};

TEST_F(UPowerSourceBus, ReadsTheDisplayDeviceAndFollowsItsChanges) {
    ASSERT_TRUE(mockOk("mock_upower 80 2"));
    UPowerSource source(QDBusConnection::systemBus());
    // Asked at once, the source may have no reading yet; an observer hears the first one arrive.
    std::optional<BatteryReading> firstHeard;
    Subscription first = source.observeUpdates([&] {
        firstHeard = source.battery();
        first.cancel();
    });
    ASSERT_TRUE(waitFor([&] { return firstHeard.has_value(); }));
    EXPECT_EQ(*firstHeard, (BatteryReading{true, 80, false}));
    EXPECT_EQ(readAfterUpdate(source), (BatteryReading{true, 80, false}));

    ASSERT_TRUE(mockOk("upower_set_battery 19 1"));
    ASSERT_TRUE(waitFor([&] { return source.battery() == BatteryReading{true, 19, true}; }));
}

TEST_F(UPowerSourceBus, DesktopWithoutBatteryReadsAsNoBattery) {
    ASSERT_TRUE(mockOk("mock_upower_no_battery"));
    UPowerSource source(QDBusConnection::systemBus());
    EXPECT_EQ(readAfterUpdate(source), BatteryReading{});
}

TEST_F(UPowerSourceBus, WithoutUPowerThereIsNothingAndUPowerArrivingOrLeavingLaterIsFollowed) {
    UPowerSource source(QDBusConnection::systemBus());
    EXPECT_FALSE(readAfterUpdate(source).has_value());
    ASSERT_TRUE(mockOk("mock_upower 55 2"));
    ASSERT_TRUE(waitFor([&] { return source.battery() == BatteryReading{true, 55, false}; }));
    ASSERT_TRUE(mockOk("mock_stop upower"));
    ASSERT_TRUE(waitFor([&] { return !source.battery().has_value(); }));
}

} // namespace
} // namespace tavrine

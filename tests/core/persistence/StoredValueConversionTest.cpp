#include "core/persistence/StoredValueConversion.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tavrine;

TEST(StoredValueConversion, BooleansComeFromBooleansAndFromNumbersZeroOrOneOnly) {
    EXPECT_EQ(storedBool(true), true);
    EXPECT_EQ(storedBool(std::int64_t{0}), false);
    EXPECT_EQ(storedBool(std::int64_t{1}), true);
    EXPECT_EQ(storedBool(1.0), true);
    EXPECT_EQ(storedBool(std::int64_t{2}), std::nullopt);
    EXPECT_EQ(storedBool(0.5), std::nullopt);
    EXPECT_EQ(storedBool(std::string("true")), std::nullopt);
    EXPECT_EQ(storedBool(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
}

TEST(StoredValueConversion, IntegersMustBeIntegralAndFitTheField) {
    EXPECT_EQ(storedInt(std::int64_t{15}), 15);
    EXPECT_EQ(storedInt(std::int64_t{-3}), -3);
    EXPECT_EQ(storedInt(true), 1);
    EXPECT_EQ(storedInt(10.0), 10);
    EXPECT_EQ(storedInt(10.5), std::nullopt);
    EXPECT_EQ(storedInt(std::int64_t{1} << 31), std::nullopt);
    EXPECT_EQ(storedInt(1e12), std::nullopt);
    EXPECT_EQ(storedInt(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(storedInt(std::numeric_limits<double>::infinity()), std::nullopt);
    EXPECT_EQ(storedInt(std::string("10")), std::nullopt);
}

TEST(StoredValueConversion, FloatsMustBeFiniteAndFitSinglePrecision) {
    EXPECT_EQ(storedFloat(0.42), 0.42f);
    EXPECT_EQ(storedFloat(std::int64_t{2}), 2.0f);
    EXPECT_EQ(storedFloat(false), 0.0f);
    EXPECT_EQ(storedFloat(1e39), std::nullopt);
    EXPECT_EQ(storedFloat(-std::numeric_limits<double>::infinity()), std::nullopt);
    EXPECT_EQ(storedFloat(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(storedFloat(std::string("0.42")), std::nullopt);
}

#include "platform/linux/settings/StoredText.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tavrine;

TEST(StoredText, TextTakesTheTypeItSpells) {
    EXPECT_EQ(storedValueFromText("true"), StoredValue{true});
    EXPECT_EQ(storedValueFromText(" false "), StoredValue{false});
    EXPECT_EQ(storedValueFromText("42"), StoredValue{std::int64_t{42}});
    EXPECT_EQ(storedValueFromText("+7"), StoredValue{std::int64_t{7}});
    EXPECT_EQ(storedValueFromText("-9223372036854775808"),
              StoredValue{std::numeric_limits<std::int64_t>::min()});
    EXPECT_EQ(storedValueFromText("0.42"), StoredValue{0.42});
    EXPECT_EQ(storedValueFromText("1e3"), StoredValue{1000.0});
    // Beyond int64 an integer is still a number, just not an integer.
    EXPECT_EQ(storedValueFromText("9223372036854775808"), StoredValue{9223372036854775808.0});
}

TEST(StoredText, AnythingElseStaysText) {
    for (const char* text :
         {"", "TRUE", "yes", "0x10", "1,5", "12abc", "nan", "inf", "-inf", "1e999", "--1", "+"}) {
        const StoredValue v = storedValueFromText(QString::fromLatin1(text));
        EXPECT_TRUE(std::holds_alternative<std::string>(v)) << text;
    }
    EXPECT_TRUE(std::holds_alternative<std::string>(storedValueFromText(QStringLiteral("١٢"))));
}

TEST(StoredText, WrittenFormsReadBackExactly) {
    for (float f : {0.72f, 0.42f, 2.0f, 0.1f, 3.4028235e38f, 1e-45f, -0.0f, 123456.789f}) {
        const StoredValue v = storedValueFromText(textForFloat(f));
        const double* d = std::get_if<double>(&v);
        const std::int64_t* i = std::get_if<std::int64_t>(&v);
        ASSERT_TRUE(d || i) << textForFloat(f).toStdString();
        EXPECT_EQ(d ? static_cast<float>(*d) : static_cast<float>(*i), f) << textForFloat(f).toStdString();
    }
    EXPECT_EQ(textForFloat(0.72f), QStringLiteral("0.72"));
    for (std::int64_t i : {std::int64_t{0}, std::int64_t{-1}, std::numeric_limits<std::int64_t>::max(),
                           std::numeric_limits<std::int64_t>::min()}) {
        EXPECT_EQ(storedValueFromText(textForInteger(i)), StoredValue{i});
    }
    EXPECT_EQ(storedValueFromText(textForBool(true)), StoredValue{true});
}

#include "platform/linux/appearance/PortalColorScheme.h"

#include <QDBusVariant>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace tavrine;

TEST(PortalColorScheme, ReadsThePortalValueHoweverItIsWrapped) {
    using Preference = PortalColorScheme::Preference;
    const auto wrap = [](const QVariant& v) { return QVariant::fromValue(QDBusVariant(v)); };
    const std::vector<std::pair<QVariant, Preference>> cases = {
        {QVariant(uint(1)), Preference::dark},   {wrap(uint(2)), Preference::light},
        {wrap(wrap(uint(1))), Preference::dark}, {wrap(uint(0)), Preference::none},
        {wrap(uint(7)), Preference::none},       {wrap(QStringLiteral("dark")), Preference::none},
        {QVariant(), Preference::none},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(PortalColorScheme::fromPortalValue(value), expected) << value.toString().toStdString();
    }
}

#include "core/service/ViewingDistance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace tavrine {
namespace {

TEST(ViewingDistance, FaceWidthGivesTheClampedDistance) {
    const struct {
        const char* name;
        float ratio;
        float coefficient;
        std::optional<std::int64_t> expectedCm;
    } cases[] = {
        {"a tenth of the frame is 100 cm", 0.1f, 1.0f, 100},
        {"a wide face is held at 20 cm", 1.0f, 1.0f, 20},
        {"the coefficient is capped at 300 cm", 0.02f, 2.0f, 300},
        {"just narrower than 0.05 is 200 cm", 0.045f, 1.0f, 200},
        {"a small coefficient is held at 20 cm", 0.9f, 0.5f, 20},
        {"between 200 and 300 cm as computed", 0.08f, 2.0f, 250},
        {"a negative coefficient is held at 20 cm", 0.1f, -1.0f, 20},
        {"no width gives nothing", 0.0f, 1.0f, std::nullopt},
        {"a negative width gives nothing", -0.3f, 1.0f, std::nullopt},
        {"a coefficient not a number gives nothing", 0.1f, std::nanf(""), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(estimateViewingDistanceCm(c.ratio, c.coefficient), c.expectedCm) << c.name;
    }
}

TEST(ViewingDistance, TenCentimetresAwayIsIgnoredElevenApplied) {
    for (auto [applied, moved] :
         {std::pair{90, false}, {100, false}, {110, false}, {89, true}, {111, true}, {-5, true}}) {
        EXPECT_EQ(viewingDistanceMoved(100, applied), moved) << applied;
    }
}

} // namespace
} // namespace tavrine

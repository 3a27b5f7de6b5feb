#include "core/service/ViewingDistance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

namespace tavrine {
namespace {

struct DistanceCase {
    const char* name;
    float ratio;
    float coefficient;
    std::optional<std::int64_t> expectedCm;
};

class ViewingDistance : public ::testing::TestWithParam<DistanceCase> {};

TEST_P(ViewingDistance, FaceWidthGivesTheClampedDistance) {
    const DistanceCase& c = GetParam();
    EXPECT_EQ(estimateViewingDistanceCm(c.ratio, c.coefficient), c.expectedCm);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ViewingDistance,
    ::testing::Values(DistanceCase{"TenthOfTheFrameIs100cm", 0.1f, 1.0f, 100},
                      DistanceCase{"NarrowFaceHeldAt200cm", 0.02f, 1.0f, 200},
                      DistanceCase{"WideFaceHeldAt20cm", 1.0f, 1.0f, 20},
                      DistanceCase{"CoefficientCappedAt300cm", 0.02f, 2.0f, 300},
                      DistanceCase{"JustNarrowerThan005Is200cm", 0.045f, 1.0f, 200},
                      DistanceCase{"SmallCoefficientHeldAt20cm", 0.9f, 0.5f, 20},
                      DistanceCase{"CoefficientTwiceIs200cm", 0.1f, 2.0f, 200},
                      DistanceCase{"NegativeCoefficientHeldAt20cm", 0.1f, -1.0f, 20},
                      DistanceCase{"NoWidthGivesNothing", 0.0f, 1.0f, std::nullopt},
                      DistanceCase{"NegativeWidthGivesNothing", -0.3f, 1.0f, std::nullopt},
                      DistanceCase{"WidthNotANumberGivesNothing", std::nanf(""), 1.0f, std::nullopt},
                      DistanceCase{"CoefficientNotANumberGivesNothing", 0.1f, std::nanf(""), std::nullopt}),
    [](const ::testing::TestParamInfo<DistanceCase>& info) { return std::string(info.param.name); });

struct BandCase {
    std::int64_t appliedCm;
    bool moved;
};

class ViewingDistanceBand : public ::testing::TestWithParam<BandCase> {};

TEST_P(ViewingDistanceBand, TenCentimetresAwayIsIgnoredElevenApplied) {
    EXPECT_EQ(viewingDistanceMoved(100, GetParam().appliedCm), GetParam().moved) << GetParam().appliedCm;
}

INSTANTIATE_TEST_SUITE_P(Cases, ViewingDistanceBand,
                         ::testing::Values(BandCase{90, false}, BandCase{110, false}, BandCase{100, false},
                                           BandCase{89, true}, BandCase{111, true}, BandCase{-5, true}));

} // namespace
} // namespace tavrine

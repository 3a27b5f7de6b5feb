#include "core/overlay/StripeGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

using tavrine::StripeGeometry;

TEST(StripeGeometry, LineCoverageIsFullInsideStripesEmptyInGapsAndHalfOnAverage) {
    const int w = 640, h = 480;
    const double p = StripeGeometry::period(120);
    const auto line = StripeGeometry::lineCoverage(w, h, p);
    ASSERT_EQ(line.size(), static_cast<std::size_t>(w + h - 1));
    int full = 0, empty = 0;
    for (std::size_t s = 0; s < line.size(); ++s) {
        const double phase = StripeGeometry::phaseAt(s + 1.0, 0, w, h, p);
        const double stripe = p / 2;
        // Pixels whose footprint (0.71 px either side of the centre) lies wholly inside a stripe or a gap.
        if (phase > 0.75 && phase < stripe - 0.75) {
            EXPECT_FLOAT_EQ(line[s], 1.0f) << s;
            ++full;
        } else if (phase > stripe + 0.75 && phase < p - 0.75) {
            EXPECT_FLOAT_EQ(line[s], 0.0f) << s;
            ++empty;
        } else {
            EXPECT_GT(line[s], 0.0f);
            EXPECT_LT(line[s], 1.0f);
        }
    }
    EXPECT_GT(full, 100);
    EXPECT_GT(empty, 100);
    const double mean = std::accumulate(line.begin(), line.end(), 0.0) / line.size();
    EXPECT_NEAR(mean, 0.5, 0.01);
    EXPECT_TRUE(StripeGeometry::lineCoverage(0, 10, p).empty());
    EXPECT_TRUE(StripeGeometry::lineCoverage(10, 10, 0.0).empty());
}

TEST(StripeGeometry, PremultipliedPixelKeepsChannelsWithinAlpha) {
    const auto black = StripeGeometry::color(0xFF000000, 0.42f);
    EXPECT_EQ(StripeGeometry::premultipliedPixel(black, 0.8), 0x56000000u); // 0.336 * 255 = 85.7
    const auto red = StripeGeometry::color(0x00FF0000, 0.42f);
    EXPECT_EQ(StripeGeometry::premultipliedPixel(red, 0.8), 0x56560000u);
    const auto grey = StripeGeometry::color(0x80808080, 0.5f);
    const std::uint32_t px = StripeGeometry::premultipliedPixel(grey, 1.0);
    EXPECT_EQ(px >> 24, 128u);
    EXPECT_EQ((px >> 16) & 0xFF, 64u); // 128/255 * 128/255 * 255 = 64.25
    EXPECT_EQ(StripeGeometry::premultipliedPixel(red, 0.0), 0u);
    EXPECT_EQ(StripeGeometry::premultipliedPixel(StripeGeometry::color(0xFFFFFF, 3.0f), 1.0), 0xFFFFFFFFu);
}

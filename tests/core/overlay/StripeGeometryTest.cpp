#include "core/overlay/StripeGeometry.h"

#include <gtest/gtest.h>

using tavrine::StripeGeometry;

// The stripes' shape is checked where they are drawn (the overlay's own tests compare it with shapes a
// painter fills); here the exact pixel values and the sizes nothing can be drawn at (a window not laid
// out yet is 0 x 0).
TEST(StripeGeometry, PixelsArePremultipliedAndRoundedAndEmptySizesCoverNothing) {
    const auto black = StripeGeometry::color(0xFF000000, 0.42f);
    EXPECT_EQ(StripeGeometry::premultipliedPixel(black, 0.8), 0x56000000u); // 0.336 * 255 = 85.7
    const auto red = StripeGeometry::color(0x00FF0000, 0.42f);
    EXPECT_EQ(StripeGeometry::premultipliedPixel(red, 0.8), 0x56560000u);
    EXPECT_EQ(StripeGeometry::premultipliedPixel(red, 0.0), 0u);
    EXPECT_EQ(StripeGeometry::premultipliedPixel(StripeGeometry::color(0xFFFFFF, 3.0f), 1.0), 0xFFFFFFFFu);
    EXPECT_TRUE(StripeGeometry::lineCoverage(0, 0, 8.0).empty());
    EXPECT_TRUE(StripeGeometry::lineCoverage(0, 10, 8.0).empty());
    EXPECT_TRUE(StripeGeometry::lineCoverage(10, 10, 0.0).empty());
}

// The frame brought to the full-range network's size: the area means OpenCV's own scaling gives, into a
// region of the letterbox without touching the rest.
#include "platform/linux/facemodel/AreaDownscale.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

using namespace tavrine;

TEST(AreaDownscale, GivesOpenCVsAreaMeansOnEveryRatio) {
    const struct {
        int width, height, toWidth, toHeight, channels;
    } cases[] = {
        {640, 480, 256, 192, 4},  // a webcam's frame into the full-range letterbox: 2.5 times smaller
        {1280, 720, 256, 144, 4}, // a wide one: 5 times
        {320, 240, 256, 192, 4},  // 1.25 times: every output pixel straddles source pixels
        {17, 11, 5, 4, 3},        // uneven ratios on each axis, three channels
        {9, 7, 4, 3, 1},          // one channel
        {12, 10, 5, 4, 2},        // two channels
        {6, 6, 3, 5, 2},          // smaller across only: OpenCV's own scaling
        {40, 30, 80, 60, 4},      // larger: OpenCV's own scaling
    };
    cv::RNG rng(1973);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " to " << c.toWidth << "x"
                                        << c.toHeight << ", " << c.channels << " channels");
        cv::Mat src(c.height, c.width, CV_8UC(c.channels));
        rng.fill(src, cv::RNG::UNIFORM, 0, 256);
        cv::Mat expected;
        cv::resize(src, expected, cv::Size(c.toWidth, c.toHeight), 0, 0, cv::INTER_AREA);
        // Into the middle of a larger image, as the letterbox does; the border keeps its value.
        cv::Mat canvas(c.toHeight + 4, c.toWidth + 6, src.type(), cv::Scalar::all(7));
        cv::Mat inner = canvas(cv::Rect(3, 2, c.toWidth, c.toHeight));
        areaDownscale(src, inner);
        cv::Mat diff;
        cv::absdiff(inner, expected, diff);
        double worst = 0;
        cv::minMaxIdx(diff.reshape(1), nullptr, &worst);
        // The sums' order may round a value a level the other way, rarely: truncating instead of rounding
        // would change half of them.
        EXPECT_LE(worst, 1.0);
        EXPECT_LE(cv::countNonZero(diff.reshape(1)), static_cast<int>(diff.total() * diff.channels() / 1000));
        inner.setTo(cv::Scalar::all(7));
        EXPECT_EQ(cv::countNonZero(canvas.reshape(1) != 7), 0) << "a value written outside the region";
    }
}

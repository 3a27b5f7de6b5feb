// The networks' first layer on our own sums: the convolution's values on every shape, NaNs kept, and taken
// into a network only where the layer is such a convolution.
#include "platform/linux/facemodel/StemConvolution.h"
#include "platform/linux/facemodel/DepthwiseConvolution.h"

#include "LayerTestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace tavrine;
using namespace tavrine::testing;

namespace {

constexpr int kC = StemConvolution::inChannels, kK = StemConvolution::taps;

StemConvolution randomStem(int outChannels, bool clamp, cv::RNG& rng) {
    StemConvolution s;
    s.outChannels = outChannels;
    s.weights = randomValues(static_cast<std::size_t>(outChannels) * kC * kK * kK, rng);
    s.bias = randomValues(static_cast<std::size_t>(outChannels), rng);
    s.clampAtZero = clamp;
    return s;
}

// The convolution one value at a time.
std::vector<float> oneByOne(const StemConvolution& s, const std::vector<float>& in, int height, int width) {
    const int oh = (height - kK) / 2 + 1, ow = (width - kK) / 2 + 1;
    std::vector<float> out(static_cast<std::size_t>(s.outChannels) * oh * ow);
    for (int o = 0; o < s.outChannels; ++o) {
        for (int y = 0; y < oh; ++y) {
            for (int x = 0; x < ow; ++x) {
                float sum = s.bias[o];
                for (int c = 0; c < kC; ++c) {
                    for (int ky = 0; ky < kK; ++ky) {
                        for (int kx = 0; kx < kK; ++kx) {
                            sum += s.weights[((o * kC + c) * kK + ky) * kK + kx] *
                                   in[(c * height + 2 * y + ky) * width + 2 * x + kx];
                        }
                    }
                }
                out[(o * oh + y) * ow + x] = s.clampAtZero && sum < 0.0f ? 0.0f : sum;
            }
        }
    }
    return out;
}

std::vector<float> randomInput(int height, int width, cv::RNG& rng) {
    return randomValues(static_cast<std::size_t>(kC) * height * width, rng);
}

} // namespace

TEST(StemConvolution, GivesTheConvolutionsSumsOnEveryShape) {
    if (!StemConvolution::supported()) {
        GTEST_SKIP() << "OpenCV's own convolution runs on this processor";
    }
    const struct {
        int maps, height, width;
        bool clamp;
    } shapes[] = {
        {24, 259, 259,
         true}, // the full-range network's padded input: 128 columns, five steps of 24 and one of 8
        {24, 131, 131, true}, // the short-range network's: 64 columns
        {4, 5, 5, false},     // one output, in the columns past the vectors
        {8, 21, 22,
         true}, // 9 columns: one vector and one past it; an even width, whose last column no tap reads
        {4, 7, 53, false}, // 25 columns: a step of 24 and one past it
        {12, 9, 67, true}, // 32 columns: a step of 24 and a vector; three groups of maps
    };
    cv::RNG rng(1973);
    for (const auto& s : shapes) {
        SCOPED_TRACE(::testing::Message() << s.maps << " maps from " << s.height << "x" << s.width);
        const StemConvolution stem = randomStem(s.maps, s.clamp, rng);
        const std::vector<float> in = randomInput(s.height, s.width, rng);
        const std::vector<float> expected = oneByOne(stem, in, s.height, s.width);
        std::vector<float> out(expected.size(), std::numeric_limits<float>::quiet_NaN());
        stem.run(in.data(), s.height, s.width, out.data());
        for (std::size_t i = 0; i < out.size(); ++i) {
            ASSERT_NEAR(out[i], expected[i], 1e-4f) << "value " << i;
        }
    }
}

TEST(StemConvolution, ANotANumberGetsThroughTheClamp) {
    if (!StemConvolution::supported()) {
        GTEST_SKIP() << "OpenCV's own convolution runs on this processor";
    }
    // A damaged model must still show as one: OpenCV's clamp keeps a NaN, so must this one, in the
    // vectors and in the columns past them.
    cv::RNG rng(7);
    StemConvolution stem = randomStem(4, true, rng);
    stem.bias[2] = std::numeric_limits<float>::quiet_NaN();
    const int height = 7, width = 23; // 2 rows of 10 columns: one vector and two past it
    const std::vector<float> in = randomInput(height, width, rng);
    std::vector<float> out(static_cast<std::size_t>(4 * 2 * 10));
    stem.run(in.data(), height, width, out.data());
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(std::isnan(out[static_cast<std::size_t>(2 * 20 + i)])) << "value " << i;
        ASSERT_FALSE(std::isnan(out[static_cast<std::size_t>(i)])) << "value " << i;
    }
}

namespace {

cv::dnn::Net stemNet(const cv::dnn::LayerParams& conv, float slope) {
    cv::dnn::LayerParams relu = layer("ReLU", "relu");
    relu.set("negative_slope", slope);
    return chain({conv, relu});
}

int stems(cv::dnn::Net& net) {
    return static_cast<int>(DepthwiseConvolution::layersOf<StemConvolutionLayer>(net).size());
}

} // namespace

TEST(StemConvolution, IsTakenIntoANetworkOnlyWhereTheLayerIsAStem) {
    if (!StemConvolution::supported() || !DepthwiseConvolution::standsIn()) {
        GTEST_SKIP() << "OpenCV's own layers run on this processor or with this OpenCV";
    }
    cv::RNG rng(2026);
    const struct {
        const char* what;
        int channels, maps, kernel, stride, pad;
        bool bias;
        float slope; // of the clamp after it
        bool taken;
    } cases[] = {
        {"a stem", 3, 8, 5, 2, 0, true, 0.0f, true},
        {"a stem without a bias", 3, 8, 5, 2, 0, false, 0.0f, true},
        {"a stem before a leaky clamp, which it leaves to its layer", 3, 8, 5, 2, 0, true, 0.1f, true},
        {"stride 1", 3, 8, 5, 1, 0, true, 0.0f, false},
        {"four input channels", 4, 8, 5, 2, 0, true, 0.0f, false},
        {"maps not in groups of four", 3, 6, 5, 2, 0, true, 0.0f, false},
        {"padding of its own", 3, 8, 5, 2, 2, true, 0.0f, false},
        {"3x3", 3, 8, 3, 2, 0, true, 0.0f, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const cv::dnn::LayerParams conv =
            convolution({"stem", c.channels, c.maps, c.kernel, c.stride, c.pad, c.bias}, rng);
        const Build build = [&] { return stemNet(conv, c.slope); };
        const cv::Mat input = randomMap({1, c.channels, 19, 21}, rng, -2, 2);
        // Only a fusing Scope takes a stem.
        inBothScopes(build, input, {"relu"}, [&](cv::dnn::Net& net, bool fuse) {
            const auto layer = net.getLayer(net.getLayerId("stem")).dynamicCast<StemConvolutionLayer>();
            EXPECT_EQ(stems(net), fuse && c.taken ? 1 : 0);
            EXPECT_EQ(layer && layer->clampsAtZero(), fuse && c.taken && c.slope == 0.0f);
        });
        bool agreed = false;
        cv::dnn::Net checked = readCheckedAgainstOpenCV(build, input, {"relu"}, 1e-4, agreed);
        EXPECT_TRUE(agreed);
        EXPECT_EQ(stems(checked), c.taken ? 1 : 0);
        // Set up again for the convolution's own output, the clamp is left out (OpenCV's output has values
        // below zero).
        cv::dnn::Net opencvs = build();
        double lowest = 0;
        cv::minMaxIdx(output(opencvs, input, "stem"), &lowest);
        EXPECT_LT(lowest, 0.0);
        expectOpenCVsOutputs(checked, build, input, {"stem"}, 1e-4);
    }
}

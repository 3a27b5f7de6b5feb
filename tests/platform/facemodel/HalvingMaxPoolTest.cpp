// The networks' 2x2 max poolings on our own maxima: the largest of each block on every shape, and taken
// into a network only for that pooling.
#include "platform/linux/facemodel/HalvingMaxPool.h"
#include "platform/linux/facemodel/DepthwiseConvolution.h"

#include "LayerTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

using namespace tavrine;
using namespace tavrine::testing;

TEST(HalvingMaxPool, KeepsTheLargestOfEveryBlock) {
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();
    const struct {
        int height, width;
        bool unusual; // values that are not numbers, and blocks of minus infinities
    } shapes[] = {
        {128, 128, false}, // the full-range network's largest maps
        {2, 2, false},     // one output, past the vectors
        {4, 16, false},    // two rows of two vectors
        {6, 18, false},    // 9 outputs a row: two vectors and one past them
        {5, 9, false},     // an odd last row and column, left out
        {4, 18, true},     // in the vectors and past them
    };
    cv::RNG rng(1973);
    for (const auto& s : shapes) {
        SCOPED_TRACE(::testing::Message() << s.height << "x" << s.width);
        std::vector<float> in = randomValues(static_cast<std::size_t>(s.height) * s.width, rng);
        if (s.unusual) {
            // A NaN in each corner of some block, in the vectors (columns 0-7) and past them (16, 17);
            // minus infinities filling the blocks at columns 2-3 and 16-17 of the last two rows.
            for (const int at : {0, 3, s.width + 4, s.width + 7, 16, s.width + 17}) {
                in[static_cast<std::size_t>(at)] = nan;
            }
            for (const int x : {2, 3, 16, 17}) {
                in[static_cast<std::size_t>(2 * s.width + x)] = -inf;
                in[static_cast<std::size_t>(3 * s.width + x)] = -inf;
            }
        }
        const int oh = s.height / 2, ow = s.width / 2;
        std::vector<float> out(static_cast<std::size_t>(oh) * ow + 1, 42.0f);
        HalvingMaxPoolLayer::halve(in.data(), s.height, s.width, out.data());
        for (int y = 0; y < oh; ++y) {
            for (int x = 0; x < ow; ++x) {
                // As OpenCV's pooling: from the lowest finite float, each value that is larger.
                float expected = -std::numeric_limits<float>::max();
                for (const int dy : {0, 1}) {
                    for (const int dx : {0, 1}) {
                        const float v = in[static_cast<std::size_t>(2 * y + dy) * s.width + 2 * x + dx];
                        expected = v > expected ? v : expected;
                    }
                }
                ASSERT_EQ(out[static_cast<std::size_t>(y) * ow + x], expected) << "output " << y << "," << x;
            }
        }
        EXPECT_EQ(out.back(), 42.0f) << "a value written past the plane";
    }
}

namespace {

struct Pooling {
    const char* pool;
    int kernel, stride;
    bool padAtStart = false; // a row and a column of padding before the map, none after
    bool ceil = false;       // sizes rounded up (the networks' importer rounds them down)
};

// The pooling, then a layer that reads it, as in the networks: a pooling that ends the network is also
// asked for the positions of its maxima.
cv::dnn::Net poolNet(const Pooling& c, bool thenRead = true) {
    cv::dnn::LayerParams p = layer("Pooling", "pool");
    p.set("pool", c.pool);
    p.set("kernel_size", c.kernel);
    p.set("stride", c.stride);
    p.set("ceil_mode", c.ceil);
    if (c.padAtStart) {
        p.set("pad_t", 1);
        p.set("pad_l", 1);
        p.set("pad_b", 0);
        p.set("pad_r", 0);
    }
    return thenRead ? chain({p, layer("Power", "after")}) : chain({p});
}

// How many of the network's poolings halve their maps on our own maxima.
int halving(cv::dnn::Net& net) {
    const auto layers = DepthwiseConvolution::layersOf<HalvingMaxPoolLayer>(net);
    return static_cast<int>(
        std::count_if(layers.begin(), layers.end(), [](const auto& l) { return l->halvesItself(); }));
}

} // namespace

TEST(HalvingMaxPool, IsTakenIntoANetworkOnlyForThatPooling) {
    if (!DepthwiseConvolution::standsIn()) {
        GTEST_SKIP() << "OpenCV's own layers run with this OpenCV";
    }
    const struct {
        const char* what;
        Pooling pooling;
        bool taken;
    } cases[] = {
        {"2x2 max pooling, stride 2", {"MAX", 2, 2}, true},
        {"average pooling", {"AVE", 2, 2}, false},
        {"3x3 max pooling", {"MAX", 3, 2}, false},
        {"stride 1", {"MAX", 2, 1}, false},
        // Both give as many outputs as the plain halving here, from other blocks.
        {"padding at the start only", {"MAX", 2, 2, true}, false},
        {"sizes rounded up", {"MAX", 2, 2, false, true}, false},
    };
    cv::RNG rng(2026);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Build build = [&] { return poolNet(c.pooling); };
        const cv::Mat input = randomMap({1, 5, 12, 14}, rng, -2, 2);
        // Only a fusing Scope takes it.
        inBothScopes(build, input, {"after"},
                     [&](cv::dnn::Net& net, bool fuse) { EXPECT_EQ(halving(net), fuse && c.taken ? 1 : 0); });
        bool agreed = false;
        cv::dnn::Net checked = readCheckedAgainstOpenCV(build, input, {"after"}, 0.0, agreed);
        EXPECT_TRUE(agreed);
        EXPECT_EQ(halving(checked), c.taken ? 1 : 0);
    }
}

TEST(HalvingMaxPool, APoolingThatEndsTheNetworkLeavesItToOpenCV) {
    if (!DepthwiseConvolution::standsIn()) {
        GTEST_SKIP() << "OpenCV's own layers run with this OpenCV";
    }
    // It is also asked for the positions of its maxima, which ours does not give.
    cv::RNG rng(1973);
    const cv::Mat input = randomMap({1, 5, 12, 14}, rng, -2, 2);
    const Build build = [] { return poolNet({"MAX", 2, 2}, false); };
    cv::dnn::Net net = inScope(true, build, input, {"pool"});
    EXPECT_EQ(DepthwiseConvolution::layersOf<HalvingMaxPoolLayer>(net).size(), 1u);
    EXPECT_EQ(halving(net), 0);
    expectOpenCVsOutputs(net, build, input, {"pool"}, 0.0);
}

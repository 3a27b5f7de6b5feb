// The networks' 2x2 max poolings on our own maxima: the largest of each block on every shape, and taken
// into a network only for that pooling.
#include "platform/linux/facemodel/HalvingMaxPool.h"
#include "platform/linux/facemodel/DepthwiseConvolution.h"

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace tavrine;

TEST(HalvingMaxPool, KeepsTheLargestOfEveryBlock) {
    const struct {
        int height, width;
    } shapes[] = {
        {128, 128}, // the full-range network's largest maps
        {2, 2},     // one output, past the vectors
        {4, 16},    // two rows of two vectors
        {6, 18},    // 9 outputs a row: two vectors and one past them
        {5, 9},     // an odd last row and column, left out
    };
    cv::RNG rng(1973);
    for (const auto& s : shapes) {
        SCOPED_TRACE(testing::Message() << s.height << "x" << s.width);
        std::vector<float> in(static_cast<std::size_t>(s.height) * s.width);
        for (float& v : in) {
            v = rng.uniform(-1.0f, 1.0f);
        }
        const int oh = s.height / 2, ow = s.width / 2;
        std::vector<float> out(static_cast<std::size_t>(oh) * ow + 1, 42.0f);
        HalvingMaxPoolLayer::halve(in.data(), s.height, s.width, out.data());
        for (int y = 0; y < oh; ++y) {
            for (int x = 0; x < ow; ++x) {
                const float* r0 = &in[static_cast<std::size_t>(2 * y) * s.width + 2 * x];
                const float* r1 = r0 + s.width;
                ASSERT_EQ(out[static_cast<std::size_t>(y) * ow + x], std::max({r0[0], r0[1], r1[0], r1[1]}))
                    << "output " << y << "," << x;
            }
        }
        EXPECT_EQ(out.back(), 42.0f) << "a value written past the plane";
    }
}

namespace {

cv::dnn::Net poolNet(const char* pool, int kernel, int stride) {
    cv::dnn::LayerParams p;
    p.type = "Pooling";
    p.name = "pool";
    p.set("pool", pool);
    p.set("kernel_size", kernel);
    p.set("stride", stride);
    p.set("ceil_mode", false); // as the networks' importer sets it
    cv::dnn::Net net;
    net.addLayerToPrev(p.name, p.type, p);
    return net;
}

int pools(cv::dnn::Net& net) {
    return static_cast<int>(DepthwiseConvolution::layersOf<HalvingMaxPoolLayer>(net).size());
}

cv::Mat output(cv::dnn::Net& net, const cv::Mat& input) {
    net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net.setInput(input);
    return net.forward("pool").clone();
}

} // namespace

TEST(HalvingMaxPool, IsTakenIntoANetworkOnlyForThatPooling) {
    if (!DepthwiseConvolution::standsIn()) {
        GTEST_SKIP() << "OpenCV's own layers run with this OpenCV";
    }
    const struct {
        const char* what;
        const char* pool;
        int kernel, stride;
        bool taken;
    } cases[] = {
        {"2x2 max pooling, stride 2", "MAX", 2, 2, true},
        {"average pooling", "AVE", 2, 2, false},
        {"3x3 max pooling", "MAX", 3, 2, false},
        {"stride 1", "MAX", 2, 1, false},
    };
    cv::RNG rng(2026);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<int> shape = {1, 5, 12, 14};
        cv::Mat input(shape, CV_32F);
        rng.fill(input, cv::RNG::UNIFORM, -2, 2);
        // Only a fusing Scope takes it.
        for (const bool fuse : {true, false}) {
            cv::dnn::Net net;
            {
                const DepthwiseConvolution::Scope scope(fuse);
                net = poolNet(c.pool, c.kernel, c.stride);
                (void)output(net, input);
            }
            EXPECT_EQ(pools(net), fuse && c.taken ? 1 : 0);
        }
        bool agreed = false;
        cv::dnn::Net checked = DepthwiseConvolution::readChecked(
            [&] { return poolNet(c.pool, c.kernel, c.stride); }, shape, {"pool"}, agreed);
        EXPECT_TRUE(agreed);
        EXPECT_EQ(pools(checked), c.taken ? 1 : 0);
        cv::dnn::Net opencvs = poolNet(c.pool, c.kernel, c.stride);
        const cv::Mat got = output(checked, input), expected = output(opencvs, input);
        ASSERT_EQ(got.size, expected.size);
        EXPECT_EQ(cv::norm(got, expected, cv::NORM_INF), 0.0);
    }
}

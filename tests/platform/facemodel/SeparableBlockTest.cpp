// The block that runs a depthwise convolution, its 1x1 convolution, the addition of its input and the clamp
// in one pass: the same sums as the four layers on every shape, and taken into a network only where the
// layers really are such a block.
#include "platform/linux/facemodel/SeparableBlock.h"
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

SeparableBlock randomBlock(int channels, int outChannels, bool addInput, bool clamp, cv::RNG& rng) {
    SeparableBlock b;
    b.channels = channels;
    b.outChannels = outChannels;
    b.depthwise = randomValues(static_cast<std::size_t>(channels) * 9, rng);
    b.depthwiseBias = randomValues(static_cast<std::size_t>(channels), rng);
    b.pointwise = randomValues(static_cast<std::size_t>(outChannels) * channels, rng);
    b.pointwiseBias = randomValues(static_cast<std::size_t>(outChannels), rng);
    b.addInput = addInput;
    b.clampAtZero = clamp;
    return b;
}

// The four layers one after the other, one value at a time.
std::vector<float> layerByLayer(const SeparableBlock& b, const std::vector<float>& in, int height,
                                int width) {
    const std::size_t plane = static_cast<std::size_t>(height) * width;
    std::vector<float> depthwise(b.channels * plane), out(b.outChannels * plane);
    for (int c = 0; c < b.channels; ++c) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                float sum = b.depthwiseBias[c];
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        if (y + dy >= 0 && y + dy < height && x + dx >= 0 && x + dx < width) {
                            sum += b.depthwise[c * 9 + (dy + 1) * 3 + dx + 1] *
                                   in[c * plane + (y + dy) * width + x + dx];
                        }
                    }
                }
                depthwise[c * plane + y * width + x] = sum;
            }
        }
    }
    for (int o = 0; o < b.outChannels; ++o) {
        for (std::size_t i = 0; i < plane; ++i) {
            float sum = b.pointwiseBias[o];
            for (int c = 0; c < b.channels; ++c) {
                sum += b.pointwise[o * b.channels + c] * depthwise[c * plane + i];
            }
            // A widening block's input is padded with channels of zeros.
            sum += b.addInput && o < b.channels ? in[o * plane + i] : 0.0f;
            out[o * plane + i] = b.clampAtZero && sum < 0.0f ? 0.0f : sum;
        }
    }
    return out;
}

} // namespace

TEST(SeparableBlock, GivesTheFourLayersSumsOnEveryShape) {
    if (!SeparableBlock::supported()) {
        GTEST_SKIP() << "this processor runs the four layers of OpenCV";
    }
    const struct {
        int channels, outChannels, height, width;
        bool addInput, clamp;
    } cases[] = {
        {24, 24, 128, 128, true, true}, // the full-range network's largest maps: bands of 4 rows
        {96, 96, 8, 8, true, true},     // its smallest: the whole map in one band
        {5, 5, 7, 13, true, true},    // a row of one vector and a tail of 5; 91 values, not a multiple of 16
        {3, 6, 1, 1, false, true},    // one value, two outputs past the groups of four
        {4, 4, 1, 20, true, false},   // one row
        {24, 28, 9, 3, false, false}, // more outputs than inputs
        {28, 32, 16, 16, true, true}, // and the input added to the first (the short-range network's widening)
        {6, 10, 40, 20, true, true},  // the same over two bands of 25 and 15 rows
        {2, 2, 3, 600, true, true},   // rows wider than a band: one row a band
        {1, 1, 2, 2, true, true},     // every value at an edge
    };
    cv::RNG rng(1973);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.channels << "->" << c.outChannels << " " << c.height << "x" << c.width
                     << (c.addInput ? " +input" : "") << (c.clamp ? " clamped" : ""));
        const SeparableBlock block = randomBlock(c.channels, c.outChannels, c.addInput, c.clamp, rng);
        const std::vector<float> in =
            randomValues(static_cast<std::size_t>(c.channels) * c.height * c.width, rng);
        const std::vector<float> expected = layerByLayer(block, in, c.height, c.width);
        std::vector<float> out(expected.size(), std::numeric_limits<float>::quiet_NaN());
        block.run(in.data(), out.data(), c.height, c.width);
        float worst = 0.0f;
        for (std::size_t i = 0; i < out.size(); ++i) {
            worst = std::max(worst, std::abs(out[i] - expected[i]));
            ASSERT_TRUE(std::isfinite(out[i])) << "value " << i << " not written";
        }
        EXPECT_LT(worst, 1e-4f);
        // The same block again on other values: nothing of the first run stays behind.
        const std::vector<float> other = randomValues(in.size(), rng);
        block.run(other.data(), out.data(), c.height, c.width);
        const std::vector<float> again = layerByLayer(block, other, c.height, c.width);
        for (std::size_t i = 0; i < out.size(); ++i) {
            ASSERT_NEAR(out[i], again[i], 1e-4f) << "value " << i;
        }
    }
}

TEST(SeparableBlock, ANotANumberGetsThroughTheClamp) {
    if (!SeparableBlock::supported()) {
        GTEST_SKIP() << "this processor runs the four layers of OpenCV";
    }
    // A damaged model must still show as one: OpenCV's clamp keeps a NaN, so must this one, in the
    // vectors and in the values past them.
    cv::RNG rng(7);
    for (const int width : {16, 3}) {
        SCOPED_TRACE(::testing::Message() << "rows " << width << " wide");
        SeparableBlock block = randomBlock(8, 8, true, true, rng);
        block.pointwise[3] = std::numeric_limits<float>::quiet_NaN(); // output 0 reads channel 3
        const std::vector<float> in = randomValues(static_cast<std::size_t>(8 * 4 * width), rng);
        std::vector<float> out(in.size());
        block.run(in.data(), out.data(), 4, width);
        for (int i = 0; i < 4 * width; ++i) {
            ASSERT_TRUE(std::isnan(out[static_cast<std::size_t>(i)])) << "value " << i;
        }
        EXPECT_TRUE(std::isfinite(out[static_cast<std::size_t>(4 * width)]));
    }
}

namespace {

struct BlockNet {
    cv::dnn::LayerParams depthwise, pointwise, join, clamp;
    enum class Input {
        plain,   // the block reads the network's input
        doubled, // the depthwise convolution reads the input doubled, while the join adds the input itself
        // The block reads the input halved, and a layer between the depthwise convolution and the join
        // reads another map whose memory OpenCV gives the join's output once that layer is done.
        sideBranch,
    } input = Input::plain;

    cv::dnn::Net build() const {
        cv::dnn::Net net;
        cv::dnn::LayerParams d = depthwise, p = pointwise, j = join, c = clamp;
        auto power = [&](const char* name, float scale) {
            cv::dnn::LayerParams lp = layer("Power", name);
            lp.set("scale", scale);
            const int id = net.addLayer(lp.name, lp.type, lp);
            net.connect(0, 0, id, 0);
            return id;
        };
        const int side = input == Input::sideBranch ? power("other", 1.5f) : 0;
        const int from = input == Input::doubled      ? power("twice", 2.0f)
                         : input == Input::sideBranch ? power("half", 0.5f)
                                                      : 0;
        const int dw = net.addLayer(d.name, d.type, d);
        net.connect(from, 0, dw, 0);
        const int pw = net.addLayer(p.name, p.type, p);
        net.connect(dw, 0, pw, 0);
        if (input == Input::sideBranch) {
            cv::dnn::LayerParams sum = layer("Eltwise", "side");
            const int id = net.addLayer(sum.name, sum.type, sum);
            net.connect(side, 0, id, 0);
            net.connect(side, 0, id, 1);
        }
        int last = pw;
        if (!j.type.empty()) {
            last = net.addLayer(j.name, j.type, j);
            net.connect(pw, 0, last, 0);
            net.connect(input == Input::sideBranch ? from : 0, 0, last, 1);
        }
        const int relu = net.addLayer(c.name, c.type, c);
        net.connect(last, 0, relu, 0);
        return net;
    }
};

// operation: the join of the 1x1 convolution's output with the block's input, none when empty.
BlockNet blockNet(const std::string& operation, int stride, int pointwiseKernel, cv::RNG& rng,
                  BlockNet::Input input = BlockNet::Input::plain, const char* pointwiseType = "Convolution") {
    BlockNet n;
    n.input = input;
    n.depthwise = convolution({"dw", 16, 16, 3, stride, 1, true, 16}, rng);
    n.pointwise = convolution({"pw", 16, 16, pointwiseKernel, 1, pointwiseKernel / 2}, rng);
    n.pointwise.type = pointwiseType;
    if (!operation.empty()) {
        n.join = layer("Eltwise", "add");
        n.join.set("operation", operation);
    }
    n.clamp = layer("ReLU", "relu");
    return n;
}

} // namespace

TEST(SeparableBlock, IsTakenIntoANetworkOnlyWhereTheLayersAreSuchABlock) {
    if (!SeparableBlock::supported() || !DepthwiseConvolution::standsIn()) {
        GTEST_SKIP() << "OpenCV's own layers run on this processor or with this OpenCV";
    }
    cv::RNG rng(2026);
    using Input = BlockNet::Input;
    BlockNet nanProduct = blockNet("prod", 1, 1, rng);
    nanProduct.pointwise.blobs[1].at<float>(0) = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* what;
        BlockNet net;
        int takenIn; // layers after the depthwise convolution that it runs, before any check
        bool agreed; // and the check against OpenCV's own layers finds the same outputs
    } cases[] = {
        {"a block", blockNet("sum", 1, 1, rng), 3, true},
        {"no sum: the 1x1 convolution and the clamp", blockNet("", 1, 1, rng), 2, true},
        {"a stride-2 depthwise convolution", blockNet("", 2, 1, rng), 0, true},
        {"a 3x3 convolution after it", blockNet("sum", 1, 3, rng), 0, true},
        {"a 1x1 transposed convolution after it", blockNet("sum", 1, 1, rng, Input::plain, "Deconvolution"),
         0, true},
        // What follows the 1x1 convolution is not known from the layer alone: the check against OpenCV's
        // own layers finds the difference, and OpenCV's own layers run.
        {"a product instead of a sum", blockNet("prod", 1, 1, rng), 3, false},
        {"a sum with another map than the block's input", blockNet("sum", 1, 1, rng, Input::doubled), 3,
         false},
        // NaNs in both networks' outputs (a damaged weight) leave the other values to compare.
        {"a product with a damaged bias", nanProduct, 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const cv::Mat input = randomMap({1, 16, 12, 12}, rng, -2, 2);
        const Build build = [&] { return c.net.build(); };
        // What the fusion gives, before any check; and that a Scope that does not fuse gives none.
        inBothScopes(build, input, {"relu"}, [&](cv::dnn::Net& fused, bool fuse) {
            const auto layer = fused.getLayer(fused.getLayerId("dw")).dynamicCast<DepthwiseConvolution>();
            ASSERT_TRUE(layer);
            EXPECT_EQ(layer->layersTakenIn(), fuse ? c.takenIn : 0);
        });
        // Whichever network the check keeps gives OpenCV's outputs (NaNs where OpenCV's has them).
        bool agreed = false;
        cv::dnn::Net checked = readCheckedAgainstOpenCV(build, input, {"relu"}, 1e-4, agreed);
        EXPECT_EQ(agreed, c.agreed);
        const auto kept = checked.getLayer(checked.getLayerId("dw")).dynamicCast<DepthwiseConvolution>();
        EXPECT_EQ(kept ? kept->layersTakenIn() : 0, c.agreed ? c.takenIn : 0);
    }
}

TEST(SeparableBlock, ANetworkRunsAsItWasChecked) {
    if (!SeparableBlock::supported() || !DepthwiseConvolution::standsIn()) {
        GTEST_SKIP() << "OpenCV's own layers run on this processor or with this OpenCV";
    }
    cv::RNG rng(11);
    const std::vector<int> shape = {1, 16, 12, 12};
    const cv::Mat input = randomMap(shape, rng, -2, 2);
    // A layer between the depthwise convolution and the sum reads memory the fused block may already have
    // written the sum into: whatever the check keeps gives OpenCV's outputs, for the outputs checked and,
    // set up again, for others.
    const BlockNet branched = blockNet("sum", 1, 1, rng, BlockNet::Input::sideBranch);
    const Build branchedNet = [&] { return branched.build(); };
    bool agreed = false;
    cv::dnn::Net net = readCheckedAgainstOpenCV(branchedNet, input, {"relu", "side"}, 1e-4, agreed);
    // OpenCV 4.6 gives the sum's output the side branch's memory: the check sees the side branch overwritten.
    EXPECT_FALSE(agreed);
    expectOpenCVsOutputs(net, branchedNet, input, {"relu", "side", "other"}, 1e-4);
    // A block checked for one set of outputs and then asked for others is set up again, unfused.
    const BlockNet block = blockNet("sum", 1, 1, rng);
    const Build plainBlock = [&] { return block.build(); };
    cv::dnn::Net checked = DepthwiseConvolution::readChecked(plainBlock, shape, {"relu"}, agreed);
    ASSERT_TRUE(agreed);
    const auto layer = checked.getLayer(checked.getLayerId("dw")).dynamicCast<DepthwiseConvolution>();
    ASSERT_TRUE(layer);
    EXPECT_EQ(layer->layersTakenIn(), 3);
    expectOpenCVsOutputs(checked, plainBlock, input, {"relu", "pw"}, 1e-4);
    EXPECT_EQ(layer->layersTakenIn(), 0);
}

TEST(SeparableBlock, AnOutputOverItsInputStillGetsTheBlocksSums) {
    if (!SeparableBlock::supported() || !DepthwiseConvolution::standsIn()) {
        GTEST_SKIP() << "OpenCV's own layers run on this processor or with this OpenCV";
    }
    // OpenCV may give a layer's output the memory of its input: the block then reads a copy.
    cv::RNG rng(5);
    BlockNet n = blockNet("sum", 1, 1, rng);
    // Two bands of rows: the second reads the last row of the first, which the output has overwritten.
    const std::vector<int> shape = {1, 16, 40, 20};
    const cv::Mat input = randomMap(shape, rng, -2, 2);
    cv::Mat written(shape, CV_32F);
    cv::dnn::Net opencvs = n.build();
    const cv::Mat expected = output(opencvs, input, "relu");
    const DepthwiseConvolution::Scope scope(true);
    cv::Ptr<cv::dnn::Layer> dw = cv::dnn::LayerFactory::createLayerInstance("Convolution", n.depthwise);
    const auto layer = dw.dynamicCast<DepthwiseConvolution>();
    ASSERT_TRUE(layer);
    std::vector<cv::Mat> ins = {input}, outs = {written}, internals;
    layer->finalize(ins, outs);
    cv::Ptr<cv::dnn::Layer> pw = cv::dnn::ConvolutionLayer::create(n.pointwise);
    cv::Ptr<cv::dnn::Layer> add = cv::dnn::EltwiseLayer::create(n.join);
    cv::Ptr<cv::dnn::Layer> relu = cv::dnn::ReLULayer::create(n.clamp);
    // Only for the processor: a layer set to run elsewhere keeps its layers apart.
    layer->preferableTarget = cv::dnn::DNN_TARGET_OPENCL;
    EXPECT_FALSE(layer->tryFuse(pw));
    layer->preferableTarget = cv::dnn::DNN_TARGET_CPU;
    ASSERT_TRUE(layer->tryFuse(pw) && layer->tryFuse(add) && layer->tryFuse(relu));
    layer->forward(ins, outs, internals);
    cv::Mat over = input.clone();
    std::vector<cv::Mat> same = {over};
    layer->forward(same, same, internals);
    EXPECT_LT(cv::norm(written, expected, cv::NORM_INF), 1e-4);
    EXPECT_LT(cv::norm(over, expected, cv::NORM_INF), 1e-4);
}

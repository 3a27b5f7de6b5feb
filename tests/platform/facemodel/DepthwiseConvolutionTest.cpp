// The depthwise convolution that stands in for OpenCV's own on small maps: the same sums on every shape it
// takes, OpenCV's own layer for every shape it does not, and the face models really running on it.
#include "platform/linux/facemodel/DepthwiseConvolution.h"
#include "platform/linux/facemodel/BlazeFaceModel.h"
#include "platform/linux/facemodel/FaceModelPaths.h"
#include "platform/linux/facemodel/HalvingMaxPool.h"
#include "platform/linux/facemodel/SeparableBlock.h"
#include "platform/linux/facemodel/StemConvolution.h"

#include "LayerTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace tavrine;
using namespace tavrine::testing;

namespace {

struct Shape {
    int batch, channels, height, width, stride;
    int pad; // columns of zeros on every side
    bool bias;
};

// A depthwise convolution (one filter a channel) unless `group` says otherwise.
cv::dnn::LayerParams depthwise(const Shape& s, int kernel = 3, int dilation = 1, int group = 0) {
    return convolution({"dw", s.channels, s.channels, kernel, s.stride, s.pad, s.bias,
                        group > 0 ? group : s.channels, dilation},
                       cv::theRNG());
}

} // namespace

TEST(DepthwiseConvolution, GivesOpenCVsOwnSumsOnEveryShapeItTakes) {
    if (!DepthwiseConvolution::standsIn()) {
        GTEST_SKIP() << "OpenCV's own layers run with this OpenCV";
    }
    cv::theRNG().state = 1973;
    // The networks' own shapes run in the face models' test below; here, the edges of what it takes.
    const Shape shapes[] = {
        {1, 96, 8, 8, 1, 1, true},   // stride 1, one column of zeros around, with a bias
        {1, 5, 7, 13, 1, 1, true},   // rows not a multiple of 4 wide: a tail of 1
        {1, 3, 6, 6, 1, 1, false},   // one vector and a tail of 2
        {1, 3, 9, 9, 2, 0, true},    // stride 2, odd side
        {1, 4, 17, 10, 2, 1, false}, // stride 2 with a column of zeros
        {1, 2, 3, 3, 1, 0, true},    // a single output
        {1, 6, 5, 6, 1, 2, true},    // two columns of zeros
        {2, 7, 12, 12, 1, 1, true},  // two images in the batch
        {1, 8, 32, 32, 1, 1, true},  // the largest map of its own
        {1, 8, 33, 33, 1, 1, true},  // larger: OpenCV's own runs in its place
    };
    for (const Shape& s : shapes) {
        SCOPED_TRACE(::testing::Message()
                     << s.batch << "x" << s.channels << "x" << s.height << "x" << s.width << " stride "
                     << s.stride << " pad " << s.pad << (s.bias ? " bias" : ""));
        const cv::dnn::LayerParams params = depthwise(s);
        const Build build = [&] { return chain({params}); };
        cv::Mat input = randomMap({s.batch, s.channels, s.height, s.width}, cv::theRNG(), -4, 4);
        cv::dnn::Net ours = inScope(false, build, input, {"dw"});
        const auto layer = ours.getLayer(ours.getLayerId("dw")).dynamicCast<DepthwiseConvolution>();
        ASSERT_TRUE(layer);
        expectOpenCVsOutputs(ours, build, input, {"dw"}, 1e-4);
        const cv::Mat got = output(ours, input, "dw");
        EXPECT_EQ(layer->computesItself(), got.size[2] * got.size[3] <= DepthwiseConvolution::largestPlane);
        // A second run on other values: nothing of the first stays behind.
        cv::randu(input, -4, 4);
        expectOpenCVsOutputs(ours, build, input, {"dw"}, 1e-4);
    }
}

TEST(DepthwiseConvolution, LeavesEveryOtherConvolutionToOpenCV) {
    const Shape s{1, 8, 16, 16, 1, 1, true};
    const Shape strided3{1, 8, 16, 16, 3, 1, true};
    const Shape padded3{1, 8, 16, 16, 1, 3, true};
    struct Case {
        const char* what;
        cv::dnn::LayerParams params;
    } cases[] = {
        {"a 5x5 kernel", depthwise(s, 5)},
        {"a dilated kernel", depthwise(s, 3, 2)},
        {"a full convolution", depthwise(s, 3, 1, 1)},
        {"two channels a group", depthwise(s, 3, 1, 4)},
        {"stride 3", depthwise(strided3)},
        {"three columns of zeros", depthwise(padded3)},
    };
    for (Case& c : cases) {
        const DepthwiseConvolution::Scope scope;
        cv::dnn::Net net = chain({c.params});
        EXPECT_FALSE(net.getLayer(net.getLayerId("dw")).dynamicCast<DepthwiseConvolution>()) << c.what;
        EXPECT_TRUE(net.getLayer(net.getLayerId("dw")).dynamicCast<cv::dnn::ConvolutionLayer>()) << c.what;
    }
    // Out of a scope, nothing changes.
    cv::dnn::Net plain = chain({depthwise(s)});
    EXPECT_FALSE(plain.getLayer(plain.getLayerId("dw")).dynamicCast<DepthwiseConvolution>());
}

TEST(DepthwiseConvolution, TheFaceModelsRunOnItWithOpenCVsOutputs) {
    const FaceModelPaths paths = FaceModelPaths::inDirectory(TAVRINE_TEST_MODELS_DIR, "");
    const struct {
        std::string path;
        int size, depthwiseLayers, wholeBlocks, maxPools;
    } models[] = {{paths.shortRange, 128, 16, 13, 3}, {paths.fullRange, 256, 32, 28, 3}};
    cv::theRNG().state = 2026;
    for (const auto& m : models) {
        SCOPED_TRACE(m.path);
        std::string error;
        auto loaded = BlazeFaceModel::load(m.path, m.size, error);
        ASSERT_TRUE(loaded) << error;
        const bool standsIn = DepthwiseConvolution::standsIn();
        EXPECT_EQ(loaded->ownDepthwiseLayers(), standsIn ? m.depthwiseLayers : 0);
        // Loaded, and after detections: still fused, as checked when loading.
        const int fusedBlocks = standsIn && SeparableBlock::supported() ? m.wholeBlocks : 0;
        // And the first layer on our own sums, where the processor runs them.
        const int stems = standsIn && StemConvolution::supported() ? 1 : 0;
        EXPECT_EQ(loaded->wholeBlocks(), fusedBlocks);
        EXPECT_EQ(loaded->stemLayers(), stems);
        for (int i = 0; i < 2; ++i) {
            (void)loaded->detect(cv::Mat(m.size, m.size, CV_8UC3, cv::Scalar::all(40 * i)), 0.5f);
        }
        EXPECT_EQ(loaded->wholeBlocks(), fusedBlocks);
        EXPECT_EQ(loaded->stemLayers(), stems);

        const cv::Mat input = randomMap({1, m.size, m.size, 3}, cv::theRNG(), -1, 1);
        const std::vector<std::string> names = {"Identity:0", "Identity_1:0", "Identity_2:0", "Identity_3:0"};
        const Build read = [&] { return cv::dnn::readNetFromONNX(m.path); };
        cv::dnn::Net ours = inScope(true, read, input, names);
        // Where the processor runs them, the blocks that add their input back run in one pass each.
        const auto layers = DepthwiseConvolution::layersOf(ours);
        EXPECT_EQ(std::count_if(layers.begin(), layers.end(),
                                [](const auto& l) { return l->layersTakenIn() == 3; }),
                  fusedBlocks);
        EXPECT_EQ(static_cast<int>(DepthwiseConvolution::layersOf<StemConvolutionLayer>(ours).size()), stems);
        const auto pools = DepthwiseConvolution::layersOf<HalvingMaxPoolLayer>(ours);
        EXPECT_EQ(std::count_if(pools.begin(), pools.end(), [](const auto& l) { return l->halvesItself(); }),
                  standsIn ? m.maxPools : 0);
        // Scores and box offsets of a few units: the sums only differ in their order.
        expectOpenCVsOutputs(ours, read, input, names, 1e-3);
    }
}

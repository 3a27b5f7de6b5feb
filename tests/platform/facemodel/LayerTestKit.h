#pragma once

// What the tests of our layers in OpenCV's networks share: random values and maps, small networks of
// OpenCV's layers and their outputs, and the check that a layer of ours is taken into a network only inside
// a fusing Scope while the network still gives OpenCV's own outputs.
#include "platform/linux/facemodel/DepthwiseConvolution.h"

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tavrine::testing {

// `count` values drawn one at a time, uniform in [-1, 1).
inline std::vector<float> randomValues(std::size_t count, cv::RNG& rng) {
    std::vector<float> values(count);
    for (float& v : values) {
        v = rng.uniform(-1.0f, 1.0f);
    }
    return values;
}

// A map of floats of `shape`, uniform in [low, high).
inline cv::Mat randomMap(const std::vector<int>& shape, cv::RNG& rng, double low, double high) {
    cv::Mat map(shape, CV_32F);
    rng.fill(map, cv::RNG::UNIFORM, low, high);
    return map;
}

inline cv::dnn::LayerParams layer(const char* type, const char* name) {
    cv::dnn::LayerParams p;
    p.type = type;
    p.name = name;
    return p;
}

// A square convolution, `pad` columns of zeros on every side; its weights (and bias) random in [-1, 1).
struct Convolution {
    const char* name;
    int channels, outChannels, kernel, stride = 1, pad = 0;
    bool bias = true;
    int group = 1, dilation = 1;
};

inline cv::dnn::LayerParams convolution(const Convolution& c, cv::RNG& rng) {
    cv::dnn::LayerParams p = layer("Convolution", c.name);
    p.set("kernel_size", c.kernel);
    p.set("num_output", c.outChannels);
    p.set("group", c.group);
    p.set("stride", c.stride);
    p.set("dilation", c.dilation);
    p.set("pad", c.pad);
    p.set("bias_term", c.bias);
    p.blobs = {randomMap({c.outChannels, c.channels / c.group, c.kernel, c.kernel}, rng, -1, 1)};
    if (c.bias) {
        p.blobs.push_back(randomMap({1, c.outChannels}, rng, -1, 1));
    }
    return p;
}

// The layers one after the other, the first reading the network's input.
inline cv::dnn::Net chain(std::vector<cv::dnn::LayerParams> layers) {
    cv::dnn::Net net;
    for (cv::dnn::LayerParams& p : layers) {
        net.addLayerToPrev(p.name, p.type, p);
    }
    return net;
}

// The outputs of the layers `names` for `input`, on OpenCV's backend, copied out of the network's memory.
inline std::vector<cv::Mat> outputs(cv::dnn::Net& net, const cv::Mat& input,
                                    const std::vector<std::string>& names) {
    net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    net.setInput(input);
    std::vector<cv::Mat> outs;
    net.forward(outs, std::vector<cv::String>(names.begin(), names.end()));
    for (cv::Mat& m : outs) {
        m = m.clone();
    }
    return outs;
}

inline cv::Mat output(cv::dnn::Net& net, const cv::Mat& input, const std::string& name) {
    return outputs(net, input, {name})[0];
}

// Makes a test's network: inside a Scope, out of any (OpenCV's own layers), or for readChecked.
using Build = std::function<cv::dnn::Net()>;

// The network made inside a Scope, fusing or not, and run there once for the outputs `names`: its layers
// are made, set up and fused while the Scope lives.
inline cv::dnn::Net inScope(bool fuse, const Build& build, const cv::Mat& input,
                            const std::vector<std::string>& names) {
    const DepthwiseConvolution::Scope scope(fuse);
    cv::dnn::Net net = build();
    (void)outputs(net, input, names);
    return net;
}

// `check(net, fuse)` on the network made in a fusing Scope, then in one that does not fuse.
inline void inBothScopes(const Build& build, const cv::Mat& input, const std::vector<std::string>& names,
                         const std::function<void(cv::dnn::Net&, bool fuse)>& check) {
    for (const bool fuse : {true, false}) {
        SCOPED_TRACE(fuse ? "made in a fusing Scope" : "made in a Scope that does not fuse");
        cv::dnn::Net net = inScope(fuse, build, input, names);
        check(net, fuse);
    }
}

// That `net` gives the outputs `names` of OpenCV's own layers (`build` out of any Scope) for `input`: the
// same shapes, values that are not numbers at the same places, the others at most `tolerance` apart.
inline void expectOpenCVsOutputs(cv::dnn::Net& net, const Build& build, const cv::Mat& input,
                                 const std::vector<std::string>& names, double tolerance) {
    cv::dnn::Net opencvs = build();
    std::vector<cv::Mat> got = outputs(net, input, names), expected = outputs(opencvs, input, names);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << names[i] << ", of " << names.size() << " outputs asked for");
        ASSERT_EQ(got[i].size, expected[i].size);
        EXPECT_EQ(cv::countNonZero((got[i] != got[i]) != (expected[i] != expected[i])), 0);
        cv::patchNaNs(got[i], 0);
        cv::patchNaNs(expected[i], 0);
        EXPECT_LE(cv::norm(got[i], expected[i], cv::NORM_INF), tolerance);
    }
}

// The network readChecked keeps for the outputs `names` and the input's shape, which must then give OpenCV's
// own outputs for `input`.
inline cv::dnn::Net readCheckedAgainstOpenCV(const Build& build, const cv::Mat& input,
                                             const std::vector<std::string>& names, double tolerance,
                                             bool& agreed) {
    cv::dnn::Net checked = DepthwiseConvolution::readChecked(
        build, std::vector<int>(input.size.p, input.size.p + input.dims), names, agreed);
    expectOpenCVsOutputs(checked, build, input, names, tolerance);
    return checked;
}

} // namespace tavrine::testing

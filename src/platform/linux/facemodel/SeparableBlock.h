#pragma once

#include <vector>

namespace tavrine {

// The building block of the BlazeFace networks in one pass: a 3x3 depthwise convolution (stride 1, one
// column of zeros around), the 1x1 convolution that mixes its channels, then optionally the block's input
// added back and negative values cut to zero. A block that widens the map (more outputs than inputs) adds
// its input to the first outputs: the networks pad it with channels of zeros to the output's width.
//
// Run as four OpenCV layers, each writes its whole map and the next reads it back: on the 128x128 maps of
// the full-range network the addition alone, which does one sum per value, took a quarter of the block's
// time. Here a band of rows at a time goes through the four steps while it is still in the cache, with
// 8-wide vectors and fused multiply-adds.
struct SeparableBlock {
    int channels = 0;                            // C, the input's channels
    int outChannels = 0;                         // O; at least C when the input is added back
    std::vector<float> depthwise, depthwiseBias; // C x 3 x 3, C
    std::vector<float> pointwise, pointwiseBias; // O x C, O
    bool addInput = false;
    bool clampAtZero = false;

    // Whether this processor runs the block (x86-64 with AVX2 and FMA): where not, the layers stay
    // OpenCV's own.
    static bool supported();

    // in: C x height x width floats, out: O x height x width; they must not overlap. Only where supported().
    void run(const float* in, float* out, int height, int width) const;

  private:
    mutable std::vector<float> band_, padded_;
};

} // namespace tavrine

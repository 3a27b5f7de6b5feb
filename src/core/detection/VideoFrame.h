#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace tavrine {

// One captured frame: 32-bit BGRA, rows of `stride` bytes, top row first. A frame whose `pixels` is
// null has no pixel buffer (the analyzer still counts it for admission, then drops it).
struct VideoFrame {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> pixels;
};

} // namespace tavrine

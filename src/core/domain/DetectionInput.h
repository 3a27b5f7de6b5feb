#pragma once

#include "core/domain/FaceData.h"

#include <cstdint>
#include <optional>

namespace tavrine {

// One analysed frame. No equality on purpose: inputs are events, not values to compare.
struct DetectionInput {
    std::int64_t timestampMs = 0; // wall-clock ms at admission
    std::int64_t faceCount = 0;
    std::optional<FaceData> primaryFace;
};

} // namespace tavrine

#include "core/service/ViewingDistance.h"

#include <cmath>
#include <cstdlib>

namespace tavrine {

namespace {
constexpr std::int64_t deadBandCm = 10;
} // namespace

std::optional<std::int64_t> estimateViewingDistanceCm(float ratio, float coefficient) {
    if (!(ratio > 0.0f)) {
        return std::nullopt;
    }
    float raw = 10.0f / ratio;
    if (raw <= 20.0f) {
        raw = 20.0f;
    } else if (raw > 200.0f) {
        raw = 200.0f;
    }
    double p = static_cast<double>(raw) * static_cast<double>(coefficient);
    if (std::isnan(p)) {
        return std::nullopt;
    }
    if (p > 300.0) {
        p = 300.0;
    } else if (p <= 20.0) {
        p = 20.0;
    }
    return static_cast<std::int64_t>(p);
}

bool viewingDistanceMoved(std::int64_t estimateCm, std::int64_t appliedCm) {
    return std::llabs(estimateCm - appliedCm) > deadBandCm;
}

} // namespace tavrine

#pragma once

#include <cstdint>
#include <optional>

namespace tavrine {

// How far the user sits from the screen, from the width of their face in the frame, for the matrix.

// Whole centimetres, 20 to 300, for a face `ratio` of the frame wide (10 / ratio, held to 20..200, times
// the user's coefficient), or nothing when the ratio gives no estimate (zero, negative, not a number).
std::optional<std::int64_t> estimateViewingDistanceCm(float ratio, float coefficient);

// Whether a new estimate moved far enough (more than 10 cm) from the applied one to retune the matrix.
bool viewingDistanceMoved(std::int64_t estimateCm, std::int64_t appliedCm);

} // namespace tavrine

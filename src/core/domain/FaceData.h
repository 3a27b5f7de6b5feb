#pragma once

namespace tavrine {

// The primary face of one analysed frame. Equality is plain float equality, so a NaN field never
// compares equal.
struct FaceData {
    float eulerY = 0.0f; // head yaw, degrees; 0 when the detector gives none
    float eulerX = 0.0f; // head pitch, degrees, negative looking down; 0 when the detector gives none
    float boundingBoxRatio = 0.0f; // face box width / frame width

    bool operator==(const FaceData&) const = default;
};

} // namespace tavrine

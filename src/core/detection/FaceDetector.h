#pragma once

#include "core/detection/FaceObservation.h"
#include "core/detection/VideoFrame.h"

#include <optional>
#include <vector>

namespace tavrine {

// Finds the faces of one frame. Called on the analysis worker, one frame at a time.
class FaceDetector {
  public:
    virtual ~FaceDetector() = default;
    // The faces in detector order, or nothing when the detection failed (no record for that frame).
    virtual std::optional<std::vector<FaceObservation>> detect(const VideoFrame& frame) = 0;
    // True once no detection can ever succeed (its models failed to load), as opposed to one frame that
    // could not be analysed. Called on the analysis worker after a failed detect().
    virtual bool isUnavailable() const { return false; }
};

} // namespace tavrine

#pragma once

#include "core/detection/CameraError.h"
#include "core/detection/VideoFrame.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace tavrine {

// The capture device behind CameraSession (a V4L2 camera, a video file, the demo clip, a fake).
class FrameSource {
  public:
    enum class Access { authorized, notDetermined, denied };
    using FrameHandler = std::function<void(const VideoFrame&)>;
    // interrupted = true when the source fails or stalls while running, false when frames flow again.
    // May be called from any thread.
    using InterruptionHandler = std::function<void(bool interrupted)>;

    virtual ~FrameSource() = default;

    virtual Access accessStatus() = 0;
    // Asks for access when it is not determined yet; returns the answer.
    virtual bool requestAccess() = 0;

    // Called on the camera queue. Configures and starts delivery of 640x480 BGRA frames to onFrame
    // (from the source's streaming thread, one at a time, late frames dropped). Returns the error
    // when the source cannot start; a restart after stop() must work.
    virtual std::optional<CameraError> start(FrameHandler onFrame) = 0;
    // Called on the camera queue. Stops delivery and releases the device; safe when not running.
    virtual void stop() = 0;
    // Called on the camera queue to recover from an interruption: stops and opens the same device again.
    // A source that chooses its device keeps the one its last successful start took (found again under
    // whatever node it now has) and fails with noCameraAvailable while it is absent, rather than take
    // another one.
    virtual std::optional<CameraError> restart(FrameHandler onFrame) {
        stop();
        return start(std::move(onFrame));
    }

    virtual void setInterruptionHandler(InterruptionHandler handler) = 0;
    // A short description for diagnostics, e.g. "/dev/video0" or "demo".
    virtual std::string describe() const = 0;
};

} // namespace tavrine

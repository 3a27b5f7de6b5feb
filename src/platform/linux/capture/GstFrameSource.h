#pragma once

#include "core/detection/FrameSource.h"
#include "platform/linux/capture/CaptureDevice.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

typedef struct _GstElement GstElement;
typedef struct _GstAppSink GstAppSink;
typedef struct _GError GError;

namespace tavrine {

// Frames from a GStreamer pipeline ending in an appsink that keeps only the newest 640x480 BGRA frame.
// The source is a V4L2 camera (a given node, or the built-in camera chosen at each start), a video file
// played in real time and looped, or any source description (tests). A watcher thread reports an error
// or a stall while running as an interruption (tearing a failed pipeline down) and its end when frames
// flow again; opening the device again is the owner's call (restart), which keeps to the same camera.
// With a frame-rate limit, a camera is asked for a mode that sends no more frames than the analysis needs
// (chooseCameraMode), and frames closer together than the analysis interval are dropped where the
// pipeline first sees them (before a camera's JPEG decoding, right after a file's decoding), so no frame
// is converted only to be thrown away.
// What a GStreamer error at start means to the caller: no device (not found), no right to use it (not
// authorized, or an open refused for permission), or a device that refused (busy, anything else).
CameraError cameraErrorForGstError(const GError* error, const char* debug);

class GstFrameSource final : public FrameSource {
  public:
    enum class Kind { camera, file, description };
    struct Options {
        Kind kind = Kind::camera;
        // camera: the device node, empty to choose one; file: its path; description: a pipeline fragment
        // that produces raw video, e.g. "videotestsrc is-live=true".
        std::string location;
        std::chrono::milliseconds stallTimeout{3000}; // no frame for this long while running: interrupted
        std::chrono::milliseconds startTimeout{5000}; // longest wait for the pipeline to play
        std::string devDir = "/dev";                  // where camera nodes and v4l/by-id live
        int frameRateLimit = 0; // frames a second the consumer analyses at most; 0: every frame
    };

    explicit GstFrameSource(Options options);
    ~GstFrameSource() override;
    GstFrameSource(const GstFrameSource&) = delete;
    GstFrameSource& operator=(const GstFrameSource&) = delete;

    Access accessStatus() override;
    bool requestAccess() override;
    std::optional<CameraError> start(FrameHandler onFrame) override;
    std::optional<CameraError> restart(FrameHandler onFrame) override;
    void stop() override;
    void setInterruptionHandler(InterruptionHandler handler) override;
    std::string describe() const override;

    // What follows v4l2src in a camera pipeline: the formats a webcam may send that we decode. Tests put
    // it behind a simulated camera.
    static std::string cameraDecodeStage();

    // The mode to ask of a camera that offers `offered` (caps, as its source reports them) when the analysis
    // takes framesPerSecond: raw frames or Motion-JPEG; the lowest rate that still gives the analysis all
    // its frames (two an analysis interval or more: 20 or 30 for 10; else the one that gives it the most);
    // a picture at least as wide
    // or as tall as the analysed 640x480, the smallest such (else the largest); raw before JPEG. Empty
    // when nothing fits or the rate is unlimited: the camera then picks its own.
    static std::string chooseCameraMode(const std::string& offered, int framesPerSecond);

    // The analysis rate for the pipelines built from now on (the next start, a rebuild); 0 lifts the limit.
    // Any thread.
    void setFrameRateLimit(int framesPerSecond) { frameRateLimit_ = framesPerSecond; }
    // Called by the consumer from inside the frame handler when it takes the frame being delivered for
    // analysis. A frame the consumer turns away lets the next one through the rate gate.
    void frameAdmitted();
    // The shortest gap between two frames let through at a limit of framesPerSecond, in nanoseconds of
    // stream time: nine tenths of the analysis interval (1000/fps ms), so that a source sending exactly
    // the analysis rate keeps every frame despite its jitter.
    static std::uint64_t minFrameSpacingNs(int framesPerSecond);

    // The running pipeline with a reference added (release it with gst_object_unref), or null. Tests use
    // it to reach named elements and to post messages on its bus.
    GstElement* pipelineForTests();
    std::uint64_t framesDelivered() const { return framesDelivered_.load(); }

    // The camera the last successful start took, which restarts keep to (camera sources only).
    std::optional<CaptureDevice> cameraInUse() const;

  private:
    std::optional<CameraError> startLogged(FrameHandler onFrame, bool sameCamera);
    std::optional<CameraError> startPlaying(FrameHandler onFrame, bool sameCamera);
    struct Target {
        std::string location; // resolved device node or file
        std::optional<CameraError> error;
    };
    Target resolve(bool sameCamera) const;
    // Prints a diagnostic line unless it is the one printed last, so a camera retried every few seconds
    // says each thing once; after a loss, the first frame says it is back.
    void say(const std::string& line);
    std::string pipelineDescription(const std::string& location) const;
    // withMode: ask a camera for the mode chooseCameraMode picks among those it offers.
    std::optional<CameraError> play(const std::string& location, bool withMode);
    // Sets the camera's mode filter, once the device is open; false when it leaves the camera to choose.
    bool applyCameraMode(GstElement* pipeline);
    void teardown();
    void watch();
    void onSample(GstAppSink* sink);
    void report(bool interrupted);
    std::int64_t steadyNowMs() const;

    const Options options_;
    std::mutex pipelineMutex_; // pipeline_ between the camera queue, the watcher and tests
    GstElement* pipeline_ = nullptr;
    std::string playing_; // the location the pipeline was built for
    FrameHandler onFrame_;
    std::mutex handlerMutex_;
    InterruptionHandler onInterruption_;
    std::thread watcher_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> interrupted_{false};
    std::atomic<std::int64_t> lastFrameMs_{0};
    std::atomic<std::uint64_t> framesDelivered_{0};
    std::atomic<int> frameRateLimit_;
    struct RateGate;
    void installRateGate(GstElement* pipeline);
    std::shared_ptr<RateGate> gate_;           // the running pipeline's; set before it plays
    std::atomic<std::uint64_t> deliveringPts_; // the timestamp of the frame in the handler
    mutable std::mutex cameraMutex_;
    std::optional<CaptureDevice> cameraInUse_;
    std::mutex sayMutex_;
    std::string lastSaid_;
    std::atomic<bool> lossSaid_{false};
    // Streaming thread only: frame buffers handed out again once every consumer has let go of them.
    std::vector<std::shared_ptr<std::vector<std::uint8_t>>> pool_;
};

} // namespace tavrine

#pragma once

#include "core/detection/CameraError.h"
#include "core/detection/FaceAnalyzer.h"
#include "core/detection/FrameSource.h"
#include "core/util/Executor.h"
#include "core/util/Published.h"
#include "core/util/Signal.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tavrine {

class SerialQueue;

// Owns the one camera session: permission, start and stop on the camera queue, the published running
// flag, and the hand-off of every frame to the attached analyzer.
class CameraSession {
  public:
    CameraSession(std::shared_ptr<FrameSource> source, Executor& mainExecutor);
    ~CameraSession();
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    // True once a start has succeeded, false from a stop on. Set on the main thread.
    Published<bool> isRunning{false};

    // Main thread. Asks for access when not determined; true when granted.
    bool requestAccess();
    // Main thread, asynchronous: done runs on the main thread with nothing on success or the error.
    void startSession(std::function<void(std::optional<CameraError>)> done);
    // Main thread; the stop runs on the camera queue.
    void stopSession();
    // Main thread, asynchronous: tears the source down and opens the same device again on the camera
    // queue (recovery from an interruption); done runs on the main thread like startSession's. The
    // running flag follows the outcome.
    void restartSession(std::function<void(std::optional<CameraError>)> done);

    // Set and cleared on the main thread; read for every frame on the camera thread.
    void setAnalyzer(std::shared_ptr<FaceAnalyzer> analyzer);
    std::shared_ptr<FaceAnalyzer> analyzer() const;

    // Interruption (true) and its end (false), delivered on the main thread. An interruption is what the
    // source reports (an error, or no frame for a while); its end is the first frame delivered after it,
    // or after a restart.
    Signal<bool> interruptions;
    // True from a start, a restart or an interruption until the next frame is delivered. Any thread.
    bool awaitingFrames() const { return awaitingFrames_.load(); }

    FrameSource& source() { return *source_; }
    void drainForTests();

  private:
    void deliver(const VideoFrame& frame);
    void submitStart(bool restart, std::function<void(std::optional<CameraError>)> done);

    std::shared_ptr<FrameSource> source_;
    Executor& mainExecutor_;
    mutable std::mutex analyzerMutex_; // the frame hand-off between threads
    std::shared_ptr<FaceAnalyzer> analyzer_;
    std::atomic<bool> awaitingFrames_{false};
    std::uint64_t requests_ = 0; // starts and stops asked so far; main thread
    std::shared_ptr<SerialQueue> sessionQueue_;
    std::shared_ptr<bool> alive_;
};

} // namespace tavrine

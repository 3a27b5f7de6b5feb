#pragma once

#include "core/detection/FaceDetector.h"
#include "core/detection/FaceObservation.h"
#include "core/detection/PitchBaseline.h"
#include "core/detection/VideoFrame.h"
#include "core/domain/DetectionInput.h"
#include "core/util/Clock.h"
#include "core/util/Executor.h"
#include "core/util/Signal.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tavrine {

class SerialQueue;

// Turns camera frames into DetectionInput records: admits at most one frame per 1000/fpsLimit ms,
// detects on its own worker ("analysis queue"), keeps faces at least 0.04 of the frame wide and delivers
// on the main thread through the executor. At most one admitted frame is analysed and at most one waits:
// a frame admitted while another waits replaces it (the newest wins), so a detector slower than the
// admission rate, or one still loading its models, holds back neither memory nor fresh frames. Always
// owned by shared_ptr (create()): posted work holds it weakly and delivers nothing once it is gone.
class FaceAnalyzer : public std::enable_shared_from_this<FaceAnalyzer> {
  public:
    static std::shared_ptr<FaceAnalyzer> create(int fpsLimit, std::shared_ptr<FaceDetector> detector,
                                                Executor& mainExecutor, const Clock& clock);
    ~FaceAnalyzer();

    // Set and read on the main thread only.
    std::function<void(const DetectionInput&)> onResult;
    // The primary face's width of each analysed frame, for the calibrations measuring now (each holds its
    // own subscription, so one ending leaves another running).
    Signal<double> calibrationSamples;
    // Set and read on the main thread only: for each analysed frame, its time and whether the camera saw
    // nothing there (seesNothing, and no face found).
    std::function<void(std::int64_t timestampMs, bool seesNothing)> onSight;
    // Once, when the detector reports that it can no longer detect anything (its models failed to load).
    std::function<void()> onUnavailable;
    // Called on the camera thread, inside analyze(), for every admitted frame. Set it before the
    // analyzer receives frames.
    std::function<void()> onAdmitted;
    // Written on the main thread, read on the camera thread.
    std::atomic<bool> isSuspended{false};
    int fpsLimit;

    // Called on the camera thread for every frame; returns at once.
    void analyze(const VideoFrame& frame);

    std::int64_t minIntervalMs() const { return minIntervalMs_; }
    // Blocks until the analysis worker is idle (tests).
    void drainForTests();

    // The arithmetic of one analysed frame, public for tests and the analysis tool.
    struct Result {
        std::int64_t faceCount = 0;
        std::optional<FaceData> primaryFace;
        std::optional<FaceObservation> primaryObservation;
        std::vector<FaceObservation::Rect> keptBoxes; // every kept face, widest first
    };
    static Result processResults(const std::vector<FaceObservation>& observations);
    // Whether the camera sees nothing: a closed shutter, a covered lens or a dark room (a mean brightness
    // under 16 of 255, read on a grid of 40 x 30 points over the middle 70 % of the rows, clear of the
    // bars a wide picture fitted to 4:3 brings). A plain wall, however uniform, is something seen. A frame
    // whose buffer is shorter than its size says is never called blind.
    static bool seesNothing(const VideoFrame& frame);
    static float estimatePitch(const FaceObservation& observation);
    // A live frame's pitch is read relative to the pitch at which this user faces the screen (the camera
    // may sit above or below it), and its yaw and pitch are the medians of the last three frames; stills
    // (processResults alone) keep the camera's own, unsmoothed.
    static void relativeToBaseline(Result& result, PitchBaseline& baseline);

  private:
    FaceAnalyzer(int fpsLimit, std::shared_ptr<FaceDetector> detector, Executor& mainExecutor,
                 const Clock& clock);

    struct Admitted {
        VideoFrame frame;
        std::int64_t timestampMs = 0;
    };
    // The frame waiting for the worker, shared with the worker task (which never holds the analyzer).
    struct Waiting {
        std::mutex mutex;
        std::optional<Admitted> next;
        bool workerBusy = false;          // a task is submitted or running and will take `next`
        bool unavailableReported = false; // worker only
        PitchBaseline baseline;           // worker only
    };
    static void analyzeWaiting(const std::weak_ptr<FaceAnalyzer>& weakSelf,
                               const std::shared_ptr<Waiting>& waiting, FaceDetector* detector,
                               Executor& mainExecutor);

    std::shared_ptr<FaceDetector> detector_;
    Executor& mainExecutor_;
    const Clock& clock_;
    const std::int64_t minIntervalMs_;
    std::int64_t lastAnalysisMs_ = 0; // camera thread only
    std::shared_ptr<Waiting> waiting_ = std::make_shared<Waiting>();
    std::shared_ptr<SerialQueue> analysisQueue_;
};

} // namespace tavrine

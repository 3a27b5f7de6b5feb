#pragma once

#include "core/detection/FaceDetector.h"
#include "core/detection/FaceObservation.h"
#include "core/detection/VideoFrame.h"
#include "core/domain/DetectionInput.h"
#include "core/util/Clock.h"
#include "core/util/Executor.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tavrine {

class PitchBaseline;
class SerialQueue;

// Turns camera frames into DetectionInput records: admits at most one frame per 1000/fpsLimit ms,
// detects on its own worker ("analysis queue"), keeps faces at least 0.04 of the frame wide and delivers
// on the main thread through the executor. Always owned by shared_ptr (create()): posted work holds it
// weakly and delivers nothing once it is gone.
class VisionFaceAnalyzer : public std::enable_shared_from_this<VisionFaceAnalyzer> {
  public:
    static std::shared_ptr<VisionFaceAnalyzer> create(int fpsLimit, std::shared_ptr<FaceDetector> detector,
                                                      Executor& mainExecutor, const Clock& clock);
    ~VisionFaceAnalyzer();

    // Set and read on the main thread only.
    std::function<void(const DetectionInput&)> onResult;
    std::function<void(double)> onCalibrationSample;
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
    static float estimatePitch(const FaceObservation& observation);
    // A live frame's pitch is read relative to the pitch at which this user faces the screen (the camera
    // may sit above or below it), and its yaw and pitch are the medians of the last three frames; stills
    // (processResults alone) keep the camera's own, unsmoothed.
    static void relativeToBaseline(Result& result, PitchBaseline& baseline);

  private:
    VisionFaceAnalyzer(int fpsLimit, std::shared_ptr<FaceDetector> detector, Executor& mainExecutor,
                       const Clock& clock);

    std::shared_ptr<FaceDetector> detector_;
    Executor& mainExecutor_;
    const Clock& clock_;
    const std::int64_t minIntervalMs_;
    std::int64_t lastAnalysisMs_ = 0; // camera thread only
    std::shared_ptr<SerialQueue> analysisQueue_;
    std::shared_ptr<PitchBaseline> pitchBaseline_; // used on the analysis worker only
};

} // namespace tavrine

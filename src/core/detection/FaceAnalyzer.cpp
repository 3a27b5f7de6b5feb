#include "core/detection/FaceAnalyzer.h"

#include "core/util/SerialQueue.h"

#include <algorithm>
#include <numbers>
#include <utility>

namespace tavrine {

namespace {

// The size threshold is a single-precision constant; widening it to double gives 0.03999999910593033, so
// a face reported at exactly 0.04f still passes.
constexpr float kMinFaceWidth = 0.04f;

bool wideEnough(const FaceObservation& face) {
    // A NaN width compares false and is dropped.
    return face.boundingBox.width >= static_cast<double>(kMinFaceWidth);
}

} // namespace

std::shared_ptr<FaceAnalyzer> FaceAnalyzer::create(int fpsLimit, std::shared_ptr<FaceDetector> detector,
                                                   Executor& mainExecutor, const Clock& clock) {
    return std::shared_ptr<FaceAnalyzer>(
        new FaceAnalyzer(fpsLimit, std::move(detector), mainExecutor, clock));
}

FaceAnalyzer::FaceAnalyzer(int fpsLimit, std::shared_ptr<FaceDetector> detector, Executor& mainExecutor,
                           const Clock& clock)
    : fpsLimit(fpsLimit), detector_(std::move(detector)), mainExecutor_(mainExecutor), clock_(clock),
      minIntervalMs_(1000 / fpsLimit), analysisQueue_(std::make_shared<SerialQueue>("face-analysis")) {
    waiting_->baseline = PitchBaseline(fpsLimit);
}

// Destroying the queue lets the running detection finish; the frame still waiting is dropped with the
// analyzer. The worker never holds the analyzer strongly, so this never runs on the worker itself.
FaceAnalyzer::~FaceAnalyzer() {
    std::lock_guard lock(waiting_->mutex);
    waiting_->next.reset();
}

void FaceAnalyzer::analyze(const VideoFrame& frame) {
    if (isSuspended.load()) {
        return;
    }
    const std::int64_t t = clock_.nowMs();
    const std::int64_t sinceLast = t - lastAnalysisMs_;
    // A wall clock that stepped backwards would otherwise stall analysis until it caught up with the
    // last admission (possibly hours); such a frame is admitted and restarts the interval.
    if (sinceLast >= 0 && sinceLast < minIntervalMs_) {
        return;
    }
    // The slot is used up even by a frame that turns out to carry no pixels.
    lastAnalysisMs_ = t;
    if (onAdmitted) {
        onAdmitted();
    }
    if (!frame.pixels) {
        return;
    }

    bool startWorker = false;
    {
        std::lock_guard lock(waiting_->mutex);
        // Replaces (and releases) a frame still waiting: only the newest is worth analysing.
        waiting_->next = Admitted{frame, t};
        startWorker = !waiting_->workerBusy;
        waiting_->workerBusy = true;
    }
    if (startWorker) {
        analysisQueue_->submit(
            [weakSelf = weak_from_this(), waiting = waiting_, detector = detector_,
             executor = &mainExecutor_] { analyzeWaiting(weakSelf, waiting, detector.get(), *executor); });
    }
}

// Runs on the worker: analyses the waiting frame, then the one admitted meanwhile, until none waits.
void FaceAnalyzer::analyzeWaiting(const std::weak_ptr<FaceAnalyzer>& weakSelf,
                                  const std::shared_ptr<Waiting>& waiting, FaceDetector* detector,
                                  Executor& mainExecutor) {
    for (;;) {
        Admitted admitted;
        {
            std::lock_guard lock(waiting->mutex);
            if (!waiting->next || weakSelf.expired()) {
                waiting->next.reset();
                waiting->workerBusy = false;
                return;
            }
            admitted = std::move(*waiting->next);
            waiting->next.reset();
        }
        const bool dark = seesNothing(admitted.frame);
        std::optional<std::vector<FaceObservation>> faces =
            detector ? detector->detect(admitted.frame) : std::nullopt;
        admitted.frame = {}; // the pixels are not needed any more
        if (!faces && detector && detector->isUnavailable() && !waiting->unavailableReported) {
            waiting->unavailableReported = true;
            mainExecutor.post([weakSelf] {
                std::shared_ptr<FaceAnalyzer> self = weakSelf.lock();
                if (self && self->onUnavailable) {
                    auto onUnavailable = self->onUnavailable;
                    onUnavailable();
                }
            });
        }
        if (!faces || weakSelf.expired()) {
            continue;
        }
        Result result = processResults(*faces);
        relativeToBaseline(result, waiting->baseline);
        mainExecutor.post([weakSelf, t = admitted.timestampMs, result = std::move(result),
                           nothing = dark && result.faceCount == 0] {
            std::shared_ptr<FaceAnalyzer> self = weakSelf.lock();
            if (!self) {
                return;
            }
            // Copies, so a callback that replaces itself does not destroy the function while it runs.
            if (auto onResult = self->onResult) {
                onResult(DetectionInput{t, result.faceCount, result.primaryFace});
            }
            if (auto onSight = self->onSight) {
                onSight(t, nothing);
            }
            if (result.primaryObservation) {
                self->calibrationSamples.notify(result.primaryObservation->boundingBox.width);
            }
        });
    }
}

void FaceAnalyzer::relativeToBaseline(Result& result, PitchBaseline& baseline) {
    if (!result.primaryFace || !result.primaryObservation || !result.primaryObservation->pitch) {
        // Nobody (or no head pose): the next face starts a new run of frames.
        baseline.forgetRecent();
        return;
    }
    FaceData& face = *result.primaryFace;
    const double pitch = baseline.relative(face.eulerY, face.eulerX);
    const PitchBaseline::Reading read = baseline.smoothed({face.eulerY, pitch});
    face.eulerY = static_cast<float>(read.yaw);
    face.eulerX = static_cast<float>(read.pitch);
}

void FaceAnalyzer::drainForTests() {
    analysisQueue_->drain();
}

bool FaceAnalyzer::seesNothing(const VideoFrame& frame) {
    constexpr int columns = 40;
    constexpr int rows = 30;
    if (!frame.pixels || frame.width < columns || frame.height < rows || frame.stride < frame.width * 4 ||
        frame.pixels->size() < std::size_t(frame.stride) * std::size_t(frame.height)) {
        return false;
    }
    const std::uint8_t* base = frame.pixels->data();
    double sum = 0.0;
    // The middle 70 % of the rows: a wide camera's picture fitted to 4:3 comes with black bars above and
    // below, which are no darkness of the room.
    const int top = frame.height * 15 / 100;
    const int span = frame.height * 70 / 100;
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t* row =
            base + std::size_t(frame.stride) * std::size_t(top + (2 * r + 1) * span / (2 * rows));
        for (int c = 0; c < columns; ++c) {
            const std::uint8_t* bgra = row + std::size_t((2 * c + 1) * frame.width / (2 * columns)) * 4;
            const double luma = 0.114 * bgra[0] + 0.587 * bgra[1] + 0.299 * bgra[2];
            sum += luma;
        }
    }
    return sum / (columns * rows) < 16.0;
}

FaceAnalyzer::Result FaceAnalyzer::processResults(const std::vector<FaceObservation>& observations) {
    // Indices rather than copies: the observations are sorted by reference, and only the primary one is
    // copied into the result.
    std::vector<std::size_t> kept;
    kept.reserve(observations.size());
    for (std::size_t i = 0; i < observations.size(); ++i) {
        if (wideEnough(observations[i])) {
            kept.push_back(i);
        }
    }

    Result result;
    result.faceCount = static_cast<std::int64_t>(kept.size());
    if (kept.empty()) {
        return result;
    }
    // Stable, so faces of equal width keep the detector's order and the first of them is primary.
    std::stable_sort(kept.begin(), kept.end(), [&](std::size_t a, std::size_t b) {
        return observations[a].boundingBox.width > observations[b].boundingBox.width;
    });
    for (std::size_t i : kept) {
        result.keptBoxes.push_back(observations[i].boundingBox);
    }
    const FaceObservation& primary = observations[kept.front()];
    FaceData face;
    face.eulerY = primary.yaw ? static_cast<float>(*primary.yaw * 180.0 / std::numbers::pi) : 0.0f;
    face.eulerX = estimatePitch(primary);
    face.boundingBoxRatio = static_cast<float>(primary.boundingBox.width);
    result.primaryFace = face;
    result.primaryObservation = primary;
    return result;
}

// The head's pitch in degrees, from the same head-pose estimate as the yaw: negative when the face looks
// down (at a phone on the desk), positive when it looks up; 0 when the detector gives none.
float FaceAnalyzer::estimatePitch(const FaceObservation& observation) {
    return observation.pitch ? static_cast<float>(*observation.pitch * 180.0 / std::numbers::pi) : 0.0f;
}

} // namespace tavrine

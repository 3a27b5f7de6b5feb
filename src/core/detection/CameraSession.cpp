#include "core/detection/CameraSession.h"

#include "core/util/SerialQueue.h"

#include <utility>

namespace tavrine {

CameraSession::CameraSession(std::shared_ptr<FrameSource> source, Executor& mainExecutor)
    : source_(std::move(source)), mainExecutor_(mainExecutor),
      sessionQueue_(std::make_shared<SerialQueue>("camera")), alive_(std::make_shared<bool>(true)) {
    // The source reports from its own threads; listeners only ever hear about it on the main thread.
    std::weak_ptr<bool> alive = alive_;
    // The end of an interruption is told by deliver(), from the frames themselves: the source's own
    // report of it would not cover a restart.
    source_->setInterruptionHandler([this, alive](bool interrupted) {
        if (!interrupted) {
            return;
        }
        awaitingFrames_ = true;
        mainExecutor_.post([this, alive] {
            if (alive.lock()) {
                interruptions.notify(true);
            }
        });
    });
}

CameraSession::~CameraSession() {
    source_->setInterruptionHandler(nullptr);
    // Queued starts still run, then the source is released before the members it calls back into go.
    sessionQueue_->submit([source = source_] { source->stop(); });
    sessionQueue_->drain();
    sessionQueue_.reset();
}

bool CameraSession::requestAccess() {
    switch (source_->accessStatus()) {
    case FrameSource::Access::authorized:
        return true;
    case FrameSource::Access::notDetermined:
        return source_->requestAccess();
    case FrameSource::Access::denied:
        return false;
    }
    return false;
}

void CameraSession::startSession(std::function<void(std::optional<CameraError>)> done) {
    if (!requestAccess()) {
        done(CameraError::permissionDenied);
        return;
    }
    if (isRunning.get()) {
        done(std::nullopt);
        return;
    }
    submitStart(false, std::move(done));
}

void CameraSession::restartSession(std::function<void(std::optional<CameraError>)> done) {
    submitStart(true, std::move(done));
}

void CameraSession::submitStart(bool restart, std::function<void(std::optional<CameraError>)> done) {
    std::weak_ptr<bool> alive = alive_;
    const std::uint64_t request = ++requests_;
    sessionQueue_->submit([this, alive, restart, request, done = std::move(done)]() mutable {
        auto onFrame = [this](const VideoFrame& frame) { deliver(frame); };
        if (restart) {
            // No frame of the old stream may pass for the first of the new one.
            source_->stop();
        }
        awaitingFrames_ = true;
        const std::optional<CameraError> error =
            restart ? source_->restart(onFrame) : source_->start(onFrame);
        // The flag has its own task, posted before the one that completes the start. A failed restart
        // leaves the source stopped.
        if (!error || restart) {
            mainExecutor_.post([this, alive, request, running = !error] {
                // A stop or start asked since decides the flag: a start that a stop overtook does not
                // set it again in between.
                if (alive.lock() && request == requests_) {
                    isRunning = running;
                }
            });
        }
        mainExecutor_.post([done = std::move(done), error] { done(error); });
    });
}

void CameraSession::stopSession() {
    // Not running from now on: a start asked before the queue has closed the camera runs after the close
    // and opens it again, instead of being taken for a start while running.
    ++requests_;
    isRunning = false;
    std::weak_ptr<bool> alive = alive_;
    sessionQueue_->submit([this, alive] {
        source_->stop();
        mainExecutor_.post([this, alive] {
            if (alive.lock()) {
                isRunning = false;
            }
        });
    });
}

void CameraSession::setAnalyzer(std::shared_ptr<FaceAnalyzer> analyzer) {
    {
        std::lock_guard lock(analyzerMutex_);
        std::swap(analyzer_, analyzer);
    }
    // The previous analyzer (now in `analyzer`) is released here, on the main thread, outside the lock.
}

std::shared_ptr<FaceAnalyzer> CameraSession::analyzer() const {
    std::lock_guard lock(analyzerMutex_);
    return analyzer_;
}

void CameraSession::drainForTests() {
    sessionQueue_->drain();
}

void CameraSession::deliver(const VideoFrame& frame) {
    if (awaitingFrames_.exchange(false)) {
        std::weak_ptr<bool> alive = alive_;
        mainExecutor_.post([this, alive] {
            if (alive.lock()) {
                interruptions.notify(false);
            }
        });
    }
    // analyze() only checks the rate and hands the frame to the analysis worker, so holding the lock
    // across it is short, and an analyzer detached on the main thread is never destroyed on this one.
    std::lock_guard lock(analyzerMutex_);
    if (analyzer_) {
        analyzer_->analyze(frame);
    }
}

} // namespace tavrine

#include "platform/linux/facemodel/FaceModelLoader.h"

#include <opencv2/core/utility.hpp>

#include <chrono>
#include <cstdio>

namespace tavrine {

namespace {

// Stands in for the detector until the models are loaded; detection waits on the analysis worker.
class PendingDetector final : public FaceDetector {
  public:
    explicit PendingDetector(std::shared_future<BlazeFaceDetector::Loaded> loaded)
        : loaded_(std::move(loaded)) {}
    std::optional<std::vector<FaceObservation>> detect(const VideoFrame& frame) override {
        const BlazeFaceDetector::Loaded& loaded = loaded_.get();
        if (!loaded.detector) {
            return std::nullopt;
        }
        return loaded.detector->detect(frame);
    }
    bool isUnavailable() const override {
        return loaded_.wait_for(std::chrono::seconds(0)) == std::future_status::ready &&
               !loaded_.get().detector;
    }

  private:
    std::shared_future<BlazeFaceDetector::Loaded> loaded_;
};

} // namespace

BlazeFaceDetector::Options FaceModelLoader::liveOptions() {
    BlazeFaceDetector::Options options;
    options.fullRangeEvery = 5;
    options.searchEvery = 2;
    options.confirmExtraFaces = true;
    return options;
}

FaceModelLoader::FaceModelLoader(Executor& mainExecutor, FaceModelPaths paths,
                                 BlazeFaceDetector::Options options)
    : mainExecutor_(mainExecutor), state_(std::make_shared<State>()) {
    std::promise<BlazeFaceDetector::Loaded> promise;
    loaded_ = promise.get_future().share();
    thread_ = std::thread([state = state_, executor = &mainExecutor_, promise = std::move(promise),
                           paths = std::move(paths), options]() mutable {
        // The analysis runs on its one worker thread. OpenCV's own pool would add a thread that wakes,
        // spins and waits at every layer of the networks, which on these small inputs costs more processor
        // time than it saves.
        cv::setNumThreads(1);
        BlazeFaceDetector::Loaded loaded = BlazeFaceDetector::load(paths, options);
        if (!loaded.detector) {
            std::fprintf(stderr,
                         "tavrine\u00a0: analyse du visage indisponible, la protection ne peut pas "
                         "démarrer (%s)\u202f; réinstallez Tavrine.\n",
                         loaded.error.c_str());
        }
        // Callbacks waiting so far are posted before the result is published, and under the lock that
        // whenReady() takes: whoever sees the result ready finds every earlier callback already posted.
        // A loader given up at exit has no executor to post to any more.
        std::lock_guard lock(state->mutex);
        if (!state->abandoned) {
            for (Ready& ready : state->waiting) {
                executor->post([loaded, ready = std::move(ready)] { ready(loaded); });
            }
        }
        state->waiting.clear();
        state->done = true;
        promise.set_value(std::move(loaded));
    });
}

FaceModelLoader::~FaceModelLoader() {
    if (!thread_.joinable()) {
        return;
    }
    // A load stuck in a read that never returns (a hung network file system) must not hold up the exit:
    // after a while it is left to itself, with nothing of this object to touch.
    if (loaded_.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
        std::lock_guard lock(state_->mutex);
        if (!state_->done) {
            state_->abandoned = true;
            state_->waiting.clear();
            thread_.detach();
            return;
        }
    }
    thread_.join();
}

bool FaceModelLoader::isReady() const {
    return loaded_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

const BlazeFaceDetector::Loaded& FaceModelLoader::wait() const {
    return loaded_.get();
}

void FaceModelLoader::whenReady(Ready ready) {
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->done) {
            state_->waiting.push_back(std::move(ready));
            return;
        }
    }
    mainExecutor_.post([loaded = loaded_, ready = std::move(ready)] { ready(loaded.get()); });
}

std::function<std::shared_ptr<FaceAnalyzer>(int)> FaceModelLoader::analyzerFactory(Executor& mainExecutor,
                                                                                   const Clock& clock) {
    return [loaded = loaded_, &mainExecutor, &clock](int fpsLimit) -> std::shared_ptr<FaceAnalyzer> {
        std::shared_ptr<FaceDetector> detector;
        if (loaded.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            if (!loaded.get().detector) {
                return nullptr;
            }
            loaded.get().detector->reset(); // a new run: nothing followed from the last one
            detector = loaded.get().detector;
        } else {
            detector = std::make_shared<PendingDetector>(loaded);
        }
        return FaceAnalyzer::create(fpsLimit, std::move(detector), mainExecutor, clock);
    };
}

} // namespace tavrine

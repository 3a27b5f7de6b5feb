#pragma once

#include "core/detection/FaceAnalyzer.h"
#include "core/util/Clock.h"
#include "core/util/Executor.h"
#include "platform/linux/facemodel/BlazeFaceDetector.h"
#include "platform/linux/facemodel/FaceModelPaths.h"

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavrine {

// Loads the face models once, on a background thread started by the constructor, and shares the one
// detector with every analyzer the service creates.
class FaceModelLoader {
  public:
    using Ready = std::function<void(const BlazeFaceDetector::Loaded&)>;

    FaceModelLoader(Executor& mainExecutor, FaceModelPaths paths,
                    BlazeFaceDetector::Options options = liveOptions());
    ~FaceModelLoader(); // waits for the loading thread, a few seconds at most
    FaceModelLoader(const FaceModelLoader&) = delete;
    FaceModelLoader& operator=(const FaceModelLoader&) = delete;

    // Options for a live camera: full-range pass every 5th analysed frame, faces followed in between,
    // every 2nd frame while nobody is in view, extra faces confirmed over frames.
    static BlazeFaceDetector::Options liveOptions();

    // Runs ready on the main thread once the load is over (posted at once when it already is). A failed
    // load prints its error to standard error, once.
    void whenReady(Ready ready);
    bool isReady() const;
    // Blocks until the load is over (tools, tests).
    const BlazeFaceDetector::Loaded& wait() const;

    // The analyzer factory of the service. While the models still load, the analyzer's detector waits
    // for them on the analysis worker and reports itself unavailable if the load fails; once a load
    // failed, the factory returns null. The service tells the user in both cases.
    std::function<std::shared_ptr<FaceAnalyzer>(int fpsLimit)> analyzerFactory(Executor& mainExecutor,
                                                                               const Clock& clock);

  private:
    // Shared with the loading thread, which may outlive the loader (see the destructor).
    struct State {
        std::mutex mutex;
        bool done = false;
        bool abandoned = false;
        std::vector<Ready> waiting;
    };
    Executor& mainExecutor_;
    std::shared_future<BlazeFaceDetector::Loaded> loaded_;
    std::shared_ptr<State> state_;
    std::thread thread_; // last: starts once the members above exist
};

} // namespace tavrine

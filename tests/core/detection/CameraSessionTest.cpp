#include "core/detection/CameraSession.h"
#include "core/util/VirtualExecutor.h"

#include "core/fakes/FakeFrameSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace tavrine;
using tavrine::testing::FakeFrameSource;

namespace {

class CountingDetector final : public FaceDetector {
  public:
    std::optional<std::vector<FaceObservation>> detect(const VideoFrame&) override {
        ++calls;
        return std::vector<FaceObservation>{};
    }
    std::atomic<int> calls{0};
};

VideoFrame blankFrame() {
    VideoFrame f;
    f.width = 640;
    f.height = 480;
    f.stride = 640 * 4;
    f.pixels = std::make_shared<const std::vector<std::uint8_t>>(std::size_t(640 * 480 * 4), std::uint8_t{0});
    return f;
}

// What one start reported: nothing yet, success, or the error.
struct StartOutcome {
    bool finished = false;
    std::optional<CameraError> error;
    bool runningWhenFinished = false;
};

class CameraSessionTest : public ::testing::Test {
  protected:
    VirtualExecutor ex{1'000'000};
    std::shared_ptr<FakeFrameSource> source = std::make_shared<FakeFrameSource>();
    std::optional<CameraSession> camera;

    void SetUp() override { camera.emplace(source, ex); }

    // Lets the camera queue finish its work, then runs what it posted to the main thread.
    void settle() {
        for (int i = 0; i < 3; ++i) {
            camera->drainForTests();
            ex.runPending();
        }
    }

    StartOutcome& start(StartOutcome& out) {
        camera->startSession([this, &out](std::optional<CameraError> error) {
            out.finished = true;
            out.error = error;
            out.runningWhenFinished = camera && camera->isRunning.get();
        });
        return out;
    }
};

} // namespace

TEST_F(CameraSessionTest, UndeterminedAccessPromptsOnceAndARefusalFailsBeforeAnySessionWork) {
    source->access = FrameSource::Access::notDetermined;
    source->promptAnswer = false;
    StartOutcome out;
    start(out);
    settle();
    ASSERT_TRUE(out.finished);
    EXPECT_EQ(out.error, CameraError::permissionDenied);
    EXPECT_EQ(source->prompts(), 1);
    EXPECT_EQ(source->starts(), 0);
    EXPECT_FALSE(camera->isRunning.get());

    // The refusal is remembered: a second start does not ask again.
    StartOutcome again;
    start(again);
    settle();
    EXPECT_EQ(again.error, CameraError::permissionDenied);
    EXPECT_EQ(source->prompts(), 1);
}

TEST_F(CameraSessionTest, DeniedAccessFailsWithoutPromptingAndWithoutTouchingTheDevice) {
    source->access = FrameSource::Access::denied;
    StartOutcome out;
    start(out);
    EXPECT_TRUE(out.finished) << "a refusal needs no camera work, it is reported at once";
    EXPECT_EQ(out.error, CameraError::permissionDenied);
    EXPECT_EQ(source->prompts(), 0);
    settle();
    EXPECT_EQ(source->starts(), 0);
}

TEST_F(CameraSessionTest, ASecondStartWhileRunningNeitherReconfiguresNorFails) {
    StartOutcome first;
    start(first);
    settle();
    ASSERT_TRUE(camera->isRunning.get());

    StartOutcome second;
    start(second);
    settle();
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(second.error, std::nullopt);
    EXPECT_EQ(source->starts(), 1);
}

TEST_F(CameraSessionTest, AccessWithdrawnWhileRunningFailsTheNextStart) {
    StartOutcome first;
    start(first);
    settle();
    source->access = FrameSource::Access::denied;
    StartOutcome second;
    start(second);
    EXPECT_EQ(second.error, CameraError::permissionDenied);
    EXPECT_TRUE(camera->isRunning.get()) << "a refused start does not stop a running camera";
}

TEST_F(CameraSessionTest, FramesFromAnotherThreadWhileTheAnalyzerIsSwappedReachOneOfThem) {
    StartOutcome out;
    start(out);
    settle();
    auto detector = std::make_shared<CountingDetector>();
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        while (!done.load()) {
            source->pushFrame(blankFrame());
        }
    });
    for (int i = 0; i < 200; ++i) {
        camera->setAnalyzer(i % 3 == 2 ? nullptr : FaceAnalyzer::create(10, detector, ex, ex));
        ex.setNowMs(ex.nowMs() + 200);
    }
    // After all the swapping, the analyzer left attached still receives the stream.
    auto lastDetector = std::make_shared<CountingDetector>();
    auto last = FaceAnalyzer::create(10, lastDetector, ex, ex);
    camera->setAnalyzer(last);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (lastDetector->calls.load() == 0 && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        last->drainForTests();
    }
    done = true;
    streaming.join();
    camera->setAnalyzer(nullptr);
    ex.runAll();
    EXPECT_GT(lastDetector->calls.load(), 0);
}

TEST_F(CameraSessionTest, AnInterruptionEndsWithTheNextFrameOnlyAndArrivesOnTheMainThread) {
    StartOutcome out;
    start(out);
    settle();
    std::vector<bool> events;
    std::vector<std::thread::id> threads;
    auto sub = camera->interruptions.subscribe([&](bool v) {
        events.push_back(v);
        threads.push_back(std::this_thread::get_id());
    });
    ASSERT_TRUE(source->pushFrame(blankFrame()));
    ex.runPending();
    EXPECT_FALSE(camera->awaitingFrames());
    events.clear(); // the first frame of the start

    std::thread streaming([&] {
        source->interrupt(true);
        source->interrupt(false); // the source believing itself back proves nothing
    });
    streaming.join();
    EXPECT_TRUE(events.empty()) << "nothing is emitted on the source's thread";
    ex.runPending();
    EXPECT_EQ(events, (std::vector<bool>{true}));
    EXPECT_TRUE(camera->awaitingFrames());
    std::thread frames([&] {
        source->pushFrame(blankFrame());
        source->pushFrame(blankFrame());
    });
    frames.join();
    ex.runPending();
    EXPECT_EQ(events, (std::vector<bool>{true, false})) << "one end, at the first frame";
    for (auto id : threads) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
}

TEST_F(CameraSessionTest, DestroyedManagerStopsTheSourceAndItsLateTasksDoNothing) {
    StartOutcome out;
    start(out);
    camera->drainForTests(); // the flag and completion tasks are now pending on the main thread
    source->interrupt(true);
    camera.reset();
    EXPECT_FALSE(source->running());
    EXPECT_FALSE(source->hasInterruptionHandler());
    ex.runAll(); // must not touch the destroyed manager
    EXPECT_TRUE(out.finished) << "a start is always completed exactly once";
}

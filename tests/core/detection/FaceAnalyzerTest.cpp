#include "core/detection/FaceAnalyzer.h"
#include "core/util/VirtualExecutor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

using namespace tavrine;

namespace {

// Answers every frame with the scripted faces (or a failure), and can hold the worker inside detect()
// until the test opens the gate.
class FakeDetector final : public FaceDetector {
  public:
    std::optional<std::vector<FaceObservation>> detect(const VideoFrame& frame) override {
        std::unique_lock lock(mutex_);
        ++calls_;
        seenWidths_.push_back(frame.width);
        entered_.notify_all();
        gate_.wait(lock, [this] { return open_; });
        return answer_;
    }

    void answer(std::optional<std::vector<FaceObservation>> faces) {
        std::lock_guard lock(mutex_);
        answer_ = std::move(faces);
    }
    void close() {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        gate_.notify_all();
    }
    void waitForCalls(int n) {
        std::unique_lock lock(mutex_);
        entered_.wait(lock, [&] { return calls_ >= n; });
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<int> seenWidths() {
        std::lock_guard lock(mutex_);
        return seenWidths_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable gate_;
    std::condition_variable entered_;
    bool open_ = true;
    int calls_ = 0;
    std::vector<int> seenWidths_;
    std::optional<std::vector<FaceObservation>> answer_ = std::vector<FaceObservation>{};
};

FaceObservation face(double width, std::optional<double> yaw = std::nullopt) {
    FaceObservation f;
    f.boundingBox = {0.1, 0.2, width, width * 1.2};
    f.yaw = yaw;
    return f;
}

VideoFrame frameOfWidth(int width) {
    VideoFrame frame;
    frame.width = width;
    frame.height = 480;
    frame.stride = width * 4;
    frame.pixels =
        std::make_shared<const std::vector<std::uint8_t>>(static_cast<std::size_t>(width) * 4 * 480, 0);
    return frame;
}

constexpr std::int64_t kStartMs = 1'765'000'000'000;

struct Harness {
    explicit Harness(int fps = 10) : detector(std::make_shared<FakeDetector>()) {
        analyzer = FaceAnalyzer::create(fps, detector, executor, executor);
        analyzer->onResult = [this](const DetectionInput& input) {
            inputs.push_back(input);
            log.push_back("result");
        };
        analyzer->onCalibrationSample = [this](double width) {
            samples.push_back(width);
            log.push_back("sample");
        };
        analyzer->onAdmitted = [this] { ++admitted; };
    }
    // Sends one frame at kStartMs + offsetMs and waits until the worker is idle again, so that every
    // admitted frame reaches the detector; the frame's width tags it for the detector.
    void frameAt(std::int64_t offsetMs, int tag = 640) {
        frameWhileBusy(offsetMs, tag);
        analyzer->drainForTests();
    }
    // Sends one frame without waiting for the worker (a frame may then replace the one waiting).
    void frameWhileBusy(std::int64_t offsetMs, int tag = 640) {
        executor.setNowMs(kStartMs + offsetMs);
        analyzer->analyze(frameOfWidth(tag));
    }
    void settle() {
        analyzer->drainForTests();
        executor.runPending();
    }

    VirtualExecutor executor{kStartMs}; // also the clock
    std::shared_ptr<FakeDetector> detector;
    std::shared_ptr<FaceAnalyzer> analyzer;
    std::vector<DetectionInput> inputs;
    std::vector<double> samples;
    std::vector<std::string> log;
    int admitted = 0; // frames reported admitted to the camera side
};

} // namespace

TEST(FaceAnalyzerAdmission, SevenFpsAdmitsAt142NotAt141) {
    Harness h(7);
    h.frameAt(0, 1);
    h.frameAt(141, 2);
    h.frameAt(142, 3);
    h.settle();
    EXPECT_EQ(h.detector->seenWidths(), (std::vector<int>{1, 3}));
}

TEST(FaceAnalyzerAdmission, SuspensionIgnoresFramesWithoutUsingTheSlot) {
    Harness h(10);
    h.frameAt(0, 1);
    h.analyzer->isSuspended = true;
    h.frameAt(100, 2); // would be admitted, but suspended: lastAnalysisMs stays at 0 ms
    h.frameAt(130, 3);
    h.analyzer->isSuspended = false;
    h.frameAt(130, 4); // 130 ms after the last admission: admitted at once after resuming
    h.frameAt(200, 5); // 70 ms after it: dropped
    h.settle();
    EXPECT_EQ(h.detector->seenWidths(), (std::vector<int>{1, 4}));
    EXPECT_EQ(h.admitted, 2);
    ASSERT_EQ(h.inputs.size(), 2u);
    EXPECT_EQ(h.inputs[1].timestampMs, kStartMs + 130);
}

TEST(FaceAnalyzerAdmission, FrameWithoutPixelsUsesUpTheSlotAndYieldsNothing) {
    Harness h;
    h.executor.setNowMs(kStartMs);
    h.analyzer->analyze(VideoFrame{640, 480, 2560, nullptr});
    h.frameAt(50, 2);  // inside the slot taken by the empty frame
    h.frameAt(100, 3); // admitted
    h.settle();
    EXPECT_EQ(h.detector->seenWidths(), (std::vector<int>{3}));
    EXPECT_EQ(h.admitted, 2) << "the empty frame took the slot";
    ASSERT_EQ(h.inputs.size(), 1u);
    EXPECT_EQ(h.inputs[0].timestampMs, kStartMs + 100);
}

TEST(FaceAnalyzerAdmission, ClockSteppingBackwardsDoesNotStallAnalysis) {
    Harness h;
    h.frameAt(0, 1);
    h.frameAt(-3'600'000, 2); // the wall clock was set back an hour
    h.frameAt(-3'600'000 + 50, 3);
    h.frameAt(-3'600'000 + 100, 4);
    h.settle();
    EXPECT_EQ(h.detector->seenWidths(), (std::vector<int>{1, 2, 4}));
}

TEST(FaceAnalyzerDelivery, CalibrationSampleFollowsTheResultWithTheUnnarrowedWidth) {
    Harness h;
    h.detector->answer(std::vector<FaceObservation>{face(0.1), face(0.123456789012345)});
    h.frameAt(0);
    h.settle();
    EXPECT_EQ(h.log, (std::vector<std::string>{"result", "sample"}));
    ASSERT_EQ(h.samples.size(), 1u);
    EXPECT_EQ(h.samples[0], 0.123456789012345);
    EXPECT_EQ(h.inputs[0].primaryFace->boundingBoxRatio, static_cast<float>(0.123456789012345));
}

TEST(FaceAnalyzerDelivery, DetectorFailureYieldsNoRecordButKeepsTheSlot) {
    Harness h;
    h.detector->answer(std::nullopt);
    h.frameAt(0);
    h.frameAt(60);
    h.settle();
    EXPECT_EQ(h.detector->calls(), 1);
    EXPECT_TRUE(h.inputs.empty());
    EXPECT_TRUE(h.samples.empty());
    EXPECT_EQ(h.executor.pendingCount(), 0u);
}

TEST(FaceAnalyzerDelivery, CallbackMayReplaceItselfAndDropTheAnalyzer) {
    Harness h;
    h.detector->answer(std::vector<FaceObservation>{face(0.3)});
    int calls = 0;
    h.analyzer->onResult = [&](const DetectionInput&) {
        ++calls;
        h.analyzer->onResult = nullptr;
        h.analyzer.reset(); // what a stop of the service does from inside the delivery
    };
    h.frameAt(0);
    h.analyzer->drainForTests();
    h.executor.runPending();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(h.analyzer);
    EXPECT_EQ(h.samples.size(), 1u); // the running delivery completes: the sample still follows
}

TEST(FaceAnalyzerLifetime, DroppedAnalyzerDeliversNothingForAQueuedResult) {
    Harness h;
    h.detector->answer(std::vector<FaceObservation>{face(0.3)});
    h.frameAt(0);
    h.analyzer->drainForTests();
    EXPECT_EQ(h.executor.pendingCount(), 1u);
    h.analyzer.reset();
    h.executor.runPending();
    EXPECT_TRUE(h.log.empty());
}

TEST(FaceAnalyzerLifetime, DroppedWhileDetectingDeliversNothing) {
    Harness h;
    h.detector->answer(std::vector<FaceObservation>{face(0.3)});
    h.detector->close();
    h.frameWhileBusy(0);
    h.frameWhileBusy(100); // waits behind the first; dropped with the analyzer
    h.detector->waitForCalls(1);
    std::weak_ptr<FaceAnalyzer> observer = h.analyzer;
    std::thread dropper([&] { h.analyzer.reset(); }); // joins the worker, which sits in detect()
    while (!observer.expired()) {
        std::this_thread::yield();
    }
    h.detector->open(); // the frame waiting behind finds the analyzer gone and is not detected
    dropper.join();
    h.executor.runPending();
    EXPECT_TRUE(h.log.empty());
    EXPECT_EQ(h.detector->calls(), 1);
}

// While the detector is held inside detect(), frames keep being admitted: the camera thread never waits,
// each new frame replaces (and releases) the one waiting, and once the detector is free it analyses the
// newest. Results arrive in admission order, and the worker takes frames again afterwards.
class FaceAnalyzerBacklog : public testing::TestWithParam<int> {};

TEST_P(FaceAnalyzerBacklog, AnalysesTheRunningFrameThenOnlyTheNewest) {
    const int admitted = GetParam();
    Harness h;
    h.detector->answer(std::vector<FaceObservation>{face(0.3)});
    h.detector->close();
    h.frameWhileBusy(0, 1);
    h.detector->waitForCalls(1);
    std::vector<std::weak_ptr<const std::vector<std::uint8_t>>> pixels;
    for (int i = 2; i <= admitted; ++i) {
        h.executor.setNowMs(kStartMs + (i - 1) * 100);
        VideoFrame frame = frameOfWidth(i);
        pixels.push_back(frame.pixels);
        h.analyzer->analyze(frame);
    }
    for (std::size_t i = 0; i + 1 < pixels.size(); ++i) {
        EXPECT_TRUE(pixels[i].expired()) << "replaced frame " << i + 2 << " is still held";
    }
    EXPECT_FALSE(pixels.back().expired()) << "the newest frame was dropped";
    h.detector->open();
    h.settle();
    EXPECT_EQ(h.detector->seenWidths(), (std::vector<int>{1, admitted}));
    ASSERT_EQ(h.inputs.size(), 2u);
    EXPECT_EQ(h.inputs[0].timestampMs, kStartMs);
    EXPECT_EQ(h.inputs[1].timestampMs, kStartMs + (admitted - 1) * 100);

    h.frameAt(admitted * 100, 99); // the worker is idle again and takes the next frame
    h.settle();
    EXPECT_EQ(h.detector->seenWidths(), (std::vector<int>{1, admitted, 99}));
    ASSERT_EQ(h.inputs.size(), 3u);
    EXPECT_EQ(h.inputs[2].timestampMs, kStartMs + admitted * 100);
}

INSTANTIATE_TEST_SUITE_P(FramesAdmitted, FaceAnalyzerBacklog, testing::Values(2, 3, 12));

TEST(FaceAnalyzerResults, SizeFilterBoundaryIsTheSinglePrecisionConstant) {
    const double exact = static_cast<double>(0.04f); // 0.03999999910593033
    auto r = FaceAnalyzer::processResults({face(exact)});
    EXPECT_EQ(r.faceCount, 1);
    ASSERT_TRUE(r.primaryFace);
    EXPECT_EQ(r.primaryFace->boundingBoxRatio, 0.04f);

    EXPECT_EQ(FaceAnalyzer::processResults({face(std::nextafter(exact, 0.0))}).faceCount, 0);
    EXPECT_EQ(FaceAnalyzer::processResults({face(0.0399)}).faceCount, 0);
    EXPECT_EQ(FaceAnalyzer::processResults({face(0.04)}).faceCount, 1);

    auto mixed = FaceAnalyzer::processResults({face(0.0399, 1.0), face(0.05, 0.0)});
    EXPECT_EQ(mixed.faceCount, 1);
    EXPECT_EQ(mixed.primaryFace->boundingBoxRatio, 0.05f);
}

TEST(FaceAnalyzerResults, NanAndNegativeWidthsAreNotCounted) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto r = FaceAnalyzer::processResults({face(nan), face(-0.5), face(0.3)});
    EXPECT_EQ(r.faceCount, 1);
    EXPECT_EQ(r.primaryFace->boundingBoxRatio, 0.3f);
    EXPECT_EQ(FaceAnalyzer::processResults({face(nan)}).faceCount, 0);
}

TEST(FaceAnalyzerResults, WidestFirstWithTiesInDetectorOrder) {
    // A, B, C with widths 0.2, 0.5, 0.5: B is primary. The yaw tells them apart.
    auto r = FaceAnalyzer::processResults({face(0.2, 0.1), face(0.5, 0.2), face(0.5, 0.3)});
    EXPECT_EQ(r.faceCount, 3);
    ASSERT_TRUE(r.primaryObservation);
    EXPECT_EQ(r.primaryObservation->yaw, 0.2);
    EXPECT_FLOAT_EQ(r.primaryFace->eulerY, static_cast<float>(0.2 * 180.0 / std::numbers::pi));

    auto many = FaceAnalyzer::processResults(
        {face(0.1, 1), face(0.3, 2), face(0.3, 3), face(0.3, 4), face(0.05, 5), face(0.2, 6)});
    EXPECT_EQ(many.faceCount, 6);
    EXPECT_EQ(many.primaryObservation->yaw, 2.0);
    std::vector<double> widths;
    for (const auto& box : many.keptBoxes) {
        widths.push_back(box.width);
    }
    EXPECT_EQ(widths, (std::vector<double>{0.3, 0.3, 0.3, 0.2, 0.1, 0.05}));
}

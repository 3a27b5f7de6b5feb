#include "core/detection/FaceAnalyzer.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

using namespace tavrine;
using tavrine::testing::face;

namespace {

// An analyzer at 7 fps (one frame per 142 ms) over the rig's detector, on its virtual time (the filter
// stays stopped).
struct Harness : tavrine::testing::Rig {
    Harness() {
        analyzers.push_back(analyzer); // drained by settle()
        analyzer->onResult = [this](const DetectionInput& input) {
            inputs.push_back(input);
            stamps.push_back(input.timestampMs - startMs);
            log.push_back("result");
        };
        sampling = analyzer->calibrationSamples.subscribe([this](double width) {
            samples.push_back(width);
            log.push_back("sample");
        });
        analyzer->onAdmitted = [this] { ++admitted; };
    }
    // Sends one frame, tagged by its width (0: a frame without pixels), at startMs + offsetMs without
    // waiting for the worker.
    std::weak_ptr<const std::vector<std::uint8_t>> send(std::int64_t offsetMs, int tag = 640) {
        exec.setNowMs(startMs + offsetMs);
        const VideoFrame frame{tag, 480, tag * 4,
                               tag > 0 ? std::make_shared<const std::vector<std::uint8_t>>(1) : nullptr};
        analyzer->analyze(frame);
        return frame.pixels;
    }

    const std::int64_t startMs = exec.nowMs();
    std::shared_ptr<FaceAnalyzer> analyzer = FaceAnalyzer::create(7, detector, exec, exec);
    std::vector<DetectionInput> inputs;
    std::vector<std::int64_t> stamps; // of the results, from startMs
    std::vector<double> samples;
    Subscription sampling;
    std::vector<std::string> log;
    int admitted = 0; // frames reported admitted to the camera side
};

} // namespace

// One frame per 1000/fps ms (integer milliseconds) is admitted; suspended frames are ignored without using
// the slot, a frame without pixels uses it up, a wall clock set back does not stall analysis until it
// catches up, and a failed detection gives no result but keeps the slot. Results carry the frame's time.
TEST(FaceAnalyzer, AdmitsOneFramePerInterval) {
    Harness h;
    auto frame = [&h](std::int64_t atMs, int tag) {
        h.send(atMs, tag);
        h.analyzer->drainForTests();
    };
    frame(0, 1);
    frame(141, 2);
    frame(142, 3);
    h.analyzer->isSuspended = true;
    frame(290, 4);
    h.analyzer->isSuspended = false;
    frame(290, 5);
    frame(432, 0); // no pixels
    frame(500, 6);
    frame(574, 7);
    frame(-3'600'000, 8); // the wall clock set back an hour
    frame(-3'599'900, 9);
    frame(-3'599'858, 10);
    h.detector->faces = std::nullopt;
    frame(-3'599'716, 11);
    frame(-3'599'600, 12);
    h.settle();
    EXPECT_EQ(h.detector->seenWidths, (std::vector<int>{1, 3, 5, 7, 8, 10, 11}));
    EXPECT_EQ(h.admitted, 8) << "the frame without pixels counts";
    EXPECT_EQ(h.stamps, (std::vector<std::int64_t>{0, 142, 290, 574, -3'600'000, -3'599'858}));
}

// While the detector is held inside detect(), frames keep being admitted: the camera thread never waits,
// each new frame replaces (and releases) the one waiting, and once the detector is free it analyses the
// newest. Each result comes in admission order, followed by its calibration sample (the primary face's full
// width). Dropped by a result callback, as a stop does, with another result posted, a frame in detect() and
// one waiting behind it, the running delivery completes, nothing more comes and the waiting frame is never
// detected.
TEST(FaceAnalyzer, AnalysesTheRunningFrameThenOnlyTheNewestAndNothingOnceDropped) {
    Harness h;
    h.detector->faces = std::vector<FaceObservation>{face(0.1), face(0.123456789012345)};
    h.detector->setOpen(false);
    h.send(0, 1);
    h.detector->waitForCalls(1);
    std::vector<std::weak_ptr<const std::vector<std::uint8_t>>> waiting;
    for (int i = 2; i <= 12; ++i) {
        waiting.push_back(h.send((i - 1) * 200, i));
        EXPECT_TRUE(i == 2 || waiting[i - 3].expired()) << "replaced frame " << i - 1 << " is still held";
    }
    EXPECT_FALSE(waiting.back().expired()) << "the newest frame was dropped";
    h.detector->setOpen(true);
    h.settle();
    ASSERT_EQ(h.log, (std::vector<std::string>{"result", "sample", "result", "sample"}));
    EXPECT_EQ(h.samples.back(), 0.123456789012345);
    EXPECT_EQ(h.inputs[0].primaryFace->boundingBoxRatio, static_cast<float>(0.123456789012345));
    EXPECT_EQ(h.stamps[1], 11 * 200);

    h.analyzer->onResult = [&h](const DetectionInput&) {
        h.log.push_back("dropping");
        h.analyzer->onResult = nullptr;
        h.analyzer.reset();
    };
    for (int tag : {13, 14}) {
        h.send(tag * 200, tag);
        h.analyzer->drainForTests();
    }
    h.detector->setOpen(false);
    h.send(15 * 200, 15);
    h.detector->waitForCalls(5);
    h.send(16 * 200, 16);
    // The last owner goes on the main thread while the worker sits in detect(): the gate opens once it is.
    std::thread opener([&h, observer = std::weak_ptr<FaceAnalyzer>(h.analyzer)] {
        while (!observer.expired()) {
            std::this_thread::yield();
        }
        h.detector->setOpen(true);
    });
    h.exec.runPending();
    opener.join();
    h.exec.runPending();
    EXPECT_EQ(h.log,
              (std::vector<std::string>{"result", "sample", "result", "sample", "dropping", "sample"}));
    EXPECT_EQ(h.detector->seenWidths, (std::vector<int>{1, 12, 13, 14, 15}));
}

// The faces of one frame: those at least 0.04 (single precision) of the frame wide count, widest first,
// ties in the detector's order; the first is the primary face.
TEST(FaceAnalyzer, KeepsWideEnoughFacesWidestFirst) {
    const double limit = static_cast<double>(0.04f); // 0.03999999910593033
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        std::vector<double> widths;
        int primary; // index into widths, -1 for none
        std::vector<double> kept;
    } cases[] = {
        {"the single-precision limit counts", {limit}, 0, {limit}},
        {"just below it does not", {std::nextafter(limit, 0.0)}, -1, {}},
        {"NaN and negative widths do not count", {nan, -0.5, 0.3}, 2, {0.3}},
        {"widest first, ties in detector order",
         {0.1, 0.3, 0.3, 0.3, 0.05, 0.2},
         1,
         {0.3, 0.3, 0.3, 0.2, 0.1, 0.05}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FaceObservation> faces;
        for (std::size_t i = 0; i < c.widths.size(); ++i) {
            faces.push_back(face(c.widths[i], static_cast<double>(i + 1))); // the yaw tells them apart
        }
        const auto r = FaceAnalyzer::processResults(faces);
        EXPECT_EQ(r.faceCount, std::ssize(c.kept));
        std::vector<double> kept;
        for (const auto& box : r.keptBoxes) {
            kept.push_back(box.width);
        }
        EXPECT_EQ(kept, c.kept);
        ASSERT_EQ(r.primaryFace.has_value(), c.primary >= 0);
        if (c.primary >= 0) {
            EXPECT_EQ(r.primaryFace->boundingBoxRatio, static_cast<float>(c.widths[c.primary]));
            EXPECT_FLOAT_EQ(r.primaryFace->eulerY, static_cast<float>(c.primary + 1));
        }
    }
}

// What the camera sees nothing in: a covered lens or a dark room (mean brightness under 16); not a dim room,
// nor a plain wall, nor a frame whose buffer is shorter than its size (read nowhere past its end).
TEST(FaceAnalyzer, SeesNothingInDarkOrUniformFramesOnly) {
    const auto frame = [](int width, int height, auto bgr, std::size_t bytes = 0) {
        std::vector<std::uint8_t> pixels(bytes ? bytes : std::size_t(width) * height * 4, 0);
        for (int y = 0; y < height && bytes == 0; ++y) {
            for (int x = 0; x < width; ++x) {
                const auto [b, g, r] = bgr(x, y);
                std::uint8_t* p = &pixels[(std::size_t(y) * width + x) * 4];
                p[0] = std::uint8_t(b), p[1] = std::uint8_t(g), p[2] = std::uint8_t(r);
            }
        }
        return VideoFrame{width, height, width * 4,
                          std::make_shared<const std::vector<std::uint8_t>>(pixels)};
    };
    // A fixed pseudo-random texture: the same frame on every run.
    const auto noise = [](int x, int y) {
        return int((unsigned(x) * 2654435761U ^ unsigned(y) * 40503U) >> 13) % 256;
    };
    struct Case {
        const char* name;
        VideoFrame frame;
        bool nothing;
    };
    const auto flat = [&](int b, int g, int r) {
        return frame(640, 480, [=](int, int) { return std::tuple{b, g, r}; });
    };
    const auto dim = [&](int x, int y) {
        const int v = 10 + noise(x / 40, y / 40) % 41;
        return std::tuple{v, v, v};
    };
    const auto coveredLens = [&](int x, int y) {
        return std::tuple{noise(x, y) % 16, noise(x, y) % 19, noise(y, x) % 17};
    };
    const auto redOnly = [&](int x, int y) { return std::tuple{0, 0, 40 + noise(x, y) % 200}; };
    // A dim 16:9 picture fitted to 4:3 with black bars above and below; a flat grey frame whose rows are
    // twice as long as their pixels, the rest black.
    const auto letterboxed = [&](int x, int y) {
        const int v = (y < 60 || y >= 420) ? 0 : 15 + noise(x / 40, y / 40) % 7;
        return std::tuple{v, v, v};
    };
    const auto padded = [] {
        std::vector<std::uint8_t> pixels(std::size_t(640) * 8 * 480, 0);
        for (int y = 0; y < 480; ++y) {
            std::fill_n(pixels.begin() + std::ptrdiff_t(y) * 640 * 8, 640 * 4, std::uint8_t(20));
        }
        return VideoFrame{640, 480, 640 * 8, std::make_shared<const std::vector<std::uint8_t>>(pixels)};
    };
    const Case cases[] = {
        {"black", flat(0, 0, 0), true},
        {"a covered lens, sensor noise around 9", frame(640, 480, coveredLens), true},
        {"just under the limit", flat(15, 15, 15), true},
        {"at the limit", flat(16, 16, 16), false},
        {"a plain wall", flat(150, 143, 138), false},
        {"a dim room with shapes (mean about 30)", frame(640, 480, dim), false},
        {"a dim wide picture between black bars", frame(640, 480, letterboxed), false},
        {"grey rows with padding", padded(), false},
        {"red alone is bright enough", frame(640, 480, redOnly), false},
        {"a buffer shorter than its size", frame(640, 480, coveredLens, 640 * 479 * 4), false},
        {"smaller than the grid", frame(32, 24, coveredLens), false},
        {"no pixels", VideoFrame{640, 480, 640 * 4, nullptr}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FaceAnalyzer::seesNothing(c.frame), c.nothing) << c.name;
    }
}

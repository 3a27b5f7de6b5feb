#include "core/detection/CameraSession.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>
#include <vector>

using namespace tavrine;
using Access = FrameSource::Access;
using tavrine::testing::kFrame;

namespace {

// The rig's camera session and frame source; its filter stays stopped.
struct CameraSessionTest : ::testing::Test, tavrine::testing::Rig {
    std::vector<std::optional<CameraError>> outcomes; // one per completed start

    void start() {
        camera.startSession([this](std::optional<CameraError> error) { outcomes.push_back(error); });
    }
};

} // namespace

// A refusal needs no camera work: it is reported at once, and remembered, so the user is asked only once.
// Once allowed, a second start while running neither opens the device again nor fails; with the access
// withdrawn it fails, and the running camera goes on.
TEST_F(CameraSessionTest, AccessIsAskedOnceAndAStartWhileRunningOpensNothing) {
    source->access = Access::notDetermined;
    source->promptAnswer = false;
    start();
    EXPECT_EQ(outcomes, (std::vector<std::optional<CameraError>>{CameraError::permissionDenied}));
    start();
    settle();
    EXPECT_EQ(outcomes.back(), CameraError::permissionDenied);
    EXPECT_EQ(source->prompts, 1);
    EXPECT_FALSE(camera.isRunning.get());

    source->access = Access::authorized;
    outcomes.clear();
    start();
    settle();
    start();
    settle();
    source->access = Access::denied;
    start();
    EXPECT_EQ(outcomes, (std::vector<std::optional<CameraError>>{std::nullopt, std::nullopt,
                                                                 CameraError::permissionDenied}));
    EXPECT_EQ(source->starts, 1);
    EXPECT_TRUE(camera.isRunning.get());
}

// A stop overtakes a start still opening the camera: the flag never reads running after the stop was asked
// (a start asked then would be taken for a start while running), and a start after the stop runs. A
// restart that finds no camera leaves it off too, so that the next start opens the camera again.
TEST_F(CameraSessionTest, AStopOvertakingAStartOrAFailedRestartLeavesTheFlagOff) {
    std::vector<bool> flags;
    Subscription sub = camera.isRunning.subscribe([&flags](bool running) { flags.push_back(running); });
    start();
    camera.drainForTests(); // opened; the flag's task waits on the main thread
    camera.stopSession();
    settle();
    EXPECT_EQ(std::ranges::count(flags, true), 0);
    start();
    settle();
    EXPECT_TRUE(camera.isRunning.get());
    EXPECT_EQ(source->starts, 2);

    ++source->failingStarts;
    camera.restartSession([](auto) {});
    settle();
    EXPECT_FALSE(camera.isRunning.get());
    start();
    settle();
    EXPECT_TRUE(camera.isRunning.get());
    EXPECT_EQ(source->starts, 4);
}

// The source reports from its own threads; listeners hear of an interruption on the main thread only, and
// of its end at the next frame, not when the source believes itself back.
TEST_F(CameraSessionTest, AnInterruptionEndsWithTheNextFrameAndArrivesOnTheMainThread) {
    start();
    settle();
    std::vector<bool> events;
    const auto mainThread = std::this_thread::get_id();
    auto sub = camera.interruptions.subscribe([&](bool v) {
        events.push_back(v);
        EXPECT_EQ(std::this_thread::get_id(), mainThread) << "emitted on the source's thread";
    });
    source->pushFrame(kFrame);
    exec.runPending();
    events.clear(); // the end of the start's wait for frames
    std::thread([&] {
        source->interrupt(true);
        source->interrupt(false);
    }).join();
    exec.runPending();
    EXPECT_EQ(events, (std::vector<bool>{true}));
    EXPECT_TRUE(camera.awaitingFrames());
    std::thread([&] {
        source->pushFrame(kFrame);
        source->pushFrame(kFrame);
    }).join();
    exec.runPending();
    EXPECT_EQ(events, (std::vector<bool>{true, false})) << "one end, at the first frame";
}

TEST_F(CameraSessionTest, DestroyedSessionStopsTheSourceAndItsLateTasksDoNothing) {
    auto session = std::make_unique<CameraSession>(source, exec);
    session->startSession([this](std::optional<CameraError> error) { outcomes.push_back(error); });
    session->drainForTests(); // the flag and completion tasks are now pending on the main thread
    source->interrupt(true);
    session.reset();
    EXPECT_FALSE(source->running());
    EXPECT_FALSE(source->hasInterruptionHandler());
    exec.runAll(); // must not touch the destroyed session
    EXPECT_EQ(outcomes.size(), 1u) << "a start is always completed exactly once";
}

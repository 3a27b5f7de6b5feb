#include "core/detection/CalibrationSession.h"

#include "core/fakes/ServiceRig.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace tavrine;
using Phase = CalibrationSession::Phase;

namespace {

const double kNan = std::numeric_limits<double>::quiet_NaN();

// The session on the camera and settings of the layer's rig, whose filter stays stopped; the test plays the
// camera's analyzer, which runs no detection.
struct CalibrationSessionTest : ::testing::Test, tavrine::testing::Rig {
    std::shared_ptr<FaceAnalyzer> analyzer = FaceAnalyzer::create(10, nullptr, exec, exec);
    std::shared_ptr<CalibrationSession> session = CalibrationSession::create(exec, camera, settings);

    // The filter's run: the analyzer attached to a camera that delivers frames.
    CalibrationSessionTest() {
        camera.setAnalyzer(analyzer);
        camera.isRunning = true;
    }

    // Starts and runs the 3 s countdown; the session is then measuring.
    void startAndCountDown() {
        session->start();
        exec.advanceBy(3000);
        ASSERT_EQ(session->phase.get(), Phase::measuring());
    }
    // What the analyzer does for a frame with a primary face.
    void sample(double width) { analyzer->calibrationSamples.notify(width); }
    bool sampling() const { return analyzer->calibrationSamples.subscriberCount() > 0; }
};

} // namespace

// The widths sampled during the 3 s of measuring give the distance for the median width (the upper middle
// one of an even count), or a failure below three samples that are numbers. The result stays until the
// view acts; nothing is stored before it accepts, and accepting stores the distance and the flag only.
TEST_F(CalibrationSessionTest, MeasuresForThreeSecondsThenGivesTheResult) {
    const std::string noFace = "Aucun visage détecté. Assurez-vous d\u2019être bien en face de la caméra.";
    const struct {
        std::vector<double> widths;
        Phase result;
    } cases[] = {{{0.10, 0.12, 0.11}, Phase::done(89)},        // 12600 / 140.8 = 89.49
                 {{0.15, 0.20, 0.10, 0.12}, Phase::done(66)},  // 65.625
                 {{0.10, 0.11}, Phase::failed(noFace)},        // two are too few
                 {{0.10, kNan, 0.12}, Phase::failed(noFace)}}; // not a number is not counted
    FilterSettings before = tavrine::testing::everyFieldChanged();
    before.isCalibrated = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.widths));
        settings.save(before);
        session = CalibrationSession::create(exec, camera, settings);
        startAndCountDown();
        for (double w : c.widths) {
            sample(w);
        }
        exec.advanceBy(2999);
        EXPECT_EQ(session->phase.get(), Phase::measuring());
        exec.advanceBy(1);
        EXPECT_EQ(session->phase.get(), c.result);
        EXPECT_FALSE(sampling());
        exec.advanceBy(60'000);
        EXPECT_EQ(session->phase.get(), c.result);
        EXPECT_EQ(settings.settings.get(), before);
        if (c.result.kind == Phase::Kind::done) {
            FilterSettings expected = before;
            expected.calibrationDistanceCm = c.result.distanceCm + 5; // as adjusted in the view
            expected.isCalibrated = true;
            session->accept(expected.calibrationDistanceCm);
            EXPECT_EQ(settings.settings.get(), expected);
            EXPECT_EQ(store.readInt("calibration_distance_cm"), expected.calibrationDistanceCm);
            EXPECT_EQ(session->phase.get(), Phase::idle());
        }
    }
}

// Three seconds without a face: the failure says why nothing was measured when the analysis did not run
// (the filter off, paused, or its camera stopped or silent), and asks the user to face the camera only
// when it did.
TEST_F(CalibrationSessionTest, AFailureSaysWhyNothingWasMeasured) {
    bool suspendedByUser = false;
    const struct {
        const char* name;
        std::function<void()> setUp;
        const char* message;
    } cases[] = {
        {"analysing", [] {}, CalibrationSession::noFaceMessage},
        {"filter off", [&] { camera.setAnalyzer(nullptr); }, CalibrationSession::filterOffMessage},
        {"filter off for the user's pause", [&] { camera.setAnalyzer(nullptr), suspendedByUser = true; },
         CalibrationSession::suspendedMessage},
        {"the user's pause over, the filter running", [&] { suspendedByUser = true; },
         CalibrationSession::noFaceMessage},
        {"paused", [&] { analyzer->isSuspended = true; }, CalibrationSession::pausedMessage},
        {"camera stopped", [&] { camera.isRunning = false; }, CalibrationSession::noCameraMessage},
        {"camera silent since its restart", [&] { camera.restartSession([](auto) {}), settle(); },
         CalibrationSession::noCameraMessage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        camera.setAnalyzer(analyzer);
        analyzer->isSuspended = false;
        camera.isRunning = true;
        suspendedByUser = false;
        source->pushFrame(tavrine::testing::kFrame); // frames flow
        c.setUp();
        session = CalibrationSession::create(exec, camera, settings, [&] { return suspendedByUser; });
        startAndCountDown();
        sample(0.1); // one face is not enough
        exec.advanceBy(3000);
        EXPECT_EQ(session->phase.get(), Phase::failed(c.message));
        camera.stopSession();
        settle();
    }
}

// 12600 / (width * 1280), rounded half away from zero, within 30..200 also for widths no analyzer reports.
TEST(CalibrationDistance, RoundsHalvesAwayFromZeroAndClampsTo30Through200) {
    const std::pair<double, int> cases[] = {
        {0.0984375, 100}, {0.1575, 63},  {0.105, 94}, {0.1, 98},     {0.33, 30}, {1.0, 30},  {0.04, 200},
        {0.0493, 200},    {0.0494, 199}, {0.0, 200},  {1e-300, 200}, {-0.1, 30}, {kNan, 200}};
    for (const auto& [width, cm] : cases) {
        EXPECT_EQ(CalibrationSession::distanceForMedianWidth(width), cm) << width;
    }
}

// Two starts in one turn then a cancel leave no countdown running; a cancel while measuring unhooks the
// samples and never gives a result. A session released during its countdown never starts measuring, and
// one released while measuring ignores the samples still in flight.
TEST_F(CalibrationSessionTest, ACancelOrAReleaseLeavesNothingRunning) {
    std::vector<Phase> phases;
    Subscription sub = session->phase.subscribe([&](const Phase& p) { phases.push_back(p); });
    session->start();
    session->start(); // still idle: the first countdown has not run yet
    session->cancel();
    exec.advanceBy(10'000);
    EXPECT_EQ(phases, (std::vector<Phase>{Phase::idle(), Phase::idle()}));

    startAndCountDown();
    sample(0.10);
    sample(0.11);
    sample(0.12);
    exec.advanceBy(1500);
    session->cancel();
    EXPECT_FALSE(sampling());
    exec.advanceBy(10'000);
    EXPECT_EQ(session->phase.get(), Phase::idle());

    session->start(); // released during the countdown
    exec.runPending();
    session.reset();
    exec.advanceBy(10'000);
    EXPECT_FALSE(sampling()) << "a released countdown never starts measuring";

    session = CalibrationSession::create(exec, camera, settings);
    startAndCountDown();
    sample(0.1);
    session.reset(); // released while measuring, with samples in flight
    sample(0.1);     // a sample after the release reaches nothing
    EXPECT_FALSE(sampling());
    exec.runAll();
}

// Two calibrations at once (the onboarding's and the preferences', both open) on one camera: each hears
// every sample of its own three seconds, and one ending, by its result or a cancel, leaves the other
// measuring.
TEST_F(CalibrationSessionTest, TwoCalibrationsAtOnceEachMeasureTheirOwnThreeSeconds) {
    for (const bool cancelFirst : {false, true}) {
        SCOPED_TRACE(cancelFirst ? "the first cancelled" : "both to the end");
        auto first = CalibrationSession::create(exec, camera, settings);
        auto second = CalibrationSession::create(exec, camera, settings);
        first->start();
        exec.advanceBy(2600);
        second->start();
        // A sample every 200 ms: the first measures from 3 s to 6 s, the second from 5.6 s to 8.6 s.
        for (int t = 2600; t < 9000; t += 200) {
            if (cancelFirst && t == 5800) {
                first->cancel();
            }
            exec.advanceBy(200);
            sample(0.11);
        }
        EXPECT_EQ(first->phase.get(), cancelFirst ? Phase::idle() : Phase::done(89));
        EXPECT_EQ(second->phase.get(), Phase::done(89));
        EXPECT_FALSE(sampling());
    }
}

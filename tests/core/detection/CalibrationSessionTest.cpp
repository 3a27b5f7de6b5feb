#include "core/detection/CalibrationSession.h"
#include "core/util/VirtualExecutor.h"

#include "core/fakes/FakeFrameSource.h"
#include "core/fakes/RecordingKeyValueStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <sstream>
#include <vector>

using namespace tavrine;
using MemoryStore = tavrine::testing::RecordingKeyValueStore;
using Phase = CalibrationSession::Phase;

namespace {

// Reports one face of the width the test sets.
class OneFaceDetector final : public FaceDetector {
  public:
    explicit OneFaceDetector(double width) : width_(width) {}
    std::optional<std::vector<FaceObservation>> detect(const VideoFrame&) override {
        FaceObservation face;
        face.boundingBox = {0.3, 0.3, width_, width_};
        return std::vector<FaceObservation>{face};
    }

  private:
    double width_;
};

const std::string kNoFace = "Aucun visage détecté. Assurez-vous d'être bien en face de la caméra.";

class CalibrationSessionTest : public ::testing::Test {
  protected:
    VirtualExecutor ex{5'000'000};
    std::shared_ptr<tavrine::testing::FakeFrameSource> source =
        std::make_shared<tavrine::testing::FakeFrameSource>();
    CameraSession camera{source, ex};
    MemoryStore store;
    tavrine::testing::FakeLoginItem loginItem;
    std::ostringstream diagnostics;
    SettingsRepository settings{store, loginItem, diagnostics};
    std::shared_ptr<FaceAnalyzer> analyzer =
        FaceAnalyzer::create(10, std::make_shared<OneFaceDetector>(0.1), ex, ex);
    std::shared_ptr<CalibrationSession> session = CalibrationSession::create(ex, camera, settings);
    std::vector<Phase> phases;
    Subscription phaseSub = session->phase.subscribe([this](const Phase& p) { phases.push_back(p); });

    CalibrationSessionTest() { camera.setAnalyzer(analyzer); }

    // Starts and runs the 3 s countdown; the session is then measuring.
    void startAndCountDown() {
        session->start();
        ex.runPending();
        ex.advanceBy(3000);
        ASSERT_EQ(session->phase.get(), Phase::measuring());
    }

    // What the analyzer does for a frame with a primary face: call the sample callback on the main thread.
    void sample(double width) {
        ASSERT_TRUE(analyzer->onCalibrationSample) << "no sample callback installed";
        analyzer->onCalibrationSample(width);
    }
};

} // namespace

// The widths sampled during the 3 s of measuring, and the result: the distance for the median width (the
// upper middle one of an even count), or a failure below three samples that are numbers.
struct SampleCase {
    const char* name;
    std::vector<double> widths;
    Phase result;
};

class CalibrationSamples : public CalibrationSessionTest, public ::testing::WithParamInterface<SampleCase> {};

TEST_P(CalibrationSamples, GiveTheResultAfterThreeSecondsAndUnhookTheCallback) {
    startAndCountDown();
    for (double w : GetParam().widths) {
        sample(w);
    }
    ex.advanceBy(2999);
    EXPECT_EQ(session->phase.get(), Phase::measuring());
    ex.advanceBy(1);
    EXPECT_EQ(session->phase.get(), GetParam().result);
    EXPECT_FALSE(analyzer->onCalibrationSample);
    ex.advanceBy(60'000);
    EXPECT_EQ(session->phase.get(), GetParam().result) << "the result stays until the view acts";
    EXPECT_FALSE(settings.settings.get().isCalibrated) << "nothing is stored before accept";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CalibrationSamples,
    ::testing::Values(
        SampleCase{"MedianOfThree", {0.10, 0.12, 0.11}, Phase::done(89)},           // 12600 / 140.8 = 89.49
        SampleCase{"UpperMiddleOfFour", {0.15, 0.20, 0.10, 0.12}, Phase::done(66)}, // 65.625
        SampleCase{"TwoAreTooFew", {0.10, 0.11}, Phase::failed(kNoFace)},
        SampleCase{"NotANumberIsNotCounted",
                   {0.10, std::numeric_limits<double>::quiet_NaN(), 0.12},
                   Phase::failed(kNoFace)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CalibrationSessionTest, DistanceRoundsHalvesAwayFromZeroAndClampsTo30Through200) {
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(0.0984375), 100);
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(0.1575), 63); // exactly 62.5
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(0.105), 94);  // 93.75
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(0.1), 98);    // 98.4375
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(0.33), 30);   // 29.83
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(1.0), 30);    // 9.84
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(0.04), 200);  // 246.09
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(0.0493), 200);
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(0.0494), 199);
    // Widths no analyzer reports must still give a distance in range, not an undefined conversion.
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(0.0), 200);
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(1e-300), 200);
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(-0.1), 30);
    EXPECT_EQ(CalibrationSession::distanceForMedianWidth(std::numeric_limits<double>::quiet_NaN()), 200);
}

TEST_F(CalibrationSessionTest, CancelWhileMeasuringUnhooksTheCallbackAndNeverGivesAResult) {
    startAndCountDown();
    sample(0.10);
    sample(0.11);
    sample(0.12);
    ex.advanceBy(1500);
    session->cancel();
    EXPECT_EQ(session->phase.get(), Phase::idle());
    EXPECT_FALSE(analyzer->onCalibrationSample);
    ex.advanceBy(10'000);
    EXPECT_EQ(session->phase.get(), Phase::idle());
}

TEST_F(CalibrationSessionTest, TwoStartsInOneTurnThenCancelLeaveNoCountdownRunning) {
    session->start();
    session->start(); // still idle: the first countdown has not run yet
    session->cancel();
    ex.advanceBy(10'000);
    EXPECT_EQ(session->phase.get(), Phase::idle());
    EXPECT_EQ(phases, (std::vector<Phase>{Phase::idle(), Phase::idle()}));
}

TEST_F(CalibrationSessionTest, ReleasingTheSessionWithTasksPendingHasNoEffect) {
    // During the countdown.
    session->start();
    ex.runPending();
    phaseSub.cancel();
    session.reset();
    ex.advanceBy(10'000);
    EXPECT_FALSE(analyzer->onCalibrationSample) << "a released countdown never starts measuring";

    // While measuring, with samples in flight.
    session = CalibrationSession::create(ex, camera, settings);
    session->start();
    ex.runPending();
    ex.advanceBy(3000);
    ASSERT_EQ(session->phase.get(), Phase::measuring());
    sample(0.1);
    session.reset();
    sample(0.1); // the callback outlives the session and must do nothing
    EXPECT_EQ(ex.runAll(), 3);
    EXPECT_FALSE(settings.settings.get().isCalibrated);
}

TEST_F(CalibrationSessionTest, AcceptStoresTheDistanceAndCalibratedFlagOnly) {
    FilterSettings before = settings.settings.get();
    before.filterStrength = 5;
    before.captureFps = 7;
    settings.settings = before;
    startAndCountDown();
    for (double w : {0.10, 0.11, 0.12}) {
        sample(w);
    }
    ex.advanceBy(3000);
    ASSERT_EQ(session->phase.get(), Phase::done(89));

    std::vector<FilterSettings> saved;
    auto sub = settings.settings.subscribe([&](const FilterSettings& s) { saved.push_back(s); });
    session->accept(75);
    FilterSettings expected = before;
    expected.calibrationDistanceCm = 75;
    expected.isCalibrated = true;
    EXPECT_EQ(settings.settings.get(), expected);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved.back(), expected);
    EXPECT_EQ(session->phase.get(), Phase::idle());
}

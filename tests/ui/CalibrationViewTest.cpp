#include "UiFixture.h"

#include "ui/panels/CalibrationView.h"
#include "ui/shared/AnimatedEyeLogo.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;
using Phase = CalibrationSession::Phase;

namespace {

struct CalFixture : UiFixture {
    CalFixture() {
        view.resize(440, 440);
        view.show();
    }
    void setPhase(const Phase& p) { view.session().phase = p; }
    void click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
    int done = 0;
    CalibrationView view{ctx, [this] { ++done; }};
};

} // namespace

TEST(CalibrationView, TwoStepsUpFrom78AndValiderStores88) {
    CalFixture f;
    f.setPhase(Phase::done(78));
    f.click(f.view.plusButton());
    f.click(f.view.plusButton());
    EXPECT_EQ(f.view.distanceField()->text(), QStringLiteral("88"));
    f.click(f.view.primaryButton());
    EXPECT_EQ(f.settings.settings.get().calibrationDistanceCm, 88);
    EXPECT_TRUE(f.settings.settings.get().isCalibrated);
    EXPECT_EQ(f.store.readInt("calibration_distance_cm"), 88);
    EXPECT_EQ(f.done, 1);
    EXPECT_EQ(f.view.session().phase.get(), Phase::idle());
}

TEST(CalibrationView, TheAdjusterStaysWithin30And200) {
    CalFixture f;
    f.setPhase(Phase::done(32));
    f.click(f.view.minusButton());
    EXPECT_EQ(f.view.currentDistance(), 30);
    f.click(f.view.minusButton());
    EXPECT_EQ(f.view.currentDistance(), 30);
    f.setPhase(Phase::done(198));
    EXPECT_EQ(f.view.currentDistance(), 198) << "a new result starts from the measured value";
    f.click(f.view.plusButton());
    EXPECT_EQ(f.view.distanceField()->text(), QStringLiteral("200"));
    f.click(f.view.plusButton());
    EXPECT_EQ(f.view.currentDistance(), 200);
    f.click(f.view.minusButton());
    EXPECT_EQ(f.view.currentDistance(), 195);
}

TEST(CalibrationView, StartCountsDownCancelReturnsAndRestartCountsFromThree) {
    CalFixture f;
    f.click(f.view.primaryButton());
    f.turn();
    EXPECT_EQ(f.view.session().phase.get(), Phase::counting(3));
    EXPECT_TRUE(f.view.isMeasuring());
    EXPECT_EQ(f.view.logo()->mode(), AnimatedEyeLogo::Mode::calibrating);
    f.executor.advanceBy(1000);
    EXPECT_EQ(f.view.session().phase.get(), Phase::counting(2));
    f.click(f.view.primaryButton()); // Annuler
    EXPECT_EQ(f.view.session().phase.get(), Phase::idle());
    EXPECT_EQ(f.view.primaryButton()->text(), QStringLiteral("Démarrer"));
    EXPECT_EQ(f.view.logo()->mode(), AnimatedEyeLogo::Mode::idle);
    f.executor.advanceBy(10000);
    EXPECT_EQ(f.view.session().phase.get(), Phase::idle()) << "no measurement after a cancel";

    // With a camera that sees nothing, the measurement fails; "Réessayer" goes back to the start.
    f.click(f.view.primaryButton());
    f.executor.advanceBy(7000);
    EXPECT_EQ(f.view.session().phase.get().kind, Phase::Kind::failed);
    f.click(f.view.primaryButton());
    EXPECT_EQ(f.view.session().phase.get(), Phase::idle());

    // "Recommencer" from a result, then "Démarrer": a new countdown from 3.
    f.setPhase(Phase::done(70));
    f.click(f.view.secondaryButton());
    EXPECT_EQ(f.view.session().phase.get(), Phase::idle());
    f.click(f.view.primaryButton());
    f.turn();
    EXPECT_EQ(f.view.session().phase.get(), Phase::counting(3));
}

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

QStringList visibleTexts(QWidget& w) {
    QStringList texts;
    for (auto* l : w.findChildren<QLabel*>()) {
        if (l->isVisibleTo(&w)) {
            texts << l->text();
        }
    }
    return texts;
}

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

TEST(CalibrationView, EveryPhaseShowsItsContentAndButtons) {
    const struct {
        const char* name;
        Phase phase;
        QString text;
        QString primary;
        bool secondary;
    } cases[] = {
        {"idle", Phase::idle(),
         QStringLiteral(
             "Installez-vous à votre distance de travail habituelle, regardez droit vers la caméra "
             "et appuyez sur Démarrer."),
         QStringLiteral("Démarrer"), false},
        {"counting", Phase::counting(2), QStringLiteral("2"), QStringLiteral("Annuler"), false},
        {"measuring", Phase::measuring(), QStringLiteral("3 secondes"), QStringLiteral("Annuler"), false},
        {"done", Phase::done(78), QString::fromUtf8("Distance estimée\u00a0: <b>78\u00a0cm</b>"),
         QStringLiteral("Valider"), true},
        {"failed", Phase::failed(CalibrationSession::noFaceMessage),
         QString::fromUtf8(CalibrationSession::noFaceMessage), QStringLiteral("Réessayer"), false},
    };
    CalFixture f;
    f.executor.advanceBy(1500);
    for (const auto& c : cases) {
        f.setPhase(c.phase);
        EXPECT_TRUE(visibleTexts(f.view).contains(c.text)) << c.name;
        EXPECT_EQ(f.view.primaryButton()->text(), c.primary) << c.name;
        EXPECT_EQ(f.view.secondaryButton()->isVisible(), c.secondary) << c.name;
        grab(f.view, QStringLiteral("calibration-%1").arg(c.name));
    }
}

// The result can be adjusted by 5 cm steps within 30 to 200 cm; "Valider" stores it.
TEST(CalibrationView, TheAdjusterStaysWithin30And200AndValiderStoresIt) {
    CalFixture f;
    f.setPhase(Phase::done(32));
    f.click(f.view.minusButton());
    EXPECT_EQ(f.view.currentDistance(), 30);
    f.click(f.view.minusButton());
    EXPECT_EQ(f.view.currentDistance(), 30);
    f.setPhase(Phase::done(198));
    EXPECT_EQ(f.view.currentDistance(), 198) << "a new result starts from the measured value";
    f.click(f.view.plusButton());
    f.click(f.view.plusButton());
    EXPECT_EQ(f.view.distanceField()->text(), QString::fromUtf8("200\u00a0cm"));
    f.click(f.view.minusButton());
    f.click(f.view.minusButton());
    EXPECT_EQ(f.view.distanceField()->text(), QString::fromUtf8("190\u00a0cm"));
    f.click(f.view.primaryButton());
    EXPECT_EQ(f.store.readInt("calibration_distance_cm"), 190);
    EXPECT_TRUE(f.settings.settings.get().isCalibrated);
    EXPECT_EQ(f.done, 1);
    EXPECT_EQ(f.view.session().phase.get(), Phase::idle());
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

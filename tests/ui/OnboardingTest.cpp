#include "UiFixture.h"

#include "ui/panels/CalibrationView.h"
#include "ui/panels/OnboardingView.h"
#include "ui/shared/AppColors.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

namespace {

struct OnbFixture : UiFixture {
    OnbFixture() {
        view.resize(440, 420);
        view.show();
    }
    QPushButton* primary() { return view.pageWidget(view.page())->primaryButton(); }
    QPushButton* secondary() { return view.pageWidget(view.page())->secondaryButton(); }
    OnboardingView view{ctx};
};

} // namespace

TEST(OnboardingView, OverlayAndNotificationPagesMoveOn) {
    OnbFixture f;
    QTest::mouseClick(f.secondary(), Qt::LeftButton); // skip the camera
    EXPECT_EQ(f.view.page(), 1);
    EXPECT_EQ(f.primary()->text(), QStringLiteral("Compris"));
    EXPECT_EQ(f.secondary(), nullptr);
    QTest::mouseClick(f.primary(), Qt::LeftButton);
    EXPECT_EQ(f.view.page(), 2);
    // Nothing is claimed before the user agreed; agreeing moves on.
    EXPECT_EQ(f.primary()->text(), QStringLiteral("Autoriser"));
    QTest::mouseClick(f.primary(), Qt::LeftButton);
    EXPECT_EQ(f.view.page(), 3);
    EXPECT_EQ(f.view.pageWidget(2)->primaryButton()->text(), QStringLiteral("✓ Autorisé"));
}

TEST(OnboardingView, CalibrationDialogLeadsToTheLoginPageAndTheLabelShowsTheDistance) {
    OnbFixture f;
    f.view.setPage(3);
    EXPECT_EQ(f.primary()->text(), QStringLiteral("Calibrer maintenant"));
    QTest::mouseClick(f.primary(), Qt::LeftButton);
    CalibrationDialog* dialog = f.view.calibrationDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->closeButton()->text(), QStringLiteral("Passer"));
    // Inside the onboarding window and centred on it; no maximize or minimize button at its fixed size.
    const QRect owner = f.view.window()->geometry();
    EXPECT_TRUE(owner.contains(dialog->geometry())) << "dialog " << dialog->geometry().height() << " px high";
    EXPECT_LE((dialog->geometry().center() - owner.center()).manhattanLength(), 2)
        << dialog->geometry().x() << "," << dialog->geometry().y() << " in " << owner.x() << "," << owner.y();
    EXPECT_FALSE(dialog->windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint));
    // "Démarrer" is the prominent kind of the onboarding's own buttons: white on the same blue.
    const QImage shot = grab(*dialog, QStringLiteral("onboarding-calibration-dialog"));
    const QRect start = rectIn(dialog->view()->primaryButton(), dialog);
    EXPECT_GT(countNear(shot, start, AppColors::primaryButton(), 12), start.width() * start.height() / 2);
    const QImage page = grab(f.view);
    const QRect own = rectIn(f.primary(), &f.view);
    EXPECT_GT(countNear(page, own, AppColors::primaryButton(), 12), own.width() * own.height() / 2);
    f.lastSession->phase = CalibrationSession::Phase::done(62);
    QTest::mouseClick(dialog->view()->primaryButton(), Qt::LeftButton);
    EXPECT_EQ(f.view.page(), 4);
    f.view.setPage(3);
    EXPECT_EQ(f.primary()->text(), QStringLiteral("✓ Calibré (62 cm)"));
    // "Passer" also moves on.
    QTest::mouseClick(f.primary(), Qt::LeftButton);
    ASSERT_NE(f.view.calibrationDialog(), nullptr);
    QTest::mouseClick(f.view.calibrationDialog()->closeButton(), Qt::LeftButton);
    EXPECT_EQ(f.view.page(), 4);
}

TEST(OnboardingView, SkippingTheLastPageFinishesWithoutTheLoginItem) {
    OnbFixture f;
    QSignalSpy finished(&f.view, &OnboardingView::finished);
    f.view.setPage(4);
    EXPECT_EQ(f.primary()->text(), QStringLiteral("Activer"));
    QTest::mouseClick(f.secondary(), Qt::LeftButton);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(f.store.readBool("has_completed_onboarding"));
    EXPECT_TRUE(f.loginItem.requests.empty());
}

TEST(OnboardingView, EnablingTheLoginItemFinishesEvenWhenItFails) {
    OnbFixture f;
    QSignalSpy finished(&f.view, &OnboardingView::finished);
    f.view.setPage(4);
    f.loginItem.failWith = std::string("cannot write the autostart entry");
    QTest::mouseClick(f.primary(), Qt::LeftButton);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(f.view.loginEnabled());
    EXPECT_EQ(f.diagnostics.str(), "autostart error: cannot write the autostart entry\n");
    EXPECT_TRUE(f.store.readBool("has_completed_onboarding"));

    OnbFixture g;
    g.view.setPage(4);
    QTest::mouseClick(g.primary(), Qt::LeftButton);
    EXPECT_TRUE(g.loginItem.enabled);
    EXPECT_EQ(g.primary()->text(), QStringLiteral("✓ Activé"));
}

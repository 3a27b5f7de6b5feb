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

TEST(OnboardingView, CalibrationDialogLeadsToTheLoginPageAndTheLabelShowsTheDistance) {
    OnbFixture f;
    f.view.setPage(3);
    EXPECT_EQ(f.primary()->text(), QStringLiteral("Calibrer maintenant"));
    QTest::mouseClick(f.primary(), Qt::LeftButton);
    CalibrationDialog* dialog = f.view.calibrationDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->closeButton()->text(), QStringLiteral("Passer"));
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

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

// The notifications page claims nothing before the user agreed; the calibration page opens a dialog that
// fits inside the onboarding, centred on it, with the onboarding's prominent buttons; both lead on.
TEST(OnboardingView, NotificationAndCalibrationPages) {
    OnbFixture f;
    f.view.setPage(2);
    EXPECT_EQ(f.primary()->text(), QStringLiteral("Autoriser"));
    QTest::mouseClick(f.primary(), Qt::LeftButton);
    EXPECT_EQ(f.view.page(), 3);
    EXPECT_EQ(f.view.pageWidget(2)->primaryButton()->text(), QStringLiteral("✓ Autorisé"));

    EXPECT_EQ(f.primary()->text(), QStringLiteral("Calibrer maintenant"));
    QTest::mouseClick(f.primary(), Qt::LeftButton);
    CalibrationDialog* dialog = f.view.calibrationDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->closeButton()->text(), QStringLiteral("Passer"));
    const QRect owner = f.view.window()->geometry();
    EXPECT_TRUE(owner.contains(dialog->geometry())) << "dialog " << dialog->geometry().height() << " px high";
    EXPECT_LE((dialog->geometry().center() - owner.center()).manhattanLength(), 2);
    EXPECT_FALSE(dialog->windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint));
    // "Démarrer" is white on the same blue as the onboarding's own main button.
    for (auto [window, button] : {std::pair<QWidget*, QWidget*>{dialog, dialog->view()->primaryButton()},
                                  std::pair<QWidget*, QWidget*>{&f.view, f.primary()}}) {
        const QRect area = rectIn(button, window);
        EXPECT_GT(countNear(grab(*window), area, AppColors::primaryButton(), 12),
                  area.width() * area.height() / 2);
    }
    f.lastSession->phase = CalibrationSession::Phase::done(62);
    QTest::mouseClick(dialog->view()->primaryButton(), Qt::LeftButton);
    EXPECT_EQ(f.view.page(), 4);
    f.view.setPage(3);
    EXPECT_EQ(f.primary()->text(), QStringLiteral("✓ Calibré (62 cm)"));
    QTest::mouseClick(f.primary(), Qt::LeftButton);
    ASSERT_NE(f.view.calibrationDialog(), nullptr);
    QTest::mouseClick(f.view.calibrationDialog()->closeButton(), Qt::LeftButton);
    EXPECT_EQ(f.view.page(), 4) << "\"Passer\" leads on too";
}

// The last page finishes the onboarding whether its login item is skipped or fails to register.
TEST(OnboardingView, TheLastPageFinishesWhetherTheLoginItemIsSkippedOrFails) {
    for (const bool skip : {true, false}) {
        OnbFixture f;
        QSignalSpy finished(&f.view, &OnboardingView::finished);
        f.view.setPage(4);
        f.loginItem.failWith = std::string("cannot write the autostart entry");
        QTest::mouseClick(skip ? f.secondary() : f.primary(), Qt::LeftButton);
        EXPECT_EQ(finished.count(), 1) << skip;
        EXPECT_TRUE(f.store.readBool("has_completed_onboarding")) << skip;
        EXPECT_EQ(f.loginItem.requests.size(), skip ? 0u : 1u);
        EXPECT_FALSE(f.view.loginEnabled());
        EXPECT_EQ(f.diagnostics.str(), skip ? "" : "autostart error: cannot write the autostart entry\n");
    }
}

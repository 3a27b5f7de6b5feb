// The fixture first: it brings the core headers in before Qt's keywords.
#include "ui/UiFixture.h"

#include "app/AppDelegate.h"
#include "ui/panels/CalibrationView.h"
#include "ui/panels/OnboardingView.h"
#include "ui/shared/AppColors.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

// The first launch, ended three ways (the desktop scenario "onboarding" walks its pages by mouse and
// finishes with "Activer"; what it cannot see is checked here). The window stays above the others; the
// camera stays shut until the user allows it on the camera page, which starts the filter; after "Plus
// tard" it stays shut, also once the onboarding is done. The notifications page claims nothing before the
// user agreed; the calibration page
// opens a dialog that fits inside the onboarding, centred on it, with the onboarding's prominent buttons,
// and both its "Valider" and its "Passer" lead on. The window opens in the middle of the screen with its
// title bar on it, also on a screen smaller than it (app_delegate_scale_2). Closing the window by its button
// is no completion; the last page finishes whether its login item is skipped (by the keypad's Enter on
// "Plus tard") or fails to register. The end, however often it is announced, shuts the filter down for good.
TEST(AppDelegate, FirstLaunchOnboardingAndTheEnd) {
    enum class End { closed, skipped, failedToRegister };
    for (const End end : {End::closed, End::skipped, End::failedToRegister}) {
        SCOPED_TRACE(int(end));
        UiFixture f;
        f.loginItem.failWith = std::string("cannot write the autostart entry");
        AppDelegate app(f.ctx);
        app.applicationDidFinishLaunching();
        QWidget* window = app.onboardingWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_TRUE(openedInsideItsScreen(window));

        OnboardingView& view = *window->findChild<OnboardingView*>();
        const auto button = [&](bool primary) {
            auto* page = view.pageWidget(view.page());
            return primary ? page->primaryButton() : page->secondaryButton();
        };
        f.advance(2000);
        EXPECT_EQ(f.cameraStarts(), 0) << "no camera before the user allows it";
        EXPECT_TRUE(f.rig.shortcut.handler) << "the keys can start the filter meanwhile";
        const bool allowed = end != End::skipped;
        QTest::mouseClick(button(allowed), Qt::LeftButton);
        f.advance(500);
        EXPECT_EQ(view.page(), 1);
        EXPECT_EQ(f.filter.isActive().get(), allowed);
        EXPECT_EQ(f.cameraStarts(), allowed ? 1 : 0);
        view.setPage(2);
        EXPECT_EQ(button(true)->text(), QStringLiteral("Autoriser"));
        QTest::mouseClick(button(true), Qt::LeftButton);
        EXPECT_EQ(view.pageWidget(2)->primaryButton()->text(), QStringLiteral("✓ Autorisé"));

        EXPECT_EQ(button(true)->text(), QStringLiteral("Calibrer maintenant"));
        QTest::mouseClick(button(true), Qt::LeftButton);
        CalibrationDialog* dialog = view.calibrationDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->closeButton()->text(), QStringLiteral("Passer"));
        const QRect owner = window->geometry();
        EXPECT_TRUE(owner.contains(dialog->geometry()))
            << "dialog " << dialog->geometry().height() << " px high";
        // Centred on the onboarding, unless that would put part of it off the screen (at a scale of 2 the
        // onboarding is larger than the screen): then moved in, onto the screen.
        const QRect screen = window->screen()->availableGeometry();
        const QRect centred(owner.center() - dialog->rect().center(), dialog->size());
        if (screen.contains(centred)) {
            EXPECT_LE((dialog->geometry().center() - owner.center()).manhattanLength(), 2);
        } else {
            // Along each side: inside the screen, or, larger than it, from its near edge.
            const QRect frame = dialog->frameGeometry();
            const auto along = [](int start, int length, int areaStart, int areaLength) {
                return length > areaLength ? start == areaStart
                                           : start >= areaStart && start + length <= areaStart + areaLength;
            };
            EXPECT_TRUE(along(frame.x(), frame.width(), screen.x(), screen.width()) &&
                        along(frame.y(), frame.height(), screen.y(), screen.height()))
                << "moved onto the screen";
            EXPECT_NE(dialog->geometry(), centred);
        }
        EXPECT_FALSE(dialog->windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint));
        // "Démarrer" is white on the same blue as the onboarding's own main button.
        for (QPushButton* prominent : {dialog->view()->primaryButton(), button(true)}) {
            const QRgb face = readText(prominent->grab().toImage(), prominent->rect()).background;
            EXPECT_LE(colorDistance(QColor(face), AppColors::primaryButton()), 12);
        }
        f.lastSession->phase = CalibrationSession::Phase::done(62);
        QTest::mouseClick(dialog->view()->primaryButton(), Qt::LeftButton);
        EXPECT_EQ(view.page(), 4);
        view.setPage(3);
        EXPECT_EQ(button(true)->text(), QStringLiteral("✓ Calibré (62\u00a0cm)"));
        QTest::mouseClick(button(true), Qt::LeftButton);
        ASSERT_NE(view.calibrationDialog(), nullptr);
        QTest::mouseClick(view.calibrationDialog()->closeButton(), Qt::LeftButton);
        EXPECT_EQ(view.page(), 4) << "\"Passer\" leads on too";

        if (end == End::closed) {
            window->close();
        } else if (end == End::skipped) {
            // "Plus tard" with the keypad's Enter.
            QApplication::setActiveWindow(window);
            button(false)->setFocus(Qt::TabFocusReason);
            ASSERT_TRUE(button(false)->hasFocus());
            QTest::keyClick(button(false), Qt::Key_Enter, Qt::KeypadModifier);
        } else {
            QTest::mouseClick(button(true), Qt::LeftButton);
        }
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(f.store.readBool("has_completed_onboarding"), end != End::closed);
        EXPECT_EQ(f.loginItem.requests.size(), end == End::failedToRegister ? 1u : 0u);
        EXPECT_FALSE(view.loginEnabled());
        f.advance(2000);
        EXPECT_EQ(f.cameraStarts(), allowed ? 1 : 0) << "the end of the onboarding opens no camera";
        app.applicationWillTerminate();
        app.applicationWillTerminate();
        f.filter.start({});
        f.settle();
        EXPECT_FALSE(f.filter.isActive().get()) << "shut down, nothing starts the filter again";
        EXPECT_EQ(f.cameraStarts(), allowed ? 1 : 0);
    }
}

// Refused at the first launch (the account is not in the "video" group), the camera page says why and what
// to do, in full inside the window, and still offers the request and "Plus tard", which Enter takes and
// which leads on. Granted
// later (a camera the session may open), the note goes.
TEST(AppDelegate, ACameraRefusedAtFirstLaunchSaysWhatToDo) {
    UiFixture f;
    f.ctx.requestCameraAccess = [] { return false; };
    AppDelegate app(f.ctx);
    app.applicationDidFinishLaunching();
    QWidget* window = app.onboardingWindow();
    ASSERT_NE(window, nullptr);
    window->show();
    OnboardingView& view = *window->findChild<OnboardingView*>();
    OnboardingPageLayout& page = *view.pageWidget(0);
    EXPECT_FALSE(page.textLabel()->text().contains(QString::fromUtf8(OnboardingView::cameraRefusedNote)));
    QTest::mouseClick(page.primaryButton(), Qt::LeftButton);
    f.settle();
    QCoreApplication::processEvents();
    EXPECT_EQ(view.page(), 0);
    EXPECT_FALSE(view.cameraGranted());
    EXPECT_EQ(page.primaryButton()->text(), QStringLiteral("Autoriser"));
    QLabel* text = page.textLabel();
    EXPECT_TRUE(text->text().endsWith(QString::fromUtf8(OnboardingView::cameraRefusedNote)));
    EXPECT_GE(text->height(), text->heightForWidth(text->width())) << "the whole text shows";
    EXPECT_TRUE(window->rect().contains(rectIn(page.primaryButton(), window)));
    // "Plus tard" with Enter, as Space would.
    QApplication::setActiveWindow(window);
    page.secondaryButton()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(page.secondaryButton()->hasFocus());
    QTest::keyClick(page.secondaryButton(), Qt::Key_Return);
    EXPECT_EQ(view.page(), 1);

    view.setPage(0);
    f.ctx.requestCameraAccess = [] { return true; };
    QTest::mouseClick(page.primaryButton(), Qt::LeftButton);
    f.settle();
    EXPECT_EQ(view.page(), 1);
    EXPECT_FALSE(text->text().contains(QString::fromUtf8(OnboardingView::cameraRefusedNote)));
    EXPECT_EQ(page.primaryButton()->text(), QStringLiteral("✓ Autorisé"));
}

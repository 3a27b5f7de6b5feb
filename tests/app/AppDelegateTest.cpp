// The fixture first: it brings the core headers in before Qt's keywords.
#include "ui/UiFixture.h"

#include "app/AppDelegate.h"

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

TEST(AppDelegate, FirstLaunchShowsTheOnboardingAndStartsTheFilterAfterLaunch) {
    UiFixture f;
    AppDelegate app(f.ctx);
    app.applicationDidFinishLaunching();
    QWidget* onboarding = app.onboardingWindow();
    ASSERT_NE(onboarding, nullptr);
    EXPECT_TRUE(onboarding->isVisible());
    EXPECT_EQ(onboarding->windowTitle(), QStringLiteral("Bienvenue dans Tavrine"));
    EXPECT_EQ(onboarding->size(), QSize(440, 420));
    EXPECT_TRUE(onboarding->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_NE(app.trayController(), nullptr);
    EXPECT_EQ(f.filter.starts, 0) << "the start is posted, not run during launch";
    f.turn();
    EXPECT_EQ(f.filter.starts, 1);
    // Closing the window by its button leaves the flag unset.
    onboarding->close();
    EXPECT_FALSE(f.store.readBool("has_completed_onboarding"));
    app.applicationWillTerminate();
    app.applicationWillTerminate();
    EXPECT_EQ(f.filter.stops, 1);
}

TEST(AppDelegate, LaterLaunchesSkipTheOnboarding) {
    UiFixture f;
    f.store.setBool("has_completed_onboarding", true);
    AppDelegate app(f.ctx);
    app.applicationDidFinishLaunching();
    EXPECT_EQ(app.onboardingWindow(), nullptr);
    f.turn();
    EXPECT_EQ(f.filter.starts, 1);
}

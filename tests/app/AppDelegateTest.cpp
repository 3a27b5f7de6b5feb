// The fixture first: it brings the core headers in before Qt's keywords.
#include "ui/UiFixture.h"

#include "app/AppDelegate.h"

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

// The desktop scenario "onboarding" shows the first launch and the next one as the user sees them; what
// it cannot see: the window stays above the others, closing it by its button is no completion, and the
// filter is stopped once however often the end is announced.
TEST(AppDelegate, FirstLaunchOnboardingAndTheEnd) {
    UiFixture f;
    AppDelegate app(f.ctx);
    app.applicationDidFinishLaunching();
    QWidget* onboarding = app.onboardingWindow();
    ASSERT_NE(onboarding, nullptr);
    EXPECT_TRUE(onboarding->isVisible());
    EXPECT_TRUE(onboarding->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_NE(app.trayController(), nullptr);
    f.turn();
    EXPECT_EQ(f.filter.starts, 1);
    onboarding->close();
    EXPECT_FALSE(f.store.readBool("has_completed_onboarding"));
    app.applicationWillTerminate();
    app.applicationWillTerminate();
    EXPECT_EQ(f.filter.stops, 1);
}

#include "core/overlay/OverlayWindowManager.h"
#include "core/util/VirtualExecutor.h"
#include "platform/linux/overlay/QtOverlayWindow.h"
#include "platform/linux/overlay/QtWindowSystem.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

using namespace tavrine;

// A screen that changes its geometry moves the same window and content (the session test's virtual
// X server cannot resize a monitor in place).
TEST(QtOverlayWindow, FollowsANewFrameAndKeepsItsContent) {
    VirtualExecutor ex{0};
    QtWindowSystem ws(ex, QStringLiteral("Super+Maj+C"), ex);
    OverlayWindowManager manager(ws);
    QtOverlayWindow window(QGuiApplication::primaryScreen(), ScreenRect{0, 0, 300, 200}, manager, ex, ex,
                           QStringLiteral("x"));
    window.show();
    OverlayContentView* view = &window.view();
    EXPECT_EQ(view->geometry(), QRect(0, 0, 300, 200));
    window.setFrame(ScreenRect{10, 20, 640, 480});
    EXPECT_EQ(&window.view(), view);
    EXPECT_EQ(view->geometry(), QRect(10, 20, 640, 480));
    EXPECT_TRUE(view->isVisible());
    window.hide();
    EXPECT_FALSE(view->isVisible());
}

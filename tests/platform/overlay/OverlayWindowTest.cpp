#include "core/overlay/OverlayWindowManager.h"
#include "core/util/VirtualExecutor.h"
#include "platform/linux/overlay/QtOverlayWindow.h"
#include "platform/linux/overlay/QtWindowSystem.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

using namespace tavrine;

namespace {

QWidget* overlayWidget() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<OverlayContentView*>(w) && w->isVisible()) {
            return w;
        }
    }
    return nullptr;
}

} // namespace

TEST(QtWindowSystem, ReportsTheScreensWithStableIdsAndTheirGeometry) {
    VirtualExecutor ex{0};
    QtWindowSystem ws(ex, QStringLiteral("Super+Maj+C"), ex);
    const auto screens = ws.screens();
    ASSERT_EQ(screens.size(), static_cast<std::size_t>(QGuiApplication::screens().size()));
    const QRect g = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(screens.front().frame, (ScreenRect{g.x(), g.y(), g.width(), g.height()}));
    EXPECT_EQ(ws.screens().front().id, screens.front().id);
    EXPECT_EQ(ws.screenFor(screens.front().id), QGuiApplication::primaryScreen());
    EXPECT_EQ(ws.screenFor(9999), nullptr);
}

TEST(QtWindowSystem, ManagerPutsOneClickThroughTopWindowOnTheScreenAndTakesItAway) {
    VirtualExecutor ex{0};
    QtWindowSystem ws(ex, QStringLiteral("Super+Maj+C"), ex);
    OverlayWindowManager manager(ws);
    manager.show();
    ASSERT_EQ(manager.windowCount(), 1u);
    QWidget* w = overlayWidget();
    ASSERT_NE(w, nullptr);
    const Qt::WindowFlags flags = w->windowFlags();
    for (Qt::WindowType f : {Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint, Qt::WindowTransparentForInput,
                             Qt::WindowDoesNotAcceptFocus, Qt::X11BypassWindowManagerHint}) {
        EXPECT_TRUE(flags.testFlag(f)) << f;
    }
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(w->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(w->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(w->geometry(), QGuiApplication::primaryScreen()->geometry());
    EXPECT_FALSE(w->isActiveWindow());
    manager.hide();
    EXPECT_EQ(overlayWidget(), nullptr);
    EXPECT_EQ(manager.windowCount(), 0u);
}

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

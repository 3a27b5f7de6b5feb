// Runs inside the test session (Xvfb split into monitors LEFT and RIGHT, xcompmgr, a window manager that
// raises what it manages): drives the overlay manager on the real window system and checks what reaches
// the screen. (Xvfb cannot resize a RandR monitor in place, so a screen's geometry change is covered by
// the manager's and the window's unit tests; the click through, the alert's flash and the overlay gone at
// a stop are checked by the desktop scenarios.)
#include "core/overlay/OverlayWindowManager.h"
#include "platform/linux/executor/QtExecutor.h"
#include "platform/linux/overlay/OverlayContentView.h"
#include "platform/linux/overlay/QtWindowSystem.h"

#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace tavrine;

namespace {

struct Target : QWidget {
    Target(QColor colour, QRect geometry) : colour(colour) {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        setGeometry(geometry);
        show();
        (void)QTest::qWaitForWindowExposed(this);
    }
    QColor colour;
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour); }
};

std::vector<OverlayContentView*> overlays() {
    std::vector<OverlayContentView*> out;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* v = qobject_cast<OverlayContentView*>(w); v && v->isVisible()) {
            out.push_back(v);
        }
    }
    return out;
}

// Over `target`, once the compositor settled (it repaints on its own schedule): the darkest pixel is a
// stripe's, black at the window alpha x the stripe alpha over the target's colour, the lightest a gap's, the
// target's colour itself (within 3 levels: two 8-bit roundings in the window and one in the compositor's
// blend).
void expectStripes(const char* what, const Target& target) {
    const double keep = 1.0 - 0.8 * 0.42;
    const QColor& gap = target.colour;
    const QColor stripe(int(std::lround(gap.red() * keep)), int(std::lround(gap.green() * keep)),
                        int(std::lround(gap.blue() * keep)));
    const auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) <= 3 && std::abs(a.green() - b.green()) <= 3 &&
               std::abs(a.blue() - b.blue()) <= 3;
    };
    const auto sum = [](QColor c) { return c.red() + c.green() + c.blue(); };
    // The root window holds what the compositor made of every window; the grab is asked of the primary
    // screen, relative to it.
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect r = target.geometry().adjusted(10, 10, -10, -10).translated(-primary->geometry().topLeft());
    QColor darkest, lightest;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QImage shot = primary->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage();
            darkest = lightest = shot.pixelColor(0, 0);
            for (int i = 0; i < shot.width() * shot.height(); ++i) {
                const QColor c = shot.pixelColor(i % shot.width(), i / shot.width());
                darkest = sum(c) < sum(darkest) ? c : darkest;
                lightest = sum(c) > sum(lightest) ? c : lightest;
            }
            return near(darkest, stripe) && near(lightest, gap);
        },
        5000))
        << what << ": stripe " << darkest.name().toStdString() << " gap " << lightest.name().toStdString()
        << ", expected " << stripe.name().toStdString() << " and " << gap.name().toStdString();
}

} // namespace

TEST(OverlayOnTheDesktop, CoversEachMonitorBlendsAsComputedAndFollowsTheMonitors) {
    QtExecutor executor;
    QtWindowSystem windowSystem(executor, QStringLiteral("Super+Maj+C"));
    OverlayWindowManager manager(windowSystem);

    const auto screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2) << "two monitors seen as two screens";
    const QRect left = screens[0]->geometry();
    const QRect right = screens[1]->geometry();
    Target leftTarget(QColor(40, 200, 120), QRect(left.x() + 100, 100, 500, 400));
    Target rightTarget(QColor(200, 60, 30), QRect(right.x() + 200, 150, 500, 400));

    manager.setAlpha(0.8f);
    manager.updateMatrixConfig(true, 60, 0xFF000000, 0.42f);
    manager.show();
    (void)QTest::qWaitFor([] { return overlays().size() == 2; }, 3000);
    QPointer<OverlayContentView> leftOverlay, rightOverlay;
    for (OverlayContentView* v : overlays()) {
        (void)QTest::qWaitForWindowExposed(v);
        (v->geometry() == left ? leftOverlay : rightOverlay) = v;
    }
    EXPECT_TRUE(manager.windowCount() == 2 && overlays().size() == 2 && leftOverlay && rightOverlay &&
                rightOverlay->geometry() == right)
        << "one overlay window covering each monitor";
    expectStripes("stripes over the left window blend as computed", leftTarget);
    expectStripes("stripes over the right window blend as computed", rightTarget);
    {
        Target late(QColor(250, 250, 250), QRect(left.x() + 700, 450, 300, 250));
        expectStripes("a window shown later stays under the overlay", late);
    }

    QProcess::execute(QStringLiteral("xrandr"), {"--delmonitor", "RIGHT"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return manager.windowCount() == 1 && rightOverlay.isNull(); }, 5000) &&
                !leftOverlay.isNull() && overlays().size() == 1)
        << "removing a monitor removes exactly its overlay, the other window kept as it is";

    QProcess::execute(QStringLiteral("xrandr"), {"--setmonitor", "RIGHT", "1280/338x800/211+1280+0", "none"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return manager.windowCount() == 2 && overlays().size() == 2; }, 5000) &&
                !leftOverlay.isNull())
        << "adding the monitor back adds its overlay";
    expectStripes("the new overlay draws the current values at once", rightTarget);

    // A mirror of the left monitor (a projector cloned from the laptop's screen): one layer of stripes
    // there, not two.
    QProcess::execute(QStringLiteral("xrandr"), {"--setmonitor", "MIRROR", "1280/338x800/211+0+0", "none"});
    EXPECT_TRUE(QTest::qWaitFor([] { return QGuiApplication::screens().size() == 3; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(overlays().size(), 2) << "a mirrored monitor adds no second overlay";
    expectStripes("stripes over a mirrored monitor blend as computed", leftTarget);
    QProcess::execute(QStringLiteral("xrandr"), {"--delmonitor", "MIRROR"});
    EXPECT_TRUE(QTest::qWaitFor([] { return QGuiApplication::screens().size() == 2; }, 5000));

    // The main screen only: one window, on the primary monitor; the right monitor made primary, the overlay
    // moves there. Every monitor again at once.
    const auto coveredAlone = [](const QRect& screen) {
        return QTest::qWaitFor(
            [&] { return overlays().size() == 1 && overlays().front()->geometry() == screen; }, 5000);
    };
    manager.setCoversAllScreens(false);
    EXPECT_TRUE(coveredAlone(QGuiApplication::primaryScreen()->geometry()) && manager.windowCount() == 1)
        << "one overlay, on the primary monitor";
    QProcess::execute(QStringLiteral("xrandr"), {"--delmonitor", "RIGHT"});
    QProcess::execute(QStringLiteral("xrandr"),
                      {"--setmonitor", "*RIGHT", "1280/338x800/211+1280+0", "none"});
    EXPECT_TRUE(coveredAlone(right)) << "the overlay follows the primary monitor";
    expectStripes("stripes on the main monitor", rightTarget);
    manager.setCoversAllScreens(true);
    EXPECT_TRUE(QTest::qWaitFor([] { return overlays().size() == 2; }, 5000)) << "every monitor again";
    expectStripes("stripes back on the other monitor", leftTarget);
}

// Without a compositing manager an X server draws the overlay's transparent pixels black: the window system
// says so, tells its observers when the manager leaves, and says it no more once a compositor runs again.
TEST(OverlayOnTheDesktop, KnowsWhetherACompositorBlendsIt) {
    // This session's compositor only (other sessions may run beside it): the client that owns its window.
    const auto killCompositor = [] {
        QProcess::execute(
            QStringLiteral("bash"),
            {"-c", R"sh(xkill -id "$(xwininfo -root -children | awk '/"xcompmgr"/ { print $1; exit }')")sh"});
    };
    QtExecutor executor;
    QtWindowSystem windowSystem(executor, QStringLiteral("Super+Maj+C"));
    ASSERT_TRUE(windowSystem.showsTransparency()) << "the session's xcompmgr";
    int told = 0;
    Subscription watch = windowSystem.observeTransparencyChanges([&] { ++told; });
    killCompositor();
    EXPECT_TRUE(QTest::qWaitFor([&] { return told > 0; }, 5000)) << "the observers hear that it left";
    EXPECT_FALSE(windowSystem.showsTransparency());

    ASSERT_TRUE(QProcess::startDetached(QStringLiteral("xcompmgr"), {}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return windowSystem.showsTransparency(); }, 5000));
    // Watched again, the watch follows the new manager's window.
    told = 0;
    watch = windowSystem.observeTransparencyChanges([&] { ++told; });
    killCompositor();
    EXPECT_TRUE(QTest::qWaitFor([&] { return told > 0; }, 5000)) << "and hear it of the next manager too";
    EXPECT_FALSE(windowSystem.showsTransparency());
    ASSERT_TRUE(QProcess::startDetached(QStringLiteral("xcompmgr"), {}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return windowSystem.showsTransparency(); }, 5000));
}

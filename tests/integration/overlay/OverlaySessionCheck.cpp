// Runs inside the test session (Xvfb split into monitors LEFT and RIGHT, xcompmgr): drives the overlay
// manager on the real window system and checks what reaches the screen. (Xvfb cannot resize a RandR
// monitor in place, so a screen's geometry change is covered by the manager's and the window's unit tests.)
#include "core/overlay/OverlayWindowManager.h"
#include "core/overlay/StripeGeometry.h"
#include "platform/linux/executor/QtExecutor.h"
#include "platform/linux/overlay/OverlayContentView.h"
#include "platform/linux/overlay/QtWindowSystem.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

using namespace tavrine;

namespace {

int passed = 0;
int failed = 0;

void check(const char* what, bool ok, const QString& detail = {}) {
    if (ok) {
        ++passed;
        std::printf("ok   %s\n", what);
    } else {
        ++failed;
        std::printf("FAIL %s %s\n", what, qPrintable(detail));
    }
    std::fflush(stdout);
}

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A plain window of one colour that counts the clicks it receives.
class Target : public QWidget {
  public:
    Target(QColor colour, QRect geometry) : colour(colour) {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        setGeometry(geometry);
    }
    QColor colour;
    int clicks = 0;
    QPoint lastClick;

  protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour); }
    void mousePressEvent(QMouseEvent* e) override {
        ++clicks;
        lastClick = e->globalPosition().toPoint();
    }
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

QImage grabScreen() {
    // The root window holds what the compositor made of every window.
    // Coordinates are relative to the screen the grab is asked of; the whole desktop is wanted.
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect all = primary->virtualGeometry();
    const QRect origin = primary->geometry();
    return primary->grabWindow(0, all.x() - origin.x(), all.y() - origin.y(), all.width(), all.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

int channel(double colour, double alpha, int background) {
    return static_cast<int>(std::lround(colour * 255.0 * alpha + background * (1.0 - alpha)));
}

struct BlendResult {
    int stripes = 0, gaps = 0, bad = 0;
    QString firstBad;
};

// Checks the pixels over `target`: inside a stripe the black stripe colour at alpha x stripe alpha over
// the target's colour, in a gap the target's colour itself (within 3 levels: two 8-bit roundings in the
// window and one in the compositor's blend).
BlendResult checkBlend(const QImage& shot, const Target& target, const QRect& screen, double alpha) {
    BlendResult r;
    const double period = StripeGeometry::period(60);
    const QRect area = target.geometry().adjusted(10, 10, -10, -10);
    for (int y = area.top(); y <= area.bottom(); y += 7) {
        for (int x = area.left(); x <= area.right(); x += 5) {
            const double phase = StripeGeometry::phaseAt(x - screen.x() + 0.5, y - screen.y() + 0.5,
                                                         screen.width(), screen.height(), period);
            int expectR, expectG, expectB;
            if (phase > 0.75 && phase < period / 2 - 0.75) {
                expectR = channel(0, alpha, target.colour.red());
                expectG = channel(0, alpha, target.colour.green());
                expectB = channel(0, alpha, target.colour.blue());
                ++r.stripes;
            } else if (phase > period / 2 + 0.75 && phase < period - 0.75) {
                expectR = target.colour.red();
                expectG = target.colour.green();
                expectB = target.colour.blue();
                ++r.gaps;
            } else {
                continue;
            }
            if (!shot.rect().contains(x, y)) {
                ++r.bad;
                r.firstBad = QStringLiteral("the screenshot does not reach %1,%2").arg(x).arg(y);
                return r;
            }
            const QRgb px = shot.pixel(x, y);
            if (std::abs(qRed(px) - expectR) > 3 || std::abs(qGreen(px) - expectG) > 3 ||
                std::abs(qBlue(px) - expectB) > 3) {
                if (r.bad++ == 0) {
                    r.firstBad = QStringLiteral("at %1,%2: got %3,%4,%5 expected %6,%7,%8")
                                     .arg(x)
                                     .arg(y)
                                     .arg(qRed(px))
                                     .arg(qGreen(px))
                                     .arg(qBlue(px))
                                     .arg(expectR)
                                     .arg(expectG)
                                     .arg(expectB);
                }
            }
        }
    }
    return r;
}

QRect screenRect(int index) {
    const auto screens = QGuiApplication::screens();
    return index < screens.size() ? screens[index]->geometry() : QRect();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QtExecutor executor;
    QtWindowSystem windowSystem(executor, QStringLiteral("Super+Maj+C"));
    OverlayWindowManager manager(windowSystem);

    const auto screens = QGuiApplication::screens();
    check("two monitors seen as two screens", screens.size() == 2, QString::number(screens.size()));
    if (screens.size() != 2) {
        std::printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }
    const QRect left = screens[0]->geometry();
    const QRect right = screens[1]->geometry();

    Target leftTarget(QColor(40, 200, 120), QRect(left.x() + 100, 100, 500, 400));
    Target rightTarget(QColor(200, 60, 30), QRect(right.x() + 200, 150, 500, 400));
    leftTarget.show();
    rightTarget.show();
    (void)QTest::qWaitForWindowExposed(&leftTarget);
    (void)QTest::qWaitForWindowExposed(&rightTarget);

    manager.setAlpha(0.8f);
    manager.updateMatrixConfig(true, 60, 0xFF000000, 0.42f);
    manager.show();
    (void)QTest::qWaitFor([] { return overlays().size() == 2; }, 3000);
    for (OverlayContentView* v : overlays()) {
        (void)QTest::qWaitForWindowExposed(v);
    }

    auto current = overlays();
    bool covers = current.size() == 2;
    QString geometries;
    for (OverlayContentView* v : current) {
        geometries += QStringLiteral("%1,%2 %3x%4; ")
                          .arg(v->geometry().x())
                          .arg(v->geometry().y())
                          .arg(v->width())
                          .arg(v->height());
        covers = covers && (v->geometry() == left || v->geometry() == right);
    }
    check("one overlay window covering each monitor", covers && manager.windowCount() == 2, geometries);

    // The compositor repaints on its own schedule: wait until the blend settles.
    BlendResult leftBlend, rightBlend;
    (void)QTest::qWaitFor(
        [&] {
            const QImage shot = grabScreen();
            leftBlend = checkBlend(shot, leftTarget, left, 0.8 * 0.42);
            rightBlend = checkBlend(shot, rightTarget, right, 0.8 * 0.42);
            return leftBlend.bad == 0 && rightBlend.bad == 0;
        },
        5000);
    check("stripes over the left window blend as computed",
          leftBlend.bad == 0 && leftBlend.stripes > 500 && leftBlend.gaps > 500,
          QStringLiteral("%1 bad of %2 (%3)")
              .arg(leftBlend.bad)
              .arg(leftBlend.stripes + leftBlend.gaps)
              .arg(leftBlend.firstBad));
    check("stripes over the right window blend as computed",
          rightBlend.bad == 0 && rightBlend.stripes > 500 && rightBlend.gaps > 500,
          QStringLiteral("%1 bad of %2 (%3)")
              .arg(rightBlend.bad)
              .arg(rightBlend.stripes + rightBlend.gaps)
              .arg(rightBlend.firstBad));

    // A window that appears after the overlay still ends up under it.
    {
        Target late(QColor(250, 250, 250), QRect(left.x() + 700, 450, 300, 250));
        late.show();
        (void)QTest::qWaitForWindowExposed(&late);
        BlendResult lateBlend;
        (void)QTest::qWaitFor(
            [&] {
                lateBlend = checkBlend(grabScreen(), late, left, 0.8 * 0.42);
                return lateBlend.bad == 0;
            },
            3000);
        check("a window shown later stays under the overlay", lateBlend.bad == 0 && lateBlend.stripes > 100,
              lateBlend.firstBad);
    }

    // Clicks go through the overlay to the window below, on both monitors.
    const QPoint leftClick = leftTarget.geometry().center();
    run(QStringLiteral("xdotool"),
        {"mousemove", QString::number(leftClick.x()), QString::number(leftClick.y()), "click", "1"});
    (void)QTest::qWaitFor([&] { return leftTarget.clicks > 0; }, 3000);
    check("a click on a covered point reaches the window below (left)",
          leftTarget.clicks == 1 && leftTarget.lastClick == leftClick);
    const QPoint rightClick = rightTarget.geometry().center() + QPoint(13, 7);
    run(QStringLiteral("xdotool"),
        {"mousemove", QString::number(rightClick.x()), QString::number(rightClick.y()), "click", "1"});
    (void)QTest::qWaitFor([&] { return rightTarget.clicks > 0; }, 3000);
    check("a click on a covered point reaches the window below (right)",
          rightTarget.clicks == 1 && rightTarget.lastClick == rightClick);

    // The alert flash reaches the screen and goes away again.
    const QPoint probe = leftTarget.geometry().topLeft() + QPoint(20, 20);
    auto pixelAt = [](QPoint p) {
        QScreen* primary = QGuiApplication::primaryScreen();
        const QPoint rel = p - primary->geometry().topLeft();
        return primary->grabWindow(0, rel.x(), rel.y(), 1, 1).toImage().pixel(0, 0);
    };
    const int baseline = qRed(pixelAt(probe));
    manager.setAlertMode(true);
    int reddest = 0;
    // Sampled one pixel at a time so that a loaded machine still catches a peak of the 0.8 s cycle.
    (void)QTest::qWaitFor(
        [&] {
            reddest = std::max(reddest, qRed(pixelAt(probe)) - baseline);
            return reddest > 40;
        },
        4000);
    // Red at 0.3 over the stripes on this window adds about 60 levels of red at the peak.
    check("the alert flash tints the screen red", reddest > 40, QString::number(reddest));
    manager.setAlertMode(false);
    QTest::qWait(500);
    {
        const BlendResult after = checkBlend(grabScreen(), leftTarget, left, 0.8 * 0.42);
        check("after the alert the screen shows the stripes alone", after.bad == 0, after.firstBad);
    }

    // Removing a monitor removes exactly its overlay; the other window is kept as it is.
    QPointer<OverlayContentView> leftOverlay;
    QPointer<OverlayContentView> rightOverlay;
    for (OverlayContentView* v : overlays()) {
        (v->geometry() == left ? leftOverlay : rightOverlay) = v;
    }
    run(QStringLiteral("xrandr"), {"--delmonitor", "RIGHT"});
    (void)QTest::qWaitFor([&] { return manager.windowCount() == 1 && rightOverlay.isNull(); }, 5000);
    check("removing a monitor removes exactly its overlay",
          manager.windowCount() == 1 && rightOverlay.isNull() && !leftOverlay.isNull() &&
              overlays().size() == 1);

    run(QStringLiteral("xrandr"), {"--setmonitor", "RIGHT", "1280/338x800/211+1280+0", "none"});
    (void)QTest::qWaitFor([&] { return manager.windowCount() == 2 && overlays().size() == 2; }, 5000);
    bool rightBack = false;
    for (OverlayContentView* v : overlays()) {
        rightBack = rightBack || v->geometry() == QRect(1280, 0, 1280, 800);
    }
    check("adding the monitor back adds its overlay",
          manager.windowCount() == 2 && rightBack && !leftOverlay.isNull());
    for (OverlayContentView* v : overlays()) {
        (void)QTest::qWaitForWindowExposed(v);
    }
    (void)QTest::qWaitFor(
        [&] {
            rightBlend = checkBlend(grabScreen(), rightTarget, screenRect(1), 0.8 * 0.42);
            return rightBlend.bad == 0;
        },
        5000);
    check("the new overlay draws the current values at once", rightBlend.bad == 0 && rightBlend.stripes > 500,
          rightBlend.firstBad);

    manager.hide();
    (void)QTest::qWaitFor([] { return overlays().empty(); }, 3000);
    QTest::qWait(300);
    {
        const QImage shot = grabScreen();
        const QRgb px = shot.pixel(leftTarget.geometry().center());
        check("hide takes every overlay off the screen",
              overlays().empty() && qRed(px) == 40 && qGreen(px) == 200 && qBlue(px) == 120);
    }

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

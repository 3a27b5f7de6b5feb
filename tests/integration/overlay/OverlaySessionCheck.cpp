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
#include <vector>

using namespace tavrine;

namespace {

int passed = 0;
int failed = 0;

void check(const char* what, bool ok, const QString& detail = {}) {
    ++(ok ? passed : failed);
    std::printf("%s %s %s\n", ok ? "ok  " : "FAIL", what, ok ? "" : qPrintable(detail));
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
        show();
        (void)QTest::qWaitForWindowExposed(this);
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

// The root window holds what the compositor made of every window; the grab is asked of the primary
// screen, relative to it, for the whole desktop.
QImage grabScreen(QRect area = {}) {
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect r =
        (area.isNull() ? primary->virtualGeometry() : area).translated(-primary->geometry().topLeft());
    return primary->grabWindow(0, r.x(), r.y(), r.width(), r.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
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
    const auto over = [alpha](int background) { return int(std::lround(background * (1.0 - alpha))); };
    for (int y = area.top(); y <= area.bottom(); y += 7) {
        for (int x = area.left(); x <= area.right(); x += 5) {
            const double phase = StripeGeometry::phaseAt(x - screen.x() + 0.5, y - screen.y() + 0.5,
                                                         screen.width(), screen.height(), period);
            QColor expected = target.colour;
            if (phase > 0.75 && phase < period / 2 - 0.75) {
                expected = QColor(over(expected.red()), over(expected.green()), over(expected.blue()));
                ++r.stripes;
            } else if (phase > period / 2 + 0.75 && phase < period - 0.75) {
                ++r.gaps;
            } else {
                continue;
            }
            const QColor got = shot.rect().contains(x, y) ? shot.pixelColor(x, y) : QColor();
            if (std::abs(got.red() - expected.red()) > 3 || std::abs(got.green() - expected.green()) > 3 ||
                std::abs(got.blue() - expected.blue()) > 3) {
                if (r.bad++ == 0) {
                    r.firstBad = QStringLiteral("at %1,%2: got %3 expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(got.name(), expected.name());
                }
            }
        }
    }
    return r;
}

// The compositor repaints on its own schedule: the blend once it settled, or the last one seen.
BlendResult settledBlend(const Target& target, const QRect& screen, int timeoutMs = 5000) {
    BlendResult r;
    (void)QTest::qWaitFor(
        [&] {
            r = checkBlend(grabScreen(), target, screen, 0.8 * 0.42);
            return r.bad == 0;
        },
        timeoutMs);
    return r;
}

void checkStripes(const char* what, const BlendResult& r, int minimum) {
    check(what, r.bad == 0 && r.stripes > minimum && r.gaps > minimum,
          QStringLiteral("%1 bad of %2 (%3)").arg(r.bad).arg(r.stripes + r.gaps).arg(r.firstBad));
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

    manager.setAlpha(0.8f);
    manager.updateMatrixConfig(true, 60, 0xFF000000, 0.42f);
    manager.show();
    (void)QTest::qWaitFor([] { return overlays().size() == 2; }, 3000);
    QString geometries;
    bool covers = overlays().size() == 2 && manager.windowCount() == 2;
    for (OverlayContentView* v : overlays()) {
        (void)QTest::qWaitForWindowExposed(v);
        geometries +=
            QStringLiteral("%1,%2 %3x%4; ").arg(v->x()).arg(v->y()).arg(v->width()).arg(v->height());
        covers = covers && (v->geometry() == left || v->geometry() == right);
    }
    check("one overlay window covering each monitor", covers, geometries);
    checkStripes("stripes over the left window blend as computed", settledBlend(leftTarget, left), 500);
    checkStripes("stripes over the right window blend as computed", settledBlend(rightTarget, right), 500);
    {
        Target late(QColor(250, 250, 250), QRect(left.x() + 700, 450, 300, 250));
        checkStripes("a window shown later stays under the overlay", settledBlend(late, left, 3000), 100);
    }

    // Clicks go through the overlay to the window below, on both monitors.
    for (auto [target, offset] : {std::pair{&leftTarget, QPoint()}, std::pair{&rightTarget, QPoint(13, 7)}}) {
        const QPoint at = target->geometry().center() + offset;
        run(QStringLiteral("xdotool"),
            {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
        (void)QTest::qWaitFor([&] { return target->clicks > 0; }, 3000);
        check(target == &leftTarget ? "a click on a covered point reaches the window below (left)"
                                    : "a click on a covered point reaches the window below (right)",
              target->clicks == 1 && target->lastClick == at);
    }

    // The alert flash reaches the screen and goes away again; sampled one pixel at a time so that a
    // loaded machine still catches a peak of the 0.8 s cycle.
    const QRect probe(leftTarget.geometry().topLeft() + QPoint(20, 20), QSize(1, 1));
    const int baseline = qRed(grabScreen(probe).pixel(0, 0));
    manager.setAlertMode(true);
    int reddest = 0;
    (void)QTest::qWaitFor(
        [&] {
            reddest = std::max(reddest, qRed(grabScreen(probe).pixel(0, 0)) - baseline);
            return reddest > 40;
        },
        4000);
    // Red at 0.3 over the stripes on this window adds about 60 levels of red at the peak.
    check("the alert flash tints the screen red", reddest > 40, QString::number(reddest));
    manager.setAlertMode(false);
    QTest::qWait(500);
    const BlendResult after = checkBlend(grabScreen(), leftTarget, left, 0.8 * 0.42);
    check("after the alert the screen shows the stripes alone", after.bad == 0, after.firstBad);

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
        (void)QTest::qWaitForWindowExposed(v);
    }
    check("adding the monitor back adds its overlay",
          manager.windowCount() == 2 && rightBack && !leftOverlay.isNull());
    const QRect newRight =
        QGuiApplication::screens().size() > 1 ? QGuiApplication::screens()[1]->geometry() : QRect();
    checkStripes("the new overlay draws the current values at once", settledBlend(rightTarget, newRight),
                 500);

    manager.hide();
    (void)QTest::qWaitFor([] { return overlays().empty(); }, 3000);
    QTest::qWait(300);
    const QColor shown = grabScreen().pixelColor(leftTarget.geometry().center());
    check("hide takes every overlay off the screen", overlays().empty() && shown == leftTarget.colour,
          shown.name());

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

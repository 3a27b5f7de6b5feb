// Figures for the overlay: how long one stripe frame takes to render, and how much CPU a showing overlay
// uses with nothing changing and during an alert flash, on Qt's windows (X11, XWayland) or, with
// "cpu SECONDS layer-shell" in a Wayland session, on layer surfaces.
#include "core/overlay/OverlayWindowManager.h"
#include "core/util/VirtualExecutor.h"
#include "platform/linux/executor/QtExecutor.h"
#include "platform/linux/overlay/MatrixStripeLayer.h"
#include "platform/linux/overlay/OverlayContentView.h"
#include "platform/linux/overlay/QtWindowSystem.h"
#include "platform/linux/wayland/LayerShellWindowSystem.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

using namespace tavrine;

namespace {

struct Stats {
    double median, p95;
};

Stats measure(int runs, const std::function<void(int)>& body) {
    std::vector<double> ms;
    body(-1); // warm-up
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        body(i);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, static_cast<std::size_t>(ms.size() * 0.95))]};
}

void print(const char* what, QSize size, Stats s) {
    std::printf("%-44s %4dx%-4d median %7.2f ms   p95 %7.2f ms\n", what, size.width(), size.height(),
                s.median, s.p95);
}

struct NoScreens final : WindowSystem {
    std::vector<ScreenInfo> screens() const override { return {}; }
    std::unique_ptr<OverlayWindow> createOverlayWindow(const ScreenInfo&, OverlayWindowManager&) override {
        return nullptr;
    }
    Subscription observeScreenChanges(std::function<void()>) override { return {}; }
};

int renderFigures() {
    for (QSize size : {QSize(1920, 1080), QSize(3840, 2160)}) {
        const MatrixStripeLayer::Values base{80, 0xFF000000, 0.42f, 0.8};
        print("stripe layer, new size or distance", size, measure(30, [&](int i) {
                  MatrixStripeLayer::Values v = base;
                  v.distanceCm = 60 + (i & 1);
                  (void)MatrixStripeLayer::render(v, size, 1.0);
              }));
        MatrixStripeLayer layer;
        print("stripe layer, new alpha or colour", size, measure(30, [&](int i) {
                  MatrixStripeLayer::Values v = base;
                  v.overlayAlpha = (i & 1) ? 0.8 : 0.6;
                  (void)layer.image(v, size, 1.0);
              }));

        // A whole window frame during the flash: the kept stripe image, the red layer and the badge.
        VirtualExecutor ex;
        NoScreens ws;
        OverlayWindowManager manager(ws);
        manager.show();
        manager.setAlpha(0.8f);
        OverlayContentView view(manager, ex, ex, QStringLiteral("Super+Maj+C"));
        view.resize(size);
        manager.setAlertMode(true);
        ex.advanceBy(200);
        QImage target(size, QImage::Format_ARGB32_Premultiplied);
        print("window frame with the stripes kept (flash)", size, measure(30, [&](int) {
                  target.fill(Qt::transparent);
                  QPainter p(&target);
                  view.paintLayers(p);
              }));
        print("reference: rotated rectangles with QPainter", size, measure(5, [&](int) {
                  target.fill(Qt::transparent);
                  QPainter p(&target);
                  MatrixStripeLayer::drawStripes(p, base, QSizeF(size));
              }));
    }
    return 0;
}

double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Counts the frames Qt paints into the overlay's windows.
class PaintCounter final : public QObject {
  public:
    long paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && qobject_cast<OverlayContentView*>(watched)) {
            ++paints;
        }
        return false;
    }
};

int cpuFigures(int seconds, bool layerShell) {
    QtExecutor executor;
    std::unique_ptr<WindowSystem> windowSystem;
    LayerShellWindowSystem* surfaces = nullptr;
    if (layerShell) {
        auto ws = std::make_unique<LayerShellWindowSystem>(executor, QStringLiteral("Super+Maj+C"),
                                                           QtWindowSystem::systemClock());
        if (!ws->isConnected()) {
            std::fprintf(stderr, "no Wayland compositor with layer-shell at WAYLAND_DISPLAY\n");
            return 1;
        }
        surfaces = ws.get();
        windowSystem = std::move(ws);
    } else {
        windowSystem = std::make_unique<QtWindowSystem>(executor, QStringLiteral("Super+Maj+C"));
    }
    PaintCounter counter;
    qApp->installEventFilter(&counter);
    auto frames = [&] { return surfaces ? surfaces->framesPresented() : counter.paints; };
    OverlayWindowManager manager(*windowSystem);
    manager.setAlpha(0.8f);
    manager.show();
    QString screens;
    for (QScreen* s : QGuiApplication::screens()) {
        screens += QStringLiteral("%1x%2 ").arg(s->geometry().width()).arg(s->geometry().height());
    }
    if (surfaces) {
        screens.clear();
        for (const ScreenInfo& s : surfaces->screens()) {
            screens += QStringLiteral("%1x%2 ").arg(s.frame.width).arg(s.frame.height);
        }
    }
    std::printf("overlay on %s, screens %s\n",
                surfaces ? "layer-shell surfaces" : qPrintable(QGuiApplication::platformName()),
                qPrintable(screens));
    runFor(1500); // first paints settle

    auto window = [&](const char* what) {
        QElapsedTimer wall;
        wall.start();
        const double before = cpuMs();
        const long framesBefore = frames();
        runFor(seconds * 1000);
        const double used = cpuMs() - before;
        const long painted = frames() - framesBefore;
        std::printf("%-34s CPU %8.1f ms over %5.1f s = %5.2f %% of one core, %4ld frames", what, used,
                    wall.elapsed() / 1000.0, 100.0 * used / static_cast<double>(wall.elapsed()), painted);
        if (painted > 0) {
            std::printf(", %.2f ms CPU per frame", used / static_cast<double>(painted));
        }
        std::printf("\n");
    };
    window("showing, nothing changes");
    manager.setAlertMode(true);
    window("showing, alert flash running");
    manager.setAlertMode(false);
    runFor(500);
    window("showing, after the alert");
    manager.hide();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool cpu = argc > 1 && std::strcmp(argv[1], "cpu") == 0;
    if (!cpu && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (cpu) {
        return cpuFigures(argc > 2 ? std::atoi(argv[2]) : 10,
                          argc > 3 && std::strcmp(argv[3], "layer-shell") == 0);
    }
    return renderFigures();
}

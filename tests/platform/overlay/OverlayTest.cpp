#include "core/overlay/OverlayWindowManager.h"
#include "core/util/VirtualExecutor.h"
#include "platform/linux/overlay/MatrixStripeLayer.h"
#include "platform/linux/overlay/OverlayContentView.h"
#include "platform/linux/overlay/QtOverlayWindow.h"
#include "platform/linux/overlay/QtWindowSystem.h"

#include <QGuiApplication>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace tavrine;

namespace {

constexpr int kW = 400;
constexpr int kH = 300;

// Blends are checked to within 2 levels per channel: the layer stores 8-bit premultiplied values
// (one rounding) and the source-over blend divides by 255 again (a second one).
constexpr int kTolerance = 2;

struct Rendering : ::testing::Test {
    VirtualExecutor ex{0};
    QtWindowSystem ws{ex, QStringLiteral("Super+Maj+C"), ex};
    OverlayWindowManager manager{ws};
    std::unique_ptr<OverlayContentView> view;

    void SetUp() override {
        manager.show();
        manager.setAlpha(0.8f);
        makeView();
    }
    void makeView() {
        view = std::make_unique<OverlayContentView>(manager, ex, ex, QStringLiteral("Super+Maj+C"));
        view->resize(kW, kH);
    }
    // The window's content on its own transparent canvas, then laid over the background the way the
    // compositor does (source over).
    QImage renderOver(QColor background) {
        QImage window(kW, kH, QImage::Format_ARGB32_Premultiplied);
        window.fill(Qt::transparent);
        {
            QPainter p(&window);
            view->paintLayers(p);
        }
        QImage img(kW, kH, QImage::Format_ARGB32_Premultiplied);
        img.fill(background);
        QPainter p(&img);
        p.drawImage(0, 0, window);
        return img;
    }
};

} // namespace

// The stripes run at 45 degrees with a period that grows with the square root of the viewing distance
// (distances up to 30 cm all read as 30), in the settings' colour at the window alpha times the stripe
// alpha over what lies beneath. A colour stored without its alpha byte is opaque.
TEST_F(Rendering, StripesFollowTheDistanceAndTheColour) {
    const std::uint32_t black = 0xFF000000;
    manager.updateMatrixConfig(true, 30, black, 0.42f);
    const QImage atThirty = renderOver(Qt::white);
    const int faded = static_cast<int>(std::lround(255 * (1.0 - 0.8 * 0.42))); // black over white
    // Black stripes at these distances, then red ones stored without their alpha byte.
    const std::pair<std::int64_t, std::uint32_t> cases[] = {{0, black},  {20, black},  {31, black},
                                                            {60, black}, {300, black}, {60, 0x00FF0000}};
    for (const auto& [distance, argb] : cases) {
        SCOPED_TRACE(::testing::Message() << distance << " cm, colour " << std::hex << argb);
        manager.updateMatrixConfig(true, distance, argb, 0.42f);
        const QImage img = renderOver(Qt::white);
        EXPECT_EQ(img == atThirty, distance <= 30 && argb == black);
        const double period = 8.0 * std::sqrt(std::max<double>(distance, 30) / 60.0);
        const QRgb stripe = qRgb(argb == black ? faded : 255, faded, faded); // over white
        // Along row 150, a stripe starts where the green first drops below 212.
        std::vector<int> starts;
        for (int x = 1; x < kW; ++x) {
            if (qGreen(img.pixel(x, 150)) < 212 && qGreen(img.pixel(x - 1, 150)) >= 212) {
                starts.push_back(x);
            }
        }
        ASSERT_GE(starts.size(), 10u);
        EXPECT_NEAR(double(starts.back() - starts.front()) / double(starts.size() - 1),
                    period * std::sqrt(2.0), 0.1);
        // Along a row below the badge, the darkest pixel is a stripe's (the gaps are read off the screen by
        // the overlay's session check).
        QRgb darkest = qRgb(255, 255, 255);
        for (int x = 0; x < kW; ++x) {
            darkest = qGreen(img.pixel(x, 200)) < qGreen(darkest) ? img.pixel(x, 200) : darkest;
        }
        EXPECT_NEAR(qRed(darkest), qRed(stripe), kTolerance);
        EXPECT_NEAR(qGreen(darkest), qGreen(stripe), kTolerance);
        EXPECT_NEAR(qBlue(darkest), qBlue(stripe), kTolerance);
    }
}

// A window created during an alert (a monitor plugged in) flashes like the others, and stops with them.
TEST_F(Rendering, WindowCreatedDuringAnAlertFlashesWithTheOthers) {
    manager.setAlertMode(true);
    makeView();
    EXPECT_TRUE(view->isFlashLayerPresent());
    ex.advanceBy(400);
    EXPECT_DOUBLE_EQ(view->flashAlpha(), 0.3);
    manager.setAlertMode(false);
    ex.advanceBy(1000);
    EXPECT_DOUBLE_EQ(view->flashAlpha(), 0.0);
    EXPECT_FALSE(view->isFlashLayerPresent());
    manager.setAlertMode(true);
    ex.advanceBy(400);
    EXPECT_DOUBLE_EQ(view->flashAlpha(), 0.3);
}

// Both antialias the edges, with different filters: they agree inside stripes and gaps and differ by a
// fraction of the stripe alpha along the edges only. On a high-density screen the pattern keeps its size in
// points, drawn at the device's resolution.
TEST(StripeLayer, FastRenderingMatchesRectanglesFilledWithQPainter) {
    const MatrixStripeLayer::Values values{120, 0xFF102030, 0.6f, 0.7};
    const QSize size(360, 240);
    for (const double dpr : {1.0, 2.0}) {
        const QImage fast = MatrixStripeLayer::render(values, size, dpr);
        ASSERT_EQ(fast.size(), size * dpr);
        EXPECT_DOUBLE_EQ(fast.devicePixelRatio(), dpr);
        QImage reference(size * dpr, QImage::Format_ARGB32_Premultiplied);
        reference.setDevicePixelRatio(dpr);
        reference.fill(Qt::transparent);
        {
            QPainter p(&reference);
            MatrixStripeLayer::drawStripes(p, values, QSizeF(size));
        }
        double sum = 0;
        int worst = 0;
        for (int y = 0; y < fast.height(); ++y) {
            for (int x = 0; x < fast.width(); ++x) {
                const int d = std::abs(qAlpha(fast.pixel(x, y)) - qAlpha(reference.pixel(x, y)));
                sum += d;
                worst = std::max(worst, d);
            }
        }
        EXPECT_LT(sum / (fast.width() * fast.height()), 2.0) << "at " << dpr;
        EXPECT_LT(worst, 60) << "at " << dpr;
    }
}

// A new primary screen may come with no screen added or moved (X11 makes another output primary in place):
// the window system tells its observers, once, after the event, so that an overlay kept to the main screen
// follows it. (The session test's virtual X server cannot change the primary monitor in place.)
TEST_F(Rendering, ANewPrimaryScreenIsAnnounced) {
    int changes = 0;
    Subscription watch = ws.observeScreenChanges([&changes] { ++changes; });
    emit qGuiApp->primaryScreenChanged(QGuiApplication::primaryScreen());
    emit qGuiApp->primaryScreenChanged(QGuiApplication::primaryScreen());
    EXPECT_EQ(changes, 0) << "told after the event, not inside it";
    ex.runPending();
    EXPECT_EQ(changes, 1);
}

// A screen that changes its geometry moves the same window and content (the session test's virtual
// X server cannot resize a monitor in place).
TEST_F(Rendering, AWindowFollowsANewFrameAndKeepsItsContent) {
    QtOverlayWindow window(QGuiApplication::primaryScreen(), ScreenRect{0, 0, 300, 200}, manager, ex, ex,
                           QStringLiteral("x"));
    window.show();
    OverlayContentView* content = &window.view();
    EXPECT_EQ(content->geometry(), QRect(0, 0, 300, 200));
    window.setFrame(ScreenRect{10, 20, 640, 480});
    EXPECT_EQ(&window.view(), content);
    EXPECT_EQ(content->geometry(), QRect(10, 20, 640, 480));
    EXPECT_TRUE(content->isVisible());
    window.hide();
    EXPECT_FALSE(content->isVisible());
}

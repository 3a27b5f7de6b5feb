#include "core/overlay/OverlayWindowManager.h"
#include "core/util/VirtualExecutor.h"
#include "platform/linux/overlay/MatrixStripeLayer.h"
#include "platform/linux/overlay/OverlayContentView.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace tavrine;

namespace {

struct NoScreens final : WindowSystem {
    std::vector<ScreenInfo> screens() const override { return {}; }
    std::unique_ptr<OverlayWindow> createOverlayWindow(const ScreenInfo&, OverlayWindowManager&) override {
        return nullptr;
    }
    Subscription observeScreenChanges(std::function<void()>) override { return {}; }
};

constexpr int kW = 400;
constexpr int kH = 300;

// Blends are checked to within 2 levels per channel: the layer stores 8-bit premultiplied values
// (one rounding) and the source-over blend divides by 255 again (a second one).
constexpr int kTolerance = 2;

struct Rendering : ::testing::Test {
    VirtualExecutor ex{0};
    NoScreens ws;
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
    // The area of the badge, with a margin for antialiasing.
    bool inBadge(int x, int y) const {
        return view->badge().rowRect(QRect(0, 0, kW, kH)).adjusted(-2, -2, 2, 2).contains(x, y);
    }
};

// Where the centre of pixel (x, y) falls within its stripe period, straight from the drawing rule: the
// origin at the centre, axes turned by 45 degrees, stripes starting at minus the diagonal.
double phaseOfPixel(int x, int y, double period) {
    const double diagonal = std::hypot(double(kW), double(kH));
    const double u = ((x + 0.5 - kW / 2.0) + (y + 0.5 - kH / 2.0)) / std::sqrt(2.0);
    return std::fmod(u + diagonal, period);
}

int blend(double colour, double alpha, int background) {
    return static_cast<int>(std::lround(colour * 255.0 * alpha + background * (1.0 - alpha)));
}

void expectPixel(const QImage& img, int x, int y, int r, int g, int b) {
    const QRgb px = img.pixel(x, y);
    EXPECT_NEAR(qRed(px), r, kTolerance) << "at " << x << "," << y;
    EXPECT_NEAR(qGreen(px), g, kTolerance) << "at " << x << "," << y;
    EXPECT_NEAR(qBlue(px), b, kTolerance) << "at " << x << "," << y;
}

} // namespace

TEST_F(Rendering, StripePeriodAndPhaseFollowTheDistance) {
    for (std::int64_t distance : {0, 30, 60, 120, 300}) {
        SCOPED_TRACE(distance);
        manager.updateMatrixConfig(true, distance, 0xFF000000, 0.42f);
        const QImage img = renderOver(Qt::white);
        const double period = 8.0 * std::sqrt(std::max<double>(distance, 30) / 60.0);
        const int onStripe = blend(0.0, 0.8 * 0.42, 255);
        int stripes = 0, gaps = 0;
        for (int y = 40; y < kH; y += 7) {
            for (int x = 0; x < kW; x += 3) {
                const double phase = phaseOfPixel(x, y, period);
                if (phase > 0.75 && phase < period / 2 - 0.75) {
                    expectPixel(img, x, y, onStripe, onStripe, onStripe);
                    ++stripes;
                } else if (phase > period / 2 + 0.75 && phase < period - 0.75) {
                    expectPixel(img, x, y, 255, 255, 255);
                    ++gaps;
                }
            }
        }
        EXPECT_GT(stripes, 500);
        EXPECT_GT(gaps, 500);

        // Measured on the image: along a row the pattern repeats every period x sqrt(2) pixels.
        std::vector<int> starts;
        for (int x = 1; x < kW; ++x) {
            const bool dark = qRed(img.pixel(x, 150)) < 212;
            const bool wasDark = qRed(img.pixel(x - 1, 150)) < 212;
            if (dark && !wasDark) {
                starts.push_back(x);
            }
        }
        ASSERT_GE(starts.size(), 10u);
        const double measured = double(starts.back() - starts.front()) / double(starts.size() - 1);
        EXPECT_NEAR(measured, period * std::sqrt(2.0), 0.1);
    }
}

TEST_F(Rendering, DistancesAtOrBelowThirtyGiveTheSamePattern) {
    manager.updateMatrixConfig(true, 0, 0xFF000000, 0.42f);
    const QImage a = renderOver(Qt::white);
    manager.updateMatrixConfig(true, 20, 0xFF000000, 0.42f);
    const QImage b = renderOver(Qt::white);
    manager.updateMatrixConfig(true, 30, 0xFF000000, 0.42f);
    const QImage c = renderOver(Qt::white);
    manager.updateMatrixConfig(true, 31, 0xFF000000, 0.42f);
    const QImage d = renderOver(Qt::white);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    EXPECT_NE(a, d);
}

TEST_F(Rendering, ColourWithAZeroAlphaByteDrawsRedStripes) {
    manager.updateMatrixConfig(true, 60, 0x00FF0000, 0.42f);
    const QImage img = renderOver(Qt::white);
    const int faded = blend(0.0, 0.336, 255);
    int red = 0;
    for (int x = 0; x < kW; ++x) {
        const double phase = phaseOfPixel(x, 200, 8.0);
        if (phase > 0.75 && phase < 3.25) {
            expectPixel(img, x, 200, 255, faded, faded);
            ++red;
        }
    }
    EXPECT_GT(red, 80);
}

TEST_F(Rendering, WindowCreatedDuringAnAlertShowsTheRedLayerAtZeroAndDoesNotFlash) {
    manager.setAlertMode(true);
    makeView();
    EXPECT_TRUE(view->isFlashLayerPresent());
    EXPECT_FALSE(view->isFlashing());
    ex.advanceBy(400);
    EXPECT_DOUBLE_EQ(view->flashAlpha(), 0.0);
    manager.setAlertMode(false);
    manager.setAlertMode(true);
    EXPECT_TRUE(view->isFlashing());
    ex.advanceBy(400);
    EXPECT_DOUBLE_EQ(view->flashAlpha(), 0.3);
}

TEST_F(Rendering, DroppingAWindowDuringAFlashEndsItsLoop) {
    manager.setAlertMode(true);
    ex.advanceBy(100);
    ASSERT_GT(ex.pendingCount(), 0u);
    view.reset();
    ex.advanceBy(1000);
    EXPECT_EQ(ex.pendingCount(), 0u);
}

TEST(StripeLayer, FastRenderingMatchesRectanglesFilledWithQPainter) {
    const MatrixStripeLayer::Values values{120, 0xFF102030, 0.6f, 0.7};
    const QSize size(360, 240);
    const QImage fast = MatrixStripeLayer::render(values, size, 1.0);
    QImage reference(size, QImage::Format_ARGB32_Premultiplied);
    reference.fill(Qt::transparent);
    {
        QPainter p(&reference);
        MatrixStripeLayer::drawStripes(p, values, QSizeF(size));
    }
    double sum = 0;
    int worst = 0;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int d = std::abs(qAlpha(fast.pixel(x, y)) - qAlpha(reference.pixel(x, y)));
            sum += d;
            worst = std::max(worst, d);
        }
    }
    const double mean = sum / (size.width() * size.height());
    // Both antialias the edges, with different filters: they agree inside stripes and gaps and differ by a
    // fraction of the stripe alpha along the edges only.
    EXPECT_LT(mean, 2.0);
    EXPECT_LT(worst, 60);
}

TEST(StripeLayer, HighDensityScreensGetThePatternInPointsAtDeviceResolution) {
    const MatrixStripeLayer::Values values{60, 0xFF000000, 0.5f, 1.0};
    const QImage img = MatrixStripeLayer::render(values, QSize(200, 100), 2.0);
    EXPECT_EQ(img.size(), QSize(400, 200));
    EXPECT_DOUBLE_EQ(img.devicePixelRatio(), 2.0);
    std::vector<int> starts;
    for (int x = 1; x < 400; ++x) {
        if (qAlpha(img.pixel(x, 100)) > 64 && qAlpha(img.pixel(x - 1, 100)) <= 64) {
            starts.push_back(x);
        }
    }
    ASSERT_GE(starts.size(), 10u);
    EXPECT_NEAR(double(starts.back() - starts.front()) / double(starts.size() - 1), 16.0 * std::sqrt(2.0),
                0.1);
}

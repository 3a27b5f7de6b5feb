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

TEST_F(Rendering, StripeColourIsTheAlphaOfTheLayerTimesTheStripeAlphaOverTheBackground) {
    struct Case {
        float alpha;
        float stripeAlpha;
        std::uint64_t argb;
        QColor background;
    };
    const Case cases[] = {{0.8f, 0.42f, 0xFF000000, QColor(40, 200, 120)},
                          {0.5f, 1.0f, 0xFF3366CC, QColor(250, 250, 250)},
                          {0.2f, 0.42f, 0x80FFFFFF, QColor(0, 0, 0)},
                          {0.8f, 0.9f, 0x0000FF00, QColor(200, 30, 90)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argb);
        manager.setAlpha(c.alpha);
        manager.updateMatrixConfig(true, 60, c.argb, c.stripeAlpha);
        const QImage img = renderOver(c.background);
        const double a = double(c.alpha) * double(c.stripeAlpha);
        const double r = ((c.argb >> 16) & 0xFF) / 255.0, g = ((c.argb >> 8) & 0xFF) / 255.0,
                     b = (c.argb & 0xFF) / 255.0;
        int checked = 0;
        for (int y = 50; y < kH; y += 11) {
            for (int x = 0; x < kW; x += 5) {
                const double phase = phaseOfPixel(x, y, 8.0);
                if (phase > 0.75 && phase < 3.25) {
                    expectPixel(img, x, y, blend(r, a, c.background.red()), blend(g, a, c.background.green()),
                                blend(b, a, c.background.blue()));
                    ++checked;
                } else if (phase > 4.75 && phase < 7.25) {
                    expectPixel(img, x, y, c.background.red(), c.background.green(), c.background.blue());
                }
            }
        }
        EXPECT_GT(checked, 100);
    }
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

TEST_F(Rendering, NoStripesAtAlphaZeroWithTheMatrixOffOrWhileHiddenButTheBadgeStays) {
    auto onlyBadge = [&](const char* what) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(view->isStripeLayerPresent());
        const QImage img = renderOver(Qt::black);
        int badgePixels = 0;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                if (img.pixel(x, y) != qRgb(0, 0, 0)) {
                    ASSERT_TRUE(inBadge(x, y)) << "painted at " << x << "," << y;
                    ++badgePixels;
                }
            }
        }
        EXPECT_GT(badgePixels, 20);
    };
    manager.setAlpha(0.0f);
    onlyBadge("alpha 0");
    manager.setAlpha(0.8f);
    EXPECT_TRUE(view->isStripeLayerPresent());
    manager.updateMatrixConfig(false, 60, 0xFF000000, 0.42f);
    onlyBadge("matrix off");
    manager.updateMatrixConfig(true, 60, 0xFF000000, 0.42f);
    manager.hide();
    onlyBadge("hidden");
}

TEST_F(Rendering, BadgeSitsTopRightWhiteAtPointThreeWithEightPixelsOfPadding) {
    manager.setAlpha(0.0f);
    const QImage img = renderOver(Qt::black);
    QRect painted;
    int brightest = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const QRgb px = img.pixel(x, y);
            if (px != qRgb(0, 0, 0)) {
                painted |= QRect(x, y, 1, 1);
                brightest = std::max(brightest, qRed(px));
                EXPECT_EQ(qRed(px), qGreen(px)); // white: no tint
                EXPECT_EQ(qRed(px), qBlue(px));
            }
        }
    }
    const QRect row = view->badge().rowRect(QRect(0, 0, kW, kH));
    EXPECT_EQ(row.right(), kW - 1 - 8);
    EXPECT_EQ(row.top(), 8);
    EXPECT_GE(painted.left(), row.left() - 1);
    EXPECT_LE(painted.right(), kW - 1 - 8);
    EXPECT_GE(painted.right(), kW - 1 - 8 - 3);
    EXPECT_GE(painted.top(), 8);
    EXPECT_LT(painted.bottom(), 8 + row.height() + 1);
    // Full white at 0.3 opacity over black is 77; antialiased edges only get dimmer.
    EXPECT_NEAR(brightest, 77, 1);
}

TEST_F(Rendering, FlashRisesToPointThreeAndFallsBackOverVirtualTime) {
    manager.setAlpha(0.0f);
    auto redAt = [&] {
        const QImage img = renderOver(Qt::white);
        return std::pair<int, int>(qRed(img.pixel(100, 200)), qGreen(img.pixel(100, 200)));
    };
    EXPECT_FALSE(view->isFlashLayerPresent());
    manager.setAlertMode(true);
    EXPECT_TRUE(view->isFlashLayerPresent());
    EXPECT_EQ(redAt(), std::make_pair(255, 255));
    ex.advanceBy(200);
    const int midGreen = redAt().second;
    EXPECT_GT(midGreen, 200);
    EXPECT_LT(midGreen, 230);
    ex.advanceBy(200);
    EXPECT_EQ(redAt().first, 255);
    EXPECT_NEAR(redAt().second, blend(0.0, 0.3, 255), kTolerance);
    ex.advanceBy(400);
    EXPECT_EQ(redAt(), std::make_pair(255, 255));
    ex.advanceBy(400);
    EXPECT_NEAR(redAt().second, blend(0.0, 0.3, 255), kTolerance);

    // Off: fades out within 0.3 s, then the layer goes and nothing is scheduled any more.
    manager.setAlertMode(false);
    ex.advanceBy(150);
    EXPECT_TRUE(view->isFlashLayerPresent());
    EXPECT_LT(redAt().second, 255);
    ex.advanceBy(150);
    EXPECT_EQ(redAt(), std::make_pair(255, 255));
    EXPECT_FALSE(view->isFlashLayerPresent());
    // The cancelled loop's last sleep may still be queued (it runs nothing); after it, the queue is empty.
    ex.advanceBy(400);
    EXPECT_EQ(ex.pendingCount(), 0u);
    const int requests = view->updateRequests();
    ex.advanceBy(5000);
    EXPECT_EQ(view->updateRequests(), requests);
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

TEST_F(Rendering, RepaintsOnlyWhenAValueChanges) {
    ex.runAll();
    const int before = view->updateRequests();
    manager.setAlpha(0.8f); // same value
    manager.updateMatrixConfig(true, 80, 0xFF000000, 0.42f);
    manager.setAlertMode(false);
    EXPECT_EQ(view->updateRequests(), before);
    EXPECT_EQ(ex.pendingCount(), 0u);
    manager.setAlpha(0.5f);
    EXPECT_EQ(view->updateRequests(), before + 1);
    manager.updateMatrixConfig(true, 120, 0xFF000000, 0.42f);
    EXPECT_EQ(view->updateRequests(), before + 2); // distance; lastDistanceCm is not drawn
    EXPECT_EQ(ex.pendingCount(), 0u);
    ex.advanceBy(10'000);
    EXPECT_EQ(view->updateRequests(), before + 2);
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

TEST(StripeLayer, ReusesItsImageUntilAValueOrTheSizeChanges) {
    auto maxAlpha = [](const QImage& img) {
        int m = 0;
        for (int x = 0; x < img.width(); ++x) {
            m = std::max(m, qAlpha(img.pixel(x, img.height() / 2)));
        }
        return m;
    };
    MatrixStripeLayer layer;
    MatrixStripeLayer::Values v{80, 0xFF000000, 0.5f, 0.8};
    const qint64 key = layer.image(v, QSize(64, 64), 1.0).cacheKey();
    EXPECT_EQ(maxAlpha(layer.image(v, QSize(64, 64), 1.0)), 102); // 0.5 x 0.8
    EXPECT_EQ(layer.image(v, QSize(64, 64), 1.0).cacheKey(), key);
    v.overlayAlpha = 0.4;
    EXPECT_NE(layer.image(v, QSize(64, 64), 1.0).cacheKey(), key);
    EXPECT_EQ(maxAlpha(layer.image(v, QSize(64, 64), 1.0)), 51);
    EXPECT_EQ(layer.image(v, QSize(80, 64), 1.0).width(), 80);
    EXPECT_TRUE(layer.image(v, QSize(0, 0), 1.0).isNull());
}
